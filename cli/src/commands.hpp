#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace torvik::studio::app {
struct Settings;
}

namespace torvik::cli {

/// A failure that ends the command with one line on standard error and a non-zero exit status.
class CommandError : public std::runtime_error {
public:
    explicit CommandError(const std::string& message, int status = 1)
        : std::runtime_error(message), status_(status)
    {
    }
    int status() const noexcept { return status_; }

private:
    int status_;
};

/// A number of the command line: decimal, or hexadecimal after 0x (a leading zero makes nothing octal); no
/// sign and no blanks. Anything else, or a value above `max`, fails naming `what`.
std::uint32_t ParseNumber(const std::string& text, const char* what, std::uint32_t max);

/// "0-27, 29" from a sorted list of numbers (sectors).
std::string Ranges(const std::vector<int>& numbers);

/// The settings file: $TORVIK_SETTINGS when set, else the desktop program's ("Torvik Studio.ini" beside
/// the program, or in $XDG_CONFIG_HOME/TorvikStudio/).
std::filesystem::path SettingsFile();
/// The settings in SettingsFile(), the defaults where it has none.
studio::app::Settings LoadSettings();
/// `port` when given, else the port the settings choose; fails when they choose none.
std::string PortOrSettings(const std::string& port);

// One registration function per command group, each in its own source file. A group adds its
// subcommands to the program; their callbacks throw CommandError on failure.
void AddDbcCommands(CLI::App& app);
void AddContainerCommands(CLI::App& app);
void AddProjectCommands(CLI::App& app);
void AddDeviceCommands(CLI::App& app);
void AddFlashCommands(CLI::App& app);
void AddSettingsCommands(CLI::App& app);
void AddWorkflowCommands(CLI::App& app);
void AddVinTimeCommands(CLI::App& app);
void AddProjectEditCommands(CLI::App& app);  // after AddProjectCommands: adds to "project"

}  // namespace torvik::cli
