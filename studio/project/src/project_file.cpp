// The project file (.tsp): an INI file with the settings of the project, not the databases themselves.
#include <project/ts_project.hpp>

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include <platform/profile.hpp>
#include <platform/text.hpp>

#include "hex_digit.hpp"

namespace torvik::studio {

namespace {

namespace fs = std::filesystem;
using kq::dbclib::Dbc_Attribute;
using kq::dbclib::Dbc_AttributeDef;
using kq::dbclib::Dbc_AttributeSpec;
using kq::dbclib::Dbc_ValueKind;
using platform::ProfileStore;
using platform::TrimBlanks;
using detail::HexDigit;

const std::wstring kSignalType = L"$$SIGNAL_TYPE$$";
const std::wstring kRawValue = L"$$RAW_VALUE$$";
const std::wstring kDynamicControl = L"$$DYNAMIC_CONTROL$$";
const std::wstring kDynamicStart = L"$$DYNAMIC_VALUE_START$$";
const std::wstring kDynamicEnd = L"$$DYNAMIC_VALUE_END$$";
const std::wstring kDynamicMiddle = L"$$DYNAMIC_VALUE_MIDDLE$$";
const std::wstring kMultiplexorValues = L"$$MULTIPLEXOR_VALUES$$";

// Upper-case hexadecimal digits without prefix, read straight from the 64-bit limbs (most significant
// first), since the library's text conversion is slow for the many values of a large project.
std::wstring Hex(const RawNumber& value)
{
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    const auto& backend = value.backend();
    std::wstring out;
    for (std::size_t limb = backend.size(); limb-- > 0;) {
        const std::uint64_t bits = backend.limbs()[limb];
        for (int shift = 60; shift >= 0; shift -= 4) {
            const auto digit = static_cast<std::size_t>((bits >> shift) & 0xF);
            if (digit != 0 || !out.empty()) {
                out.push_back(kDigits[digit]);
            }
        }
    }
    return out.empty() ? L"0" : out;
}

std::wstring Printf(const wchar_t* format, auto... args)
{
    wchar_t text[64];
    const int n = std::swprintf(text, 64, format, args...);
    return n < 0 ? std::wstring() : std::wstring(text, static_cast<std::size_t>(n));
}

// An attribute value as the project file stores it, by the kind of its definition.
std::optional<std::wstring> FormatAttribute(const Dbc_Attribute& attribute)
{
    const auto kind = attribute.definition ? std::optional(attribute.definition->valueKind) : std::nullopt;
    if (const auto* i = dynamic_cast<const Dbc_AttributeSpec<int>*>(&attribute)) {
        if (kind == Dbc_ValueKind::Hex) {
            return Printf(L"%x", static_cast<unsigned>(i->value));
        }
        return Printf(L"%d", i->value);
    }
    if (const auto* f = dynamic_cast<const Dbc_AttributeSpec<float>*>(&attribute)) {
        return Printf(L"%f", static_cast<double>(f->value));
    }
    if (const auto* s = dynamic_cast<const Dbc_AttributeSpec<std::wstring>*>(&attribute)) {
        return s->value;
    }
    return std::nullopt;
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

void SkipSpace(std::wstring_view& text)
{
    while (!text.empty() && std::iswspace(static_cast<wint_t>(text.front())) != 0) {
        text.remove_prefix(1);
    }
}

// "%d"/"%ld": white space, an optional sign, decimal digits; consumes what it read.
std::optional<std::int64_t> ScanDecimal(std::wstring_view& text)
{
    SkipSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == L'-' || text.front() == L'+')) {
        negative = text.front() == L'-';
        text.remove_prefix(1);
    }
    if (text.empty() || !IsDigit(text.front())) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    while (!text.empty() && IsDigit(text.front())) {
        value = (value * 10 + (text.front() - L'0')) & 0xFFFFFFFFLL;
        text.remove_prefix(1);
    }
    return negative ? -value : value;
}

// "%X" into a 512-bit number: white space, an optional "0x", hexadecimal digits; nothing when no digit
// comes or the number does not fit 512 bits.
std::optional<RawNumber> ScanHex(std::wstring_view& text)
{
    SkipSpace(text);
    if (text.size() >= 3 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X') && HexDigit(text[2]) >= 0) {
        text.remove_prefix(2);
    }
    if (text.empty() || HexDigit(text.front()) < 0) {
        return std::nullopt;
    }
    RawNumber value = 0;
    int significant = 0;
    while (!text.empty() && HexDigit(text.front()) >= 0) {
        if (significant > 0 || text.front() != L'0') {
            if (++significant > 128) {
                return std::nullopt;
            }
        }
        value = (value << 4) | RawNumber(HexDigit(text.front()));
        text.remove_prefix(1);
    }
    return value;
}

std::optional<std::int32_t> ReadInt(std::wstring_view text)
{
    const auto v = ScanDecimal(text);
    return v ? std::optional(static_cast<std::int32_t>(static_cast<std::uint32_t>(*v & 0xFFFFFFFF))) : std::nullopt;
}

std::optional<RawNumber> ReadRaw(std::wstring_view text)
{
    return ScanHex(text);
}

// An attribute value read by the kind of its definition; nothing when it does not read.
std::shared_ptr<Dbc_Attribute> ParseAttribute(const std::shared_ptr<Dbc_AttributeDef>& def, const std::wstring& text)
{
    switch (def->valueKind) {
    case Dbc_ValueKind::Int:
    case Dbc_ValueKind::Enum:
        if (const auto v = ReadInt(text)) {
            return std::make_shared<Dbc_AttributeSpec<int>>(def, *v);
        }
        return nullptr;
    case Dbc_ValueKind::Hex: {
        std::wstring_view rest = text;
        const auto v = ScanHex(rest);
        if (!v || *v > 0xFFFFFFFFu) {
            return nullptr;
        }
        return std::make_shared<Dbc_AttributeSpec<int>>(def, static_cast<int>(static_cast<std::uint32_t>(*v)));
    }
    case Dbc_ValueKind::Float: {
        const std::string narrow = platform::ToUtf8(text);
        char* end = nullptr;
        const float v = std::strtof(narrow.c_str(), &end);
        if (end == narrow.c_str()) {
            return nullptr;
        }
        return std::make_shared<Dbc_AttributeSpec<float>>(def, v);
    }
    case Dbc_ValueKind::String:
        return std::make_shared<Dbc_AttributeSpec<std::wstring>>(def, text);
    }
    return nullptr;
}

// A section split into the program's own "$$" keys and attribute overrides (first occurrence wins;
// lines without '=' and unknown or unreadable attributes are skipped). Views point into the lines.
struct SectionValues {
    std::vector<std::pair<std::wstring_view, std::wstring_view>> own;
    AttributeOverrides attributes;

    std::optional<std::wstring_view> Own(std::wstring_view key) const
    {
        for (const auto& [k, v] : own) {
            if (platform::NamesEqual(k, key)) {
                return v;
            }
        }
        return std::nullopt;
    }
};

SectionValues SplitSection(const std::vector<std::wstring_view>& lines, const kq::dbclib::Dbc_DefinitionTable* defs)
{
    SectionValues out;
    for (const auto& line : lines) {
        const auto eq = line.find(L'=');
        if (eq == std::wstring_view::npos) {
            continue;
        }
        const std::wstring_view key = TrimBlanks(line.substr(0, eq));
        const std::wstring_view value = TrimBlanks(line.substr(eq + 1));
        if (key.size() >= 4 && key.starts_with(L"$$") && key.ends_with(L"$$")) {
            out.own.emplace_back(key, value);
            continue;
        }
        std::wstring name(key);
        if (defs == nullptr || out.attributes.count(name) != 0) {
            continue;
        }
        const auto def = defs->find(name);
        if (def == defs->end() || !def->second) {
            continue;
        }
        if (auto attribute = ParseAttribute(def->second, std::wstring(value))) {
            out.attributes.emplace(std::move(name), std::move(attribute));
        }
    }
    return out;
}

bool WriteOverrides(ProfileStore& store, const std::wstring& section, const AttributeOverrides& overrides)
{
    for (const auto& [name, attribute] : overrides) {
        if (!attribute) {
            continue;
        }
        const auto text = FormatAttribute(*attribute);
        if (!text) {
            return false;
        }
        store.WriteString(section, name, *text);
    }
    return true;
}

fs::path AbsolutePath(const fs::path& path)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? path : absolute).lexically_normal();
}

}  // namespace

bool TS_Project::SaveProject(const std::wstring& path)
{
    const std::wstring target = path.empty() ? projectPath_ : path;
    saveError_.clear();
    if (target.empty()) {
        return false;
    }
    const fs::path file_path = platform::ToPath(target);
    platform::IniFile file(file_path);
    std::size_t sections = 2 + databases_.size();
    for (const auto& database : databases_) {
        for (const auto& [id, message] : database->network->messages) {
            sections += message->channelMask != 0 ? 1 + message->signals.size() : 0;
        }
    }
    file.ReserveSections(sections);
    if (!WriteTo(file, AbsolutePath(file_path).parent_path())) {
        return false;
    }
    // "Save as" onto one of the databases would destroy it.
    platform::WriteRules rules;
    for (const auto& database : databases_) {
        rules.inputs.push_back(platform::ToPath(database->path));
    }
    if ((saveError_ = file.Commit(rules))) {
        return false;
    }
    if (!path.empty()) {
        SetProjectPath(path);
    }
    modified_ = false;
    return true;
}

bool TS_Project::WriteTo(ProfileStore& store, const fs::path& folder) const
{
    for (const std::uint32_t channel : {3u, 4u}) {
        const auto it = channelSetups_.find(channel);
        if (it == channelSetups_.end()) {
            return false;
        }
        store.WriteString(L"CAN", L"Setup" + std::to_wstring(channel), std::to_wstring(static_cast<int>(it->second)));
    }
    std::wstring names;
    for (const auto& database : databases_) {
        names += (names.empty() ? L"" : L",") + database->GetName();
    }
    store.WriteString(L"Network", L"Dbc_Names", names);

    for (const auto& database : databases_) {
        const std::wstring& db = database->GetName();
        const fs::path dbc = AbsolutePath(platform::ToPath(database->path));
        store.WriteString(db, L"Absolute_Path", platform::FromUtf8(dbc.string()));
        const std::wstring relative = platform::RelativeStoredPath(folder, dbc);
        if (!relative.empty()) {
            store.WriteString(db, L"Relative_Path", relative);
        }
        std::wstring selected;
        for (const auto& [id, message] : database->network->messages) {
            if (message->channelMask == 0) {
                continue;
            }
            selected += (selected.empty() ? L"" : L",") + Printf(L"%X %d", id, static_cast<int>(message->channelMask));
            const std::wstring messageSection = db + L"\\" + message->name;
            if (!message->multiplex.values.empty()) {
                std::wstring values;
                for (const std::uint32_t v : message->multiplex.values) {
                    values += (values.empty() ? L"" : L" ") + std::to_wstring(v);
                }
                store.WriteString(messageSection, kMultiplexorValues, values);
            }
            if (!WriteOverrides(store, messageSection, message->attributeOverrides)) {
                return false;
            }
            for (const auto& [name, signal] : message->signals) {
                const std::wstring signalSection = messageSection + L"\\" + name;
                if (signal->signalType == kDynamicSignal) {
                    store.WriteString(signalSection, kSignalType, L"1");
                    store.WriteString(signalSection, kRawValue, Hex(signal->rawValue));
                    store.WriteString(signalSection, kDynamicControl, std::to_wstring(signal->dynamicControl));
                    store.WriteString(signalSection, kDynamicStart, Hex(signal->startValue));
                    store.WriteString(signalSection, kDynamicEnd, Hex(signal->endValue));
                    const bool threeState = signal->dynamicControl == 10 || signal->dynamicControl == 13;
                    store.WriteString(signalSection, kDynamicMiddle, threeState ? Hex(signal->middleValue) : L"0");
                } else if (signal->signalType == kConstantSignal) {
                    if (signal->rawValue != signal->initialRawValue) {
                        store.WriteString(signalSection, kSignalType, L"0");
                        store.WriteString(signalSection, kRawValue, Hex(signal->rawValue));
                    }
                } else {
                    return false;
                }
                if (!WriteOverrides(store, signalSection, signal->attributeOverrides)) {
                    return false;
                }
            }
        }
        if (!selected.empty()) {
            store.WriteString(db, L"Selected_messages", selected);
        }
    }
    return true;
}

bool TS_Project::OpenHeader(const std::wstring& path)
{
    modified_ = false;
    std::unique_ptr<platform::IniFile> file;
    openingProblem_.clear();
    if (const auto ec = platform::IniFile::Open(platform::ToPath(path), file)) {
        openingProblem_ = platform::FromUtf8(ec.message());
        return false;
    }
    projectFileSize_ = file->file_size();
    // The databases' relative paths are resolved against the project's folder, wherever the program runs.
    SetProjectPath(platform::FromUtf8(AbsolutePath(platform::ToPath(path)).string()));
    for (const std::uint32_t channel : {3u, 4u}) {
        const int code = file->GetInt(L"CAN", L"Setup" + std::to_wstring(channel), -1);
        if (code != -1) {
            channelSetups_[channel] = static_cast<std::uint32_t>(code);
        }
    }
    sectionNames_.clear();
    const std::wstring names = file->GetString(L"Network", L"Dbc_Names").value_or(L"");
    std::size_t begin = 0;
    while (begin <= names.size()) {
        const auto comma = std::min(names.find(L',', begin), names.size());
        if (comma > begin) {
            sectionNames_.push_back(names.substr(begin, comma - begin));
        }
        begin = comma + 1;
    }
    openFile_ = std::move(file);
    return true;
}

std::unique_ptr<TS_DatabaseFile> TS_Project::ReadDatabaseFor(std::size_t nameIndex, const std::wstring& path) const
{
    if (nameIndex >= sectionNames_.size()) {
        return nullptr;
    }
    auto database = std::make_unique<TS_DatabaseFile>();
    if (database->Load(path) != 0 || database->GetName() != sectionNames_[nameIndex]) {
        return nullptr;
    }
    return database;
}

bool TS_Project::LoadDatabase(std::size_t nameIndex)
{
    openingProblem_.clear();
    if (!openFile_ || nameIndex >= sectionNames_.size()) {
        return false;
    }
    const std::wstring& section = sectionNames_[nameIndex];
    const std::wstring relative = openFile_->GetString(section, L"Relative_Path").value_or(L"");
    const std::wstring absolute = openFile_->GetString(section, L"Absolute_Path").value_or(L"");
    const fs::path folder = platform::ToPath(projectPath_).parent_path();
    if ((relative.empty() && absolute.empty()) || folder.empty()) {
        openingProblem_ = L"the project gives no path for it";
        return false;
    }
    // The relative path first (against the project's folder), then the absolute one, so that a project
    // file moved without its databases still finds them where they were.
    std::vector<fs::path> candidates;
    if (!relative.empty()) {
        candidates.push_back((folder / platform::FromStoredPath(relative)).lexically_normal());
    }
    if (!absolute.empty()) {
        if (platform::IsWindowsDrivePath(absolute)) {
            // "C:\..." names no file on this system; looked up here it would find whatever happens
            // to lie in a folder named "C:".
            openingProblem_ = L"'" + absolute + L"': a Windows drive path, which names no file here";
        } else {
            candidates.push_back((folder / platform::FromStoredPath(absolute)).lexically_normal());
        }
    }
    for (const auto& candidate : candidates) {
        const std::wstring path = platform::FromUtf8(candidate.string());
        auto database = std::make_unique<TS_DatabaseFile>();
        std::wstring reason;
        if (database->Load(path) != 0) {
            reason = platform::FromUtf8(std::generic_category().message(errno));
        } else if (database->GetName() != section) {
            reason = L"it holds database '" + database->GetName() + L"'";
        } else {
            const bool modified = modified_;
            const bool added = AppendDatabase(std::move(database));
            modified_ = modified;
            openingProblem_.clear();
            return added;
        }
        openingProblem_ += (openingProblem_.empty() ? L"'" : L"; '") + path + L"': " + reason;
    }
    return false;
}

bool TS_Project::LoadSelections(std::size_t nameIndex)
{
    if (!openFile_ || nameIndex >= sectionNames_.size()) {
        return false;
    }
    const int index = FindDatabase(sectionNames_[nameIndex]);
    if (index < 0) {
        return false;
    }
    return ApplySelections(openFile_->document(), sectionNames_[nameIndex],
                           *databases_[static_cast<std::size_t>(index)]);
}

bool TS_Project::ApplySelections(const platform::ProfileDocument& store, const std::wstring& section,
                                 TS_DatabaseFile& database)
{
    static const std::vector<std::wstring_view> kNoLines;
    auto linesOf = [&store](const std::wstring& name) -> const std::vector<std::wstring_view>& {
        const auto* found = store.Find(name);
        return found != nullptr ? found->lines : kNoLines;
    };
    const std::wstring selected = store.GetString(section, L"Selected_messages").value_or(L"");
    if (selected.empty()) {
        return true;
    }
    std::size_t begin = 0;
    while (begin <= selected.size()) {
        const auto comma = std::min(selected.find(L',', begin), selected.size());
        std::wstring_view entry = std::wstring_view(selected).substr(begin, comma - begin);
        begin = comma + 1;

        const auto id = ScanHex(entry);
        const auto mask = ScanDecimal(entry);
        if (!id || !mask || *id > 0xFFFFFFFFu || !TrimBlanks(entry).empty()) {
            return false;
        }
        const auto found = database.network->messages.find(static_cast<std::uint32_t>(*id));
        if (found == database.network->messages.end()) {
            return false;
        }
        TS_Message& message = *found->second;
        message.channelMask = static_cast<std::uint8_t>(*mask & 0xFF);

        const std::wstring messageSection = section + L"\\" + message.name;
        const auto& lines = linesOf(messageSection);
        if (!lines.empty()) {
            SectionValues values = SplitSection(lines, message.definitions.get());
            for (auto& [name, attribute] : values.attributes) {
                message.attributeOverrides[name] = std::move(attribute);
            }
            if (const auto list = values.Own(kMultiplexorValues)) {
                std::vector<std::uint32_t> chosen;
                std::wstring_view rest = *list;
                for (SkipSpace(rest); !rest.empty(); SkipSpace(rest)) {
                    const auto v = ScanDecimal(rest);
                    if (!v || (!rest.empty() && std::iswspace(static_cast<wint_t>(rest.front())) == 0)) {
                        return false;
                    }
                    chosen.push_back(static_cast<std::uint32_t>(*v & 0xFFFFFFFF));
                }
                message.multiplex.values = std::move(chosen);
            }
        }
        for (auto& [name, signal] : message.signals) {
            const auto& signalLines = linesOf(messageSection + L"\\" + name);
            if (signalLines.empty()) {
                continue;
            }
            SectionValues values = SplitSection(signalLines, signal->definitions.get());
            for (auto& [attr, attribute] : values.attributes) {
                signal->attributeOverrides[attr] = std::move(attribute);
            }
            const auto type = values.Own(kSignalType);
            if (!type) {
                continue;
            }
            const auto typeValue = ReadInt(*type);
            const auto raw = ReadRaw(values.Own(kRawValue).value_or(L""));
            if (!typeValue || !raw) {
                return false;
            }
            if (*typeValue == 0) {
                signal->signalType = kConstantSignal;
                signal->rawValue = *raw;
                continue;
            }
            if (*typeValue != 1) {
                return false;
            }
            const auto control = ReadInt(values.Own(kDynamicControl).value_or(L""));
            const auto start = ReadRaw(values.Own(kDynamicStart).value_or(L""));
            const auto end = ReadRaw(values.Own(kDynamicEnd).value_or(L""));
            const auto middle = ReadRaw(values.Own(kDynamicMiddle).value_or(L""));
            if (!control || !start || !end || !middle) {
                return false;
            }
            signal->signalType = kDynamicSignal;
            signal->rawValue = *raw;
            signal->dynamicControl = *control;
            signal->startValue = *start;
            signal->endValue = *end;
            signal->middleValue = *middle;
        }
    }
    return true;
}

void TS_Project::EndOpening()
{
    openFile_.reset();
}

}  // namespace torvik::studio
