// Sessions through the C interface against the simulated device on a pseudo-terminal.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <devicelink/torvik_api.h>
#include <devicelink/torvik.hpp>
#include <sim/simulator.hpp>

namespace {

using torvik::sim::SimMode;
using torvik::sim::SimOptions;
using torvik::sim::Simulator;

class SimulatorTest : public ::testing::Test {
protected:
    void StartDevice(SimOptions options = {}, std::uint32_t reboot_ms = 20)
    {
        options.reboot_ms = reboot_ms;
        sim = std::make_unique<Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(error)) << error;
        session = NewTorvik();
        ASSERT_NE(session, nullptr);
        static_cast<torvik::devicelink::Torvik*>(session)->ClearPrintStream();
    }

    void Connect(std::uint32_t timeout_ms = 200)
    {
        ASSERT_EQ(ConnectTorvik(session, sim->DevicePath().c_str(), timeout_ms, timeout_ms), 0);
    }

    void TearDown() override
    {
        if (session != nullptr) {
            DisconnectTorvik(session);
            DeleteTorvik(session);
        }
        if (sim) {
            sim->Stop();
        }
    }

    std::unique_ptr<Simulator> sim;
    void* session = nullptr;
};

TEST_F(SimulatorTest, ConnectPingAndVersion)
{
    StartDevice();
    Connect();
    EXPECT_EQ(static_cast<torvik::devicelink::Torvik*>(session)->ProtocolLevel(), 100);
    EXPECT_EQ(static_cast<torvik::devicelink::Torvik*>(session)->Ping(), 0);
    EXPECT_EQ(GetVersionTorvik(session), 100);
    // What the device decoded is exactly the probe, ping and probe again.
    const auto frames = sim->ReceivedFrames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1], (std::vector<std::uint8_t>{0x01, 0x06, 0x09, 0x00, 0x10}));
}

TEST_F(SimulatorTest, FailedConnectKeepsTheSystemError)
{
    StartDevice();
    Connect();
    void* second = NewTorvik();
    ASSERT_NE(second, nullptr);
    static_cast<torvik::devicelink::Torvik*>(second)->ClearPrintStream();
    struct Case {
        std::string port;
        std::int32_t error;
    };
    const Case cases[] = {{sim->DevicePath(), EBUSY}, {"/nonexistent/tty", ENOENT}, {"no-such-name", ENODEV}};
    ::testing::internal::CaptureStderr();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        EXPECT_EQ(ConnectTorvik(second, c.port.c_str(), 50, 50), -2);
        EXPECT_EQ(LastConnectErrorTorvik(second), c.error);
    }
    ::testing::internal::GetCapturedStderr();
    DisconnectTorvik(session);
    EXPECT_EQ(ConnectTorvik(second, sim->DevicePath().c_str(), 200, 200), 0);
    EXPECT_EQ(LastConnectErrorTorvik(second), 0);
    DeleteTorvik(second);
}

TEST_F(SimulatorTest, EepromReadWriteAndLimits)
{
    StartDevice();
    Connect();
    std::uint8_t block[16];
    // A fresh device: the VIN fields select the default VIN.
    for (const std::uint16_t address : {std::uint16_t{47}, std::uint16_t{64}, std::uint16_t{81}}) {
        ASSERT_EQ(ReadEepromTorvik(session, address, 16, block), 0);
        EXPECT_EQ(block[0], 0xFF);
    }
    const std::uint8_t vin[17] = {'A', 'B', 'C', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(WriteEepromTorvik(session, 47, 16, vin), 0);
    EXPECT_EQ(WriteEepromTorvik(session, 63, 1, vin + 16), 0);
    ASSERT_EQ(ReadEepromTorvik(session, 47, 16, block), 0);
    EXPECT_EQ(std::memcmp(block, vin, 16), 0);
    EXPECT_EQ(sim->Eeprom()[63], 0x20);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(WriteEepromTorvik(session, 29, 1, vin), -1);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(WriteEepromTorvik(session, 4090, 16, vin), -21);  // past the end
    EXPECT_EQ(LastReplyTorvik(session), 0x80);
    EXPECT_EQ(ReadEepromTorvik(session, 4095, 2, block), -14);  // refused read
    EXPECT_EQ(LastReplyTorvik(session), 0x81);
    EXPECT_EQ(ReadEepromTorvik(session, 4095, 1, block), 0);
}

TEST_F(SimulatorTest, ClockAndStateContinueInASecondRun)
{
    const auto state = std::filesystem::temp_directory_path() / ("torvik-sim-" + std::to_string(::getpid()));
    std::filesystem::remove(state);
    SimOptions options;
    options.state_file = state.string();
    StartDevice(options);
    Connect();
    EXPECT_EQ(SetTimeTorvik(session, 0x100000000LL + 1700000000LL), 0);
    std::int64_t now = 0;
    ASSERT_EQ(GetTimeTorvik(session, &now), 0);
    EXPECT_GE(now, 1700000000LL);
    EXPECT_LE(now, 1700000001LL);
    const std::uint8_t data[2] = {0x12, 0x34};
    ASSERT_EQ(WriteEepromTorvik(session, 200, 2, data), 0);
    DisconnectTorvik(session);
    DeleteTorvik(session);
    session = nullptr;
    sim->Stop();

    StartDevice(options);
    Connect();
    std::uint8_t back[2] = {};
    ASSERT_EQ(ReadEepromTorvik(session, 200, 2, back), 0);
    EXPECT_EQ(back[0], 0x12);
    EXPECT_EQ(back[1], 0x34);
    ASSERT_EQ(GetTimeTorvik(session, &now), 0);
    EXPECT_GE(now, 1700000000LL);
    EXPECT_LE(now, 1700000002LL);
    std::filesystem::remove(state);
}

TEST_F(SimulatorTest, RebootWaitsForTheDeviceAndBootloaderSilencesIt)
{
    StartDevice();
    Connect();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RebootTorvik(session, true), 0);
    // The loop stops at the first answered ping, long before its 100 tries.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(static_cast<torvik::devicelink::Torvik*>(session)->Ping(), 0);

    EXPECT_EQ(BootloaderTorvik(session), 0);
    EXPECT_EQ(sim->Mode(), SimMode::Bootloader);
    EXPECT_EQ(static_cast<torvik::devicelink::Torvik*>(session)->Ping(), -14);
}

TEST_F(SimulatorTest, RebootOfADeviceThatStaysSilentEndsWithinItsWait)
{
    StartDevice({}, 600000);
    Connect(1000);
    const auto start = std::chrono::steady_clock::now();
    // The reboot itself was answered; the five-second wait for the device ends unanswered, and is not
    // stretched to a full read time-out per ping (which would take over 100 s).
    EXPECT_EQ(RebootTorvik(session, true), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    std::uint32_t read_timeout = 0;
    std::uint32_t write_timeout = 0;
    static_cast<torvik::devicelink::Torvik*>(session)->GetTimeout(read_timeout, write_timeout);
    EXPECT_EQ(read_timeout, 1000u);
    EXPECT_LT(GetVersionTorvik(session), 0);
}

TEST_F(SimulatorTest, MessagesSignalsAndRequests)
{
    SimOptions options;
    options.async_interval_ms = 5;
    StartDevice(options);
    Connect();
    const tagCanMessage message{8, 1, 0, 0x123, false, false, false, false, 0, 1, false, 100, 0, 0};
    const std::uint8_t payload[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::int32_t handler = AddMessageTorvik(session, &message, payload);
    ASSERT_GT(handler, 0);
    EXPECT_EQ(GetHandlerTorvik(session, 1, 0, 0x123, false, false, false), handler);
    EXPECT_EQ(GetHandlerTorvik(session, 1, 0, 0x124, false, false, false), -21);
    const auto h = static_cast<std::uint16_t>(handler);
    EXPECT_EQ(DisableMessageTorvik(session, h), 0);
    EXPECT_EQ(EnableMessageTorvik(session, h), 0);
    EXPECT_EQ(SetMessageDataTorvik(session, h, payload, nullptr, 0, true), 0);
    const std::int32_t signal = AddSignalTorvik(session, h, 0, 0, 7, 0);
    ASSERT_GT(signal, 0);
    EXPECT_EQ(SignalChangeValueTorvik(session, static_cast<std::uint16_t>(signal), 3, 0, true), 0);
    EXPECT_EQ(SetSignalControlTorvik(session, static_cast<std::uint16_t>(signal), 1, 2, 3, 4), 0);
    EXPECT_EQ(ExecuteSignalChangeTorvik(session, true), 0);
    EXPECT_EQ(RemoveSignalTorvik(session, static_cast<std::uint16_t>(signal)), 0);
    EXPECT_EQ(RemoveSignalTorvik(session, static_cast<std::uint16_t>(signal)), -21);
    const std::uint8_t block[16] = {};
    const std::int32_t crc = AddCrcTorvik(session, block);
    ASSERT_GT(crc, 0);
    EXPECT_EQ(ChangeCrcTorvik(session, static_cast<std::uint16_t>(crc), nullptr), 0);
    EXPECT_EQ(DisableCrcTorvik(session, 0x7777), -21);
    EXPECT_EQ(RemoveMessageTorvik(session, h), 0);
    EXPECT_EQ(RemoveMessageTorvik(session, h), -21);

    const std::uint8_t data[8] = {0xAB, 0xCD, 3, 4, 5, 6, 7, 8};
    const std::int32_t key = RequestMessageTorvik(session, 0x02, 0x321, 0, false, 8, false, false, data);
    ASSERT_EQ(key, 0x20321);
    ASSERT_EQ(StartReceiverTorvik(session), 0);
    tagAsyncMessage record{};
    std::uint8_t buffer[4] = {};
    std::int32_t copied = -1;
    // The receiver thread files the message when it gets to it, which a loaded machine can delay.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (copied < 0 && std::chrono::steady_clock::now() < deadline) {
        copied = ReadAsyncMsgTorvik(session, static_cast<std::uint32_t>(key), &record, buffer, 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(copied, 4);
    EXPECT_EQ(record.key, 0x10321u);  // channel index 1 (mask bit 1), message number 0x321
    EXPECT_EQ(record.dlc, 8);
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(buffer[3], 4);
    const std::int32_t index = RequestSignalTorvik(session, static_cast<std::uint32_t>(key), 4, 15);
    ASSERT_EQ(index, 1);
    std::uint32_t value = 0;
    EXPECT_EQ(SignalReadValue32Torvik(session, index, &value, nullptr, true), 0);
    EXPECT_EQ(value, 0xCDAu);
    // Answers still come through the receiver; data answers do not.
    EXPECT_EQ(static_cast<torvik::devicelink::Torvik*>(session)->Ping(), 0);
    std::uint8_t eeprom[1];
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ReadEepromTorvik(session, 100, 1, eeprom), -15);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(GetInternalThreadStatus(session), 1 + 16);
    StopReceiverTorvik(session);
}

struct FaultCase {
    const char* name;
    SimOptions options;
    std::int32_t connect;
};

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

class SimulatorFaultTest : public SimulatorTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimulatorFaultTest, EndsWithTheDocumentedCode)
{
    StartDevice(GetParam().options);
    const auto start = std::chrono::steady_clock::now();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ConnectTorvik(session, sim->DevicePath().c_str(), 50, 50), GetParam().connect);
    ::testing::internal::GetCapturedStderr();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

SimOptions Silent()
{
    SimOptions o;
    o.silent = true;
    return o;
}
SimOptions Corrupt()
{
    SimOptions o;
    o.corrupt_every_nth = 1;
    return o;
}
SimOptions Drop()
{
    SimOptions o;
    o.drop_every_nth_byte = 3;
    return o;
}
SimOptions Notices()
{
    SimOptions o;
    o.hw_error_notices = true;
    return o;
}

INSTANTIATE_TEST_SUITE_P(Faults, SimulatorFaultTest,
                         ::testing::Values(FaultCase{"silent", Silent(), -314}, FaultCase{"corrupt", Corrupt(), -314},
                                           FaultCase{"drop", Drop(), -314}, FaultCase{"notices", Notices(), 0}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(SimulatorTest, FaultsSwitchedOnWhileConnected)
{
    StartDevice();
    Connect(50);
    auto& t = *static_cast<torvik::devicelink::Torvik*>(session);
    sim->SetHwErrorNotices(true);
    EXPECT_EQ(t.Ping(), 0x10000);
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadEepromTorvik(session, 100, 1, &byte), 0);  // the notice does not fail a read
    sim->SetHwErrorNotices(false);
    sim->SetCorruptEveryNth(1);
    EXPECT_EQ(t.Ping(), -14);
    // A write whose answer was garbled ends like a refused one, but the device stored the bytes: only the
    // reply that ended the wait tells the two apart.
    const std::uint8_t written = 0x5A;
    EXPECT_EQ(WriteEepromTorvik(session, 100, 1, &written), -14);
    EXPECT_EQ(LastReplyTorvik(session), 0);
    EXPECT_EQ(sim->Eeprom()[100], 0x5A);
    sim->SetCorruptEveryNth(0);
    sim->SetSilent(true);
    std::int64_t now = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(GetTimeTorvik(session, &now), -14);
    ::testing::internal::GetCapturedStderr();
    sim->SetSilent(false);
    EXPECT_EQ(t.Ping(), 0);
}

}  // namespace
