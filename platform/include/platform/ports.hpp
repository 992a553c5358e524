#pragma once

#include <optional>
#include <string>
#include <vector>

namespace torvik::platform {

/// One serial device as the tools show it.
struct PortInfo {
    int com_number = 0;       ///< n of its name COM<n>; 0 when the device has no COM name
    std::string path;         ///< absolute device path, /dev/ttyUSB0
    std::string description;  ///< USB product string of the adapter ("Torvik4"), else empty
};

/// The COM number of a device path by the fixed rule of the tool set:
///   /dev/ttyUSB<k> -> COM<k+1>     (USB serial adapters; COM1 to COM100)
///   /dev/ttyACM<k> -> COM<k+101>   (USB modem-class devices; COM101 to COM200)
///   /dev/ttyS<k>   -> COM<k+201>   (on-board ports; COM201 and up)
/// The rule depends only on the kernel's device name, so a name stays the same while the device stays
/// plugged in. Returns 0 for any other path.
int ComNumberForPath(const std::string& path);

/// The device path of COM<n> by the same rule; empty for n < 1.
std::string PathForComNumber(int com_number);

/// Every serial device, in COM-number order (devices without a COM name last, by path). Uses the
/// injected table when one is set, else asks udev.
std::vector<PortInfo> ListSerialPorts();

/// The device path for a port name: an absolute path is taken as it is; COM<n> (any case) is looked up in
/// the injected table when one is set, else mapped by the rule above. Anything else gives nullopt.
std::optional<std::string> ResolvePortName(const std::string& name);

/// Replaces the udev enumeration and the COM rule by a fixed table (tests), or restores them (nullopt).
void SetPortTable(std::optional<std::vector<PortInfo>> table);

}  // namespace torvik::platform
