#include <device/flash_job.hpp>

#include <flashlib/flash_container.hpp>
#include <flashlib/flash_device.hpp>
#include <platform/isp_flash.hpp>
#include <platform/text.hpp>

#include <algorithm>
#include <cstdio>

namespace torvik::studio {

namespace {

constexpr std::uint32_t kLinkTimeoutMs = 1000;

int OnProgress(int, unsigned long done, unsigned long total, void* context)
{
    auto* job = static_cast<std::pair<const FlashJob::ProgressSink*, const std::string*>*>(context);
    if (job != nullptr && *job->first) {
        (*job->first)({*job->second, done, total});
    }
    return 1;
}

// A device that runs its application is asked into its boot loader over the command protocol; one that
// does not answer there is taken to be in its boot loader already.
void SwitchToProgrammingMode(const std::string& port)
{
    std::unique_ptr<DeviceSession> session;
    try {
        session = std::make_unique<DeviceSession>(port, kLinkTimeoutMs);
    } catch (const DeviceError&) {
        return;
    }
    session->EnterBootLoader();
}

std::string VersionText(const kq::flashlib::Version& version)
{
    return std::to_string(version.GetMajor()) + "." + std::to_string(version.GetMinor());
}

}  // namespace

FlashJob::FlashJob(const std::string& port, ProgressSink progress, const std::filesystem::path& container)
    : port_(port), progress_(std::move(progress))
{
    const auto path = container.empty() ? LocalFlashContainer() : container;
    container_ = std::make_unique<kq::flashlib::CFlashContainer>(platform::FromUtf8(path.string()));
    kq::flashlib::Version format;
    if (container_->OpenContainer(format) < 0) {
        throw FlashJobError("cannot open the flash container '" + path.string() + "': " + container_->GetLoadError());
    }
    container_->ParseValues();
    device_ = std::make_unique<kq::flashlib::CFlashDevice>(*container_);
    device_->SetComPortName(port);
    SwitchToProgrammingMode(port);
    if (device_->ConnectToHW() != 0) {
        restart_ = false;
        throw FlashJobError("cannot connect to the boot loader on " + port + ": " + device_->GetLastError());
    }
}

FlashJob::~FlashJob()
{
    if (device_ && restart_) {
        device_->RestartDevice();
    }
    if (device_) {
        device_->DisconectHW();
    }
}

void FlashJob::Fail(const std::string& what) const
{
    throw FlashJobError(what + ": " + device_->GetLastError());
}

void FlashJob::Step(const char* name)
{
    step_ = name;
    if (progress_) {
        progress_({step_, 0, 0});
    }
}

FlashDeviceFacts FlashJob::Facts()
{
    FlashDeviceFacts facts;
    device_->GetChipIdentity(facts.part_id, facts.boot_major, facts.boot_minor);
    const auto info = device_->GetDeviceInfo();
    if (info.productCode == -1) {
        Fail("cannot read the identity block");
    }
    facts.product_code = info.productCode;
    facts.serial_number = info.serialNumber;
    facts.hardware_version = VersionText(info.hwVersion);
    facts.firmware_version = VersionText(info.fwVersion);
    return facts;
}

std::vector<std::uint8_t> FlashJob::Read(std::uint32_t address, std::uint32_t count)
{
    std::vector<std::uint8_t> bytes(count);
    Step("reading");
    std::pair<const ProgressSink*, const std::string*> context{&progress_, &step_};
    if (count == 0 || device_->ReadMemory(static_cast<int>(address), static_cast<int>(count), bytes.data(),
                                          OnProgress, &context) != 0) {
        Fail("cannot read " + std::to_string(count) + " bytes at " + std::to_string(address));
    }
    return bytes;
}

namespace {

platform::isp::MemoryImage LoadImage(const std::filesystem::path& hexFile)
{
    platform::isp::MemoryImage image;
    if (const auto status = platform::isp::LoadHexImage(hexFile, image); !status.ok()) {
        throw FlashJobError(status.message);
    }
    return image;
}

std::vector<int> SectorsIn(const platform::isp::MemoryImage& image)
{
    std::vector<int> sectors;
    for (int sector = 0; sector < platform::isp::kSectorCount; ++sector) {
        const auto first = image.flash_set.begin() + platform::isp::SectorStart(sector);
        const auto last = image.flash_set.begin() + platform::isp::SectorEnd(sector) + 1;
        if (std::find(first, last, true) != last) {
            sectors.push_back(sector);
        }
    }
    return sectors;
}

}  // namespace

std::vector<int> FlashJob::SectorsOf(const std::filesystem::path& hexFile)
{
    return SectorsIn(LoadImage(hexFile));
}

void FlashJob::Write(const std::filesystem::path& hexFile, bool allowProtection)
{
    // One read of the file gives the sectors to erase and the protection check, both before the erase,
    // so that a refused file costs the device nothing.
    const auto image = LoadImage(hexFile);
    const auto sectors = SectorsIn(image);
    if (const auto crp = platform::isp::ProtectionValue(image); crp != 0 && !allowProtection) {
        char value[16];
        std::snprintf(value, sizeof value, "0x%08X", crp);
        throw FlashJobError("cannot program '" + hexFile.string() + "': it puts " + value +
                            " at the code read protection word 0x2FC, which locks the chip; it is programmed only "
                            "when that is asked for explicitly");
    }
    device_->AllowCodeReadProtection(allowProtection);
    std::pair<const ProgressSink*, const std::string*> context{&progress_, &step_};
    if (!sectors.empty()) {
        int flags[128] = {};
        for (const int sector : sectors) {
            flags[sector] = 1;
        }
        Step("erasing");
        if (device_->EraseBlocks(flags, OnProgress, &context) != 0) {
            Fail("cannot erase the sectors of '" + hexFile.string() + "'");
        }
    }
    device_->SetHexFilePath(platform::FromUtf8(hexFile.string()));
    Step("programming");
    const int programmed = device_->ProgramMemory(OnProgress, &context);
    device_->AllowCodeReadProtection(false);
    if (programmed != 0) {
        Fail("cannot program '" + hexFile.string() + "'");
    }
    Step("verifying");
    if (device_->VerifyMemory(OnProgress, &context) != 0) {
        Fail("'" + hexFile.string() + "' is not what the flash holds");
    }
}

void FlashJob::Erase(int first, int last)
{
    if (first < 0 || last < first || last >= platform::isp::kSectorCount) {
        throw FlashJobError("no sectors " + std::to_string(first) + "-" + std::to_string(last) +
                            " on the device (0 to " + std::to_string(platform::isp::kSectorCount - 1) + ")");
    }
    int flags[128] = {};
    for (int sector = first; sector <= last; ++sector) {
        flags[sector] = 1;
    }
    std::pair<const ProgressSink*, const std::string*> context{&progress_, &step_};
    Step("erasing");
    if (device_->EraseBlocks(flags, OnProgress, &context) != 0) {
        Fail("cannot erase sectors " + std::to_string(first) + "-" + std::to_string(last));
    }
    const int blank = device_->CheckEraseBlocks(flags);
    if (blank == -2) {
        throw FlashJobError("sectors " + std::to_string(first) + "-" + std::to_string(last) +
                            " are not blank after the erase");
    }
    if (blank != 0) {
        Fail("cannot check the erased sectors");
    }
}

void FlashJob::Restart()
{
    restart_ = false;
    if (device_->RestartDevice() != 0) {
        Fail("cannot restart the device");
    }
}

}  // namespace torvik::studio
