// torvik dbc show|dump, run as a user runs them.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "run_torvik.hpp"

namespace torvik::cli::testing {
namespace {

using nlohmann::json;

std::string Example() { return (SourceDir() / "examples" / "example.dbc").string(); }

TEST(DbcCommands, DumpExampleAsJson)
{
    const auto run = RunTorvik({"dbc", "dump", Example()});
    ASSERT_EQ(run.status, 0) << run.err;
    const json model = json::parse(run.out);

    EXPECT_EQ(model["name"], "ExampleNet");  // from the DBName attribute
    EXPECT_EQ(model["comment"], "Example network for the Torvik4 tool set.");
    ASSERT_EQ(model["nodes"].size(), 3u);
    EXPECT_EQ(model["nodes"][1]["name"], "Engine");
    EXPECT_EQ(model["nodes"][1]["comment"], "Engine control unit");

    const auto& messages = model["messages"];
    ASSERT_EQ(messages.size(), 4u);
    // Identifier order, extended identifiers (bit 31) last.
    EXPECT_EQ(messages[0]["id"], 256);
    EXPECT_EQ(messages[3]["id"], 2566844926u);
    EXPECT_EQ(messages[3]["transmitters"], json::array({"Gateway"}));
    EXPECT_EQ(messages[0]["attributes"]["GenMsgCycleTime"], 10);
    EXPECT_EQ(messages[0]["comment"], "Engine state, sent every 10 ms");

    const auto& engine = messages[0]["signals"];
    ASSERT_EQ(engine.size(), 3u);
    EXPECT_EQ(engine[0]["name"], "CoolantTemp");  // name order
    EXPECT_EQ(engine[0]["value_type"], "signed");
    EXPECT_EQ(engine[0]["initial_raw"], "0x3C");
    EXPECT_EQ(engine[0]["offset"], -40.0);
    EXPECT_EQ(engine[1]["name"], "EngineSpeed");
    EXPECT_EQ(engine[1]["comment"], "Crankshaft speed");
    EXPECT_EQ(engine[1]["receivers"], json::array({"Gateway", "Dashboard"}));  // file order

    const auto& diag = messages[1];
    EXPECT_EQ(diag["multiplexor"], "Mode");
    EXPECT_EQ(diag["multiplex_values"], json::array({1, 2}));
    EXPECT_EQ(diag["signals"][0]["name"], "FuelLevel");
    EXPECT_EQ(diag["signals"][0]["is_multiplexed"], true);
    EXPECT_EQ(diag["signals"][0]["multiplex_value"], 2);

    const auto& speed = messages[3]["signals"][1];
    EXPECT_EQ(speed["name"], "Speed");
    EXPECT_EQ(speed["byte_order"], "motorola");
    EXPECT_EQ(messages[3]["signals"][0]["value_descriptions"]["3"], "Drive");

    const auto& defs = model["attribute_definitions"];
    ASSERT_EQ(defs["message"].size(), 2u);
    EXPECT_EQ(defs["message"][0]["name"], "GenMsgCycleTime");
    EXPECT_EQ(defs["message"][0]["default"], 100);
    EXPECT_EQ(defs["message"][1]["kind"], "enum");
    EXPECT_EQ(defs["message"][1]["values"], json::array({"Cyclic", "NoMsgSendType", "IfActive"}));
    EXPECT_EQ(defs["network"][0]["kind"], "string");
}

TEST(DbcCommands, ShowSummary)
{
    const auto run = RunTorvik({"dbc", "show", Example()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Network: ExampleNet"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Nodes (3): Dashboard Engine Gateway"), std::string::npos) << run.out;
    // Extended identifiers carry an x after the 29-bit value.
    EXPECT_NE(run.out.find("18FEF1FEx"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("BodyStatusFD"), std::string::npos) << run.out;
}

TEST(DbcCommands, MissingFileIsOneLineAndStatusOne)
{
    for (const char* command : {"show", "dump"}) {
        SCOPED_TRACE(command);
        const auto run = RunTorvik({"dbc", command, "/nonexistent/file.dbc"});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.empty());
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_NE(run.err.find("/nonexistent/file.dbc"), std::string::npos);
    }
}

TEST(DbcCommands, HelpOnEveryLevel)
{
    for (const auto& args : {std::vector<std::string>{"--help"}, {"dbc", "--help"}, {"dbc", "show", "--help"},
                             {"dbc", "dump", "--help"}}) {
        const auto run = RunTorvik(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("Usage"), std::string::npos) << run.out;
    }
}

// The identifiers of the message statements of a file: "BO_ <id> " at the start of a line.
std::set<std::uint32_t> MessageIds(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::set<std::uint32_t> ids;
    std::string line;
    static const std::regex statement(R"(^[ \t]*BO_ (\d+) )");
    while (std::getline(in, line)) {
        std::smatch match;
        if (std::regex_search(line, match, statement)) {
            ids.insert(static_cast<std::uint32_t>(std::stoull(match[1].str())));
        }
    }
    return ids;
}

// Every real-world file dumps to JSON that holds every message the file declares, wherever its
// comments stand.
TEST(DbcCommands, DumpsEveryCorpusFile)
{
    const auto shared = SharedDir();
    if (shared.empty()) {
        GTEST_SKIP() << "the DBC corpus beside the checkout is absent";
    }
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(shared / "dbc-corpus")) {
        if (entry.path().extension() != ".dbc") {
            continue;
        }
        SCOPED_TRACE(entry.path().string());
        const auto run = RunTorvik({"dbc", "dump", entry.path().string()});
        ASSERT_EQ(run.status, 0) << run.err;
        const json model = json::parse(run.out, nullptr, false);
        ASSERT_FALSE(model.is_discarded());
        std::set<std::uint32_t> dumped;
        for (const auto& message : model["messages"]) {
            dumped.insert(message["id"].get<std::uint32_t>());
        }
        EXPECT_EQ(dumped, MessageIds(entry.path()));
        ++files;
    }
    EXPECT_GT(files, 100u);
}

}  // namespace
}  // namespace torvik::cli::testing
