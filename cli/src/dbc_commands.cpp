// torvik dbc show|dump: read a DBC file and print its model.
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

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
using kq::dbclib::RawNumber;
using platform::ToUtf8;
using nlohmann::ordered_json;

Dbc_File LoadDbc(const std::string& path)
{
    Dbc_File file;
    if (file.ReadFromFile(platform::FromUtf8(path)) != 0) {
        const int reason = errno;
        throw CommandError("cannot open DBC file '" + path + "': " + std::generic_category().message(reason));
    }
    return file;
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
                         {"comment", ToUtf8(node->comment)},
                         {"attributes", Attributes(*node)}});
    }
    out["nodes"] = nodes;

    ordered_json messages = ordered_json::array();
    for (const auto& [id, m] : net.messages) {
        ordered_json msg;
        msg["id"] = m->id;
        msg["name"] = ToUtf8(m->name);
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

void Show(const Dbc_File& file)
{
    const auto& net = *file.network;
    std::printf("Network: %s\n", ToUtf8(net.name).c_str());
    std::printf("Nodes (%zu):", net.nodes.size());
    for (const auto& [name, node] : net.nodes) {
        std::printf(" %s", ToUtf8(name).c_str());
    }
    std::printf("\nMessages (%zu):\n", net.messages.size());
    std::printf("  %-10s %-32s %6s %7s  %s\n", "ID", "Name", "Length", "Signals", "Transmitters");
    for (const auto& [id, m] : net.messages) {
        std::string transmitters;
        for (const auto& weak : m->transmitters) {
            if (const auto node = weak.lock()) {
                transmitters += (transmitters.empty() ? "" : ", ") + ToUtf8(node->name);
            }
        }
        std::printf("  %-10s %-32s %6u %7zu  %s\n", IdText(id).c_str(), ToUtf8(m->name).c_str(), m->length,
                    m->signals.size(), transmitters.c_str());
    }
}

}  // namespace

void AddDbcCommands(CLI::App& app)
{
    auto* dbc = app.add_subcommand("dbc", "Read DBC database files");
    dbc->require_subcommand(1);

    auto* show = dbc->add_subcommand("show", "Print a readable summary: network, nodes and messages");
    // The option writes into a string that the callback owns with it.
    auto showPath = std::make_shared<std::string>();
    show->add_option("FILE", *showPath, "DBC file")->required();
    show->callback([showPath] { Show(LoadDbc(*showPath)); });

    auto* dump = dbc->add_subcommand("dump", "Print the whole model as JSON");
    auto dumpPath = std::make_shared<std::string>();
    dump->add_option("FILE", *dumpPath, "DBC file")->required();
    dump->callback([dumpPath] { std::cout << DumpJson(LoadDbc(*dumpPath)).dump(2) << '\n'; });
}

}  // namespace torvik::cli
