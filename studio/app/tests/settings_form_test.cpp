#include <app/settings_form.hpp>

#include <platform/ports.hpp>

#include <gtest/gtest.h>

#include <functional>

namespace torvik::studio::app::test {
namespace {

class SettingsFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::SetPortTable(std::vector<platform::PortInfo>{
            {3, "/dev/ttyUSB2", ""}, {5, "/dev/ttyUSB4", "Torvik4"}, {9, "/dev/ttyUSB8", "Cable"}});
    }
    void TearDown() override { platform::SetPortTable(std::nullopt); }

    static Settings Manual(int port, std::wstring path = {})
    {
        Settings settings;
        settings.autoNotManual = 0;
        settings.manualComPort = port;
        settings.manualComPortPath = std::move(path);
        return settings;
    }
};

TEST_F(SettingsFormTest, ManualListShowsEveryPortAndSelectsTheStoredOne)
{
    SettingsForm form(Manual(9));
    ASSERT_EQ(form.ports().size(), 3u);
    EXPECT_EQ(form.ports()[0].label, L"COM3");
    EXPECT_EQ(form.ports()[1].label, L"COM5 - Torvik4");
    EXPECT_EQ(form.ports()[2].label, L"COM9 - Cable");
    EXPECT_EQ(form.selection(), 2);

    // A stored port that is gone: the first port with a known adapter.
    SettingsForm gone(Manual(7));
    EXPECT_EQ(gone.selection(), 1);

    // Filling again keeps the port the user chose.
    gone.Select(0);
    gone.ChooseAutomatic();
    gone.ChooseManual();
    EXPECT_EQ(gone.selection(), 0);
    Settings out = Manual(7);
    gone.Confirm(out);
    EXPECT_EQ(out.manualComPort, 3);
    EXPECT_EQ(out.autoNotManual, 0);
}

TEST_F(SettingsFormTest, OkStoresWhatTheListShows)
{
    struct Case {
        const char* what;
        Settings start;
        std::function<void(SettingsForm&)> user;
        int autoNotManual;
        int port;
        std::wstring path;
    };
    const Case cases[] = {
        {"manual port left by switching to automatic is kept", Manual(7),
         [](SettingsForm& f) {
             f.Select(2);
             f.ChooseAutomatic();
         },
         1, 9, L""},
        // Never filled: the stored manual port stays (rather than becoming 0).
        {"automatic and never filled keeps the stored port", Settings{1, L"x", 4, L"", L""}, [](SettingsForm&) {}, 1,
         4, L""},
        {"a typed path replaces the selection", Manual(5), [](SettingsForm& f) { f.TypePort(L"/dev/pts/4"); }, 0, 0,
         L"/dev/pts/4"},
        {"a typed label selects its entry", Manual(5, L"/dev/pts/4"), [](SettingsForm& f) { f.TypePort(L"COM9 - Cable"); },
         0, 9, L""},
        {"a stored path stays shown", Manual(5, L"/dev/pts/4"), [](SettingsForm&) {}, 0, 0, L"/dev/pts/4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SettingsForm form(c.start);
        c.user(form);
        Settings out = c.start;
        form.Confirm(out);
        EXPECT_EQ(out.autoNotManual, c.autoNotManual);
        EXPECT_EQ(out.manualComPort, c.port);
        EXPECT_EQ(out.manualComPortPath, c.path);
    }
}

TEST_F(SettingsFormTest, ManualWithoutPortsStoresPortZero)
{
    platform::SetPortTable(std::vector<platform::PortInfo>{});
    SettingsForm form(Settings{});
    form.ChooseManual();
    EXPECT_TRUE(form.ports().empty());
    EXPECT_EQ(form.selection(), -1);
    Settings out;
    form.Confirm(out);
    EXPECT_EQ(out.autoNotManual, 0);
    EXPECT_EQ(out.manualComPort, 0);
}

}  // namespace
}  // namespace torvik::studio::app::test
