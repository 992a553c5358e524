#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <devicelink/clock.hpp>
#include <devicelink/serial_io.hpp>
#include <devicelink/serial_port.hpp>

namespace torvik::devicelink::testing {

using Bytes = std::vector<std::uint8_t>;

/// The far end of a scripted serial line: what the port wrote, what it will read, and canned replies
/// handed out one per write.
class FakeLine {
public:
    Bytes Written() const
    {
        std::lock_guard lock(mutex_);
        return written_;
    }
    void ClearWritten()
    {
        std::lock_guard lock(mutex_);
        written_.clear();
    }
    void Feed(const Bytes& bytes)
    {
        {
            std::lock_guard lock(mutex_);
            rx_.insert(rx_.end(), bytes.begin(), bytes.end());
        }
        cv_.notify_all();
    }
    /// Queued replies: each write of the port releases the next one.
    void Reply(const Bytes& bytes)
    {
        std::lock_guard lock(mutex_);
        replies_.push_back(bytes);
    }
    /// Waits (bounded) until at least count bytes were written.
    bool WaitWritten(std::size_t count, int timeout_ms = 2000)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return written_.size() >= count; });
    }

    std::function<void()> on_read;      // called before each read (tests advance a clock here)
    std::function<Bytes()> endless_rx;  // when set, every read returns these bytes
    std::atomic<bool> fail_writes{false};
    std::atomic<bool> hold_writes{false};  // writes block until released
    std::error_code open_error;
    std::error_code read_settings_error;
    std::error_code apply_error;

    void ReleaseWrites()
    {
        hold_writes = false;
        cv_.notify_all();
    }

    IoResult Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms)
    {
        if (on_read) {
            on_read();
        }
        std::unique_lock lock(mutex_);
        if (endless_rx) {
            const Bytes bytes = endless_rx();
            rx_.insert(rx_.end(), bytes.begin(), bytes.end());
        }
        cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return !rx_.empty(); });
        IoResult result;
        while (result.count < count && !rx_.empty()) {
            buffer[result.count++] = rx_.front();
            rx_.pop_front();
        }
        return result;
    }

    IoResult Write(const std::uint8_t* buffer, std::size_t count)
    {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return !hold_writes; });
        if (fail_writes) {
            return {0, std::make_error_code(std::errc::io_error)};
        }
        written_.insert(written_.end(), buffer, buffer + count);
        if (!replies_.empty()) {
            const Bytes reply = replies_.front();
            replies_.pop_front();
            rx_.insert(rx_.end(), reply.begin(), reply.end());
        }
        lock.unlock();
        cv_.notify_all();
        return {count, {}};
    }

    void Purge()
    {
        std::lock_guard lock(mutex_);
        rx_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    Bytes written_;
    std::deque<std::uint8_t> rx_;
    std::deque<Bytes> replies_;
};

class FakeSerialIo final : public SerialIo {
public:
    explicit FakeSerialIo(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}
    std::error_code ReadSettings() override { return line_->read_settings_error; }
    std::error_code ApplySettings(const LineSettings&) override { return line_->apply_error; }
    IoResult Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms) override
    {
        return line_->Read(buffer, count, timeout_ms);
    }
    IoResult Write(const std::uint8_t* buffer, std::size_t count, std::uint32_t) override
    {
        return line_->Write(buffer, count);
    }
    std::error_code Purge() override
    {
        line_->Purge();
        return {};
    }
    std::error_code Close() override { return {}; }

private:
    std::shared_ptr<FakeLine> line_;
};

inline SerialOpener FakeOpener(std::shared_ptr<FakeLine> line)
{
    return [line](const std::string&, std::error_code& error) -> std::unique_ptr<SerialIo> {
        if (line->open_error) {
            error = line->open_error;
            return nullptr;
        }
        return std::make_unique<FakeSerialIo>(line);
    };
}

/// A clock that moves only when told to (or when slept on).
class FakeClock final : public Clock {
public:
    std::uint64_t NowMs() override { return now_; }
    void SleepMs(std::uint32_t ms) override
    {
        now_ += ms;
        ++sleeps_;
    }
    void Advance(std::uint64_t ms) { now_ += ms; }
    int Sleeps() const { return sleeps_; }

private:
    std::atomic<std::uint64_t> now_{1000};
    std::atomic<int> sleeps_{0};
};

/// Wraps bytes in END delimiters (the bytes must need no escaping).
inline Bytes Framed(Bytes bytes)
{
    bytes.insert(bytes.begin(), 0xC0);
    bytes.push_back(0xC0);
    return bytes;
}

/// A device packet built by the test itself: length, sequence, identifier, payload, additive checksum,
/// framed (for payloads without END or ESC bytes).
inline Bytes DevicePacket(std::uint8_t seq, std::uint8_t id, const Bytes& payload)
{
    Bytes packet{static_cast<std::uint8_t>(payload.size() + 1), seq, id};
    packet.insert(packet.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (const auto b : packet) {
        sum += b;
    }
    packet.push_back(static_cast<std::uint8_t>((sum >> 8) & 0xFF));
    packet.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    return Framed(packet);
}

inline Bytes Status(std::uint8_t seq, std::uint16_t status)
{
    return DevicePacket(seq, 0x80, {static_cast<std::uint8_t>(status >> 8), static_cast<std::uint8_t>(status)});
}

}  // namespace torvik::devicelink::testing
