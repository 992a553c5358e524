// The device clock: the local wall-clock time written as UTC in several time zones, the range the
// device's 32 bits hold, and the clock read and set on the simulated device.
#include <device/device_clock.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "sim_session.hpp"

namespace torvik::studio {
namespace {

using Kind = DeviceMessage::Kind;

// Sets TZ for one scope and puts the old value back.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone()
    {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    std::optional<std::string> old_;
};

// POSIX zones (no time zone data needed): UTC, two hours east, five hours west, central Europe with its
// daylight saving rule, and a half-hour zone.
constexpr const char* kZones[] = {"UTC0", "<+02>-2", "<-05>5", "CET-1CEST,M3.5.0,M10.5.0/3", "<+0530>-5:30"};

TEST(ClockConversion, ShowsTheDeviceFieldsInEveryZoneAndSendsTheShownFields)
{
    struct Case {
        std::int64_t device;
        ClockFields shown;
    };
    const Case cases[] = {
        {0, {1970, 1, 1, 0, 0, 0}},
        {1709251199, {2024, 2, 29, 23, 59, 59}},
        {1709251200, {2024, 3, 1, 0, 0, 0}},
        {951782400, {2000, 2, 29, 0, 0, 0}},
        {1729992600, {2024, 10, 27, 1, 30, 0}},   // 02:30 happens twice in central Europe: either is 02:30
        {1729996200, {2024, 10, 27, 2, 30, 0}},
        {kDeviceClockMax, {2106, 2, 7, 6, 28, 15}},
    };
    for (const char* zone : kZones) {
        TimeZone tz(zone);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(zone) + " " + FormatClockFields(c.shown));
            EXPECT_EQ(DeviceToDisplay(c.device), c.shown);
            EXPECT_EQ(DisplayToDevice(c.shown), std::optional<std::int64_t>(c.device));
        }
    }
}

TEST(ClockConversion, LocalTimeGoesToTheDeviceAsUtc)
{
    TimeZone tz("<+02>-2");
    // 2026-06-01 08:00:00 UTC is 10:00 at UTC+2; the device gets 10:00 "UTC" of that day.
    const ClockFields local = LocalFields(1780300800);
    EXPECT_EQ(local, (ClockFields{2026, 6, 1, 10, 0, 0}));
    EXPECT_EQ(DisplayToDevice(local), std::optional<std::int64_t>(1780308000));
    EXPECT_EQ(DeviceToDisplay(1780308000), local);
}

TEST(ClockConversion, ALocalTimeSkippedByDaylightSavingMovesByAnHour)
{
    TimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
    // 2024-03-31 02:30 does not exist in central Europe; the C library shows 01:30 or 03:30.
    const ClockFields shown = DeviceToDisplay(1711852200);
    EXPECT_EQ(shown.minute, 30);
    EXPECT_TRUE(shown.hour == 1 || shown.hour == 3) << FormatClockFields(shown);
}

TEST(ClockConversion, TheDeviceRangeEndsAt32Bits)
{
    for (const char* zone : kZones) {
        TimeZone tz(zone);
        SCOPED_TRACE(zone);
        const auto before = DisplayToDevice({1969, 12, 31, 23, 59, 59});
        const auto after = DisplayToDevice({2106, 2, 7, 6, 28, 16});
        ASSERT_TRUE(before && after);
        EXPECT_FALSE(FitsDeviceClock(*before));
        EXPECT_FALSE(FitsDeviceClock(*after));
        EXPECT_TRUE(FitsDeviceClock(*DisplayToDevice({2106, 2, 7, 6, 28, 15})));
    }
}

TEST(ClockText, ParsesRealDatesOnly)
{
    struct Case {
        const char* text;
        bool valid;
        ClockFields fields;
    };
    const Case cases[] = {
        {"2024-02-29 23:59:59", true, {2024, 2, 29, 23, 59, 59}},
        {"2024-02-29T23:59:59", true, {2024, 2, 29, 23, 59, 59}},
        {"2000-02-29 00:00:00", true, {2000, 2, 29, 0, 0, 0}},
        {"1970-01-01 00:00:00", true, {1970, 1, 1, 0, 0, 0}},
        {"2023-02-29 00:00:00", false, {}},
        {"1900-02-29 00:00:00", false, {}},
        {"2024-04-31 00:00:00", false, {}},
        {"2024-13-01 00:00:00", false, {}},
        {"2024-00-10 00:00:00", false, {}},
        {"2024-01-00 00:00:00", false, {}},
        {"2024-01-01 24:00:00", false, {}},
        {"2024-01-01 23:60:00", false, {}},
        {"2024-01-01 23:59:60", false, {}},
        {"2024-1-01 00:00:00", false, {}},
        {"2024-01-01 00:00:00 ", false, {}},
        {"2024-01-01  0:00:00", false, {}},
        {"2024-01-01_00:00:00", false, {}},
        {"+024-01-01 00:00:00", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ClockFields fields{1, 2, 3, 4, 5, 6};
        EXPECT_EQ(ParseClockFields(c.text, fields), c.valid);
        EXPECT_EQ(fields, (c.valid ? c.fields : ClockFields{1, 2, 3, 4, 5, 6}));
        if (c.valid) {
            EXPECT_EQ(FormatClockFields(fields), std::string(c.text).replace(10, 1, " "));
        }
    }
}

class ClockOnDevice : public testing::SimSession {
protected:
    void SetUp() override { Start(); }
};

TEST_F(ClockOnDevice, SetSendsTheValueRestartsAndReadsBack)
{
    TimeZone tz("<+02>-2");
    DeviceClock clock(*session_);
    const auto set = clock.Set({2024, 2, 29, 23, 59, 59});
    ASSERT_TRUE(set.outcome.Succeeded()) << OneLine(set.outcome);
    ASSERT_EQ(set.outcome.messages.size(), 1u);
    EXPECT_EQ(set.outcome.messages[0].text, "Date & time was successfully set.");
    EXPECT_EQ(set.deviceValue, 1709251199);
    auto commands = Commands();
    const std::vector<std::uint8_t> setTime = {kSetTime, 0x65, 0xE1, 0x1A, 0x7F};
    const auto sent = std::find(commands.begin(), commands.end(), setTime);
    ASSERT_NE(sent, commands.end());
    EXPECT_NE(std::find(sent, commands.end(), kRestart), commands.end());

    // The device's clock runs on; a read a moment later shows the same date and time or a little later.
    const auto got = clock.Get();
    ASSERT_TRUE(got.outcome.messages.empty()) << OneLine(got.outcome);
    EXPECT_GE(got.deviceValue, 1709251199);
    EXPECT_LT(got.deviceValue, 1709251199 + 60);
    EXPECT_EQ(DisplayToDevice(got.shown), std::optional<std::int64_t>(got.deviceValue));
    EXPECT_EQ(got.shown.day, got.deviceValue == 1709251199 ? 29 : 1);
}

TEST_F(ClockOnDevice, SetLocalSendsTheLocalTimeAsUtc)
{
    TimeZone tz("<+02>-2");
    const auto before = static_cast<std::int64_t>(std::time(nullptr)) + 2 * 3600;
    const auto set = DeviceClock(*session_).SetLocal();
    ASSERT_TRUE(set.outcome.Succeeded()) << OneLine(set.outcome);
    EXPECT_GE(set.deviceValue, before);
    EXPECT_LT(set.deviceValue, before + 60);
    EXPECT_EQ(DeviceToDisplay(set.deviceValue), set.shown);
}

TEST_F(ClockOnDevice, DateOutsideTheDeviceRangeIsRefusedBeforeAnythingIsSent)
{
    TimeZone tz("UTC0");
    for (const ClockFields& shown : {ClockFields{1969, 12, 31, 23, 59, 59}, ClockFields{2106, 2, 7, 6, 28, 16}}) {
        const std::size_t sent = Commands().size();
        const auto set = DeviceClock(*session_).Set(shown);
        ASSERT_EQ(set.outcome.messages.size(), 1u);
        EXPECT_EQ(set.outcome.messages[0].kind, Kind::Error);
        EXPECT_EQ(set.outcome.messages[0].text, "Can't set date & time into Torvik4 device.");
        EXPECT_EQ(set.outcome.messages[0].detail,
                  "the device's clock holds 1970-01-01 00:00:00 to 2106-02-07 06:28:15, not " + FormatClockFields(shown));
        EXPECT_EQ(Commands().size(), sent);
    }
}

TEST_F(ClockOnDevice, SilentDeviceGivesTheErrorsAndNoRestart)
{
    sim_->SetSilent(true);
    DeviceClock clock(*session_);
    const auto got = clock.Get();
    ASSERT_EQ(got.outcome.messages.size(), 1u);
    EXPECT_EQ(got.outcome.messages[0].text, "Can't get date & time from Torvik4 device.");
    EXPECT_EQ(got.outcome.messages[0].detail, "no valid answer from the device to reading its clock (result -14)");
    const auto set = clock.Set({2024, 1, 1, 0, 0, 0});
    ASSERT_EQ(set.outcome.messages.size(), 1u);
    EXPECT_EQ(set.outcome.messages[0].text, "Can't set date & time into Torvik4 device.");
    EXPECT_EQ(set.outcome.messages[0].detail,
              "no valid answer from the device to setting its clock (result -14); the clock may have been set");
    EXPECT_EQ(Restarts(), 0u);
}

TEST_F(ClockOnDevice, OpeningReadsTheClockOrFailsWithTheOpeningError)
{
    session_.reset();
    const auto opened = OpenDeviceClock(sim_->DevicePath());
    ASSERT_NE(opened.session, nullptr) << OneLine(opened.reading.outcome);
    EXPECT_TRUE(opened.reading.outcome.messages.empty());
    const auto failed = OpenDeviceClock("/nonexistent/tty");
    EXPECT_EQ(failed.session, nullptr);
    ASSERT_EQ(failed.reading.outcome.messages.size(), 1u);
    EXPECT_EQ(failed.reading.outcome.messages[0].text,
              "Can't get date & time from Torvik4 device. Please be sure that it is connected and \"Mode 5\" is set.");
    EXPECT_EQ(failed.reading.outcome.messages[0].detail, "cannot open port /nonexistent/tty (No such file or directory)");
}

}  // namespace
}  // namespace torvik::studio
