#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <log4cpp/Category.hh>

#include <app/startup.hpp>
#include <platform/profile.hpp>

namespace torvik::studio::app::test {
namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = std::filesystem::temp_directory_path() /
                  ("torvik_startup_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_);
    }
    void TearDown() override
    {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }
    static std::string Read(const std::filesystem::path& path)
    {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path folder_;
    std::filesystem::path previous_;
};

TEST_F(StartupTest, DefaultLoggingWritesInfoAndAboveToTheLogFile)
{
    EXPECT_TRUE(ConfigureLogging(folder_));
    auto& logger = log4cpp::Category::getInstance(kLoggerName);
    logger.debug("a debug line");
    logger.info("an info line");
    logger.error("an error line");
    const std::string log = Read(folder_ / "torvikStudio.log");
    EXPECT_NE(log.find("log4cpp.properties file not found, default configuration loaded."), std::string::npos);
    EXPECT_NE(log.find("an info line"), std::string::npos);
    EXPECT_NE(log.find("an error line"), std::string::npos);
    EXPECT_EQ(log.find("a debug line"), std::string::npos);
    log4cpp::Category::getRoot().removeAllAppenders();
    logger.removeAllAppenders();
}

TEST_F(StartupTest, PropertiesFileBesideTheProgramDecides)
{
    std::ofstream(folder_ / "log4cpp.properties")
        << "log4cpp.rootCategory=DEBUG, A\n"
           "log4cpp.appender.A=FileAppender\n"
           "log4cpp.appender.A.fileName=" << (folder_ / "own.log").string() << "\n"
           "log4cpp.appender.A.layout=BasicLayout\n";
    EXPECT_FALSE(ConfigureLogging(folder_));
    log4cpp::Category::getInstance(kLoggerName).debug("through the root");
    EXPECT_NE(Read(folder_ / "own.log").find("through the root"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "torvikStudio.log"));
    log4cpp::Category::getRoot().removeAllAppenders();
}

TEST_F(StartupTest, SettingsFileFallsBackToTheConfigFolderWhereTheProgramFolderCannotBeWritten)
{
    EXPECT_EQ(SettingsPath(folder_), folder_ / "Torvik Studio.ini");
    // Below a plain file nothing can be created, whatever the rights of the user running the test.
    std::ofstream(folder_ / "plain") << "x";
    setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
    EXPECT_EQ(SettingsPath(folder_ / "plain" / "bin"), folder_ / "config" / "TorvikStudio" / "Torvik Studio.ini");
    EXPECT_TRUE(std::filesystem::is_directory(folder_ / "config" / "TorvikStudio"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "Torvik Studio.ini"));  // the probe leaves nothing behind
}

TEST_F(StartupTest, SettingsKeepTheirValuesWhereTheFileHasNone)
{
    platform::MemoryProfile store;
    Settings settings;
    settings.Load(store);
    EXPECT_EQ(settings.autoNotManual, 1);
    EXPECT_EQ(settings.manualComPort, -1);
    EXPECT_TRUE(settings.updateAddress.ends_with(L"/fw/updates.xml"));
    store.WriteString(L"TorvikApp", L"ManualSetComPort", L"4");
    store.WriteString(L"TorvikApp", L"SetAutoNotManual", L"0");
    settings.Load(store);
    EXPECT_EQ(settings.manualComPort, 4);
    EXPECT_EQ(settings.autoNotManual, 0);
    Settings copy;
    settings.Save(store);
    EXPECT_FALSE(store.GetString(L"TorvikApp", L"ManualSetComPortPath"));  // never named: not written
    copy.Load(store);
    EXPECT_EQ(copy.manualComPort, 4);
    EXPECT_TRUE(copy.manualComPortPath.empty());

    settings.manualComPortPath = L"/dev/serial/by-id/usb-Torvik4-if00-port0";
    settings.Save(store);
    copy.Load(store);
    EXPECT_EQ(copy.manualComPortPath, L"/dev/serial/by-id/usb-Torvik4-if00-port0");
}

}  // namespace
}  // namespace torvik::studio::app::test
