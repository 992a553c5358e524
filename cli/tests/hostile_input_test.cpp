// What the command line does with outputs that must not be replaced and inputs that are no files of
// their kind: a clear line on standard error, status 1, and nothing destroyed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include "run_torvik.hpp"

namespace torvik::cli::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// A copy of the example project and its database in a folder of the test's own.
class HostileInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "torvik_hostile.XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        fs::copy_file(SourceDir() / "examples" / "simulation.tsp", dir_ / "simulation.tsp");
        fs::copy_file(SourceDir() / "examples" / "simulation.dbc", dir_ / "simulation.dbc");
        project_ = (dir_ / "simulation.tsp").string();
        projectBytes_ = ReadBytes(project_);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    RunResult Build(const std::string& output) const { return RunTorvik({"userblock", "build", project_, "-o", output}); }

    // One line on standard error that holds every part of `want`, and status 1.
    static void ExpectFailure(const RunResult& run, const std::vector<std::string>& want)
    {
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_EQ(run.err.rfind("torvik: ", 0), 0u) << run.err;
        for (const auto& part : want) {
            EXPECT_NE(run.err.find(part), std::string::npos) << "wanted '" << part << "' in " << run.err;
        }
    }

    fs::path dir_;
    std::string project_;
    std::string projectBytes_;
};

TEST_F(HostileInput, ImageNeverReplacesAnInputADeviceOrAReadOnlyFile)
{
    const auto readOnly = dir_ / "read-only.bin";
    WriteBytes(readOnly, "keep");
    ::chmod(readOnly.c_str(), 0444);
    fs::create_symlink("simulation.tsp", dir_ / "alias.tsp");
    struct Case {
        std::string output;
        std::string reason;
    };
    const Case kCases[] = {
        {project_, "it is an input of this command"},
        {(dir_ / "alias.tsp").string(), "it is an input of this command"},
        {(dir_ / "simulation.dbc").string(), "it is an input of this command"},
        {readOnly.string(), "Permission denied"},
        {"/dev/full", "No space left on device"},
        {dir_.string(), "Is a directory"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.output);
        ExpectFailure(Build(c.output), {"cannot write '" + c.output + "'", c.reason});
    }
    EXPECT_EQ(ReadBytes(project_), projectBytes_);
    EXPECT_EQ(ReadBytes(readOnly), "keep");
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "alias.tsp"));
}

TEST_F(HostileInput, ImageFollowsLinksKeepsModesAndGoesToStandardOutput)
{
    const auto target = dir_ / "images" / "device.bin";
    fs::create_directories(target.parent_path());
    WriteBytes(target, "old");
    ::chmod(target.c_str(), 0640);
    fs::create_symlink(target, dir_ / "latest.bin");
    auto run = Build((dir_ / "latest.bin").string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(dir_ / "latest.bin"));
    EXPECT_EQ((fs::status(target).permissions() & fs::perms::mask), fs::perms(0640));
    const std::string image = ReadBytes(target);
    EXPECT_GT(image.size(), 100u);

    const std::string longName = (dir_ / std::string(254, 'i')).string();
    EXPECT_EQ(Build(longName).status, 0);
    EXPECT_EQ(ReadBytes(longName), image);

    // "-" writes the image itself to standard output, and what is said about it to standard error; a
    // pipe into "userblock show" reads it.
    run = Build("-");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, image);
    EXPECT_NE(run.err.find("-: " + std::to_string(image.size()) + " bytes"), std::string::npos) << run.err;
    run = RunCommand(TorvikCommand() + " userblock build " + Quote(project_) + " -o /dev/stdout 2>/dev/null | " +
                     TorvikCommand() + " userblock show --json /dev/stdin");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["size"], image.size());
}

TEST_F(HostileInput, BigEndianSignalsAreNamedOnceWhenTheImageIsBuilt)
{
    const auto run = Build((dir_ / "image.bin").string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err,
              "torvik: warning: Signals in Motorola (big-endian) byte order are sent in the device's bit numbering "
              "(least significant bit at the start bit, counting upwards) in: EngineStatus\n");
}

TEST_F(HostileInput, ReadersStopAtTheirBoundAndSayWhy)
{
    // /dev/zero never ends: each reader stops at its bound instead of filling the memory.
    const auto zeroProject = dir_ / "zero.tsp";
    WriteBytes(zeroProject, "[CAN]\r\nSetup3=2\r\nSetup4=2\r\n[Network]\r\nDbc_Names=zero\r\n"
                            "[zero]\r\nAbsolute_Path=/dev/zero\r\n");
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> want;
    };
    const Case kCases[] = {
        {{"dbc", "show", "/dev/zero"}, {"cannot open DBC file '/dev/zero': File too large"}},
        {{"userblock", "show", "/dev/zero"}, {"cannot read '/dev/zero': File too large"}},
        {{"container", "show", "/dev/zero"}, {"cannot load container '/dev/zero': File too large"}},
        {{"project", "show", zeroProject.string()},
         {"database 'zero' cannot be read: '/dev/zero': File too large"}},
        {{"dbc", "show", dir_.string()}, {"cannot open DBC file '" + dir_.string() + "': Is a directory"}},
        {{"dbc", "show", (dir_ / "none.dbc").string()}, {"No such file or directory"}},
        {{"userblock", "show", dir_.string()}, {"cannot read '" + dir_.string() + "': Is a directory"}},
        // The device link's own diagnostics stay off the console: the reason is in the one line.
        {{"ping", "--port", "/dev/null-device"}, {"/dev/null-device", "No such file or directory"}},
        {{"flash", "info", "--port", "/dev/null-device"}, {"/dev/null-device"}},
        {{"eeprom", "read", "--port"}, {"--port"}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        ExpectFailure(RunTorvik(c.args), c.want);
    }
    // A pipe is no regular file and still reads.
    const auto run = RunCommand("cat " + Quote((dir_ / "simulation.dbc").string()) + " | " + TorvikCommand() +
                                " dbc show /dev/stdin");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("EngineStatus"), std::string::npos) << run.out;
}

TEST_F(HostileInput, DamagedContainersAreReportedWithTheirPlace)
{
    const std::string sample = ReadBytes(SourceDir() / "examples" / "torvik4-sample.fkq");
    const auto root = sample.rfind("</FLASHCONTAINER>");
    const auto end = sample.find(":00000001FF");
    ASSERT_NE(root, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const auto second = sample.find("\n:", sample.find("<HEX>")) + 1;
    struct Case {
        const char* name;
        std::string text;
        std::string want;
    };
    std::string badChecksum = sample;
    char& digit = badChecksum[sample.find('\n', second) - 1];  // the last digit of the second record's checksum
    digit = digit == '0' ? '1' : '0';
    const Case kCases[] = {
        {"cut.fkq", sample.substr(0, root), "cannot load container"},
        {"no-end.fkq", sample.substr(0, end) + sample.substr(end + 12), "damaged: no end record"},
        {"checksum.fkq", badChecksum, "damaged: line 2: checksum"},
        {"junk.fkq", sample.substr(0, second) + "junk\n" + sample.substr(second), "damaged: line 2: invalid record"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const auto path = dir_ / c.name;
        WriteBytes(path, c.text);
        ExpectFailure(RunTorvik({"container", "show", path.string()}), {c.want});
    }
    const auto cut = RunTorvik({"container", "show", (dir_ / "cut.fkq").string()});
    EXPECT_NE(cut.err.find("element <FLASHCONTAINER> is not closed"), std::string::npos) << cut.err;
    EXPECT_NE(cut.err.find("line "), std::string::npos) << cut.err;
    EXPECT_EQ(RunTorvik({"container", "show", (SourceDir() / "examples" / "torvik4-sample.fkq").string()}).status, 0);
}

}  // namespace
}  // namespace torvik::cli::testing
