// The console's HTTP server: one thread, one poll loop over the listening socket, the
// connections and a wake-up pipe. Every buffer and every wait is bounded: requests by
// the parser's limits, answers waiting to be sent by kMaxPending, event streams by
// kMaxEventBacklog, idle connections by Options::idleTimeoutMs.
#include "console.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace simconsole {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kMaxPending = 8 * 1024 * 1024;   // answers queued on one connection
constexpr std::size_t kMaxEventBacklog = 256 * 1024;   // unsent events of a slow page
constexpr int kMaxEventStreams = 16;
constexpr int kHeartbeatMs = 15000;

const char* const kTopics[] = {"state", "tape", "exchanges", "faults"};
constexpr unsigned kTopicCount = sizeof kTopics / sizeof kTopics[0];

// Only the page's own script, styles and requests: nothing from elsewhere.
const char kPagePolicy[] =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:; "
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

struct Connection {
    explicit Connection(int f, const Limits& limits) : fd(f), parser(limits), active(Clock::now()) {}
    ~Connection() { ::close(fd); }
    int fd;
    RequestParser parser;
    std::string out;
    bool closeAfter = false;   // close once `out` is sent
    bool events = false;       // an event stream
    Clock::time_point active;  // last progress either way
    Clock::time_point heartbeat;
};

} // namespace

struct Server::Impl {
    Impl(Hooks h, Options o) : hooks(std::move(h)), options(std::move(o)) {}

    Hooks hooks;
    Options options;
    int listenFd = -1;
    int wake[2] = {-1, -1};
    std::uint16_t port = 0;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<unsigned> pendingTopics{0};
    std::uint64_t eventNumber = 0;
    std::vector<std::unique_ptr<Connection>> connections;

    void run();
    void accept();
    void readFrom(Connection& c);
    void writeTo(Connection& c);
    void handle(Connection& c, const Request& r);
    void answer(Connection& c, int status, const std::string& type, const std::string& body,
                const std::vector<std::pair<std::string, std::string>>& headers = {});
    void publish(unsigned topics);
    int eventStreams() const;

    void wakeUp()
    {
        const char b = 1;
        // A full pipe already holds a wake-up: nothing is lost.
        [[maybe_unused]] const ssize_t n = ::write(wake[1], &b, 1);
    }
};

Server::Server(Hooks hooks, Options options) : impl_(new Impl(std::move(hooks), std::move(options))) {}

Server::~Server() { stop(); }

void Server::start()
{
    Impl& d = *impl_;
    if (d.listenFd >= 0) return;
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(d.options.port);
    const int rc = ::getaddrinfo(d.options.address.c_str(), service.c_str(), &hints, &found);
    if (rc != 0)
        throw std::runtime_error("console: cannot use address " + d.options.address + ": " + gai_strerror(rc));
    std::string error = "no address";
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            error = std::strerror(errno);
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 16) != 0) {
            error = std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        throw std::runtime_error("console: cannot listen on " + d.options.address + ":" + service + ": " + error);
    sockaddr_storage bound {};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    d.port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                               : reinterpret_cast<sockaddr_in&>(bound).sin_port);
    if (::pipe2(d.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(fd);
        throw std::runtime_error(std::string("console: pipe: ") + std::strerror(errno));
    }
    d.listenFd = fd;
    d.stopping = false;
    d.thread = std::thread([&d] { d.run(); });
}

void Server::stop()
{
    Impl& d = *impl_;
    if (d.listenFd < 0) return;
    d.stopping = true;
    d.wakeUp();
    if (d.thread.joinable()) d.thread.join();
    d.connections.clear();
    ::close(d.listenFd);
    ::close(d.wake[0]);
    ::close(d.wake[1]);
    d.listenFd = d.wake[0] = d.wake[1] = -1;
}

std::uint16_t Server::port() const { return impl_->port; }

std::string Server::url() const
{
    const std::string& a = impl_->options.address;
    return "http://" + (a.find(':') != std::string::npos ? "[" + a + "]" : a) + ":" + std::to_string(impl_->port) +
           "/";
}

void Server::notify(const std::string& topic)
{
    for (unsigned i = 0; i < kTopicCount; ++i)
        if (topic == kTopics[i]) {
            impl_->pendingTopics |= 1u << i;
            if (impl_->wake[1] >= 0) impl_->wakeUp();
            return;
        }
}

void Server::Impl::run()
{
    std::vector<pollfd> fds;
    while (!stopping) {
        fds.clear();
        fds.push_back({wake[0], POLLIN, 0});
        const bool room = static_cast<int>(connections.size()) < options.maxConnections;
        fds.push_back({listenFd, static_cast<short>(room ? POLLIN : 0), 0});
        for (const auto& c : connections) {
            // Nothing more is read from a connection being closed; an answer still queued
            // holds back the next request (no unbounded queue).
            short events = c->closeAfter ? 0 : POLLIN;
            if (!c->out.empty()) events = static_cast<short>(c->out.size() > kMaxPending / 2 ? POLLOUT : events | POLLOUT);
            fds.push_back({c->fd, events, 0});
        }
        ::poll(fds.data(), fds.size(), 500);
        if (stopping) break;
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wake[0], drain, sizeof drain) > 0) {
            }
        }
        const unsigned topics = pendingTopics.exchange(0);
        if (topics) publish(topics);

        // Connections accepted below are polled from the next round on.
        const std::size_t polled = connections.size();
        for (std::size_t i = 0; i < polled; ++i) {
            Connection& c = *connections[i];
            const short re = fds[i + 2].revents;
            if (re & (POLLERR | POLLNVAL)) c.closeAfter = true, c.out.clear();
            if ((re & POLLOUT) && !c.out.empty()) writeTo(c);
            if ((re & (POLLIN | POLLHUP)) && !c.closeAfter) readFrom(c);
        }
        if (fds[1].revents & POLLIN) accept();

        const auto now = Clock::now();
        for (auto it = connections.begin(); it != connections.end();) {
            Connection& c = **it;
            if (c.events && now - c.heartbeat > std::chrono::milliseconds(kHeartbeatMs)) {
                c.out += ": keep-alive\n\n";
                c.heartbeat = now;
            }
            const bool idle = now - c.active > std::chrono::milliseconds(options.idleTimeoutMs);
            const bool done = c.closeAfter && c.out.empty();
            // An event stream is idle only while its page takes none of what is sent.
            const bool stuck = idle && (c.events ? !c.out.empty() : true);
            if (done || stuck || c.out.size() > kMaxPending)
                it = connections.erase(it);
            else
                ++it;
        }
    }
}

void Server::Impl::accept()
{
    for (;;) {
        if (static_cast<int>(connections.size()) >= options.maxConnections) return;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        connections.push_back(std::make_unique<Connection>(fd, options.limits));
    }
}

void Server::Impl::readFrom(Connection& c)
{
    char buf[kReadChunk];
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n == 0) {
        // The peer has closed its side: what is queued still goes out, then the connection closes.
        c.closeAfter = true;
        return;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        c.closeAfter = true;
        c.out.clear();
        return;
    }
    if (n < 0) return;
    c.active = Clock::now();
    if (c.events || c.closeAfter) return;   // nothing more is read from these
    RequestParser::Result r = c.parser.feed(buf, static_cast<std::size_t>(n));
    while (r == RequestParser::Result::Done) {
        const Request request = c.parser.request();
        if (!request.keepAlive) c.closeAfter = true;
        handle(c, request);
        if (c.closeAfter || c.events) return;
        r = c.parser.next();
    }
    if (r == RequestParser::Result::Error) {
        c.closeAfter = true;
        answer(c, c.parser.errorStatus(), "application/json", errorJson(c.parser.errorText()));
    }
}

void Server::Impl::writeTo(Connection& c)
{
    const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n > 0) {
        c.out.erase(0, static_cast<std::size_t>(n));
        c.active = Clock::now();
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        c.closeAfter = true;
        c.out.clear();
    }
}

void Server::Impl::answer(Connection& c, int status, const std::string& type, const std::string& body,
                          const std::vector<std::pair<std::string, std::string>>& headers)
{
    c.out += responseText(status, type, body, !c.closeAfter, headers);
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
            c->closeAfter = true;
            c->out.clear();
            continue;
        }
        c->out += text;
    }
}

void Server::Impl::handle(Connection& c, const Request& r)
{
    const std::string& p = r.path;
    const bool get = r.method == "GET";
    const bool isApi = p == "/api/state" || p == "/api/tape" || p == "/api/exchanges" || p == "/api/faults" ||
                       p == "/api/events";
    const std::string json = "application/json; charset=utf-8";
    try {
        if (p == "/" || p == "/index.html") {
            if (!get) return answer(c, 405, json, errorJson("only GET"), {{"Allow", "GET"}});
            return answer(c, 200, "text/html; charset=utf-8", pageHtml(), {{"Content-Security-Policy", kPagePolicy}});
        }
        if (p == "/favicon.ico") return answer(c, 204, "", "");
        if (!isApi) return answer(c, 404, json, errorJson("no such resource: " + p));
        if (p == "/api/faults" && r.method == "POST") {
            // Only the page itself (or a program that sends no Origin) may switch faults:
            // another site's page in the same browser may not.
            const std::string origin = r.header("origin");
            if (!origin.empty() && origin != "http://" + r.header("host"))
                return answer(c, 403, json, errorJson("requests from " + origin + " are not accepted"));
            const std::string type = r.header("content-type");
            if (type.compare(0, 16, "application/json") != 0)
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
            wakeUp();
            return answer(c, 200, json,
                          "{\"ok\":true," + faultsJson(hooks.faults ? hooks.faults() : std::vector<FaultSwitch>()).substr(1));
        }
        if (!get) return answer(c, 405, json, errorJson("only GET here"), {{"Allow", p == "/api/faults" ? "GET, POST" : "GET"}});
        if (p == "/api/state") return answer(c, 200, json, hooks.state ? hooks.state() : "{}");
        if (p == "/api/faults")
            return answer(c, 200, json, faultsJson(hooks.faults ? hooks.faults() : std::vector<FaultSwitch>()));
        if (p == "/api/events") {
            if (eventStreams() >= kMaxEventStreams) return answer(c, 503, json, errorJson("too many event streams"));
            c.events = true;
            c.heartbeat = Clock::now();
            c.out += "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
                     "X-Content-Type-Options: nosniff\r\nConnection: keep-alive\r\n\r\nretry: 1000\n\n";
            return;
        }
        std::uint64_t since = 0;
        if (!parseSince(r.query, since)) return answer(c, 400, json, errorJson("since must be a whole number"));
        if (p == "/api/tape")
            return answer(c, 200, json, hooks.tape ? hooks.tape(since) : "{\"first\":0,\"last\":0,\"lines\":[]}");
        return answer(c, 200, json,
                      hooks.exchanges ? hooks.exchanges(since) : "{\"first\":0,\"last\":0,\"exchanges\":[]}");
    } catch (const std::exception& e) {
        return answer(c, 500, json, errorJson(e.what()));
    }
}

} // namespace simconsole
