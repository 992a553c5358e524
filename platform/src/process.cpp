#include <platform/process.hpp>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace torvik::platform {

ProgramExit RunProgram(const std::vector<std::string>& argv, bool discardOutput)
{
    ProgramExit result;
    if (argv.empty() || argv.front().empty()) {
        result.error = std::make_error_code(std::errc::invalid_argument);
        return result;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));  // posix_spawn's signature predates const
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (discardOutput) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.error = std::error_code(rc, std::generic_category());
        return result;
    }
    result.started = true;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            result.error = std::error_code(errno, std::generic_category());
            result.exit_status = -1;
            return result;
        }
    }
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exit_status = 128 + WTERMSIG(status);
    }
    return result;
}

std::filesystem::path ExecutableDirectory()
{
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    return self.parent_path();
}

std::filesystem::path CreateUniqueFile(const std::filesystem::path& directory, const std::string& prefix,
                                       std::error_code& error)
{
    return CreateUniqueFile(directory, prefix, {}, error);
}

std::filesystem::path CreateUniqueFile(const std::filesystem::path& directory, const std::string& prefix,
                                       const std::string& suffix, std::error_code& error)
{
    error.clear();
    std::string name = (directory / (prefix + "XXXXXX" + suffix)).string();
    // Close-on-exec: a program that another thread starts meanwhile must not inherit the descriptor.
    const int fd = mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        error = std::error_code(errno, std::generic_category());
        return {};
    }
    ::close(fd);
    return name;
}

}  // namespace torvik::platform
