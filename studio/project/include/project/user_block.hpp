#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <dbclib/raw_number.hpp>

namespace torvik::studio {

/// Record types of the user block. Every record starts with its length less one, then its type.
inline constexpr std::uint8_t kRecordMessage = 0x01;
inline constexpr std::uint8_t kRecordConstants = 0x0B;
inline constexpr std::uint8_t kRecordSignalPosition = 0x14;
inline constexpr std::uint8_t kRecordSignalValues = 0x18;
inline constexpr std::uint8_t kRecordChannelSetup = 0x34;

/// How a control moves: between two values, two positions, or three positions.
enum class ControlClass { Continuous, TwoState, ThreeState };

ControlClass ClassOfControl(std::int32_t control);

/// One entry of the "Dynamic control" list: the name shown and the control number stored in the project
/// and sent to the device (-1: no control).
struct ControlEntry {
    const wchar_t* name;
    std::int32_t number;
};

/// The device's controls in the order of the list.
extern const std::array<ControlEntry, 31> kControls;

/// The name of a device control ("Potentiometer 1", "DIP switch 3", "No control" for -1), empty for a
/// number the device does not have.
std::wstring ControlName(std::int32_t control);

/// The CAN FD length code of a message length in bytes (a length between two codes takes the lower).
std::uint8_t DlcCode(std::uint32_t length);

/// The payload length of a DLC code (0..15).
std::uint32_t DlcLength(std::uint8_t code);

/// The 16-bit form of a raw value of a signal `bitLength` bits long: its top 16 bits, or the value
/// moved up to 16 bits for shorter signals.
std::uint16_t SixteenBitForm(const kq::dbclib::RawNumber& value, std::uint32_t bitLength);

/// The byte values of a GenMsgPDUConstants text: hexadecimal numbers separated by commas, each cut to
/// its low 8 bits; reading stops at the first token that is no number.
std::vector<std::uint8_t> ParsePduConstants(const std::wstring& text);

/// One record of a decoded user block.
struct UserBlockRecord {
    std::size_t offset = 0;  ///< of the record's length byte
    std::uint8_t type = 0;

    // channel setup
    std::uint8_t channel = 0;
    std::uint8_t setupCode = 0;

    // message
    std::uint8_t channelMask = 0;
    std::uint32_t id = 0;
    std::uint8_t frameFormat = 0;  ///< 0x00 classic, 0x40 CAN FD, 0xD0 CAN FD with bit-rate switch
    std::uint8_t dlc = 0;
    std::uint16_t cycleTimeMs = 0;
    std::uint16_t startDelayMs = 0;
    std::uint16_t fastCycleTimeMs = 0;
    std::vector<std::uint8_t> payload;

    // constants
    std::vector<std::uint8_t> constants;

    // signal position
    std::uint8_t control = 0;
    std::uint16_t startBit = 0;
    std::uint16_t lastBit = 0;
    std::uint8_t multiplexValue = 0;

    // signal values
    std::uint16_t startValue = 0;
    std::optional<std::uint16_t> middleValue;  ///< three-position controls
    std::uint16_t endValue = 0;
};

/// A user block read back record by record.
struct DecodedUserBlock {
    std::vector<UserBlockRecord> records;  ///< the records read before any error
    /// Where reading stopped on a truncated or malformed image, and why.
    std::optional<std::size_t> errorOffset;
    std::string error;
};

/// Reads an image as the builder writes it. Never throws; stops at the first byte that does not fit.
DecodedUserBlock DecodeUserBlock(std::span<const std::uint8_t> image);

}  // namespace torvik::studio
