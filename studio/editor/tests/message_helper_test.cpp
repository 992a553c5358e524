#include <gtest/gtest.h>

#include "editor_fixture.hpp"

namespace torvik::studio::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MessageHelperTest : public EditorTest {};

TEST_F(MessageHelperTest, ShowsIdentifiersInTheirShortOrExtendedForm)
{
    struct Case {
        std::uint32_t id;
        const wchar_t* shown;
        const char* logged;
    };
    const Case cases[] = {
        {0x123, L"0x123", "TS_MessageHelper - New helper for message id: 0x123, name: Engine."},
        {0x98FF0001, L"0x18FF0001x", "TS_MessageHelper - New helper for message id: 0x18FF0001x, name: Extended."},
        {0x8CF004FE, L"0x0CF004FEx", "TS_MessageHelper - New helper for message id: 0x0CF004FEx, name: Truck."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        grid_.Clear();
        TS_MessageHelper helper(Message(c.id), database_.network, grid_, logger_);
        EXPECT_EQ(Item(L"ID").text(), c.shown);
        EXPECT_FALSE(Item(L"ID").enabled());
        EXPECT_TRUE(Logged(c.logged));
    }
}

TEST_F(MessageHelperTest, LaysOutGroupsAndShowsFrameFormatOnlyWhenTheMessageHasOne)
{
    struct Case {
        std::uint32_t id;
        std::vector<std::wstring> general;
    };
    const Case cases[] = {
        {0x123, {L"ID", L"Name", L"DLC", L"Raw value", L"VFrameFormat"}},
        {0x400, {L"ID", L"Name", L"DLC", L"Raw value", L"VFrameFormat", L"CANFD_BRS"}},
        {0x98FF0001, {L"ID", L"Name", L"DLC", L"Raw value"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        grid_.Clear();
        TS_MessageHelper helper(Message(c.id), database_.network, grid_, logger_);
        EXPECT_EQ(Names(L"General"), c.general);
    }
    std::vector<std::wstring> groups;
    for (const auto& g : grid_.groups()) {
        groups.push_back(g->name());
    }
    EXPECT_EQ(groups, (std::vector<std::wstring>{L"General", L"Timing", L"Security", L"Protocols"}));
    EXPECT_EQ(Names(L"Timing"), (std::vector<std::wstring>{L"GenMsgSendType", L"GenMsgCycleTime"}));
    EXPECT_EQ(Names(L"Security"), (std::vector<std::wstring>{L"GenMsgChkConstant", L"GenMsgPDUConstants"}));
    EXPECT_TRUE(Item(L"GenMsgCycleTime").enabled());
    EXPECT_FALSE(Item(L"GenMsgSendType").enabled());
    EXPECT_TRUE(Item(L"Raw value").enabled());
}

TEST_F(MessageHelperTest, AttributeItemsFollowTheirDefinitionKind)
{
    TS_MessageHelper helper(Message(0x123), database_.network, grid_, logger_);
    auto& cycle = Item(L"GenMsgCycleTime");
    EXPECT_EQ(cycle.kind(), PropertyKind::Int);
    EXPECT_EQ(cycle.number(), 50);
    EXPECT_EQ(cycle.minimum, 0);
    EXPECT_EQ(cycle.maximum, 65535);
    auto& sendType = Item(L"GenMsgSendType");
    EXPECT_EQ(sendType.kind(), PropertyKind::List);
    EXPECT_EQ(sendType.text(), L"OnChange");
    EXPECT_EQ(sendType.options, (std::vector<std::wstring>{L"Cyclic", L"OnChange", L"IfActive"}));
    EXPECT_EQ(Item(L"GenMsgChkConstant").text(), L"0x0");
    EXPECT_EQ(Item(L"DLC").number(), 8);
}

TEST_F(MessageHelperTest, TypedPayloadIsPaddedTakenApartAndShownAgain)
{
    auto message = Message(0x123);
    TS_MessageHelper helper(message, database_.network, grid_, logger_);
    auto& raw = Item(L"Raw value");
    EXPECT_EQ(raw.text(), L"0x14 0x05 0x00 0x00 0x00 0x00 0x00 0x00");

    grid_.Edit(raw, std::wstring(L"0x01 0x02"));
    EXPECT_EQ(message->GetFirstPayload(), (Bytes{1, 2, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(raw.text(), L"0x01 0x02 0x00 0x00 0x00 0x00 0x00 0x00");
    EXPECT_EQ(message->signals.at(L"State")->rawValue, 2);
    EXPECT_TRUE(Logged("TS_MessageHelper - Raw value updated: 0x01 0x02 0x00 0x00 0x00 0x00 0x00 0x00."));
    EXPECT_EQ(changes_, 1);

    // Bytes past the message length are dropped.
    grid_.Edit(raw, std::wstring(L"0x1 0x2 0x3 0x4 0x5 0x6 0x7 0x8 0x9 0xA"));
    EXPECT_EQ(message->GetFirstPayload(), (Bytes{1, 2, 3, 0, 0, 0, 0, 0}));  // signals cover bytes 0..2 only
    EXPECT_EQ(changes_, 2);
}

TEST_F(MessageHelperTest, UnreadablePayloadRestoresTheTextAndChangesNothing)
{
    auto message = Message(0x123);
    TS_MessageHelper helper(message, database_.network, grid_, logger_);
    auto& raw = Item(L"Raw value");
    const std::wstring before = raw.text();
    for (const wchar_t* typed : {L"0x01 zz", L"{0x01 0x02}", L"0x", L"01 02"}) {
        SCOPED_TRACE(std::string(typed, typed + std::wcslen(typed)));
        grid_.Edit(raw, std::wstring(typed));
        EXPECT_EQ(raw.text(), before);
    }
    EXPECT_TRUE(Logged("TS_MessageHelper - Raw value can't be parsed (rawValue: 0x01 zz)."));
    EXPECT_EQ(message->GetFirstPayload(), (Bytes{0x14, 5, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(changes_, 0);
}

TEST_F(MessageHelperTest, MultiplexedPayloadSetsTheMultiplexorAndItsSignalsOnly)
{
    auto message = Message(0x300);
    TS_MessageHelper helper(message, database_.network, grid_, logger_);
    auto& raw = Item(L"Raw value");
    EXPECT_EQ(raw.text(), L"{0x01 0x00 0x00 0x00 0x00 0x00 0x00 0x00} {0x02 0x00 0x00 0x00 0x00 0x00 0x00 0x00}");

    grid_.Edit(raw, std::wstring(L"0x02 0x33 0x00 0x00 0x00 0x00 0x00 0x44"));
    EXPECT_EQ(message->signals.at(L"Mode")->rawValue, 2);
    EXPECT_EQ(message->signals.at(L"Fuel")->rawValue, 0x33);
    EXPECT_EQ(message->signals.at(L"Pressure")->rawValue, 0);
    EXPECT_EQ(message->signals.at(L"Counter")->rawValue, 0);
    EXPECT_EQ(raw.text(), L"{0x01 0x00 0x00 0x00 0x00 0x00 0x00 0x00} {0x02 0x33 0x00 0x00 0x00 0x00 0x00 0x00}");
}

TEST_F(MessageHelperTest, CycleTimeZeroIsRefusedAndOtherValuesGoIntoTheProject)
{
    auto message = Message(0x123);
    TS_MessageHelper helper(message, database_.network, grid_, logger_);
    auto& cycle = Item(L"GenMsgCycleTime");

    // Zero cannot be sent; 65536 is past the definition's bounds (INT 0 65535), whatever widget typed it.
    for (const long refused : {0L, 65536L, -1L}) {
        SCOPED_TRACE(refused);
        grid_.Edit(cycle, refused);
        EXPECT_EQ(cycle.number(), 50);
        EXPECT_EQ(message->GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true), 50);
        EXPECT_EQ(changes_, 0);
    }

    grid_.Edit(cycle, 20L);
    EXPECT_EQ(cycle.number(), 20);
    EXPECT_EQ(message->GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true), 20);
    EXPECT_EQ(changes_, 1);
    // The database keeps its own value; the project holds the override.
    const auto& own = dynamic_cast<const kq::dbclib::Dbc_AttributeSpec<int>&>(*message->attributes.at(L"GenMsgCycleTime"));
    EXPECT_EQ(own.value, 50);
    EXPECT_TRUE(Logged("TS_MessageHelper - Update attribute property GenMsgCycleTime in message Engine."));
    EXPECT_TRUE(Logged("TS_MessageHelper - own attribute inserted."));
}

TEST_F(MessageHelperTest, SecurityItemsStoreHexAndTextOverrides)
{
    auto message = Message(0x123);
    TS_MessageHelper helper(message, database_.network, grid_, logger_);
    auto& check = Item(L"GenMsgChkConstant");
    grid_.Edit(check, std::wstring(L"0x1a"));
    EXPECT_EQ(message->GetHexAttributeValue(L"GenMsgChkConstant", nullptr, true), 0x1A);
    EXPECT_EQ(check.text(), L"0x1A");
    grid_.Edit(check, std::wstring(L"zz"));
    EXPECT_EQ(check.text(), L"0x1A");
    EXPECT_EQ(message->GetHexAttributeValue(L"GenMsgChkConstant", nullptr, true), 0x1A);

    grid_.Edit(Item(L"GenMsgPDUConstants"), std::wstring(L"A5"));
    EXPECT_EQ(message->GetStringAttributeValue(L"GenMsgPDUConstants", nullptr, true), L"A5");
    EXPECT_EQ(changes_, 2);
}

}  // namespace
}  // namespace torvik::studio::test
