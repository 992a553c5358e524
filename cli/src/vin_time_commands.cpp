// torvik vin get|set and torvik time get|set: the device's VINs and its clock, through the same core
// as the desktop program's windows, with the same messages.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <device/device_clock.hpp>
#include <device/device_session.hpp>
#include <device/vin_config.hpp>
#include <platform/text.hpp>

#include "commands.hpp"

namespace torvik::cli {

namespace {

using nlohmann::ordered_json;
using studio::DeviceMessage;
using studio::DeviceOutcome;
using studio::VinPlatform;

struct VinOptions {
    std::string port;
    std::string platform;  // empty: every row
    bool json = false;
    bool isDefault = false;
    std::string vin;
    bool vinGiven = false;  // an empty VIN is a VIN: 17 blanks
};

struct TimeOptions {
    std::string port;
    bool json = false;
    bool local = false;
    std::vector<std::string> value;  // the date and the time, in one argument or two
};

// The session of one command; a failure to open it is the utility's opening error with the reason.
std::unique_ptr<studio::DeviceSession> Open(const std::string& port, const char* failureText)
{
    DeviceMessage failure;
    auto session = studio::OpenUtilitySession(PortOrSettings(port), failureText, failure);
    if (!session) {
        throw CommandError(studio::OneLine(failure));
    }
    return session;
}

// Prints the outcome's information, or fails with its messages on one line.
void Report(const DeviceOutcome& outcome)
{
    if (!outcome.Succeeded()) {
        throw CommandError(studio::OneLine(outcome));
    }
    for (const auto& message : outcome.messages) {
        std::printf("%s\n", message.text.c_str());
    }
}

std::optional<VinPlatform> Platform(const std::string& name)
{
    if (name.empty()) {
        return std::nullopt;
    }
    VinPlatform platform{};
    if (!studio::VinPlatformNamed(name, platform)) {
        throw CommandError("no platform '" + name + "' (MQB, MQB37W or MEB)");
    }
    return platform;
}

void RunVinGet(const VinOptions& options)
{
    const auto platform = Platform(options.platform);
    const auto session = Open(options.port, studio::VinConfig::kOpenFailure);
    studio::VinConfig config(*session);
    const auto reading = platform ? config.ReadRow(*platform) : config.ReadAll();
    if (!reading.outcome.Succeeded()) {
        throw CommandError(studio::OneLine(reading.outcome));
    }
    ordered_json rows = ordered_json::array();
    for (const auto& row : reading.rows) {
        const auto& info = studio::VinRow(row.platform);
        const std::string vin = platform::ToUtf8(row.value.text);
        if (options.json) {
            ordered_json out;
            out["platform"] = info.name;
            out["address"] = info.address;
            out["default"] = row.value.isDefault;
            out["vin"] = row.value.isDefault ? ordered_json(nullptr) : ordered_json(vin);
            rows.push_back(out);
        } else {
            // Quoted, so that a VIN of blanks or one that reads "Default" stays apart from the default.
            std::printf("%-7s %2u  %s\n", info.name, static_cast<unsigned>(info.address),
                        row.value.isDefault ? "Default" : ("\"" + vin + "\"").c_str());
        }
    }
    if (options.json) {
        std::cout << (platform ? rows.at(0) : rows).dump(2) << '\n';
    }
}

void RunVinSet(const VinOptions& options)
{
    const auto platform = Platform(options.platform);
    if (options.isDefault == options.vinGiven) {
        throw CommandError("give either --default or a VIN");
    }
    const studio::VinValue value{options.isDefault, platform::FromUtf8(options.vin)};
    // The checks come before the port is opened, so a VIN that cannot be stored needs no device.
    DeviceOutcome refusal;
    for (const auto& row : studio::kVinRows) {
        if (!platform || row.platform == *platform) {
            if (studio::VinFieldBytes(row.platform, value, refusal).empty()) {
                throw CommandError(studio::OneLine(refusal));
            }
        }
    }
    const auto session = Open(options.port, studio::VinConfig::kOpenFailure);
    studio::VinConfig config(*session);
    Report(platform ? config.WriteRow(*platform, value) : config.WriteAll({value, value, value}));
}

void RunTimeGet(const TimeOptions& options)
{
    const auto session = Open(options.port, studio::DeviceClock::kOpenFailure);
    const auto reading = studio::DeviceClock(*session).Get();
    if (!reading.outcome.Succeeded()) {
        throw CommandError(studio::OneLine(reading.outcome));
    }
    const std::string shown = studio::FormatClockFields(reading.shown);
    if (options.json) {
        ordered_json out;
        out["time"] = shown;
        out["device_value"] = reading.deviceValue;
        std::cout << out.dump(2) << '\n';
        return;
    }
    std::printf("%s\n", shown.c_str());
}

void RunTimeSet(const TimeOptions& options)
{
    if (options.local == !options.value.empty()) {
        throw CommandError("give either --local or a date and time (YYYY-MM-DD HH:MM:SS)");
    }
    studio::ClockFields fields;
    const std::string text = options.value.empty()    ? std::string()
                             : options.value.size() == 1 ? options.value[0]
                                                         : options.value[0] + " " + options.value[1];
    if (!options.local && !studio::ParseClockFields(text, fields)) {
        throw CommandError("invalid date and time '" + text + "' (YYYY-MM-DD HH:MM:SS, a real date and time of day)");
    }
    const auto session = Open(options.port, studio::DeviceClock::kOpenFailure);
    studio::DeviceClock clock(*session);
    Report((options.local ? clock.SetLocal() : clock.Set(fields)).outcome);
}

void AddPort(CLI::App& command, std::string& port)
{
    command.add_option("--port", port,
                       "COM<n> or a device path such as /dev/ttyUSB0 (default: the port the settings choose)");
}

void AddVinOptions(CLI::App& command, VinOptions& options)
{
    AddPort(command, options.port);
    command.add_option("--platform", options.platform, "MQB, MQB37W or MEB (default: every platform)");
}

}  // namespace

void AddVinTimeCommands(CLI::App& app)
{
    auto* vin = app.add_subcommand("vin", "The device's VINs, one for each vehicle platform");
    vin->require_subcommand(1);

    auto get = std::make_shared<VinOptions>();
    auto* vinGet = vin->add_subcommand("get", "Print the VIN of each platform (or of one), Default where the "
                                              "device uses its own");
    AddVinOptions(*vinGet, *get);
    vinGet->add_flag("--json", get->json, "Print as JSON");
    vinGet->callback([get] { RunVinGet(*get); });

    auto set = std::make_shared<VinOptions>();
    auto* vinSet = vin->add_subcommand("set", "Set the VIN of one platform, or the same VIN for every platform; "
                                              "the device restarts after each");
    AddVinOptions(*vinSet, *set);
    vinSet->add_flag("--default", set->isDefault, "Let the device use its own VIN");
    auto* vinText = vinSet->add_option("VIN", set->vin, "Up to 17 characters");
    vinSet->callback([set, vinText] {
        set->vinGiven = vinText->count() > 0;
        RunVinSet(*set);
    });

    auto* time = app.add_subcommand("time", "The device's date and time");
    time->require_subcommand(1);

    auto timeGet = std::make_shared<TimeOptions>();
    auto* timeGetCommand = time->add_subcommand("get", "Print the device's date and time (YYYY-MM-DD HH:MM:SS)");
    AddPort(*timeGetCommand, timeGet->port);
    timeGetCommand->add_flag("--json", timeGet->json, "Print as JSON, with the device's own value");
    timeGetCommand->callback([timeGet] { RunTimeGet(*timeGet); });

    auto timeSet = std::make_shared<TimeOptions>();
    auto* timeSetCommand =
        time->add_subcommand("set", "Set the device's date and time, the PC's local time with --local; the "
                                    "device restarts afterwards");
    AddPort(*timeSetCommand, timeSet->port);
    timeSetCommand->add_flag("--local", timeSet->local, "The PC's local date and time now");
    timeSetCommand->add_option("VALUE", timeSet->value, "YYYY-MM-DD HH:MM:SS or YYYY-MM-DDTHH:MM:SS")->expected(1, 2);
    timeSetCommand->callback([timeSet] { RunTimeSet(*timeSet); });
}

}  // namespace torvik::cli
