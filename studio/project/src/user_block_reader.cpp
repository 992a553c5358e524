// Reading a user block back, for display and checks.
#include <project/user_block.hpp>

#include <cstdio>

namespace torvik::studio {

const std::array<ControlEntry, 31> kControls = {{
    {L"No control", -1},        {L"Potentiometer 1", 5},   {L"Potentiometer 2", 4},
    {L"Potentiometer 3", 0},    {L"Potentiometer 4", 1},   {L"Potentiometer 5", 2},
    {L"Potentiometer 6", 3},    {L"Voltage 1", 6},         {L"Voltage 2", 7},
    {L"Digital input 1", 8},    {L"Digital input 2", 9},   {L"Switch 1", 10},
    {L"Switch 2", 11},          {L"Switch 3", 12},         {L"Switch 4", 13},
    {L"Random 1", 14},          {L"Random 2", 15},         {L"Random 3", 16},
    {L"Random 4", 17},          {L"DIP switch 1", 18},     {L"DIP switch 2", 19},
    {L"DIP switch 3", 20},      {L"DIP switch 4", 21},     {L"DIP switch 5", 22},
    {L"DIP switch 6", 23},      {L"DIP switch 7", 24},     {L"DIP switch 8", 25},
    {L"DIP switch 9", 26},      {L"DIP switch 10", 27},    {L"DIP switch 11", 28},
    {L"DIP switch 12", 29},
}};

std::wstring ControlName(std::int32_t control)
{
    for (const auto& entry : kControls) {
        if (entry.number == control) {
            return entry.name;
        }
    }
    return {};
}

std::uint32_t DlcLength(std::uint8_t code)
{
    static constexpr std::uint8_t kLengths[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
    return code < 16 ? kLengths[code] : 0;
}

namespace {

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> image) : image_(image) {}

    DecodedUserBlock Run()
    {
        if (image_.empty()) {
            Fail(0, "empty image: no leading 0xFF byte");
            return std::move(out_);
        }
        if (image_[0] != 0xFF) {
            Fail(0, "the image starts with " + Hex(image_[0]) + ", not 0xFF");
            return std::move(out_);
        }
        std::size_t pos = 1;
        while (pos < image_.size() && !out_.errorOffset) {
            pos = ReadRecord(pos);
        }
        if (!out_.errorOffset && pendingControl_) {
            Fail(image_.size(), "the image ends after a signal position record without its values record");
        }
        return std::move(out_);
    }

private:
    static std::string Hex(unsigned value)
    {
        char text[16];
        std::snprintf(text, sizeof text, "0x%02X", value);
        return text;
    }

    void Fail(std::size_t offset, std::string why)
    {
        out_.errorOffset = offset;
        out_.error = std::move(why);
    }

    bool Zero(std::size_t at, std::size_t count)
    {
        for (std::size_t i = at; i < at + count; ++i) {
            if (image_[i] != 0) {
                Fail(i, "reserved byte is " + Hex(image_[i]) + ", not 0x00");
                return false;
            }
        }
        return true;
    }

    bool Size(std::size_t pos, std::size_t size, std::initializer_list<std::size_t> allowed, const char* what)
    {
        for (const std::size_t s : allowed) {
            if (s == size) {
                return true;
            }
        }
        Fail(pos, std::string(what) + " record of " + std::to_string(size) + " bytes has a wrong length");
        return false;
    }

    std::uint16_t Big16(std::size_t at) const
    {
        return static_cast<std::uint16_t>((image_[at] << 8) | image_[at + 1]);
    }
    std::uint16_t Little16(std::size_t at) const
    {
        return static_cast<std::uint16_t>(image_[at] | (image_[at + 1] << 8));
    }

    // Reads the record at `pos`; returns the offset after it.
    std::size_t ReadRecord(std::size_t pos)
    {
        const std::size_t left = image_.size() - pos;
        if (left < 2) {
            Fail(pos, "truncated record: only " + std::to_string(left) + " byte left");
            return pos;
        }
        const std::size_t size = static_cast<std::size_t>(image_[pos]) + 1;
        if (size < 4) {
            Fail(pos, "record length byte " + Hex(image_[pos]) + " is too small");
            return pos;
        }
        if (size > left) {
            Fail(pos, "truncated record: " + std::to_string(size) + " bytes announced, " + std::to_string(left) +
                          " left");
            return pos;
        }
        UserBlockRecord rec;
        rec.offset = pos;
        rec.type = image_[pos + 1];
        const std::uint8_t previous = last_;
        if (rec.type != kRecordSignalValues && pendingControl_) {
            Fail(pos, "a signal position record is not followed by its values record");
            return pos;
        }
        switch (rec.type) {
        case kRecordChannelSetup:
            if (!Size(pos, size, {4}, "channel setup")) {
                return pos;
            }
            if (sawMessage_) {
                Fail(pos, "channel setup record after a message record");
                return pos;
            }
            rec.channel = image_[pos + 2];
            rec.setupCode = image_[pos + 3];
            break;
        case kRecordMessage:
            if (size < 19) {
                Fail(pos, "message record of " + std::to_string(size) + " bytes is too short");
                return pos;
            }
            rec.channelMask = image_[pos + 2];
            if (rec.channelMask == 0 || rec.channelMask > 0x0F) {
                Fail(pos + 2, "channel mask " + Hex(rec.channelMask) + " names no CAN channel 1 to 4");
                return pos;
            }
            if (image_[pos + 3] != rec.channelMask) {
                Fail(pos + 3, "second channel mask " + Hex(image_[pos + 3]) + " differs from " + Hex(rec.channelMask));
                return pos;
            }
            rec.id = (static_cast<std::uint32_t>(image_[pos + 4]) << 24) | (static_cast<std::uint32_t>(image_[pos + 5]) << 16) |
                     (static_cast<std::uint32_t>(image_[pos + 6]) << 8) | image_[pos + 7];
            rec.frameFormat = image_[pos + 8];
            if (rec.frameFormat != 0x00 && rec.frameFormat != 0x40 && rec.frameFormat != 0xD0) {
                Fail(pos + 8, "unknown frame format " + Hex(rec.frameFormat));
                return pos;
            }
            if (!Zero(pos + 9, 2)) {
                return pos;
            }
            rec.dlc = image_[pos + 11];
            if (rec.dlc > 15 || DlcLength(rec.dlc) != size - 19) {
                Fail(pos + 11, "DLC code " + std::to_string(rec.dlc) + " does not match the payload of " +
                                   std::to_string(size - 19) + " bytes");
                return pos;
            }
            rec.cycleTimeMs = Little16(pos + 12);
            rec.startDelayMs = Little16(pos + 14);
            rec.fastCycleTimeMs = Little16(pos + 16);
            if (image_[pos + 18] != 0x01) {
                Fail(pos + 18, "byte before the payload is " + Hex(image_[pos + 18]) + ", not 0x01");
                return pos;
            }
            rec.payload.assign(image_.begin() + static_cast<std::ptrdiff_t>(pos + 19),
                               image_.begin() + static_cast<std::ptrdiff_t>(pos + size));
            sawMessage_ = true;
            break;
        case kRecordConstants:
            if (!Size(pos, size, {5, 20}, "constants") || !Zero(pos + 2, 2)) {
                return pos;
            }
            if (previous != kRecordMessage) {
                Fail(pos, "constants record not right after a message record");
                return pos;
            }
            rec.constants.assign(image_.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                                 image_.begin() + static_cast<std::ptrdiff_t>(pos + size));
            break;
        case kRecordSignalPosition:
            if (!Size(pos, size, {10}, "signal position") || !Zero(pos + 2, 2)) {
                return pos;
            }
            if (!sawMessage_) {
                Fail(pos, "signal position record before any message record");
                return pos;
            }
            rec.control = image_[pos + 4];
            rec.startBit = Big16(pos + 5);
            rec.lastBit = Big16(pos + 7);
            rec.multiplexValue = image_[pos + 9];
            pendingControl_ = rec.control;
            break;
        case kRecordSignalValues: {
            if (!pendingControl_) {
                Fail(pos, "signal values record without a signal position record before it");
                return pos;
            }
            const ControlClass cls = ClassOfControl(*pendingControl_);
            if (!Size(pos, size, {std::size_t{cls == ControlClass::Continuous ? 8u : 10u}}, "signal values") ||
                !Zero(pos + 2, 2)) {
                return pos;
            }
            rec.control = *pendingControl_;
            rec.startValue = Big16(pos + 4);
            if (cls == ControlClass::ThreeState) {
                rec.middleValue = Big16(pos + 6);
                rec.endValue = Big16(pos + 8);
            } else {
                rec.endValue = Big16(pos + 6);
                if (cls == ControlClass::TwoState && !Zero(pos + 8, 2)) {
                    return pos;
                }
            }
            pendingControl_.reset();
            break;
        }
        default:
            Fail(pos + 1, "unknown record type " + Hex(rec.type));
            return pos;
        }
        last_ = rec.type;
        out_.records.push_back(std::move(rec));
        return pos + size;
    }

    std::span<const std::uint8_t> image_;
    DecodedUserBlock out_;
    std::uint8_t last_ = 0xFF;
    bool sawMessage_ = false;
    std::optional<std::uint8_t> pendingControl_;
};

}  // namespace

DecodedUserBlock DecodeUserBlock(std::span<const std::uint8_t> image)
{
    return Reader(image).Run();
}

}  // namespace torvik::studio
