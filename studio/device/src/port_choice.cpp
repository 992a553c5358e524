#include <device/port_choice.hpp>

#include <platform/ports.hpp>
#include <platform/text.hpp>

namespace torvik::studio {

std::string ChoosePort(const PortChoice& choice)
{
    if (!choice.automatic) {
        if (!choice.manualPath.empty()) {
            return choice.manualPath;
        }
        return choice.manualComPort >= 0 ? "COM" + std::to_string(choice.manualComPort) : std::string();
    }
    // The same list, in the same COM order, that the flash library's port functions give.
    for (const auto& port : platform::ListSerialPorts()) {
        if (port.com_number > 0 && platform::FromUtf8(port.description) == kDeviceAdapterName) {
            return "COM" + std::to_string(port.com_number);
        }
    }
    return {};
}

}  // namespace torvik::studio
