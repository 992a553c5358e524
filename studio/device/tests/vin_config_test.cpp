// The VIN rows against the simulated device: what lands in its EEPROM, what is sent, and what the user
// is told.
#include <device/vin_config.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_session.hpp"

namespace torvik::studio {
namespace {

using Kind = DeviceMessage::Kind;
using Bytes = std::vector<std::uint8_t>;

Bytes Field(const sim::Simulator& sim, VinPlatform platform)
{
    const auto eeprom = sim.Eeprom();
    const auto at = eeprom.begin() + VinRow(platform).address;
    return Bytes(at, at + static_cast<std::ptrdiff_t>(kVinLength));
}

void ExpectMessages(const DeviceOutcome& outcome, const std::vector<std::pair<Kind, std::string>>& want)
{
    ASSERT_EQ(outcome.messages.size(), want.size()) << OneLine(outcome);
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(outcome.messages[i].kind, want[i].first) << i;
        EXPECT_EQ(outcome.messages[i].text, want[i].second) << i;
    }
}

class VinRows : public testing::SimSession {
protected:
    void SetUp() override { Start(); }
    VinConfig Config() { return VinConfig(*session_); }
};

TEST_F(VinRows, FreshDeviceReadsDefaultInEveryRow)
{
    const auto reading = Config().ReadAll();
    EXPECT_TRUE(reading.outcome.messages.empty()) << OneLine(reading.outcome);
    ASSERT_EQ(reading.rows.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reading.rows[i].platform, kVinRows[i].platform);
        EXPECT_TRUE(reading.rows[i].value.isDefault);
        EXPECT_TRUE(reading.rows[i].value.text.empty());
    }
}

TEST_F(VinRows, RowWriteStoresBlankPaddedBytesThenRestarts)
{
    const std::size_t before = Commands().size();
    const auto outcome = Config().WriteRow(VinPlatform::MQB, {false, L"ABC"});
    ExpectMessages(outcome, {{Kind::Information, "VIN for MQB platform was successfully set."}});
    EXPECT_EQ(Field(*sim_, VinPlatform::MQB),
              (Bytes{0x41, 0x42, 0x43, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20}));
    EXPECT_EQ(sim_->Eeprom()[64], 0xFF);  // the next row is untouched

    // 16 bytes at 47 (0x2F), the 17th at 63 (0x3F), then the restart.
    auto commands = Commands();
    commands.erase(commands.begin(), commands.begin() + static_cast<std::ptrdiff_t>(before));
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0].size(), 19u);
    EXPECT_EQ(Bytes(commands[0].begin(), commands[0].begin() + 3), (Bytes{0x27, 0x00, 0x2F}));
    EXPECT_EQ(commands[1], (Bytes{0x27, 0x00, 0x3F, 0x20}));
    EXPECT_EQ(commands[2], kRestart);

    const auto reading = Config().ReadRow(VinPlatform::MQB);
    ASSERT_EQ(reading.rows.size(), 1u);
    EXPECT_FALSE(reading.rows[0].value.isDefault);
    EXPECT_EQ(reading.rows[0].value.text, L"ABC");
}

TEST_F(VinRows, DefaultWritesTheMarkerByteAlone)
{
    ASSERT_TRUE(Config().WriteRow(VinPlatform::MEB, {false, L"WVWZZZ1KZAW000001"}).Succeeded());
    const std::size_t before = Commands().size();
    ExpectMessages(Config().WriteRow(VinPlatform::MEB, {true, {}}),
                   {{Kind::Information, "VIN for MEB platform was successfully set."}});
    EXPECT_EQ(CommandsOf(kWriteEeprom, before), (std::vector<Bytes>{{0x27, 0x00, 81, 0xFF}}));
    Bytes rest = Field(*sim_, VinPlatform::MEB);
    EXPECT_EQ(std::string(rest.begin() + 1, rest.end()), "VWZZZ1KZAW000001");
    const auto reading = Config().ReadRow(VinPlatform::MEB);
    ASSERT_EQ(reading.rows.size(), 1u);
    EXPECT_TRUE(reading.rows[0].value.isDefault);
}

// What a row takes: up to 17 characters that Windows-1252 holds; anything else is refused before a
// byte is sent.
TEST_F(VinRows, RowWriteChecksTheTextFirst)
{
    struct Case {
        std::wstring text;
        const char* refusal;  // nullptr: written
        Bytes stored;         // the first bytes of the field when written
    };
    const Case cases[] = {
        {L"WVWZZZ1KZAW00000X", nullptr, {'W', 'V', 'W'}},
        {L"\u00C4\u20AC\u0160", nullptr, {0xC4, 0x80, 0x8A, 0x20}},
        {L"", nullptr, {0x20, 0x20}},
        {L"WVWZZZ1KZAW00000XY", "VIN for MQB37W platform is longer than 17 characters.", {}},
        {std::wstring(40, L'A'), "VIN for MQB37W platform is longer than 17 characters.", {}},
        {L"AB\u03A9", "VIN for MQB37W platform has a character that cannot be stored: U+03A9.", {}},
        {L"AB\U0001F600", "VIN for MQB37W platform has a character that cannot be stored: U+1F600.", {}},
        {std::wstring(L"A\0B", 3), "VIN for MQB37W platform has a character that cannot be stored: U+0000.", {}},
        {L"A\u0081", "VIN for MQB37W platform has a character that cannot be stored: U+0081.", {}},
        {L"\u00FFABC", "VIN for MQB37W platform cannot start with \u00FF (U+00FF): its byte selects the default VIN.", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        const Bytes before = Field(*sim_, VinPlatform::MQB37W);
        const std::size_t sent = Commands().size();
        const auto outcome = Config().WriteRow(VinPlatform::MQB37W, {false, c.text});
        if (c.refusal != nullptr) {
            ExpectMessages(outcome, {{Kind::Warning, c.refusal}});
            EXPECT_EQ(Commands().size(), sent);
            EXPECT_EQ(Field(*sim_, VinPlatform::MQB37W), before);
            continue;
        }
        ExpectMessages(outcome, {{Kind::Information, "VIN for MQB37W platform was successfully set."}});
        const Bytes field = Field(*sim_, VinPlatform::MQB37W);
        EXPECT_EQ(Bytes(field.begin(), field.begin() + static_cast<std::ptrdiff_t>(c.stored.size())), c.stored);
        const auto reading = Config().ReadRow(VinPlatform::MQB37W);
        ASSERT_EQ(reading.rows.size(), 1u);
        EXPECT_EQ(reading.rows[0].value.text, c.text);
    }
}

TEST(VinField, ReadsTheTextUpToANulWithoutItsPadding)
{
    struct Case {
        Bytes field;
        bool isDefault;
        std::wstring text;
    };
    const Case cases[] = {
        {Bytes(17, 0xFF), true, L""},
        {{0xFF, 'A', 'B'}, true, L""},
        {{'A', 'B', 0x00, 'C', 0x20}, false, L"AB"},
        {{0x00, 'A'}, false, L""},
        {{' ', 'A', ' ', 'B', ' ', ' '}, false, L" A B"},
        {{0x80, 0xE4, 0x9F, 0xFF}, false, L"\u20AC\u00E4\u0178\u00FF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.field));
        const VinValue value = VinFromField(c.field);
        EXPECT_EQ(value.isDefault, c.isDefault);
        EXPECT_EQ(value.text, c.text);
    }
}

TEST_F(VinRows, WriteAllChecksEveryRowBeforeWritingAny)
{
    const std::size_t sent = Commands().size();
    const auto outcome = Config().WriteAll({VinValue{false, L"MQB"}, VinValue{true, {}}, VinValue{false, std::wstring(18, L'E')}});
    ExpectMessages(outcome, {{Kind::Warning, "VIN for MEB platform is longer than 17 characters."}});
    EXPECT_EQ(Commands().size(), sent);
    EXPECT_EQ(sim_->Eeprom(), Bytes(sim::Simulator::kEepromSize, 0xFF));
}

TEST_F(VinRows, WriteAllWritesInOrderRestartingAfterEachRowAndOnceMore)
{
    const std::size_t sent = Commands().size();
    std::vector<VinPlatform> written;
    const auto outcome = Config().WriteAll({VinValue{false, L"ONE"}, VinValue{true, {}}, VinValue{false, L"THREE"}},
                                           [&](VinPlatform p) { written.push_back(p); });
    ExpectMessages(outcome, {{Kind::Information, "WINs were successfully set."}});
    EXPECT_EQ(written, (std::vector<VinPlatform>{VinPlatform::MQB, VinPlatform::MQB37W, VinPlatform::MEB}));

    std::vector<Bytes> order;  // write addresses and restarts, in the order sent
    const auto commands = Commands();
    for (std::size_t i = sent; i < commands.size(); ++i) {
        if (commands[i][0] == kWriteEeprom) {
            order.push_back({kWriteEeprom, commands[i][2]});
        } else if (commands[i] == kRestart) {
            order.push_back(commands[i]);
        }
    }
    const std::vector<Bytes> want = {{0x27, 47}, {0x27, 63}, kRestart, {0x27, 64}, kRestart,
                                     {0x27, 81}, {0x27, 97}, kRestart,  kRestart};
    EXPECT_EQ(order, want);
    EXPECT_EQ(VinFromField(Field(*sim_, VinPlatform::MQB)).text, L"ONE");
    EXPECT_EQ(Field(*sim_, VinPlatform::MQB37W)[0], 0xFF);
    EXPECT_EQ(VinFromField(Field(*sim_, VinPlatform::MEB)).text, L"THREE");
}

// The device refuses writes once MQB is in: MQB keeps its new value, MEB is never tried.
TEST_F(VinRows, WriteAllStopsAtTheFirstFailedRowKeepingTheRowsBefore)
{
    const auto outcome = Config().WriteAll({VinValue{false, L"FIRST"}, VinValue{false, L"SECOND"}, VinValue{false, L"THIRD"}},
                                           [&](VinPlatform) { sim_->SetEepromWriteProtected(true); });
    ExpectMessages(outcome, {{Kind::Error, "Can't set VIN for MQB37W platform in Torvik4 device."}});
    EXPECT_EQ(outcome.messages[0].detail, "the device refused writing 16 bytes at address 64 (result -14)");
    EXPECT_EQ(VinFromField(Field(*sim_, VinPlatform::MQB)).text, L"FIRST");
    EXPECT_EQ(Field(*sim_, VinPlatform::MQB37W), Bytes(17, 0xFF));
    EXPECT_EQ(Field(*sim_, VinPlatform::MEB), Bytes(17, 0xFF));
    EXPECT_EQ(Restarts(), 1u);  // after MQB only
}

TEST_F(VinRows, FailedRowWriteDoesNotRestart)
{
    sim_->SetEepromWriteProtected(true);
    const auto outcome = Config().WriteRow(VinPlatform::MEB, {false, L"ABC"});
    ExpectMessages(outcome, {{Kind::Error, "Can't set VIN for MEB platform in Torvik4 device."}});
    EXPECT_EQ(Restarts(), 0u);
}

TEST_F(VinRows, ReadAllStopsAtTheFirstFailedRow)
{
    sim_->SetSilent(true);
    const auto reading = Config().ReadAll();
    EXPECT_TRUE(reading.rows.empty());
    ExpectMessages(reading.outcome, {{Kind::Error, "Can't get VIN for MQB platform from Torvik4 device."},
                                     {Kind::Error, "Can't get WINs from Torvik4 device."}});
    EXPECT_EQ(reading.outcome.messages[0].detail, "no valid answer from the device to reading 16 bytes at address 47 (result -14)");
}

TEST_F(VinRows, OpeningReadsEveryRowOrFailsWithTheOpeningError)
{
    session_.reset();  // the port is free for the opening's own session
    const auto opened = OpenVinConfig(sim_->DevicePath());
    ASSERT_NE(opened.session, nullptr) << OneLine(opened.reading.outcome);
    EXPECT_EQ(opened.reading.rows.size(), 3u);

    for (const std::string& port : {std::string(), std::string("/nonexistent/tty"), sim_->DevicePath()}) {
        SCOPED_TRACE(port);
        const auto failed = OpenVinConfig(port);  // the device is still held by the first opening
        EXPECT_EQ(failed.session, nullptr);
        ExpectMessages(failed.reading.outcome, {{Kind::Error, VinConfig::kOpenFailure}});
        EXPECT_FALSE(failed.reading.outcome.messages[0].detail.empty());
    }
    EXPECT_EQ(std::string(VinConfig::kOpenFailure),
              "Can't get VINs from Torvik4 device. Please be sure that it is connected and \"Mode 5\" is set.");
}

// The new VIN is in, but the device never answers again: that is no success.
TEST(VinRestart, DeviceThatDoesNotComeBackFailsTheWrite)
{
    sim::SimOptions options;
    options.reboot_ms = 600000;
    sim::Simulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    DeviceSession session(sim.DevicePath(), 200);
    const auto outcome = VinConfig(session).WriteRow(VinPlatform::MQB, {false, L"ABC"});
    ExpectMessages(outcome, {{Kind::Error, "Can't restart Torvik4 device."}});
    EXPECT_EQ(outcome.messages[0].detail.rfind("the VIN for MQB platform was written; the device did not answer", 0), 0u)
        << outcome.messages[0].detail;
    EXPECT_EQ(VinFromField(Field(sim, VinPlatform::MQB)).text, L"ABC");
}

}  // namespace
}  // namespace torvik::studio
