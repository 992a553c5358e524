// torvik container show: open a flash container and print what it carries.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <flashlib/flash_container.hpp>
#include <platform/text.hpp>

#include "commands.hpp"

namespace torvik::cli {

namespace {

using kq::flashlib::CFlashContainer;
using kq::flashlib::FlashFileInfo;
using kq::flashlib::fm_connectoptions_com;
using kq::flashlib::Version;
using nlohmann::ordered_json;
using platform::ToUtf8;

struct ContainerFacts {
    Version format;
    int identity_result = 0;
    FlashFileInfo identity;
    fm_connectoptions_com options;
    int hex_chars = 0;
    bool hex_sound = false;
    kq::flashlib::FlashHexProblem hex_problem;
    std::vector<int> erase_sectors;
};

ContainerFacts Load(CFlashContainer& container, const std::string& path)
{
    ContainerFacts facts;
    const int opened = container.OpenContainer(facts.format);
    if (opened == -1) {
        throw CommandError("cannot load container '" + path + "': " + container.GetLoadError());
    }
    if (opened == -2) {
        throw CommandError("container '" + path + "' has a CONTAINER_VER without major.minor (OpenContainer -2)");
    }
    if (const int parsed = container.ParseValues(); parsed != 0) {
        throw CommandError("values of container '" + path + "' do not parse (ParseValues " + std::to_string(parsed) +
                           ")");
    }
    facts.identity_result = container.GetFlashFileInfo(facts.identity);
    container.LoadOptions(facts.options);
    const int hex_size = container.GetFlashElementHex(nullptr, 0);
    facts.hex_chars = hex_size > 0 ? hex_size / 2 - 1 : 0;
    facts.hex_sound = container.CheckFlashElementHex(facts.hex_problem);
    for (int i = 0; i < 128; ++i) {
        if (container.GetEraseBlocks()[i] != 0) {
            facts.erase_sectors.push_back(i);
        }
    }
    return facts;
}

std::string Hex(int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

struct Field {
    const char* key;
    const char* label;
    int start;
    int length;
};

std::vector<Field> Fields(const FlashFileInfo& info)
{
    return {{"firmware_version", "firmware version", info.fw_start, info.fw_length},
            {"hardware_version", "hardware version", info.hw_start, info.hw_length},
            {"product_code", "product code", info.product_code_start, info.product_code_length},
            {"serial_number", "serial number", info.serial_start, info.serial_length}};
}

ordered_json OptionsJson(const fm_connectoptions_com& o)
{
    return ordered_json{{"osc_mhz", o.osc},
                        {"baudrate", o.baudrate},
                        {"selected_device", o.selecteddevice},
                        {"high_speed", o.highspeed},
                        {"clocks", o.clocks},
                        {"half_duplex", o.halfduplex},
                        {"hw_config", o.hwconfig},
                        {"hw_t1", o.hwt1},
                        {"hw_t2", o.hwt2},
                        {"max_baudrate", o.maxbaudrate},
                        {"using_interface", o.usinginterface},
                        {"interface_type", o.interfacetype},
                        {"flash_bank", o.flashbank},
                        {"protocol_options", o.protocoloptions},
                        {"post_open_delay", o.postopendelay}};
}

ordered_json ShowJson(const CFlashContainer& c, const ContainerFacts& f, const std::string& path)
{
    ordered_json out;
    out["file"] = path;
    out["container_version"] = ToUtf8(f.format.GetString());
    out["firmware_version"] = ToUtf8(c.GetFWVer().GetString());
    out["hardware_version_min"] = ToUtf8(c.GetHWVerMin().GetString());
    out["hardware_version_max"] = ToUtf8(c.GetHWVerMax().GetString());
    out["product_code"] = c.GetProductCode();
    out["product_name"] = ToUtf8(c.GetProductName());
    out["alternative_product_codes"] = c.alternative_product_codes();
    out["erase_blocks_defined"] = c.IsEraseBlockDefined();
    out["erase_sectors"] = f.erase_sectors;
    ordered_json fields = ordered_json::object();
    for (const auto& field : Fields(f.identity)) {
        fields[field.key] = {{"start", field.start}, {"length_bits", field.length}};
    }
    out["identity_fields"] = fields;
    out["identity_fields_result"] = f.identity_result;
    out["connect_options"] = OptionsJson(f.options);
    out["hex_text_chars"] = f.hex_chars;
    out["hex_problem"] = f.hex_sound ? ordered_json(nullptr)
                                     : ordered_json{{"line", f.hex_problem.line}, {"reason", f.hex_problem.reason}};
    return out;
}

void ShowText(const CFlashContainer& c, const ContainerFacts& f)
{
    std::printf("Container version:   %s\n", ToUtf8(f.format.GetString()).c_str());
    std::printf("Firmware version:    %s\n", ToUtf8(c.GetFWVer().GetString()).c_str());
    std::printf("Hardware versions:   %s to %s\n", ToUtf8(c.GetHWVerMin().GetString()).c_str(),
                ToUtf8(c.GetHWVerMax().GetString()).c_str());
    std::printf("Product:             %s %s\n", Hex(c.GetProductCode()).c_str(), ToUtf8(c.GetProductName()).c_str());
    std::string alternatives;
    for (const int code : c.alternative_product_codes()) {
        alternatives += (alternatives.empty() ? "" : ", ") + Hex(code);
    }
    std::printf("Alternative codes:   %s\n", alternatives.empty() ? "none" : alternatives.c_str());
    if (!c.IsEraseBlockDefined()) {
        std::printf("Erase sectors:       not given\n");
    } else {
        std::printf("Erase sectors:       %s\n", f.erase_sectors.empty() ? "none" : Ranges(f.erase_sectors).c_str());
    }
    std::printf("Identity fields:%s\n", f.identity_result == 0 ? "" : "     incomplete");
    for (const auto& field : Fields(f.identity)) {
        std::printf("  %-18s %s, %d bits\n", field.label, Hex(field.start).c_str(), field.length);
    }
    const auto& o = f.options;
    std::printf("Connection options:\n");
    std::printf("  oscillator         %g MHz\n", o.osc);
    std::printf("  baud rate          %d (maximum %d)\n", o.baudrate, o.maxbaudrate);
    std::printf("  device             %d\n", o.selecteddevice);
    std::printf("  hardware config    %d (T1 %d, T2 %d)\n", o.hwconfig, o.hwt1, o.hwt2);
    std::printf("  high speed %d, clocks %d, half duplex %d, interface %d/%d, flash bank %d, protocol options %d, "
                "post-open delay %d\n",
                o.highspeed, o.clocks, o.halfduplex, o.usinginterface, o.interfacetype, o.flashbank,
                o.protocoloptions, o.postopendelay);
    std::printf("HEX text:            %d characters\n", f.hex_chars);
}

}  // namespace

void AddContainerCommands(CLI::App& app)
{
    auto* container = app.add_subcommand("container", "Read flash containers (.fkq)");
    container->require_subcommand(1);

    auto* show = container->add_subcommand("show", "Print what a flash container carries");
    auto path = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    show->add_option("FILE", *path, "Flash container file")->required();
    show->add_flag("--json", *json, "Print as JSON");
    show->callback([path, json] {
        CFlashContainer c(platform::FromUtf8(*path));
        const auto facts = Load(c, *path);
        if (*json) {
            std::cout << ShowJson(c, facts, *path).dump(2) << '\n';
        } else {
            ShowText(c, facts);
        }
        // What the container carries is shown either way; a damaged firmware image fails the command.
        if (!facts.hex_sound) {
            const auto& p = facts.hex_problem;
            throw CommandError("the HEX text of container '" + *path + "' is damaged: " +
                               (p.line > 0 ? "line " + std::to_string(p.line) + ": " : std::string()) + p.reason);
        }
    });
}

}  // namespace torvik::cli
