// addin-soak: money documents through the add-in library, loaded as the platform loads it,
// against the simulated network register, with a fault drawn (fixed seed) for each
// document at one of its steps: before the POST (the state probe that anchors it), on the
// POST (answer lost, late, refused, reset, not JSON, empty, a 502 page, a login loop), on
// the requests after the booking (the state probe and the thank-you display lines), in the
// journal the driver settles an unanswered document by (empty, stale, short pages, numbers
// as strings, shortened names, records without "id", pages dripped just under the time-out,
// huge pages), and a second till selling the identical basket on the same register.
// Receipts and cash documents (cash in and cash out) alike.
//
// Till A is the one under test; till B, a second component on the same register, sells
// the same basket (or books the same cash) when the fault says so. For every document A
// does what a cashier does:
//   - CloseCheck (CashInOutcome) True: sold.
//   - False, and the driver says the register did not record it (or refused it): sell
//     again, a new document with the same goods.
//   - False, and the driver cannot tell (no answer, "check the tape"): close (or post the
//     cash document) once more as the message asks; if that still can't tell, check the
//     tape (here: the register's journal, read directly), then CancelCheck, and sell again
//     only when the tape lacks it.
// At the end the register's journal is compared with what the host was told, document by
// document (each receipt sells goods named after its number, each cash document an amount
// of its own).
//
//   addin-soak [--receipts N] [--cash N] [--seed S] [--items K] [--auth none|basic|digest]
//              [--quick] [--library PATH]
//
// --quick leaves out the faults that wait out a time-out (for the short run in the tests).
// The register runs in a child process, so that the memory figures are the host's alone;
// the faults are switched through a pipe. Exit status: 0 when no document was booked
// twice, none reported successful was missing and every document the driver could not
// settle was settled by the cashier's step; 1 otherwise; 2 when the run itself broke.
#include "tools/addin-host/addin_host.h"
#include "simulators/netreg/embedded.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPCredentials.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace addinhost;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int receipts = 2000;
    int cash = 200;
    unsigned seed = 20261208;
    int items = 3;
    bool quick = false;
    std::string auth = "digest";
    std::string library = ADDIN_LIBRARY;
};

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
                 "addin-soak: %s\nusage: addin-soak [--receipts N] [--cash N] [--seed S] [--items K] "
                 "[--auth none|basic|digest] [--quick] [--library PATH]\n",
                 why);
    std::exit(2);
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--quick") {
            o.quick = true;
            continue;
        }
        if (i + 1 >= argc) usage(("missing value for " + opt).c_str());
        const std::string value = argv[++i];
        if (opt == "--receipts") o.receipts = std::atoi(value.c_str());
        else if (opt == "--cash") o.cash = std::atoi(value.c_str());
        else if (opt == "--seed") o.seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        else if (opt == "--items") o.items = std::atoi(value.c_str());
        else if (opt == "--auth") o.auth = value;
        else if (opt == "--library") o.library = value;
        else usage(("unknown option " + opt).c_str());
    }
    if (o.receipts < 1 || o.items < 1 || o.items > 50 || o.cash < 0 || o.cash > 9000)
        usage("--receipts and --items must be positive (items at most 50), --cash from 0 to 9000");
    if (o.auth != "none" && o.auth != "basic" && o.auth != "digest") usage("--auth expects none, basic or digest");
    return o;
}

// ---- faults: the simulator's switches ("NAME=VALUE;NAME=VALUE", values as on its command
// line) while the first attempt runs, and while the cashier settles the document

struct FaultKind {
    const char* name;
    const char* step; // where in the document's life it strikes
    int weight;
    const char* first;    // while the first CloseCheck / CashInOutcome runs
    const char* settling; // afterwards, until the cashier is done with the document
    bool secondTill;      // till B sells the same basket right after the first attempt
    bool slow;            // waits out the driver's 5 s time-out
    int busy = 0;         // null receipts till B prints right after the first attempt
};

// The driver waits 5 s for an answer: a stall outlasts that, a drip stays just under it.
const std::vector<FaultKind>& faultKinds()
{
    static const std::vector<FaultKind> kinds = {
        {"none", "none", 24, "", "", false, false},
        {"probes-fail", "before the POST", 6, "status=/cgi/state.php=500", "", false, false},
        {"probes-fail+answer-lost", "before the POST", 6, "status=/cgi/state.php=500;drop-after=/cgi/chk", "", false,
         false},
        {"answer-lost", "on the POST", 6, "drop-after=/cgi/chk", "", false, false},
        {"answer-late", "on the POST", 1, "stall-after=/cgi/chk=5600", "", false, true},
        {"refused-500", "on the POST", 6, "status=/cgi/chk=500", "", false, false},
        {"reset", "on the POST", 6, "reset=/cgi/chk", "", false, false},
        {"malformed-booked", "on the POST", 6, "malformed=/cgi/chk", "", false, false},
        {"login-loop", "on the POST", 4, "always-401", "", false, false},
        {"deflate", "on the POST", 4, "deflate", "", false, false},
        {"html-booked", "on the POST", 6, "document-answer=html:booked", "", false, false},
        {"html-not-booked", "on the POST", 6, "document-answer=html", "", false, false},
        {"array-booked", "on the POST", 4, "document-answer=array:booked", "", false, false},
        {"broken-not-booked", "on the POST", 4, "document-answer=broken", "", false, false},
        {"empty-booked", "on the POST", 6, "document-answer=empty:booked", "", false, false},
        {"empty-not-booked", "on the POST", 6, "document-answer=empty", "", false, false},
        {"close-booked", "on the POST", 6, "document-answer=close:booked", "", false, false},
        {"close-not-booked", "on the POST", 6, "document-answer=close", "", false, false},
        {"502-booked", "on the POST", 6, "document-status=502:booked", "", false, false},
        {"502-not-booked", "on the POST", 4, "document-status=502", "", false, false},
        {"probe-500", "after the booking", 6, "after-document=/cgi/state.php@1:status=500", "", false, false},
        {"probe-malformed", "after the booking", 6, "after-document=/cgi/state.php@1:malformed", "", false, false},
        {"probe-stall", "after the booking", 1, "after-document=/cgi/state.php@1:stall-after=5600", "", false, true},
        {"probe-drop", "after the booking", 6, "after-document=/cgi/state.php@1:drop-after", "", false, false},
        {"probes-fail-after", "after the booking", 6, "after-document=/cgi/state.php@1+:status=500", "", false, false},
        {"display-stall", "after the booking", 1, "after-document=/cgi/scr@1:stall-after=5600", "", false, true},
        {"display-reset", "after the booking", 6, "after-document=/cgi/scr@1:reset", "", false, false},
        {"display-reset-all", "after the booking", 6, "after-document=/cgi/scr@1+:reset", "", false, false},
        {"lost+journal-empty", "journal", 6, "drop-after=/cgi/chk;journal=empty", "journal=empty", false, false},
        {"lost+journal-stale", "journal", 6, "drop-after=/cgi/chk;journal=stale", "journal=stale", false, false},
        {"lost+journal-page1", "journal", 6, "drop-after=/cgi/chk;journal=page=1", "journal=page=1", false, false},
        {"lost+journal-strings", "journal", 6, "drop-after=/cgi/chk;journal=strings", "journal=strings", false, false},
        {"lost+journal-names", "journal", 6, "drop-after=/cgi/chk;journal=names=4", "journal=names=4", false, false},
        {"lost+journal-no-id", "journal", 6, "drop-after=/cgi/chk;journal=no-id", "journal=no-id", false, false},
        {"lost+journal-huge", "journal", 1, "drop-after=/cgi/chk;journal=huge=20000", "journal=huge=20000", false,
         true},
        {"lost+journal-drip", "journal", 1, "drop-after=/cgi/chk;journal=page=2",
         "stall-body=/cgi/chk=4500;journal=page=2", false, true},
        // Many records since the anchor, each page of two dripped: the settlement must stop
        // at its deadline.
        {"lost+busy+journal-drip", "journal", 1, "drop-after=/cgi/chk", "stall-body=/cgi/chk=4500;journal=page=2",
         false, true, 40},
        {"reset+journal-empty", "journal", 4, "reset=/cgi/chk;journal=empty", "journal=empty", false, false},
        {"lost+second-till", "second till", 8, "drop-after=/cgi/chk", "", true, false},
        {"reset+second-till", "second till", 8, "reset=/cgi/chk", "", true, false},
        {"502-not-booked+second-till", "second till", 4, "document-status=502", "", true, false},
    };
    return kinds;
}

// "NAME=VALUE;NAME" as switches on.
std::vector<netsim::EmbeddedSimulator::FaultSwitch> faultsOf(const std::string& spec)
{
    std::vector<netsim::EmbeddedSimulator::FaultSwitch> f;
    std::size_t start = 0;
    while (start < spec.size()) {
        std::size_t end = spec.find(';', start);
        if (end == std::string::npos) end = spec.size();
        const std::string one = spec.substr(start, end - start);
        const auto eq = one.find('=');
        if (!one.empty()) f.push_back({one.substr(0, eq), eq == std::string::npos ? "" : one.substr(eq + 1)});
        start = end + 1;
    }
    return f;
}

// ---- the register in a child process

class RegisterProcess {
public:
    explicit RegisterProcess(const std::string& auth)
    {
        int toChild[2], toParent[2];
        if (::pipe(toChild) != 0 || ::pipe(toParent) != 0) throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::close(toChild[1]);
            ::close(toParent[0]);
            ::_exit(serve(auth, toChild[0], toParent[1]));
        }
        ::close(toChild[0]);
        ::close(toParent[1]);
        out_ = ::fdopen(toChild[1], "w");
        in_ = ::fdopen(toParent[0], "r");
        port_ = static_cast<uint16_t>(std::atoi(readLine().c_str()));
        if (port_ == 0) throw std::runtime_error("the simulated register did not start");
    }
    ~RegisterProcess()
    {
        if (out_) {
            std::fputs("quit\n", out_);
            std::fflush(out_);
            std::fclose(out_);
        }
        if (in_) std::fclose(in_);
        int status = 0;
        if (pid_ > 0) ::waitpid(pid_, &status, 0);
    }
    RegisterProcess(const RegisterProcess&) = delete;
    RegisterProcess& operator=(const RegisterProcess&) = delete;

    uint16_t port() const { return port_; }
    void setFaults(const std::string& spec)
    {
        if (spec == current_) return;
        std::fprintf(out_, "fault %s\n", spec.c_str());
        std::fflush(out_);
        if (readLine() != "ok") throw std::runtime_error("the simulated register refused faults " + spec);
        current_ = spec;
    }

private:
    std::string readLine()
    {
        char line[512];
        if (!std::fgets(line, sizeof line, in_)) throw std::runtime_error("the simulated register went away");
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        return s;
    }

    static int serve(const std::string& auth, int commands, int replies)
    {
        FILE* in = ::fdopen(commands, "r");
        FILE* out = ::fdopen(replies, "w");
        try {
            using Sim = netsim::EmbeddedSimulator;
            Sim::Options options;
            options.auth = auth == "basic" ? Sim::Auth::Basic : auth == "digest" ? Sim::Auth::Digest : Sim::Auth::None;
            Sim sim(options);
            sim.start();
            std::fprintf(out, "%u\n", static_cast<unsigned>(sim.port()));
            std::fflush(out);
            char line[512];
            while (std::fgets(line, sizeof line, in)) {
                std::string command(line);
                while (!command.empty() && command.back() == '\n') command.pop_back();
                if (command == "quit") break;
                if (command.compare(0, 5, "fault") == 0) {
                    try {
                        sim.setFaults(faultsOf(command.size() > 6 ? command.substr(6) : std::string()));
                        std::fputs("ok\n", out);
                    } catch (const std::exception& e) {
                        std::fprintf(stderr, "addin-soak register: %s\n", e.what());
                        std::fputs("?\n", out);
                    }
                } else {
                    std::fputs("?\n", out);
                }
                std::fflush(out);
            }
            sim.stop();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "addin-soak register: %s\n", e.what());
            std::fputs("0\n", out);
            std::fflush(out);
            return 1;
        }
        return 0;
    }

    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    FILE* in_ = nullptr;
    uint16_t port_ = 0;
    std::string current_;
};

// ---- the register's journal, read directly (not through the add-in), with no fault on

// A cash document's amount in cents tells which one it is: cash in 500.00 + index/100,
// cash out -(1.00 + index/100).
int64_t cashCents(int index) { return index % 2 == 0 ? 50000 + index : -(100 + index); }
int cashIndex(int64_t cents)
{
    if (cents >= 50000 && cents < 60000 && (cents - 50000) % 2 == 0) return static_cast<int>(cents - 50000);
    if (cents <= -100 && cents > -10100 && (-cents - 100) % 2 == 1) return static_cast<int>(-cents - 100);
    return -1;
}

struct Booked {
    std::map<int, int> receipts; // receipt number (from the goods' names) -> sale records
    std::map<int, int> cash;     // cash document index -> IO records
};

class JournalReader {
public:
    explicit JournalReader(uint16_t port) : session_("127.0.0.1", port), credentials_("service", "384190")
    {
        session_.setKeepAlive(true);
        session_.setTimeout(Poco::Timespan(10, 0));
    }

    Poco::Dynamic::Var get(const std::string& path)
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path, Poco::Net::HTTPMessage::HTTP_1_1);
            if (!authorization_.empty()) {
                request.set(Poco::Net::HTTPRequest::AUTHORIZATION, authorization_);
                credentials_.updateAuthInfo(request);
            }
            std::string body;
            Poco::Net::HTTPResponse response;
            try {
                session_.sendRequest(request);
                std::istream& in = session_.receiveResponse(response);
                Poco::StreamCopier::copyToString(in, body);
            } catch (const Poco::Exception&) {
                session_.reset(); // a connection the register ended: once more on a new one
                continue;
            }
            if (response.getStatus() == Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED) {
                credentials_.authenticate(request, response);
                authorization_ = request.get(Poco::Net::HTTPRequest::AUTHORIZATION);
                continue;
            }
            if (response.getStatus() != Poco::Net::HTTPResponse::HTTP_OK)
                throw std::runtime_error(path + " answered " + std::to_string(response.getStatus()));
            Poco::JSON::Parser parser;
            return parser.parse(body);
        }
        throw std::runtime_error(path + ": no answer");
    }

    int64_t lastId()
    {
        return get("/cgi/state.php").extract<Poco::JSON::Object::Ptr>()->getValue<Poco::Int64>("chkId");
    }

    // The documents of this run booked in records from `from` on.
    Booked booked(int64_t from)
    {
        Booked b;
        for (int64_t next = std::max<int64_t>(from, 1);;) {
            const auto records = get("/cgi/chk?id=" + std::to_string(next)).extract<Poco::JSON::Array::Ptr>();
            if (records->size() == 0) break;
            for (std::size_t i = 0; i < records->size(); ++i) {
                const auto record = records->getObject(static_cast<unsigned>(i));
                next = std::max<int64_t>(next, record->getValue<Poco::Int64>("id") + 1);
                if (const auto io = record->getArray("IO")) {
                    int64_t cents = 0;
                    for (std::size_t k = 0; k < io->size(); ++k) {
                        const auto e = io->getObject(static_cast<unsigned>(k));
                        if (e && e->has("IO")) cents += std::llround(e->getObject("IO")->getValue<double>("sum") * 100);
                    }
                    const int index = cashIndex(cents);
                    if (index >= 0) ++b.cash[index];
                    continue;
                }
                const auto lines = record->getArray("F");
                if (!lines || lines->size() == 0) continue;
                const auto first = lines->getObject(0);
                if (!first || !first->has("S")) continue;
                const std::string name = first->getObject("S")->getValue<std::string>("name");
                int receipt = -1;
                if (std::sscanf(name.c_str(), "soak-%d/", &receipt) == 1) ++b.receipts[receipt];
            }
        }
        return b;
    }

private:
    Poco::Net::HTTPClientSession session_;
    Poco::Net::HTTPCredentials credentials_;
    std::string authorization_;
};

long residentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    return -1;
}

bool succeeded(const CallResult& r) { return r.ok && r.result == Value::boolean(true); }

std::string why(const CallResult& r)
{
    if (!r.errors.empty()) return "error " + std::to_string(r.errors[0].wcode) + " " + toUtf8(r.errors[0].description);
    if (!r.alerts.empty()) return "message " + toUtf8(r.alerts[0]);
    return "no reason given";
}

// What the host learnt from a failed call, read as a cashier reads it.
enum class Told { Sold, NotRecorded, CannotTell };

// Texts by which the driver says it can't tell whether the register booked a document
// (it asks to close again, or to look at the tape), or that the register did not book it.
const char16_t* const kCannotTell[] = {
    u"Не удалось установить", u"ответ регистратора не получен", u"Провер", u"провер", u"ленте", u"ленту"};
const char16_t* const kNotRecorded[] = {u"не проведён", u"не проведен"};

Told toldBy(const CallResult& r)
{
    if (succeeded(r)) return Told::Sold;
    std::u16string text;
    for (const auto& a : r.alerts) text += a + u"\n";
    for (const auto& e : r.errors) text += e.description + u"\n";
    for (const char16_t* m : kCannotTell)
        if (text.find(m) != std::u16string::npos) return Told::CannotTell;
    for (const char16_t* m : kNotRecorded)
        if (text.find(m) != std::u16string::npos) return Told::NotRecorded;
    // A driver error without those words is a network failure: no answer.
    if (!r.errors.empty() || r.alerts.empty()) return Told::CannotTell;
    return Told::NotRecorded; // the register refused it with an error of its own
}

struct Document {
    bool cash = false;
    int index = 0; // receipt number or cash document index
    const FaultKind* fault = nullptr;
    bool reached = false; // came to CloseCheck / CashInOutcome
    bool soldFirst = false, soldRetry = false, soldAgain = false;
    bool foundOnTape = false; // settled by the cashier reading the tape
    int tapeChecks = 0;
    bool toldNotRecordedButBooked = false;
    bool unresolved = false;  // the cashier's step did not end the wait
    bool cancelWrong = false; // CancelCheck's account of the document disagreed with the tape
    int sellAgain = 0;        // new documents the cashier made for the same sale
    int secondTill = 0;       // identical documents till B booked (B told sold)
    std::string firstWhy, lastWhy;
};

class Till {
public:
    Till(AddinHost& host, const std::string& address, const char* label) : comp_(host.create()), label_(label)
    {
        comp_.set("LogLevel", Value::i4(2)); // errors only, as in production
        comp_.set("DefaultTaxGroup", Value::i4(1));
        comp_.set("IP", Value::str(toUtf16(address)));
        comp_.set("Password", Value::str(u"384190"));
        const CallResult opened = comp_.call("Open", {Value::str(u"")});
        if (!succeeded(opened)) throw std::runtime_error(std::string(label) + ": Open failed: " + why(opened));
    }
    ~Till() { comp_.call("Close", {Value::str(u"")}); }

    // Opens a receipt and adds its goods; false (and cancelled) when that failed.
    bool prepare(int n, int items, double& total, std::string& failure)
    {
        const CallResult open = comp_.call("OpenCheck", {Value::str(u""), Value::boolean(true), Value::boolean(false),
                                                         Value::boolean(true), Value::i4(0), Value::i4(0)});
        if (!succeeded(open)) {
            failure = "OpenCheck: " + why(open);
            return false;
        }
        for (const auto& t : open.alerts)
            if (t.find(u"Не удалось установить") != std::u16string::npos) {
                ++staleAlerts;
                std::printf("  receipt %d: OpenCheck shows an earlier document's alert again: %s\n", n,
                            toUtf8(t).c_str());
            }
        total = 0;
        for (int k = 0; k < items; ++k) {
            const double qty = 1 + (n + k) % 3, price = 1 + (n * 7 + k * 13) % 400 / 4.0;
            total += qty * price;
            char name[32];
            std::snprintf(name, sizeof name, "soak-%05d/%d", n, k);
            const CallResult item = comp_.call("PrintFiscalString",
                                               {Value::str(u""), Value::str(toUtf16(name)), Value::r8(qty),
                                                Value::r8(price), Value::r8(qty * price), Value::i4(1), Value::r8(0)});
            if (!succeeded(item)) {
                failure = "PrintFiscalString: " + why(item);
                comp_.call("CancelCheck", {Value::str(u"")});
                return false;
            }
        }
        return true;
    }
    CallResult close(double total)
    {
        return comp_.call("CloseCheck", {Value::str(u""), Value::r8(0), Value::r8(total), Value::r8(0), Value::r8(0)});
    }
    CallResult cash(int index)
    {
        return comp_.call("CashInOutcome", {Value::str(u""), Value::r8(static_cast<double>(cashCents(index)) / 100)});
    }
    CallResult cancel() { return comp_.call("CancelCheck", {Value::str(u"")}); }
    CallResult printNullReceipt() { return comp_.call("PrintNullReceipt", {Value::str(u"")}); }
    // A whole fault-free document; true when the host was told it is done.
    bool sell(const Document& d, int items, std::string& failure)
    {
        if (d.cash) {
            const CallResult r = cash(d.index);
            if (!succeeded(r)) failure = "CashInOutcome: " + why(r);
            return succeeded(r);
        }
        double total = 0;
        if (!prepare(d.index, items, total, failure)) return false;
        const CallResult r = close(total);
        if (!succeeded(r)) failure = "CloseCheck: " + why(r);
        return succeeded(r);
    }
    // After the cashier's CancelCheck nothing of the old document is left: a receipt opens
    // and is abandoned without a message.
    bool clean(std::string& failure)
    {
        const CallResult open = comp_.call("OpenCheck", {Value::str(u""), Value::boolean(true), Value::boolean(false),
                                                         Value::boolean(false), Value::i4(0), Value::i4(0)});
        const CallResult cancel = comp_.call("CancelCheck", {Value::str(u"")});
        if (succeeded(open) && open.alerts.empty() && succeeded(cancel) && cancel.alerts.empty()) return true;
        failure = "after CancelCheck: OpenCheck " + (succeeded(open) ? std::string("True") : why(open)) +
                  (open.alerts.empty() ? "" : " (" + why(open) + ")") + ", CancelCheck " +
                  (succeeded(cancel) ? std::string("True") : why(cancel));
        return false;
    }
    const char* label() const { return label_; }
    // OpenCheck alerts that a document could not be settled, after every earlier one was.
    int staleAlerts = 0;

private:
    Component comp_;
    const char* label_;
};

} // namespace

int main(int argc, char** argv)
{
    const Options o = parse(argc, argv);
    signal(SIGPIPE, SIG_IGN);
    try {
        // The register's process starts before this one has any thread.
        RegisterProcess reg(o.auth);
        JournalReader journal(reg.port());
        const std::string address = "127.0.0.1:" + std::to_string(reg.port());

        AddinHost host(o.library);
        const std::size_t blocksStart = host.memory().outstanding();
        const long rssStart = residentKb();
        long rssEarly = rssStart;
        std::vector<Document> docs;
        std::map<std::string, int> drawn;
        std::map<std::string, std::pair<int, int>> problems; // fault -> (printed twice, sold but absent)
        int bSold = 0, bFailed = 0, staleAlerts = 0;
        const Clock::time_point start = Clock::now();
        {
            Till a(host, address, "A"), b(host, address, "B");
            std::mt19937 random(o.seed);
            std::vector<const FaultKind*> kinds;
            int totalWeight = 0;
            for (const FaultKind& k : faultKinds()) {
                if (o.quick && k.slow) continue;
                kinds.push_back(&k);
                totalWeight += k.weight;
            }
            const int total = o.receipts + o.cash;
            const int early = std::max(1, total / 10);
            int receiptNo = 0, cashNo = 0;
            for (int k = 0; k < total; ++k) {
                if (k == early) rssEarly = residentKb();
                Document d;
                // Cash documents spread evenly among the receipts.
                d.cash = o.cash > 0 &&
                         (static_cast<int64_t>(k + 1) * o.cash / total != static_cast<int64_t>(k) * o.cash / total);
                d.index = d.cash ? cashNo++ : receiptNo++;
                int pick = static_cast<int>(random() % static_cast<unsigned>(totalWeight));
                for (const FaultKind* f : kinds) {
                    if (pick < f->weight) {
                        d.fault = f;
                        break;
                    }
                    pick -= f->weight;
                }
                ++drawn[d.fault->name];

                double sum = 0;
                std::string failure;
                if (!d.cash && !a.prepare(d.index, o.items, sum, failure)) {
                    std::fprintf(stderr, "receipt %d: %s\n", d.index, failure.c_str());
                    docs.push_back(d);
                    continue;
                }
                const int64_t before = journal.lastId();
                d.reached = true;
                reg.setFaults(d.fault->first);
                CallResult r = d.cash ? a.cash(d.index) : a.close(sum);
                if (d.fault->secondTill || d.fault->busy) reg.setFaults("");
                for (int i = 0; i < d.fault->busy; ++i) {
                    const CallResult null = b.printNullReceipt();
                    if (!succeeded(null)) std::fprintf(stderr, "till B, null receipt: %s\n", why(null).c_str());
                }
                d.firstWhy = d.lastWhy = why(r);
                if (d.fault->secondTill) {
                    // Till B sells the same basket (books the same cash) on the same register.
                    std::string bFailure;
                    if (b.sell(d, o.items, bFailure)) {
                        ++d.secondTill;
                        ++bSold;
                    } else {
                        ++bFailed;
                        std::fprintf(stderr, "till B, %s %d: %s\n", d.cash ? "cash" : "receipt", d.index,
                                     bFailure.c_str());
                    }
                }
                reg.setFaults(d.fault->settling);
                Told told = toldBy(r);
                d.soldFirst = told == Told::Sold;
                if (told == Told::CannotTell) {
                    // As the driver asks: close (post the cash document) once more.
                    r = d.cash ? a.cash(d.index) : a.close(sum);
                    d.lastWhy = why(r);
                    told = toldBy(r);
                    d.soldRetry = told == Told::Sold;
                }
                reg.setFaults("");
                if (told == Told::CannotTell) {
                    // The cashier reads the tape, then ends the wait with CancelCheck.
                    ++d.tapeChecks;
                    const Booked seen = journal.booked(before + 1);
                    const int mine = (d.cash ? (seen.cash.count(d.index) ? seen.cash.at(d.index) : 0)
                                             : (seen.receipts.count(d.index) ? seen.receipts.at(d.index) : 0)) -
                                     d.secondTill;
                    // What CancelCheck says it found must agree with the tape.
                    const CallResult cancelled = a.cancel();
                    std::u16string said;
                    for (const auto& t : cancelled.alerts) said += t;
                    const bool saysAbsent = said.find(u"не найден") != std::u16string::npos;
                    const bool saysRecorded = !saysAbsent && said.find(u"найден") != std::u16string::npos;
                    if ((saysAbsent && mine > 0) || (saysRecorded && mine == 0)) {
                        d.cancelWrong = true;
                        std::printf("  %s %d (%s): CancelCheck said \"%s\", the tape holds it %d times\n",
                                    d.cash ? "cash" : "receipt", d.index, d.fault->name, toUtf8(said).c_str(), mine);
                    }
                    std::string dirty;
                    if (!a.clean(dirty)) {
                        d.unresolved = true;
                        std::printf("  %s %d (%s): the cashier's CancelCheck did not end the wait: %s\n",
                                    d.cash ? "cash" : "receipt", d.index, d.fault->name, dirty.c_str());
                    }
                    if (mine > 0) d.foundOnTape = true;
                    else told = Told::NotRecorded;
                }
                if (told == Told::NotRecorded) {
                    const Booked seen = journal.booked(before + 1);
                    const int mine = (d.cash ? (seen.cash.count(d.index) ? seen.cash.at(d.index) : 0)
                                             : (seen.receipts.count(d.index) ? seen.receipts.at(d.index) : 0)) -
                                     d.secondTill;
                    if (mine > 0 && !d.tapeChecks) d.toldNotRecordedButBooked = true;
                    // The cashier sells again (once; a second failure is left to the figures).
                    ++d.sellAgain;
                    std::string again;
                    d.soldAgain = a.sell(d, o.items, again);
                    if (!d.soldAgain) {
                        std::fprintf(stderr, "%s %d (%s): sold again, failed: %s\n", d.cash ? "cash" : "receipt",
                                     d.index, d.fault->name, again.c_str());
                        a.cancel();
                    }
                }
                docs.push_back(d);
            }
            staleAlerts = a.staleAlerts + b.staleAlerts;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const long rssEnd = residentKb();
        const std::size_t blocksEnd = host.memory().outstanding();

        // The journal against what the hosts were told.
        const Booked booked = journal.booked(1);
        struct Figures {
            int documents = 0, reached = 0, soldFirst = 0, soldRetry = 0, soldAgain = 0, onTape = 0, twice = 0,
                absent = 0, notRecordedButBooked = 0, cannotTell = 0, unresolved = 0, refusedNotBooked = 0;
        } receipts, cash;
        for (const Document& d : docs) {
            Figures& f = d.cash ? cash : receipts;
            ++f.documents;
            if (!d.reached) continue;
            ++f.reached;
            const std::map<int, int>& held = d.cash ? booked.cash : booked.receipts;
            const int times = (held.count(d.index) ? held.at(d.index) : 0) - d.secondTill;
            const bool hostSold = d.soldFirst || d.soldRetry || d.soldAgain || d.foundOnTape;
            f.soldFirst += d.soldFirst;
            f.soldRetry += d.soldRetry;
            f.soldAgain += d.soldAgain;
            f.onTape += d.foundOnTape;
            f.cannotTell += d.tapeChecks > 0;
            f.unresolved += d.unresolved || d.cancelWrong;
            f.notRecordedButBooked += d.toldNotRecordedButBooked;
            const char* what = d.cash ? "cash document" : "receipt";
            if (times > 1) {
                ++f.twice;
                ++problems[d.fault->name].first;
                std::printf("  %s %d (%s, %s): booked %d times (first: %s; last: %s)\n", what, d.index, d.fault->name,
                            d.fault->step, times, d.firstWhy.c_str(), d.lastWhy.c_str());
            }
            if (hostSold && times == 0) {
                ++f.absent;
                ++problems[d.fault->name].second;
                std::printf("  %s %d (%s, %s): reported sold but absent (%s; first: %s; last: %s)\n", what, d.index,
                            d.fault->name, d.fault->step,
                            d.soldFirst     ? "at once"
                            : d.soldRetry   ? "on the retry"
                            : d.foundOnTape ? "found on the tape"
                                            : "sold again",
                            d.firstWhy.c_str(), d.lastWhy.c_str());
            }
            if (d.toldNotRecordedButBooked)
                std::printf("  %s %d (%s, %s): reported not recorded but booked (%s)\n", what, d.index, d.fault->name,
                            d.fault->step, d.lastWhy.c_str());
            if (!hostSold && times == 0) ++f.refusedNotBooked;
        }

        std::printf(
            "add-in soak: %d receipts of %d items and %d cash documents, seed %u, authentication %s%s, %.1f s\n",
            o.receipts, o.items, o.cash, o.seed, o.auth.c_str(), o.quick ? ", quick" : "", elapsed);
        std::printf("  faults drawn:");
        for (const FaultKind& k : faultKinds())
            if (drawn.count(k.name)) std::printf(" %s %d", k.name, drawn[k.name]);
        std::printf("\n");
        for (const auto* fig : {&receipts, &cash}) {
            const Figures& f = *fig;
            std::printf("  till A, %s: %d documents, %d brought to the register\n",
                        fig == &receipts ? "receipts" : "cash", f.documents, f.reached);
            std::printf("    told done: %d at once, %d on the cashier's retry, %d sold again after a failure\n",
                        f.soldFirst, f.soldRetry, f.soldAgain);
            std::printf("    printed twice (must be 0):                %d\n", f.twice);
            std::printf("    reported sold but absent (must be 0):     %d\n", f.absent);
            std::printf("    reported not recorded but booked:         %d\n", f.notRecordedButBooked);
            std::printf("    the driver could not tell:                %d (found on the tape %d, not on it and sold "
                        "again %d; the cashier's CancelCheck left the wait open or told it wrong %d)\n",
                        f.cannotTell, f.onTape, f.cannotTell - f.onTape, f.unresolved);
            std::printf("    failed and not booked, never sold:        %d\n", f.refusedNotBooked);
        }
        std::printf("  till B (identical baskets on the same register): %d told done, %d failed\n", bSold, bFailed);
        std::printf("  OpenCheck showing a settled document's alert again (must be 0): %d\n", staleAlerts);
        if (!problems.empty()) {
            std::printf("  by fault (printed twice / sold but absent):");
            for (const auto& p : problems) std::printf(" %s %d/%d", p.first.c_str(), p.second.first, p.second.second);
            std::printf("\n");
        }
        std::printf("  host memory: %ld kB resident at the start, %ld kB after a tenth of the run, %ld kB at the end; "
                    "host blocks held by the add-in %zu at the start, %zu at the end\n",
                    rssStart, rssEarly, rssEnd, blocksStart, blocksEnd);
        const bool bad = receipts.twice || receipts.absent || cash.twice || cash.absent || receipts.unresolved ||
                         cash.unresolved || receipts.notRecordedButBooked || cash.notRecordedButBooked || staleAlerts;
        std::printf("  %s\n", bad ? "FAILED" : "ok");
        return bad ? 1 : 0;
    } catch (const Poco::Exception& e) {
        std::fprintf(stderr, "addin-soak: %s\n", e.displayText().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "addin-soak: %s\n", e.what());
    }
    return 2;
}
