#pragma once

#include <optional>
#include <string>
#include <vector>

#include <devicelink/export.hpp>

namespace torvik::devicelink {

/// A serial device as sessions see it.
struct PortEntry {
    int com_number = 0;       ///< n of COM<n>; 0 when the device has no COM name
    std::string path;         ///< absolute device path
    std::string description;  ///< USB product string of the adapter, else empty
};

/// Every serial device that a session can connect to, in COM-number order.
TORVIK_API std::vector<PortEntry> ListPorts();

/// Replaces the device enumeration and the COM-name rule for every session of this process (tests), or
/// restores them (nullopt).
TORVIK_API void SetPortTable(std::optional<std::vector<PortEntry>> table);

}  // namespace torvik::devicelink
