#include <device/flash_dialog.hpp>

#include <device/download.hpp>
#include <device/temporary_files.hpp>
#include <flashlib/flash_container.hpp>
#include <flashlib/flash_device.hpp>
#include <platform/files.hpp>
#include <platform/text.hpp>
#include <project/prompt.hpp>

#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

namespace torvik::studio {

namespace {

using kq::flashlib::Version;

// What this program run has downloaded: the index (by the address it came from) and the containers.
struct Downloads {
    std::mutex mutex;
    std::string index_address;
    std::filesystem::path index_file;
    bool parsed = false;
    UpdateIndex index;
    std::map<std::string, std::filesystem::path> containers;  // by address
};

Downloads& ProgramDownloads()
{
    static Downloads downloads;
    return downloads;
}

std::string Text(const Version& version)
{
    return platform::ToUtf8(version.GetString());
}

bool ParseVersion(const char* text, Version& version)
{
    return *text != '\0' && version.Parse(platform::FromUtf8(text)) == 0;
}

}  // namespace

UpdateIndexReading ReadUpdateIndex(const std::filesystem::path& file, UpdateIndex& index)
{
    std::string text;
    if (const auto ec = platform::ReadWholeFile(file, text)) {
        index = {};
        UpdateIndexReading reading;
        reading.status = UpdateIndexReading::Status::CannotOpen;
        reading.detail = ec.message();
        return reading;
    }
    return ReadUpdateIndexText(text, index);
}

UpdateIndexReading ReadUpdateIndexText(std::string_view text, UpdateIndex& index)
{
    UpdateIndexReading reading;
    index = {};
    pugi::xml_document document;
    const auto loaded = document.load_buffer(text.data(), text.size());
    if (!loaded) {
        reading.status = loaded.status == pugi::status_out_of_memory ? UpdateIndexReading::Status::CannotOpen
                                                                     : UpdateIndexReading::Status::CannotParse;
        reading.detail = std::string(loaded.description()) + " at offset " + std::to_string(loaded.offset);
        return reading;
    }
    const auto root = document.document_element();
    const auto container = root.attribute("CONTAINER_VER");
    const auto schema = root.attribute("xsi:noNamespaceSchemaLocation");
    const auto xsi = root.attribute("xmlns:xsi");
    if (!root || !container || !schema || !xsi) {
        reading.status = UpdateIndexReading::Status::CannotParse;
        reading.detail = "the root element lacks CONTAINER_VER, xsi:noNamespaceSchemaLocation or xmlns:xsi";
        return reading;
    }
    index.container_ver = container.value();
    index.schema_location = schema.value();
    index.xmlns_xsi = xsi.value();

    char line[1024];
    for (const auto& found : document.select_nodes("//PRODUCT")) {
        const auto node = found.node();
        UpdateProduct product;
        product.code = node.attribute("PRODUCT_CODE").value();
        product.name = node.attribute("PRODUCT_NAME").value();
        bool sound = node.attribute("PRODUCT_CODE") && node.attribute("PRODUCT_NAME");
        for (const auto child : node.children()) {
            sound = sound && child.type() == pugi::node_element && std::string_view(child.name()) == "UPDATE";
        }
        if (!sound) {
            std::snprintf(line, sizeof line, "Product with code %s and name %s can't be parsed.", product.code.c_str(),
                          product.name.c_str());
            reading.problems.emplace_back(line);
            continue;
        }
        for (const auto update : node.children("UPDATE")) {
            CUpdate entry;
            const char* fw = update.attribute("FW_VER").value();
            const char* min = update.attribute("MIN_HW_VER").value();
            const char* max = update.attribute("MAX_HW_VER").value();
            entry.file_name = update.child_value();
            if (!ParseVersion(fw, entry.fw) || !ParseVersion(min, entry.min_hw) || !ParseVersion(max, entry.max_hw) ||
                entry.file_name.empty()) {
                std::snprintf(line, sizeof line,
                              "Product with code %s and name %s has wrong update (fw_ver %s, hw_wer %s to %s).",
                              product.code.c_str(), product.name.c_str(), fw, min, max);
                reading.problems.emplace_back(line);
                continue;
            }
            product.updates.push_back(std::move(entry));
        }
        index.products.push_back(std::move(product));
    }
    if (!reading.problems.empty()) {
        reading.status = UpdateIndexReading::Status::BadEntries;
    }
    return reading;
}

std::optional<CUpdate> ChooseUpdate(const UpdateIndex& index, int productCode, const Version& hw, const Version& fw,
                                    bool& product, bool& fits)
{
    char code[16];
    std::snprintf(code, sizeof code, "%X", static_cast<unsigned>(productCode));
    product = false;
    fits = false;
    const auto found = std::find_if(index.products.begin(), index.products.end(),
                                    [&](const UpdateProduct& p) { return p.code == code; });
    if (found == index.products.end()) {
        return std::nullopt;
    }
    product = true;
    std::optional<CUpdate> best;
    for (const auto& update : found->updates) {
        if (update.min_hw <= hw && hw <= update.max_hw) {
            fits = true;
            if (update.fw > fw && (!best || update.fw > best->fw)) {
                best = update;
            }
        }
    }
    return best;
}

std::string ContainerAddress(const std::string& indexAddress, const std::string& fileName)
{
    const auto slash = indexAddress.rfind('/');
    return (slash == std::string::npos ? std::string() : indexAddress.substr(0, slash + 1)) + fileName;
}

void ForgetDownloadedUpdates()
{
    auto& downloads = ProgramDownloads();
    std::lock_guard lock(downloads.mutex);
    downloads.index_address.clear();
    downloads.index_file.clear();
    downloads.parsed = false;
    downloads.index = {};
    downloads.containers.clear();
}

// ---- the run

CFlashDialog::~CFlashDialog()
{
    Wait();
}

std::filesystem::path CFlashDialog::Fetch(const std::string& address, const char* kind, std::string& reason)
{
    std::error_code error;
    auto file = TemporaryFiles::Program().Create("torvik-download-", "", error);
    if (file.empty()) {
        Error(false, "No temporary file for %s download.", kind);
        Detail(error.message());
        reason = error.message();
        return {};
    }
    Information(false, "Trying to download %s.", kind);
    DownloadOptions options;
    options.ca_file = settings().update_ca_file;
    const auto result = Download(address, file, options);
    if (result.status == DownloadStatus::Ok) {
        return file;
    }
    if (result.status == DownloadStatus::NoConnection) {
        Warning(false, "Can't connect to url %s for downloading %s.", address.c_str(), "FlashFile");
    }
    reason = result.reason;
    return {};
}

bool CFlashDialog::ReportIdentity()
{
    Information(false, "%s", IdentityText().c_str());
    return true;
}

bool CFlashDialog::DownloadIndex()
{
    auto& downloads = ProgramDownloads();
    {
        std::lock_guard lock(downloads.mutex);
        if (!downloads.index_file.empty() && downloads.index_address == settings().update_address) {
            return true;
        }
    }
    std::string reason;
    const auto file = Fetch(settings().update_address, "UpdateFile", reason);
    if (file.empty()) {
        Error(false, "UpdateFile download failed.");
        Detail(reason);
        return false;
    }
    Information(false, "UpdateFile download was successful.");
    std::lock_guard lock(downloads.mutex);
    downloads.index_address = settings().update_address;
    downloads.index_file = file;
    downloads.parsed = false;
    return true;
}

bool CFlashDialog::OpenIndex()
{
    auto& downloads = ProgramDownloads();
    std::lock_guard lock(downloads.mutex);
    if (downloads.parsed) {
        return true;
    }
    Information(false, "Opening UpdateFile.");
    const auto reading = ReadUpdateIndex(downloads.index_file, downloads.index);
    switch (reading.status) {
    case UpdateIndexReading::Status::Ok:
        downloads.parsed = true;
        return true;
    case UpdateIndexReading::Status::CannotOpen:
        Error(false, "The downloaded UpdateFile can't be opened.");
        break;
    case UpdateIndexReading::Status::CannotParse:
        Error(false, "The downloaded UpdateFile can't be parsed.");
        break;
    case UpdateIndexReading::Status::BadEntries:
        for (const auto& problem : reading.problems) {
            Warning(true, "%s", problem.c_str());
        }
        break;
    }
    Detail(reading.detail);
    return false;
}

bool CFlashDialog::Choose()
{
    UpdateIndex index;
    {
        auto& downloads = ProgramDownloads();
        std::lock_guard lock(downloads.mutex);
        index = downloads.index;
    }
    const auto& info = device_info();
    bool product = false;
    bool fits = false;
    update_ = ChooseUpdate(index, info.productCode, info.hwVersion, info.fwVersion, product, fits);
    if (!product) {
        Information(false, "Unknown product code, can't search for updates.");
        return false;
    }
    if (!fits) {
        Information(false, "No update fits the hardware version %s of this device.", Text(info.hwVersion).c_str());
        return false;
    }
    if (!update_) {
        up_to_date_ = true;
        Note("Firmware in your device is up to date.");
        Information(false, "%s", "");
        return false;
    }
    return true;
}

bool CFlashDialog::DownloadContainer()
{
    const std::string address = ContainerAddress(settings().update_address, update_->file_name);
    auto& downloads = ProgramDownloads();
    {
        std::lock_guard lock(downloads.mutex);
        const auto earlier = downloads.containers.find(address);
        std::error_code ec;
        if (earlier != downloads.containers.end() && std::filesystem::exists(earlier->second, ec)) {
            container_file_ = earlier->second;
            return true;
        }
    }
    std::string reason;
    container_file_ = Fetch(address, "FlashFile", reason);
    if (container_file_.empty()) {
        Error(false, "Download FlashFile failed.");
        Detail(reason);
        return false;
    }
    Information(false, "Download FlashFile succeeded.");
    std::lock_guard lock(downloads.mutex);
    downloads.containers[address] = container_file_;
    return true;
}

bool CFlashDialog::OpenDownloadedContainer()
{
    update_container_ = std::make_unique<kq::flashlib::CFlashContainer>(platform::FromUtf8(container_file_.string()));
    Version version;
    if (update_container_->OpenContainer(version) != 1) {
        Error(false, "Can't open FlashFile.");
        Detail(update_container_->GetLoadError());
        return false;
    }
    Information(false, "FlashFile opened.");
    if (version.IsUninicialised() != 0) {
        Error(true, "Invalid structure of FlashFile.");
        return false;
    }
    if (version.GetMajor() != 1) {
        Warning(true, "FlashFile version is %s, but correct is %d.x.", Text(version).c_str(), 1);
        return false;
    }
    if (update_container_->ParseValues() != 0) {
        Error(true, "Can't obtain all necessary FlashFile parameters.");
        return false;
    }
    // A container cut short or damaged on its way must never reach the flash.
    kq::flashlib::FlashHexProblem problem;
    if (!update_container_->CheckFlashElementHex(problem)) {
        const std::string where = problem.line > 0 ? "line " + std::to_string(problem.line) + " of its HEX text: " : "";
        Error(true, "The firmware of the FlashFile is damaged (%s%s).", where.c_str(), problem.reason.c_str());
        return false;
    }
    return true;
}

bool CFlashDialog::CheckAndAsk()
{
    const auto& info = device_info();
    const auto& c = *update_container_;
    const char* code = nullptr;
    if (c.GetHWVerMin().IsUninicialised() != 0 || c.GetHWVerMax().IsUninicialised() != 0 ||
        c.GetFWVer().IsUninicialised() != 0 || c.GetProductCode() == -1) {
        code = "FlashFile_Uninitialized";
    } else if (c.GetHWVerMin() > info.hwVersion || c.GetHWVerMax() < info.hwVersion) {
        code = "FlashFile_IncompatibleHwVersion";
    } else if (info.productCode != c.GetProductCode()) {
        code = "FlashFile_IncompatibleProductCode";
    } else if (c.GetFWVer() <= info.fwVersion) {
        code = "FlashFile_NotUpdatingFwVersion";
    }
    if (code != nullptr) {
        Error(false, "An error occured. Please contact support with error code '%s'. Thanks.", code);
        return false;
    }
    const std::wstring question = L"Update from version: " + info.fwVersion.GetString() + L" to version " +
                                  c.GetFWVer().GetString() +
                                  L" is available.\nWould you like to update to the new version?\n*Note*: Be sure "
                                  L"that your Torvik4 device is switched to Flash mode (rotary switch \"F\" position)!";
    if (!prompt().AskYesNo(question)) {
        Information(false, "The firmware update was not confirmed; the device was left as it was.");
        return false;
    }
    return true;
}

bool CFlashDialog::AdjustHex()
{
    Information(false, "Preparing FlashFile for flashing.");
    const auto& info = device_info();
    auto& hex = update_container_->GetFlashHexFile();
    hex.SetHwVer(info.hwVersion);
    hex.SetSerialNumber(info.serialNumber);
    hex.SetProductCode(info.productCode);
    if (hex.ModifyHEX() != 0) {
        Error(false, "Adjustment of FlashFile failed.");
        return false;
    }
    Information(true, "Adjustment of FlashFile succeeded.");
    if (hex.CreateCRC() != 0) {
        Error(false, "Completion of FlashFile failed.");
        return false;
    }
    Information(true, "Completion of FlashFile succeeded.");
    device()->SetHexFilePath(hex.GetHexFileName());
    return true;
}

bool CFlashDialog::Flash()
{
    Information(false, "Erasing FLASH memory.");
    SetTitle(1, "erasing FLASH memory");
    ActivityStart();
    if (device()->EraseMemory(OnFlashProgress, this) != 0) {
        Error(false, "FLASH memory can't be erased.");
        Detail(device()->GetLastError());
        return false;
    }
    Information(true, "Programming FLASH memory.");
    SetTitle(1, "programming FLASH memory");
    ActivityStart();
    if (device()->ProgramMemory(OnFlashProgress, this) != 0) {
        Error(true,
              "An error when programming FLASH memory occured! The device may be inapplicable!\nPlease contact "
              "support for further information.");
        Detail(device()->GetLastError());
        return false;
    }
    Information(true, "Verifying FLASH memory.");
    SetTitle(1, "verifying FLASH memory");
    ActivityStart();
    if (device()->VerifyMemory(OnFlashProgress, this) != 0) {
        Error(true,
              "Verification of FLASH memory failed. The device may or may not be inapplicable.\nPlease check it and "
              "if necessary, contact support.");
        Detail(device()->GetLastError());
        return false;
    }
    Information(false, "Device firmware was correctly updated to version %s.",
                Text(update_container_->GetFWVer()).c_str());
    SetTitle(3);
    return true;
}

bool CFlashDialog::Run()
{
    const StepList steps = {
        {4, [this] { return ReportIdentity(); }},    {5, [this] { return DownloadIndex(); }},
        {6, [this] { return OpenIndex(); }},         {7, [this] { return Choose(); }},
        {8, [this] { return DownloadContainer(); }}, {9, [this] { return OpenDownloadedContainer(); }},
        {10, [this] { return CheckAndAsk(); }},      {11, [this] { return AdjustHex(); }},
        {12, [this] { return Flash(); }},
    };
    return RunOperation(
        "Device firmware update", steps, [this] { Information(false, "Firmware update succeeded."); },
        "Firmware update failed!");
}

}  // namespace torvik::studio
