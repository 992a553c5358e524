#pragma once

// The settings dialog without its widgets: the choice between the automatic and the manual COM port, the
// list of ports to pick from, a port typed as a device path, and the download address of firmware updates.

#include <string>
#include <vector>

#include <app/startup.hpp>

namespace torvik::studio::app {

/// One entry of the port list: "COM%d - %s" with the adapter's description, or "COM%d" without one.
struct PortEntry {
    std::wstring label;
    int comPort = 0;
};

/// What the settings dialog shows and edits; the settings change only through Confirm (OK).
/// User-interface thread only.
class SettingsForm {
public:
    explicit SettingsForm(const Settings& settings);

    /// "automatic (first Torvik4 device)" is chosen.
    bool automatic() const { return automatic_; }
    /// Chooses "automatic (first Torvik4 device)": the list is disabled and keeps what it shows.
    void ChooseAutomatic();
    /// Chooses "manual selection": the list is enabled and filled again.
    void ChooseManual();
    /// Fills the list with the serial ports there are now, keeping the chosen port selected when it is
    /// still there, else selecting the first port with a known adapter (else the first port). A listing
    /// that fails leaves the list as it is.
    void FillPorts();

    const std::vector<PortEntry>& ports() const { return ports_; }
    /// The selected entry of ports(), or -1.
    int selection() const { return selection_; }
    void Select(int index);
    /// The port as text: the selected entry's label, or the device path typed in place of one.
    std::wstring PortText() const;
    /// Text typed into the list: an entry's label selects it; any other text names a port by its device
    /// path (none when empty).
    void TypePort(const std::wstring& text);

    std::wstring downloadAddress;

    /// OK: writes the form into `settings`. The manual port is the selected entry's number, or 0 when
    /// the list was filled and nothing is selected; a typed device path is kept as
    /// "ManualSetComPortPath", which a selected entry clears. A list that was never filled leaves the
    /// manual port and path as they were.
    void Confirm(Settings& settings) const;

private:
    bool automatic_;
    bool filled_ = false;
    int storedPort_;
    std::wstring typedPath_;
    std::vector<PortEntry> ports_;
    int selection_ = -1;
};

}  // namespace torvik::studio::app
