#pragma once

// A client of the LPC1769's UART in-system programming boot loader: the line protocol with its return
// codes, UU-encoded data blocks with checksums, and the chip's flash layout.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace torvik::platform::isp {

// ---- the chip ----

inline constexpr std::uint32_t kFlashSize = 0x80000;
inline constexpr int kSectorCount = 30;
inline constexpr std::uint32_t kRamStart = 0x10000000;
inline constexpr std::uint32_t kRamSize = 0x8000;
/// Where the boot loader leaves RAM to its user: W and C buffers start here...
inline constexpr std::uint32_t kRamBuffer = 0x10000200;
/// ...and end before the boot loader's stack and its flash programming area.
inline constexpr std::uint32_t kRamBufferEnd = 0x10007EE0;
inline constexpr std::uint32_t kLpc1769PartId = 0x26113F37;
inline constexpr std::uint32_t kUnlockCode = 23130;
/// The code read protection word; the values below lock the chip partly or for good.
inline constexpr std::uint32_t kCrpAddress = 0x2FC;
inline constexpr std::uint32_t kCrpValues[] = {0x12345678, 0x87654321, 0x43218765, 0x4E697370};
/// Reads and compares of 0x000-0x1FF show the boot ROM while the boot loader runs, not the flash.
inline constexpr std::uint32_t kBootRomOverlayEnd = 0x200;

/// First and last address of a sector (0-15: 4 KB, 16-29: 32 KB).
std::uint32_t SectorStart(int sector);
std::uint32_t SectorEnd(int sector);
/// The sector that holds a flash address; -1 outside the flash.
int SectorOf(std::uint32_t address);

// ---- results ----

/// The boot loader's return codes are 0..19; the client's own outcomes are negative.
inline constexpr int kTimedOut = -1;       ///< no (complete) answer within the time-out
inline constexpr int kBadAnswer = -2;      ///< an answer that is not what the command gives
inline constexpr int kRetriesSpent = -3;   ///< a data block failed its checksum on every try
inline constexpr int kPortFailed = -4;     ///< the serial port failed
inline constexpr int kRefused = -5;        ///< the client refused (a protection value, bad arguments)

/// The outcome of one exchange: code 0 is success; otherwise a return code of the boot loader or one of
/// the client's own, and a message that says what failed.
struct Status {
    int code = 0;
    std::string message;
    bool ok() const { return code == 0; }
};

/// "CMD_SUCCESS", "SECTOR_NOT_BLANK", ... for the boot loader's codes; "unknown code N" otherwise.
std::string ReturnCodeName(int code);

// ---- data lines ----

/// One UU line of 1 to 45 bytes, without its line end.
std::string UuEncodeLine(const std::uint8_t* data, std::size_t count);
/// Decodes one UU line and appends its bytes; false when the line is malformed.
bool UuDecodeLine(std::string_view line, std::vector<std::uint8_t>& out);

// ---- transport ----

/// The byte stream to the boot loader.
class Port {
public:
    virtual ~Port() = default;
    virtual std::error_code Write(std::string_view bytes) = 0;
    /// Appends what arrives within the time-out (at least one byte); errc::timed_out when nothing came.
    virtual std::error_code Read(std::string& into, std::chrono::milliseconds timeout) = 0;
    virtual std::error_code SetBaud(std::uint32_t baud) = 0;
    virtual void DiscardInput() = 0;
    /// Sets the modem lines (true: asserted); false when the port has none (a pseudo-terminal).
    virtual bool SetLines(bool dtr, bool rts) = 0;
};

/// A serial device (8 data bits, no parity, one stop bit) as a Port.
std::unique_ptr<Port> OpenSerialPort(const std::string& path, std::error_code& error);

// ---- the client ----

struct ClientOptions {
    std::chrono::milliseconds answer_timeout{1000};  ///< per command answer, per block acknowledgement
    std::chrono::milliseconds erase_timeout{5000};   ///< an erase of many sectors
    std::chrono::milliseconds sync_timeout{100};     ///< per '?'
    int sync_attempts = 10;                          ///< '?' sent at one rate before giving up on it
    int block_tries = 3;                             ///< sends of one data block
};

/// Bytes done so far and bytes to do; returns nothing the client acts on.
using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

/// One session with the boot loader. Every answer is awaited for a bounded time.
class Client {
public:
    explicit Client(Port& port, ClientOptions options = {});

    /// '?' until "Synchronized", the handshake with the crystal frequency in kHz, then echo off.
    Status Synchronize(std::uint32_t crystal_khz);
    Status Unlock();
    Status ReadPartId(std::uint32_t& id);
    Status ReadBootCodeVersion(std::uint32_t& major, std::uint32_t& minor);
    Status Prepare(int first, int last);
    Status Erase(int first, int last);
    /// `blank` false (and the status ok) when the boot loader reports a word that is not erased.
    Status BlankCheck(int first, int last, bool& blank);
    Status WriteToRam(std::uint32_t address, const std::uint8_t* data, std::size_t count);
    Status CopyRamToFlash(std::uint32_t flash, std::uint32_t ram, std::uint32_t count);
    /// Address and count multiples of 4.
    Status ReadMemory(std::uint32_t address, std::uint32_t count, std::uint8_t* out, const Progress& progress = {});
    /// `same` false and `offset` set when the ranges differ.
    Status Compare(std::uint32_t a, std::uint32_t b, std::uint32_t count, bool& same, std::uint32_t& offset);
    Status Go(std::uint32_t address);

private:
    Status Command(const std::string& line, std::chrono::milliseconds timeout);
    Status ReadLine(std::string& line, std::chrono::milliseconds timeout);
    Status ReadNumber(std::uint32_t& value, const char* what);
    Status Expect(std::string_view want, std::chrono::milliseconds timeout);
    Status Send(std::string_view bytes);

    Port& port_;
    ClientOptions options_;
    std::string pending_;  // bytes received and not yet taken as lines
};

}  // namespace torvik::platform::isp
