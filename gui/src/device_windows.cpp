#include "device_windows.hpp"

#include <condition_variable>
#include <mutex>
#include <optional>

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include <platform/text.hpp>

#include "wx_text.hpp"

namespace torvik::gui {

namespace {

const wxString kTitle = "Torvik Studio";

wxString FromUtf8(const std::string& text)
{
    return wxString::FromUTF8(text.data(), text.size());
}

}  // namespace

studio::Prompt::Answer AnswerOf(int boxResult)
{
    switch (boxResult) {
    case wxYES:
        return studio::Prompt::Answer::Yes;
    case wxNO:
        return studio::Prompt::Answer::No;
    default:
        return studio::Prompt::Answer::Cancel;
    }
}

void ShowOutcome(wxWindow* parent, const studio::DeviceOutcome& outcome)
{
    for (const studio::DeviceMessage& message : outcome.messages) {
        long icon = wxICON_INFORMATION;
        if (message.kind == studio::DeviceMessage::Kind::Warning) {
            icon = wxICON_WARNING;
        } else if (message.kind == studio::DeviceMessage::Kind::Error) {
            icon = wxICON_ERROR;
        }
        wxMessageDialog box(parent, FromUtf8(message.text), kTitle, wxOK | icon);
        if (!message.detail.empty()) {
            box.SetExtendedMessage(FromUtf8(message.detail));
        }
        box.ShowModal();
    }
}

// ---- the device operation's window ----

/// Hands each report to the event loop; the window, if it is still there, shows it.
class CDeviceDialog::Sink : public studio::DeviceReportSink {
public:
    explicit Sink(std::weak_ptr<CDeviceDialog*> alive) : alive_(std::move(alive)) {}
    void Deliver(const studio::DeviceReport& report) override
    {
        wxTheApp->CallAfter([alive = alive_, report] {
            if (const auto window = alive.lock(); window && *window != nullptr) {
                (*window)->ShowReport(report);
            }
        });
    }

private:
    std::weak_ptr<CDeviceDialog*> alive_;
};

/// The operation's questions, asked on the worker thread: each is shown from the event loop while the
/// worker waits. Once the window is going, every question gets its safe answer (No, Cancel).
class CDeviceDialog::WorkerPrompt : public studio::Prompt {
public:
    explicit WorkerPrompt(std::weak_ptr<CDeviceDialog*> alive) : alive_(std::move(alive)) {}

    void ShowInformation(const std::wstring& text) override { Ask(text, wxOK | wxICON_INFORMATION, wxOK); }
    void ShowWarning(const std::wstring& text) override { Ask(text, wxOK | wxICON_WARNING, wxOK); }
    bool AskYesNo(const std::wstring& text) override { return Ask(text, wxYES_NO | wxICON_QUESTION, wxNO) == wxYES; }
    bool AskOkCancel(const std::wstring& text) override
    {
        return Ask(text, wxOK | wxCANCEL | wxICON_QUESTION, wxCANCEL) == wxOK;
    }
    Answer AskYesNoCancel(const std::wstring& text) override
    {
        return AnswerOf(Ask(text, wxYES_NO | wxCANCEL | wxICON_QUESTION, wxCANCEL));
    }
    std::optional<std::wstring> ChooseDatabaseFile() override { return std::nullopt; }
    std::optional<std::wstring> ChooseProjectFile() override { return std::nullopt; }

    /// The window goes: questions waiting and to come get their safe answer.
    void Close()
    {
        std::lock_guard lock(channel_->mutex);
        channel_->closed = true;
        channel_->answered.notify_all();
    }

private:
    struct Channel {
        std::mutex mutex;
        std::condition_variable answered;
        bool closed = false;
    };

    int Ask(const std::wstring& text, long style, int safe)
    {
        auto answer = std::make_shared<std::optional<int>>();
        {
            std::lock_guard lock(channel_->mutex);
            if (channel_->closed) {
                return safe;
            }
        }
        wxTheApp->CallAfter([alive = alive_, channel = channel_, answer, text, style, safe] {
            int result = safe;
            if (const auto window = alive.lock(); window && *window != nullptr) {
                result = wxMessageBox(Wx(text), kTitle, style, *window);
            }
            std::lock_guard lock(channel->mutex);
            *answer = result;
            channel->answered.notify_all();
        });
        std::unique_lock lock(channel_->mutex);
        channel_->answered.wait(lock, [&] { return answer->has_value() || channel_->closed; });
        return answer->has_value() ? **answer : safe;
    }

    std::weak_ptr<CDeviceDialog*> alive_;
    std::shared_ptr<Channel> channel_ = std::make_shared<Channel>();
};

CDeviceDialog::CDeviceDialog(wxWindow* parent, const studio::app::MainWindowShell::DeviceDialogMaker& make)
    : wxDialog(parent, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize, wxCAPTION | wxCLOSE_BOX),
      alive_(std::make_shared<CDeviceDialog*>(this)),
      sink_(std::make_unique<Sink>(alive_)),
      prompt_(std::make_unique<WorkerPrompt>(alive_))
{
    operation_ = make(*sink_, *prompt_);
    pane_ = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, FromDIP(wxSize(520, 220)),
                           wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
    button_ = new wxButton(this, wxID_OK, "Cancel");
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(pane_, 1, wxEXPAND | wxALL, FromDIP(10));
    sizer->Add(button_, 0, wxALIGN_CENTER_HORIZONTAL | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(10));
    SetSizerAndFit(sizer);
    CentreOnParent();
    button_->Bind(wxEVT_BUTTON, &CDeviceDialog::OnButton, this);
    Bind(wxEVT_CLOSE_WINDOW, &CDeviceDialog::OnClose, this);
    // Escape presses the one button, which asks to close.
    SetEscapeId(wxID_OK);
}

CDeviceDialog::~CDeviceDialog()
{
    *alive_ = nullptr;
    prompt_->Close();
    operation_.reset();  // waits for the worker
}

void CDeviceDialog::StartOperation()
{
    if (!started_) {
        started_ = true;
        operation_->Start();
    }
}

int CDeviceDialog::ShowModal()
{
    StartOperation();
    return wxDialog::ShowModal();
}

bool CDeviceDialog::AskToClose()
{
    // Until the window has shown the end of the run, it stays: a request that comes before the worker
    // has marked the run as running is a cancel request too, never a close.
    if (!operation_->RequestClose() || (started_ && !ended_)) {
        return false;
    }
    if (IsModal()) {
        EndModal(wxID_OK);
    } else {
        Hide();
    }
    return true;
}

void CDeviceDialog::ShowReport(const studio::DeviceReport& report)
{
    using Kind = studio::DeviceReport::Kind;
    switch (report.kind) {
    case Kind::Information:
    case Kind::Warning:
    case Kind::Error:
        if (report.append && !pane_->IsEmpty()) {
            pane_->AppendText("\n" + FromUtf8(report.text));
        } else {
            pane_->SetValue(FromUtf8(report.text));
            pane_->SetInsertionPointEnd();
        }
        break;
    case Kind::Title:
        SetTitle(FromUtf8(report.title));
        button_->SetLabel(FromUtf8(report.button));
        ended_ = report.button != "Cancel";
        break;
    case Kind::Debug:     // the operation logs it
    case Kind::Activity:  // the title carries the indicator
        break;
    }
}

void CDeviceDialog::OnButton(wxCommandEvent&)
{
    AskToClose();
}

void CDeviceDialog::OnClose(wxCloseEvent& event)
{
    if (!AskToClose() && event.CanVeto()) {
        event.Veto();
    }
}

// ---- settings ----

CSettingsDialog::CSettingsDialog(wxWindow* parent, studio::app::SettingsForm& form)
    : wxDialog(parent, wxID_ANY, "Settings"), form_(form)
{
    auto* device = new wxStaticBoxSizer(wxVERTICAL, this, "Device");
    wxStaticBox* deviceBox = device->GetStaticBox();
    device->Add(new wxStaticText(deviceBox, wxID_ANY, "COM port"), 0, wxALL, FromDIP(6));
    automatic_ = new wxRadioButton(deviceBox, wxID_ANY, "automatic (first Torvik4 device)", wxDefaultPosition,
                                   wxDefaultSize, wxRB_GROUP);
    manual_ = new wxRadioButton(deviceBox, wxID_ANY, "manual selection");
    ports_ = new wxComboBox(deviceBox, wxID_ANY, wxString(), wxDefaultPosition, FromDIP(wxSize(320, -1)));
    ports_->SetToolTip("A port of the list, or a device path such as /dev/ttyUSB0");
    device->Add(automatic_, 0, wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(6));
    device->Add(manual_, 0, wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(6));
    device->Add(ports_, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(6));

    auto* updates = new wxStaticBoxSizer(wxVERTICAL, this, "Firmware updates");
    wxStaticBox* updatesBox = updates->GetStaticBox();
    updates->Add(new wxStaticText(updatesBox, wxID_ANY, "Download address"), 0, wxALL, FromDIP(6));
    address_ = new wxTextCtrl(updatesBox, wxID_ANY, Wx(form_.downloadAddress), wxDefaultPosition,
                              FromDIP(wxSize(420, -1)));
    updates->Add(address_, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(6));

    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(device, 0, wxEXPAND | wxALL, FromDIP(10));
    sizer->Add(updates, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(10));
    sizer->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(10));
    SetSizerAndFit(sizer);
    CentreOnParent();

    (form_.automatic() ? automatic_ : manual_)->SetValue(true);
    ShowPorts();
    automatic_->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
        form_.ChooseAutomatic();
        ShowPorts();
    });
    manual_->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
        form_.ChooseManual();
        ShowPorts();
    });
    ports_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent& event) { form_.Select(event.GetSelection()); });
}

void CSettingsDialog::ShowPorts()
{
    wxArrayString labels;
    for (const auto& port : form_.ports()) {
        labels.Add(Wx(port.label));
    }
    ports_->Set(labels);
    if (form_.selection() >= 0) {
        ports_->SetSelection(form_.selection());
    } else {
        ports_->ChangeValue(Wx(form_.PortText()));
    }
    ports_->Enable(!form_.automatic());
}

bool CSettingsDialog::TransferDataFromWindow()
{
    if (!form_.automatic()) {
        form_.TypePort(Std(ports_->GetValue().Strip(wxString::both)));
    }
    form_.downloadAddress = Std(address_->GetValue().Strip(wxString::both));
    return true;
}

// ---- VIN configuration ----

CVinCfgDlg::CVinCfgDlg(wxWindow* parent, studio::VinOpening& opening)
    : wxDialog(parent, wxID_ANY, "VIN configuration"), config_(*opening.session)
{
    auto* grid = new wxFlexGridSizer(5, FromDIP(wxSize(8, 6)));
    grid->AddGrowableCol(1);
    for (const studio::VinRowInfo& info : studio::kVinRows) {
        Row& r = row(info.platform);
        grid->Add(new wxStaticText(this, wxID_ANY, info.name), 0, wxALIGN_CENTER_VERTICAL);
        r.text = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, FromDIP(wxSize(220, -1)));
        r.isDefault = new wxCheckBox(this, wxID_ANY, "Default");
        r.read = new wxButton(this, wxID_ANY, "Read");
        r.write = new wxButton(this, wxID_ANY, "Write");
        grid->Add(r.text, 1, wxEXPAND | wxALIGN_CENTER_VERTICAL);
        grid->Add(r.isDefault, 0, wxALIGN_CENTER_VERTICAL);
        grid->Add(r.read, 0, wxALIGN_CENTER_VERTICAL);
        grid->Add(r.write, 0, wxALIGN_CENTER_VERTICAL);
        const studio::VinPlatform platform = info.platform;
        r.isDefault->Bind(wxEVT_CHECKBOX, [this, platform](wxCommandEvent& event) {
            ShowDefault(row(platform), event.IsChecked());
            if (!event.IsChecked()) {
                row(platform).text->SetFocus();
            }
        });
        r.read->Bind(wxEVT_BUTTON, [this, platform](wxCommandEvent&) { ReadRow(platform); });
        r.write->Bind(wxEVT_BUTTON, [this, platform](wxCommandEvent&) { WriteRow(platform); });
    }
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    auto* readAll = new wxButton(this, wxID_ANY, "Read all");
    auto* writeAll = new wxButton(this, wxID_ANY, "Write all");
    buttons->Add(readAll, 0, wxRIGHT, FromDIP(6));
    buttons->Add(writeAll, 0, wxRIGHT, FromDIP(6));
    buttons->AddStretchSpacer();
    buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"));
    readAll->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ReadAll(); });
    writeAll->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { WriteAll(); });

    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(grid, 0, wxEXPAND | wxALL, FromDIP(10));
    sizer->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(10));
    SetSizerAndFit(sizer);
    CentreOnParent();
    ShowReading(opening.reading);
}

void CVinCfgDlg::ShowDefault(Row& r, bool isDefault)
{
    r.isDefault->SetValue(isDefault);
    if (isDefault) {
        r.text->Clear();
    }
    r.text->Enable(!isDefault);
}

void CVinCfgDlg::ShowReading(const studio::VinReading& reading)
{
    for (const studio::VinRowValue& value : reading.rows) {
        Row& r = row(value.platform);
        ShowDefault(r, value.value.isDefault);
        if (!value.value.isDefault) {
            r.text->ChangeValue(Wx(value.value.text));
        }
    }
}

studio::VinValue CVinCfgDlg::ValueOf(studio::VinPlatform platform)
{
    Row& r = row(platform);
    return {r.isDefault->GetValue(), r.isDefault->GetValue() ? std::wstring() : Std(r.text->GetValue())};
}

void CVinCfgDlg::ReadRow(studio::VinPlatform platform)
{
    studio::VinReading reading;
    {
        wxBusyCursor busy;
        reading = config_.ReadRow(platform);
    }
    ShowReading(reading);
    ShowOutcome(this, reading.outcome);
}

void CVinCfgDlg::ReadAll()
{
    studio::VinReading reading;
    {
        wxBusyCursor busy;
        reading = config_.ReadAll();
    }
    ShowReading(reading);
    ShowOutcome(this, reading.outcome);
}

void CVinCfgDlg::WriteRow(studio::VinPlatform platform)
{
    studio::DeviceOutcome outcome;
    {
        wxBusyCursor busy;
        outcome = config_.WriteRow(platform, ValueOf(platform));
    }
    ShowOutcome(this, outcome);
}

void CVinCfgDlg::WriteAll()
{
    studio::DeviceOutcome outcome;
    {
        wxBusyCursor busy;
        outcome = config_.WriteAll(
            {ValueOf(studio::VinPlatform::MQB), ValueOf(studio::VinPlatform::MQB37W), ValueOf(studio::VinPlatform::MEB)});
    }
    ShowOutcome(this, outcome);
}

// ---- date and time ----

CSetDateTimeDlg::CSetDateTimeDlg(wxWindow* parent, studio::ClockOpening& opening)
    : wxDialog(parent, wxID_ANY, "Date & time configuration"), clock_(*opening.session)
{
    date_ = new wxDatePickerCtrl(this, wxID_ANY, wxDefaultDateTime, wxDefaultPosition, wxDefaultSize,
                                 wxDP_DROPDOWN | wxDP_SHOWCENTURY);
    time_ = new wxTimePickerCtrl(this, wxID_ANY);
    auto* get = new wxButton(this, wxID_ANY, "Get device time");
    auto* local = new wxButton(this, wxID_ANY, "Set local time");
    auto* set = new wxButton(this, wxID_ANY, "Set device time");
    get->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { GetDeviceTime(); });
    local->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { SetLocalTime(); });
    set->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { SetDeviceTime(); });

    auto* pickers = new wxBoxSizer(wxHORIZONTAL);
    pickers->Add(date_, 1, wxRIGHT, FromDIP(8));
    pickers->Add(time_, 1);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(get, 0, wxRIGHT, FromDIP(6));
    buttons->Add(local, 0, wxRIGHT, FromDIP(6));
    buttons->Add(set, 0, wxRIGHT, FromDIP(6));
    buttons->AddStretchSpacer();
    buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(pickers, 0, wxEXPAND | wxALL, FromDIP(10));
    sizer->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(10));
    SetSizerAndFit(sizer);
    CentreOnParent();
    ShowFields(opening.reading.shown);
}

void CSetDateTimeDlg::ShowFields(const studio::ClockFields& fields)
{
    const wxDateTime value(static_cast<wxDateTime::wxDateTime_t>(fields.day),
                           static_cast<wxDateTime::Month>(fields.month - 1), fields.year,
                           static_cast<wxDateTime::wxDateTime_t>(fields.hour),
                           static_cast<wxDateTime::wxDateTime_t>(fields.minute),
                           static_cast<wxDateTime::wxDateTime_t>(fields.second));
    date_->SetValue(value);
    time_->SetValue(value);
}

studio::ClockFields CSetDateTimeDlg::Shown() const
{
    const wxDateTime day = date_->GetValue();
    const wxDateTime time = time_->GetValue();
    studio::ClockFields fields;
    // A picker without a valid value gives the fields the device cannot take, which the set refuses.
    fields.year = day.IsValid() ? day.GetYear() : 0;
    fields.month = day.IsValid() ? static_cast<int>(day.GetMonth()) + 1 : 0;
    fields.day = day.IsValid() ? day.GetDay() : 0;
    fields.hour = time.IsValid() ? time.GetHour() : -1;
    fields.minute = time.IsValid() ? time.GetMinute() : -1;
    fields.second = time.IsValid() ? time.GetSecond() : -1;
    return fields;
}

void CSetDateTimeDlg::GetDeviceTime()
{
    studio::ClockReading reading;
    {
        wxBusyCursor busy;
        reading = clock_.Get();
    }
    if (reading.outcome.Succeeded()) {
        ShowFields(reading.shown);
    }
    ShowOutcome(this, reading.outcome);
}

void CSetDateTimeDlg::SetLocalTime()
{
    studio::ClockSetting setting;
    {
        wxBusyCursor busy;
        setting = clock_.SetLocal();
    }
    ShowFields(setting.shown);
    ShowOutcome(this, setting.outcome);
}

void CSetDateTimeDlg::SetDeviceTime()
{
    const studio::ClockFields shown = Shown();
    studio::ClockSetting setting;
    {
        wxBusyCursor busy;
        setting = clock_.Set(shown);
    }
    ShowOutcome(this, setting.outcome);
}

}  // namespace torvik::gui
