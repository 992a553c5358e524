// torvik dbc show|dump|check: read DBC files and print their models or what their reads skipped.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <dbclib/dbc.hpp>
#include <platform/text.hpp>

#include "commands.hpp"

namespace torvik::cli {

namespace {

using kq::dbclib::Dbc_AttributeDef;
using kq::dbclib::Dbc_AttributesForItem;
using kq::dbclib::Dbc_DefinitionTable;
using kq::dbclib::Dbc_File;
using kq::dbclib::Dbc_ReadReport;
using kq::dbclib::Dbc_ReadStatus;
using kq::dbclib::RawNumber;
using platform::ToUtf8;
using nlohmann::ordered_json;

struct LoadedDbc {
    Dbc_File file;
    Dbc_ReadReport report;
};

// The failure of a read that got nothing, or an empty text.
std::string ReadFailure(const std::string& path, const Dbc_ReadReport& report)
{
    switch (report.status) {
    case Dbc_ReadStatus::NotOpened:
        return "cannot open DBC file '" + path + "'" + (report.error ? ": " + report.error.message() : "");
    case Dbc_ReadStatus::NoStatements:
        return "'" + path + "' holds no DBC statement: not a DBC file";
    case Dbc_ReadStatus::Complete:
        break;
    }
    return {};
}

LoadedDbc LoadDbc(const std::string& path)
{
    LoadedDbc loaded;
    loaded.file.ReadFromFile(platform::FromUtf8(path), L"de-DE", loaded.report);
    if (const std::string failure = ReadFailure(path, loaded.report); !failure.empty()) {
        throw CommandError(failure);
    }
    return loaded;
}

// The whole name of an item whose name its line cuts, or null.
template <typename Item>
ordered_json LongNameJson(const Item& item)
{
    const std::wstring name = kq::dbclib::LongName(item);
    return name.empty() ? ordered_json(nullptr) : ordered_json(ToUtf8(name));
}

std::string IdText(std::uint32_t id)
{
    char text[16];
    if ((id & 0x80000000u) != 0) {
        std::snprintf(text, sizeof text, "%Xx", id & 0x1FFFFFFFu);
    } else {
        std::snprintf(text, sizeof text, "%X", id);
    }
    return text;
}

std::string HexText(const RawNumber& value)
{
    std::string digits = value.str(0, std::ios_base::hex | std::ios_base::uppercase);
    return "0x" + digits;
}

template <typename Nodes>
ordered_json NodeNames(const Nodes& nodes)
{
    ordered_json names = ordered_json::array();
    for (const auto& weak : nodes) {
        if (const auto node = weak.lock()) {
            names.push_back(ToUtf8(node->name));
        }
    }
    return names;
}

ordered_json AttributeValue(const kq::dbclib::Dbc_Attribute& attribute)
{
    using kq::dbclib::Dbc_AttributeSpec;
    if (const auto* i = dynamic_cast<const Dbc_AttributeSpec<int>*>(&attribute)) {
        return i->value;
    }
    if (const auto* f = dynamic_cast<const Dbc_AttributeSpec<float>*>(&attribute)) {
        return static_cast<double>(f->value);
    }
    if (const auto* s = dynamic_cast<const Dbc_AttributeSpec<std::wstring>*>(&attribute)) {
        return ToUtf8(s->value);
    }
    return nullptr;
}

ordered_json Attributes(const Dbc_AttributesForItem& item)
{
    ordered_json out = ordered_json::object();
    for (const auto& [name, attribute] : item.attributes) {
        out[ToUtf8(name)] = attribute ? AttributeValue(*attribute) : ordered_json(nullptr);
    }
    return out;
}

ordered_json Definition(const Dbc_AttributeDef& def)
{
    using namespace kq::dbclib;
    ordered_json out;
    out["name"] = ToUtf8(def.name);
    ordered_json values = ordered_json::array();
    switch (def.valueKind) {
    case Dbc_ValueKind::Int: {
        const auto& d = static_cast<const Dbc_IntAttributeDef&>(def);
        out["kind"] = "int";
        out["minimum"] = d.minimum;
        out["maximum"] = d.maximum;
        out["default"] = d.defaultValue;
        break;
    }
    case Dbc_ValueKind::Hex: {
        const auto& d = static_cast<const Dbc_HexAttributeDef&>(def);
        out["kind"] = "hex";
        out["minimum"] = d.minimum;
        out["maximum"] = d.maximum;
        out["default"] = d.defaultValue;
        break;
    }
    case Dbc_ValueKind::Float: {
        const auto& d = static_cast<const Dbc_FloatAttributeDef&>(def);
        out["kind"] = "float";
        out["minimum"] = d.minimum;
        out["maximum"] = d.maximum;
        out["default"] = d.defaultValue;
        break;
    }
    case Dbc_ValueKind::String: {
        const auto& d = static_cast<const Dbc_StringAttributeDef&>(def);
        out["kind"] = "string";
        out["minimum"] = nullptr;
        out["maximum"] = nullptr;
        out["default"] = ToUtf8(d.defaultValue);
        break;
    }
    case Dbc_ValueKind::Enum: {
        const auto& d = static_cast<const Dbc_EnumAttributeDef&>(def);
        out["kind"] = "enum";
        out["minimum"] = nullptr;
        out["maximum"] = nullptr;
        out["default"] = d.defaultIndex;
        for (const auto& v : d.values) {
            values.push_back(ToUtf8(v));
        }
        break;
    }
    }
    out["values"] = values;
    return out;
}

ordered_json Definitions(const std::shared_ptr<Dbc_DefinitionTable>& table)
{
    ordered_json out = ordered_json::array();
    if (table) {
        for (const auto& [name, def] : *table) {
            if (def) {
                out.push_back(Definition(*def));
            }
        }
    }
    return out;
}

ordered_json SignalJson(const kq::dbclib::Dbc_Signal& s)
{
    using kq::dbclib::ByteOrder;
    using kq::dbclib::ValueType;
    ordered_json out;
    out["name"] = ToUtf8(s.name);
    out["long_name"] = LongNameJson(s);
    out["start_bit"] = s.startBit;
    out["bit_length"] = s.bitLength;
    out["byte_order"] = s.byteOrder == ByteOrder::Motorola ? "motorola" : "intel";
    switch (s.valueType) {
    case ValueType::Signed: out["value_type"] = "signed"; break;
    case ValueType::Unsigned: out["value_type"] = "unsigned"; break;
    case ValueType::Float: out["value_type"] = "float"; break;
    case ValueType::Double: out["value_type"] = "double"; break;
    }
    out["factor"] = s.factor;
    out["offset"] = s.offset;
    out["minimum"] = s.minimum;
    out["maximum"] = s.maximum;
    out["unit"] = ToUtf8(s.unit);
    out["receivers"] = NodeNames(s.receivers);
    out["initial_raw"] = HexText(s.initialRawValue);
    out["is_multiplexed"] = s.isMultiplexed;
    out["multiplex_value"] = s.multiplexValue;
    out["comment"] = ToUtf8(s.comment);
    ordered_json descriptions = ordered_json::object();
    for (const auto& [raw, text] : s.valueDescriptions) {
        descriptions[std::to_string(raw)] = ToUtf8(text);
    }
    out["value_descriptions"] = descriptions;
    out["attributes"] = Attributes(s);
    return out;
}

ordered_json DumpJson(const Dbc_File& file)
{
    const auto& net = *file.network;
    ordered_json out;
    out["name"] = ToUtf8(net.name);
    out["comment"] = ToUtf8(net.comment);
    out["attributes"] = Attributes(net);

    ordered_json nodes = ordered_json::array();
    for (const auto& [name, node] : net.nodes) {
        nodes.push_back({{"name", ToUtf8(node->name)},
                         {"long_name", LongNameJson(*node)},
                         {"comment", ToUtf8(node->comment)},
                         {"attributes", Attributes(*node)}});
    }
    out["nodes"] = nodes;

    ordered_json messages = ordered_json::array();
    for (const auto& [id, m] : net.messages) {
        ordered_json msg;
        msg["id"] = m->id;
        msg["name"] = ToUtf8(m->name);
        msg["long_name"] = LongNameJson(*m);
        msg["length"] = m->length;
        msg["transmitters"] = NodeNames(m->transmitters);
        msg["comment"] = ToUtf8(m->comment);
        msg["attributes"] = Attributes(*m);
        msg["multiplexor"] =
            m->multiplex.multiplexor ? ordered_json(ToUtf8(m->multiplex.multiplexor->name)) : ordered_json(nullptr);
        msg["multiplex_values"] = m->multiplex.values;
        ordered_json signals = ordered_json::array();
        for (const auto& [signalName, s] : m->signals) {
            signals.push_back(SignalJson(*s));
        }
        msg["signals"] = signals;
        messages.push_back(std::move(msg));
    }
    out["messages"] = messages;

    out["attribute_definitions"] = {
        {"network", Definitions(net.networkDefinitions)},
        {"node", Definitions(net.nodeDefinitions)},
        {"message", Definitions(net.messageDefinitions)},
        {"signal", Definitions(net.signalDefinitions)},
        {"node_signal", Definitions(net.nodeSignalDefinitions)},
        {"node_message", Definitions(net.nodeMessageDefinitions)},
    };
    return out;
}

std::string Transmitters(const kq::dbclib::Dbc_Message& m)
{
    std::string transmitters;
    for (const auto& weak : m.transmitters) {
        if (const auto node = weak.lock()) {
            transmitters += (transmitters.empty() ? "" : ", ") + ToUtf8(node->name);
        }
    }
    return transmitters;
}

void Show(const LoadedDbc& loaded, bool json)
{
    const auto& net = *loaded.file.network;
    const std::size_t entries = loaded.report.diagnostics.size();
    if (json) {
        ordered_json out;
        out["name"] = ToUtf8(net.name);
        out["nodes"] = ordered_json::array();
        for (const auto& [name, node] : net.nodes) {
            out["nodes"].push_back({{"name", ToUtf8(name)}, {"long_name", LongNameJson(*node)}});
        }
        out["messages"] = ordered_json::array();
        for (const auto& [id, m] : net.messages) {
            out["messages"].push_back({{"id", id},
                                       {"name", ToUtf8(m->name)},
                                       {"long_name", LongNameJson(*m)},
                                       {"length", m->length},
                                       {"signals", m->signals.size()},
                                       {"transmitters", NodeNames(m->transmitters)}});
        }
        out["diagnostics"] = entries;
        std::cout << out.dump(2) << '\n';
        return;
    }
    std::printf("Network: %s\n", ToUtf8(net.name).c_str());
    std::printf("Nodes (%zu):", net.nodes.size());
    for (const auto& [name, node] : net.nodes) {
        const std::wstring longName = kq::dbclib::LongName(*node);
        std::printf(" %s%s", ToUtf8(name).c_str(), longName.empty() ? "" : (" (" + ToUtf8(longName) + ")").c_str());
    }
    std::printf("\nMessages (%zu):\n", net.messages.size());
    std::printf("  %-10s %-32s %6s %7s  %s\n", "ID", "Name", "Length", "Signals", "Transmitters");
    for (const auto& [id, m] : net.messages) {
        std::printf("  %-10s %-32s %6u %7zu  %s", IdText(id).c_str(), ToUtf8(m->name).c_str(), m->length,
                    m->signals.size(), Transmitters(*m).c_str());
        const std::wstring longName = kq::dbclib::LongName(*m);
        std::printf("%s\n", longName.empty() ? "" : ("  (long name " + ToUtf8(longName) + ")").c_str());
    }
    if (entries != 0) {
        std::printf("Read report: %zu %s (torvik dbc check lists them)\n", entries, entries == 1 ? "entry" : "entries");
    }
}

ordered_json DiagnosticJson(const kq::dbclib::Dbc_Diagnostic& d)
{
    return {{"line", d.line},
            {"column", d.column},
            {"keyword", ToUtf8(d.keyword)},
            {"problem", std::string(kq::dbclib::ProblemName(d.problem))},
            {"message", ToUtf8(d.message)}};
}

// One line per entry in the form compilers use, then a line with the counts. A file that could not be
// read at all fails the command, once all files are listed.
void Check(const std::vector<std::string>& paths, bool json)
{
    std::size_t warnings = 0;
    std::size_t unread = 0;
    ordered_json files = ordered_json::array();
    for (const auto& path : paths) {
        Dbc_File file;
        Dbc_ReadReport report;
        file.ReadFromFile(platform::FromUtf8(path), L"de-DE", report);
        const std::string failure = ReadFailure(path, report);
        unread += failure.empty() ? 0 : 1;
        if (json) {
            ordered_json entry;
            entry["file"] = path;
            entry["status"] = std::string(kq::dbclib::ReadStatusName(report.status));
            entry["error"] = report.error ? ordered_json(report.error.message()) : ordered_json(nullptr);
            entry["diagnostics"] = ordered_json::array();
            for (const auto& d : report.diagnostics) {
                entry["diagnostics"].push_back(DiagnosticJson(d));
            }
            files.push_back(std::move(entry));
        } else if (report.status == Dbc_ReadStatus::NotOpened) {
            std::printf("%s: error: cannot be opened%s\n", path.c_str(),
                        report.error ? (": " + report.error.message()).c_str() : "");
        }
        for (const auto& d : report.diagnostics) {
            const bool error = d.problem == kq::dbclib::Dbc_Problem::NoStatements;
            warnings += error ? 0 : 1;
            if (!json) {
                const std::string keyword = d.keyword.empty() ? "" : ToUtf8(d.keyword) + ": ";
                std::printf("%s:%zu:%zu: %s: %s%s\n", path.c_str(), d.line, d.column, error ? "error" : "warning",
                            keyword.c_str(), ToUtf8(d.message).c_str());
            }
        }
    }
    if (json) {
        ordered_json out;
        out["files"] = std::move(files);
        out["warnings"] = warnings;
        out["unread"] = unread;
        std::cout << out.dump(2) << '\n';
    } else {
        std::printf("%zu %s checked: %zu %s, %zu not read\n", paths.size(), paths.size() == 1 ? "file" : "files",
                    warnings, warnings == 1 ? "warning" : "warnings", unread);
    }
    if (unread != 0) {
        std::cout.flush();
        std::fflush(stdout);
        throw CommandError(std::to_string(unread) + " of " + std::to_string(paths.size()) +
                           " DBC files could not be read");
    }
}

}  // namespace

void AddDbcCommands(CLI::App& app)
{
    auto* dbc = app.add_subcommand("dbc", "Read DBC database files");
    dbc->require_subcommand(1);

    auto* show = dbc->add_subcommand(
        "show", "Print a readable summary: network, nodes and messages, and the count of read report entries");
    // The options write into values that the callback owns with them.
    auto showPath = std::make_shared<std::string>();
    auto showJson = std::make_shared<bool>(false);
    show->add_option("FILE", *showPath, "DBC file")->required();
    show->add_flag("--json", *showJson, "print JSON for scripts");
    show->callback([showPath, showJson] { Show(LoadDbc(*showPath), *showJson); });

    auto* dump = dbc->add_subcommand("dump", "Print the whole model as JSON");
    auto dumpPath = std::make_shared<std::string>();
    dump->add_option("FILE", *dumpPath, "DBC file")->required();
    dump->callback([dumpPath] { std::cout << DumpJson(LoadDbc(*dumpPath).file).dump(2) << '\n'; });

    auto* check = dbc->add_subcommand(
        "check", "List what reading each file skipped, as FILE:LINE:COL: warning: TEXT, then the counts; fails "
                 "when a file cannot be read at all");
    auto checkPaths = std::make_shared<std::vector<std::string>>();
    auto checkJson = std::make_shared<bool>(false);
    check->add_option("FILE", *checkPaths, "DBC files")->required();
    check->add_flag("--json", *checkJson, "print JSON for scripts");
    check->callback([checkPaths, checkJson] { Check(*checkPaths, *checkJson); });
}

}  // namespace torvik::cli
