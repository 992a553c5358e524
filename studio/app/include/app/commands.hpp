#pragma once

#include <array>
#include <cstdint>

namespace torvik::studio::app {

/// Command identifiers of the main window's menus, toolbar and popups.
enum Command : int {
    kCmdAboutSystem = 16,
    kCmdExit = 32771,
    kCmdNewProject = 32772,
    kCmdSaveProject = 32774,
    kCmdCloseProject = 32775,
    kCmdOpenProject = 32777,
    kCmdImportDbc = 32778,
    kCmdSaveProjectAs = 32780,
    kCmdSettings = 32784,
    kCmdDeviceInfo = 32786,
    kCmdFirmwareUpdate = 32787,
    kCmdUpload = 32788,
    kCmdManual = 32789,
    kCmdAbout = 32790,
    kCmdErase = 32805,
    kCmdDateTime = 32806,
    kCmdSetVin = 32807,
    kCmdChannel3First = 32931,  ///< + 0..3: the setups of CAN 3 in popup order
    kCmdChannel4First = 32941,  ///< + 0..3: the setups of CAN 4
    kCmdRemoveDbcFirst = 50000, ///< + i: remove database i
    kCmdRemoveDbcLast = 57000,
};

/// One item of a menu. `id` 0 with `channel` 3 or 4 is that channel's setup popup; `id` 0 without
/// channel is the database removal popup; `id` -1 is a separator.
struct MenuItem {
    int id;
    const wchar_t* label;     ///< with "&" before the mnemonic
    const wchar_t* shortcut;  ///< "Ctrl+Shift+S"; empty for none
    int channel = 0;
    bool shortcutShownOnly = false;  ///< shown beside the item, handled elsewhere (Alt+F4)
};

struct Menu {
    const wchar_t* title;
    const MenuItem* items;
    std::size_t count;
};

/// The menu bar in order.
extern const std::array<Menu, 4> kMenus;

/// The label of the database removal popup.
inline constexpr const wchar_t* kRemoveDatabaseLabel = L"&Remove database file";

/// The setup codes of the channel popups in item order.
inline constexpr std::array<std::uint32_t, 4> kSetupCodes = {2, 4, 5, 6};

/// The toolbar: commands and tool-tips in order.
struct ToolbarButton {
    int id;
    const wchar_t* tooltip;
};
extern const std::array<ToolbarButton, 8> kToolbar;

}  // namespace torvik::studio::app
