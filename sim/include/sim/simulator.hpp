#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace torvik::platform {
class PseudoTerminal;
}

namespace torvik::sim {

/// Faults and timing of the simulated device.
struct SimOptions {
    std::string state_file;                 ///< flash, EEPROM and clock; empty: kept in memory only
    std::uint32_t async_interval_ms = 100;  ///< period of the asynchronous messages of enabled requests
    std::uint32_t drop_every_nth_byte = 0;  ///< drop every n-th byte the device sends (0: none)
    std::uint32_t corrupt_every_nth = 0;    ///< corrupt the checksum of every n-th answer (0: none)
    bool silent = false;                    ///< answer nothing
    bool hw_error_notices = false;          ///< send a hardware-error notice before every answer
    bool eeprom_write_protected = false;    ///< answer every EEPROM write with a command-failed reply
    std::uint32_t reboot_ms = 50;           ///< how long a reboot keeps the device silent
};

/// The device's operating mode.
enum class SimMode { Application, Bootloader };

/// Sends raw bytes to the host (boot-loader handlers answer through it).
using SimSend = std::function<void(const std::uint8_t* bytes, std::size_t count)>;
/// Handles the raw bytes that arrive in boot-loader mode.
using BootloaderHandler = std::function<void(const std::uint8_t* bytes, std::size_t count, const SimSend& send)>;

/// A simulated Torvik4 behind a pseudo-terminal. Start() opens the terminal and runs the device on its
/// own thread until Stop() or destruction; the state file is written whenever EEPROM, flash or clock
/// change and when the device stops.
class Simulator {
public:
    static constexpr std::size_t kEepromSize = 4096;
    static constexpr std::size_t kFlashSize = 512 * 1024;

    explicit Simulator(SimOptions options = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    /// Loads the state file (a missing file gives a fresh device), opens the terminal and starts.
    /// Returns false with a message in error on failure.
    bool Start(std::string& error);
    void Stop();
    /// Path of the terminal a host opens.
    std::string DevicePath() const;

    SimMode Mode() const { return mode_; }
    void SetBootloaderHandler(BootloaderHandler handler);
    /// Changes faults while running (tests).
    void SetSilent(bool silent) { silent_ = silent; }
    void SetHwErrorNotices(bool on) { hw_errors_ = on; }
    void SetCorruptEveryNth(std::uint32_t n) { corrupt_nth_ = n; }
    void SetDropEveryNthByte(std::uint32_t n) { drop_nth_ = n; }

    /// Copies of the device memory (tests).
    std::vector<std::uint8_t> Eeprom() const;
    std::vector<std::uint8_t> Flash() const;
    /// Packets received so far (decoded frames, tests).
    std::vector<std::vector<std::uint8_t>> ReceivedFrames() const;
    /// Bytes of flash for a boot-loader handler.
    void WriteFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

private:
    struct Impl;
    void Run() noexcept;

    SimOptions options_;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<platform::PseudoTerminal> pty_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<SimMode> mode_{SimMode::Application};
    std::atomic<bool> silent_{false};
    std::atomic<bool> hw_errors_{false};
    std::atomic<std::uint32_t> corrupt_nth_{0};
    std::atomic<std::uint32_t> drop_nth_{0};
};

}  // namespace torvik::sim
