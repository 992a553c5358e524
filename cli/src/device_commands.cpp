// torvik ports|ping|eeprom: serial ports and the device's run-time services, through the C interface of
// the device link library, the way the desktop program's dialogs use it.
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <devicelink/torvik_api.h>
#include <devicelink/ports.hpp>

#include "commands.hpp"

namespace torvik::cli {

namespace {

constexpr std::uint32_t kEepromSize = 4096;
constexpr std::uint32_t kBlock = 16;
// Every wait for the device is bounded by the time-out, so it must stay short enough to end.
constexpr std::uint32_t kMinTimeoutMs = 1;
constexpr std::uint32_t kMaxTimeoutMs = 60000;

struct DeviceOptions {
    std::string port;
    std::uint32_t timeout_ms = 1000;
};

/// One session from NewTorvik to DeleteTorvik.
class Session {
public:
    explicit Session(const DeviceOptions& options) : port_(options.port)
    {
        handle_ = NewTorvik();
        if (handle_ == nullptr) {
            throw CommandError("cannot create a device session");
        }
        const std::int32_t r = ConnectTorvik(handle_, port_.c_str(), options.timeout_ms, options.timeout_ms);
        if (r != 0) {
            const std::string message = ConnectError(r, LastConnectErrorTorvik(handle_));
            DeleteTorvik(handle_);
            handle_ = nullptr;
            throw CommandError(message);
        }
    }
    ~Session()
    {
        if (handle_ != nullptr) {
            DisconnectTorvik(handle_);
            DeleteTorvik(handle_);
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void* handle() const { return handle_; }

private:
    std::string ConnectError(std::int32_t r, std::int32_t system_error) const
    {
        const std::string reason =
            system_error > 0 ? " (" + std::generic_category().message(system_error) + ")" : std::string();
        if (r == -1) {
            return "port " + port_ + " is already in use";
        }
        if (r == -2 && system_error == EBUSY) {
            return "port " + port_ + " is in use by another program" + reason;
        }
        if (r == -2) {
            return "cannot open port " + port_ + (reason.empty() ? " (no such device)" : reason);
        }
        if (r == -3 || r == -4) {
            return "cannot set up port " + port_ + (reason.empty() ? " (result " + std::to_string(r) + ")" : reason);
        }
        if (r <= -100 && r > -300) {
            return "cannot set up port " + port_ + " (result " + std::to_string(r) + ")";
        }
        if (r == -314) {
            return "no answer from a device on " + port_;
        }
        return "the device on " + port_ + " did not accept the connection (result " + std::to_string(r) + ")";
    }

    std::string port_;
    void* handle_ = nullptr;
};

// Decimal, or hexadecimal after "0x": "040" is forty. No sign, blanks or other bases.
// The line for an EEPROM block that failed. The device may have said no (a refusal status or an error
// reply), or no valid answer came: then a write's outcome is unknown, since the device may have stored the
// bytes and lost or garbled only its answer.
std::string EepromFailure(void* session, std::int32_t r, bool writing, std::uint32_t count, std::uint32_t address)
{
    constexpr std::int32_t kRefusedResult = -21;
    constexpr std::int32_t kFailedWait = -14;  // an error reply, or no valid answer
    constexpr std::int32_t kHardwareNotice = 0x10000;
    constexpr std::int32_t kRefusedStatus = 0xFFFF;
    const std::string what = std::string(writing ? "writing " : "reading ") + std::to_string(count) +
                             " bytes at address " + std::to_string(address);
    const std::string result = " (result " + std::to_string(r) + ")";
    const std::int32_t reply = LastReplyTorvik(session);
    if (r == kRefusedResult || (r > 0 && (r & kRefusedStatus) == kRefusedStatus) ||
        (r == kFailedWait && reply >= 0x81 && reply <= 0x83)) {
        return "the device refused " + what + result;
    }
    if (r < 0 && r > -10) {
        return "cannot send the command for " + what + " to the device" + result;
    }
    if (writing && r == kHardwareNotice) {
        return "the device acknowledged " + what + " but reported a hardware error" + result;
    }
    return "no valid answer from the device to " + what + result + (writing ? "; the bytes may have been written" : "");
}

void AddDeviceOptions(CLI::App& command, DeviceOptions& options)
{
    command.add_option("--port", options.port, "COM<n> or a device path such as /dev/ttyUSB0")->required();
    command.add_option("--timeout", options.timeout_ms, "Read and write time-out in ms (1 to 60000)")
        ->capture_default_str()
        ->check(CLI::Range(kMinTimeoutMs, kMaxTimeoutMs));
}

void RunPorts()
{
    const auto ports = devicelink::ListPorts();
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
    Session session(options);
    const auto start = std::chrono::steady_clock::now();
    const std::int32_t level = GetVersionTorvik(session.handle());
    const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
    if (level < 0) {
        throw CommandError("no answer from the device on " + options.port + " (result " + std::to_string(level) + ")");
    }
    std::printf("%s: Torvik4 answered in %.1f ms, protocol level %d\n", options.port.c_str(), elapsed.count(),
                static_cast<int>(level));
}

void RunEepromRead(const DeviceOptions& options, const std::string& address_text, const std::string& length_text)
{
    const std::uint32_t address = ParseNumber(address_text, "address", kEepromSize - 1);
    const std::uint32_t length = ParseNumber(length_text, "length", kEepromSize);
    if (length == 0 || address + length > kEepromSize) {
        throw CommandError("the range of " + std::to_string(length) + " bytes at " + std::to_string(address) +
                           " is outside the 4096-byte EEPROM");
    }
    Session session(options);
    std::vector<std::uint8_t> bytes(length);
    for (std::uint32_t done = 0; done < length; done += kBlock) {
        const auto count = static_cast<std::uint8_t>(std::min(kBlock, length - done));
        const std::int32_t r =
            ReadEepromTorvik(session.handle(), static_cast<std::uint16_t>(address + done), count, bytes.data() + done);
        if (r != 0) {
            throw CommandError(EepromFailure(session.handle(), r, false, count, address + done));
        }
    }
    for (std::uint32_t line = 0; line < length; line += kBlock) {
        std::printf("%04X:", address + line);
        for (std::uint32_t i = line; i < std::min(length, line + kBlock); ++i) {
            std::printf(" %02X", bytes[i]);
        }
        std::printf("\n");
    }
}

void RunEepromWrite(const DeviceOptions& options, const std::string& address_text,
                    const std::vector<std::string>& byte_texts, bool reboot)
{
    const std::uint32_t address = ParseNumber(address_text, "address", kEepromSize - 1);
    std::vector<std::uint8_t> bytes;
    for (const auto& text : byte_texts) {
        bytes.push_back(static_cast<std::uint8_t>(ParseNumber(text, "byte", 0xFF)));
    }
    if (address < 30) {
        throw CommandError("EEPROM address " + std::to_string(address) + " is reserved; writes start at 30");
    }
    if (address + bytes.size() > kEepromSize) {
        throw CommandError("the bytes do not fit the 4096-byte EEPROM at address " + std::to_string(address));
    }
    Session session(options);
    for (std::size_t done = 0; done < bytes.size(); done += kBlock) {
        const auto count = static_cast<std::uint8_t>(std::min<std::size_t>(kBlock, bytes.size() - done));
        const std::int32_t r =
            WriteEepromTorvik(session.handle(), static_cast<std::uint16_t>(address + done), count, bytes.data() + done);
        if (r != 0) {
            std::string message =
                EepromFailure(session.handle(), r, true, count, static_cast<std::uint32_t>(address + done));
            if (done > 0) {
                message += " (the " + std::to_string(done) + " bytes before were written)";
            }
            throw CommandError(message);
        }
    }
    if (reboot) {
        const std::int32_t r = RebootTorvik(session.handle(), true);
        if (r < 0) {
            throw CommandError("the device did not restart (result " + std::to_string(r) + ")");
        }
        // The restart waits a few seconds for the device but succeeds whether or not it came back.
        const std::int32_t level = GetVersionTorvik(session.handle());
        if (level < 0) {
            throw CommandError("the device did not answer after the restart (result " + std::to_string(level) +
                               "); the bytes were written");
        }
    }
    std::printf("wrote %zu bytes at address %u\n", bytes.size(), address);
}

}  // namespace

void AddDeviceCommands(CLI::App& app)
{
    app.add_subcommand("ports", "List serial ports: COM name, device path, adapter")->callback(RunPorts);

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
