#include <sim/simulator.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>

#include <platform/serial.hpp>

namespace torvik::sim {

namespace {

// Frame delimiter and escapes of the device's line protocol.
constexpr std::uint8_t kEnd = 0xC0;
constexpr std::uint8_t kEsc = 0xDB;
constexpr std::uint8_t kEscEnd = 0xDC;
constexpr std::uint8_t kEscEsc = 0xDD;
constexpr std::uint8_t kEscBrk = 0xDE;
constexpr std::size_t kMaxFrame = 254;

// Answers.
constexpr std::uint8_t kOk = 0x80;
constexpr std::uint8_t kCommandFailed = 0x81;
constexpr std::uint8_t kPacketError = 0x82;
constexpr std::uint8_t kSlipError = 0x83;
constexpr std::uint8_t kHwError = 0x84;
constexpr std::uint8_t kAsync = 0x90;
constexpr std::uint8_t kEepromData = 0x91;
constexpr std::uint8_t kTimeData = 0x92;

constexpr std::uint16_t kRefused = 0xFFFF;
constexpr std::size_t kMaxMessages = 200;
constexpr char kStateMagic[8] = {'T', 'R', 'V', 'K', 'S', 'I', 'M', '1'};

// VIN fields: first byte 0xFF selects the device's own VIN.
constexpr std::uint16_t kVinAddresses[] = {47, 64, 81};

int PayloadLength(std::uint8_t dlc)
{
    static constexpr int kTable[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
    return dlc < 16 ? kTable[dlc] : -1;
}

std::uint16_t Be16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::int64_t WallSeconds()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

// Collects SLIP frames from a byte stream.
class FrameDecoder {
public:
    enum class Event { None, Frame, Error };

    Event Push(std::uint8_t byte)
    {
        if (!in_frame_) {
            if (byte == kEnd) {
                in_frame_ = true;
                frame_.clear();
                escaped_ = false;
            }
            return Event::None;
        }
        if (escaped_) {
            escaped_ = false;
            if (byte == kEscEnd) {
                return Store(kEnd);
            }
            if (byte == kEscEsc) {
                return Store(kEsc);
            }
            if (byte == kEscBrk) {
                frame_.clear();
                return Event::None;
            }
            in_frame_ = false;
            return Event::Error;
        }
        if (byte == kEnd) {
            if (frame_.empty()) {
                return Event::None;
            }
            done_ = std::move(frame_);
            frame_.clear();
            return Event::Frame;
        }
        if (byte == kEsc) {
            escaped_ = true;
            return Event::None;
        }
        return Store(byte);
    }

    std::vector<std::uint8_t> Take() { return std::move(done_); }

private:
    Event Store(std::uint8_t byte)
    {
        if (frame_.size() >= kMaxFrame) {
            in_frame_ = false;
            return Event::Error;
        }
        frame_.push_back(byte);
        return Event::None;
    }

    bool in_frame_ = false;
    bool escaped_ = false;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> done_;
};

struct Message {
    std::vector<std::uint8_t> record;  // as received: channel bytes, identifier, flags, times, payload
    bool enabled = false;
};

struct Signal {
    std::uint16_t message = 0;
    std::vector<std::uint8_t> setup;
    std::uint16_t value = 0;
    std::vector<std::uint8_t> control;
};

struct Request {
    std::uint8_t channel_index = 0;
    std::uint16_t number = 0;
    std::uint8_t flags = 0;  // DLC code and frame flags as reported
    std::vector<std::uint8_t> data;
    bool enabled = true;
};

}  // namespace

struct Simulator::Impl {
    mutable std::mutex mutex;
    std::vector<std::uint8_t> eeprom = std::vector<std::uint8_t>(kEepromSize, 0xFF);
    std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(kFlashSize, 0xFF);
    std::int64_t clock_value = 0;   // seconds, as last set
    std::int64_t clock_set_at = 0;  // wall seconds when it was set
    std::map<std::uint16_t, Message> messages;
    std::map<std::uint16_t, Signal> signals;
    std::map<std::uint16_t, Request> requests;
    std::map<std::uint16_t, std::vector<std::uint8_t>> crcs;
    std::uint16_t next_handler = 1;
    std::vector<std::vector<std::uint8_t>> received;
    BootloaderHandler bootloader;
    FrameDecoder decoder;
    std::uint32_t answers = 0;
    std::uint64_t bytes_sent = 0;
    std::chrono::steady_clock::time_point silent_until{};
    std::chrono::steady_clock::time_point next_async{};

    void ResetVolatile()
    {
        messages.clear();
        signals.clear();
        requests.clear();
        crcs.clear();
        next_handler = 1;
    }

    std::uint16_t NewHandler()
    {
        // 0 and the top values are refusals; handlers stay clear of them.
        if (next_handler == 0 || next_handler >= 0xFFF0) {
            next_handler = 1;
        }
        return next_handler++;
    }

    std::int64_t Now() const { return clock_value + (WallSeconds() - clock_set_at); }

    void Save(const std::string& path) const
    {
        if (path.empty()) {
            return;
        }
        const std::string temp = path + ".tmp";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            if (!out) {
                return;
            }
            const std::int64_t now = Now();
            const std::int64_t wall = WallSeconds();
            out.write(kStateMagic, sizeof kStateMagic);
            out.write(reinterpret_cast<const char*>(&now), sizeof now);
            out.write(reinterpret_cast<const char*>(&wall), sizeof wall);
            out.write(reinterpret_cast<const char*>(eeprom.data()), static_cast<std::streamsize>(eeprom.size()));
            out.write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
            if (!out) {
                return;
            }
        }
        std::rename(temp.c_str(), path.c_str());
    }

    bool Load(const std::string& path, std::string& error)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            return true;  // a fresh device
        }
        char magic[sizeof kStateMagic];
        std::int64_t value = 0;
        std::int64_t wall = 0;
        in.read(magic, sizeof magic);
        in.read(reinterpret_cast<char*>(&value), sizeof value);
        in.read(reinterpret_cast<char*>(&wall), sizeof wall);
        std::vector<std::uint8_t> e(kEepromSize);
        std::vector<std::uint8_t> f(kFlashSize);
        in.read(reinterpret_cast<char*>(e.data()), static_cast<std::streamsize>(e.size()));
        in.read(reinterpret_cast<char*>(f.data()), static_cast<std::streamsize>(f.size()));
        if (!in || std::memcmp(magic, kStateMagic, sizeof magic) != 0) {
            error = "state file '" + path + "' is not a simulator state";
            return false;
        }
        eeprom = std::move(e);
        flash = std::move(f);
        clock_value = value;
        clock_set_at = wall;
        return true;
    }
};

Simulator::Simulator(SimOptions options) : options_(std::move(options)), impl_(std::make_unique<Impl>())
{
    silent_ = options_.silent;
    hw_errors_ = options_.hw_error_notices;
    corrupt_nth_ = options_.corrupt_every_nth;
    drop_nth_ = options_.drop_every_nth_byte;
    impl_->clock_set_at = WallSeconds();
    // A fresh device has every VIN on "default".
    for (const std::uint16_t address : kVinAddresses) {
        impl_->eeprom[address] = 0xFF;
    }
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
    if (pty_) {
        pty_->Close();
    }
}

std::string Simulator::DevicePath() const
{
    return pty_ ? pty_->DevicePath() : std::string();
}

void Simulator::SetBootloaderHandler(BootloaderHandler handler)
{
    std::lock_guard lock(impl_->mutex);
    impl_->bootloader = std::move(handler);
}

std::vector<std::uint8_t> Simulator::Eeprom() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->eeprom;
}

std::vector<std::uint8_t> Simulator::Flash() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->flash;
}

std::vector<std::vector<std::uint8_t>> Simulator::ReceivedFrames() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->received;
}

void Simulator::WriteFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard lock(impl_->mutex);
    for (std::size_t i = 0; i < bytes.size() && address + i < impl_->flash.size(); ++i) {
        impl_->flash[address + i] = bytes[i];
    }
    impl_->Save(options_.state_file);
}

void Simulator::Run() noexcept
{
    Impl& d = *impl_;
    using Clock = std::chrono::steady_clock;

    // Raw bytes to the host, with the byte-dropping fault applied.
    auto send_raw = [&](const std::uint8_t* bytes, std::size_t count) {
        std::vector<std::uint8_t> out;
        out.reserve(count);
        const std::uint32_t nth = drop_nth_;
        for (std::size_t i = 0; i < count; ++i) {
            ++d.bytes_sent;
            if (nth != 0 && d.bytes_sent % nth == 0) {
                continue;
            }
            out.push_back(bytes[i]);
        }
        pty_->Write(out.data(), out.size(), 1000);
    };

    auto send_packet = [&](std::uint8_t seq, std::uint8_t id, const std::vector<std::uint8_t>& payload,
                           bool may_corrupt) {
        std::vector<std::uint8_t> packet{static_cast<std::uint8_t>(payload.size() + 1), seq, id};
        packet.insert(packet.end(), payload.begin(), payload.end());
        unsigned sum = 0;
        for (const std::uint8_t b : packet) {
            sum += b;
        }
        if (may_corrupt) {
            const std::uint32_t nth = corrupt_nth_;
            if (nth != 0 && ++d.answers % nth == 0) {
                ++sum;
            }
        }
        packet.push_back(static_cast<std::uint8_t>(sum >> 8));
        packet.push_back(static_cast<std::uint8_t>(sum));
        std::vector<std::uint8_t> frame{kEnd};
        for (const std::uint8_t b : packet) {
            if (b == kEnd) {
                frame.push_back(kEsc);
                frame.push_back(kEscEnd);
            } else if (b == kEsc) {
                frame.push_back(kEsc);
                frame.push_back(kEscEsc);
            } else {
                frame.push_back(b);
            }
        }
        frame.push_back(kEnd);
        send_raw(frame.data(), frame.size());
    };

    // One answer to a command; untraced commands (sequence 4) are answered with sequence 0.
    auto answer = [&](std::uint8_t seq, std::uint8_t id, const std::vector<std::uint8_t>& payload) {
        const std::uint8_t answer_seq = seq == 4 ? 0 : seq;
        if (hw_errors_) {
            send_packet(answer_seq, kHwError, {}, false);
        }
        send_packet(answer_seq, id, payload, true);
    };
    auto status = [&](std::uint8_t seq, std::uint16_t value) {
        answer(seq, kOk, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
    };

    auto handle_packet = [&](const std::vector<std::uint8_t>& packet) {
        if (packet.size() < 5 || packet[0] != static_cast<std::uint8_t>(packet.size() - 4)) {
            answer(packet.size() > 1 ? packet[1] : 0, kPacketError, {});
            return;
        }
        unsigned sum = 0;
        for (std::size_t i = 0; i + 2 < packet.size(); ++i) {
            sum += packet[i];
        }
        if (static_cast<std::uint16_t>(sum) != Be16(&packet[packet.size() - 2])) {
            answer(packet[1], kPacketError, {});
            return;
        }
        const std::uint8_t seq = packet[1];
        const std::uint8_t cmd = packet[2];
        const std::vector<std::uint8_t> p(packet.begin() + 3, packet.end() - 2);
        const std::size_t n = p.size();
        auto handler = [&] { return n >= 2 ? Be16(p.data()) : std::uint16_t{0}; };
        auto malformed = [&] { answer(seq, kPacketError, {}); };

        switch (cmd) {
            case 0x01: {  // add message
                if (n < 17) {
                    return malformed();
                }
                const int length = PayloadLength(p[9]);
                if (length < 0) {
                    return status(seq, kRefused);
                }
                if (n != 17 + static_cast<std::size_t>(length)) {
                    return status(seq, 0xFFFE);
                }
                if (d.messages.size() >= kMaxMessages) {
                    return status(seq, 0xFFFD);
                }
                const std::uint16_t h = d.NewHandler();
                d.messages[h] = Message{p, p[16] != 0};
                return status(seq, h);
            }
            case 0x02:
            case 0x03:
            case 0x04: {
                if (n != 2) {
                    return malformed();
                }
                const auto found = d.messages.find(handler());
                if (found == d.messages.end()) {
                    return status(seq, kRefused);
                }
                if (cmd == 0x02) {
                    d.messages.erase(found);
                } else {
                    found->second.enabled = cmd == 0x03;
                }
                return status(seq, 0);
            }
            case 0x05: {  // message data
                const auto found = d.messages.find(handler());
                if (n < 3 || found == d.messages.end()) {
                    return status(seq, kRefused);
                }
                const auto length = static_cast<std::size_t>(PayloadLength(found->second.record[9]));
                if (n != 3 + 2 * length) {
                    return malformed();
                }
                auto& record = found->second.record;
                for (std::size_t i = 0; i < length; ++i) {
                    const std::uint8_t mask = p[3 + i];
                    record[17 + i] = static_cast<std::uint8_t>((record[17 + i] & ~mask) | (p[3 + length + i] & mask));
                }
                return status(seq, 0);
            }
            case 0x06: {  // handler of a message
                if (n != 7) {
                    return malformed();
                }
                for (const auto& [h, message] : d.messages) {
                    if (std::equal(p.begin(), p.begin() + 6, message.record.begin())) {
                        return status(seq, h);
                    }
                }
                return status(seq, kRefused);
            }
            case 0x09:
                return status(seq, 0);
            case 0x0A: {  // CRC block
                if (n != 16) {
                    return status(seq, kRefused);
                }
                const std::uint16_t h = d.NewHandler();
                d.crcs[h] = p;
                return status(seq, h);
            }
            case 0x0B:
            case 0x0C: {
                if (n < 2) {
                    return malformed();
                }
                const auto found = d.crcs.find(handler());
                if (found == d.crcs.end()) {
                    return status(seq, 1);
                }
                if (cmd == 0x0B) {
                    if (n != 18) {
                        return status(seq, 2);
                    }
                    found->second.assign(p.begin() + 2, p.end());
                } else {
                    if (n != 2) {
                        return status(seq, 2);
                    }
                    d.crcs.erase(found);
                }
                return status(seq, 0);
            }
            case 0x14: {  // add signal
                if (n != 8) {
                    return malformed();
                }
                if (d.messages.count(handler()) == 0) {
                    return status(seq, kRefused);
                }
                const std::uint16_t h = d.NewHandler();
                d.signals[h] = Signal{handler(), std::vector<std::uint8_t>(p.begin() + 2, p.end()), 0, {}};
                return status(seq, h);
            }
            case 0x15: {
                if (n == 3) {  // value of a signal group
                    return status(seq, 0);
                }
                if (n != 5) {
                    return malformed();
                }
                const auto found = d.signals.find(handler());
                if (found == d.signals.end()) {
                    return status(seq, kRefused);
                }
                found->second.value = Be16(&p[2]);
                return status(seq, 0);
            }
            case 0x16: {
                if (n != 2) {
                    return malformed();
                }
                return status(seq, d.signals.erase(handler()) != 0 ? 0 : kRefused);
            }
            case 0x17:
                return status(seq, 0);
            case 0x18: {
                if (n != 15) {
                    return malformed();
                }
                const auto found = d.signals.find(Be16(&p[1]));
                if (found == d.signals.end()) {
                    return status(seq, kRefused);
                }
                found->second.control = p;
                return status(seq, 0);
            }
            case 0x19:
                return n == 5 ? status(seq, 0) : malformed();
            case 0x20: {  // reboot, reset, probe, boot loader
                if (n != 1) {
                    return malformed();
                }
                const std::uint8_t mode = p[0];
                if (mode == 3) {
                    return status(seq, 0);
                }
                if (mode > 2 && mode != 5) {
                    return status(seq, kRefused);
                }
                // The new mode holds before the host can see the answer.
                d.ResetVolatile();
                if (mode == 5) {
                    mode_ = SimMode::Bootloader;
                } else {
                    d.silent_until = Clock::now() + std::chrono::milliseconds(options_.reboot_ms);
                }
                return status(seq, 0);
            }
            case 0x21: {
                std::fill(d.flash.begin() + static_cast<std::ptrdiff_t>(kFlashSize - 65536), d.flash.end(), 0xFF);
                d.Save(options_.state_file);
                return status(seq, 0);
            }
            case 0x22: {  // request a message
                if (n < 9) {
                    return malformed();
                }
                const int length = PayloadLength(p[6]);
                if (length < 0) {
                    return status(seq, 1);
                }
                if (n != 9 && n != 9 + static_cast<std::size_t>(length)) {
                    return status(seq, 2);
                }
                Request request;
                for (std::uint8_t c = 0; c < 8; ++c) {
                    if ((p[0] & (1u << c)) != 0) {
                        request.channel_index = c;
                        break;
                    }
                }
                request.number = static_cast<std::uint16_t>(p[1] | (p[2] << 8));
                request.flags = static_cast<std::uint8_t>(p[6] | (p[7] & 0xC0));
                if (n == 9) {
                    request.data.assign(static_cast<std::size_t>(length), 0);
                } else {
                    request.data.assign(p.begin() + 9, p.end());
                }
                d.requests[request.number] = request;
                return status(seq, 0);
            }
            case 0x23:
            case 0x24:
            case 0x25: {
                if (n != 2) {
                    return malformed();
                }
                const auto found = d.requests.find(handler());
                if (found == d.requests.end()) {
                    return status(seq, kRefused);
                }
                if (cmd == 0x25) {
                    d.requests.erase(found);
                } else {
                    found->second.enabled = cmd == 0x23;
                }
                return status(seq, 0);
            }
            case 0x26: {  // read EEPROM
                if (n != 3) {
                    return malformed();
                }
                const std::size_t address = Be16(p.data());
                const std::size_t length = p[2];
                if (length == 0 || length > 16 || address + length > kEepromSize) {
                    return answer(seq, kCommandFailed, {});
                }
                return answer(
                    seq, kEepromData,
                    std::vector<std::uint8_t>(d.eeprom.begin() + static_cast<std::ptrdiff_t>(address),
                                              d.eeprom.begin() + static_cast<std::ptrdiff_t>(address + length)));
            }
            case 0x27: {  // write EEPROM
                if (n < 3 || n > 18) {
                    return malformed();
                }
                const std::size_t address = Be16(p.data());
                if (address < 30 || address + (n - 2) > kEepromSize) {
                    return status(seq, kRefused);
                }
                if (options_.eeprom_write_protected) {
                    return answer(seq, kCommandFailed, {});
                }
                std::copy(p.begin() + 2, p.end(), d.eeprom.begin() + static_cast<std::ptrdiff_t>(address));
                d.Save(options_.state_file);
                return status(seq, 0);
            }
            case 0x30: {
                if (n != 0) {
                    return malformed();
                }
                const auto now = static_cast<std::uint32_t>(d.Now());
                return answer(seq, kTimeData,
                              {static_cast<std::uint8_t>(now >> 24), static_cast<std::uint8_t>(now >> 16),
                               static_cast<std::uint8_t>(now >> 8), static_cast<std::uint8_t>(now)});
            }
            case 0x31: {
                if (n != 4) {
                    return status(seq, kRefused);
                }
                d.clock_value = (static_cast<std::int64_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
                d.clock_set_at = WallSeconds();
                d.Save(options_.state_file);
                return status(seq, 0);
            }
            default:
                return answer(seq, kCommandFailed, {});
        }
    };

    auto send_async = [&] {
        for (const auto& [number, request] : d.requests) {
            if (!request.enabled) {
                continue;
            }
            std::vector<std::uint8_t> payload{static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number),
                                              request.flags};
            payload.insert(payload.end(), request.data.begin(), request.data.end());
            send_packet(request.channel_index, kAsync, payload, false);
        }
    };

    std::uint8_t buffer[512];
    d.next_async = Clock::now();
    while (!stop_) {
        const auto got = pty_->Read(buffer, sizeof buffer, 10);
        std::lock_guard lock(d.mutex);
        const auto now = Clock::now();
        if (mode_ == SimMode::Bootloader) {
            if (got.count > 0 && d.bootloader) {
                d.bootloader(buffer, got.count, send_raw);
            }
            continue;
        }
        const bool quiet = silent_ || now < d.silent_until;
        for (std::size_t i = 0; i < got.count; ++i) {
            const auto event = d.decoder.Push(buffer[i]);
            if (quiet) {
                continue;
            }
            if (event == FrameDecoder::Event::Frame) {
                auto frame = d.decoder.Take();
                if (d.received.size() >= 4096) {
                    d.received.erase(d.received.begin(), d.received.begin() + 2048);
                }
                d.received.push_back(frame);
                handle_packet(frame);
            } else if (event == FrameDecoder::Event::Error) {
                send_packet(0, kSlipError, {}, false);
            }
        }
        if (!quiet && options_.async_interval_ms > 0 && now >= d.next_async) {
            send_async();
            d.next_async = now + std::chrono::milliseconds(options_.async_interval_ms);
        }
        if (got.error && got.error != std::errc::resource_unavailable_try_again) {
            // The host side is closed for a moment between sessions; keep listening.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

}  // namespace torvik::sim
