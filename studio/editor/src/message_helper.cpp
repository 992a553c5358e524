#include <editor/item_helper.hpp>

#include <cwctype>

#include <log4cpp/Category.hh>

#include <project/ts_project.hpp>

#include "format.hpp"

namespace torvik::studio {

using detail::Format;
using detail::U8;
using detail::Wide;

namespace {

constexpr std::uint32_t kExtendedFlag = 0x80000000u;

void AppendBytes(std::wstring& out, const TS_Message::Payload& bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            out += L' ';
        }
        out += Wide(Format("0x%02x", bytes[i]));
    }
}

}  // namespace

std::wstring MessageIdText(std::uint32_t id)
{
    if ((id & kExtendedFlag) != 0) {
        return Wide(Format("0x%08Xx", id & 0x1FFFFFFFu));
    }
    return Wide(Format("0x%03X", id));
}

std::optional<std::uint32_t> ParseMessageIdText(const std::wstring& text)
{
    if (text.size() < 3 || text[0] != L'0' || (text[1] != L'x' && text[1] != L'X')) {
        return std::nullopt;
    }
    std::size_t last = text.size();
    const bool extended = text.back() == L'x' || text.back() == L'X';
    if (extended) {
        --last;
    }
    std::uint32_t id = 0;
    if (last == 2 || last - 2 > 8) {
        return std::nullopt;
    }
    for (std::size_t i = 2; i < last; ++i) {
        const wchar_t c = text[i];
        if (std::iswxdigit(static_cast<wint_t>(c)) == 0) {
            return std::nullopt;
        }
        const unsigned digit = c <= L'9' ? static_cast<unsigned>(c - L'0')
                                         : static_cast<unsigned>(std::towlower(static_cast<wint_t>(c)) - L'a') + 10;
        id = (id << 4) | digit;
    }
    if (id > (extended ? 0x1FFFFFFFu : 0x7FFu)) {
        return std::nullopt;
    }
    return extended ? (id | kExtendedFlag) : id;
}

bool TakePayload(TS_Message& message, std::span<const std::uint8_t> bytes)
{
    bool changed = false;
    if (const auto& multiplexor = message.multiplex.multiplexor) {
        changed = multiplexor->TakeRawValue(bytes);
        const auto value = static_cast<std::uint32_t>(multiplexor->rawValue & RawNumber(0xFFFFFFFFu));
        if (const auto it = message.multiplex.signalsByValue.find(value); it != message.multiplex.signalsByValue.end()) {
            for (const auto& sig : it->second) {
                changed = sig->TakeRawValue(bytes) || changed;
            }
        }
    } else {
        for (const auto& [name, sig] : message.signals) {
            changed = sig->TakeRawValue(bytes) || changed;
        }
    }
    return changed;
}

bool IsEditableMessageAttribute(const std::wstring& name)
{
    return name == L"GenMsgCycleTime" || name == L"GenMsgChkConstant" || name == L"GenMsgPDUConstants";
}

std::wstring RefuseMessageAttributeValue(const std::wstring& name, const PropertyValue& value)
{
    // A message with a cycle time of zero cannot be sent.
    if (name == L"GenMsgCycleTime" && std::holds_alternative<long>(value) && std::get<long>(value) == 0) {
        return L"a cycle time of 0 ms cannot be sent";
    }
    return {};
}

std::wstring PayloadText(const TS_Message& message)
{
    std::wstring out;
    const auto payloads = message.GetPayloads();
    if (!message.multiplex.multiplexor) {
        if (!payloads.empty()) {
            AppendBytes(out, payloads.front());
        }
        return out;
    }
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        out += i == 0 ? L"{" : L" {";
        AppendBytes(out, payloads[i]);
        out += L'}';
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> ParsePayloadText(const std::wstring& text, std::size_t length)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(length);
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i])) != 0) {
            ++i;
        }
    };
    skipBlanks();
    while (i < text.size()) {
        if (text.compare(i, 2, L"0x") != 0) {
            return std::nullopt;
        }
        i += 2;
        const std::size_t first = i;
        unsigned value = 0;
        while (i < text.size() && std::iswxdigit(static_cast<wint_t>(text[i])) != 0) {
            const wchar_t c = text[i];
            const unsigned digit = c <= L'9' ? static_cast<unsigned>(c - L'0')
                                             : static_cast<unsigned>(std::towlower(static_cast<wint_t>(c)) - L'a') + 10;
            value = (value << 4) | digit;  // only the low 8 bits are kept
            ++i;
        }
        if (i == first) {
            return std::nullopt;
        }
        if (bytes.size() < length) {
            bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        }
        skipBlanks();
    }
    bytes.resize(length, 0);
    return bytes;
}

TS_MessageHelper::TS_MessageHelper(std::shared_ptr<TS_Message> message, std::shared_ptr<TS_Network> network,
                                   PropertyGrid& grid, log4cpp::Category& logger)
    : TS_ItemHelper(grid, std::move(network), logger, "TS_MessageHelper", "message", message->name),
      message_(std::move(message))
{
    if ((message_->id & kExtendedFlag) != 0) {
        Debug(Format("New helper for message id: 0x%08Xx, name: %s.", message_->id & 0x1FFFFFFFu,
                     U8(message_->name).c_str()));
    } else {
        Debug(Format("New helper for message id: 0x%03X, name: %s.", message_->id, U8(message_->name).c_str()));
    }
    using Item = TS_MFCPropertyGridProperty;
    auto fixed = [this](Item& group, PropertyKind kind, const std::wstring& name, PropertyValue value) -> Item& {
        auto item = std::make_unique<Item>(kind, name, std::move(value), std::wstring());
        item->helper = this;
        PropertyGrid::Enable(*item, false);
        return grid_.Add(group, std::move(item));
    };

    Item& general = grid_.AddGroup(L"General");
    fixed(general, PropertyKind::Text, L"ID", MessageIdText(message_->id));
    fixed(general, PropertyKind::Text, L"Name", message_->name);
    fixed(general, PropertyKind::Int, L"DLC", static_cast<long>(message_->length));
    shownPayload_ = PayloadText(*message_);
    auto raw = std::make_unique<Item>(PropertyKind::Text, L"Raw value", shownPayload_, std::wstring());
    raw->helper = this;
    rawValue_ = &grid_.Add(general, std::move(raw));
    AddAttribute(general, L"MsgType", false);
    const bool ownFrameFormat = message_->attributeOverrides.count(L"VFrameFormat") != 0 ||
                                message_->attributes.count(L"VFrameFormat") != 0;
    if (ownFrameFormat && AddAttribute(general, L"VFrameFormat", false) != nullptr &&
        TS_Project::IsCanFdMessage(*message_)) {
        AddAttribute(general, L"CANFD_BRS", false);
    }

    Item& timing = grid_.AddGroup(L"Timing");
    for (const wchar_t* name : {L"GenMsgSendType", L"GenMsgCycleTime", L"GenMsgCycleTimeFast",
                                L"GenMsgStartDelayTime", L"GenMsgDelayTime", L"GenMsgNrOfRepetition"}) {
        AddAttribute(timing, name, IsEditableMessageAttribute(name));
    }

    Item& security = grid_.AddGroup(L"Security");
    for (const wchar_t* name : {L"GenMsgChkConstant", L"GenMsgPDUConstants"}) {
        AddAttribute(security, name, IsEditableMessageAttribute(name));
    }

    Item& protocols = grid_.AddGroup(L"Protocols");
    for (const wchar_t* name : {L"GenMsgILSupport", L"DiagRequest", L"DiagResponse", L"DiagState", L"NmMessage",
                                L"NmhMessage", L"VAGTP20_DynConnection", L"VAGTP20_StatConnection",
                                L"VAGTP20_DynSetup"}) {
        AddAttribute(protocols, name, false);
    }
}

TS_MessageHelper::~TS_MessageHelper() = default;

std::unique_ptr<TS_MFCPropertyGridProperty> TS_MessageHelper::CreateAttributeProperty(const std::wstring& name)
{
    return MakeAttributeProperty(name, message_->attributeOverrides, message_->attributes,
                                 network_ ? network_->messageDefinitions.get() : nullptr);
}

PropertyValue TS_MessageHelper::UpdateAttributeProperty(const std::wstring& name,
                                                        TS_MFCPropertyGridProperty& property, bool store)
{
    return UpdateAttribute(name, property, store, message_->attributeOverrides, message_->attributes,
                           network_ ? network_->messageDefinitions.get() : nullptr);
}

void TS_MessageHelper::OnPropertyChanged(TS_MFCPropertyGridProperty& property)
{
    if (&property == rawValue_) {
        RawValueChanged(property);
        return;
    }
    if (property.attributeName.empty()) {
        return;
    }
    // A refused value (a cycle time of zero) is not stored: the stored one comes back.
    CommitAttribute(property, RefuseMessageAttributeValue(property.attributeName, property.value()).empty());
}

void TS_MessageHelper::RawValueChanged(TS_MFCPropertyGridProperty& property)
{
    const std::string typed = U8(property.text());
    Info(Format("Raw value property changed (message: %s, rawValue: %s).", U8(message_->name).c_str(), typed.c_str()));
    const auto bytes = ParsePayloadText(property.text(), message_->PayloadLength());
    if (!bytes) {
        Error(Format("Raw value can't be parsed (rawValue: %s).", typed.c_str()));
        property.SetValue(shownPayload_);
        return;
    }
    const bool changed = TakePayload(*message_, *bytes);
    shownPayload_ = PayloadText(*message_);
    property.SetValue(shownPayload_);
    if (changed) {
        Info(Format("Raw value updated: %s.", U8(shownPayload_).c_str()));
        grid_.NotifyProjectChanged();
    }
}

}  // namespace torvik::studio
