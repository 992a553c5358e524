#include <platform/files.hpp>

#include <cerrno>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_files.hpp"

namespace {

namespace fs = std::filesystem;
using namespace torvik::platform;
using namespace torvik::platform::test_support;

std::size_t EntryCount(const fs::path& dir)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(WriteFileSafely, ReplacesARegularFileKeepingItsModeAndLeavesNoTemporaryFile)
{
    TempDir dir;
    const auto path = dir.path() / "image.bin";
    WriteBytes(path, "old");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_FALSE(WriteFileSafely(path, "new content"));
    EXPECT_EQ(ReadBytes(path), "new content");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(EntryCount(dir.path()), 1U);

    // A name of the longest legal length still leaves room for the temporary file.
    const auto longName = dir.path() / std::string(255, 'n');
    ASSERT_FALSE(WriteFileSafely(longName, "x"));
    EXPECT_EQ(ReadBytes(longName), "x");
}

TEST(WriteFileSafely, FollowsSymbolicLinksToTheirTarget)
{
    TempDir dir;
    fs::create_directories(dir.path() / "real");
    WriteBytes(dir.path() / "real" / "target.bin", "old");
    fs::create_symlink("real/target.bin", dir.path() / "hop");
    fs::create_symlink(dir.path() / "hop", dir.path() / "link.bin");
    ASSERT_FALSE(WriteFileSafely(dir.path() / "link.bin", "new"));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.bin"));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "hop"));
    EXPECT_EQ(ReadBytes(dir.path() / "real" / "target.bin"), "new");

    fs::create_symlink("made.bin", dir.path() / "dangling");
    ASSERT_FALSE(WriteFileSafely(dir.path() / "dangling", "made"));
    EXPECT_EQ(ReadBytes(dir.path() / "made.bin"), "made");

    fs::create_symlink("loop", dir.path() / "loop");
    EXPECT_EQ(WriteFileSafely(dir.path() / "loop", "x"), std::error_code(ELOOP, std::generic_category()));
}

TEST(WriteFileSafely, RefusesWhatMustNotBeReplaced)
{
    TempDir dir;
    const auto input = dir.path() / "project.tsp";
    WriteBytes(input, "project");
    fs::create_symlink("project.tsp", dir.path() / "alias.tsp");
    fs::create_hard_link(input, dir.path() / "hard.tsp");
    const auto readOnly = dir.path() / "read-only.bin";
    WriteBytes(readOnly, "keep");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);

    WriteRules rules;
    rules.inputs = {input};
    struct Case {
        fs::path path;
        std::error_code want;
    };
    const Case kCases[] = {
        {input, make_error_code(WriteRefusal::is_input)},
        {dir.path() / "alias.tsp", make_error_code(WriteRefusal::is_input)},
        {dir.path() / "hard.tsp", make_error_code(WriteRefusal::is_input)},
        {readOnly, std::error_code(EACCES, std::generic_category())},
        {dir.path(), std::error_code(EISDIR, std::generic_category())},
        {"/dev/null", make_error_code(WriteRefusal::not_regular)},
        {"/dev/stdout", make_error_code(WriteRefusal::not_regular)},
        {"-", make_error_code(WriteRefusal::not_regular)},
        {dir.path() / "missing" / "file.bin", std::error_code(ENOENT, std::generic_category())},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.path.string());
        EXPECT_EQ(WriteFileSafely(c.path, "overwritten", rules), c.want);
    }
    EXPECT_EQ(ReadBytes(input), "project");
    EXPECT_EQ(ReadBytes(readOnly), "keep");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(EntryCount(dir.path()), 4U);
}

TEST(WriteFileSafely, WritesStraightIntoStreamsWhenAsked)
{
    WriteRules rules;
    rules.streams = true;
    EXPECT_FALSE(WriteFileSafely("/dev/null", "bytes", rules));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    // A device that takes nothing reports the system's reason and stays what it is.
    EXPECT_EQ(WriteFileSafely("/dev/full", "bytes", rules), std::error_code(ENOSPC, std::generic_category()));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    EXPECT_FALSE(WriteFileSafely("/dev/fd/" + std::to_string(pipeEnds[1]), "through", rules));
    ::close(pipeEnds[1]);
    char got[16] = {};
    EXPECT_EQ(::read(pipeEnds[0], got, sizeof got), 7);
    EXPECT_STREQ(got, "through");
    ::close(pipeEnds[0]);
}

TEST(WriteFileSafely, KeepsTheOwnerOfAnotherUsersFile)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can give a file to another user";
    }
    TempDir dir;
    const auto path = dir.path() / "theirs.bin";
    WriteBytes(path, "old");
    ASSERT_EQ(::chown(path.c_str(), 4321, 4321), 0);
    ASSERT_FALSE(WriteFileSafely(path, "new"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321U);
    EXPECT_EQ(st.st_gid, 4321U);
    EXPECT_EQ(ReadBytes(path), "new");
}

TEST(ReadWholeFile, ReadsFilesAndPipesWithinTheLimit)
{
    TempDir dir;
    const auto path = dir.path() / "data";
    WriteBytes(path, "0123456789");
    std::string bytes;
    ASSERT_FALSE(ReadWholeFile(path, bytes));
    EXPECT_EQ(bytes, "0123456789");
    EXPECT_EQ(ReadWholeFile(path, bytes, 9), std::error_code(EFBIG, std::generic_category()));

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ASSERT_EQ(::write(pipeEnds[1], "piped", 5), 5);
    ::close(pipeEnds[1]);
    ASSERT_FALSE(ReadWholeFile("/dev/fd/" + std::to_string(pipeEnds[0]), bytes));
    EXPECT_EQ(bytes, "piped");
    ::close(pipeEnds[0]);

    // A source without end stops at the limit.
    EXPECT_EQ(ReadWholeFile("/dev/zero", bytes, 200000), std::error_code(EFBIG, std::generic_category()));
    EXPECT_EQ(ReadWholeFile(dir.path(), bytes), std::error_code(EISDIR, std::generic_category()));
    EXPECT_EQ(ReadWholeFile(dir.path() / "missing", bytes), std::error_code(ENOENT, std::generic_category()));
}

}  // namespace
