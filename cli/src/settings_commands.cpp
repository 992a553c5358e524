// torvik settings show|set: the device settings the desktop program keeps, and the port they choose.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include <app/startup.hpp>
#include <device/port_choice.hpp>
#include <platform/process.hpp>
#include <platform/profile.hpp>
#include <platform/text.hpp>

#include "commands.hpp"

namespace torvik::cli {

namespace {

using nlohmann::ordered_json;
using platform::FromUtf8;
using platform::ToUtf8;

studio::app::Settings Load(const std::filesystem::path& file)
{
    studio::app::Settings settings;
    std::unique_ptr<platform::IniFile> ini;
    if (const auto ec = platform::IniFile::Open(file, ini)) {
        if (ec != std::errc::no_such_file_or_directory) {
            throw CommandError("cannot read the settings file '" + file.string() + "': " + ec.message());
        }
        return settings;  // no file yet: the defaults
    }
    settings.Load(*ini);
    return settings;
}

std::string Choice(const studio::app::Settings& settings)
{
    return studio::ChoosePort({settings.autoNotManual != 0, settings.manualComPort, ToUtf8(settings.manualComPortPath)});
}

void Show(bool json)
{
    const auto file = SettingsFile();
    const auto settings = Load(file);
    const std::string port = Choice(settings);
    if (json) {
        ordered_json out;
        out["file"] = file.string();
        out["set_auto_not_manual"] = settings.autoNotManual;
        out["manual_set_com_port"] = settings.manualComPort;
        out["manual_set_com_port_path"] = ToUtf8(settings.manualComPortPath);
        out["set_fw_address"] = ToUtf8(settings.updateAddress);
        out["port"] = port.empty() ? ordered_json(nullptr) : ordered_json(port);
        std::cout << out.dump(2) << '\n';
        return;
    }
    std::printf("Settings file         %s\n", file.string().c_str());
    for (const wchar_t* key : studio::app::Settings::kKeys) {
        std::printf("%-21s %s\n", ToUtf8(key).c_str(), ToUtf8(settings.Get(key)).c_str());
    }
    std::printf("Port chosen           %s\n", port.empty() ? "none" : port.c_str());
}

void Set(const std::string& key, const std::string& value)
{
    const auto file = SettingsFile();
    std::unique_ptr<platform::IniFile> ini;
    if (const auto ec = platform::IniFile::Open(file, ini)) {
        if (ec != std::errc::no_such_file_or_directory) {
            throw CommandError("cannot read the settings file '" + file.string() + "': " + ec.message());
        }
        ini = std::make_unique<platform::IniFile>(file);
    }
    studio::app::Settings settings;
    settings.Load(*ini);
    std::wstring error;
    if (!settings.Set(FromUtf8(key), FromUtf8(value), error)) {
        throw CommandError(ToUtf8(error));
    }
    settings.Save(*ini);
    if (const auto ec = ini->Commit()) {
        throw CommandError("cannot write the settings file '" + file.string() + "': " + ec.message());
    }
    std::printf("%s = %s (%s)\n", key.c_str(), value.c_str(), file.string().c_str());
}

}  // namespace

std::filesystem::path SettingsFile()
{
    if (const char* named = std::getenv("TORVIK_SETTINGS"); named != nullptr && *named != '\0') {
        return named;
    }
    return studio::app::SettingsPath(platform::ExecutableDirectory());
}

studio::app::Settings LoadSettings()
{
    return Load(SettingsFile());
}

std::string PortOrSettings(const std::string& port)
{
    if (!port.empty()) {
        return port;
    }
    const auto settings = Load(SettingsFile());
    const std::string chosen = Choice(settings);
    if (chosen.empty()) {
        throw CommandError(std::string("no --port given, and the settings choose no port (") +
                           (settings.autoNotManual != 0 ? "no serial adapter calls itself Torvik4"
                                                        : "no manual port is set") +
                           "; see torvik settings)");
    }
    return chosen;
}

void AddSettingsCommands(CLI::App& app)
{
    auto* settings = app.add_subcommand("settings", "The device settings of the desktop program");
    settings->require_subcommand(1);
    auto json = std::make_shared<bool>(false);
    auto* show = settings->add_subcommand("show", "Print the settings and the port they choose");
    show->add_flag("--json", *json, "Print as JSON");
    show->callback([json] { Show(*json); });
    auto args = std::make_shared<std::pair<std::string, std::string>>();
    auto* set = settings->add_subcommand("set", "Set one setting: SetAutoNotManual, ManualSetComPort, "
                                                "ManualSetComPortPath, SetFWaddress or SetFWCAFile");
    set->add_option("KEY", args->first, "Setting")->required();
    set->add_option("VALUE", args->second, "Value")->required();
    set->callback([args] { Set(args->first, args->second); });
}

}  // namespace torvik::cli
