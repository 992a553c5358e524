#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <devicelink/export.hpp>
#include <devicelink/serial_io.hpp>

namespace torvik::devicelink {

/// One serial port to the device: SLIP framing, blocking writes, and a send queue drained by a sender
/// thread. Reads and blocking writes run on the caller's thread (or the session's receiver thread); the
/// port may be read on one thread while another writes.
class TORVIK_API SerialPort {
public:
    static const std::uint8_t END = 0xC0;
    static const std::uint8_t ESC = 0xDB;
    static const std::uint8_t ESC_END = 0xDC;
    static const std::uint8_t ESC_ESC = 0xDD;
    static const std::uint8_t ESC_BRK = 0xDE;

    /// Sender thread states.
    enum ThreadState : std::int32_t { IDLE = 0, START_REQ = 1, RUNNING = 2, STOP_REQ = 3, STOPPED = 4, FAILED = 5 };

    /// Largest encoded SLIP frame, both END bytes included.
    static constexpr std::size_t kMaxEncodedFrame = 255;
    /// Most buffers the send queue holds; a further one replaces the newest.
    static constexpr std::size_t kMaxQueuedBuffers = 65536;

    SerialPort();
    /// A port that is not connected, with the source's settings, time-outs and name.
    SerialPort(const SerialPort& other);
    /// Copies settings, time-outs and name; only for a target that is not connected.
    SerialPort& operator=(const SerialPort& other);
    ~SerialPort();

    /// 0 connected; 1 already connected under the same name; -1 already connected under another name;
    /// -2 opening failed (unknown port name included); -3 reading the settings failed; -4 applying them
    /// failed.
    std::int32_t Connect(const std::string& port, std::uint32_t baud, std::uint8_t byteSize, std::uint8_t stopBits,
                         std::uint8_t parity);
    /// The system error behind the last failed Connect (no_such_device for a name that names no port);
    /// empty after a successful one.
    std::error_code LastConnectError() const;
    /// Stops the sender thread and closes the port: 0, or -1 when closing failed.
    std::int32_t Disconnect();
    /// Discards what is in both directions: 0, or -1 (not connected included).
    std::int32_t Flush();
    /// Stores the time-outs that bound each read and write: 0, or -1 when not connected.
    std::int32_t SetTimeout(std::uint32_t readTimeout, std::uint32_t writeTimeout);
    std::int32_t GetTimeout(std::uint32_t& readTimeout, std::uint32_t& writeTimeout) const;
    bool IsActive() const;

    /// One read of up to count bytes within the read time-out: bytes read; 0 on time-out; -1 on error.
    std::int32_t ReadByte(std::uint8_t* buffer, std::uint32_t count, bool flag = false);
    /// Writes count bytes within the write time-out: count, or -2 on failure.
    std::int32_t WriteByte(const std::uint8_t* buffer, std::uint32_t count, bool flag = false);
    /// Queues the bytes for the sender thread (started when needed): the queue length (>= 1); -1 the
    /// sender thread failed to start; -2 to -5 it is in a state that refuses data.
    std::int32_t WriteByteNonblock(const std::uint8_t* buffer, std::uint32_t count);

    /// SLIP-encodes data and writes it (blocking) or queues it: -1 not connected; -6 the encoded frame
    /// would exceed kMaxEncodedFrame; else the result of WriteByte or WriteByteNonblock.
    std::int32_t SlipSend(const std::vector<std::uint8_t>& data, bool flag = false, bool blocking = false);
    /// Receives one SLIP frame of at most maxLen - 1 bytes: its length; 0 when nothing began within the
    /// read time-out; -1 not connected or read error; -2 frame too long; -3 time-out inside a frame or a
    /// bad escape. Mode 0 prints diagnostics to standard error, any other mode is silent.
    std::int32_t SlipReceive(std::vector<std::uint8_t>& frame, std::uint32_t maxLen, int mode);

    std::int32_t getThrStatus() const;

    /// Whether ESC ESC_BRK drops the frame collected so far (true by default).
    void SetEscBrkAccepted(bool accepted) { esc_brk_accepted_ = accepted; }
    /// Replaces how ports are opened (tests); the default opens ttys.
    void SetOpener(SerialOpener opener);

private:
    std::int32_t _startSenderThread();
    std::int32_t _writeBuffer(const std::uint8_t* buffer, std::uint32_t count);
    std::int32_t _getPopBuffer(std::vector<std::uint8_t>& buffer);
    void SenderThread() noexcept;
    std::shared_ptr<SerialIo> Io() const;
    // One byte through the read-ahead buffer: 1, 0 on time-out, or the negative ReadByte result.
    std::int32_t ReadOne(std::uint8_t& byte);

    mutable std::mutex io_mutex_;  // guards io_, name_, settings_ and connect_error_
    std::shared_ptr<SerialIo> io_;
    SerialOpener opener_;
    LineSettings settings_;
    bool esc_brk_accepted_ = true;
    std::atomic<std::uint32_t> read_timeout_{0};
    std::atomic<std::uint32_t> write_timeout_{0};
    std::string name_;
    std::error_code connect_error_;

    std::mutex write_mutex_;  // one write at a time, so frames never interleave
    std::mutex read_mutex_;   // guards the read-ahead buffer
    std::vector<std::uint8_t> read_ahead_;
    std::size_t read_pos_ = 0;

    std::thread sender_;
    std::atomic<std::int32_t> state_{IDLE};
    std::mutex queue_mutex_;
    std::condition_variable queue_cv_;  // data ready, stop requested, state changed
    bool data_ready_ = false;
    std::deque<std::vector<std::uint8_t>> queue_;
};

}  // namespace torvik::devicelink
