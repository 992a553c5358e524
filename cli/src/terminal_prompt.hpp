// The questions of the core on the command line.
#pragma once

#include <optional>
#include <string>

#include <project/prompt.hpp>

namespace torvik::cli {

/// Asks the core's questions on the terminal: with `yes` every question is answered Yes (OK) without
/// asking; otherwise a question is asked on standard error and answered from standard input when both
/// are a terminal, and answered No (Cancel) without one. Messages go to standard output (information)
/// or standard error (warnings). Files are never chosen. Used from the command's thread.
class TerminalPrompt : public studio::Prompt {
public:
    explicit TerminalPrompt(bool yes);

    void ShowInformation(const std::wstring& text) override;
    void ShowWarning(const std::wstring& text) override;
    bool AskYesNo(const std::wstring& text) override;
    bool AskOkCancel(const std::wstring& text) override;
    Answer AskYesNoCancel(const std::wstring& text) override;
    std::optional<std::wstring> ChooseDatabaseFile() override { return std::nullopt; }
    std::optional<std::wstring> ChooseProjectFile() override { return std::nullopt; }

    /// The last question answered No because there was no terminal to ask on; empty when none was.
    const std::wstring& unasked() const { return unasked_; }

private:
    /// The answer typed to `text` with `choices` ("y/N"); nothing without a terminal.
    std::optional<std::string> Ask(const std::wstring& text, const char* choices);

    bool yes_;
    bool terminal_;
    std::wstring unasked_;
};

}  // namespace torvik::cli
