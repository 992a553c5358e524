#include <hexsign/xorhex4.hpp>
#include <platform/process.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using torvik::hexsign::RunSignTool;

class SignTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("hexsign_" + std::string(info->name()) + "_" + std::to_string(std::random_device{}()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = dir_ / "image.hex";
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Write(const std::string& text) const
    {
        std::ofstream out(file_, std::ios::binary);
        out << text;
    }
    std::string Read() const
    {
        std::ifstream in(file_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    int Run() const
    {
        std::string path = file_.string();
        std::string name = "QuenbyFlashUtility";
        char* argv[] = {name.data(), path.data(), nullptr};
        return RunSignTool(2, argv);
    }
    std::vector<std::string> DirectoryEntries() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

    fs::path dir_;
    fs::path file_;
};

// Expected outputs were worked out independently of this code.
struct SignCase {
    const char* name;
    const char* input;
    const char* output;
};

const SignCase kSignCases[] = {
    {"EndRecordOnlyGetsSignatureOfErasedFlash",  // 0xFF at 0..0x6FFFD signs as 0x3AAB
     ":00000001FF\r\n",
     ":020000040006F4\r\n:02FFFE00AB3A1C\r\n:00000001FF\r\n"},
    {"VectorTableWordAt28Completed",  // the eight words at 0..31 sum to 0
     ":10000000E07F0010C1000000D1000000D10000001E\r\n"
     ":10001000D1000000D1000000D1000000000000006D\r\n"
     ":00000001FF\r\n",
     ":10000000E07F0010C1000000D1000000D10000001E\r\n"
     ":10001000D1000000D1000000D10000004A7BFFEFBA\r\n"
     ":020000040006F4\r\n:02FFFE00F0E130\r\n:00000001FF\r\n"},
    {"StartRecordTakesTheSignatureBeforeIt",
     ":04000005000001C135\r\n:00000001FF\r\n",
     ":020000040006F4\r\n:02FFFE00AB3A1C\r\n:04000005000001C135\r\n:00000001FF\r\n"},
    {"RecordGoingBackwardsSignedWithoutGapFill",
     ":0401000001020304F1\r\n:020000001122CB\r\n:00000001FF\r\n",
     ":0401000001020304F1\r\n:020000001122CB\r\n:020000040006F4\r\n:02FFFE00870179\r\n:00000001FF\r\n"},
    {"DataReachingSignatureAddressCarriesIt",
     ":020000040006F4\r\n:10FFF000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF89\r\n:00000001FF\r\n",
     ":020000040006F4\r\n:02FFFE000523D9\r\n:10FFF000A0A1A2A3A4A5A6A7A8A9AAABACAD0523BE\r\n"
     ":02FFFE000523D9\r\n:00000001FF\r\n"},
    {"LfInputComesOutAsCrLf",
     ":00000001FF\n",
     ":020000040006F4\r\n:02FFFE00AB3A1C\r\n:00000001FF\r\n"},
    {"BaseAboveSignatureSegmentStillSignsAt6FFFE",  // only 0..0x1DFFD is filled: 0x8CAB
     ":020000040007F3\r\n:0400000001020304F2\r\n:00000001FF\r\n",
     ":020000040007F3\r\n:0400000001020304F2\r\n:020000040006F4\r\n:02FFFE00AB8CCA\r\n:00000001FF\r\n"},
    {"SegmentBaseRestoredAfterSignatureRecords",  // data at 0x6FFF0 + 0xE under a segment base
     ":020000026FFF8E\r\n:02000E00AABB8B\r\n:00000001FF\r\n",
     ":020000026FFF8E\r\n:020000040006F4\r\n:02FFFE00AB8CCA\r\n:020000026FFF8E\r\n:02000E00AB8CB9\r\n"
     ":020000040006F4\r\n:02FFFE00AB8CCA\r\n:00000001FF\r\n"},
};

class SignCases : public SignTool, public ::testing::WithParamInterface<SignCase> {};

TEST_P(SignCases, RewritesFileInPlace)
{
    Write(GetParam().input);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Read(), GetParam().output);
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"image.hex"});
}

INSTANTIATE_TEST_SUITE_P(Hex, SignCases, ::testing::ValuesIn(kSignCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(SignTool, MalformedInputLeavesFileAndSaysWhereOnStandardError)
{
    struct Case {
        std::string input;
        std::string error;  // after "QuenbyFlashUtility: <path>"
    };
    const Case kCases[] = {
        {":0000000000\r\n\r\n:00000001FF\r\n", ":2: empty line"},
        {":10000000\r\n:00000001FF\r\n", ":1: invalid record"},
        {":0400000000000000FF\r\n:00000001FF\r\n", ":1: checksum FF does not match the record (its bytes give FC)"},
        {":0200000000010203040506070809FD\r\n:00000001FF\r\n", ":1: invalid record"},
        {":00000001FF\r:0400000001020304F6\r", ":1: invalid record"},
        {":00000001FF\r\n:0400000001020304F2\r\n", ":2: a record after the end record"},
        {":03004000010203B7\n", ": no end record"},
        {"", ": no end record"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.input);
        Write(c.input);
        ::testing::internal::CaptureStderr();
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(Run(), 2);
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "QuenbyFlashUtility: " + file_.string() + c.error + "; the file is left as it was\n");
        EXPECT_EQ(Read(), c.input);
        EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"image.hex"});
    }
}

TEST_F(SignTool, SignsTheTargetOfALinkAndRefusesWhatIsNoRegularFile)
{
    Write(":00000001FF\r\n");
    const auto link = dir_ / "link.hex";
    fs::create_symlink("image.hex", link);
    std::string name = "QuenbyFlashUtility";
    for (std::string path : {link.string(), std::string("/dev/null"), dir_.string()}) {
        SCOPED_TRACE(path);
        char* argv[] = {name.data(), path.data(), nullptr};
        ::testing::internal::CaptureStderr();
        ::testing::internal::CaptureStdout();
        const int rc = RunSignTool(2, argv);
        ::testing::internal::GetCapturedStdout();
        const std::string error = ::testing::internal::GetCapturedStderr();
        if (path == link.string()) {
            EXPECT_EQ(rc, 0) << error;
            EXPECT_TRUE(fs::is_symlink(link));
            EXPECT_EQ(Read(), ":020000040006F4\r\n:02FFFE00AB3A1C\r\n:00000001FF\r\n");
        } else {
            EXPECT_EQ(rc, -1);
            EXPECT_NE(error.find(path == "/dev/null" ? "not a regular file" : "Is a directory"), std::string::npos)
                << error;
        }
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(SignTool, UsageAndOpenErrors)
{
    std::string name = "QuenbyFlashUtility";
    char* argv[] = {name.data(), nullptr};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunSignTool(1, argv), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Usage: QuenbyFlashUtility <file>\nProgram vlozi xor 2 byty na konec kodu.\n\n");
    std::string help = "--help";
    char* helpArgv[] = {name.data(), help.data(), nullptr};
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(RunSignTool(2, helpArgv), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Usage: QuenbyFlashUtility <file>\nProgram vlozi xor 2 byty na konec kodu.\n\n");

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Run(), -1);  // file does not exist
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error opening file!: No such file or directory\n");
    EXPECT_TRUE(DirectoryEntries().empty());
}

TEST_F(SignTool, KeepsPermissionsOfInput)
{
    Write(":00000001FF\r\n");
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::others_read);
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(fs::status(file_).permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                   fs::perms::group_read | fs::perms::others_read);
}

TEST_F(SignTool, ProgramExitStatuses)
{
    const auto program = (torvik::platform::ExecutableDirectory() / "QuenbyFlashUtility").string();
    const auto usage = torvik::platform::RunProgram({program});
    ASSERT_TRUE(usage.started) << usage.error.message();
    EXPECT_EQ(usage.exit_status, 255);  // exit(-1)

    Write(":00000001FF\r\n\r\n");
    EXPECT_EQ(torvik::platform::RunProgram({program, file_.string()}).exit_status, 2);
    Write(":00000001FF\r\n");
    EXPECT_EQ(torvik::platform::RunProgram({program, file_.string()}).exit_status, 0);
    EXPECT_EQ(Read(), ":020000040006F4\r\n:02FFFE00AB3A1C\r\n:00000001FF\r\n");
}

}  // namespace
