#pragma once

// One connection to the device's command protocol, as every front end uses it: the connection with its
// failures in words, the EEPROM in the device's 16-byte blocks with refusals told apart from lost answers,
// a restart that is confirmed, and the switch into the boot loader.

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace torvik::studio {

/// A device job that could not be done; the message says what and why.
class DeviceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The local flash container, which identifies the device before a flash job.
inline constexpr const char* kContainerName = "Torvik4-FlashContainer.fkq";
/// Where the device jobs find it: beside the program, or in the data folder of its install.
std::filesystem::path LocalFlashContainer();

inline constexpr std::uint32_t kEepromSize = 4096;
/// Addresses below this hold the device's own settings; writes start here.
inline constexpr std::uint32_t kFirstUserEepromAddress = 30;

/// From NewTorvik and ConnectTorvik to DisconnectTorvik and DeleteTorvik.
class DeviceSession {
public:
    /// Connects; a failure says why (in use, no such device, no answer, ...).
    DeviceSession(const std::string& port, std::uint32_t timeoutMs = 1000);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    void* handle() const { return handle_; }
    const std::string& port() const { return port_; }

    /// The device's protocol level.
    std::int32_t ProtocolLevel();
    std::vector<std::uint8_t> ReadEeprom(std::uint32_t address, std::uint32_t length);
    /// Writes from `address` (at least kFirstUserEepromAddress).
    void WriteEeprom(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    /// The range checks of ReadEeprom and WriteEeprom, for a front end to make before it connects.
    static void CheckEepromRead(std::uint32_t address, std::uint32_t length);
    static void CheckEepromWrite(std::uint32_t address, std::size_t count);
    /// The device's clock: seconds since 1970 of its own wall-clock time, 0 to 0xFFFFFFFF.
    std::int64_t GetTime();
    /// Sets the device's clock; it keeps the low 32 bits of `seconds`.
    void SetTime(std::int64_t seconds);
    /// Restarts the device and fails unless it answers again afterwards.
    void RestartAndConfirm();
    /// Asks the device into its boot loader.
    void EnterBootLoader();

private:
    std::string CommandFailure(std::int32_t result, const std::string& what, const std::string& unknownOutcome) const;
    std::string EepromFailure(std::int32_t result, bool writing, std::uint32_t count, std::uint32_t address) const;

    std::string port_;
    void* handle_ = nullptr;
};

}  // namespace torvik::studio
