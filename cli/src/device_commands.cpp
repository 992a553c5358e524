// torvik ports|ping|eeprom: serial ports and the device's run-time services, through the C interface of
// the device link library, the way the desktop program's dialogs use it.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <device/device_session.hpp>
#include <devicelink/ports.hpp>

#include "commands.hpp"

namespace torvik::cli {

namespace {

constexpr std::uint32_t kBlock = 16;
// Every wait for the device is bounded by the time-out, so it must stay short enough to end.
constexpr std::uint32_t kMinTimeoutMs = 1;
constexpr std::uint32_t kMaxTimeoutMs = 60000;

struct DeviceOptions {
    std::string port;
    std::uint32_t timeout_ms = 1000;
};

// Runs work on a session; the core's failures become the command's one line.
template <typename Work>
void WithSession(const DeviceOptions& options, Work work, std::function<void()> check = {})
{
    try {
        if (check) {
            check();  // before the port is opened
        }
        studio::DeviceSession session(PortOrSettings(options.port), options.timeout_ms);
        work(session);
    } catch (const studio::DeviceError& e) {
        throw CommandError(e.what());
    }
}

void AddDeviceOptions(CLI::App& command, DeviceOptions& options)
{
    command.add_option("--port", options.port,
                       "COM<n> or a device path such as /dev/ttyUSB0 (default: the port the settings choose)");
    command.add_option("--timeout", options.timeout_ms, "Read and write time-out in ms (1 to 60000)")
        ->capture_default_str()
        ->check(CLI::Range(kMinTimeoutMs, kMaxTimeoutMs));
}

void RunPorts(bool json)
{
    const auto ports = devicelink::ListPorts();
    if (json) {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const auto& port : ports) {
            out.push_back({{"com", port.com_number > 0 ? nlohmann::ordered_json("COM" + std::to_string(port.com_number))
                                                       : nlohmann::ordered_json(nullptr)},
                           {"path", port.path},
                           {"adapter", port.description}});
        }
        std::printf("%s\n", out.dump(2).c_str());
        return;
    }
    for (const auto& port : ports) {
        const std::string name = port.com_number > 0 ? "COM" + std::to_string(port.com_number) : "-";
        std::printf("%-7s %-28s %s\n", name.c_str(), port.path.c_str(), port.description.c_str());
    }
    if (ports.empty()) {
        std::fprintf(stderr, "torvik: no serial ports found\n");
    }
}

void RunPing(const DeviceOptions& options)
{
    WithSession(options, [&](studio::DeviceSession& session) {
        const auto start = std::chrono::steady_clock::now();
        const std::int32_t level = session.ProtocolLevel();
        const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
        std::printf("%s: Torvik4 answered in %.1f ms, protocol level %d\n", session.port().c_str(), elapsed.count(),
                    static_cast<int>(level));
    });
}

void RunEepromRead(const DeviceOptions& options, const std::string& address_text, const std::string& length_text)
{
    const std::uint32_t address = ParseNumber(address_text, "address", studio::kEepromSize - 1);
    const std::uint32_t length = ParseNumber(length_text, "length", studio::kEepromSize);
    WithSession(options, [&](studio::DeviceSession& session) {
        const auto bytes = session.ReadEeprom(address, length);
        for (std::uint32_t line = 0; line < length; line += kBlock) {
            std::printf("%04X:", address + line);
            for (std::uint32_t i = line; i < std::min(length, line + kBlock); ++i) {
                std::printf(" %02X", bytes[i]);
            }
            std::printf("\n");
        }
    }, [&] { studio::DeviceSession::CheckEepromRead(address, length); });
}

void RunEepromWrite(const DeviceOptions& options, const std::string& address_text,
                    const std::vector<std::string>& byte_texts, bool reboot)
{
    const std::uint32_t address = ParseNumber(address_text, "address", studio::kEepromSize - 1);
    std::vector<std::uint8_t> bytes;
    for (const auto& text : byte_texts) {
        bytes.push_back(static_cast<std::uint8_t>(ParseNumber(text, "byte", 0xFF)));
    }
    WithSession(options, [&](studio::DeviceSession& session) {
        session.WriteEeprom(address, bytes);
        if (reboot) {
            try {
                session.RestartAndConfirm();
            } catch (const studio::DeviceError& e) {
                throw studio::DeviceError(std::string(e.what()) + "; the bytes were written");
            }
        }
        std::printf("wrote %zu bytes at address %u\n", bytes.size(), address);
    }, [&] { studio::DeviceSession::CheckEepromWrite(address, bytes.size()); });
}

}  // namespace

void AddDeviceCommands(CLI::App& app)
{
    auto portsJson = std::make_shared<bool>(false);
    auto* ports = app.add_subcommand("ports", "List serial ports: COM name, device path, adapter");
    ports->add_flag("--json", *portsJson, "Print as JSON");
    ports->callback([portsJson] { RunPorts(*portsJson); });

    auto options = std::make_shared<DeviceOptions>();
    auto* ping = app.add_subcommand("ping", "Connect to a Torvik4 and check that it answers");
    AddDeviceOptions(*ping, *options);
    ping->callback([options] { RunPing(*options); });

    auto* eeprom = app.add_subcommand("eeprom", "Read or write the device's EEPROM");
    eeprom->require_subcommand(1);

    auto read_options = std::make_shared<DeviceOptions>();
    auto read_args = std::make_shared<std::pair<std::string, std::string>>();
    auto* read = eeprom->add_subcommand("read", "Print LEN bytes from ADDR (numbers in decimal or 0x hex)");
    AddDeviceOptions(*read, *read_options);
    read->add_option("ADDR", read_args->first, "Start address")->required();
    read->add_option("LEN", read_args->second, "Number of bytes")->required();
    read->callback([read_options, read_args] { RunEepromRead(*read_options, read_args->first, read_args->second); });

    auto write_options = std::make_shared<DeviceOptions>();
    auto write_address = std::make_shared<std::string>();
    auto write_bytes = std::make_shared<std::vector<std::string>>();
    auto write_reboot = std::make_shared<bool>(false);
    auto* write = eeprom->add_subcommand("write", "Write BYTES from ADDR (address 30 and above)");
    AddDeviceOptions(*write, *write_options);
    write->add_option("ADDR", *write_address, "Start address")->required();
    write->add_option("BYTES", *write_bytes, "Byte values")->required();
    write->add_flag("--reboot", *write_reboot, "Restart the device afterwards, as the desktop program does");
    write->callback([=] { RunEepromWrite(*write_options, *write_address, *write_bytes, *write_reboot); });
}

}  // namespace torvik::cli
