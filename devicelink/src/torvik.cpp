#include <devicelink/torvik.hpp>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "console.hpp"
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <thread>

namespace torvik::devicelink {

namespace {

constexpr std::uint32_t kBaud = 2000000;
constexpr std::uint8_t kByteSize = 8;
constexpr std::uint8_t kOneStopBit = 0;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint32_t kSyncPolls = 50;
constexpr std::uint8_t kUntracedSeq = 4;

constexpr std::uint8_t kOk = 0x80;
constexpr std::uint8_t kCommandFailed = 0x81;
constexpr std::uint8_t kPacketError = 0x82;
constexpr std::uint8_t kSlipProtoError = 0x83;
constexpr std::uint8_t kHwError = 0x84;
constexpr std::uint8_t kAsync = 0x90;
constexpr std::uint8_t kData1 = 0x91;
constexpr std::uint8_t kData2 = 0x92;

constexpr std::int32_t kHwBit = 0x10000;

void PushBe16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void PushBe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// CAN identifier, least significant byte first, extended flag in bit 7 of the last byte.
void PushCanId(std::vector<std::uint8_t>& out, std::uint32_t id, bool extended)
{
    id &= 0x1FFFFFFFu;
    if (extended) {
        id |= 0x80000000u;
    }
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(id >> shift));
    }
}

std::uint16_t Checksum(const std::uint8_t* bytes, std::size_t count)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint16_t>(sum);
}

// Status value of an OK packet: at most two bytes, most significant first.
std::int32_t StatusValue(const std::vector<std::uint8_t>& payload)
{
    if (payload.size() > 2) {
        Diagnostic("Unable convert %d bit number to uint16.\n", static_cast<int>(payload.size() * 8));
        return 0;
    }
    std::int32_t value = 0;
    for (const std::uint8_t byte : payload) {
        value = (value << 8) | byte;
    }
    return value;
}

std::string HexDump(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char item[8];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(item, sizeof item, "0x%02x ", byte);
        text += item;
    }
    return text;
}

// Maps refusal statuses: status -> code pairs; anything else passes through.
std::int32_t MapStatus(std::int32_t status, std::initializer_list<std::pair<std::int32_t, std::int32_t>> table)
{
    if (status < 0) {
        return status;
    }
    for (const auto& [value, code] : table) {
        if (status == value) {
            return code;
        }
    }
    return status;
}

}  // namespace

const std::uint32_t Torvik::m_kBufferSize;

int DlcLength(std::uint8_t dlc)
{
    static constexpr int kLengths[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
    return dlc < 16 ? kLengths[dlc] : -1;
}

Torvik::Torvik() : printer_(3, 5), clock_(std::make_shared<SteadyClock>())
{
    requested_.emplace_back();
    if (ConsoleOn() && (printer_.Add(&std::cerr, ERR) != 0 || printer_.Add(&std::cout, INF) != 0)) {
        throw std::invalid_argument("Torvik::Torvik: Printer's invalid argument!");
    }
}

Torvik::Torvik(const Torvik& other)
    : requested_(other.requested_),
      port_(other.port_),
      requested_count_(other.requested_count_),
      printer_(other.printer_),
      clock_(other.clock_)
{
}

Torvik& Torvik::operator=(const Torvik& other)
{
    if (this != &other) {
        if (debug_.is_open()) {
            printer_.Remove(static_cast<std::ostream*>(&debug_));
            debug_.close();
        }
        printer_ = other.printer_;
    }
    return *this;
}

Torvik::~Torvik()
{
    StopReceiver();
    if (port_.IsActive()) {
        port_.Disconnect();
    }
    if (debug_.is_open()) {
        printer_.Remove(static_cast<std::ostream*>(&debug_));
        debug_.close();
    }
}

void Torvik::SetClock(std::shared_ptr<Clock> clock)
{
    if (clock) {
        clock_ = std::move(clock);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Command protocol

std::int32_t Torvik::SendCommand(std::uint8_t command, const std::vector<std::uint8_t>& payload, bool traced)
{
    std::vector<std::uint8_t> packet;
    packet.reserve(payload.size() + 5);
    packet.push_back(static_cast<std::uint8_t>(payload.size() + 1));
    if (traced) {
        ++seq_;
        if (seq_ < 5) {
            seq_ = 5;
        }
        packet.push_back(seq_);
    } else {
        packet.push_back(kUntracedSeq);
    }
    packet.push_back(command);
    packet.insert(packet.end(), payload.begin(), payload.end());
    PushBe16(packet, Checksum(packet.data(), packet.size()));
    DataPrint(packet, 1);
    const std::int32_t r = port_.SlipSend(packet, false, false);
    return r > 0 ? 0 : r;
}

std::int32_t Torvik::SendCommandHandler(std::uint8_t command, std::uint16_t handler,
                                        const std::vector<std::uint8_t>& payload, bool traced)
{
    std::vector<std::uint8_t> full;
    full.reserve(payload.size() + 2);
    PushBe16(full, handler);
    full.insert(full.end(), payload.begin(), payload.end());
    return SendCommand(command, full, traced);
}

std::int32_t Torvik::CheckMessage(const std::vector<std::uint8_t>& packet, bool quiet)
{
    const std::size_t size = packet.size();
    if (size <= 3 || packet[0] != static_cast<std::uint8_t>(size - 4)) {
        if (!quiet) {
            if (size > 3) {
                Printf_err("Torvik::CheckMessage: Invalid message length. Length: %i, Assumed: %i\n",
                           static_cast<int>(static_cast<std::uint8_t>(size - 4)), static_cast<int>(packet[0]));
            } else {
                Printf_err("Torvik::CheckMessage: Invalid message length. Length: %i\n", static_cast<int>(size));
            }
        }
        return -1;
    }
    const std::uint16_t sum = Checksum(packet.data(), size - 2);
    const std::uint16_t stated = static_cast<std::uint16_t>((packet[size - 2] << 8) | packet[size - 1]);
    return sum == stated ? 0 : -2;
}

std::int32_t Torvik::ParseMessage(const std::vector<std::uint8_t>& frame, RecvMessage& out, bool quiet)
{
    const std::size_t size = frame.size();
    if (size == 0) {
        return -4;
    }
    std::int32_t result = -1;
    // Five bytes at least: a four-byte frame whose length byte says 0 has no identifier to split off.
    if (size > 4 && frame[0] == static_cast<std::uint8_t>(size - 4)) {
        const std::uint16_t sum = Checksum(frame.data(), size - 2);
        const std::uint16_t stated = static_cast<std::uint16_t>((frame[size - 2] << 8) | frame[size - 1]);
        if (sum == stated) {
            DataPrint(frame, -1);
            out.seq = frame[1];
            out.id = frame[2];
            out.payload.assign(frame.begin() + 3, frame.end() - 2);
            return 0;
        }
        result = -2;
    }
    DataPrint(frame, -10);
    if (!quiet) {
        const std::string dump = HexDump(frame);
        if (result == -1) {
            Printf_err("Torvik::GetResponse: BAD Message's length %s!\n", dump.c_str());
        } else {
            Printf_err("Torvik::GetResponse: BAD Message's Checksum %s!\n", dump.c_str());
        }
    }
    return result;
}

std::int32_t Torvik::FailedReply(std::uint8_t id)
{
    switch (id) {
        case kCommandFailed:
            Printf_err("TorvikAPI::GetResponse: COMMAND_FAILED!\n");
            break;
        case kPacketError:
            Printf_err("TorvikAPI::GetResponse: PACKET_ERROR!\n");
            break;
        case kSlipProtoError:
            Printf_err("TorvikAPI::GetResponse: SLIP_PROTO_ERROR!\n");
            break;
        default:
            Printf_err("TorvikAPI::GetResponse: Unknown response ID: 0x%2.2X!\n", id);
            break;
    }
    return -4;
}

std::int32_t Torvik::NoAnswer(bool quiet)
{
    if (!quiet) {
        Printf_err("Torvik::GetResponse: No valid answer for specified message.\n");
    }
    return -4;
}

std::int32_t Torvik::GetResponse(bool quiet)
{
    last_reply_ = 0;
    if (running_) {
        RecvMessage record;
        if (ReadSyncMessage(seq_, record, kSyncPolls, quiet) != 0) {
            return -5;
        }
        last_reply_ = record.id;
        return StatusValue(record.payload);
    }
    std::uint32_t read_timeout = 0;
    std::uint32_t write_timeout = 0;
    port_.GetTimeout(read_timeout, write_timeout);
    // Unrelated frames (asynchronous messages, answers to earlier commands) never extend the wait
    // beyond one read time-out.
    const std::uint64_t deadline = clock_->NowMs() + read_timeout;
    bool hw_error = false;
    std::vector<std::uint8_t> frame;
    RecvMessage record;
    for (;;) {
        port_.SlipReceive(frame, m_kBufferSize, 0);
        const std::int32_t parsed = ParseMessage(frame, record, quiet);
        if (parsed == -4 || (parsed != 0 && clock_->NowMs() >= deadline)) {
            return NoAnswer(quiet);
        }
        if (parsed == 0) {
            if (record.id == kHwError) {
                if (!quiet) {
                    Printf_err("TorvikAPI::GetResponse: TORVIK_HW_ERROR!\n");
                }
                hw_error = true;
            } else if (record.seq == seq_ && record.id != kAsync) {
                last_reply_ = record.id;
                switch (record.id) {
                    case kOk:
                        return StatusValue(record.payload) + (hw_error ? kHwBit : 0);
                    default:
                        return FailedReply(record.id);
                }
            }
        }
        if (clock_->NowMs() >= deadline) {
            return NoAnswer(quiet);
        }
    }
}

std::int32_t Torvik::GetBytesResponse(std::vector<std::uint8_t>& out, bool quiet)
{
    out.clear();
    last_reply_ = 0;
    if (running_) {
        RecvMessage record;
        if (ReadSyncMessage(seq_, record, kSyncPolls, quiet) != 0) {
            return -5;
        }
        last_reply_ = record.id;
        out = record.payload;
        return 0;
    }
    std::uint32_t read_timeout = 0;
    std::uint32_t write_timeout = 0;
    port_.GetTimeout(read_timeout, write_timeout);
    const std::uint64_t deadline = clock_->NowMs() + read_timeout;
    bool hw_error = false;
    std::vector<std::uint8_t> frame;
    RecvMessage record;
    for (;;) {
        port_.SlipReceive(frame, m_kBufferSize, quiet ? 1 : 0);
        const std::int32_t parsed = ParseMessage(frame, record, quiet);
        if (parsed == -4) {
            return NoAnswer(quiet);
        }
        if (parsed == 0) {
            if (record.id == kHwError) {
                if (!quiet) {
                    Printf_err("TorvikAPI::GetResponse: TORVIK_HW_ERROR!\n");
                }
                hw_error = true;
            } else if (record.seq == seq_) {
                last_reply_ = record.id;
                switch (record.id) {
                    case kData1:
                    case kData2:
                        out = record.payload;
                        return hw_error ? kHwBit : 0;
                    case kOk:
                        out = record.payload;
                        if (record.payload.size() != 2) {
                            Printf_err("TorvikAPI::GetResponse: Wrong OK packet length: %i!\n",
                                       static_cast<int>(record.payload.size()));
                        }
                        return StatusValue(record.payload) + (hw_error ? kHwBit : 0);
                    default:
                        return FailedReply(record.id);
                }
            }
        }
        if (clock_->NowMs() >= deadline) {
            return NoAnswer(quiet);
        }
    }
}

std::int32_t Torvik::Await(bool quiet)
{
    const std::int32_t r = GetResponse(quiet);
    return r < 0 ? r - 10 : r;
}

std::int32_t Torvik::SendAndAwait(std::uint8_t command, const std::vector<std::uint8_t>& payload)
{
    const std::int32_t sent = SendCommand(command, payload, true);
    if (sent < 0) {
        return sent;
    }
    return Await(false);
}

std::int32_t Torvik::SendHandlerAndAwait(std::uint8_t command, std::uint16_t handler,
                                         const std::vector<std::uint8_t>& payload)
{
    const std::int32_t sent = SendCommandHandler(command, handler, payload, true);
    if (sent < 0) {
        return sent;
    }
    return Await(false);
}

// ---------------------------------------------------------------------------------------------------------
// Connection

std::int32_t Torvik::Probe()
{
    const std::int32_t r = MapStatus(SendAndAwait(REBOOT, {3}), {{0xFFFF, -21}});
    if (r == -21) {
        return 0;
    }
    if (r < 0) {
        return r;
    }
    return r == 0 ? 100 : 0;
}

std::int32_t Torvik::Connect(const std::string& port, std::uint32_t readTimeout, std::uint32_t writeTimeout)
{
    std::int32_t r = port_.Connect(port, kBaud, kByteSize, kOneStopBit, kEvenParity);
    if (r < 0) {
        return r;
    }
    r = port_.SetTimeout(readTimeout, writeTimeout);
    if (r < 0) {
        return r - 100;
    }
    r = port_.Flush();
    if (r < 0) {
        return r - 200;
    }
    r = Probe();
    if (r < 0) {
        return r - 300;
    }
    level_ = static_cast<std::int16_t>(r);
    return 0;
}

void Torvik::ClearBookkeeping()
{
    {
        std::lock_guard lock(async_mutex_);
        async_.clear();
    }
    messages_.clear();
    signals_.clear();
    {
        std::lock_guard lock(sync_mutex_);
        sync_.clear();
    }
    requested_.clear();
    requested_.emplace_back();
    requested_count_ = 0;
    seq_ = 0;
}

std::int32_t Torvik::Disconnect()
{
    ClearBookkeeping();
    return port_.Disconnect();
}

std::int32_t Torvik::GetTimeout(std::uint32_t& readTimeout, std::uint32_t& writeTimeout)
{
    return port_.GetTimeout(readTimeout, writeTimeout);
}

std::int32_t Torvik::SetTimeout(std::uint32_t readTimeout, std::uint32_t writeTimeout)
{
    return port_.SetTimeout(readTimeout, writeTimeout);
}

std::int32_t Torvik::GetInternalThreadStatus()
{
    std::int32_t status = running_ ? 1 : 0;
    const std::int32_t sender = port_.getThrStatus();
    if (sender == SerialPort::RUNNING) {
        status += 16;
    } else if (sender == SerialPort::START_REQ || sender == SerialPort::STOP_REQ || sender == SerialPort::FAILED) {
        status += 32;
    }
    return status;
}

// ---------------------------------------------------------------------------------------------------------
// Receiver thread

std::int32_t Torvik::StartReceiver()
{
    if (running_) {
        return 1;
    }
    if (receiver_.joinable()) {
        receiver_.join();
    }
    try {
        receiver_ = std::thread(&Torvik::ReceiverThread, this);
    } catch (const std::system_error&) {
        return -1;
    }
    for (int i = 0; i < 1000; ++i) {
        if (running_) {
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return running_ ? 0 : -1;
}

void Torvik::StopReceiver()
{
    running_ = false;
    if (receiver_.joinable() && receiver_.get_id() != std::this_thread::get_id()) {
        receiver_.join();
    }
}

void Torvik::ReceiverThread() noexcept
{
    running_ = true;
    port_.Flush();
    int receive_errors = 0;
    int untraced_errors = 0;
    std::vector<std::uint8_t> frame;
    RecvMessage record;
    try {
        while (running_) {
            const std::int32_t r = port_.SlipReceive(frame, m_kBufferSize, 2);
            if (r < 0) {
                if (++receive_errors > 10) {
                    break;
                }
                continue;
            }
            if (r == 0 || ParseMessage(frame, record, true) != 0) {
                continue;
            }
            switch (record.id) {
                case kOk:
                    if (record.seq != 0) {
                        std::lock_guard lock(sync_mutex_);
                        sync_.push_back(record);
                    } else {
                        const std::int32_t status = StatusValue(record.payload);
                        if (status != 0) {
                            Diagnostic("Torvik::Receiver: Invalid return value of some untraced commands. %#06x\n",
                                         static_cast<unsigned>(status));
                            if (++untraced_errors > 20) {
                                running_ = false;
                            }
                        }
                    }
                    break;
                case kCommandFailed:
                    Diagnostic("TorvikAPI::Receive: COMMAND_FAILED %d!\n", record.seq);
                    break;
                case kPacketError:
                    Diagnostic("TorvikAPI::Receive: PACKET_ERROR! MID: %d\n", record.seq);
                    break;
                case kSlipProtoError:
                    Diagnostic("TorvikAPI::Receive: SLIP_PROTO_ERROR! %d\n", record.seq);
                    break;
                case kHwError:
                    Diagnostic("TorvikAPI::Receive: TORVIK_HW_ERROR! %d\n", record.seq);
                    break;
                case kAsync: {
                    if (record.payload.size() < 3) {
                        break;
                    }
                    RecvAsyncMessage message;
                    message.channel = record.seq;
                    message.msgNumber = static_cast<std::uint16_t>((record.payload[0] << 8) | record.payload[1]);
                    const std::uint8_t flags = record.payload[2];
                    message.dlc = flags & 0x0F;
                    message.flag7 = (flags & 0x80) != 0;
                    message.flag6 = (flags & 0x40) != 0;
                    message.flag5 = (flags & 0x20) != 0;
                    message.flag4 = (flags & 0x10) != 0;
                    // A short packet keeps what it carries rather than reading past its end.
                    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(DlcLength(message.dlc)),
                                                                     record.payload.size() - 3);
                    message.data.assign(record.payload.begin() + 3,
                                        record.payload.begin() + 3 + static_cast<std::ptrdiff_t>(length));
                    message.time = static_cast<std::uint32_t>(clock_->NowMs());
                    message.key = static_cast<std::uint32_t>(message.channel) * 65536u + message.msgNumber;
                    std::lock_guard lock(async_mutex_);
                    async_[message.key] = std::move(message);
                    break;
                }
                default:
                    Diagnostic("TorvikAPI::Receive: Unknown response ID: %#4x\n", record.id);
                    DataPrint(record.payload, -1);
                    break;
            }
        }
    } catch (...) {
        // Out of memory while filing a record: the receiver stops, reads then report that.
    }
    running_ = false;
}

std::int32_t Torvik::ReadSyncMessage(std::uint8_t seq, RecvMessage& out, std::uint32_t polls, bool quiet)
{
    if (!running_) {
        if (!quiet) {
            Printf_err("Torvik::ReadSyncMessage: Receiving thread is not running!\n");
        }
        return -1;
    }
    for (std::uint32_t i = 0; i < polls; ++i) {
        {
            std::lock_guard lock(sync_mutex_);
            while (!sync_.empty()) {
                RecvMessage record = std::move(sync_.front());
                sync_.pop_front();
                if (record.seq == seq && record.id != kAsync) {
                    out = std::move(record);
                    return 0;
                }
            }
        }
        clock_->SleepMs(1);
    }
    if (!quiet) {
        Printf_err("Message with message ID: %i not found.\n", static_cast<int>(seq));
    }
    return -2;
}

RecvAsyncMessage Torvik::ReadAsyncMessage(std::uint32_t key)
{
    if (!running_) {
        Printf_err("Torvik::ReadAsyncMessage: Receiving thread is not running!\n");
        return {};
    }
    const std::uint32_t mask = (key >> 16) & 0x0F;
    const std::uint32_t number = key & 0xFFFF;
    for (std::uint32_t c = 0; c < 4; ++c) {
        if ((mask & (1u << c)) != 0) {
            std::lock_guard lock(async_mutex_);
            const auto found = async_.find(c * 65536u + number);
            return found != async_.end() ? found->second : RecvAsyncMessage{};
        }
    }
    return {};
}

// ---------------------------------------------------------------------------------------------------------
// Device control

std::int32_t Torvik::Ping()
{
    const std::int32_t sent = SendCommand(PING, {}, true);
    if (sent < 0) {
        return sent;
    }
    return MapStatus(Await(true), {{0xFFFF, -21}});
}

std::int32_t Torvik::GetVersion()
{
    return Probe();
}

std::int32_t Torvik::Reboot(bool flag, std::uint32_t waitMs)
{
    port_.Flush();
    const std::int32_t status =
        MapStatus(SendAndAwait(REBOOT, {static_cast<std::uint8_t>(flag ? 1 : 0)}), {{0xFFFF, -21}});
    if (status < 0) {
        return status;
    }
    ClearBookkeeping();
    // The whole wait is bounded by waitMs: a device that stays silent must not stretch it to one read
    // time-out per ping.
    std::uint32_t read_timeout = 0;
    std::uint32_t write_timeout = 0;
    port_.GetTimeout(read_timeout, write_timeout);
    const std::uint64_t deadline = clock_->NowMs() + waitMs;
    for (std::uint32_t i = 0; i < waitMs / 50; ++i) {
        const std::uint64_t now = clock_->NowMs();
        if (now >= deadline) {
            break;
        }
        port_.SetTimeout(static_cast<std::uint32_t>(std::min<std::uint64_t>(read_timeout, deadline - now)),
                         write_timeout);
        port_.Flush();
        if (Ping() == 0) {
            break;
        }
        clock_->SleepMs(50);
    }
    port_.SetTimeout(read_timeout, write_timeout);
    return status;
}

std::int32_t Torvik::Reset()
{
    const std::int32_t status = MapStatus(SendAndAwait(REBOOT, {2}), {{0xFFFF, -21}});
    if (status >= 0) {
        ClearBookkeeping();
    }
    return status;
}

std::int32_t Torvik::Bootloader()
{
    const std::int32_t status = MapStatus(SendAndAwait(REBOOT, {5}), {{0xFFFF, -21}});
    if (status >= 0) {
        ClearBookkeeping();
    }
    return status;
}

// ---------------------------------------------------------------------------------------------------------
// Messages

std::int32_t Torvik::AddMessageChecked(const tagCanMessage& message, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> record;
    record.reserve(17 + payload.size());
    record.push_back(message.channel);
    record.push_back(message.channel2);
    PushCanId(record, message.id, message.extended);
    record.push_back(static_cast<std::uint8_t>((message.fastSlowSend ? 0x80 : 0) | (message.frameFlag1 ? 0x40 : 0) |
                                               (message.frameFlag2 ? 0x20 : 0) | (message.frameFlag3 ? 0x10 : 0)));
    record.push_back(message.option);
    record.push_back(0x00);
    record.push_back(message.dlc);
    PushBe16(record, message.time2);
    PushBe16(record, message.time1);
    PushBe16(record, message.time3);
    record.push_back(message.enable);
    record.insert(record.end(), payload.begin(), payload.end());

    const std::int32_t status = SendAndAwait(ADD_MESSAGE, record);
    if (status < 0) {
        return status;
    }
    switch (status) {
        case 0:
        case 0xFFFF:
            Printf_err("Torvik::AddMessage: Invalid message.\n");
            return -21;
        case 0xFFFE:
            Printf_err("Torvik::AddMessage: Invalid message length.\n");
            return -22;
        case 0xFFFD:
            Printf_err("Torvik::AddMessage: Torvik is out of memory.\n");
            return -23;
        default:
            break;
    }
    messages_[static_cast<std::uint16_t>(status)] = message;
    return status;
}

std::int32_t Torvik::AddMessage(const tagCanMessage& message)
{
    const int length = DlcLength(message.dlc);
    if (length < 0) {
        Printf_err("Torvik::AddMessage: Invalid DLC value: %u.\n", static_cast<unsigned>(message.dlc));
        return -21;
    }
    return AddMessageChecked(message, std::vector<std::uint8_t>(static_cast<std::size_t>(length), 0));
}

std::int32_t Torvik::AddMessage(const tagCanMessage& message, const std::vector<std::uint8_t>& payload)
{
    const int length = DlcLength(message.dlc);
    if (length < 0) {
        Printf_err("Torvik::AddMessage: Invalid DLC value: %u.\n", static_cast<unsigned>(message.dlc));
        return -21;
    }
    if (payload.size() != static_cast<std::size_t>(length)) {
        Printf_err("Torvik::AddMessage: Payload size does not equal to CAN message length! (%i/%i)\n",
                   static_cast<int>(payload.size()), length);
        return -21;
    }
    return AddMessageChecked(message, payload);
}

std::int32_t Torvik::AddMessage(const std::uint8_t* payload, std::uint8_t dlc, std::uint8_t channel,
                                std::uint8_t channel2, std::uint32_t id, bool extended, bool frameFlag1,
                                bool frameFlag2, bool frameFlag3, std::uint8_t option, std::uint8_t enable,
                                bool fastSlowSend, std::uint16_t time1, std::uint16_t time2, std::uint16_t time3)
{
    const tagCanMessage message{dlc,        channel, channel2, id,           extended, frameFlag1, frameFlag2,
                                frameFlag3, option,  enable,   fastSlowSend, time1,    time2,      time3};
    if (payload == nullptr) {
        return AddMessage(message);
    }
    const int length = DlcLength(dlc);
    if (length < 0) {
        return -31;
    }
    return AddMessageChecked(message, std::vector<std::uint8_t>(payload, payload + length));
}

std::int32_t Torvik::GetHandler(std::uint8_t channel, std::uint8_t channel2, std::uint32_t id, bool extended,
                                bool frameFlag1, bool frameFlag2)
{
    std::vector<std::uint8_t> payload{channel, channel2};
    PushCanId(payload, id, extended);
    payload.push_back(static_cast<std::uint8_t>((frameFlag1 ? 0x80 : 0) | (frameFlag2 ? 0x40 : 0)));
    return MapStatus(SendAndAwait(GET_HANDLER, payload), {{0xFFFF, -21}});
}

std::int32_t Torvik::EnableMessage(std::uint16_t handler)
{
    const std::int32_t status = MapStatus(SendHandlerAndAwait(ENABLE_MESSAGE, handler, {}), {{0xFFFF, -21}, {1, -22}});
    if (status >= 0) {
        const auto found = messages_.find(handler);
        if (found == messages_.end()) {
            Printf_err("Torvik::EnableMessage: Message not found in internal API structure.\n");
        } else {
            found->second.enable = 1;
        }
    }
    return status;
}

std::int32_t Torvik::DisableMessage(std::uint16_t handler)
{
    const std::int32_t status = MapStatus(SendHandlerAndAwait(DISABLE_MESSAGE, handler, {}), {{0xFFFF, -21}});
    if (status >= 0) {
        const auto found = messages_.find(handler);
        if (found == messages_.end()) {
            Printf_err("Torvik::DisableMessage: Message not found in internal API structure.\n");
        } else {
            found->second.enable = 0;
        }
    }
    return status;
}

std::int32_t Torvik::RemoveMessage(std::uint16_t handler)
{
    return MapStatus(SendHandlerAndAwait(REMOVE_MESSAGE, handler, {}), {{0xFFFF, -21}, {1, -22}});
}

std::int32_t Torvik::SetMessageData(std::uint16_t handler, const std::uint8_t* data, const std::uint8_t* mask,
                                    std::uint8_t flag, bool wait)
{
    const auto found = messages_.find(handler);
    if (found == messages_.end()) {
        Printf_err("Torvik::SetMessageData: Message not found in internal API structure.\n");
        return -31;
    }
    const auto n = static_cast<std::size_t>(DlcLength(found->second.dlc));
    std::vector<std::uint8_t> payload;
    payload.reserve(1 + 2 * n);
    payload.push_back(flag);
    for (std::size_t i = 0; i < n; ++i) {
        payload.push_back(mask != nullptr ? mask[i] : 0xFF);
    }
    for (std::size_t i = 0; i < n; ++i) {
        payload.push_back(data != nullptr ? data[i] : 0x00);
    }
    const std::int32_t sent = SendCommandHandler(SET_MESSAGE_DATA, handler, payload, wait);
    if (sent < 0 || !wait) {
        return sent;
    }
    return MapStatus(Await(false), {{0xFFFF, -21}});
}

// ---------------------------------------------------------------------------------------------------------
// Signals

std::int32_t Torvik::AddSignal(std::uint16_t messageHandler, std::uint8_t group, std::uint16_t startSymbol,
                               std::uint16_t stopSymbol, std::uint8_t flags)
{
    if (stopSymbol < startSymbol) {
        Printf_err("Torvik::AddSignal: Invalid input: StartSymbol > StopSymbol (%u > %u)\n",
                   static_cast<unsigned>(startSymbol), static_cast<unsigned>(stopSymbol));
        return -31;
    }
    if (stopSymbol - startSymbol >= 16) {
        Printf_err("Torvik::AddSignal: Length of signal exceed maximal 16 bits.\n");
        return -31;
    }
    const auto found = messages_.find(messageHandler);
    if (found == messages_.end()) {
        Printf_err("Torvik::AddSignal: Message h=%u;grp=%u;sym<%u;%u> not found in internal API structure.\n",
                   static_cast<unsigned>(messageHandler), static_cast<unsigned>(group),
                   static_cast<unsigned>(startSymbol), static_cast<unsigned>(stopSymbol));
    } else if ((flags & 0x80) != 0 && found->second.fastSlowSend && level_ == 100) {
        Printf_err("Torvik::AddSignal: Invalid configuration: Fast slow send and cumulative signal at once.\n");
        return -32;
    }
    std::vector<std::uint8_t> payload{group};
    PushBe16(payload, startSymbol);
    PushBe16(payload, stopSymbol);
    payload.push_back(flags);
    const std::int32_t status = MapStatus(SendHandlerAndAwait(ADD_SIGNAL, messageHandler, payload), {{0xFFFF, -21}});
    if (status >= 0) {
        signals_[static_cast<std::uint16_t>(status)] = SignalInfo{startSymbol, stopSymbol, flags, group};
    }
    return status;
}

std::int32_t Torvik::RemoveSignal(std::uint16_t handler)
{
    const std::int32_t status = MapStatus(SendHandlerAndAwait(REMOVE_SIGNAL, handler, {}), {{0xFFFF, -21}});
    if (status >= 0) {
        signals_.erase(handler);
    }
    return status;
}

std::int32_t Torvik::SignalChangeValue(std::uint16_t handler, std::uint16_t value, std::uint8_t flag, bool wait)
{
    const auto found = signals_.find(handler);
    if (found == signals_.end()) {
        Printf_err("Torvik::SignalChangeValue: Signal not found in internal API structure.\n");
    } else if ((found->second.flags & 0x80) == 0 && found->second.stop != found->second.start) {
        const int shift = 15 - (found->second.stop - found->second.start);
        value = static_cast<std::uint16_t>(value << shift);
    }
    std::vector<std::uint8_t> payload;
    PushBe16(payload, value);
    payload.push_back(flag);
    const std::int32_t sent = SendCommandHandler(SIGNAL_CHANGE_VALUE, handler, payload, wait);
    if (sent < 0 || !wait) {
        return sent;
    }
    return MapStatus(Await(false), {{0xFFFF, -21}});
}

std::int32_t Torvik::ChangeSignalSgroup(std::uint8_t group, std::uint16_t value)
{
    std::vector<std::uint8_t> payload{group};
    PushBe16(payload, value);
    return MapStatus(SendAndAwait(SIGNAL_CHANGE_VALUE, payload), {{0xFFFF, -21}});
}

std::int32_t Torvik::ExecuteSignalChange(bool wait)
{
    const std::int32_t sent = SendCommand(EXECUTE_SIGNAL_CHANGE, {}, wait);
    if (sent < 0 || !wait) {
        return sent;
    }
    return MapStatus(Await(false), {{0xFFFF, -21}});
}

std::int32_t Torvik::SetSignalControl(std::uint16_t handler, std::uint8_t control, std::uint32_t param1,
                                      std::uint32_t param2, std::uint32_t param3)
{
    std::vector<std::uint8_t> payload{control};
    PushBe16(payload, handler);
    PushBe32(payload, param1);
    PushBe32(payload, param2);
    PushBe32(payload, param3);
    return MapStatus(SendAndAwait(SET_SIGNAL_CONTROL, payload), {{0xFFFF, -21}});
}

// ---------------------------------------------------------------------------------------------------------
// Requests

std::int32_t Torvik::RequestMessage(std::uint8_t channel, std::uint32_t id, std::uint8_t flag, bool extended,
                                    std::uint8_t dlc, bool frameFlag1, bool frameFlag2, const std::uint8_t* data)
{
    const int length = DlcLength(dlc);
    if (length < 0) {
        Printf_err("Torvik::RequestMessage: Invalid DLC value: %u.\n", static_cast<unsigned>(dlc));
        return -21;
    }
    std::vector<std::uint8_t> payload{channel};
    PushCanId(payload, id, extended);
    payload.push_back(0x00);
    payload.push_back(dlc);
    payload.push_back(static_cast<std::uint8_t>((frameFlag1 ? 0x80 : 0) | (frameFlag2 ? 0x40 : 0)));
    payload.push_back(flag);
    if (data != nullptr) {
        payload.insert(payload.end(), data, data + length);
    }
    const std::int32_t status = MapStatus(SendAndAwait(REQUEST_MESSAGE, payload),
                                          {{1, -21}, {2, -21}, {3, -21}, {4, -21}, {5, -21}, {0xFFFF, -21}});
    if (status < 0) {
        return status;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(channel) * 65536u + (id & 0xFFFFu));
}

std::int32_t Torvik::EnableRequest(std::uint16_t handler)
{
    return MapStatus(SendHandlerAndAwait(ENABLE_REQUEST, handler, {}), {{0xFFFF, -21}});
}

std::int32_t Torvik::DisableRequest(std::uint16_t handler)
{
    return MapStatus(SendHandlerAndAwait(DISABLE_REQUEST, handler, {}), {{0xFFFF, -21}});
}

std::int32_t Torvik::RemoveRequest(std::uint16_t handler)
{
    return MapStatus(SendHandlerAndAwait(REMOVE_REQUEST, handler, {}), {{0xFFFF, -21}});
}

std::int32_t Torvik::RequestSignal(std::uint32_t requestKey, std::uint32_t startSymbol, std::uint32_t stopSymbol)
{
    if (stopSymbol < startSymbol) {
        Printf_err("Torvik::RequestSignal: Invalid input: StartSymbol > StopSymbol (%u > %u)\n", startSymbol,
                   stopSymbol);
        return -1;
    }
    if (stopSymbol - startSymbol >= 64) {
        Printf_err("Torvik::RequestSignal: Length of signal exceed maximal 64 bits.\n");
        return -1;
    }
    requested_.push_back({requestKey, startSymbol, stopSymbol});
    return ++requested_count_;
}

template <typename T>
std::int32_t Torvik::ReadSignalBits(std::int32_t index, T& value, std::uint32_t* age, bool flag)
{
    if (!flag) {
        return -1000;
    }
    if (!running_) {
        return -3;
    }
    // An unknown index (the placeholder 0 included) is the caller's error, reported rather than raised.
    if (index <= 0 || static_cast<std::size_t>(index) >= requested_.size() ||
        requested_[static_cast<std::size_t>(index)].size() != 3) {
        return -4;
    }
    const auto& entry = requested_[static_cast<std::size_t>(index)];
    const std::uint32_t start = entry[1];
    const std::uint32_t stop = entry[2];
    const RecvAsyncMessage message = ReadAsyncMessage(entry[0]);
    if (message.key == 0 || message.data.empty()) {
        return 1;
    }
    if (stop / 8 >= message.data.size()) {
        Printf_err("Requested stop bit exceeds real length of received message! (%i/%i)\n", static_cast<int>(stop),
                   static_cast<int>(message.data.size() * 8));
        return 2;
    }
    if (age != nullptr) {
        *age = static_cast<std::uint32_t>(clock_->NowMs()) - message.time;
    }
    const std::uint32_t spanned = stop / 8 - start / 8 + 1;
    if (sizeof(T) == 8 && spanned > 8) {
        Diagnostic("Data may be lost. Size of Bytevector: %u vs output integer size: %u", spanned, 8u);
    }
    std::uint64_t bits = 0;
    for (std::uint32_t k = start; k <= stop && k - start < 64; ++k) {
        const std::uint64_t bit = (message.data[k / 8] >> (k % 8)) & 1u;
        bits |= bit << (k - start);
    }
    value = static_cast<T>(bits);
    return 0;
}

std::int32_t Torvik::SignalReadValue(std::int32_t index, std::uint32_t& value, std::uint32_t* age, bool flag)
{
    return ReadSignalBits(index, value, age, flag);
}

std::int32_t Torvik::SignalReadValue(std::int32_t index, std::uint64_t& value, std::uint32_t* age, bool flag)
{
    return ReadSignalBits(index, value, age, flag);
}

// ---------------------------------------------------------------------------------------------------------
// CRC blocks, gateway, stored simulation

std::int32_t Torvik::AddCrc(const std::uint8_t* block)
{
    std::vector<std::uint8_t> payload(16, 0);
    if (block != nullptr) {
        payload.assign(block, block + 16);
    }
    return MapStatus(SendAndAwait(ADD_CRC, payload), {{0xFFFF, -21}});
}

std::int32_t Torvik::ChangeCrc(std::uint16_t handler, const std::uint8_t* block)
{
    std::vector<std::uint8_t> payload;
    payload.reserve(16);
    for (int i = 0; i < 16; ++i) {
        payload.push_back(block != nullptr ? block[i] : static_cast<std::uint8_t>(std::rand() & 0xFF));
    }
    return MapStatus(SendHandlerAndAwait(CHANGE_CRC, handler, payload), {{1, -21}, {2, -22}, {3, -23}});
}

std::int32_t Torvik::DisableCrc(std::uint16_t handler)
{
    return MapStatus(SendHandlerAndAwait(DISABLE_CRC, handler, {}), {{1, -21}, {2, -22}, {3, -23}});
}

std::int32_t Torvik::GatewayID(std::uint8_t value1, std::uint32_t value2)
{
    std::vector<std::uint8_t> payload{value1};
    for (int shift = 0; shift < 32; shift += 8) {
        payload.push_back(static_cast<std::uint8_t>(value2 >> shift));
    }
    return MapStatus(SendAndAwait(GATEWAY_ID, payload), {{0xFFFF, -21}});
}

std::int32_t Torvik::BlobRemove()
{
    return MapStatus(SendAndAwait(BLOB_REMOVE, {0x00}), {{0xFFFF, -21}});
}

// ---------------------------------------------------------------------------------------------------------
// EEPROM and clock

std::int32_t Torvik::ReadEeprom(std::uint16_t address, std::uint8_t length, std::uint8_t* out)
{
    if (out == nullptr) {
        Diagnostic("Torvik::ReadEeprom: Data pointer is NULL!\n");
        return -2;
    }
    if (length == 0 || length > 16) {
        Diagnostic("Torvik::ReadEeprom: Invalid eeprom block length - max 16 bit: %i!\n", length);
        return -1;
    }
    std::vector<std::uint8_t> payload;
    PushBe16(payload, address);
    payload.push_back(length);
    const std::int32_t sent = SendCommand(READ_EEPROM, payload, true);
    if (sent < 0) {
        return sent;
    }
    std::vector<std::uint8_t> bytes;
    const std::int32_t r = GetBytesResponse(bytes, false);
    if (r < 0) {
        return r - 10;
    }
    if (bytes.size() != length) {
        Diagnostic("Torvik::ReadEeprom: Invalid eeprom block length returned from torvik. Request: %u Response %zu\n",
                     static_cast<unsigned>(length), bytes.size());
        return -666;
    }
    std::copy(bytes.begin(), bytes.end(), out);
    return 0;
}

std::int32_t Torvik::WriteEeprom(std::uint16_t address, std::uint8_t length, const std::uint8_t* data)
{
    if (length == 0 || length > 16) {
        Diagnostic("Torvik::WriteEeprom: Invalid eeprom block length - max 16 bit: %i!\n", length);
        return -1;
    }
    if (address < 30) {
        Diagnostic("Torvik::WriteEeprom: Invalid eeprom address: %i! Must be >= 30!\n", address);
        return -1;
    }
    std::vector<std::uint8_t> payload;
    PushBe16(payload, address);
    for (std::uint8_t i = 0; i < length; ++i) {
        payload.push_back(data != nullptr ? data[i] : 0x00);
    }
    return MapStatus(SendAndAwait(WRITE_EEPROM, payload), {{0xFFFF, -21}});
}

std::int32_t Torvik::GetTime(std::int64_t* out)
{
    if (out == nullptr) {
        Diagnostic("Torvik::GetTime: Time pointer is NULL!\n");
        return -2;
    }
    const std::int32_t sent = SendCommand(GET_TIME, {}, true);
    if (sent < 0) {
        return sent;
    }
    std::vector<std::uint8_t> bytes;
    const std::int32_t r = GetBytesResponse(bytes, false);
    if (r < 0) {
        return r - 10;
    }
    std::uint32_t value = 0;
    if (bytes.size() > 4) {
        Diagnostic("Unable convert %d bit number to uint32.\n", static_cast<int>(bytes.size() * 8));
    } else {
        for (const std::uint8_t byte : bytes) {
            value = (value << 8) | byte;
        }
    }
    *out = static_cast<std::int64_t>(value);
    return 0;
}

std::int32_t Torvik::SetTime(std::int64_t value)
{
    std::vector<std::uint8_t> payload;
    PushBe32(payload, static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) & 0xFFFFFFFFu));
    return MapStatus(SendAndAwait(SET_TIME, payload), {{0xFFFF, -21}, {0x1FFFF, -21}});
}

// ---------------------------------------------------------------------------------------------------------
// Log channels

std::int32_t Torvik::SetPrintStream(std::ostream* stream, int channel)
{
    return printer_.Add(stream, channel);
}

std::int32_t Torvik::SetPrintStream(PrintFunction function, int channel)
{
    return printer_.Add(function, channel);
}

std::int32_t Torvik::SetPrintStream(std::FILE* file, int channel)
{
    return printer_.Add(file, channel);
}

std::int32_t Torvik::ClearPrintStream(std::ostream* stream, int channel)
{
    return printer_.Remove(stream, channel);
}

std::int32_t Torvik::ClearPrintStream(PrintFunction function, int channel)
{
    return printer_.Remove(function, channel);
}

std::int32_t Torvik::ClearPrintStream(std::FILE* file, int channel)
{
    return printer_.Remove(file, channel);
}

std::int32_t Torvik::ClearPrintStream(std::ostream* stream)
{
    return printer_.Remove(stream);
}

std::int32_t Torvik::ClearPrintStream(PrintFunction function)
{
    return printer_.Remove(function);
}

std::int32_t Torvik::ClearPrintStream(std::FILE* file)
{
    return printer_.Remove(file);
}

std::int32_t Torvik::ClearPrintStream()
{
    return printer_.Clear();
}

std::int32_t Torvik::Printf_err(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int r = printer_.VPrintf(ERR, format, args);
    va_end(args);
    return r;
}

std::int32_t Torvik::Printf_inf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int r = printer_.VPrintf(INF, format, args);
    va_end(args);
    return r;
}

std::int32_t Torvik::vPrintf_err(const char* format, va_list args)
{
    return printer_.VPrintf(ERR, format, args);
}

std::int32_t Torvik::vPrintf_inf(const char* format, va_list args)
{
    return printer_.VPrintf(INF, format, args);
}

void Torvik::DataPrint(const std::vector<std::uint8_t>& bytes, int direction)
{
    if (printer_.Count(COM) <= 0) {
        return;
    }
    std::string text = std::to_string(clock_->NowMs());
    if (direction > 0) {
        text += ":>> ";
    } else if (direction < 0) {
        text += ":<< ";
        if (direction < -1) {
            text += "ERROR! ";
        }
    }
    text += HexDump(bytes);
    if (direction <= 0) {
        text += '\n';
        text.append(80, '-');
    }
    text += '\n';
    printer_.Write(COM, text);
}

void Torvik::DebugComm(const char* path, std::ios_base::openmode mode)
{
    if (debug_.is_open()) {
        printer_.Remove(static_cast<std::ostream*>(&debug_));
        debug_.close();
    }
    debug_.clear();
    if (path == nullptr) {
        return;
    }
    debug_.open(path, mode | std::ios_base::out);
    if (!debug_.is_open()) {
        Printf_err("Torvik::DebugComm: Unable to open file: %s", path);
        return;
    }
    static constexpr const char* kNames[] = {"ERR", "INF", "COM"};
    for (int channel = ERR; channel <= COM; ++channel) {
        if (printer_.Add(static_cast<std::ostream*>(&debug_), channel) != 0) {
            Printf_err("Torvik::DebugComm: Unable to add filestream to %s channel. (max streams target reached)",
                       kNames[channel]);
        }
    }
}

}  // namespace torvik::devicelink
