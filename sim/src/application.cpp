#include "application.hpp"

#include <algorithm>
#include <ctime>

namespace torvik::sim {

namespace {

// Frame delimiter and escapes of the device's line protocol.
constexpr std::uint8_t kEnd = 0xC0;
constexpr std::uint8_t kEsc = 0xDB;
constexpr std::uint8_t kEscEnd = 0xDC;
constexpr std::uint8_t kEscEsc = 0xDD;
constexpr std::uint8_t kEscBrk = 0xDE;
constexpr std::size_t kMaxFrame = 254;

// Commands.
constexpr std::uint8_t kCmdAddMessage = 0x01;
constexpr std::uint8_t kCmdRemoveMessage = 0x02;
constexpr std::uint8_t kCmdEnableMessage = 0x03;
constexpr std::uint8_t kCmdDisableMessage = 0x04;
constexpr std::uint8_t kCmdMessageData = 0x05;
constexpr std::uint8_t kCmdGetHandler = 0x06;
constexpr std::uint8_t kCmdPing = 0x09;
constexpr std::uint8_t kCmdAddCrc = 0x0A;
constexpr std::uint8_t kCmdChangeCrc = 0x0B;
constexpr std::uint8_t kCmdRemoveCrc = 0x0C;
constexpr std::uint8_t kCmdAddSignal = 0x14;
constexpr std::uint8_t kCmdSignalValue = 0x15;
constexpr std::uint8_t kCmdRemoveSignal = 0x16;
constexpr std::uint8_t kCmdExecuteSignalChange = 0x17;
constexpr std::uint8_t kCmdSignalControl = 0x18;
constexpr std::uint8_t kCmdGatewayId = 0x19;
constexpr std::uint8_t kCmdReboot = 0x20;
constexpr std::uint8_t kCmdBlobRemove = 0x21;
constexpr std::uint8_t kCmdRequestMessage = 0x22;
constexpr std::uint8_t kCmdEnableRequest = 0x23;
constexpr std::uint8_t kCmdDisableRequest = 0x24;
constexpr std::uint8_t kCmdRemoveRequest = 0x25;
constexpr std::uint8_t kCmdReadEeprom = 0x26;
constexpr std::uint8_t kCmdWriteEeprom = 0x27;
constexpr std::uint8_t kCmdGetTime = 0x30;
constexpr std::uint8_t kCmdSetTime = 0x31;

// Modes of the reboot command.
constexpr std::uint8_t kRebootProbe = 3;
constexpr std::uint8_t kRebootBootloader = 5;

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
constexpr std::size_t kKeptFrames = 4096;
constexpr std::size_t kFirstWritableEeprom = 30;
constexpr std::size_t kBlobSize = 65536;

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

}  // namespace

ApplicationMode::FrameDecoder::Event ApplicationMode::FrameDecoder::Push(std::uint8_t byte)
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

ApplicationMode::FrameDecoder::Event ApplicationMode::FrameDecoder::Store(std::uint8_t byte)
{
    if (frame_.size() >= kMaxFrame) {
        in_frame_ = false;
        return Event::Error;
    }
    frame_.push_back(byte);
    return Event::None;
}

std::uint16_t ApplicationMode::Packet::Handler() const
{
    return p.size() >= 2 ? Be16(p.data()) : std::uint16_t{0};
}

ApplicationMode::ApplicationMode(DeviceState& device, std::uint32_t reboot_ms)
    : device_(device), reboot_ms_(reboot_ms)
{
}

void ApplicationMode::Reset()
{
    messages_.clear();
    signals_.clear();
    requests_.clear();
    crcs_.clear();
    next_handler_ = 1;
    decoder_ = FrameDecoder();
}

std::uint16_t ApplicationMode::NewHandler()
{
    // 0 and the top values are refusals; handlers stay clear of them.
    if (next_handler_ == 0 || next_handler_ >= 0xFFF0) {
        next_handler_ = 1;
    }
    return next_handler_++;
}

std::int64_t ApplicationMode::Now() const
{
    return device_.clock_value + (WallSeconds() - device_.clock_set_at);
}

std::size_t ApplicationMode::Receive(const std::uint8_t* bytes, std::size_t count, bool silent, Output& out)
{
    out_ = &out;
    const bool quiet = silent || Clock::now() < silent_until_;
    for (std::size_t i = 0; i < count; ++i) {
        const auto event = decoder_.Push(bytes[i]);
        if (quiet) {
            continue;
        }
        if (event == FrameDecoder::Event::Frame) {
            auto frame = decoder_.Take();
            if (received.size() >= kKeptFrames) {
                received.erase(received.begin(), received.begin() + kKeptFrames / 2);
            }
            received.push_back(frame);
            HandleFrame(frame);
            if (device_.mode != SimMode::Application) {
                return i + 1;
            }
        } else if (event == FrameDecoder::Event::Error) {
            SendPacket(0, kSlipError, {}, false);
        }
    }
    return count;
}

void ApplicationMode::SendAsync(bool silent, Output& out)
{
    if (silent || Clock::now() < silent_until_) {
        return;
    }
    out_ = &out;
    for (const auto& [number, request] : requests_) {
        if (!request.enabled) {
            continue;
        }
        std::vector<std::uint8_t> payload{static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number),
                                          request.flags};
        payload.insert(payload.end(), request.data.begin(), request.data.end());
        SendPacket(request.channel_index, kAsync, payload, false);
    }
}

void ApplicationMode::SendPacket(std::uint8_t seq, std::uint8_t id, const std::vector<std::uint8_t>& payload,
                                 bool may_corrupt)
{
    std::vector<std::uint8_t> packet{static_cast<std::uint8_t>(payload.size() + 1), seq, id};
    packet.insert(packet.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (const std::uint8_t b : packet) {
        sum += b;
    }
    if (may_corrupt && corrupt_every_nth != 0 && ++answers_ % corrupt_every_nth == 0) {
        ++sum;
    }
    packet.push_back(static_cast<std::uint8_t>(sum >> 8));
    packet.push_back(static_cast<std::uint8_t>(sum));
    std::string frame(1, static_cast<char>(kEnd));
    for (const std::uint8_t b : packet) {
        if (b == kEnd) {
            frame += static_cast<char>(kEsc);
            frame += static_cast<char>(kEscEnd);
        } else if (b == kEsc) {
            frame += static_cast<char>(kEsc);
            frame += static_cast<char>(kEscEsc);
        } else {
            frame += static_cast<char>(b);
        }
    }
    frame += static_cast<char>(kEnd);
    out_->Send(frame);
}

// One answer to a command; untraced commands (sequence 4) are answered with sequence 0.
void ApplicationMode::Answer(const Packet& packet, std::uint8_t id, const std::vector<std::uint8_t>& payload)
{
    const std::uint8_t answer_seq = packet.seq == 4 ? 0 : packet.seq;
    if (hw_error_notices) {
        SendPacket(answer_seq, kHwError, {}, false);
    }
    SendPacket(answer_seq, id, payload, true);
}

void ApplicationMode::Status(const Packet& packet, std::uint16_t value)
{
    Answer(packet, kOk, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

void ApplicationMode::Malformed(const Packet& packet)
{
    Answer(packet, kPacketError, {});
}

void ApplicationMode::HandleFrame(const std::vector<std::uint8_t>& frame)
{
    if (frame.size() < 5 || frame[0] != static_cast<std::uint8_t>(frame.size() - 4)) {
        Packet bad;
        bad.seq = frame.size() > 1 ? frame[1] : 0;
        return Malformed(bad);
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 2 < frame.size(); ++i) {
        sum += frame[i];
    }
    const Packet packet{frame[1], frame[2], std::vector<std::uint8_t>(frame.begin() + 3, frame.end() - 2)};
    if (static_cast<std::uint16_t>(sum) != Be16(&frame[frame.size() - 2])) {
        return Malformed(packet);
    }
    switch (packet.cmd) {
        case kCmdAddMessage:
            return AddMessage(packet);
        case kCmdRemoveMessage:
        case kCmdEnableMessage:
        case kCmdDisableMessage:
            return MessageState(packet);
        case kCmdMessageData:
            return MessageData(packet);
        case kCmdGetHandler:
            return MessageHandler(packet);
        case kCmdPing:
        case kCmdExecuteSignalChange:
            return Status(packet, 0);
        case kCmdAddCrc:
            return AddCrc(packet);
        case kCmdChangeCrc:
        case kCmdRemoveCrc:
            return ChangeCrc(packet);
        case kCmdAddSignal:
            return AddSignal(packet);
        case kCmdSignalValue:
            return SignalValue(packet);
        case kCmdRemoveSignal:
            return RemoveSignal(packet);
        case kCmdSignalControl:
            return SignalControl(packet);
        case kCmdGatewayId:
            return GatewayId(packet);
        case kCmdReboot:
            return Reboot(packet);
        case kCmdBlobRemove:
            return BlobRemove(packet);
        case kCmdRequestMessage:
            return RequestMessage(packet);
        case kCmdEnableRequest:
        case kCmdDisableRequest:
        case kCmdRemoveRequest:
            return RequestState(packet);
        case kCmdReadEeprom:
            return ReadEeprom(packet);
        case kCmdWriteEeprom:
            return WriteEeprom(packet);
        case kCmdGetTime:
            return GetTime(packet);
        case kCmdSetTime:
            return SetTime(packet);
        default:
            return Answer(packet, kCommandFailed, {});
    }
}

void ApplicationMode::AddMessage(const Packet& packet)
{
    const auto& p = packet.p;
    if (p.size() < 17) {
        return Malformed(packet);
    }
    const int length = PayloadLength(p[9]);
    if (length < 0) {
        return Status(packet, kRefused);
    }
    if (p.size() != 17 + static_cast<std::size_t>(length)) {
        return Status(packet, 0xFFFE);
    }
    if (messages_.size() >= kMaxMessages) {
        return Status(packet, 0xFFFD);
    }
    const std::uint16_t h = NewHandler();
    messages_[h] = Message{p, p[16] != 0};
    Status(packet, h);
}

void ApplicationMode::MessageState(const Packet& packet)
{
    if (packet.p.size() != 2) {
        return Malformed(packet);
    }
    const auto found = messages_.find(packet.Handler());
    if (found == messages_.end()) {
        return Status(packet, kRefused);
    }
    if (packet.cmd == kCmdRemoveMessage) {
        messages_.erase(found);
    } else {
        found->second.enabled = packet.cmd == kCmdEnableMessage;
    }
    Status(packet, 0);
}

void ApplicationMode::MessageData(const Packet& packet)
{
    const auto& p = packet.p;
    const auto found = messages_.find(packet.Handler());
    if (p.size() < 3 || found == messages_.end()) {
        return Status(packet, kRefused);
    }
    const auto length = static_cast<std::size_t>(PayloadLength(found->second.record[9]));
    if (p.size() != 3 + 2 * length) {
        return Malformed(packet);
    }
    auto& record = found->second.record;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t mask = p[3 + i];
        record[17 + i] = static_cast<std::uint8_t>((record[17 + i] & ~mask) | (p[3 + length + i] & mask));
    }
    Status(packet, 0);
}

void ApplicationMode::MessageHandler(const Packet& packet)
{
    if (packet.p.size() != 7) {
        return Malformed(packet);
    }
    for (const auto& [h, message] : messages_) {
        if (std::equal(packet.p.begin(), packet.p.begin() + 6, message.record.begin())) {
            return Status(packet, h);
        }
    }
    Status(packet, kRefused);
}

void ApplicationMode::AddCrc(const Packet& packet)
{
    if (packet.p.size() != 16) {
        return Status(packet, kRefused);
    }
    const std::uint16_t h = NewHandler();
    crcs_[h] = packet.p;
    Status(packet, h);
}

void ApplicationMode::ChangeCrc(const Packet& packet)
{
    const auto& p = packet.p;
    if (p.size() < 2) {
        return Malformed(packet);
    }
    const auto found = crcs_.find(packet.Handler());
    if (found == crcs_.end()) {
        return Status(packet, 1);
    }
    if (packet.cmd == kCmdChangeCrc) {
        if (p.size() != 18) {
            return Status(packet, 2);
        }
        found->second.assign(p.begin() + 2, p.end());
    } else {
        if (p.size() != 2) {
            return Status(packet, 2);
        }
        crcs_.erase(found);
    }
    Status(packet, 0);
}

void ApplicationMode::AddSignal(const Packet& packet)
{
    if (packet.p.size() != 8) {
        return Malformed(packet);
    }
    if (messages_.count(packet.Handler()) == 0) {
        return Status(packet, kRefused);
    }
    const std::uint16_t h = NewHandler();
    signals_[h] = Signal{packet.Handler(), std::vector<std::uint8_t>(packet.p.begin() + 2, packet.p.end()), 0, {}};
    Status(packet, h);
}

void ApplicationMode::SignalValue(const Packet& packet)
{
    if (packet.p.size() == 3) {  // value of a signal group
        return Status(packet, 0);
    }
    if (packet.p.size() != 5) {
        return Malformed(packet);
    }
    const auto found = signals_.find(packet.Handler());
    if (found == signals_.end()) {
        return Status(packet, kRefused);
    }
    found->second.value = Be16(&packet.p[2]);
    Status(packet, 0);
}

void ApplicationMode::RemoveSignal(const Packet& packet)
{
    if (packet.p.size() != 2) {
        return Malformed(packet);
    }
    Status(packet, signals_.erase(packet.Handler()) != 0 ? 0 : kRefused);
}

void ApplicationMode::SignalControl(const Packet& packet)
{
    if (packet.p.size() != 15) {
        return Malformed(packet);
    }
    const auto found = signals_.find(Be16(&packet.p[1]));
    if (found == signals_.end()) {
        return Status(packet, kRefused);
    }
    found->second.control = packet.p;
    Status(packet, 0);
}

void ApplicationMode::GatewayId(const Packet& packet)
{
    return packet.p.size() == 5 ? Status(packet, 0) : Malformed(packet);
}

// Reboot (0, 1), reset (2), probe (3) and the boot loader (5).
void ApplicationMode::Reboot(const Packet& packet)
{
    if (packet.p.size() != 1) {
        return Malformed(packet);
    }
    const std::uint8_t mode = packet.p[0];
    if (mode == kRebootProbe) {
        return Status(packet, 0);
    }
    if (mode > 2 && mode != kRebootBootloader) {
        return Status(packet, kRefused);
    }
    // The new mode holds before the host can see the answer.
    Reset();
    if (mode == kRebootBootloader) {
        device_.mode = SimMode::Bootloader;
    } else {
        silent_until_ = Clock::now() + std::chrono::milliseconds(reboot_ms_);
    }
    Status(packet, 0);
}

void ApplicationMode::BlobRemove(const Packet& packet)
{
    std::fill(device_.flash.end() - static_cast<std::ptrdiff_t>(kBlobSize), device_.flash.end(), 0xFF);
    device_.save_now = true;
    Status(packet, 0);
}

void ApplicationMode::RequestMessage(const Packet& packet)
{
    const auto& p = packet.p;
    if (p.size() < 9) {
        return Malformed(packet);
    }
    const int length = PayloadLength(p[6]);
    if (length < 0) {
        return Status(packet, 1);
    }
    if (p.size() != 9 && p.size() != 9 + static_cast<std::size_t>(length)) {
        return Status(packet, 2);
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
    if (p.size() == 9) {
        request.data.assign(static_cast<std::size_t>(length), 0);
    } else {
        request.data.assign(p.begin() + 9, p.end());
    }
    requests_[request.number] = request;
    Status(packet, 0);
}

void ApplicationMode::RequestState(const Packet& packet)
{
    if (packet.p.size() != 2) {
        return Malformed(packet);
    }
    const auto found = requests_.find(packet.Handler());
    if (found == requests_.end()) {
        return Status(packet, kRefused);
    }
    if (packet.cmd == kCmdRemoveRequest) {
        requests_.erase(found);
    } else {
        found->second.enabled = packet.cmd == kCmdEnableRequest;
    }
    Status(packet, 0);
}

void ApplicationMode::ReadEeprom(const Packet& packet)
{
    if (packet.p.size() != 3) {
        return Malformed(packet);
    }
    const std::size_t address = Be16(packet.p.data());
    const std::size_t length = packet.p[2];
    if (length == 0 || length > 16 || address + length > DeviceState::kEepromSize) {
        return Answer(packet, kCommandFailed, {});
    }
    const auto begin = device_.eeprom.begin() + static_cast<std::ptrdiff_t>(address);
    Answer(packet, kEepromData, std::vector<std::uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(length)));
}

void ApplicationMode::WriteEeprom(const Packet& packet)
{
    const auto& p = packet.p;
    if (p.size() < 3 || p.size() > 18) {
        return Malformed(packet);
    }
    const std::size_t address = Be16(p.data());
    if (address < kFirstWritableEeprom || address + (p.size() - 2) > DeviceState::kEepromSize) {
        return Status(packet, kRefused);
    }
    if (eeprom_write_protected) {
        return Answer(packet, kCommandFailed, {});
    }
    std::copy(p.begin() + 2, p.end(), device_.eeprom.begin() + static_cast<std::ptrdiff_t>(address));
    device_.save_now = true;
    Status(packet, 0);
}

void ApplicationMode::GetTime(const Packet& packet)
{
    if (!packet.p.empty()) {
        return Malformed(packet);
    }
    const auto now = static_cast<std::uint32_t>(Now());
    Answer(packet, kTimeData,
           {static_cast<std::uint8_t>(now >> 24), static_cast<std::uint8_t>(now >> 16),
            static_cast<std::uint8_t>(now >> 8), static_cast<std::uint8_t>(now)});
}

void ApplicationMode::SetTime(const Packet& packet)
{
    const auto& p = packet.p;
    if (p.size() != 4) {
        return Status(packet, kRefused);
    }
    device_.clock_value = (static_cast<std::int64_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    device_.clock_set_at = WallSeconds();
    device_.save_now = true;
    Status(packet, 0);
}

}  // namespace torvik::sim
