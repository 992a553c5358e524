// The port a device job talks to, over an injected port table.
#include <device/port_choice.hpp>

#include <platform/ports.hpp>

#include <gtest/gtest.h>

namespace {

using torvik::studio::ChoosePort;
using torvik::studio::PortChoice;

TEST(PortChoice, AutomaticTakesTheFirstTorvik4AdapterManualTheSetPort)
{
    torvik::platform::SetPortTable(std::vector<torvik::platform::PortInfo>{
        {1, "/dev/ttyUSB0", "USB Serial Adapter"}, {3, "/dev/ttyUSB2", "Torvik4"}, {4, "/dev/ttyUSB3", "Torvik4"},
        {5, "/dev/ttyUSB4", "torvik4"}});
    EXPECT_EQ(ChoosePort({}), "COM3");
    EXPECT_EQ(ChoosePort({false, 7, ""}), "COM7");
    EXPECT_EQ(ChoosePort({false, 7, "/dev/pts/5"}), "/dev/pts/5");
    EXPECT_EQ(ChoosePort({false, -1, ""}), "");

    // The product string must match exactly, case included.
    torvik::platform::SetPortTable(std::vector<torvik::platform::PortInfo>{{5, "/dev/ttyUSB4", "torvik4"}});
    EXPECT_EQ(ChoosePort({}), "");
    torvik::platform::SetPortTable(std::nullopt);
}

}  // namespace
