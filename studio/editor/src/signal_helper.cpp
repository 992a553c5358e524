#include <editor/controls.hpp>
#include <editor/item_helper.hpp>

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <cwctype>
#include <exception>

#include <log4cpp/Category.hh>

#include "format.hpp"

namespace torvik::studio {

using detail::Format;
using detail::U8;
using detail::Wide;
using kq::dbclib::ValueType;

namespace {

std::uint32_t Low32(const RawNumber& raw)
{
    return static_cast<std::uint32_t>(raw & RawNumber(0xFFFFFFFFu));
}

std::wstring Trimmed(const std::wstring& text)
{
    const auto first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(L" \t\r\n");
    return text.substr(first, last - first + 1);
}

/// The physical value typed into a value item; nothing unless the whole text is one number.
std::optional<double> ParseReal(const std::wstring& text)
{
    const std::wstring t = Trimmed(text);
    if (t.empty()) {
        return std::nullopt;
    }
    wchar_t* end = nullptr;
    const double value = std::wcstod(t.c_str(), &end);
    if (end != t.c_str() + t.size()) {
        return std::nullopt;
    }
    return value;
}

std::wstring JoinNumbers(const std::vector<std::uint32_t>& values, bool trailingBlanks)
{
    std::wstring out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0 && !trailingBlanks) {
            out += L' ';
        }
        out += std::to_wstring(values[i]);
        if (trailingBlanks) {
            out += L' ';
        }
    }
    return out;
}

const char* TypeName(ValueType type)
{
    switch (type) {
    case ValueType::Signed:
        return "Signed";
    case ValueType::Unsigned:
        return "Unsigned";
    case ValueType::Float:
        return "Float";
    case ValueType::Double:
        return "Double";
    }
    return nullptr;
}

}  // namespace

std::optional<std::vector<std::uint32_t>> ParseMultiplexorValues(const std::wstring& text)
{
    std::vector<std::uint32_t> values;
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i])) != 0) {
            ++i;
        }
        if (i == text.size()) {
            return values;
        }
        std::uint64_t value = 0;
        const std::size_t first = i;
        while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
            value = value * 10 + static_cast<std::uint64_t>(text[i] - L'0');
            if (value > 0xFFFFFFFFu) {
                return std::nullopt;
            }
            ++i;
        }
        if (i == first || (i < text.size() && std::iswspace(static_cast<wint_t>(text[i])) == 0)) {
            return std::nullopt;
        }
        values.push_back(static_cast<std::uint32_t>(value));
    }
}

std::optional<RawNumber> RawFromPhysical(const TS_Signal& signal, double physical)
{
    RawNumber raw = 0;
    try {
        if (signal.ParseValue(physical, raw)) {
            return raw;
        }
    } catch (const std::exception&) {
        // Infinite or NaN input, or a factor of zero, has no raw value.
    }
    return std::nullopt;
}

std::optional<RawNumber> RawFromValueText(const TS_Signal& signal, const std::wstring& text)
{
    for (const auto& [raw, description] : signal.valueDescriptions) {
        if (description == text) {
            return RawNumber(raw);
        }
    }
    const auto physical = ParseReal(text);
    if (!physical) {
        return std::nullopt;
    }
    return RawFromPhysical(signal, *physical);
}

std::optional<RawNumber> ParseRawNumber(const std::wstring& typed, bool octal)
{
    const std::wstring text = Trimmed(typed);
    if (text.empty()) {
        return std::nullopt;
    }
    unsigned base = 10;
    std::size_t i = 0;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        i = 2;
    } else if (octal && text.size() > 1 && text[0] == L'0') {
        base = 8;
        i = 1;
    }
    RawNumber value = 0;
    const RawNumber limit = (~RawNumber(0)) / base;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<unsigned>(c - L'0');
        } else if (c >= L'a' && c <= L'f') {
            digit = static_cast<unsigned>(c - L'a') + 10;
        } else if (c >= L'A' && c <= L'F') {
            digit = static_cast<unsigned>(c - L'A') + 10;
        } else {
            return std::nullopt;
        }
        if (digit >= base) {
            return std::nullopt;
        }
        // A number past 512 bits would wrap silently; refuse it instead.
        if (value > limit || (value == limit && digit > static_cast<unsigned>((~RawNumber(0)) % base))) {
            return std::nullopt;
        }
        value = value * base + digit;
    }
    return value;
}

std::string RawText(const RawNumber& raw)
{
    return "0x" + raw.str(0, std::ios_base::hex | std::ios_base::uppercase);
}

TS_SignalHelper::TS_SignalHelper(std::shared_ptr<TS_Signal> signal, std::shared_ptr<TS_Message> message,
                                 std::shared_ptr<TS_Network> network, PropertyGrid& grid, log4cpp::Category& logger)
    : TS_ItemHelper(grid, std::move(network), logger, "TS_SignalHelper", "signal", signal->name),
      signal_(std::move(signal)),
      message_(std::move(message))
{
    Debug(Format("New helper for signal %s.", U8(signal_->name).c_str()));
    using Item = TS_MFCPropertyGridProperty;
    auto add = [this](Item& group, PropertyKind kind, const std::wstring& name, PropertyValue value,
                      const std::wstring& description, bool enabled) -> Item& {
        auto item = std::make_unique<Item>(kind, name, std::move(value), description);
        item->helper = this;
        PropertyGrid::Enable(*item, enabled);
        return grid_.Add(group, std::move(item));
    };

    general_ = &grid_.AddGroup(L"General");
    add(*general_, PropertyKind::Text, L"Name", signal_->name, {}, false);
    const auto& multiplex = message_->multiplex;
    if (multiplex.multiplexor == signal_) {
        logger_.debug("TS_SignalHepler - Signal is multiplexor.");
        add(*general_, PropertyKind::Text, L"Modification type", std::wstring(L"Multiplexer"),
            L"Multiplexed message, please select multiplexor values", false);
        multiplexorValues_ = &add(*general_, PropertyKind::Text, L"Multiplexor values",
                                  JoinNumbers(multiplex.values, false), L"Fill multiplexor values separeted by space",
                                  true);
    } else {
        if (multiplex.multiplexor) {
            add(*general_, PropertyKind::Text, L"Multiplex",
                signal_->isMultiplexed ? Wide(Format("%lu", static_cast<unsigned long>(signal_->multiplexValue)))
                                       : std::wstring(L"Not multiplexed"),
                L"Multiplex where the signal is stored.", false);
            if (signal_->isMultiplexed) {
                Debug("Signal is multiplexed.");
            }
        }
        auto type = std::make_unique<Item>(PropertyKind::List, L"Modification type",
                                           std::wstring(signal_->signalType == kDynamicSignal ? L"Dynamic" : L"Constant"),
                                           L"Constant - static value\nDynamic - Value is set by control");
        type->helper = this;
        type->options = {L"Constant", L"Dynamic"};
        modificationType_ = &grid_.Add(*general_, std::move(type));
        if (signal_->signalType == kConstantSignal) {
            ShowConstant();
        } else {
            ShowDynamic();
        }
    }

    Item& values = grid_.AddGroup(L"Value properties");
    if (const char* type = TypeName(signal_->valueType)) {
        add(values, PropertyKind::Text, L"Value type", Wide(type), {}, false);
    }
    add(values, PropertyKind::Text, L"Byte order",
        std::wstring(signal_->byteOrder == kq::dbclib::ByteOrder::Intel ? L"Intel" : L"Motorola"), {}, false);
    add(values, PropertyKind::Int, L"Start bit", static_cast<long>(signal_->startBit), {}, false);
    add(values, PropertyKind::Int, L"Length", static_cast<long>(signal_->bitLength), {}, false);
    add(values, PropertyKind::Text, L"Unit", signal_->unit, {}, false);
    add(values, PropertyKind::Float, L"Factor", signal_->factor, {}, false);
    add(values, PropertyKind::Float, L"Offset", signal_->offset, {}, false);
    add(values, PropertyKind::Float, L"Maximum", signal_->maximum, {}, false);
    add(values, PropertyKind::Float, L"Minimun", signal_->minimum, {}, false);
    add(values, PropertyKind::Text, L"Initial RAW value", Wide(RawText(signal_->initialRawValue)), {}, false);
    const auto description = signal_->valueDescriptions.find(Low32(signal_->initialRawValue));
    double initial = 0.0;
    if (description != signal_->valueDescriptions.end()) {
        add(values, PropertyKind::Text, L"Initial value", description->second, {}, false);
    } else if (signal_->GetValue(initial, signal_->initialRawValue)) {
        add(values, PropertyKind::Float, L"Initial value", initial, {}, false);
    } else {
        Error(Format("can't get value from initial rawValue 0x%s",
                     signal_->initialRawValue.str(0, std::ios_base::hex | std::ios_base::uppercase).c_str()));
    }

    Item& timing = grid_.AddGroup(L"Timing");
    AddAttribute(timing, L"GenSigSendType", false);
    AddAttribute(timing, L"GenSigInactiveValue", false);
    Item& function = grid_.AddGroup(L"Function");
    AddAttribute(function, L"GenSigFuncType", false);
    AddAttribute(function, L"GenSigSwitchedByIgnition", false);
    AddAttribute(function, L"NWM-WakeupAllowed", false);
}

TS_SignalHelper::~TS_SignalHelper() = default;

std::unique_ptr<TS_MFCPropertyGridProperty> TS_SignalHelper::CreateAttributeProperty(const std::wstring& name)
{
    return MakeAttributeProperty(name, signal_->attributeOverrides, signal_->attributes,
                                 network_ ? network_->signalDefinitions.get() : nullptr);
}

PropertyValue TS_SignalHelper::UpdateAttributeProperty(const std::wstring& name, TS_MFCPropertyGridProperty& property,
                                                       bool store)
{
    return UpdateAttribute(name, property, store, signal_->attributeOverrides, signal_->attributes,
                           network_ ? network_->signalDefinitions.get() : nullptr);
}

RawNumber& TS_SignalHelper::Setting(Slot slot) const
{
    switch (slot) {
    case Slot::Start:
        return signal_->startValue;
    case Slot::End:
        return signal_->endValue;
    case Slot::Middle:
        return signal_->middleValue;
    case Slot::Constant:
        break;
    }
    return signal_->rawValue;
}

RawNumber TS_SignalHelper::RollBack(Slot slot, const RawNumber& before) const
{
    double physical = 0.0;
    switch (slot) {
    case Slot::Constant:
        return before;
    case Slot::Start:
        physical = signal_->minimum;
        break;
    case Slot::End:
        physical = signal_->maximum;
        break;
    case Slot::Middle:
        physical = (signal_->maximum + signal_->minimum) * 0.5;
        break;
    }
    return RawFromPhysical(*signal_, physical).value_or(RawNumber(0));
}

void TS_SignalHelper::RemovePairs()
{
    for (const Pair& pair : pairs_) {
        grid_.Remove(pair.value);
        grid_.Remove(pair.raw);
    }
    pairs_.clear();
}

void TS_SignalHelper::AddPair(Slot slot, const std::wstring& valueName, const std::wstring& rawName)
{
    using Item = TS_MFCPropertyGridProperty;
    Pair pair{slot};
    const bool described = !signal_->valueDescriptions.empty();
    auto value = std::make_unique<Item>(described ? PropertyKind::EditableList : PropertyKind::Text, valueName,
                                        std::wstring(), std::wstring());
    value->helper = this;
    for (const auto& [raw, text] : signal_->valueDescriptions) {
        value->options.push_back(text);
        value->optionValues.push_back(raw);
    }
    pair.value = &grid_.Add(*general_, std::move(value));
    auto raw = std::make_unique<Item>(PropertyKind::Text, rawName, std::wstring(), L"Raw value of selected signal");
    raw->helper = this;
    pair.raw = &grid_.Add(*general_, std::move(raw));
    ShowPair(pair);
    pairs_.push_back(pair);
}

void TS_SignalHelper::ShowPair(const Pair& pair)
{
    const RawNumber& raw = Setting(pair.slot);
    pair.raw->SetValue(Wide(RawText(raw)));
    const auto description = signal_->valueDescriptions.find(Low32(raw));
    std::wstring text;
    double physical = 0.0;
    if (description != signal_->valueDescriptions.end()) {
        text = description->second;
    } else if (signal_->GetValue(physical, raw)) {
        text = Wide(Format("%f", physical));
    }
    if (text.empty()) {
        Error(Format("value can't be set from rawValue: %s.", RawText(raw).c_str()));
    } else {
        Debug(Format("Value set to: %s.", U8(text).c_str()));
    }
    pair.value->SetValue(text);
}

void TS_SignalHelper::ShowConstant()
{
    Debug("Signal goes to be a constant Value.");
    RemovePairs();
    grid_.Remove(dynamicControl_);
    dynamicControl_ = nullptr;
    AddPair(Slot::Constant, L"Value", L"Raw value");
}

void TS_SignalHelper::ShowDynamic()
{
    Debug(Format("Signal goes to be a dynamic Value, control number: %d", signal_->dynamicControl));
    RemovePairs();
    if (dynamicControl_ == nullptr) {
        auto item = std::make_unique<TS_MFCPropertyGridProperty>(
            PropertyKind::List, L"Dynamic control",
            std::wstring(kControls[ControlPositionOf(signal_->dynamicControl)].name),
            L"Select the Control for this signal");
        item->helper = this;
        for (const ControlEntry& control : kControls) {
            item->options.emplace_back(control.name);
        }
        dynamicControl_ = &grid_.Add(*general_, std::move(item));
    }
    if (signal_->dynamicControl == kNoControl) {
        return;
    }
    const ControlLabels labels = LabelsOf(signal_->dynamicControl);
    if (labels.end.empty()) {
        return;
    }
    AddPair(Slot::End, labels.end + L" value", labels.end + L" raw value");
    if (!labels.middle.empty()) {
        AddPair(Slot::Middle, labels.middle + L" value", labels.middle + L" raw value");
    }
    AddPair(Slot::Start, labels.start + L" value", labels.start + L" raw value");
}

std::optional<RawNumber> TS_SignalHelper::RawFromValueItem(const TS_MFCPropertyGridProperty& item) const
{
    // The item's list holds the signal's value descriptions, so its text is read the same way.
    return RawFromValueText(*signal_, item.text());
}

void TS_SignalHelper::PairChanged(const Pair& pair, bool rawItem)
{
    RawNumber& setting = Setting(pair.slot);
    const RawNumber before = setting;
    std::optional<RawNumber> typed;
    if (rawItem) {
        typed = ParseRawNumber(pair.raw->text());
        if (typed && !signal_->CheckRawValue(*typed)) {
            typed.reset();
        }
    } else {
        typed = RawFromValueItem(*pair.value);
    }
    setting = typed ? *typed : RollBack(pair.slot, before);
    const std::string digits = setting.str(0, std::ios_base::hex | std::ios_base::uppercase);
    if (rawItem) {
        if (typed) {
            Info(Format("Signal rawValue updated to: 0x%s.", digits.c_str()));
        } else {
            Error(Format("Signal rawValue roll back to: 0x%s.", digits.c_str()));
        }
    } else if (typed) {
        Info(Format("Signal value updated to: 0x%s.", digits.c_str()));
    } else {
        Error(Format("Signal value roll back to: 0x%s.", digits.c_str()));
    }
    ShowPair(pair);
    const char* what = pair.slot == Slot::Start ? "start" : pair.slot == Slot::End ? "end" : "middle";
    if (pair.slot == Slot::Constant) {
        // Log readers match these lines as they are, spelling included.
        logger_.info(rawItem ? "TS_SignalHeper - Signal constant rawValue updated."
                             : "TS_SignalHelper - Signal constant value updated.");
    } else {
        Info(Format("Signal dynamic %s %s updated.", what, rawItem ? "rawValue" : "value"));
    }
    // A roll-back changes the project as well, so both tell the main window.
    if (setting != before) {
        grid_.NotifyProjectChanged();
    }
}

void TS_SignalHelper::MultiplexorValuesChanged(TS_MFCPropertyGridProperty& property)
{
    const std::string typed = U8(property.text());
    const auto values = ParseMultiplexorValues(property.text());
    if (!values) {
        Error(Format("multiplexor values can't be parsed (sequence: %s).", typed.c_str()));
        property.SetValue(JoinNumbers(message_->multiplex.values, false));
        return;
    }
    const bool changed = *values != message_->multiplex.values;
    message_->multiplex.values = *values;
    Info(Format("Multiplexor values updated: %s.", typed.c_str()));
    property.SetValue(JoinNumbers(*values, true));
    if (changed) {
        grid_.NotifyProjectChanged();
    }
}

void TS_SignalHelper::OnPropertyChanged(TS_MFCPropertyGridProperty& property)
{
    if (!property.attributeName.empty()) {
        CommitAttribute(property, true);
        return;
    }
    if (&property == multiplexorValues_) {
        MultiplexorValuesChanged(property);
        return;
    }
    if (&property == modificationType_) {
        const std::uint32_t type = property.text() == L"Constant" ? kConstantSignal : kDynamicSignal;
        const bool changed = type != signal_->signalType;
        signal_->signalType = type;
        if (type == kConstantSignal) {
            ShowConstant();
        } else {
            ShowDynamic();
        }
        if (changed) {
            grid_.NotifyProjectChanged();
        }
        return;
    }
    if (&property == dynamicControl_) {
        const std::int32_t number = ControlNumberOf(property.text()).value_or(kNoControl);
        const bool changed = number != signal_->dynamicControl;
        signal_->dynamicControl = number;
        ShowDynamic();
        if (changed) {
            grid_.NotifyProjectChanged();
        }
        return;
    }
    // Copy the pair: showing it again must not depend on the list staying put.
    for (const Pair pair : pairs_) {
        if (&property == pair.raw || &property == pair.value) {
            PairChanged(pair, &property == pair.raw);
            return;
        }
    }
}

}  // namespace torvik::studio
