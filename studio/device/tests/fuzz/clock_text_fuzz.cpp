// The date and time text of the command line, and the device value conversions behind it.
#include <device/device_clock.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    torvik::studio::ClockFields fields{};
    if (torvik::studio::ParseClockFields(std::string_view(reinterpret_cast<const char*>(data), size), fields)) {
        torvik::studio::FormatClockFields(fields);
    }
    return 0;
}
