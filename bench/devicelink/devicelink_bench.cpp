// Device link timings on a pseudo-terminal: the first queued write on a fresh port (target under
// 10 ms), queued frames per second through the sender thread, and ping round trips against the simulator.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include <devicelink/serial_port.hpp>
#include <devicelink/torvik.hpp>
#include <platform/serial.hpp>
#include <sim/simulator.hpp>

namespace {

using torvik::devicelink::SerialPort;

void BM_FirstNonblockingWrite(benchmark::State& state)
{
    torvik::platform::PseudoTerminal pty;
    if (pty.Open()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const std::vector<std::uint8_t> frame{0xC0, 0x01, 0x05, 0x09, 0x00, 0x0F, 0xC0};
    std::uint8_t sink[64];
    for (auto _ : state) {
        SerialPort port;
        port.Connect(pty.DevicePath(), 2000000, 8, 0, 2);
        port.SetTimeout(100, 100);
        const auto start = std::chrono::steady_clock::now();
        const std::int32_t r = port.WriteByteNonblock(frame.data(), static_cast<std::uint32_t>(frame.size()));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        if (r < 1) {
            state.SkipWithError("write refused");
            break;
        }
        port.Disconnect();
        while (pty.Read(sink, sizeof sink, 0).count > 0) {
        }
    }
}
BENCHMARK(BM_FirstNonblockingWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_QueuedFramesThroughSender(benchmark::State& state)
{
    torvik::platform::PseudoTerminal pty;
    if (pty.Open()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    SerialPort port;
    port.Connect(pty.DevicePath(), 2000000, 8, 0, 2);
    port.SetTimeout(1000, 1000);
    // A ping-sized frame, as the session queues them.
    const std::vector<std::uint8_t> frame{0xC0, 0x01, 0x05, 0x09, 0x00, 0x0F, 0xC0};
    constexpr int kFrames = 1000;
    std::atomic<std::size_t> received{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        std::uint8_t buffer[4096];
        while (!stop) {
            received += pty.Read(buffer, sizeof buffer, 10).count;
        }
    });
    std::size_t expected = 0;
    for (auto _ : state) {
        for (int i = 0; i < kFrames; ++i) {
            port.WriteByteNonblock(frame.data(), static_cast<std::uint32_t>(frame.size()));
        }
        expected += kFrames * frame.size();
        while (received < expected) {
            std::this_thread::yield();
        }
    }
    stop = true;
    reader.join();
    port.Disconnect();
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_QueuedFramesThroughSender)->Unit(benchmark::kMillisecond);

void BM_PingRoundTrip(benchmark::State& state)
{
    torvik::sim::Simulator sim;
    std::string error;
    if (!sim.Start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    torvik::devicelink::Torvik session;
    session.ClearPrintStream();
    if (session.Connect(sim.DevicePath(), 1000, 1000) != 0) {
        state.SkipWithError("no connection");
        return;
    }
    for (auto _ : state) {
        if (session.Ping() != 0) {
            state.SkipWithError("ping failed");
            break;
        }
    }
    session.Disconnect();
    sim.Stop();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PingRoundTrip)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
