#include <device/user_memory.hpp>

#include <device/temporary_files.hpp>
#include <flashlib/flash_device.hpp>
#include <flashlib/flash_hex_file.hpp>
#include <platform/text.hpp>
#include <project/prompt.hpp>

#include <algorithm>

namespace torvik::studio {

namespace {

constexpr std::size_t AlignDown(std::size_t offset)
{
    return offset / kUserBlockAlignment * kUserBlockAlignment;
}

constexpr std::size_t AlignUp(std::size_t offset)
{
    return AlignDown(offset + kUserBlockAlignment - 1);
}

}  // namespace

bool ConvertUserMemoryFormat(bool& eraseNeeded, std::uint8_t* versionWord, int major, int minor)
{
    const bool older = major == -1 || (major == 0 && minor >= -1 && minor <= 2) ||
                       (major == 1 && minor >= -1 && minor <= 1) || (major == 2 && minor == -1);
    if (older) {
        versionWord[0] = 0x02;  // the word 2, little-endian: major 2, minor 0
        versionWord[1] = 0x00;
        eraseNeeded = true;
        return true;
    }
    eraseNeeded = false;
    return major == 2 && minor == 0;
}

UserMemoryPlan PlanUserBlock(const std::vector<std::uint8_t>& image, std::size_t length, bool versionDiffers)
{
    const std::size_t size = std::min(image.size(), kUserMemorySize);
    UserMemoryPlan plan;
    plan.start = kUserMemoryHeaderSize;
    plan.end = kUserMemoryHeaderSize;
    if (versionDiffers) {
        plan.erase = true;
    } else {
        const auto first = std::find_if(image.begin() + kUserMemoryHeaderSize, image.begin() + size,
                                        [](std::uint8_t b) { return b != 0x00; });
        if (first != image.begin() + size) {
            plan.start = static_cast<std::size_t>(first - image.begin());
        }
        std::size_t last = size;
        while (last > kUserMemoryHeaderSize && image[last - 1] == 0xFF) {
            --last;
        }
        if (last > kUserMemoryHeaderSize) {
            if (image[last - 1] != 0x00) {
                plan.corrupted = plan.erase = true;
            } else {
                plan.end = last;
                // The block starts on the next boundary: the alignment counts, so that the block and its
                // terminator never run past the end of the memory.
                if (size - AlignUp(plan.end) <= length + 1) {
                    plan.full = plan.erase = true;
                }
            }
        }
    }
    if (plan.erase) {
        plan.start = 0;
        plan.end = kUserMemoryHeaderSize;
    }
    plan.start = AlignDown(plan.start);
    plan.end = AlignUp(plan.end);
    return plan;
}

std::vector<std::uint8_t> CurrentUserBlock(const std::vector<std::uint8_t>& memory, std::string& problem)
{
    problem.clear();
    if (memory.size() < kUserMemoryHeaderSize) {
        problem = "the USER memory image is shorter than its header";
        return {};
    }
    const auto first = std::find_if(memory.begin() + kUserMemoryHeaderSize, memory.end(),
                                    [](std::uint8_t b) { return b != 0x00; });
    auto last = memory.end();
    while (last > first && *(last - 1) == 0xFF) {
        --last;
    }
    if (first == memory.end() || last == first) {
        return {};  // nothing stored, or only obsolete blocks
    }
    if (*(last - 1) != 0x00) {
        problem = "the last block has no terminator: the USER memory is damaged";
        return {};
    }
    return {first, last - 1};
}

// ---- shared steps

CUserMemoryDialog::~CUserMemoryDialog() = default;

bool CUserMemoryDialog::ReadUserMemory(std::size_t length)
{
    Information(false, "Reading device USER memory.");
    SetTitle(1, "reading device USER memory");
    ActivityStart();
    if (device()->ReadMemory(static_cast<int>(kUserMemoryAddress), static_cast<int>(length), image_.data(),
                             OnFlashProgress, this) != 0) {
        Error(true, "Can't read device USER memory.");
        Detail(device()->GetLastError());
        return false;
    }
    const unsigned char bytes[2] = {image_[0], image_[1]};
    version_ = kq::flashlib::Version(bytes);
    return true;
}

bool CUserMemoryDialog::CheckVersion()
{
    kq::flashlib::Version current;
    if (current.Parse(kUserMemoryFormat) != 0) {
        return false;
    }
    version_differs_ = false;
    if (version_.IsUninicialised() != 0) {
        if (!ConvertUserMemoryFormat(erase_needed_, image_.data(), version_.GetMajor(), version_.GetMinor())) {
            Error(false, "Transformation of the device USER memory to the newest version failed.");
            return false;
        }
        version_differs_ = erase_needed_;
        return true;
    }
    if (version_ > current) {
        prompt().ShowWarning(
            L"The device USER memory version is not supported by this release of Torvik Studio. Please download "
            L"current version of the application.");
        Warning(false, "The device USER memory version %s is not supported by this release of Torvik Studio.",
                platform::ToUtf8(version_.GetString()).c_str());
        return false;
    }
    if (version_ < current) {
        Information(false, "The device USER memory has older version, going to transform it to the newest one.");
        if (!ConvertUserMemoryFormat(erase_needed_, image_.data(), version_.GetMajor(), version_.GetMinor())) {
            Error(true, "Transformation of the device USER memory to the newest version failed.");
            return false;
        }
        version_differs_ = erase_needed_;
    }
    return true;
}

bool CUserMemoryDialog::EraseUserMemory()
{
    Information(false, "Erasing device USER memory.");
    SetTitle(1, "erasing device USER memory");
    ActivityStart();
    int flags[128] = {};
    for (const int sector : kUserMemorySectors) {
        flags[sector] = 1;
    }
    if (device()->EraseBlocks(flags, OnFlashProgress, this) != 0) {
        Error(false, "Can't erase the memory.");
        Detail(device()->GetLastError());
        return false;
    }
    Information(false, "User block erased.");
    return true;
}

bool CUserMemoryDialog::UploadRange(std::size_t offset, std::size_t length)
{
    Information(false, "Uploading user block.");
    SetTitle(1, "programming device USER memory");
    std::error_code error;
    const auto hex = TemporaryFiles::Program().Create("torvik-user-", ".hex", error);
    if (hex.empty()) {
        Error(false, "Can't create tmp hex file name.");
        Detail(error.message());
        return false;
    }
    const auto hexPath = platform::FromUtf8(hex.string());
    if (offset + length > kUserMemorySize || length > 0xFFFF ||
        kq::flashlib::CFlashHexFile::CreateHexFileFromBuffer(static_cast<std::uint32_t>(kUserMemoryAddress + offset),
                                                             static_cast<std::uint16_t>(length),
                                                             image_.data() + offset, hexPath) != 0) {
        Error(false, "Can't use tmp hex file.");
        return false;
    }
    device()->SetHexFilePath(hexPath);
    ActivityStart();
    if (device()->ProgramMemory(OnFlashProgress, this) != 0) {
        Error(false, "Can't program memory block.");
        Detail(device()->GetLastError());
        return false;
    }
    Information(false, "Memory block programmed.");
    return true;
}

bool CUserMemoryDialog::VerifyRange()
{
    Information(false, "Verifying memory block.");
    SetTitle(1, "verifying device USER memory");
    ActivityStart();
    const int verified = device()->VerifyMemory(OnFlashProgress, this);
    SetTitle(3);
    if (verified != 0) {
        // What the memory holds is not what was written: the simulation is not stored, so the run fails.
        Error(false, "Verify error, user memory block was not correctly programmed.");
        Detail(device()->GetLastError());
        return false;
    }
    Information(false, "User memory block programmed successfully.");
    return true;
}

// ---- upload

CUploadDialog::CUploadDialog(const DeviceSettings& settings, DeviceReportSink& sink, Prompt& prompt,
                             std::vector<std::uint8_t> block)
    : CUserMemoryDialog(settings, sink, prompt), block_(std::move(block))
{
}

CUploadDialog::~CUploadDialog()
{
    Wait();
}

bool CUploadDialog::CheckCapacity()
{
    if (block_.size() > kMaxStoredUserBlock) {
        Error(false, "The simulation of %zu bytes does not fit the device USER memory (at most %zu bytes).",
              block_.size(), kMaxStoredUserBlock);
        return false;
    }
    if (version_differs_) {
        Information(false, "The device USER memory has different version, going to erase it.");
    } else {
        Information(false, "Checking a memory capacity.");
    }
    const auto plan = PlanUserBlock(image_, block_.size(), version_differs_);
    if (plan.corrupted) {
        Warning(false, "The device USER memory was corrupted! It will be erased.");
    } else if (plan.full) {
        Information(true, "Not enough free memory, going to erase device USER memory.");
    }
    erase_needed_ = plan.erase;
    start_ = plan.start;
    end_ = plan.end;
    return true;
}

bool CUploadDialog::ModifyImage()
{
    Information(false, "Modifying user block.");
    const std::size_t from = start_ == 0 ? kUserMemoryHeaderSize : start_;
    std::fill(image_.begin() + static_cast<std::ptrdiff_t>(from), image_.begin() + static_cast<std::ptrdiff_t>(end_),
              0x00);
    std::copy(block_.begin(), block_.end(), image_.begin() + static_cast<std::ptrdiff_t>(end_));
    image_[end_ + block_.size()] = 0x00;
    Information(false, "User block modified.");
    return true;
}

bool CUploadDialog::Run()
{
    const StepList steps = {
        {15, [this] { return ReadUserMemory(kUserMemorySize); }},
        {16, [this] { return CheckVersion(); }},
        {17, [this] { return CheckCapacity(); }},
        {18, [this] { return !erase_needed_ || EraseUserMemory(); }},
        {19, [this] { return ModifyImage(); }},
        {20, [this] { return UploadRange(start_, end_ + block_.size() + 1 - start_); }},
        {21, [this] { return VerifyRange(); }},
    };
    return RunOperation(
        "Simulation upload", steps,
        [this] {
            Debug("state %d", 23);
            Information(false, "Configuration successfully uploaded.");
        },
        "Configuration upload failed!");
}

// ---- erase

CEraseDialog::~CEraseDialog()
{
    Wait();
}

bool CEraseDialog::Run()
{
    const StepList steps = {
        {15, [this] { return ReadUserMemory(kUserMemoryHeaderSize); }},
        {16, [this] { return CheckVersion(); }},
        {18, [this] { return EraseUserMemory(); }},
        {20, [this] { return UploadRange(0, kUserMemoryHeaderSize); }},
        {21, [this] { return VerifyRange(); }},
    };
    return RunOperation(
        "Simulation deletion", steps, [this] { Information(false, "Configuration successfully deleted."); },
        "Configuration deletion failed!");
}

// ---- device information

CDeviceInfoDialog::~CDeviceInfoDialog()
{
    Wait();
}

bool CDeviceInfoDialog::Run()
{
    return RunOperation(
        "Device information", {}, [this] { Information(false, "%s", IdentityText().c_str()); },
        "Connection to Torvik4 device failed!");
}

}  // namespace torvik::studio
