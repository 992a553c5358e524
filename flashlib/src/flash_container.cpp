#include <flashlib/flash_container.hpp>

#include "minidom.hpp"
#include "numbers.hpp"

#include <hexsign/ihex.hpp>
#include <platform/install_layout.hpp>
#include <platform/process.hpp>
#include <platform/text.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>

namespace kq::flashlib {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr const char* kFlashElement = "FLASHCONTAINER/FLASHELEMENT";
constexpr const char* kUartOptions = "FLASHCONTAINER/FLASHELEMENT/UART_OPTIONS";
// Values of 127 characters or more do not fit the reader's 256-byte buffer and count as absent.
constexpr std::size_t kMaxValue = 126;
constexpr std::size_t kMaxProductName = 1023;
constexpr std::size_t kMaxOptionName = 126;

std::optional<std::wstring> Attribute(const CminiDOM& dom, const _mDOM_xmlNode* element, const char* name,
                                      std::size_t max_chars = kMaxValue)
{
    std::wstring value;
    if (dom.GetAttribute(element, name, value) == 0 || value.size() > max_chars) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::wstring> Text(const CminiDOM& dom, const _mDOM_xmlNode* element)
{
    std::wstring value;
    if (dom.GetText(element, value) == 0 || value.size() > kMaxValue) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

CFlashContainer::CFlashContainer(const std::wstring& path)
    : path_(path), dom_(std::make_unique<CminiDOM>()), hex_file_(this)
{
}

CFlashContainer::~CFlashContainer() { dom_->FreeDoc(doc_); }

int CFlashContainer::OpenContainer(Version& version)
{
    try {
        dom_->FreeDoc(doc_);
        load_error_.clear();
        doc_ = dom_->LoadFile(torvik::platform::ToUtf8(path_), &load_error_);
        if (doc_ == nullptr) {
            return -1;
        }
        const auto value = Attribute(*dom_, dom_->FindElement(doc_, "FLASHCONTAINER"), "CONTAINER_VER");
        if (!value) {
            return 1;
        }
        return version.Parse(*value) == -1 ? -2 : 1;
    } catch (const std::exception&) {
        doc_ = nullptr;
        return -1;
    }
}

const std::string& CFlashContainer::GetLoadError() const { return load_error_; }

int CFlashContainer::ParseValues()
{
    try {
        return ParseFWVer() + ParseHWVerMax() + ParseHWVerMin() + ParseProductCode() + ParseProductName() +
               ParseEraseBlocks() + ParseAlternativeProducts();
    } catch (const std::exception&) {
        return -1;
    }
}

int CFlashContainer::ParseVersionAttribute(const char* name, Version& into)
{
    const auto* element = dom_->FindPath(doc_, kFlashElement);
    const auto value = element != nullptr ? Attribute(*dom_, element, name) : std::nullopt;
    if (!value) {
        return -1;
    }
    return into.Parse(*value);
}

int CFlashContainer::ParseFWVer() { return ParseVersionAttribute("FW_VER", fw_ver_); }
int CFlashContainer::ParseHWVerMax() { return ParseVersionAttribute("MAX_HW_VER", hw_ver_max_); }
int CFlashContainer::ParseHWVerMin() { return ParseVersionAttribute("MIN_HW_VER", hw_ver_min_); }

int CFlashContainer::ParseProductCode()
{
    const auto value = Attribute(*dom_, dom_->FindPath(doc_, kFlashElement), "PRODUCT_CODE");
    const auto code = value ? detail::ReadHex(*value) : std::nullopt;
    if (!code) {
        return -1;
    }
    product_code_ = static_cast<int>(*code);
    return 0;
}

int CFlashContainer::ParseProductName()
{
    const auto value = Attribute(*dom_, dom_->FindPath(doc_, kFlashElement), "PRODUCT_NAME", kMaxProductName);
    if (!value) {
        return -1;
    }
    product_name_ = *value;
    return 0;
}

int CFlashContainer::ParseEraseBlocks()
{
    std::fill(std::begin(erase_blocks_), std::end(erase_blocks_), 0);
    const auto* blocks = dom_->FindPath(doc_, "FLASHCONTAINER/FLASHELEMENT/ERASE_BLOCKS");
    if (blocks == nullptr) {
        erase_blocks_defined_ = false;
        return 0;
    }
    const auto read_decimal = [&](const char* name) {
        const auto value = Attribute(*dom_, blocks, name);
        const auto number = value ? detail::ReadDecimal(*value) : std::nullopt;
        return number.value_or(-1);
    };
    const int start = read_decimal("START");
    const int end = read_decimal("END");
    int result = 0;
    if (start >= 0 && end >= 0) {
        for (int sector = start; sector <= end && sector < 128; ++sector) {
            erase_blocks_[sector] = 1;
        }
    } else if (start >= 0 || end >= 0) {
        result = -1;
    } else {
        bool seen = false;
        for (const auto* child = dom_->FirstElementChild(blocks); child != nullptr;
             child = dom_->NextElementSibling(child)) {
            if (dom_->NodeName(child) != "BLOCK") {
                continue;
            }
            seen = true;
            const auto text = Text(*dom_, child);
            const auto sector = text ? detail::ReadDecimal(*text) : std::nullopt;
            if (sector && *sector >= 0 && *sector <= 127) {
                erase_blocks_[*sector] = 1;
            }
        }
        result = seen ? 0 : -1;
    }
    const auto code_text = Attribute(*dom_, blocks, "PRODUCT_CODE");
    if (const auto code = code_text ? detail::ReadHex(*code_text) : std::nullopt) {
        product_code_ = static_cast<int>(*code);
        result = 0;
    }
    erase_blocks_defined_ = true;
    return result;
}

int CFlashContainer::ParseAlternativeProducts()
{
    alternative_codes_.clear();
    for (const auto* element = dom_->FindPath(doc_, "FLASHCONTAINER/FLASHELEMENT/ALTERNATIVE_DESTINATIONS/PRODUCT_CODE");
         element != nullptr; element = dom_->NextElementSibling(element)) {
        const auto text = Text(*dom_, element);
        if (const auto code = text ? detail::ReadHex(*text) : std::nullopt) {
            alternative_codes_.push_back(static_cast<int>(*code));
        }
    }
    return 0;
}

const Version& CFlashContainer::GetFWVer() const { return fw_ver_; }
const Version& CFlashContainer::GetHWVerMax() const { return hw_ver_max_; }
const Version& CFlashContainer::GetHWVerMin() const { return hw_ver_min_; }
int CFlashContainer::GetProductCode() const { return product_code_; }
const std::wstring& CFlashContainer::GetProductName() const { return product_name_; }
EraseBlockFlags& CFlashContainer::GetEraseBlocks() { return erase_blocks_; }
const EraseBlockFlags& CFlashContainer::GetEraseBlocks() const { return erase_blocks_; }
bool CFlashContainer::IsEraseBlockDefined() const { return erase_blocks_defined_; }
const std::vector<int>& CFlashContainer::alternative_product_codes() const { return alternative_codes_; }
const std::wstring& CFlashContainer::path() const { return path_; }

bool CFlashContainer::checkHwVer(const Version& version) const
{
    return hw_ver_min_ <= version && version <= hw_ver_max_;
}

bool CFlashContainer::CheckAltDestProductCode(int code) const
{
    return ((code >> 8) & 0xFF) == ((product_code_ >> 8) & 0xFF);
}

int CFlashContainer::GetFlashElementHex(wchar_t* buffer, int size) const
{
    std::wstring text;
    if (dom_->GetText(dom_->FindPath(doc_, "FLASHCONTAINER/FLASHELEMENT/HEX"), text) == 0) {
        if (buffer != nullptr && size > 0) {
            buffer[0] = L'\0';
        }
        return 0;
    }
    if (buffer != nullptr && size > 0) {
        const std::size_t count = std::min(text.size(), static_cast<std::size_t>(size) - 1);
        std::copy_n(text.data(), count, buffer);
        buffer[count] = L'\0';
    }
    return static_cast<int>(2 * (text.size() + 1));
}

bool CFlashContainer::CheckFlashElementHex(FlashHexProblem& problem) const
{
    std::wstring text;
    if (dom_->GetText(dom_->FindPath(doc_, "FLASHCONTAINER/FLASHELEMENT/HEX"), text) == 0) {
        problem = {0, "the container holds no HEX element"};
        return false;
    }
    std::string narrow = torvik::platform::ToUtf8(text);
    if (narrow.empty()) {
        problem = {0, "the HEX element is empty"};
        return false;
    }
    FilePtr in(fmemopen(narrow.data(), narrow.size(), "r"));
    torvik::hexsign::IHexProblem found;
    if (!in) {
        problem = {0, "out of memory"};
        return false;
    }
    if (torvik::hexsign::Check_IHexFile(in.get(), found)) {
        return true;
    }
    problem = {found.line, found.reason};
    return false;
}

int CFlashContainer::ParseVersionInfo(const _mDOM_xmlNode* node, FlashFileInfo& info) const
{
    const auto start_text = Attribute(*dom_, node, "START_BYTE");
    const auto length_text = Attribute(*dom_, node, "LENGTH");
    const auto start = start_text ? detail::ReadHex(*start_text) : std::nullopt;
    const auto length = length_text ? detail::ReadDecimal(*length_text) : std::nullopt;
    // A field without its position or length is stored with length 0, which no patch acts on.
    const auto start_value = static_cast<std::int32_t>(start.value_or(0));
    const std::int32_t length_value = (start && length) ? *length : 0;
    const auto name = dom_->NodeName(node);
    if (name == "FW_VERSION_INFO") {
        info.fw_start = start_value;
        info.fw_length = length_value;
    } else if (name == "HW_VERSION_INFO") {
        info.hw_start = start_value;
        info.hw_length = length_value;
    } else if (name == "PRODUCT_CODE_INFO") {
        info.product_code_start = start_value;
        info.product_code_length = length_value;
    } else if (name == "SERIALNUMBER_INFO") {
        info.serial_start = start_value;
        info.serial_length = length_value;
    } else {
        return -1;
    }
    return 0;
}

int CFlashContainer::GetFlashFileInfo(FlashFileInfo& info) const
{
    const auto* element = dom_->FindPath(doc_, "FLASHCONTAINER/FLASHELEMENT/UART_OPTIONS/DEVICE_VERSION_INFO");
    const auto* child = dom_->FirstElementChild(element);
    if (child == nullptr) {
        return -4;
    }
    int stored = 0;
    for (; child != nullptr; child = dom_->NextElementSibling(child)) {
        if (ParseVersionInfo(child, info) != 0) {
            break;
        }
        ++stored;
    }
    return stored - 4;
}

int CFlashContainer::LoadOptions(fm_connectoptions_com& options) const
{
    const auto yes = [](const std::wstring& text) { return text == L"YES" ? 1 : 0; };
    for (const auto* child = dom_->FirstElementChild(dom_->FindPath(doc_, kUartOptions)); child != nullptr;
         child = dom_->NextElementSibling(child)) {
        const auto name = dom_->NodeName(child);
        if (name.size() > kMaxOptionName) {
            continue;
        }
        const auto text = Text(*dom_, child);
        if (!text || text->empty()) {
            continue;
        }
        const int number = detail::ReadDecimal(*text).value_or(0);
        if (name == "OSC") {
            if (const double osc = detail::ReadDouble(*text); osc != 0.0) {
                options.osc = osc;
            }
        } else if (name == "BAUDRATE") {
            if (number != 0) {
                options.baudrate = number;
            }
        } else if (name == "SELECTEDDEVICE") {
            if (number != 0) {
                options.selecteddevice = number;
            }
        } else if (name == "HIGHSPEED") {
            options.highspeed = yes(*text);
        } else if (name == "CLOCKS") {
            options.clocks = number;
        } else if (name == "HALFDUPLEX") {
            options.halfduplex = yes(*text);
        } else if (name == "HWCONFIG") {
            options.hwconfig = *text == L"HWBOOTEXEC"      ? 1
                               : *text == L"HWBOOTEXECRTS" ? 2
                               : *text == L"HWASSERT"      ? 3
                               : *text == L"HWKEILMCB900"  ? 4
                                                           : 0;
        } else if (name == "HWT1") {
            options.hwt1 = number;
        } else if (name == "HWT2") {
            options.hwt2 = number;
        } else if (name == "MAXBAUDRATE") {
            options.maxbaudrate = number;
        } else if (name == "USINGINTERFACE") {
            options.usinginterface = yes(*text);
        } else if (name == "INTERFACETYPE") {
            options.interfacetype = number;
        } else if (name == "FLASHBANK") {
            options.flashbank = number;
        } else if (name == "PROTOCOLOPTIONS") {
            options.protocoloptions = number;
        } else if (name == "POSTOPENDELAY") {
            options.postopendelay = number;
        }
    }
    return 0;
}

CFlashHexFile& CFlashContainer::GetFlashHexFile() { return hex_file_._init(); }

// ---------------------------------------------------------------------------------------------------------------

CFlashContainer::HexFile::HexFile(CFlashContainer* container)
    : container_(*container), runner_(MakeSystemProcessRunner())
{
}

CFlashContainer::HexFile::~HexFile() = default;

CFlashContainer::HexFile& CFlashContainer::HexFile::_init()
{
    FlashFileInfo info;
    container_.GetFlashFileInfo(info);
    info_ = info;
    return *this;
}

void CFlashContainer::HexFile::set_process_runner(std::shared_ptr<ProcessRunner> runner)
{
    if (runner) {
        runner_ = std::move(runner);
    }
}

namespace {

using torvik::hexsign::IHexRecord;

std::uint8_t Bcd(std::uint8_t x) { return x == 0xFF ? std::uint8_t{0xFF} : static_cast<std::uint8_t>((x / 10) * 16 + x % 10); }

// Writes two bytes at the field (start, length) when the record covers the field's first byte.
void Patch(IHexRecord& record, std::uint32_t upper, std::int32_t start, std::int32_t length, std::uint8_t first,
           std::uint8_t second)
{
    const auto field = static_cast<std::uint32_t>(start);
    if (length != 16 || (field & 0xFFFF0000u) != upper) {
        return;
    }
    const std::uint32_t low = field & 0xFFFFu;
    if (low < record.address || low >= record.address + static_cast<std::uint32_t>(record.dataLen)) {
        return;
    }
    const auto offset = static_cast<int>(low - record.address);
    record.data[offset] = first;
    if (offset + 1 < record.dataLen) {
        record.data[offset + 1] = second;  // a field cut by the record's end loses its second byte
    }
}

}  // namespace

int CFlashContainer::HexFile::ModifyHEX()
{
    try {
        FilePtr scratch(std::tmpfile());
        if (!scratch) {
            return -241;
        }
        const int size = container_.GetFlashElementHex(nullptr, 0);
        std::wstring text;
        if (size > 0) {
            text.resize(static_cast<std::size_t>(size) / 2 + 1);
            container_.GetFlashElementHex(text.data(), static_cast<int>(text.size()));
            text.resize(static_cast<std::size_t>(size) / 2 - 1);
        }
        const std::string narrow = torvik::platform::ToUtf8(text);
        if (std::fwrite(narrow.data(), 1, narrow.size(), scratch.get()) != narrow.size() ||
            std::fflush(scratch.get()) != 0) {
            return -241;
        }
        std::rewind(scratch.get());

        FilePtr out(temp_path_.empty() ? nullptr : std::fopen(torvik::platform::ToPath(temp_path_).c_str(), "w"));
        if (!out) {
            return -242;
        }

        const auto serial = static_cast<std::uint32_t>(serial_number_) & 0xFFFFu;
        const std::uint8_t serial_high = serial == 0xFFFF ? 0xFF : Bcd(static_cast<std::uint8_t>(serial / 100));
        const std::uint8_t serial_low = serial == 0xFFFF ? 0xFF : Bcd(static_cast<std::uint8_t>(serial % 100));
        const auto code_high = static_cast<std::uint8_t>(product_code_ >> 8);
        const auto code_low = static_cast<std::uint8_t>(product_code_);
        const std::uint8_t hw_major = Bcd(static_cast<std::uint8_t>(hw_version_.GetMajor()));
        const std::uint8_t hw_minor = Bcd(static_cast<std::uint8_t>(hw_version_.GetMinor()));

        std::uint32_t upper = 0;  // every run starts at the bottom of the address space
        IHexRecord record;
        int rc = 0;
        while ((rc = torvik::hexsign::Read_IHexRecord(&record, scratch.get())) == 0) {
            if (record.type == 4) {
                upper = (static_cast<std::uint32_t>(record.data[0]) * 256u + record.data[1]) * 65536u;
            } else if (record.type == 0) {
                Patch(record, upper, info_.serial_start, info_.serial_length, serial_high, serial_low);
                Patch(record, upper, info_.product_code_start, info_.product_code_length, code_high, code_low);
                Patch(record, upper, info_.hw_start, info_.hw_length, hw_major, hw_minor);
            }
            if (const int written = torvik::hexsign::Write_IHexRecord(&record, out.get()); written != 0) {
                rc = written;
                break;
            }
        }
        int result = rc == torvik::hexsign::kIHexErrorEof ? 0 : rc;
        if (std::fclose(out.release()) != 0 && result == 0) {
            result = torvik::hexsign::kIHexErrorFile;
        }
        return result;
    } catch (const std::exception&) {
        return torvik::hexsign::kIHexErrorFile;
    }
}

bool CFlashContainer::HexFile::InitExecutableCommand()
{
    if (command_ready_) {
        return true;
    }
    const auto dir = torvik::platform::ExecutableDirectory();
    if (dir.empty() || temp_path_.empty()) {
        return false;
    }
    command_ = {torvik::platform::HelperProgram(dir, "QuenbyFlashUtility").string(), torvik::platform::ToUtf8(temp_path_)};
    command_ready_ = true;
    return command_ready_;
}

int CFlashContainer::HexFile::CreateCRC()
{
    try {
        if (!InitExecutableCommand()) {
            return 65535;
        }
        const auto result = runner_->Run(command_);
        return result.started ? result.exit_status : 65535;
    } catch (const std::exception&) {
        return 65535;
    }
}

}  // namespace kq::flashlib
