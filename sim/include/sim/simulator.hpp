#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sim/device.hpp>
#include <sim/isp.hpp>

namespace torvik::platform {
class PseudoTerminal;
}

namespace torvik::sim {

/// Faults and timing of the simulated device.
struct SimOptions {
    std::string state_file;                 ///< flash, EEPROM and clock; empty: kept in memory only
    std::uint32_t async_interval_ms = 100;  ///< period of the asynchronous messages of enabled requests
    std::uint32_t drop_every_nth_byte = 0;  ///< drop every n-th byte the device sends (0: none)
    /// Application: corrupt the checksum of every n-th answer. Boot loader: send every n-th R block with a
    /// wrong checksum and answer every n-th W block with RESEND (0: none).
    std::uint32_t corrupt_every_nth = 0;
    bool silent = false;                   ///< answer nothing
    bool hw_error_notices = false;         ///< send a hardware-error notice before every answer
    bool eeprom_write_protected = false;   ///< answer every EEPROM write with a command-failed reply
    std::uint32_t reboot_ms = 50;          ///< how long a reboot keeps the device silent
    bool bootloader = false;               ///< start in the boot loader instead of the application
    bool bootloader_synchronised = false;  ///< with `bootloader`: start past the handshake, taking commands
    /// Send no byte faster than the terminal's line rate (10 bits a character), answer received bytes no
    /// earlier than they would have arrived at that rate, and take the boot loader's flash times.
    bool pace = false;
    IspQuirks isp;  ///< the boot loader's quirks and the highest rate it synchronises at
};

/// A simulated Torvik4 behind a pseudo-terminal. Start() opens the terminal and runs the device on its
/// own thread until Stop() or destruction. The state file is written after every EEPROM or clock change,
/// once the line is idle after flash changes, and when the device stops.
class Simulator {
public:
    static constexpr std::size_t kEepromSize = DeviceState::kEepromSize;
    static constexpr std::size_t kFlashSize = DeviceState::kFlashSize;

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

    SimMode Mode() const;
    /// Changes faults while running (tests).
    void SetSilent(bool silent) { silent_ = silent; }
    void SetHwErrorNotices(bool on) { hw_errors_ = on; }
    void SetEepromWriteProtected(bool on) { write_protected_ = on; }
    void SetCorruptEveryNth(std::uint32_t n) { corrupt_nth_ = n; }
    void SetDropEveryNthByte(std::uint32_t n) { drop_nth_ = n; }

    /// Copies of the device memory (tests; safe while running).
    std::vector<std::uint8_t> Eeprom() const;
    std::vector<std::uint8_t> Flash() const;
    std::vector<std::uint8_t> Ram() const;
    /// Packets received so far in application mode (decoded frames, tests).
    std::vector<std::vector<std::uint8_t>> ReceivedFrames() const;
    /// Changes flash behind the host's back (tests; safe while running). Bytes past the end are ignored.
    void WriteFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

private:
    struct Impl;
    void Run() noexcept;

    SimOptions options_;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<platform::PseudoTerminal> pty_;
    int line_fd_ = -1;  // the terminal side, for reading the rate the host set
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> silent_{false};
    std::atomic<bool> hw_errors_{false};
    std::atomic<bool> write_protected_{false};
    std::atomic<std::uint32_t> corrupt_nth_{0};
    std::atomic<std::uint32_t> drop_nth_{0};
};

}  // namespace torvik::sim
