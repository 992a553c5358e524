#include "torvik_dlg.hpp"

#include <wx/artprov.h>
#include <wx/bmpbndl.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/hyperlink.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

#include <log4cpp/Category.hh>

#include <project/ts_project.hpp>

#include "device_windows.hpp"
#include "torvik_icon_svg.hpp"
#include "views.hpp"
#include "wx_text.hpp"

namespace torvik::gui {

namespace app = studio::app;

namespace {

const wxString kTitle = "Torvik Studio";
const wxString kProjectFilter = "Torvik Studio Project files (*.tsp)|*.tsp|All files (*.*)|*.*";
const wxString kDatabaseFilter = "Vector CAN database files (*.dbc)|*.dbc|All files (*.*)|*.*";

// The program's icon at the sizes window managers ask for.
wxIconBundle ProgramIcons()
{
    const wxBitmapBundle svg = wxBitmapBundle::FromSVG(kTorvikIconSvg, wxSize(64, 64));
    wxIconBundle icons;
    for (const int size : {16, 24, 32, 48, 64, 128}) {
        wxIcon icon;
        icon.CopyFromBitmap(svg.GetBitmap(wxSize(size, size)));
        icons.AddIcon(icon);
    }
    return icons;
}

wxString Label(const app::MenuItem& item)
{
    wxString label = item.label;
    if (*item.shortcut != L'\0') {
        label << '\t' << item.shortcut;
    }
    return label;
}

const wxArtID& ArtFor(int command)
{
    static const wxArtID kNew = wxART_NEW, kOpen = wxART_FILE_OPEN, kSave = wxART_FILE_SAVE, kImport = wxART_PLUS,
                         kSettings = wxART_HELP_SETTINGS, kInfo = wxART_INFORMATION, kUpdate = wxART_GO_UP,
                         kUpload = wxART_GO_FORWARD;
    switch (command) {
    case app::kCmdNewProject:
        return kNew;
    case app::kCmdOpenProject:
        return kOpen;
    case app::kCmdSaveProject:
        return kSave;
    case app::kCmdImportDbc:
        return kImport;
    case app::kCmdSettings:
        return kSettings;
    case app::kCmdDeviceInfo:
        return kInfo;
    case app::kCmdFirmwareUpdate:
        return kUpdate;
    default:
        return kUpload;
    }
}

}  // namespace

CTorvikDlg::CTorvikDlg(log4cpp::Category& logger, const std::filesystem::path& programFolder, std::wstring projectFile)
    : wxFrame(nullptr, wxID_ANY, kTitle, wxDefaultPosition, wxSize(900, 640)),
      logger_(logger),
      projectFile_(std::move(projectFile))
{
    core_ = std::make_unique<app::MainWindow>(*this, logger_, programFolder);
    SetIcons(ProgramIcons());
    BuildMenus();
    BuildToolbar();
    CreateStatusBar();  // carries the size grip

    auto* panel = new wxPanel(this);
    databaseFilter_ = new wxChoice(panel, wxID_ANY);
    nodeFilter_ = new wxChoice(panel, wxID_ANY);
    tabs_ = new wxNotebook(panel, wxID_ANY);
    selection_ = new CTabMessSel(tabs_, *this);
    configuration_ = new CTabMessSigConf(tabs_, *this);
    tabs_->AddPage(selection_, "Messages selection", true);
    tabs_->AddPage(configuration_, "Message and signal configuration");

    auto* filters = new wxBoxSizer(wxHORIZONTAL);
    filters->Add(databaseFilter_, 1, wxRIGHT, FromDIP(6));
    filters->Add(nodeFilter_, 1);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(filters, 0, wxEXPAND | wxALL, FromDIP(6));
    // The tab control anchors at 0, 0, 100, 100: it grows with the window in both directions.
    sizer->Add(tabs_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(6));
    panel->SetSizer(sizer);

    Bind(wxEVT_MENU, &CTorvikDlg::OnCommand, this);
    Bind(wxEVT_CLOSE_WINDOW, &CTorvikDlg::OnClose, this);
    databaseFilter_->Bind(wxEVT_CHOICE, &CTorvikDlg::OnDatabaseFilter, this);
    nodeFilter_->Bind(wxEVT_CHOICE, &CTorvikDlg::OnNodeFilter, this);
    StateChanged();
}

CTorvikDlg::~CTorvikDlg()
{
    // The views show the core's state until they go.
    tabs_->DeleteAllPages();
    core_.reset();
}

void CTorvikDlg::BuildMenus()
{
    auto* bar = new wxMenuBar;
    for (const app::Menu& menu : app::kMenus) {
        auto* m = new wxMenu;
        for (std::size_t i = 0; i < menu.count; ++i) {
            const app::MenuItem& item = menu.items[i];
            if (item.id == -1) {
                m->AppendSeparator();
            } else if (item.id == 0 && item.channel != 0) {
                auto* popup = new wxMenu;
                const int first = item.channel == 3 ? app::kCmdChannel3First : app::kCmdChannel4First;
                for (std::size_t k = 0; k < app::kSetupCodes.size(); ++k) {
                    popup->AppendCheckItem(WxId(first + static_cast<int>(k)), Wx(studio::SetupName(app::kSetupCodes[k])));
                }
                m->AppendSubMenu(popup, item.label);
            } else if (item.id == 0) {
                removalPopup_ = new wxMenu;
                m->AppendSubMenu(removalPopup_, item.label);
            } else {
                m->Append(WxId(item.id), Label(item));
            }
        }
        bar->Append(m, menu.title);
    }
    SetMenuBar(bar);
}

void CTorvikDlg::BuildToolbar()
{
    wxToolBar* toolbar = CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT);
    if (toolbar == nullptr) {
        logger_.warn("CTorvikDlg - Failed to Create Dialog Toolbar.");
        return;
    }
    for (const app::ToolbarButton& button : app::kToolbar) {
        if (button.id == app::kCmdSettings || button.id == app::kCmdUpload) {
            toolbar->AddSeparator();
        }
        toolbar->AddTool(WxId(button.id), button.tooltip, wxArtProvider::GetBitmap(ArtFor(button.id), wxART_TOOLBAR),
                         button.tooltip);
    }
    toolbar->Realize();
}

void CTorvikDlg::RebuildRemovalPopup()
{
    auto entries = core_->RemovalEntries();
    if (entries == removalEntries_ || removalPopup_ == nullptr) {
        return;
    }
    while (removalPopup_->GetMenuItemCount() > 0) {
        removalPopup_->Destroy(removalPopup_->FindItemByPosition(0));
    }
    for (std::size_t i = 0; i < entries.size() && i <= app::kCmdRemoveDbcLast - app::kCmdRemoveDbcFirst; ++i) {
        removalPopup_->Append(WxId(app::kCmdRemoveDbcFirst + static_cast<int>(i)), Wx(entries[i]));
    }
    removalEntries_ = std::move(entries);
}

void CTorvikDlg::OpenStartupProject()
{
    core_->Start(projectFile_);
}

void CTorvikDlg::OnViewChange(const app::MessageList::Change& change)
{
    for (const app::GreyingCode code : change.greying) {
        core_->OnGreyingCode(code);
    }
    if (change.changed) {
        core_->OnProjectChanged();
    }
    configuration_->Reload();
}

void CTorvikDlg::OnCommand(wxCommandEvent& event)
{
    const int command = event.GetId() + kWxIdShift;
    if (command == app::kCmdExit) {
        Close();
        return;
    }
    if (!core_->Run(command)) {
        event.Skip();
    }
}

void CTorvikDlg::OnClose(wxCloseEvent& event)
{
    if (!core_->Exit() && event.CanVeto()) {
        event.Veto();
        return;
    }
    Destroy();
}

void CTorvikDlg::OnDatabaseFilter(wxCommandEvent& event)
{
    core_->SelectDatabaseFilter(static_cast<std::size_t>(std::max(event.GetSelection(), 0)));
    selection_->Reload();
    configuration_->Reload();
}

void CTorvikDlg::OnNodeFilter(wxCommandEvent& event)
{
    core_->SelectNodeFilter(static_cast<std::size_t>(std::max(event.GetSelection(), 0)));
    selection_->Reload();
    configuration_->Reload();
}

void CTorvikDlg::ShowInformation(const std::wstring& text)
{
    wxMessageBox(Wx(text), kTitle, wxOK | wxICON_INFORMATION, this);
}

void CTorvikDlg::ShowWarning(const std::wstring& text)
{
    wxMessageBox(Wx(text), kTitle, wxOK | wxICON_WARNING, this);
}

bool CTorvikDlg::AskYesNo(const std::wstring& text)
{
    return wxMessageBox(Wx(text), kTitle, wxYES_NO | wxICON_QUESTION, this) == wxYES;
}

bool CTorvikDlg::AskOkCancel(const std::wstring& text)
{
    return wxMessageBox(Wx(text), kTitle, wxOK | wxCANCEL | wxICON_QUESTION, this) == wxOK;
}

CTorvikDlg::Answer CTorvikDlg::AskYesNoCancel(const std::wstring& text)
{
    return AnswerOf(wxMessageBox(Wx(text), kTitle, wxYES_NO | wxCANCEL | wxICON_QUESTION, this));
}

std::optional<std::wstring> CTorvikDlg::ChooseDatabaseFile()
{
    wxFileDialog dialog(this, "Select database file", wxString(), wxString(), kDatabaseFilter,
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK) {
        return std::nullopt;
    }
    return Std(dialog.GetPath());
}

std::optional<std::wstring> CTorvikDlg::ChooseProjectFile()
{
    wxFileDialog dialog(this, "Select project file", wxString(), wxString(), kProjectFilter,
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK) {
        return std::nullopt;
    }
    return Std(dialog.GetPath());
}

std::optional<std::wstring> CTorvikDlg::ChooseSaveProjectFile()
{
    const auto* project = core_->project();
    wxFileDialog dialog(this, "Save project file as", wxString(),
                        project != nullptr ? Wx(project->GetProjectName()) + ".tsp" : wxString(), kProjectFilter,
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() != wxID_OK) {
        return std::nullopt;
    }
    wxString path = dialog.GetPath();
    if (!path.Lower().EndsWith(".tsp") && dialog.GetFilterIndex() == 0) {
        path += ".tsp";
    }
    return Std(path);
}

void CTorvikDlg::ProjectReplaced()
{
    if (selection_ != nullptr) {
        selection_->Reload();
        configuration_->Reload();
    }
}

void CTorvikDlg::StateChanged()
{
    if (core_ == nullptr) {
        return;
    }
    SetTitle(Wx(core_->Title()));
    wxMenuBar* bar = GetMenuBar();
    wxToolBar* toolbar = GetToolBar();
    RebuildRemovalPopup();
    for (const app::Menu& menu : app::kMenus) {
        for (std::size_t i = 0; i < menu.count; ++i) {
            const int id = menu.items[i].id;
            if (id > 0) {
                bar->Enable(WxId(id), core_->IsEnabled(id));
            }
        }
    }
    for (const int first : {int(app::kCmdChannel3First), int(app::kCmdChannel4First)}) {
        for (int k = 0; k < 4; ++k) {
            bar->Enable(WxId(first + k), core_->IsEnabled(first + k));
            bar->Check(WxId(first + k), core_->IsChecked(first + k));
        }
    }
    for (std::size_t i = 0; i < app::kMenus[1].count; ++i) {
        const app::MenuItem& item = app::kMenus[1].items[i];
        if (item.id == 0) {
            const int found = bar->GetMenu(1)->FindItem(wxStripMenuCodes(item.label));
            if (found != wxNOT_FOUND) {
                bar->Enable(found, core_->HasProject() && (item.channel != 0 || !removalEntries_.empty()));
            }
        }
    }
    if (toolbar != nullptr) {
        for (const app::ToolbarButton& button : app::kToolbar) {
            toolbar->EnableTool(WxId(button.id), core_->IsEnabled(button.id));
        }
    }
    auto refill = [](wxChoice& choice, const std::vector<std::wstring>& entries, int selection) {
        wxArrayString items;
        for (const auto& entry : entries) {
            items.Add(Wx(entry));
        }
        if (choice.GetStrings() != items) {
            choice.Set(items);
        }
        choice.SetSelection(selection);
    };
    const auto& filter = core_->filter();
    refill(*databaseFilter_, core_->DatabaseFilterEntries(), filter.database + 1);
    const auto nodes = core_->NodeFilterEntries();
    int node = 0;
    for (std::size_t i = 1; i < nodes.size(); ++i) {
        if (nodes[i] == filter.node) {
            node = static_cast<int>(i);
        }
    }
    refill(*nodeFilter_, nodes, node);
    databaseFilter_->Enable(core_->HasProject());
    nodeFilter_->Enable(core_->HasProject());
}

bool CTorvikDlg::OpenDocument(const std::filesystem::path& path)
{
    const std::string file = path.string();
    const char* argv[] = {"xdg-open", file.c_str(), nullptr};
    return wxExecute(argv, wxEXEC_ASYNC) != 0;
}

void CTorvikDlg::ShowAbout(const std::wstring& nameAndVersion, const std::wstring& description)
{
    wxDialog about(this, wxID_ANY, "About Torvik Studio");
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(new wxStaticBitmap(&about, wxID_ANY, wxArtProvider::GetBitmap(wxART_INFORMATION, wxART_MESSAGE_BOX)), 0,
             wxALL, FromDIP(10));
    auto* texts = new wxBoxSizer(wxVERTICAL);
    texts->Add(new wxStaticText(&about, wxID_ANY, Wx(nameAndVersion)), 0, wxBOTTOM, FromDIP(8));
    texts->Add(new wxStaticText(&about, wxID_ANY, Wx(description)), 0, wxBOTTOM, FromDIP(8));
    texts->Add(new wxHyperlinkCtrl(&about, wxID_ANY, "support@torvik4.net", "mailto:support@torvik4.net"));
    top->Add(texts, 1, wxALL, FromDIP(10));
    sizer->Add(top, 1, wxEXPAND);
    sizer->Add(about.CreateButtonSizer(wxOK), 0, wxEXPAND | wxALL, FromDIP(10));
    about.SetSizerAndFit(sizer);
    about.ShowModal();
}

void CTorvikDlg::RunDeviceDialog(const DeviceDialogMaker& make)
{
    CDeviceDialog dialog(this, make);
    dialog.ShowModal();
}

bool CTorvikDlg::EditSettings(studio::app::SettingsForm& form)
{
    CSettingsDialog dialog(this, form);
    return dialog.ShowModal() == wxID_OK;
}

void CTorvikDlg::ShowVinDialog(studio::VinOpening& opening)
{
    CVinCfgDlg dialog(this, opening);
    dialog.ShowModal();
}

void CTorvikDlg::ShowDateTimeDialog(studio::ClockOpening& opening)
{
    CSetDateTimeDlg dialog(this, opening);
    dialog.ShowModal();
}

void CTorvikDlg::ShowOutcome(const studio::DeviceOutcome& outcome)
{
    gui::ShowOutcome(this, outcome);
}

}  // namespace torvik::gui
