// Programming the device's flash through the simulated boot loader at a paced 230400 baud, against the
// bound the serial line sets: the line time of every character the protocol must move (commands, their
// answers, UU lines, block checksums and acknowledgements) plus the flash times the simulator models.
#include <benchmark/benchmark.h>

#include <flashlib/flash_container.hpp>
#include <flashlib/flash_device.hpp>
#include <hexsign/ihex.hpp>
#include <platform/files.hpp>
#include <platform/isp.hpp>
#include <platform/text.hpp>
#include <sim/simulator.hpp>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace isp = torvik::platform::isp;

constexpr double kBaud = 230400.0;
constexpr double kCharBits = 10.0;
constexpr double kCopySecondsPer256 = 0.001;  // the simulator's programming time

fs::path SampleContainer()
{
    const char* source = std::getenv("TORVIK_SOURCE_DIR");
    return fs::path(source != nullptr ? source : TORVIK_SOURCE_DIR) / "examples" / "torvik4-sample.fkq";
}

std::size_t Chars(const std::string& line)
{
    return line.size() + 2;  // CR LF
}

// The characters of one piece: W, its data blocks with sums and OKs, P and C with their answers.
std::size_t PieceChars(std::uint32_t flash, const std::uint8_t* data, std::uint32_t size)
{
    std::size_t chars = Chars("W " + std::to_string(isp::kRamBuffer) + " " + std::to_string(size)) + Chars("0");
    for (std::uint32_t block = 0; block < size; block += 900) {
        const std::uint32_t blockSize = std::min<std::uint32_t>(900, size - block);
        unsigned sum = 0;
        for (std::uint32_t at = block; at < block + blockSize; at += 45) {
            const std::uint32_t n = std::min<std::uint32_t>(45, block + blockSize - at);
            chars += Chars(isp::UuEncodeLine(data + at, n));
        }
        for (std::uint32_t i = block; i < block + blockSize; ++i) {
            sum += data[i];
        }
        chars += Chars(std::to_string(sum)) + Chars("OK");
    }
    const int sector = isp::SectorOf(flash);
    chars += Chars("P " + std::to_string(sector) + " " + std::to_string(sector)) + Chars("0");
    chars += Chars("C " + std::to_string(flash) + " " + std::to_string(isp::kRamBuffer) + " " + std::to_string(size)) +
             Chars("0");
    return chars;
}

// The bound for programming `image` from address 0 in 4096-byte pieces.
double BoundSeconds(const std::vector<std::uint8_t>& image)
{
    std::size_t chars = 0;
    double flashSeconds = 0;
    for (std::uint32_t at = 0; at < image.size(); at += 4096) {
        chars += PieceChars(at, image.data() + at, 4096);
        flashSeconds += kCopySecondsPer256 * 16;
    }
    return static_cast<double>(chars) * kCharBits / kBaud + flashSeconds;
}

void ProgramThroughTheBootLoader(benchmark::State& state)
{
    const auto size = static_cast<std::uint32_t>(state.range(0));
    std::vector<std::uint8_t> image(size);
    std::minstd_rand random(7);
    for (auto& b : image) {
        b = static_cast<std::uint8_t>(random());
    }
    const auto dir = fs::temp_directory_path() / ("isp_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const auto hex = dir / "image.hex";
    torvik::platform::WriteFileSafely(hex, torvik::hexsign::Format_IHexFile(0, image.data(), image.size()));

    torvik::sim::SimOptions options;
    options.bootloader = true;
    options.pace = true;
    torvik::sim::Simulator sim(options);
    std::string error;
    if (!sim.Start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    kq::flashlib::CFlashContainer container(torvik::platform::FromUtf8(SampleContainer().string()));
    kq::flashlib::Version format;
    container.OpenContainer(format);
    kq::flashlib::CFlashDevice device(container);
    device.SetComPortName(sim.DevicePath());
    if (device.ConnectToHW() != 0) {
        state.SkipWithError(device.GetLastError().c_str());
        return;
    }
    device.SetHexFilePath(torvik::platform::FromUtf8(hex.string()));
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (device.ProgramMemory(nullptr, nullptr) != 0) {
            state.SkipWithError(device.GetLastError().c_str());
            break;
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
    }
    device.DisconectHW();
    const double bound = BoundSeconds(image);
    state.counters["bound_s"] = bound;
    state.counters["ratio_to_bound"] = seconds / bound;
    state.counters["KiB_per_s"] = static_cast<double>(size) / 1024.0 / seconds;
    fs::remove_all(dir);
}

}  // namespace

BENCHMARK(ProgramThroughTheBootLoader)
    ->Arg(64 * 1024)
    ->Arg(512 * 1024)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
