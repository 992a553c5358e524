// The boot loader's line and command parser on arbitrary input: every call ends, takes no more than it is
// given, and leaves the boot loader only through G.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <sim/isp.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using torvik::sim::SimMode;
    if (size == 0) {
        return 0;
    }
    // The first byte picks the quirks and the fault.
    const std::uint8_t pick = data[0];
    torvik::sim::IspQuirks quirks;
    quirks.echo_crlf = (pick & 1U) != 0;
    quirks.zero_as_space = (pick & 2U) != 0;
    quirks.pad_with_memory = (pick & 4U) != 0;
    quirks.rom_overlay = (pick & 8U) != 0;
    quirks.i_offset_absolute = (pick & 16U) != 0;
    torvik::sim::DeviceState device;
    device.mode = SimMode::Bootloader;
    torvik::sim::IspSession isp(device, quirks);
    isp.SetCorruptEveryNth(pick >> 5U);
    // Fed in pieces, so that lines also arrive split; a G puts the device back into the boot loader.
    std::size_t at = 1;
    while (at < size) {
        const std::size_t piece = std::min<std::size_t>(size - at, 1 + data[at] % 64);
        torvik::sim::Output out;
        const std::size_t taken = isp.Receive(data + at, piece, 115200, out);
        if (taken == 0 || taken > piece || (taken < piece && device.mode != SimMode::Application)) {
            std::abort();
        }
        if (device.mode == SimMode::Application) {
            device.mode = SimMode::Bootloader;
            isp.Reset();
        }
        if (device.flash.size() != device.kFlashSize || device.ram.size() != device.kRamSize) {
            std::abort();
        }
        at += taken;
    }
    return 0;
}
