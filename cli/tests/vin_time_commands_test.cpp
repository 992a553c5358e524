// torvik vin and torvik time against torvik4-sim as a child process: what they print, what lands in the
// device, and one line on standard error with status 1 for every failure.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include <memory>

#include "run_torvik.hpp"
#include "sim_child.hpp"

namespace torvik::cli::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class VinTimeCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "torvik_vin_time.XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        sim_ = std::make_unique<SimulatorChild>(dir_);
        port_ = sim_->port();
        ASSERT_FALSE(port_.empty()) << "the simulator did not start";
    }
    void TearDown() override
    {
        sim_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    RunResult Run(std::vector<std::string> args, const std::string& zone = "UTC0")
    {
        args.insert(args.begin() + 2, {"--port", port_});
        std::string command = "TZ=" + Quote(zone) + " " + TorvikCommand();
        for (const auto& arg : args) {
            command += " " + Quote(arg);
        }
        return RunCommand(command);
    }

    static void ExpectOutput(const RunResult& run, const std::string& out)
    {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.err, "");
    }
    static void ExpectFailure(const RunResult& run, const std::string& line)
    {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "torvik: " + line + "\n");
    }

    fs::path dir_;
    std::unique_ptr<SimulatorChild> sim_;
    std::string port_;
};

TEST_F(VinTimeCommands, VinsAreReadAndWrittenRowByRowAndAllAtOnce)
{
    ExpectOutput(Run({"vin", "get"}), "MQB     47  Default\nMQB37W  64  Default\nMEB     81  Default\n");
    ExpectOutput(Run({"vin", "set", "--platform", "MQB37W", "\xC3\x84\xE2\x82\xAC-17-CHARACTERS"}),
                 "VIN for MQB37W platform was successfully set.\n");
    const auto row = Run({"vin", "get", "--platform", "MQB37W", "--json"});
    ASSERT_EQ(row.status, 0) << row.err;
    EXPECT_EQ(json::parse(row.out),
              json::parse(R"({"platform":"MQB37W","address":64,"default":false,"vin":"\u00c4\u20ac-17-CHARACTERS"})"));

    ExpectOutput(Run({"vin", "set", "WVWZZZ1KZAW000001"}), "WINs were successfully set.\n");
    ExpectOutput(Run({"vin", "set", "--platform", "MEB", "--default"}), "VIN for MEB platform was successfully set.\n");
    ExpectOutput(Run({"vin", "set", "--platform", "MQB", ""}), "VIN for MQB platform was successfully set.\n");
    ExpectOutput(Run({"vin", "get"}), "MQB     47  \"\"\nMQB37W  64  \"WVWZZZ1KZAW000001\"\nMEB     81  Default\n");
    const auto all = Run({"vin", "get", "--json"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(json::parse(all.out)[2], json::parse(R"({"platform":"MEB","address":81,"default":true,"vin":null})"));
}

TEST_F(VinTimeCommands, RefusedInputLeavesTheDeviceAsItWas)
{
    ExpectOutput(Run({"vin", "set", "--platform", "MQB", "KEEP"}), "VIN for MQB platform was successfully set.\n");
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"vin", "set", "--platform", "MQB", "WVWZZZ1KZAW0000012"}, "VIN for MQB platform is longer than 17 characters."},
        {{"vin", "set", "A\xCE\xA9"}, "VIN for MQB platform has a character that cannot be stored: U+03A9."},
        {{"vin", "set", "--platform", "MQB", "A\xFF"}, "VIN for MQB platform has a character that cannot be stored: U+FFFD."},
        {{"vin", "set", "--platform", "VW", "ABC"}, "no platform 'VW' (MQB, MQB37W or MEB)"},
        {{"vin", "set", "--platform", "MQB"}, "give either --default or a VIN"},
        {{"vin", "set", "--default", "ABC"}, "give either --default or a VIN"},
        {{"time", "set", "2023-02-29 12:00:00"},
         "invalid date and time '2023-02-29 12:00:00' (YYYY-MM-DD HH:MM:SS, a real date and time of day)"},
        {{"time", "set", "--local", "2024-01-01 00:00:00"}, "give either --local or a date and time (YYYY-MM-DD HH:MM:SS)"},
        {{"time", "set", "1969-12-31T23:59:59"},
         "Can't set date & time into Torvik4 device. (the device's clock holds 1970-01-01 00:00:00 to 2106-02-07 "
         "06:28:15, not 1969-12-31 23:59:59)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        ExpectFailure(Run(c.args), c.line);
    }
    ExpectOutput(Run({"vin", "get", "--platform", "MQB"}), "MQB     47  \"KEEP\"\n");
    // The fresh device's clock started at 0 and still runs from there.
    const auto clock = Run({"time", "get"});
    EXPECT_EQ(clock.out.substr(0, 14), "1970-01-01 00:") << clock.err;
}

TEST_F(VinTimeCommands, TimeIsSetAsTheLocalWallClockAndReadBack)
{
    ExpectOutput(Run({"time", "set", "2024-02-29", "23:59:59"}, "<+02>-2"), "Date & time was successfully set.\n");
    // The device's clock runs on between the set and the read.
    const auto got = Run({"time", "get", "--json"}, "<-05>5");
    ASSERT_EQ(got.status, 0) << got.err;
    const auto value = json::parse(got.out);
    const auto seconds = value["device_value"].get<std::int64_t>();
    EXPECT_GE(seconds, 1709251199);
    EXPECT_LT(seconds, 1709251199 + 60);
    // Shown as the device's own fields in any zone: here five hours west, still the UTC breakdown.
    const auto at = static_cast<std::time_t>(seconds);
    std::tm tm{};
    ::gmtime_r(&at, &tm);
    char shown[32];
    std::strftime(shown, sizeof shown, "%Y-%m-%d %H:%M:%S", &tm);
    EXPECT_EQ(value["time"].get<std::string>(), shown);

    // At UTC+2 the device gets the local time as if it were UTC: two hours ahead of the PC's clock.
    const auto before = static_cast<std::int64_t>(std::time(nullptr));
    ExpectOutput(Run({"time", "set", "--local"}, "<+02>-2"), "Date & time was successfully set.\n");
    const auto local = Run({"time", "get", "--json"});
    ASSERT_EQ(local.status, 0) << local.err;
    const auto ahead = json::parse(local.out)["device_value"].get<std::int64_t>() - before;
    EXPECT_GE(ahead, 7200);
    EXPECT_LT(ahead, 7200 + 60);
}

TEST(VinTimeCommandsWithoutDevice, AMissingPortGivesTheOpeningErrorWithItsReason)
{
    const std::string reason = " (cannot open port /nonexistent/tty (No such file or directory))\n";
    const auto vin = RunTorvik({"vin", "get", "--port", "/nonexistent/tty"});
    EXPECT_EQ(vin.status, 1);
    EXPECT_EQ(vin.err, "torvik: Can't get VINs from Torvik4 device. Please be sure that it is connected and \"Mode 5\" "
                       "is set." + reason);
    const auto time = RunTorvik({"time", "set", "--port", "/nonexistent/tty", "--local"});
    EXPECT_EQ(time.status, 1);
    EXPECT_EQ(time.err, "torvik: Can't get date & time from Torvik4 device. Please be sure that it is connected and "
                        "\"Mode 5\" is set." + reason);
}

}  // namespace
}  // namespace torvik::cli::testing
