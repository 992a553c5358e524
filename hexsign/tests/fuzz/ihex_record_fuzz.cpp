// Feeds arbitrary bytes to the HEX record reader, line after line, and writes back what it reads.
#include <hexsign/ihex.hpp>

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
    if (in == nullptr || out == nullptr) {
        return 0;
    }
    torvik::hexsign::IHexRecord record;
    for (;;) {
        const int rc = torvik::hexsign::Read_IHexRecord(&record, in);
        if (rc == torvik::hexsign::kIHexOk || rc == torvik::hexsign::kIHexErrorInvalidChecksum) {
            torvik::hexsign::Write_IHexRecord(&record, out);
        } else if (rc == torvik::hexsign::kIHexErrorEof || rc == torvik::hexsign::kIHexErrorFile) {
            break;
        }
    }
    std::fclose(in);
    std::fclose(out);
    return 0;
}
