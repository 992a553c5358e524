#pragma once

// The windows of the device operations and utilities: the operation dialog with its log pane, the
// settings dialog, the VIN configuration and the date and time configuration. Each shows what its core
// object in studio/ tells it.

#include <array>
#include <memory>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/datectrl.h>
#include <wx/dialog.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>
#include <wx/timectrl.h>

#include <app/main_window.hpp>

namespace torvik::gui {

/// The answer of a message box with Yes, No and Cancel.
studio::Prompt::Answer AnswerOf(int boxResult);

/// The message boxes of a device utility's outcome (title "Torvik Studio"), the reason below the text.
void ShowOutcome(wxWindow* parent, const studio::DeviceOutcome& outcome);

/// The window of a device operation: the log pane, the title and the one button ("Cancel", then "OK" or
/// "Close"). The operation runs on its worker thread; its reports and questions come to the event loop.
class CDeviceDialog : public wxDialog {
public:
    CDeviceDialog(wxWindow* parent, const studio::app::MainWindowShell::DeviceDialogMaker& make);
    ~CDeviceDialog() override;

    /// Starts the operation (once) and shows the window modally until it may close.
    int ShowModal() override;
    /// Starts the operation without a modal loop (the caller keeps the loop running).
    void StartOperation();
    /// The button or the window's close command; true when the window closed.
    bool AskToClose();

    wxTextCtrl& pane() { return *pane_; }
    wxButton& button() { return *button_; }
    studio::CDeviceDialogBase& operation() { return *operation_; }

private:
    class Sink;
    class WorkerPrompt;

    void ShowReport(const studio::DeviceReport& report);
    void OnButton(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);

    /// Shared with the reports and questions still on their way: null once the window is gone.
    std::shared_ptr<CDeviceDialog*> alive_;
    std::unique_ptr<Sink> sink_;
    std::unique_ptr<WorkerPrompt> prompt_;
    std::unique_ptr<studio::CDeviceDialogBase> operation_;
    wxTextCtrl* pane_ = nullptr;
    wxButton* button_ = nullptr;
    bool started_ = false;
    bool ended_ = false;  ///< the run's end ("OK" or "Close") is shown
};

/// "Settings": the COM port (automatic, or manual from the list or typed as a device path) and the
/// download address of firmware updates.
class CSettingsDialog : public wxDialog {
public:
    CSettingsDialog(wxWindow* parent, studio::app::SettingsForm& form);

    wxRadioButton& automatic() { return *automatic_; }
    wxRadioButton& manual() { return *manual_; }
    wxComboBox& ports() { return *ports_; }
    wxTextCtrl& address() { return *address_; }
    /// OK: hands the controls to the form.
    bool TransferDataFromWindow() override;

private:
    void ShowPorts();

    studio::app::SettingsForm& form_;
    wxRadioButton* automatic_ = nullptr;
    wxRadioButton* manual_ = nullptr;
    wxComboBox* ports_ = nullptr;
    wxTextCtrl* address_ = nullptr;
};

/// "VIN configuration": a row per vehicle platform with its text, "Default", "Read" and "Write", then
/// "Read all", "Write all" and "Cancel". Every action talks to the device while the window waits.
class CVinCfgDlg : public wxDialog {
public:
    struct Row {
        wxTextCtrl* text = nullptr;
        wxCheckBox* isDefault = nullptr;
        wxButton* read = nullptr;
        wxButton* write = nullptr;
    };

    CVinCfgDlg(wxWindow* parent, studio::VinOpening& opening);

    Row& row(studio::VinPlatform platform) { return rows_[static_cast<std::size_t>(platform)]; }
    void ReadRow(studio::VinPlatform platform);
    void WriteRow(studio::VinPlatform platform);
    void ReadAll();
    void WriteAll();

private:
    void ShowReading(const studio::VinReading& reading);
    void ShowDefault(Row& row, bool isDefault);
    studio::VinValue ValueOf(studio::VinPlatform platform);

    studio::VinConfig config_;
    std::array<Row, 3> rows_;
};

/// "Date & time configuration": the device's date and time in two pickers, "Get device time", "Set local
/// time", "Set device time" and "Cancel".
class CSetDateTimeDlg : public wxDialog {
public:
    CSetDateTimeDlg(wxWindow* parent, studio::ClockOpening& opening);

    wxDatePickerCtrl& date() { return *date_; }
    wxTimePickerCtrl& time() { return *time_; }
    studio::ClockFields Shown() const;
    void GetDeviceTime();
    void SetLocalTime();
    void SetDeviceTime();

private:
    void ShowFields(const studio::ClockFields& fields);
    void ShowSetting(const studio::ClockSetting& setting);

    studio::DeviceClock clock_;
    wxDatePickerCtrl* date_ = nullptr;
    wxTimePickerCtrl* time_ = nullptr;
};

}  // namespace torvik::gui
