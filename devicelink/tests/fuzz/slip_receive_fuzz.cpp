// SLIP decoding of arbitrary line bytes: every call ends, and a frame is never longer than allowed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <devicelink/serial_port.hpp>

namespace {

using torvik::devicelink::IoResult;
using torvik::devicelink::SerialIo;

// The input as the far end of the line; reads return a few bytes at a time, then time out.
class InputLine final : public SerialIo {
public:
    InputLine(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::error_code ReadSettings() override { return {}; }
    std::error_code ApplySettings(const torvik::devicelink::LineSettings&) override { return {}; }
    IoResult Read(std::uint8_t* buffer, std::size_t count, std::uint32_t) override
    {
        std::size_t n = 0;
        // The first byte decides the chunk size, so the fuzzer also splits frames across reads.
        const std::size_t chunk = size_ > 0 ? (data_[0] % 7) + 1 : 1;
        while (n < count && n < chunk && pos_ < size_) {
            buffer[n++] = data_[pos_++];
        }
        return {n, {}};
    }
    IoResult Write(const std::uint8_t*, std::size_t count, std::uint32_t) override { return {count, {}}; }
    std::error_code Purge() override { return {}; }
    std::error_code Close() override { return {}; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    torvik::devicelink::SerialPort port;
    port.SetOpener([&](const std::string&, std::error_code&) { return std::make_unique<InputLine>(data, size); });
    if (port.Connect("fuzz", 2000000, 8, 0, 2) != 0) {
        std::abort();
    }
    const std::uint32_t max_len = size > 1 ? (data[1] % 32) + 1 : 255;
    std::vector<std::uint8_t> frame;
    for (int i = 0; i < 1000; ++i) {
        const std::int32_t r = port.SlipReceive(frame, i % 2 == 0 ? 255 : max_len, 1);
        if (r > 0 && (frame.size() != static_cast<std::size_t>(r) || frame.size() >= 255)) {
            std::abort();
        }
        if (r <= 0 && !frame.empty()) {
            std::abort();
        }
        if (r == 0) {
            break;
        }
    }
    port.Disconnect();
    return 0;
}
