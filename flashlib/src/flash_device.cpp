#include <flashlib/flash_device.hpp>

#include <platform/files.hpp>
#include <platform/isp_flash.hpp>
#include <platform/ports.hpp>
#include <platform/install_layout.hpp>
#include <platform/process.hpp>
#include <platform/text.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>

namespace kq::flashlib {

namespace {

namespace isp = torvik::platform::isp;

constexpr int kOk = 1;
constexpr int kBlank = 2;
constexpr int kNotBlank = 3;
constexpr std::uint32_t kRestartAddress = 0x10007000;
constexpr int kHighestComNumber = 10239;

DeviceFlashProperty MakeLpc1769()
{
    DeviceFlashProperty property{2011, "LPC1769", isp::kSectorCount, {}};
    for (int n = 0; n < isp::kSectorCount; ++n) {
        property.sectors[n] = {isp::SectorStart(n), isp::SectorEnd(n)};
    }
    return property;
}

const DeviceFlashProperty kDevices[] = {MakeLpc1769()};

int Bcd(std::uint8_t byte)
{
    return byte == 0xFF ? 255 : (byte >> 4u) * 10 + (byte & 0xFu);
}

isp::ConnectOptions ToConnectOptions(const fm_connectoptions_com& o)
{
    isp::ConnectOptions options;
    options.port = std::string(o.comport, strnlen(o.comport, sizeof o.comport));
    options.baud = o.baudrate > 0 ? static_cast<std::uint32_t>(o.baudrate) : 230400u;
    options.crystal_khz = static_cast<std::uint32_t>(std::lround(o.osc * 1000.0));
    options.hw_config = o.hwconfig;
    options.t1_ms = o.hwt1;
    options.t2_ms = o.hwt2;
    options.post_open_delay_ms = o.postopendelay;
    return options;
}

}  // namespace

bool getDeviceFlashProperty(int device, const DeviceFlashProperty*& out)
{
    for (const auto& property : kDevices) {
        if (property.device == device) {
            out = &property;
            return true;
        }
    }
    return false;
}

CFlashDevice::CFlashDevice(CFlashContainer& container) : container_(container)
{
    container_.LoadOptions(options_);
    container_.GetFlashFileInfo(info_);
    // The connection always uses the device's defaults; the container's options do not reach it.
    SetDefaultOptions();
}

CFlashDevice::CFlashDevice(const CFlashDevice& other) = default;

CFlashDevice::~CFlashDevice() = default;

void CFlashDevice::SetDefaultOptions()
{
    options_ = fm_connectoptions_com{};
}

void CFlashDevice::SetComPort(int n)
{
    std::snprintf(options_.comport, sizeof options_.comport, "COM%d", n);
}

void CFlashDevice::SetComPortName(const std::string& name)
{
    std::snprintf(options_.comport, sizeof options_.comport, "%s", name.c_str());
    if (name.size() >= sizeof options_.comport) {
        options_.comport[0] = '\0';  // a cut name could name another port
    }
}

void CFlashDevice::SetHexFilePath(const std::wstring& path)
{
    const std::string narrow = torvik::platform::ToUtf8(path);
    // A path cut to the buffer would name another file: a path that does not fit is no path.
    std::snprintf(hex_path_, sizeof hex_path_, "%s", narrow.size() < sizeof hex_path_ ? narrow.c_str() : "");
}

int CFlashDevice::Failed(int result) const
{
    last_error_ = isp::CurrentFlashLibrary().LastError();
    return result;
}

int CFlashDevice::ConnectToHW()
{
    auto& library = isp::CurrentFlashLibrary();
    library.Prepare();
    if (options_.comport[0] == '\0') {
        last_error_ = "no port is set";
        return isp::kFailed;
    }
    if (const int status = library.Connect(ToConnectOptions(options_)); status != kOk) {
        return Failed(status);
    }
    if (const int status = library.FollowUp(); status != kOk) {
        return Failed(status);
    }
    library.FollowUp();
    return 0;
}

void CFlashDevice::DisconectHW()
{
    isp::CurrentFlashLibrary().Disconnect();
}

bool CFlashDevice::AllSectors(int (&flags)[128]) const
{
    const DeviceFlashProperty* property = nullptr;
    if (!getDeviceFlashProperty(options_.selecteddevice, property)) {
        last_error_ = "unknown device number " + std::to_string(options_.selecteddevice);
        return false;
    }
    for (int n = 0; n < property->sectorCount && n < 128; ++n) {
        flags[n] = 1;
    }
    return true;
}

int CFlashDevice::RunErase(const int flags[128], FlashProgressCallback callback, void* context, const char* hexPath)
{
    const int status = isp::CurrentFlashLibrary().EraseSectors(-1, flags, 1, callback, context, hexPath);
    return status == kOk ? 0 : Failed(-1);
}

int CFlashDevice::EraseMemory(FlashProgressCallback callback, void* context)
{
    if (container_.IsEraseBlockDefined()) {
        return RunErase(container_.GetEraseBlocks(), callback, context, hex_path_);
    }
    int flags[128] = {};
    if (!AllSectors(flags)) {
        return -1;
    }
    return RunErase(flags, callback, context, hex_path_);
}

int CFlashDevice::EraseBlocks(const int flags[128], FlashProgressCallback callback, void* context)
{
    return RunErase(flags, callback, context, nullptr);
}

int CFlashDevice::CheckErase() const
{
    if (container_.IsEraseBlockDefined()) {
        return CheckEraseBlocks(container_.GetEraseBlocks());
    }
    int flags[128] = {};
    if (!AllSectors(flags)) {
        return -1;
    }
    return CheckEraseBlocks(flags);
}

int CFlashDevice::CheckEraseBlocks(const int flags[128]) const
{
    const DeviceFlashProperty* property = nullptr;
    if (flags == nullptr || !getDeviceFlashProperty(options_.selecteddevice, property)) {
        last_error_ = "unknown device number " + std::to_string(options_.selecteddevice);
        return -1;
    }
    int status = 0;
    bool checked = false;
    for (int n = 0; n < property->sectorCount && n < 128; ++n) {
        if (flags[n] == 0) {
            continue;
        }
        checked = true;
        status = isp::CurrentFlashLibrary().BlankCheck(property->sectors[n].start, property->sectors[n].end);
        if (status != kBlank) {
            break;
        }
    }
    if (!checked) {
        last_error_ = "no sector to check";
        return -1;
    }
    if (status == kBlank) {
        return 0;
    }
    if (status == kNotBlank) {
        last_error_ = "not blank";
        return -2;
    }
    return Failed(-1);
}

int CFlashDevice::ProgramMemory(FlashProgressCallback callback, void* context)
{
    return isp::CurrentFlashLibrary().ProgramHexFile(hex_path_, callback, context) == kOk ? 0 : Failed(-1);
}

int CFlashDevice::VerifyMemory(FlashProgressCallback callback, void* context) const
{
    return isp::CurrentFlashLibrary().VerifyHexFile(hex_path_, callback, context) == kOk ? 0 : Failed(-1);
}

int CFlashDevice::ReadMemory(int start, int count, std::uint8_t* destination, FlashProgressCallback callback,
                             void* context) const
{
    if (start < 0 || count <= 0 || destination == nullptr) {
        last_error_ = "nothing to read";
        return isp::kFailed;
    }
    const auto first = static_cast<std::uint32_t>(start);
    const int status = isp::CurrentFlashLibrary().ReadMemory(first, first + static_cast<std::uint32_t>(count) - 1,
                                                             destination, callback, context);
    return status == kOk ? 0 : Failed(status);
}

int CFlashDevice::RestartDevice()
{
    const auto path = torvik::platform::DataFile(torvik::platform::ExecutableDirectory(), "restart.hex").string();
    auto& library = isp::CurrentFlashLibrary();
    if (library.ProgramHexFile(path.c_str(), nullptr, nullptr) != kOk) {
        return Failed(-1);
    }
    return library.StartExecution(1, kRestartAddress, 1) == kOk ? 0 : Failed(-1);
}

int CFlashDevice::SetMemBuff()
{
    return CheckMemBuf() ? 0 : -1;
}

bool CFlashDevice::CheckMemBuf() const
{
    if (!block_valid_) {
        const int status = isp::CurrentFlashLibrary().ReadMemory(0, kIdentityBlockSize - 1, block_.data(), nullptr,
                                                                 nullptr);
        block_valid_ = status == kOk;
        if (!block_valid_) {
            Failed(status);
        }
    }
    return block_valid_;
}

void CFlashDevice::ResetMemBuff()
{
    block_valid_ = false;
}

int CFlashDevice::GetProductCode() const
{
    const int p = info_.product_code_start;
    if (!CheckMemBuf() || p < 0 || p + 1 >= static_cast<int>(kIdentityBlockSize)) {
        return -1;
    }
    return block_[static_cast<std::size_t>(p)] * 256 + block_[static_cast<std::size_t>(p) + 1];
}

int CFlashDevice::GetSerialNumber() const
{
    const int s = info_.serial_start;
    if (!CheckMemBuf() || s < 0 || s + 1 >= static_cast<int>(kIdentityBlockSize)) {
        return -1;
    }
    return Bcd(block_[static_cast<std::size_t>(s)]) * 100 + Bcd(block_[static_cast<std::size_t>(s) + 1]);
}

Version CFlashDevice::GetHWVersion() const
{
    const int h = info_.hw_start;
    if (!CheckMemBuf() || h < 0 || h + 1 >= static_cast<int>(kIdentityBlockSize)) {
        return Version(-1, -1);
    }
    return Version(Bcd(block_[static_cast<std::size_t>(h)]), Bcd(block_[static_cast<std::size_t>(h) + 1]));
}

Version CFlashDevice::GetFWVersion() const
{
    const int f = info_.fw_start;
    if (!CheckMemBuf() || f < 0 || f + 1 >= static_cast<int>(kIdentityBlockSize)) {
        return Version(-1, -1);
    }
    return Version(Bcd(block_[static_cast<std::size_t>(f)]), Bcd(block_[static_cast<std::size_t>(f) + 1]));
}

CDeviceInfo CFlashDevice::GetDeviceInfo() const
{
    CDeviceInfo info;
    info.fwVersion = GetFWVersion();
    info.hwVersion = GetHWVersion();
    info.productCode = GetProductCode();
    info.serialNumber = GetSerialNumber();
    return info;
}

bool CFlashDevice::DumpHexTo(const std::wstring& path)
{
    std::string bytes;
    if (hex_path_[0] == '\0' || torvik::platform::ReadWholeFile(hex_path_, bytes)) {
        return true;  // nothing to copy
    }
    if (const auto ec = torvik::platform::WriteFileSafely(torvik::platform::ToPath(path), bytes)) {
        last_error_ = ec.message();
        return false;
    }
    return true;
}

int CFlashDevice::GetSerialPortCount()
{
    try {
        int count = 0;
        for (const auto& port : torvik::platform::ListSerialPorts()) {
            count += port.com_number > 0 && port.com_number <= kHighestComNumber ? 1 : 0;
        }
        return count;
    } catch (const std::exception&) {
        return 0;
    }
}

int CFlashDevice::GetSerialPortInfo(SerialPortInfo* ports, int& count)
{
    const int capacity = count;
    count = 0;
    if (ports == nullptr || capacity <= 0) {
        return -1;
    }
    int known = -1;
    try {
        for (const auto& port : torvik::platform::ListSerialPorts()) {
            if (count >= capacity) {
                break;
            }
            if (port.com_number <= 0 || port.com_number > kHighestComNumber) {
                continue;
            }
            SerialPortInfo& entry = ports[count];
            entry.comPort = port.com_number;
            entry.description = torvik::platform::FromUtf8(port.description);
            if (known < 0 && !entry.description.empty()) {
                known = count;
            }
            ++count;
        }
    } catch (const std::exception&) {
        // the ports found so far stand
    }
    if (known >= 0) {
        return known;
    }
    return count > 0 ? 0 : -1;
}

std::string CFlashDevice::GetLastError() const
{
    return last_error_;
}

void CFlashDevice::GetChipIdentity(std::uint32_t& partId, std::uint32_t& bootMajor, std::uint32_t& bootMinor) const
{
    const auto id = isp::CurrentFlashLibrary().Identity();
    partId = id.part_id;
    bootMajor = id.boot_major;
    bootMinor = id.boot_minor;
}

void CFlashDevice::AllowCodeReadProtection(bool allow)
{
    isp::CurrentFlashLibrary().AllowCodeReadProtection(allow);
}

}  // namespace kq::flashlib
