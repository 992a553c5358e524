#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace torvik::platform {
class ProfileStore;
}

namespace torvik::studio {
struct DeviceSettings;
}

namespace torvik::studio::app {

/// The log4cpp category of the desktop program.
inline constexpr const char* kLoggerName = "TorvikStudioLogger";

/// Configures log4cpp from "log4cpp.properties" in `programFolder`; when that file is missing or broken,
/// the default: everything from debug on to standard error, info and above into the rolling file
/// "torvikStudio.log" in the current directory (10 MiB, one backup). An installed program (see
/// platform/install_layout.hpp) reads the user's "log4cpp.properties" in the configuration folder, else
/// the shipped one, and its log file is in the user's state folder, which properties name as
/// ${TORVIK_LOG_DIR}. Returns true when the default was taken. Call once, before any logging and before
/// other threads start, on the user-interface thread.
bool ConfigureLogging(const std::filesystem::path& programFolder);

/// Closes and removes every appender (the program's end).
void ShutdownLogging();

/// The settings file: "Torvik Studio.ini" in `programFolder`, or in `$XDG_CONFIG_HOME/TorvikStudio/`
/// (`~/.config/TorvikStudio/`) when it cannot be written there, and always there for an installed
/// program. Creates the configuration folder when needed.
std::filesystem::path SettingsPath(const std::filesystem::path& programFolder);

/// The device and update settings of the desktop program, section "TorvikApp" of the settings file.
struct Settings {
    static constexpr const wchar_t* kDefaultUpdateAddress = L"https://update.torvik4.net/fw/updates.xml";

    int autoNotManual = 1;  ///< "SetAutoNotManual": pick the COM port automatically
    std::wstring updateAddress = kDefaultUpdateAddress;  ///< "SetFWaddress"
    int manualComPort = -1;  ///< "ManualSetComPort": -1 for none
    /// "ManualSetComPortPath": a port by its device path (a pseudo-terminal, a /dev/serial/by-id/ link);
    /// when the choice is manual and this is not empty, it takes the place of "ManualSetComPort".
    std::wstring manualComPortPath;
    /// "SetFWCAFile": a certificate authority (PEM) that HTTPS downloads trust besides the system's.
    std::wstring updateCaFile;

    /// The keys of the section, in file order.
    static constexpr const wchar_t* kKeys[] = {L"SetAutoNotManual", L"ManualSetComPort", L"ManualSetComPortPath",
                                               L"SetFWaddress", L"SetFWCAFile"};

    /// Sets one field by its key from text; false and `error` filled for an unknown key or a value that
    /// does not fit the field (a number that is no number, a negative COM number other than -1).
    bool Set(std::wstring_view key, std::wstring_view value, std::wstring& error);
    /// The field of `key` as text; empty for an unknown key.
    std::wstring Get(std::wstring_view key) const;

    /// Reads every field, keeping its current value as default.
    void Load(const platform::ProfileStore& store);
    /// Writes every field back (the caller commits the store).
    void Save(platform::ProfileStore& store) const;
    /// What the device operations take from these settings.
    DeviceSettings ForDevice() const;
};

}  // namespace torvik::studio::app
