#include <flashlib/process_runner.hpp>

#include <platform/process.hpp>

namespace kq::flashlib {

ProcessRunner::~ProcessRunner() = default;

namespace {

class SystemProcessRunner final : public ProcessRunner {
public:
    Result Run(const std::vector<std::string>& argv) override
    {
        // The signature tool reports progress on its standard output: not for the caller's users.
        const auto exit = torvik::platform::RunProgram(argv, true);
        Result result;
        result.started = exit.started;
        result.exit_status = exit.exit_status;
        if (exit.error) {
            result.error = exit.error.message();
        }
        return result;
    }
};

}  // namespace

std::shared_ptr<ProcessRunner> MakeSystemProcessRunner() { return std::make_shared<SystemProcessRunner>(); }

}  // namespace kq::flashlib
