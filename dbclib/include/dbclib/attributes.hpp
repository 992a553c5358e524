#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <dbclib/export.hpp>

namespace kq::dbclib {

enum class Dbc_ItemType : std::int32_t {
    Network = 0,
    Node = 1,
    Message = 2,
    Signal = 3,
    AttributeDefinition = 4,
};

/// Every named item of a database.
class KQ_DBCLIB_API Dbc_Item {
public:
    Dbc_Item(std::wstring name, Dbc_ItemType itemType);
    Dbc_Item(const Dbc_Item&);
    Dbc_Item(Dbc_Item&&) noexcept;
    Dbc_Item& operator=(const Dbc_Item&);
    Dbc_Item& operator=(Dbc_Item&&) noexcept;
    virtual ~Dbc_Item();

    std::wstring name;
    std::wstring comment;  ///< empty until a CM_ statement sets it
    Dbc_ItemType itemType;
};

enum class Dbc_ValueKind : std::int32_t {
    Int = 0,
    Float = 1,
    String = 2,
    Enum = 3,
    Hex = 4,
};

/// An attribute definition (BA_DEF_, BA_DEF_REL_); `name` is the attribute's name.
class KQ_DBCLIB_API Dbc_AttributeDef : public Dbc_Item {
public:
    Dbc_AttributeDef(std::wstring name, Dbc_ValueKind valueKind);
    ~Dbc_AttributeDef() override;

    Dbc_ValueKind valueKind;
};

class KQ_DBCLIB_API Dbc_IntAttributeDef : public Dbc_AttributeDef {
public:
    Dbc_IntAttributeDef(std::wstring name, std::int32_t minimum, std::int32_t maximum);
    ~Dbc_IntAttributeDef() override;

    std::int32_t minimum;
    std::int32_t maximum;
    std::int32_t defaultValue = 0;
};

class KQ_DBCLIB_API Dbc_HexAttributeDef : public Dbc_AttributeDef {
public:
    Dbc_HexAttributeDef(std::wstring name, std::int32_t minimum, std::int32_t maximum);
    ~Dbc_HexAttributeDef() override;

    std::int32_t minimum;
    std::int32_t maximum;
    std::int32_t defaultValue = 0;
};

class KQ_DBCLIB_API Dbc_FloatAttributeDef : public Dbc_AttributeDef {
public:
    Dbc_FloatAttributeDef(std::wstring name, double minimum, double maximum);
    ~Dbc_FloatAttributeDef() override;

    double minimum;
    double maximum;
    double defaultValue = 0.0;
};

class KQ_DBCLIB_API Dbc_StringAttributeDef : public Dbc_AttributeDef {
public:
    explicit Dbc_StringAttributeDef(std::wstring name);
    ~Dbc_StringAttributeDef() override;

    std::wstring defaultValue;
};

class KQ_DBCLIB_API Dbc_EnumAttributeDef : public Dbc_AttributeDef {
public:
    Dbc_EnumAttributeDef(std::wstring name, std::vector<std::wstring> values);
    ~Dbc_EnumAttributeDef() override;

    std::vector<std::wstring> values;  ///< in file order
    std::int32_t defaultIndex = 0;     ///< index into `values`
};

using Dbc_DefinitionTable = std::map<std::wstring, std::shared_ptr<Dbc_AttributeDef>>;

/// One attribute value given for an item (BA_, BA_REL_).
class KQ_DBCLIB_API Dbc_Attribute {
public:
    explicit Dbc_Attribute(std::shared_ptr<Dbc_AttributeDef> definition);
    virtual ~Dbc_Attribute();

    std::shared_ptr<Dbc_AttributeDef> definition;
};

/// Int, Hex and Enum values are held as int (an Enum value is the index into the definition's values),
/// Float values as float, String values as wide string.
template <typename T>
class Dbc_AttributeSpec : public Dbc_Attribute {
public:
    Dbc_AttributeSpec(std::shared_ptr<Dbc_AttributeDef> def, T v)
        : Dbc_Attribute(std::move(def)), value(std::move(v))
    {
    }
    ~Dbc_AttributeSpec() override = default;

    T value;
};

extern template class KQ_DBCLIB_API Dbc_AttributeSpec<int>;
extern template class KQ_DBCLIB_API Dbc_AttributeSpec<float>;
extern template class KQ_DBCLIB_API Dbc_AttributeSpec<std::wstring>;

/// The attribute values of one item and the definition table that applies to items of its kind.
class KQ_DBCLIB_API Dbc_AttributesForItem {
public:
    explicit Dbc_AttributesForItem(std::shared_ptr<Dbc_DefinitionTable> definitions);
    Dbc_AttributesForItem(const Dbc_AttributesForItem&);
    Dbc_AttributesForItem(Dbc_AttributesForItem&&) noexcept;
    Dbc_AttributesForItem& operator=(const Dbc_AttributesForItem&);
    Dbc_AttributesForItem& operator=(Dbc_AttributesForItem&&) noexcept;
    virtual ~Dbc_AttributesForItem();

    /// True when the item has its own value of that name.
    bool HasAttribute(const std::wstring& name) const;

    /// The value of the attribute `name`: the item's own value (`*isDefault` = false), else the
    /// definition's default (`*isDefault` = true), else 0 / 0.0 / empty with `*isDefault` untouched.
    /// With `checkKind`, a definition of another kind gives 0 / 0.0 / empty and leaves `*isDefault`.
    /// `isDefault` may be null.
    int GetIntAttributeValue(const std::wstring& name, bool* isDefault, bool checkKind) const;
    int GetHexAttributeValue(const std::wstring& name, bool* isDefault, bool checkKind) const;
    int GetEnumAttributeValue(const std::wstring& name, bool* isDefault, bool checkKind) const;
    double GetFloatAttributeValue(const std::wstring& name, bool* isDefault, bool checkKind) const;
    std::wstring GetStringAttributeValue(const std::wstring& name, bool* isDefault, bool checkKind) const;

    /// The values given for this very item, by attribute name.
    std::map<std::wstring, std::shared_ptr<Dbc_Attribute>> attributes;
    /// Shared with the network, so a definition added later is visible to every item at once.
    std::shared_ptr<Dbc_DefinitionTable> definitions;

protected:
    /// The item's own value for `name`, or null.
    virtual std::shared_ptr<Dbc_Attribute> GetAttribute(const std::wstring& name) const;

private:
    std::shared_ptr<Dbc_AttributeDef> FindDefinition(const std::wstring& name) const;
    template <typename T, typename Def>
    T GetValue(const std::wstring& name, bool* isDefault, bool checkKind, Dbc_ValueKind kind) const;
};

/// The whole name of a node, message or signal, which writers cut to 32 characters in the BU_, BO_ and
/// SG_ lines: the item's own value of SystemNodeLongSymbol, SystemMessageLongSymbol or
/// SystemSignalLongSymbol. Empty when the item has none, or an empty one.
KQ_DBCLIB_API std::wstring LongName(const Dbc_Item& item, const Dbc_AttributesForItem& attributes);
template <typename Item>
std::wstring LongName(const Item& item)
{
    return LongName(static_cast<const Dbc_Item&>(item), static_cast<const Dbc_AttributesForItem&>(item));
}

}  // namespace kq::dbclib
