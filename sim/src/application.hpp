#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include <sim/device.hpp>

namespace torvik::sim {

/// The Torvik4's own firmware: SLIP frames with checksummed packets in, answers and asynchronous
/// messages out. One handler per command works on the shared device state.
class ApplicationMode {
public:
    using Clock = std::chrono::steady_clock;

    ApplicationMode(DeviceState& device, std::uint32_t reboot_ms);

    /// The state after a reset: no messages, signals, requests or CRC blocks, a fresh frame decoder.
    void Reset();
    /// Handles received bytes; returns how many were taken (fewer when a command entered the boot loader).
    std::size_t Receive(const std::uint8_t* bytes, std::size_t count, bool silent, Output& out);
    /// The asynchronous messages of the enabled requests, unless the device is silent.
    void SendAsync(bool silent, Output& out);

    bool hw_error_notices = false;
    bool eeprom_write_protected = false;  ///< answer every EEPROM write with a command-failed reply
    std::uint32_t corrupt_every_nth = 0;
    /// Decoded frames received so far (the oldest are dropped beyond a few thousand).
    std::vector<std::vector<std::uint8_t>> received;

private:
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
    struct Packet {
        std::uint8_t seq = 0;
        std::uint8_t cmd = 0;
        std::vector<std::uint8_t> p;  // parameters
        std::uint16_t Handler() const;
    };
    // Collects SLIP frames from a byte stream.
    class FrameDecoder {
    public:
        enum class Event { None, Frame, Error };
        Event Push(std::uint8_t byte);
        std::vector<std::uint8_t> Take() { return std::move(done_); }

    private:
        Event Store(std::uint8_t byte);
        bool in_frame_ = false;
        bool escaped_ = false;
        std::vector<std::uint8_t> frame_;
        std::vector<std::uint8_t> done_;
    };

    void HandleFrame(const std::vector<std::uint8_t>& frame);
    void SendPacket(std::uint8_t seq, std::uint8_t id, const std::vector<std::uint8_t>& payload, bool may_corrupt);
    void Answer(const Packet& packet, std::uint8_t id, const std::vector<std::uint8_t>& payload);
    void Status(const Packet& packet, std::uint16_t value);
    void Malformed(const Packet& packet);
    std::uint16_t NewHandler();
    std::int64_t Now() const;

    void AddMessage(const Packet& packet);
    void MessageState(const Packet& packet);
    void MessageData(const Packet& packet);
    void MessageHandler(const Packet& packet);
    void AddCrc(const Packet& packet);
    void ChangeCrc(const Packet& packet);
    void AddSignal(const Packet& packet);
    void SignalValue(const Packet& packet);
    void RemoveSignal(const Packet& packet);
    void SignalControl(const Packet& packet);
    void GatewayId(const Packet& packet);
    void Reboot(const Packet& packet);
    void BlobRemove(const Packet& packet);
    void RequestMessage(const Packet& packet);
    void RequestState(const Packet& packet);
    void ReadEeprom(const Packet& packet);
    void WriteEeprom(const Packet& packet);
    void GetTime(const Packet& packet);
    void SetTime(const Packet& packet);

    DeviceState& device_;
    std::uint32_t reboot_ms_;
    Output* out_ = nullptr;  // where the answers of the current input go
    std::map<std::uint16_t, Message> messages_;
    std::map<std::uint16_t, Signal> signals_;
    std::map<std::uint16_t, Request> requests_;
    std::map<std::uint16_t, std::vector<std::uint8_t>> crcs_;
    std::uint16_t next_handler_ = 1;
    FrameDecoder decoder_;
    std::uint32_t answers_ = 0;
    Clock::time_point silent_until_{};
};

}  // namespace torvik::sim
