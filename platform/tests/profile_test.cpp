#include <platform/profile.hpp>

#include "test_files.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace torvik::platform;

using namespace torvik::platform::test_support;

// The behaviour every store shares, run against the file on disk (written, committed and read back)
// and the one in memory.
class ProfileContract : public testing::TestWithParam<bool> {
protected:
    // Writes through `fill`, then hands back a store to read: the same one in memory, or the file
    // reopened after a commit.
    template <typename Fill>
    std::unique_ptr<ProfileStore> Written(Fill fill)
    {
        if (!GetParam()) {
            auto memory = std::make_unique<MemoryProfile>();
            fill(*memory);
            EXPECT_FALSE(memory->Commit());
            return memory;
        }
        const fs::path path = dir_.path() / "store.ini";
        IniFile file(path);
        fill(file);
        EXPECT_FALSE(file.Commit());
        std::unique_ptr<IniFile> reopened;
        EXPECT_FALSE(IniFile::Open(path, reopened));
        return reopened;
    }

    TempDir dir_;
};

TEST_P(ProfileContract, NamesMatchWithoutRegardToCaseAndFirstMatchWins)
{
    const auto store = Written([](ProfileStore& s) {
        s.WriteString(L"Body", L"Absolute_Path", L"/a/Body.dbc");
        s.WriteString(L"BODY", L"absolute_path", L"/b/Body.dbc");  // replaces the first key
        s.WriteString(L"body", L"Relative_Path", L".\\Body.dbc");
        s.WriteString(L"Gr\u00fc\u00dfe", L"\u00c4nderung", L"1");
    });
    EXPECT_EQ(store->GetString(L"bOdY", L"ABSOLUTE_PATH"), L"/b/Body.dbc");
    EXPECT_EQ(store->GetString(L"Body", L"Relative_Path"), L".\\Body.dbc");
    EXPECT_EQ(store->GetString(L"GR\u00dc\u00dfE", L"\u00e4NDERUNG"), L"1");
    EXPECT_EQ(store->GetSection(L"body"), (std::vector<std::wstring>{L"Absolute_Path=/b/Body.dbc",
                                                                      L"Relative_Path=.\\Body.dbc"}));
    EXPECT_FALSE(store->GetString(L"Body", L"Missing"));
    EXPECT_FALSE(store->GetString(L"Missing", L"Absolute_Path"));
    EXPECT_TRUE(store->GetSection(L"Missing").empty());
}

TEST_P(ProfileContract, IntegersReadLikeTheProfileFunctions)
{
    const auto store = Written([](ProfileStore& s) {
        s.WriteString(L"CAN", L"Setup3", L"6");
        s.WriteString(L"CAN", L"Setup4", L"-1");
        s.WriteString(L"CAN", L"Trailing", L"12abc");
        s.WriteString(L"CAN", L"Text", L"abc");
    });
    EXPECT_EQ(store->GetInt(L"can", L"setup3", -1), 6);
    EXPECT_EQ(store->GetInt(L"CAN", L"Setup4", 7), -1);
    EXPECT_EQ(store->GetInt(L"CAN", L"Trailing", -1), 12);
    EXPECT_EQ(store->GetInt(L"CAN", L"Text", -1), 0);
    EXPECT_EQ(store->GetInt(L"CAN", L"Missing", -1), -1);
}

INSTANTIATE_TEST_SUITE_P(Stores, ProfileContract, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "File" : "Memory"; });

TEST(IniFile, ReadsAFileWrittenOnWindows)
{
    TempDir dir;
    const fs::path path = dir.path() / "windows.tsp";
    // CR LF lines, Windows-1252 text (0xE4 a-umlaut, 0x80 euro sign), blanks and quotes around values,
    // a comment line, a line without '=' and a repeated section.
    WriteBytes(path,
               "[CAN]\r\nSetup3 = 2 \r\n\r\n[Network]\r\nDbc_Names=K\xE4lte\r\n"
               "[K\xE4LTE]\r\n; note\r\nAbsolute_Path=\"C:\\Daten\\K\xE4lte.dbc\"\r\nno equals sign\r\n"
               "Unit=\x80\r\nUNIT=second\r\n[k\xE4lte]\r\nAbsolute_Path=ignored\r\n");
    std::unique_ptr<IniFile> file;
    ASSERT_FALSE(IniFile::Open(path, file));
    EXPECT_EQ(file->file_size(), fs::file_size(path));
    EXPECT_EQ(file->GetInt(L"CAN", L"Setup3", -1), 2);
    EXPECT_EQ(file->GetString(L"Network", L"Dbc_Names"), L"K\u00e4lte");
    EXPECT_EQ(file->GetString(L"K\u00e4lte", L"Absolute_Path"), L"C:\\Daten\\K\u00e4lte.dbc");
    EXPECT_EQ(file->GetString(L"K\u00e4lte", L"Unit"), L"\u20ac");
    EXPECT_EQ(file->GetSection(L"K\u00c4LTE"),
              (std::vector<std::wstring>{L"; note", L"Absolute_Path=\"C:\\Daten\\K\u00e4lte.dbc\"",
                                         L"no equals sign", L"Unit=\u20ac", L"UNIT=second"}));
}

TEST(IniFile, ReadsUtf16WithByteOrderMark)
{
    TempDir dir;
    const fs::path path = dir.path() / "unicode.ini";
    const std::string bytes("\xFF\xFE[\0A\0]\0\r\0\n\0k\0=\0\x3A\x04\r\0\n\0", 20);
    WriteBytes(path, bytes);
    std::unique_ptr<IniFile> file;
    ASSERT_FALSE(IniFile::Open(path, file));
    EXPECT_EQ(file->GetString(L"a", L"K"), L"\u043A");
}

TEST(IniFile, WritesCrLfWindows1252InWriteOrder)
{
    TempDir dir;
    const fs::path path = dir.path() / "out.tsp";
    IniFile file(path);
    file.WriteString(L"CAN", L"Setup3", L"6");
    file.WriteString(L"Network", L"Dbc_Names", L"K\u00e4lte");
    file.WriteString(L"CAN", L"Setup4", L"2");
    file.WriteString(L"K\u00e4lte", L"Unit", L"\u20ac");
    ASSERT_FALSE(file.Commit());
    EXPECT_EQ(ReadBytes(path), "[CAN]\r\nSetup3=6\r\nSetup4=2\r\n[Network]\r\nDbc_Names=K\xE4lte\r\n"
                               "[K\xE4lte]\r\nUnit=\x80\r\n");
}

TEST(IniFile, TextOutsideWindows1252IsWrittenAsUtf16NotLost)
{
    TempDir dir;
    const fs::path path = dir.path() / "out.tsp";
    IniFile file(path);
    file.WriteString(L"A", L"Path", L"/home/\u7528/x.dbc");
    ASSERT_FALSE(file.Commit());
    const std::string bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFE[\0", 4));
    std::unique_ptr<IniFile> reopened;
    ASSERT_FALSE(IniFile::Open(path, reopened));
    EXPECT_EQ(reopened->GetString(L"A", L"Path"), L"/home/\u7528/x.dbc");
}

TEST(IniFile, FailedCommitLeavesThePreviousFileAndNoTemporaryFile)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders";
    }
    TempDir dir;
    const fs::path path = dir.path() / "project.tsp";
    WriteBytes(path, "[CAN]\r\nSetup3=2\r\n");
    IniFile file(path);
    file.WriteString(L"CAN", L"Setup3", L"6");
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_TRUE(file.Commit());
    fs::permissions(dir.path(), fs::perms::owner_all);
    EXPECT_EQ(ReadBytes(path), "[CAN]\r\nSetup3=2\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(IniFile, RenameFailureRemovesTheTemporaryFile)
{
    TempDir dir;
    const fs::path target = dir.path() / "busy";
    fs::create_directories(target / "child");  // a non-empty folder cannot be replaced by a file
    IniFile file(target);
    file.WriteString(L"A", L"k", L"v");
    EXPECT_TRUE(file.Commit());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(IniFile, OpenReportsAMissingFile)
{
    std::unique_ptr<IniFile> file;
    EXPECT_TRUE(IniFile::Open("/nonexistent/folder/x.tsp", file));
    EXPECT_EQ(file, nullptr);
}

TEST(StoredPath, AcceptsBothSeparatorsAndFormsRelativePathsWithBackslashes)
{
    EXPECT_EQ(FromStoredPath(L"..\\dbc\\Body.dbc"), fs::path("../dbc/Body.dbc"));
    EXPECT_EQ(FromStoredPath(L"/home/u/Body.dbc"), fs::path("/home/u/Body.dbc"));

    struct Case {
        const char* folder;
        const char* file;
        const wchar_t* want;
    };
    const Case cases[] = {
        {"/p/proj", "/p/proj/Body.dbc", L".\\Body.dbc"},
        {"/p/proj", "/p/proj/dbc/Body.dbc", L".\\dbc\\Body.dbc"},
        {"/p/proj", "/p/dbc/Body.dbc", L"..\\dbc\\Body.dbc"},
        {"/p/proj/", "/q/Body.dbc", L"..\\..\\q\\Body.dbc"},
        {"proj", "/p/Body.dbc", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(RelativeStoredPath(c.folder, c.file), c.want);
    }
}

}  // namespace
