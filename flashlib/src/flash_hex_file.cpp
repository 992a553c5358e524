#include <flashlib/flash_hex_file.hpp>

#include <hexsign/ihex.hpp>
#include <platform/process.hpp>
#include <platform/text.hpp>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace kq::flashlib {

using torvik::hexsign::IHexRecord;
using torvik::hexsign::New_IHexRecord;
using torvik::hexsign::Write_IHexRecord;

namespace {

int WriteRecord(std::FILE* out, int type, std::uint16_t address, const std::uint8_t* data, int length)
{
    IHexRecord record;
    if (New_IHexRecord(type, address, data, length, &record) != 0) {
        return -1;
    }
    return Write_IHexRecord(&record, out);
}

int WriteUpperAddress(std::FILE* out, std::uint32_t address)
{
    const std::uint8_t upper[2] = {static_cast<std::uint8_t>(address >> 24u), static_cast<std::uint8_t>(address >> 16u)};
    return WriteRecord(out, 4, 0, upper, 2);
}

}  // namespace

CFlashHexFile::CFlashHexFile()
{
    std::error_code ec;
    const auto dir = std::filesystem::temp_directory_path(ec);
    if (ec) {
        return;
    }
    const auto path = torvik::platform::CreateUniqueFile(dir, "kqflash-", ec);
    if (!ec) {
        temp_path_ = torvik::platform::FromUtf8(path.string());
    }
}

CFlashHexFile::~CFlashHexFile()
{
    if (!temp_path_.empty()) {
        std::error_code ec;
        std::filesystem::remove(torvik::platform::ToPath(temp_path_), ec);
    }
}

std::wstring CFlashHexFile::GetHexFileName() const { return temp_path_; }
void CFlashHexFile::SetHwVer(const Version& version) { hw_version_ = version; }
void CFlashHexFile::SetSerialNumber(int serial_number) { serial_number_ = serial_number; }
void CFlashHexFile::SetProductCode(int product_code) { product_code_ = product_code; }

int CFlashHexFile::CreateHexFileFromBuffer(std::uint32_t address, std::uint16_t length, const std::uint8_t* buffer,
                                           const std::wstring& path)
{
    if (buffer == nullptr && length > 0) {
        return -4;
    }
    std::FILE* out = std::fopen(torvik::platform::ToPath(path).c_str(), "w");
    if (out == nullptr) {
        return -2;
    }
    int result = 0;
    if (WriteUpperAddress(out, address) != 0) {
        result = -6;
    }
    std::uint32_t at = address;
    std::size_t offset = 0;
    while (result == 0 && offset < length) {
        // A record never runs across a 64 KB page; a new page gets its own address record.
        const std::uint32_t page_left = 0x10000u - (at & 0xFFFFu);
        std::size_t chunk = length - offset;
        chunk = chunk > 16 ? 16 : chunk;
        chunk = chunk > page_left ? page_left : chunk;
        if (WriteRecord(out, 0, static_cast<std::uint16_t>(at & 0xFFFFu), buffer + offset, static_cast<int>(chunk)) != 0) {
            result = -4;
            break;
        }
        offset += chunk;
        at += static_cast<std::uint32_t>(chunk);
        if ((at & 0xFFFFu) == 0 && offset < length && WriteUpperAddress(out, at) != 0) {
            result = -4;
        }
    }
    if (result == 0 && WriteRecord(out, 1, 0, nullptr, 0) != 0) {
        result = -8;
    }
    if (std::fclose(out) != 0 && result == 0) {
        result = -8;  // the end of the file did not reach the disk
    }
    return result;
}

}  // namespace kq::flashlib
