// oltra-netsim: a network fiscal register of the Oltra series, simulated. It serves the
// register's CGI resources over HTTP (with Basic or Digest authentication), keeps a fiscal
// state (journal, receipt and Z numbers, shift totals, cash in the drawer), prints a
// readable tape, answers SSDP searches, and injects faults on request. It shares no code
// with the driver: the wire format is implemented here on its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "simulators/netreg/tape.h"

namespace Poco {
namespace Dynamic {
class Var;
}
} // namespace Poco

namespace netsim {

// Device type answered to SSDP searches. The driver searches for the same literal: the
// two sides agree on it by this text alone.
constexpr const char* kDeviceType = "urn:veltor.ua:device:fp:1";

enum class Auth { None, Basic, Digest };

// Faults, by request path without query ("/cgi/state.php"); the path "*" means every path.
// Every fault acts the same way each time: none is random.
struct Faults {
    std::map<std::string, int> delayMs;                       // answer only after this long
    std::map<std::string, int> status;                        // answer this HTTP status (404, 500, ...)
    std::set<std::string> malformed;                          // answer broken JSON
    std::map<std::string, std::string> err;                   // answer {"err":"CODE"}
    std::map<std::string, std::vector<std::string>> errArray; // answer {"err":[{"e":"CODE"},...]}
    std::map<std::string, std::size_t> oversize;              // pad the answer with blanks to this size
    std::set<std::string> dropAfter;                          // carry the request out, then drop the connection
    std::map<std::string, int> stallAfterMs;                  // carry the request out, then wait before answering
    bool always401 = false;                                   // refuse every login
    bool deflate = false;                                     // "Content-Encoding: deflate" bodies
    bool bom = false;                                         // bodies start with a UTF-8 BOM

    // On the wire (answers after a successful login only). The answer closes the connection.
    struct Drip {
        int ms = 0;
        bool head = true; // the status line and headers
        bool body = true;
    };
    std::map<std::string, Drip> drip;       // send one byte every ms
    std::map<std::string, int> stallBodyMs; // send the head and the first half of the body, wait, send the rest

    // Connections: reset (TCP RST) without carrying the request out.
    std::set<std::string> reset; // every request to the path
    int resetAfter = -1;         // on each connection, every request after the first N (-1: none)

    // Documents POSTed to "/cgi/chk" other than the copy and the null receipt: receipts
    // (F, R, P) and cash in/out (IO).
    // Empty: 200 with "Content-Length: 0"; Close: 200, the head without a length, then
    // the connection closes (no body).
    enum class BadAnswer { None, Html, Array, Broken, Empty, Close };
    BadAnswer documentAnswer = BadAnswer::None; // answer 200 with an HTML page, a JSON array, broken JSON, nothing
    bool documentAnswerBooked = false;          // ... after carrying the document out (else it is not)
    int documentStatus = 0;                     // answer this status with an HTML page, not carrying it out
    bool documentStatusBooked = false;          // ... after carrying the document out
    std::string documentReason;                 // ... with this reason phrase (empty: the standard one)
    // Book this document, as another till's, before each POST to /cgi/chk; "same": a copy
    // of the receipt or cash document being POSTed (an identical basket from another till).
    std::string foreignDocument;

    // A fault switch that acts only on the Nth request (or the Nth and every later one)
    // after each document POSTed to /cgi/chk (F, R, P, IO; booked or not), counting the
    // requests to `path` only, or every request when it is empty. Requests answered 401
    // are not counted.
    struct AfterDocument {
        std::string path;
        int nth = 1;
        bool onward = false;
        std::string option; // the switch's name ("status")
        std::string value;  // its value, without the path of a per-path switch ("500")
    };
    std::vector<AfterDocument> afterDocument;

    // The journal ("GET /cgi/chk?id=N") as a hostile or odd register would give it.
    struct Journal {
        bool empty = false;   // [] whatever was asked
        bool stale = false;   // the (at most 10) records before N instead of those from N on
        int page = 0;         // at most this many records per answer (0: the usual 200)
        bool strings = false; // every number written as a string
        int names = 0;        // item names cut to this many characters (0: whole)
        bool noId = false;    // records without "id"
        int huge = 0;         // the page's last record repeated until it holds this many
        bool any() const { return empty || stale || page || strings || names || noId || huge; }
    };
    Journal journal;

    // Something that is not a register: this status (404, 500) with an HTML page on every
    // path, without a login. 0: off.
    int notRegister = 0;

    // Login. As a register's web server does, credentials sent before a challenge are
    // accepted: a Digest nonce serves requests with an increasing nc (a nonce count not
    // above the last one is refused) until it has served nonceUses requests or is
    // nonceSeconds old (0: no limit), and is then answered 401 with stale=true; Basic
    // credentials count on any request. With challengeFirst a nonce serves the one request
    // answering its challenge, and Basic credentials count only in answer to a 401 sent to
    // the same client host.
    bool challengeFirst = false;
    int nonceUses = 0;
    int nonceSeconds = 0;
};

// A fault switch as a command-line option "--NAME ARGUMENT", which the console switches
// too while the simulator runs.
struct FaultOption {
    const char* name;     // "delay"
    const char* argument; // what its value looks like ("PATH=MS"); "" for a switch without one
    const char* help;
    bool perPath; // takes several PATH arguments (several options, or blank-separated)
    std::function<void(Faults&, const std::string&)> apply; // throws std::invalid_argument
    std::function<void(Faults&)> clear;
    std::function<std::vector<std::string>(const Faults&)> values; // as arguments; empty when off
};
const std::vector<FaultOption>& faultOptions();
const FaultOption* findFaultOption(const std::string& name);
// Switches one fault: off clears it, on replaces its value (blank-separated arguments for
// a per-path option). Throws std::invalid_argument, leaving `faults` as it was.
void switchFault(Faults& faults, const std::string& name, bool on, const std::string& value);
// The current arguments of the option, blank-separated.
std::string faultValue(const Faults& faults, const FaultOption& option);
// Adds the rule's switch to `faults`, for every path when the switch is a per-path one.
// Throws std::invalid_argument for an unknown switch or a bad value.
void applyAfterDocument(Faults& faults, const Faults::AfterDocument& rule);

struct Config {
    std::string bind = "127.0.0.1";
    uint16_t port = 0; // 0: any free port
    std::string user = "service";
    std::string password = "384190";
    Auth auth = Auth::Digest;
    std::string stateDir;   // empty: state kept in memory only
    std::string tape;       // empty: no tape; "-": standard output; else a file
    std::string requestLog; // empty: none; else a file getting one JSON line per request
    bool ssdp = false;
    std::string clock; // "YYYY-MM-DD HH:MM:SS" (UTC) fixes the register clock
    std::string model = "Oltra-T 600";
    std::string name = "Oltra";
    std::string serial = "ON40001234";
    int displayWidth = 32;
    std::string console; // "[ADDR:]PORT" of the browser console; empty: none
    Faults faults;
};

// One request as received (after authentication).
struct Request {
    std::string method;
    std::string uri;
    std::string body;
};

// Requests counted per connection, and the requests answered 401 (over every request
// received, also those refused or reset).
struct ConnectionCount {
    uint64_t id = 0; // connections are numbered from 1 in the order they open
    uint64_t requests = 0;
    uint64_t unauthorised = 0;
};
struct Traffic {
    uint64_t connections = 0; // opened since the count was cleared
    uint64_t requests = 0;
    uint64_t unauthorised = 0;
    // The last 1000 connections opened, or used, since the count was cleared; oldest first.
    std::vector<ConnectionCount> perConnection;
};

// Answer of the register side before faults and encodings.
struct Answer {
    int status = 200;
    std::string body;
};

// The register's fiscal side: pure request -> answer, thread-safe.
class Register {
public:
    Register(const Config& config, Tape& tape);
    ~Register();
    Answer handle(const std::string& method, const std::string& path, const std::string& query,
                  const std::string& body);
    // The root key of a document for "/cgi/chk": "F", "R", "P", "IO", "L" as given, "{}" for
    // the null receipt, empty when it is no document.
    static std::string documentKind(const std::string& body);
    // The journal's answer to "GET /cgi/chk?QUERY" shaped by `faults`.
    Answer journalAnswer(const std::string& query, const Faults::Journal& faults);
    // Parses "YYYY-MM-DD HH:MM:SS" as UTC seconds; -1 when malformed.
    static int64_t parseClock(const std::string& text);
    // The state the console shows: {"title","display","logo","fiscal"}.
    std::string consoleState();

    // Defined with the register's rules: its state, a document POSTed to "/cgi/chk", a
    // receipt while its elements are checked.
    struct State;
    struct Document;
    struct Receipt;
private:
    Answer state();
    Answer postDocument(const std::string& body);
    Answer postNullReceipt(const Document& doc);
    Answer postCopy();
    Answer postCash(const Document& doc);
    Answer postReceipt(const Document& doc);
    void settle(const std::string& kind, Receipt& receipt);
    // Appends a journal record {"id","no","time",KIND:content}; returns its id.
    int64_t record(const std::string& kind, const Poco::Dynamic::Var& content, int32_t no, int64_t time);
    std::string tapeHeader() const;
    Answer journal(const std::string& query);
    Answer report(const std::string& query);
    Answer fmReport(const std::string& query);
    Answer drawer();
    Answer screen(const std::string& method, const std::string& body);
    int64_t now() const;
    void load();
    void save();

    const Config config_;
    Tape& tape_;
    int64_t fixedClock_ = -1;
    std::mutex mutex_;
    std::unique_ptr<State> s_;
};

class Simulator {
public:
    explicit Simulator(const Config& config);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    void start(); // listens (and answers SSDP when configured); throws on failure
    void stop();  // idempotent; aborts open connections and delayed answers
    uint16_t port() const;
    std::string address() const;    // "host:port" to hand to a client
    std::string consoleUrl() const; // "http://ADDR:PORT/" of the console; empty: none

    void setFaults(const Faults& faults);
    Faults faults() const;
    std::vector<Request> requests() const; // last 1000 requests, oldest first
    void clearRequests();
    Traffic traffic() const;
    void clearTraffic();
    // Books a document as another till would POST it to "/cgi/chk" (no faults, no login, not
    // counted); returns the register's answer.
    std::string bookForeign(const std::string& document);

    struct Impl;
private:
    std::unique_ptr<Impl> impl_;
};

} // namespace netsim
