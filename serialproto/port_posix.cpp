#include "serialproto/port_posix.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace serialproto {

bool PosixPort::Fail()
{
    error_ = static_cast<std::uint32_t>(errno);
    return false;
}

bool PosixPort::Open(const std::string& path)
{
    Close();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail();
    // Exclusive use, as the Windows port is opened without sharing; reads wait in poll().
    if (::ioctl(fd, TIOCEXCL) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
        Fail();
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void PosixPort::Close()
{
    if (fd_ >= 0) {
        // The exclusive mode stays with the terminal while anyone (a simulator holding
        // its pty, say) keeps it open: give it up so that the port can be opened again.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
    fd_ = -1;
}

static bool SpeedConstant(std::uint32_t speed, speed_t& out)
{
    static const struct {
        std::uint32_t baud;
        speed_t value;
    } table[] = {
        {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
        {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
    };
    for (const auto& t : table)
        if (t.baud == speed) {
            out = t.value;
            return true;
        }
    return false;
}

bool PosixPort::SetLine(std::uint32_t speed)
{
    if (fd_ < 0) {
        errno = EBADF;
        return Fail();
    }
    speed_t constant;
    if (!SpeedConstant(speed, constant)) {
        errno = EINVAL;
        return Fail();
    }
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return Fail();
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, constant) != 0 || ::cfsetospeed(&t, constant) != 0) return Fail();
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return Fail();
    return true;
}

bool PosixPort::SetReadTimeout(std::uint32_t ms)
{
    if (fd_ < 0) {
        errno = EBADF;
        return Fail();
    }
    timeoutMs_ = ms;
    return true;
}

SerialPort::Read PosixPort::ReadByte(std::uint8_t& b)
{
    if (fd_ < 0) {
        errno = EBADF;
        Fail();
        return Read::Failed;
    }
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs_);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (r < 0) {
            if (errno == EINTR) continue;
            Fail();
            return Read::Failed;
        }
        if (r == 0) return Read::Timeout;
        if (p.revents & POLLIN) {
            const ssize_t n = ::read(fd_, &b, 1);
            if (n == 1) return Read::Byte;
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n == 0) return Read::Timeout;
            Fail();
            return Read::Failed;
        }
        // Hang-up or error without data: the other end is gone.
        errno = EIO;
        Fail();
        return Read::Failed;
    }
}

bool PosixPort::Write(const std::uint8_t* data, std::size_t n)
{
    if (fd_ < 0) {
        errno = EBADF;
        return Fail();
    }
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd_, data + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return Fail();
        }
        done += static_cast<std::size_t>(w);
    }
    return true;
}

void PosixPort::PurgeInput()
{
    if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
}

} // namespace serialproto
