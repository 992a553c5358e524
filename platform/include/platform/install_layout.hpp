#pragma once

#include <filesystem>
#include <string_view>

// Where the programs find the files they ship with and where they keep the user's own.
//
// A program run from its build folder finds everything next to itself, as the tool set always did. An
// installed program (`<prefix>/bin/`, with `<prefix>/share/torvik4/` beside it) finds its data there
// and keeps settings and logs in the user's configuration and state folders, never under the prefix.
// A program of someone else's that links our libraries finds the data of the prefix they were built for.

namespace torvik::platform {

/// The data folder of the install that `programFolder` belongs to (`<programFolder>/../share/torvik4`),
/// or an empty path when the program does not run from an install.
std::filesystem::path InstalledDataFolder(const std::filesystem::path& programFolder);

/// True when `programFolder` is the `bin/` folder of an install.
bool IsInstalledProgram(const std::filesystem::path& programFolder);

/// A data file the tool set ships (`restart.hex`, the local flash container, the manual, ...): next to
/// the program when it is there, else in the data folder of the program's install, else in the data
/// folder of the prefix the libraries were built for. The last place is returned even when the file is
/// missing there, so that a failure names a path a user can check.
std::filesystem::path DataFile(const std::filesystem::path& programFolder, std::string_view name);

/// A helper program of the tool set (the signature tool): next to the program, else in the `bin/`
/// folder of the program's install, else in the one of the prefix the libraries were built for.
std::filesystem::path HelperProgram(const std::filesystem::path& programFolder, std::string_view name);

/// The user's configuration folder of the tool set: `$XDG_CONFIG_HOME/TorvikStudio`, else
/// `$HOME/.config/TorvikStudio`; empty when neither variable is set. Not created.
std::filesystem::path UserConfigFolder();

/// The user's state folder (logs): `$XDG_STATE_HOME/TorvikStudio`, else `$HOME/.local/state/TorvikStudio`;
/// empty when neither variable is set. Not created.
std::filesystem::path UserStateFolder();

}  // namespace torvik::platform
