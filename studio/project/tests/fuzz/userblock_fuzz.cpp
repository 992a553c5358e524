// Feeds arbitrary images to the user block reader: it must stop with an error inside the image or
// read it to the end, never read past it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include <project/user_block.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto decoded = torvik::studio::DecodeUserBlock(std::span<const std::uint8_t>(data, size));
    if (decoded.errorOffset && (*decoded.errorOffset > size || decoded.error.empty())) {
        std::abort();
    }
    for (const auto& record : decoded.records) {
        if (record.offset >= size) {
            std::abort();
        }
    }
    return 0;
}
