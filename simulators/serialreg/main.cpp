// peltra-serialsim: a fiscal register on a pseudo-terminal, for the serial driver's
// tests and for trying the driver without a device.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "simulators/console/console.h"
#include "simulators/serialreg/console_link.h"
#include "simulators/serialreg/line.h"
#include "simulators/serialreg/simulator.h"

using namespace serialsim;

namespace {

volatile bool g_stop = false;
void OnSignal(int) { g_stop = true; }

const char kUsage[] = "Usage: peltra-serialsim [OPTIONS]\n"
                      "Plays a fiscal cash register on a pseudo-terminal. The first line on standard output\n"
                      "is \"PTY <path>\" once the terminal is ready; open that path (or the --link path)\n"
                      "as the serial port. Runs until SIGTERM or SIGINT.\n"
                      "\n"
                      "Options:\n"
                      "  --link PATH           also make PATH a symbolic link to the terminal (replaces an\n"
                      "                        existing link; removed at exit)\n"
                      "  --baud N|auto         line speed for pacing the output, 10 bits per byte; auto\n"
                      "                        (default) follows the speed the driver sets on the line\n"
                      "  --log FILE|-          log of what was received and answered (- = standard error)\n"
                      "  --tape FILE|-         the printed tape: receipts, comments, safe operations (UTF-8;\n"
                      "                        - = standard output, after the PTY line)\n"
                      "  --clock \"YYYY-MM-DD HH:MM:SS\"\n"
                      "                        register time at start (default: the local time); it runs on\n"
                      "  --frozen-clock        the register time does not advance\n"
                      "  --ext-status N        extended status byte at start (default 0x20: shift open)\n"
                      "  --model TEXT          model text in the status answer (19 bytes)\n"
                      "  --fiscal-number TEXT  fiscal number in the status answer (10 bytes)\n"
                      "  --taxpayer TEXT       a tax-payer line (up to three; UTF-8, sent in code page 866)\n"
                      "  --tax-number TEXT     tax number text, sent after three tax-payer lines\n"
                      "  --sw-version TEXT     firmware version, sent after the tax number\n"
                      "  --busy-percent N      time the register is busy (SYN) before it answers a command,\n"
                      "                        in percent of its usual time (default 100)\n"
                      "  --books FILE          the register's books (shift totals, receipt, tax table,\n"
                      "                        articles) as key=value lines, rewritten at start and\n"
                      "                        before each answer\n"
                      "  --console [ADDR:]PORT serve the browser console (tape, display, books, frames with\n"
                      "                        their meaning, fault switches) on ADDR (default 127.0.0.1);\n"
                      "                        PORT 0 picks a free one. Its address follows the PTY line as\n"
                      "                        \"console on URL\". A fault switched there acts from the next\n"
                      "                        command\n"
                      "  --password ID=N       password of user ID (0 to 15; default 0 for all); user 0's\n"
                      "                        password guards the programming commands\n"
                      "  --logo FILE           keep the logo the driver programs as a PBM file (removed\n"
                      "                        when the logo is cleared)\n"
                      "  --control PATH        make PATH a named pipe and read control lines from it; each\n"
                      "                        takes effect at the next command: \"fault SPEC\", \"clear\"\n"
                      "                        (all faults), \"ext-status N\", \"clock YYYY-MM-DD HH:MM:SS\"\n"
                      "  --fault SPEC          inject a fault; may be repeated. SPEC is\n"
                      "                        KIND[=VALUE][,cmd=HEX][,count=N]: only for command HEX,\n"
                      "                        only for the next N matching answers (1 to 1000000; default:\n"
                      "                        all). VALUE is 0 to 255 for error, status and ext-status, 0\n"
                      "                        to 600000 ms for the rest. Kinds:\n";

std::string ToOem(const std::string& utf8)
{
    iconv_t cd = iconv_open("CP866", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
    std::string out(utf8.size() + 1, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size(), outLeft = out.size();
    char* o = &out[0];
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1)) {
            if (outLeft == 0) break;
            *o++ = '?'; // no place in the code page
            --outLeft;
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "peltra-serialsim: %s\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    RegisterState state;
    std::vector<Fault> faults;
    std::string linkPath, logPath, controlPath, tapePath, booksPath, consoleListen;
    long baud = 0;
    long busyPercent = 100;
    bool clockSet = false;
    int taxPayers = 0;

    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(FaultHelp().c_str(), stdout);
            return 0;
        }
        if (opt == "--frozen-clock") {
            state.frozenClock = true;
            continue;
        }
        if (i + 1 >= argc) return Fail("option " + opt + " needs a value (see --help)");
        const char* v = argv[++i];
        if (opt == "--link") {
            linkPath = v;
        } else if (opt == "--baud") {
            char* end = nullptr;
            if (std::strcmp(v, "auto") == 0) {
                baud = 0;
            } else if ((baud = std::strtol(v, &end, 10)) < 50 || baud > 4000000 || *end) {
                return Fail(std::string("bad line speed: ") + v);
            }
        } else if (opt == "--busy-percent") {
            char* end = nullptr;
            busyPercent = std::strtol(v, &end, 10);
            if (busyPercent < 0 || busyPercent > 1000 || *end || !*v)
                return Fail(std::string("bad --busy-percent value: ") + v);
        } else if (opt == "--control") {
            controlPath = v;
        } else if (opt == "--console") {
            consoleListen = v;
            std::string address, error;
            std::uint16_t port = 0;
            if (!simconsole::parseListenAddress(v, address, port, error)) return Fail("--console: " + error);
        } else if (opt == "--books") {
            booksPath = v;
        } else if (opt == "--tape") {
            tapePath = v;
        } else if (opt == "--log") {
            logPath = v;
        } else if (opt == "--clock") {
            if (!ParseClock(v, state.clockBase)) return Fail(std::string("bad --clock value: ") + v);
            clockSet = true;
        } else if (opt == "--ext-status") {
            char* end = nullptr;
            const long n = std::strtol(v, &end, 0);
            if (*end || n < 0 || n > 255) return Fail(std::string("bad --ext-status value: ") + v);
            state.extStatus = static_cast<std::uint8_t>(n);
        } else if (opt == "--model") {
            state.model = v;
        } else if (opt == "--fiscal-number") {
            state.fiscalNumber = v;
        } else if (opt == "--taxpayer") {
            if (taxPayers >= 3) return Fail("at most three --taxpayer lines");
            state.taxPayer[taxPayers++] = ToOem(v);
        } else if (opt == "--tax-number") {
            state.taxNumber = ToOem(v);
        } else if (opt == "--password") {
            int id = -1;
            long pw = -1;
            char tail = 0;
            if (std::sscanf(v, "%d=%li%c", &id, &pw, &tail) != 2 || id < 0 || id >= RegisterState::kUsers || pw < 0 ||
                pw > 0xFFFF)
                return Fail(std::string("bad --password value: ") + v);
            state.users[id].password = static_cast<std::uint16_t>(pw);
        } else if (opt == "--logo") {
            state.logoFile = v;
        } else if (opt == "--sw-version") {
            state.version = v;
        } else if (opt == "--fault") {
            Fault f;
            std::string error;
            if (!ParseFault(v, f, error)) return Fail(error);
            faults.push_back(f);
        } else {
            return Fail("unknown option " + opt + " (see --help)");
        }
    }
    if (!clockSet) {
        // The local wall-clock time, kept as naive fields.
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        state.clockBase = timegm(&tm);
    }
    state.books.shift.opened = state.Now();

    std::FILE* log = nullptr;
    if (logPath == "-") {
        log = stderr;
    } else if (!logPath.empty()) {
        log = std::fopen(logPath.c_str(), "w");
        if (!log) return Fail(logPath + ": " + std::strerror(errno));
    }

    if (tapePath == "-") {
        state.tape = stdout;
    } else if (!tapePath.empty()) {
        state.tape = std::fopen(tapePath.c_str(), "w");
        if (!state.tape) return Fail(tapePath + ": " + std::strerror(errno));
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Line line;
    std::string error;
    if (!line.Open(error)) return Fail(error);
    line.SetBaud(static_cast<std::uint32_t>(baud));
    if (!linkPath.empty()) {
        char existing[4096];
        if (::readlink(linkPath.c_str(), existing, sizeof existing) >= 0) ::unlink(linkPath.c_str());
        if (::symlink(line.SlavePath().c_str(), linkPath.c_str()) != 0)
            return Fail(linkPath + ": " + std::strerror(errno));
    }
    int control = -1;
    if (!controlPath.empty()) {
        struct stat st {};
        if (::lstat(controlPath.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) ::unlink(controlPath.c_str());
        if (::mkfifo(controlPath.c_str(), 0600) != 0) return Fail(controlPath + ": " + std::strerror(errno));
        // Kept open for reading, so writers never block on opening it.
        control = ::open(controlPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (control < 0) return Fail(controlPath + ": " + std::strerror(errno));
    }

    Simulator sim(line, state, faults, log);
    sim.SetControl(control);
    sim.SetBusyPercent(static_cast<unsigned>(busyPercent));
    sim.SetBooks(booksPath);
    sim.WriteBooks();
    std::unique_ptr<ConsoleLink> console;
    if (!consoleListen.empty()) {
        console = std::make_unique<ConsoleLink>(consoleListen, sim, state);
        try {
            console->Start();
        } catch (const std::exception& e) {
            return Fail(e.what());
        }
        sim.SetObserver(console.get());
    }
    std::printf("PTY %s\n", line.SlavePath().c_str());
    if (console) std::printf("console on %s\n", console->Url().c_str());
    std::fflush(stdout);
    sim.Run(g_stop);
    sim.SetObserver(nullptr);
    console.reset();

    if (control >= 0) {
        ::close(control);
        ::unlink(controlPath.c_str());
    }
    if (!linkPath.empty()) ::unlink(linkPath.c_str());
    if (log && log != stderr) std::fclose(log);
    if (state.tape && state.tape != stdout) std::fclose(state.tape);
    return 0;
}
