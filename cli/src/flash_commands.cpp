// torvik flash info|read|write|erase: the device's flash through its boot loader.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <device/flash_job.hpp>
#include <hexsign/ihex.hpp>
#include <platform/files.hpp>
#include <platform/isp.hpp>

#include "commands.hpp"

namespace torvik::cli {

namespace {

using nlohmann::ordered_json;
using studio::FlashJob;
using studio::FlashJobError;
using studio::FlashProgress;

struct FlashOptions {
    std::string port;
    bool json = false;
};

// Shows the bytes of each step: a bar that redraws itself on a terminal, a line per tenth elsewhere.
class ProgressView {
public:
    explicit ProgressView(bool quiet) : quiet_(quiet), terminal_(::isatty(STDOUT_FILENO) == 1) {}
    ~ProgressView() { EndLine(); }
    ProgressView(const ProgressView&) = delete;
    ProgressView& operator=(const ProgressView&) = delete;

    void operator()(const FlashProgress& p)
    {
        if (quiet_) {
            return;
        }
        if (p.step != step_) {
            EndLine();
            step_ = p.step;
            started_ = std::chrono::steady_clock::now();
            tenth_ = -1;
        }
        if (p.total == 0) {
            return;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        const double rate = seconds > 0 ? static_cast<double>(p.done) / seconds / 1024.0 : 0.0;
        const auto percent = static_cast<int>(100 * p.done / p.total);
        if (terminal_) {
            const int filled = percent / 4;
            std::printf("\r%-12s [%s%s] %3d%%  %llu/%llu bytes  %.1f KB/s", step_.c_str(), std::string(filled, '#').c_str(),
                        std::string(25 - filled, '.').c_str(), percent, static_cast<unsigned long long>(p.done),
                        static_cast<unsigned long long>(p.total), rate);
            open_ = true;
        } else if (percent / 10 != tenth_) {
            tenth_ = percent / 10;
            std::printf("%s: %llu/%llu bytes (%d%%), %.1f KB/s\n", step_.c_str(), static_cast<unsigned long long>(p.done),
                        static_cast<unsigned long long>(p.total), percent, rate);
        }
        std::fflush(stdout);
    }

private:
    void EndLine()
    {
        if (open_) {
            std::printf("\n");
            open_ = false;
        }
    }

    bool quiet_;
    bool terminal_;
    bool open_ = false;
    int tenth_ = -1;
    std::string step_;
    std::chrono::steady_clock::time_point started_;
};

std::string Hex(std::uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// Runs one job; its failures become the command's one line.
template <typename Work>
void WithJob(const FlashOptions& options, Work work)
{
    auto view = std::make_shared<ProgressView>(options.json);
    try {
        FlashJob job(PortOrSettings(options.port), [view](const FlashProgress& p) { (*view)(p); });
        work(job);
    } catch (const FlashJobError& e) {
        throw CommandError(e.what());
    }
}

void RunInfo(const FlashOptions& options)
{
    WithJob(options, [&](FlashJob& job) {
        const auto f = job.Facts();
        const std::string part = f.part_id == platform::isp::kLpc1769PartId ? "LPC1769" : "unknown";
        const std::string boot = std::to_string(f.boot_major) + "." + std::to_string(f.boot_minor);
        if (options.json) {
            std::cout << ordered_json{{"port", job.port()},
                                      {"part_id", f.part_id},
                                      {"part", part},
                                      {"boot_code_version", boot},
                                      {"product_code", f.product_code},
                                      {"serial_number", f.serial_number},
                                      {"hardware_version", f.hardware_version},
                                      {"firmware_version", f.firmware_version}}
                             .dump(2)
                      << '\n';
            return;
        }
        std::printf("Part:              %s (%s)\n", part.c_str(), Hex(f.part_id, 8).c_str());
        std::printf("Boot code version: %s\n", boot.c_str());
        std::printf("Product code:      %s\n", Hex(static_cast<std::uint32_t>(f.product_code), 4).c_str());
        std::printf("Serial number:     %d\n", f.serial_number);
        std::printf("Hardware version:  %s\n", f.hardware_version.c_str());
        std::printf("Firmware version:  %s\n", f.firmware_version.c_str());
    });
}

void RunRead(const FlashOptions& options, const std::string& addressText, const std::string& lengthText,
             const std::string& output)
{
    const std::uint32_t address = ParseNumber(addressText, "address", platform::isp::kFlashSize - 1);
    const std::uint32_t length = ParseNumber(lengthText, "length", platform::isp::kFlashSize);
    if (length == 0 || std::uint64_t{address} + length > platform::isp::kFlashSize) {
        throw CommandError("the range of " + std::to_string(length) + " bytes at " + Hex(address, 5) +
                           " is outside the 512 KB flash");
    }
    const bool hex = output.size() > 4 && (output.ends_with(".hex") || output.ends_with(".HEX"));
    WithJob(options, [&](FlashJob& job) {
        const auto bytes = job.Read(address, length);
        const std::string text = hex ? hexsign::Format_IHexFile(address, bytes.data(), bytes.size())
                                     : std::string(bytes.begin(), bytes.end());
        platform::WriteRules rules;
        rules.streams = true;
        if (const auto ec = platform::WriteFileSafely(output, text, rules)) {
            throw CommandError("cannot write '" + output + "': " + ec.message());
        }
        if (options.json) {
            std::cout << ordered_json{{"address", address}, {"length", length}, {"file", output},
                                      {"format", hex ? "hex" : "raw"}}
                             .dump(2)
                      << '\n';
        } else if (platform::NamedDescriptor(output) != 1) {
            std::printf("%s: %u bytes from %s\n", output.c_str(), length, Hex(address, 5).c_str());
        }
    });
}

void RunWrite(const FlashOptions& options, const std::string& file, bool allowProtection)
{
    std::vector<int> sectors;
    try {
        sectors = FlashJob::SectorsOf(file);  // a bad file fails before the device is touched
    } catch (const FlashJobError& e) {
        throw CommandError(e.what());
    }
    WithJob(options, [&](FlashJob& job) {
        job.Write(file, allowProtection);
        if (options.json) {
            std::cout << ordered_json{{"file", file}, {"sectors", sectors}, {"verified", true}}.dump(2) << '\n';
        } else {
            std::printf("%s: written and verified (sector%s %s)\n", file.c_str(), sectors.size() == 1 ? "" : "s",
                        Ranges(sectors).c_str());
        }
    });
}

void RunErase(const FlashOptions& options, const std::string& range)
{
    int first = 0;
    int last = platform::isp::kSectorCount - 1;
    if (!range.empty()) {
        const auto dash = range.find('-');
        first = static_cast<int>(ParseNumber(range.substr(0, dash), "sector", platform::isp::kSectorCount - 1));
        last = dash == std::string::npos
                   ? first
                   : static_cast<int>(ParseNumber(range.substr(dash + 1), "sector", platform::isp::kSectorCount - 1));
        if (last < first) {
            throw CommandError("invalid sectors '" + range + "' (the last is below the first)");
        }
    }
    WithJob(options, [&](FlashJob& job) {
        job.Erase(first, last);
        if (options.json) {
            std::cout << ordered_json{{"first_sector", first}, {"last_sector", last}, {"blank", true}}.dump(2) << '\n';
        } else {
            std::printf("sectors %d-%d erased and blank\n", first, last);
        }
    });
}

void AddFlashOptions(CLI::App& command, FlashOptions& options)
{
    command.add_option("--port", options.port,
                       "COM<n> or a device path such as /dev/ttyUSB0 (default: the port the settings choose)");
    command.add_flag("--json", options.json, "Print the result as JSON");
}

}  // namespace

void AddFlashCommands(CLI::App& app)
{
    auto* flash = app.add_subcommand("flash", "The device's flash through its boot loader");
    flash->require_subcommand(1);

    auto info = std::make_shared<FlashOptions>();
    auto* infoCommand = flash->add_subcommand("info", "Part, boot code version and the device's identity fields");
    AddFlashOptions(*infoCommand, *info);
    infoCommand->callback([info] { RunInfo(*info); });

    auto read = std::make_shared<FlashOptions>();
    auto readArgs = std::make_shared<std::vector<std::string>>(3);
    auto* readCommand = flash->add_subcommand("read", "Read LEN bytes from ADDR into FILE (.hex: Intel HEX, else raw)");
    AddFlashOptions(*readCommand, *read);
    readCommand->add_option("ADDR", (*readArgs)[0], "Start address (decimal or 0x hex)")->required();
    readCommand->add_option("LEN", (*readArgs)[1], "Number of bytes")->required();
    readCommand->add_option("-o", (*readArgs)[2], "Output file (- for standard output)")->required();
    readCommand->callback([read, readArgs] { RunRead(*read, (*readArgs)[0], (*readArgs)[1], (*readArgs)[2]); });

    auto write = std::make_shared<FlashOptions>();
    auto writeFile = std::make_shared<std::string>();
    auto allow = std::make_shared<bool>(false);
    auto* writeCommand =
        flash->add_subcommand("write", "Erase the sectors FILE.hex touches, program it and verify every byte");
    AddFlashOptions(*writeCommand, *write);
    writeCommand->add_option("FILE", *writeFile, "Intel HEX file")->required();
    writeCommand->add_flag("--allow-code-read-protection", *allow,
                           "Program a code read protection value at 0x2FC (it can lock the chip for good)");
    writeCommand->callback([write, writeFile, allow] { RunWrite(*write, *writeFile, *allow); });

    auto erase = std::make_shared<FlashOptions>();
    auto sectors = std::make_shared<std::string>();
    auto* eraseCommand = flash->add_subcommand("erase", "Erase sectors (all 30 unless --sectors) and check them blank");
    AddFlashOptions(*eraseCommand, *erase);
    eraseCommand->add_option("--sectors", *sectors, "A or A-B, sectors 0 to 29");
    eraseCommand->callback([erase, sectors] { RunErase(*erase, *sectors); });
}

}  // namespace torvik::cli
