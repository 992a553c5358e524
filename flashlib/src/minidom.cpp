#include "minidom.hpp"

#include <platform/files.hpp>
#include <platform/text.hpp>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

namespace kq::flashlib {

namespace {

// ISO-8859-2 bytes 0xA0..0xFF as code points (below 0xA0 the bytes equal their code points).
constexpr char16_t kLatin2High[96] = {
    0x00A0, 0x0104, 0x02D8, 0x0141, 0x00A4, 0x013D, 0x015A, 0x00A7,
    0x00A8, 0x0160, 0x015E, 0x0164, 0x0179, 0x00AD, 0x017D, 0x017B,
    0x00B0, 0x0105, 0x02DB, 0x0142, 0x00B4, 0x013E, 0x015B, 0x02C7,
    0x00B8, 0x0161, 0x015F, 0x0165, 0x017A, 0x02DD, 0x017E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

constexpr std::size_t kMaxPathComponent = 999;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

void AppendUtf8(std::string& out, unsigned cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string Decode(std::string_view bytes, MDomEncoding encoding)
{
    if (encoding == MDomEncoding::Utf8) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0xA0 || encoding == MDomEncoding::Latin1) {
            AppendUtf8(out, b);
        } else {
            AppendUtf8(out, kLatin2High[b - 0xA0]);
        }
    }
    return out;
}

// The five predefined references and &copy;; every other reference stays as written.
std::string ReplaceEntities(std::string text)
{
    if (text.find('&') == std::string::npos) {
        return text;
    }
    static constexpr std::pair<std::string_view, std::string_view> kEntities[] = {
        {"&amp;", "&"}, {"&apos;", "'"}, {"&quot;", "\""}, {"&gt;", ">"}, {"&lt;", "<"}, {"&copy;", "\xC2\xA9"},
    };
    std::string out;
    out.reserve(text.size());
    const std::string_view in(text);
    for (std::size_t i = 0; i < in.size();) {
        bool replaced = false;
        if (in[i] == '&') {
            for (const auto& [entity, replacement] : kEntities) {
                if (in.substr(i, entity.size()) == entity) {
                    out.append(replacement);
                    i += entity.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            out.push_back(in[i++]);
        }
    }
    return out;
}

struct RawAttribute {
    std::string_view name;
    std::optional<std::string_view> value;
};

// Attributes of a tag's remainder: name, optional blanks, '=', quoted value ending at the next quote
// of either kind. Returns false for a value without its closing quote.
bool ParseAttributes(std::string_view s, std::vector<RawAttribute>& out)
{
    std::size_t i = 0;
    for (;;) {
        while (i < s.size() && IsBlank(s[i])) {
            ++i;
        }
        if (i >= s.size()) {
            return true;
        }
        const std::size_t name_start = i;
        while (i < s.size() && !IsBlank(s[i]) && s[i] != '=') {
            ++i;
        }
        RawAttribute attribute{s.substr(name_start, i - name_start), std::nullopt};
        while (i < s.size() && IsBlank(s[i])) {
            ++i;
        }
        if (i < s.size() && s[i] == '=') {
            ++i;
            while (i < s.size() && IsBlank(s[i])) {
                ++i;
            }
            if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
                const std::size_t value_start = ++i;
                while (i < s.size() && s[i] != '"' && s[i] != '\'') {
                    ++i;
                }
                if (i >= s.size()) {
                    return false;
                }
                attribute.value = s.substr(value_start, i - value_start);
                ++i;
            } else {
                const std::size_t value_start = i;
                while (i < s.size() && !IsBlank(s[i])) {
                    ++i;
                }
                attribute.value = s.substr(value_start, i - value_start);
            }
        }
        out.push_back(attribute);
    }
}

bool IsValid(const _mDOM_xmlNode* node) { return node != nullptr && node->marker == kMDomMarker; }

class Loader {
public:
    Loader(std::string_view data, _mDOM_xmlDoc* doc) : data_(data), doc_(doc) {}

    bool Run()
    {
        std::size_t pos = 0;
        if (data_.substr(0, 3) == "\xEF\xBB\xBF") {
            pos = 3;
        }
        if (!DetectEncoding(pos)) {
            return false;
        }
        while (pos < data_.size()) {
            const std::size_t skip_start = pos;
            while (pos < data_.size() && IsBlank(data_[pos])) {
                ++pos;
            }
            if (pos >= data_.size()) {
                break;
            }
            if (data_[pos] != '<') {
                // Text keeps the blanks and line breaks around it.
                std::size_t end = data_.find('<', pos);
                if (end == std::string_view::npos) {
                    end = data_.size();
                }
                SetText(data_.substr(skip_start, end - skip_start));
                pos = end;
                continue;
            }
            if (!Markup(pos)) {
                return false;
            }
        }
        // A document cut short (a download that ended early) leaves its elements open.
        if (open_ != nullptr) {
            return Fail(data_.size(), "element <" + open_->name + "> is not closed");
        }
        return true;
    }

    /// Where and why the document did not load: "line 3, column 7: unterminated comment".
    const std::string& error() const { return error_; }

private:
    bool Fail(std::size_t at, const std::string& why)
    {
        std::size_t line = 1;
        std::size_t line_start = 0;
        for (std::size_t i = 0; i < at && i < data_.size(); ++i) {
            if (data_[i] == '\n') {
                ++line;
                line_start = i + 1;
            }
        }
        error_ = "line " + std::to_string(line) + ", column " + std::to_string(at - line_start + 1) + ": " + why;
        return false;
    }

private:
    bool DetectEncoding(std::size_t pos)
    {
        while (pos < data_.size() && IsBlank(data_[pos])) {
            ++pos;
        }
        if (data_.substr(pos, 2) != "<?") {
            doc_->encoding = MDomEncoding::Latin2;
            return true;
        }
        doc_->encoding = MDomEncoding::Utf8;
        const std::size_t end = data_.find("?>", pos + 2);
        if (end == std::string_view::npos) {
            return true;  // reported by the tokenizer
        }
        const auto body = data_.substr(pos + 2, end - pos - 2);
        std::size_t name_end = 0;
        while (name_end < body.size() && !IsBlank(body[name_end])) {
            ++name_end;
        }
        if (!EqualsNoCase(body.substr(0, name_end), "xml")) {
            return true;
        }
        std::vector<RawAttribute> attributes;
        ParseAttributes(body.substr(name_end), attributes);
        for (const auto& a : attributes) {
            if (!a.value) {
                continue;
            }
            if (EqualsNoCase(a.name, "version")) {
                doc_->version = std::string(*a.value);
            } else if (EqualsNoCase(a.name, "encoding")) {
                if (EqualsNoCase(*a.value, "UTF-8")) {
                    doc_->encoding = MDomEncoding::Utf8;
                } else if (EqualsNoCase(*a.value, "ISO-8859-1")) {
                    doc_->encoding = MDomEncoding::Latin1;
                } else if (EqualsNoCase(*a.value, "ISO-8859-2")) {
                    doc_->encoding = MDomEncoding::Latin2;
                } else {
                    return Fail(pos, "unknown encoding");  // names and texts could not be read
                }
            }
        }
        return true;
    }

    bool Markup(std::size_t& pos)
    {
        const auto rest = data_.substr(pos);
        if (rest.substr(0, 2) == "<<") {
            return Fail(pos, "'<<' where markup starts");
        }
        if (rest.substr(0, 4) == "<!--") {
            return Delimited(pos, 4, "-->", kMDomComment, "comment");
        }
        if (rest.substr(0, 9) == "<![CDATA[") {
            return Delimited(pos, 9, "]]>", kMDomCData, "cdata");
        }
        if (rest.substr(0, 2) == "<?") {
            return ProcessingInstruction(pos);
        }
        if (rest.substr(0, 2) == "<!") {
            return Declaration(pos);
        }
        if (rest.substr(0, 2) == "</") {
            const std::size_t end = data_.find('>', pos);
            if (end == std::string_view::npos) {
                return Fail(pos, "end tag without '>'");
            }
            if (open_ != nullptr) {
                open_ = open_->parent;  // names are not compared
            }
            pos = end + 1;
            return true;
        }
        return Tag(pos);
    }

    bool Delimited(std::size_t& pos, std::size_t open_length, std::string_view close, int type, const char* name)
    {
        const std::size_t end = data_.find(close, pos + open_length);
        if (end == std::string_view::npos) {
            return Fail(pos, std::string("unterminated ") + name);
        }
        auto* node = NewNode(type, name);
        node->value = Decode(data_.substr(pos + open_length, end - pos - open_length), doc_->encoding);
        node->has_value = true;
        AppendChild(open_, node);
        pos = end + close.size();
        return true;
    }

    bool ProcessingInstruction(std::size_t& pos)
    {
        const std::size_t end = data_.find("?>", pos + 2);
        if (end == std::string_view::npos) {
            return Fail(pos, "unterminated processing instruction");
        }
        const auto body = data_.substr(pos + 2, end - pos - 2);
        std::size_t name_end = 0;
        while (name_end < body.size() && !IsBlank(body[name_end])) {
            ++name_end;
        }
        auto* node = NewNode(kMDomProcessingInstruction, Decode(body.substr(0, name_end), doc_->encoding));
        node->value = Decode(Trim(body.substr(name_end)), doc_->encoding);
        node->has_value = true;
        AppendChild(open_, node);
        pos = end + 2;
        return true;
    }

    static std::string_view Keyword(std::string_view s)
    {
        std::size_t n = 0;
        while (n < s.size() && !IsBlank(s[n]) && s[n] != '>' && s[n] != '[') {
            ++n;
        }
        return s.substr(0, n);
    }

    bool Declaration(std::size_t& pos)
    {
        const auto keyword = Keyword(data_.substr(pos + 2));
        if (keyword == "ELEMENT" || keyword == "ATTLIST" || keyword == "ENTITY" || keyword == "ENTITIES" ||
            keyword == "NAMESPACE") {
            const std::size_t end = data_.find('>', pos);
            if (end == std::string_view::npos) {
                return Fail(pos, "unterminated declaration");
            }
            pos = end + 1;
            return true;
        }
        // Brackets of an internal subset may enclose '>' characters.
        int depth = 0;
        std::size_t end = pos + 2;
        for (; end < data_.size(); ++end) {
            const char c = data_[end];
            if (c == '[') {
                ++depth;
            } else if (c == ']' && depth > 0) {
                --depth;
            } else if (c == '>' && depth == 0) {
                break;
            }
        }
        if (end >= data_.size()) {
            return Fail(pos, "unterminated declaration");
        }
        const auto body = data_.substr(pos + 2 + keyword.size(), end - pos - 2 - keyword.size());
        auto* node = NewNode(kMDomDeclaration, Decode(keyword, doc_->encoding));
        const std::size_t subset_start = body.find('[');
        node->value = Decode(Trim(body.substr(0, subset_start)), doc_->encoding);
        node->has_value = true;
        AppendChild(open_, node);
        if (subset_start != std::string_view::npos) {
            const std::size_t subset_end = body.rfind(']');
            const auto subset = body.substr(subset_start + 1, subset_end == std::string_view::npos || subset_end < subset_start
                                                                   ? std::string_view::npos
                                                                   : subset_end - subset_start - 1);
            SubsetEntries(node, subset);
        }
        pos = end + 1;
        return true;
    }

    void SubsetEntries(_mDOM_xmlNode* declaration, std::string_view subset)
    {
        static constexpr std::pair<std::string_view, std::pair<int, const char*>> kKinds[] = {
            {"ELEMENT", {kMDomElementDecl, "element"}},
            {"ATTLIST", {kMDomAttlistDecl, "attlist"}},
            {"ENTITY", {kMDomEntity, "entity"}},
            {"ENTITIES", {kMDomEntities, "entities"}},
        };
        std::size_t at = 0;
        while ((at = subset.find("<!", at)) != std::string_view::npos) {
            const auto keyword = Keyword(subset.substr(at + 2));
            std::size_t end = subset.find('>', at);
            if (end == std::string_view::npos) {
                end = subset.size();
            }
            for (const auto& [word, kind] : kKinds) {
                if (keyword == word) {
                    auto* entry = NewNode(kind.first, kind.second);
                    const std::size_t text_start = at + 2 + keyword.size();
                    entry->value = Decode(Trim(subset.substr(text_start, end - text_start)), doc_->encoding);
                    entry->has_value = true;
                    AppendChild(declaration, entry);
                }
            }
            at = end;
        }
    }

    bool Tag(std::size_t& pos)
    {
        // The first '>' ends the tag, also inside a quoted value.
        const std::size_t end = data_.find('>', pos + 1);
        if (end == std::string_view::npos) {
            return Fail(pos, "tag without '>'");
        }
        auto content = data_.substr(pos + 1, end - pos - 1);
        const bool empty = !content.empty() && content.back() == '/';
        if (empty) {
            content.remove_suffix(1);
        }
        // The name ends only at a blank or tab, so a line break right after it becomes part of it.
        std::size_t i = 0;
        while (i < content.size() && (content[i] == ' ' || content[i] == '\t')) {
            ++i;
        }
        const std::size_t name_start = i;
        while (i < content.size() && content[i] != ' ' && content[i] != '\t') {
            ++i;
        }
        std::vector<RawAttribute> attributes;
        if (!ParseAttributes(content.substr(i), attributes)) {
            return Fail(pos, "unterminated quoted value");
        }
        auto* element = NewNode(kMDomElement, Decode(content.substr(name_start, i - name_start), doc_->encoding));
        for (const auto& a : attributes) {
            auto* attribute = NewNode(kMDomAttribute, Decode(a.name, doc_->encoding));
            attribute->parent = element;
            if (a.value) {
                attribute->value = ReplaceEntities(Decode(*a.value, doc_->encoding));
                attribute->has_value = true;
            }
            if (element->last_attribute == nullptr) {
                element->first_attribute = attribute;
            } else {
                element->last_attribute->next = attribute;
                attribute->prev = element->last_attribute;
            }
            element->last_attribute = attribute;
        }
        AppendChild(open_, element);
        if (!empty) {
            open_ = element;
        }
        pos = end + 1;
        return true;
    }

    void SetText(std::string_view raw)
    {
        if (open_ == nullptr) {
            return;  // text outside any element is dropped
        }
        _mDOM_xmlNode* text = nullptr;
        for (auto* child = open_->first_child; child != nullptr; child = child->next) {
            if (child->type == kMDomText) {
                text = child;
                break;
            }
        }
        if (text == nullptr) {
            text = NewNode(kMDomText, "text");
            AppendChild(open_, text);
        }
        // A later run of text replaces the earlier one.
        text->value = ReplaceEntities(Decode(raw, doc_->encoding));
        text->has_value = true;
    }

    _mDOM_xmlNode* NewNode(int type, std::string name)
    {
        auto node = std::make_unique<_mDOM_xmlNode>();
        node->type = type;
        node->name = std::move(name);
        node->doc = doc_;
        doc_->nodes.push_back(std::move(node));
        return doc_->nodes.back().get();
    }

    void AppendChild(_mDOM_xmlNode* parent, _mDOM_xmlNode* child)
    {
        child->parent = parent;
        _mDOM_xmlNode*& first = parent != nullptr ? parent->first_child : doc_->first;
        _mDOM_xmlNode*& last = parent != nullptr ? parent->last_child : doc_->last;
        if (last == nullptr) {
            first = child;
        } else {
            last->next = child;
            child->prev = last;
        }
        last = child;
    }

    std::string_view data_;
    _mDOM_xmlDoc* doc_;
    _mDOM_xmlNode* open_ = nullptr;  // innermost open element
    std::string error_;
};

const _mDOM_xmlNode* FindAmongSiblings(const _mDOM_xmlNode* first, std::string_view name)
{
    for (auto* node = first; IsValid(node); node = node->next) {
        if (node->type == kMDomElement && node->name == name) {
            return node;
        }
    }
    return nullptr;
}

}  // namespace

_mDOM_xmlDoc* CminiDOM::LoadFile(const std::string& path, std::string* error) const
{
    std::string bytes;
    if (const auto ec = torvik::platform::ReadWholeFile(std::filesystem::path(path), bytes)) {
        if (error != nullptr) {
            *error = ec.message();
        }
        return nullptr;
    }
    return LoadMemory(bytes.data(), bytes.size(), error);
}

_mDOM_xmlDoc* CminiDOM::LoadMemory(const char* data, std::size_t size, std::string* error) const
{
    if (data == nullptr || size == 0) {
        if (error != nullptr) {
            *error = "the file is empty";
        }
        return nullptr;
    }
    auto doc = std::make_unique<_mDOM_xmlDoc>();
    doc->created = std::time(nullptr);
    Loader loader(std::string_view(data, size), doc.get());
    if (!loader.Run()) {
        if (error != nullptr) {
            *error = loader.error();
        }
        return nullptr;  // frees every node built so far
    }
    return doc.release();
}

void CminiDOM::FreeDoc(_mDOM_xmlDoc* doc) const
{
    if (doc != nullptr && doc->marker == kMDomMarker) {
        delete doc;
    }
}

const _mDOM_xmlNode* CminiDOM::FindPath(const _mDOM_xmlDoc* doc, const std::string& path) const
{
    if (doc == nullptr || doc->marker != kMDomMarker) {
        return nullptr;
    }
    const _mDOM_xmlNode* node = nullptr;
    std::size_t start = 0;
    bool first = true;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        const auto name = std::string_view(path).substr(start, slash == std::string::npos ? std::string::npos
                                                                                          : slash - start);
        if (name.empty() || name.size() > kMaxPathComponent) {
            return nullptr;
        }
        if (first) {
            node = IsValid(doc->first) ? FindAmongSiblings(doc->first->first_child, name) : nullptr;
            if (node == nullptr) {
                node = FindAmongSiblings(doc->first, name);
            }
            first = false;
        } else {
            node = FindAmongSiblings(node->first_child, name);
        }
        if (node == nullptr) {
            return nullptr;
        }
        if (slash == std::string::npos) {
            return node;
        }
        start = slash + 1;
    }
}

const _mDOM_xmlNode* CminiDOM::FindElement(const _mDOM_xmlNode* node, const std::string& name) const
{
    if (!IsValid(node)) {
        return nullptr;
    }
    // Iterative, so deeply nested documents cannot exhaust the stack.
    const _mDOM_xmlNode* at = node->first_child;
    while (IsValid(at)) {
        if (at->type == kMDomElement && at->name == name) {
            return at;
        }
        if (at->first_child != nullptr) {
            at = at->first_child;
            continue;
        }
        while (at != nullptr && at != node && at->next == nullptr) {
            at = at->parent;
        }
        if (at == nullptr || at == node) {
            return nullptr;
        }
        at = at->next;
    }
    return nullptr;
}

const _mDOM_xmlNode* CminiDOM::FindElement(const _mDOM_xmlDoc* doc, const std::string& name) const
{
    if (doc == nullptr || doc->marker != kMDomMarker) {
        return nullptr;
    }
    for (auto* top = doc->first; IsValid(top); top = top->next) {
        if (top->type == kMDomElement && top->name == name) {
            return top;
        }
        if (const auto* found = FindElement(top, name)) {
            return found;
        }
    }
    return nullptr;
}

const _mDOM_xmlNode* CminiDOM::FirstElementChild(const _mDOM_xmlNode* node) const
{
    if (!IsValid(node)) {
        return nullptr;
    }
    for (auto* child = node->first_child; IsValid(child); child = child->next) {
        if (child->type == kMDomElement) {
            return child;
        }
    }
    return nullptr;
}

const _mDOM_xmlNode* CminiDOM::NextElementSibling(const _mDOM_xmlNode* node) const
{
    if (!IsValid(node)) {
        return nullptr;
    }
    for (auto* next = node->next; IsValid(next); next = next->next) {
        if (next->type == kMDomElement) {
            return next;
        }
    }
    return nullptr;
}

std::string CminiDOM::NodeName(const _mDOM_xmlNode* node) const { return IsValid(node) ? node->name : std::string(); }

int CminiDOM::GetAttribute(const _mDOM_xmlNode* element, const std::string& name, std::wstring& out) const
{
    out.clear();
    if (!IsValid(element)) {
        return 0;
    }
    for (auto* attribute = element->first_attribute; IsValid(attribute); attribute = attribute->next) {
        if (EqualsNoCase(attribute->name, name)) {
            if (!attribute->has_value) {
                return 0;
            }
            out = torvik::platform::FromUtf8(attribute->value);
            return static_cast<int>(2 * (out.size() + 1));
        }
    }
    return 0;
}

int CminiDOM::GetText(const _mDOM_xmlNode* element, std::wstring& out) const
{
    out.clear();
    if (!IsValid(element)) {
        return 0;
    }
    for (auto* child = element->first_child; IsValid(child); child = child->next) {
        if (child->type == kMDomText) {
            out = torvik::platform::FromUtf8(child->value);
            return static_cast<int>(2 * (out.size() + 1));
        }
    }
    return 0;
}

}  // namespace kq::flashlib
