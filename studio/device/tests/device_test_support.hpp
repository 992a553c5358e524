#pragma once

// What the device operation tests share: a sink that keeps the reports, a prompt that answers as told,
// the sample container.
#include <device/device_dialog.hpp>
#include <project/prompt.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace torvik::studio::testing {

using Kind = DeviceReport::Kind;

inline std::filesystem::path SampleContainer()
{
    const char* source = std::getenv("TORVIK_SOURCE_DIR");
    return std::filesystem::path(source != nullptr ? source : ".") / "examples" / "torvik4-sample.fkq";
}

// Keeps every report; lets a test wait for one.
class RecordingSink : public DeviceReportSink {
public:
    void Deliver(const DeviceReport& report) override
    {
        std::lock_guard lock(mutex_);
        reports_.push_back(report);
        changed_.notify_all();
    }

    std::vector<DeviceReport> Reports() const
    {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    /// The log pane as the dialog shows it at the end.
    std::string Pane() const
    {
        std::string pane;
        for (const auto& r : Reports()) {
            if (r.kind == Kind::Information || r.kind == Kind::Warning || r.kind == Kind::Error) {
                pane = r.append ? pane + "\n" + r.text : r.text;
            }
        }
        return pane;
    }
    std::string Lines() const
    {
        std::string lines;
        for (const auto& r : Reports()) {
            if (r.kind != Kind::Title && r.kind != Kind::Activity) {
                lines += r.text + "\n";
            }
        }
        return lines;
    }
    DeviceReport LastTitle() const
    {
        DeviceReport last;
        for (const auto& r : Reports()) {
            if (r.kind == Kind::Title) {
                last = r;
            }
        }
        return last;
    }
    bool WaitForTitle(const std::string& title)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::minutes(1), [&] {
            return std::any_of(reports_.begin(), reports_.end(),
                               [&](const DeviceReport& r) { return r.kind == Kind::Title && r.title == title; });
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DeviceReport> reports_;
};

class AnsweringPrompt : public Prompt {
public:
    void ShowInformation(const std::wstring& text) override { shown.push_back(text); }
    void ShowWarning(const std::wstring& text) override { shown.push_back(text); }
    bool AskYesNo(const std::wstring& text) override
    {
        shown.push_back(text);
        return yes;
    }
    bool AskOkCancel(const std::wstring& text) override { return AskYesNo(text); }
    Answer AskYesNoCancel(const std::wstring& text) override { return AskYesNo(text) ? Answer::Yes : Answer::No; }
    std::optional<std::wstring> ChooseDatabaseFile() override { return std::nullopt; }
    std::optional<std::wstring> ChooseProjectFile() override { return std::nullopt; }

    std::vector<std::wstring> shown;
    bool yes = false;  ///< the answer to every question
};

}  // namespace torvik::studio::testing
