// The DBC parser: statements, delimiters and buffer limits, decoding, files on disk and real-world
// databases.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <dbclib/dbc.hpp>

namespace kq::dbclib {
namespace {

namespace fs = std::filesystem;

Dbc_File Parse(std::string_view text, const std::wstring& locale = L"de-DE")
{
    Dbc_File file;
    EXPECT_EQ(file.read_from_bytes(text, locale), 0);
    return file;
}

// A literal's bytes, null characters included.
template <std::size_t N>
std::string Bytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

fs::path SourceDir()
{
    const char* dir = std::getenv("TORVIK_SOURCE_DIR");
    return dir != nullptr ? fs::path(dir) : fs::path(".");
}

fs::path DataFile(const std::string& name)
{
    return SourceDir() / "dbclib" / "tests" / "data" / name;
}

std::shared_ptr<Dbc_Message> MessageOf(const Dbc_File& file, std::uint32_t id)
{
    const auto it = file.network->messages.find(id);
    return it == file.network->messages.end() ? nullptr : it->second;
}

std::shared_ptr<Dbc_Signal> SignalOf(const Dbc_File& file, std::uint32_t id, const std::wstring& name)
{
    const auto message = MessageOf(file, id);
    if (!message) {
        return nullptr;
    }
    const auto it = message->signals.find(name);
    return it == message->signals.end() ? nullptr : it->second;
}

// Parses `line` between `head` and `tail` as it stands and with a non-ASCII word after it, which sends
// the line down the piecewise reading, and requires both to be described alike. Returns the first.
template <typename Describe>
Dbc_File ExpectWholeAndPiecewiseAgree(const std::string& head, const std::string& line, const std::string& tail,
                                      const Describe& describe)
{
    SCOPED_TRACE(line);
    auto whole = Parse(head + line + tail);
    const auto piecewise = Parse(head + line + " \xC4" + tail);
    EXPECT_EQ(describe(whole), describe(piecewise));
    return whole;
}

std::vector<std::wstring> Names(const std::vector<std::weak_ptr<Dbc_Node>>& nodes)
{
    std::vector<std::wstring> names;
    for (const auto& weak : nodes) {
        if (const auto node = weak.lock()) {
            names.push_back(node->name);
        }
    }
    return names;
}

// ---------------------------------------------------------------------------------------------------------
// Messages and signals

TEST(ParserMessages, CommentsBeforeMessagesLoseNothing)
{
    Dbc_File file;
    ASSERT_EQ(file.ReadFromFile(DataFile("comments_before_messages.dbc").wstring()), 0);
    const auto& net = *file.network;
    EXPECT_EQ(net.name, L"comments_before_messages");
    ASSERT_EQ(net.messages.size(), 3u);  // "CM_ BO_", "BA_ ... BO_" and "BA_DEF_ BO_" start none
    ASSERT_TRUE(MessageOf(file, 100));
    ASSERT_TRUE(MessageOf(file, 200));
    ASSERT_TRUE(MessageOf(file, 300));
    EXPECT_EQ(MessageOf(file, 200)->name, L"BrakeData");
    EXPECT_EQ(MessageOf(file, 300)->name, L"Indented");
    ASSERT_TRUE(SignalOf(file, 300, L"Flag"));
    EXPECT_EQ(net.signals.size(), 3u);

    EXPECT_EQ(net.comment, L"Body network");
    EXPECT_EQ(net.nodes.at(L"Gateway")->comment, L"Routes frames");
    EXPECT_EQ(MessageOf(file, 100)->comment, L"Engine state");
    EXPECT_EQ(MessageOf(file, 300)->comment, L"Indented message");
    EXPECT_EQ(SignalOf(file, 200, L"Pressure")->comment, L"Line pressure");

    bool isDefault = false;
    EXPECT_EQ(MessageOf(file, 100)->GetIntAttributeValue(L"GenMsgCycleTime", &isDefault, true), 20);
    EXPECT_FALSE(isDefault);
    EXPECT_EQ(MessageOf(file, 200)->GetIntAttributeValue(L"GenMsgCycleTime", &isDefault, true), 100);
    EXPECT_TRUE(isDefault);
    EXPECT_EQ(net.messageDefinitions->count(L"Extra"), 1u);
}

TEST(ParserMessages, HeaderTransmitterAndDuplicates)
{
    const auto file = Parse(
        "BU_: Node1 Node2\n"
        "BO_ 2364540158 Msg: 8 Node1\n"
        " SG_ A : 0|8@1+ (1,0) [0|0] \"\" Node2\n"
        "\n"
        "BO_ 2364540158 Again: 4 Node2\n"
        " SG_ A : 8|8@1+ (1,0) [0|0] \"\" Node2\n"
        " SG_ B : 16|8@1+ (1,0) [0|0] \"\" Node2\n"
        "\n"
        "BO_ 5 NoSender: 1 Unknown\n"
        "\n");
    const auto& net = *file.network;
    const auto message = MessageOf(file, 0x8CF004FEu);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->name, L"Msg");  // the first BO_ with an identifier wins
    EXPECT_EQ(message->length, 8u);
    EXPECT_EQ(Names(message->transmitters), std::vector<std::wstring>{L"Node1"});
    EXPECT_EQ(net.nodes.at(L"Node1")->txMessages.count(0x8CF004FEu), 1u);
    EXPECT_EQ(net.nodes.at(L"Node2")->txMessages.count(0x8CF004FEu), 1u);  // a record from the second BO_

    // The second BO_ adds its signals to the first message; a name already there keeps the first signal.
    ASSERT_EQ(message->signals.size(), 2u);
    EXPECT_EQ(message->signals.at(L"A")->startBit, 0u);
    EXPECT_EQ(net.signals.count(L"A"), 2u);

    EXPECT_TRUE(MessageOf(file, 5)->transmitters.empty());
}

TEST(ParserMessages, SignalLines)
{
    const auto file = Parse(
        "BU_: Node\n"
        "BO_ 100 Mux: 8 Node\n"
        " SG_ Mux M : 0|4@1+ (1,0) [0|15] \"\" Node\n"
        " SG_ S1 m2 : 8|8@1- (0.5,-10) [0|0] \"km/h\" Node\n"
        "\tSG_ Tabbed m3M : 16|8@0+ (1e-1,0x10) [-1.5|2.5E2] \"km h\" Node,Other\n"
        " SG_ S2 m2 : 24|8@1+ (1,0) [0|0] \"\" Node\n"
        "\n");
    const auto message = MessageOf(file, 100);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->signals.size(), 4u);

    EXPECT_EQ(message->multiplex.multiplexor, SignalOf(file, 100, L"Mux"));
    EXPECT_EQ(message->multiplex.values, (std::vector<std::uint32_t>{2, 3}));
    ASSERT_EQ(message->multiplex.signalsByValue.at(2).size(), 2u);
    EXPECT_EQ(message->multiplex.signalsByValue.at(2)[0]->name, L"S1");
    EXPECT_EQ(message->multiplex.signalsByValue.at(2)[1]->name, L"S2");

    const auto s1 = SignalOf(file, 100, L"S1");
    EXPECT_EQ(s1->startBit, 8u);
    EXPECT_EQ(s1->bitLength, 8u);
    EXPECT_EQ(s1->valueType, ValueType::Signed);
    EXPECT_EQ(s1->byteOrder, ByteOrder::Intel);
    EXPECT_DOUBLE_EQ(s1->factor, 0.5);
    EXPECT_DOUBLE_EQ(s1->offset, -10.0);
    EXPECT_DOUBLE_EQ(s1->minimum, 0.0);
    EXPECT_DOUBLE_EQ(s1->maximum, 0.0);
    EXPECT_EQ(s1->unit, L"km/h");
    EXPECT_TRUE(s1->isMultiplexed);
    EXPECT_EQ(s1->multiplexValue, 2u);
    EXPECT_EQ(Names(s1->receivers), std::vector<std::wstring>{L"Node"});
    EXPECT_EQ(s1->message.lock(), message);

    const auto tabbed = SignalOf(file, 100, L"Tabbed");
    ASSERT_TRUE(tabbed);
    EXPECT_EQ(tabbed->multiplexValue, 3u);  // "m3M": the digits after the "m"
    EXPECT_EQ(tabbed->byteOrder, ByteOrder::Motorola);
    EXPECT_EQ(tabbed->valueType, ValueType::Unsigned);
    EXPECT_DOUBLE_EQ(tabbed->factor, 0.1);
    EXPECT_DOUBLE_EQ(tabbed->offset, 16.0);
    EXPECT_DOUBLE_EQ(tabbed->minimum, -1.5);
    EXPECT_DOUBLE_EQ(tabbed->maximum, 250.0);
    EXPECT_EQ(tabbed->unit, L"km");                                           // a unit ends at its first blank
    EXPECT_EQ(Names(tabbed->receivers), std::vector<std::wstring>{L"Node"});  // "Other" is no node
    EXPECT_TRUE(file.network->nodes.at(L"Node")->rxSignals.empty());
}

// A plain signal line is read in one piece; a line with a character to decode is read fragment by
// fragment. Both must give the same signal: each case is parsed as it stands and with a non-ASCII
// receiver name (no node) after it, which sends the same line down the piecewise reading.
TEST(ParserMessages, SignalLinesReadWholeOrPiecewiseAgree)
{
    const std::string lines[] = {
        "A : 0|8@1+ (1,0) [0|255] \"km/h\" X",
        "A M : 0|8@0- (0.5,-40) [ -40 | 87.5 ] \" deg C \" X,Y",
        "A : 0|8@1+ (1e3,0x10) [inf|-2.5E2] \"u\" Y",
        "A : 0|8@1+ (,) [|] \"\" X",
        "A : 0|8@1+ (1.2345678901234567,+1.) [-.5|1] \"\" X",
        "A : 0|8@1+ (1,0) [0|1] \"a|b\" X Y",
        "A : 0|8@1+ (1,0) [0|1] \"\"",
        "A : 0|8@1+ (1,0 [0|1] \"\" X",
        "A : 0|8@1+ (1,0) [0|1] \"%\" X,,Y,",
        "A : 0|8@1+ (1,0) [0|1] \"unclosed X",
    };
    const auto describe = [](const Dbc_File& file) {
        std::wostringstream out;
        for (const auto& [name, signal] : file.network->signals) {
            out << name << L' ' << signal->startBit << L' ' << signal->bitLength << L' '
                << static_cast<int>(signal->valueType) << L' ' << static_cast<int>(signal->byteOrder) << L' '
                << signal->factor << L' ' << signal->offset << L' ' << signal->minimum << L' ' << signal->maximum
                << L" [" << signal->unit << L"]";
            for (const auto& receiver : Names(signal->receivers)) {
                out << L' ' << receiver;
            }
            out << L'\n';
        }
        return out.str();
    };
    const std::string head = "BU_: X Y\nBO_ 1 M: 8 X\n SG_ ";
    const std::string tail = "\n SG_ B : 8|8@1+ (2,0) [0|0] \"\" Y\n\n";
    for (const auto& line : lines) {
        const auto whole = ExpectWholeAndPiecewiseAgree(head, line, tail, describe);
        EXPECT_TRUE(SignalOf(whole, 1, L"A")) << line;
    }
}

TEST(ParserMessages, MultiplexIndicatorAfterNamesOfAnyLength)
{
    const auto file = Parse(
        "BO_ 1 M: 8 X\n"
        " SG_ S M : 0|4@1+ (1,0) [0|0] \"\" X\n"
        " SG_ A m1 : 12|4@1+ (1,0) [0|0] \"\" X\n"
        " SG_ AB m1 : 8|4@1+ (1,0) [0|0] \"\" X\n"
        " SG_ m : 16|4@1+ (1,0) [0|0] \"\" X\n"  // a name that looks like an indicator
        "\n");
    const auto message = MessageOf(file, 1);
    EXPECT_EQ(message->multiplex.multiplexor, SignalOf(file, 1, L"S"));
    EXPECT_EQ(SignalOf(file, 1, L"S")->bitLength, 4u);
    const auto a = SignalOf(file, 1, L"A");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->isMultiplexed);
    EXPECT_EQ(a->startBit, 12u);
    EXPECT_EQ(message->multiplex.signalsByValue.at(1).size(), 2u);
    const auto m = SignalOf(file, 1, L"m");
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->isMultiplexed);
    EXPECT_EQ(m->startBit, 16u);
}

// Inside a message, a line whose first text after blanks and tabs is "SG_ " is a signal line and one
// whose first text is "BO_ " starts the next message; any other line ends the message and is read as
// whatever statement it holds.
TEST(ParserMessages, SignalAndMessageLinesWhateverTheirIndentation)
{
    const std::string signals = "SG_ A : 0|8@1+ (1,0) [0|0] \"\" X\nSG_ B : 8|8@1+ (1,0) [0|0] \"\" X\n";
    for (const std::string indent : {"", " ", "  ", "   ", "    ", "\t", " \t ", "\t\t"}) {
        SCOPED_TRACE("indent '" + indent + "'");
        std::string text = "BO_ 1 First: 8 X\n";
        for (std::size_t at = 0; at < signals.size();) {
            const std::size_t end = signals.find('\n', at) + 1;
            text += indent + signals.substr(at, end - at);
            at = end;
        }
        const auto file = Parse(text + "\nCM_ SG_ 1 B \"b\";\n");
        ASSERT_TRUE(MessageOf(file, 1));
        EXPECT_EQ(MessageOf(file, 1)->signals.size(), 2u);
        EXPECT_EQ(SignalOf(file, 1, L"B")->startBit, 8u);
        EXPECT_EQ(SignalOf(file, 1, L"B")->comment, L"b");
    }

    const auto file = Parse(
        "BO_ 1 NoSignals: 8 X\n"
        "BO_ 2 AfterHeader: 8 X\n"
        "  SG_ A : 0|8@1+ (1,0) [0|0] \"\" X\n"
        "BO_ 3 AfterSignal: 8 X\n"
        "\t SG_ A : 0|8@1+ (1,0) [0|0] \"\" X\n"
        "CM_ BO_ 3 \"right after a signal\";\n"
        "  SG_ Stray : 8|8@1+ (1,0) [0|0] \"\" X\n"
        "BO_ 4 Last: 8 X");
    std::vector<std::uint32_t> ids;
    for (const auto& [id, message] : file.network->messages) {
        ids.push_back(id);
        EXPECT_EQ(message->signals.size(), id == 2 || id == 3 ? 1u : 0u) << id;
    }
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(MessageOf(file, 3)->comment, L"right after a signal");
    EXPECT_EQ(file.network->signals.size(), 2u);  // a signal line after another statement is no signal

    // Many messages in a row, each straight after the last: none is lost.
    std::string many;
    for (int i = 0; i < 1000; ++i) {
        many += "BO_ " + std::to_string(i) + " M" + std::to_string(i) + ": 8 X\n";
        if (i % 2 == 0) {
            many += " SG_ S : 0|8@1+ (1,0) [0|0] \"\" X\n";
        }
    }
    const auto lots = Parse(many);
    EXPECT_EQ(lots.network->messages.size(), 1000u);
    EXPECT_EQ(lots.network->signals.size(), 500u);
}

TEST(ParserMessages, StreamEndsInsideStatements)
{
    // Every prefix of a message must parse without harm; the end of the stream ends the line.
    const std::string text =
        "BU_: N\nBO_ 7 M: 8 N\n SG_ S m1 : 0|8@1+ (1,2) [3|4] \"u\" N\n\nCM_ SG_ 7 S \"c\";\nVAL_ 7 S 1 \"x\" ;\n";
    for (std::size_t n = 0; n <= text.size(); ++n) {
        SCOPED_TRACE(n);
        Parse(text.substr(0, n));
    }
    Dbc_File file;
    ASSERT_EQ(file.ReadFromFile(DataFile("no_final_newline.dbc").wstring()), 0);
    EXPECT_TRUE(SignalOf(file, 1, L"Tail"));
}

// ---------------------------------------------------------------------------------------------------------
// Nodes, attributes, comments and the other statements

TEST(ParserStatements, NodeLists)
{
    struct Case {
        const char* text;
        std::vector<std::wstring> nodes;
    };
    const Case cases[] = {
        {"BU_: A B C\n", {L"A", L"B", L"C"}},
        {"BU_: A B  C\n", {L"A", L"B"}},  // two blanks end the list
        {"BU_:  A\n", {}},
        {"BU_:A B\n", {}},  // no blank after the colon: no nodes
        {"BU_:\n A B\n", {}},
        {"BU_: A A\n", {L"A"}},
        {"BU_: ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\n", {L"ABCDEFGHIJKLMNOPQRSTUVWXYZ012"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto file = Parse(c.text);
        std::vector<std::wstring> names;
        for (const auto& [name, node] : file.network->nodes) {
            names.push_back(name);
            EXPECT_EQ(node->network.lock(), file.network);
        }
        EXPECT_EQ(names, c.nodes);
    }

    // A node name cut in the list is found by its whole name wherever a statement names the node.
    const std::string longName = "ECU_Parking_Assistance_Rear_Unit";  // 32 characters
    const auto file = Parse("BU_: " + longName + "\nBO_ 1 M: 8 " + longName + "\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" " +
                            longName + "\n\nBO_ 2 N: 8 X\n\nBO_TX_BU_ 2 : " + longName + ";\n");
    EXPECT_EQ(Names(MessageOf(file, 1)->transmitters), std::vector<std::wstring>{L"ECU_Parking_Assistance_Rear_U"});
    EXPECT_EQ(Names(SignalOf(file, 1, L"S")->receivers), std::vector<std::wstring>{L"ECU_Parking_Assistance_Rear_U"});
    EXPECT_EQ(Names(MessageOf(file, 2)->transmitters), std::vector<std::wstring>{L"ECU_Parking_Assistance_Rear_U"});
}

TEST(ParserStatements, AttributeDefinitionsAndDefaults)
{
    const auto file = Parse(
        "BA_DEF_ BO_  \"GenMsgCycleTime\" INT 0 65535;\n"
        "BA_DEF_ BO_  \"GenMsgCycleTime\" INT 5 6;\n"
        "BA_DEF_ BU_  \"NodeAddress\" HEX 0 255;\n"
        "BA_DEF_ SG_  \"Weight\" FLOAT -0.5 1e3;\n"
        "BA_DEF_  \"BusType\" STRING ;\n"
        "BA_DEF_ BO_  \"GenMsgSendType\" ENUM  \"Cyclic\",\"Spontan\",\"Not used\";\n"
        "BA_DEF_ BO_  \"Unclosed\" ENUM  \"a\",\"b\",\"c;\n"
        "BA_DEF_REL_ BU_BO_REL_  \"Timeout\" INT 0 100;\n"
        "BA_DEF_REL_ BU_SG_REL_  \"Gain\" FLOAT 0 1;\n"
        "BA_DEF_DEF_  \"GenMsgCycleTime\" 100;\n"
        "BA_DEF_DEF_  \"NodeAddress\" 17;\n"
        "BA_DEF_DEF_  \"Weight\" 0.25;\n"
        "BA_DEF_DEF_  \"BusType\" \"CAN FD\";\n"
        "BA_DEF_DEF_  \"GenMsgSendType\" \"Spontan\";\n"
        "BA_DEF_DEF_  \"Unclosed\" \"nope\";\n"
        "BA_DEF_DEF_REL_ \"Timeout\" 50;\n"
        "BA_DEF_ \"OneBlank\" STRING ;\n"
        "BA_DEF_DEF_  \"OneBlank\" \"kept\";\n");
    const auto& net = *file.network;

    const auto& cycle = dynamic_cast<const Dbc_IntAttributeDef&>(*net.messageDefinitions->at(L"GenMsgCycleTime"));
    EXPECT_EQ(cycle.minimum, 0);  // the first definition wins
    EXPECT_EQ(cycle.maximum, 65535);
    EXPECT_EQ(cycle.defaultValue, 100);

    const auto& address = dynamic_cast<const Dbc_HexAttributeDef&>(*net.nodeDefinitions->at(L"NodeAddress"));
    EXPECT_EQ(address.maximum, 255);
    EXPECT_EQ(address.defaultValue, 17);

    const auto& weight = dynamic_cast<const Dbc_FloatAttributeDef&>(*net.signalDefinitions->at(L"Weight"));
    EXPECT_DOUBLE_EQ(weight.minimum, -0.5);
    EXPECT_DOUBLE_EQ(weight.maximum, 1000.0);
    EXPECT_DOUBLE_EQ(weight.defaultValue, 0.25);

    // A quoted name right after the keyword, after one blank or two, is a network definition; the
    // statement after it stands.
    ASSERT_EQ(net.networkDefinitions->size(), 2u);
    const auto& busType = dynamic_cast<const Dbc_StringAttributeDef&>(*net.networkDefinitions->at(L"BusType"));
    EXPECT_EQ(busType.defaultValue, L"CAN FD");
    EXPECT_EQ(dynamic_cast<const Dbc_StringAttributeDef&>(*net.networkDefinitions->at(L"OneBlank")).defaultValue,
              L"kept");

    const auto& sendType = dynamic_cast<const Dbc_EnumAttributeDef&>(*net.messageDefinitions->at(L"GenMsgSendType"));
    EXPECT_EQ(sendType.values, (std::vector<std::wstring>{L"Cyclic", L"Spontan", L"Not used"}));
    EXPECT_EQ(sendType.defaultIndex, 1);
    const auto& unclosed = dynamic_cast<const Dbc_EnumAttributeDef&>(*net.messageDefinitions->at(L"Unclosed"));
    EXPECT_EQ(unclosed.values, (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(unclosed.defaultIndex, 0);

    EXPECT_EQ(net.nodeMessageDefinitions->count(L"Timeout"), 1u);
    EXPECT_EQ(dynamic_cast<const Dbc_IntAttributeDef&>(*net.nodeMessageDefinitions->at(L"Timeout")).defaultValue, 0);
    EXPECT_EQ(net.nodeSignalDefinitions->count(L"Gain"), 1u);
}

TEST(ParserStatements, AttributeValues)
{
    const auto file = Parse(
        "BU_: ECU Other\n"
        "BO_ 100 M: 8 ECU\n"
        " SG_ Temp : 0|8@1+ (1,0) [0|0] \"\" Other\n"
        "\n"
        "BA_DEF_  \"DBName\" STRING ;\n"
        "BA_DEF_  \"Version\" INT 0 10;\n"
        "BA_DEF_ BU_  \"NodeAddress\" HEX 0 255;\n"
        "BA_DEF_ BO_  \"GenMsgSendType\" ENUM  \"Cyclic\",\"Spontan\";\n"
        "BA_DEF_ BO_  \"GenMsgCycleTime\" INT 0 65535;\n"
        "BA_DEF_ SG_  \"Weight\" FLOAT 0 1;\n"
        "BA_DEF_ SG_  \"Label\" STRING ;\n"
        "BA_DEF_REL_ BU_BO_REL_  \"Timeout\" INT 0 100;\n"
        "BA_DEF_REL_ BU_SG_REL_  \"Gain\" INT 0 100;\n"
        "BA_ \"DBName\" \"Powertrain\";\n"
        "BA_ \"Version\" 3;\n"
        "BA_ \"NodeAddress\" BU_ ECU 42;\n"
        "BA_ \"GenMsgSendType\" BO_ 100 1;\n"
        "BA_ \"GenMsgCycleTime\" BO_ 100 20;\n"
        "BA_ \"GenMsgCycleTime\" BO_ 100 30;\n"
        "BA_ \"GenMsgCycleTime\" BO_ 999 30;\n"
        "BA_ \"Weight\" SG_ 100 Temp 0.1;\n"
        "BA_ \"Label\" SG_ 100 Temp \"outside air\";\n"
        "BA_ \"Undefined\" BO_ 100 1;\n"
        "BA_REL_ \"Timeout\" BU_BO_REL_ ECU 100 50;\n"
        "BA_REL_ \"Gain\" BU_SG_REL_ Other SG_ 100 Temp 7;\n"
        // A definition added after values were stored takes precedence where its table comes first.
        "BA_DEF_ BO_  \"Scale\" FLOAT 0 1;\n"
        "BA_ \"Scale\" BO_ 100 0.5;\n"
        "BA_DEF_  \"Scale\" STRING ;\n"
        "BA_ \"Scale\" \"wide\";\n");
    const auto& net = *file.network;
    EXPECT_EQ(net.GetStringAttributeValue(L"Scale", nullptr, true), L"wide");
    EXPECT_DOUBLE_EQ(MessageOf(file, 100)->GetFloatAttributeValue(L"Scale", nullptr, true), 0.5);
    EXPECT_EQ(net.name, L"Powertrain");  // DBName renames the network
    EXPECT_EQ(net.GetIntAttributeValue(L"Version", nullptr, true), 3);
    EXPECT_EQ(net.nodes.at(L"ECU")->GetHexAttributeValue(L"NodeAddress", nullptr, true), 42);

    const auto message = MessageOf(file, 100);
    EXPECT_EQ(message->GetEnumAttributeValue(L"GenMsgSendType", nullptr, true), 1);
    EXPECT_EQ(message->GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true), 20);  // the first value wins
    EXPECT_FALSE(message->HasAttribute(L"Undefined"));

    const auto temp = SignalOf(file, 100, L"Temp");
    EXPECT_DOUBLE_EQ(temp->GetFloatAttributeValue(L"Weight", nullptr, true), static_cast<double>(0.1f));
    EXPECT_EQ(temp->GetStringAttributeValue(L"Label", nullptr, true), L"outside air");

    EXPECT_EQ(net.nodes.at(L"ECU")->txMessages.at(100).GetIntAttributeValue(L"Timeout", nullptr, true), 50);
    // Received signals have no records, so node-signal values find no target.
    EXPECT_TRUE(net.nodes.at(L"Other")->rxSignals.empty());
}

// A signal's attribute statement on a plain line is read in one piece; with a character to decode on
// its line it is read piece by piece. Both must store the same values and leave the same text to the
// statements after it.
TEST(ParserStatements, SignalAttributesReadWholeOrPiecewiseAgree)
{
    const std::string statements[] = {
        "BA_ \"Start\" SG_ 1 A 42;",
        "BA_ \"Label\" SG_ 1 A \"quoted; value\" ;",
        "BA_ \"  Start  \" SG_ 1 B -7;",
        "BA_ \"Start\" SG_ 1 Missing 5;",
        "BA_ \"Start\" SG_ 99 A 5;",
        "BA_ \"Unknown\" SG_ 1 A 5;",
        "BA_ \"Weight\" SG_ 1 A 2.5;",
        "BA_ \"Start\" SG_  1 A 5;",
        "BA_ \"Start\"SG_ 1 A 5;",
        "BA_ \"Start\" BO_ 1 A 5;",
        "BA_ \"Start\" XSG_ 1 B 6;",
        "BA_ \"Start\" SG_ 1 A 7; BA_ \"Start\" SG_ 1 B 8;",
        "BA_ \"Start\" SG_ 1 ALongSignalNameThatRunsPastTheFortyNineCharactersOfItsBuffer 9;",
    };
    const auto describe = [](const Dbc_File& file) {
        std::wostringstream out;
        for (const auto& [name, signal] : file.network->signals) {
            out << name;
            for (const auto& [attribute, value] : signal->attributes) {
                out << L' ' << attribute << L'=';
                if (const auto* i = dynamic_cast<const Dbc_AttributeSpec<int>*>(value.get())) {
                    out << i->value;
                } else if (const auto* f = dynamic_cast<const Dbc_AttributeSpec<float>*>(value.get())) {
                    out << f->value;
                } else if (const auto* t = dynamic_cast<const Dbc_AttributeSpec<std::wstring>*>(value.get())) {
                    out << L'"' << t->value << L'"';
                }
            }
            out << L" [" << signal->comment << L"]\n";
        }
        return out.str();
    };
    const std::string head =
        "BO_ 1 M: 8 X\n"
        " SG_ A : 0|8@1+ (1,0) [0|0] \"\" X\n"
        " SG_ B : 8|8@1+ (1,0) [0|0] \"\" X\n"
        " SG_ ALongSignalNameThatRunsPastTheFortyNineCharactersOfItsBu : 16|8@1+ (1,0) [0|0] \"\" X\n"
        "\n"
        "BA_DEF_ SG_  \"Start\" INT -100 100;\n"
        "BA_DEF_ SG_  \"Weight\" FLOAT 0 10;\n"
        "BA_DEF_ SG_  \"Label\" STRING ;\n";
    const std::string tail = "\nCM_ SG_ 1 B \"after\";\n";
    for (const auto& statement : statements) {
        ExpectWholeAndPiecewiseAgree(head, statement, tail, describe);
    }
}

TEST(ParserStatements, Comments)
{
    const auto file = Parse(
        "BU_: ECU\n"
        "BO_ 100 M: 8 ECU\n"
        " SG_ Temp : 0|8@1+ (1,0) [0|0] \"\" ECU\n"
        "\n"
        "CM_ \"first\";\n"
        "CM_ \"network\r\nover two lines\";\n"
        "CM_ \"\";\n"
        "CM_ BU_ ECU \"node\";\n"
        "CM_ BO_ 100 \"old\";\n"
        "CM_ BO_ 100 \"message\";\n"
        "CM_ SG_ 100 Temp \"signal\";\n"
        "CM_ SG_ 100 Missing \"BA_ \";\n");
    EXPECT_EQ(file.network->comment, L"network\nover two lines");  // later comments replace earlier ones
    EXPECT_EQ(file.network->nodes.at(L"ECU")->comment, L"node");
    EXPECT_EQ(MessageOf(file, 100)->comment, L"message");
    EXPECT_EQ(SignalOf(file, 100, L"Temp")->comment, L"signal");
}

TEST(ParserStatements, TransmittersValueTablesAndValueTypes)
{
    const auto file = Parse(
        "BU_: A B C\n"
        "BO_ 100 M: 8 A\n"
        " SG_ Gear : 0|8@1+ (1,0) [0|0] \"\" B\n"
        " SG_ Temp : 8|32@1- (1,0) [0|0] \"\" B\n"
        " SG_ Wide : 40|8@1+ (1,0) [0|0] \"\" B\n"
        "\n"
        "BO_TX_BU_ 100 : B,C, A;\n"
        "VAL_ 100 Gear 0 \"P\" 1 \"R\" 2 \"N\" 1 \"again\" 4294967295 \"max\" -2 \"minus two\" ;\n"
        "VAL_ 100 Temp 0 \"a;b\" 1 \"c\" ;\n"
        "SIG_VALTYPE_ 100 Temp : 1;\n"
        "SIG_VALTYPE_ 100 Wide : 2;\n"
        "SIG_VALTYPE_ 100 Gear : 3;\n");
    const auto& net = *file.network;
    const auto message = MessageOf(file, 100);
    EXPECT_EQ(Names(message->transmitters), (std::vector<std::wstring>{L"B", L"C"}));  // " A" names no node
    EXPECT_EQ(net.nodes.at(L"A")->txMessages.count(100), 0u);
    EXPECT_EQ(net.nodes.at(L"B")->txMessages.count(100), 1u);
    EXPECT_EQ(net.nodes.at(L"C")->txMessages.count(100), 1u);

    const auto& gear = SignalOf(file, 100, L"Gear")->valueDescriptions;
    const std::map<std::uint32_t, std::wstring> expected = {
        {0, L"P"}, {1, L"R"}, {2, L"N"}, {0xFFFFFFFFu, L"max"}, {0xFFFFFFFEu, L"minus two"}};
    EXPECT_EQ(gear, expected);
    // The value list ends at the first ";", even inside a text; the unclosed text is dropped.
    EXPECT_TRUE(SignalOf(file, 100, L"Temp")->valueDescriptions.empty());

    EXPECT_EQ(SignalOf(file, 100, L"Temp")->valueType, ValueType::Float);
    EXPECT_EQ(SignalOf(file, 100, L"Wide")->valueType, ValueType::Double);
    EXPECT_EQ(SignalOf(file, 100, L"Gear")->valueType, ValueType::Unsigned);
}

TEST(ParserStatements, StartValues)
{
    const auto file = Parse(
        "BO_ 1 M: 8 X\n"
        " SG_ Pos : 0|8@1+ (1,0) [0|0] \"\" X\n"
        " SG_ Neg : 8|8@1- (1,0) [0|0] \"\" X\n"
        " SG_ None : 16|8@1- (1,0) [0|0] \"\" X\n"
        "\n"
        "BO_ 2 F: 8 X\n"
        " SG_ Pos : 0|8@1+ (1,0) [0|0] \"\" X\n"
        " SG_ Neg : 8|8@1- (1,0) [0|0] \"\" X\n"
        "\n"
        "BA_DEF_ SG_  \"GenSigStartValue\" INT -100 100;\n"
        "BA_DEF_DEF_  \"GenSigStartValue\" 5;\n"
        "BA_ \"GenSigStartValue\" SG_ 1 Pos 42;\n"
        "BA_ \"GenSigStartValue\" SG_ 1 Neg -1;\n");
    EXPECT_EQ(SignalOf(file, 1, L"Pos")->initialRawValue, RawNumber(42));
    EXPECT_EQ(SignalOf(file, 1, L"Neg")->initialRawValue, ~RawNumber(0));  // 512-bit two's complement
    EXPECT_EQ(SignalOf(file, 1, L"None")->initialRawValue, RawNumber(0));  // the default is not copied

    // A start value defined as FLOAT is rounded toward zero.
    const auto floats = Parse(
        "BO_ 2 F: 8 X\n"
        " SG_ Pos : 0|8@1+ (1,0) [0|0] \"\" X\n"
        " SG_ Neg : 8|8@1- (1,0) [0|0] \"\" X\n"
        "\n"
        "BA_DEF_ SG_  \"GenSigStartValue\" FLOAT -100 100;\n"
        "BA_ \"GenSigStartValue\" SG_ 2 Pos 2.9;\n"
        "BA_ \"GenSigStartValue\" SG_ 2 Neg -2.9;\n");
    EXPECT_EQ(SignalOf(floats, 2, L"Pos")->initialRawValue, RawNumber(2));
    EXPECT_EQ(SignalOf(floats, 2, L"Neg")->initialRawValue, ~RawNumber(1));  // -2
}

// Statements about signals find them wherever the signals came from: a message's signals split over two
// BO_ blocks, a signal of an earlier read on the same object, a name the message lacks but another has.
TEST(ParserStatements, SignalLookupsAcrossBlocksAndReads)
{
    Dbc_File file;
    ASSERT_EQ(file.read_from_bytes("BO_ 1 First: 8 X\n"
                                   " SG_ A : 0|8@1+ (1,0) [0|0] \"\" X\n"
                                   "\n"
                                   "BO_ 2 Other: 8 X\n"
                                   " SG_ C : 0|8@1+ (1,0) [0|0] \"\" X\n"
                                   "\n"
                                   "BO_ 1 Again: 8 X\n"
                                   " SG_ A : 8|8@1+ (1,0) [0|0] \"\" X\n"
                                   " SG_ B : 16|8@1+ (1,0) [0|0] \"\" X\n"
                                   "\n"
                                   "BA_DEF_ SG_  \"GenSigStartValue\" INT -100 100;\n"
                                   "CM_ SG_ 1 B \"b\";\n"
                                   "CM_ SG_ 1 A \"a\";\n"
                                   "CM_ SG_ 1 C \"not in message 1\";\n"
                                   "BA_ \"GenSigStartValue\" SG_ 1 B 3;\n"),
              0);
    EXPECT_EQ(SignalOf(file, 1, L"A")->comment, L"a");
    EXPECT_EQ(SignalOf(file, 1, L"A")->startBit, 0u);  // the first A keeps its place
    EXPECT_EQ(SignalOf(file, 1, L"B")->comment, L"b");
    EXPECT_EQ(SignalOf(file, 1, L"B")->initialRawValue, RawNumber(3));
    EXPECT_TRUE(SignalOf(file, 2, L"C")->comment.empty());

    // A second read reaches the signals of the first.
    ASSERT_EQ(file.read_from_bytes("BO_ 3 Third: 8 X\n"
                                   " SG_ D : 0|8@1+ (1,0) [0|0] \"\" X\n"
                                   "\n"
                                   "CM_ SG_ 2 C \"c\";\n"
                                   "BA_ \"GenSigStartValue\" SG_ 1 A -2;\n"
                                   "BA_ \"GenSigStartValue\" SG_ 3 D 4;\n"),
              0);
    EXPECT_EQ(SignalOf(file, 2, L"C")->comment, L"c");
    EXPECT_EQ(SignalOf(file, 1, L"A")->initialRawValue, ~RawNumber(1));
    EXPECT_EQ(SignalOf(file, 1, L"B")->initialRawValue, RawNumber(3));
    EXPECT_EQ(SignalOf(file, 3, L"D")->initialRawValue, RawNumber(4));

    // Run on its own, ProcessAttributes goes over every signal.
    SignalOf(file, 1, L"B")->initialRawValue = 0;
    SignalOf(file, 3, L"D")->initialRawValue = 0;
    file.ProcessAttributes();
    EXPECT_EQ(SignalOf(file, 1, L"B")->initialRawValue, RawNumber(3));
    EXPECT_EQ(SignalOf(file, 3, L"D")->initialRawValue, RawNumber(4));
}

TEST(ParserStatements, KeywordMatchingQuirks)
{
    // "SG_MUL_VAL_ " ends in "VAL_ " and runs the value-table step, which finds nothing to store;
    // keywords without their blank ("BU_:" then a line feed, "BO_TX_BU_" in NS_) start nothing.
    const auto file = Parse(
        "NS_ :\n\tBO_TX_BU_\n\tBA_DEF_DEF_REL_\n\tVAL_\n\n"
        "BU_:\n"
        "BO_ 1 M: 8 X\n"
        " SG_ Mux M : 0|8@1+ (1,0) [0|0] \"\" X\n"
        " SG_ S m1 : 8|8@1+ (1,0) [0|0] \"\" X\n"
        "\n"
        "SG_MUL_VAL_ 1 S Mux 1-1;\n"
        "BBO_ 2 NotAtLineStart: 8 X\n"
        "xBO_ 3 NotAtLineStart: 8 X\n"
        "BA_ \"X\" BO_ 4 5;\n"
        " \t BO_ 5 Indented: 8 X\n");
    EXPECT_TRUE(file.network->nodes.empty());
    EXPECT_TRUE(SignalOf(file, 1, L"S")->valueDescriptions.empty());
    std::vector<std::uint32_t> ids;
    for (const auto& [id, message] : file.network->messages) {
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 5}));
}

TEST(ParserStatements, OversizedFragmentsAreCut)
{
    const std::string longName(80, 'N');
    const std::string longText(2000, 'c');
    std::string values;
    for (int i = 0; i < 3000; ++i) {
        values += std::to_string(i) + " \"v\" ";
    }
    const auto file = Parse(
        "BO_ 1 M: 8 X\n"
        " SG_ " +
        longName + " m123456789012 : 0|8@1+ (1,0) [0|0] \"" + longText +
        "\" X\n"
        " SG_ Next : 8|8@1+ (1,0) [0|0] \"\" X\n"
        "\n"
        "CM_ BO_ 1 \"" +
        longText +
        "\";\n"
        "VAL_ 1 Next " +
        values +
        ";\n"
        "BA_DEF_ BO_  \"" +
        longName +
        "\" INT 0 1;\n"
        "CM_ SG_ 1 Next \"after\";\n");
    const auto message = MessageOf(file, 1);
    ASSERT_TRUE(message);
    const auto cut = SignalOf(file, 1, std::wstring(49, L'N'));  // 50 characters with the terminator
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->multiplexValue, 12345678u);  // the indicator holds 9 characters: "m12345678"
    EXPECT_EQ(message->multiplex.values, std::vector<std::uint32_t>{12345678u});
    EXPECT_EQ(cut->unit, std::wstring(499, L'c'));
    EXPECT_EQ(message->comment, std::wstring(499, L'c'));

    const auto next = SignalOf(file, 1, L"Next");
    ASSERT_TRUE(next);
    // The value list holds 16,999 characters; the cut pair at its end is dropped, the rest of the
    // statement consumed, and the statements after it are read as usual.
    ASSERT_FALSE(next->valueDescriptions.empty());
    EXPECT_LT(next->valueDescriptions.size(), 3000u);
    EXPECT_EQ(next->valueDescriptions.rbegin()->first + 1, next->valueDescriptions.size());
    EXPECT_EQ(next->comment, L"after");
    EXPECT_EQ(file.network->messageDefinitions->count(std::wstring(29, L'N')), 1u);
}

// ---------------------------------------------------------------------------------------------------------
// The report of a read

Dbc_ReadReport Report(std::string_view text)
{
    Dbc_File file;
    Dbc_ReadReport report;
    EXPECT_EQ(file.read_from_bytes(text, L"de-DE", report), 0);
    return report;
}

TEST(ParserReport, EachProblemAtItsStatement)
{
    // Lines 1 to 5; the case's text starts on line 6.
    const std::string head =
        "BU_: N\n"
        "BA_DEF_ BO_  \"Cycle\" INT 0 100;\n"
        "BO_ 1 M: 8 N\n"
        " SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n"
        "\n";
    const std::string sig = " : 0|8@1+ (1,0) [0|0] \"\" N\n";
    struct Case {
        std::string text;
        std::size_t line;
        std::size_t column;
        std::wstring keyword;
        Dbc_Problem problem;
        std::wstring mentions;
    };
    const Case cases[] = {
        {"CM_ BO_ 2 \"x\";\n", 6, 1, L"CM_ BO_", Dbc_Problem::UnknownItem, L"message 2"},
        {"CM_ SG_ 1 T \"x\";\n", 6, 1, L"CM_ SG_", Dbc_Problem::UnknownItem, L"\"T\""},
        {"CM_ BU_ Q \"x\";\n", 6, 1, L"CM_ BU_", Dbc_Problem::UnknownItem, L"\"Q\""},
        {"BA_ \"Undefined\" BO_ 1 3;\n", 6, 1, L"BA_", Dbc_Problem::UnknownItem, L"\"Undefined\""},
        {"BA_DEF_DEF_  \"Undefined\" 3;\n", 6, 1, L"BA_DEF_DEF_", Dbc_Problem::UnknownItem, L"\"Undefined\""},
        {"VAL_ 1 T 0 \"a\" ;\n", 6, 1, L"VAL_", Dbc_Problem::UnknownItem, L"\"T\""},
        {"BO_TX_BU_ 1 : N,Q;\n", 6, 1, L"BO_TX_BU_", Dbc_Problem::UnknownItem, L"\"Q\""},
        {"BO_ 2 M2: 8 Q\n", 6, 1, L"BO_", Dbc_Problem::UnknownItem, L"\"Q\""},
        {"BO_ 1 Again: 8 N\n", 6, 1, L"BO_", Dbc_Problem::Duplicate, L"\"M\""},
        {"BO_ 2 M2: 8 N\n SG_ T" + sig + " SG_ T" + sig, 8, 2, L"SG_", Dbc_Problem::Duplicate, L"\"T\""},
        {"BU_: P N\n", 6, 1, L"BU_", Dbc_Problem::Duplicate, L"\"N\""},
        {"BA_DEF_ BO_  \"Cycle\" INT 0 2;\n", 6, 1, L"BA_DEF_", Dbc_Problem::Duplicate, L"\"Cycle\""},
        {"BA_ \"Cycle\" BO_ 1 3;\nBA_ \"Cycle\" BO_ 1 4;\n", 7, 1, L"BA_", Dbc_Problem::Duplicate, L"message 1"},
        {"VAL_ 1 S 0 \"a\" 0 \"b\" ;\n", 6, 1, L"VAL_", Dbc_Problem::Duplicate, L"value 0"},
        {"CM_ BO_ 1 \"" + std::string(600, 'c') + "\";\n", 6, 1, L"CM_ BO_", Dbc_Problem::Cut, L"499"},
        {"BO_ 2 M2: 8 N\n SG_ " + std::string(60, 'n') + sig, 7, 2, L"SG_", Dbc_Problem::Cut, L"signal name"},
        {"CM_ \"never closed;\n", 6, 1, L"CM_", Dbc_Problem::Unclosed, L"closing quote"},
        {"BO_ 2 M2: 8 N\n SG_ T : 0|8@1+ (1,0) [0|0", 7, 2, L"SG_", Dbc_Problem::Unclosed, L"\"]\""},
        {"BO_ 2 M2: 8 N\n SG_ T : 1000000000000|8@1+ (1,0) [0|0] \"\" N\n", 7, 2, L"SG_",
         Dbc_Problem::OutOfRange, L"1000000000000"},
        {"BO_ 2 M2: 8 N\n\t SG_ T : 0|-5@1+ (1,0) [0|0] \"\" N\n", 7, 3, L"SG_", Dbc_Problem::OutOfRange, L"-5"},
        {"BO_ 2 M2: 1000000000 N\n", 6, 1, L"BO_", Dbc_Problem::OutOfRange, L"1000000000"},
        {"BO_ 2 M2: 8 N\n SG_ T : x|8@1+ (1,0) [0|0] \"\" N\n", 7, 2, L"SG_", Dbc_Problem::BadNumber,
         L"start bit"},
        {"BO_ 2 M2: 8 N\n SG_ T : 0|8@1+ (one,0) [0|0] \"\" N\n", 7, 2, L"SG_", Dbc_Problem::BadNumber,
         L"factor"},
        {"BA_ \"Cycle\" BO_ 1 fast;\n", 6, 1, L"BA_", Dbc_Problem::BadNumber, L"\"Cycle\""},
        {"BO_ 2 M2: 1 N\n SG_ T : 4|8@1+ (1,0) [0|0] \"\" N\n", 7, 2, L"SG_", Dbc_Problem::SignalOutside,
         L"1 bytes"},
        {"BO_ 2 M2: 2 N\n SG_ T : 8|16@0+ (1,0) [0|0] \"\" N\n", 7, 2, L"SG_", Dbc_Problem::SignalOutside,
         L"Motorola"},
        {"not a statement\n", 6, 1, L"", Dbc_Problem::StrayLine, L"not a statement"},
        {"  SG_ Lost" + sig, 6, 3, L"SG_", Dbc_Problem::StrayLine, L"outside a message"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto report = Report(head + c.text);
        EXPECT_EQ(report.status, Dbc_ReadStatus::Complete);
        // The first entry is the case's (a start bit out of range also leaves its signal outside the message).
        ASSERT_FALSE(report.diagnostics.empty());
        const Dbc_Diagnostic& entry = report.diagnostics[0];
        EXPECT_EQ(entry.line, c.line);
        EXPECT_EQ(entry.column, c.column);
        EXPECT_EQ(entry.keyword, c.keyword);
        EXPECT_EQ(entry.problem, c.problem);
        EXPECT_NE(entry.message.find(c.mentions), std::wstring::npos);
    }
}

TEST(ParserReport, CleanFilesStrangeFilesAndMissingFiles)
{
    // Nothing to report: statements the parser passes over (VERSION, NS_, BS_, value tables over several
    // lines, SG_MUL_VAL_), a comment over several lines, signals that just fit, Vector__XXX.
    const auto clean = Report(
        "VERSION \"\"\n\nNS_ :\n\tNS_DESC_\n\tCM_\n\nBS_:\n\nBU_: N\n"
        "VAL_TABLE_ Gear 0 \"P\"\n  1 \"R\" ;\n\n"
        "BO_ 1 M: 8 Vector__XXX\n"
        " SG_ Mux M : 0|8@1+ (1,0) [0|0] \"\" N\n"
        " SG_ Hi m1 : 56|8@1+ (1,0) [0|0] \"\" N\n"
        " SG_ Big m2 : 7|64@0+ (1,0) [0|0] \"\" Vector__XXX\n"
        "\n"
        "CM_ BO_ 1 \"first line\nsecond line\";\n"
        "SG_MUL_VAL_ 1 Hi Mux 1-1;\n");
    EXPECT_EQ(clean.status, Dbc_ReadStatus::Complete);
    EXPECT_TRUE(clean.diagnostics.empty());

    // Columns count characters, not bytes.
    const auto wide = Report("BU_: N\n\xC3\xA4\xC3\xB6 x\n");
    ASSERT_EQ(wide.diagnostics.size(), 1u);
    EXPECT_EQ(wide.diagnostics[0].line, 2u);
    EXPECT_EQ(wide.diagnostics[0].column, 1u);

    for (const std::string_view text : {std::string_view(""), std::string_view("\x7F" "ELF\x02\x01\x01\0\0", 9),
                                        std::string_view("just some words\nover two lines\n")}) {
        const auto report = Report(text);
        EXPECT_EQ(report.status, Dbc_ReadStatus::NoStatements);
        ASSERT_EQ(report.diagnostics.size(), 1u);
        EXPECT_EQ(report.diagnostics[0].problem, Dbc_Problem::NoStatements);
    }

    Dbc_File file;
    Dbc_ReadReport report;
    report.diagnostics.resize(3);  // emptied by the read
    EXPECT_EQ(file.ReadFromFile(L"/nonexistent/file.dbc", L"de-DE", report), -1);
    EXPECT_EQ(report.status, Dbc_ReadStatus::NotOpened);
    EXPECT_EQ(report.error, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(report.diagnostics.empty());
}

// ---------------------------------------------------------------------------------------------------------
// Decoding, files and the conversions

TEST(ParserText, Windows1252AndUtf8GiveTheSameText)
{
    for (const char* name : {"windows1252_crlf.dbc", "utf8_lf.dbc"}) {
        SCOPED_TRACE(name);
        Dbc_File file;
        ASSERT_EQ(file.ReadFromFile(DataFile(name).wstring()), 0);
        const auto temp = SignalOf(file, 16, L"Temp");
        ASSERT_TRUE(temp);
        EXPECT_EQ(temp->unit, L"\u00B0C");
        EXPECT_EQ(temp->comment, L"Gr\u00F6\u00DFe in \u20AC\nzweite Zeile");  // CR LF read as LF
        EXPECT_EQ(temp->valueDescriptions.at(0), L"k\u00FChl");
        EXPECT_EQ(temp->valueDescriptions.at(1), L"hei\u00DF");
        EXPECT_EQ(Names(temp->receivers), std::vector<std::wstring>{L"ECU"});
    }
}

TEST(ParserText, Decoding)
{
    struct Case {
        std::string bytes;
        std::wstring locale;
        std::wstring comment;
    };
    const Case cases[] = {
        {"CM_ \"\xE4\x80\";", L"de-DE", L"\u00E4\u20AC"},
        {"CM_ \"\xE4\x80\";", L"xx-YY", L"\u00E4\u20AC"},  // unknown locales read Windows-1252
        {"CM_ \"\x8A\xB9\";", L"cs-CZ", L"\u0160\u0105"},  // Central European: Windows-1250
        {"CM_ \"\xC3\xA4\";", L"cs-CZ", L"\u00E4"},        // valid UTF-8 wins
        {"\xEF\xBB\xBF"
         "CM_ \"plain\";",
         L"de-DE", L"plain"},                                        // a byte-order mark is skipped
        {"CM_ \"\xC3\xA4\xC3\";", L"de-DE", L"\u00C3\u00A4\u00C3"},  // broken UTF-8 is Windows-1252
        {"CM_ \"\xED\xA0\x80\";", L"de-DE", L"\u00ED\u00A0\u20AC"},  // no surrogates in UTF-8
        {"CM_ \"a\rb\r\r\nc\";", L"de-DE", L"ab\nc"},                // read_char passes over single CRs
        {std::string("CM_ \"a\0b\";", 10), L"de-DE", L"a"},
        {"CM_ \"a\rb\";\r", L"de-DE", L"a\nb"},  // no line feed anywhere: carriage returns end the lines
        {Bytes("\xFF\xFE" "C\0M\0_\0 \0\"\0\xE4\0\xAC\x20=\xD8\x00\xDE\"\0;\0"), L"de-DE",
         L"\u00E4\u20AC\U0001F600"},  // UTF-16 with a byte-order mark, little-endian
        {Bytes("\xFE\xFF" "\0C\0M\0_\0 \0\"\0\xE4\xD8\x00\0\""), L"de-DE",
         L"\u00E4\uFFFD"},  // big-endian; an unpaired surrogate
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(Parse(c.bytes, c.locale).network->comment, c.comment);
    }
}

TEST(ParserText, ReadFromFileNamesTheNetworkAndFailsCleanly)
{
    const fs::path dir = fs::temp_directory_path() / ("dbclib_parser_test_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const fs::path file = dir / "My.Bus.v2.dbc";
    fs::copy_file(DataFile("utf8_lf.dbc"), file, fs::copy_options::overwrite_existing);

    Dbc_File db;
    ASSERT_EQ(db.ReadFromFile(file.wstring()), 0);
    EXPECT_EQ(db.network->name, L"My.Bus.v2");
    // A second read adds to what is there: maps keep their first entries, the signal list grows.
    ASSERT_EQ(db.ReadFromFile(file.wstring(), L"de-DE"), 0);
    EXPECT_EQ(db.network->messages.at(16)->signals.size(), 1u);
    EXPECT_EQ(db.network->signals.size(), 2u);

    Dbc_File untouched;
    untouched.network->name = L"keep";
    EXPECT_EQ(untouched.ReadFromFile((dir / "missing.dbc").wstring()), -1);
    EXPECT_EQ(untouched.ReadFromFile(dir.wstring()), -1);
    EXPECT_EQ(untouched.network->name, L"keep");
    EXPECT_TRUE(untouched.network->messages.empty());
    fs::remove_all(dir);

    struct Case {
        std::wstring path;
        std::wstring name;
    };
    const Case cases[] = {{L"C:\\dbc\\Body.dbc", L"Body"}, {L"/a/b/Body", L"Body"}, {L"x.y/Body", L"Body"},
                          {L"Body.tar.dbc", L"Body.tar"},  {L"/a/.dbc", L""},       {L"a\\b/c.d", L"c"}};
    for (const auto& c : cases) {
        EXPECT_EQ(detail::network_name_from_path(c.path), c.name);
    }
}

TEST(ParserText, NumberConversions)
{
    struct IntCase {
        const wchar_t* text;
        bool ok;
        std::int32_t value;
    };
    const IntCase ints[] = {
        {L" 2364540158", true, static_cast<std::int32_t>(0x8CF004FEu)},
        {L"\t-5x", true, -5},
        {L"+7", true, 7},
        {L"4294967296", true, 0},
        {L"-2147483648", true, std::numeric_limits<std::int32_t>::min()},
        {L"x1", false, 99},
        {L"-", false, 99},
        {L"", false, 99},
    };
    for (const auto& c : ints) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.text)));
        std::int32_t value = 99;
        EXPECT_EQ(WideScanner(c.text).int32(value), c.ok);
        EXPECT_EQ(value, c.value);
    }

    struct RealCase {
        const wchar_t* text;
        bool ok;
        double value;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const RealCase reals[] = {
        {L" 0.5", true, 0.5},  {L"-1.25e2)", true, -125.0}, {L"+.5", true, 0.5},    {L"1.", true, 1.0},
        {L"1e", true, 1.0},    {L"0x10", true, 16.0},       {L"0x", true, 0.0},     {L"-inf", true, -inf},
        {L"1e999", true, inf}, {L"-1e999", true, -inf},     {L"1e-999", true, 0.0}, {L"1,5", true, 1.0},
        {L".", false, 7.0},    {L"abc", false, 7.0},        {L"", false, 7.0},
    };
    for (const auto& c : reals) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.text)));
        double value = 7.0;
        EXPECT_EQ(WideScanner(c.text).real(value), c.ok);
        EXPECT_EQ(value, c.value);
    }
    float single = 0.0f;
    EXPECT_TRUE(WideScanner(L"0.1").real(single));
    EXPECT_EQ(single, 0.1f);
    EXPECT_TRUE(WideScanner(L"1e39").real(single));
    EXPECT_TRUE(std::isinf(single));

    // "%ls" reads up to white space and keeps what fits; a failed conversion stops the later ones.
    Fragment<4> word{};
    std::int32_t number = 0;
    WideScanner scan(L"  abcdef 12");
    EXPECT_TRUE(scan.word(word));
    EXPECT_EQ(word.view(), L"abc");
    EXPECT_TRUE(scan.int32(number));
    EXPECT_EQ(number, 12);
    WideScanner failed(L"x 12");
    EXPECT_FALSE(failed.int32(number));
    EXPECT_FALSE(failed.word(word));
}

TEST(ParserText, KeywordAutomatonHoldsTheMatcherCounts)
{
    // Step the automaton and one count per keyword side by side over text made of keyword pieces and
    // stray characters; completions and the "partly read" flag must agree at every character.
    const auto& automaton = detail::KeywordAutomaton::instance();
    const auto& keywords = detail::KeywordAutomaton::kKeywords;
    const std::wstring stray = L"BCSVO_AMx \n:\"\u00E4\r";
    std::mt19937 random(20261209);
    std::size_t counts[std::size(keywords)] = {};
    std::uint16_t state = 0;
    std::wstring text;
    for (int i = 0; i < 20000; ++i) {
        const auto& keyword = keywords[random() % std::size(keywords)];
        text += random() % 2 == 0 ? std::wstring(keyword) : std::wstring(keyword.substr(0, random() % keyword.size()));
        text += stray[random() % stray.size()];
    }
    std::size_t completions = 0;
    for (const wchar_t c : text) {
        state = automaton.next(state, c);
        unsigned completed = 0;
        bool partial = false;
        for (std::size_t k = 0; k < std::size(keywords); ++k) {
            if (counts[k] < keywords[k].size() && c == keywords[k][counts[k]]) {
                ++counts[k];
            } else {
                counts[k] = c == keywords[k][0] ? 1 : 0;
            }
            if (counts[k] == keywords[k].size()) {
                completed |= 1u << k;
            } else if (counts[k] != 0) {
                partial = true;
            }
        }
        ASSERT_EQ(automaton.completed(state), completed);
        ASSERT_EQ(automaton.partial(state), partial);
        completions += completed != 0 ? 1 : 0;
    }
    EXPECT_GT(completions, 1000u);
}

// ---------------------------------------------------------------------------------------------------------
// Real-world databases

fs::path CorpusDir()
{
    return SourceDir() / ".." / "shared" / "dbc-corpus";
}

// What a file holds by its lines, counted apart from the parser: the identifiers of its message lines
// and the signal lines inside message blocks (a line whose first text after blanks and tabs is "BO_ ",
// then the lines whose first text is "SG_ ", up to the first other line).
struct LineCounts {
    std::set<std::uint32_t> ids;
    std::size_t signalLines = 0;
};

LineCounts CountLines(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    LineCounts counts;
    bool inMessage = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t first = std::min(line.find_first_not_of(" \t"), line.size());
        const std::string_view text = std::string_view(line).substr(first);
        if (text.starts_with("BO_ ")) {
            counts.ids.insert(static_cast<std::uint32_t>(std::stoull(std::string(text.substr(4)))));
            inMessage = true;
        } else if (inMessage && text.starts_with("SG_ ")) {
            ++counts.signalLines;
        } else {
            inMessage = false;
        }
    }
    return counts;
}

// Every real-world file reads, keeps every signal and message it holds, and reads the same when a
// report is asked for.
TEST(ParserCorpus, EveryFileKeepsEverySignalAndMessage)
{
    if (!fs::is_directory(CorpusDir())) {
        GTEST_SKIP() << "no DBC corpus at " << CorpusDir();
    }
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(CorpusDir())) {
        auto ext = entry.path().extension().string();
        for (auto& ch : ext) {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        if (!entry.is_regular_file() || ext != ".dbc") {
            continue;
        }
        SCOPED_TRACE(entry.path().string());
        Dbc_File file;
        ASSERT_EQ(file.ReadFromFile(entry.path().wstring()), 0);
        const LineCounts counts = CountLines(entry.path());
        EXPECT_EQ(file.network->signals.size(), counts.signalLines);
        std::set<std::uint32_t> ids;
        for (const auto& [id, message] : file.network->messages) {
            ids.insert(id);
        }
        EXPECT_EQ(ids, counts.ids);

        Dbc_File reported;
        Dbc_ReadReport report;
        ASSERT_EQ(reported.ReadFromFile(entry.path().wstring(), L"de-DE", report), 0);
        EXPECT_EQ(report.status, Dbc_ReadStatus::Complete);
        EXPECT_EQ(reported.network->signals.size(), file.network->signals.size());
        EXPECT_EQ(reported.network->messages.size(), file.network->messages.size());
        EXPECT_EQ(reported.network->name, file.network->name);
        ++files;
    }
    EXPECT_GT(files, 100u);
}

TEST(ParserCorpus, KnownContents)
{
    if (!fs::is_directory(CorpusDir())) {
        GTEST_SKIP() << "no DBC corpus at " << CorpusDir();
    }
    {
        Dbc_File file;
        ASSERT_EQ(file.ReadFromFile((CorpusDir() / "cantools" / "tests__files__dbc__motohawk.dbc").wstring()), 0);
        const auto message = MessageOf(file, 496);
        ASSERT_TRUE(message);
        EXPECT_EQ(message->name, L"ExampleMessage");
        EXPECT_EQ(Names(message->transmitters), std::vector<std::wstring>{L"PCM1"});
        EXPECT_EQ(message->comment, L"Example message used as template in MotoHawk models.");
        EXPECT_EQ(message->signals.size(), 3u);
        const auto temp = SignalOf(file, 496, L"Temperature");
        EXPECT_EQ(temp->startBit, 0u);
        EXPECT_EQ(temp->bitLength, 12u);
        EXPECT_EQ(temp->byteOrder, ByteOrder::Motorola);
        EXPECT_EQ(temp->valueType, ValueType::Signed);
        EXPECT_DOUBLE_EQ(temp->factor, 0.01);
        EXPECT_DOUBLE_EQ(temp->offset, 250.0);
        EXPECT_DOUBLE_EQ(temp->minimum, 229.52);
        EXPECT_DOUBLE_EQ(temp->maximum, 270.47);
        EXPECT_EQ(temp->unit, L"degK");
        EXPECT_EQ(Names(temp->receivers), (std::vector<std::wstring>{L"PCM1", L"FOO"}));
        EXPECT_EQ(SignalOf(file, 496, L"Enable")->valueDescriptions,
                  (std::map<std::uint32_t, std::wstring>{{0, L"Disabled"}, {1, L"Enabled"}}));
        bool isDefault = false;
        EXPECT_EQ(message->GetIntAttributeValue(L"GenMsgCycleTime", &isDefault, true), 0);
        EXPECT_TRUE(isDefault);
    }
    {
        Dbc_File file;
        ASSERT_EQ(file.ReadFromFile((CorpusDir() / "cantools" / "tests__files__dbc__multiplex_2.dbc").wstring()), 0);
        EXPECT_TRUE(file.network->nodes.empty());  // "BU_:" with nothing after it
        const auto extended = MessageOf(file, 0x8C00FEFEu);
        ASSERT_TRUE(extended);
        EXPECT_EQ(extended->name, L"Extended");
        EXPECT_EQ(extended->multiplex.multiplexor, SignalOf(file, 0x8C00FEFEu, L"S0"));  // the last "M" line
        EXPECT_EQ(extended->multiplex.values, (std::vector<std::uint32_t>{0, 1, 2}));
        std::vector<std::wstring> underZero;
        for (const auto& signal : extended->multiplex.signalsByValue.at(0)) {
            underZero.push_back(signal->name);
        }
        EXPECT_EQ(underZero, (std::vector<std::wstring>{L"S3", L"S2", L"S1"}));
        EXPECT_EQ(SignalOf(file, 0x8C00FEFEu, L"S7")->multiplexValue, 1u);
    }
    {
        // Network comments stand between the messages.
        Dbc_File file;
        ASSERT_EQ(file.ReadFromFile((CorpusDir() / "opendbc" / "toyota_radar_dsu_tssp.dbc").wstring()), 0);
        EXPECT_EQ(file.network->messages.size(), 19u);
        EXPECT_EQ(file.network->signals.size(), 114u);
        EXPECT_EQ(file.network->comment, L"Right target ahead");
        const auto latDist = SignalOf(file, 1664, L"LAT_DIST");
        ASSERT_TRUE(latDist);
        EXPECT_DOUBLE_EQ(latDist->factor, 0.015);
        EXPECT_DOUBLE_EQ(latDist->minimum, -20.0);
        EXPECT_EQ(MessageOf(file, 1666)->name, L"CLUSTER_L");
    }
    {
        Dbc_File file;
        ASSERT_EQ(file.ReadFromFile((CorpusDir() / "opendbc" / "vw_mqb.dbc").wstring()), 0);
        EXPECT_EQ(MessageOf(file, 294)->name, L"HCA_01");
        EXPECT_EQ(SignalOf(file, 294, L"HCA_01_Sendestatus")->comment,
                  L"Gibt den Sendestatus der HCA_01 an (notwendig f\u00FCr IL-Unterst\u00FCtzung)");
    }
}

}  // namespace
}  // namespace kq::dbclib
