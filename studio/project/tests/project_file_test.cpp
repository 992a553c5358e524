#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include <platform/files.hpp>

#include <platform/text.hpp>
#include <project/ts_project.hpp>

#include <project/opening.hpp>

#include "model_builder.hpp"
#include "scripted_prompt.hpp"

namespace {

namespace fs = std::filesystem;
using namespace torvik::studio;
using kq::dbclib::Dbc_AttributeSpec;
using torvik::platform::FromUtf8;
using torvik::studio::test::ModelBuilder;
using torvik::studio::test::ScriptedPrompt;

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

fs::path DataDir()
{
    const char* root = std::getenv("TORVIK_SOURCE_DIR");
    return fs::path(root != nullptr ? root : ".") / "studio" / "project" / "tests" / "data";
}

std::wstring W(const fs::path& path)
{
    return FromUtf8(path.string());
}

class ProjectFile : public testing::Test {
protected:
    ProjectFile()
    {
        std::string pattern = (fs::temp_directory_path() / "project_file_test.XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
    }
    ~ProjectFile() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Copies a fixture DBC file to `to` below the test folder.
    fs::path Dbc(const char* fixture, const fs::path& to)
    {
        const fs::path target = dir_ / to;
        fs::create_directories(target.parent_path());
        fs::copy_file(DataDir() / fixture, target, fs::copy_options::overwrite_existing);
        return target;
    }

    std::unique_ptr<TS_Project> Open(const fs::path& tsp, ScriptedPrompt& prompt, bool atStartup = false)
    {
        ProjectOpening opening(prompt, atStartup);
        return opening.Run(W(tsp));
    }

    fs::path dir_;
};

TEST_F(ProjectFile, SaveWritesTheSettingsOfSelectedMessagesInTableOrder)
{
    ModelBuilder b(L"Body");
    b.database().path = FromUtf8((dir_ / "dbc" / "Body.dbc").string());
    auto& off = b.AddMessage(0x10, L"Off", 8);
    auto& offSignal = b.AddSignal(off, {L"S", 0, 8});
    offSignal.signalType = kDynamicSignal;  // unselected: nothing of it is saved
    offSignal.dynamicControl = 3;

    auto& lights = b.AddMessage(0x1A0, L"Lights", 8);
    lights.channelMask = 1;
    lights.attributeOverrides[L"GenMsgCycleTime"] =
        std::make_shared<Dbc_AttributeSpec<int>>(lights.definitions->at(L"GenMsgCycleTime"), 1000);
    auto& dimmer = b.AddSignal(lights, {L"Dimmer", 0, 8, 0, 100});
    dimmer.signalType = kDynamicSignal;
    dimmer.dynamicControl = 5;
    b.AddSignal(lights, {L"Mode", 8, 4}).initialRawValue = 3;
    lights.signals.at(L"Mode")->rawValue = 3;  // at its start value: not saved
    b.AddSignal(lights, {L"Level", 16, 8}).rawValue = 0x2A;

    auto& ext = b.AddMessage(0x98FEF100, L"Ext", 8);
    ext.channelMask = 12;
    ext.multiplex.values = {3, 1};
    const auto& defs = *ext.definitions;
    ext.attributeOverrides[L"GenMsgChkConstant"] = std::make_shared<Dbc_AttributeSpec<int>>(defs.at(L"GenMsgChkConstant"), 0x1A5);
    ext.attributeOverrides[L"GenMsgFactor"] = std::make_shared<Dbc_AttributeSpec<float>>(defs.at(L"GenMsgFactor"), 1.5f);
    ext.attributeOverrides[L"GenMsgPDUConstants"] =
        std::make_shared<Dbc_AttributeSpec<std::wstring>>(defs.at(L"GenMsgPDUConstants"), L"01,02");
    auto& sw = b.AddSignal(ext, {L"Sw", 0, 8});
    sw.signalType = kDynamicSignal;
    sw.dynamicControl = 13;  // three positions: the middle value is kept
    sw.startValue = 1;
    sw.middleValue = 0xB;
    sw.endValue = 0xFF;

    TS_Project project;
    project.SetChannelSetup(3, -1, 6);
    project.SetChannelSetup(4, 2, 6);
    project.AppendDatabase(b.Take());
    const fs::path path = dir_ / "Truck.tsp";
    ASSERT_TRUE(project.SaveProject(FromUtf8(path.string())));
    EXPECT_FALSE(project.IsModified());
    EXPECT_EQ(project.GetProjectName(), L"Truck");

    const std::string want = "[CAN]\r\nSetup3=6\r\nSetup4=2\r\n"
                             "[Network]\r\nDbc_Names=Body\r\n"
                             "[Body]\r\nAbsolute_Path=" + (dir_ / "dbc" / "Body.dbc").string() +
                             "\r\nRelative_Path=.\\dbc\\Body.dbc\r\nSelected_messages=1A0 1,98FEF100 12\r\n"
                             "[Body\\Lights]\r\nGenMsgCycleTime=1000\r\n"
                             "[Body\\Lights\\Dimmer]\r\n$$SIGNAL_TYPE$$=1\r\n$$RAW_VALUE$$=0\r\n$$DYNAMIC_CONTROL$$=5\r\n"
                             "$$DYNAMIC_VALUE_START$$=0\r\n$$DYNAMIC_VALUE_END$$=64\r\n$$DYNAMIC_VALUE_MIDDLE$$=0\r\n"
                             "[Body\\Lights\\Level]\r\n$$SIGNAL_TYPE$$=0\r\n$$RAW_VALUE$$=2A\r\n"
                             "[Body\\Ext]\r\n$$MULTIPLEXOR_VALUES$$=3 1\r\nGenMsgChkConstant=1a5\r\n"
                             "GenMsgFactor=1.500000\r\nGenMsgPDUConstants=01,02\r\n"
                             "[Body\\Ext\\Sw]\r\n$$SIGNAL_TYPE$$=1\r\n$$RAW_VALUE$$=0\r\n$$DYNAMIC_CONTROL$$=13\r\n"
                             "$$DYNAMIC_VALUE_START$$=1\r\n$$DYNAMIC_VALUE_END$$=FF\r\n$$DYNAMIC_VALUE_MIDDLE$$=B\r\n";
    EXPECT_EQ(ReadBytes(path), want);

    // A save that fails keeps the previous file whole and the project modified.
    project.SetModified(true);
    project.GetDatabase(0)->network->messages.at(0x1A0)->signals.at(L"Level")->signalType = 7;
    EXPECT_FALSE(project.SaveProject(L""));
    EXPECT_TRUE(project.IsModified());
    EXPECT_EQ(ReadBytes(path), want);

    // Saved again to its own path, the project keeps its path and name.
    project.GetDatabase(0)->network->messages.at(0x1A0)->signals.at(L"Level")->signalType = kConstantSignal;
    EXPECT_TRUE(project.SaveProject(L""));
    EXPECT_FALSE(project.IsModified());
    EXPECT_EQ(project.GetProjectPath(), FromUtf8(path.string()));
    EXPECT_EQ(ReadBytes(path), want);
}

TEST_F(ProjectFile, SaveNeedsAPathAndBothChannelSetups)
{
    TS_Project project;
    EXPECT_FALSE(project.SaveProject(L""));
    project.SetChannelSetup(3, -1, 6);
    EXPECT_FALSE(project.SaveProject(FromUtf8((dir_ / "x.tsp").string())));
    EXPECT_FALSE(fs::exists(dir_ / "x.tsp"));
    EXPECT_EQ(project.GetProjectName(), L"New project");
}

TEST_F(ProjectFile, OpensAProjectWrittenOnWindows)
{
    Dbc("kuehlung_cp1252.dbc", "dbc/K\xc3\xbchlung.dbc");
    Dbc("body.dbc", "dbc/body.dbc");
    // CR LF lines, Windows-1252 names, backslash paths, section and key names in another case, blanks
    // around selection entries, a line without '=' and Windows absolute paths that do not resolve here.
    const std::string tsp =
        "[can]\r\nsetup3=2\r\nSETUP4=5\r\n[NETWORK]\r\ndbc_names=K\xfchlung,Body\r\n"
        "[K\xdcHLUNG]\r\nabsolute_path=C:\\Daten\\K\xfchlung.dbc\r\nrelative_path=..\\dbc\\K\xfchlung.dbc\r\n"
        "selected_messages= 100 3 \r\n"
        "[K\xfchlung\\Temp\\Value]\r\n$$signal_type$$=0\r\n$$RAW_VALUE$$=BEEF\r\n"
        "[Body]\r\nAbsolute_Path=C:\\Daten\\body.dbc\r\nRelative_Path=..\\dbc\\body.dbc\r\n"
        "Selected_messages=1A0 1,98FEF100 12\r\n"
        "[Body\\Lights]\r\nGenMsgCycleTime=1000\r\nnot a key\r\nUnknownAttribute=5\r\nGenMsgFactor=abc\r\n"
        "[Body\\Lights\\Dimmer]\r\n$$SIGNAL_TYPE$$=1\r\n$$RAW_VALUE$$=0\r\n$$DYNAMIC_CONTROL$$=5\r\n"
        "$$DYNAMIC_VALUE_START$$=0\r\n$$DYNAMIC_VALUE_END$$=64\r\n$$DYNAMIC_VALUE_MIDDLE$$=0\r\n"
        "[Body\\Ext]\r\n$$MULTIPLEXOR_VALUES$$=3 1\r\n";
    WriteBytes(dir_ / "proj" / "windows.tsp", tsp);

    ScriptedPrompt prompt;
    const auto project = Open(dir_ / "proj" / "windows.tsp", prompt);
    ASSERT_TRUE(project) << (prompt.shown.empty() ? "" : torvik::platform::ToUtf8(prompt.shown.front()));
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_FALSE(project->IsModified());
    EXPECT_EQ(project->GetProjectName(), L"windows");
    EXPECT_EQ(project->GetChannelSetups(), (std::map<std::uint32_t, std::uint32_t>{{3, 2}, {4, 5}}));
    ASSERT_EQ(project->GetDatabaseCount(), 2u);

    const auto& cold = *project->GetDatabase(0);
    EXPECT_EQ(cold.GetName(), L"K\u00fchlung");
    const auto& temp = *cold.network->messages.at(0x100);
    EXPECT_EQ(temp.channelMask, 3);
    EXPECT_EQ(temp.signals.at(L"Value")->rawValue, RawNumber(0xBEEF));

    const auto& body = *project->GetDatabase(1);
    const auto& lights = *body.network->messages.at(0x1A0);
    EXPECT_EQ(lights.channelMask, 1);
    EXPECT_EQ(lights.GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true), 1000);
    EXPECT_EQ(lights.attributeOverrides.size(), 1u);  // unknown and unreadable values are skipped
    const auto& dimmer = *lights.signals.at(L"Dimmer");
    EXPECT_EQ(dimmer.signalType, kDynamicSignal);
    EXPECT_EQ(dimmer.dynamicControl, 5);
    EXPECT_EQ(dimmer.endValue, RawNumber(0x64));
    EXPECT_EQ(lights.signals.at(L"Mode")->rawValue, RawNumber(3));  // no section: its start value
    const auto& ext = *body.network->messages.at(0x98FEF100);
    EXPECT_EQ(ext.channelMask, 12);
    EXPECT_EQ(ext.multiplex.values, (std::vector<std::uint32_t>{3, 1}));
    EXPECT_EQ(body.network->messages.at(0x200)->channelMask, 0);
}

TEST_F(ProjectFile, AWindowsDrivePathNamesNoFile)
{
    // A folder named "C:" beside the project must not pass for the drive.
    Dbc("body.dbc", "C:/Daten/body.dbc");
    WriteBytes(dir_ / "drive.tsp", "[CAN]\r\nSetup3=2\r\nSetup4=2\r\n[Network]\r\nDbc_Names=Body\r\n"
                                   "[Body]\r\nAbsolute_Path=C:\\Daten\\body.dbc\r\n");
    ScriptedPrompt prompt;
    prompt.answers = {false, false};
    ProjectOpening opening(prompt, false);
    EXPECT_FALSE(opening.Run(W(dir_ / "drive.tsp")));
    EXPECT_EQ(opening.failure(),
              L"database 'Body' cannot be read: 'C:\\Daten\\body.dbc': a Windows drive path, which names no file here");
    ASSERT_FALSE(prompt.shown.empty());
    EXPECT_NE(prompt.shown.front().find(L"Would you like to replace it?"), std::wstring::npos);
}

TEST_F(ProjectFile, SaveOpenSaveReproducesTheFile)
{
    const fs::path dbc = Dbc("body.dbc", "p/dbc/body.dbc");
    TS_Project project;
    ScriptedPrompt prompt;
    ASSERT_EQ(project.AddDatabase(prompt, W(dbc)), 0);
    auto& db = *project.GetDatabase(0);
    auto& lights = *db.network->messages.at(0x1A0);
    lights.channelMask = 5;
    ASSERT_TRUE(project.CheckCycleTime(prompt, lights, nullptr));  // 100 ms: no question, no override
    const auto& defs = *lights.definitions;
    lights.attributeOverrides[L"GenMsgCycleTime"] = std::make_shared<Dbc_AttributeSpec<int>>(defs.at(L"GenMsgCycleTime"), 20);
    lights.attributeOverrides[L"GenMsgChkConstant"] = std::make_shared<Dbc_AttributeSpec<int>>(defs.at(L"GenMsgChkConstant"), -2);
    lights.attributeOverrides[L"GenMsgFactor"] = std::make_shared<Dbc_AttributeSpec<float>>(defs.at(L"GenMsgFactor"), 0.1f);
    lights.attributeOverrides[L"GenMsgNote"] =
        std::make_shared<Dbc_AttributeSpec<std::wstring>>(defs.at(L"GenMsgNote"), L"a=b, \u00e4");
    auto& level = *lights.signals.at(L"Level");
    level.rawValue = 0x7F;
    level.attributeOverrides[L"GenSigSendType"] =
        std::make_shared<Dbc_AttributeSpec<int>>(level.definitions->at(L"GenSigSendType"), 1);
    auto& dimmer = *lights.signals.at(L"Dimmer");
    dimmer.signalType = kDynamicSignal;
    dimmer.dynamicControl = 10;
    dimmer.middleValue = 0x32;
    auto& ext = *db.network->messages.at(0x98FEF100);
    ext.channelMask = 8;
    ext.multiplex.values = {3, 1};
    ext.signals.at(L"A")->rawValue = RawNumber(1) << 7;
    project.SetChannelSetup(3, -1, 6);
    project.SetChannelSetup(4, 4, 6);

    // Saved "as" its own database, the project would destroy it.
    const std::string dbcBytes = ReadBytes(dbc);
    EXPECT_FALSE(project.SaveProject(W(dbc)));
    EXPECT_EQ(project.GetSaveError(), torvik::platform::WriteRefusal::is_input);
    EXPECT_EQ(ReadBytes(dbc), dbcBytes);
    EXPECT_TRUE(project.IsModified());

    const fs::path first = dir_ / "p" / "first.tsp";
    ASSERT_TRUE(project.SaveProject(W(first)));
    ScriptedPrompt quiet;
    auto reopened = Open(first, quiet);
    ASSERT_TRUE(reopened);
    EXPECT_TRUE(quiet.shown.empty());
    EXPECT_EQ(reopened->GetDatabase(0)->network->messages.at(0x98FEF100)->multiplex.values,
              (std::vector<std::uint32_t>{3, 1}));
    ASSERT_TRUE(reopened->BuildUserBlock() > 0);
    ASSERT_TRUE(project.BuildUserBlock() > 0);
    EXPECT_EQ(std::vector<std::uint8_t>(reopened->GetUserBlock(), reopened->GetUserBlock() + reopened->GetUserBlockLength()),
              std::vector<std::uint8_t>(project.GetUserBlock(), project.GetUserBlock() + project.GetUserBlockLength()));

    const fs::path second = dir_ / "p" / "second.tsp";
    ASSERT_TRUE(reopened->SaveProject(W(second)));
    EXPECT_EQ(ReadBytes(second), ReadBytes(first));
    EXPECT_NE(ReadBytes(first).find("GenMsgChkConstant=fffffffe\r\nGenMsgCycleTime=20\r\nGenMsgFactor=0.100000\r\n"
                                    "GenMsgNote=a=b, \xe4\r\n"),
              std::string::npos);
}

TEST_F(ProjectFile, FindsDatabasesAfterTheProjectOrItsFolderMoved)
{
    Dbc("body.dbc", "old/dbc/body.dbc");
    TS_Project project;
    ScriptedPrompt prompt;
    ASSERT_EQ(project.AddDatabase(prompt, W(dir_ / "old" / "dbc" / "body.dbc")), 0);
    project.GetDatabase(0)->network->messages.at(0x1A0)->channelMask = 2;
    project.SetChannelSetup(3, -1, 6);
    project.SetChannelSetup(4, -1, 6);
    fs::create_directories(dir_ / "old" / "proj");
    ASSERT_TRUE(project.SaveProject(W(dir_ / "old" / "proj" / "p.tsp")));

    // The project file alone moves: the relative path leads nowhere, the absolute one still holds.
    fs::create_directories(dir_ / "elsewhere" / "deeper");
    fs::copy_file(dir_ / "old" / "proj" / "p.tsp", dir_ / "elsewhere" / "deeper" / "p.tsp");
    auto alone = Open(dir_ / "elsewhere" / "deeper" / "p.tsp", prompt);
    ASSERT_TRUE(alone);
    EXPECT_EQ(alone->GetDatabase(0)->path, W(dir_ / "old" / "dbc" / "body.dbc"));

    // The whole folder moves: the absolute path is stale, the relative one finds it.
    fs::rename(dir_ / "old", dir_ / "new");
    auto moved = Open(dir_ / "new" / "proj" / "p.tsp", prompt);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->GetDatabase(0)->path, W(dir_ / "new" / "dbc" / "body.dbc"));
    EXPECT_EQ(moved->GetDatabase(0)->network->messages.at(0x1A0)->channelMask, 2);
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(ProjectFile, SelectionEntriesMustReadCompletely)
{
    Dbc("body.dbc", "body.dbc");
    struct Case {
        const char* entries;
        bool ok;
    };
    const Case cases[] = {
        {"1A0 1", true}, {"  1A0   1  ", true}, {"1a0 1,98FEF100 12", true}, {"0x1A0 1", true},
        {"1A0 1x", false}, {"1A0", false}, {"1A0 1,", false}, {"1A1 1", false},  // 1A1: no such message
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entries);
        WriteBytes(dir_ / "p.tsp", std::string("[Network]\r\nDbc_Names=Body\r\n[Body]\r\nRelative_Path=.\\body.dbc\r\n"
                                               "Selected_messages=") + c.entries + "\r\n");
        TS_Project project;
        ASSERT_TRUE(project.OpenHeader(W(dir_ / "p.tsp")));
        ASSERT_TRUE(project.LoadDatabase(0));
        EXPECT_EQ(project.LoadSelections(0), c.ok);
    }
}

TEST_F(ProjectFile, SignalSectionsThatDoNotReadFailTheSelections)
{
    Dbc("body.dbc", "body.dbc");
    const char* sections[] = {
        "$$SIGNAL_TYPE$$=0\r\n",                                        // no raw value
        "$$SIGNAL_TYPE$$=2\r\n$$RAW_VALUE$$=1\r\n",                     // unknown type
        "$$SIGNAL_TYPE$$=1\r\n$$RAW_VALUE$$=1\r\n$$DYNAMIC_CONTROL$$=5\r\n",  // dynamic values missing
        "$$SIGNAL_TYPE$$=0\r\n$$RAW_VALUE$$=xyz\r\n",
    };
    for (const char* section : sections) {
        SCOPED_TRACE(section);
        WriteBytes(dir_ / "p.tsp", std::string("[Network]\r\nDbc_Names=Body\r\n[Body]\r\nRelative_Path=.\\body.dbc\r\n"
                                               "Selected_messages=1A0 1\r\n[Body\\Lights\\Level]\r\n") + section);
        TS_Project project;
        ASSERT_TRUE(project.OpenHeader(W(dir_ / "p.tsp")));
        ASSERT_TRUE(project.LoadDatabase(0));
        EXPECT_FALSE(project.LoadSelections(0));
    }
}

// The opening sequence: questions, replacement and removal of databases.
class OpeningSequence : public ProjectFile {
protected:
    OpeningSequence()
    {
        Dbc("body.dbc", "dbc/body.dbc");
        Dbc("kuehlung_cp1252.dbc", "dbc/cold.dbc");
        WriteBytes(tsp_, "[CAN]\r\nSetup3=4\r\n[Network]\r\nDbc_Names=Ghost,,Body\r\n"
                         "[Ghost]\r\nRelative_Path=.\\dbc\\ghost.dbc\r\nSelected_messages=100 1\r\n"
                         "[Body]\r\nRelative_Path=.\\dbc\\body.dbc\r\nSelected_messages=1A0 1,7 1\r\n");
    }

    std::wstring Path() const { return W(dir_ / "p.tsp"); }

    fs::path tsp_ = dir_ / "p.tsp";
};

TEST_F(OpeningSequence, DroppingDatabasesGoesOnWithTheNextName)
{
    ScriptedPrompt prompt;
    prompt.answers = {false, true, false, true};  // Ghost: no, remove; Body: no, remove
    const auto project = Open(tsp_, prompt);
    ASSERT_TRUE(project);
    EXPECT_EQ(project->GetDatabaseCount(), 0u);
    EXPECT_TRUE(project->IsModified());
    EXPECT_EQ(project->GetChannelSetups().at(3), 4u);
    EXPECT_EQ(prompt.shown, (std::vector<std::wstring>{
                                L"yes/no: Some troubles occured when trying to read database 'Ghost' in project '" +
                                    Path() + L"'. Would you like to replace it?",
                                L"ok/cancel: Would you like to remove the database 'Ghost' or cancel loading the project?",
                                L"yes/no: Some messages or signals from database 'Body' are incorrectly set. Would you "
                                L"like to replace the database with other file?",
                                L"ok/cancel: Would you like to remove the database 'Body' or cancel loading the project?",
                            }));
}

TEST_F(OpeningSequence, CancelAbandonsTheProject)
{
    ScriptedPrompt prompt;
    prompt.answers = {false, false};
    ProjectOpening opening(prompt, false);
    EXPECT_FALSE(opening.Run(Path()));
    const std::wstring why = L"database 'Ghost' cannot be read: '" + W(dir_ / "dbc" / "ghost.dbc") +
                             L"': No such file or directory";
    EXPECT_EQ(opening.failure(), why);

    NonInteractivePrompt safe;
    ProjectOpening unattended(safe, false);
    EXPECT_FALSE(unattended.Run(Path()));
    EXPECT_EQ(unattended.failure(), why);
}

TEST_F(OpeningSequence, AReplacementMustCarryTheRequiredName)
{
    WriteBytes(tsp_, "[Network]\r\nDbc_Names=Ghost\r\n[Ghost]\r\nRelative_Path=.\\dbc\\ghost.dbc\r\n"
                     "Selected_messages=1A0 1\r\n");
    // The replacement has to be named Ghost: body.dbc (named Body) is refused, a copy named Ghost is taken.
    std::string ghost = ReadBytes(dir_ / "dbc" / "body.dbc");
    ghost.replace(ghost.find("\"Body\""), 6, "\"Ghost\"");
    WriteBytes(dir_ / "dbc" / "ghost_copy.dbc", ghost);
    ScriptedPrompt prompt;
    prompt.answers = {true, true};
    prompt.files = {W(dir_ / "dbc" / "body.dbc"), W(dir_ / "dbc" / "ghost_copy.dbc")};
    const auto project = Open(tsp_, prompt);
    ASSERT_TRUE(project);
    ASSERT_EQ(project->GetDatabaseCount(), 1u);
    EXPECT_EQ(project->GetDatabase(0)->network->messages.at(0x1A0)->channelMask, 1);  // its selections applied
    EXPECT_EQ(prompt.shown[2], L"yes/no: The selected file can't be used (may be it has different database name - "
                               L"required 'Ghost'). Would you like to choose another file?");
}

TEST_F(OpeningSequence, StartupAndHeaderFailures)
{
    ScriptedPrompt startup;
    EXPECT_FALSE(Open(tsp_, startup, true));
    EXPECT_EQ(startup.shown, std::vector<std::wstring>{L"warn: Project '" + Path() + L"' can't be loaded."});

    const fs::path good = dir_ / "good.tsp";
    WriteBytes(good, "[Network]\r\nDbc_Names=Body\r\n[Body]\r\nRelative_Path=.\\dbc\\body.dbc\r\n");
    ScriptedPrompt prompt;
    prompt.answers = {true};
    prompt.files = {W(good)};
    const auto project = Open(dir_ / "missing.tsp", prompt);
    ASSERT_TRUE(project);
    EXPECT_EQ(project->GetProjectName(), L"good");
    EXPECT_EQ(prompt.shown.front(), L"yes/no: Project '" + W(dir_ / "missing.tsp") +
                                        L"' can't be loaded. Would you like to load another project?");
}

TEST_F(ProjectFile, DatabasesAreRefusedByNameWhenAdded)
{
    const fs::path dbc = Dbc("body.dbc", "body.dbc");
    const fs::path copy = Dbc("body.dbc", "other/body_copy.dbc");
    TS_Project project;
    ScriptedPrompt prompt;
    EXPECT_EQ(project.AddDatabase(prompt, W(dbc)), 0);
    EXPECT_EQ(project.GetDatabase(0)->GetName(), L"Body");  // DBName, not the file name
    EXPECT_EQ(project.AddDatabase(prompt, W(copy)), -1);
    EXPECT_EQ(prompt.shown, std::vector<std::wstring>{L"info: This project already contains database named Body."});
    EXPECT_EQ(project.GetDatabaseCount(), 1u);
}

TEST(ExampleProject, BuildsTheImageOfItsSettings)
{
    const char* root = std::getenv("TORVIK_SOURCE_DIR");
    if (root == nullptr) {
        GTEST_SKIP() << "TORVIK_SOURCE_DIR is not set";
    }
    NonInteractivePrompt prompt;
    ProjectOpening opening(prompt, false);
    auto project = opening.Run(W(fs::path(root) / "examples" / "simulation.tsp"));
    ASSERT_TRUE(project) << torvik::platform::ToUtf8(opening.failure());
    project->SetChannelSetup(3, -1, 6);
    project->SetChannelSetup(4, -1, 6);
    ASSERT_EQ(project->BuildUserBlock(), 278);
    const std::vector<std::uint8_t> want{
        0xFF, 0x03, 0x34, 0x03, 0x06, 0x03, 0x34, 0x04, 0x04,
        // EngineStatus 0x100 on CAN 1, 10 ms; OilTemp (Motorola, start bit 39) placed from bit 39 up
        0x1A, 0x01, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x08, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x01, 0x00, 0x00, 0x64, 0x00, 0x00, 0x41, 0x00, 0x00,
        0x09, 0x14, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x0F, 0x00, 0x07, 0x18, 0x00, 0x00, 0x00, 0x00, 0xFA, 0x00,
        0x09, 0x14, 0x00, 0x00, 0x04, 0x00, 0x18, 0x00, 0x1F, 0x00, 0x07, 0x18, 0x00, 0x00, 0x00, 0x00, 0xFA, 0x00,
        // BodySwitches 0x200 on CAN 2, 100 ms, 5 ms start delay; Hazard at its start value 1
        0x16, 0x01, 0x02, 0x02, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x04, 0x64, 0x00, 0x05, 0x00, 0x00, 0x00,
        0x01, 0x20, 0x00, 0x00, 0x00,
        0x09, 0x14, 0x00, 0x00, 0x0B, 0x00, 0x04, 0x00, 0x04, 0x00, 0x09, 0x18, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,
        0x09, 0x14, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x18, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,
        0x09, 0x14, 0x00, 0x00, 0x0A, 0x00, 0x02, 0x00, 0x03, 0x00, 0x09, 0x18, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x80, 0x00,
        // Diagnostics 0x300 on CAN 1 and 3, 500 ms from the project; payload for multiplexor value 2
        0x1A, 0x01, 0x05, 0x05, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x08, 0xF4, 0x01, 0x00, 0x00, 0x00, 0x00,
        0x01, 0x02, 0x50, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07,
        0x04, 0x0B, 0x00, 0x00, 0x5A,
        0x09, 0x14, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x0F, 0x02, 0x07, 0x18, 0x00, 0x00, 0x00, 0x00, 0xC8, 0x00,
        // VehicleSpeedFD 0x18FEF100 (extended) on CAN 4, CAN FD with bit-rate switch, 16 bytes
        0x22, 0x01, 0x08, 0x08, 0x98, 0xFE, 0xF1, 0x00, 0xD0, 0x00, 0x00, 0x0A, 0x14, 0x00, 0x00, 0x00, 0x05, 0x00,
        0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x45, 0x23, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00,
        0x09, 0x14, 0x00, 0x00, 0x1D, 0x00, 0x70, 0x00, 0x73, 0x00, 0x09, 0x18, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x00,
        0x09, 0x14, 0x00, 0x00, 0x01, 0x00, 0x60, 0x00, 0x6F, 0x00, 0x07, 0x18, 0x00, 0x00, 0x00, 0x00, 0x75, 0x30,
    };
    EXPECT_EQ(std::vector<std::uint8_t>(project->GetUserBlock(), project->GetUserBlock() + 278), want);
}

}  // namespace
