#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <sim/device.hpp>

namespace torvik::sim {

/// Behaviours of the boot loader that sources describe differently; the defaults are the likeliest.
struct IspQuirks {
    bool echo_crlf = false;           ///< echo a received line end as CR LF (default: CR only)
    bool zero_as_space = false;       ///< send a zero sextet as a space (default: backquote)
    bool pad_with_memory = false;     ///< pad the last group of an R line with the memory that follows (default: 0)
    bool rom_overlay = false;         ///< R and M of 0x000-0x1FF see boot-ROM bytes instead of flash
    bool k_minor_first = false;       ///< K sends the minor number first (default: major, then minor)
    bool i_offset_absolute = false;   ///< I reports the flash address (default: offset from the start sector)
    std::uint32_t max_sync_baud = 0;  ///< no answer to '?' while the line is set faster than this (0: any)
};

/// The boot loader's serial command handler as a machine from received bytes to sent bytes. It works on
/// the device state given to it and never blocks; `G` switches the device to application mode.
class IspSession {
public:
    static constexpr std::uint32_t kPartId = 638664503;  // 0x26113F37
    static constexpr std::uint32_t kBootCodeMajor = 4;
    static constexpr std::uint32_t kBootCodeMinor = 1;
    static constexpr std::array<std::uint32_t, 4> kSerialNumber = {0x2A5C0011u, 0x6F0E4A3Bu, 0x8C9D1E27u, 0xF5000054u};
    static constexpr int kSectors = 30;

    enum class State { Autobaud, WaitSync, WaitFrequency, Command, WriteData, ReadData };

    explicit IspSession(DeviceState& device, IspQuirks quirks = {});

    /// The state after a reset into the boot loader: waiting for '?', echo on, locked, nothing prepared,
    /// the protection level read again from the flash word at 0x2FC.
    void Reset();
    /// Handles received bytes while the line is set to `line_baud` (0: unknown). Returns how many were
    /// taken: fewer than `count` when a command left the boot loader, the rest is the application's.
    std::size_t Receive(const std::uint8_t* bytes, std::size_t count, std::uint32_t line_baud, Output& out);

    /// As a chip left in the boot loader by an earlier session: synchronised, taking commands.
    void SkipHandshake() { state_ = State::Command; }
    State CurrentState() const { return state_; }
    /// Every n-th R block goes out with a wrong checksum, every n-th W block is answered RESEND (0: none).
    /// Counting starts again when the value changes.
    void SetCorruptEveryNth(std::uint32_t n);

    /// Flash sector of an address, and the first address of a sector.
    static int SectorOf(std::uint32_t address);
    static std::uint32_t SectorStart(int sector);

private:
    enum class Protection { None, Crp1, Crp2 };
    struct Transfer {
        std::uint32_t address = 0;
        std::uint32_t left = 0;
        std::vector<std::uint8_t> block;  // W: the decoded lines of the block so far
        std::size_t lines = 0;            // W: lines of the block so far
        std::uint32_t claimed = 0;        // W: bytes the lines of the block say they carry
        bool bad = false;                 // W: a line of the block did not decode
    };

    void Line(std::string_view line, Output& out);
    void Command(std::string_view line, Output& out);
    void WriteLine(std::string_view line, Output& out);
    void SendReadBlock(Output& out);
    std::uint8_t ReadByte(std::uint32_t address) const;
    bool Prepared(int first, int last) const;

    int Unlock(const std::vector<std::uint32_t>& a);
    int Baud(const std::vector<std::uint32_t>& a);
    int Echo(const std::vector<std::uint32_t>& a);
    int WriteRam(const std::vector<std::uint32_t>& a, Output& out);
    int ReadMemory(const std::vector<std::uint32_t>& a, Output& out);
    int Prepare(const std::vector<std::uint32_t>& a);
    int Copy(const std::vector<std::uint32_t>& a, Output& out);
    int Go(const std::vector<std::uint32_t>& a, std::string_view mode, Output& out);
    int Erase(const std::vector<std::uint32_t>& a, Output& out);
    int BlankCheck(const std::vector<std::uint32_t>& a, Output& out);
    int Compare(const std::vector<std::uint32_t>& a, Output& out);

    DeviceState& device_;
    IspQuirks quirks_;
    State state_ = State::Autobaud;
    bool echo_ = true;
    bool unlocked_ = false;
    Protection protection_ = Protection::None;
    std::array<bool, kSectors> prepared_{};
    std::string line_;
    bool line_overflow_ = false;
    bool after_cr_ = false;
    bool jumped_ = false;  // G has left the boot loader
    Transfer transfer_;
    std::uint32_t corrupt_nth_ = 0;
    std::uint64_t read_blocks_ = 0;
    std::uint64_t write_blocks_ = 0;
};

}  // namespace torvik::sim
