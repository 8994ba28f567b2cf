#include "simulators/serialreg/line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace serialsim {

Line::~Line()
{
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

bool Line::Open(std::string& error)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ::ptsname(master_);
    if (!name) {
        error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = slavePath_ + ": " + std::strerror(errno);
        return false;
    }
    termios t{};
    if (::tcgetattr(slave_, &t) != 0) {
        error = std::string("tcgetattr: ") + std::strerror(errno);
        return false;
    }
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B19200);
    ::cfsetospeed(&t, B19200);
    if (::tcsetattr(slave_, TCSANOW, &t) != 0) {
        error = std::string("tcsetattr: ") + std::strerror(errno);
        return false;
    }
    return true;
}

std::uint32_t Line::Baud() const { return fixedBaud_ ? fixedBaud_ : DriverBaud(); }

std::uint32_t Line::DriverBaud() const
{
    termios t{};
    if (slave_ < 0 || ::tcgetattr(slave_, &t) != 0) return 19200;
    static const struct {
        speed_t s;
        std::uint32_t baud;
    } table[] = {
        {B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    };
    const speed_t s = ::cfgetospeed(&t);
    for (const auto& e : table)
        if (e.s == s) return e.baud;
    return 19200;
}

std::chrono::nanoseconds Line::ByteTime() const
{
    // Start bit, 8 data bits, stop bit.
    return std::chrono::nanoseconds(10'000'000'000LL / Baud());
}

Line::Read Line::ReadByte(std::uint8_t& b, int timeoutMs, const volatile bool& stop)
{
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (stop) return Read::Stopped;
        int wait = 200;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
            if (left <= 0) return Read::Timeout;
            if (left < wait) wait = static_cast<int>(left);
        }
        pollfd p{master_, POLLIN, 0};
        const int r = ::poll(&p, 1, wait);
        if (r < 0 && errno != EINTR) return Read::Stopped;
        if (r > 0 && (p.revents & POLLIN)) {
            const ssize_t n = ::read(master_, &b, 1);
            if (n == 1) return Read::Byte;
            if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EIO) return Read::Stopped;
        }
    }
}

void Line::Write(const Bytes& bytes)
{
    const auto step = ByteTime();
    for (const std::uint8_t b : bytes) {
        const auto now = std::chrono::steady_clock::now();
        if (nextFree_ > now) std::this_thread::sleep_until(nextFree_);
        nextFree_ = std::max(nextFree_, now) + step;
        // A full buffer means nobody reads the line: the byte is lost, as on a real line.
        while (::write(master_, &b, 1) < 0 && errno == EINTR) {}
    }
}

void Line::WaitWireTime(std::chrono::steady_clock::time_point since, std::size_t count) const
{
    std::this_thread::sleep_until(since + ByteTime() * static_cast<long>(count));
}

} // namespace serialsim
