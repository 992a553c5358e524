// The desktop program as a user meets it: a real main window under a virtual X server, clicked and typed
// into with simulated input, and the device windows against a simulated device on a pseudo-terminal.
// Screenshots of both tabs, the property grid and the device windows land in the build folder.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <log4cpp/Category.hh>
#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/dcclient.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>
#include <wx/uiaction.h>

#include <device/device_clock.hpp>
#include <device/user_memory.hpp>
#include <flashlib/flash_container.hpp>
#include <flashlib/flash_device.hpp>
#include <sim/simulator.hpp>

#include "device_windows.hpp"
#include "web_server.hpp"
#include "torvik_dlg.hpp"
#include "views.hpp"

namespace torvik::gui::test {
namespace {

namespace app = studio::app;

/// Runs the event loop until `done` holds or `limit` passed.
bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        wxTheApp->Yield(true);
        wxMilliSleep(5);
    }
    return true;
}

/// Lets the loop run until nothing is pending any more.
void Settle()
{
    for (int i = 0; i < 20; ++i) {
        wxTheApp->Yield(true);
        wxMilliSleep(5);
    }
}

/// Saves what the screen shows of `window` (for a top-level window, its client area).
void Screenshot(wxWindow& window, const std::string& name)
{
    wxWindow* top = wxGetTopLevelParent(&window);
    top->Refresh();
    top->Update();
    // Painting happens in the loop's idle time; give it a few rounds.
    for (int i = 0; i < 50; ++i) {
        wxTheApp->Yield(true);
        wxMilliSleep(10);
    }
    // The window's device context covers the client area below the menu bar and toolbar.
    const wxSize client = top->GetClientSize();
    wxBitmap bitmap(client);
    wxMemoryDC memory(bitmap);
    wxWindowDC screen(top);
    memory.Blit(0, 0, client.x, client.y, &screen, 0, 0);
    memory.SelectObject(wxNullBitmap);
    wxRect part(top->ScreenToClient(window.GetScreenPosition()), window.GetSize());
    if (&window == top) {
        part = wxRect(client);
    }
    part.Intersect(wxRect(client));
    std::filesystem::create_directories(TORVIK_SCREENSHOT_DIR);
    EXPECT_TRUE(bitmap.GetSubBitmap(part).SaveFile(std::string(TORVIK_SCREENSHOT_DIR) + "/" + name, wxBITMAP_TYPE_PNG));
}

void ClickAt(wxWindow& window, const wxPoint& client)
{
    wxUIActionSimulator simulator;
    simulator.MouseMove(window.ClientToScreen(client));
    wxTheApp->Yield(true);
    simulator.MouseClick();
}

/// A modal window of type T that the test drives while it is up; `act` returns what ShowModal returns.
template <class T>
class Drive : public wxExpectModalBase<T, Drive<T>> {
public:
    explicit Drive(std::function<int(T&)> act) : act_(std::move(act)) {}

protected:
    int OnInvoked(T* dialog) const override
    {
        dialog->Show();
        const int result = act_(*dialog);
        dialog->Hide();
        return result;
    }

private:
    std::function<int(T&)> act_;
};

void Toggle(wxWindow& control, wxEventType type, bool on)
{
    wxCommandEvent event(type, control.GetId());
    event.SetEventObject(&control);
    event.SetInt(on ? 1 : 0);
    control.ProcessWindowEvent(event);
}

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* source = std::getenv("TORVIK_SOURCE_DIR");
        ASSERT_NE(source, nullptr);
        folder_ = std::filesystem::temp_directory_path() /
                  ("torvik_gui_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        for (const char* name : {"simulation.tsp", "simulation.dbc"}) {
            std::filesystem::copy_file(std::filesystem::path(source) / "examples" / name, folder_ / name);
        }
        Open();
    }
    void TearDown() override
    {
        Discard();
        std::filesystem::remove_all(folder_);
    }

    /// A main window started as `TorvikStudio <folder>/simulation.tsp` is.
    void Open()
    {
        window_ = new CTorvikDlg(log4cpp::Category::getInstance(app::kLoggerName), folder_,
                                 (folder_ / "simulation.tsp").wstring());
        window_->SetSize(wxRect(0, 0, 1000, 700));
        window_->Show();
        window_->Raise();
        window_->CallAfter([w = window_] { w->OpenStartupProject(); });
        ASSERT_TRUE(WaitFor([this] { return window_->core().HasProject() && window_->IsShownOnScreen(); }));
        Settle();
    }
    /// Closes the window without questions.
    void Discard()
    {
        if (window_ == nullptr) {
            return;
        }
        if (auto* project = window_->core().project()) {
            project->SetModified(false);
        }
        window_->Destroy();
        window_ = nullptr;
        Settle();
    }

    unsigned RowOf(const std::wstring& name)
    {
        auto& list = window_->core().messages();
        for (unsigned r = 0; r < list.RowCount(); ++r) {
            if (list.MessageAt(r).name == name) {
                return r;
            }
        }
        ADD_FAILURE() << "no row";
        return 0;
    }
    bool HsEnabled(std::uint32_t channel)
    {
        const int first = channel == 3 ? app::kCmdChannel3First : app::kCmdChannel4First;
        return window_->GetMenuBar()->IsEnabled(WxId(first));
    }
    /// Shows the configuration tab with one database and selects a tree item below `message`.
    void SelectSignal(const wxString& message, const wxString& signal)
    {
        wxChoice& filter = window_->databaseFilter();
        filter.SetSelection(1);
        wxCommandEvent choice(wxEVT_CHOICE, filter.GetId());
        choice.SetEventObject(&filter);
        choice.SetInt(1);
        filter.ProcessWindowEvent(choice);
        window_->tabs().SetSelection(1);
        wxTreeCtrl* tree = window_->configurationView().tree();
        wxTreeItemIdValue cookie;
        for (wxTreeItemId root = tree->GetFirstChild(tree->GetRootItem(), cookie); root.IsOk();
             root = tree->GetNextChild(tree->GetRootItem(), cookie)) {
            if (tree->GetItemText(root) != message) {
                continue;
            }
            tree->Expand(root);
            wxTreeItemIdValue inner;
            for (wxTreeItemId child = tree->GetFirstChild(root, inner); child.IsOk();
                 child = tree->GetNextChild(root, inner)) {
                if (tree->GetItemText(child) == signal) {
                    tree->SelectItem(child);
                }
            }
        }
        ASSERT_TRUE(WaitFor([this] { return Property(L"Modification type") != nullptr; }));
    }
    wxPGProperty* Property(const std::wstring& name) { return window_->configurationView().adapter().PropertyOf(name); }
    wxPropertyGrid& Grid() { return *window_->configurationView().grid()->GetGrid(); }

    std::filesystem::path folder_;
    CTorvikDlg* window_ = nullptr;
};

TEST_F(GuiTest, ShowsTheCommandLineProject)
{
    EXPECT_EQ(window_->GetTitle(), "simulation - Torvik Studio");
    // The program's own icon, drawn from its SVG at every size.
    const wxIconBundle& icons = window_->GetIcons();
    ASSERT_EQ(icons.GetIconCount(), 6u);
    EXPECT_TRUE(icons.GetIcon(wxSize(48, 48), wxIconBundle::FALLBACK_NONE).IsOk());
    EXPECT_EQ(window_->core().messages().RowCount(), 5u);
    wxDataViewCtrl* list = window_->selectionView().list();
    EXPECT_EQ(list->GetColumnCount(), 7u);
    EXPECT_FALSE(window_->GetMenuBar()->IsEnabled(WxId(app::kCmdSaveProject)));
    EXPECT_TRUE(window_->GetMenuBar()->IsChecked(WxId(app::kCmdChannel3First + 3)));

    // A click on the "Name" header sorts by name, a second one reverses the order.
    int x = 0;
    for (unsigned c = 0; c < 4; ++c) {
        x += list->GetColumn(c)->GetWidth();
    }
    const wxPoint header(x + list->GetColumn(4)->GetWidth() / 2, 8);
    ClickAt(*list, header);
    ASSERT_TRUE(WaitFor([this] { return window_->core().messages().sortColumn() == app::MessageList::kName; }));
    EXPECT_EQ(window_->core().messages().MessageAt(0).name, L"BodySwitches");
    Settle();
    ClickAt(*list, header);
    ASSERT_TRUE(WaitFor([this] { return !window_->core().messages().ascending(); }));
    EXPECT_EQ(window_->core().messages().MessageAt(0).name, L"VehicleSpeedFD");
    Screenshot(*window_, "tab-messages.png");
}

TEST_F(GuiTest, TickingCan3ForACanFdMessageGreysItsHsItem)
{
    wxDataViewCtrl* list = window_->selectionView().list();
    const unsigned row = RowOf(L"VehicleSpeedFD");
    auto* model = dynamic_cast<wxDataViewVirtualListModel*>(list->GetModel());
    ASSERT_NE(model, nullptr);
    const wxDataViewItem item = model->GetItem(row);
    list->EnsureVisible(item);
    Settle();
    const wxRect cell = list->GetItemRect(item, list->GetColumn(2));
    ASSERT_FALSE(cell.IsEmpty());
    EXPECT_TRUE(HsEnabled(3));

    ClickAt(*list, cell.GetPosition() + wxPoint(cell.width / 2, cell.height / 2));
    ASSERT_TRUE(WaitFor([&] { return !HsEnabled(3); }));
    EXPECT_EQ(window_->core().messages().CellAt(row, 3), app::MessageList::Cell::Checked);
    EXPECT_EQ(window_->GetTitle(), "*simulation - Torvik Studio");
    EXPECT_TRUE(window_->GetMenuBar()->IsEnabled(WxId(app::kCmdSaveProject)));

    // CAN 1 has no box for a CAN FD message: a click there changes nothing.
    const wxRect can1 = list->GetItemRect(item, list->GetColumn(0));
    ClickAt(*list, can1.GetPosition() + wxPoint(can1.width / 2, can1.height / 2));
    Settle();
    EXPECT_EQ(window_->core().messages().MessageAt(row).channelMask, 0x0C);

    ClickAt(*list, cell.GetPosition() + wxPoint(cell.width / 2, cell.height / 2));
    ASSERT_TRUE(WaitFor([&] { return HsEnabled(3); }));
}

TEST_F(GuiTest, SettingASignalDynamicOnASwitchShowsItsPositions)
{
    SelectSignal("EngineStatus (SimDemo)", "CoolantTemp");
    EXPECT_FALSE(Property(L"Name")->IsEnabled());
    EXPECT_EQ(Property(L"Modification type")->GetValueAsString(), "Constant");
    EXPECT_EQ(Property(L"Value")->GetValueAsString(), "60.000000");
    Screenshot(*window_, "tab-configuration.png");

    Grid().ChangePropertyValue(Property(L"Modification type"), wxVariant(1L));  // "Dynamic"
    ASSERT_TRUE(WaitFor([this] { return Property(L"Dynamic control") != nullptr; }));
    EXPECT_EQ(Property(L"Value"), nullptr);
    Grid().ChangePropertyValue(Property(L"Dynamic control"), wxVariant(11L));  // "Switch 1"
    ASSERT_TRUE(WaitFor([this] { return Property(L"Switch middle value") != nullptr; }));
    EXPECT_EQ(Property(L"Dynamic control")->GetValueAsString(), "Switch 1");
    EXPECT_NE(Property(L"Switch up raw value"), nullptr);
    EXPECT_NE(Property(L"Switch down raw value"), nullptr);
    const auto* signal = window_->core().project()->GetDatabase(0)->network->messages.at(0x100)->signals.at(L"CoolantTemp").get();
    EXPECT_EQ(signal->dynamicControl, 10);
    EXPECT_EQ(signal->signalType, studio::kDynamicSignal);
    // A click on the item's name selects it and shows its description below the grid.
    const wxRect row = Grid().GetPropertyRect(Property(L"Switch up raw value"), Property(L"Switch up raw value"));
    ClickAt(Grid(), wxPoint(row.x + 40, row.y + row.height / 2));
    ASSERT_TRUE(WaitFor([this] { return Grid().GetSelection() == Property(L"Switch up raw value"); }));
    Screenshot(*window_->configurationView().grid(), "property-grid.png");
    Screenshot(*window_, "tab-configuration-dynamic.png");
}

TEST_F(GuiTest, TypedValueSurvivesSaveAndReopen)
{
    SelectSignal("EngineStatus (SimDemo)", "CoolantTemp");
    wxPGProperty* raw = Property(L"Raw value");
    ASSERT_NE(raw, nullptr);
    Grid().SelectProperty(raw, true);
    ASSERT_TRUE(WaitFor([this] { return dynamic_cast<wxTextCtrl*>(Grid().GetEditorControl()) != nullptr; }));
    auto* editor = dynamic_cast<wxTextCtrl*>(Grid().GetEditorControl());
    editor->SetFocus();
    editor->SelectAll();
    Settle();
    wxUIActionSimulator simulator;
    simulator.Text("0x50");
    simulator.Char(WXK_RETURN);
    const auto& signals = window_->core().project()->GetDatabase(0)->network->messages.at(0x100)->signals;
    ASSERT_TRUE(WaitFor([&] { return signals.at(L"CoolantTemp")->rawValue == 0x50; }));
    EXPECT_EQ(window_->GetTitle(), "*simulation - Torvik Studio");

    window_->configurationView().tree()->SetFocus();
    simulator.Char('s', wxMOD_CONTROL);
    ASSERT_TRUE(WaitFor([this] { return !window_->core().project()->IsModified(); }));
    EXPECT_EQ(window_->GetTitle(), "simulation - Torvik Studio");

    Discard();
    Open();
    const auto& reopened = window_->core().project()->GetDatabase(0)->network->messages.at(0x100)->signals;
    EXPECT_EQ(reopened.at(L"CoolantTemp")->rawValue, 0x50);
    SelectSignal("EngineStatus (SimDemo)", "CoolantTemp");
    EXPECT_EQ(Property(L"Raw value")->GetValueAsString(), "0x50");
}

TEST_F(GuiTest, ClosingWithUnsavedChangesAndCancelKeepsTheWindowOpen)
{
    window_->core().Run(app::kCmdChannel4First + 2);
    ASSERT_TRUE(window_->core().project()->IsModified());
    wxTEST_DIALOG(window_->Close(), wxExpectModal<wxMessageDialog>(wxID_CANCEL).Describe("save question"));
    Settle();
    EXPECT_TRUE(window_->IsShown());
    EXPECT_TRUE(window_->core().HasProject());
    EXPECT_EQ(window_->GetTitle(), "*simulation - Torvik Studio");
}

/// The main window with a simulated device (firmware 1.3, hardware 1.2, product 4A01, serial number 123)
/// chosen in the settings dialog by its device path.
class DeviceWindowsTest : public GuiTest {
protected:
    void StartDevice(torvik::sim::SimOptions options = {})
    {
        sim_ = std::make_unique<torvik::sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(error)) << error;
        sim_->WriteFlash(0x300, {0x01, 0x03, 0x01, 0x02, 0x4A, 0x01, 0x01, 0x23});
        ChooseDevicePort(sim_->DevicePath(), "");
    }
    void TearDown() override
    {
        GuiTest::TearDown();
        sim_.reset();
    }

    /// Settings: manual selection with `path` typed into the port list, then OK.
    void ChooseDevicePort(const std::string& path, const std::string& screenshot)
    {
        wxTEST_DIALOG(window_->core().Run(app::kCmdSettings), Drive<CSettingsDialog>([&](CSettingsDialog& dialog) {
                          EXPECT_TRUE(dialog.automatic().GetValue());
                          EXPECT_FALSE(dialog.ports().IsEnabled());
                          dialog.manual().SetValue(true);
                          Toggle(dialog.manual(), wxEVT_RADIOBUTTON, true);
                          EXPECT_TRUE(dialog.ports().IsEnabled());
                          dialog.ports().SetValue(path);
                          if (!screenshot.empty()) {
                              Screenshot(dialog, screenshot);
                          }
                          dialog.TransferDataFromWindow();
                          return wxID_OK;
                      }));
        EXPECT_EQ(window_->core().settings().manualComPortPath, std::wstring(path.begin(), path.end()));
        EXPECT_EQ(window_->core().settings().autoNotManual, 0);
    }

    /// Settings: the download address of firmware updates, then OK.
    void SetDownloadAddress(const std::string& address)
    {
        wxTEST_DIALOG(window_->core().Run(app::kCmdSettings), Drive<CSettingsDialog>([&](CSettingsDialog& dialog) {
                          dialog.address().SetValue(address);
                          dialog.TransferDataFromWindow();
                          return wxID_OK;
                      }));
    }

    /// Runs a device command whose window `act` drives once the operation has ended (or earlier).
    void RunDevice(int command, const std::function<void(CDeviceDialog&)>& act)
    {
        auto drive = Drive<CDeviceDialog>([&](CDeviceDialog& dialog) {
            act(dialog);
            EXPECT_TRUE(WaitFor([&] { return dialog.operation().state() == studio::CDeviceDialogBase::kIdle &&
                                             dialog.button().GetLabel() != "Cancel"; },
                                std::chrono::seconds(90)));
            Settle();
            EXPECT_TRUE(dialog.AskToClose());
            return wxID_OK;
        });
        if (command == app::kCmdUpload) {
            // The example's Motorola signal is explained first.
            wxTEST_DIALOG(window_->core().Run(command), wxExpectModal<wxMessageDialog>(wxID_OK).Describe("notice"),
                          drive);
        } else {
            wxTEST_DIALOG(window_->core().Run(command), drive);
        }
    }
    static std::string Text(const wxString& text) { return text.utf8_string(); }

    std::unique_ptr<torvik::sim::Simulator> sim_;
};

TEST_F(DeviceWindowsTest, UploadStoresTheSimulationAndDeviceInfoShowsTheIdentity)
{
    StartDevice();
    std::string pane;
    wxString button;
    RunDevice(app::kCmdUpload, [&](CDeviceDialog& dialog) {
        ASSERT_TRUE(WaitFor([&] { return dialog.button().GetLabel() != "Cancel"; }, std::chrono::seconds(90)));
        Settle();
        pane = Text(dialog.pane().GetValue());
        button = dialog.button().GetLabel();
        EXPECT_EQ(dialog.GetTitle(), "Simulation upload");
        Screenshot(dialog, "upload-dialog.png");
    });
    EXPECT_NE(pane.find("Configuration successfully uploaded."), std::string::npos) << pane;
    EXPECT_EQ(button, "OK");
    // A fresh device: the header says 2.0 and the block with its terminator starts at 0x70100.
    const auto* project = window_->core().project();
    const std::vector<std::uint8_t> block(project->GetUserBlock(), project->GetUserBlock() + project->GetUserBlockLength());
    const auto flash = sim_->Flash();
    const auto user = flash.begin() + studio::kUserMemoryAddress;
    EXPECT_EQ(user[0], 0x02);
    EXPECT_EQ(user[1], 0x00);
    EXPECT_EQ(std::vector<std::uint8_t>(user + 256, user + 256 + static_cast<std::ptrdiff_t>(block.size())), block);
    EXPECT_EQ(user[256 + static_cast<std::ptrdiff_t>(block.size())], 0x00);

    RunDevice(app::kCmdDeviceInfo, [&](CDeviceDialog& dialog) {
        ASSERT_TRUE(WaitFor([&] { return dialog.button().GetLabel() != "Cancel"; }, std::chrono::seconds(90)));
        Settle();
        pane = Text(dialog.pane().GetValue());
        button = dialog.button().GetLabel();
    });
    EXPECT_NE(pane.find("Connection to Torvik4 device succeeded.\nObtained parameters:\n   Product code 4A01,\n   HW "
                        "Version 1.2,\n   FW Version 1.3,\n   Serial number 123."),
              std::string::npos)
        << pane;
    EXPECT_EQ(button, "OK");

    // Erasing leaves the header and an empty block area.
    RunDevice(app::kCmdErase, [&](CDeviceDialog& dialog) {
        ASSERT_TRUE(WaitFor([&] { return dialog.button().GetLabel() != "Cancel"; }, std::chrono::seconds(90)));
        Settle();
        pane = Text(dialog.pane().GetValue());
    });
    EXPECT_NE(pane.find("Configuration successfully deleted."), std::string::npos) << pane;
    const auto erased = sim_->Flash();
    EXPECT_EQ(erased[studio::kUserMemoryAddress], 0x02);
    EXPECT_EQ(erased[studio::kUserMemoryAddress + 256], 0xFF);
}

TEST_F(DeviceWindowsTest, ASilentDeviceEndsTheUploadWithItsFailureAndClose)
{
    StartDevice();
    sim_->SetSilent(true);
    std::string pane;
    wxString button;
    RunDevice(app::kCmdUpload, [&](CDeviceDialog& dialog) {
        // The window refuses to close while the operation runs.
        EXPECT_FALSE(dialog.AskToClose());
        ASSERT_TRUE(WaitFor([&] { return dialog.button().GetLabel() != "Cancel"; }, std::chrono::seconds(90)));
        Settle();
        pane = Text(dialog.pane().GetValue());
        button = dialog.button().GetLabel();
    });
    // The clean-up's restart cannot reach the device either, and says so last.
    EXPECT_NE(pane.find("Restart error, please plug off the device and plug on again to reset it."), std::string::npos)
        << pane;
    EXPECT_EQ(pane.find("Configuration successfully uploaded."), std::string::npos) << pane;
    EXPECT_EQ(button, "Close");
}

TEST_F(DeviceWindowsTest, ACancelDuringProgrammingEndsThroughTheCleanUp)
{
    torvik::sim::SimOptions options;
    // Programming takes as long as on a real line at 115200 baud, long enough to ask in between.
    options.pace = true;
    options.isp.max_sync_baud = 115200;
    StartDevice(options);
    bool canceling = false;
    std::string pane;
    std::string failure;
    wxString button;
    RunDevice(app::kCmdUpload, [&](CDeviceDialog& dialog) {
        ASSERT_TRUE(WaitFor([&] { return dialog.GetTitle().Contains("programming device USER memory"); },
                            std::chrono::seconds(90)));
        EXPECT_FALSE(dialog.AskToClose());
        canceling = WaitFor([&] { return dialog.GetTitle().StartsWith("Simulation upload: canceling"); });
        EXPECT_FALSE(dialog.AskToClose());  // a second request while canceling keeps it open
        ASSERT_TRUE(WaitFor([&] { return dialog.button().GetLabel() != "Cancel"; }, std::chrono::seconds(90)));
        Settle();
        pane = Text(dialog.pane().GetValue());
        button = dialog.button().GetLabel();
        failure = dialog.operation().failure();
    });
    EXPECT_TRUE(canceling);
    EXPECT_EQ(button, "Close");
    EXPECT_EQ(failure, "Canceled!");
    EXPECT_NE(pane.find("Disconnecting from Torvik4 device."), std::string::npos) << pane;
    EXPECT_EQ(pane.find("Configuration successfully uploaded."), std::string::npos) << pane;
}

TEST_F(DeviceWindowsTest, FirmwareUpdateAsksFromTheWindowAndNoLeavesTheFlash)
{
    // Release 1.5 of product 4A01 for hardware 1.0 to 1.9; the device runs 1.3.
    const auto www = folder_ / "www";
    std::filesystem::create_directories(www);
    std::stringstream sample;
    sample << std::ifstream(std::filesystem::path(std::getenv("TORVIK_SOURCE_DIR")) / "examples" / "torvik4-sample.fkq",
                            std::ios::binary)
                  .rdbuf();
    std::string container = sample.str();
    const auto at = container.find("FW_VER=\"1.0\"");
    ASSERT_NE(at, std::string::npos);
    container.replace(at, 12, "FW_VER=\"1.5\"");
    std::ofstream(www / "fw-1.5.fkq", std::ios::binary) << container;
    std::ofstream(www / "updates.xml")
        << "<?xml version=\"1.0\"?>\n<UPDATES CONTAINER_VER=\"1.0\" xsi:noNamespaceSchemaLocation=\"updates.xsd\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n<PRODUCT PRODUCT_CODE=\"4A01\" "
           "PRODUCT_NAME=\"Torvik4\"><UPDATE FW_VER=\"1.5\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\">fw-1.5.fkq</UPDATE>"
           "</PRODUCT>\n</UPDATES>\n";
    studio::testing::WebServer server(www);
    ASSERT_EQ(server.error(), "");
    StartDevice();
    SetDownloadAddress(server.Url("/updates.xml"));
    const auto before = sim_->Flash();

    std::string pane;
    wxString button;
    auto drive = Drive<CDeviceDialog>([&](CDeviceDialog& dialog) {
        EXPECT_TRUE(WaitFor([&] { return dialog.operation().state() == studio::CDeviceDialogBase::kIdle &&
                                         dialog.button().GetLabel() != "Cancel"; },
                            std::chrono::seconds(90)));
        Settle();
        pane = Text(dialog.pane().GetValue());
        button = dialog.button().GetLabel();
        EXPECT_TRUE(dialog.AskToClose());
        return wxID_OK;
    });
    // The question comes while the window is up, from the operation's worker, and is answered No.
    wxTEST_DIALOG(window_->core().Run(app::kCmdFirmwareUpdate), drive,
                  wxExpectModal<wxMessageDialog>(wxID_NO).Describe("Update from version: 1.3 to version 1.5"));
    EXPECT_EQ(button, "Close");
    EXPECT_EQ(pane.find("Erasing FLASH memory."), std::string::npos) << pane;
    EXPECT_NE(pane.find("Disconnecting from Torvik4 device."), std::string::npos) << pane;
    EXPECT_EQ(sim_->Flash(), before);
}

TEST_F(DeviceWindowsTest, ReportsQueuedForAWindowThatIsGoneAreDropped)
{
    studio::DeviceSettings settings;
    settings.port.automatic = false;
    settings.port.manualPath = (folder_ / "no-such-port").string();
    {
        CDeviceDialog dialog(window_, [&](studio::DeviceReportSink& sink, studio::Prompt& prompt) {
            return std::make_unique<studio::CDeviceInfoDialog>(settings, sink, prompt);
        });
        dialog.StartOperation();
        EXPECT_FALSE(dialog.operation().Wait());
        // Every report of the run still waits in the event loop when the window goes.
    }
    Settle();
    EXPECT_EQ(window_->GetTitle(), "simulation - Torvik Studio");
}

TEST_F(DeviceWindowsTest, VinRowReadsDefaultThenTakesAText)
{
    StartDevice();
    wxTEST_DIALOG(window_->core().Run(app::kCmdSetVin),
                  Drive<CVinCfgDlg>([&](CVinCfgDlg& dialog) {
                      auto& mqb = dialog.row(studio::VinPlatform::MQB);
                      EXPECT_TRUE(mqb.isDefault->GetValue());
                      EXPECT_FALSE(mqb.text->IsEnabled());
                      EXPECT_TRUE(mqb.text->IsEmpty());
                      mqb.isDefault->SetValue(false);
                      Toggle(*mqb.isDefault, wxEVT_CHECKBOX, false);
                      EXPECT_TRUE(mqb.text->IsEnabled());
                      mqb.text->SetValue("ABC");
                      Screenshot(dialog, "vin-dialog.png");
                      dialog.WriteRow(studio::VinPlatform::MQB);
                      mqb.text->Clear();
                      dialog.ReadRow(studio::VinPlatform::MQB);
                      EXPECT_EQ(mqb.text->GetValue(), "ABC");
                      EXPECT_FALSE(mqb.isDefault->GetValue());
                      return wxID_CANCEL;
                  }),
                  wxExpectModal<wxMessageDialog>(wxID_OK).Describe("VIN for MQB platform was successfully set."));
    const auto eeprom = sim_->Eeprom();
    const std::vector<std::uint8_t> want = {0x41, 0x42, 0x43, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                                            0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20};
    EXPECT_EQ(std::vector<std::uint8_t>(eeprom.begin() + 47, eeprom.begin() + 64), want);
    EXPECT_EQ(eeprom[64], 0xFF);  // MQB37W stays default
}

TEST_F(DeviceWindowsTest, DateAndTimeSetsTheLocalTimeAndReadsItBack)
{
    StartDevice();
    std::optional<std::int64_t> shown;
    wxTEST_DIALOG(window_->core().Run(app::kCmdDateTime),
                  Drive<CSetDateTimeDlg>([&](CSetDateTimeDlg& dialog) {
                      dialog.SetLocalTime();
                      // Blank the pickers, so that what they show next comes from the device.
                      dialog.date().SetValue(wxDateTime(1, wxDateTime::Jan, 2001));
                      dialog.time().SetValue(wxDateTime(1, wxDateTime::Jan, 2001, 0, 0, 0));
                      dialog.GetDeviceTime();
                      shown = studio::DisplayToDevice(dialog.Shown());
                      Screenshot(dialog, "datetime-dialog.png");
                      return wxID_CANCEL;
                  }),
                  wxExpectModal<wxMessageDialog>(wxID_OK).Describe("Date & time was successfully set."));
    ASSERT_TRUE(shown.has_value());
    const auto now = studio::DisplayToDevice(studio::LocalFields(std::time(nullptr)));
    ASSERT_TRUE(now.has_value());
    EXPECT_LE(*now - *shown, 30);
    EXPECT_GE(*now - *shown, 0);
}

TEST_F(DeviceWindowsTest, SettingsDialogShowsTheTypedPort)
{
    ChooseDevicePort("/dev/pts/99", "settings-dialog.png");
    // Opened again in manual mode, the list shows the typed path.
    wxTEST_DIALOG(window_->core().Run(app::kCmdSettings), Drive<CSettingsDialog>([&](CSettingsDialog& dialog) {
                      EXPECT_TRUE(dialog.manual().GetValue());
                      EXPECT_TRUE(dialog.ports().IsEnabled());
                      EXPECT_EQ(dialog.ports().GetValue(), "/dev/pts/99");
                      return wxID_CANCEL;
                  }));
}

}  // namespace
}  // namespace torvik::gui::test

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // A failed check of the toolkit fails the test instead of opening a box nobody answers.
    wxSetAssertHandler([](const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg) {
        ADD_FAILURE() << "wx assertion " << cond << " in " << func << " at " << file << ":" << line << ": " << msg;
    });
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) {
        return 77;  // no display
    }
    wxInitAllImageHandlers();
    wxTheApp->SetExitOnFrameDelete(false);
    int result = 0;
    {
        wxEventLoop loop;
        wxEventLoopActivator active(&loop);
        result = RUN_ALL_TESTS();
    }
    wxEntryCleanup();
    return result;
}
