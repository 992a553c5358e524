// The platform's serial layer on a real pseudo-terminal pair, and the port-name rules.
#include <chrono>
#include <cstring>

#include <gtest/gtest.h>

#include <devicelink/ports.hpp>
#include <devicelink/serial_port.hpp>
#include <platform/ports.hpp>
#include <platform/serial.hpp>

namespace {

using torvik::platform::PortInfo;
using torvik::platform::PseudoTerminal;
using torvik::platform::SerialDevice;

class PtyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(pty.Open());
        ASSERT_FALSE(device.Open(pty.DevicePath()));
        ASSERT_FALSE(device.ReadSettings());
        ASSERT_FALSE(device.ApplySettings({2000000, 8, 0, 2}));
    }

    PseudoTerminal pty;
    SerialDevice device;
};

TEST_F(PtyTest, BytesPassBothWaysUnchanged)
{
    // Raw mode: no byte is translated, not even the ones a terminal would act on.
    const std::uint8_t out[] = {0xC0, 0x0D, 0x0A, 0x03, 0x11, 0x13, 0x7F, 0xFF, 0x00};
    auto written = device.Write(out, sizeof out, 100);
    ASSERT_FALSE(written.error);
    ASSERT_EQ(written.count, sizeof out);
    std::uint8_t in[32];
    std::size_t got = 0;
    while (got < sizeof out) {
        const auto r = pty.Read(in + got, sizeof in - got, 200);
        ASSERT_FALSE(r.error);
        ASSERT_GT(r.count, 0u);
        got += r.count;
    }
    EXPECT_EQ(std::memcmp(in, out, sizeof out), 0);

    pty.Write(out, sizeof out, 100);
    got = 0;
    while (got < sizeof out) {
        const auto r = device.Read(in + got, sizeof in - got, 200);
        ASSERT_FALSE(r.error);
        ASSERT_GT(r.count, 0u);
        got += r.count;
    }
    EXPECT_EQ(std::memcmp(in, out, sizeof out), 0);
}

TEST_F(PtyTest, ReadTimesOutAndPurgeDiscards)
{
    std::uint8_t in[8];
    const auto start = std::chrono::steady_clock::now();
    const auto r = device.Read(in, sizeof in, 30);
    EXPECT_FALSE(r.error);
    EXPECT_EQ(r.count, 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));

    const std::uint8_t out[] = {1, 2, 3};
    pty.Write(out, sizeof out, 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(device.Purge());
    EXPECT_EQ(device.Read(in, sizeof in, 20).count, 0u);
}

TEST_F(PtyTest, SecondOpenIsRefusedAsBusyWhileHeld)
{
    // Whoever runs the test, root included, is turned away while the port is held.
    SerialDevice other;
    EXPECT_EQ(other.Open(pty.DevicePath()), std::errc::device_or_resource_busy);
    EXPECT_FALSE(other.IsOpen());
    EXPECT_FALSE(device.Close());
    EXPECT_FALSE(other.Open(pty.DevicePath()));
}

TEST(SerialDevice, OpenFailuresCarryTheSystemError)
{
    SerialDevice device;
    EXPECT_EQ(device.Open("/nonexistent/tty"), std::errc::no_such_file_or_directory);
    EXPECT_TRUE(device.Open("/dev/null"));  // not a terminal
    EXPECT_FALSE(device.IsOpen());
}

TEST(Ports, ComNamesFollowTheKernelName)
{
    struct Case {
        const char* path;
        int com;
    };
    const Case cases[] = {
        {"/dev/ttyUSB0", 1}, {"/dev/ttyUSB99", 100}, {"/dev/ttyUSB100", 0}, {"/dev/ttyACM0", 101},
        {"/dev/ttyS0", 201}, {"/dev/ttyS31", 232},   {"/dev/pts/3", 0},     {"/dev/ttyUSBx", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(torvik::platform::ComNumberForPath(c.path), c.com);
        if (c.com != 0) {
            EXPECT_EQ(torvik::platform::PathForComNumber(c.com), c.path);
        }
    }
    EXPECT_EQ(torvik::platform::ResolvePortName("com12"), "/dev/ttyUSB11");
    EXPECT_EQ(torvik::platform::ResolvePortName("/dev/pts/7"), "/dev/pts/7");
    EXPECT_FALSE(torvik::platform::ResolvePortName("COM0"));
    EXPECT_FALSE(torvik::platform::ResolvePortName("ttyUSB0"));
}

TEST(Ports, InjectedTableReplacesEnumeration)
{
    PseudoTerminal pty;
    ASSERT_FALSE(pty.Open());
    torvik::platform::SetPortTable(
        std::vector<PortInfo>{{7, pty.DevicePath(), "Torvik4"}, {0, "/dev/x", ""}, {3, "/dev/ttyUSB2", "Other"}});
    const auto ports = torvik::platform::ListSerialPorts();
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].com_number, 3);
    EXPECT_EQ(ports[1].description, "Torvik4");
    EXPECT_EQ(ports[2].path, "/dev/x");
    EXPECT_EQ(torvik::platform::ResolvePortName("COM7"), pty.DevicePath());
    EXPECT_FALSE(torvik::platform::ResolvePortName("COM1"));

    torvik::platform::SetPortTable(std::nullopt);

    // A session port takes the COM name through the library's table.
    torvik::devicelink::SetPortTable(std::vector<torvik::devicelink::PortEntry>{{7, pty.DevicePath(), "Torvik4"}});
    ASSERT_EQ(torvik::devicelink::ListPorts().size(), 1u);
    torvik::devicelink::SerialPort port;
    EXPECT_EQ(port.Connect("COM7", 2000000, 8, 0, 2), 0);
    EXPECT_EQ(port.Disconnect(), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(port.Connect("COM1", 2000000, 8, 0, 2), -2);
    ::testing::internal::GetCapturedStderr();
    torvik::devicelink::SetPortTable(std::nullopt);
}

}  // namespace
