#include <platform/profile.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <platform/files.hpp>
#include <platform/text.hpp>

namespace torvik::platform {

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

wchar_t FoldChar(wchar_t c)
{
    if (c >= L'A' && c <= L'Z') {
        return static_cast<wchar_t>(c + 32);
    }
    if (c < 0x80) {
        return c;
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        return static_cast<wchar_t>(c + 32);
    }
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

}  // namespace

bool NamesEqual(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && FoldChar(a[i]) != FoldChar(b[i])) {
            return false;
        }
    }
    return true;
}

namespace {

// The key of a `key=value` line, or nothing for a line without '='.
std::optional<std::wstring_view> KeyOf(std::wstring_view line)
{
    const auto eq = line.find(L'=');
    if (eq == std::wstring_view::npos) {
        return std::nullopt;
    }
    return TrimBlanks(line.substr(0, eq));
}

}  // namespace

std::wstring_view TrimBlanks(std::wstring_view text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::size_t ProfileDocument::FoldedHash::operator()(std::wstring_view name) const noexcept
{
    // FNV-1a over the folded characters.
    std::size_t hash = 14695981039346656037ull;
    for (const wchar_t c : name) {
        hash = (hash ^ static_cast<std::size_t>(FoldChar(c))) * 1099511628211ull;
    }
    return hash;
}

bool ProfileDocument::FoldedEqual::operator()(std::wstring_view a, std::wstring_view b) const noexcept
{
    return NamesEqual(a, b);
}

std::wstring FoldName(std::wstring_view name)
{
    std::wstring out(name);
    for (wchar_t& c : out) {
        c = FoldChar(c);
    }
    return out;
}

std::wstring DecodeProfileText(std::string_view bytes)
{
    std::wstring out;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        out.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto unit = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
                const auto low = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 2]) |
                                                            (static_cast<unsigned char>(bytes[i + 3]) << 8));
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
                    i += 2;
                    continue;
                }
            }
            out.push_back(unit >= 0xD800 && unit <= 0xDFFF ? L'\xFFFD' : static_cast<wchar_t>(unit));
        }
        return out;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        return FromUtf8(bytes.substr(3));
    }
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out.push_back(FromWindows1252(b));
    }
    return out;
}

std::string EncodeProfileText(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const wchar_t wc : text) {
        char b = 0;
        if (!ToWindows1252(wc, b)) {
            out.clear();
            break;
        }
        out.push_back(b);
    }
    if (out.size() == text.size()) {
        return out;
    }
    out = "\xFF\xFE";
    for (const wchar_t wc : text) {
        auto cp = static_cast<std::uint32_t>(wc);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            cp = 0xFFFD;
        }
        auto push = [&out](std::uint32_t unit) {
            out.push_back(static_cast<char>(unit & 0xFF));
            out.push_back(static_cast<char>(unit >> 8));
        };
        if (cp >= 0x10000) {
            push(0xD800 + ((cp - 0x10000) >> 10));
            push(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            push(cp);
        }
    }
    return out;
}

int ProfileStore::GetInt(std::wstring_view section, std::wstring_view key, int defaultValue) const
{
    const auto text = GetString(section, key);
    if (!text) {
        return defaultValue;
    }
    std::wstring_view rest = *text;
    bool negative = false;
    if (!rest.empty() && (rest.front() == L'-' || rest.front() == L'+')) {
        negative = rest.front() == L'-';
        rest.remove_prefix(1);
    }
    std::uint32_t value = 0;
    while (!rest.empty() && rest.front() >= L'0' && rest.front() <= L'9') {
        value = value * 10u + static_cast<std::uint32_t>(rest.front() - L'0');
        rest.remove_prefix(1);
    }
    // Wraps like the 32-bit conversion of the profile functions.
    return static_cast<int>(negative ? 0u - value : value);
}

ProfileDocument ProfileDocument::Parse(std::wstring_view source)
{
    ProfileDocument doc;
    doc.text_.assign(source.begin(), source.end());
    std::wstring_view text(doc.text_.data(), doc.text_.size());
    Section* current = nullptr;
    while (!text.empty()) {
        std::size_t end = 0;
        while (end < text.size() && text[end] != L'\r' && text[end] != L'\n') {
            ++end;
        }
        if (end == text.size()) {
            end = std::wstring_view::npos;
        }
        std::wstring_view line = text.substr(0, end);
        if (end == std::wstring_view::npos) {
            text = {};
        } else {
            const bool crlf = text[end] == L'\r' && end + 1 < text.size() && text[end + 1] == L'\n';
            text.remove_prefix(end + (crlf ? 2 : 1));
        }
        line = TrimBlanks(line);
        if (line.empty()) {
            continue;
        }
        if (line.front() == L'[') {
            const auto close = line.find(L']');
            const std::wstring_view name =
                TrimBlanks(line.substr(1, close == std::wstring_view::npos ? std::wstring_view::npos : close - 1));
            doc.sections_.push_back(Section{name, {}});
            doc.index_.try_emplace(name, doc.sections_.size() - 1);
            current = &doc.sections_.back();
            continue;
        }
        if (current != nullptr) {
            current->lines.emplace_back(line);
        }
    }
    return doc;
}

const ProfileDocument::Section* ProfileDocument::Find(std::wstring_view section) const
{
    const auto it = index_.find(TrimBlanks(section));
    return it == index_.end() ? nullptr : &sections_[it->second];
}

std::optional<std::wstring> ProfileDocument::GetString(std::wstring_view section, std::wstring_view key) const
{
    const Section* found = Find(section);
    if (found == nullptr) {
        return std::nullopt;
    }
    key = TrimBlanks(key);
    for (const auto& line : found->lines) {
        const auto k = KeyOf(line);
        if (k && NamesEqual(*k, key)) {
            std::wstring_view value = TrimBlanks(std::wstring_view(line).substr(line.find(L'=') + 1));
            if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
                value = value.substr(1, value.size() - 2);
            }
            return std::wstring(value);
        }
    }
    return std::nullopt;
}

void ProfileDocument::ReserveSections(std::size_t count)
{
    sections_.reserve(count);
    index_.reserve(count);
}

std::wstring_view ProfileDocument::Keep(std::wstring text)
{
    written_.push_back(std::move(text));
    return written_.back();
}

ProfileDocument::Section& ProfileDocument::FindOrAdd(std::wstring_view section)
{
    section = TrimBlanks(section);
    // Writers put several keys into one section in a row; the section they wrote last is checked first.
    if (last_ < sections_.size() && sections_[last_].name == section) {
        return sections_[last_];
    }
    // The name is kept first so that the index holds a view of the document's own copy; a section that
    // already exists gives the copy back.
    const std::wstring_view name = Keep(std::wstring(section));
    const auto [it, added] = index_.try_emplace(name, sections_.size());
    if (added) {
        sections_.push_back(Section{name, {}});
    } else {
        written_.pop_back();
    }
    last_ = it->second;
    return sections_[it->second];
}

void ProfileDocument::WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value)
{
    Section& target = FindOrAdd(section);
    key = TrimBlanks(key);
    for (auto& existing : target.lines) {
        const auto k = KeyOf(existing);
        if (k && NamesEqual(*k, key)) {
            // The key keeps the spelling it has in the file.
            existing = Keep(std::wstring(*k).append(L"=").append(value));
            return;
        }
    }
    std::wstring line;
    line.reserve(key.size() + 1 + value.size());
    line.append(key).append(L"=").append(value);
    target.lines.push_back(Keep(std::move(line)));
}

std::size_t ProfileDocument::TextSize() const
{
    std::size_t size = 0;
    for (const auto& s : sections_) {
        size += s.name.size() + 4;
        for (const auto& l : s.lines) {
            size += l.size() + 2;
        }
    }
    return size;
}

std::wstring ProfileDocument::Serialize() const
{
    std::wstring out;
    out.reserve(TextSize());
    for (const auto& s : sections_) {
        out.append(L"[").append(s.name).append(L"]\r\n");
        for (const auto& l : s.lines) {
            out.append(l).append(L"\r\n");
        }
    }
    return out;
}

std::string ProfileDocument::Encode() const
{
    // Straight to Windows-1252; only a document that needs more takes the way through wide text.
    std::string out;
    out.reserve(TextSize());
    auto append = [&out](std::wstring_view text) {
        for (const wchar_t wc : text) {
            char b = 0;
            if (!ToWindows1252(wc, b)) {
                return false;
            }
            out.push_back(b);
        }
        return true;
    };
    for (const auto& s : sections_) {
        out.push_back('[');
        if (!append(s.name)) {
            return EncodeProfileText(Serialize());
        }
        out.append("]\r\n");
        for (const auto& l : s.lines) {
            if (!append(l)) {
                return EncodeProfileText(Serialize());
            }
            out.append("\r\n");
        }
    }
    return out;
}

IniFile::IniFile(std::filesystem::path path) : path_(std::move(path)) {}

std::error_code IniFile::Open(const std::filesystem::path& path, std::unique_ptr<IniFile>& out)
{
    std::string bytes;
    if (auto ec = ReadWholeFile(path, bytes)) {
        return ec;
    }
    auto file = std::make_unique<IniFile>(path);
    file->document_ = ProfileDocument::Parse(DecodeProfileText(bytes));
    file->file_size_ = bytes.size();
    out = std::move(file);
    return {};
}

std::optional<std::wstring> DocumentStore::GetString(std::wstring_view section, std::wstring_view key) const
{
    return document_.GetString(section, key);
}

std::vector<std::wstring> DocumentStore::GetSection(std::wstring_view section) const
{
    const auto* found = document_.Find(section);
    return found == nullptr ? std::vector<std::wstring>{} : std::vector<std::wstring>(found->lines.begin(), found->lines.end());
}

void DocumentStore::WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value)
{
    document_.WriteString(section, key, value);
}

std::error_code IniFile::Commit()
{
    return Commit(WriteRules{});
}

std::error_code IniFile::Commit(const WriteRules& rules)
{
    return WriteFileSafely(path_, document_.Encode(), rules);
}

std::filesystem::path FromStoredPath(std::wstring_view stored)
{
    std::wstring text(stored);
    for (wchar_t& c : text) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return ToPath(text);
}

bool IsWindowsDrivePath(std::wstring_view stored)
{
    const std::wstring_view path = TrimBlanks(stored);
    return path.size() >= 2 && path[1] == L':' && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

std::wstring RelativeStoredPath(const std::filesystem::path& folder, const std::filesystem::path& file)
{
    if (folder.empty() || file.empty() || folder.is_absolute() != file.is_absolute()) {
        return {};
    }
    const auto rel = file.lexically_normal().lexically_relative(folder.lexically_normal());
    if (rel.empty()) {
        return {};
    }
    std::wstring text = FromUtf8(rel.generic_string());
    for (wchar_t& c : text) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (text.rfind(L"..", 0) != 0) {
        text.insert(0, L".\\");
    }
    return text;
}

}  // namespace torvik::platform
