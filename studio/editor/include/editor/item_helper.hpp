#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <editor/property_grid.hpp>
#include <project/ts_model.hpp>

namespace log4cpp {
class Category;
}

namespace torvik::studio {

/// The base of the message and signal editors: fills a property grid with one database item and writes
/// the user's accepted edits into the project's item, never into the database.
class TS_ItemHelper {
public:
    TS_ItemHelper(const TS_ItemHelper&) = delete;
    TS_ItemHelper& operator=(const TS_ItemHelper&) = delete;
    virtual ~TS_ItemHelper();

    /// Called for every item the user edited (the item already holds the new value).
    virtual void OnPropertyChanged(TS_MFCPropertyGridProperty& property) = 0;
    /// A new grid item for the named attribute, or null when the item has no such value and the network
    /// no such definition. The item is not yet in the grid.
    virtual std::unique_ptr<TS_MFCPropertyGridProperty> CreateAttributeProperty(const std::wstring& name) = 0;
    /// With `store`, writes the item's value into the project's own value of the attribute (made first
    /// when missing); otherwise puts that value into the item. Returns the project's value.
    virtual PropertyValue UpdateAttributeProperty(const std::wstring& name, TS_MFCPropertyGridProperty& property,
                                                  bool store) = 0;

protected:
    /// `className` starts every log line ("TS_MessageHelper"); `itemKind` and `itemName` name the edited
    /// item in them ("message", "EngineStatus").
    TS_ItemHelper(PropertyGrid& grid, std::shared_ptr<TS_Network> network, log4cpp::Category& logger,
                  std::string className, std::string itemKind, std::wstring itemName);

    /// The grid item for an attribute of an item whose own values are `own`, whose project values are
    /// `overrides` and whose network definitions are `definitions`.
    std::unique_ptr<TS_MFCPropertyGridProperty> MakeAttributeProperty(
        const std::wstring& name, const AttributeOverrides& overrides, const AttributeOverrides& own,
        const kq::dbclib::Dbc_DefinitionTable* definitions);
    /// The common part of `UpdateAttributeProperty`: finds or makes the project's value, then stores
    /// or shows it.
    PropertyValue UpdateAttribute(const std::wstring& name, TS_MFCPropertyGridProperty& property, bool store,
                                  AttributeOverrides& overrides, const AttributeOverrides& own,
                                  const kq::dbclib::Dbc_DefinitionTable* definitions);
    /// Adds the attribute item `name` (when it has one) under `group`, enabled or greyed.
    TS_MFCPropertyGridProperty* AddAttribute(TS_MFCPropertyGridProperty& group, const std::wstring& name,
                                            bool enabled);
    /// Stores an edited attribute item; puts the project's value back when it was refused.
    void CommitAttribute(TS_MFCPropertyGridProperty& property, bool store);

    /// Logging with the helper's class name in front ("TS_MessageHelper - ").
    void Debug(const std::string& line) const;
    void Info(const std::string& line) const;
    void Error(const std::string& line) const;

    PropertyGrid& grid_;
    std::shared_ptr<TS_Network> network_;
    log4cpp::Category& logger_;

private:
    std::string className_;
    std::string itemKind_;
    std::wstring itemName_;
    bool attributeChanged_ = false;  ///< the last store changed the project's value
};

/// The editor of one message: what the database says about it, the payload ("Raw value") and the
/// cycle time.
class TS_MessageHelper : public TS_ItemHelper {
public:
    TS_MessageHelper(std::shared_ptr<TS_Message> message, std::shared_ptr<TS_Network> network,
                     PropertyGrid& grid, log4cpp::Category& logger);
    ~TS_MessageHelper() override;

    void OnPropertyChanged(TS_MFCPropertyGridProperty& property) override;
    std::unique_ptr<TS_MFCPropertyGridProperty> CreateAttributeProperty(const std::wstring& name) override;
    PropertyValue UpdateAttributeProperty(const std::wstring& name, TS_MFCPropertyGridProperty& property,
                                          bool store) override;

private:
    void RawValueChanged(TS_MFCPropertyGridProperty& property);

    std::shared_ptr<TS_Message> message_;
    TS_MFCPropertyGridProperty* rawValue_ = nullptr;
    std::wstring shownPayload_;  ///< the payload text the project holds
};

/// The editor of one signal of one message: constant or driven by a device control, the raw values at
/// the control's positions, the chosen multiplexor values of a multiplexor signal.
class TS_SignalHelper : public TS_ItemHelper {
public:
    TS_SignalHelper(std::shared_ptr<TS_Signal> signal, std::shared_ptr<TS_Message> message,
                    std::shared_ptr<TS_Network> network, PropertyGrid& grid, log4cpp::Category& logger);
    ~TS_SignalHelper() override;

    void OnPropertyChanged(TS_MFCPropertyGridProperty& property) override;
    std::unique_ptr<TS_MFCPropertyGridProperty> CreateAttributeProperty(const std::wstring& name) override;
    PropertyValue UpdateAttributeProperty(const std::wstring& name, TS_MFCPropertyGridProperty& property,
                                          bool store) override;

private:
    /// The settings that a value / raw-value pair edits.
    enum class Slot { Constant, Start, End, Middle };
    struct Pair {
        Slot slot;
        TS_MFCPropertyGridProperty* value = nullptr;
        TS_MFCPropertyGridProperty* raw = nullptr;
    };

    void ShowConstant();
    void ShowDynamic();
    void RemovePairs();
    void AddPair(Slot slot, const std::wstring& valueName, const std::wstring& rawName);
    void ShowPair(const Pair& pair);
    void PairChanged(const Pair& pair, bool rawItem);
    void MultiplexorValuesChanged(TS_MFCPropertyGridProperty& property);
    RawNumber& Setting(Slot slot) const;
    RawNumber RollBack(Slot slot, const RawNumber& before) const;
    std::optional<RawNumber> RawFromValueItem(const TS_MFCPropertyGridProperty& item) const;

    std::shared_ptr<TS_Signal> signal_;
    std::shared_ptr<TS_Message> message_;
    TS_MFCPropertyGridProperty* general_ = nullptr;
    TS_MFCPropertyGridProperty* modificationType_ = nullptr;
    TS_MFCPropertyGridProperty* multiplexorValues_ = nullptr;
    TS_MFCPropertyGridProperty* dynamicControl_ = nullptr;
    std::vector<Pair> pairs_;
};

/// The payload of a message as the grid shows it: each byte "0x" and two lower-case digits, separated
/// by blanks; a multiplexed message one payload per chosen multiplexor value, each in braces.
std::wstring PayloadText(const TS_Message& message);

/// Reads payload text typed by the user (bytes "0x.." separated by blanks) into `length` bytes, padded
/// with zeros; bytes past `length` are dropped. Nothing when some text is not such a byte.
std::optional<std::vector<std::uint8_t>> ParsePayloadText(const std::wstring& text, std::size_t length);

/// Reads a raw value typed by the user: hexadecimal after "0x", octal after a leading "0" (decimal when
/// `octal` is false, as the command line reads numbers), decimal otherwise, blanks around it allowed.
/// Nothing for other text or a number beyond 512 bits.
std::optional<RawNumber> ParseRawNumber(const std::wstring& text, bool octal = true);

/// The identifier as the message editor shows it: "0x123", or "0x18FEF100x" for an extended one.
std::wstring MessageIdText(std::uint32_t id);
/// Reads an identifier written that way (hexadecimal digits after "0x", a trailing "x" for an extended
/// one, which sets bit 31); nothing for other text or a value beyond 11 or 29 bits.
std::optional<std::uint32_t> ParseMessageIdText(const std::wstring& text);

/// Takes a payload apart into the signals' raw values, as an edited "Raw value" does: every signal of a
/// message without multiplexor; else the multiplexor, then the signals of its new value (the others
/// keep theirs). `bytes` holds the message's length. True when some raw value changed.
bool TakePayload(TS_Message& message, std::span<const std::uint8_t> bytes);

/// Reads chosen multiplexor values typed as decimal numbers separated by blanks; nothing when some text
/// is not such a number (or is beyond 32 bits).
std::optional<std::vector<std::uint32_t>> ParseMultiplexorValues(const std::wstring& text);

/// The raw value of a physical value (Unsigned signals only), when it fits the signal.
std::optional<RawNumber> RawFromPhysical(const TS_Signal& signal, double physical);
/// The raw value of a value item's text: one of the signal's value descriptions ("Fast"), else a
/// physical value; nothing for other text and for values that do not fit.
std::optional<RawNumber> RawFromValueText(const TS_Signal& signal, const std::wstring& text);

/// The message attributes that the message editor lets the user change; the others it shows read-only.
/// The signal editor shows every attribute read-only.
bool IsEditableMessageAttribute(const std::wstring& name);
/// Why the message editor refuses `value` for its attribute `name` (a cycle time of zero cannot be
/// sent); empty when it takes it.
std::wstring RefuseMessageAttributeValue(const std::wstring& name, const PropertyValue& value);

/// Stores `value` (in its grid item's form: a number for Int and Float, the text otherwise; Enum by the
/// text of one of its values) as the project's own value of attribute `name`, made first (from the
/// database's value in `own`, or the default) when `overrides` has none. Returns why the value is
/// refused (an Int outside its definition's bounds, an unknown Enum text, text that is no hexadecimal
/// number, no definition of that name), empty when stored.
std::wstring StoreAttributeValue(const std::wstring& name, const PropertyValue& value, AttributeOverrides& overrides,
                                 const AttributeOverrides& own, const kq::dbclib::Dbc_DefinitionTable* definitions);
/// The grid item's form of an attribute value written as text ("500", "0x5A", "ExtendedCAN_FD"): a
/// number for Int (decimal or 0x hex) and Float attributes, the text otherwise. Nothing when the text is
/// no number for a number attribute or the definitions have no such name.
std::optional<PropertyValue> AttributeValueFromText(const std::wstring& name, const std::wstring& text,
                                                    const AttributeOverrides& overrides, const AttributeOverrides& own,
                                                    const kq::dbclib::Dbc_DefinitionTable* definitions);

/// The raw value as the grid shows it: "0x" and its hexadecimal digits (upper case).
std::string RawText(const RawNumber& raw);

}  // namespace torvik::studio
