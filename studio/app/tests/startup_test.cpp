#include <gtest/gtest.h>

#include <cstdlib>
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

TEST_F(StartupTest, AnInstalledProgramKeepsSettingsAndLogsInTheUsersFolders)
{
    // <prefix>/bin is writable here, yet nothing may land under the prefix.
    const auto prefix = folder_ / "prefix";
    std::filesystem::create_directories(prefix / "bin");
    std::filesystem::create_directories(prefix / "share" / "torvik4");
    // The properties the package ships.
    const char* source = std::getenv("TORVIK_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::filesystem::copy_file(std::filesystem::path(source) / "packaging" / "log4cpp.properties",
                               prefix / "share" / "torvik4" / "log4cpp.properties");
    setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (folder_ / "state").c_str(), 1);
    unsetenv("TORVIK_LOG_DIR");

    EXPECT_EQ(SettingsPath(prefix / "bin"), folder_ / "config" / "TorvikStudio" / "Torvik Studio.ini");
    EXPECT_FALSE(ConfigureLogging(prefix / "bin"));
    log4cpp::Category::getInstance(kLoggerName).debug("not in the file");
    log4cpp::Category::getInstance(kLoggerName).info("installed and logging");
    const std::string log = Read(folder_ / "state" / "TorvikStudio" / "torvikStudio.log");
    EXPECT_NE(log.find("installed and logging"), std::string::npos);
    EXPECT_EQ(log.find("not in the file"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "torvikStudio.log"));
    EXPECT_FALSE(std::filesystem::exists(prefix / "bin" / "Torvik Studio.ini"));
    log4cpp::Category::getInstance(kLoggerName).removeAllAppenders();
    log4cpp::Category::getRoot().removeAllAppenders();

    // The user's own properties win over the shipped ones; without either, the default logs to the state folder.
    std::ofstream(folder_ / "config" / "TorvikStudio" / "log4cpp.properties")
        << "log4cpp.rootCategory=DEBUG, A\n"
           "log4cpp.appender.A=FileAppender\n"
           "log4cpp.appender.A.fileName=" << (folder_ / "own.log").string() << "\n"
           "log4cpp.appender.A.layout=BasicLayout\n";
    EXPECT_FALSE(ConfigureLogging(prefix / "bin"));
    log4cpp::Category::getInstance(kLoggerName).info("the user's way");
    EXPECT_NE(Read(folder_ / "own.log").find("the user's way"), std::string::npos);
    log4cpp::Category::getRoot().removeAllAppenders();

    std::filesystem::remove(folder_ / "config" / "TorvikStudio" / "log4cpp.properties");
    std::filesystem::remove(prefix / "share" / "torvik4" / "log4cpp.properties");
    EXPECT_TRUE(ConfigureLogging(prefix / "bin"));
    log4cpp::Category::getInstance(kLoggerName).info("by default");
    EXPECT_NE(Read(folder_ / "state" / "TorvikStudio" / "torvikStudio.log").find("by default"), std::string::npos);
    log4cpp::Category::getRoot().removeAllAppenders();
    log4cpp::Category::getInstance(kLoggerName).removeAllAppenders();
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
