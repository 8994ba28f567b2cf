// The simulators' browser console: a small HTTP/1.1 server in a thread of its own that
// serves one page (inline CSS and script, nothing fetched from elsewhere) and a JSON API:
//
//   GET  /                      the page
//   GET  /api/state             the register's state (an object the simulator composes)
//   GET  /api/tape?since=N      printed lines numbered after N
//   GET  /api/exchanges?since=N requests and answers numbered after N
//   GET  /api/faults            the fault switches and their values
//   POST /api/faults            {"name":..., "on":true|false, "value":...} switches one
//   GET  /api/events            server-sent events naming what changed
//
// The console knows nothing of a register: the simulator hands it callbacks (`Hooks`)
// and calls `notify()` when something changed. `TapeFeed` and `ExchangeFeed` are bounded,
// numbered logs a simulator may keep for the tape and the exchanges.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simulators/console/http.h"

namespace simconsole {

// One fault switch as the page shows it. `value` is the argument the fault takes on the
// command line ("/cgi/chk=500", "=3,cmd=12"); empty for a fault without one.
struct FaultSwitch {
    std::string name;
    std::string help;
    std::string argument; // what the value looks like ("PATH=MS"), empty: no value
    bool on = false;
    std::string value;
};

struct Hooks {
    // The state as a JSON object. Members the page knows: "title" (text), "display"
    // ({"width":N,"lines":[...]}), "logo" ({"width":W,"height":H,"bits":BASE64} with rows
    // of W/8 bytes, most significant bit leftmost, 1 = black; or null), "fiscal" (an
    // object shown as nested tables).
    std::function<std::string()> state;
    // {"first":F,"last":L,"lines":[...]}: see TapeFeed::json.
    std::function<std::string(std::uint64_t since)> tape;
    // {"first":F,"last":L,"exchanges":[...]}: see ExchangeFeed::json.
    std::function<std::string(std::uint64_t since)> exchanges;
    std::function<std::vector<FaultSwitch>()> faults;
    // Switches one fault; false with `error` set when the name or the value is wrong.
    std::function<bool(const std::string& name, bool on, const std::string& value, std::string& error)> setFault;
};

// Bounded log of numbered JSON objects (numbers from 1, never reused).
class Feed {
public:
    // An answer holds entries up to about this size (at least one entry).
    static constexpr std::size_t kAnswerBytes = 1024 * 1024;

    explicit Feed(std::size_t capacity, std::size_t perAnswer = 1000) : capacity_(capacity), perAnswer_(perAnswer) {}
    // Adds an object (its members as JSON text without the braces); returns its number.
    std::uint64_t add(const std::string& members);
    std::uint64_t last() const;
    // {"first":F,"last":L,"<listName>":[{"n":N,...},...]}: the entries numbered after
    // `since`, at most `perAnswer` of them and about kAnswerBytes; F is the oldest number
    // still kept (0: none).
    std::string json(const std::string& listName, std::uint64_t since) const;

private:
    mutable std::mutex mutex_;
    std::size_t capacity_, perAnswer_;
    std::deque<std::string> entries_;
    std::uint64_t last_ = 0;
};

// The printed tape, one entry per line: {"n":N,"text":"..."}, or {"n":N,"logo":true}
// where the register printed its logo.
class TapeFeed {
public:
    explicit TapeFeed(std::size_t capacity = 20000) : feed_(capacity) {}
    // Adds each line of `text` (a final line end adds no empty line).
    std::uint64_t print(const std::string& text);
    std::uint64_t printLogo();
    std::uint64_t last() const { return feed_.last(); }
    std::string json(std::uint64_t since) const { return feed_.json("lines", since); }

private:
    Feed feed_;
};

// One request and its answer as the page lists them (each text kept up to 64 KiB).
struct Exchange {
    std::string title;   // "POST /cgi/chk", "0x12 SaleArticle"
    std::string request; // what came in (a body, frame bytes in hex)
    std::string answer;  // what went out
    std::string note;    // what it meant ("200", "error 0x11: ...")
    bool ok = true;
};

// {"n":N,"time":"HH:MM:SS.mmm","title":...,"request":...,"answer":...,"note":...,"ok":...}
class ExchangeFeed {
public:
    explicit ExchangeFeed(std::size_t capacity = 500) : feed_(capacity, 200) {}
    std::uint64_t add(const Exchange& e);
    std::uint64_t last() const { return feed_.last(); }
    std::string json(std::uint64_t since) const { return feed_.json("exchanges", since); }

private:
    Feed feed_;
};

// "[ADDR:]PORT" of --console: loopback unless an address is given. False with `error`.
bool parseListenAddress(const std::string& text, std::string& address, std::uint16_t& port, std::string& error);

class Server {
public:
    struct Options {
        std::string address = "127.0.0.1";
        std::uint16_t port = 0; // 0: any free port
        std::string title = "Register console";
        Limits limits;
        int maxConnections = 32;
        int maxEventStreams = 16;  // of the connections, event streams at most (503 past them)
        int idleTimeoutMs = 15000; // a connection with no whole request for so long is closed
    };

    Server(Hooks hooks, Options options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens and starts the thread; throws std::runtime_error when it cannot listen.
    void start();
    void stop(); // idempotent; closes every connection
    std::uint16_t port() const;
    std::string url() const; // "http://ADDR:PORT/"

    // Tells the page's event stream that something changed: "state", "tape",
    // "exchanges" or "faults". Cheap; may be called from any thread.
    void notify(const std::string& topic);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The page served at "/" (page.html, built in).
const std::string& pageHtml();

} // namespace simconsole
