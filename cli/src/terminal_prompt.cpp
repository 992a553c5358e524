#include "terminal_prompt.hpp"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <iostream>

#include <platform/text.hpp>

namespace torvik::cli {

namespace {

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const auto first = text.find_first_not_of(" \t\r");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

}  // namespace

TerminalPrompt::TerminalPrompt(bool yes)
    : yes_(yes), terminal_(::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1)
{
}

void TerminalPrompt::ShowInformation(const std::wstring& text)
{
    std::printf("%s\n", platform::ToUtf8(text).c_str());
}

void TerminalPrompt::ShowWarning(const std::wstring& text)
{
    std::fprintf(stderr, "torvik: warning: %s\n", platform::ToUtf8(text).c_str());
}

std::optional<std::string> TerminalPrompt::Ask(const std::wstring& text, const char* choices)
{
    if (!terminal_) {
        unasked_ = text;
        return std::nullopt;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s [%s] ", platform::ToUtf8(text).c_str(), choices);
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) {
        std::fprintf(stderr, "\n");
        return std::string();
    }
    return Lower(line);
}

bool TerminalPrompt::AskYesNo(const std::wstring& text)
{
    if (yes_) {
        return true;
    }
    const auto answer = Ask(text, "y/N");
    return answer && (*answer == "y" || *answer == "yes");
}

bool TerminalPrompt::AskOkCancel(const std::wstring& text)
{
    if (yes_) {
        return true;
    }
    const auto answer = Ask(text, "ok/Cancel");
    return answer && (*answer == "ok" || *answer == "o" || *answer == "y" || *answer == "yes");
}

studio::Prompt::Answer TerminalPrompt::AskYesNoCancel(const std::wstring& text)
{
    if (yes_) {
        return Answer::Yes;
    }
    const auto answer = Ask(text, "y/n/Cancel");
    if (answer && (*answer == "y" || *answer == "yes")) {
        return Answer::Yes;
    }
    if (answer && (*answer == "n" || *answer == "no")) {
        return Answer::No;
    }
    return Answer::Cancel;
}

}  // namespace torvik::cli
