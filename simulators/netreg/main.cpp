// oltra-netsim: command line of the simulated network register.
#include "simulators/netreg/netsim.h"
#include "simulators/console/console.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Net/Net.h>
#include <Poco/NumberParser.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

const char kUsage[] = "Usage: oltra-netsim [options]\n"
                      "Simulated network fiscal register (Oltra series): HTTP/JSON resources, fiscal state,\n"
                      "receipt tape, SSDP answers and fault injection.\n"
                      "\n"
                      "Connection:\n"
                      "  --bind ADDR            address to listen on (default 127.0.0.1)\n"
                      "  --port N               HTTP port; 0 picks a free one (default 0)\n"
                      "  --ready-file FILE      write the port to FILE once listening\n"
                      "  --auth basic|digest|none  authentication scheme (default digest)\n"
                      "  --user NAME            user name (default service)\n"
                      "  --password TEXT        password (default 384190)\n"
                      "  --ssdp                 answer SSDP M-SEARCH for "
                      "urn:veltor.ua:device:fp:1"
                      " on UDP 1900\n"
                      "\n"
                      "Register:\n"
                      "  --model TEXT           model (default \"Oltra-T 600\"; a model with 707 numbers payments\n"
                      "                         the 707 way)\n"
                      "  --name TEXT            name (default Oltra)\n"
                      "  --serial TEXT          serial number (default ON40001234)\n"
                      "  --clock \"YYYY-MM-DD HH:MM:SS\"  fixed register clock (UTC); default the real clock\n"
                      "  --display-width N      display width in characters (default 32)\n"
                      "  --state-dir DIR        keep the fiscal state in DIR/register.json (default: in memory)\n"
                      "  --tape FILE|-          print the receipt tape and display to FILE or standard output\n"
                      "  --request-log FILE     append each request received as a JSON line\n"
                      "                         {\"method\":...,\"uri\":...,\"body\":...} to FILE\n"
                      "  --console [ADDR:]PORT  serve the browser console (tape, display, state, requests and\n"
                      "                         answers, fault switches) on ADDR (default 127.0.0.1), PORT 0 a\n"
                      "                         free one; every fault below can be switched there while it runs\n"
                      "\n"
                      "Faults (PATH is a request path without query, such as /cgi/state.php; * means all):\n"
                      "  --delay PATH=MS        answer PATH only after MS milliseconds\n"
                      "  --status PATH=CODE     answer PATH with HTTP status CODE (404, 500, ...)\n"
                      "  --malformed PATH       answer PATH with broken JSON\n"
                      "  --err PATH=CODE        answer PATH with {\"err\":\"CODE\"}\n"
                      "  --err-array PATH=C1[,C2...]  answer PATH with {\"err\":[{\"e\":\"C1\"},...]}\n"
                      "  --oversize PATH=BYTES  pad the answer of PATH with blanks to BYTES bytes (at most 17 MiB)\n"
                      "  --drop-after PATH      carry out requests to PATH, then drop the connection unanswered\n"
                      "  --stall-after PATH=MS  carry out requests to PATH, then answer only after MS milliseconds\n"
                      "  --always-401           refuse every login\n"
                      "  --deflate              send bodies with Content-Encoding: deflate\n"
                      "  --bom                  start bodies with a UTF-8 byte-order mark\n"
                      "  --stall-body PATH=MS   carry out requests to PATH, send the head and half the body,\n"
                      "                         wait MS milliseconds, then send the rest and close\n"
                      "  --drip PATH=MS[:head|:body]  send the answer of PATH one byte every MS milliseconds\n"
                      "                         (head and body, or only the part named), then close\n"
                      "  --reset PATH           reset the connection (TCP RST) on requests to PATH, without\n"
                      "                         carrying them out\n"
                      "  --reset-after N        reset each connection at its request N+1, without carrying it out\n"
                      "  --not-a-register 404|500  answer every path with this status and an HTML page, no login\n"
                      "Documents POSTed to /cgi/chk (receipts F, R, P and cash in/out IO; not the copy or the\n"
                      "null receipt):\n"
                      "  --document-answer html|array|broken|empty|close[:booked]  answer 200 with an HTML\n"
                      "                         page, a JSON array, broken JSON, an empty body (Content-Length 0)\n"
                      "                         or the head alone and a close; the document is carried out only\n"
                      "                         with :booked (and the array or broken text is then its real answer)\n"
                      "  --document-status CODE[:booked][:REASON]  answer with HTTP status CODE, reason phrase\n"
                      "                         REASON and an HTML page; carried out only with :booked\n"
                      "  --foreign-document JSON|same  before each POST to /cgi/chk, book JSON (such as {} or a\n"
                      "                         receipt) as another till's document; same: a copy of the receipt\n"
                      "                         or cash document being POSTed\n"
                      "  --after-document [PATH@]N[+]:SWITCH[=VALUE]  after each document, apply the fault\n"
                      "                         SWITCH (a per-path one to every path, VALUE without the path) to\n"
                      "                         the Nth request to PATH or to any path (N+: and every later one);\n"
                      "                         /cgi/state.php@1:status=500 fails the state probe after a receipt\n"
                      "  --journal MODE[,MODE...]  answer GET /cgi/chk?id=N oddly: empty ([]), stale (the records\n"
                      "                         before N), page=K (K records at most), strings (numbers as strings),\n"
                      "                         names=K (item names cut), no-id, huge=K (the last record repeated)\n"
                      "Login (credentials sent before a challenge are accepted: a Digest nonce serves many\n"
                      "requests with an increasing nc, Basic counts on any request):\n"
                      "  --challenge-first      accept credentials only in answer to a challenge: a nonce serves\n"
                      "                         the one request answering its challenge and Basic counts only in\n"
                      "                         answer to a 401 sent to the client's host\n"
                      "  --nonce-uses N         a nonce serves N requests, then the answer is 401 with\n"
                      "                         stale=true (default: no limit)\n"
                      "  --nonce-seconds N      a nonce lasts N seconds, then the answer is 401 with\n"
                      "                         stale=true (default: no limit)\n"
                      "  --preemptive           accepted for older scripts: the default login\n"
                      "\n"
                      "  --help                 this text\n"
                      "Runs until SIGINT or SIGTERM (Ctrl+C; on Windows also Ctrl+Break or closing its console),\n"
                      "then prints the requests received, the connections and the\n"
                      "requests answered 401.\n";

// The end of a run: SIGINT, SIGTERM or SIGHUP; on Windows the console's Ctrl+C, Ctrl+Break
// or close. Made before any thread starts (the signals are blocked for all of them and
// taken by wait()).
#ifdef _WIN32
HANDLE stopEvent = nullptr;
BOOL WINAPI onConsoleEvent(DWORD)
{
    SetEvent(stopEvent);
    return TRUE;
}
struct StopWaiter {
    StopWaiter()
    {
        stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    }
    void wait() { WaitForSingleObject(stopEvent, INFINITE); }
};
#else
struct StopWaiter {
    sigset_t signals;
    StopWaiter()
    {
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        // A client that hangs up while an answer is written must not end the simulator.
        std::signal(SIGPIPE, SIG_IGN);
    }
    void wait()
    {
        int sig = 0;
        sigwait(&signals, &sig);
    }
};
#endif

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int number(const std::string& text, const std::string& option, int low, int high)
{
    int v = 0;
    if (!Poco::NumberParser::tryParse(text, v) || v < low || v > high)
        throw UsageError(option + ": \"" + text + "\" is not a number from " + std::to_string(low) + " to " +
                         std::to_string(high));
    return v;
}

netsim::Config parse(int argc, char** argv, std::string& readyFile, bool& help)
{
    netsim::Config c;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(opt + " needs a value");
            return argv[++i];
        };
        if (opt == "--help" || opt == "-h") help = true;
        else if (opt == "--bind") c.bind = value();
        else if (opt == "--port") c.port = static_cast<uint16_t>(number(value(), opt, 0, 65535));
        else if (opt == "--ready-file") readyFile = value();
        else if (opt == "--user") c.user = value();
        else if (opt == "--password") c.password = value();
        else if (opt == "--auth") {
            const std::string a = value();
            if (a == "basic") c.auth = netsim::Auth::Basic;
            else if (a == "digest") c.auth = netsim::Auth::Digest;
            else if (a == "none") c.auth = netsim::Auth::None;
            else throw UsageError("--auth expects basic, digest or none");
        } else if (opt == "--ssdp") c.ssdp = true;
        else if (opt == "--preemptive") c.faults.challengeFirst = false; // what it switched on is the default now
        else if (opt == "--model") c.model = value();
        else if (opt == "--name") c.name = value();
        else if (opt == "--serial") c.serial = value();
        else if (opt == "--clock") {
            c.clock = value();
            if (netsim::Register::parseClock(c.clock) < 0) throw UsageError("--clock expects \"YYYY-MM-DD HH:MM:SS\"");
        } else if (opt == "--display-width") c.displayWidth = number(value(), opt, 1, 200);
        else if (opt == "--state-dir") c.stateDir = value();
        else if (opt == "--tape") c.tape = value();
        else if (opt == "--request-log") c.requestLog = value();
        else if (opt == "--console") {
            c.console = value();
            std::string address, error;
            std::uint16_t port = 0;
            if (!simconsole::parseListenAddress(c.console, address, port, error))
                throw UsageError("--console: " + error);
        } else if (const netsim::FaultOption* fault = opt.compare(0, 2, "--") == 0
                                                          ? netsim::findFaultOption(opt.substr(2))
                                                          : nullptr) {
            try {
                fault->apply(c.faults, *fault->argument ? value() : std::string());
            } catch (const std::invalid_argument& e) {
                throw UsageError(e.what());
            }
        } else throw UsageError("unknown option " + opt);
    }
    return c;
}

} // namespace

int main(int argc, char** argv)
{
    std::string readyFile;
    bool help = false;
    netsim::Config config;
    try {
        config = parse(argc, argv, readyFile, help);
    } catch (const UsageError& e) {
        std::cerr << "oltra-netsim: " << e.what() << "\nTry oltra-netsim --help.\n";
        return 2;
    }
    if (help) {
        std::cout << kUsage;
        return 0;
    }

    StopWaiter stop;
    try {
        // A static POCO on Windows starts the socket library only when asked.
        Poco::Net::initializeNetwork();
        netsim::Simulator sim(config);
        sim.start();
        std::cout << "oltra-netsim listening on http://" << sim.address() << "/ (port " << sim.port() << ")"
                  << std::endl;
        if (!sim.consoleUrl().empty()) std::cout << "console on " << sim.consoleUrl() << std::endl;
        if (!readyFile.empty()) {
            const std::string tmp = readyFile + ".tmp";
            {
                std::ofstream out(tmp);
                out << sim.port() << "\n";
            }
            Poco::File(tmp).renameTo(readyFile);
        }
        stop.wait();
        sim.stop();
        const netsim::Traffic t = sim.traffic();
        std::cout << "oltra-netsim: " << t.requests << " requests on " << t.connections << " connections, "
                  << t.unauthorised << " answered 401" << std::endl;
    } catch (const Poco::Exception& e) {
        std::cerr << "oltra-netsim: " << e.displayText() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "oltra-netsim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
