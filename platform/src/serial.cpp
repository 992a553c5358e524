#include <platform/serial.hpp>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "serial_rate.hpp"

namespace torvik::platform {

namespace {

std::error_code LastError()
{
    return {errno, std::generic_category()};
}

using SteadyClock = std::chrono::steady_clock;

int RemainingMs(SteadyClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) {
        return 0;
    }
    return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

// Waits until fd is ready for the given events or the deadline passes: 1 ready, 0 time-out, -1 error.
int WaitReady(int fd, short events, SteadyClock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, RemainingMs(deadline));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r > 0 && (p.revents & (POLLERR | POLLNVAL)) != 0 && (p.revents & events) == 0) {
            errno = (p.revents & POLLNVAL) != 0 ? EBADF : EIO;
            return -1;
        }
        return r < 0 ? -1 : (r == 0 ? 0 : 1);
    }
}

SerialTransfer ReadFd(int fd, std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms)
{
    SerialTransfer result;
    if (count == 0) {
        return result;
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const int ready = WaitReady(fd, POLLIN, deadline);
        if (ready < 0) {
            result.error = LastError();
            return result;
        }
        if (ready == 0) {
            return result;
        }
        const ssize_t n = ::read(fd, buffer, count);
        if (n > 0) {
            result.count = static_cast<std::size_t>(n);
            return result;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        // A hang-up (read of 0 after POLLHUP) or a real error; both end the transfer.
        result.error = n == 0 ? std::error_code(EIO, std::generic_category()) : LastError();
        return result;
    }
}

SerialTransfer WriteFd(int fd, const std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms)
{
    SerialTransfer result;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
    while (result.count < count) {
        const ssize_t n = ::write(fd, buffer + result.count, count - result.count);
        if (n > 0) {
            result.count += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            result.error = LastError();
            return result;
        }
        const int ready = WaitReady(fd, POLLOUT, deadline);
        if (ready < 0) {
            result.error = LastError();
            return result;
        }
        if (ready == 0) {
            result.error = std::make_error_code(std::errc::timed_out);
            return result;
        }
    }
    return result;
}

bool IsPtyDevice(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    // Unix98 pseudo-terminal slaves have majors 136 to 143.
    const unsigned int dev_major = major(st.st_rdev);
    return dev_major >= 136 && dev_major <= 143;
}

void MakeRaw(termios& tio)
{
    ::cfmakeraw(&tio);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL | CRTSCTS);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

}  // namespace

SerialDevice::~SerialDevice()
{
    Close();
}

std::error_code SerialDevice::Open(const std::string& path)
{
    if (fd_ >= 0) {
        return std::make_error_code(std::errc::device_or_resource_busy);
    }
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return LastError();
    }
    if (!::isatty(fd)) {
        const auto error = LastError();
        ::close(fd);
        return error;
    }
    // No sharing, as the device expects one talker at a time. Exclusive mode does not bind a privileged
    // process, so a lock on the device says "in use" to every opener; it is taken first, so that an
    // opener that is turned away leaves the holder's exclusive mode alone.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const auto error =
            errno == EWOULDBLOCK ? std::make_error_code(std::errc::device_or_resource_busy) : LastError();
        ::close(fd);
        return error;
    }
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        const auto error = LastError();
        ::close(fd);
        return error;
    }
    fd_ = fd;
    pty_ = IsPtyDevice(fd);
    return {};
}

std::error_code SerialDevice::ReadSettings()
{
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        return LastError();
    }
    return {};
}

std::error_code SerialDevice::ApplySettings(const SerialSettings& settings)
{
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        return LastError();
    }
    MakeRaw(tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    switch (settings.byte_size) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            return std::make_error_code(std::errc::invalid_argument);
    }
    switch (settings.stop_bits) {
        case 0:
            break;
        case 1:
        case 2:
            tio.c_cflag |= CSTOPB;
            break;
        default:
            return std::make_error_code(std::errc::invalid_argument);
    }
    switch (settings.parity) {
        case 0:
            break;
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
        case 3:
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return std::make_error_code(std::errc::invalid_argument);
    }
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        // A pseudo-terminal may refuse line settings it has no use for; raw mode is what matters there.
        if (!pty_) {
            return LastError();
        }
        termios raw{};
        if (::tcgetattr(fd_, &raw) == 0) {
            MakeRaw(raw);
            ::tcsetattr(fd_, TCSANOW, &raw);
        }
    }
    if (detail::SetArbitraryRate(fd_, settings.baud_bps) != 0 && !pty_) {
        return LastError();
    }
    return {};
}

std::error_code SerialDevice::SetModemLines(bool dtr, bool rts)
{
    if (pty_) {
        return std::make_error_code(std::errc::inappropriate_io_control_operation);
    }
    const int dtrBit = TIOCM_DTR;
    const int rtsBit = TIOCM_RTS;
    if (::ioctl(fd_, dtr ? TIOCMBIS : TIOCMBIC, &dtrBit) != 0 || ::ioctl(fd_, rts ? TIOCMBIS : TIOCMBIC, &rtsBit) != 0) {
        return LastError();
    }
    return {};
}

SerialTransfer SerialDevice::Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms)
{
    if (fd_ < 0) {
        return {0, std::make_error_code(std::errc::bad_file_descriptor)};
    }
    return ReadFd(fd_, buffer, count, timeout_ms);
}

SerialTransfer SerialDevice::Write(const std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms)
{
    if (fd_ < 0) {
        return {0, std::make_error_code(std::errc::bad_file_descriptor)};
    }
    return WriteFd(fd_, buffer, count, timeout_ms);
}

std::error_code SerialDevice::Purge()
{
    if (fd_ < 0) {
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    if (::tcflush(fd_, TCIOFLUSH) != 0) {
        return LastError();
    }
    return {};
}

std::error_code SerialDevice::Close()
{
    if (fd_ < 0) {
        return {};
    }
    ::ioctl(fd_, TIOCNXCL);
    const int fd = fd_;
    fd_ = -1;
    pty_ = false;
    // Never retried: the descriptor is gone after the first call whatever it returned.
    if (::close(fd) != 0 && errno != EINTR) {
        return LastError();
    }
    return {};
}

PseudoTerminal::~PseudoTerminal()
{
    Close();
}

std::error_code PseudoTerminal::Open()
{
    Close();
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return LastError();
    }
    char name[128];
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        const auto error = LastError();
        ::close(fd);
        return error;
    }
    const int keep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keep < 0) {
        const auto error = LastError();
        ::close(fd);
        return error;
    }
    termios tio{};
    if (::tcgetattr(keep, &tio) == 0) {
        MakeRaw(tio);
        ::tcsetattr(keep, TCSANOW, &tio);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    fd_ = fd;
    keep_fd_ = keep;
    path_ = name;
    return {};
}

SerialTransfer PseudoTerminal::Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms)
{
    if (fd_ < 0) {
        return {0, std::make_error_code(std::errc::bad_file_descriptor)};
    }
    return ReadFd(fd_, buffer, count, timeout_ms);
}

SerialTransfer PseudoTerminal::Write(const std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms)
{
    if (fd_ < 0) {
        return {0, std::make_error_code(std::errc::bad_file_descriptor)};
    }
    return WriteFd(fd_, buffer, count, timeout_ms);
}

void PseudoTerminal::Close() noexcept
{
    if (keep_fd_ >= 0) {
        ::close(keep_fd_);
        keep_fd_ = -1;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    path_.clear();
}

}  // namespace torvik::platform
