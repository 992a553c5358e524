#pragma once

#include <optional>
#include <string>

namespace torvik::studio {

/// How the project talks to the user: message boxes, questions and file choices. The desktop program
/// shows them as dialogs (title "Torvik Studio"), the command line answers them without asking, and
/// tests script them. Called on the thread that drives the project.
class Prompt {
public:
    enum class Answer { Yes, No, Cancel };

    Prompt() = default;
    Prompt(const Prompt&) = delete;
    Prompt& operator=(const Prompt&) = delete;
    virtual ~Prompt() = default;

    /// A message with the information icon.
    virtual void ShowInformation(const std::wstring& text) = 0;
    /// A message with the warning icon.
    virtual void ShowWarning(const std::wstring& text) = 0;
    /// A question with Yes and No; true for Yes.
    virtual bool AskYesNo(const std::wstring& text) = 0;
    /// A question with OK and Cancel; true for OK.
    virtual bool AskOkCancel(const std::wstring& text) = 0;
    /// A question with Yes, No and Cancel.
    virtual Answer AskYesNoCancel(const std::wstring& text) = 0;
    /// "Select database file": an existing DBC file, or nothing when the user cancels.
    virtual std::optional<std::wstring> ChooseDatabaseFile() = 0;
    /// "Select project file": an existing project file, or nothing when the user cancels.
    virtual std::optional<std::wstring> ChooseProjectFile() = 0;
};

/// Answers every question with its safe choice (No, Cancel) and chooses no file; shows nothing.
/// For runs without a user, which must fail instead of guessing.
class NonInteractivePrompt : public Prompt {
public:
    void ShowInformation(const std::wstring& text) override { last_message_ = text; }
    void ShowWarning(const std::wstring& text) override { last_message_ = text; }
    bool AskYesNo(const std::wstring& text) override
    {
        last_message_ = text;
        return false;
    }
    bool AskOkCancel(const std::wstring& text) override
    {
        last_message_ = text;
        return false;
    }
    Answer AskYesNoCancel(const std::wstring& text) override
    {
        last_message_ = text;
        return Answer::Cancel;
    }
    std::optional<std::wstring> ChooseDatabaseFile() override { return std::nullopt; }
    std::optional<std::wstring> ChooseProjectFile() override { return std::nullopt; }

    /// The text of the last message or question, empty when none came.
    const std::wstring& last_message() const { return last_message_; }

private:
    std::wstring last_message_;
};

}  // namespace torvik::studio
