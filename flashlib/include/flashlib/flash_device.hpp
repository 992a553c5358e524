#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <flashlib/connect_options.hpp>
#include <flashlib/export.hpp>
#include <flashlib/flash_container.hpp>
#include <flashlib/flash_hex_file.hpp>
#include <flashlib/version.hpp>

namespace kq::flashlib {

/// Progress of a long flash operation: (kind, done, to do, context); the result goes back to the library.
using FlashProgressCallback = int (*)(int, unsigned long, unsigned long, void*);

/// What the device says about itself in its identity block.
struct KQ_FLASHLIB_API CDeviceInfo {
    Version hwVersion{-1, -1};
    Version fwVersion{-1, -1};
    int productCode = -1;
    int serialNumber = -1;
};

/// A serial port: its COM number and the product string of its USB adapter ("Torvik4"), if any.
struct KQ_FLASHLIB_API SerialPortInfo {
    int reserved = 0;
    std::wstring description;
    int comPort = 0;
};

/// The flash layout of a device number.
struct DeviceFlashProperty {
    struct Sector {
        std::uint32_t start;
        std::uint32_t end;  ///< inclusive
    };
    int device;
    const char* name;
    int sectorCount;
    Sector sectors[128];
};

/// The layout of `device` (2011: the LPC1769); false for an unknown number.
KQ_FLASHLIB_API bool getDeviceFlashProperty(int device, const DeviceFlashProperty*& out);

/// The device's microcontroller through its serial boot loader. Made per operation from a container;
/// used by one thread at a time. No operation throws.
class KQ_FLASHLIB_API CFlashDevice {
public:
    static constexpr std::size_t kIdentityBlockSize = 1024;

    explicit CFlashDevice(CFlashContainer& container);
    CFlashDevice(const CFlashDevice& other);
    CFlashDevice& operator=(const CFlashDevice&) = delete;
    virtual ~CFlashDevice();

    /// The port "COM<n>".
    void SetComPort(int n);
    /// A port by name: COM<n> or a device path (a pseudo-terminal, /dev/serial/by-id/...).
    void SetComPortName(const std::string& name);
    void SetHexFilePath(const std::wstring& path);

    /// 0 when connected, else the library's status.
    int ConnectToHW();
    void DisconectHW();

    /// 0 or -1.
    int EraseMemory(FlashProgressCallback callback, void* context);
    int EraseBlocks(const int flags[128], FlashProgressCallback callback, void* context);
    /// 0 blank, -2 not blank, -1 failure.
    int CheckErase() const;
    int CheckEraseBlocks(const int flags[128]) const;
    /// 0 or -1.
    int ProgramMemory(FlashProgressCallback callback, void* context);
    int VerifyMemory(FlashProgressCallback callback, void* context) const;
    /// 0, or the library's status.
    int ReadMemory(int start, int count, std::uint8_t* destination, FlashProgressCallback callback,
                   void* context) const;
    /// Loads "restart.hex" (beside the program) into RAM and runs it: the device resets. 0 or -1.
    int RestartDevice();

    int GetProductCode() const;
    int GetSerialNumber() const;
    Version GetHWVersion() const;
    Version GetFWVersion() const;
    CDeviceInfo GetDeviceInfo() const;
    /// The next identity getter reads the block again.
    void ResetMemBuff();

    /// Copies the HEX file to `path`; true also when there is no HEX file to copy.
    bool DumpHexTo(const std::wstring& path);

    static int GetSerialPortCount();
    /// Fills at most `count` entries; `count` becomes the number filled. Returns the index of the first
    /// port with a known adapter, else 0 when any port was found, else -1.
    static int GetSerialPortInfo(SerialPortInfo* ports, int& count);

    /// Why the last failed operation failed, in words.
    std::string GetLastError() const;
    /// The chip's part identification and boot code version (after ConnectToHW).
    void GetChipIdentity(std::uint32_t& partId, std::uint32_t& bootMajor, std::uint32_t& bootMinor) const;
    /// Lets programming write a code read protection value (off by default).
    void AllowCodeReadProtection(bool allow);

    const fm_connectoptions_com& options() const { return options_; }
    const FlashFileInfo& flashFileInfo() const { return info_; }

protected:
    int SetMemBuff();
    bool CheckMemBuf() const;
    void SetDefaultOptions();

private:
    /// Flags every sector of the selected device; false for an unknown device number.
    bool AllSectors(int (&flags)[128]) const;
    int RunErase(const int flags[128], FlashProgressCallback callback, void* context, const char* hexPath);
    int Failed(int result) const;

    CFlashContainer& container_;
    FlashFileInfo info_;
    fm_connectoptions_com options_;
    char hex_path_[260] = {};
    mutable std::array<std::uint8_t, kIdentityBlockSize> block_{};
    mutable bool block_valid_ = false;
    mutable std::string last_error_;
};

}  // namespace kq::flashlib
