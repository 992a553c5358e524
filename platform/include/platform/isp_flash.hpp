#pragma once

// The flash library's calls over the boot loader client: connect with the options, identify, erase,
// blank check, program and verify from an Intel HEX file, read memory, start code. Each call answers
// with the status its role has always had (1 success; blank check 2 blank, 3 not blank), and a
// message says what went wrong.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <platform/isp.hpp>

namespace torvik::platform::isp {

/// What an Intel HEX file puts into the chip: flash and RAM bytes, with what the file sets.
struct MemoryImage {
    std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(kFlashSize, 0xFF);
    std::vector<bool> flash_set = std::vector<bool>(kFlashSize, false);
    std::vector<std::uint8_t> ram = std::vector<std::uint8_t>(kRamSize, 0x00);
    std::vector<bool> ram_set = std::vector<bool>(kRamSize, false);
    std::size_t flash_bytes = 0;
    std::size_t ram_bytes = 0;
};

/// Reads a HEX file; a malformed file, or data outside the chip's flash and RAM, fails naming the line.
Status LoadHexImage(const std::filesystem::path& path, MemoryImage& image);

/// The code read protection value the image puts at the protection word, or 0 for none.
std::uint32_t ProtectionValue(const MemoryImage& image);

struct ConnectOptions {
    std::string port;                 ///< COM<n> or a device path
    std::uint32_t baud = 230400;      ///< tried first; then 115200 and 57600
    std::uint32_t crystal_khz = 12000;
    /// Reset and boot-loader request lines: 0 none; 1 DTR drives RESET and RTS the boot request; 2 the
    /// other way round; 3 and 4 as 1. Skipped on a port without modem lines.
    int hw_config = 1;
    int t1_ms = 50;                   ///< RESET and request held together
    int t2_ms = 100;                  ///< request held after RESET is released
    int post_open_delay_ms = 0;
};

/// Progress of a long call: (kind, bytes done, bytes to do, context); the result is not acted on.
using ProgressCallback = int (*)(int, unsigned long, unsigned long, void*);

/// The chip as the boot loader names it.
struct ChipIdentity {
    std::uint32_t part_id = 0;
    std::uint32_t boot_major = 0;
    std::uint32_t boot_minor = 0;
};

/// The status of every call that failed (LastError says why).
inline constexpr int kFailed = -1;

/// The flash library's roles. One connection at a time; the library holds its state.
class FlashLibrary {
public:
    virtual ~FlashLibrary() = default;
    virtual void Prepare() = 0;
    /// 1 when the boot loader answered and was unlocked.
    virtual int Connect(const ConnectOptions& options) = 0;
    /// 1 when the connected chip is an LPC1769 (read once per connection).
    virtual int FollowUp() = 0;
    virtual void Disconnect() = 0;
    /// Erases every flagged sector (`bank` -1 and `mode` 1 as always). 1 on success.
    virtual int EraseSectors(int bank, const int* flags128, int mode, ProgressCallback progress, void* context,
                             const char* hexPath) = 0;
    /// 2 when the sectors from the one holding `start` to the one holding `end` are blank, 3 when not.
    virtual int BlankCheck(std::uint32_t start, std::uint32_t end) = 0;
    /// Programs the file's flash data (padded with 0xFF to whole 256-byte pages, which leaves other cells
    /// as they are) and RAM data. 1 on success.
    virtual int ProgramHexFile(const char* path, ProgressCallback progress, void* context) = 0;
    /// Compares every byte of the file with the chip. 1 when all agree.
    virtual int VerifyHexFile(const char* path, ProgressCallback progress, void* context) = 0;
    /// Reads `first` to `last` inclusive. 1 on success.
    virtual int ReadMemory(std::uint32_t first, std::uint32_t last, std::uint8_t* out, ProgressCallback progress,
                           void* context) = 0;
    /// Runs code at `address` (a RAM routine); the connection ends with it. 1 on success.
    virtual int StartExecution(int mode, std::uint32_t address, int thumb) = 0;

    /// Why the last call failed.
    virtual std::string LastError() const = 0;
    /// The chip of the connection (after FollowUp).
    virtual ChipIdentity Identity() const = 0;
    /// Whether programming may write a code read protection value (off unless asked for: some values
    /// lock the chip for good).
    virtual void AllowCodeReadProtection(bool allow) = 0;
};

/// The library of this process over the serial ports.
FlashLibrary& SerialFlashLibrary();
/// The library the flash device calls: the serial one unless a test put another in its place.
FlashLibrary& CurrentFlashLibrary();
/// Puts `library` in place of the serial one (null restores it).
void SetFlashLibrary(FlashLibrary* library);

}  // namespace torvik::platform::isp
