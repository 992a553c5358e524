// Checking received frames: any bytes give one of the defined results and a consistent record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <devicelink/torvik.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static torvik::devicelink::Torvik* session = [] {
        auto* t = new torvik::devicelink::Torvik();
        t->ClearPrintStream();
        return t;
    }();
    const std::vector<std::uint8_t> frame(data, data + size);
    torvik::devicelink::RecvMessage record;
    const std::int32_t r = session->ParseMessage(frame, record, size % 2 == 0);
    if (r == 0) {
        if (size < 5 || record.payload.size() != size - 5 || record.seq != data[1] || record.id != data[2]) {
            std::abort();
        }
    } else if (r != -1 && r != -2 && r != -4) {
        std::abort();
    }
    session->CheckMessage(frame, true);
    return 0;
}
