#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include <project/ts_project.hpp>
#include <platform/text.hpp>

#include "model_builder.hpp"
#include "scripted_prompt.hpp"

namespace {

namespace fs = std::filesystem;
using namespace torvik::studio;
using torvik::studio::test::ModelBuilder;
using torvik::studio::test::ScriptedPrompt;

TEST(TS_Project, NewProjectIsModifiedAndNamed)
{
    TS_Project project;
    EXPECT_TRUE(project.IsModified());
    EXPECT_EQ(project.GetProjectName(), L"New project");
    EXPECT_TRUE(project.GetChannelSetups().empty());
    project.SetProjectPath(L"C:\\Projects\\Truck.v2.tsp");
    EXPECT_EQ(project.GetProjectName(), L"Truck.v2");
    project.SetProjectPath(L"/home/u/Car.tsp");
    EXPECT_EQ(project.GetProjectName(), L"Car");
}

TEST(TS_Project, DatabaseListRefusesDuplicatesAndRemovesByIndex)
{
    TS_Project project;
    ScriptedPrompt prompt;
    EXPECT_EQ(project.AddDatabase(prompt, L"/nonexistent/Body.dbc"), -1);
    EXPECT_EQ(prompt.shown, std::vector<std::wstring>{L"info: The selected database cannot be loaded."});

    ModelBuilder body(L"Body");
    body.AddMessage(0x10, L"A", 8).channelMask = 1;
    ASSERT_TRUE(project.AppendDatabase(body.Take()));
    ASSERT_TRUE(project.AppendDatabase(ModelBuilder(L"Engine").Take()));
    EXPECT_FALSE(project.AppendDatabase(ModelBuilder(L"Body").Take()));
    EXPECT_EQ(project.GetDatabaseCount(), 2u);
    EXPECT_TRUE(project.HasSelectedMessages(0));
    EXPECT_FALSE(project.HasSelectedMessages(1));
    EXPECT_FALSE(project.HasSelectedMessages(2));

    auto message = project.GetDatabase(0)->network->messages.at(0x10);  // outlives the database
    project.SetModified(false);
    EXPECT_FALSE(project.RemoveDatabase(2, true));
    EXPECT_FALSE(project.IsModified());
    EXPECT_TRUE(project.RemoveDatabase(0, true));
    EXPECT_TRUE(project.IsModified());
    EXPECT_EQ(message->channelMask, 0);
    EXPECT_EQ(project.GetDatabase(0)->GetName(), L"Engine");
}

TEST(TS_Project, ChannelSetupReportsChangesBetweenClassicAndFd)
{
    struct Step {
        std::int32_t code;
        std::uint32_t previous;
        bool modeChanged;
        bool modified;
    };
    const Step steps[] = {
        {-1, 2, false, false},  // creates the entry with the default
        {4, 2, true, true},     // classic -> FD
        {6, 4, false, true},    // FD -> FD
        {6, 6, false, false},   // the same code again
        {3, 6, true, true},     // FD -> classic
    };
    TS_Project project;
    EXPECT_TRUE(project.IsFdChannel(3));
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        project.SetModified(false);
        const auto change = project.SetChannelSetup(3, steps[i].code, 2);
        EXPECT_EQ(change.previous, steps[i].previous);
        EXPECT_EQ(change.modeChanged, steps[i].modeChanged);
        EXPECT_EQ(project.IsModified(), steps[i].modified);
    }
    EXPECT_FALSE(project.IsFdChannel(3));
}

TEST(TS_Project, CycleTimeZeroIsSetTo1000MsOnlyWithConsent)
{
    ModelBuilder b(L"Db");
    auto& single = b.AddMessage(1, L"Lights", 8);
    auto& first = b.AddMessage(2, L"First", 8);
    auto& second = b.AddMessage(3, L"Second", 8);
    auto& timed = b.AddMessage(4, L"Timed", 8);
    ModelBuilder::SetInt(timed, L"GenMsgCycleTime", 20);
    TS_Project project;
    ScriptedPrompt prompt;

    EXPECT_TRUE(project.CheckCycleTime(prompt, timed, nullptr));
    prompt.answers = {false, true};
    EXPECT_FALSE(project.CheckCycleTime(prompt, single, nullptr));
    EXPECT_EQ(single.GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true), 0);
    EXPECT_TRUE(project.CheckCycleTime(prompt, single, nullptr));
    EXPECT_EQ(single.GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true), 1000);
    EXPECT_EQ(single.attributeOverrides.at(L"GenMsgCycleTime")->definition, single.definitions->at(L"GenMsgCycleTime"));

    bool batch = false;
    prompt.answers = {true};
    EXPECT_TRUE(project.CheckCycleTime(prompt, first, &batch));
    EXPECT_TRUE(batch);
    EXPECT_TRUE(project.CheckCycleTime(prompt, second, &batch));  // not asked again
    EXPECT_EQ(second.GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true), 1000);

    const std::wstring asked = L"ok/cancel: The selected message (Lights) has cycle time zero. Sending such message is "
                               L"not supported. Yould you like to set its cycle time to 1000 ms?";
    EXPECT_EQ(prompt.shown, (std::vector<std::wstring>{
                                asked, asked,
                                L"ok/cancel: Some of the selected messages have cycle time zero. Sending such messages "
                                L"is not supported. Yould you like to set theirs cycle time to 1000 ms?"}));
}

}  // namespace
