// Plays arbitrary bytes as the boot loader's side of a session: the client must end every exchange in
// its bounded time with a result, never read or write past a buffer, and never hand out more bytes than
// it asked for.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <platform/isp.hpp>

namespace {

using namespace torvik::platform::isp;

// Hands out the fuzz input in pieces whose sizes the input itself chooses; silence once it is used up.
class FuzzChip final : public Port {
public:
    FuzzChip(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::error_code Write(std::string_view) override { return {}; }
    std::error_code Read(std::string& into, std::chrono::milliseconds) override
    {
        if (at_ >= size_) {
            return std::make_error_code(std::errc::timed_out);
        }
        const std::size_t piece = std::min<std::size_t>(1 + data_[at_] % 64, size_ - at_);
        into.append(reinterpret_cast<const char*>(data_ + at_), piece);
        at_ += piece;
        return {};
    }
    std::error_code SetBaud(std::uint32_t) override { return {}; }
    void DiscardInput() override {}
    bool SetLines(bool, bool) override { return false; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzChip chip(data, size);
    ClientOptions options;
    options.answer_timeout = std::chrono::milliseconds(0);
    options.erase_timeout = std::chrono::milliseconds(0);
    options.sync_timeout = std::chrono::milliseconds(0);
    options.sync_attempts = 2;
    Client client(chip, options);
    client.Synchronize(12000);
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    client.ReadPartId(a);
    client.ReadBootCodeVersion(a, b);
    bool flag = false;
    client.BlankCheck(0, 29, flag);
    client.Compare(0, kRamBuffer, 256, flag, a);
    std::vector<std::uint8_t> bytes(1024, 0xA5);
    client.WriteToRam(kRamBuffer, bytes.data(), bytes.size());
    std::vector<std::uint8_t> out(1028, 0x5A);
    client.ReadMemory(0, 1024, out.data());
    if (out[1024] != 0x5A || out[1027] != 0x5A) {
        std::abort();  // wrote past what it asked for
    }
    std::vector<std::uint8_t> decoded;
    UuDecodeLine(std::string_view(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 80)), decoded);
    if (decoded.size() > 45) {
        std::abort();
    }
    return 0;
}
