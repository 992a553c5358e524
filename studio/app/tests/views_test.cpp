#include <gtest/gtest.h>

#include "fake_shell.hpp"

namespace torvik::studio::app::test {
namespace {

using Cell = MessageList::Cell;

// The example: EngineStatus 0x100 (Engine, CAN 1), BodySwitches 0x200 (Body, CAN 2), Diagnostics 0x300
// (Gateway, CAN 1 + 3, cycle time 0 here), VehicleSpeedFD 0x98FEF100 (Gateway, CAN FD, CAN 4), Unused 0x400.
class ViewsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window_.Start(example_.Path("simulation.tsp"));
        auto& diagnostics = list().MessageAt(Row(L"Diagnostics"));
        diagnostics.attributeOverrides.erase(L"GenMsgCycleTime");
        diagnostics.attributes[L"GenMsgCycleTime"] = std::make_shared<kq::dbclib::Dbc_AttributeSpec<int>>(
            diagnostics.definitions->at(L"GenMsgCycleTime"), 0);
    }
    MessageList& list() { return window_.messages(); }
    std::size_t Row(const std::wstring& name)
    {
        for (std::size_t r = 0; r < list().RowCount(); ++r) {
            if (list().MessageAt(r).name == name) {
                return r;
            }
        }
        ADD_FAILURE() << "no row";
        return 0;
    }
    std::vector<std::wstring> Names()
    {
        std::vector<std::wstring> names;
        for (std::size_t r = 0; r < list().RowCount(); ++r) {
            names.push_back(list().Text(r, MessageList::kName));
        }
        return names;
    }
    std::vector<std::wstring> TreeTexts()
    {
        std::vector<std::wstring> texts;
        for (const auto& root : window_.tree().roots()) {
            texts.push_back(root.text);
        }
        return texts;
    }

    ExampleFolder example_;
    FakeShell shell_;
    MainWindow window_{shell_, TestLogger(), example_.folder()};
};

TEST_F(ViewsTest, CanFdMessagesHaveCellsOnlyOnFdChannels)
{
    const std::size_t fd = Row(L"VehicleSpeedFD");
    EXPECT_EQ(list().CellAt(fd, 1), Cell::None);
    EXPECT_EQ(list().CellAt(fd, 2), Cell::None);
    EXPECT_EQ(list().CellAt(fd, 3), Cell::Unchecked);
    EXPECT_EQ(list().CellAt(fd, 4), Cell::Checked);
    const std::size_t classic = Row(L"Diagnostics");
    EXPECT_EQ(list().CellAt(classic, 1), Cell::Checked);
    EXPECT_EQ(list().CellAt(classic, 2), Cell::Unchecked);
    EXPECT_EQ(list().Text(classic, MessageList::kTransmitters), L"Gateway");
    EXPECT_EQ(list().Text(classic, MessageList::kDatabase), L"SimDemo");
    EXPECT_EQ(list().Text(classic, MessageList::kCan1), L"boolean");

    window_.Run(kCmdChannel3First);  // CAN 3 to HS 500
    EXPECT_EQ(list().CellAt(Row(L"VehicleSpeedFD"), 3), Cell::None);
    EXPECT_EQ(list().Toggle(Row(L"VehicleSpeedFD"), 3, shell_).changed, false);
}

TEST_F(ViewsTest, TickingAMessageWithoutCycleTimeAsksFirst)
{
    const std::size_t row = Row(L"Diagnostics");
    shell_.confirmations = {false};
    EXPECT_FALSE(list().Toggle(row, 2, shell_).changed);
    EXPECT_EQ(list().CellAt(row, 2), Cell::Unchecked);

    shell_.confirmations = {true};
    EXPECT_TRUE(list().Toggle(row, 2, shell_).changed);
    EXPECT_EQ(list().CellAt(row, 2), Cell::Checked);
    EXPECT_EQ(list().MessageAt(row).GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true), 1000);
    ASSERT_EQ(shell_.shown.size(), 2u);
    EXPECT_NE(shell_.shown.back().find(L"The selected message (Diagnostics) has cycle time zero."), std::wstring::npos);

    // Clearing asks nothing.
    EXPECT_TRUE(list().Toggle(row, 2, shell_).changed);
    EXPECT_EQ(shell_.shown.size(), 2u);
}

TEST_F(ViewsTest, BatchCommandsFollowTheFilterAndStopAtCancel)
{
    window_.SelectDatabaseFilter(1);
    const auto nodes = window_.NodeFilterEntries();
    ASSERT_EQ(nodes, (std::vector<std::wstring>{L"All nodes", L"Body", L"Engine", L"Gateway"}));
    window_.SelectNodeFilter(3);  // Gateway
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"Diagnostics", L"Unused", L"VehicleSpeedFD"}));
    EXPECT_TRUE(list().UnselectAll().changed);
    window_.SelectNodeFilter(0);
    EXPECT_EQ(list().MessageAt(Row(L"Diagnostics")).channelMask, 0);
    EXPECT_EQ(list().MessageAt(Row(L"EngineStatus")).channelMask, 1);  // another node's message stays

    // Diagnostics (cycle time 0) comes before Unused: Cancel there stops the batch with EngineStatus set.
    shell_.confirmations = {false};
    const auto change = list().SetAll(2, shell_);
    EXPECT_TRUE(change.changed);
    EXPECT_EQ(list().MessageAt(Row(L"EngineStatus")).channelMask, 3);
    EXPECT_EQ(list().MessageAt(Row(L"Unused")).channelMask, 0);

    shell_.confirmations = {true};
    list().SetAll(3, shell_);
    EXPECT_EQ(list().MessageAt(Row(L"Unused")).channelMask, 4);
    EXPECT_EQ(list().MessageAt(Row(L"VehicleSpeedFD")).channelMask, 4);
    EXPECT_EQ(shell_.shown.size(), 2u);  // one question per batch

    const auto removed = list().RemoveAll(3);
    EXPECT_EQ(removed.greying, std::vector<GreyingCode>{0x0301});
    EXPECT_EQ(list().MessageAt(Row(L"Diagnostics")).channelMask, 0);
}

TEST_F(ViewsTest, HeaderClicksSortAndReverse)
{
    list().SortBy(MessageList::kName);
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"BodySwitches", L"Diagnostics", L"EngineStatus", L"Unused",
                                                  L"VehicleSpeedFD"}));
    list().SortBy(MessageList::kName);
    EXPECT_EQ(Names().front(), L"VehicleSpeedFD");
    list().SortBy(MessageList::kCan1);  // ascending again: set boxes last
    EXPECT_TRUE(list().ascending());
    EXPECT_NE(list().CellAt(2, 1), Cell::Checked);
    EXPECT_EQ(list().CellAt(3, 1), Cell::Checked);
    EXPECT_EQ(list().CellAt(4, 1), Cell::Checked);
    list().SortBy(MessageList::kCan1);
    list().Fill();  // a refill keeps the order
    EXPECT_EQ(list().CellAt(0, 1), Cell::Checked);
    EXPECT_EQ(list().CellAt(1, 1), Cell::Checked);
}

TEST_F(ViewsTest, TreeShowsEachSelectedMessageOnceAndOnlyWithADatabaseFilter)
{
    EXPECT_TRUE(window_.tree().roots().empty());
    window_.SelectDatabaseFilter(1);
    EXPECT_EQ(TreeTexts(), (std::vector<std::wstring>{L"BodySwitches (SimDemo)", L"Diagnostics (SimDemo)",
                                                      L"EngineStatus (SimDemo)", L"VehicleSpeedFD (SimDemo)"}));
    const auto& engine = window_.tree().roots()[2];
    ASSERT_EQ(engine.children.size(), 4u);
    EXPECT_EQ(engine.children[0].text, L"CoolantTemp");

    window_.tree().Select(&window_.tree().roots()[1]);
    EXPECT_EQ(window_.tree().grid().caption, L"Message: Diagnostics");
    const std::size_t row = Row(L"Diagnostics");
    list().Toggle(row, 1, shell_);
    EXPECT_EQ(TreeTexts().size(), 4u);  // still on CAN 3
    list().Toggle(row, 3, shell_);
    window_.OnProjectChanged();
    EXPECT_EQ(TreeTexts().size(), 3u);
    EXPECT_EQ(window_.tree().helper(), nullptr);
}

}  // namespace
}  // namespace torvik::studio::app::test
