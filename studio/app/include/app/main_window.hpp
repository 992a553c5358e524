#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <app/commands.hpp>
#include <app/settings_form.hpp>
#include <app/startup.hpp>
#include <app/views.hpp>
#include <device/device_clock.hpp>
#include <device/device_dialog.hpp>
#include <device/vin_config.hpp>
#include <project/prompt.hpp>
#include <project/ts_project.hpp>

namespace log4cpp {
class Category;
}

namespace torvik::studio::app {

/// What the main window's core asks of the window that shows it. Called on the user-interface thread.
class MainWindowShell : public Prompt {
public:
    /// "Save project file as": a path (the user confirmed overwriting), or nothing when cancelled.
    virtual std::optional<std::wstring> ChooseSaveProjectFile() = 0;
    /// The project was replaced, closed or changed channel modes: both views show it again.
    virtual void ProjectReplaced() = 0;
    /// The title, the enabled and checked states, the removal popup or the filters changed.
    virtual void StateChanged() = 0;
    /// Opens a document with the desktop's viewer; false when it could not be started.
    virtual bool OpenDocument(const std::filesystem::path& path) = 0;
    /// Shows the about box with its two lines of text.
    virtual void ShowAbout(const std::wstring& nameAndVersion, const std::wstring& description) = 0;

    /// Makes a device operation that reports to `sink` and asks through `prompt` (both the window's).
    using DeviceDialogMaker = std::function<std::unique_ptr<CDeviceDialogBase>(DeviceReportSink&, Prompt&)>;
    /// Shows a device operation's window modally: starts the operation, shows its reports and questions,
    /// and returns when the window closed (which the operation's close rules allow only once it ended).
    virtual void RunDeviceDialog(const DeviceDialogMaker& make) = 0;
    /// The settings dialog over `form`; true on OK.
    virtual bool EditSettings(SettingsForm& form) = 0;
    /// The VIN configuration over an opened session (the rows already read), modal.
    virtual void ShowVinDialog(VinOpening& opening) = 0;
    /// The date and time configuration over an opened session (the clock already read), modal.
    virtual void ShowDateTimeDialog(ClockOpening& opening) = 0;
    /// The message boxes of a device utility's outcome, one after the other.
    virtual void ShowOutcome(const DeviceOutcome& outcome) = 0;
};

/// The main window without its widgets: the one open project, the commands of the menus and toolbar,
/// the title and greying rules, the two views and the filters they share.
class MainWindow {
public:
    MainWindow(MainWindowShell& shell, log4cpp::Category& logger, std::filesystem::path programFolder);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    /// Opens the project named on the command line (a failure only tells the user); none: no project.
    void Start(const std::wstring& projectFile);

    /// Runs a command of the menus, toolbar or popups; false for an unknown or greyed command.
    bool Run(int command);

    bool NewProject();
    bool OpenProject();
    /// Save and Save as; false when cancelled or failed (the project stays modified).
    bool SaveProject();
    bool SaveProjectAs();
    /// Asks about unsaved changes; false when the user cancelled or the save failed.
    bool CloseProject();
    void ImportDatabase();
    void RemoveDatabase(std::size_t index);
    void SetChannelSetup(std::uint32_t channel, std::uint32_t code);
    void Upload();
    /// The device commands: each runs its window with the settings loaded at start-up.
    void RunDeviceOperation(int command);
    /// Settings: on OK the settings change and are written to the settings file.
    void EditSettings();
    void SetVin();
    void SetDateTime();
    const Settings& settings() const { return settings_; }
    void OpenManual();
    void About();
    /// Exit and closing the window: closes the project (asking about unsaved changes) and deletes the
    /// registered temporary files. False when the user chose to stay.
    bool Exit();
    /// A file that the device dialogs leave behind, deleted at exit.
    void RegisterTemporaryFile(std::filesystem::path path);

    /// A view changed the project (a ticked channel, an edited property).
    void OnProjectChanged();
    /// A view asks to grey or enable a channel's HS item.
    void OnGreyingCode(GreyingCode code);

    // ---- what the window shows ----
    std::wstring Title() const;
    bool IsEnabled(int command) const;
    bool IsChecked(int command) const;
    /// Whether the channel's popup and the filters can be used (a project is open).
    bool HasProject() const { return project_ != nullptr; }
    bool IsHsEnabled(std::uint32_t channel) const;
    /// The entries of the database removal popup (command kCmdRemoveDbcFirst + position).
    std::vector<std::wstring> RemovalEntries() const;
    /// "All databases" then the database names; "All nodes" then the nodes of the chosen database.
    std::vector<std::wstring> DatabaseFilterEntries() const;
    std::vector<std::wstring> NodeFilterEntries() const;
    /// Filter changes from the combo boxes: position in the entries above.
    void SelectDatabaseFilter(std::size_t position);
    void SelectNodeFilter(std::size_t position);
    const ViewFilter& filter() const { return filter_; }

    TS_Project* project() const { return project_.get(); }
    MessageList& messages() { return messages_; }
    ConfigTree& tree() { return tree_; }
    MainWindowShell& shell() { return shell_; }

private:
    void TakeProject(std::unique_ptr<TS_Project> project);
    void DestroyProject();
    void OpenPath(const std::wstring& path, bool atStartup);
    void TellViews();
    bool SaveTo(const std::wstring& path);
    /// The device settings as the device windows take them.
    DeviceSettings ForDevice() const;
    bool AnyCanFdMessageOn(std::uint32_t channel) const;

    MainWindowShell& shell_;
    log4cpp::Category& logger_;
    std::filesystem::path programFolder_;
    std::filesystem::path settingsPath_;
    Settings settings_;
    std::unique_ptr<TS_Project> project_;
    MessageList messages_;
    ConfigTree tree_;
    ViewFilter filter_;
    bool hsEnabled_[2] = {true, true};
    std::vector<std::filesystem::path> temporaryFiles_;
};

/// The program's version, as the about box shows it.
std::wstring ProgramVersion();

}  // namespace torvik::studio::app
