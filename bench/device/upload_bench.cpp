// A simulation upload, from the switch into the boot loader to the restart, against the simulated device
// at a paced 230400 baud, as a ratio to the line time of the data the upload must move: the whole USER
// memory read, the range programmed and the range verified, each as the boot loader's encoded lines.
#include <benchmark/benchmark.h>

#include <device/user_memory.hpp>
#include <platform/text.hpp>
#include <project/opening.hpp>
#include <project/prompt.hpp>
#include <project/ts_project.hpp>
#include <sim/simulator.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace torvik::studio;

constexpr double kBaud = 230400.0;
constexpr double kCharBits = 10.0;

fs::path Source(const char* relative)
{
    const char* source = std::getenv("TORVIK_SOURCE_DIR");
    return fs::path(source != nullptr ? source : TORVIK_SOURCE_DIR) / relative;
}

// Encoded lines of 45 bytes: 61 characters and CR LF.
double LineSeconds(std::size_t bytes)
{
    const double lines = static_cast<double>((bytes + 44) / 45);
    return lines * 63.0 * kCharBits / kBaud;
}

class QuietSink : public DeviceReportSink {
public:
    void Deliver(const DeviceReport&) override {}
};

std::vector<std::uint8_t> ExampleBlock()
{
    NonInteractivePrompt prompt;
    ProjectOpening opening(prompt, false);
    auto project = opening.Run(torvik::platform::FromUtf8(Source("examples/simulation.tsp").string()));
    if (!project) {
        return {};
    }
    project->GiveChannelsTheirSetups();
    const auto length = project->BuildUserBlock();
    return length > 0 ? std::vector<std::uint8_t>(project->GetUserBlock(), project->GetUserBlock() + length)
                      : std::vector<std::uint8_t>{};
}

std::vector<std::uint8_t> FullBlock()
{
    std::vector<std::uint8_t> block(kMaxStoredUserBlock);
    std::minstd_rand random(3);
    for (auto& b : block) {
        b = static_cast<std::uint8_t>(random() | 1);
    }
    block[0] = 0xFF;
    return block;
}

void Upload(benchmark::State& state, const std::vector<std::uint8_t>& block)
{
    if (block.empty()) {
        state.SkipWithError("no user block");
        return;
    }
    torvik::sim::SimOptions options;
    options.pace = true;
    torvik::sim::Simulator sim(options);
    std::string error;
    if (!sim.Start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    DeviceSettings settings;
    settings.port = {false, -1, sim.DevicePath()};
    settings.container = Source("examples/torvik4-sample.fkq");
    QuietSink sink;
    NonInteractivePrompt prompt;
    double seconds = 0;
    for (auto _ : state) {
        CUploadDialog upload(settings, sink, prompt, block);
        const auto start = std::chrono::steady_clock::now();
        if (!upload.RunHere()) {
            state.SkipWithError(upload.failure().c_str());
            break;
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
    }
    // A fresh device: the range programmed and verified is the header and the block with its terminator.
    const std::size_t range = kUserMemoryHeaderSize + block.size() + 1;
    const double bound = LineSeconds(kUserMemorySize) + 2 * LineSeconds(range);
    state.counters["block_bytes"] = static_cast<double>(block.size());
    state.counters["line_s"] = bound;
    state.counters["ratio_to_line"] = seconds / bound;
}

void UploadTheExample(benchmark::State& state)
{
    Upload(state, ExampleBlock());
}

void UploadAFullUserMemory(benchmark::State& state)
{
    Upload(state, FullBlock());
}

}  // namespace

BENCHMARK(UploadTheExample)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(UploadAFullUserMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
