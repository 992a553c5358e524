#include <platform/install_layout.hpp>

#include <cstdlib>
#include <string>
#include <system_error>

// TORVIK_INSTALL_DATADIR and TORVIK_INSTALL_BINDIR come from the build: the folders of the prefix the
// tool set is built for.

namespace torvik::platform {

namespace {

bool IsFile(const std::filesystem::path& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

std::filesystem::path FromEnvironment(const char* variable, const char* homeRelative)
{
    if (const char* value = std::getenv(variable); value != nullptr && *value == '/') {
        return std::filesystem::path(value) / "TorvikStudio";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::filesystem::path(home) / homeRelative / "TorvikStudio";
    }
    return {};
}

}  // namespace

std::filesystem::path InstalledDataFolder(const std::filesystem::path& programFolder)
{
    const std::filesystem::path folder = programFolder.filename().empty() ? programFolder.parent_path() : programFolder;
    if (folder.filename() != "bin") {
        return {};
    }
    const std::filesystem::path data = folder.parent_path() / "share" / "torvik4";
    std::error_code ec;
    return std::filesystem::is_directory(data, ec) ? data : std::filesystem::path{};
}

bool IsInstalledProgram(const std::filesystem::path& programFolder)
{
    return !InstalledDataFolder(programFolder).empty();
}

std::filesystem::path DataFile(const std::filesystem::path& programFolder, std::string_view name)
{
    if (!programFolder.empty()) {
        if (const auto beside = programFolder / name; IsFile(beside)) {
            return beside;
        }
        if (const auto data = InstalledDataFolder(programFolder); !data.empty()) {
            return data / name;
        }
    }
    return std::filesystem::path(TORVIK_INSTALL_DATADIR) / name;
}

std::filesystem::path HelperProgram(const std::filesystem::path& programFolder, std::string_view name)
{
    if (!programFolder.empty()) {
        if (const auto beside = programFolder / name; IsFile(beside) || IsInstalledProgram(programFolder)) {
            return beside;
        }
    }
    return std::filesystem::path(TORVIK_INSTALL_BINDIR) / name;
}

std::filesystem::path UserConfigFolder()
{
    // Only an absolute XDG_CONFIG_HOME or XDG_STATE_HOME counts; a relative one is ignored, as elsewhere on the desktop.
    return FromEnvironment("XDG_CONFIG_HOME", ".config");
}

std::filesystem::path UserStateFolder()
{
    return FromEnvironment("XDG_STATE_HOME", ".local/state");
}

}  // namespace torvik::platform
