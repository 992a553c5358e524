// A prompt that records what it was shown and gives scripted answers.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <project/prompt.hpp>

namespace torvik::studio::test {

class ScriptedPrompt : public Prompt {
public:
    /// Answers in order: for AskYesNo and AskOkCancel true/false; file choices from `files`.
    std::deque<bool> answers;
    std::deque<std::optional<std::wstring>> files;
    std::vector<std::wstring> shown;  ///< every text, prefixed with "info: ", "warn: ", "ask: "

    void ShowInformation(const std::wstring& text) override { shown.push_back(L"info: " + text); }
    void ShowWarning(const std::wstring& text) override { shown.push_back(L"warn: " + text); }
    bool AskYesNo(const std::wstring& text) override { return Next(L"yes/no: " + text); }
    bool AskOkCancel(const std::wstring& text) override { return Next(L"ok/cancel: " + text); }
    Answer AskYesNoCancel(const std::wstring& text) override
    {
        shown.push_back(L"yes/no/cancel: " + text);
        return Answer::Cancel;
    }
    std::optional<std::wstring> ChooseDatabaseFile() override { return NextFile(L"choose database"); }
    std::optional<std::wstring> ChooseProjectFile() override { return NextFile(L"choose project"); }

private:
    bool Next(const std::wstring& text)
    {
        shown.push_back(text);
        if (answers.empty()) {
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::wstring> NextFile(const std::wstring& text)
    {
        shown.push_back(text);
        if (files.empty()) {
            return std::nullopt;
        }
        auto file = files.front();
        files.pop_front();
        return file;
    }
};

}  // namespace torvik::studio::test
