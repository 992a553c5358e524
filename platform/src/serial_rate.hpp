#pragma once

#include <cstdint>

namespace torvik::platform::detail {

/// Sets both line rates of an open tty to any value through the kernel's arbitrary-rate interface.
/// Returns 0, or -1 with errno set. Lives in its own file: the kernel's termios2 headers clash with
/// <termios.h>.
int SetArbitraryRate(int fd, std::uint32_t baud_bps);

}  // namespace torvik::platform::detail
