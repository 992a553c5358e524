#pragma once

// Which serial port a device job talks to: chosen automatically by the adapter's product string, or set
// by the user as a COM number or a device path.

#include <string>

namespace torvik::studio {

/// The product string of the device's USB serial adapter.
inline constexpr const wchar_t* kDeviceAdapterName = L"Torvik4";

struct PortChoice {
    bool automatic = true;
    int manualComPort = -1;
    std::string manualPath;  ///< takes the place of manualComPort when not empty
};

/// The port to use: automatic, the first port whose adapter calls itself exactly "Torvik4" (as COM<n>);
/// manual, the path when one is set, else COM<n>. Empty when there is none.
std::string ChoosePort(const PortChoice& choice);

}  // namespace torvik::studio
