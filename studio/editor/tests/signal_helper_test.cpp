#include <gtest/gtest.h>

#include <editor/controls.hpp>

#include "editor_fixture.hpp"

namespace torvik::studio::test {
namespace {

using Names_ = std::vector<std::wstring>;

class SignalHelperTest : public EditorTest {
protected:
    std::unique_ptr<TS_SignalHelper> Open(std::uint32_t id, const std::wstring& name)
    {
        grid_.Clear();
        return std::make_unique<TS_SignalHelper>(Signal(id, name), Message(id), database_.network, grid_, logger_);
    }
    void Choose(const std::wstring& item, const std::wstring& entry) { grid_.Edit(Item(item), entry); }
};

TEST(ControlTable, NumbersAndPositionsMapBothWays)
{
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        EXPECT_EQ(ControlPositionOf(ControlNumberAt(i)), i);
    }
    EXPECT_EQ(ControlNumberAt(1), 5);   // "Potentiometer 1"
    EXPECT_EQ(ControlNumberAt(3), 0);   // "Potentiometer 3"
    EXPECT_EQ(ControlNumberAt(30), 29); // "DIP switch 12"
    EXPECT_EQ(ControlNumberAt(31), -1);
    EXPECT_EQ(ControlPositionOf(30), 0u);
    EXPECT_EQ(LabelsOf(7).end, L"Voltage cosi max");
    EXPECT_EQ(LabelsOf(9).start, L"Logical zero");
    EXPECT_EQ(LabelsOf(10).middle, L"Switch middle");
    EXPECT_EQ(LabelsOf(12).middle, L"");
    EXPECT_EQ(LabelsOf(17).end, L"Random max");
    EXPECT_EQ(LabelsOf(29).start, L"Position OFF");
    EXPECT_EQ(LabelsOf(30).end, L"");
    EXPECT_EQ(LabelsOf(-1).end, L"");
}

TEST_F(SignalHelperTest, ChosenControlShowsItsPositionPairs)
{
    struct Case {
        const wchar_t* control;
        std::int32_t number;
        Names_ items;
    };
    const Case cases[] = {
        {L"Potentiometer 1", 5,
         {L"Potentiometer max value", L"Potentiometer max raw value", L"Potentiometer min value",
          L"Potentiometer min raw value"}},
        {L"Switch 4", 13,
         {L"Switch up value", L"Switch up raw value", L"Switch middle value", L"Switch middle raw value",
          L"Switch down value", L"Switch down raw value"}},
        {L"Switch 2", 11, {L"Switch up value", L"Switch up raw value", L"Switch down value", L"Switch down raw value"}},
        {L"DIP switch 3", 20, {L"Position ON value", L"Position ON raw value", L"Position OFF value", L"Position OFF raw value"}},
        {L"No control", -1, {}},
    };
    auto signal = Signal(0x123, L"Level");
    auto helper = Open(0x123, L"Level");
    EXPECT_EQ(Names(L"General"), (Names_{L"Name", L"Modification type", L"Value", L"Raw value"}));
    Choose(L"Modification type", L"Dynamic");
    EXPECT_EQ(signal->signalType, kDynamicSignal);
    EXPECT_EQ(Names(L"General"), (Names_{L"Name", L"Modification type", L"Dynamic control"}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        Choose(L"Dynamic control", c.control);
        EXPECT_EQ(signal->dynamicControl, c.number);
        Names_ want{L"Name", L"Modification type", L"Dynamic control"};
        want.insert(want.end(), c.items.begin(), c.items.end());
        EXPECT_EQ(Names(L"General"), want);
    }
    Choose(L"Modification type", L"Constant");
    EXPECT_EQ(signal->signalType, kConstantSignal);
    EXPECT_EQ(Names(L"General"), (Names_{L"Name", L"Modification type", L"Value", L"Raw value"}));
    EXPECT_EQ(changes_, 1 + 5 + 1);
}

TEST_F(SignalHelperTest, ReopenedDynamicSignalShowsItsControlAndValues)
{
    auto signal = Signal(0x123, L"Level");
    signal->signalType = kDynamicSignal;
    signal->dynamicControl = 5;
    signal->endValue = 90;
    auto helper = Open(0x123, L"Level");
    EXPECT_EQ(Item(L"Dynamic control").text(), L"Potentiometer 1");
    EXPECT_EQ(Item(L"Dynamic control").kind(), PropertyKind::List);
    EXPECT_EQ(Item(L"Potentiometer max raw value").text(), L"0x5A");
    EXPECT_EQ(Item(L"Potentiometer max value").text(), L"90.000000");
    EXPECT_EQ(Item(L"Potentiometer max raw value").description(), L"Raw value of selected signal");
}

TEST_F(SignalHelperTest, RawValuesOutsideTheSignalRollBack)
{
    // Level: 8 bits unsigned, factor 1, offset 0, limits 10..100.
    struct Case {
        const wchar_t* item;
        const wchar_t* typed;
        unsigned stored;
        const char* logged;
    };
    const Case cases[] = {
        {L"Potentiometer min raw value", L"0x100", 10, "TS_SignalHelper - Signal rawValue roll back to: 0xA."},
        {L"Potentiometer min raw value", L"0x40", 64, "TS_SignalHelper - Signal rawValue updated to: 0x40."},
        {L"Potentiometer min raw value", L"010", 10, nullptr},  // octal 8, below the minimum
        {L"Potentiometer min raw value", L" 50 ", 50, nullptr},
        {L"Potentiometer min raw value", L"5x", 10, nullptr},
        {L"Potentiometer max raw value", L"101", 100, nullptr},
        {L"Potentiometer max value", L"150", 100, "TS_SignalHelper - Signal value roll back to: 0x64."},
        {L"Potentiometer max value", L"42.5", 43, "TS_SignalHelper - Signal value updated to: 0x2B."},
        {L"Potentiometer max value", L"inf", 100, nullptr},
        {L"Potentiometer max value", L"12abc", 100, nullptr},
    };
    auto signal = Signal(0x123, L"Level");
    auto helper = Open(0x123, L"Level");
    Choose(L"Modification type", L"Dynamic");
    Choose(L"Dynamic control", L"Potentiometer 1");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.typed, c.typed + std::wcslen(c.typed)));
        grid_.Edit(Item(c.item), std::wstring(c.typed));
        const bool start = std::wstring(c.item).find(L"min") != std::wstring::npos;
        EXPECT_EQ(start ? signal->startValue : signal->endValue, c.stored);
        if (c.logged != nullptr) {
            EXPECT_TRUE(Logged(c.logged));
        }
    }
    EXPECT_EQ(Item(L"Potentiometer min raw value").text(), L"0xA");
    EXPECT_EQ(Item(L"Potentiometer min value").text(), L"10.000000");
    EXPECT_TRUE(Logged("TS_SignalHelper - Signal dynamic start rawValue updated."));
    EXPECT_TRUE(Logged("TS_SignalHelper - Signal dynamic end value updated."));
    EXPECT_FALSE(ParseRawNumber(L"0x1" + std::wstring(128, L'0')).has_value());  // 513 bits
    EXPECT_TRUE(ParseRawNumber(L"0x" + std::wstring(128, L'F')).has_value());
}

TEST_F(SignalHelperTest, ConstantValueUsesDescriptionsAndRollsBackToTheValueBefore)
{
    auto signal = Signal(0x123, L"State");
    auto helper = Open(0x123, L"State");
    EXPECT_EQ(Item(L"Initial value").text(), L"Idle");
    EXPECT_EQ(Item(L"Initial RAW value").text(), L"0x5");
    auto& value = Item(L"Value");
    EXPECT_EQ(value.kind(), PropertyKind::EditableList);
    EXPECT_EQ(value.text(), L"Idle");
    EXPECT_EQ(value.options, (Names_{L"Idle", L"Run"}));

    grid_.Edit(value, std::wstring(L"Run"));
    EXPECT_EQ(signal->rawValue, 6);
    EXPECT_EQ(Item(L"Raw value").text(), L"0x6");
    grid_.Edit(value, std::wstring(L"3"));
    EXPECT_EQ(signal->rawValue, 3);
    EXPECT_EQ(value.text(), L"3.000000");
    grid_.Edit(value, std::wstring(L"nonsense"));
    EXPECT_EQ(signal->rawValue, 3);
    grid_.Edit(Item(L"Raw value"), std::wstring(L"0x10"));  // five bits for a four-bit signal
    EXPECT_EQ(signal->rawValue, 3);
    EXPECT_TRUE(Logged("TS_SignalHeper - Signal constant rawValue updated."));
    EXPECT_TRUE(Logged("TS_SignalHelper - Signal constant value updated."));
    EXPECT_EQ(changes_, 2);
}

TEST_F(SignalHelperTest, SignedSignalRollsBackToZero)
{
    auto signal = Signal(0x123, L"Offset");
    auto helper = Open(0x123, L"Offset");
    EXPECT_EQ(Item(L"Value type").text(), L"Signed");
    Choose(L"Modification type", L"Dynamic");
    Choose(L"Dynamic control", L"Switch 1");
    signal->middleValue = 7;
    grid_.Edit(Item(L"Switch middle value"), std::wstring(L"5"));
    EXPECT_EQ(signal->middleValue, 0);
    grid_.Edit(Item(L"Switch middle raw value"), std::wstring(L"0x7F"));
    EXPECT_EQ(signal->middleValue, 0x7F);
    EXPECT_EQ(Item(L"Switch middle value").text(), L"127.000000");
}

TEST_F(SignalHelperTest, MultiplexorValuesAreReadInTheOrderTyped)
{
    auto message = Message(0x300);
    auto helper = Open(0x300, L"Mode");
    EXPECT_TRUE(Logged("TS_SignalHepler - Signal is multiplexor."));
    EXPECT_EQ(Item(L"Modification type").text(), L"Multiplexer");
    EXPECT_FALSE(Item(L"Modification type").enabled());
    auto& values = Item(L"Multiplexor values");
    EXPECT_EQ(values.text(), L"1 2");

    for (const wchar_t* typed : {L"1 2 x", L"1,2", L"-1", L"99999999999"}) {
        grid_.Edit(values, std::wstring(typed));
        EXPECT_EQ(values.text(), L"1 2");
    }
    EXPECT_TRUE(Logged("TS_SignalHelper - multiplexor values can't be parsed (sequence: 1 2 x)."));
    grid_.Edit(values, std::wstring(L" 2  1"));
    EXPECT_EQ(message->multiplex.values, (std::vector<std::uint32_t>{2, 1}));
    EXPECT_EQ(values.text(), L"2 1 ");
    EXPECT_EQ(changes_, 1);
}

TEST_F(SignalHelperTest, SignalsOfAMultiplexedMessageShowWhereTheyAreStored)
{
    auto helper = Open(0x300, L"Pressure");
    EXPECT_EQ(Item(L"Multiplex").text(), L"1");
    EXPECT_TRUE(Logged("TS_SignalHelper - Signal is multiplexed."));
    helper = Open(0x300, L"Counter");
    EXPECT_EQ(Item(L"Multiplex").text(), L"Not multiplexed");
    EXPECT_EQ(Names(L"General"), (Names_{L"Name", L"Multiplex", L"Modification type", L"Value", L"Raw value"}));
    EXPECT_EQ(Names(L"Timing"), (Names_{L"GenSigSendType"}));
    EXPECT_FALSE(Item(L"GenSigSendType").enabled());
}

}  // namespace
}  // namespace torvik::studio::test
