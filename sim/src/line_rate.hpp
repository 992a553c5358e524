#pragma once

#include <cstdint>

namespace torvik::sim {

/// The output rate a tty is set to, in bits per second, any rate the kernel takes; 0 when unknown.
/// Apart because the kernel's termios2 headers clash with <termios.h>.
std::uint32_t LineRate(int fd);

}  // namespace torvik::sim
