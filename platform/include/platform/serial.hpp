#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

namespace torvik::platform {

/// Line settings in the codes that the device link library passes around: byte size in bits (5 to 8),
/// stop bits 0 = one, 1 = one and a half (taken as two), 2 = two, parity 0 none, 1 odd, 2 even,
/// 3 mark, 4 space.
struct SerialSettings {
    std::uint32_t baud_bps = 0;
    std::uint8_t byte_size = 8;
    std::uint8_t stop_bits = 0;
    std::uint8_t parity = 0;
};

/// Result of one read or write: the bytes moved and the error that ended the call (empty when it ended
/// by time-out or completion).
struct SerialTransfer {
    std::size_t count = 0;
    std::error_code error;
};

/// One open tty in raw mode. Reads and writes are bounded by the time-out given per call (poll);
/// a read and a write may run at the same time from two threads. Closing while another thread is inside
/// Read or Write is the caller's error.
class SerialDevice {
public:
    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    /// Opens the device path for reading and writing, exclusively (a lock and TIOCEXCL), without becoming
    /// its controlling terminal. A device that another opener holds gives device_or_resource_busy.
    std::error_code Open(const std::string& path);
    /// Reads the current line settings of the open device.
    std::error_code ReadSettings();
    /// Raw mode, the given rate (any rate, through the kernel's arbitrary-rate interface), byte size, stop
    /// bits and parity, receiver on, modem lines ignored and kept on close. A pseudo-terminal takes what
    /// it can: a rate or parity it refuses is not an error there.
    std::error_code ApplySettings(const SerialSettings& settings);
    /// Waits up to timeout_ms for data, then reads what is there, at most count bytes.
    /// count 0 with no error is a time-out.
    SerialTransfer Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms);
    /// Writes all bytes unless the time-out (over the whole call) passes first or an error occurs.
    SerialTransfer Write(const std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms);
    /// Discards what is in both directions of the driver's buffers.
    std::error_code Purge();
    std::error_code Close();
    bool IsOpen() const noexcept { return fd_ >= 0; }
    /// True when the open device is a pseudo-terminal.
    bool IsPseudoTerminal() const noexcept { return pty_; }
    /// Asserts (true) or releases the DTR and RTS lines. ENOTTY where the device has no modem lines.
    std::error_code SetModemLines(bool dtr, bool rts);

private:
    int fd_ = -1;
    bool pty_ = false;
};

/// A pseudo-terminal pair in raw mode: the controlling side stays with the caller (the simulator), the
/// other side is opened by path like any serial device.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    /// Creates the pair. The device path is that of the terminal side.
    std::error_code Open();
    const std::string& DevicePath() const noexcept { return path_; }
    SerialTransfer Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms);
    SerialTransfer Write(const std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms);
    void Close() noexcept;
    bool IsOpen() const noexcept { return fd_ >= 0; }

private:
    int fd_ = -1;
    int keep_fd_ = -1;  // holds the terminal side open so the controlling side never sees a hang-up
    std::string path_;
};

}  // namespace torvik::platform
