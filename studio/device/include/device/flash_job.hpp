#pragma once

// The device's flash, as a front end works with it: ask the device into its boot loader, connect with
// the programming options of the local flash container, identify, read, program, erase, restart.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <device/device_session.hpp>

namespace kq::flashlib {
class CFlashContainer;
class CFlashDevice;
}

namespace torvik::studio {

/// A flash job that could not be done; the message says what and why.
using FlashJobError = DeviceError;

/// What a long step has done: its name ("erasing", "programming", "verifying", "reading") and bytes.
struct FlashProgress {
    std::string step;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};

/// The device as its boot loader and identity block describe it.
struct FlashDeviceFacts {
    std::uint32_t part_id = 0;
    std::uint32_t boot_major = 0;
    std::uint32_t boot_minor = 0;
    int product_code = -1;
    int serial_number = -1;
    std::string hardware_version;
    std::string firmware_version;
};

/// One connection to the device's boot loader for a run of flash steps. Construction connects (first
/// asking a device that still runs its application into the boot loader); destruction restarts the
/// device into its application unless `KeepInBootLoader` was called, and disconnects.
class FlashJob {
public:
    using ProgressSink = std::function<void(const FlashProgress&)>;

    /// `port`: COM<n> or a device path. `container`: the flash container whose programming options and
    /// identity positions apply (empty: LocalFlashContainer()).
    FlashJob(const std::string& port, ProgressSink progress, const std::filesystem::path& container = {});
    ~FlashJob();
    FlashJob(const FlashJob&) = delete;
    FlashJob& operator=(const FlashJob&) = delete;

    const std::string& port() const { return port_; }
    FlashDeviceFacts Facts();
    /// `count` bytes from `address`.
    std::vector<std::uint8_t> Read(std::uint32_t address, std::uint32_t count);
    /// Erases the sectors the file touches, programs it and verifies every byte. A code read protection
    /// value in the file is refused unless `allowProtection`.
    void Write(const std::filesystem::path& hexFile, bool allowProtection = false);
    /// Erases sectors `first` to `last` and checks that they are blank.
    void Erase(int first, int last);
    /// Restarts the device into its application now (and not again at the end).
    void Restart();
    void KeepInBootLoader() { restart_ = false; }

    /// The sectors an Intel HEX file puts data into, in ascending order.
    static std::vector<int> SectorsOf(const std::filesystem::path& hexFile);

private:
    [[noreturn]] void Fail(const std::string& what) const;
    void Step(const char* name);

    std::string port_;
    ProgressSink progress_;
    std::unique_ptr<kq::flashlib::CFlashContainer> container_;
    std::unique_ptr<kq::flashlib::CFlashDevice> device_;
    bool restart_ = true;
    std::string step_;
};

}  // namespace torvik::studio
