#include <dbclib/attributes.hpp>

#include <utility>

namespace kq::dbclib {

Dbc_Item::Dbc_Item(std::wstring itemName, Dbc_ItemType type) : name(std::move(itemName)), itemType(type) {}
Dbc_Item::Dbc_Item(const Dbc_Item&) = default;
Dbc_Item::Dbc_Item(Dbc_Item&&) noexcept = default;
Dbc_Item& Dbc_Item::operator=(const Dbc_Item&) = default;
Dbc_Item& Dbc_Item::operator=(Dbc_Item&&) noexcept = default;
Dbc_Item::~Dbc_Item() = default;

Dbc_AttributeDef::Dbc_AttributeDef(std::wstring attributeName, Dbc_ValueKind kind)
    : Dbc_Item(std::move(attributeName), Dbc_ItemType::AttributeDefinition), valueKind(kind)
{
}
Dbc_AttributeDef::~Dbc_AttributeDef() = default;

Dbc_IntAttributeDef::Dbc_IntAttributeDef(std::wstring attributeName, std::int32_t min, std::int32_t max)
    : Dbc_AttributeDef(std::move(attributeName), Dbc_ValueKind::Int), minimum(min), maximum(max)
{
}
Dbc_IntAttributeDef::~Dbc_IntAttributeDef() = default;

Dbc_HexAttributeDef::Dbc_HexAttributeDef(std::wstring attributeName, std::int32_t min, std::int32_t max)
    : Dbc_AttributeDef(std::move(attributeName), Dbc_ValueKind::Hex), minimum(min), maximum(max)
{
}
Dbc_HexAttributeDef::~Dbc_HexAttributeDef() = default;

Dbc_FloatAttributeDef::Dbc_FloatAttributeDef(std::wstring attributeName, double min, double max)
    : Dbc_AttributeDef(std::move(attributeName), Dbc_ValueKind::Float), minimum(min), maximum(max)
{
}
Dbc_FloatAttributeDef::~Dbc_FloatAttributeDef() = default;

Dbc_StringAttributeDef::Dbc_StringAttributeDef(std::wstring attributeName)
    : Dbc_AttributeDef(std::move(attributeName), Dbc_ValueKind::String)
{
}
Dbc_StringAttributeDef::~Dbc_StringAttributeDef() = default;

Dbc_EnumAttributeDef::Dbc_EnumAttributeDef(std::wstring attributeName, std::vector<std::wstring> enumValues)
    : Dbc_AttributeDef(std::move(attributeName), Dbc_ValueKind::Enum), values(std::move(enumValues))
{
}
Dbc_EnumAttributeDef::~Dbc_EnumAttributeDef() = default;

Dbc_Attribute::Dbc_Attribute(std::shared_ptr<Dbc_AttributeDef> def) : definition(std::move(def)) {}
Dbc_Attribute::~Dbc_Attribute() = default;

template class Dbc_AttributeSpec<int>;
template class Dbc_AttributeSpec<float>;
template class Dbc_AttributeSpec<std::wstring>;

Dbc_AttributesForItem::Dbc_AttributesForItem(std::shared_ptr<Dbc_DefinitionTable> defs)
    : definitions(std::move(defs))
{
}
Dbc_AttributesForItem::Dbc_AttributesForItem(const Dbc_AttributesForItem&) = default;
Dbc_AttributesForItem::Dbc_AttributesForItem(Dbc_AttributesForItem&&) noexcept = default;
Dbc_AttributesForItem& Dbc_AttributesForItem::operator=(const Dbc_AttributesForItem&) = default;
Dbc_AttributesForItem& Dbc_AttributesForItem::operator=(Dbc_AttributesForItem&&) noexcept = default;
Dbc_AttributesForItem::~Dbc_AttributesForItem() = default;

std::shared_ptr<Dbc_Attribute> Dbc_AttributesForItem::GetAttribute(const std::wstring& name) const
{
    const auto it = attributes.find(name);
    return it == attributes.end() ? nullptr : it->second;
}

bool Dbc_AttributesForItem::HasAttribute(const std::wstring& name) const
{
    return GetAttribute(name) != nullptr;
}

std::shared_ptr<Dbc_AttributeDef> Dbc_AttributesForItem::FindDefinition(const std::wstring& name) const
{
    if (!definitions) {
        return nullptr;
    }
    const auto it = definitions->find(name);
    return it == definitions->end() ? nullptr : it->second;
}

namespace {

template <typename Def>
auto DefaultOf(const Dbc_AttributeDef& def)
{
    if constexpr (std::is_same_v<Def, Dbc_EnumAttributeDef>) {
        return static_cast<const Def&>(def).defaultIndex;
    } else {
        return static_cast<const Def&>(def).defaultValue;
    }
}

}  // namespace

template <typename T, typename Def>
T Dbc_AttributesForItem::GetValue(const std::wstring& name, bool* isDefault, bool checkKind,
                                  Dbc_ValueKind kind) const
{
    if (checkKind) {
        const auto def = FindDefinition(name);
        if (def && def->valueKind != kind) {
            return T{};
        }
    }
    // Int, Hex and Enum values are stored as int, Float values in single precision.
    using Stored = std::conditional_t<std::is_same_v<T, double>, float, T>;
    if (const auto own = std::dynamic_pointer_cast<Dbc_AttributeSpec<Stored>>(GetAttribute(name))) {
        if (isDefault != nullptr) {
            *isDefault = false;
        }
        return static_cast<T>(own->value);
    }
    const auto def = FindDefinition(name);
    if (!def) {
        return T{};
    }
    // Without checkKind a definition of another kind is the caller's mistake; answer "nothing".
    if (def->valueKind != kind) {
        return T{};
    }
    if (isDefault != nullptr) {
        *isDefault = true;
    }
    return static_cast<T>(DefaultOf<Def>(*def));
}

int Dbc_AttributesForItem::GetIntAttributeValue(const std::wstring& name, bool* isDefault, bool checkKind) const
{
    return GetValue<int, Dbc_IntAttributeDef>(name, isDefault, checkKind, Dbc_ValueKind::Int);
}

int Dbc_AttributesForItem::GetHexAttributeValue(const std::wstring& name, bool* isDefault, bool checkKind) const
{
    return GetValue<int, Dbc_HexAttributeDef>(name, isDefault, checkKind, Dbc_ValueKind::Hex);
}

int Dbc_AttributesForItem::GetEnumAttributeValue(const std::wstring& name, bool* isDefault, bool checkKind) const
{
    return GetValue<int, Dbc_EnumAttributeDef>(name, isDefault, checkKind, Dbc_ValueKind::Enum);
}

double Dbc_AttributesForItem::GetFloatAttributeValue(const std::wstring& name, bool* isDefault,
                                                     bool checkKind) const
{
    return GetValue<double, Dbc_FloatAttributeDef>(name, isDefault, checkKind, Dbc_ValueKind::Float);
}

std::wstring Dbc_AttributesForItem::GetStringAttributeValue(const std::wstring& name, bool* isDefault,
                                                            bool checkKind) const
{
    return GetValue<std::wstring, Dbc_StringAttributeDef>(name, isDefault, checkKind, Dbc_ValueKind::String);
}

std::wstring LongName(const Dbc_Item& item, const Dbc_AttributesForItem& attributes)
{
    const wchar_t* attribute = nullptr;
    switch (item.itemType) {
        case Dbc_ItemType::Node:
            attribute = L"SystemNodeLongSymbol";
            break;
        case Dbc_ItemType::Message:
            attribute = L"SystemMessageLongSymbol";
            break;
        case Dbc_ItemType::Signal:
            attribute = L"SystemSignalLongSymbol";
            break;
        default:
            return {};
    }
    const auto it = attributes.attributes.find(attribute);
    if (it == attributes.attributes.end()) {
        return {};
    }
    const auto* text = dynamic_cast<const Dbc_AttributeSpec<std::wstring>*>(it->second.get());
    return text != nullptr ? text->value : std::wstring();
}

}  // namespace kq::dbclib
