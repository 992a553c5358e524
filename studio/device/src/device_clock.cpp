#include <device/device_clock.hpp>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include <device/device_session.hpp>

namespace torvik::studio {

namespace {

using Kind = DeviceMessage::Kind;

constexpr const char* kSetFailure = "Can't set date & time into Torvik4 device.";

ClockFields FieldsOf(const std::tm& tm)
{
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The digits of text[at, at + count) as a number; false when any is not a digit.
bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value)
{
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

ClockFields DeviceToDisplay(std::int64_t deviceValue)
{
    ::tzset();
    const auto seconds = static_cast<std::time_t>(deviceValue);
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    tm.tm_isdst = -1;
    // mktime takes the fields as local time and leaves them as localtime() of its result shows them.
    std::tm local = tm;
    errno = 0;
    if (std::mktime(&local) == static_cast<std::time_t>(-1) && errno != 0) {
        return FieldsOf(tm);
    }
    return FieldsOf(local);
}

std::optional<std::int64_t> DisplayToDevice(const ClockFields& shown)
{
    ::tzset();
    std::tm tm{};
    tm.tm_year = shown.year - 1900;
    tm.tm_mon = shown.month - 1;
    tm.tm_mday = shown.day;
    tm.tm_hour = shown.hour;
    tm.tm_min = shown.minute;
    tm.tm_sec = shown.second;
    tm.tm_isdst = -1;
    errno = 0;
    const std::time_t local = std::mktime(&tm);
    if (local == static_cast<std::time_t>(-1) && errno != 0) {
        return std::nullopt;
    }
    std::tm broken{};
    if (::localtime_r(&local, &broken) == nullptr) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(::timegm(&broken));
}

ClockFields LocalFields(std::int64_t systemSeconds)
{
    ::tzset();
    const auto seconds = static_cast<std::time_t>(systemSeconds);
    std::tm tm{};
    ::localtime_r(&seconds, &tm);
    return FieldsOf(tm);
}

bool FitsDeviceClock(std::int64_t deviceValue)
{
    return deviceValue >= 0 && deviceValue <= kDeviceClockMax;
}

std::string FormatClockFields(const ClockFields& f)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute,
                  f.second);
    return text;
}

bool ParseClockFields(std::string_view text, ClockFields& fields)
{
    ClockFields f;
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || (text[10] != ' ' && text[10] != 'T') ||
        text[13] != ':' || text[16] != ':' || !Digits(text, 0, 4, f.year) || !Digits(text, 5, 2, f.month) ||
        !Digits(text, 8, 2, f.day) || !Digits(text, 11, 2, f.hour) || !Digits(text, 14, 2, f.minute) ||
        !Digits(text, 17, 2, f.second)) {
        return false;
    }
    if (f.year < 1 || f.month < 1 || f.month > 12 || f.day < 1 || f.day > DaysInMonth(f.year, f.month) ||
        f.hour > 23 || f.minute > 59 || f.second > 59) {
        return false;
    }
    fields = f;
    return true;
}

ClockReading DeviceClock::Get()
{
    ClockReading reading;
    try {
        reading.deviceValue = session_.GetTime();
    } catch (const DeviceError& e) {
        reading.outcome.messages.push_back({Kind::Error, "Can't get date & time from Torvik4 device.", e.what()});
        return reading;
    }
    reading.shown = DeviceToDisplay(reading.deviceValue);
    return reading;
}

ClockSetting DeviceClock::Set(const ClockFields& shown)
{
    ClockSetting setting;
    setting.shown = shown;
    const auto value = DisplayToDevice(shown);
    if (!value || !FitsDeviceClock(*value)) {
        // The device would keep only the low 32 bits and run from another date.
        setting.outcome.messages.push_back(
            {Kind::Error, kSetFailure,
             "the device's clock holds 1970-01-01 00:00:00 to 2106-02-07 06:28:15, not " + FormatClockFields(shown)});
        return setting;
    }
    setting.deviceValue = *value;
    try {
        session_.SetTime(*value);
    } catch (const DeviceError& e) {
        setting.outcome.messages.push_back({Kind::Error, kSetFailure, e.what()});
        return setting;
    }
    if (RestartAfterSet(session_, "the clock was set", setting.outcome)) {
        setting.outcome.messages.push_back({Kind::Information, "Date & time was successfully set.", {}});
    }
    return setting;
}

ClockSetting DeviceClock::SetLocal()
{
    return Set(LocalFields(static_cast<std::int64_t>(std::time(nullptr))));
}

ClockOpening OpenDeviceClock(const std::string& port)
{
    return OpenUtility<ClockReading>(port, DeviceClock::kOpenFailure, [](DeviceSession& session) { return DeviceClock(session).Get(); });
}

}  // namespace torvik::studio
