#include <editor/item_helper.hpp>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cwchar>
#include <cwctype>

#include <log4cpp/Category.hh>

#include "format.hpp"

namespace torvik::studio {

using kq::dbclib::Dbc_Attribute;
using kq::dbclib::Dbc_AttributeDef;
using kq::dbclib::Dbc_AttributeSpec;
using kq::dbclib::Dbc_ValueKind;
using detail::Format;
using detail::U8;
using detail::Wide;

namespace {

template <typename T>
const T* ValueOf(const std::shared_ptr<Dbc_Attribute>& attribute)
{
    if (const auto* spec = dynamic_cast<const Dbc_AttributeSpec<T>*>(attribute.get())) {
        return &spec->value;
    }
    return nullptr;
}

std::shared_ptr<Dbc_Attribute> FindValue(const AttributeOverrides& values, const std::wstring& name)
{
    const auto it = values.find(name);
    return it != values.end() ? it->second : nullptr;
}

std::shared_ptr<Dbc_AttributeDef> FindDefinition(const kq::dbclib::Dbc_DefinitionTable* table,
                                                 const std::wstring& name)
{
    if (table == nullptr) {
        return nullptr;
    }
    const auto it = table->find(name);
    return it != table->end() ? it->second : nullptr;
}

std::wstring HexText(int value)
{
    return Wide(Format("0x%X", static_cast<unsigned>(value)));
}

std::optional<int> ParseHex(const std::wstring& text)
{
    const wchar_t* p = text.c_str();
    while (*p == L' ') {
        ++p;
    }
    if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
        p += 2;
    }
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long value = std::wcstoul(p, &end, 16);
    if (end == p || errno != 0 || value > 0xFFFFFFFFul) {
        return std::nullopt;
    }
    while (*end == L' ') {
        ++end;
    }
    if (*end != L'\0') {
        return std::nullopt;
    }
    return static_cast<int>(static_cast<unsigned>(value));
}

/// The value of an attribute (`value` null: the definition's default) in the form its grid item holds.
PropertyValue ShownValue(const Dbc_AttributeDef& def, const std::shared_ptr<Dbc_Attribute>& value)
{
    switch (def.valueKind) {
    case Dbc_ValueKind::Int: {
        const auto* own = ValueOf<int>(value);
        return static_cast<long>(own ? *own : static_cast<const kq::dbclib::Dbc_IntAttributeDef&>(def).defaultValue);
    }
    case Dbc_ValueKind::Hex: {
        const auto* own = ValueOf<int>(value);
        return HexText(own ? *own : static_cast<const kq::dbclib::Dbc_HexAttributeDef&>(def).defaultValue);
    }
    case Dbc_ValueKind::Float: {
        const auto* own = ValueOf<float>(value);
        return own ? static_cast<double>(*own) : static_cast<const kq::dbclib::Dbc_FloatAttributeDef&>(def).defaultValue;
    }
    case Dbc_ValueKind::String: {
        const auto* own = ValueOf<std::wstring>(value);
        return own ? *own : static_cast<const kq::dbclib::Dbc_StringAttributeDef&>(def).defaultValue;
    }
    case Dbc_ValueKind::Enum: {
        const auto& e = static_cast<const kq::dbclib::Dbc_EnumAttributeDef&>(def);
        const auto* own = ValueOf<int>(value);
        const int index = own ? *own : e.defaultIndex;
        return index >= 0 && static_cast<std::size_t>(index) < e.values.size() ? e.values[static_cast<std::size_t>(index)]
                                                                                 : std::wstring();
    }
    }
    return std::wstring();
}

/// A new project value bound to `def`, starting from the database's value `from` (or the default).
std::shared_ptr<Dbc_Attribute> NewValue(const std::shared_ptr<Dbc_AttributeDef>& def,
                                        const std::shared_ptr<Dbc_Attribute>& from)
{
    switch (def->valueKind) {
    case Dbc_ValueKind::Int:
    case Dbc_ValueKind::Hex:
    case Dbc_ValueKind::Enum: {
        int start = 0;
        if (const auto* own = ValueOf<int>(from)) {
            start = *own;
        } else if (def->valueKind == Dbc_ValueKind::Int) {
            start = static_cast<const kq::dbclib::Dbc_IntAttributeDef&>(*def).defaultValue;
        } else if (def->valueKind == Dbc_ValueKind::Hex) {
            start = static_cast<const kq::dbclib::Dbc_HexAttributeDef&>(*def).defaultValue;
        } else {
            start = static_cast<const kq::dbclib::Dbc_EnumAttributeDef&>(*def).defaultIndex;
        }
        return std::make_shared<Dbc_AttributeSpec<int>>(def, start);
    }
    case Dbc_ValueKind::Float: {
        const auto* own = ValueOf<float>(from);
        return std::make_shared<Dbc_AttributeSpec<float>>(
            def, own ? *own : static_cast<float>(static_cast<const kq::dbclib::Dbc_FloatAttributeDef&>(*def).defaultValue));
    }
    case Dbc_ValueKind::String: {
        const auto* own = ValueOf<std::wstring>(from);
        return std::make_shared<Dbc_AttributeSpec<std::wstring>>(
            def, own ? *own : static_cast<const kq::dbclib::Dbc_StringAttributeDef&>(*def).defaultValue);
    }
    }
    return nullptr;
}


/// The definition an attribute item of `name` uses: the one of the project's value, else of the
/// database's value (`value` becomes the one found), else the network's definition of that name.
std::shared_ptr<Dbc_AttributeDef> ItemDefinition(const std::wstring& name, const AttributeOverrides& overrides,
                                                 const AttributeOverrides& own,
                                                 const kq::dbclib::Dbc_DefinitionTable* definitions,
                                                 std::shared_ptr<Dbc_Attribute>& value)
{
    value = FindValue(overrides, name);
    if (!value) {
        value = FindValue(own, name);
    }
    std::shared_ptr<Dbc_AttributeDef> def = value ? value->definition : nullptr;
    return def ? def : FindDefinition(definitions, name);
}

std::wstring Trimmed(const std::wstring& text)
{
    const auto first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

/// The project's own value of `name`, made first (bound to the network's definition, starting from the
/// database's value) when there is none; null when neither a definition nor a value of that name exists.
std::shared_ptr<Dbc_Attribute> OwnValue(const std::wstring& name, AttributeOverrides& overrides,
                                        const AttributeOverrides& own, const kq::dbclib::Dbc_DefinitionTable* definitions)
{
    if (const auto it = overrides.find(name); it != overrides.end()) {
        return it->second;
    }
    const std::shared_ptr<Dbc_Attribute> database = FindValue(own, name);
    std::shared_ptr<Dbc_AttributeDef> def = FindDefinition(definitions, name);
    if (!def && database) {
        def = database->definition;
    }
    if (!def) {
        return nullptr;
    }
    return overrides.emplace(name, NewValue(def, database)).first->second;
}

/// Writes a value in its grid item's form into `value`, converted by the definition's kind. Returns why
/// it is refused (the stored value then stays), empty when stored.
std::wstring StoreInto(Dbc_Attribute& value, const PropertyValue& typed)
{
    const TS_MFCPropertyGridProperty item(PropertyKind::Text, {}, typed, {});
    const Dbc_AttributeDef& def = *value.definition;
    switch (def.valueKind) {
    case Dbc_ValueKind::Int:
        if (auto* v = dynamic_cast<Dbc_AttributeSpec<int>*>(&value)) {
            const auto& i = static_cast<const kq::dbclib::Dbc_IntAttributeDef&>(def);
            if (std::holds_alternative<std::wstring>(typed)) {
                return L"'" + item.text() + L"' is no whole number";
            }
            const long number = item.number();
            // The definition's bounds (none when both are 0), which the grid's spin control also keeps.
            if (i.minimum < i.maximum && (number < i.minimum || number > i.maximum)) {
                return std::to_wstring(number) + L" is outside " + std::to_wstring(i.minimum) + L".." +
                       std::to_wstring(i.maximum);
            }
            v->value = static_cast<int>(number);
        }
        break;
    case Dbc_ValueKind::Enum:
        if (auto* v = dynamic_cast<Dbc_AttributeSpec<int>*>(&value)) {
            const auto& values = static_cast<const kq::dbclib::Dbc_EnumAttributeDef&>(def).values;
            const auto it = std::find(values.begin(), values.end(), item.text());
            if (it == values.end()) {
                return L"'" + item.text() + L"' is none of its values";
            }
            v->value = static_cast<int>(it - values.begin());
        }
        break;
    case Dbc_ValueKind::Hex:
        if (auto* v = dynamic_cast<Dbc_AttributeSpec<int>*>(&value)) {
            const auto parsed = ParseHex(item.text());
            if (!parsed) {
                return L"'" + item.text() + L"' is no hexadecimal number";
            }
            v->value = *parsed;
        }
        break;
    case Dbc_ValueKind::Float:
        if (auto* v = dynamic_cast<Dbc_AttributeSpec<float>*>(&value)) {
            if (std::holds_alternative<std::wstring>(typed)) {
                return L"'" + item.text() + L"' is no number";
            }
            v->value = static_cast<float>(item.real());
        }
        break;
    case Dbc_ValueKind::String:
        if (auto* v = dynamic_cast<Dbc_AttributeSpec<std::wstring>*>(&value)) {
            v->value = item.text();
        }
        break;
    }
    return {};
}

}  // namespace

TS_ItemHelper::TS_ItemHelper(PropertyGrid& grid, std::shared_ptr<TS_Network> network, log4cpp::Category& logger,
                             std::string className, std::string itemKind, std::wstring itemName)
    : grid_(grid),
      network_(std::move(network)),
      logger_(logger),
      className_(std::move(className)),
      itemKind_(std::move(itemKind)),
      itemName_(std::move(itemName))
{
}

TS_ItemHelper::~TS_ItemHelper() = default;

void TS_ItemHelper::Debug(const std::string& line) const
{
    logger_.debug(className_ + " - " + line);
}

void TS_ItemHelper::Info(const std::string& line) const
{
    logger_.info(className_ + " - " + line);
}

void TS_ItemHelper::Error(const std::string& line) const
{
    logger_.error(className_ + " - " + line);
}

std::unique_ptr<TS_MFCPropertyGridProperty> TS_ItemHelper::MakeAttributeProperty(
    const std::wstring& name, const AttributeOverrides& overrides, const AttributeOverrides& own,
    const kq::dbclib::Dbc_DefinitionTable* definitions)
{
    std::shared_ptr<Dbc_Attribute> value;
    const std::shared_ptr<Dbc_AttributeDef> def = ItemDefinition(name, overrides, own, definitions, value);
    if (!def) {
        return nullptr;
    }
    PropertyKind kind = PropertyKind::Text;
    switch (def->valueKind) {
    case Dbc_ValueKind::Int:
        kind = PropertyKind::Int;
        break;
    case Dbc_ValueKind::Float:
        kind = PropertyKind::Float;
        break;
    case Dbc_ValueKind::Enum:
        kind = PropertyKind::List;
        break;
    case Dbc_ValueKind::Hex:
    case Dbc_ValueKind::String:
        break;
    }
    auto item = std::make_unique<TS_MFCPropertyGridProperty>(kind, name, ShownValue(*def, value), def->comment);
    item->attributeName = name;
    item->helper = this;
    if (def->valueKind == Dbc_ValueKind::Int) {
        const auto& i = static_cast<const kq::dbclib::Dbc_IntAttributeDef&>(*def);
        item->minimum = i.minimum;
        item->maximum = i.maximum;
    } else if (def->valueKind == Dbc_ValueKind::Enum) {
        item->options = static_cast<const kq::dbclib::Dbc_EnumAttributeDef&>(*def).values;
    }
    return item;
}

PropertyValue TS_ItemHelper::UpdateAttribute(const std::wstring& name, TS_MFCPropertyGridProperty& property,
                                             bool store, AttributeOverrides& overrides, const AttributeOverrides& own,
                                             const kq::dbclib::Dbc_DefinitionTable* definitions)
{
    Debug(Format("Update attribute property %s in %s %s.", U8(name).c_str(), itemKind_.c_str(),
                 U8(itemName_).c_str()));
    attributeChanged_ = false;
    if (overrides.find(name) == overrides.end()) {
        Debug("own attribute not found.");
        if (!OwnValue(name, overrides, own, definitions)) {
            return property.value();
        }
        Debug("own attribute inserted.");
    }
    const std::shared_ptr<Dbc_Attribute> value = overrides.at(name);
    const PropertyValue before = ShownValue(*value->definition, value);
    if (store) {
        // A refused value leaves the stored one, which the grid then shows again.
        StoreInto(*value, property.value());
    }
    const PropertyValue after = ShownValue(*value->definition, value);
    attributeChanged_ = after != before;
    if (!store) {
        property.SetValue(after);
    }
    return after;
}

std::wstring StoreAttributeValue(const std::wstring& name, const PropertyValue& value, AttributeOverrides& overrides,
                                 const AttributeOverrides& own, const kq::dbclib::Dbc_DefinitionTable* definitions)
{
    const std::shared_ptr<Dbc_Attribute> stored = OwnValue(name, overrides, own, definitions);
    if (!stored) {
        return L"there is no attribute " + name;
    }
    return StoreInto(*stored, value);
}

std::optional<PropertyValue> AttributeValueFromText(const std::wstring& name, const std::wstring& text,
                                                    const AttributeOverrides& overrides, const AttributeOverrides& own,
                                                    const kq::dbclib::Dbc_DefinitionTable* definitions)
{
    std::shared_ptr<Dbc_Attribute> value;
    const std::shared_ptr<Dbc_AttributeDef> def = ItemDefinition(name, overrides, own, definitions, value);
    if (!def) {
        return std::nullopt;
    }
    const std::wstring t = Trimmed(text);
    if (def->valueKind == Dbc_ValueKind::Int) {
        const bool hex = t.size() > 2 && t[0] == L'0' && (t[1] == L'x' || t[1] == L'X');
        wchar_t* end = nullptr;
        errno = 0;
        const long long number = std::wcstoll(t.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
        if (t.empty() || end != t.c_str() + t.size() || errno != 0 || number < INT32_MIN || number > INT32_MAX ||
            (hex && !std::iswxdigit(static_cast<wint_t>(t[2])))) {
            return std::nullopt;
        }
        return static_cast<long>(number);
    }
    if (def->valueKind == Dbc_ValueKind::Float) {
        wchar_t* end = nullptr;
        const double number = std::wcstod(t.c_str(), &end);
        if (t.empty() || end != t.c_str() + t.size() || !std::isfinite(number)) {
            return std::nullopt;
        }
        return number;
    }
    return text;
}

TS_MFCPropertyGridProperty* TS_ItemHelper::AddAttribute(TS_MFCPropertyGridProperty& group, const std::wstring& name,
                                                       bool enabled)
{
    auto item = CreateAttributeProperty(name);
    if (!item) {
        return nullptr;
    }
    PropertyGrid::Enable(*item, enabled);
    return &grid_.Add(group, std::move(item));
}

void TS_ItemHelper::CommitAttribute(TS_MFCPropertyGridProperty& property, bool store)
{
    const PropertyValue stored = UpdateAttributeProperty(property.attributeName, property, store);
    if (TS_MFCPropertyGridProperty(property.kind(), {}, stored, {}).text() != property.text()) {
        property.SetValue(stored);
    }
    if (store && attributeChanged_) {
        grid_.NotifyProjectChanged();
    }
}

}  // namespace torvik::studio
