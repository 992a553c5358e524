// The command protocol and the session's checks, over a scripted line with a clock the test drives.
#include <chrono>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include <devicelink/torvik.hpp>

#include "fakes.hpp"

namespace torvik::devicelink::testing {
namespace {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        session.GetSerialPort().SetOpener(FakeOpener(line));
        session.SetClock(clock);
        session.ClearPrintStream();
        session.SetPrintStream(&err, ERR);
        line->Reply(Status(5, 0));  // the connect probe
        ASSERT_EQ(session.Connect("COM3", 30, 200), 0);
        ASSERT_EQ(session.ProtocolLevel(), 100);
        line->ClearWritten();
        err.str("");
    }

    // What the session wrote after `before` bytes, once at least `count` more are there.
    Bytes WrittenAfter(std::size_t before, std::size_t count)
    {
        EXPECT_TRUE(line->WaitWritten(before + count));
        const Bytes all = line->Written();
        return Bytes(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    }

    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::ostringstream err;
    Torvik session;
};

TEST_F(SessionTest, ConnectProbeIsTheFirstTracedPacket)
{
    Torvik fresh;
    auto fresh_line = std::make_shared<FakeLine>();
    fresh.GetSerialPort().SetOpener(FakeOpener(fresh_line));
    fresh_line->Reply(Status(5, 0xFFFF));
    EXPECT_EQ(fresh.Connect("COM3", 30, 200), 0);
    EXPECT_EQ(fresh.ProtocolLevel(), 0);
    // length 2, sequence 5, reboot, mode 3, checksum 0x002A
    EXPECT_EQ(fresh_line->Written(), (Bytes{0xC0, 0x02, 0x05, 0x20, 0x03, 0x00, 0x2A, 0xC0}));
}

TEST_F(SessionTest, PingIsByteExactAndSequencesWrapToFive)
{
    // After the probe (5) a ping carries 6; run the counter up to 255 and see it come back as 5.
    for (int seq = 6; seq <= 255; ++seq) {
        ASSERT_EQ(session.SendCommand(Torvik::PING, {}, true), 0);
    }
    EXPECT_EQ(session.Sequence(), 255);
    // 250 frames of 7 bytes; sequence 0xC0 and 0xDB and the checksums 0x00C0 and 0x00DB are escaped.
    const std::size_t before = 250 * 7 + 4;
    ASSERT_TRUE(line->WaitWritten(before));
    line->Reply(Status(5, 0));
    EXPECT_EQ(session.Ping(), 0);
    EXPECT_EQ(WrittenAfter(before, 7), (Bytes{0xC0, 0x01, 0x05, 0x09, 0x00, 0x0F, 0xC0}));
}

TEST_F(SessionTest, UntracedCommandsCarrySequenceFour)
{
    EXPECT_EQ(session.ExecuteSignalChange(false), 0);
    EXPECT_EQ(WrittenAfter(0, 7), (Bytes{0xC0, 0x01, 0x04, 0x17, 0x00, 0x1C, 0xC0}));
    EXPECT_EQ(session.Sequence(), 5);
}

TEST_F(SessionTest, BadFramesAreReportedAndSkipped)
{
    line->Reply(Bytes{0xC0, 0x03, 0x06, 0x80, 0x00, 0x00, 0x00, 0x88, 0xC0,    // checksum off by one
                      0xC0, 0x04, 0x06, 0x80, 0x00, 0x00, 0x00, 0x8A, 0xC0,    // length byte wrong
                      0xC0, 0x03, 0x06, 0x80, 0x00, 0x00, 0x00, 0x89, 0xC0});  // the answer
    EXPECT_EQ(session.Ping(), 0);
    EXPECT_EQ(err.str(), "");  // a ping waits quietly

    line->Reply(Bytes{0xC0, 0x03, 0x07, 0x80, 0x00, 0x00, 0x00, 0x89, 0xC0, 0xC0, 0x01, 0x07, 0xC0});
    EXPECT_EQ(session.SetTime(1), -14);
    EXPECT_EQ(err.str(),
              "Torvik::GetResponse: BAD Message's Checksum 0x03 0x07 0x80 0x00 0x00 0x00 0x89 !\n"
              "Torvik::GetResponse: BAD Message's length 0x01 0x07 !\n"
              "Torvik::GetResponse: No valid answer for specified message.\n");
}

TEST_F(SessionTest, StatusesMapToResultCodes)
{
    const tagCanMessage message{8, 1, 0, 0x123, false, false, false, false, 0, 1, false, 100, 0, 0};
    struct Case {
        const char* name;
        std::function<std::int32_t(Torvik&)> call;
        Bytes reply;  // answer for the call's sequence number (6)
        std::int32_t result;
    };
    const Case cases[] = {
        {"add message: handler", [&](Torvik& t) { return t.AddMessage(message); }, Status(6, 0x0042), 0x42},
        {"add message: 0 invalid", [&](Torvik& t) { return t.AddMessage(message); }, Status(6, 0), -21},
        {"add message: invalid", [&](Torvik& t) { return t.AddMessage(message); }, Status(6, 0xFFFF), -21},
        {"add message: length", [&](Torvik& t) { return t.AddMessage(message); }, Status(6, 0xFFFE), -22},
        {"add message: memory", [&](Torvik& t) { return t.AddMessage(message); }, Status(6, 0xFFFD), -23},
        {"remove message: 1", [](Torvik& t) { return t.RemoveMessage(2); }, Status(6, 1), -22},
        {"change crc: 1", [](Torvik& t) { return t.ChangeCrc(2, nullptr); }, Status(6, 1), -21},
        {"change crc: 2", [](Torvik& t) { return t.ChangeCrc(2, nullptr); }, Status(6, 2), -22},
        {"disable crc: 3", [](Torvik& t) { return t.DisableCrc(2); }, Status(6, 3), -23},
        {"request: 3", [](Torvik& t) { return t.RequestMessage(1, 0x123, 0, false, 8, false, false, nullptr); },
         Status(6, 3), -21},
        {"request: key", [](Torvik& t) { return t.RequestMessage(2, 0x1ABCD, 0, true, 8, false, false, nullptr); },
         Status(6, 0), 0x2ABCD},
        {"set time: 0x1FFFF", [](Torvik& t) { return t.SetTime(5); },
         Bytes{0xC0, 0x01, 0x06, 0x84, 0x00, 0x8B, 0xC0, 0xC0, 0x03, 0x06, 0x80, 0xFF, 0xFF, 0x02, 0x87, 0xC0}, -21},
        {"other status passes", [](Torvik& t) { return t.GatewayID(1, 2); }, Status(6, 7), 7},
        {"command failed", [](Torvik& t) { return t.BlobRemove(); }, DevicePacket(6, 0x81, {}), -14},
        {"packet error", [](Torvik& t) { return t.BlobRemove(); }, DevicePacket(6, 0x82, {}), -14},
        {"slip error", [](Torvik& t) { return t.BlobRemove(); }, DevicePacket(6, 0x83, {}), -14},
        {"unknown id", [](Torvik& t) { return t.BlobRemove(); }, DevicePacket(6, 0x85, {}), -14},
        {"no answer", [](Torvik& t) { return t.BlobRemove(); }, Bytes{}, -14},
        {"answer to another command", [](Torvik& t) { return t.BlobRemove(); }, Status(9, 0), -14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(session.Disconnect(), 0);  // the counter starts over
        line->Reply(Status(5, 0));
        ASSERT_EQ(session.Connect("COM3", 250, 200), 0);
        if (!c.reply.empty()) {
            line->Reply(c.reply);
        }
        EXPECT_EQ(c.call(session), c.result);
    }
}

TEST_F(SessionTest, HardwareNoticeSetsBitSixteen)
{
    line->Reply(Bytes{0xC0, 0x01, 0x06, 0x84, 0x00, 0x8B, 0xC0,                // notice
                      0xC0, 0x03, 0x06, 0x80, 0x00, 0x00, 0x00, 0x89, 0xC0});  // status 0
    EXPECT_EQ(session.BlobRemove(), 0x10000);
    EXPECT_EQ(err.str(), "TorvikAPI::GetResponse: TORVIK_HW_ERROR!\n");
}

TEST_F(SessionTest, OverlongStatusIsZeroWithALine)
{
    line->Reply(DevicePacket(6, 0x80, {0x12, 0x34, 0x56}));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(session.BlobRemove(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Unable convert 24 bit number to uint16.\n");
}

TEST_F(SessionTest, EepromLimitsAreCheckedBeforeSending)
{
    std::uint8_t buffer[17] = {};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(session.WriteEeprom(29, 1, buffer), -1);
    EXPECT_EQ(session.WriteEeprom(100, 0, buffer), -1);
    EXPECT_EQ(session.WriteEeprom(100, 17, buffer), -1);
    EXPECT_EQ(session.ReadEeprom(100, 17, buffer), -1);
    EXPECT_EQ(session.ReadEeprom(100, 0, buffer), -1);
    EXPECT_EQ(session.ReadEeprom(100, 1, nullptr), -2);
    EXPECT_EQ(session.GetTime(nullptr), -2);
    const std::string text = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(text.find("Torvik::WriteEeprom: Invalid eeprom address: 29! Must be >= 30!\n"), std::string::npos);
    EXPECT_NE(text.find("Torvik::ReadEeprom: Invalid eeprom block length - max 16 bit: 17!\n"), std::string::npos);
    EXPECT_NE(text.find("Torvik::ReadEeprom: Data pointer is NULL!\n"), std::string::npos);
    EXPECT_TRUE(line->Written().empty());

    const std::uint8_t data = 0xAA;
    line->Reply(Status(6, 0));
    EXPECT_EQ(session.WriteEeprom(30, 1, &data), 0);
    EXPECT_EQ(WrittenAfter(0, 10), (Bytes{0xC0, 0x04, 0x06, 0x27, 0x00, 0x1E, 0xAA, 0x00, 0xF9, 0xC0}));

    line->ClearWritten();
    line->Reply(DevicePacket(7, 0x91, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_EQ(session.ReadEeprom(47, 16, buffer), 0);
    EXPECT_EQ(buffer[15], 16);
    EXPECT_EQ(WrittenAfter(0, 10), (Bytes{0xC0, 0x04, 0x07, 0x26, 0x00, 0x2F, 0x10, 0x00, 0x70, 0xC0}));

    line->Reply(DevicePacket(8, 0x91, {1, 2}));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(session.ReadEeprom(47, 3, buffer), -666);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Torvik::ReadEeprom: Invalid eeprom block length returned from torvik. Request: 3 Response 2\n");
}

TEST_F(SessionTest, TimeKeepsTheLowThirtyTwoBits)
{
    line->Reply(Status(6, 0));
    EXPECT_EQ(session.SetTime(0x123456789LL), 0);
    EXPECT_EQ(WrittenAfter(0, 11), (Bytes{0xC0, 0x05, 0x06, 0x31, 0x23, 0x45, 0x67, 0x89, 0x01, 0x94, 0xC0}));
    line->Reply(DevicePacket(7, 0x92, {0xF3, 0x45, 0x67, 0x89}));
    std::int64_t value = -1;
    EXPECT_EQ(session.GetTime(&value), 0);
    EXPECT_EQ(value, 0xF3456789LL);
}

TEST_F(SessionTest, SignalValuesAreLeftAligned)
{
    const tagCanMessage message{8, 1, 0, 0x123, false, false, false, false, 0, 1, false, 100, 0, 0};
    line->Reply(Status(6, 0x0003));
    ASSERT_EQ(session.AddMessage(message), 3);
    EXPECT_EQ(session.AddSignal(3, 0, 10, 26, 0), -31);
    EXPECT_EQ(session.AddSignal(3, 0, 11, 10, 0), -31);
    line->Reply(Status(7, 0x0007));
    ASSERT_EQ(session.AddSignal(3, 0, 10, 13, 0), 7);  // four bits
    line->Reply(Status(8, 0x0008));
    ASSERT_EQ(session.AddSignal(3, 0, 10, 25, 0), 8);  // sixteen bits are allowed

    line->ClearWritten();
    EXPECT_EQ(session.SignalChangeValue(7, 0x0005, 0, false), 0);
    EXPECT_EQ(WrittenAfter(0, 12), (Bytes{0xC0, 0x06, 0x04, 0x15, 0x00, 0x07, 0x50, 0x00, 0x00, 0x00, 0x76, 0xC0}));
    line->ClearWritten();
    EXPECT_EQ(session.SignalChangeValue(99, 0x0005, 0, false), 0);  // unknown: sent as given
    EXPECT_EQ(WrittenAfter(0, 12), (Bytes{0xC0, 0x06, 0x04, 0x15, 0x00, 0x63, 0x00, 0x05, 0x00, 0x00, 0x87, 0xC0}));
    const std::string text = err.str();
    EXPECT_NE(text.find("Torvik::AddSignal: Length of signal exceed maximal 16 bits.\n"), std::string::npos);
    EXPECT_NE(text.find("Torvik::AddSignal: Invalid input: StartSymbol > StopSymbol (11 > 10)\n"), std::string::npos);
    EXPECT_NE(text.find("Torvik::SignalChangeValue: Signal not found in internal API structure.\n"), std::string::npos);
}

TEST_F(SessionTest, RebootPingsUntilTheDeviceAnswers)
{
    line->Reply(Status(6, 0));  // reboot accepted; the pings go unanswered
    EXPECT_EQ(session.Reboot(true, 120), 0);
    EXPECT_EQ(clock->Sleeps(), 2);
    const Bytes written = line->Written();
    // The reboot (C0 02 06 20 01 00 29 C0) and two pings, counter restarted at 5.
    EXPECT_EQ(written, (Bytes{0xC0, 0x02, 0x06, 0x20, 0x01, 0x00, 0x29, 0xC0, 0xC0, 0x01, 0x05,
                              0x09, 0x00, 0x0F, 0xC0, 0xC0, 0x01, 0x06, 0x09, 0x00, 0x10, 0xC0}));
}

TEST_F(SessionTest, RebootStopsAtTheFirstAnsweredPing)
{
    line->Reply(Status(6, 0));
    line->Reply(Bytes{});
    line->Reply(Status(6, 0));  // the second ping is answered
    EXPECT_EQ(session.Reboot(false, 5000), 0);
    EXPECT_EQ(clock->Sleeps(), 1);
}

TEST_F(SessionTest, WaitEndsWhileUnrelatedFramesKeepComing)
{
    // An asynchronous message on every read, and 50 ms passing per read: the answer never comes.
    line->endless_rx = [] { return DevicePacket(1, 0x90, {0x01, 0x23, 0x02, 0xAA, 0xBB}); };
    line->on_read = [this] { clock->Advance(50); };
    EXPECT_EQ(session.BlobRemove(), -14);
    EXPECT_EQ(err.str(), "Torvik::GetResponse: No valid answer for specified message.\n");
}

TEST_F(SessionTest, ReceiverFilesAnswersAndAsynchronousMessages)
{
    session.SetClock(std::make_shared<SteadyClock>());  // the sync buffer is polled in real time
    ASSERT_EQ(session.StartReceiver(), 0);
    EXPECT_EQ(session.StartReceiver(), 1);
    EXPECT_EQ(session.GetInternalThreadStatus() & 1, 1);
    line->Feed(DevicePacket(2, 0x90, {0x01, 0x23, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}));
    line->Reply(Status(6, 0x0005));
    EXPECT_EQ(session.GatewayID(1, 2), 5);

    // Data answers are not filed while the receiver runs.
    std::uint8_t buffer[4];
    line->Reply(DevicePacket(7, 0x91, {1, 2, 3, 4}));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(session.ReadEeprom(100, 4, buffer), -15);
    ::testing::internal::GetCapturedStderr();

    const RecvAsyncMessage message = session.ReadAsyncMessage((1u << 18) | 0x0123);  // channel mask bit 2
    EXPECT_EQ(message.key, 0x20123u);
    EXPECT_EQ(message.dlc, 8);
    EXPECT_EQ(message.data, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(session.ReadAsyncMessage((1u << 16) | 0x0123).key, 0u);

    const std::int32_t index = session.RequestSignal((1u << 18) | 0x0123, 4, 15);
    EXPECT_EQ(index, 1);
    std::uint32_t value = 0;
    std::uint32_t age = 1234;
    EXPECT_EQ(session.SignalReadValue(index, value, &age, true), 0);
    EXPECT_EQ(value, 0x020u);  // bits 4 to 15 of 01 02
    EXPECT_EQ(session.SignalReadValue(0, value, nullptr, true), -4);
    EXPECT_EQ(session.SignalReadValue(7, value, nullptr, true), -4);
    EXPECT_EQ(session.SignalReadValue(index, value, nullptr, false), -1000);
    session.StopReceiver();
    EXPECT_EQ(session.SignalReadValue(index, value, nullptr, true), -3);
    EXPECT_EQ(session.GetInternalThreadStatus() & 1, 0);
}

TEST_F(SessionTest, SignalReadValueTakesTheBitsOfTheRange)
{
    session.SetClock(std::make_shared<SteadyClock>());
    ASSERT_EQ(session.StartReceiver(), 0);
    line->Feed(DevicePacket(0, 0x90, {0x00, 0x10, 0x02, 0xAB, 0xCD}));
    const std::uint32_t key = (1u << 16) | 0x10;
    ASSERT_EQ(session.RequestSignal(key, 4, 15), 1);
    ASSERT_EQ(session.RequestSignal(key, 8, 16), 2);
    std::uint32_t value = 0;
    // The receiver thread files the message when it gets to it, which a loaded machine (or a sanitizer)
    // can delay well beyond the usual few milliseconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (session.SignalReadValue(1, value, nullptr, true) == 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(session.SignalReadValue(1, value, nullptr, true), 0);
    EXPECT_EQ(value, 0xCDAu);
    EXPECT_EQ(session.SignalReadValue(2, value, nullptr, true), 2);
    EXPECT_EQ(err.str(), "Requested stop bit exceeds real length of received message! (16/16)\n");
    session.StopReceiver();
}

TEST_F(SessionTest, ReadsWithoutReceiverReport)
{
    EXPECT_EQ(session.ReadAsyncMessage(0x10001).key, 0u);
    RecvMessage record;
    EXPECT_EQ(session.ReadSyncMessage(5, record, 3, false), -1);
    EXPECT_EQ(err.str(),
              "Torvik::ReadAsyncMessage: Receiving thread is not running!\n"
              "Torvik::ReadSyncMessage: Receiving thread is not running!\n");
}

TEST_F(SessionTest, RequestSignalChecksItsRange)
{
    EXPECT_EQ(session.RequestSignal(1, 0, 63), 1);
    EXPECT_EQ(session.RequestSignal(1, 0, 64), -1);
    EXPECT_EQ(session.RequestSignal(1, 5, 4), -1);
    EXPECT_EQ(session.RequestSignal(1, 0, 0), 2);
}

TEST(SessionChecks, CheckMessageTellsLengthFromChecksum)
{
    Torvik session;
    session.ClearPrintStream();
    std::ostringstream err;
    session.SetPrintStream(&err, ERR);
    EXPECT_EQ(session.CheckMessage({0x01, 0x05, 0x09, 0x00, 0x0F}, false), 0);
    EXPECT_EQ(session.CheckMessage({0x01, 0x05, 0x09, 0x00, 0x0E}, false), -2);
    EXPECT_EQ(session.CheckMessage({0x02, 0x05, 0x09, 0x00, 0x10}, false), -1);
    EXPECT_EQ(session.CheckMessage({0x01, 0x05}, false), -1);
    EXPECT_EQ(err.str(),
              "Torvik::CheckMessage: Invalid message length. Length: 1, Assumed: 2\n"
              "Torvik::CheckMessage: Invalid message length. Length: 2\n");
    RecvMessage record;
    EXPECT_EQ(session.ParseMessage({}, record, true), -4);
    EXPECT_EQ(session.ParseMessage({0x00, 0x00, 0x00, 0x00}, record, true), -1);  // no identifier
    EXPECT_EQ(session.ParseMessage({0x03, 0x05, 0x80, 0x00, 0x00, 0x00, 0x88}, record, true), 0);
    EXPECT_EQ(record.seq, 5);
    EXPECT_EQ(record.id, 0x80);
    EXPECT_EQ(record.payload, (Bytes{0x00, 0x00}));
}

TEST(SessionChecks, LocalChecksComeBeforeSending)
{
    Torvik session;
    session.ClearPrintStream();
    std::ostringstream err;
    session.SetPrintStream(&err, ERR);
    tagCanMessage message{16, 1, 0, 0x123, false, false, false, false, 0, 1, false, 0, 0, 0};
    EXPECT_EQ(session.AddMessage(message), -21);
    message.dlc = 2;
    EXPECT_EQ(session.AddMessage(message, {1, 2, 3}), -21);
    EXPECT_EQ(session.AddMessage(nullptr, 16, 1, 0, 1, false, false, false, false, 0, 0, false, 0, 0, 0), -21);
    const std::uint8_t payload[2] = {};
    EXPECT_EQ(session.AddMessage(payload, 16, 1, 0, 1, false, false, false, false, 0, 0, false, 0, 0, 0), -31);
    EXPECT_EQ(session.SetMessageData(9, nullptr, nullptr, 0, false), -31);
    EXPECT_EQ(session.RequestMessage(1, 2, 0, false, 16, false, false, nullptr), -21);
    EXPECT_EQ(err.str(),
              "Torvik::AddMessage: Invalid DLC value: 16.\n"
              "Torvik::AddMessage: Payload size does not equal to CAN message length! (3/2)\n"
              "Torvik::AddMessage: Invalid DLC value: 16.\n"
              "Torvik::SetMessageData: Message not found in internal API structure.\n"
              "Torvik::RequestMessage: Invalid DLC value: 16.\n");
    // Not connected: the transport's -1 comes back unchanged.
    EXPECT_EQ(session.Ping(), -1);
}

}  // namespace
}  // namespace torvik::devicelink::testing
