#pragma once

// The device's USER memory, where the simulation lives: flash 0x70000 to 0x7FFFF (sectors 28 and 29). A
// 256-byte header (format version in packed BCD at offsets 0 and 1) is followed by the block area: user
// blocks, each ended by a 0x00 byte and starting on a 16-byte boundary. An old block is made obsolete by
// overwriting it with zeros, so the current block is the first non-zero byte from offset 256 on.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <device/device_dialog.hpp>
#include <flashlib/version.hpp>

namespace torvik::studio {

inline constexpr std::uint32_t kUserMemoryAddress = 0x70000;
inline constexpr std::size_t kUserMemorySize = 65536;
inline constexpr std::size_t kUserMemoryHeaderSize = 256;
inline constexpr std::size_t kUserBlockAlignment = 16;
inline constexpr int kUserMemorySectors[] = {28, 29};
/// The format version this program writes.
inline constexpr const wchar_t* kUserMemoryFormat = L"2.0";
/// The largest user block an empty USER memory takes: the block, its 0x00 terminator and at least one
/// unwritten byte behind it.
inline constexpr std::size_t kMaxStoredUserBlock = kUserMemorySize - kUserMemoryHeaderSize - 2;

/// Brings a header of version major.minor to the current format: older formats are set to 2.0 (the version
/// word at `versionWord`, little-endian) and need an erase; 2.0 stays; anything else cannot be converted.
bool ConvertUserMemoryFormat(bool& eraseNeeded, std::uint8_t* versionWord, int major, int minor);

/// Where a new block goes, decided from the USER memory as read.
struct UserMemoryPlan {
    bool erase = false;
    bool corrupted = false;   ///< the last written byte is not a terminator
    bool full = false;        ///< the block does not fit behind the blocks there
    std::size_t start = 0;    ///< first byte to program (aligned down)
    std::size_t end = 0;      ///< where the new block goes (aligned up)
};
/// The capacity check: where a block of `length` bytes (without its terminator) goes in `image`. The
/// aligned block and its terminator always fit the memory: when they would not, the memory is erased.
UserMemoryPlan PlanUserBlock(const std::vector<std::uint8_t>& image, std::size_t length, bool versionDiffers);

/// The simulation the device plays: the current block of a USER memory image as read from the device
/// (from the first non-zero byte at or after offset 256 to the terminator before the unwritten rest),
/// without its terminator. Empty when the memory holds none; `problem` says why when it is damaged.
std::vector<std::uint8_t> CurrentUserBlock(const std::vector<std::uint8_t>& memory, std::string& problem);

/// The steps that read, check, erase and program the USER memory, shared by upload and erase.
class CUserMemoryDialog : public CDeviceDialogBase {
public:
    using CDeviceDialogBase::CDeviceDialogBase;
    ~CUserMemoryDialog() override;

protected:
    /// Reads `length` bytes from the start of the USER memory into the image.
    bool ReadUserMemory(std::size_t length);
    /// Checks the header's format and converts an older one (the new version goes into the image).
    bool CheckVersion();
    bool EraseUserMemory();
    /// Writes image bytes [offset, offset + length) through a temporary HEX file and programs them.
    bool UploadRange(std::size_t offset, std::size_t length);
    /// Verifies what UploadRange programmed; a mismatch fails.
    bool VerifyRange();

    std::vector<std::uint8_t> image_ = std::vector<std::uint8_t>(kUserMemorySize, 0xFF);
    kq::flashlib::Version version_;
    bool version_differs_ = false;
    bool erase_needed_ = false;
};

/// "Simulation upload": stores a user block behind the blocks already in the USER memory, or in a fresh
/// one when it does not fit or the memory is damaged.
class CUploadDialog : public CUserMemoryDialog {
public:
    /// `block`: the user block (without the terminator).
    CUploadDialog(const DeviceSettings& settings, DeviceReportSink& sink, Prompt& prompt,
                  std::vector<std::uint8_t> block);
    ~CUploadDialog() override;

protected:
    bool Run() override;

private:
    bool CheckCapacity();
    bool ModifyImage();

    std::vector<std::uint8_t> block_;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
};

/// "Simulation deletion": erases the USER memory and writes its header back.
class CEraseDialog : public CUserMemoryDialog {
public:
    using CUserMemoryDialog::CUserMemoryDialog;
    ~CEraseDialog() override;

protected:
    bool Run() override;
};

/// "Device information": connects and shows the device's identity.
class CDeviceInfoDialog : public CDeviceDialogBase {
public:
    using CDeviceDialogBase::CDeviceDialogBase;
    ~CDeviceInfoDialog() override;

    /// The identity read by a successful run.
    const kq::flashlib::CDeviceInfo& info() const { return device_info(); }

protected:
    bool Run() override;
};

}  // namespace torvik::studio
