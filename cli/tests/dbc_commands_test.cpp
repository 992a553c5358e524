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
        EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
    }
}

// A file in the test's own temporary folder, removed with it.
class DbcFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() / ("torvik_dbc_check_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& text)
    {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    std::filesystem::path dir_;
};

TEST_F(DbcFiles, CheckListsEntriesAsCompilersDo)
{
    const auto good = Write("good.dbc", "BU_: N\nBO_ 1 M: 8 N\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n");
    const auto skips = Write("skips.dbc",
                             "BU_: N\n"
                             "BO_ 1 M: 8 N\n"
                             "   SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n"
                             "\n"
                             "CM_ BO_ 2 \"no such message\";\n"
                             "  SG_ Lost : 8|8@1+ (1,0) [0|0] \"\" N\n");
    const auto run = RunTorvik({"dbc", "check", good, skips});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(run.out, skips + ":5:1: warning: CM_ BO_: message 2 is not in the file; the comment skipped\n" + skips +
                           ":6:3: warning: SG_: signal line outside a message (a line that is no signal line ended "
                           "the message before it); skipped\n"
                           "2 files checked: 2 warnings, 0 not read\n");

    const auto jsonRun = RunTorvik({"dbc", "check", "--json", skips});
    ASSERT_EQ(jsonRun.status, 0) << jsonRun.err;
    const auto out = json::parse(jsonRun.out);
    EXPECT_EQ(out["warnings"], 2);
    EXPECT_EQ(out["unread"], 0);
    ASSERT_EQ(out["files"].size(), 1u);
    EXPECT_EQ(out["files"][0]["status"], "complete");
    const auto& first = out["files"][0]["diagnostics"][0];
    EXPECT_EQ(first["line"], 5);
    EXPECT_EQ(first["column"], 1);
    EXPECT_EQ(first["keyword"], "CM_ BO_");
    EXPECT_EQ(first["problem"], "unknown_item");

    // dbc show ends with the count.
    const auto show = RunTorvik({"dbc", "show", skips});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("\nRead report: 2 entries (torvik dbc check lists them)\n"), std::string::npos) << show.out;
    EXPECT_EQ(RunTorvik({"dbc", "show", good}).out.find("Read report"), std::string::npos);
}

TEST_F(DbcFiles, FilesThatCannotBeReadFailTheRun)
{
    const auto good = Write("good.dbc", "BO_ 1 M: 8 Vector__XXX\n");
    const auto binary = Write("binary.dbc", std::string("\x7F" "ELF\x02\x01\x01\0\0\0", 10));
    const auto missing = (dir_ / "missing.dbc").string();

    const auto run = RunTorvik({"dbc", "check", good, binary, missing});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "torvik: 2 of 3 DBC files could not be read\n");
    EXPECT_NE(run.out.find(binary + ":1:1: error: no line starts a DBC statement: not a DBC file\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(missing + ": error: cannot be opened: No such file or directory\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("3 files checked: 0 warnings, 2 not read\n"), std::string::npos) << run.out;

    const auto jsonRun = RunTorvik({"dbc", "check", "--json", binary, missing});
    EXPECT_EQ(jsonRun.status, 1);
    const auto out = json::parse(jsonRun.out);
    EXPECT_EQ(out["files"][0]["status"], "no_statements");
    EXPECT_EQ(out["files"][1]["status"], "not_opened");
    EXPECT_EQ(out["files"][1]["error"], "No such file or directory");

    for (const char* command : {"show", "dump"}) {
        SCOPED_TRACE(command);
        const auto other = RunTorvik({"dbc", command, binary});
        EXPECT_EQ(other.status, 1);
        EXPECT_TRUE(other.out.empty());
        EXPECT_EQ(other.err, "torvik: '" + binary + "' holds no DBC statement: not a DBC file\n");
    }
}

// Names cut to 32 characters in their lines keep their whole form in the long-symbol attributes.
TEST(DbcCommands, LongNamesBesideTheNames)
{
    const auto shared = SharedDir();
    if (shared.empty()) {
        GTEST_SKIP() << "the DBC corpus beside the checkout is absent";
    }
    const auto file = (shared / "dbc-corpus" / "cantools" / "tests__files__dbc__long_names.dbc").string();
    const auto run = RunTorvik({"dbc", "dump", file});
    ASSERT_EQ(run.status, 0) << run.err;
    const json model = json::parse(run.out);
    const auto& message = model["messages"][1];  // identifier 1
    EXPECT_EQ(message["name"], "M1234567890123456789012345678901");
    EXPECT_EQ(message["long_name"], nullptr);
    EXPECT_EQ(model["messages"][0]["long_name"], "M123456789012345678901234567890123");
    bool signalWithLongName = false;
    for (const auto& m : model["messages"]) {
        for (const auto& s : m["signals"]) {
            signalWithLongName = signalWithLongName || !s["long_name"].is_null();
        }
    }
    EXPECT_TRUE(signalWithLongName);
    std::set<std::string> nodeLongNames;
    for (const auto& node : model["nodes"]) {
        if (!node["long_name"].is_null()) {
            nodeLongNames.insert(node["long_name"].get<std::string>());
        }
    }
    EXPECT_EQ(nodeLongNames.count("NN123456789012345678901234567890123"), 1u);

    const auto show = RunTorvik({"dbc", "show", file});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("(long name M123456789012345678901234567890123)"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("(NN123456789012345678901234567890123)"), std::string::npos) << show.out;

    const auto showJson = RunTorvik({"dbc", "show", "--json", file});
    ASSERT_EQ(showJson.status, 0) << showJson.err;
    const json summary = json::parse(showJson.out);
    EXPECT_EQ(summary["messages"][0]["long_name"], "M123456789012345678901234567890123");
    EXPECT_EQ(summary["messages"][0]["signals"], model["messages"][0]["signals"].size());
}

TEST(DbcCommands, HelpOnEveryLevel)
{
    for (const auto& args : {std::vector<std::string>{"--help"}, {"dbc", "--help"}, {"dbc", "show", "--help"},
                             {"dbc", "dump", "--help"}, {"dbc", "check", "--help"}}) {
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
