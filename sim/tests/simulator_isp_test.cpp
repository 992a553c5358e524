// The boot loader of the running simulator through its pseudo-terminal: entered by the device link, left by
// G, with the options that start it, fault it and pace it.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include <devicelink/torvik_api.h>
#include <devicelink/torvik.hpp>
#include <platform/serial.hpp>
#include <sim/simulator.hpp>

namespace {

using torvik::sim::SimMode;
using torvik::sim::SimOptions;
using torvik::sim::Simulator;
using Clock = std::chrono::steady_clock;

// The host's end of the line, byte for byte.
class Host {
public:
    void Open(const std::string& path, std::uint32_t baud = 115200)
    {
        ASSERT_FALSE(port_.Open(path));
        ASSERT_FALSE(port_.ApplySettings({baud, 8, 0, 0}));
    }
    void Close() { port_.Close(); }
    void Send(std::string_view bytes)
    {
        ASSERT_EQ(port_.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 2000).count,
                  bytes.size());
    }
    // What arrives until `count` bytes are there or the time is up.
    std::string Read(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::string got;
        const auto deadline = Clock::now() + limit;
        while (got.size() < count && Clock::now() < deadline) {
            std::uint8_t buffer[256];
            const auto r = port_.Read(buffer, std::min(sizeof buffer, count - got.size()), 20);
            got.append(reinterpret_cast<const char*>(buffer), r.count);
        }
        return got;
    }
    std::string Exchange(std::string_view send, std::size_t answer,
                         std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        Send(send);
        return Read(answer, limit);
    }
    void Synchronise()
    {
        ASSERT_EQ(Exchange("?", 14), "Synchronized\r\n");
        ASSERT_EQ(Exchange("Synchronized\r\n", 17), "Synchronized\rOK\r\n");
        ASSERT_EQ(Exchange("12000\r\n", 10), "12000\rOK\r\n");
        ASSERT_EQ(Exchange("A 0\r\n", 7), "A 0\r0\r\n");
    }

private:
    torvik::platform::SerialDevice port_;
};

class SimulatorIspTest : public ::testing::Test {
protected:
    void StartDevice(SimOptions options = {})
    {
        sim = std::make_unique<Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(error)) << error;
    }
    void TearDown() override
    {
        host.Close();
        if (sim) {
            sim->Stop();
        }
    }

    std::unique_ptr<Simulator> sim;
    Host host;
};

TEST_F(SimulatorIspTest, EnteredByTheDeviceLinkAndLeftByGo)
{
    StartDevice();
    void* session = NewTorvik();
    static_cast<torvik::devicelink::Torvik*>(session)->ClearPrintStream();
    ASSERT_EQ(ConnectTorvik(session, sim->DevicePath().c_str(), 200, 200), 0);
    ASSERT_EQ(BootloaderTorvik(session), 0);
    EXPECT_EQ(sim->Mode(), SimMode::Bootloader);
    DisconnectTorvik(session);

    host.Open(sim->DevicePath());
    host.Synchronise();
    EXPECT_EQ(host.Exchange("U 23130\r\n", 3), "0\r\n");
    // A small routine where the host puts it, then started there.
    EXPECT_EQ(host.Exchange("W 268464128 8\r\n", 3), "0\r\n");
    EXPECT_EQ(host.Exchange("(`0(#!`4&!P@`\r\n36\r\n", 4), "OK\r\n");
    EXPECT_EQ(sim->Ram()[0x7000 + 7], 8);
    EXPECT_EQ(host.Exchange("G 268464128 T\r\n", 3), "0\r\n");
    EXPECT_EQ(sim->Mode(), SimMode::Application);
    host.Close();

    ASSERT_EQ(ConnectTorvik(session, sim->DevicePath().c_str(), 200, 200), 0);
    EXPECT_EQ(static_cast<torvik::devicelink::Torvik*>(session)->Ping(), 0);
    DisconnectTorvik(session);
    DeleteTorvik(session);
}

TEST_F(SimulatorIspTest, FlashChangedBehindTheHostIsReadAndKept)
{
    const auto state = std::filesystem::temp_directory_path() / ("torvik-sim-isp-" + std::to_string(::getpid()));
    std::filesystem::remove(state);
    SimOptions options;
    options.bootloader = true;
    options.state_file = state.string();
    StartDevice(options);
    EXPECT_EQ(sim->Mode(), SimMode::Bootloader);
    sim->WriteFlash(0x1000, {0xDE, 0xAD, 0xBE, 0xEF});
    // Readers and writers on another thread while the host works.
    std::atomic<bool> done{false};
    std::thread other([&] {
        while (!done) {
            sim->WriteFlash(0x1000, {0xDE, 0xAD, 0xBE, 0xEF});
            EXPECT_EQ(sim->Flash().size(), Simulator::kFlashSize);
        }
    });
    host.Open(sim->DevicePath());
    host.Synchronise();
    EXPECT_EQ(host.Exchange("R 4096 4\r\n", 19), "0\r\n$WJV^[P``\r\n824\r\n");
    done = true;
    other.join();
    EXPECT_EQ(host.Exchange("OK\r\nU 23130\r\nP 2 2\r\nE 2 2\r\n", 9), "0\r\n0\r\n0\r\n");
    host.Close();
    sim->Stop();

    StartDevice(options);
    const auto flash = sim->Flash();
    EXPECT_EQ(flash[0x1000], 0xDE);
    EXPECT_EQ(flash[0x2000], 0xFF);
    std::filesystem::remove(state);
}

TEST_F(SimulatorIspTest, FaultsOfTheApplicationApplyToo)
{
    SimOptions options;
    options.bootloader = true;
    options.silent = true;
    StartDevice(options);
    host.Open(sim->DevicePath());
    EXPECT_EQ(host.Exchange("?", 1, std::chrono::milliseconds(200)).size(), 0u);
    sim->SetSilent(false);
    sim->SetDropEveryNthByte(2);
    EXPECT_EQ(host.Exchange("?", 7), "Snhoie\r");
}

TEST_F(SimulatorIspTest, LeftSynchronisedByAnEarlierSession)
{
    SimOptions options;
    options.bootloader = true;
    options.bootloader_synchronised = true;
    StartDevice(options);
    host.Open(sim->DevicePath());
    // The '?' is taken as the start of a command line, echoed and not answered.
    EXPECT_EQ(host.Exchange("?", 2, std::chrono::milliseconds(200)), "?");
    EXPECT_EQ(host.Exchange("\x1bJ\r\n", 16), "J\r0\r\n638664503\r\n");
}

TEST_F(SimulatorIspTest, PacedAnswersTakeTheLineTime)
{
    SimOptions options;
    options.bootloader = true;
    options.pace = true;
    options.isp.max_sync_baud = 115200;
    StartDevice(options);
    host.Open(sim->DevicePath(), 230400);
    EXPECT_EQ(host.Exchange("?", 1, std::chrono::milliseconds(200)).size(), 0u);
    host.Close();
    host.Open(sim->DevicePath(), 9600);
    const auto start = Clock::now();
    EXPECT_EQ(host.Exchange("?", 14), "Synchronized\r\n");
    // 15 characters of 10 bits at 9600 bit/s: the '?' in, the answer out. Only a lower bound.
    EXPECT_GE(Clock::now() - start, std::chrono::microseconds(15 * 10 * 1000000 / 9600));
}

}  // namespace
