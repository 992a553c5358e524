// Runs the signing pass of the signature tool over arbitrary input.
#include <hexsign/xorhex4.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    std::vector<std::uint8_t> copy(data, data + size);
    std::FILE* in = fmemopen(copy.data(), copy.size(), "r");
    std::FILE* out = std::tmpfile();
    if (in != nullptr && out != nullptr) {
        torvik::hexsign::SignHexStream(in, out, nullptr);
    }
    if (in != nullptr) {
        std::fclose(in);
    }
    if (out != nullptr) {
        std::fclose(out);
    }
    return 0;
}
