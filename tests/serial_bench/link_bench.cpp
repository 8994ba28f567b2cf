// serial_link_bench: N GetDate commands over a serial port (a register or the
// simulator), timed, next to the wire time of the bytes exchanged (10 bits per byte).
//   serial_link_bench PORT [N] [BAUD]      (defaults: 200 commands, 19200 baud)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serialproto/commands.h"
#include "serialproto/link.h"
#ifdef _WIN32
#include "serialproto/port_win32.h"
using Port = serialproto::Win32Port;
static bool OpenPort(Port& p, const char* name) { return p.Open(name); }
#else
#include "serialproto/port_posix.h"
using Port = serialproto::PosixPort;
static bool OpenPort(Port& p, const char* name) { return p.Open(name); }
#endif

namespace {

// Counts the bytes on the line: frames sent and received, and single control bytes.
class ByteCounter : public serialproto::LinkLog {
public:
    void DataLine(const char* label, const std::uint8_t*, std::size_t count) override
    {
        if (std::strcmp(label, "->") == 0 || std::strcmp(label, "<-") == 0 || std::strcmp(label, "<!") == 0 ||
            std::strcmp(label, "<?") == 0 || std::strcmp(label, "<<") == 0)
            bytes += count;
        if (std::strcmp(label, "->") == 0) ++exchanges;
    }
    void RawLine(const char* text) override
    {
        if (std::strncmp(text, "<- ", 3) == 0) ++bytes;
    }
    unsigned long bytes = 0, exchanges = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::printf("Usage: %s PORT [N] [BAUD]\n"
                    "Sends N GetDate commands (default 200) at BAUD (default 19200) and prints the\n"
                    "time per command, the wire time of its bytes at 10 bits per byte, and their ratio.\n",
                    argv[0]);
        return argc < 2 ? 2 : 0;
    }
    const long n = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 200;
    const long baud = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 19200;
    if (n < 1 || n > 1000000 || baud < 300 || baud > 4000000) {
        std::fprintf(stderr, "bad count or speed\n");
        return 2;
    }
    Port port;
    if (!OpenPort(port, argv[1]) || !port.SetLine(static_cast<std::uint32_t>(baud))) {
        std::fprintf(stderr, "%s: system error %u\n", argv[1], port.SystemError());
        return 1;
    }
    serialproto::SystemClock clock;
    ByteCounter counter;
    serialproto::Link link(clock, &counter);
    link.Attach(&port);
    std::string date;
    if (serialproto::QueryDate(link, date) != fpresult::kOk) { // warm-up
        std::fprintf(stderr, "no answer from the register\n");
        return 1;
    }
    counter = ByteCounter();
    const auto start = std::chrono::steady_clock::now();
    long failures = 0;
    for (long i = 0; i < n; ++i)
        if (serialproto::QueryDate(link, date) != fpresult::kOk) ++failures;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The ACK after each frame is not logged: one byte per exchange.
    const double bytesPerCommand = static_cast<double>(counter.bytes + counter.exchanges) / static_cast<double>(n);
    const double perCommandMs = seconds * 1000.0 / static_cast<double>(n);
    const double wireMs = bytesPerCommand * 10.0 * 1000.0 / static_cast<double>(baud);
    std::printf("commands %ld, failed %ld, date %s\n", n, failures, date.c_str());
    std::printf("bytes per command %.1f, baud %ld\n", bytesPerCommand, baud);
    std::printf("time per command %.2f ms, wire time %.2f ms, ratio %.2f\n", perCommandMs, wireMs,
                perCommandMs / wireMs);
    return failures ? 1 : 0;
}
