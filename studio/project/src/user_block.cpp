// The user block: the image of the simulation that the device plays.
#include <project/ts_project.hpp>
#include <project/user_block.hpp>

#include <algorithm>
#include <cstring>
#include <cwctype>

#include "hex_digit.hpp"

namespace torvik::studio {

namespace {

using Bytes = std::vector<std::uint8_t>;

int CopyIfFits(const Bytes& bytes, std::uint8_t* start, int capacity)
{
    const auto size = static_cast<int>(bytes.size());
    if (size > capacity) {
        return -size;
    }
    std::memcpy(start, bytes.data(), bytes.size());
    return size;
}

void PushLow16(Bytes& out, int value)
{
    const auto v = static_cast<std::uint32_t>(value);
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void PushBig16(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

// Like the C library's unsigned conversion in base 16 on a 32-bit unsigned long: leading white space,
// an optional sign, an optional "0x". Nothing when no digit follows or the number overflows 32 bits.
std::optional<std::uint32_t> ReadHexToken(std::wstring_view text)
{
    std::size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i])) != 0) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    auto digit = [&text](std::size_t at) { return at < text.size() ? detail::HexDigit(text[at]) : -1; };
    if (i + 1 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X') && digit(i + 2) >= 0) {
        i += 2;
    }
    if (digit(i) < 0) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (int d = digit(i); d >= 0; d = digit(++i)) {
        value = value * 16 + static_cast<std::uint64_t>(d);
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    const auto v32 = static_cast<std::uint32_t>(value);
    return negative ? 0u - v32 : v32;
}

}  // namespace

std::uint8_t DlcCode(std::uint32_t length)
{
    if (length <= 8) {
        return static_cast<std::uint8_t>(length);
    }
    std::uint8_t code = 8;
    for (const std::uint32_t threshold : {12u, 16u, 20u, 24u, 32u, 48u, 64u}) {
        if (length >= threshold) {
            ++code;
        }
    }
    return code;
}

ControlClass ClassOfControl(std::int32_t control)
{
    if ((control >= 8 && control <= 9) || (control >= 11 && control <= 12) || (control >= 18 && control <= 29)) {
        return ControlClass::TwoState;
    }
    if (control == 10 || control == 13) {
        return ControlClass::ThreeState;
    }
    return ControlClass::Continuous;
}

std::uint16_t SixteenBitForm(const RawNumber& value, std::uint32_t bitLength)
{
    // The top 16 bits of the signal's value, taken from the whole raw value so that signals longer
    // than 32 bits keep their top bits too.
    if (bitLength >= 16) {
        const std::uint32_t shift = bitLength - 16;
        return shift >= 512 ? 0 : static_cast<std::uint16_t>(static_cast<std::uint32_t>((value >> shift) & 0xFFFFu));
    }
    const auto low = static_cast<std::uint32_t>(value & 0xFFFFFFFFu);
    return static_cast<std::uint16_t>((low << (16 - bitLength)) & 0xFFFFu);
}

std::vector<std::uint8_t> ParsePduConstants(const std::wstring& text)
{
    std::vector<std::uint8_t> values;
    std::size_t pos = 0;
    for (;;) {
        const auto value = ReadHexToken(std::wstring_view(text).substr(pos));
        if (!value) {
            break;
        }
        values.push_back(static_cast<std::uint8_t>(*value & 0xFF));
        const auto comma = text.find(L',', pos);
        if (comma == std::wstring::npos) {
            break;
        }
        pos = comma + 1;
    }
    return values;
}

std::int32_t TS_Project::BuildUserBlock()
{
    userBlock_[0] = 0xFF;
    std::int32_t length = 1;
    const int setups = AppendChannelSetups(userBlock_.data() + 1, static_cast<int>(kUserBlockCapacity) - 1);
    if (setups < 0) {
        userBlockLength_ = setups;
        return setups;
    }
    length += setups;
    for (const auto& database : databases_) {
        const int written = AppendDatabase(*database, userBlock_.data() + length,
                                           static_cast<int>(kUserBlockCapacity) - length);
        if (written < 0) {
            length = written;
            break;
        }
        length += written;
    }
    userBlockLength_ = length;
    return length;
}

std::vector<std::wstring> TS_Project::MessagesWithMotorolaSignals() const
{
    std::vector<std::wstring> names;
    for (const auto& database : databases_) {
        for (const auto& [id, message] : database->network->messages) {
            if (message->channelMask == 0) {
                continue;
            }
            for (const auto& [name, signal] : message->signals) {
                if (signal->byteOrder == kq::dbclib::ByteOrder::Motorola) {
                    names.push_back(message->name);
                    break;
                }
            }
        }
    }
    return names;
}

std::wstring TS_Project::MotorolaSignalsNotice(const std::vector<std::wstring>& messages)
{
    if (messages.empty()) {
        return {};
    }
    std::wstring text = L"Signals in Motorola (big-endian) byte order are sent in the device's bit numbering "
                        L"(least significant bit at the start bit, counting upwards) in: ";
    for (std::size_t i = 0; i < messages.size(); ++i) {
        text += (i == 0 ? L"" : L", ") + messages[i];
    }
    return text;
}

int TS_Project::AppendChannelSetups(std::uint8_t* start, int capacity) const
{
    Bytes bytes;
    for (const auto& [channel, code] : channelSetups_) {
        bytes.insert(bytes.end(), {0x03, kRecordChannelSetup, static_cast<std::uint8_t>(channel & 0xFF),
                                   static_cast<std::uint8_t>(code & 0xFF)});
    }
    return CopyIfFits(bytes, start, capacity);
}

int TS_Project::AppendDatabase(const TS_DatabaseFile& database, std::uint8_t* start, int capacity)
{
    int total = 0;
    for (const auto& [id, message] : database.network->messages) {
        if (message->channelMask == 0) {
            continue;
        }
        const int written = AppendMessage(*message, start + total, capacity - total);
        if (written < 0) {
            return written;
        }
        total += written;
    }
    return total;
}

int TS_Project::AppendMessage(const TS_Message& message, std::uint8_t* start, int capacity)
{
    static const std::wstring kFrameFormat = L"VFrameFormat";
    static const std::wstring kBitRateSwitch = L"CANFD_BRS";
    static const std::wstring kCycleTime = L"GenMsgCycleTime";
    static const std::wstring kStartDelay = L"GenMsgStartDelayTime";
    static const std::wstring kFastCycleTime = L"GenMsgCycleTimeFast";
    static const std::wstring kCheckConstant = L"GenMsgChkConstant";
    static const std::wstring kPduConstants = L"GenMsgPDUConstants";

    // One walk over the signals gives the payload and the signals that get records.
    std::vector<const TS_Signal*> driven;
    const TS_Message::Payload payload = message.GetFirstPayload(&driven);
    Bytes bytes;
    bytes.reserve(19 + payload.size() + 20);
    bytes.insert(bytes.end(), {0x00, kRecordMessage, message.channelMask, message.channelMask,
                               static_cast<std::uint8_t>(message.id >> 24), static_cast<std::uint8_t>(message.id >> 16),
                               static_cast<std::uint8_t>(message.id >> 8), static_cast<std::uint8_t>(message.id)});
    std::uint8_t format = 0x00;
    const int frameFormat = message.GetEnumAttributeValue(kFrameFormat, nullptr, true);
    if (frameFormat == 14 || frameFormat == 15) {
        format = message.GetEnumAttributeValue(kBitRateSwitch, nullptr, true) == 1 ? 0xD0 : 0x40;
    }
    bytes.insert(bytes.end(), {format, 0x00, 0x00, DlcCode(message.length)});
    PushLow16(bytes, message.GetIntAttributeValue(kCycleTime, nullptr, true));
    PushLow16(bytes, message.GetIntAttributeValue(kStartDelay, nullptr, true));
    PushLow16(bytes, message.GetIntAttributeValue(kFastCycleTime, nullptr, true));
    bytes.push_back(0x01);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    bytes[0] = static_cast<std::uint8_t>((bytes.size() - 1) & 0xFF);

    const int check = message.GetHexAttributeValue(kCheckConstant, nullptr, true);
    if (check != 0) {
        bytes.insert(bytes.end(), {0x04, kRecordConstants, 0x00, 0x00, static_cast<std::uint8_t>(check & 0xFF)});
    } else {
        const std::wstring pdu = message.GetStringAttributeValue(kPduConstants, nullptr, true);
        if (!pdu.empty()) {
            const auto values = ParsePduConstants(pdu);
            if (values.size() == 16) {
                bytes.insert(bytes.end(), {0x13, kRecordConstants, 0x00, 0x00});
                bytes.insert(bytes.end(), values.begin(), values.end());
            }
        }
    }
    int total = CopyIfFits(bytes, start, capacity);
    if (total < 0) {
        return total;
    }
    for (const TS_Signal* signal : driven) {
        const int written = AppendSignal(*signal, start + total, capacity - total);
        if (written < 0) {
            return written;
        }
        total += written;
    }
    return total;
}

int TS_Project::AppendSignal(const TS_Signal& signal, std::uint8_t* start, int capacity)
{
    if (signal.signalType != kDynamicSignal || signal.dynamicControl == kNoControl) {
        return 0;
    }
    Bytes bytes;
    bytes.reserve(20);
    bytes.insert(bytes.end(), {0x09, kRecordSignalPosition, 0x00, 0x00,
                               static_cast<std::uint8_t>(signal.dynamicControl & 0xFF)});
    PushBig16(bytes, signal.startBit);
    PushBig16(bytes, (signal.startBit + signal.bitLength - 1) & 0xFFFF);
    bytes.push_back(signal.isMultiplexed ? static_cast<std::uint8_t>(signal.multiplexValue & 0xFF) : 0x00);

    const ControlClass cls = ClassOfControl(signal.dynamicControl);
    bytes.insert(bytes.end(), {static_cast<std::uint8_t>(cls == ControlClass::Continuous ? 0x07 : 0x09),
                               kRecordSignalValues, 0x00, 0x00});
    PushBig16(bytes, SixteenBitForm(signal.startValue, signal.bitLength));
    switch (cls) {
    case ControlClass::Continuous:
        PushBig16(bytes, SixteenBitForm(signal.endValue, signal.bitLength));
        break;
    case ControlClass::TwoState:
        PushBig16(bytes, SixteenBitForm(signal.endValue, signal.bitLength));
        bytes.insert(bytes.end(), {0x00, 0x00});
        break;
    case ControlClass::ThreeState:
        PushBig16(bytes, SixteenBitForm(signal.middleValue, signal.bitLength));
        PushBig16(bytes, SixteenBitForm(signal.endValue, signal.bitLength));
        break;
    }
    return CopyIfFits(bytes, start, capacity);
}

}  // namespace torvik::studio
