#include <app/main_window.hpp>

#include <algorithm>

#include <log4cpp/Category.hh>

#include <device/flash_dialog.hpp>
#include <device/temporary_files.hpp>
#include <device/user_memory.hpp>
#include <flashlib/flash_container.hpp>
#include <flashlib/flash_device.hpp>
#include <platform/install_layout.hpp>
#include <platform/profile.hpp>
#include <platform/text.hpp>
#include <project/opening.hpp>

#ifndef TORVIK_VERSION
#define TORVIK_VERSION "0.0.0"
#endif

namespace torvik::studio::app {

namespace {

constexpr const wchar_t* kProgramName = L"Torvik Studio";
constexpr const wchar_t* kSaveQuestion = L"Would you like to save the project?";

}  // namespace

std::wstring ProgramVersion()
{
    return platform::FromUtf8(TORVIK_VERSION);
}

MainWindow::MainWindow(MainWindowShell& shell, log4cpp::Category& logger, std::filesystem::path programFolder)
    : shell_(shell), logger_(logger), programFolder_(std::move(programFolder)), messages_(logger), tree_(logger)
{
    std::unique_ptr<platform::IniFile> ini;
    settingsPath_ = SettingsPath(programFolder_);
    logger_.debug("Settings file path: " + settingsPath_.string());
    if (!platform::IniFile::Open(settingsPath_, ini) && ini) {
        settings_.Load(*ini);
    }
    tree_.grid().SetChangeHandler([this] { OnProjectChanged(); });
}

MainWindow::~MainWindow()
{
    tree_.SetProject(nullptr);
}

void MainWindow::Start(const std::wstring& projectFile)
{
    if (!projectFile.empty()) {
        OpenPath(projectFile, true);
    }
    shell_.StateChanged();
}

bool MainWindow::Run(int command)
{
    if (!IsEnabled(command)) {
        return false;
    }
    if (command >= kCmdChannel3First && command < kCmdChannel3First + 4) {
        SetChannelSetup(3, kSetupCodes[static_cast<std::size_t>(command - kCmdChannel3First)]);
        return true;
    }
    if (command >= kCmdChannel4First && command < kCmdChannel4First + 4) {
        SetChannelSetup(4, kSetupCodes[static_cast<std::size_t>(command - kCmdChannel4First)]);
        return true;
    }
    if (command >= kCmdRemoveDbcFirst && command <= kCmdRemoveDbcLast) {
        RemoveDatabase(static_cast<std::size_t>(command - kCmdRemoveDbcFirst));
        return true;
    }
    switch (command) {
    case kCmdNewProject:
        NewProject();
        return true;
    case kCmdOpenProject:
        OpenProject();
        return true;
    case kCmdSaveProject:
        SaveProject();
        return true;
    case kCmdSaveProjectAs:
        SaveProjectAs();
        return true;
    case kCmdCloseProject:
        CloseProject();
        return true;
    case kCmdImportDbc:
        ImportDatabase();
        return true;
    case kCmdUpload:
        Upload();
        return true;
    case kCmdManual:
        OpenManual();
        return true;
    case kCmdAbout:
    case kCmdAboutSystem:
        About();
        return true;
    case kCmdSettings:
        EditSettings();
        return true;
    case kCmdErase:
    case kCmdDeviceInfo:
    case kCmdFirmwareUpdate:
        RunDeviceOperation(command);
        return true;
    case kCmdDateTime:
        SetDateTime();
        return true;
    case kCmdSetVin:
        SetVin();
        return true;
    default:
        return false;
    }
}

DeviceSettings MainWindow::ForDevice() const
{
    return settings_.ForDevice();
}

void MainWindow::RunDeviceOperation(int command)
{
    const DeviceSettings settings = ForDevice();
    switch (command) {
    case kCmdErase:
        logger_.debug("CTorvikDlg - OnEraseSimulation");
        shell_.RunDeviceDialog([settings](DeviceReportSink& sink, Prompt& prompt) {
            return std::make_unique<CEraseDialog>(settings, sink, prompt);
        });
        break;
    case kCmdDeviceInfo:
        logger_.debug("CTorvikDlg - OnDeviceInfo");
        shell_.RunDeviceDialog([settings](DeviceReportSink& sink, Prompt& prompt) {
            return std::make_unique<CDeviceInfoDialog>(settings, sink, prompt);
        });
        break;
    case kCmdFirmwareUpdate:
        logger_.debug("CTorvikDlg - OnFirmwareUpdate");
        shell_.RunDeviceDialog([settings](DeviceReportSink& sink, Prompt& prompt) {
            return std::make_unique<CFlashDialog>(settings, sink, prompt);
        });
        break;
    default:
        break;
    }
}

void MainWindow::EditSettings()
{
    logger_.debug("CTorvikDlg - OnSettings");
    SettingsForm form(settings_);
    if (!shell_.EditSettings(form)) {
        return;
    }
    form.Confirm(settings_);
    std::unique_ptr<platform::IniFile> ini;
    if (platform::IniFile::Open(settingsPath_, ini) || !ini) {
        // A missing or unreadable file is written anew.
        ini = std::make_unique<platform::IniFile>(settingsPath_);
    }
    settings_.Save(*ini);
    if (const std::error_code error = ini->Commit()) {
        logger_.error("CTorvikDlg - settings can't be written to " + settingsPath_.string() + ": " + error.message());
        shell_.ShowWarning(L"The settings can't be written to " + platform::FromUtf8(settingsPath_.string()) + L" (" +
                           platform::FromUtf8(error.message()) + L").");
    }
}

void MainWindow::SetVin()
{
    logger_.debug("CTorvikDlg - OnSetVin");
    VinOpening opening = OpenVinConfig(ChoosePort(ForDevice().port));
    if (!opening.session) {
        shell_.ShowOutcome(opening.reading.outcome);
        return;
    }
    shell_.ShowVinDialog(opening);
}

void MainWindow::SetDateTime()
{
    logger_.debug("CTorvikDlg - OnSetDateTime");
    ClockOpening opening = OpenDeviceClock(ChoosePort(ForDevice().port));
    if (!opening.session) {
        shell_.ShowOutcome(opening.reading.outcome);
        return;
    }
    shell_.ShowDateTimeDialog(opening);
}

bool MainWindow::NewProject()
{
    logger_.debug("CTorvikDlg - OnNewProject");
    if (!CloseProject()) {
        return false;
    }
    TakeProject(std::make_unique<TS_Project>());
    return true;
}

bool MainWindow::OpenProject()
{
    logger_.debug("CTorvikDlg - OnOpenProject");
    if (project_ && project_->IsModified()) {
        const auto answer = shell_.AskYesNoCancel(kSaveQuestion);
        if (answer == Prompt::Answer::Cancel || (answer == Prompt::Answer::Yes && !SaveProject())) {
            return false;
        }
    }
    const auto path = shell_.ChooseProjectFile();
    if (!path) {
        return false;
    }
    OpenPath(*path, false);
    return true;
}

void MainWindow::OpenPath(const std::wstring& path, bool atStartup)
{
    ProjectOpening opening(shell_, atStartup);
    auto opened = opening.Run(path);
    if (!opened) {
        logger_.warn("CTorvikDlg - Project not opened: " + platform::ToUtf8(opening.failure()));
        return;
    }
    DestroyProject();
    TakeProject(std::move(opened));
}

bool MainWindow::SaveTo(const std::wstring& path)
{
    if (project_->SaveProject(path)) {
        shell_.StateChanged();
        return true;
    }
    const std::wstring target = path.empty() ? project_->GetProjectPath() : path;
    const std::error_code& reason = project_->GetSaveError();
    const std::string why = reason ? ": " + reason.message() : std::string();
    logger_.error("CTorvikDlg - Project can't be saved to " + platform::ToUtf8(target) + why);
    shell_.ShowWarning(L"Project '" + target + L"' can't be saved" + platform::FromUtf8(why) + L".");
    return false;
}

bool MainWindow::SaveProject()
{
    logger_.debug("CTorvikDlg - OnSaveProject");
    if (!project_) {
        return false;
    }
    if (project_->GetProjectPath().empty()) {
        return SaveProjectAs();
    }
    return SaveTo(std::wstring());
}

bool MainWindow::SaveProjectAs()
{
    logger_.debug("CTorvikDlg - OnSaveProjectAs");
    if (!project_) {
        return false;
    }
    const auto path = shell_.ChooseSaveProjectFile();
    return path && SaveTo(*path);
}

bool MainWindow::CloseProject()
{
    logger_.debug("CTorvikDlg - CloseProject");
    if (!project_) {
        return true;
    }
    if (project_->IsModified()) {
        const auto answer = shell_.AskYesNoCancel(kSaveQuestion);
        if (answer == Prompt::Answer::Cancel || (answer == Prompt::Answer::Yes && !SaveProject())) {
            return false;
        }
    }
    DestroyProject();
    return true;
}

void MainWindow::DestroyProject()
{
    if (!project_) {
        return;
    }
    logger_.debug("CTorvikDlg - DestroyProject");
    filter_ = {};
    messages_.SetFilter(filter_);
    tree_.SetFilter(filter_);
    messages_.SetProject(nullptr);
    tree_.SetProject(nullptr);
    project_.reset();
    hsEnabled_[0] = hsEnabled_[1] = true;
    TellViews();
}

void MainWindow::TakeProject(std::unique_ptr<TS_Project> project)
{
    project_ = std::move(project);
    filter_ = {};
    project_->GiveChannelsTheirSetups();
    for (std::uint32_t channel = 3; channel <= 4; ++channel) {
        hsEnabled_[channel - 3] = !AnyCanFdMessageOn(channel);
    }
    messages_.SetFilter(filter_);
    tree_.SetFilter(filter_);
    messages_.SetProject(project_.get());
    tree_.SetProject(project_.get());
    TellViews();
}

void MainWindow::TellViews()
{
    messages_.Fill();
    tree_.Refresh();
    shell_.ProjectReplaced();
    shell_.StateChanged();
}

void MainWindow::ImportDatabase()
{
    logger_.debug("CTorvikDlg - OnImportDbc");
    if (!project_) {
        return;
    }
    const auto path = shell_.ChooseDatabaseFile();
    if (!path || project_->AddDatabase(shell_, *path) < 0) {
        return;
    }
    project_->SetModified(true);
    TellViews();
}

void MainWindow::RemoveDatabase(std::size_t index)
{
    logger_.debug("CTorvikDlg - OnRemoveDbc");
    if (!project_ || index >= project_->GetDatabaseCount()) {
        return;
    }
    const bool selected = project_->HasSelectedMessages(index);
    if (selected && !shell_.AskOkCancel(L"Would you like to also remove all messages from database " +
                                        project_->GetDatabase(index)->GetName() + L" you want to remove?")) {
        return;
    }
    // The views hold pointers into the database: let them go first.
    filter_ = {};
    messages_.SetFilter(filter_);
    tree_.SetFilter(filter_);
    messages_.SetProject(nullptr);
    tree_.SetProject(nullptr);
    if (project_->RemoveDatabase(index, selected)) {
        project_->SetModified(true);
    }
    for (std::uint32_t channel = 3; channel <= 4; ++channel) {
        hsEnabled_[channel - 3] = !AnyCanFdMessageOn(channel);
    }
    messages_.SetProject(project_.get());
    tree_.SetProject(project_.get());
    TellViews();
}

void MainWindow::SetChannelSetup(std::uint32_t channel, std::uint32_t code)
{
    if (!project_ || (channel != 3 && channel != 4)) {
        return;
    }
    const auto change = project_->SetChannelSetup(channel, static_cast<std::int32_t>(code), kSetupFd2000);
    if (change.previous != code) {
        project_->SetModified(true);
    }
    if (change.modeChanged) {
        TellViews();
    } else {
        shell_.StateChanged();
    }
}

void MainWindow::Upload()
{
    if (!project_) {
        return;
    }
    logger_.info("Serializing user data.");
    if (project_->BuildUserBlock() < 0) {
        logger_.error("Serialization error.");
        shell_.ShowWarning(L"The simulation does not fit into the device's memory.");
        return;
    }
    logger_.info("Data Serialized.");
    const std::wstring notice = TS_Project::MotorolaSignalsNotice(project_->MessagesWithMotorolaSignals());
    if (!notice.empty()) {
        logger_.warn("CTorvikDlg - " + platform::ToUtf8(notice));
        shell_.ShowInformation(notice);
    }
    std::vector<std::uint8_t> block(project_->GetUserBlock(),
                                    project_->GetUserBlock() + std::max(project_->GetUserBlockLength(), 0));
    shell_.RunDeviceDialog([settings = ForDevice(), block = std::move(block)](DeviceReportSink& sink, Prompt& prompt) {
        return std::make_unique<CUploadDialog>(settings, sink, prompt, block);
    });
}

void MainWindow::OpenManual()
{
    const std::filesystem::path manual = platform::DataFile(programFolder_, "TorvikStudio_Manual.pdf");
    if (!std::filesystem::exists(manual) || !shell_.OpenDocument(manual)) {
        shell_.ShowWarning(L"The manual " + platform::FromUtf8(manual.string()) + L" can't be opened.");
    }
}

void MainWindow::About()
{
    shell_.ShowAbout(std::wstring(kProgramName) + L", Version " + ProgramVersion() + L".",
                     L"Application for users of Torvik4 to create user defined simulations\nand to update its "
                     L"firmware.");
}

bool MainWindow::Exit()
{
    if (!CloseProject()) {
        return false;
    }
    for (const auto& file : temporaryFiles_) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    }
    temporaryFiles_.clear();
    // The HEX files and downloads the device windows made.
    TemporaryFiles::Program().RemoveAll();
    return true;
}

void MainWindow::RegisterTemporaryFile(std::filesystem::path path)
{
    temporaryFiles_.push_back(std::move(path));
}

void MainWindow::OnProjectChanged()
{
    if (!project_) {
        return;
    }
    project_->SetModified(true);
    tree_.Refresh();
    shell_.StateChanged();
}

bool MainWindow::AnyCanFdMessageOn(std::uint32_t channel) const
{
    return project_ && project_->HasCanFdMessageOn(channel);
}

void MainWindow::OnGreyingCode(GreyingCode code)
{
    const std::uint32_t channel = code >> 8;
    if (channel != 3 && channel != 4) {
        return;
    }
    // The item stays greyed while another CAN FD message still uses the channel.
    hsEnabled_[channel - 3] = (code & 0xFF) == kEnableHs && !AnyCanFdMessageOn(channel);
    shell_.StateChanged();
}

std::wstring MainWindow::Title() const
{
    if (!project_) {
        return kProgramName;
    }
    return (project_->IsModified() ? L"*" : L"") + project_->GetProjectName() + L" - " + kProgramName;
}

bool MainWindow::IsHsEnabled(std::uint32_t channel) const
{
    return (channel == 3 || channel == 4) && project_ && hsEnabled_[channel - 3];
}

bool MainWindow::IsEnabled(int command) const
{
    if (command >= kCmdChannel3First && command < kCmdChannel3First + 4) {
        return project_ && (command != kCmdChannel3First || IsHsEnabled(3));
    }
    if (command >= kCmdChannel4First && command < kCmdChannel4First + 4) {
        return project_ && (command != kCmdChannel4First || IsHsEnabled(4));
    }
    if (command >= kCmdRemoveDbcFirst && command <= kCmdRemoveDbcLast) {
        return project_ && static_cast<std::size_t>(command - kCmdRemoveDbcFirst) < project_->GetDatabaseCount();
    }
    switch (command) {
    case kCmdSaveProject:
        return project_ && project_->IsModified();
    case kCmdImportDbc:
    case kCmdCloseProject:
    case kCmdUpload:
    case kCmdSaveProjectAs:
        return project_ != nullptr;
    default:
        return true;
    }
}

bool MainWindow::IsChecked(int command) const
{
    if (!project_) {
        return false;
    }
    for (std::uint32_t channel = 3; channel <= 4; ++channel) {
        const int first = channel == 3 ? kCmdChannel3First : kCmdChannel4First;
        if (command >= first && command < first + 4) {
            const auto& setups = project_->GetChannelSetups();
            const auto it = setups.find(channel);
            return it != setups.end() && it->second == kSetupCodes[static_cast<std::size_t>(command - first)];
        }
    }
    return false;
}

std::vector<std::wstring> MainWindow::RemovalEntries() const
{
    std::vector<std::wstring> entries;
    if (project_) {
        for (std::size_t i = 0; i < project_->GetDatabaseCount(); ++i) {
            entries.push_back(project_->GetDatabase(i)->GetName());
        }
    }
    return entries;
}

std::vector<std::wstring> MainWindow::DatabaseFilterEntries() const
{
    std::vector<std::wstring> entries{L"All databases"};
    const auto names = RemovalEntries();
    entries.insert(entries.end(), names.begin(), names.end());
    return entries;
}

std::vector<std::wstring> MainWindow::NodeFilterEntries() const
{
    std::vector<std::wstring> entries{L"All nodes"};
    if (project_ && filter_.database >= 0) {
        if (const auto* database = project_->GetDatabase(static_cast<std::size_t>(filter_.database))) {
            for (const auto& [name, node] : database->network->nodes) {
                entries.push_back(name);
            }
        }
    }
    return entries;
}

void MainWindow::SelectDatabaseFilter(std::size_t position)
{
    filter_.database = position == 0 ? -1 : static_cast<int>(position - 1);
    filter_.node.clear();
    messages_.SetFilter(filter_);
    tree_.SetFilter(filter_);
    shell_.StateChanged();
}

void MainWindow::SelectNodeFilter(std::size_t position)
{
    const auto entries = NodeFilterEntries();
    filter_.node = position == 0 || position >= entries.size() ? std::wstring() : entries[position];
    messages_.SetFilter(filter_);
    tree_.SetFilter(filter_);
    shell_.StateChanged();
}

}  // namespace torvik::studio::app
