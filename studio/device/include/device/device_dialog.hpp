#pragma once

// The run of a device operation (upload, firmware update, erase, device information) without its window:
// a worker thread that works through a list of steps, reports what it does as lines of four levels, the
// window title and button, an activity indicator, and the cancel rules. A front end shows the reports; the
// desktop program in its dialog, the command line as printed lines.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <device/port_choice.hpp>

namespace kq::flashlib {
class CFlashContainer;
class CFlashDevice;
struct CDeviceInfo;
}

namespace torvik::studio {

class Prompt;

/// The settings every device operation reads.
struct DeviceSettings {
    PortChoice port;
    /// "SetFWaddress": where the firmware update index is downloaded from.
    std::string update_address;
    /// An extra certificate authority (PEM) for HTTPS downloads; empty for the system's only.
    std::string update_ca_file;
    /// The local flash container; empty for LocalFlashContainer().
    std::filesystem::path container;
};

/// One thing a run tells its front end.
struct DeviceReport {
    enum class Kind {
        Debug,        ///< for the log only
        Information,  ///< a line of the log pane
        Warning,
        Error,
        Activity,     ///< the activity indicator: started (`tick` false) or moved on; `done`/`total` in bytes
        Title,        ///< the window title and the button changed: see `title`, `button`
    };
    Kind kind = Kind::Information;
    /// Lines: appended to the pane (true) or replacing its text (false).
    bool append = false;
    /// Lines: the whole text, the pending note in front of it.
    std::string text;

    bool tick = false;
    std::uint64_t done = 0;
    std::uint64_t total = 0;

    /// Title: the window title after the change, and the button's text ("Cancel", "OK", "Close").
    std::string title;
    std::string button;
};

/// Where a run's reports go. Called on the worker thread, and on the thread that asks to close while a run
/// is going (the title change of a cancel); one call at a time. A window front end posts each report to
/// its event loop; it must not touch a window from here.
class DeviceReportSink {
public:
    virtual ~DeviceReportSink() = default;
    virtual void Deliver(const DeviceReport& report) = 0;
};

/// The base of every device operation. A derived class sets its name and builds its step lists in Run().
///
/// Questions go to the prompt from the worker thread, which waits for the answer: a window front end
/// shows them from its event loop and hands the answer back.
class CDeviceDialogBase {
public:
    /// A step: the number written to the debug log before it runs, and the operation; false stops the list.
    struct Step {
        int number;
        std::function<bool()> run;
    };
    using StepList = std::vector<Step>;

    enum State { kIdle = 0, kRunning = 1, kCancelRequested = 2 };

    CDeviceDialogBase(const DeviceSettings& settings, DeviceReportSink& sink, Prompt& prompt);
    virtual ~CDeviceDialogBase();
    CDeviceDialogBase(const CDeviceDialogBase&) = delete;
    CDeviceDialogBase& operator=(const CDeviceDialogBase&) = delete;

    /// Starts the worker thread that runs the operation (once). The button's text becomes "Cancel".
    void Start();
    /// Waits for the worker to end; true when the operation succeeded.
    bool Wait();
    /// Runs the operation on the calling thread; true on success.
    bool RunHere();

    /// The button or the window's close command: true when the window may close now. While running it
    /// asks the run to stop after its current step (the title says "canceling") and refuses.
    virtual bool RequestClose();

    State state() const { return state_.load(); }
    bool succeeded() const { return succeeded_.load(); }
    const std::string& base_title() const { return base_title_; }
    /// Why the run failed: the warning or error line of the step that stopped it, with the library's reason
    /// when there is one; "Canceled!" after a cancel.
    std::string failure() const;

    /// The program-wide flag of a cancel asked for (any dialog).
    static bool CancelRequested();

    /// The flash library's progress callback: moves the activity indicator; always lets the library go on.
    static int OnFlashProgress(int kind, unsigned long done, unsigned long total, void* context);

protected:
    /// The operation (worker thread): set the base title, run the lists, report the result, Finish().
    virtual bool Run() = 0;

    // Reports (printf-style formats; the text is UTF-8).
    void Debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Information(bool append, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void Warning(bool append, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void Error(bool append, const char* format, ...) __attribute__((format(printf, 3, 4)));
    /// Adds a line that goes in front of the next report line.
    void Note(const char* format, ...) __attribute__((format(printf, 2, 3)));
    /// The library's reason for the failure just reported, for the log and `failure()`.
    void Detail(const std::string& reason);

    /// Title modes 0-5 (0 base title, 1 activity, 2 indicator, 3 back to the base title, 4 "OK", 5 "Close").
    void SetTitle(int mode, const std::string& text = {});
    /// Sets the base title and the state "running".
    void SetBaseTitle(const std::string& title);
    /// The activity indicator: starts it (" *" after the title) or moves it on.
    void ActivityStart();
    void ActivityTick(std::uint64_t done, std::uint64_t total);

    /// Opens the local container and makes the device from it; false (and the warning) when it cannot.
    bool OpenContainerAndCreateDevice();
    /// The steps every operation shares.
    bool SwitchToProgrammingMode();
    bool ConnectAndIdentify();
    bool Disconnect();
    bool Restart();
    /// Runs `main`, and on failure `cleanup`; the outcome.
    bool RunLists(const StepList& main, const StepList& cleanup);
    /// Maps the outcome onto the title ("OK" or "Close") and ends the run.
    void Finish(bool succeeded);
    /// The whole run of an operation: the base title, the container, the lists (the device's steps between
    /// switching to programming mode and connecting, and restarting and disconnecting; the clean-up
    /// restarts and disconnects), then `succeeded` (the result line) or the debug line `failed`, Finish().
    bool RunOperation(const std::string& title, const StepList& steps, const std::function<void()>& succeeded,
                      const char* failed);

    /// The identity of the connected device, in the form the reports show it.
    std::string IdentityText() const;
    bool Running() const { return running_.load(); }

    kq::flashlib::CFlashContainer* container() { return container_.get(); }
    kq::flashlib::CFlashDevice* device() { return device_.get(); }
    const kq::flashlib::CDeviceInfo& device_info() const { return *info_; }
    const std::string& port() const { return port_; }
    const DeviceSettings& settings() const { return settings_; }
    Prompt& prompt() { return prompt_; }

private:
    void Line(DeviceReport::Kind kind, bool append, const char* format, va_list args);
    void Send(DeviceReport report);
    void Post(const DeviceReport& report);  // one delivery at a time
    void Log(const DeviceReport& report) const;
    bool RunList(const StepList& list);
    void Title(const std::string& title, const std::string& button);
    std::string Problem() const;  // with the mutex held

    DeviceSettings settings_;
    DeviceReportSink& sink_;
    Prompt& prompt_;
    std::string base_title_;
    std::string port_;
    std::unique_ptr<kq::flashlib::CFlashContainer> container_;
    std::unique_ptr<kq::flashlib::CFlashDevice> device_;
    std::unique_ptr<kq::flashlib::CDeviceInfo> info_;

    std::atomic<bool> running_{false};
    std::atomic<State> state_{kIdle};
    std::atomic<bool> succeeded_{false};
    bool cleaning_up_ = false;  // worker thread only
    std::thread worker_;

    std::mutex sink_mutex_;     // one delivery at a time
    mutable std::mutex mutex_;  // the title, the note and the failure
    std::string title_;
    std::string button_ = "Cancel";
    std::string note_;
    std::string problem_;  // the last warning or error line
    std::string detail_;   // the library's reason for it
    std::string failure_;  // what stopped the main list
};

}  // namespace torvik::studio
