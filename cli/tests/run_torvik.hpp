#pragma once

// Runs the torvik program that sits next to the test program and captures what it prints.
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace torvik::cli::testing {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::filesystem::path ProgramDir()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

inline std::string Quote(const std::string& arg)
{
    std::string quoted = "'";
    for (const char c : arg) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

/// Runs a shell command line and captures its standard output and standard error.
inline RunResult RunCommand(std::string command)
{
    const auto errFile = std::filesystem::temp_directory_path() /
                         ("torvik_cli_err_" + std::to_string(::getpid()) + ".txt");
    command = "{ " + command + "; } 2>" + Quote(errFile.string());

    RunResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        result.out.append(buffer.data(), n);
    }
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    result.err = text.str();
    std::filesystem::remove(errFile);
    return result;
}

/// The torvik program beside the test program, quoted for a shell command line.
inline std::string TorvikCommand()
{
    return Quote((ProgramDir() / "torvik").string());
}

inline RunResult RunTorvik(const std::vector<std::string>& args)
{
    std::string command = TorvikCommand();
    for (const auto& arg : args) {
        command += " " + Quote(arg);
    }
    return RunCommand(command);
}

/// The shared folder beside the checkout, or empty when it is absent.
inline std::filesystem::path SharedDir()
{
    const char* source = std::getenv("TORVIK_SOURCE_DIR");
    if (source == nullptr) {
        return {};
    }
    const auto dir = std::filesystem::path(source) / ".." / "shared";
    return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

inline std::filesystem::path SourceDir()
{
    const char* source = std::getenv("TORVIK_SOURCE_DIR");
    return source == nullptr ? std::filesystem::path() : std::filesystem::path(source);
}

}  // namespace torvik::cli::testing
