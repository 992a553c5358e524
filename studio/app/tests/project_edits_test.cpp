#include <app/project_edits.hpp>

#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include <platform/text.hpp>
#include <project/opening.hpp>

#include "fake_shell.hpp"

namespace torvik::studio::app::test {
namespace {

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

SignalValue Raw(const wchar_t* text)
{
    return SignalValue{text, false};
}

std::vector<std::uint8_t> UserBlock(TS_Project& project)
{
    const std::int32_t length = project.BuildUserBlock();
    EXPECT_GT(length, 0);
    return {project.GetUserBlock(), project.GetUserBlock() + std::max(length, 0)};
}

// The example project (examples/simulation.tsp): EngineStatus 0x100 on CAN 1, BodySwitches 0x200 on CAN 2,
// Diagnostics 0x300 (multiplexed, cycle time 500 by override) on CAN 1 and 3, VehicleSpeedFD 0x98FEF100
// (CAN FD) on CAN 4 set up "FD 500/500 kBd"; Unused 0x400 unselected.
class ProjectEditsTest : public ::testing::Test {
protected:
    std::unique_ptr<TS_Project> OpenExample()
    {
        ProjectOpening opening(shell_, false);
        auto project = opening.Run(example_.Path("simulation.tsp"));
        EXPECT_NE(project, nullptr) << torvik::platform::ToUtf8(opening.failure());
        if (project) {
            project->GiveChannelsTheirSetups();
        }
        return project;
    }
    /// A new project holding the example's database and nothing selected.
    std::unique_ptr<TS_Project> NewWithDatabase()
    {
        auto project = ProjectEdits::NewProject(example_.folder() / "new.tsp", shell_);
        ProjectEdits(*project, shell_).AddDatabase(example_.folder() / "simulation.dbc");
        return project;
    }
    static std::vector<std::wstring> Names(const std::vector<MessageMatch>& found)
    {
        std::vector<std::wstring> names;
        for (const auto& m : found) {
            names.push_back(m.message->name);
        }
        return names;
    }

    ExampleFolder example_;
    FakeShell shell_;
};

TEST_F(ProjectEditsTest, TheExampleEditsBuildTheExampleSimulationFromScratch)
{
    const std::filesystem::path source = std::getenv("TORVIK_SOURCE_DIR");
    auto built = ProjectEdits::NewProject(example_.folder() / "built.tsp", shell_);
    ProjectEdits(*built, shell_).Apply(ReadText(source / "examples" / "simulation_edits.json"), example_.folder());
    EXPECT_TRUE(shell_.shown.empty());  // no question: the edits answer the cycle-time one themselves
    const auto expected = UserBlock(*OpenExample());
    EXPECT_EQ(UserBlock(*built), expected);

    // What the desktop program opens from the saved file is the same simulation.
    ASSERT_TRUE(built->SaveProject({}));
    ProjectOpening opening(shell_, false);
    auto reopened = opening.Run(example_.Path("built.tsp"));
    ASSERT_NE(reopened, nullptr);
    EXPECT_FALSE(reopened->IsModified());
    EXPECT_EQ(UserBlock(*reopened), expected);
}

TEST_F(ProjectEditsTest, MessagesAreFoundByNameIdentifierOrGlobWithinTheViewsFilters)
{
    auto project = OpenExample();
    ProjectEdits edits(*project, shell_);
    struct Case {
        std::vector<std::wstring> patterns;
        const wchar_t* database;
        const wchar_t* node;
        std::vector<std::wstring> want;
    };
    const Case cases[] = {
        {{L"Diagnostics"}, L"", L"", {L"Diagnostics"}},
        {{L"0x200"}, L"", L"", {L"BodySwitches"}},
        {{L"0x18FEF100x"}, L"SimDemo", L"", {L"VehicleSpeedFD"}},
        {{L"*"}, L"", L"Gateway", {L"Diagnostics", L"Unused", L"VehicleSpeedFD"}},
        {{L"?ody*", L"Engine*", L"BodySwitches"}, L"", L"", {L"BodySwitches", L"EngineStatus"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(torvik::platform::ToUtf8(c.patterns.front()));
        EXPECT_EQ(Names(edits.FindMessages(c.patterns, c.database, c.node)), c.want);
    }
}

TEST_F(ProjectEditsTest, RefusedEditsSayWhatWasWrong)
{
    using Job = std::function<void(ProjectEdits&)>;
    struct Case {
        const char* what;
        Job job;
        const char* reason;
    };
    auto signal = [](const wchar_t* message, const wchar_t* name, void (*fill)(SignalEdit&)) {
        SignalEdit edit;
        fill(edit);
        return [=](ProjectEdits& e) { e.EditSignal(e.FindMessage(message, L""), name, edit); };
    };
    auto message = [](const wchar_t* name, void (*fill)(MessageEdit&)) {
        MessageEdit edit;
        fill(edit);
        return [=](ProjectEdits& e) { e.EditMessage(e.FindMessage(name, L""), edit); };
    };
    const Case cases[] = {
        {"unknown message", [](ProjectEdits& e) { e.FindMessages({L"Engine"}, L"", L""); },
         "no message 'Engine' in the project"},
        {"unknown identifier", [](ProjectEdits& e) { e.FindMessage(L"0x7FF", L""); }, "no message '0x7FF'"},
        {"glob without match", [](ProjectEdits& e) { e.FindMessages({L"X*"}, L"", L""); }, "no message matches 'X*'"},
        {"node not in the database", [](ProjectEdits& e) { e.FindMessages({L"*"}, L"SimDemo", L"Nobody"); },
         "no node 'Nobody' in database 'SimDemo'"},
        {"unknown signal", signal(L"EngineStatus", L"Rpm", [](SignalEdit& s) { s.raw = Raw(L"1"); }),
         "message 'EngineStatus' has no signal 'Rpm'"},
        {"raw value past the range",
         signal(L"EngineStatus", L"ThrottlePos", [](SignalEdit& s) { s.raw = Raw(L"251"); }),
         "constant raw value 0xFB does not fit signal 'ThrottlePos' (8 bits, 0..100 %)"},
        {"physical value past the range",
         signal(L"EngineStatus", L"EngineSpeed",
                [](SignalEdit& s) {
                    s.end = SignalValue{L"16000.5", true};
                }),
         "end '16000.5' is no physical value of signal 'EngineSpeed' (16 bits, 0..16000 rpm)"},
        {"raw value that does not read",
         signal(L"EngineStatus", L"ThrottlePos", [](SignalEdit& s) { s.raw = Raw(L"0x"); }), "'0x' is no raw value"},
        {"middle for a two-position switch",
         signal(L"BodySwitches", L"DoorLock", [](SignalEdit& s) { s.middle = Raw(L"1"); }),
         "control 'Switch 2' has no middle position"},
        {"positions without a control",
         signal(L"EngineStatus", L"CoolantTemp", [](SignalEdit& s) { s.start = Raw(L"0"); }),
         "signal 'CoolantTemp' is driven by no control"},
        {"unknown control",
         signal(L"EngineStatus", L"CoolantTemp", [](SignalEdit& s) { s.control = L"Potentiometer 7"; }),
         "'Potentiometer 7' is no control of the device"},
        {"the multiplexor", signal(L"Diagnostics", L"Mode", [](SignalEdit& s) { s.constant = true; }),
         "signal 'Mode' is the multiplexor of 'Diagnostics'"},
        {"signal attributes are read-only",
         signal(L"EngineStatus", L"CoolantTemp",
                [](SignalEdit& s) {
                    s.attributes = {{L"GenSigStartValue", L"1"}};
                }),
         "attribute 'GenSigStartValue' is read-only in the signal editor"},
        {"an unselected message", message(L"Unused", [](MessageEdit& s) { s.payload = L"0x01"; }),
         "message 'Unused' is sent on no channel"},
        {"a payload that does not read", message(L"EngineStatus", [](MessageEdit& s) { s.payload = L"0x01 zz"; }),
         "'0x01 zz' is no payload"},
        {"cycle time zero",
         message(L"EngineStatus",
                 [](MessageEdit& s) {
                     s.attributes = {{L"GenMsgCycleTime", L"0"}};
                 }),
         "a cycle time of 0 ms cannot be sent"},
        {"cycle time past its definition",
         message(L"EngineStatus",
                 [](MessageEdit& s) {
                     s.attributes = {{L"GenMsgCycleTime", L"65536"}};
                 }),
         "65536 is outside 0..65535"},
        {"read-only message attribute",
         message(L"EngineStatus",
                 [](MessageEdit& s) {
                     s.attributes = {{L"VFrameFormat", L"StandardCAN"}};
                 }),
         "attribute 'VFrameFormat' is read-only in the message editor"},
        {"multiplexor values without multiplexor",
         message(L"EngineStatus", [](MessageEdit& s) { s.multiplexorValues = std::vector<std::uint32_t>{1}; }),
         "message 'EngineStatus' has no multiplexor"},
        {"CAN FD message on a classic channel",
         [](ProjectEdits& e) { e.SelectChannels(e.FindMessages({L"VehicleSpeedFD"}, L"", L""), 0b0001, {}); },
         "message 'VehicleSpeedFD' is a CAN FD message and cannot be sent on CAN 1 (classic CAN only)"},
        {"CAN FD message on a channel set up for classic CAN",
         [](ProjectEdits& e) {
             e.SetChannelSetup(3, kSetupHs500);
             e.SelectChannels(e.FindMessages({L"VehicleSpeedFD"}, L"", L""), 0b0100, {});
         },
         "cannot be sent on CAN 3 while it is set up for HS 500 kBd, 80 to 83.3 %"},
        {"classic setup under a CAN FD message", [](ProjectEdits& e) { e.SetChannelSetup(4, kSetupHs500); },
         "CAN 4 cannot be set up for HS 500 kBd, 80 to 83.3 % while the CAN FD message 'VehicleSpeedFD' is sent on it"},
        {"unknown setup code", [](ProjectEdits& e) { e.SetChannelSetup(3, 3); }, "setup code 3 is none of 2, 4, 5, 6"},
        {"a database twice", [this](ProjectEdits& e) { e.AddDatabase(example_.folder() / "simulation.dbc"); },
         "This project already contains database named SimDemo."},
        {"a database that cannot be read", [this](ProjectEdits& e) { e.AddDatabase(example_.folder() / "none.dbc"); },
         "The selected database cannot be loaded."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto project = OpenExample();
        ProjectEdits edits(*project, shell_);
        try {
            c.job(edits);
            ADD_FAILURE() << "not refused";
        } catch (const EditError& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
            EXPECT_EQ(dynamic_cast<const EditDeclined*>(&e), nullptr);
        }
    }
    EXPECT_TRUE(shell_.shown.empty());
}

TEST_F(ProjectEditsTest, QuestionsAnsweredNoDeclineTheEdit)
{
    auto project = NewWithDatabase();
    ProjectEdits edits(*project, shell_);
    const auto diagnostics = edits.FindMessages({L"Diagnostics"}, L"", L"");  // cycle time 0 in the database
    EXPECT_THROW(edits.SelectChannels(diagnostics, 0b0001, {}), EditDeclined);
    EXPECT_EQ(diagnostics[0].message->channelMask, 0);
    ASSERT_EQ(shell_.shown.size(), 1u);
    EXPECT_NE(shell_.shown[0].find(L"The selected message (Diagnostics) has cycle time zero."), std::wstring::npos);

    auto example = OpenExample();
    ProjectEdits exampleEdits(*example, shell_);
    EXPECT_THROW(exampleEdits.RemoveDatabase(L"SimDemo"), EditDeclined);
    EXPECT_EQ(example->GetDatabaseCount(), 1u);
    EXPECT_EQ(shell_.shown.back(),
              L"ok/cancel: Would you like to also remove all messages from database SimDemo you want to remove?");
    EXPECT_NO_THROW(ProjectEdits(*project, shell_).RemoveDatabase((example_.folder() / "simulation.dbc").wstring()));
    EXPECT_EQ(project->GetDatabaseCount(), 0u);  // nothing selected: no question

    std::ofstream(example_.folder() / "new.tsp") << "[CAN]\n";
    EXPECT_THROW(ProjectEdits::NewProject(example_.folder() / "new.tsp", shell_), EditDeclined);
}

TEST_F(ProjectEditsTest, TheCycleTimeQuestionIsAskedOncePerBatchOrAnsweredByAGivenCycleTime)
{
    auto project = NewWithDatabase();
    ProjectEdits edits(*project, shell_);
    auto& body = *edits.FindMessage(L"BodySwitches", L"").message;
    body.attributes[L"GenMsgCycleTime"] =
        std::make_shared<kq::dbclib::Dbc_AttributeSpec<int>>(body.definitions->at(L"GenMsgCycleTime"), 0);

    shell_.confirmations = {true};
    edits.SelectChannels(edits.FindMessages({L"BodySwitches", L"Diagnostics"}, L"", L""), 0b0011, {});
    ASSERT_EQ(shell_.shown.size(), 1u);
    EXPECT_NE(shell_.shown[0].find(L"Some of the selected messages have cycle time zero."), std::wstring::npos);
    EXPECT_EQ(body.GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true), 1000);
    EXPECT_EQ(body.channelMask, 0b0011);

    auto fresh = NewWithDatabase();
    ProjectEdits freshEdits(*fresh, shell_);
    const auto diagnostics = freshEdits.FindMessages({L"Diagnostics"}, L"", L"");
    EXPECT_THROW(freshEdits.SelectChannels(diagnostics, 0b0001, 0L), EditError);
    freshEdits.SelectChannels(diagnostics, 0b0101, 250L);
    EXPECT_EQ(shell_.shown.size(), 1u);
    EXPECT_EQ(diagnostics[0].message->GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true), 250);
    EXPECT_EQ(diagnostics[0].message->channelMask, 0b0101);
}

TEST_F(ProjectEditsTest, ApplyNamesTheEditThatFailed)
{
    auto project = OpenExample();
    ProjectEdits edits(*project, shell_);
    struct Case {
        const char* json;
        const char* reason;
    };
    const Case cases[] = {
        {R"({"edits": [{"op": "setup", "channel": 3, "code": 5}, {"op": "signal", "message": "Diagnostics",
            "signal": "Counter", "raw": 256}]})",
         "edit 2 (signal): constant raw value 0x100 does not fit signal 'Counter'"},
        {R"({"edits": [{"op": "select", "messages": ["Unused"], "channel": [1]}]})",
         "edit 1 (select): unknown key \"channel\""},
        {R"({"edits": [{"op": "signal", "message": "EngineStatus", "signal": "OilTemp", "raw": -1}]})",
         "edit 1 (signal): \"raw\" must be a whole number from 0"},
        {R"({"edits": [{"op": "rename"}]})", "edit 1 (rename): unknown op"},
        {R"({"edits": {}})", "an \"edits\" list"},
        {R"({"edits": [)", "no valid JSON"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        try {
            edits.Apply(c.json, example_.folder());
            ADD_FAILURE() << "not refused";
        } catch (const EditError& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace torvik::studio::app::test
