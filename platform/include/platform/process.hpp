#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace torvik::platform {

/// How a child program ended.
struct ProgramExit {
    bool started = false;  ///< false: the program could not be started; `error` says why
    int exit_status = 0;   ///< the child's exit status, or 128 + signal number when a signal ended it
    std::error_code error;
};

/// Starts `argv[0]` (a path, not searched in PATH) with the argument vector `argv`, without a shell,
/// and blocks until it ends. Standard streams are inherited; with `discardOutput` its standard output goes
/// to /dev/null (a helper's chatter must not mix into what the caller prints). Safe to call from any thread.
ProgramExit RunProgram(const std::vector<std::string>& argv, bool discardOutput = false);

/// The directory that holds the running program (from /proc/self/exe); empty when it cannot be read.
std::filesystem::path ExecutableDirectory();

/// Creates a new, empty file with a unique name `<prefix>XXXXXX` in `directory` (created with mode
/// 0600, so nobody else can take the name) and returns its path; empty path and `error` on failure.
std::filesystem::path CreateUniqueFile(const std::filesystem::path& directory, const std::string& prefix,
                                       std::error_code& error);

/// The same with a name `<prefix>XXXXXX<suffix>`, for a file whose kind its ending tells (`.hex`, `.xml`).
std::filesystem::path CreateUniqueFile(const std::filesystem::path& directory, const std::string& prefix,
                                       const std::string& suffix, std::error_code& error);

}  // namespace torvik::platform
