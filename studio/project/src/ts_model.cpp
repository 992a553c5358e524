#include <project/ts_model.hpp>

#include <algorithm>
#include <array>
#include <exception>

namespace kq::dbclib {

// The studio's instantiation of the library's templates.
template class Template_Database_File<torvik::studio::TS_Message, torvik::studio::TS_Signal>;
template class Template_Network<torvik::studio::TS_Message, torvik::studio::TS_Signal>;
template class Template_Node<torvik::studio::TS_Message, torvik::studio::TS_Signal>;
template class Template_Message<torvik::studio::TS_Message, torvik::studio::TS_Signal>;
template class Template_Signal<torvik::studio::TS_Message, torvik::studio::TS_Signal>;
template class Template_TxMessage<torvik::studio::TS_Message>;
template class Template_RxSignal<torvik::studio::TS_Signal>;

}  // namespace kq::dbclib

namespace torvik::studio {

using kq::dbclib::BitMask;
using kq::dbclib::Dbc_Attribute;

namespace {

constexpr std::size_t kMaxPayload = 64;

std::shared_ptr<Dbc_Attribute> Lookup(const AttributeOverrides& overrides, const AttributeOverrides& own,
                                      const std::wstring& name)
{
    if (const auto it = overrides.find(name); it != overrides.end()) {
        return it->second;
    }
    if (const auto it = own.find(name); it != own.end()) {
        return it->second;
    }
    return nullptr;
}

static_assert(sizeof(boost::multiprecision::limb_type) == sizeof(std::uint64_t));

std::uint64_t Low64(const RawNumber& raw)
{
    // The backend keeps its least significant limb first; reading it avoids a 512-bit temporary.
    return raw.backend().limbs()[0];
}

// ORs the low `length` bits of `raw` into a 64-byte payload from bit `start` on; bits past the
// payload are dropped, as the 512-bit composition drops them.
void OrInto(std::array<std::uint8_t, kMaxPayload>& bytes, std::uint32_t start, std::uint32_t length,
            const RawNumber& raw)
{
    if (start >= kMaxPayload * 8 || length == 0) {
        return;
    }
    length = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(kMaxPayload * 8) - start);
    std::uint32_t done = 0;
    if (length <= 64) {
        std::uint64_t value = Low64(raw);
        if (length < 64) {
            value &= (std::uint64_t{1} << length) - 1;
        }
        std::uint32_t bit = start;
        while (done < length) {
            const std::uint32_t shift = bit % 8;
            bytes[bit / 8] |= static_cast<std::uint8_t>((value << shift) & 0xFF);
            const std::uint32_t taken = std::min(8 - shift, length - done);
            value >>= taken;
            done += taken;
            bit += taken;
        }
        return;
    }
    const RawNumber value = raw & BitMask(length);
    for (std::uint32_t i = 0; i < length; ++i) {
        if (boost::multiprecision::bit_test(value, i)) {
            const std::uint32_t bit = start + i;
            bytes[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
        }
    }
}

}  // namespace

TS_Signal::TS_Signal(std::wstring signalName, std::weak_ptr<TS_Message> msg, std::uint32_t start,
                     std::uint32_t length, kq::dbclib::ValueType type, kq::dbclib::ByteOrder order,
                     double signalFactor, double signalOffset, double signalMinimum, double signalMaximum,
                     std::wstring signalUnit, std::vector<std::weak_ptr<TS_Node>> receiverList,
                     const std::shared_ptr<TS_Network>& net)
    : Template_Signal(std::move(signalName), std::move(msg), start, length, type, order, signalFactor,
                      signalOffset, signalMinimum, signalMaximum, std::move(signalUnit),
                      std::move(receiverList), net)
{
    ResetSimulation();
}

TS_Signal::TS_Signal(const TS_Signal&) = default;
TS_Signal::~TS_Signal() = default;

void TS_Signal::ResetSimulation()
{
    signalType = kConstantSignal;
    dynamicControl = kNoControl;
    auto raw_of = [this](double physical) {
        RawNumber raw = 0;
        try {
            ParseValue(physical, raw);
        } catch (const std::exception&) {
            // A factor of 0 has no raw value for any physical one; the setting stays 0.
            raw = 0;
        }
        return raw;
    };
    startValue = raw_of(minimum);
    endValue = raw_of(maximum);
    middleValue = raw_of(maximum / 2.0);
}

RawNumber TS_Signal::PlaceRawValue(const RawNumber& raw) const
{
    if (startBit >= 512) {
        return 0;
    }
    return (raw & BitMask(bitLength)) << startBit;
}

bool TS_Signal::TakeRawValue(std::span<const std::uint8_t> bytes)
{
    RawNumber payload = 0;
    const std::size_t count = std::min<std::size_t>(bytes.size(), kMaxPayload);
    for (std::size_t k = count; k-- > 0;) {
        payload = (payload << 8) | RawNumber(bytes[k]);
    }
    const RawNumber value = startBit >= 512 ? RawNumber(0) : (payload >> startBit) & BitMask(bitLength);
    if (value == rawValue) {
        return false;
    }
    rawValue = value;
    return true;
}

std::shared_ptr<Dbc_Attribute> TS_Signal::GetAttribute(const std::wstring& attribute) const
{
    return Lookup(attributeOverrides, attributes, attribute);
}

TS_Message::TS_Message(const TS_Message&) = default;
TS_Message::~TS_Message() = default;

std::shared_ptr<Dbc_Attribute> TS_Message::GetAttribute(const std::wstring& attribute) const
{
    return Lookup(attributeOverrides, attributes, attribute);
}

const std::vector<const TS_Signal*>& TS_Message::SignalsInNameOrder() const
{
    // The signal table is filled while the database is read and only read afterwards; a table that
    // grew since (models built by hand) is taken again.
    if (signalOrder_.size() != signals.size()) {
        signalOrder_.clear();
        signalOrder_.reserve(signals.size());
        for (const auto& [signalName, sig] : signals) {
            signalOrder_.push_back(sig.get());
        }
    }
    return signalOrder_;
}

std::size_t TS_Message::PayloadLength() const
{
    // A length beyond the largest CAN FD frame comes only from a broken database.
    return std::min<std::size_t>(length, kMaxPayload);
}

TS_Message::Payload TS_Message::Compose(const std::uint32_t* multiplexorValue,
                                       std::vector<const TS_Signal*>* driven) const
{
    std::array<std::uint8_t, kMaxPayload> bytes{};
    const TS_Signal* multiplexor = multiplex.multiplexor.get();
    if (multiplexor != nullptr && multiplexorValue != nullptr) {
        OrInto(bytes, multiplexor->startBit, multiplexor->bitLength, RawNumber(*multiplexorValue));
        if (const auto it = multiplex.signalsByValue.find(*multiplexorValue); it != multiplex.signalsByValue.end()) {
            for (const auto& sig : it->second) {
                OrInto(bytes, sig->startBit, sig->bitLength, sig->rawValue);
            }
        }
    }
    const std::vector<const TS_Signal*>& all = SignalsInNameOrder();
    // The signals lie scattered in memory: ask for all of them before reading any, so that their
    // loads overlap instead of waiting one after the other.
    for (const TS_Signal* sig : all) {
        __builtin_prefetch(&sig->startBit);
        __builtin_prefetch(&sig->signalType);
    }
    for (const TS_Signal* sig : all) {
        if (driven != nullptr && sig->signalType == kDynamicSignal && sig->dynamicControl != kNoControl) {
            driven->push_back(sig);
        }
        if (multiplexor != nullptr && (sig->isMultiplexed || sig == multiplexor)) {
            continue;
        }
        OrInto(bytes, sig->startBit, sig->bitLength, sig->rawValue);
    }
    Payload out(PayloadLength(), 0);
    std::copy_n(bytes.begin(), out.size(), out.begin());
    return out;
}

std::vector<TS_Message::Payload> TS_Message::GetPayloads() const
{
    std::vector<Payload> out;
    if (!multiplex.multiplexor) {
        out.push_back(Compose(nullptr, nullptr));
        return out;
    }
    out.reserve(multiplex.values.size());
    for (const std::uint32_t value : multiplex.values) {
        out.push_back(Compose(&value, nullptr));
    }
    return out;
}

TS_Message::Payload TS_Message::GetFirstPayload(std::vector<const TS_Signal*>* driven) const
{
    if (!multiplex.multiplexor || !multiplex.values.empty()) {
        return Compose(multiplex.multiplexor ? &multiplex.values.front() : nullptr, driven);
    }
    if (driven != nullptr) {
        Compose(nullptr, driven);
    }
    return Payload(PayloadLength(), 0);
}

TS_DatabaseFile::TS_DatabaseFile() = default;
TS_DatabaseFile::~TS_DatabaseFile() = default;

int TS_DatabaseFile::Load(const std::wstring& filePath)
{
    path = filePath;
    return ReadFromFile(filePath, L"de-DE") == 0 ? 0 : 1;
}

int TS_DatabaseFile::ProcessAttributes()
{
    Template_Database_File::ProcessAttributes();
    for (auto& [signalName, sig] : network->signals) {
        sig->rawValue = sig->initialRawValue;
    }
    for (const auto& [id, message] : network->messages) {
        message->SignalsInNameOrder();
    }
    return 0;
}

}  // namespace torvik::studio
