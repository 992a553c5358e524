#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include <platform/text.hpp>
#include <project/ts_project.hpp>

#include "model_builder.hpp"

namespace {

namespace fs = std::filesystem;
using namespace torvik::studio;
using kq::dbclib::Dbc_AttributeSpec;
using torvik::platform::FromUtf8;
using torvik::studio::test::ModelBuilder;

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

}  // namespace
