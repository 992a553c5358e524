#pragma once

// The device's real-time clock as its user sees it. The device counts seconds since 1 January 1970
// 00:00 of its own wall-clock time, with no time zone: the PC's local date and time are written as if
// they were UTC and read back the same way, so the device shows the local time at which it was set.
// The device keeps 32 bits: it holds 1970-01-01 00:00:00 to 2106-02-07 06:28:15, and a date outside
// that range is refused before anything is sent rather than wrapped.
//
// The conversions go through the C library's local time (the TZ variable), daylight saving unknown,
// and so call tzset(); they run on any thread, but not while another thread changes TZ.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <device/device_message.hpp>

namespace torvik::studio {

/// A date and time as shown: year (e.g. 2024), month 1 to 12, day 1 to 31, hour 0 to 23, minute and
/// second 0 to 59.
struct ClockFields {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool operator==(const ClockFields&) const = default;
};

inline constexpr std::int64_t kDeviceClockMax = 0xFFFFFFFF;

/// The date and time shown for a device value: the value broken down as UTC, taken as local time with
/// daylight saving unknown (mktime), and broken down as local time again. The fields of the value come
/// out unchanged, except at a local time that does not exist (skipped by daylight saving), which the
/// C library moves.
ClockFields DeviceToDisplay(std::int64_t deviceValue);
/// The device value for a shown date and time: the fields as local time with daylight saving unknown
/// (mktime; fields out of their range are carried over as it does), broken down as local time and
/// taken as UTC (timegm). Empty when the C library cannot represent the time. The result may lie outside
/// the device's range; FitsDeviceClock tells.
std::optional<std::int64_t> DisplayToDevice(const ClockFields& shown);
/// The PC's local date and time at `systemSeconds` (seconds since 1970 UTC).
ClockFields LocalFields(std::int64_t systemSeconds);
bool FitsDeviceClock(std::int64_t deviceValue);

/// "YYYY-MM-DD HH:MM:SS".
std::string FormatClockFields(const ClockFields& fields);
/// "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DDTHH:MM:SS", a real calendar date (leap years counted) and a
/// time of day; false for anything else.
bool ParseClockFields(std::string_view text, ClockFields& fields);

struct ClockReading {
    std::int64_t deviceValue = 0;
    ClockFields shown;
    DeviceOutcome outcome;  ///< no messages when the clock was read
};

struct ClockSetting {
    ClockFields shown;             ///< what was set
    std::int64_t deviceValue = 0;  ///< what went to the device
    DeviceOutcome outcome;         ///< the information that it was set, or the error
};

/// The clock over one open session. Every call blocks on the device (a set with its restart up to about
/// six seconds) and runs on the caller's thread; one thread at a time.
class DeviceClock {
public:
    /// The error shown when the session cannot be opened, or the clock cannot be read when it opens.
    static constexpr const char* kOpenFailure = "Can't get date & time from Torvik4 device. Please be sure that "
                                                "it is connected and \"Mode 5\" is set.";

    explicit DeviceClock(DeviceSession& session) : session_(session) {}

    /// "Get device time": the device value and its date and time, or the error.
    ClockReading Get();
    /// "Set device time": converts, sets the clock and restarts the device after a successful set.
    /// A date the device cannot hold is refused with the set's error and nothing is sent.
    ClockSetting Set(const ClockFields& shown);
    /// "Set local time": Set with the PC's local date and time now.
    ClockSetting SetLocal();

private:
    DeviceSession& session_;
};

/// Opening the clock configuration: a session on `port` (empty: none chosen) and the clock read. When
/// either fails, the session is null and the outcome holds the error DeviceClock::kOpenFailure with the
/// reason.
using ClockOpening = UtilityOpening<ClockReading>;
ClockOpening OpenDeviceClock(const std::string& port);

}  // namespace torvik::studio
