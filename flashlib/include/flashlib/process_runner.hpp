#pragma once

#include <memory>
#include <string>
#include <vector>

#include <flashlib/export.hpp>

namespace kq::flashlib {

/// Starts a helper program and waits for it. The flash library runs the signature tool through it;
/// tests put a fake in its place to reach the failure paths.
class KQ_FLASHLIB_API ProcessRunner {
public:
    struct Result {
        bool started = false;  ///< false: the program could not be started
        int exit_status = 0;   ///< exit status; 128 + signal number when a signal ended it
        std::string error;     ///< why it could not be started
    };

    virtual ~ProcessRunner();

    /// Runs `argv[0]` (a path) with the argument vector `argv`, never through a shell, and blocks
    /// until the program ends. Called on the caller's thread.
    virtual Result Run(const std::vector<std::string>& argv) = 0;
};

/// The runner that starts real programs.
KQ_FLASHLIB_API std::shared_ptr<ProcessRunner> MakeSystemProcessRunner();

}  // namespace kq::flashlib
