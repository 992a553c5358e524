// A main-window shell that records what it was asked and answers from a script, and a copy of the
// example project in a fresh folder.
#pragma once

#include <cstdlib>
#include <deque>
#include <functional>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <log4cpp/Category.hh>

#include <app/main_window.hpp>

namespace torvik::studio::app::test {

class FakeShell : public MainWindowShell {
public:
    std::deque<Answer> answers;               ///< AskYesNoCancel
    std::deque<bool> confirmations;           ///< AskYesNo, AskOkCancel (default false)
    std::deque<std::optional<std::wstring>> files;  ///< every file choice (default none)
    std::vector<std::wstring> shown;
    int replaced = 0;
    int states = 0;

    void ShowInformation(const std::wstring& text) override { shown.push_back(L"info: " + text); }
    void ShowWarning(const std::wstring& text) override { shown.push_back(L"warn: " + text); }
    bool AskYesNo(const std::wstring& text) override { return Confirm(L"yes/no: " + text); }
    bool AskOkCancel(const std::wstring& text) override { return Confirm(L"ok/cancel: " + text); }
    Answer AskYesNoCancel(const std::wstring& text) override
    {
        shown.push_back(L"yes/no/cancel: " + text);
        if (answers.empty()) {
            return Answer::Cancel;
        }
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::wstring> ChooseDatabaseFile() override { return File(L"choose database"); }
    std::optional<std::wstring> ChooseProjectFile() override { return File(L"choose project"); }
    std::optional<std::wstring> ChooseSaveProjectFile() override { return File(L"choose save"); }
    void ProjectReplaced() override { ++replaced; }
    void StateChanged() override { ++states; }
    bool OpenDocument(const std::filesystem::path&) override { return true; }
    void ShowAbout(const std::wstring& name, const std::wstring&) override { shown.push_back(L"about: " + name); }
    void RunDeviceDialog(const DeviceDialogMaker& make) override { dialogs.push_back(make); }
    bool EditSettings(SettingsForm& form) override { return editSettings ? editSettings(form) : false; }
    void ShowVinDialog(VinOpening&) override { shown.push_back(L"vin dialog"); }
    void ShowDateTimeDialog(ClockOpening&) override { shown.push_back(L"date & time dialog"); }
    void ShowOutcome(const DeviceOutcome& outcome) override
    {
        for (const auto& message : outcome.messages) {
            shown.push_back(L"outcome: " + std::wstring(message.text.begin(), message.text.end()));
        }
    }

    std::vector<DeviceDialogMaker> dialogs;           ///< every device window asked for
    std::function<bool(SettingsForm&)> editSettings;  ///< the user in the settings dialog (default Cancel)

private:
    bool Confirm(const std::wstring& text)
    {
        shown.push_back(text);
        if (confirmations.empty()) {
            return false;
        }
        const bool a = confirmations.front();
        confirmations.pop_front();
        return a;
    }
    std::optional<std::wstring> File(const std::wstring& text)
    {
        shown.push_back(text);
        if (files.empty()) {
            return std::nullopt;
        }
        auto f = files.front();
        files.pop_front();
        return f;
    }
};

/// A folder with copies of examples/simulation.tsp and its database, removed afterwards.
class ExampleFolder {
public:
    ExampleFolder()
    {
        const char* source = std::getenv("TORVIK_SOURCE_DIR");
        const std::filesystem::path examples = std::filesystem::path(source ? source : ".") / "examples";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::temp_directory_path() /
                  ("torvik_app_" + std::string(info->test_suite_name()) + "_" + info->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        for (const char* name : {"simulation.tsp", "simulation.dbc", "example.dbc"}) {
            std::filesystem::copy_file(examples / name, folder_ / name);
        }
    }
    ~ExampleFolder() { std::filesystem::remove_all(folder_); }
    std::wstring Path(const std::string& name) const { return (folder_ / name).wstring(); }
    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
};

inline log4cpp::Category& TestLogger()
{
    return log4cpp::Category::getInstance("app_test");
}

}  // namespace torvik::studio::app::test
