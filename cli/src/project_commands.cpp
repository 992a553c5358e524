// torvik project show, torvik userblock build|show|read: simulation projects and their device images.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include <editor/item_helper.hpp>
#include <device/flash_job.hpp>
#include <device/user_memory.hpp>
#include <platform/files.hpp>
#include <platform/profile.hpp>
#include <platform/text.hpp>
#include <project/opening.hpp>
#include <project/ts_project.hpp>
#include <project/user_block.hpp>

#include "commands.hpp"
#include "project_files.hpp"

namespace torvik::cli {

namespace {

using nlohmann::ordered_json;
using platform::FromUtf8;
using platform::ToUtf8;
using studio::RawNumber;
using studio::TS_Project;

std::string Hex(const RawNumber& value)
{
    return "0x" + value.str(0, std::ios_base::hex | std::ios_base::uppercase);
}

std::string Format(const char* format, auto... args)
{
    char text[128];
    const int n = std::snprintf(text, sizeof text, format, args...);
    return n < 0 ? std::string() : std::string(text, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 1));
}

std::string IdText(std::uint32_t id)
{
    return (id & 0x80000000u) != 0 ? Format("%Xx", id & 0x1FFFFFFFu) : Format("%X", id);
}

std::string Channels(std::uint8_t mask)
{
    std::string out;
    for (int ch = 0; ch < 4; ++ch) {
        if ((mask & (1u << ch)) != 0) {
            out += (out.empty() ? "CAN " : ", CAN ") + std::to_string(ch + 1);
        }
    }
    return out;
}

std::string ControlText(std::int32_t control)
{
    const std::wstring name = studio::ControlName(control);
    return (name.empty() ? std::string("control") : ToUtf8(name)) + " (" + std::to_string(control) + ")";
}

void ShowProject(const TS_Project& project)
{
    std::printf("Project %s (%s)\n", ToUtf8(project.GetProjectName()).c_str(), ToUtf8(project.GetProjectPath()).c_str());
    for (const auto& [channel, code] : project.GetChannelSetups()) {
        std::printf("CAN %u: %s (setup %u)\n", channel, ToUtf8(studio::SetupName(code)).c_str(), code);
    }
    for (std::size_t i = 0; i < project.GetDatabaseCount(); ++i) {
        const auto& db = *project.GetDatabase(i);
        std::printf("\nDatabase %s: %s\n", ToUtf8(db.GetName()).c_str(), ToUtf8(db.path).c_str());
        for (const auto& [id, message] : db.network->messages) {
            if (message->channelMask == 0) {
                continue;
            }
            std::printf("  %-10s %-28s %s, %u bytes, cycle %d ms%s\n", IdText(id).c_str(), ToUtf8(message->name).c_str(),
                        Channels(message->channelMask).c_str(), message->length,
                        message->GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true),
                        TS_Project::IsCanFdMessage(*message) ? ", CAN FD" : "");
            if (message->multiplex.multiplexor) {
                std::string values;
                for (const auto v : message->multiplex.values) {
                    values += " " + std::to_string(v);
                }
                std::printf("             multiplexor values:%s\n", values.empty() ? " (none)" : values.c_str());
            }
            for (const auto& [name, signal] : message->signals) {
                if (signal->signalType == studio::kDynamicSignal) {
                    std::string range = "start " + Hex(signal->startValue);
                    if (studio::ClassOfControl(signal->dynamicControl) == studio::ControlClass::ThreeState) {
                        range += ", middle " + Hex(signal->middleValue);
                    }
                    range += ", end " + Hex(signal->endValue);
                    std::printf("             %-28s dynamic on %s: %s\n", ToUtf8(name).c_str(),
                                ControlText(signal->dynamicControl).c_str(), range.c_str());
                } else if (signal->rawValue != signal->initialRawValue) {
                    std::printf("             %-28s constant %s (initial %s)\n", ToUtf8(name).c_str(),
                                Hex(signal->rawValue).c_str(), Hex(signal->initialRawValue).c_str());
                }
            }
        }
    }
}

std::string AttributeText(const kq::dbclib::Dbc_Attribute& attribute)
{
    if (const auto* i = dynamic_cast<const kq::dbclib::Dbc_AttributeSpec<int>*>(&attribute)) {
        const auto* def = attribute.definition.get();
        if (def != nullptr && def->valueKind == kq::dbclib::Dbc_ValueKind::Enum) {
            const auto& values = static_cast<const kq::dbclib::Dbc_EnumAttributeDef&>(*def).values;
            if (i->value >= 0 && static_cast<std::size_t>(i->value) < values.size()) {
                return ToUtf8(values[static_cast<std::size_t>(i->value)]);
            }
        }
        if (def != nullptr && def->valueKind == kq::dbclib::Dbc_ValueKind::Hex) {
            return Format("0x%X", static_cast<unsigned>(i->value));
        }
        return std::to_string(i->value);
    }
    if (const auto* f = dynamic_cast<const kq::dbclib::Dbc_AttributeSpec<float>*>(&attribute)) {
        return Format("%g", static_cast<double>(f->value));
    }
    if (const auto* t = dynamic_cast<const kq::dbclib::Dbc_AttributeSpec<std::wstring>*>(&attribute)) {
        return ToUtf8(t->value);
    }
    return {};
}

ordered_json Overrides(const studio::AttributeOverrides& overrides)
{
    ordered_json j = ordered_json::object();
    for (const auto& [name, value] : overrides) {
        if (value) {
            j[ToUtf8(name)] = AttributeText(*value);
        }
    }
    return j;
}

ordered_json ChannelList(std::uint8_t mask)
{
    ordered_json j = ordered_json::array();
    for (int ch = 0; ch < 4; ++ch) {
        if ((mask & (1u << ch)) != 0) {
            j.push_back(ch + 1);
        }
    }
    return j;
}

// Everything the editing commands change, so that a script can check the result.
void ShowProjectJson(const TS_Project& project)
{
    ordered_json out;
    out["name"] = ToUtf8(project.GetProjectName());
    out["path"] = ToUtf8(project.GetProjectPath());
    out["channel_setups"] = ordered_json::array();
    for (const auto& [channel, code] : project.GetChannelSetups()) {
        out["channel_setups"].push_back(
            {{"channel", channel}, {"setup", code}, {"setup_name", ToUtf8(studio::SetupName(code))}});
    }
    out["databases"] = ordered_json::array();
    for (std::size_t i = 0; i < project.GetDatabaseCount(); ++i) {
        const auto& db = *project.GetDatabase(i);
        ordered_json messages = ordered_json::array();
        for (const auto& [id, message] : db.network->messages) {
            if (message->channelMask == 0) {
                continue;
            }
            ordered_json m;
            m["id"] = id;
            m["id_text"] = ToUtf8(studio::MessageIdText(id));
            m["name"] = ToUtf8(message->name);
            m["channels"] = ChannelList(message->channelMask);
            m["can_fd"] = TS_Project::IsCanFdMessage(*message);
            m["cycle_time_ms"] = message->GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true);
            if (message->multiplex.multiplexor) {
                m["multiplexor"] = ToUtf8(message->multiplex.multiplexor->name);
                m["mux_values"] = message->multiplex.values;
            }
            m["payload"] = ToUtf8(studio::PayloadText(*message));
            m["attribute_overrides"] = Overrides(message->attributeOverrides);
            ordered_json signals = ordered_json::array();
            for (const auto& [name, signal] : message->signals) {
                ordered_json s;
                s["name"] = ToUtf8(name);
                s["type"] = signal->signalType == studio::kDynamicSignal ? "dynamic" : "constant";
                s["raw"] = Hex(signal->rawValue);
                s["initial_raw"] = Hex(signal->initialRawValue);
                if (signal->signalType == studio::kDynamicSignal) {
                    s["control"] = signal->dynamicControl;
                    s["control_name"] = ToUtf8(studio::ControlName(signal->dynamicControl));
                    s["start"] = Hex(signal->startValue);
                    s["end"] = Hex(signal->endValue);
                    if (studio::ClassOfControl(signal->dynamicControl) == studio::ControlClass::ThreeState) {
                        s["middle"] = Hex(signal->middleValue);
                    }
                }
                if (!signal->attributeOverrides.empty()) {
                    s["attribute_overrides"] = Overrides(signal->attributeOverrides);
                }
                signals.push_back(std::move(s));
            }
            m["signals"] = std::move(signals);
            messages.push_back(std::move(m));
        }
        out["databases"].push_back({{"name", ToUtf8(db.GetName())}, {"path", ToUtf8(db.path)}, {"messages", messages}});
    }
    std::cout << out.dump(2) << '\n';
}

void BuildImage(const std::string& projectPath, const std::string& outputPath)
{
    auto project = OpenProjectFile(projectPath);
    const std::int32_t length = project->BuildUserBlock();
    if (length < 0) {
        throw CommandError("the user block of '" + projectPath + "' does not fit the device's " +
                           std::to_string(TS_Project::kUserBlockCapacity) + " bytes (a record of " +
                           std::to_string(-length) + " bytes overflows)");
    }
    const std::string_view bytes(reinterpret_cast<const char*>(project->GetUserBlock()),
                                 static_cast<std::size_t>(length));
    // The project and its databases are inputs: -o naming one of them must not destroy it.
    platform::WriteRules rules;
    rules.streams = true;
    rules.inputs.push_back(projectPath);
    for (std::size_t i = 0; i < project->GetDatabaseCount(); ++i) {
        rules.inputs.push_back(platform::ToPath(project->GetDatabase(i)->path));
    }
    if (const auto ec = platform::WriteFileSafely(outputPath, bytes, rules)) {
        throw CommandError("cannot write '" + outputPath + "': " + ec.message());
    }
    // With the image on standard output, what is said about it goes to standard error.
    std::FILE* const report = platform::NamedDescriptor(outputPath) == 1 ? stderr : stdout;
    const std::wstring notice = TS_Project::MotorolaSignalsNotice(project->MessagesWithMotorolaSignals());
    if (!notice.empty()) {
        std::fprintf(stderr, "torvik: warning: %s\n", ToUtf8(notice).c_str());
    }
    std::fprintf(report, "%s: %d bytes\n", outputPath.c_str(), length);
}

std::string PayloadText(const std::vector<std::uint8_t>& bytes)
{
    std::string out;
    for (const auto b : bytes) {
        out += Format(out.empty() ? "%02X" : " %02X", b);
    }
    return out;
}

const char* FrameFormatText(std::uint8_t format)
{
    return format == 0xD0 ? "CAN FD with bit-rate switch" : format == 0x40 ? "CAN FD" : "classic CAN";
}

ordered_json RecordJson(const studio::UserBlockRecord& r)
{
    ordered_json j;
    j["offset"] = r.offset;
    switch (r.type) {
    case studio::kRecordChannelSetup:
        j["record"] = "channel setup";
        j["channel"] = r.channel;
        j["setup"] = r.setupCode;
        j["setup_name"] = ToUtf8(studio::SetupName(r.setupCode));
        break;
    case studio::kRecordMessage:
        j["record"] = "message";
        j["id"] = r.id;
        j["extended"] = (r.id & 0x80000000u) != 0;
        j["channel_mask"] = r.channelMask;
        j["channels"] = Channels(r.channelMask);
        j["frame_format"] = FrameFormatText(r.frameFormat);
        j["dlc"] = r.dlc;
        j["cycle_time_ms"] = r.cycleTimeMs;
        j["start_delay_ms"] = r.startDelayMs;
        j["fast_cycle_time_ms"] = r.fastCycleTimeMs;
        j["payload"] = PayloadText(r.payload);
        break;
    case studio::kRecordConstants:
        j["record"] = "constants";
        j["bytes"] = PayloadText(r.constants);
        break;
    case studio::kRecordSignalPosition:
        j["record"] = "signal position";
        j["control"] = r.control;
        j["control_name"] = ToUtf8(studio::ControlName(r.control));
        j["start_bit"] = r.startBit;
        j["last_bit"] = r.lastBit;
        j["multiplex_value"] = r.multiplexValue;
        break;
    case studio::kRecordSignalValues:
        j["record"] = "signal values";
        j["start"] = r.startValue;
        if (r.middleValue) {
            j["middle"] = *r.middleValue;
        }
        j["end"] = r.endValue;
        break;
    default:
        break;
    }
    return j;
}

void PrintRecord(const studio::UserBlockRecord& r)
{
    std::printf("%05zu  ", r.offset);
    switch (r.type) {
    case studio::kRecordChannelSetup:
        std::printf("channel setup  CAN %u: %s (setup %u)\n", r.channel, ToUtf8(studio::SetupName(r.setupCode)).c_str(),
                    r.setupCode);
        break;
    case studio::kRecordMessage:
        std::printf("message        %s on %s, %s, DLC %u, cycle %u ms, start delay %u ms, fast cycle %u ms\n"
                    "                 payload %s\n",
                    IdText(r.id).c_str(), Channels(r.channelMask).c_str(), FrameFormatText(r.frameFormat), r.dlc,
                    r.cycleTimeMs, r.startDelayMs, r.fastCycleTimeMs, PayloadText(r.payload).c_str());
        break;
    case studio::kRecordConstants:
        std::printf("constants      %s\n", PayloadText(r.constants).c_str());
        break;
    case studio::kRecordSignalPosition:
        std::printf("signal         %s, bits %u..%u, multiplexor value %u\n", ControlText(r.control).c_str(),
                    r.startBit, r.lastBit, r.multiplexValue);
        break;
    case studio::kRecordSignalValues:
        if (r.middleValue) {
            std::printf("signal values  start 0x%04X, middle 0x%04X, end 0x%04X\n", r.startValue, *r.middleValue,
                        r.endValue);
        } else {
            std::printf("signal values  start 0x%04X, end 0x%04X\n", r.startValue, r.endValue);
        }
        break;
    default:
        break;
    }
}

void ShowImageBytes(const std::string& path, const std::vector<std::uint8_t>& image, bool json)
{
    const auto decoded = studio::DecodeUserBlock(image);
    if (json) {
        ordered_json out;
        out["size"] = image.size();
        out["records"] = ordered_json::array();
        for (const auto& r : decoded.records) {
            out["records"].push_back(RecordJson(r));
        }
        if (decoded.errorOffset) {
            out["error"] = {{"offset", *decoded.errorOffset}, {"message", decoded.error}};
        }
        std::cout << out.dump(2) << '\n';
    } else {
        std::printf("%s: %zu bytes\n", path.c_str(), image.size());
        for (const auto& r : decoded.records) {
            PrintRecord(r);
        }
    }
    if (decoded.errorOffset) {
        std::cout.flush();
        throw CommandError("'" + path + "' is malformed at offset " + std::to_string(*decoded.errorOffset) + ": " +
                           decoded.error);
    }
}

void ShowImage(const std::string& path, bool json)
{
    std::string bytes;
    if (const auto ec = platform::ReadWholeFile(path, bytes)) {
        throw CommandError("cannot read '" + path + "': " + ec.message());
    }
    ShowImageBytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), json);
}

// The simulation the device holds: its USER memory read through the boot loader, the current block shown.
void ReadDeviceImage(const std::string& port, bool json, const std::string& outputPath)
{
    std::vector<std::uint8_t> memory;
    try {
        studio::FlashJob job(PortOrSettings(port), {});
        memory = job.Read(studio::kUserMemoryAddress, static_cast<std::uint32_t>(studio::kUserMemorySize));
    } catch (const studio::DeviceError& e) {
        throw CommandError(e.what());
    }
    std::string problem;
    const auto block = studio::CurrentUserBlock(memory, problem);
    if (!problem.empty()) {
        throw CommandError(problem);
    }
    if (block.empty()) {
        throw CommandError("the device holds no simulation");
    }
    if (!outputPath.empty()) {
        platform::WriteRules rules;
        rules.streams = true;
        const std::string_view bytes(reinterpret_cast<const char*>(block.data()), block.size());
        if (const auto ec = platform::WriteFileSafely(outputPath, bytes, rules)) {
            throw CommandError("cannot write '" + outputPath + "': " + ec.message());
        }
        std::fprintf(platform::NamedDescriptor(outputPath) == 1 ? stderr : stdout, "%s: %zu bytes\n",
                     outputPath.c_str(), block.size());
        return;
    }
    ShowImageBytes("the device's simulation", block, json);
}

}  // namespace

std::unique_ptr<TS_Project> OpenProjectFile(const std::string& path)
{
    studio::NonInteractivePrompt prompt;
    studio::ProjectOpening opening(prompt, false);
    auto project = opening.Run(FromUtf8(path));
    if (!project) {
        throw CommandError("cannot open project '" + path + "': " + ToUtf8(opening.failure()));
    }
    project->GiveChannelsTheirSetups();
    return project;
}

void AddProjectCommands(CLI::App& app)
{
    auto* project = app.add_subcommand("project", "Read and edit simulation projects (.tsp)");
    project->require_subcommand(1);
    auto* show = project->add_subcommand(
        "show", "Open a project as the program does and print its databases, channel setups, selected messages "
                "and the signals that are dynamic or differ from their initial value");
    auto showPath = std::make_shared<std::string>();
    auto showJson = std::make_shared<bool>(false);
    show->add_option("FILE", *showPath, "project file")->required();
    show->add_flag("--json", *showJson, "print JSON for scripts: every setting of the selected messages");
    show->callback([showPath, showJson] {
        const auto opened = OpenProjectFile(*showPath);
        if (*showJson) {
            ShowProjectJson(*opened);
        } else {
            ShowProject(*opened);
        }
    });

    auto* userblock = app.add_subcommand("userblock", "Build and read user blocks, the device's simulation image");
    userblock->require_subcommand(1);
    auto* build = userblock->add_subcommand("build", "Open a project and write its user block");
    auto buildPath = std::make_shared<std::string>();
    auto outputPath = std::make_shared<std::string>();
    build->add_option("FILE", *buildPath, "project file")->required();
    build->add_option("-o,--output", *outputPath, "image file to write")->required();
    build->callback([buildPath, outputPath] { BuildImage(*buildPath, *outputPath); });

    auto* read = userblock->add_subcommand("show", "Print a user block image record by record");
    auto readPath = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    read->add_option("IMAGE", *readPath, "image file")->required();
    read->add_flag("--json", *json, "print JSON for scripts");
    read->callback([readPath, json] { ShowImage(*readPath, *json); });

    auto* device = userblock->add_subcommand(
        "read", "Read the simulation the device holds from its USER memory and print it record by record");
    auto port = std::make_shared<std::string>();
    auto deviceJson = std::make_shared<bool>(false);
    auto deviceOutput = std::make_shared<std::string>();
    device->add_option("--port", *port,
                       "COM<n> or a device path such as /dev/ttyUSB0 (default: the port the settings choose)");
    device->add_flag("--json", *deviceJson, "print JSON for scripts");
    device->add_option("-o", *deviceOutput, "write the user block to a file instead (- for standard output)");
    device->callback([port, deviceJson, deviceOutput] { ReadDeviceImage(*port, *deviceJson, *deviceOutput); });
}

}  // namespace torvik::cli
