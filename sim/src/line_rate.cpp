#include "line_rate.hpp"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace torvik::sim {

std::uint32_t LineRate(int fd)
{
    struct termios2 tio {};
    if (fd < 0 || ioctl(fd, TCGETS2, &tio) != 0) {
        return 0;
    }
    return tio.c_ospeed;
}

}  // namespace torvik::sim
