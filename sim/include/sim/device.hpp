#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvik::sim {

/// The device's operating mode.
enum class SimMode { Application, Bootloader };

/// What the simulated device keeps: its memories, its clock and the mode it runs in. The handlers of both
/// modes work on one instance; the simulator guards it with its lock.
struct DeviceState {
    static constexpr std::size_t kEepromSize = 4096;
    static constexpr std::size_t kFlashSize = 512 * 1024;
    static constexpr std::uint32_t kRamBase = 0x10000000;
    static constexpr std::size_t kRamSize = 32 * 1024;

    std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(kFlashSize, 0xFF);
    std::vector<std::uint8_t> eeprom = std::vector<std::uint8_t>(kEepromSize, 0xFF);
    std::vector<std::uint8_t> ram = std::vector<std::uint8_t>(kRamSize, 0x00);
    std::int64_t clock_value = 0;   ///< seconds, as last set
    std::int64_t clock_set_at = 0;  ///< wall seconds when it was set
    SimMode mode = SimMode::Application;
    bool save_now = false;   ///< EEPROM or clock changed: write the state file after this input
    bool save_soon = false;  ///< flash changed: write the state file once the line is idle
};

/// What a handler sends in answer to received bytes: runs of bytes, each after a pause that models the
/// time the device is busy (flash erase and programming). The simulator honours pauses only when pacing.
struct Output {
    struct Segment {
        std::uint32_t pause_us = 0;
        std::string bytes;
    };
    std::vector<Segment> segments;

    void Send(std::string_view bytes)
    {
        if (segments.empty()) {
            segments.emplace_back();
        }
        segments.back().bytes.append(bytes);
    }
    void Pause(std::uint32_t us) { segments.push_back(Segment{us, {}}); }
    /// All bytes, without the pauses.
    std::string Bytes() const
    {
        std::string all;
        for (const auto& segment : segments) {
            all += segment.bytes;
        }
        return all;
    }
    std::uint64_t PauseUs() const
    {
        std::uint64_t total = 0;
        for (const auto& segment : segments) {
            total += segment.pause_us;
        }
        return total;
    }
};

}  // namespace torvik::sim
