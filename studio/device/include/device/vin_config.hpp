#pragma once

// The vehicle identification numbers the device keeps in its EEPROM, one per vehicle platform it
// simulates: read and written row by row or all at once, with the messages a front end shows.
//
// Each platform has a 17-byte field: the VIN in Windows-1252, padded with blanks (0x20) to 17 bytes,
// no terminator; a first byte 0xFF selects the device's own default VIN (only that byte is written).
// After every successful row write the device restarts, so the new value takes effect.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <device/device_message.hpp>

namespace torvik::studio {

enum class VinPlatform { MQB, MQB37W, MEB };

struct VinRowInfo {
    VinPlatform platform;
    const char* name;
    std::uint16_t address;  ///< first byte of the 17-byte field
};

inline constexpr std::size_t kVinLength = 17;
/// The first byte of a field that selects the device's default VIN.
inline constexpr std::uint8_t kVinDefaultMarker = 0xFF;
/// The rows in the order "Read all" and "Write all" take them.
inline constexpr std::array<VinRowInfo, 3> kVinRows = {{
    {VinPlatform::MQB, "MQB", 47},
    {VinPlatform::MQB37W, "MQB37W", 64},
    {VinPlatform::MEB, "MEB", 81},
}};

const VinRowInfo& VinRow(VinPlatform platform);
/// The platform named exactly `name` ("MQB", "MQB37W", "MEB"); false for any other name.
bool VinPlatformNamed(std::string_view name, VinPlatform& platform);

/// One row's value: the default marker, or a text of up to 17 characters.
struct VinValue {
    bool isDefault = false;
    std::wstring text;  ///< without the padding blanks; empty when isDefault
};

struct VinRowValue {
    VinPlatform platform;
    VinValue value;
};

struct VinReading {
    std::vector<VinRowValue> rows;  ///< the rows read, in order; "Read all" stops at the first failure
    DeviceOutcome outcome;          ///< no messages when every row was read
};

/// The device's 17 field bytes for a value: 0xFF alone for the default, else the text in Windows-1252
/// padded with blanks. A text of 18 characters or more, with a character Windows-1252 cannot hold or a
/// control character, or starting with U+00FF (whose byte 0xFF marks the default), gives a warning
/// naming the platform and no bytes.
std::vector<std::uint8_t> VinFieldBytes(VinPlatform platform, const VinValue& value, DeviceOutcome& refusal);
/// The value of the field bytes: default when the first is 0xFF, else the text up to a 0x00 byte, with
/// the padding blanks at its end removed.
VinValue VinFromField(const std::vector<std::uint8_t>& field);

/// The VIN rows over one open session. Every call blocks on the device (a row write with its restart
/// takes up to about six seconds) and runs on the caller's thread; one thread at a time.
class VinConfig {
public:
    /// The error shown when the session cannot be opened, or the rows cannot be read when it opens.
    static constexpr const char* kOpenFailure =
        "Can't get VINs from Torvik4 device. Please be sure that it is connected and \"Mode 5\" is set.";

    explicit VinConfig(DeviceSession& session) : session_(session) {}

    /// Reads one row: its 16 bytes, then its 17th. A failure gives the row's error.
    VinReading ReadRow(VinPlatform platform);
    /// Reads MQB, MQB37W, MEB and stops at the first failure, whose row error is followed by the error
    /// "Can't get WINs from Torvik4 device.".
    VinReading ReadAll();
    /// Checks the value (a warning and nothing written when it cannot be stored), writes the row and
    /// restarts the device; the information that it was set, or the row's error. A failed write does
    /// not restart the device.
    DeviceOutcome WriteRow(VinPlatform platform, const VinValue& value);
    /// Checks every value first (the first that cannot be stored gives its warning and nothing is
    /// written), then writes MQB, MQB37W, MEB as WriteRow does and stops at the first failure with that
    /// row's error; after the last row it restarts the device once more. `rowWritten` (optional) is
    /// called on the caller's thread after each row is written and the device has restarted.
    DeviceOutcome WriteAll(const std::array<VinValue, 3>& values,
                           const std::function<void(VinPlatform)>& rowWritten = {});

private:
    bool Read(VinPlatform platform, VinReading& reading);
    bool Write(VinPlatform platform, const std::vector<std::uint8_t>& field, DeviceOutcome& outcome);

    DeviceSession& session_;
};

/// Opening the VIN configuration: a session on `port` (empty: none chosen) and every row read. When
/// either fails, the session is null and the outcome holds the error VinConfig::kOpenFailure with the
/// reason.
using VinOpening = UtilityOpening<VinReading>;
VinOpening OpenVinConfig(const std::string& port);

}  // namespace torvik::studio
