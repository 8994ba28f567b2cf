// The console's HTTP server: one thread, one poll loop over the listening socket, the
// connections and a wake-up channel. Every buffer and every wait is bounded: requests by
// the parser's limits and by one deadline from their first byte, answers waiting to be
// sent by kHighWater (no request is taken while a connection's answers pass it), event
// streams by kMaxEventBacklog, quiet connections by Options::idleTimeoutMs. Nothing that
// goes wrong in here (an exception of any kind, memory running out) leaves this thread:
// it costs the answer or the connection concerned, never the program.
//
// POSIX sockets and poll(), or Winsock 2 and WSAPoll() (Windows Vista and later), behind
// the few functions of `net` below.
#include "simulators/console/console.h"

#ifdef _WIN32
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600 // WSAPoll
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <stdexcept>
#include <thread>

namespace simconsole {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kHighWater = 1024 * 1024;      // answers queued on one connection before it is read again
constexpr std::size_t kMaxEventBacklog = 256 * 1024; // unsent events of a slow page
constexpr int kHeartbeatMs = 15000;

// ---- sockets: the little that differs between POSIX and Winsock ----
namespace net {

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNone = INVALID_SOCKET;
using PollFd = WSAPOLLFD;
constexpr int kSendFlags = 0;
int poll(PollFd* fds, std::size_t n, int ms) { return ::WSAPoll(fds, static_cast<ULONG>(n), ms); }
void close(Socket s) { ::closesocket(s); }
int lastError() { return ::WSAGetLastError(); }
bool transient(int e) { return e == WSAEWOULDBLOCK || e == WSAEINTR || e == WSAEINPROGRESS; }
std::string errorText(int e)
{
    char buf[256] = "";
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     static_cast<DWORD>(e), 0, buf, sizeof buf, nullptr);
    std::string text(buf, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "socket error " + std::to_string(e) : text;
}
bool prepare(Socket s)
{
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}
// Winsock counts its users: each server holds it from start() to its end.
bool startUp(std::string& error)
{
    WSADATA data;
    const int rc = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) error = "WSAStartup: " + errorText(rc);
    return rc == 0;
}
void cleanUp() { ::WSACleanup(); }
#else
using Socket = int;
const Socket kNone = -1;
using PollFd = pollfd;
constexpr int kSendFlags = MSG_NOSIGNAL;
int poll(PollFd* fds, std::size_t n, int ms) { return ::poll(fds, static_cast<nfds_t>(n), ms); }
void close(Socket s) { ::close(s); }
int lastError() { return errno; }
bool transient(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }
std::string errorText(int e) { return std::strerror(e); }
bool prepare(Socket s)
{
    const int flags = ::fcntl(s, F_GETFL);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0 && ::fcntl(s, F_SETFD, FD_CLOEXEC) == 0;
}
bool startUp(std::string&) { return true; }
void cleanUp() {}
#endif

long receive(Socket s, char* buf, std::size_t size) { return ::recv(s, buf, static_cast<int>(size), 0); }
long sendSome(Socket s, const char* data, std::size_t size)
{
    return ::send(s, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX / 2)), kSendFlags);
}

// "127.0.0.1", "[::1]": a socket's own address as a Host header names it; "" when unknown.
std::string localName(Socket s)
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return std::string();
    char host[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&a), len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return std::string();
    std::string name = host;
    if (a.ss_family != AF_INET6) return name;
    name = name.substr(0, name.find('%'));
    // An IPv4 client of a socket that takes both kinds of address.
    if (name.compare(0, 7, "::ffff:") == 0 && name.find('.') != std::string::npos) return name.substr(7);
    return "[" + name + "]";
}

std::uint16_t localPort(Socket s)
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(a).sin6_port
                                         : reinterpret_cast<sockaddr_in&>(a).sin_port);
}

// What wakes the poll loop from other threads: a pipe, or (Winsock polls sockets only) a
// UDP socket on loopback that sends to itself.
class Waker {
public:
    ~Waker() { close(); }
    bool open(std::string& error)
    {
        if (readEnd_ != kNone) return true;
#ifdef _WIN32
        const Socket s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof a;
        if (s == kNone || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
            ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || !prepare(s)) {
            error = "wake-up socket: " + errorText(lastError());
            if (s != kNone) net::close(s);
            return false;
        }
        readEnd_ = writeEnd_ = s;
#else
        int ends[2];
        if (::pipe(ends) != 0) {
            error = std::string("pipe: ") + std::strerror(errno);
            return false;
        }
        prepare(ends[0]);
        prepare(ends[1]);
        readEnd_ = ends[0];
        writeEnd_ = ends[1];
#endif
        return true;
    }
    void close()
    {
        if (readEnd_ == kNone) return;
        net::close(readEnd_);
        if (writeEnd_ != readEnd_) net::close(writeEnd_);
        readEnd_ = writeEnd_ = kNone;
    }
    Socket handle() const { return readEnd_; }
    // A full pipe (or socket buffer) already holds a wake-up: nothing is lost.
    void wake() const
    {
        const char b = 1;
#ifdef _WIN32
        ::send(writeEnd_, &b, 1, 0);
#else
        [[maybe_unused]] const ssize_t n = ::write(writeEnd_, &b, 1);
#endif
    }
    void drain() const
    {
        char buf[64];
#ifdef _WIN32
        while (::recv(readEnd_, buf, sizeof buf, 0) > 0) {}
#else
        while (::read(readEnd_, buf, sizeof buf) > 0) {}
#endif
    }

private:
    Socket readEnd_ = kNone, writeEnd_ = kNone;
};

} // namespace net

const char* const kTopics[] = {"state", "tape", "exchanges", "faults"};
constexpr unsigned kTopicCount = sizeof kTopics / sizeof kTopics[0];

// Only the page's own script, styles and requests: nothing from elsewhere.
const char kPagePolicy[] = "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:; "
                           "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::string errorJson(const std::string& text) { return JsonObject().str("error", text).text(); }

bool parseSince(const std::map<std::string, std::string>& query, std::uint64_t& since)
{
    since = 0;
    const auto it = query.find("since");
    if (it == query.end() || it->second.empty()) return true;
    if (it->second.size() > 19 || it->second.find_first_not_of("0123456789") != std::string::npos) return false;
    since = std::stoull(it->second);
    return true;
}

std::string faultsJson(const std::vector<FaultSwitch>& faults)
{
    std::vector<std::string> items;
    for (const auto& f : faults)
        items.push_back(JsonObject()
                            .str("name", f.name)
                            .str("help", f.help)
                            .str("argument", f.argument)
                            .boolean("on", f.on)
                            .str("value", f.value)
                            .text());
    return "{\"faults\":" + jsonArray(items) + "}";
}

// The IPv6 address in brackets, as a Host header gives it; names in lower case.
std::string hostName(std::string address)
{
    for (auto& ch : address) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

struct Connection {
    Connection(net::Socket s, const Limits& limits, std::string local)
        : fd(s), parser(limits), localName(std::move(local))
    {
        quietSince = progress = Clock::now();
    }
    ~Connection() { net::close(fd); }
    net::Socket fd;
    RequestParser parser;
    std::string localName; // the address the client reached, as a Host gives it
    std::string out;
    bool closeAfter = false;        // close once `out` is sent
    bool events = false;            // an event stream
    bool inRequest = false;         // bytes of a request have come, not yet all of it
    bool held = false;              // whole requests wait in the parser until `out` drains
    Clock::time_point requestStart; // first byte of the request in progress
    Clock::time_point quietSince;   // nothing asked or sent since
    Clock::time_point progress;     // `out` last moved (or filled from empty)
    Clock::time_point heartbeat;

    void queue(const std::string& text)
    {
        if (out.empty()) progress = Clock::now();
        out += text;
    }
    // Drops what is queued; the connection closes at the end of the round.
    void drop()
    {
        closeAfter = true;
        std::string().swap(out);
    }
};

} // namespace

struct Server::Impl {
    Impl(Hooks h, Options o) : hooks(std::move(h)), options(std::move(o)) {}
    ~Impl()
    {
        waker.close();
        if (socketsStarted) net::cleanUp();
    }

    Hooks hooks;
    Options options;
    bool socketsStarted = false;
    net::Socket listenFd = net::kNone;
    net::Waker waker; // open from the first start() to the end
    std::uint16_t port = 0;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};
    std::atomic<unsigned> pendingTopics{0};
    std::uint64_t eventNumber = 0;
    std::vector<std::unique_ptr<Connection>> connections;

    void run();
    void round(std::vector<net::PollFd>& fds);
    void accept();
    void readFrom(Connection& c);
    void writeTo(Connection& c);
    void serve(Connection& c, RequestParser::Result r);
    void handle(Connection& c, const Request& r);
    void route(Connection& c, const Request& r);
    void answer(Connection& c, int status, const std::string& type, const std::string& body,
                const std::vector<std::pair<std::string, std::string>>& headers = {});
    void publish(unsigned topics);
    int eventStreams() const;
};

Server::Server(Hooks hooks, Options options) : impl_(new Impl(std::move(hooks), std::move(options))) {}

Server::~Server() { stop(); }

void Server::start()
{
    Impl& d = *impl_;
    if (d.listenFd != net::kNone) return;
    std::string error;
    if (!d.socketsStarted) {
        if (!net::startUp(error)) throw std::runtime_error("console: " + error);
        d.socketsStarted = true;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(d.options.port);
    const int rc = ::getaddrinfo(d.options.address.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) throw std::runtime_error("console: cannot use address " + d.options.address + ": " + gai_strerror(rc));
    error = "no address";
    net::Socket fd = net::kNone;
    for (addrinfo* a = found; a && fd == net::kNone; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd == net::kNone) {
            error = net::errorText(net::lastError());
            continue;
        }
        const int one = 1;
#ifdef _WIN32
        // Windows lets another program take over a port bound with SO_REUSEADDR.
        ::setsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
#else
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
        if (!net::prepare(fd) || ::bind(fd, a->ai_addr, static_cast<socklen_t>(a->ai_addrlen)) != 0 ||
            ::listen(fd, 16) != 0) {
            error = net::errorText(net::lastError());
            net::close(fd);
            fd = net::kNone;
        }
    }
    ::freeaddrinfo(found);
    if (fd == net::kNone)
        throw std::runtime_error("console: cannot listen on " + d.options.address + ":" + service + ": " + error);
    if (!d.waker.open(error)) {
        net::close(fd);
        throw std::runtime_error("console: " + error);
    }
    d.port = net::localPort(fd);
    d.listenFd = fd;
    d.stopping = false;
    d.running = true;
    d.thread = std::thread([&d] {
        try {
            d.run();
        } catch (...) {
            // run() keeps everything in; this only keeps an escape from ending the program.
        }
    });
}

void Server::stop()
{
    Impl& d = *impl_;
    if (d.listenFd == net::kNone) return;
    d.stopping = true;
    d.waker.wake();
    if (d.thread.joinable()) d.thread.join();
    d.running = false;
    d.connections.clear();
    net::close(d.listenFd);
    d.listenFd = net::kNone;
}

std::uint16_t Server::port() const { return impl_->port; }

std::string Server::url() const
{
    const std::string& a = impl_->options.address;
    return "http://" + (a.find(':') != std::string::npos ? "[" + a + "]" : a) + ":" + std::to_string(impl_->port) + "/";
}

void Server::notify(const std::string& topic)
{
    for (unsigned i = 0; i < kTopicCount; ++i)
        if (topic == kTopics[i]) {
            impl_->pendingTopics |= 1u << i;
            if (impl_->running) impl_->waker.wake();
            return;
        }
}

void Server::Impl::run()
{
    std::vector<net::PollFd> fds;
    while (!stopping) {
        try {
            round(fds);
        } catch (...) {
            // Out of memory outside any one connection's work: start again from nothing.
            connections.clear();
            std::vector<net::PollFd>().swap(fds);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

void Server::Impl::round(std::vector<net::PollFd>& fds)
{
    fds.clear();
    fds.push_back({waker.handle(), POLLIN, 0});
    const bool room = static_cast<int>(connections.size()) < options.maxConnections;
    fds.push_back({listenFd, static_cast<short>(room ? POLLIN : 0), 0});
    for (const auto& c : connections) {
        // Nothing more is read from a connection being closed, nor from one whose
        // answers queued are past the mark (the client takes them first).
        short events = !c->closeAfter && c->out.size() < kHighWater ? POLLIN : 0;
        if (!c->out.empty()) events = static_cast<short>(events | POLLOUT);
        fds.push_back({c->fd, events, 0});
    }
    net::poll(fds.data(), fds.size(), 500);
    if (stopping) return;
    if (fds[0].revents & POLLIN) waker.drain();
    const unsigned topics = pendingTopics.exchange(0);
    if (topics) publish(topics);

    // Connections accepted below are polled from the next round on.
    const std::size_t polled = connections.size();
    for (std::size_t i = 0; i < polled; ++i) {
        Connection& c = *connections[i];
        const short re = fds[i + 2].revents;
        try {
            if (re & (POLLERR | POLLNVAL)) c.drop();
            if ((re & POLLOUT) && !c.out.empty()) writeTo(c);
            if (c.closeAfter || c.out.size() >= kHighWater) continue;
            if (re & (POLLIN | POLLHUP)) readFrom(c);
            else if (c.held) serve(c, c.parser.next());
        } catch (...) {
            c.drop();
        }
    }
    if (fds[1].revents & POLLIN) accept();

    const auto now = Clock::now();
    const auto limit = std::chrono::milliseconds(options.idleTimeoutMs);
    for (auto it = connections.begin(); it != connections.end();) {
        Connection& c = **it;
        if (c.events && now - c.heartbeat > std::chrono::milliseconds(kHeartbeatMs)) {
            try {
                c.queue(": keep-alive\n\n");
            } catch (...) {
                c.drop();
            }
            c.heartbeat = now;
        }
        const bool done = c.closeAfter && c.out.empty();
        // A request has its time from its first byte, however steadily the rest comes.
        const bool slow = c.inRequest && !c.held && c.out.size() < kHighWater && now - c.requestStart > limit;
        const bool idle = !c.events && !c.inRequest && c.out.empty() && now - c.quietSince > limit;
        // A client (or page) that takes nothing of what is sent.
        const bool stuck = !c.out.empty() && now - c.progress > limit;
        if (done || slow || idle || stuck) it = connections.erase(it);
        else ++it;
    }
}

void Server::Impl::accept()
{
    for (;;) {
        if (static_cast<int>(connections.size()) >= options.maxConnections) return;
        const net::Socket fd = ::accept(listenFd, nullptr, nullptr);
        if (fd == net::kNone) return;
        if (!net::prepare(fd)) {
            net::close(fd);
            continue;
        }
        try {
            connections.push_back(std::make_unique<Connection>(fd, options.limits, net::localName(fd)));
        } catch (...) {
            net::close(fd);
            return;
        }
    }
}

void Server::Impl::readFrom(Connection& c)
{
    char buf[kReadChunk];
    const long n = net::receive(c.fd, buf, sizeof buf);
    if (n == 0) {
        // The peer has closed its side: what is queued still goes out, then the connection closes.
        c.closeAfter = true;
        return;
    }
    if (n < 0) {
        if (!net::transient(net::lastError())) c.drop();
        return;
    }
    if (c.events) return; // nothing more is read from these
    if (!c.inRequest) {
        c.inRequest = true;
        c.requestStart = Clock::now();
    }
    serve(c, c.parser.feed(buf, static_cast<std::size_t>(n)));
}

// Answers the requests the parser holds, one after the other, until the answers queued
// pass the mark; the rest wait there (`held`) and go on once the client has taken them.
void Server::Impl::serve(Connection& c, RequestParser::Result r)
{
    c.held = false;
    while (r == RequestParser::Result::Done) {
        const Request request = c.parser.request();
        const auto now = Clock::now();
        c.quietSince = now;
        c.inRequest = c.parser.buffered() > 0;
        c.requestStart = now;
        if (!request.keepAlive) c.closeAfter = true;
        handle(c, request);
        if (c.closeAfter || c.events) return;
        if (c.out.size() >= kHighWater) {
            c.held = c.parser.buffered() > 0;
            return;
        }
        r = c.parser.next();
    }
    if (r == RequestParser::Result::Error) {
        c.closeAfter = true;
        answer(c, c.parser.errorStatus(), "application/json", errorJson(c.parser.errorText()));
    }
}

void Server::Impl::writeTo(Connection& c)
{
    const long n = net::sendSome(c.fd, c.out.data(), c.out.size());
    if (n > 0) {
        const bool wasFull = c.out.size() >= kHighWater;
        c.out.erase(0, static_cast<std::size_t>(n));
        c.progress = c.quietSince = Clock::now();
        // Nothing was read while the answers were past the mark: the request in
        // progress gets its time from now.
        if (wasFull && c.out.size() < kHighWater) c.requestStart = c.progress;
    } else if (n < 0 && !net::transient(net::lastError())) {
        c.drop();
    }
}

void Server::Impl::answer(Connection& c, int status, const std::string& type, const std::string& body,
                          const std::vector<std::pair<std::string, std::string>>& headers)
{
    c.queue(responseText(status, type, body, !c.closeAfter, headers));
}

int Server::Impl::eventStreams() const
{
    int n = 0;
    for (const auto& c : connections) n += c->events;
    return n;
}

void Server::Impl::publish(unsigned topics)
{
    std::string text;
    for (unsigned i = 0; i < kTopicCount; ++i)
        if (topics & (1u << i))
            text += std::string("event: ") + kTopics[i] + "\ndata: " + std::to_string(++eventNumber) + "\n\n";
    for (auto& c : connections) {
        if (!c->events) continue;
        if (c->out.size() + text.size() > kMaxEventBacklog) {
            // A page that takes nothing for so long is dropped; it reconnects when it can.
            c->drop();
            continue;
        }
        try {
            c->queue(text);
        } catch (...) {
            c->drop();
        }
    }
}

// One request: whatever its route throws becomes a 500 answer.
void Server::Impl::handle(Connection& c, const Request& r)
{
    std::string failure;
    try {
        route(c, r);
        return;
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "internal error";
    }
    answer(c, 500, "application/json; charset=utf-8", errorJson(failure));
}

void Server::Impl::route(Connection& c, const Request& r)
{
    const std::string json = "application/json; charset=utf-8";
    // Only requests for the console's own names: a page of another site whose name was
    // made to resolve to this address gives its own name. And only from its own page
    // (or a program that sends no Origin): another site's page in the same browser may
    // neither read nor switch anything.
    const std::vector<std::string> names = {"127.0.0.1", "localhost", "[::1]", hostName(options.address), c.localName};
    if (!r.headers.count("host")) {
        if (r.version != "HTTP/1.0") return answer(c, 400, json, errorJson("Host is required"));
    } else if (!hostAccepted(r.header("host"), names, port)) {
        return answer(c, 421, json,
                      errorJson("this console answers to 127.0.0.1, localhost or [::1] with port " +
                                std::to_string(port) + " only"));
    }
    if (r.headers.count("origin") && !originAccepted(r.header("origin"), names, port))
        return answer(c, 403, json, errorJson("requests from " + r.header("origin") + " are not accepted"));

    const std::string& p = r.path;
    const bool get = r.method == "GET";
    const bool isApi = p == "/api/state" || p == "/api/tape" || p == "/api/exchanges" || p == "/api/faults" ||
                       p == "/api/events";
    if (p == "/" || p == "/index.html") {
        if (!get) return answer(c, 405, json, errorJson("only GET"), {{"Allow", "GET"}});
        return answer(c, 200, "text/html; charset=utf-8", pageHtml(), {{"Content-Security-Policy", kPagePolicy}});
    }
    if (p == "/favicon.ico") return answer(c, 204, "", "");
    if (!isApi) return answer(c, 404, json, errorJson("no such resource: " + p));
    if (p == "/api/faults" && r.method == "POST") {
        // A form of another site posts without a preflight, but not as JSON.
        if (!isMediaType(r.header("content-type"), "application/json"))
            return answer(c, 415, json, errorJson("the body must be application/json"));
        std::map<std::string, FlatValue> body;
        std::string error;
        if (!parseFlatObject(r.body, body, error)) return answer(c, 400, json, errorJson(error));
        const auto name = body.find("name");
        const auto on = body.find("on");
        const auto value = body.find("value");
        if (name == body.end() || name->second.kind != FlatValue::String)
            return answer(c, 400, json, errorJson("\"name\" (a string) is required"));
        if (on == body.end() || on->second.kind != FlatValue::Bool)
            return answer(c, 400, json, errorJson("\"on\" (true or false) is required"));
        if (value != body.end() && value->second.kind != FlatValue::String && value->second.kind != FlatValue::Null)
            return answer(c, 400, json, errorJson("\"value\" must be a string"));
        if (!hooks.setFault) return answer(c, 404, json, errorJson("this register has no fault switches"));
        const std::string v = value == body.end() ? std::string() : value->second.text;
        if (!hooks.setFault(name->second.text, on->second.text == "true", v, error))
            return answer(c, 400, json, errorJson(error.empty() ? "refused" : error));
        pendingTopics |= 1u << 3;
        waker.wake();
        return answer(c, 200, json,
                      "{\"ok\":true," +
                          faultsJson(hooks.faults ? hooks.faults() : std::vector<FaultSwitch>()).substr(1));
    }
    if (!get)
        return answer(c, 405, json, errorJson("only GET here"), {{"Allow", p == "/api/faults" ? "GET, POST" : "GET"}});
    if (p == "/api/state") return answer(c, 200, json, hooks.state ? hooks.state() : "{}");
    if (p == "/api/faults")
        return answer(c, 200, json, faultsJson(hooks.faults ? hooks.faults() : std::vector<FaultSwitch>()));
    if (p == "/api/events") {
        if (eventStreams() >= options.maxEventStreams) return answer(c, 503, json, errorJson("too many event streams"));
        c.queue("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
                "X-Content-Type-Options: nosniff\r\nConnection: keep-alive\r\n\r\nretry: 1000\n\n");
        c.events = true;
        c.heartbeat = Clock::now();
        return;
    }
    std::uint64_t since = 0;
    if (!parseSince(r.query, since)) return answer(c, 400, json, errorJson("since must be a whole number"));
    if (p == "/api/tape")
        return answer(c, 200, json, hooks.tape ? hooks.tape(since) : "{\"first\":0,\"last\":0,\"lines\":[]}");
    return answer(c, 200, json, hooks.exchanges ? hooks.exchanges(since) : "{\"first\":0,\"last\":0,\"exchanges\":[]}");
}

} // namespace simconsole
