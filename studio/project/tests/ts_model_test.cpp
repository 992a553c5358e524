#include <array>
#include <random>

#include <gtest/gtest.h>

#include "model_builder.hpp"

namespace {

using namespace torvik::studio;
using torvik::studio::test::ModelBuilder;
using Bytes = std::vector<std::uint8_t>;

TEST(TS_Signal, PlacesAndTakesRawValuesByStartBitWhateverTheByteOrder)
{
    ModelBuilder b(L"Db");
    auto& m = b.AddMessage(1, L"M", 8);
    auto& intel = b.AddSignal(m, {L"Intel", 12, 4});
    auto& motorola = b.AddSignal(m, {L"Motorola", 12, 4, 0, 0, kq::dbclib::ByteOrder::Motorola});
    EXPECT_EQ(intel.PlaceRawValue(0x1F), RawNumber(0xF000));  // the excess bit is masked
    EXPECT_EQ(motorola.PlaceRawValue(0x1F), RawNumber(0xF000));

    const Bytes payload{0x00, 0xF0};
    EXPECT_TRUE(intel.TakeRawValue(payload));
    EXPECT_EQ(intel.rawValue, RawNumber(0xF));
    EXPECT_FALSE(intel.TakeRawValue(payload));  // unchanged
    EXPECT_TRUE(intel.TakeRawValue(Bytes{0x00, 0x30, 0xFF}));
    EXPECT_EQ(intel.rawValue, RawNumber(0x3));
}

TEST(TS_Signal, DefaultsComeFromTheLimitsWithTheMiddleAtHalfTheMaximum)
{
    ModelBuilder b(L"Db");
    auto& m = b.AddMessage(1, L"M", 8);
    const auto& s = b.AddSignal(m, {L"S", 0, 8, 10.0, 20.0});
    EXPECT_EQ(s.signalType, kConstantSignal);
    EXPECT_EQ(s.dynamicControl, kNoControl);
    EXPECT_EQ(s.startValue, RawNumber(10));
    EXPECT_EQ(s.endValue, RawNumber(20));
    EXPECT_EQ(s.middleValue, RawNumber(10));
}

TEST(TS_Message, PayloadsCarryEveryByteUpToTheMessageLength)
{
    ModelBuilder b(L"Db");
    auto& classic = b.AddMessage(1, L"Classic", 8);
    b.AddSignal(classic, {L"Top", 56, 8}).rawValue = 0xA5;
    b.AddSignal(classic, {L"Low", 0, 12}).rawValue = 0xFFF;
    EXPECT_EQ(classic.GetPayloads(), (std::vector<Bytes>{{0xFF, 0x0F, 0, 0, 0, 0, 0, 0xA5}}));

    auto& fd = b.AddMessage(2, L"Fd", 16);
    b.AddSignal(fd, {L"High", 64, 32}).rawValue = 0x12345678;
    b.AddSignal(fd, {L"Wide", 100, 80}).rawValue = RawNumber(1) << 79;  // longer than 64 bits, cut at byte 15
    EXPECT_EQ(fd.GetPayloads(),
              (std::vector<Bytes>{{0, 0, 0, 0, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0}}));
}

TEST(TS_Message, ComposedPayloadEqualsThePlacedValuesOfItsSignals)
{
    std::mt19937 rng(7);  // 32-bit results
    ModelBuilder b(L"Db");
    auto& m = b.AddMessage(1, L"M", 64);
    RawNumber expected = 0;
    for (int i = 0; i < 40; ++i) {
        const auto length = static_cast<std::uint32_t>(1 + rng() % 90);
        const auto start = static_cast<std::uint32_t>(rng() % 520);  // some past the payload's end
        auto& s = b.AddSignal(m, {L"S" + std::to_wstring(i), start, length});
        s.rawValue = (RawNumber(rng()) << 64) | (RawNumber(rng()) << 32) | RawNumber(rng());
        expected |= s.PlaceRawValue(s.rawValue);
    }
    Bytes want(64);
    for (std::size_t k = 0; k < 64; ++k) {
        want[k] = static_cast<std::uint8_t>(static_cast<unsigned>((expected >> (8 * k)) & 0xFF));
    }
    EXPECT_EQ(m.GetPayloads(), std::vector<Bytes>{want});
}

TEST(TS_Message, MultiplexedPayloadsFollowTheChosenValues)
{
    ModelBuilder b(L"Db");
    auto& m = b.AddMessage(1, L"M", 4);
    auto& mux = b.AddSignal(m, {L"Mux", 0, 8});
    b.SetMultiplexor(m, mux);
    mux.rawValue = 0x77;  // the chosen values stand in for the multiplexor's own value
    auto& a = b.AddSignal(m, {L"A", 8, 8});
    auto& c = b.AddSignal(m, {L"C", 8, 8});
    b.Multiplex(m, a, 1);
    b.Multiplex(m, c, 2);
    a.rawValue = 0xAA;
    c.rawValue = 0xCC;
    b.AddSignal(m, {L"Plain", 24, 8}).rawValue = 0x11;

    EXPECT_EQ(m.GetPayloads(), (std::vector<Bytes>{{1, 0xAA, 0, 0x11}, {2, 0xCC, 0, 0x11}}));
    m.multiplex.values = {2, 9};  // 9 is not in the table: multiplexor and plain signals only
    EXPECT_EQ(m.GetPayloads(), (std::vector<Bytes>{{2, 0xCC, 0, 0x11}, {9, 0, 0, 0x11}}));
    m.multiplex.values.clear();
    EXPECT_TRUE(m.GetPayloads().empty());
    EXPECT_EQ(m.GetFirstPayload(), (Bytes{0, 0, 0, 0}));
}

TEST(TS_Message, ProjectOverridesTakePrecedenceOverTheDatabase)
{
    ModelBuilder b(L"Db", 100);
    auto& m = b.AddMessage(1, L"M", 8);
    bool isDefault = false;
    EXPECT_EQ(m.GetIntAttributeValue(L"GenMsgCycleTime", &isDefault, true), 100);
    EXPECT_TRUE(isDefault);
    ModelBuilder::SetInt(m, L"GenMsgCycleTime", 20);
    m.attributeOverrides[L"GenMsgCycleTime"] =
        std::make_shared<kq::dbclib::Dbc_AttributeSpec<int>>(m.definitions->at(L"GenMsgCycleTime"), 50);
    EXPECT_EQ(m.GetIntAttributeValue(L"GenMsgCycleTime", &isDefault, true), 50);
    EXPECT_FALSE(isDefault);
}

}  // namespace
