// The signature tool and the container HEX preparation on a full 512 KB firmware image.
#include <benchmark/benchmark.h>

#include <flashlib/flash_container.hpp>
#include <hexsign/ihex.hpp>
#include <hexsign/xorhex4.hpp>
#include <platform/text.hpp>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;
using torvik::hexsign::IHexRecord;

constexpr std::uint32_t kImageSize = 512 * 1024;

// Intel HEX text (LF line ends) of a 512 KB image of pseudo-random bytes, with its end record.
std::string MakeImageHex()
{
    std::FILE* out = std::tmpfile();
    std::minstd_rand random(42);
    IHexRecord record;
    for (std::uint32_t address = 0; address < kImageSize; address += 16) {
        if ((address & 0xFFFFu) == 0) {
            const std::uint8_t upper[2] = {static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16)};
            torvik::hexsign::New_IHexRecord(4, 0, upper, 2, &record);
            torvik::hexsign::Write_IHexRecord(&record, out);
        }
        std::uint8_t data[16];
        for (auto& b : data) {
            b = static_cast<std::uint8_t>(random());
        }
        torvik::hexsign::New_IHexRecord(0, static_cast<std::uint16_t>(address), data, 16, &record);
        torvik::hexsign::Write_IHexRecord(&record, out);
    }
    torvik::hexsign::New_IHexRecord(1, 0, nullptr, 0, &record);
    torvik::hexsign::Write_IHexRecord(&record, out);
    std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    const auto read = std::fread(text.data(), 1, text.size(), out);
    std::fclose(out);
    text.resize(read);
    std::string lf;
    lf.reserve(text.size());
    for (const char c : text) {
        if (c != '\r') {
            lf.push_back(c);
        }
    }
    return lf;
}

const std::string& ImageHex()
{
    static const std::string text = MakeImageHex();
    return text;
}

fs::path BenchDir()
{
    const auto dir = fs::temp_directory_path() / ("flashlib_bench_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    return dir;
}

// The signature tool's whole run on a file: read, sign, write beside it, rename over it.
void BM_SignTool512K(benchmark::State& state)
{
    const auto dir = BenchDir();
    const auto file = dir / "image.hex";
    std::string path = file.string();
    std::string name = "QuenbyFlashUtility";
    char* argv[] = {name.data(), path.data(), nullptr};
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(file, std::ios::binary) << ImageHex();
        state.ResumeTiming();
        if (torvik::hexsign::RunSignTool(2, argv) != 0) {
            state.SkipWithError("signature tool failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageSize);
    fs::remove_all(dir);
}
BENCHMARK(BM_SignTool512K)->Unit(benchmark::kMillisecond);

// A firmware update's HEX preparation: copy out of the container with the identity patched in, then
// sign with the real tool in its own process.
void BM_ModifyHexAndCreateCrc512K(benchmark::State& state)
{
    const auto dir = BenchDir();
    const auto file = dir / "big.fkq";
    std::ofstream(file, std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FLASHCONTAINER CONTAINER_VER=\"1.2\">\n"
           "<FLASHELEMENT FW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\" PRODUCT_CODE=\"4A01\" "
           "PRODUCT_NAME=\"Torvik4\">\n<HEX>"
        << ImageHex()
        << "</HEX>\n<UART_OPTIONS><DEVICE_VERSION_INFO>"
           "<FW_VERSION_INFO START_BYTE=\"300\" LENGTH=\"16\"/><HW_VERSION_INFO START_BYTE=\"302\" LENGTH=\"16\"/>"
           "<PRODUCT_CODE_INFO START_BYTE=\"304\" LENGTH=\"16\"/><SERIALNUMBER_INFO START_BYTE=\"306\" LENGTH=\"16\"/>"
           "</DEVICE_VERSION_INFO></UART_OPTIONS>\n</FLASHELEMENT></FLASHCONTAINER>\n";
    kq::flashlib::CFlashContainer container(torvik::platform::FromUtf8(file.string()));
    kq::flashlib::Version format;
    if (container.OpenContainer(format) != 1 || container.ParseValues() != 0) {
        state.SkipWithError("container did not load");
        return;
    }
    auto& hex = container.GetFlashHexFile();
    hex.SetSerialNumber(1234);
    hex.SetProductCode(0x4A01);
    hex.SetHwVer(kq::flashlib::Version(1, 2));
    for (auto _ : state) {
        if (hex.ModifyHEX() != 0 || hex.CreateCRC() != 0) {
            state.SkipWithError("ModifyHEX or CreateCRC failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageSize);
    fs::remove_all(dir);
}
BENCHMARK(BM_ModifyHexAndCreateCrc512K)->Unit(benchmark::kMillisecond);

// Opening the container alone: loading the 1.4 MB document and reading its values.
void BM_OpenContainer512K(benchmark::State& state)
{
    const auto dir = BenchDir();
    const auto file = dir / "big.fkq";
    std::ofstream(file, std::ios::binary) << "<FLASHCONTAINER CONTAINER_VER=\"1.2\"><FLASHELEMENT FW_VER=\"1.0\" "
                                             "MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\" PRODUCT_CODE=\"4A01\" "
                                             "PRODUCT_NAME=\"Torvik4\"><HEX>"
                                          << ImageHex() << "</HEX></FLASHELEMENT></FLASHCONTAINER>";
    for (auto _ : state) {
        kq::flashlib::CFlashContainer container(torvik::platform::FromUtf8(file.string()));
        kq::flashlib::Version format;
        if (container.OpenContainer(format) != 1 || container.ParseValues() != 0) {
            state.SkipWithError("container did not load");
            break;
        }
        benchmark::DoNotOptimize(container.GetFlashElementHex(nullptr, 0));
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_OpenContainer512K)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
