// The desktop program as a user meets it: a real main window under a virtual X server, clicked and typed
// into with simulated input. Screenshots of both tabs and of the property grid land in the build folder.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

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

#include "torvik_dlg.hpp"
#include "views.hpp"

namespace torvik::gui::test {
namespace {

namespace app = studio::app;

/// Runs the event loop until `done` holds or five seconds passed.
bool WaitFor(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
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
