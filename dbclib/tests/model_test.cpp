// Attribute lookup, value coding and sharing semantics of the model, on items built by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include <dbclib/dbc.hpp>

namespace kq::dbclib {
namespace {

std::shared_ptr<Dbc_Signal> MakeSignal(ValueType type, std::uint32_t start, std::uint32_t length,
                                       double factor, double offset, double minimum, double maximum)
{
    return std::make_shared<Dbc_Signal>(L"S", std::weak_ptr<Dbc_Message>(), start, length, type, ByteOrder::Intel,
                                        factor, offset, minimum, maximum, L"", std::vector<std::weak_ptr<Dbc_Node>>{},
                                        std::make_shared<Dbc_Network>());
}

TEST(Attributes, OwnValueThenDefaultThenNothing)
{
    auto net = std::make_shared<Dbc_Network>();
    auto cycle = std::make_shared<Dbc_IntAttributeDef>(L"GenMsgCycleTime", 0, 65535);
    cycle->defaultValue = 100;
    (*net->messageDefinitions)[L"GenMsgCycleTime"] = cycle;
    (*net->messageDefinitions)[L"Weight"] = std::make_shared<Dbc_FloatAttributeDef>(L"Weight", 0.0, 1.0);
    auto sendType = std::make_shared<Dbc_EnumAttributeDef>(L"GenMsgSendType",
                                                          std::vector<std::wstring>{L"Cyclic", L"IfActive"});
    (*net->messageDefinitions)[L"GenMsgSendType"] = sendType;

    Dbc_Message msg(1, L"M", 8, {}, net);
    bool isDefault = false;
    EXPECT_EQ(msg.GetIntAttributeValue(L"GenMsgCycleTime", &isDefault, true), 100);
    EXPECT_TRUE(isDefault);

    msg.attributes[L"GenMsgCycleTime"] = std::make_shared<Dbc_AttributeSpec<int>>(cycle, 20);
    EXPECT_EQ(msg.GetIntAttributeValue(L"GenMsgCycleTime", &isDefault, true), 20);
    EXPECT_FALSE(isDefault);

    // Unknown name: 0 and the flag left as it was.
    isDefault = true;
    EXPECT_EQ(msg.GetIntAttributeValue(L"Nope", &isDefault, true), 0);
    EXPECT_TRUE(isDefault);
    isDefault = false;
    EXPECT_EQ(msg.GetIntAttributeValue(L"Nope", &isDefault, true), 0);
    EXPECT_FALSE(isDefault);

    // A Float attribute asked as Int with checkKind gives 0 and leaves the flag.
    isDefault = true;
    EXPECT_EQ(msg.GetIntAttributeValue(L"Weight", &isDefault, true), 0);
    EXPECT_TRUE(isDefault);

    // Enum values are indices.
    msg.attributes[L"GenMsgSendType"] = std::make_shared<Dbc_AttributeSpec<int>>(sendType, 1);
    EXPECT_EQ(msg.GetEnumAttributeValue(L"GenMsgSendType", nullptr, true), 1);
    EXPECT_TRUE(msg.HasAttribute(L"GenMsgSendType"));
    EXPECT_FALSE(msg.HasAttribute(L"Weight"));

    // A definition added later is seen by the existing item through the shared table.
    (*net->messageDefinitions)[L"Late"] = std::make_shared<Dbc_StringAttributeDef>(L"Late");
    static_cast<Dbc_StringAttributeDef&>(*(*net->messageDefinitions)[L"Late"]).defaultValue = L"x";
    EXPECT_EQ(msg.GetStringAttributeValue(L"Late", &isDefault, true), L"x");
}

TEST(Model, CopiedDatabaseSharesItsSignals)
{
    Dbc_File a;
    auto msg = std::make_shared<Dbc_Message>(5, L"M", 8, std::vector<std::weak_ptr<Dbc_Node>>{}, a.network);
    auto sig = std::make_shared<Dbc_Signal>(L"S", msg, 0, 8, ValueType::Unsigned, ByteOrder::Intel, 1.0, 0.0, 0.0,
                                            0.0, L"", std::vector<std::weak_ptr<Dbc_Node>>{}, a.network);
    msg->signals[L"S"] = sig;
    a.network->messages[5] = msg;

    Dbc_File b(a);
    b.network->messages[5]->signals[L"S"]->factor = 2.5;
    EXPECT_EQ(a.network->messages[5]->signals[L"S"]->factor, 2.5);

    Dbc_File c(std::move(b));
    EXPECT_EQ(c.network, a.network);
}

// The library's classes copy and move whole: a copy, constructed or assigned, shares the items of its
// source; a move leaves the source's containers empty.
TEST(Model, ItemsCopyAndMoveWhole)
{
    static_assert(std::is_copy_assignable_v<Dbc_Network> && std::is_move_assignable_v<Dbc_Network>);
    static_assert(std::is_copy_assignable_v<Dbc_Node> && std::is_move_assignable_v<Dbc_Node>);
    static_assert(std::is_copy_assignable_v<Dbc_Message> && std::is_move_assignable_v<Dbc_Message>);
    static_assert(std::is_nothrow_move_constructible_v<Dbc_Signal> && std::is_copy_assignable_v<Dbc_Signal>);

    Dbc_File file;
    auto msg = std::make_shared<Dbc_Message>(5, L"M", 8, std::vector<std::weak_ptr<Dbc_Node>>{}, file.network);
    auto sig = std::make_shared<Dbc_Signal>(L"S", msg, 0, 8, ValueType::Unsigned, ByteOrder::Intel, 1.0, 0.0, 0.0,
                                            0.0, L"", std::vector<std::weak_ptr<Dbc_Node>>{}, file.network);
    sig->valueDescriptions[1] = L"on";
    msg->signals[L"S"] = sig;

    Dbc_Message assigned(7, L"Other", 1, {}, file.network);
    assigned = *msg;
    EXPECT_EQ(assigned.id, 5u);
    EXPECT_EQ(assigned.signals.at(L"S"), sig);

    Dbc_Signal moved(std::move(*sig));
    EXPECT_EQ(moved.valueDescriptions.at(1), L"on");
    EXPECT_TRUE(sig->valueDescriptions.empty());
    EXPECT_EQ(moved.message.lock(), msg);

    Dbc_Network network;
    network = *file.network;
    EXPECT_EQ(network.messageDefinitions, file.network->messageDefinitions);
    Dbc_Node node(L"N", file.network);
    Dbc_Node other(L"O", nullptr);
    other = std::move(node);
    EXPECT_EQ(other.name, L"N");
    EXPECT_EQ(other.definitions, file.network->nodeDefinitions);
}

struct GetCase {
    ValueType type;
    std::uint32_t length;
    double factor, offset, minimum, maximum;
    RawNumber raw;
    double physical;
    bool ok;
};

TEST(ValueCoding, GetValue)
{
    const RawNumber minusOne = ~RawNumber(0);
    const GetCase cases[] = {
        {ValueType::Unsigned, 8, 0.5, -10, 0, 0, 100, 40.0, true},
        {ValueType::Unsigned, 8, 0.5, -10, 0, 0, 256, 118.0, false},
        {ValueType::Signed, 8, 1, 0, 0, 0, minusOne, -1.0, true},
        {ValueType::Signed, 8, 1, 0, 0, 0, 0xFF, 255.0, false},
        {ValueType::Signed, 8, 1, 0, 0, 0, 0x7F, 127.0, true},
        {ValueType::Signed, 8, 1, 0, 0, 0, RawNumber(0) - 128, -128.0, true},
        {ValueType::Signed, 8, 1, 0, 0, 0, RawNumber(0) - 129, -129.0, false},
        {ValueType::Unsigned, 8, 1, 0, 0, 100, 150, 150.0, false},
        {ValueType::Unsigned, 8, 1, 0, 0, 0, 150, 150.0, true},
        {ValueType::Unsigned, 8, 1, 0, 10, 0, 5, 5.0, false},
        {ValueType::Float, 32, 2, 1, 0, 0, 0x3F800000, 3.0, true},
        {ValueType::Double, 64, 1, 0, 0, 0, 0x4000000000000000ull, 2.0, true},
        {ValueType::Unsigned, 64, 1, 0, 0, 0, RawNumber(1) << 64, 18446744073709551616.0, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto& c = cases[i];
        auto sig = MakeSignal(c.type, 0, c.length, c.factor, c.offset, c.minimum, c.maximum);
        double physical = -999;
        EXPECT_EQ(sig->GetValue(physical, c.raw), c.ok);
        EXPECT_DOUBLE_EQ(physical, c.physical);
        EXPECT_EQ(sig->CheckRawValue(c.raw), c.ok);
    }
}

TEST(ValueCoding, ParseValue)
{
    auto sig = MakeSignal(ValueType::Unsigned, 0, 8, 0.5, -10, 0, 0);
    RawNumber raw;
    EXPECT_TRUE(sig->ParseValue(40.0, raw));
    EXPECT_EQ(raw, 100);
    EXPECT_TRUE(sig->ParseValue(40.1, raw));
    EXPECT_EQ(raw, 101);  // rounded up
    EXPECT_FALSE(sig->ParseValue(200.0, raw));
    EXPECT_EQ(raw, 420);  // kept although it does not fit

    // Below the offset the raw value wraps to its 512-bit two's complement.
    EXPECT_FALSE(sig->ParseValue(-11.0, raw));
    EXPECT_EQ(raw, RawNumber(0) - 2);

    for (ValueType type : {ValueType::Signed, ValueType::Float, ValueType::Double}) {
        auto other = MakeSignal(type, 0, 8, 1, 0, 0, 0);
        RawNumber untouched = 77;
        EXPECT_FALSE(other->ParseValue(1.0, untouched));
        EXPECT_EQ(untouched, 77);
    }

    auto limited = MakeSignal(ValueType::Unsigned, 0, 8, 1, 0, 0, 100);
    RawNumber untouched = 5;
    EXPECT_FALSE(limited->ParseValue(150, untouched));
    EXPECT_EQ(untouched, 5);

    // The fit check works on 64 bits: above 64 bits only zero passes.
    auto wide = MakeSignal(ValueType::Unsigned, 0, 65, 1, 0, 0, 0);
    EXPECT_TRUE(wide->ParseValue(0.0, raw));
    EXPECT_FALSE(wide->ParseValue(1.0, raw));
    auto full = MakeSignal(ValueType::Unsigned, 0, 64, 1, 0, 0, 0);
    EXPECT_TRUE(full->ParseValue(1e18, raw));

    auto zeroFactor = MakeSignal(ValueType::Unsigned, 0, 8, 0.0, 0, 0, 0);
    EXPECT_THROW(zeroFactor->ParseValue(1.0, raw), std::runtime_error);
    EXPECT_THROW(sig->ParseValue(std::numeric_limits<double>::infinity(), raw), std::runtime_error);
}

}  // namespace
}  // namespace kq::dbclib
