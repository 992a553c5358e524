#include <device/vin_config.hpp>

#include <cstdio>

#include <device/device_session.hpp>
#include <platform/text.hpp>

namespace torvik::studio {

namespace {

using Kind = DeviceMessage::Kind;

std::string Platform(VinPlatform platform)
{
    return VinRow(platform).name;
}

bool IsControl(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

std::string CodePoint(wchar_t c)
{
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

}  // namespace

const VinRowInfo& VinRow(VinPlatform platform)
{
    static_assert(kVinRows[static_cast<std::size_t>(VinPlatform::MEB)].platform == VinPlatform::MEB);
    return kVinRows[static_cast<std::size_t>(platform)];
}

bool VinPlatformNamed(std::string_view name, VinPlatform& platform)
{
    for (const auto& row : kVinRows) {
        if (name == row.name) {
            platform = row.platform;
            return true;
        }
    }
    return false;
}

std::vector<std::uint8_t> VinFieldBytes(VinPlatform platform, const VinValue& value, DeviceOutcome& refusal)
{
    if (value.isDefault) {
        return {kVinDefaultMarker};
    }
    const std::string vin = "VIN for " + Platform(platform) + " platform";
    if (value.text.size() > kVinLength) {
        refusal.messages.push_back({Kind::Warning, vin + " is longer than 17 characters.", {}});
        return {};
    }
    // 0xFF as the first byte would read back as the default marker, so that text could never come back.
    if (!value.text.empty() && value.text.front() == L'\u00FF') {
        refusal.messages.push_back(
            {Kind::Warning, vin + " cannot start with \u00FF (U+00FF): its byte selects the default VIN.", {}});
        return {};
    }
    std::vector<std::uint8_t> field(kVinLength, ' ');
    for (std::size_t i = 0; i < value.text.size(); ++i) {
        const wchar_t c = value.text[i];
        char byte = 0;
        if (IsControl(c) || !platform::ToWindows1252(c, byte)) {
            refusal.messages.push_back(
                {Kind::Warning, vin + " has a character that cannot be stored: " + CodePoint(c) + ".", {}});
            return {};
        }
        field[i] = static_cast<std::uint8_t>(byte);
    }
    return field;
}

VinValue VinFromField(const std::vector<std::uint8_t>& field)
{
    if (!field.empty() && field.front() == kVinDefaultMarker) {
        return {true, {}};
    }
    VinValue value;
    for (const std::uint8_t byte : field) {
        if (byte == 0x00) {
            break;
        }
        value.text.push_back(platform::FromWindows1252(byte));
    }
    // The padding is the field's, not the VIN's: without it the text can grow to 17 characters again.
    while (!value.text.empty() && value.text.back() == L' ') {
        value.text.pop_back();
    }
    return value;
}

bool VinConfig::Read(VinPlatform platform, VinReading& reading)
{
    try {
        // The session reads a 17-byte range as the device's blocks: 16 bytes, then the 17th.
        const auto field = session_.ReadEeprom(VinRow(platform).address, kVinLength);
        reading.rows.push_back({platform, VinFromField(field)});
        return true;
    } catch (const DeviceError& e) {
        reading.outcome.messages.push_back(
            {Kind::Error, "Can't get VIN for " + Platform(platform) + " platform from Torvik4 device.", e.what()});
        return false;
    }
}

VinReading VinConfig::ReadRow(VinPlatform platform)
{
    VinReading reading;
    Read(platform, reading);
    return reading;
}

VinReading VinConfig::ReadAll()
{
    VinReading reading;
    for (const auto& row : kVinRows) {
        if (!Read(row.platform, reading)) {
            reading.outcome.messages.push_back({Kind::Error, "Can't get WINs from Torvik4 device.", {}});
            break;
        }
    }
    return reading;
}

bool VinConfig::Write(VinPlatform platform, const std::vector<std::uint8_t>& field, DeviceOutcome& outcome)
{
    try {
        // 16 bytes and then the 17th, or the default marker alone.
        session_.WriteEeprom(VinRow(platform).address, field);
    } catch (const DeviceError& e) {
        outcome.messages.push_back(
            {Kind::Error, "Can't set VIN for " + Platform(platform) + " platform in Torvik4 device.", e.what()});
        return false;
    }
    return RestartAfterSet(session_, "the VIN for " + Platform(platform) + " platform was written", outcome);
}

DeviceOutcome VinConfig::WriteRow(VinPlatform platform, const VinValue& value)
{
    DeviceOutcome outcome;
    const auto field = VinFieldBytes(platform, value, outcome);
    if (field.empty()) {
        return outcome;
    }
    if (Write(platform, field, outcome)) {
        outcome.messages.push_back({Kind::Information, "VIN for " + Platform(platform) + " platform was successfully set.", {}});
    }
    return outcome;
}

DeviceOutcome VinConfig::WriteAll(const std::array<VinValue, 3>& values,
                                  const std::function<void(VinPlatform)>& rowWritten)
{
    DeviceOutcome outcome;
    std::array<std::vector<std::uint8_t>, 3> fields;
    for (std::size_t i = 0; i < kVinRows.size(); ++i) {
        fields[i] = VinFieldBytes(kVinRows[i].platform, values[i], outcome);
        if (fields[i].empty()) {
            return outcome;
        }
    }
    for (std::size_t i = 0; i < kVinRows.size(); ++i) {
        if (!Write(kVinRows[i].platform, fields[i], outcome)) {
            return outcome;
        }
        if (rowWritten) {
            rowWritten(kVinRows[i].platform);
        }
    }
    if (!RestartAfterSet(session_, "every VIN was written", outcome)) {
        return outcome;
    }
    outcome.messages.push_back({Kind::Information, "WINs were successfully set.", {}});
    return outcome;
}

VinOpening OpenVinConfig(const std::string& port)
{
    return OpenUtility<VinReading>(port, VinConfig::kOpenFailure, [](DeviceSession& session) { return VinConfig(session).ReadAll(); });
}

}  // namespace torvik::studio
