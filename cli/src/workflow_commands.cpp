// torvik upload|erase|info|fw-update: the desktop program's device operations, their report lines printed
// as its dialog shows them, with a progress bar while the flash is busy.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <app/startup.hpp>
#include <device/flash_dialog.hpp>
#include <device/user_memory.hpp>
#include <flashlib/flash_device.hpp>
#include <platform/text.hpp>
#include <project/ts_project.hpp>

#include "commands.hpp"
#include "project_files.hpp"
#include "terminal_prompt.hpp"

namespace torvik::cli {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = studio::DeviceReport::Kind;
using platform::FromUtf8;
using platform::ToUtf8;

struct WorkflowOptions {
    std::string port;
    bool json = false;
    bool yes = false;
    std::string url;
    std::string ca_file;
};

// Prints what the run reports: its lines on standard output, a bar while the flash is busy (on a terminal;
// else one line when the activity ends), its debug lines on standard error when TORVIK_VERBOSE is set.
class PrintingSink : public studio::DeviceReportSink {
public:
    explicit PrintingSink(bool quiet) : quiet_(quiet), terminal_(::isatty(STDOUT_FILENO) == 1)
    {
        const char* verbose = std::getenv("TORVIK_VERBOSE");
        verbose_ = verbose != nullptr && *verbose != '\0' && *verbose != '0';
    }
    ~PrintingSink() override { EndActivity(); }

    void Deliver(const studio::DeviceReport& report) override
    {
        std::lock_guard lock(mutex_);
        switch (report.kind) {
        case Kind::Debug:
            if (verbose_) {
                EndActivity();
                std::fprintf(stderr, "torvik: debug: %s\n", report.text.c_str());
            }
            break;
        case Kind::Information:
        case Kind::Warning:
        case Kind::Error:
            EndActivity();
            if (!quiet_) {
                std::printf("%s\n", report.text.c_str());
                std::fflush(stdout);
            }
            break;
        case Kind::Title:
            title_ = report.title;
            break;
        case Kind::Activity:
            if (!report.tick) {
                EndActivity();
                StartActivity();
            } else if (active_) {
                done_ = report.done;
                total_ = report.total;
                Draw();
            }
            break;
        }
    }

private:
    void StartActivity()
    {
        // The title reads "<operation>: <activity> <indicator>".
        label_ = title_;
        if (const auto colon = label_.find(": "); colon != std::string::npos) {
            label_ = label_.substr(colon + 2);
        }
        if (label_.size() >= 2 && label_[label_.size() - 2] == ' ') {
            label_.resize(label_.size() - 2);
        }
        active_ = true;
        done_ = total_ = 0;
        started_ = last_draw_ = Clock::now();
    }

    double Rate() const
    {
        const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
        return seconds > 0 ? static_cast<double>(done_) / seconds : 0.0;
    }

    void Draw()
    {
        if (!terminal_ || quiet_) {
            return;
        }
        const auto now = Clock::now();
        if (done_ < total_ && now - last_draw_ < std::chrono::milliseconds(100)) {
            return;
        }
        last_draw_ = now;
        constexpr int kWidth = 30;
        const int filled = total_ > 0 ? static_cast<int>(done_ * kWidth / total_) : 0;
        std::printf("\r  %-31s [%-*s] %8llu/%llu bytes %7.1f kB/s", label_.c_str(), kWidth,
                    std::string(static_cast<std::size_t>(filled), '#').c_str(),
                    static_cast<unsigned long long>(done_), static_cast<unsigned long long>(total_), Rate() / 1000.0);
        std::fflush(stdout);
        drawn_ = true;
    }

    void EndActivity()
    {
        if (!active_) {
            return;
        }
        active_ = false;
        if (quiet_) {
            return;
        }
        if (terminal_ && drawn_) {
            std::printf("\n");
        } else if (!terminal_ && total_ > 0) {
            const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
            std::printf("  %s: %llu bytes in %.1f s (%.1f kB/s)\n", label_.c_str(),
                        static_cast<unsigned long long>(done_), seconds, Rate() / 1000.0);
        }
        drawn_ = false;
        std::fflush(stdout);
    }

    std::mutex mutex_;
    bool quiet_;
    bool terminal_;
    bool verbose_ = false;
    std::string title_;
    std::string label_;
    bool active_ = false;
    bool drawn_ = false;
    std::uint64_t done_ = 0;
    std::uint64_t total_ = 0;
    Clock::time_point started_;
    Clock::time_point last_draw_;
};

// The run's message boxes are lines like its reports; its questions go to the terminal.
class WorkflowPrompt : public TerminalPrompt {
public:
    WorkflowPrompt(bool yes, bool quiet) : TerminalPrompt(yes), quiet_(quiet) {}
    void ShowInformation(const std::wstring& text) override { Print(text); }
    void ShowWarning(const std::wstring& text) override { Print(text); }

private:
    void Print(const std::wstring& text) const
    {
        if (!quiet_) {
            std::printf("%s\n", ToUtf8(text).c_str());
        }
    }
    bool quiet_;
};

studio::DeviceSettings SettingsFor(const WorkflowOptions& options)
{
    auto settings = LoadSettings().ForDevice();
    if (!options.port.empty()) {
        settings.port = {false, -1, options.port};
    }
    if (!options.url.empty()) {
        settings.update_address = options.url;
    }
    if (!options.ca_file.empty()) {
        settings.update_ca_file = options.ca_file;
    }
    return settings;
}

// Runs the operation; a failure is the command's one line.
void Finish(const studio::CDeviceDialogBase& dialog, bool ok, const std::string& what)
{
    if (!ok) {
        std::string reason = dialog.failure();
        std::replace(reason.begin(), reason.end(), '\n', ' ');  // one line
        throw CommandError(what + " failed: " + reason);
    }
}

std::vector<std::uint8_t> ProjectBlock(const std::string& path)
{
    const auto project = OpenProjectFile(path);
    const std::int32_t length = project->BuildUserBlock();
    if (length < 0) {
        throw CommandError("the user block of '" + path + "' does not fit the device's " +
                           std::to_string(studio::TS_Project::kUserBlockCapacity) + " bytes (a record of " +
                           std::to_string(-length) + " bytes overflows)");
    }
    const std::wstring notice = studio::TS_Project::MotorolaSignalsNotice(project->MessagesWithMotorolaSignals());
    if (!notice.empty()) {
        std::printf("%s\n", ToUtf8(notice).c_str());
    }
    const auto* bytes = project->GetUserBlock();
    return {bytes, bytes + length};
}

void RunUpload(const WorkflowOptions& options, const std::string& project)
{
    auto block = ProjectBlock(project);
    PrintingSink sink(false);
    WorkflowPrompt prompt(options.yes, false);
    studio::CUploadDialog upload(SettingsFor(options), sink, prompt, std::move(block));
    Finish(upload, upload.RunHere(), "the upload");
}

void RunErase(const WorkflowOptions& options)
{
    PrintingSink sink(false);
    WorkflowPrompt prompt(options.yes, false);
    studio::CEraseDialog erase(SettingsFor(options), sink, prompt);
    Finish(erase, erase.RunHere(), "the simulation deletion");
}

void RunInfo(const WorkflowOptions& options)
{
    PrintingSink sink(options.json);
    WorkflowPrompt prompt(false, options.json);
    studio::CDeviceInfoDialog info(SettingsFor(options), sink, prompt);
    Finish(info, info.RunHere(), "the device information");
    if (options.json) {
        const auto& facts = info.info();
        nlohmann::ordered_json out;
        out["product_code"] = facts.productCode;
        out["hardware_version"] = ToUtf8(facts.hwVersion.GetString());
        out["firmware_version"] = ToUtf8(facts.fwVersion.GetString());
        out["serial_number"] = facts.serialNumber;
        std::printf("%s\n", out.dump(2).c_str());
    }
}

void RunFirmwareUpdate(const WorkflowOptions& options)
{
    PrintingSink sink(false);
    WorkflowPrompt prompt(options.yes, false);
    studio::CFlashDialog update(SettingsFor(options), sink, prompt);
    const bool ok = update.RunHere();
    if (update.up_to_date()) {
        return;  // nothing to do is no failure
    }
    Finish(update, ok, "the firmware update");
}

void AddPortOption(CLI::App& command, WorkflowOptions& options)
{
    command.add_option("--port", options.port,
                       "COM<n> or a device path such as /dev/ttyUSB0 (default: the port the settings choose)");
}

}  // namespace

void AddWorkflowCommands(CLI::App& app)
{
    auto options = std::make_shared<WorkflowOptions>();
    auto project = std::make_shared<std::string>();
    auto* upload = app.add_subcommand("upload", "Store a project's simulation in the device's USER memory");
    AddPortOption(*upload, *options);
    upload->add_option("FILE.tsp", *project, "Project")->required();
    upload->callback([options, project] { RunUpload(*options, *project); });

    auto* erase = app.add_subcommand("erase", "Delete the simulation stored in the device");
    AddPortOption(*erase, *options);
    erase->callback([options] { RunErase(*options); });

    auto* info = app.add_subcommand("info", "Connect to the device and show its identity");
    AddPortOption(*info, *options);
    info->add_flag("--json", options->json, "Print the identity as JSON");
    info->callback([options] { RunInfo(*options); });

    auto* update = app.add_subcommand("fw-update", "Bring the device's firmware up to the newest release that fits it");
    AddPortOption(*update, *options);
    update->add_flag("--yes", options->yes, "Answer the question to update with Yes");
    update->add_option("--url", options->url, "The update index's address (default: SetFWaddress of the settings)");
    update->add_option("--ca-file", options->ca_file,
                       "A certificate authority (PEM) to trust for HTTPS (default: SetFWCAFile of the settings)");
    update->callback([options] { RunFirmwareUpdate(*options); });
}

}  // namespace torvik::cli
