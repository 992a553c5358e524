#pragma once

#include <cstdint>
#include <string>

#include <flashlib/export.hpp>
#include <flashlib/version.hpp>

namespace kq::flashlib {

/// Positions of the identity fields inside the device flash: absolute start address and length in
/// bits (only 16 is acted on) of the firmware version, hardware version, product code and serial
/// number fields.
struct FlashFileInfo {
    std::int32_t fw_start = 0;
    std::int32_t fw_length = 0;
    std::int32_t hw_start = 0;
    std::int32_t hw_length = 0;
    std::int32_t product_code_start = 0;
    std::int32_t product_code_length = 0;
    std::int32_t serial_start = 0;
    std::int32_t serial_length = 0;
};

/// A HEX file the device is programmed from, kept under a temporary name that is reserved (created
/// empty, private to the user) when the object is constructed and deleted with the object.
class KQ_FLASHLIB_API CFlashHexFile {
public:
    CFlashHexFile();
    CFlashHexFile(const CFlashHexFile&) = delete;
    CFlashHexFile& operator=(const CFlashHexFile&) = delete;

    /// Writes the patched HEX file; 0 on success.
    virtual int ModifyHEX() = 0;
    /// Signs the HEX file in place; 0 on success.
    virtual int CreateCRC() = 0;
    /// The temporary path (empty when no temporary name could be reserved).
    virtual std::wstring GetHexFileName() const;
    /// Identity values that ModifyHEX writes; until set they are written as 0xFF 0xFF (erased).
    virtual void SetHwVer(const Version& version);
    virtual void SetSerialNumber(int serial_number);
    virtual void SetProductCode(int product_code);
    /// Deletes the temporary file.
    virtual ~CFlashHexFile();

    /// Writes `length` bytes of `buffer` as an Intel HEX file at `path` (replaced if it exists) as they
    /// lie in device memory from `address` on: an extended linear address record, 16-byte data records
    /// (a further address record wherever the image crosses a 64 KB boundary) and the end record; lines
    /// end in CR LF. Returns 0, -2 cannot open, -6 first address record not written, -4 data not written
    /// (or a null buffer with a nonzero length), -8 end record not written.
    static int CreateHexFileFromBuffer(std::uint32_t address, std::uint16_t length, const std::uint8_t* buffer,
                                       const std::wstring& path);

protected:
    std::wstring temp_path_;
    int product_code_ = -1;
    int serial_number_ = -1;
    Version hw_version_;
};

}  // namespace kq::flashlib
