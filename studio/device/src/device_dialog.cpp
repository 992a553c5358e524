#include <device/device_dialog.hpp>

#include <device/device_session.hpp>
#include <flashlib/flash_container.hpp>
#include <flashlib/flash_device.hpp>
#include <platform/text.hpp>

#include <log4cpp/Category.hh>

#include <cstdarg>
#include <cstdio>
#include <string_view>

namespace torvik::studio {

namespace {

constexpr const char* kLoggerName = "TorvikStudioLogger";
constexpr std::uint32_t kLinkTimeoutMs = 1000;

std::atomic<bool> g_cancel_requested{false};
std::atomic<unsigned> g_indicator{0};

std::string Format(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::string VersionText(const kq::flashlib::Version& version)
{
    return platform::ToUtf8(version.GetString());
}

}  // namespace

CDeviceDialogBase::CDeviceDialogBase(const DeviceSettings& settings, DeviceReportSink& sink, Prompt& prompt)
    : settings_(settings), sink_(sink), prompt_(prompt), info_(std::make_unique<kq::flashlib::CDeviceInfo>())
{
    if (settings_.container.empty()) {
        settings_.container = LocalFlashContainer();
    }
}

CDeviceDialogBase::~CDeviceDialogBase()
{
    // A derived class waits in its own destructor; this is the last guard.
    if (worker_.joinable()) {
        worker_.join();
    }
}

void CDeviceDialogBase::Start()
{
    if (worker_.joinable()) {
        return;
    }
    Title(title_, "Cancel");
    worker_ = std::thread([this] { succeeded_ = Run(); });
}

bool CDeviceDialogBase::Wait()
{
    if (worker_.joinable()) {
        worker_.join();
    }
    return succeeded_;
}

bool CDeviceDialogBase::RunHere()
{
    Title(title_, "Cancel");
    succeeded_ = Run();
    return succeeded_;
}

bool CDeviceDialogBase::RequestClose()
{
    State expected = kRunning;
    if (state_.compare_exchange_strong(expected, kCancelRequested)) {
        running_ = false;
        g_cancel_requested = true;
        SetTitle(1, "canceling");
        return false;
    }
    if (expected == kCancelRequested) {
        running_ = false;
        g_cancel_requested = true;
        return false;
    }
    return true;
}

bool CDeviceDialogBase::CancelRequested()
{
    return g_cancel_requested;
}

std::string CDeviceDialogBase::failure() const
{
    std::lock_guard lock(mutex_);
    if (!failure_.empty()) {
        return failure_;
    }
    return problem_.empty() ? std::string("the operation failed") : Problem();
}

int CDeviceDialogBase::OnFlashProgress(int, unsigned long done, unsigned long total, void* context)
{
    if (auto* dialog = static_cast<CDeviceDialogBase*>(context)) {
        dialog->ActivityTick(done, total);
    }
    return 1;  // a flash operation is never interrupted halfway
}

// ---- reports

void CDeviceDialogBase::Send(DeviceReport report)
{
    Log(report);
    Post(report);
}

void CDeviceDialogBase::Post(const DeviceReport& report)
{
    std::lock_guard lock(sink_mutex_);
    sink_.Deliver(report);
}

void CDeviceDialogBase::Log(const DeviceReport& report) const
{
    auto& log = log4cpp::Category::getInstance(kLoggerName);
    std::string text = report.text;
    if (report.append) {
        // An appended line is marked, and its line feeds kept on one log line.
        std::string flat = " >";
        for (const char c : text) {
            flat += c == '\n' ? std::string("\\n") : std::string(1, c);
        }
        text = flat;
    }
    switch (report.kind) {
    case DeviceReport::Kind::Debug:
        log.debug(text);
        break;
    case DeviceReport::Kind::Information:
        log.info(text);
        break;
    case DeviceReport::Kind::Warning:
        log.warn(text);
        break;
    case DeviceReport::Kind::Error:
        log.error(text);
        break;
    default:
        break;
    }
}

void CDeviceDialogBase::Line(DeviceReport::Kind kind, bool append, const char* format, va_list args)
{
    DeviceReport report;
    report.kind = kind;
    // The clean-up's lines go below the failure that started it, which stays in view.
    report.append = kind != DeviceReport::Kind::Debug && (append || cleaning_up_);
    {
        std::lock_guard lock(mutex_);
        report.text = note_ + Format(format, args);
        note_.clear();
        if (kind == DeviceReport::Kind::Warning || kind == DeviceReport::Kind::Error) {
            problem_ = report.text;
            detail_.clear();
        }
    }
    Send(std::move(report));
}

void CDeviceDialogBase::Debug(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    DeviceReport report;
    report.kind = DeviceReport::Kind::Debug;
    report.text = Format(format, args);
    va_end(args);
    Send(std::move(report));
}

void CDeviceDialogBase::Information(bool append, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Line(DeviceReport::Kind::Information, append, format, args);
    va_end(args);
}

void CDeviceDialogBase::Warning(bool append, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Line(DeviceReport::Kind::Warning, append, format, args);
    va_end(args);
}

void CDeviceDialogBase::Error(bool append, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Line(DeviceReport::Kind::Error, append, format, args);
    va_end(args);
}

void CDeviceDialogBase::Note(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = Format(format, args);
    va_end(args);
    std::lock_guard lock(mutex_);
    note_ += text + "\n";
}

void CDeviceDialogBase::Detail(const std::string& reason)
{
    if (reason.empty()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        detail_ = reason;
    }
    DeviceReport report;
    report.kind = DeviceReport::Kind::Debug;
    report.text = reason;
    Send(std::move(report));
}

// ---- title, button and indicator

void CDeviceDialogBase::Title(const std::string& title, const std::string& button)
{
    DeviceReport report;
    report.kind = DeviceReport::Kind::Title;
    {
        std::lock_guard lock(mutex_);
        title_ = title;
        button_ = button;
        report.title = title_;
        report.button = button_;
    }
    Post(report);
}

void CDeviceDialogBase::SetTitle(int mode, const std::string& text)
{
    std::string title;
    std::string button;
    {
        std::lock_guard lock(mutex_);
        title = title_;
        button = button_;
    }
    switch (mode) {
    case 0:
        base_title_ = text;
        title = text;
        break;
    case 1:
        title = base_title_ + ": " + text;
        break;
    case 2:
        // Only an indicator is moved on: after a cancel the title says "canceling" and keeps saying it.
        if (title.size() < 2 || title[title.size() - 2] != ' ' ||
            std::string_view("*-\\|/").find(title.back()) == std::string_view::npos) {
            return;
        }
        title.resize(title.size() - 2);
        title += " " + text;
        break;
    case 3:
        title = base_title_;
        break;
    case 4:
        button = "OK";
        title = base_title_;
        if (g_cancel_requested.exchange(false)) {
            Warning(true, "Canceled!");
            title = base_title_ + ": canceled";
        }
        state_ = kIdle;
        break;
    case 5:
        button = "Close";
        title = base_title_;
        state_ = kIdle;
        break;
    default:
        return;
    }
    Title(title, button);
}

void CDeviceDialogBase::SetBaseTitle(const std::string& title)
{
    SetTitle(0, title);
    running_ = true;
    state_ = kRunning;
}

void CDeviceDialogBase::ActivityStart()
{
    std::string title;
    std::string button;
    {
        std::lock_guard lock(mutex_);
        title = title_ + " *";
        button = button_;
    }
    Title(title, button);
    DeviceReport report;
    report.kind = DeviceReport::Kind::Activity;
    Post(report);
}

void CDeviceDialogBase::ActivityTick(std::uint64_t done, std::uint64_t total)
{
    static constexpr const char* kIndicator[] = {"-", "\\", "|", "/"};
    SetTitle(2, kIndicator[g_indicator++ % 4]);
    DeviceReport report;
    report.kind = DeviceReport::Kind::Activity;
    report.tick = true;
    report.done = done;
    report.total = total;
    Post(report);
}

// ---- the lists

bool CDeviceDialogBase::RunList(const StepList& list)
{
    for (const auto& step : list) {
        if (!running_) {
            return false;
        }
        Debug("state %d", step.number);
        if (!step.run() || !running_) {
            return false;
        }
    }
    return true;
}

std::string CDeviceDialogBase::Problem() const
{
    return detail_.empty() ? problem_ : problem_ + " (" + detail_ + ")";
}

bool CDeviceDialogBase::RunLists(const StepList& main, const StepList& cleanup)
{
    {
        std::lock_guard lock(mutex_);
        problem_.clear();
        detail_.clear();
    }
    if (RunList(main)) {
        return true;
    }
    {
        // What stopped the run, not what the clean-up may add.
        std::lock_guard lock(mutex_);
        failure_ = !running_ && CancelRequested() ? std::string("Canceled!") : Problem();
        if (failure_.empty()) {
            failure_ = "the operation failed";
        }
    }
    running_ = true;
    cleaning_up_ = true;
    RunList(cleanup);
    cleaning_up_ = false;
    running_ = false;
    return false;
}

void CDeviceDialogBase::Finish(bool succeeded)
{
    SetTitle(succeeded ? 4 : 5);
    // A cancel belongs to the run it was asked for; the next run starts without it.
    g_cancel_requested = false;
    running_ = false;
}

bool CDeviceDialogBase::RunOperation(const std::string& title, const StepList& steps,
                                     const std::function<void()>& succeeded, const char* failed)
{
    SetBaseTitle(title);
    bool ok = OpenContainerAndCreateDevice();
    if (ok) {
        StepList main = {{1, [this] { return SwitchToProgrammingMode(); }}, {2, [this] { return ConnectAndIdentify(); }}};
        main.insert(main.end(), steps.begin(), steps.end());
        main.push_back({33, [this] { return Restart(); }});
        main.push_back({3, [this] { return Disconnect(); }});
        const StepList cleanup = {{33, [this] { return Restart(); }}, {3, [this] { return Disconnect(); }}};
        ok = RunLists(main, cleanup);
        // A clean-up that stopped at a failed restart still lets go of the port.
        device_->DisconectHW();
    }
    if (ok) {
        succeeded();
    } else {
        Debug("%s", failed);
    }
    Finish(ok);
    return ok;
}

// ---- the shared steps

bool CDeviceDialogBase::OpenContainerAndCreateDevice()
{
    container_ = std::make_unique<kq::flashlib::CFlashContainer>(platform::FromUtf8(settings_.container.string()));
    kq::flashlib::Version format;
    const int opened = container_->OpenContainer(format);
    if (opened >= 0) {
        container_->ParseValues();
        device_ = std::make_unique<kq::flashlib::CFlashDevice>(*container_);
        port_.clear();
        return true;
    }
    if (opened == -1) {
        Warning(false, "Can't open ContainerFile %s.", kContainerName);
        Detail(container_->GetLoadError());
    } else if (opened == -2) {
        Warning(false, "ContainerFile %s - can't parse container version.", kContainerName);
    } else {
        Warning(false, "Error occured when trying to open and parse ContainerFile %s.", kContainerName);
    }
    container_.reset();
    return false;
}

bool CDeviceDialogBase::SwitchToProgrammingMode()
{
    Information(false, "Attempt to connect to Torvik4 device serial bus.");
    port_ = ChoosePort(settings_.port);
    if (port_.empty()) {
        Warning(false, "Can't find any COM port with connected Torvik4 device.");
        return false;
    }
    Information(true, "Connecting on port %s.", port_.c_str());
    std::unique_ptr<DeviceSession> session;
    try {
        session = std::make_unique<DeviceSession>(port_, kLinkTimeoutMs);
    } catch (const DeviceError& e) {
        // No answer to the command protocol: the device runs its boot loader already.
        Debug("%s", e.what());
        return true;
    }
    try {
        session->EnterBootLoader();
    } catch (const DeviceError& e) {
        Warning(false, "Can't switch Torvik4 device on port %s to the appropriate mode.", port_.c_str());
        Detail(e.what());
        return false;
    }
    return true;
}

bool CDeviceDialogBase::ConnectAndIdentify()
{
    Information(false, "Attempt to connect to Torvik4 device on port %s.", port_.c_str());
    device_->SetComPortName(port_);
    if (device_->ConnectToHW() != 0) {
        Warning(false,
                "Can't connect to Torvik4 device on selected port %s.\nPlease check the device connection and "
                "selected mode (rotary switch position).",
                port_.c_str());
        Detail(device_->GetLastError());
        return false;
    }
    Information(true, "Connected.");
    *info_ = device_->GetDeviceInfo();
    if (info_->fwVersion.GetMajor() == -1 || info_->fwVersion.GetMinor() == -1 || info_->hwVersion.GetMajor() == -1 ||
        info_->hwVersion.GetMinor() == -1 || info_->productCode == -1) {
        Warning(false, "Torvik4 device isn't responding, please try to reset it.");
        Detail(device_->GetLastError());
        return false;
    }
    return true;
}

bool CDeviceDialogBase::Disconnect()
{
    Information(false, "Disconnecting from Torvik4 device.");
    if (device_) {
        device_->DisconectHW();
    }
    return true;
}

bool CDeviceDialogBase::Restart()
{
    Information(false, "Restarting device.");
    if (!device_ || device_->RestartDevice() != 0) {
        Error(false, "Restart error, please plug off the device and plug on again to reset it.");
        if (device_) {
            Detail(device_->GetLastError());
        }
        return false;
    }
    Information(false, "Device restarted.");
    return true;
}

std::string CDeviceDialogBase::IdentityText() const
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "Connection to Torvik4 device succeeded.\nObtained parameters:\n   Product code %X,\n   HW Version "
                  "%s,\n   FW Version %s,\n   Serial number %03d.",
                  static_cast<unsigned>(info_->productCode), VersionText(info_->hwVersion).c_str(),
                  VersionText(info_->fwVersion).c_str(), info_->serialNumber);
    return text;
}

}  // namespace torvik::studio
