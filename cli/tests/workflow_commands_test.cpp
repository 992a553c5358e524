// torvik upload, info, erase, userblock read and fw-update against torvik4-sim as a child process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "run_torvik.hpp"
#include "sim_child.hpp"

namespace torvik::cli::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

fs::path Example(const std::string& name)
{
    const char* source = std::getenv("TORVIK_SOURCE_DIR");
    return fs::path(source != nullptr ? source : ".") / "examples" / name;
}

class WorkflowCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "torvik_workflow.XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
    }
    void TearDown() override
    {
        sim_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void StartSimulator(const std::vector<std::string>& options = {})
    {
        sim_ = std::make_unique<SimulatorChild>(dir_, options);
        ASSERT_FALSE(sim_->port().empty()) << "the simulator did not start";
    }

    RunResult Run(const std::vector<std::string>& args)
    {
        // Settings of our own, so that the machine's settings file plays no part.
        std::string command = "TORVIK_SETTINGS=" + Quote((dir_ / "settings.ini").string()) + " " + TorvikCommand();
        for (const auto& arg : args) {
            command += " " + Quote(arg == "PORT" ? sim_->port() : arg);
        }
        return RunCommand(command);
    }

    fs::path dir_;
    std::unique_ptr<SimulatorChild> sim_;
};

TEST_F(WorkflowCommands, TheExampleGoesIntoTheDeviceAndComesBackTheSame)
{
    StartSimulator();
    const auto upload = Run({"upload", "--port", "PORT", Example("simulation.tsp").string()});
    ASSERT_EQ(upload.status, 0) << upload.err;
    EXPECT_EQ(upload.err, "");
    EXPECT_NE(upload.out.find("Signals in Motorola (big-endian) byte order"), std::string::npos) << upload.out;
    EXPECT_NE(upload.out.find("User memory block programmed successfully.\n"), std::string::npos);
    EXPECT_EQ(upload.out.substr(upload.out.size() - 37), "Configuration successfully uploaded.\n");
    // Standard output is no terminal here: each activity ends with one plain line.
    EXPECT_NE(upload.out.find("  programming device USER memory: "), std::string::npos);

    const auto built = (dir_ / "built.bin").string();
    const auto read = (dir_ / "read.bin").string();
    ASSERT_EQ(Run({"userblock", "build", Example("simulation.tsp").string(), "-o", built}).status, 0);
    const auto back = Run({"userblock", "read", "--port", "PORT", "-o", read});
    ASSERT_EQ(back.status, 0) << back.err;
    std::ifstream inBuilt(built, std::ios::binary);
    std::ifstream inRead(read, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(inBuilt), {}),
              std::string(std::istreambuf_iterator<char>(inRead), {}));

    const auto info = Run({"info", "--port", "PORT", "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(json::parse(info.out),
              json::parse(R"({"product_code":65535,"hardware_version":"255.255","firmware_version":"255.255",)"
                          R"("serial_number":25755})"));

    const auto erase = Run({"erase", "--port", "PORT"});
    ASSERT_EQ(erase.status, 0) << erase.err;
    EXPECT_EQ(erase.out.substr(erase.out.size() - 36), "Configuration successfully deleted.\n");
    const auto none = Run({"userblock", "read", "--port", "PORT"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "torvik: the device holds no simulation\n");
}

TEST_F(WorkflowCommands, AFailureIsOneLineWithItsReason)
{
    StartSimulator({"--silent"});
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"upload", "--port", "PORT", Example("simulation.tsp").string()},
         "torvik: the upload failed: Can't connect to Torvik4 device on selected port PORT. Please check the device "
         "connection and selected mode (rotary switch position). ("},
        {{"info", "--port", "/dev/nonexistent"},
         "torvik: the device information failed: Can't connect to Torvik4 device on selected port /dev/nonexistent. "
         "Please check the device connection and selected mode (rotary switch position). (cannot open "
         "/dev/nonexistent: No such file or directory)\n"},
        {{"fw-update", "--port", "PORT", "--url", "http://127.0.0.1:1/fw/updates.xml"},
         "torvik: the firmware update failed: Can't connect to Torvik4 device on selected port PORT."},
        {{"upload", "--port", "PORT", (dir_ / "missing.tsp").string()}, "torvik: cannot open project '"},
        {{"upload"}, "torvik: FILE.tsp is required (see --help)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const auto run = Run(c.args);
        EXPECT_EQ(run.status, 1);
        std::string line = c.line;
        if (const auto at = line.find("PORT"); at != std::string::npos) {
            line.replace(at, 4, sim_->port());
        }
        EXPECT_EQ(run.err.substr(0, line.size()), line);
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

}  // namespace
}  // namespace torvik::cli::testing
