#include <app/commands.hpp>

namespace torvik::studio::app {

namespace {

const MenuItem kFile[] = {
    {kCmdNewProject, L"&New project", L"Ctrl+N"},
    {kCmdOpenProject, L"&Open project", L"Ctrl+O"},
    {kCmdSaveProject, L"&Save project", L"Ctrl+S"},
    {kCmdSaveProjectAs, L"Save project &as", L"Ctrl+Shift+S"},
    {kCmdCloseProject, L"&Close project", L"Ctrl+W"},
    {-1, L"", L""},
    {kCmdSettings, L"Se&ttings", L"Ctrl+T"},
    {-1, L"", L""},
    {kCmdExit, L"E&xit", L"Alt+F4", 0, true},
};

const MenuItem kSimulation[] = {
    {0, L"Channel &3 CAN HS && FD setup", L"", 3},
    {0, L"Channel &4 CAN HS && FD setup", L"", 4},
    {-1, L"", L""},
    {kCmdImportDbc, L"&Import database file", L"Ctrl+D"},
    {0, kRemoveDatabaseLabel, L""},
    {-1, L"", L""},
    {kCmdUpload, L"Simulation &upload", L"Ctrl+U"},
    {kCmdErase, L"Simulation &erase", L""},
};

const MenuItem kDevice[] = {
    {kCmdDeviceInfo, L"Device &info", L"Ctrl+I"},
    {kCmdFirmwareUpdate, L"&Firmware update", L"Ctrl+Shift+U"},
    {kCmdDateTime, L"Set device &date && time", L""},
    {kCmdSetVin, L"Set &VIN", L""},
};

const MenuItem kHelp[] = {
    {kCmdManual, L"Application &manual", L"F1"},
    {kCmdAbout, L"A&bout", L""},
};

}  // namespace

const std::array<Menu, 4> kMenus = {{
    {L"&File", kFile, std::size(kFile)},
    {L"Si&mulation", kSimulation, std::size(kSimulation)},
    {L"&Device", kDevice, std::size(kDevice)},
    {L"&Help", kHelp, std::size(kHelp)},
}};

const std::array<ToolbarButton, 8> kToolbar = {{
    {kCmdNewProject, L"New project"},
    {kCmdOpenProject, L"Open project"},
    {kCmdSaveProject, L"Save project"},
    {kCmdImportDbc, L"Import database file"},
    {kCmdSettings, L"Settings"},
    {kCmdDeviceInfo, L"Device info"},
    {kCmdFirmwareUpdate, L"Firmware update"},
    {kCmdUpload, L"Simulation upload"},
}};

}  // namespace torvik::studio::app
