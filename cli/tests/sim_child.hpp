#pragma once

// torvik4-sim from beside the test program as a child process, for end-to-end tests of torvik.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "run_torvik.hpp"

extern char** environ;

namespace torvik::cli::testing {

/// Starts the simulator with a state file in `dir` and the given options; `port()` is empty when it did
/// not start. Stops it (SIGTERM, so the state is saved) on destruction.
class SimulatorChild {
public:
    SimulatorChild(const std::filesystem::path& dir, const std::vector<std::string>& options = {})
    {
        const std::string sim = (ProgramDir() / "torvik4-sim").string();
        const std::string state = (dir / "state").string();
        const std::string out = (dir / "sim.out").string();
        std::vector<std::string> args = {sim, "--state", state};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawn(&pid_, sim.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = 0;
            return;
        }
        // The simulator prints its device path first.
        for (int i = 0; i < 250 && port_.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::ifstream in(out);
            std::getline(in, port_);
        }
    }
    ~SimulatorChild() { Stop(); }
    SimulatorChild(const SimulatorChild&) = delete;
    SimulatorChild& operator=(const SimulatorChild&) = delete;

    void Stop()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
    }
    const std::string& port() const { return port_; }

private:
    pid_t pid_ = 0;
    std::string port_;
};

}  // namespace torvik::cli::testing
