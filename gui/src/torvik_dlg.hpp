#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/notebook.h>

#include <app/main_window.hpp>

namespace log4cpp {
class Category;
}

namespace torvik::gui {

class CTabMessSel;
class CTabMessSigConf;

/// The toolkit takes menu identifiers below 32768 only: commands are shown shifted down.
inline constexpr int kWxIdShift = 30000;
inline int WxId(int command)
{
    return command - kWxIdShift;
}

/// The main window: menus, toolbar, the two filters and the two views over the core's main window.
/// The program ends when it closes.
class CTorvikDlg : public wxFrame, public studio::app::MainWindowShell {
public:
    /// `projectFile`: the project named on the command line, opened once the window is shown; empty
    /// for none.
    CTorvikDlg(log4cpp::Category& logger, const std::filesystem::path& programFolder, std::wstring projectFile);
    ~CTorvikDlg() override;

    studio::app::MainWindow& core() { return *core_; }
    CTabMessSel& selectionView() { return *selection_; }
    CTabMessSigConf& configurationView() { return *configuration_; }
    wxNotebook& tabs() { return *tabs_; }
    wxChoice& databaseFilter() { return *databaseFilter_; }

    /// Opens the command line's project (posted once the window shows, as the opening sequence is).
    void OpenStartupProject();
    /// A view changed the project: greying codes first, then the modified flag.
    void OnViewChange(const studio::app::MessageList::Change& change);

    // ---- the shell of the core ----
    void ShowInformation(const std::wstring& text) override;
    void ShowWarning(const std::wstring& text) override;
    bool AskYesNo(const std::wstring& text) override;
    bool AskOkCancel(const std::wstring& text) override;
    Answer AskYesNoCancel(const std::wstring& text) override;
    std::optional<std::wstring> ChooseDatabaseFile() override;
    std::optional<std::wstring> ChooseProjectFile() override;
    std::optional<std::wstring> ChooseSaveProjectFile() override;
    void ProjectReplaced() override;
    void StateChanged() override;
    bool OpenDocument(const std::filesystem::path& path) override;
    void ShowAbout(const std::wstring& nameAndVersion, const std::wstring& description) override;
    void RunDeviceDialog(const DeviceDialogMaker& make) override;
    bool EditSettings(studio::app::SettingsForm& form) override;
    void ShowVinDialog(studio::VinOpening& opening) override;
    void ShowDateTimeDialog(studio::ClockOpening& opening) override;
    void ShowOutcome(const studio::DeviceOutcome& outcome) override;

private:
    void BuildMenus();
    void BuildToolbar();
    void RebuildRemovalPopup();
    void OnCommand(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnDatabaseFilter(wxCommandEvent& event);
    void OnNodeFilter(wxCommandEvent& event);

    log4cpp::Category& logger_;
    std::wstring projectFile_;
    std::unique_ptr<studio::app::MainWindow> core_;
    wxNotebook* tabs_ = nullptr;
    CTabMessSel* selection_ = nullptr;
    CTabMessSigConf* configuration_ = nullptr;
    wxChoice* databaseFilter_ = nullptr;
    wxChoice* nodeFilter_ = nullptr;
    wxMenu* removalPopup_ = nullptr;
    std::vector<std::wstring> removalEntries_;
};

}  // namespace torvik::gui
