// torvik project new|add-dbc|remove-dbc|setup|select|message|signal|apply: the editing jobs of the desktop
// program's main window and views, from scripts. The rules are the core's; this file reads arguments.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <app/project_edits.hpp>
#include <platform/files.hpp>
#include <platform/text.hpp>
#include <project/ts_project.hpp>

#include "commands.hpp"
#include "project_files.hpp"
#include "terminal_prompt.hpp"

namespace torvik::cli {

namespace {

using platform::FromUtf8;
using platform::ToUtf8;
using studio::TS_Project;
using studio::app::EditDeclined;
using studio::app::EditError;
using studio::app::ProjectEdits;

std::string Absolute(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.string();
}

void Save(TS_Project& project, const std::string& file)
{
    if (!project.SaveProject(std::wstring())) {
        const std::error_code& reason = project.GetSaveError();
        throw CommandError("cannot save '" + file + "'" + (reason ? ": " + reason.message() : std::string()));
    }
}

/// Runs `job` on the project and saves it when every edit succeeded; a refused edit leaves the file as
/// it was and becomes the command's one line.
void Run(TS_Project& project, const std::string& file, TerminalPrompt& prompt,
         const std::function<void(ProjectEdits&)>& job)
{
    ProjectEdits edits(project, prompt);
    try {
        job(edits);
    } catch (const EditDeclined& e) {
        throw CommandError(std::string(e.what()) +
                           (prompt.unasked().empty() ? "" : " (no terminal to ask on; --yes answers Yes)"));
    } catch (const EditError& e) {
        throw CommandError(e.what());
    }
    Save(project, file);
}

void Edit(const std::string& file, bool yes, const std::function<void(ProjectEdits&)>& job)
{
    auto project = OpenProjectFile(Absolute(file));
    TerminalPrompt prompt(yes);
    Run(*project, file, prompt, job);
}

std::uint8_t ChannelMask(const std::string& list)
{
    std::uint8_t mask = 0;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::uint32_t channel = ParseNumber(list.substr(start, comma - start), "channel", 4);
        if (channel == 0) {
            throw CommandError("invalid channel '0' (1 to 4)");
        }
        mask = static_cast<std::uint8_t>(mask | (1u << (channel - 1)));
        start = comma + 1;
    }
    return mask;
}

std::vector<std::uint32_t> NumberList(const std::string& list, const char* what)
{
    std::vector<std::uint32_t> values;
    if (list.empty()) {
        return values;
    }
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        values.push_back(ParseNumber(list.substr(start, comma - start), what, 0xFFFFFFFFu));
        start = comma + 1;
    }
    return values;
}

std::vector<std::pair<std::wstring, std::wstring>> Attributes(const std::vector<std::string>& assignments)
{
    std::vector<std::pair<std::wstring, std::wstring>> out;
    for (const std::string& assignment : assignments) {
        const auto equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0) {
            throw CommandError("invalid --attribute '" + assignment + "' (NAME=VALUE)");
        }
        out.emplace_back(FromUtf8(assignment.substr(0, equals)), FromUtf8(assignment.substr(equals + 1)));
    }
    return out;
}

struct Options {
    std::string file;
    bool yes = false;
    std::vector<std::string> dbcs;
    std::string dbc;
    std::uint32_t channel = 0;
    std::uint32_t code = 0;
    std::vector<std::string> messages;
    std::string message;
    std::string signal;
    std::string channels;
    bool none = false;
    std::string database;
    std::string node;
    std::string cycleTime;
    std::optional<std::string> raw;
    std::optional<std::string> muxValues;
    std::vector<std::string> attributes;
    bool constant = false;
    std::optional<std::string> control;
    std::optional<std::string> start;
    std::optional<std::string> end;
    std::optional<std::string> middle;
    bool physical = false;
    std::string edits;
};

void AddFile(CLI::App& command, Options& o)
{
    command.add_option("FILE", o.file, "project file (.tsp)")->required();
}

void AddYes(CLI::App& command, Options& o)
{
    command.add_flag("--yes", o.yes,
                     "answer every question Yes (without it a question is asked on a terminal, "
                     "and answered No without one)");
}

std::optional<studio::app::SignalValue> Value(const std::optional<std::string>& text, bool physical)
{
    if (!text) {
        return std::nullopt;
    }
    return studio::app::SignalValue{FromUtf8(*text), physical};
}

}  // namespace

void AddProjectEditCommands(CLI::App& app)
{
    CLI::App* project = app.get_subcommand("project");

    auto* create = project->add_subcommand("new", "Make a new project with the given databases and save it");
    auto newOptions = std::make_shared<Options>();
    AddFile(*create, *newOptions);
    create->add_option("--dbc", newOptions->dbcs, "a DBC database to import (repeatable, in order)");
    AddYes(*create, *newOptions);
    create->callback([o = newOptions] {
        TerminalPrompt prompt(o->yes);
        std::unique_ptr<TS_Project> created;
        try {
            created = ProjectEdits::NewProject(o->file, prompt);
        } catch (const EditError& e) {
            throw CommandError(std::string(e.what()) +
                               (prompt.unasked().empty() ? "" : " (no terminal to ask on; --yes answers Yes)"));
        }
        Run(*created, o->file, prompt, [o](ProjectEdits& edits) {
            for (const std::string& dbc : o->dbcs) {
                edits.AddDatabase(dbc);
            }
        });
    });

    auto* add = project->add_subcommand("add-dbc", "Import a DBC database into a project");
    auto addOptions = std::make_shared<Options>();
    AddFile(*add, *addOptions);
    add->add_option("DB", addOptions->dbc, "DBC file")->required();
    AddYes(*add, *addOptions);
    add->callback([o = addOptions] { Edit(o->file, o->yes, [o](ProjectEdits& e) { e.AddDatabase(o->dbc); }); });

    auto* remove = project->add_subcommand(
        "remove-dbc", "Remove a database (by its DBC file or its name); asks first when it has selected messages");
    auto removeOptions = std::make_shared<Options>();
    AddFile(*remove, *removeOptions);
    remove->add_option("DB", removeOptions->dbc, "DBC file or database name")->required();
    AddYes(*remove, *removeOptions);
    remove->callback(
        [o = removeOptions] { Edit(o->file, o->yes, [o](ProjectEdits& e) { e.RemoveDatabase(FromUtf8(o->dbc)); }); });

    auto* setup = project->add_subcommand("setup", "Set the bit timing of CAN 3 or CAN 4");
    auto setupOptions = std::make_shared<Options>();
    AddFile(*setup, *setupOptions);
    setup->add_option("--channel", setupOptions->channel, "3 or 4")->required()->check(CLI::IsMember({3u, 4u}));
    setup
        ->add_option("--code", setupOptions->code,
                     "2 HS 500 kBd, 80 to 83.3 %; 4 FD 500/500 kBd, 80/80 %; 5 FD 500/1,000 kBd, 80/70 %; "
                     "6 FD 500/2,000 kBd, 80/70 %")
        ->required();
    setup->callback(
        [o = setupOptions] { Edit(o->file, false, [o](ProjectEdits& e) { e.SetChannelSetup(o->channel, o->code); }); });

    auto* select = project->add_subcommand("select", "Choose the CAN channels that send messages");
    auto selectOptions = std::make_shared<Options>();
    AddFile(*select, *selectOptions);
    select
        ->add_option("MESSAGE", selectOptions->messages,
                     "message name, identifier (0x123, 0x18FEF100x for an extended one) or glob over names")
        ->required();
    auto* channels = select->add_option("--channels", selectOptions->channels,
                                        "the channels that send them, e.g. 1,3 (the others are cleared)");
    auto* none = select->add_flag("--none", selectOptions->none, "send them on no channel");
    channels->excludes(none);
    select->add_option("--database", selectOptions->database, "only messages of this database");
    select->add_option("--node", selectOptions->node, "only messages this node transmits");
    select->add_option("--cycle-time", selectOptions->cycleTime,
                       "the cycle time (ms) a message with cycle time 0 gets, instead of the question");
    AddYes(*select, *selectOptions);
    select->callback([o = selectOptions] {
        if (o->channels.empty() && !o->none) {
            throw CommandError("give --channels LIST or --none");
        }
        const std::uint8_t mask = o->none ? 0 : ChannelMask(o->channels);
        std::optional<long> cycleTime;
        if (!o->cycleTime.empty()) {
            cycleTime = static_cast<long>(ParseNumber(o->cycleTime, "cycle time", 65535));
        }
        Edit(o->file, o->yes, [o, mask, cycleTime](ProjectEdits& e) {
            std::vector<std::wstring> patterns;
            for (const std::string& m : o->messages) {
                patterns.push_back(FromUtf8(m));
            }
            e.SelectChannels(e.FindMessages(patterns, FromUtf8(o->database), FromUtf8(o->node)), mask, cycleTime);
        });
    });

    auto* message = project->add_subcommand("message", "Change what the message editor changes of a selected message");
    auto messageOptions = std::make_shared<Options>();
    AddFile(*message, *messageOptions);
    message->add_option("MESSAGE", messageOptions->message, "message name or identifier")->required();
    message->add_option("--database", messageOptions->database, "the database of the message");
    message->add_option("--raw", messageOptions->raw, "the whole payload, bytes 0x.. separated by blanks");
    message->add_option("--cycle-time", messageOptions->cycleTime, "cycle time in ms (not 0)");
    message->add_option("--mux-values", messageOptions->muxValues,
                        "the multiplexor values to simulate, in order, e.g. 2,1");
    message->add_option("--attribute", messageOptions->attributes,
                        "NAME=VALUE: an attribute the message editor changes (repeatable)");
    message->callback([o = messageOptions] {
        studio::app::MessageEdit edit;
        if (o->raw) {
            edit.payload = FromUtf8(*o->raw);
        }
        if (o->muxValues) {
            edit.multiplexorValues = NumberList(*o->muxValues, "multiplexor value");
        }
        if (!o->cycleTime.empty()) {
            edit.attributes.emplace_back(L"GenMsgCycleTime", FromUtf8(o->cycleTime));
        }
        const auto attributes = Attributes(o->attributes);
        edit.attributes.insert(edit.attributes.end(), attributes.begin(), attributes.end());
        Edit(o->file, false, [o, edit](ProjectEdits& e) {
            e.EditMessage(e.FindMessage(FromUtf8(o->message), FromUtf8(o->database)), edit);
        });
    });

    auto* signal =
        project->add_subcommand("signal", "Set a signal of a selected message constant or driven by a control");
    auto signalOptions = std::make_shared<Options>();
    AddFile(*signal, *signalOptions);
    signal->add_option("MESSAGE", signalOptions->message, "message name or identifier")->required();
    signal->add_option("SIGNAL", signalOptions->signal, "signal name")->required();
    signal->add_option("--database", signalOptions->database, "the database of the message");
    auto* constant = signal->add_flag("--constant", signalOptions->constant, "send a constant value");
    auto* control =
        signal->add_option("--control", signalOptions->control,
                           "the device control that drives it, as in the control list (\"Potentiometer 1\")");
    constant->excludes(control);
    signal->add_option("--start", signalOptions->start, "value at the control's start position");
    signal->add_option("--end", signalOptions->end, "value at the control's end position");
    signal->add_option("--middle", signalOptions->middle, "value at the middle position (Switch 1 and Switch 4)");
    signal->add_option("--raw", signalOptions->raw, "the constant value");
    signal->add_flag("--physical", signalOptions->physical,
                     "the values are physical values or value descriptions, not raw numbers");
    signal->add_option("--attribute", signalOptions->attributes, "NAME=VALUE (signal attributes are read-only)");
    signal->callback([o = signalOptions] {
        studio::app::SignalEdit edit;
        edit.constant = o->constant;
        if (o->control) {
            edit.control = FromUtf8(*o->control);
        }
        edit.start = Value(o->start, o->physical);
        edit.end = Value(o->end, o->physical);
        edit.middle = Value(o->middle, o->physical);
        edit.raw = Value(o->raw, o->physical);
        edit.attributes = Attributes(o->attributes);
        Edit(o->file, false, [o, edit](ProjectEdits& e) {
            e.EditSignal(e.FindMessage(FromUtf8(o->message), FromUtf8(o->database)), FromUtf8(o->signal), edit);
        });
    });

    auto* apply = project->add_subcommand("apply", "Apply a JSON list of edits in one save");
    auto applyOptions = std::make_shared<Options>();
    AddFile(*apply, *applyOptions);
    apply->add_option("EDITS", applyOptions->edits, "JSON edits file")->required();
    AddYes(*apply, *applyOptions);
    apply->callback([o = applyOptions] {
        std::string text;
        if (const auto ec = platform::ReadWholeFile(o->edits, text)) {
            throw CommandError("cannot read '" + o->edits + "': " + ec.message());
        }
        std::error_code ec;
        const std::filesystem::path folder = std::filesystem::absolute(o->edits, ec).parent_path();
        Edit(o->file, o->yes, [&text, folder](ProjectEdits& e) { e.Apply(text, folder); });
    });
}

}  // namespace torvik::cli
