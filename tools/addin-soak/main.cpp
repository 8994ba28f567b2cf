// addin-soak: many receipts through the add-in library, loaded as the platform loads it,
// against the simulated network register, with a fault switched on at random (fixed seed)
// for each receipt's CloseCheck. When CloseCheck fails the host closes again once, as a
// cashier would; then it cancels. At the end the register's journal is compared with what
// the host was told, receipt by receipt (each sells goods named after its number).
//
//   addin-soak [--receipts N] [--seed S] [--items K] [--auth none|basic|digest] [--library PATH]
//
// The register runs in a child process, so that the memory figures are the host's alone;
// the faults are switched through a pipe. Exit status: 0 when no receipt was recorded twice
// and none reported successful was missing, and every receipt reported failed but recorded
// was one whose answer the driver never got and that the next CloseCheck settled; 1 otherwise;
// 2 when the run itself broke.
#include "addin_host.h"
#include "netsim.h"

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
    unsigned seed = 20261208;
    int items = 3;
    std::string auth = "digest";
    std::string library = ADDIN_LIBRARY;
};

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr, "addin-soak: %s\nusage: addin-soak [--receipts N] [--seed S] [--items K] "
                         "[--auth none|basic|digest] [--library PATH]\n", why);
    std::exit(2);
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (i + 1 >= argc) usage(("missing value for " + opt).c_str());
        const std::string value = argv[++i];
        if (opt == "--receipts") o.receipts = std::atoi(value.c_str());
        else if (opt == "--seed") o.seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        else if (opt == "--items") o.items = std::atoi(value.c_str());
        else if (opt == "--auth") o.auth = value;
        else if (opt == "--library") o.library = value;
        else usage(("unknown option " + opt).c_str());
    }
    if (o.receipts < 1 || o.items < 1 || o.items > 50) usage("--receipts and --items must be positive (items at most 50)");
    if (o.auth != "none" && o.auth != "basic" && o.auth != "digest") usage("--auth expects none, basic or digest");
    return o;
}

// ---- faults, by name, with their weights in the draw

// The add-in waits 5 s for an answer; a stall must outlast that.
constexpr int kStallMs = 5600;

struct FaultKind {
    const char* name;
    int weight;
};

// Every receipt draws one; most go through untouched.
const std::vector<FaultKind>& faultKinds()
{
    static const std::vector<FaultKind> kinds = {
        {"none", 60},
        {"drop-after-recording", 8},   // the receipt is recorded, its answer lost
        {"stall", 1},                  // recorded, answered after the time-out
        {"status-500", 5},             // refused with 500, not recorded
        {"malformed", 5},              // recorded, answered with broken JSON
        {"deflate", 5},                // compressed answers
        {"401-loop", 5},               // every login refused
        {"reset", 5},                  // connection reset before the receipt is carried out
        {"html-booked", 2},            // recorded, answered 200 with an HTML page
        {"html-unbooked", 2},          // not carried out, answered 200 with an HTML page
        {"array-booked", 2},           // recorded, answered 200 with a JSON array
        {"broken-unbooked", 2},        // not carried out, answered 200 with broken JSON
    };
    return kinds;
}

netsim::Faults faultsNamed(const std::string& name)
{
    netsim::Faults f;
    const std::string chk = "/cgi/chk";
    if (name == "drop-after-recording") f.dropAfter.insert(chk);
    else if (name == "stall") f.stallAfterMs[chk] = kStallMs;
    else if (name == "status-500") f.status[chk] = 500;
    else if (name == "malformed") f.malformed.insert(chk);
    else if (name == "deflate") f.deflate = true;
    else if (name == "401-loop") f.always401 = true;
    else if (name == "reset") f.reset.insert(chk);
    else if (name == "html-booked" || name == "html-unbooked") {
        f.documentAnswer = netsim::Faults::BadAnswer::Html;
        f.documentAnswerBooked = name == "html-booked";
    } else if (name == "array-booked") {
        f.documentAnswer = netsim::Faults::BadAnswer::Array;
        f.documentAnswerBooked = true;
    } else if (name == "broken-unbooked") {
        f.documentAnswer = netsim::Faults::BadAnswer::Broken;
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
    void setFaults(const std::string& name)
    {
        std::fprintf(out_, "fault %s\n", name.c_str());
        std::fflush(out_);
        if (readLine() != "ok") throw std::runtime_error("the simulated register refused fault " + name);
    }

private:
    std::string readLine()
    {
        char line[256];
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
            netsim::Config config;
            config.auth = auth == "basic" ? netsim::Auth::Basic : auth == "digest" ? netsim::Auth::Digest : netsim::Auth::None;
            netsim::Simulator sim(config);
            sim.start();
            std::fprintf(out, "%u\n", static_cast<unsigned>(sim.port()));
            std::fflush(out);
            char line[256];
            while (std::fgets(line, sizeof line, in)) {
                std::string command(line);
                while (!command.empty() && command.back() == '\n') command.pop_back();
                if (command == "quit") break;
                if (command.compare(0, 6, "fault ") == 0) {
                    sim.setFaults(faultsNamed(command.substr(6)));
                    std::fputs("ok\n", out);
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
};

// ---- the register's journal, read directly (not through the add-in)

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
            session_.sendRequest(request);
            Poco::Net::HTTPResponse response;
            std::istream& in = session_.receiveResponse(response);
            std::string body;
            Poco::StreamCopier::copyToString(in, body);
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
        throw std::runtime_error(path + ": login refused");
    }

    int64_t lastId() { return get("/cgi/state.php").extract<Poco::JSON::Object::Ptr>()->getValue<Poco::Int64>("chkId"); }

    // Receipt number (from the goods' names) -> sale records holding it, for records from `from` on.
    std::map<int, int> soldReceipts(int64_t from)
    {
        std::map<int, int> count;
        for (int64_t next = from;;) {
            const auto records = get("/cgi/chk?id=" + std::to_string(next)).extract<Poco::JSON::Array::Ptr>();
            if (records->size() == 0) break;
            for (std::size_t i = 0; i < records->size(); ++i) {
                const auto record = records->getObject(static_cast<unsigned>(i));
                next = std::max<int64_t>(next, record->getValue<Poco::Int64>("id") + 1);
                const auto lines = record->getArray("F");
                if (!lines || lines->size() == 0) continue;
                const auto first = lines->getObject(0);
                if (!first || !first->has("S")) continue;
                const std::string name = first->getObject("S")->getValue<std::string>("name");
                int receipt = -1;
                if (std::sscanf(name.c_str(), "soak-%d/", &receipt) == 1) ++count[receipt];
            }
        }
        return count;
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

// The start of the driver's message for a document whose fate it could not establish.
const char16_t kCouldNotTell[] = u"Не удалось установить по журналу регистратора";

bool succeeded(const CallResult& r) { return r.ok && r.result == Value::boolean(true); }

std::string why(const CallResult& r)
{
    if (!r.errors.empty()) return "error " + std::to_string(r.errors[0].wcode) + " " + toUtf8(r.errors[0].description);
    if (!r.alerts.empty()) return "message " + toUtf8(r.alerts[0]);
    return "no reason given";
}

struct Outcome {
    std::string fault;
    bool firstOk = false;
    bool secondOk = false;
    bool firstUnknowable = false;       // the first close got no answer, or none it could read
                                        // and no journal that tells
    bool recordedAfterFirst = false;    // the journal held it when the first close failed
    bool attempted = false;             // the receipt reached CloseCheck
    std::string firstWhy;
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
        Component comp = host.create();
        comp.set("LogLevel", Value::i4(2));   // errors only, as in production
        comp.set("DefaultTaxGroup", Value::i4(1));
        comp.set("IP", Value::str(toUtf16(address)));
        comp.set("Password", Value::str(u"384190"));
        const CallResult opened = comp.call("Open", {Value::str(u"")});
        if (!succeeded(opened)) throw std::runtime_error("Open failed: " + why(opened));
        const long rssStart = residentKb();
        long rssEarly = rssStart;
        const int early = std::max(1, o.receipts / 10);
        const std::size_t blocksStart = host.memory().outstanding();

        std::mt19937 random(o.seed);
        int totalWeight = 0;
        for (const FaultKind& k : faultKinds()) totalWeight += k.weight;
        std::vector<Outcome> outcomes(static_cast<std::size_t>(o.receipts));
        std::map<std::string, int> drawn;
        const Clock::time_point start = Clock::now();

        for (int n = 0; n < o.receipts; ++n) {
            if (n == early) rssEarly = residentKb();
            Outcome& out = outcomes[static_cast<std::size_t>(n)];
            int pick = static_cast<int>(random() % static_cast<unsigned>(totalWeight));
            for (const FaultKind& k : faultKinds()) {
                if (pick < k.weight) {
                    out.fault = k.name;
                    break;
                }
                pick -= k.weight;
            }
            ++drawn[out.fault];

            const CallResult open = comp.call("OpenCheck", {Value::str(u""), Value::boolean(true), Value::boolean(false),
                                                            Value::boolean(true), Value::i4(0), Value::i4(0)});
            if (!succeeded(open)) {
                std::fprintf(stderr, "receipt %d: OpenCheck failed (%s)\n", n, why(open).c_str());
                continue;
            }
            double total = 0;
            bool itemsOk = true;
            for (int k = 0; k < o.items; ++k) {
                const double qty = 1 + (n + k) % 3, price = 1 + (n * 7 + k * 13) % 400 / 4.0;
                total += qty * price;
                char name[32];
                std::snprintf(name, sizeof name, "soak-%05d/%d", n, k);
                const CallResult item = comp.call("PrintFiscalString",
                                                  {Value::str(u""), Value::str(toUtf16(name)), Value::r8(qty),
                                                   Value::r8(price), Value::r8(qty * price), Value::i4(1), Value::r8(0)});
                if (!succeeded(item)) {
                    std::fprintf(stderr, "receipt %d: PrintFiscalString failed (%s)\n", n, why(item).c_str());
                    itemsOk = false;
                    break;
                }
            }
            if (!itemsOk) {
                comp.call("CancelCheck", {Value::str(u"")});
                continue;
            }
            const int64_t before = journal.lastId();
            out.attempted = true;
            if (out.fault != "none") reg.setFaults(out.fault);
            const std::vector<Value> sums = {Value::str(u""), Value::r8(0), Value::r8(total), Value::r8(0), Value::r8(0)};
            const CallResult first = comp.call("CloseCheck", sums);
            if (out.fault != "none") reg.setFaults("none");
            out.firstOk = succeeded(first);
            if (!out.firstOk) {
                out.firstWhy = why(first);
                // A driver error is a network failure (no answer); the driver's message that
                // it could not tell is an answer and a journal it could not read.
                out.firstUnknowable = !first.errors.empty() ||
                                      (!first.alerts.empty() && first.alerts[0].find(kCouldNotTell) != std::u16string::npos);
                out.recordedAfterFirst = journal.soldReceipts(before + 1).count(n) != 0;
                // The cashier closes once more; then gives the receipt up.
                const CallResult second = comp.call("CloseCheck", sums);
                out.secondOk = succeeded(second);
                if (!out.secondOk) comp.call("CancelCheck", {Value::str(u"")});
            }
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        comp.call("Close", {Value::str(u"")});
        const long rssEnd = residentKb();
        const std::size_t blocksEnd = host.memory().outstanding();

        // The journal against what the host was told.
        const std::map<int, int> sold = journal.soldReceipts(1);
        int once = 0, twice = 0, lost = 0, failedRecorded = 0, failedRecordedKnowable = 0, failedRecordedUnsettled = 0;
        int failedAbsent = 0, notAttempted = 0;
        for (int n = 0; n < o.receipts; ++n) {
            const Outcome& out = outcomes[static_cast<std::size_t>(n)];
            const auto it = sold.find(n);
            const int times = it == sold.end() ? 0 : it->second;
            const bool reportedOk = out.firstOk || out.secondOk;
            if (!out.attempted) ++notAttempted;
            if (times > 1) {
                ++twice;
                std::printf("  receipt %d (%s) found %d times\n", n, out.fault.c_str(), times);
            }
            if (reportedOk && times == 1) ++once;
            if (reportedOk && times == 0) {
                ++lost;
                std::printf("  receipt %d (%s) reported successful but absent\n", n, out.fault.c_str());
            }
            if (out.attempted && !out.firstOk && out.recordedAfterFirst) {
                ++failedRecorded;
                if (!out.firstUnknowable) {
                    ++failedRecordedKnowable;
                    std::printf("  receipt %d (%s) reported failed with an answer in hand (%s) but recorded\n", n,
                                out.fault.c_str(), out.firstWhy.c_str());
                }
                if (!out.secondOk) {
                    ++failedRecordedUnsettled;
                    std::printf("  receipt %d (%s) recorded, not settled by the next CloseCheck\n", n, out.fault.c_str());
                }
            }
            if (!reportedOk && times == 0) ++failedAbsent;
        }

        std::printf("add-in soak: %d receipts of %d items, seed %u, authentication %s, %.1f s\n", o.receipts, o.items,
                    o.seed, o.auth.c_str(), elapsed);
        std::printf("  faults drawn:");
        for (const FaultKind& k : faultKinds()) std::printf(" %s %d", k.name, drawn[k.name]);
        std::printf("\n");
        std::printf("  reported successful, found once:           %d\n", once);
        std::printf("  found twice or more (must be 0):           %d\n", twice);
        std::printf("  reported successful but absent (must be 0): %d\n", lost);
        std::printf("  reported failed but recorded:              %d (no answer or journal the driver could read: %d; "
                    "settled by the next CloseCheck: %d)\n",
                    failedRecorded, failedRecorded - failedRecordedKnowable, failedRecorded - failedRecordedUnsettled);
        std::printf("  reported failed, not recorded:             %d\n", failedAbsent);
        if (notAttempted) std::printf("  not brought to CloseCheck:                 %d\n", notAttempted);
        std::printf("  host memory: %ld kB resident at the start, %ld kB after %d receipts, %ld kB at the end; "
                    "host blocks held by the add-in %zu at the start, %zu at the end\n",
                    rssStart, rssEarly, early, rssEnd, blocksStart, blocksEnd);
        const bool bad = twice || lost || failedRecordedKnowable || failedRecordedUnsettled || notAttempted;
        std::printf("  %s\n", bad ? "FAILED" : "ok");
        return bad ? 1 : 0;
    } catch (const Poco::Exception& e) {
        std::fprintf(stderr, "addin-soak: %s\n", e.displayText().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "addin-soak: %s\n", e.what());
    }
    return 2;
}
