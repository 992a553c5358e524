#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include <device/port_choice.hpp>
#include <device/temporary_files.hpp>
#include <platform/ports.hpp>

#include "fake_shell.hpp"

namespace torvik::studio::app::test {
namespace {

using Answer = Prompt::Answer;

constexpr std::uint32_t kFdMessage = 0x98FEF100;  // VehicleSpeedFD, on CAN 4 in the example

class MainWindowTest : public ::testing::Test {
protected:
    void OpenExample() { window_.Start(example_.Path("simulation.tsp")); }
    TS_Message& Message(std::uint32_t id) { return *window_.project()->GetDatabase(0)->network->messages.at(id); }
    bool Shown(const std::wstring& text) const
    {
        return std::find(shell_.shown.begin(), shell_.shown.end(), text) != shell_.shown.end();
    }

    ExampleFolder example_;
    FakeShell shell_;
    MainWindow window_{shell_, TestLogger(), example_.folder()};
};

TEST_F(MainWindowTest, WithoutProjectOnlyProjectFreeCommandsAreEnabled)
{
    window_.Start(L"");
    EXPECT_EQ(window_.Title(), L"Torvik Studio");
    const int greyed[] = {kCmdSaveProject, kCmdSaveProjectAs, kCmdCloseProject, kCmdImportDbc,
                          kCmdUpload,      kCmdChannel3First, kCmdChannel4First + 3, kCmdRemoveDbcFirst};
    for (int id : greyed) {
        EXPECT_FALSE(window_.IsEnabled(id)) << id;
        EXPECT_FALSE(window_.Run(id)) << id;
    }
    const int enabled[] = {kCmdNewProject, kCmdOpenProject, kCmdSettings, kCmdExit, kCmdDeviceInfo, kCmdManual, kCmdAbout};
    for (int id : enabled) {
        EXPECT_TRUE(window_.IsEnabled(id)) << id;
    }
    EXPECT_FALSE(window_.HasProject());
}

TEST_F(MainWindowTest, NewProjectIsModifiedAndClosingItAsks)
{
    window_.NewProject();
    EXPECT_EQ(window_.Title(), L"*New project - Torvik Studio");
    EXPECT_TRUE(window_.IsEnabled(kCmdSaveProject));
    EXPECT_TRUE(window_.IsChecked(kCmdChannel3First + 3));  // FD 500/2,000 by default
    EXPECT_FALSE(window_.IsChecked(kCmdChannel3First));

    shell_.answers = {Answer::Cancel};
    EXPECT_FALSE(window_.CloseProject());
    EXPECT_TRUE(Shown(L"yes/no/cancel: Would you like to save the project?"));
    EXPECT_TRUE(window_.HasProject());

    shell_.answers = {Answer::No};
    EXPECT_TRUE(window_.CloseProject());
    EXPECT_EQ(window_.Title(), L"Torvik Studio");
}

TEST_F(MainWindowTest, CancelledOrFailedSaveKeepsTheProjectOpenAndModified)
{
    window_.NewProject();
    shell_.answers = {Answer::Yes};
    shell_.files = {std::nullopt};  // save dialog cancelled
    EXPECT_FALSE(window_.Exit());
    EXPECT_TRUE(window_.HasProject());

    shell_.answers = {Answer::Yes};
    shell_.files = {example_.Path("missing/folder/new.tsp")};
    EXPECT_FALSE(window_.Exit());
    EXPECT_TRUE(window_.HasProject());
    EXPECT_TRUE(window_.project()->IsModified());
    const std::wstring failed = L"warn: Project '" + example_.Path("missing/folder/new.tsp") + L"' can't be saved";
    EXPECT_TRUE(std::any_of(shell_.shown.begin(), shell_.shown.end(),
                            [&](const std::wstring& line) { return line.starts_with(failed); }));

    shell_.answers = {Answer::Yes};
    shell_.files = {example_.Path("new.tsp")};
    EXPECT_TRUE(window_.Exit());
    EXPECT_TRUE(std::filesystem::exists(example_.folder() / "new.tsp"));
}

TEST_F(MainWindowTest, OpensTheCommandLineProjectWithItsChannelSetups)
{
    OpenExample();
    ASSERT_TRUE(window_.HasProject());
    EXPECT_EQ(window_.Title(), L"simulation - Torvik Studio");
    EXPECT_FALSE(window_.IsEnabled(kCmdSaveProject));
    EXPECT_TRUE(window_.IsChecked(kCmdChannel3First + 3));  // Setup3=6
    EXPECT_TRUE(window_.IsChecked(kCmdChannel4First + 1));  // Setup4=4
    EXPECT_FALSE(window_.IsHsEnabled(4));                   // a CAN FD message is on CAN 4
    EXPECT_TRUE(window_.IsHsEnabled(3));
    EXPECT_EQ(window_.RemovalEntries(), std::vector<std::wstring>{L"SimDemo"});
    EXPECT_EQ(window_.DatabaseFilterEntries(), (std::vector<std::wstring>{L"All databases", L"SimDemo"}));
    EXPECT_EQ(window_.messages().RowCount(), 5u);
}

TEST_F(MainWindowTest, UnreadableStartupProjectWarnsAndLeavesNoProject)
{
    window_.Start(example_.Path("nothing.tsp"));
    EXPECT_FALSE(window_.HasProject());
    EXPECT_TRUE(Shown(L"warn: Project '" + example_.Path("nothing.tsp") + L"' can't be loaded."));
}

TEST_F(MainWindowTest, OpenAsksAboutUnsavedChangesFirst)
{
    window_.NewProject();
    shell_.answers = {Answer::Cancel};
    EXPECT_FALSE(window_.OpenProject());
    EXPECT_FALSE(Shown(L"choose project"));

    shell_.answers = {Answer::No};
    shell_.files = {example_.Path("simulation.tsp")};
    EXPECT_TRUE(window_.OpenProject());
    EXPECT_EQ(window_.project()->GetProjectName(), L"simulation");
}

TEST_F(MainWindowTest, ChangedSettingSurvivesSaveAndReopen)
{
    OpenExample();
    window_.SelectDatabaseFilter(1);
    const auto& roots = window_.tree().roots();
    const auto root = std::find_if(roots.begin(), roots.end(), [](const TreeItem& i) { return i.text == L"EngineStatus (SimDemo)"; });
    ASSERT_NE(root, roots.end());
    const auto signal = std::find_if(root->children.begin(), root->children.end(),
                                     [](const TreeItem& i) { return i.text == L"CoolantTemp"; });
    ASSERT_NE(signal, root->children.end());
    window_.tree().Select(&*signal);
    EXPECT_EQ(window_.tree().grid().caption, L"Signal: CoolantTemp");
    auto* raw = window_.tree().grid().Find(L"Raw value");
    ASSERT_NE(raw, nullptr);
    window_.tree().PropertyChanged(*raw, std::wstring(L"0x50"));
    EXPECT_EQ(window_.Title(), L"*simulation - Torvik Studio");
    EXPECT_TRUE(window_.Run(kCmdSaveProject));
    EXPECT_EQ(window_.Title(), L"simulation - Torvik Studio");
    EXPECT_FALSE(window_.IsEnabled(kCmdSaveProject));

    shell_.files = {example_.Path("simulation.tsp")};
    EXPECT_TRUE(window_.OpenProject());
    EXPECT_EQ(Message(0x100).signals.at(L"CoolantTemp")->rawValue, 0x50);
}

TEST_F(MainWindowTest, ImportingTheSameDatabaseTwiceIsRefused)
{
    OpenExample();
    shell_.files = {example_.Path("simulation.dbc")};
    window_.ImportDatabase();
    EXPECT_EQ(window_.RemovalEntries().size(), 1u);
    EXPECT_FALSE(window_.project()->IsModified());

    shell_.files = {example_.Path("example.dbc")};
    window_.ImportDatabase();
    EXPECT_EQ(window_.RemovalEntries().size(), 2u);
    EXPECT_TRUE(window_.project()->IsModified());
    EXPECT_TRUE(window_.IsEnabled(kCmdRemoveDbcFirst + 1));
}

TEST_F(MainWindowTest, RemovingADatabaseAsksOnlyWhenItHasSelectedMessages)
{
    OpenExample();
    shell_.files = {example_.Path("example.dbc")};
    window_.ImportDatabase();
    const std::size_t asked = shell_.shown.size();
    EXPECT_TRUE(window_.Run(kCmdRemoveDbcFirst + 1));
    EXPECT_EQ(shell_.shown.size(), asked);
    EXPECT_EQ(window_.RemovalEntries().size(), 1u);

    shell_.confirmations = {false};
    window_.Run(kCmdRemoveDbcFirst);
    EXPECT_TRUE(Shown(L"ok/cancel: Would you like to also remove all messages from database SimDemo you want to remove?"));
    EXPECT_EQ(window_.RemovalEntries().size(), 1u);
    shell_.confirmations = {true};
    window_.Run(kCmdRemoveDbcFirst);
    EXPECT_TRUE(window_.RemovalEntries().empty());
    EXPECT_EQ(window_.messages().RowCount(), 0u);
}

TEST_F(MainWindowTest, ChannelModeChangeMakesTheViewsCheckAgain)
{
    OpenExample();
    auto& list = window_.messages();
    const auto fdRow = [&] {
        for (std::size_t r = 0; r < list.RowCount(); ++r) {
            if (list.MessageAt(r).id == kFdMessage) {
                return r;
            }
        }
        return list.RowCount();
    };
    EXPECT_EQ(list.CellAt(fdRow(), 3), MessageList::Cell::Unchecked);
    const int replaced = shell_.replaced;
    window_.Run(kCmdChannel3First + 2);  // FD to FD: no mode change
    EXPECT_EQ(shell_.replaced, replaced);
    EXPECT_TRUE(window_.IsChecked(kCmdChannel3First + 2));
    EXPECT_EQ(window_.Title(), L"*simulation - Torvik Studio");
    window_.Run(kCmdChannel3First);  // HS
    EXPECT_EQ(shell_.replaced, replaced + 1);
    EXPECT_EQ(list.CellAt(fdRow(), 3), MessageList::Cell::None);
    // CAN 4 carries a CAN FD message, so its HS item is greyed and refused.
    EXPECT_FALSE(window_.Run(kCmdChannel4First));
    EXPECT_TRUE(window_.IsChecked(kCmdChannel4First + 1));
}

TEST_F(MainWindowTest, TickingCanFdMessagesGreysTheHsItemUntilNoneIsLeft)
{
    OpenExample();
    auto& list = window_.messages();
    std::size_t fd = 0;
    while (list.MessageAt(fd).id != kFdMessage) {
        ++fd;
    }
    auto tick = [&](std::uint32_t channel) {
        for (const GreyingCode code : list.Toggle(fd, channel, shell_).greying) {
            window_.OnGreyingCode(code);
        }
    };
    EXPECT_TRUE(window_.IsEnabled(kCmdChannel3First));
    tick(3);
    EXPECT_FALSE(window_.IsEnabled(kCmdChannel3First));
    tick(3);
    EXPECT_TRUE(window_.IsEnabled(kCmdChannel3First));
    tick(4);  // unticked: nothing else is FD on CAN 4
    EXPECT_TRUE(window_.IsEnabled(kCmdChannel4First));
}

TEST_F(MainWindowTest, DeviceCommandsOpenTheirWindowsAndUploadBuildsFirst)
{
    OpenExample();
    struct Case {
        int command;
        const char* title;
    };
    constexpr Case kCases[] = {{kCmdDeviceInfo, "Device information"},
                               {kCmdErase, "Simulation deletion"},
                               {kCmdFirmwareUpdate, "Device firmware update"},
                               {kCmdUpload, "Simulation upload"}};
    // Without a port the operations fail at once, naming the operation in the title.
    platform::SetPortTable(std::vector<platform::PortInfo>{});
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.title);
        shell_.dialogs.clear();
        window_.Run(c.command);
        ASSERT_EQ(shell_.dialogs.size(), 1u);
        struct : DeviceReportSink {
            void Deliver(const DeviceReport&) override {}
        } sink;
        NonInteractivePrompt prompt;
        auto dialog = shell_.dialogs[0](sink, prompt);
        EXPECT_FALSE(dialog->RunHere());
        EXPECT_EQ(dialog->base_title(), c.title);
    }
    platform::SetPortTable(std::nullopt);
    EXPECT_GT(window_.project()->GetUserBlockLength(), 0);
    // OilTemp of EngineStatus is a Motorola signal: the user hears how the device numbers its bits.
    EXPECT_TRUE(std::any_of(shell_.shown.begin(), shell_.shown.end(), [](const std::wstring& line) {
        return line.starts_with(L"info: Signals in Motorola") && line.ends_with(L"EngineStatus");
    }));
    window_.Run(kCmdAbout);
    EXPECT_TRUE(Shown(L"about: Torvik Studio, Version " + ProgramVersion() + L"."));
}

TEST_F(MainWindowTest, ExitRemovesTheDeviceWindowsTemporaryFiles)
{
    std::error_code error;
    const auto hex = TemporaryFiles::Program().Create("torvik-user-", ".hex", error);
    ASSERT_FALSE(hex.empty()) << error.message();
    const auto other = example_.folder() / "left.bin";
    std::ofstream(other) << "x";
    window_.RegisterTemporaryFile(other);
    ASSERT_TRUE(window_.Exit());
    EXPECT_FALSE(std::filesystem::exists(hex));
    EXPECT_FALSE(std::filesystem::exists(other));
}

TEST_F(MainWindowTest, VinAndClockWithoutADeviceShowTheOpeningError)
{
    platform::SetPortTable(std::vector<platform::PortInfo>{});
    window_.Run(kCmdSetVin);
    window_.Run(kCmdDateTime);
    platform::SetPortTable(std::nullopt);
    EXPECT_TRUE(Shown(L"outcome: Can't get VINs from Torvik4 device. Please be sure that it is connected and \"Mode 5\" "
                      L"is set."));
    EXPECT_TRUE(Shown(L"outcome: Can't get date & time from Torvik4 device. Please be sure that it is connected and "
                      L"\"Mode 5\" is set."));
    EXPECT_FALSE(Shown(L"vin dialog"));
}

TEST_F(MainWindowTest, ConfirmedSettingsAreWrittenAndCancelledOnesAreNot)
{
    const auto file = example_.folder() / "Torvik Studio.ini";
    shell_.editSettings = [](SettingsForm& form) {
        form.ChooseManual();
        form.TypePort(L"/dev/pts/77");
        form.downloadAddress = L"http://127.0.0.1:8080/fw/updates.xml";
        return false;
    };
    window_.Run(kCmdSettings);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(window_.settings().autoNotManual, 1);

    shell_.editSettings = [f = shell_.editSettings](SettingsForm& form) {
        f(form);
        return true;
    };
    window_.Run(kCmdSettings);
    EXPECT_EQ(window_.settings().autoNotManual, 0);
    EXPECT_EQ(ChoosePort(window_.settings().ForDevice().port), "/dev/pts/77");
    FakeShell other;
    MainWindow reopened(other, TestLogger(), example_.folder());
    EXPECT_EQ(reopened.settings().manualComPortPath, L"/dev/pts/77");
    EXPECT_EQ(reopened.settings().updateAddress, L"http://127.0.0.1:8080/fw/updates.xml");
    EXPECT_EQ(reopened.settings().autoNotManual, 0);
}

}  // namespace
}  // namespace torvik::studio::app::test
