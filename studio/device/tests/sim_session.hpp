#pragma once

// A simulated device on a pseudo-terminal and a session on it, for the device utilities' tests.
#include <device/device_session.hpp>
#include <sim/simulator.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace torvik::studio::testing {

class SimSession : public ::testing::Test {
protected:
    void Start(sim::SimOptions options = {}, std::uint32_t timeoutMs = 1000)
    {
        sim_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(error)) << error;
        session_ = std::make_unique<DeviceSession>(sim_->DevicePath(), timeoutMs);
    }
    void TearDown() override
    {
        session_.reset();
        sim_.reset();
    }

    /// The commands the device received, each as its identifier followed by its payload.
    std::vector<std::vector<std::uint8_t>> Commands() const
    {
        std::vector<std::vector<std::uint8_t>> commands;
        for (const auto& frame : sim_->ReceivedFrames()) {
            // length, sequence, identifier, payload, two checksum bytes
            if (frame.size() >= 5) {
                commands.emplace_back(frame.begin() + 2, frame.end() - 2);
            }
        }
        return commands;
    }
    /// The received commands with identifier `id`, from the `from`-th command on.
    std::vector<std::vector<std::uint8_t>> CommandsOf(std::uint8_t id, std::size_t from = 0) const
    {
        std::vector<std::vector<std::uint8_t>> found;
        const auto all = Commands();
        for (std::size_t i = from; i < all.size(); ++i) {
            if (all[i][0] == id) {
                found.push_back(all[i]);
            }
        }
        return found;
    }

    /// How many restarts (reboot mode 1; the connection probes are mode 3) the device received.
    std::size_t Restarts() const
    {
        std::size_t count = 0;
        for (const auto& command : Commands()) {
            count += command == kRestart ? 1 : 0;
        }
        return count;
    }

    static constexpr std::uint8_t kWriteEeprom = 0x27;
    static constexpr std::uint8_t kReboot = 0x20;
    static constexpr std::uint8_t kSetTime = 0x31;
    static inline const std::vector<std::uint8_t> kRestart = {kReboot, 0x01};

    std::unique_ptr<sim::Simulator> sim_;
    std::unique_ptr<DeviceSession> session_;
};

}  // namespace torvik::studio::testing
