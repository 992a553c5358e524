// Writes restart.hex: a routine for the boot loader to load into RAM at 0x10007000 and start, which asks
// the Cortex-M3 for a system reset, so the device starts its application as after power-on.
//
// Usage: make_restart_hex OUTPUT.hex
#include <cstdint>
#include <cstdio>

#include <hexsign/ihex.hpp>

namespace {

// Thumb code at 0x10007000 and the two words it loads.
constexpr std::uint8_t kRoutine[] = {
    0x02, 0x48,              // 00  ldr  r0, [pc, #8]    r0 = address of AIRCR (the word at 0C)
    0x03, 0x49,              // 02  ldr  r1, [pc, #12]   r1 = key and SYSRESETREQ (the word at 10)
    0x01, 0x60,              // 04  str  r1, [r0]        request the reset
    0xBF, 0xF3, 0x4F, 0x8F,  // 06  dsb  sy              let the write finish
    0xFE, 0xE7,              // 0A  b    .               wait for the reset to take the core
    0x0C, 0xED, 0x00, 0xE0,  // 0C  0xE000ED0C           AIRCR: application interrupt and reset control
    0x04, 0x00, 0xFA, 0x05,  // 10  0x05FA0004           VECTKEY 0x05FA with SYSRESETREQ
};
constexpr std::uint16_t kUpperAddress = 0x1000;  // 0x1000xxxx
constexpr std::uint16_t kLowerAddress = 0x7000;

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_restart_hex OUTPUT.hex\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    using namespace torvik::hexsign;
    const std::uint8_t upper[2] = {static_cast<std::uint8_t>(kUpperAddress >> 8u), static_cast<std::uint8_t>(kUpperAddress)};
    IHexRecord record;
    bool ok = New_IHexRecord(4, 0, upper, 2, &record) == kIHexOk && Write_IHexRecord(&record, out) == kIHexOk;
    ok = ok && New_IHexRecord(0, kLowerAddress, kRoutine, sizeof kRoutine, &record) == kIHexOk &&
         Write_IHexRecord(&record, out) == kIHexOk;
    ok = ok && New_IHexRecord(1, 0, nullptr, 0, &record) == kIHexOk && Write_IHexRecord(&record, out) == kIHexOk;
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "make_restart_hex: cannot write %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
