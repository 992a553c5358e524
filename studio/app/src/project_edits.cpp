#include <app/project_edits.hpp>

#include <algorithm>
#include <cmath>
#include <sstream>

#include <nlohmann/json.hpp>

#include <app/commands.hpp>
#include <app/views.hpp>
#include <editor/controls.hpp>
#include <editor/item_helper.hpp>
#include <platform/text.hpp>

namespace torvik::studio::app {

using platform::FromUtf8;
using platform::ToUtf8;

namespace {

[[noreturn]] void Refuse(const std::wstring& why)
{
    throw EditError(ToUtf8(why));
}

std::wstring Quoted(const std::wstring& text)
{
    return L"'" + text + L"'";
}

/// Passes questions on to the user's prompt but keeps what the project shows instead of showing it: a
/// message shown during an edit is the reason the edit failed.
class EditPrompt : public Prompt {
public:
    explicit EditPrompt(Prompt& user) : user_(user) {}
    void ShowInformation(const std::wstring& text) override { shown = text; }
    void ShowWarning(const std::wstring& text) override { shown = text; }
    bool AskYesNo(const std::wstring& text) override { return user_.AskYesNo(text); }
    bool AskOkCancel(const std::wstring& text) override { return user_.AskOkCancel(text); }
    Answer AskYesNoCancel(const std::wstring& text) override { return user_.AskYesNoCancel(text); }
    std::optional<std::wstring> ChooseDatabaseFile() override { return user_.ChooseDatabaseFile(); }
    std::optional<std::wstring> ChooseProjectFile() override { return user_.ChooseProjectFile(); }

    std::wstring shown;

private:
    Prompt& user_;
};

/// A glob over names: "*" any run of characters, "?" any one character.
bool Matches(std::wstring_view pattern, std::wstring_view name)
{
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::wstring_view::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = n;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

bool IsGlob(const std::wstring& text)
{
    return text.find_first_of(L"*?") != std::wstring::npos;
}

std::wstring Number(double value)
{
    std::wostringstream out;
    out << value;
    return out.str();
}

std::wstring RangeText(const TS_Signal& signal)
{
    std::wstring text = std::to_wstring(signal.bitLength) + L" bits";
    if (signal.minimum != 0.0 || signal.maximum != 0.0) {
        text += L", " + Number(signal.minimum) + L".." + Number(signal.maximum);
        if (!signal.unit.empty()) {
            text += L" " + signal.unit;
        }
    }
    return text;
}

/// The raw value that `value` means for `signal`, by the rules of the editor's value and raw-value items.
RawNumber RawOf(const TS_Signal& signal, const SignalValue& value, const wchar_t* what)
{
    if (value.physical) {
        if (const auto raw = RawFromValueText(signal, value.text)) {
            return *raw;
        }
        Refuse(std::wstring(what) + L" " + Quoted(value.text) + L" is no physical value of signal " +
               Quoted(signal.name) + L" (" + RangeText(signal) +
               (signal.valueDescriptions.empty() ? L"" : L", or one of its value descriptions") + L")");
    }
    const auto raw = ParseRawNumber(value.text, false);
    if (!raw) {
        Refuse(std::wstring(what) + L" " + Quoted(value.text) + L" is no raw value (0x hex or decimal)");
    }
    if (!signal.CheckRawValue(*raw)) {
        Refuse(std::wstring(what) + L" raw value " + FromUtf8(RawText(*raw)) + L" does not fit signal " +
               Quoted(signal.name) + L" (" + RangeText(signal) + L")");
    }
    return *raw;
}

void RequireSelected(const TS_Message& message)
{
    if (message.channelMask == 0) {
        Refuse(L"message " + Quoted(message.name) +
               L" is sent on no channel; select it first (an unselected message keeps no settings)");
    }
}

}  // namespace

std::unique_ptr<TS_Project> ProjectEdits::NewProject(const std::filesystem::path& path, Prompt& prompt)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    const std::wstring file = platform::FromUtf8(absolute.string());
    if (std::filesystem::exists(absolute, ec) &&
        !prompt.AskYesNo(L"The file '" + file + L"' already exists. Would you like to replace it?")) {
        throw EditDeclined(ToUtf8(L"'" + file + L"' already exists and was not replaced"));
    }
    auto project = std::make_unique<TS_Project>();
    project->SetProjectPath(file);
    project->GiveChannelsTheirSetups();
    return project;
}

void ProjectEdits::AddDatabase(const std::filesystem::path& path)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    EditPrompt prompt(prompt_);
    if (project_.AddDatabase(prompt, FromUtf8(absolute.string())) < 0) {
        Refuse(Quoted(FromUtf8(path.string())) + L": " + prompt.shown);
    }
}

void ProjectEdits::RemoveDatabase(const std::wstring& file)
{
    std::optional<std::size_t> found;
    std::error_code ec;
    const auto wanted = std::filesystem::weakly_canonical(platform::ToPath(file), ec);
    for (std::size_t i = 0; i < project_.GetDatabaseCount() && !found; ++i) {
        const TS_DatabaseFile& database = *project_.GetDatabase(i);
        std::error_code ignored;
        const auto own = std::filesystem::weakly_canonical(platform::ToPath(database.path), ignored);
        if (database.GetName() == file || database.path == file || (!ec && !ignored && own == wanted)) {
            found = i;
        }
    }
    if (!found) {
        Refuse(L"the project has no database read from or named " + Quoted(file));
    }
    const std::wstring name = project_.GetDatabase(*found)->GetName();
    const bool selected = project_.HasSelectedMessages(*found);
    if (selected && !prompt_.AskOkCancel(L"Would you like to also remove all messages from database " + name +
                                         L" you want to remove?")) {
        throw EditDeclined(ToUtf8(L"database " + Quoted(name) + L" stays: it has selected messages"));
    }
    project_.RemoveDatabase(*found, selected);
}

void ProjectEdits::SetChannelSetup(std::uint32_t channel, std::uint32_t code)
{
    if (channel != 3 && channel != 4) {
        Refuse(L"CAN " + std::to_wstring(channel) + L" has no setup; only CAN 3 and CAN 4 have");
    }
    if (std::find(kSetupCodes.begin(), kSetupCodes.end(), code) == kSetupCodes.end()) {
        Refuse(L"setup code " + std::to_wstring(code) + L" is none of 2, 4, 5, 6");
    }
    // The "HS" item of the channel's menu is greyed while a CAN FD message uses the channel.
    if (code == kSetupHs500 && project_.HasCanFdMessageOn(channel)) {
        std::wstring user;
        for (std::size_t i = 0; i < project_.GetDatabaseCount() && user.empty(); ++i) {
            for (const auto& [id, message] : project_.GetDatabase(i)->network->messages) {
                if ((message->channelMask & (1u << (channel - 1))) != 0 && TS_Project::IsCanFdMessage(*message)) {
                    user = message->name;
                    break;
                }
            }
        }
        Refuse(L"CAN " + std::to_wstring(channel) + L" cannot be set up for " + SetupName(code) +
               L" while the CAN FD message " + Quoted(user) + L" is sent on it");
    }
    project_.SetChannelSetup(channel, static_cast<std::int32_t>(code), kSetupFd2000);
}

std::vector<MessageMatch> ProjectEdits::FindMessages(const std::vector<std::wstring>& patterns,
                                                     const std::wstring& database, const std::wstring& node) const
{
    ViewFilter filter;
    if (!database.empty()) {
        filter.database = project_.FindDatabase(database);
        if (filter.database < 0) {
            Refuse(L"the project has no database " + Quoted(database));
        }
    }
    if (!node.empty()) {
        bool known = false;
        for (std::size_t i = 0; i < project_.GetDatabaseCount(); ++i) {
            if (filter.database < 0 || static_cast<std::size_t>(filter.database) == i) {
                known = known || project_.GetDatabase(i)->network->nodes.count(node) != 0;
            }
        }
        if (!known) {
            Refuse(L"no node " + Quoted(node) +
                   (database.empty() ? L" in the project" : L" in database " + Quoted(database)));
        }
    }
    filter.node = node;
    std::vector<MessageMatch> found;
    for (const std::wstring& pattern : patterns) {
        const auto id = ParseMessageIdText(pattern);
        const bool glob = !id && IsGlob(pattern);
        bool any = false;
        ForEachMessage(&project_, filter, [&](TS_Message& message, const TS_DatabaseFile& db) {
            const bool hit = id ? message.id == *id : glob ? Matches(pattern, message.name) : message.name == pattern;
            if (!hit) {
                return;
            }
            any = true;
            if (std::none_of(found.begin(), found.end(),
                             [&](const MessageMatch& m) { return m.message == &message; })) {
                found.push_back({&db, &message});
            }
        });
        if (!any) {
            std::wstring where;
            if (!database.empty()) {
                where += L" in database " + Quoted(database);
            }
            if (!node.empty()) {
                where += L" sent by " + Quoted(node);
            }
            Refuse((glob ? L"no message matches " : L"no message ") + Quoted(pattern) +
                   (where.empty() ? L" in the project" : where));
        }
    }
    return found;
}

MessageMatch ProjectEdits::FindMessage(const std::wstring& text, const std::wstring& database) const
{
    if (IsGlob(text) && !ParseMessageIdText(text)) {
        Refuse(L"name one message, not a pattern: " + Quoted(text));
    }
    const auto found = FindMessages({text}, database, {});
    if (found.size() > 1) {
        Refuse(L"message " + Quoted(text) + L" is in databases " + Quoted(found[0].database->GetName()) + L" and " +
               Quoted(found[1].database->GetName()) + L"; choose one");
    }
    return found.front();
}

void ProjectEdits::SelectChannels(const std::vector<MessageMatch>& messages, std::uint8_t mask,
                                  std::optional<long> cycleTimeMs)
{
    if ((mask & 0xF0) != 0) {
        Refuse(L"the device has CAN 1 to CAN 4 only");
    }
    if (cycleTimeMs) {
        if (const std::wstring why = RefuseMessageAttributeValue(L"GenMsgCycleTime", *cycleTimeMs); !why.empty()) {
            Refuse(why);
        }
    }
    bool answeredYes = false;
    const bool batch = messages.size() > 1;
    for (const MessageMatch& match : messages) {
        TS_Message& message = *match.message;
        for (std::uint32_t channel = 1; channel <= 4; ++channel) {
            if ((mask & (1u << (channel - 1))) != 0 && !project_.MayUseChannel(message, channel)) {
                const auto setup = project_.GetChannelSetups().find(channel);
                Refuse(L"message " + Quoted(message.name) + L" is a CAN FD message and cannot be sent on CAN " +
                       std::to_wstring(channel) +
                       (channel <= 2 || setup == project_.GetChannelSetups().end()
                            ? L" (classic CAN only)"
                            : L" while it is set up for " + SetupName(setup->second)));
            }
        }
        const auto gained = static_cast<std::uint8_t>(mask & ~message.channelMask);
        if (gained != 0) {
            const bool zero = message.GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true) == 0;
            if (zero && cycleTimeMs) {
                const std::wstring why =
                    StoreAttributeValue(L"GenMsgCycleTime", *cycleTimeMs, message.attributeOverrides,
                                        message.attributes, message.definitions.get());
                if (!why.empty()) {
                    Refuse(L"cycle time of " + Quoted(message.name) + L": " + why);
                }
            } else if (!project_.CheckCycleTime(prompt_, message, batch ? &answeredYes : nullptr)) {
                throw EditDeclined(ToUtf8(L"message " + Quoted(message.name) +
                                          L" has cycle time zero and stays unselected: the question was answered No"));
            }
        }
        if (message.channelMask != mask) {
            message.channelMask = mask;
            project_.SetModified(true);
        }
    }
}

void ProjectEdits::EditMessage(const MessageMatch& match, const MessageEdit& edit)
{
    TS_Message& message = *match.message;
    RequireSelected(message);
    if (edit.multiplexorValues) {
        if (!message.multiplex.multiplexor) {
            Refuse(L"message " + Quoted(message.name) + L" has no multiplexor");
        }
        message.multiplex.values = *edit.multiplexorValues;
    }
    if (edit.payload) {
        const auto bytes = ParsePayloadText(*edit.payload, message.PayloadLength());
        if (!bytes) {
            Refuse(Quoted(*edit.payload) + L" is no payload: bytes are written 0x.. separated by blanks");
        }
        TakePayload(message, *bytes);
    }
    const auto* definitions = message.definitions.get();
    for (const auto& [name, text] : edit.attributes) {
        const auto value =
            AttributeValueFromText(name, text, message.attributeOverrides, message.attributes, definitions);
        if (!value && (definitions == nullptr || definitions->count(name) == 0) &&
            message.attributeOverrides.count(name) == 0 && message.attributes.count(name) == 0) {
            Refuse(L"message " + Quoted(message.name) + L" has no attribute " + Quoted(name));
        }
        if (!IsEditableMessageAttribute(name)) {
            Refuse(L"attribute " + Quoted(name) + L" is read-only in the message editor");
        }
        if (!value) {
            Refuse(L"attribute " + Quoted(name) + L": " + Quoted(text) + L" is no number");
        }
        std::wstring why = RefuseMessageAttributeValue(name, *value);
        if (why.empty()) {
            why = StoreAttributeValue(name, *value, message.attributeOverrides, message.attributes, definitions);
        }
        if (!why.empty()) {
            Refuse(L"attribute " + Quoted(name) + L" of " + Quoted(message.name) + L": " + why);
        }
    }
    project_.SetModified(true);
}

void ProjectEdits::EditSignal(const MessageMatch& match, const std::wstring& signalName, const SignalEdit& edit)
{
    TS_Message& message = *match.message;
    RequireSelected(message);
    const auto it = message.signals.find(signalName);
    if (it == message.signals.end()) {
        Refuse(L"message " + Quoted(message.name) + L" has no signal " + Quoted(signalName));
    }
    TS_Signal& signal = *it->second;
    const bool settings = edit.constant || edit.control || edit.start || edit.end || edit.middle || edit.raw;
    if (settings && message.multiplex.multiplexor.get() == &signal) {
        Refuse(L"signal " + Quoted(signal.name) + L" is the multiplexor of " + Quoted(message.name) +
               L"; the message's multiplexor values choose what it sends");
    }
    if (edit.constant && edit.control) {
        Refuse(L"a signal is either constant or driven by a control");
    }
    if (edit.constant) {
        signal.signalType = kConstantSignal;
    }
    if (edit.control) {
        const auto number = ControlNumberOf(*edit.control);
        if (!number) {
            Refuse(Quoted(*edit.control) +
                   L" is no control of the device (names as in the control list, e.g. "
                   L"\"Potentiometer 1\", \"Switch 4\", \"DIP switch 12\", \"No control\")");
        }
        signal.signalType = kDynamicSignal;
        signal.dynamicControl = *number;
    }
    if (edit.start || edit.end || edit.middle) {
        if (signal.signalType != kDynamicSignal || signal.dynamicControl == kNoControl) {
            Refuse(L"signal " + Quoted(signal.name) +
                   L" is driven by no control, so it has no start, end or middle value");
        }
        const ControlLabels labels = LabelsOf(signal.dynamicControl);
        if (edit.middle && labels.middle.empty()) {
            Refuse(L"control " + Quoted(ControlName(signal.dynamicControl)) + L" has no middle position");
        }
    }
    if (edit.start) {
        signal.startValue = RawOf(signal, *edit.start, L"start");
    }
    if (edit.end) {
        signal.endValue = RawOf(signal, *edit.end, L"end");
    }
    if (edit.middle) {
        signal.middleValue = RawOf(signal, *edit.middle, L"middle");
    }
    if (edit.raw) {
        signal.rawValue = RawOf(signal, *edit.raw, L"constant");
    }
    for (const auto& [name, text] : edit.attributes) {
        const bool known = signal.attributeOverrides.count(name) != 0 || signal.attributes.count(name) != 0 ||
                           (signal.definitions && signal.definitions->count(name) != 0);
        // The signal editor shows every attribute greyed.
        Refuse(known ? L"attribute " + Quoted(name) + L" is read-only in the signal editor"
                     : L"signal " + Quoted(signal.name) + L" has no attribute " + Quoted(name));
    }
    project_.SetModified(true);
}

namespace {

using nlohmann::json;

std::wstring Text(const json& value, const char* key)
{
    if (value.is_string()) {
        return FromUtf8(value.get<std::string>());
    }
    if (value.is_number_integer() || value.is_number_unsigned() || value.is_number_float()) {
        return FromUtf8(value.dump());
    }
    throw EditError(std::string("\"") + key + "\" must be a string or a number");
}

std::wstring String(const json& edit, const char* key, bool required)
{
    if (!edit.contains(key)) {
        if (required) {
            throw EditError(std::string("\"") + key + "\" is missing");
        }
        return {};
    }
    if (!edit[key].is_string()) {
        throw EditError(std::string("\"") + key + "\" must be a string");
    }
    return FromUtf8(edit[key].get<std::string>());
}

std::uint32_t Unsigned(const json& value, const char* key)
{
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > 0xFFFFFFFFu) {
        throw EditError(std::string("\"") + key + "\" must be a whole number from 0 to 4294967295");
    }
    return value.get<std::uint32_t>();
}

void OnlyKeys(const json& edit, std::initializer_list<const char*> keys)
{
    for (const auto& [key, value] : edit.items()) {
        if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; })) {
            throw EditError("unknown key \"" + key + "\"");
        }
    }
}

std::vector<std::pair<std::wstring, std::wstring>> Attributes(const json& edit)
{
    std::vector<std::pair<std::wstring, std::wstring>> out;
    if (!edit.contains("attributes")) {
        return out;
    }
    if (!edit["attributes"].is_object()) {
        throw EditError("\"attributes\" must be an object of names and values");
    }
    for (const auto& [name, value] : edit["attributes"].items()) {
        out.emplace_back(FromUtf8(name), Text(value, "attributes"));
    }
    return out;
}

std::optional<SignalValue> Value(const json& edit, const char* key, bool physical)
{
    if (!edit.contains(key)) {
        return std::nullopt;
    }
    const json& value = edit[key];
    if (!physical && value.is_number() && !value.is_number_unsigned()) {
        throw EditError(std::string("\"") + key + "\" must be a whole number from 0, or a string such as \"0xFA00\"");
    }
    return SignalValue{Text(value, key), physical};
}

}  // namespace

void ProjectEdits::Apply(std::string_view text, const std::filesystem::path& folder)
{
    const json document = json::parse(text, nullptr, false);
    if (document.is_discarded()) {
        throw EditError("the edits are no valid JSON");
    }
    if (!document.is_object() || !document.contains("edits") || !document["edits"].is_array()) {
        throw EditError("the edits file must be an object with an \"edits\" list");
    }
    std::size_t position = 0;
    for (const json& edit : document["edits"]) {
        ++position;
        std::string op = "?";
        try {
            if (!edit.is_object() || !edit.contains("op") || !edit["op"].is_string()) {
                throw EditError("each edit is an object with an \"op\"");
            }
            op = edit["op"].get<std::string>();
            if (op == "add_dbc" || op == "remove_dbc") {
                OnlyKeys(edit, {"op", "file"});
                const std::wstring file = String(edit, "file", true);
                std::filesystem::path path = platform::ToPath(file);
                if (path.is_relative()) {
                    path = folder / path;
                }
                if (op == "add_dbc") {
                    AddDatabase(path);
                } else {
                    RemoveDatabase(path.is_absolute() && project_.FindDatabase(file) < 0 ? FromUtf8(path.string())
                                                                                         : file);
                }
            } else if (op == "setup") {
                OnlyKeys(edit, {"op", "channel", "code"});
                if (!edit.contains("channel") || !edit.contains("code")) {
                    throw EditError("\"channel\" and \"code\" are needed");
                }
                SetChannelSetup(Unsigned(edit["channel"], "channel"), Unsigned(edit["code"], "code"));
            } else if (op == "select") {
                OnlyKeys(edit, {"op", "messages", "channels", "database", "node", "cycle_time"});
                if (!edit.contains("messages") || !edit["messages"].is_array() || !edit.contains("channels") ||
                    !edit["channels"].is_array()) {
                    throw EditError("\"messages\" and \"channels\" lists are needed");
                }
                std::vector<std::wstring> patterns;
                for (const json& m : edit["messages"]) {
                    patterns.push_back(Text(m, "messages"));
                }
                std::uint8_t mask = 0;
                for (const json& c : edit["channels"]) {
                    const std::uint32_t channel = Unsigned(c, "channels");
                    if (channel < 1 || channel > 4) {
                        throw EditError("channels are 1 to 4");
                    }
                    mask = static_cast<std::uint8_t>(mask | (1u << (channel - 1)));
                }
                std::optional<long> cycleTime;
                if (edit.contains("cycle_time")) {
                    cycleTime = static_cast<long>(Unsigned(edit["cycle_time"], "cycle_time"));
                }
                SelectChannels(FindMessages(patterns, String(edit, "database", false), String(edit, "node", false)),
                               mask, cycleTime);
            } else if (op == "message") {
                OnlyKeys(edit, {"op", "message", "database", "raw", "cycle_time", "mux_values", "attributes"});
                MessageEdit change;
                if (edit.contains("raw")) {
                    change.payload = String(edit, "raw", true);
                }
                if (edit.contains("mux_values")) {
                    if (!edit["mux_values"].is_array()) {
                        throw EditError("\"mux_values\" must be a list of numbers");
                    }
                    change.multiplexorValues.emplace();
                    for (const json& v : edit["mux_values"]) {
                        change.multiplexorValues->push_back(Unsigned(v, "mux_values"));
                    }
                }
                if (edit.contains("cycle_time")) {
                    change.attributes.emplace_back(L"GenMsgCycleTime", Text(edit["cycle_time"], "cycle_time"));
                }
                const auto attributes = Attributes(edit);
                change.attributes.insert(change.attributes.end(), attributes.begin(), attributes.end());
                EditMessage(FindMessage(String(edit, "message", true), String(edit, "database", false)), change);
            } else if (op == "signal") {
                OnlyKeys(edit, {"op", "message", "database", "signal", "constant", "control", "start", "end", "middle",
                                "raw", "physical", "attributes"});
                bool physical = false;
                if (edit.contains("physical")) {
                    if (!edit["physical"].is_boolean()) {
                        throw EditError("\"physical\" must be true or false");
                    }
                    physical = edit["physical"].get<bool>();
                }
                SignalEdit change;
                if (edit.contains("constant")) {
                    if (!edit["constant"].is_boolean()) {
                        throw EditError("\"constant\" must be true or false");
                    }
                    change.constant = edit["constant"].get<bool>();
                }
                if (edit.contains("control")) {
                    change.control = String(edit, "control", true);
                }
                change.start = Value(edit, "start", physical);
                change.end = Value(edit, "end", physical);
                change.middle = Value(edit, "middle", physical);
                change.raw = Value(edit, "raw", physical);
                change.attributes = Attributes(edit);
                EditSignal(FindMessage(String(edit, "message", true), String(edit, "database", false)),
                           String(edit, "signal", true), change);
            } else {
                throw EditError("unknown op; one of add_dbc, remove_dbc, setup, select, message, signal");
            }
        } catch (const EditDeclined& e) {
            throw EditDeclined("edit " + std::to_string(position) + " (" + op + "): " + e.what());
        } catch (const EditError& e) {
            throw EditError("edit " + std::to_string(position) + " (" + op + "): " + e.what());
        }
    }
}

}  // namespace torvik::studio::app
