// The program's temporary files.
#include <device/temporary_files.hpp>

#include <platform/files.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using torvik::studio::TemporaryFiles;

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    ASSERT_FALSE(torvik::platform::WriteFileSafely(path, bytes)) << path;
}

fs::path MakeTempDir(const std::string& name)
{
    std::string pattern = (fs::temp_directory_path() / (name + ".XXXXXX")).string();
    return ::mkdtemp(pattern.data());
}

/// Points $TMPDIR elsewhere for one test.
class TmpDirOverride {
public:
    explicit TmpDirOverride(const fs::path& dir)
    {
        if (const char* old = std::getenv("TMPDIR")) {
            old_ = old;
        }
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TmpDirOverride()
    {
        if (old_) {
            ::setenv("TMPDIR", old_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

private:
    std::optional<std::string> old_;
};

TEST(TemporaryFiles, MadePrivateInTheTemporaryDirectoryAndRemovedAtTheEnd)
{
    const auto dir = MakeTempDir("temporary_files_test");
    const TmpDirOverride tmp(dir);
    std::vector<fs::path> made;
    {
        TemporaryFiles files;
        std::error_code ec;
        for (int i = 0; i < 2; ++i) {
            made.push_back(files.Create("FlashFile-", ".fkq", ec));
            ASSERT_FALSE(ec) << ec.message();
        }
        EXPECT_NE(made[0], made[1]);
        for (const auto& path : made) {
            SCOPED_TRACE(path);
            EXPECT_EQ(path.parent_path(), dir);
            EXPECT_EQ(path.filename().string().rfind("FlashFile-", 0), 0U);
            EXPECT_EQ(path.extension(), ".fkq");
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_mode & 0777, 0600U);
            EXPECT_EQ(st.st_size, 0);
        }
        made.push_back(dir / "registered.hex");
        WriteBytes(made.back(), ":00000001FF\n");
        files.Register(made.back());
        fs::remove(made[0]);  // one already gone is no trouble
    }
    for (const auto& path : made) {
        EXPECT_FALSE(fs::exists(path)) << path;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

TEST(TemporaryFiles, CreateReportsWhyItFailed)
{
    const auto dir = MakeTempDir("temporary_files_test");
    TemporaryFiles files;
    std::error_code ec;
    {
        const TmpDirOverride tmp(dir / "missing");
        EXPECT_EQ(files.Create("UpdateFile-", ".xml", ec), fs::path());
        EXPECT_TRUE(ec);
    }
    {
        const TmpDirOverride tmp(dir);
        EXPECT_EQ(files.Create("missing/UpdateFile-", ".xml", ec), fs::path());
        EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    }
    fs::remove_all(dir, ec);
}

}  // namespace
