#include "serial_rate.hpp"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace torvik::platform::detail {

int SetArbitraryRate(int fd, std::uint32_t baud_bps)
{
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return -1;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud_bps;
    tio.c_ospeed = baud_bps;
    return ioctl(fd, TCSETS2, &tio);
}

}  // namespace torvik::platform::detail
