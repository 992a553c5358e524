#include <sim/simulator.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#include <platform/files.hpp>
#include <platform/serial.hpp>

#include "application.hpp"
#include "line_rate.hpp"

namespace torvik::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kStateMagic[8] = {'T', 'R', 'V', 'K', 'S', 'I', 'M', '1'};
constexpr std::size_t kStateSize =
    sizeof kStateMagic + 2 * sizeof(std::int64_t) + DeviceState::kEepromSize + DeviceState::kFlashSize;
// How long the line stays quiet before changed flash is written to the state file.
constexpr auto kSaveWhenIdle = std::chrono::milliseconds(200);
constexpr std::uint32_t kBitsPerCharacter = 10;  // start, 8 data, stop

std::int64_t WallSeconds()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

void Append(std::string& out, const void* data, std::size_t size)
{
    out.append(static_cast<const char*>(data), size);
}

}  // namespace

struct Simulator::Impl {
    explicit Impl(const SimOptions& options)
        : application(device, options.reboot_ms), isp(device, options.isp)
    {
    }

    mutable std::mutex mutex;
    DeviceState device;
    ApplicationMode application;
    IspSession isp;
    Clock::time_point next_async{};
    Clock::time_point last_input{};
    // Pacing: when the line to the host is free again, and when the last received byte has arrived.
    Clock::time_point send_free{};
    Clock::time_point receive_done{};
    std::uint64_t bytes_sent = 0;

    std::int64_t Now() const { return device.clock_value + (WallSeconds() - device.clock_set_at); }

    // Called after every change of mode.
    void Enter(SimMode mode)
    {
        if (mode == SimMode::Bootloader) {
            isp.Reset();
        } else {
            application.Reset();
        }
    }

    void Save(const std::string& path)
    {
        device.save_now = false;
        device.save_soon = false;
        if (path.empty()) {
            return;
        }
        std::string bytes;
        bytes.reserve(kStateSize);
        const std::int64_t now = Now();
        const std::int64_t wall = WallSeconds();
        Append(bytes, kStateMagic, sizeof kStateMagic);
        Append(bytes, &now, sizeof now);
        Append(bytes, &wall, sizeof wall);
        Append(bytes, device.eeprom.data(), device.eeprom.size());
        Append(bytes, device.flash.data(), device.flash.size());
        // A failed write keeps the previous state file whole; the device runs on from memory.
        (void)platform::WriteFileSafely(path, bytes);
    }

    bool Load(const std::string& path, std::string& error)
    {
        std::string bytes;
        if (const auto ec = platform::ReadWholeFile(path, bytes, kStateSize + 1)) {
            if (ec == std::errc::no_such_file_or_directory) {
                return true;  // a fresh device
            }
            error = "cannot read state file '" + path + "': " + ec.message();
            return false;
        }
        if (bytes.size() != kStateSize || std::memcmp(bytes.data(), kStateMagic, sizeof kStateMagic) != 0) {
            error = "state file '" + path + "' is not a simulator state";
            return false;
        }
        const char* at = bytes.data() + sizeof kStateMagic;
        std::memcpy(&device.clock_value, at, sizeof device.clock_value);
        std::memcpy(&device.clock_set_at, at + sizeof(std::int64_t), sizeof device.clock_set_at);
        at += 2 * sizeof(std::int64_t);
        std::memcpy(device.eeprom.data(), at, device.eeprom.size());
        std::memcpy(device.flash.data(), at + device.eeprom.size(), device.flash.size());
        return true;
    }
};

Simulator::Simulator(SimOptions options) : options_(std::move(options)), impl_(std::make_unique<Impl>(options_))
{
    silent_ = options_.silent;
    hw_errors_ = options_.hw_error_notices;
    write_protected_ = options_.eeprom_write_protected;
    corrupt_nth_ = options_.corrupt_every_nth;
    drop_nth_ = options_.drop_every_nth_byte;
    impl_->device.clock_set_at = WallSeconds();
}

Simulator::~Simulator()
{
    Stop();
}

bool Simulator::Start(std::string& error)
{
    if (thread_.joinable()) {
        return true;
    }
    if (!options_.state_file.empty() && !impl_->Load(options_.state_file, error)) {
        return false;
    }
    pty_ = std::make_unique<platform::PseudoTerminal>();
    if (const auto ec = pty_->Open()) {
        error = "cannot open a pseudo-terminal: " + ec.message();
        return false;
    }
    // Opened before the host can take the terminal exclusively.
    line_fd_ = ::open(pty_->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    impl_->device.mode = options_.bootloader ? SimMode::Bootloader : SimMode::Application;
    impl_->Enter(impl_->device.mode);
    if (options_.bootloader && options_.bootloader_synchronised) {
        impl_->isp.SkipHandshake();
    }
    stop_ = false;
    thread_ = std::thread(&Simulator::Run, this);
    return true;
}

void Simulator::Stop()
{
    if (thread_.joinable()) {
        stop_ = true;
        thread_.join();
        std::lock_guard lock(impl_->mutex);
        impl_->Save(options_.state_file);
    }
    if (line_fd_ >= 0) {
        ::close(line_fd_);
        line_fd_ = -1;
    }
    if (pty_) {
        pty_->Close();
    }
}

std::string Simulator::DevicePath() const
{
    return pty_ ? pty_->DevicePath() : std::string();
}

SimMode Simulator::Mode() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->device.mode;
}

std::vector<std::uint8_t> Simulator::Eeprom() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->device.eeprom;
}

std::vector<std::uint8_t> Simulator::Flash() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->device.flash;
}

std::vector<std::uint8_t> Simulator::Ram() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->device.ram;
}

std::vector<std::vector<std::uint8_t>> Simulator::ReceivedFrames() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->application.received;
}

void Simulator::WriteFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard lock(impl_->mutex);
    auto& flash = impl_->device.flash;
    for (std::size_t i = 0; i < bytes.size() && address + i < flash.size(); ++i) {
        flash[address + i] = bytes[i];
    }
    impl_->device.save_soon = true;
}

void Simulator::Run() noexcept
{
    Impl& d = *impl_;

    // Sends what the handlers produced, outside the lock: with the byte-dropping fault, and when pacing,
    // each run of bytes no earlier than its last byte would have left the line, after its pause.
    auto send = [&](const Output& out, Clock::time_point not_before) {
        const std::uint32_t baud = options_.pace ? LineRate(line_fd_) : 0;
        auto at = std::max({Clock::now(), d.send_free, not_before});
        // About a millisecond of characters at a time.
        const std::size_t chunk = baud == 0 ? std::size_t{1} << 20 : std::max<std::size_t>(1, baud / 10000);
        std::string kept;
        for (const auto& segment : out.segments) {
            if (options_.pace) {
                at += std::chrono::microseconds(segment.pause_us);
            }
            for (std::size_t from = 0; from < segment.bytes.size() && !stop_; from += chunk) {
                const std::size_t n = std::min(chunk, segment.bytes.size() - from);
                kept.clear();
                const std::uint32_t nth = drop_nth_;
                for (std::size_t i = from; i < from + n; ++i) {
                    if (nth == 0 || ++d.bytes_sent % nth != 0) {
                        kept.push_back(segment.bytes[i]);
                    }
                }
                if (options_.pace) {
                    if (baud != 0) {
                        at += std::chrono::nanoseconds(std::uint64_t{1000000000} * kBitsPerCharacter * n / baud);
                    }
                    std::this_thread::sleep_until(at);
                }
                pty_->Write(reinterpret_cast<const std::uint8_t*>(kept.data()), kept.size(), 1000);
            }
        }
        d.send_free = at;
    };

    std::uint8_t buffer[512];
    d.next_async = Clock::now();
    while (!stop_) {
        const auto got = pty_->Read(buffer, sizeof buffer, 10);
        Output out;
        Clock::time_point not_before{};
        {
            std::lock_guard lock(d.mutex);
            const auto now = Clock::now();
            const bool silent = silent_;
            d.application.hw_error_notices = hw_errors_;
            d.application.eeprom_write_protected = write_protected_;
            d.application.corrupt_every_nth = corrupt_nth_;
            d.isp.SetCorruptEveryNth(corrupt_nth_);
            if (got.count > 0) {
                d.last_input = now;
                if (options_.pace) {
                    const std::uint32_t baud = LineRate(line_fd_);
                    if (baud != 0) {
                        d.receive_done =
                            std::max(d.receive_done, now) +
                            std::chrono::nanoseconds(std::uint64_t{1000000000} * kBitsPerCharacter * got.count / baud);
                        not_before = d.receive_done;
                    }
                }
            }
            std::size_t at = 0;
            while (at < got.count) {
                const SimMode mode = d.device.mode;
                if (mode == SimMode::Application) {
                    at += d.application.Receive(buffer + at, got.count - at, silent, out);
                } else if (silent) {
                    at = got.count;
                } else {
                    at += d.isp.Receive(buffer + at, got.count - at, LineRate(line_fd_), out);
                }
                if (d.device.mode != mode) {
                    d.Enter(d.device.mode);
                    // Leaving the boot loader (or entering it) writes what it changed.
                    d.device.save_now = d.device.save_now || d.device.save_soon;
                }
            }
            if (d.device.mode == SimMode::Application && options_.async_interval_ms > 0 && now >= d.next_async) {
                d.application.SendAsync(silent, out);
                d.next_async = now + std::chrono::milliseconds(options_.async_interval_ms);
            }
            if (d.device.save_now || (d.device.save_soon && now - d.last_input >= kSaveWhenIdle)) {
                d.Save(options_.state_file);
            }
        }
        if (!out.segments.empty()) {
            send(out, not_before);
        }
        if (got.error && got.error != std::errc::resource_unavailable_try_again) {
            // The host side is closed for a moment between sessions; keep listening.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

}  // namespace torvik::sim
