#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include <platform/install_layout.hpp>

namespace torvik::platform::test {
namespace {

class InstallLayoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = std::filesystem::temp_directory_path() /
                ("torvik_layout_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "build" / "bin");
        std::filesystem::create_directories(root_ / "prefix" / "bin");
        std::filesystem::create_directories(root_ / "prefix" / "share" / "torvik4");
        std::ofstream(root_ / "build" / "bin" / "restart.hex") << ":00000001FF\n";
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::filesystem::path root_;
};

TEST_F(InstallLayoutTest, DataAndHelpersAreFoundBesideTheProgramThenInTheInstall)
{
    const auto build = root_ / "build" / "bin";
    const auto installed = root_ / "prefix" / "bin";
    const auto other = root_ / "other" / "bin";  // a program of another project, not installed with us

    EXPECT_FALSE(IsInstalledProgram(build));
    EXPECT_TRUE(IsInstalledProgram(installed));
    EXPECT_TRUE(IsInstalledProgram(root_ / "prefix" / "bin" / ""));
    EXPECT_FALSE(IsInstalledProgram(other));
    EXPECT_FALSE(IsInstalledProgram({}));

    EXPECT_EQ(DataFile(build, "restart.hex"), build / "restart.hex");
    EXPECT_EQ(DataFile(installed, "restart.hex"), root_ / "prefix" / "share" / "torvik4" / "restart.hex");
    // A file beside an installed program still comes first (a user's own copy of the container).
    std::ofstream(installed / "Torvik4-FlashContainer.fkq") << "<x/>";
    EXPECT_EQ(DataFile(installed, "Torvik4-FlashContainer.fkq"), installed / "Torvik4-FlashContainer.fkq");
    // Elsewhere the data folder the libraries were built for: an absolute path that names the file.
    for (const auto& folder : {other, std::filesystem::path{}}) {
        const auto built = DataFile(folder, "restart.hex");
        EXPECT_TRUE(built.is_absolute()) << built;
        EXPECT_EQ(built.filename(), "restart.hex");
        EXPECT_EQ(built.parent_path().filename(), "torvik4");
    }

    std::ofstream(build / "QuenbyFlashUtility") << "#!/bin/sh\n";
    EXPECT_EQ(HelperProgram(build, "QuenbyFlashUtility"), build / "QuenbyFlashUtility");
    EXPECT_EQ(HelperProgram(installed, "QuenbyFlashUtility"), installed / "QuenbyFlashUtility");
    EXPECT_EQ(HelperProgram(other, "QuenbyFlashUtility").filename(), "QuenbyFlashUtility");
    EXPECT_NE(HelperProgram(other, "QuenbyFlashUtility").parent_path(), other);
}

TEST_F(InstallLayoutTest, UserFoldersFollowTheBaseDirectoryVariables)
{
    struct Case {
        const char* xdg;
        const char* home;
        std::filesystem::path config;
        std::filesystem::path state;
    };
    const Case cases[] = {
        {"/xdg", "/home/u", "/xdg/TorvikStudio", "/xdg/TorvikStudio"},
        {nullptr, "/home/u", "/home/u/.config/TorvikStudio", "/home/u/.local/state/TorvikStudio"},
        {"", "/home/u", "/home/u/.config/TorvikStudio", "/home/u/.local/state/TorvikStudio"},
        {"relative", "/home/u", "/home/u/.config/TorvikStudio", "/home/u/.local/state/TorvikStudio"},
        {nullptr, nullptr, {}, {}},
    };
    for (const auto& c : cases) {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME"}) {
            c.xdg != nullptr ? setenv(name, c.xdg, 1) : unsetenv(name);
        }
        c.home != nullptr ? setenv("HOME", c.home, 1) : unsetenv("HOME");
        EXPECT_EQ(UserConfigFolder(), c.config) << (c.xdg ? c.xdg : "(unset)");
        EXPECT_EQ(UserStateFolder(), c.state) << (c.xdg ? c.xdg : "(unset)");
    }
}

}  // namespace
}  // namespace torvik::platform::test
