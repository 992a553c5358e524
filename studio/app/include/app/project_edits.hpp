#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <project/prompt.hpp>
#include <project/ts_project.hpp>

namespace torvik::studio::app {

/// An edit that the project's rules refuse; what() says why in one line (UTF-8).
class EditError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// An edit that needed the user's agreement and did not get it (a question answered No or Cancel).
class EditDeclined : public EditError {
public:
    using EditError::EditError;
};

/// A message of the project and the database that holds it.
struct MessageMatch {
    const TS_DatabaseFile* database = nullptr;
    TS_Message* message = nullptr;
};

/// A value for a signal as the user writes it: a raw number ("0xFA00", "64000"; no octal) or, with
/// `physical`, a physical value ("16000") or one of the signal's value descriptions ("Fast").
struct SignalValue {
    std::wstring text;
    bool physical = false;
};

/// What the message editor changes of one message; unset fields stay as they are.
struct MessageEdit {
    std::optional<std::wstring> payload;  ///< "0x01 0x02 ...", as the "Raw value" item takes it
    std::optional<std::vector<std::uint32_t>> multiplexorValues;
    /// Attribute name and value text; the cycle time is "GenMsgCycleTime".
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
};

/// What the signal editor changes of one signal; unset fields stay as they are.
struct SignalEdit {
    bool constant = false;                ///< make the signal constant
    std::optional<std::wstring> control;  ///< make it dynamic, driven by this control ("Potentiometer 1")
    std::optional<SignalValue> start;
    std::optional<SignalValue> end;
    std::optional<SignalValue> middle;
    std::optional<SignalValue> raw;  ///< the constant raw value (kept in either mode)
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
};

/// The editing jobs of the main window and its two views on one project, for front ends without those
/// windows: each applies the rules the views and editors apply, and throws EditError with the reason
/// when they refuse (the project may then hold part of the edit; the caller must not save it). Questions
/// go to the prompt; a declined one throws EditDeclined. Used from one thread.
class ProjectEdits {
public:
    ProjectEdits(TS_Project& project, Prompt& prompt) : project_(project), prompt_(prompt) {}

    /// A new project that will be saved at `path`; when a file is there, the prompt is asked whether to
    /// replace it. CAN 3 and CAN 4 get their setups as when the main window takes a project.
    static std::unique_ptr<TS_Project> NewProject(const std::filesystem::path& path, Prompt& prompt);

    /// "Import database file": reads the DBC file and appends it (the project's own refusals: a file
    /// that cannot be read, a database name the project holds already).
    void AddDatabase(const std::filesystem::path& path);
    /// Removes the database read from `file` (or named `file`); when it has selected messages, asks
    /// first whether to remove them too.
    void RemoveDatabase(const std::wstring& file);

    /// A channel setup item: `code` one of 2, 4, 5, 6 for CAN 3 or CAN 4. Classic CAN (2) is refused
    /// while a CAN FD message is sent on the channel.
    void SetChannelSetup(std::uint32_t channel, std::uint32_t code);

    /// The messages that `patterns` name among those the filters let through (`database` and `node`
    /// empty: all), as the views filter them. A pattern is an identifier as the message editor shows it
    /// ("0x123", "0x18FEF100x"), a name, or a glob over names ("Engine*", "?ody*"). Every pattern must
    /// match; each message comes once, in the order of the patterns.
    std::vector<MessageMatch> FindMessages(const std::vector<std::wstring>& patterns, const std::wstring& database,
                                           const std::wstring& node) const;
    /// The one message `text` names (no glob); a name found in two databases needs `database`.
    MessageMatch FindMessage(const std::wstring& text, const std::wstring& database) const;

    /// Sends each message on exactly the channels of `mask` (bit 0 CAN 1 .. bit 3 CAN 4; 0 unselects).
    /// A message gaining a channel goes through the cycle-time rule: with `cycleTimeMs` a message with
    /// cycle time 0 gets that cycle time without a question, otherwise the prompt is asked (once for the
    /// batch when there are several messages). A CAN FD message on a channel without its check box is
    /// refused.
    void SelectChannels(const std::vector<MessageMatch>& messages, std::uint8_t mask, std::optional<long> cycleTimeMs);

    /// The message editor's changes on a selected message.
    void EditMessage(const MessageMatch& match, const MessageEdit& edit);
    /// The signal editor's changes on a signal of a selected message.
    void EditSignal(const MessageMatch& match, const std::wstring& signal, const SignalEdit& edit);

    /// Applies a JSON edit list (the format `torvik project apply` documents); relative DBC paths are
    /// taken from `folder`. Stops at the first refused edit, naming its position.
    void Apply(std::string_view json, const std::filesystem::path& folder);

private:
    TS_Project& project_;
    Prompt& prompt_;
};

}  // namespace torvik::studio::app
