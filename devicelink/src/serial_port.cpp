#include <devicelink/serial_port.hpp>

#include <chrono>
#include <climits>
#include <cstdio>

#include "console.hpp"
#include <system_error>

namespace torvik::devicelink {

namespace {

constexpr std::size_t kBatchBytes = 1024;
constexpr std::size_t kBatchReserve = 1298;
constexpr int kMaxSenderErrors = 128;
constexpr std::size_t kReadAheadBytes = 256;

void PrintError(const char* message, const std::error_code& error)
{
    Diagnostic("%s%s\n", message, error.message().c_str());
}

const char* StateName(std::int32_t state, char* scratch, std::size_t size)
{
    switch (state) {
        case SerialPort::START_REQ:
            return "START_REQ";
        case SerialPort::STOP_REQ:
            return "STOP_REQ";
        case SerialPort::STOPPED:
            return "STOPPED";
        case SerialPort::FAILED:
            return "FAILED";
        default:
            std::snprintf(scratch, size, "UNKNOWN%d", static_cast<int>(state));
            return scratch;
    }
}

}  // namespace

// Exported constants need one definition each (they are taken by reference).
const std::uint8_t SerialPort::END;
const std::uint8_t SerialPort::ESC;
const std::uint8_t SerialPort::ESC_END;
const std::uint8_t SerialPort::ESC_ESC;
const std::uint8_t SerialPort::ESC_BRK;

SerialPort::SerialPort() : opener_(OpenSystemSerial) {}

SerialPort::SerialPort(const SerialPort& other) : opener_(OpenSystemSerial)
{
    std::lock_guard lock(other.io_mutex_);
    opener_ = other.opener_;
    settings_ = other.settings_;
    esc_brk_accepted_ = other.esc_brk_accepted_;
    read_timeout_ = other.read_timeout_.load();
    write_timeout_ = other.write_timeout_.load();
    name_ = other.name_;
}

SerialPort& SerialPort::operator=(const SerialPort& other)
{
    if (this == &other) {
        return *this;
    }
    std::scoped_lock lock(io_mutex_, other.io_mutex_);
    settings_ = other.settings_;
    esc_brk_accepted_ = other.esc_brk_accepted_;
    read_timeout_ = other.read_timeout_.load();
    write_timeout_ = other.write_timeout_.load();
    name_ = other.name_;
    io_.reset();
    state_ = IDLE;
    return *this;
}

SerialPort::~SerialPort()
{
    Disconnect();
}

void SerialPort::SetOpener(SerialOpener opener)
{
    std::lock_guard lock(io_mutex_);
    opener_ = std::move(opener);
}

std::shared_ptr<SerialIo> SerialPort::Io() const
{
    std::lock_guard lock(io_mutex_);
    return io_;
}

std::int32_t SerialPort::Connect(const std::string& port, std::uint32_t baud, std::uint8_t byteSize,
                                 std::uint8_t stopBits, std::uint8_t parity)
{
    std::unique_lock lock(io_mutex_);
    connect_error_.clear();
    if (io_) {
        if (port == name_) {
            return 1;
        }
        Diagnostic("COM port already open! (Open: %s, opening: %s)\n", name_.c_str(), port.c_str());
        return -1;
    }
    std::error_code& error = connect_error_;
    std::unique_ptr<SerialIo> io = opener_ ? opener_(port, error) : nullptr;
    if (!io) {
        if (!error) {
            error = std::make_error_code(std::errc::no_such_device);
        }
        PrintError("SerialPort::Connect: CreateFile failed with error: ", error);
        return -2;
    }
    error = io->ReadSettings();
    if (error) {
        io->Close();
        PrintError("SerialPort::Connect: GetCommState failed with error: ", error);
        return -3;
    }
    LineSettings settings = settings_;
    settings.baud_bps = baud;
    settings.byte_size = byteSize;
    settings.stop_bits = stopBits;
    settings.parity = parity;
    error = io->ApplySettings(settings);
    if (error) {
        io->Close();
        PrintError("SerialPort::Connect: SetCommState failed with error: ", error);
        return -4;
    }
    settings_ = settings;
    io_ = std::move(io);
    // The name is that of this connection, so a later Connect compares against the open port.
    name_ = port;
    lock.unlock();
    std::lock_guard read_lock(read_mutex_);
    read_ahead_.clear();
    read_pos_ = 0;
    return 0;
}

std::error_code SerialPort::LastConnectError() const
{
    std::lock_guard lock(io_mutex_);
    return connect_error_;
}

std::int32_t SerialPort::Disconnect()
{
    if (sender_.joinable()) {
        if (sender_.get_id() == std::this_thread::get_id()) {
            return -1;
        }
        {
            std::lock_guard lock(queue_mutex_);
            state_ = STOP_REQ;
        }
        queue_cv_.notify_all();
        sender_.join();
        // Whatever the thread ended in, the next non-blocking write may start a new one.
        state_ = STOPPED;
    }
    std::unique_lock lock(io_mutex_);
    if (io_) {
        // A read still running on another thread holds its own reference; the descriptor is then closed
        // when that read returns.
        if (io_.use_count() == 1) {
            const std::error_code error = io_->Close();
            if (error) {
                PrintError("SerialPort::Disconnect CloseHandle failed with error: ", error);
                return -1;
            }
        }
        io_.reset();
    }
    name_.clear();
    return 0;
}

std::int32_t SerialPort::Flush()
{
    const auto io = Io();
    const std::error_code error = io ? io->Purge() : std::make_error_code(std::errc::bad_file_descriptor);
    if (error) {
        PrintError("SerialPort::Flush: Clearing RX and TX buffers failed.", error);
        return -1;
    }
    std::lock_guard lock(read_mutex_);
    read_ahead_.clear();
    read_pos_ = 0;
    return 0;
}

std::int32_t SerialPort::SetTimeout(std::uint32_t readTimeout, std::uint32_t writeTimeout)
{
    if (!Io()) {
        PrintError("SerialPort::SetTimeout SetCommTimeouts failed with error: ",
                   std::make_error_code(std::errc::bad_file_descriptor));
        return -1;
    }
    read_timeout_ = readTimeout;
    write_timeout_ = writeTimeout;
    return 0;
}

std::int32_t SerialPort::GetTimeout(std::uint32_t& readTimeout, std::uint32_t& writeTimeout) const
{
    readTimeout = read_timeout_;
    writeTimeout = write_timeout_;
    return 0;
}

bool SerialPort::IsActive() const
{
    return Io() != nullptr;
}

std::int32_t SerialPort::ReadByte(std::uint8_t* buffer, std::uint32_t count, bool /*flag*/)
{
    const auto io = Io();
    if (!io) {
        PrintError("SerialPort::ReadByte ReadFile failed with error: ",
                   std::make_error_code(std::errc::bad_file_descriptor));
        return -1;
    }
    const IoResult result = io->Read(buffer, count, read_timeout_);
    if (result.error) {
        PrintError("SerialPort::ReadByte ReadFile failed with error: ", result.error);
        return -1;
    }
    if (result.count > static_cast<std::size_t>(INT32_MAX)) {
        return -2;
    }
    return static_cast<std::int32_t>(result.count);
}

std::int32_t SerialPort::WriteByte(const std::uint8_t* buffer, std::uint32_t count, bool /*flag*/)
{
    const auto io = Io();
    if (!io) {
        PrintError("SerialPort::WriteByte WriteFile failed with error: ",
                   std::make_error_code(std::errc::bad_file_descriptor));
        return -2;
    }
    IoResult result;
    {
        std::lock_guard lock(write_mutex_);
        result = io->Write(buffer, count, write_timeout_);
    }
    if (result.error) {
        if (result.error == std::errc::timed_out) {
            PrintError("SerialPort::WriteByte WaitForSingleObject failed with error: ", result.error);
        } else {
            PrintError("SerialPort::WriteByte WriteFile failed with error: ", result.error);
        }
    }
    if (result.count != count || count > static_cast<std::uint32_t>(INT32_MAX)) {
        return -2;
    }
    return static_cast<std::int32_t>(count);
}

std::int32_t SerialPort::WriteByteNonblock(const std::uint8_t* buffer, std::uint32_t count)
{
    std::int32_t state = state_;
    // A thread that ended, for whatever reason, is started again, so one bad spell does not refuse every
    // later write.
    if (state == IDLE || state == STOPPED || state == FAILED) {
        _startSenderThread();
        state = state_;
    }
    if (state == RUNNING) {
        return _writeBuffer(buffer, count);
    }
    char scratch[32];
    Diagnostic("SerialPort::WriteByteNonblock: Unexpected state of thread: %s.",
                 StateName(state, scratch, sizeof scratch));
    switch (state) {
        case START_REQ:
            return -2;
        case STOP_REQ:
            return -3;
        case STOPPED:
            return -4;
        case FAILED:
            return -1;
        default:
            return -5;
    }
}

std::int32_t SerialPort::SlipSend(const std::vector<std::uint8_t>& data, bool /*flag*/, bool blocking)
{
    if (!IsActive()) {
        return -1;
    }
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() * 2 + 2);
    frame.push_back(END);
    for (const std::uint8_t byte : data) {
        if (byte == END) {
            frame.push_back(ESC);
            frame.push_back(ESC_END);
        } else if (byte == ESC) {
            frame.push_back(ESC);
            frame.push_back(ESC_ESC);
        } else {
            frame.push_back(byte);
        }
    }
    frame.push_back(END);
    if (frame.size() > kMaxEncodedFrame) {
        Diagnostic("SerialPort::SlipSend: Frame of %zu bytes exceeds the %zu-byte frame buffer.\n",
                     frame.size(), kMaxEncodedFrame);
        return -6;
    }
    const auto size = static_cast<std::uint32_t>(frame.size());
    return blocking ? WriteByte(frame.data(), size) : WriteByteNonblock(frame.data(), size);
}

std::int32_t SerialPort::ReadOne(std::uint8_t& byte)
{
    std::lock_guard lock(read_mutex_);
    if (read_pos_ >= read_ahead_.size()) {
        read_ahead_.resize(kReadAheadBytes);
        read_pos_ = 0;
        const std::int32_t n = ReadByte(read_ahead_.data(), static_cast<std::uint32_t>(read_ahead_.size()));
        if (n <= 0) {
            read_ahead_.clear();
            return n;
        }
        read_ahead_.resize(static_cast<std::size_t>(n));
    }
    byte = read_ahead_[read_pos_++];
    return 1;
}

std::int32_t SerialPort::SlipReceive(std::vector<std::uint8_t>& frame, std::uint32_t maxLen, int mode)
{
    frame.clear();
    if (!IsActive()) {
        return -1;
    }
    const bool verbose = mode == 0;
    std::uint8_t byte = 0;
    for (;;) {
        const std::int32_t r = ReadOne(byte);
        if (r <= 0) {
            return r;
        }
        if (byte == END) {
            break;
        }
    }

    // Reads one byte inside a frame: 1, or the operation's result on failure.
    auto next = [&](std::uint8_t& out) -> std::int32_t {
        const std::int32_t r = ReadOne(out);
        if (r == 1) {
            return 1;
        }
        if (r == 0) {
            if (verbose) {
                Diagnostic("SerialPort::SlipReceive: Serial ReadByte timeouted but byte after ESC char was expected.\n");
            }
            return -3;
        }
        if (r != -1 && verbose) {
            Diagnostic("SerialPort::SlipReceive: Unexpected error: %d\n", static_cast<int>(r));
        }
        return -1;
    };

    std::vector<std::uint8_t> collected;
    collected.reserve(maxLen);
    for (;;) {
        std::int32_t r = next(byte);
        if (r != 1) {
            return r;
        }
        if (byte == END) {
            if (collected.empty()) {
                continue;
            }
            frame = std::move(collected);
            return static_cast<std::int32_t>(frame.size());
        }
        if (byte == ESC) {
            r = next(byte);
            if (r != 1) {
                return r;
            }
            if (byte == ESC_END) {
                byte = END;
            } else if (byte == ESC_ESC) {
                byte = ESC;
            } else if (byte == ESC_BRK && esc_brk_accepted_) {
                collected.clear();
                if (verbose) {
                    Diagnostic("SerialPort::SlipReceive: Buffer drop requested.\n");
                }
                continue;
            } else {
                if (verbose) {
                    Diagnostic("SerialPort::SlipReceive: Unexpected data after ESC char!\n");
                }
                return -3;
            }
        }
        collected.push_back(byte);
        if (collected.size() >= maxLen) {
            if (verbose) {
                Diagnostic("SerialPort::SlipReceive: Designated buffer is out of space.\n");
            }
            return -2;
        }
    }
}

std::int32_t SerialPort::getThrStatus() const
{
    return state_;
}

std::int32_t SerialPort::_startSenderThread()
{
    if (state_ == RUNNING) {
        return 1;
    }
    if (sender_.joinable()) {
        sender_.join();
    }
    {
        std::lock_guard lock(queue_mutex_);
        state_ = START_REQ;
        // Frames left from an earlier thread are stale by now.
        queue_.clear();
        data_ready_ = false;
    }
    try {
        sender_ = std::thread(&SerialPort::SenderThread, this);
    } catch (const std::system_error&) {
        state_ = FAILED;
        return -1;
    }
    std::unique_lock lock(queue_mutex_);
    queue_cv_.wait_for(lock, std::chrono::milliseconds(2000), [this] { return state_ != START_REQ; });
    return state_ == RUNNING ? 0 : -1;
}

std::int32_t SerialPort::_writeBuffer(const std::uint8_t* buffer, std::uint32_t count)
{
    std::size_t size;
    {
        std::lock_guard lock(queue_mutex_);
        if (queue_.size() < kMaxQueuedBuffers) {
            queue_.emplace_back(buffer, buffer + count);
        } else {
            queue_.back().assign(buffer, buffer + count);
        }
        data_ready_ = true;
        size = queue_.size();
    }
    queue_cv_.notify_all();
    return static_cast<std::int32_t>(size);
}

std::int32_t SerialPort::_getPopBuffer(std::vector<std::uint8_t>& buffer)
{
    std::lock_guard lock(queue_mutex_);
    if (queue_.empty()) {
        return -1;
    }
    buffer = std::move(queue_.front());
    queue_.pop_front();
    return 0;
}

void SerialPort::SenderThread() noexcept
{
    {
        std::lock_guard lock(queue_mutex_);
        std::int32_t expected = START_REQ;
        state_.compare_exchange_strong(expected, RUNNING);
    }
    queue_cv_.notify_all();

    std::vector<std::uint8_t> batch;
    std::vector<std::uint8_t> buffer;
    int errors = 0;
    try {
        batch.reserve(kBatchReserve);
        while (state_ == RUNNING) {
            {
                std::unique_lock lock(queue_mutex_);
                queue_cv_.wait_for(lock, std::chrono::milliseconds(1000),
                                   [this] { return data_ready_ || state_ != RUNNING; });
                data_ready_ = false;
            }
            while (_getPopBuffer(buffer) == 0) {
                batch.insert(batch.end(), buffer.begin(), buffer.end());
                bool more = true;
                while (batch.size() <= kBatchBytes && (more = _getPopBuffer(buffer) == 0)) {
                    batch.insert(batch.end(), buffer.begin(), buffer.end());
                }
                if (WriteByte(batch.data(), static_cast<std::uint32_t>(batch.size())) < 0) {
                    ++errors;
                }
                batch.clear();
                if (!more) {
                    break;
                }
            }
            if (errors > kMaxSenderErrors) {
                Diagnostic("SerialPort::SenderThread Maximal error count hit. Thread failed.");
                break;
            }
        }
    } catch (...) {
        // Out of memory for a batch: the thread ends as failed, the next write starts a new one.
    }
    {
        std::lock_guard lock(queue_mutex_);
        std::int32_t expected = STOP_REQ;
        if (!state_.compare_exchange_strong(expected, STOPPED)) {
            state_ = FAILED;
        }
    }
    queue_cv_.notify_all();
}

}  // namespace torvik::devicelink
