// SLIP framing, connection results and the send queue of SerialPort, over a scripted line.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include <devicelink/serial_port.hpp>

#include "fakes.hpp"

namespace torvik::devicelink::testing {
namespace {

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        port.SetOpener(FakeOpener(line));
        ASSERT_EQ(port.Connect("COM7", 2000000, 8, 0, 2), 0);
        ASSERT_EQ(port.SetTimeout(20, 100), 0);
    }

    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    SerialPort port;
};

TEST_F(SerialPortTest, SlipSendEscapesOnlyEndAndEsc)
{
    struct Case {
        Bytes data;
        Bytes wire;
    };
    const Case cases[] = {
        {{}, {0xC0, 0xC0}},
        {{0xC0, 0xDB, 0xDE}, {0xC0, 0xDB, 0xDC, 0xDB, 0xDD, 0xDE, 0xC0}},
        {{0x01, 0xC0}, {0xC0, 0x01, 0xDB, 0xDC, 0xC0}},
        {{0xDB, 0xDB}, {0xC0, 0xDB, 0xDD, 0xDB, 0xDD, 0xC0}},
    };
    for (const Case& c : cases) {
        line->ClearWritten();
        EXPECT_EQ(port.SlipSend(c.data, false, true), static_cast<int>(c.wire.size()));
        EXPECT_EQ(line->Written(), c.wire);
    }
}

TEST_F(SerialPortTest, SlipSendRefusesFramesThatWouldNotFit)
{
    // 126 END bytes encode to 252 bytes plus two delimiters: 254 fits; one more byte does not.
    EXPECT_EQ(port.SlipSend(Bytes(126, 0xC0), false, true), 254);
    line->ClearWritten();
    EXPECT_EQ(port.SlipSend(Bytes(127, 0xC0), false, true), -6);
    EXPECT_EQ(port.SlipSend(Bytes(254, 0x01), false, false), -6);
    EXPECT_TRUE(line->Written().empty());
}

TEST_F(SerialPortTest, SlipReceiveDecodesStreams)
{
    struct Case {
        const char* name;
        Bytes stream;
        std::uint32_t max_len;
        int result;
        Bytes frame;
    };
    const Case cases[] = {
        {"empty frames are skipped", {0xC0, 0xC0, 0xC0, 0x41, 0xC0}, 255, 1, {0x41}},
        {"escapes", {0xC0, 0xDB, 0xDC, 0xDB, 0xDD, 0xC0}, 255, 2, {0xC0, 0xDB}},
        {"break drops what came before", {0xC0, 0x41, 0x42, 0xDB, 0xDE, 0x43, 0xC0}, 255, 1, {0x43}},
        {"bad escape", {0xC0, 0xDB, 0x41}, 255, -3, {}},
        {"three bytes fit four", {0xC0, 1, 2, 3, 0xC0}, 4, 3, {1, 2, 3}},
        {"four bytes do not", {0xC0, 1, 2, 3, 4, 0xC0}, 4, -2, {}},
        {"time-out inside a frame", {0xC0, 0x41}, 255, -3, {}},
        {"time-out after ESC", {0xC0, 0x41, 0xDB}, 255, -3, {}},
        {"time-out before the start", {0x41, 0x42}, 255, 0, {}},
        {"nothing at all", {}, 255, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port.Flush();
        line->Feed(c.stream);
        Bytes frame{0xEE};
        EXPECT_EQ(port.SlipReceive(frame, c.max_len, 1), c.result);
        EXPECT_EQ(frame, c.frame);
    }
}

TEST_F(SerialPortTest, SlipReceiveRefusesBreakWhenNotAccepted)
{
    port.SetEscBrkAccepted(false);
    line->Feed({0xC0, 0x41, 0x42, 0xDB, 0xDE, 0x43, 0xC0});
    Bytes frame;
    EXPECT_EQ(port.SlipReceive(frame, 255, 1), -3);
    EXPECT_TRUE(frame.empty());
}

TEST_F(SerialPortTest, SlipReceiveReportsInModeZeroOnly)
{
    line->Feed({0xC0, 0xDB, 0x41});
    Bytes frame;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(port.SlipReceive(frame, 255, 0), -3);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "SerialPort::SlipReceive: Unexpected data after ESC char!\n");
    line->Feed({0xC0, 0x41});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(port.SlipReceive(frame, 255, 0), -3);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "SerialPort::SlipReceive: Serial ReadByte timeouted but byte after ESC char was expected.\n");
}

TEST_F(SerialPortTest, ConnectKeepsAnOpenPort)
{
    EXPECT_EQ(port.Connect("COM7", 2000000, 8, 0, 2), 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(port.Connect("COM8", 2000000, 8, 0, 2), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "COM port already open! (Open: COM7, opening: COM8)\n");
    EXPECT_TRUE(port.IsActive());
    EXPECT_EQ(port.Disconnect(), 0);
    EXPECT_FALSE(port.IsActive());
    EXPECT_EQ(port.SlipSend({1}, false, true), -1);
    Bytes frame;
    EXPECT_EQ(port.SlipReceive(frame, 255, 1), -1);
}

TEST(SerialPortConnect, StepFailuresGiveTheirCodes)
{
    auto line = std::make_shared<FakeLine>();
    SerialPort port;
    port.SetOpener(FakeOpener(line));
    ::testing::internal::CaptureStderr();
    line->open_error = std::make_error_code(std::errc::no_such_file_or_directory);
    EXPECT_EQ(port.Connect("COM1", 2000000, 8, 0, 2), -2);
    line->open_error = {};
    line->read_settings_error = std::make_error_code(std::errc::inappropriate_io_control_operation);
    EXPECT_EQ(port.Connect("COM1", 2000000, 8, 0, 2), -3);
    line->read_settings_error = {};
    line->apply_error = std::make_error_code(std::errc::invalid_argument);
    EXPECT_EQ(port.Connect("COM1", 2000000, 8, 0, 2), -4);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("SerialPort::Connect: CreateFile failed with error: No such file or directory\n"),
              std::string::npos);
    EXPECT_NE(err.find("SerialPort::Connect: GetCommState failed with error: "), std::string::npos);
    EXPECT_NE(err.find("SerialPort::Connect: SetCommState failed with error: Invalid argument\n"), std::string::npos);
    EXPECT_FALSE(port.IsActive());
    EXPECT_EQ(port.SetTimeout(1, 1), -1);
}

TEST_F(SerialPortTest, FirstQueuedWriteReturnsAtOnceAndIsSent)
{
    const Bytes frame{0xC0, 0x01, 0xC0};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.WriteByteNonblock(frame.data(), 3), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(port.getThrStatus(), SerialPort::RUNNING);
    ASSERT_TRUE(line->WaitWritten(3));
    EXPECT_EQ(line->Written(), frame);
    EXPECT_EQ(port.Disconnect(), 0);
    EXPECT_EQ(port.getThrStatus(), SerialPort::STOPPED);
}

TEST_F(SerialPortTest, FullQueueReplacesTheNewestFrame)
{
    line->hold_writes = true;
    const Bytes first{0xFF, 0xFF};
    ASSERT_EQ(port.WriteByteNonblock(first.data(), 2), 1);
    // Let the sender take the first frame and block in its write, so the queue only grows.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::int32_t length = 0;
    for (std::uint32_t i = 1; i <= SerialPort::kMaxQueuedBuffers + 1; ++i) {
        const Bytes frame{static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        length = port.WriteByteNonblock(frame.data(), 2);
    }
    EXPECT_EQ(length, 65536);
    line->ReleaseWrites();
    ASSERT_TRUE(line->WaitWritten(2 + 2 * 65536, 10000));
    const Bytes written = line->Written();
    ASSERT_EQ(written.size(), 2u + 2u * 65536u);
    // Frame 65536 was replaced by frame 65537 (0x0001 after truncation to 16 bits); 65535 stays before it.
    EXPECT_EQ(written[written.size() - 4], 0xFF);
    EXPECT_EQ(written[written.size() - 3], 0xFF);
    EXPECT_EQ(written[written.size() - 2], 0x00);
    EXPECT_EQ(written[written.size() - 1], 0x01);
}

TEST_F(SerialPortTest, FailedSenderThreadIsStartedAgain)
{
    line->fail_writes = true;
    const Bytes frame{0xC0, 0x01, 0xC0};
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 1000 && port.getThrStatus() != SerialPort::FAILED; ++i) {
        port.WriteByteNonblock(frame.data(), 3);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(port.getThrStatus(), SerialPort::FAILED);
    EXPECT_NE(err.find("SerialPort::SenderThread Maximal error count hit. Thread failed."), std::string::npos);

    line->fail_writes = false;
    EXPECT_GE(port.WriteByteNonblock(frame.data(), 3), 1);
    EXPECT_TRUE(line->WaitWritten(3));
    EXPECT_EQ(port.getThrStatus(), SerialPort::RUNNING);
}

}  // namespace
}  // namespace torvik::devicelink::testing
