#include <device/device_session.hpp>

#include <devicelink/torvik_api.h>
#include <platform/install_layout.hpp>
#include <platform/process.hpp>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace torvik::studio {

namespace {

constexpr std::uint32_t kBlock = 16;

std::string ConnectError(const std::string& port, std::int32_t r, std::int32_t systemError)
{
    const std::string reason =
        systemError > 0 ? " (" + std::generic_category().message(systemError) + ")" : std::string();
    if (r == -1) {
        return "port " + port + " is already in use";
    }
    if (r == -2 && systemError == EBUSY) {
        return "port " + port + " is in use by another program" + reason;
    }
    if (r == -2) {
        return "cannot open port " + port + (reason.empty() ? " (no such device)" : reason);
    }
    if (r == -3 || r == -4) {
        return "cannot set up port " + port + (reason.empty() ? " (result " + std::to_string(r) + ")" : reason);
    }
    if (r <= -100 && r > -300) {
        return "cannot set up port " + port + " (result " + std::to_string(r) + ")";
    }
    if (r == -314) {
        return "no answer from a device on " + port;
    }
    return "the device on " + port + " did not accept the connection (result " + std::to_string(r) + ")";
}

}  // namespace

DeviceSession::DeviceSession(const std::string& port, std::uint32_t timeoutMs) : port_(port)
{
    handle_ = NewTorvik();
    if (handle_ == nullptr) {
        throw DeviceError("cannot create a device session");
    }
    const std::int32_t r = ConnectTorvik(handle_, port_.c_str(), timeoutMs, timeoutMs);
    if (r != 0) {
        const std::string message = ConnectError(port_, r, LastConnectErrorTorvik(handle_));
        DeleteTorvik(handle_);
        handle_ = nullptr;
        throw DeviceError(message);
    }
}

DeviceSession::~DeviceSession()
{
    if (handle_ != nullptr) {
        DisconnectTorvik(handle_);
        DeleteTorvik(handle_);
    }
}

std::int32_t DeviceSession::ProtocolLevel()
{
    const std::int32_t level = GetVersionTorvik(handle_);
    if (level < 0) {
        throw DeviceError("no answer from the device on " + port_ + " (result " + std::to_string(level) + ")");
    }
    return level;
}

// The device may have said no (a refusal status or an error reply), or no valid answer came: then a
// write's outcome is unknown, since the device may have done it and lost or garbled only its answer.
// `unknownOutcome` says so for a write; a read leaves it empty.
std::string DeviceSession::CommandFailure(std::int32_t r, const std::string& what, const std::string& unknownOutcome) const
{
    constexpr std::int32_t kRefusedResult = -21;
    constexpr std::int32_t kFailedWait = -14;  // an error reply, or no valid answer
    constexpr std::int32_t kHardwareNotice = 0x10000;
    constexpr std::int32_t kRefusedStatus = 0xFFFF;
    const std::string result = " (result " + std::to_string(r) + ")";
    const std::int32_t reply = LastReplyTorvik(handle_);
    if (r == kRefusedResult || (r > 0 && (r & kRefusedStatus) == kRefusedStatus) ||
        (r == kFailedWait && reply >= 0x81 && reply <= 0x83)) {
        return "the device refused " + what + result;
    }
    if (r < 0 && r > -10) {
        return "cannot send the command for " + what + " to the device" + result;
    }
    if (!unknownOutcome.empty() && r == kHardwareNotice) {
        return "the device acknowledged " + what + " but reported a hardware error" + result;
    }
    return "no valid answer from the device to " + what + result + unknownOutcome;
}

std::string DeviceSession::EepromFailure(std::int32_t r, bool writing, std::uint32_t count, std::uint32_t address) const
{
    const std::string what = std::string(writing ? "writing " : "reading ") + std::to_string(count) +
                             " bytes at address " + std::to_string(address);
    return CommandFailure(r, what, writing ? "; the bytes may have been written" : "");
}

void DeviceSession::CheckEepromRead(std::uint32_t address, std::uint32_t length)
{
    if (length == 0 || address >= kEepromSize || length > kEepromSize - address) {
        throw DeviceError("the range of " + std::to_string(length) + " bytes at " + std::to_string(address) +
                          " is outside the 4096-byte EEPROM");
    }
}

void DeviceSession::CheckEepromWrite(std::uint32_t address, std::size_t count)
{
    if (address < kFirstUserEepromAddress) {
        throw DeviceError("EEPROM address " + std::to_string(address) + " is reserved; writes start at 30");
    }
    if (address >= kEepromSize || count > kEepromSize - address) {
        throw DeviceError("the bytes do not fit the 4096-byte EEPROM at address " + std::to_string(address));
    }
}

std::vector<std::uint8_t> DeviceSession::ReadEeprom(std::uint32_t address, std::uint32_t length)
{
    CheckEepromRead(address, length);
    std::vector<std::uint8_t> bytes(length);
    for (std::uint32_t done = 0; done < length; done += kBlock) {
        const auto count = static_cast<std::uint8_t>(std::min(kBlock, length - done));
        const std::int32_t r =
            ReadEepromTorvik(handle_, static_cast<std::uint16_t>(address + done), count, bytes.data() + done);
        if (r != 0) {
            throw DeviceError(EepromFailure(r, false, count, address + done));
        }
    }
    return bytes;
}

void DeviceSession::WriteEeprom(std::uint32_t address, const std::vector<std::uint8_t>& bytes)
{
    CheckEepromWrite(address, bytes.size());
    for (std::size_t done = 0; done < bytes.size(); done += kBlock) {
        const auto count = static_cast<std::uint8_t>(std::min<std::size_t>(kBlock, bytes.size() - done));
        const std::int32_t r =
            WriteEepromTorvik(handle_, static_cast<std::uint16_t>(address + done), count, bytes.data() + done);
        if (r != 0) {
            std::string message = EepromFailure(r, true, count, static_cast<std::uint32_t>(address + done));
            if (done > 0) {
                message += " (the " + std::to_string(done) + " bytes before were written)";
            }
            throw DeviceError(message);
        }
    }
}

std::int64_t DeviceSession::GetTime()
{
    std::int64_t seconds = 0;
    const std::int32_t r = GetTimeTorvik(handle_, &seconds);
    if (r != 0) {
        throw DeviceError(CommandFailure(r, "reading its clock", ""));
    }
    return seconds;
}

void DeviceSession::SetTime(std::int64_t seconds)
{
    const std::int32_t r = SetTimeTorvik(handle_, seconds);
    if (r != 0) {
        throw DeviceError(CommandFailure(r, "setting its clock", "; the clock may have been set"));
    }
}

void DeviceSession::RestartAndConfirm()
{
    const std::int32_t r = RebootTorvik(handle_, true);
    if (r < 0) {
        throw DeviceError("the device did not restart (result " + std::to_string(r) + ")");
    }
    // The restart waits a few seconds for the device but succeeds whether or not it came back.
    const std::int32_t level = GetVersionTorvik(handle_);
    if (level < 0) {
        throw DeviceError("the device did not answer after the restart (result " + std::to_string(level) + ")");
    }
}

void DeviceSession::EnterBootLoader()
{
    const std::int32_t r = BootloaderTorvik(handle_);
    if (r < 0) {
        throw DeviceError("cannot switch the Torvik4 on " + port_ + " to its boot loader (result " + std::to_string(r) +
                          ")");
    }
}

std::filesystem::path LocalFlashContainer()
{
    return platform::DataFile(platform::ExecutableDirectory(), kContainerName);
}

}  // namespace torvik::studio
