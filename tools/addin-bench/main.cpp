// addin-bench: figures for the add-in against the simulated network register on loopback.
// A receipt of ten items (OpenCheck, 10 x PrintFiscalString, CloseCheck) goes through the
// add-in library, loaded as the platform loads it, N times. Printed: receipts per second,
// HTTP requests per receipt (counted on the wire by a forwarding proxy, authentication
// challenges included), and the time per request of the driver beside a plain keep-alive
// POCO client sending the very same requests. With --compare-challenge-only it also runs
// the receipts through the counting proxy twice, as the driver sends its credentials and
// with the proxy taking out those sent in advance (credentials only in answer to a
// challenge), and prints requests per receipt and receipts per second for both.
//
// The simulated register takes credentials sent in advance, as a register's web server does;
// --challenge-first makes it take them only in answer to a challenge.
//
//   addin-bench [--receipts N] [--auth digest|basic|none] [--library PATH] [--compare-challenge-only]
//               [--challenge-first]
#include "tools/addin-host/addin_host.h"
#include "simulators/netreg/embedded.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPCredentials.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

#include <arpa/inet.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace addinhost;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Counts the substring `needle` in a byte stream that arrives in chunks.
class StreamCounter {
public:
    explicit StreamCounter(std::string needle) : needle_(std::move(needle)) {}
    void feed(const char* data, std::size_t n)
    {
        std::string window = tail_ + std::string(data, n);
        for (std::size_t at = window.find(needle_); at != std::string::npos; at = window.find(needle_, at + 1))
            ++count_;
        const std::size_t keep = needle_.size() - 1;
        tail_ = window.size() > keep ? window.substr(window.size() - keep) : window;
    }
    long count() const { return count_; }

private:
    std::string needle_;
    std::string tail_;
    long count_ = 0;
};

// The status of the last answer head in a byte stream that arrives in chunks.
class StatusTracker {
public:
    void feed(const char* data, std::size_t n)
    {
        std::string window = tail_ + std::string(data, n);
        static const std::string mark = "HTTP/1.1 ";
        for (std::size_t at = window.find(mark); at != std::string::npos; at = window.find(mark, at + 1))
            if (at + mark.size() + 3 <= window.size()) last_ = std::atoi(window.substr(at + mark.size(), 3).c_str());
        tail_ = window.size() > 11 ? window.substr(window.size() - 11) : window;
    }
    int last() const { return last_; }

private:
    std::string tail_;
    int last_ = 0;
};

// Takes the credentials out of every request that does not answer a 401, so that the
// register sees what a client sends when it gives credentials only in answer to a
// challenge: each request is refused once and sent again with them.
class CredentialStripper {
public:
    // Bytes to forward for `n` bytes from the client; `lastStatus` is that of the answer
    // before (the client sends a request only once it has read the previous answer).
    std::string feed(const char* data, std::size_t n, int lastStatus)
    {
        pending_.append(data, n);
        std::string out;
        for (;;) {
            if (bodyLeft_ > 0) {
                const std::size_t take = std::min(bodyLeft_, pending_.size());
                out += pending_.substr(0, take);
                pending_.erase(0, take);
                bodyLeft_ -= take;
                if (bodyLeft_ > 0) break;
                continue;
            }
            const std::size_t end = pending_.find("\r\n\r\n");
            if (end == std::string::npos) break;
            std::string head = pending_.substr(0, end + 4);
            pending_.erase(0, end + 4);
            const std::size_t credentials = head.find("\r\nAuthorization: ");
            if (credentials != std::string::npos && lastStatus != 401)
                head.erase(credentials, head.find("\r\n", credentials + 2) - credentials);
            const std::size_t length = head.find("\r\nContent-Length: ");
            if (length != std::string::npos) bodyLeft_ = std::strtoul(head.c_str() + length + 18, nullptr, 10);
            out += head;
        }
        return out;
    }

private:
    std::string pending_;
    std::size_t bodyLeft_ = 0;
};

// A TCP forwarder on a loopback port that counts HTTP request heads going to the register
// and 401 answers coming back; with `challengeOnly` it also takes out the credentials of
// requests that do not answer a challenge.
class CountingProxy {
public:
    explicit CountingProxy(uint16_t target, bool challengeOnly = false) : target_(target), challengeOnly_(challengeOnly)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("counting proxy: cannot listen");
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }

    ~CountingProxy()
    {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        for (std::thread& t : relays_) t.join();
        ::close(listener_);
    }

    uint16_t port() const { return port_; }
    long requests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    long challenges()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return challenges_;
    }
    long connections()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return connections_;
    }

private:
    static sockaddr_in loopback(uint16_t port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        return a;
    }

    void acceptLoop()
    {
        while (!stopping_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) continue;
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a = loopback(target_);
            if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(client);
                if (server >= 0) ::close(server);
                continue;
            }
            // Forward each piece at once, as the two ends send theirs.
            const int on = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++connections_;
            }
            relays_.emplace_back([this, client, server] { relay(client, server); });
        }
    }

    void relay(int client, int server)
    {
        StreamCounter heads(" HTTP/1.1\r\n"), refusals("HTTP/1.1 401");
        StatusTracker answers;
        CredentialStripper stripper;
        long countedHeads = 0, countedRefusals = 0;
        char buffer[65536];
        pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        bool open = true;
        while (open && !stopping_) {
            if (::poll(p, 2, 100) <= 0) continue;
            for (int i = 0; i < 2 && open; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = ::recv(p[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    open = false;
                    break;
                }
                std::string forwarded(buffer, static_cast<std::size_t>(n));
                if (i == 0 && challengeOnly_) forwarded = stripper.feed(buffer, forwarded.size(), answers.last());
                if (i == 1) answers.feed(buffer, forwarded.size());
                (i == 0 ? heads : refusals).feed(forwarded.data(), forwarded.size());
                const int to = i == 0 ? server : client;
                for (std::size_t sent = 0; sent < forwarded.size();) {
                    const ssize_t w = ::send(to, forwarded.data() + sent, forwarded.size() - sent, MSG_NOSIGNAL);
                    if (w <= 0) {
                        open = false;
                        break;
                    }
                    sent += static_cast<std::size_t>(w);
                }
            }
            std::lock_guard<std::mutex> lock(mutex_);
            requests_ += heads.count() - countedHeads;
            challenges_ += refusals.count() - countedRefusals;
            countedHeads = heads.count();
            countedRefusals = refusals.count();
        }
        ::close(client);
        ::close(server);
    }

    uint16_t target_;
    bool challengeOnly_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::vector<std::thread> relays_;
    std::mutex mutex_;
    long requests_ = 0, challenges_ = 0, connections_ = 0;
};

struct Options {
    int receipts = 200;
    std::string auth = "digest";
    std::string library = ADDIN_LIBRARY;
    bool compareChallengeOnly = false;
    bool challengeFirst = false;
};

[[noreturn]] void usage(int status)
{
    std::fprintf(status ? stderr : stdout,
                 "usage: addin-bench [--receipts N] [--auth digest|basic|none] [--library PATH]\n"
                 "                   [--compare-challenge-only] [--challenge-first]\n"
                 "A 10-item receipt through the add-in against the simulated register on loopback,\n"
                 "N times (default 200); prints receipts per second, HTTP requests per receipt and\n"
                 "the time per request beside a plain keep-alive POCO client.\n"
                 "--compare-challenge-only: also measures, through the counting proxy, requests and\n"
                 "receipts per second as they are and with the credentials sent only in answer to a\n"
                 "challenge (the proxy takes out those sent in advance).\n"
                 "--challenge-first: the simulated register takes credentials only in answer to a\n"
                 "challenge (by default it takes them in advance too, as a register does).\n");
    std::exit(status);
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(2);
            return argv[++i];
        };
        if (a == "--help" || a == "-h") usage(0);
        else if (a == "--receipts") {
            o.receipts = std::atoi(value().c_str());
            if (o.receipts < 1 || o.receipts > 1000000) usage(2);
        } else if (a == "--auth") {
            o.auth = value();
            if (o.auth != "digest" && o.auth != "basic" && o.auth != "none") usage(2);
        } else if (a == "--library") o.library = value();
        else if (a == "--compare-challenge-only") o.compareChallengeOnly = true;
        else if (a == "--challenge-first") o.challengeFirst = true;
        else usage(2);
    }
    return o;
}

// Fails the benchmark when the add-in refuses a step.
void expectOk(const CallResult& r, const char* step)
{
    if (!r.ok || r.result == Value::boolean(false) || !r.errors.empty() || !r.alerts.empty()) {
        std::string why = r.ok ? "result False" : "CallAsFunc false";
        if (!r.errors.empty()) why += ", " + toUtf8(r.errors[0].description);
        if (!r.alerts.empty()) why += ", " + toUtf8(r.alerts[0]);
        throw std::runtime_error(std::string(step) + " failed: " + why);
    }
}

void openAt(Component& comp, const std::string& address)
{
    comp.set("IP", Value::str(toUtf16(address)));
    comp.set("Password", Value::str(u"384190"));
    expectOk(comp.call("Open", {Value::str(u"")}), "Open");
}

// Time spent in each step of the receipts, summed over all of them.
struct StepTimes {
    Clock::duration openCheck{}, items{}, closeCheck{};
};

void receipt(Component& comp, StepTimes* times = nullptr)
{
    static const char16_t* names[] = {u"Хліб житній",     u"Молоко 2,5%", u"Сир твердий",      u"Яблука",
                                      u"Кава мелена",     u"Цукор",       u"Олія соняшникова", u"Гречка",
                                      u"Вода мінеральна", u"Пакет"};
    static const double rates[] = {20, 7, 20, 0, 20, 20, 20, 7, 20, 0};
    const Clock::time_point t0 = Clock::now();
    expectOk(comp.call("OpenCheck", {Value::str(u""), Value::boolean(true), Value::boolean(false),
                                     Value::boolean(false), Value::i4(0), Value::i4(0)}),
             "OpenCheck");
    const Clock::time_point t1 = Clock::now();
    double total = 0;
    for (int i = 0; i < 10; ++i) {
        const double qty = 1 + i % 3, price = 10.25 + 3 * i, sum = qty * price;
        total += sum;
        expectOk(comp.call("PrintFiscalString", {Value::str(u""), Value::str(names[i]), Value::r8(qty),
                                                 Value::r8(price), Value::r8(sum), Value::i4(1), Value::r8(rates[i])}),
                 "PrintFiscalString");
    }
    const Clock::time_point t2 = Clock::now();
    expectOk(comp.call("CloseCheck", {Value::str(u""), Value::r8(0), Value::r8(total), Value::r8(0), Value::r8(0)}),
             "CloseCheck");
    if (times) {
        times->openCheck += t1 - t0;
        times->items += t2 - t1;
        times->closeCheck += Clock::now() - t2;
    }
}

// The same requests as one receipt of the driver, sent by a plain POCO client over one
// keep-alive session. With `reuseAuth` the client answers the first challenge and then
// authenticates every later request in advance.
double replay(const std::vector<netsim::EmbeddedSimulator::Request>& requests, uint16_t port, int rounds,
              bool reuseAuth, long& sent)
{
    Poco::Net::HTTPClientSession session("127.0.0.1", port);
    session.setKeepAlive(true);
    session.setTimeout(Poco::Timespan(5, 0));
    Poco::Net::HTTPCredentials credentials("service", "384190");
    std::string authorization; // of the last request that carried one
    std::string body;
    sent = 0;
    const Clock::time_point start = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        for (const netsim::EmbeddedSimulator::Request& r : requests) {
            Poco::Net::HTTPRequest request(r.method, r.uri, Poco::Net::HTTPMessage::HTTP_1_1);
            if (r.method == "POST") {
                request.setContentType("application/json");
                request.setContentLength(static_cast<std::streamsize>(r.body.size()));
            }
            if (reuseAuth && !authorization.empty()) {
                request.set(Poco::Net::HTTPRequest::AUTHORIZATION, authorization);
                credentials.updateAuthInfo(request);
            }
            Poco::Net::HTTPResponse response;
            for (int attempt = 0; attempt < 2; ++attempt) {
                std::ostream& out = session.sendRequest(request);
                if (r.method == "POST") out << r.body;
                ++sent;
                std::istream& in = session.receiveResponse(response);
                body.clear();
                Poco::StreamCopier::copyToString(in, body);
                if (response.getStatus() != Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED) break;
                credentials.authenticate(request, response);
            }
            if (request.has(Poco::Net::HTTPRequest::AUTHORIZATION))
                authorization = request.get(Poco::Net::HTTPRequest::AUTHORIZATION);
            if (response.getStatus() != Poco::Net::HTTPResponse::HTTP_OK)
                throw std::runtime_error("plain client: " + r.uri + " answered " +
                                         std::to_string(response.getStatus()));
        }
    }
    return seconds(Clock::now() - start);
}

// Requests and receipts per second through the counting proxy, with the credentials as the
// driver sends them or (challengeOnly) only in answer to a challenge.
struct ProxiedFigures {
    double requestsPerReceipt = 0, challengesPerReceipt = 0, receiptsPerSecond = 0;
};

ProxiedFigures throughProxy(Component& comp, uint16_t registerPort, bool challengeOnly, int receipts)
{
    CountingProxy proxy(registerPort, challengeOnly);
    openAt(comp, "127.0.0.1:" + std::to_string(proxy.port()));
    receipt(comp); // warm-up
    const long r0 = proxy.requests(), c0 = proxy.challenges();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < receipts; ++i) receipt(comp);
    const double elapsed = seconds(Clock::now() - start);
    // The proxy counts what it has relayed; the last answer has reached the driver, so
    // its request was counted too.
    ProxiedFigures f;
    f.requestsPerReceipt = static_cast<double>(proxy.requests() - r0) / receipts;
    f.challengesPerReceipt = static_cast<double>(proxy.challenges() - c0) / receipts;
    f.receiptsPerSecond = receipts / elapsed;
    comp.call("Close", {Value::str(u"")});
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    const Options o = parse(argc, argv);
    try {
        using Sim = netsim::EmbeddedSimulator;
        Sim::Options options;
        options.auth = o.auth == "basic" ? Sim::Auth::Basic : o.auth == "none" ? Sim::Auth::None : Sim::Auth::Digest;
        if (o.challengeFirst) options.faults.push_back({"challenge-first", ""});
        Sim sim(options);
        sim.start();

        AddinHost host(o.library);
        Component comp = host.create();
        comp.set("LogLevel", Value::i4(2)); // errors only, as in production
        comp.set("DefaultTaxGroup", Value::i4(1));

        // Requests per receipt, counted on the wire.
        long wireRequests = 0, challenges = 0, connections = 0;
        const int counted = 5;
        {
            CountingProxy proxy(sim.port());
            openAt(comp, "127.0.0.1:" + std::to_string(proxy.port()));
            // The proxy counts what it has relayed; let it catch up before each reading.
            auto settle = [&proxy] {
                for (long before = -1; before != proxy.requests() + proxy.connections();) {
                    before = proxy.requests() + proxy.connections();
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                }
            };
            settle();
            const long r0 = proxy.requests(), c0 = proxy.challenges(), k0 = proxy.connections();
            for (int i = 0; i < counted; ++i) receipt(comp);
            settle();
            wireRequests = proxy.requests() - r0;
            challenges = proxy.challenges() - c0;
            connections = proxy.connections() - k0;
            comp.call("Close", {Value::str(u"")});
        }

        // Receipts per second, directly against the simulator.
        openAt(comp, sim.address());
        receipt(comp); // warm-up
        sim.clearRequests();
        const Clock::time_point start = Clock::now();
        StepTimes steps;
        for (int i = 0; i < o.receipts; ++i) receipt(comp, &steps);
        const double elapsed = seconds(Clock::now() - start);
        comp.call("Close", {Value::str(u"")});

        // One receipt's requests as the register answered them, for the plain client.
        sim.clearRequests();
        openAt(comp, sim.address());
        sim.clearRequests();
        receipt(comp);
        const std::vector<Sim::Request> one = sim.requests();
        comp.call("Close", {Value::str(u"")});

        const int rounds = std::max(1, std::min(o.receipts, 200));
        long sentChallenged = 0, sentReusing = 0;
        const double plainChallenged = replay(one, sim.port(), rounds, false, sentChallenged);
        const double plainReusing = replay(one, sim.port(), rounds, true, sentReusing);
        ProxiedFigures now, before;
        if (o.compareChallengeOnly) {
            now = throughProxy(comp, sim.port(), false, o.receipts);
            before = throughProxy(comp, sim.port(), true, o.receipts);
        }
        sim.stop();

        const double perReceipt = elapsed / o.receipts;
        const double wirePerReceipt = static_cast<double>(wireRequests) / counted;
        std::printf("add-in benchmark: 10-item receipt, simulated register on loopback, authentication %s\n",
                    o.auth.c_str());
        std::printf("  receipts                          %d in %.3f s\n", o.receipts, elapsed);
        std::printf("  receipts per second               %.1f\n", o.receipts / elapsed);
        std::printf("  time per receipt                  %.2f ms\n", perReceipt * 1e3);
        std::printf(
            "  time per step                     OpenCheck %.2f ms, PrintFiscalString %.2f ms, CloseCheck %.2f ms\n",
            seconds(steps.openCheck) / o.receipts * 1e3, seconds(steps.items) / o.receipts / 10 * 1e3,
            seconds(steps.closeCheck) / o.receipts * 1e3);
        std::printf("  HTTP requests per receipt         %.1f on the wire: %.1f register commands, %.1f answered 401\n",
                    wirePerReceipt, static_cast<double>(wireRequests - challenges) / counted,
                    static_cast<double>(challenges) / counted);
        std::printf("  TCP connections per receipt       %.1f\n", static_cast<double>(connections) / counted);
        std::printf("  driver, time per request          %.3f ms (receipt time / requests on the wire)\n",
                    perReceipt / wirePerReceipt * 1e3);
        std::printf("  plain POCO keep-alive client      %.3f ms per request, %.2f ms per receipt "
                    "(same requests, challenge answered each time)\n",
                    plainChallenged / static_cast<double>(sentChallenged) * 1e3, plainChallenged / rounds * 1e3);
        if (o.auth != "none")
            std::printf("  plain client, authenticating in advance  %.3f ms per request, %.2f ms per receipt "
                        "(%.1f requests per receipt)\n",
                        plainReusing / static_cast<double>(sentReusing) * 1e3, plainReusing / rounds * 1e3,
                        static_cast<double>(sentReusing) / rounds);
        if (o.compareChallengeOnly) {
            std::printf("  through the counting proxy, %d receipts each:\n", o.receipts);
            std::printf("    credentials after the first challenge   %.1f requests per receipt (%.1f answered 401), "
                        "%.1f receipts per second\n",
                        now.requestsPerReceipt, now.challengesPerReceipt, now.receiptsPerSecond);
            std::printf("    credentials only after a challenge      %.1f requests per receipt (%.1f answered 401), "
                        "%.1f receipts per second\n",
                        before.requestsPerReceipt, before.challengesPerReceipt, before.receiptsPerSecond);
            std::printf("    receipts per second, ratio              %.2f\n",
                        now.receiptsPerSecond / before.receiptsPerSecond);
        }
        const int outstanding = static_cast<int>(host.memory().outstanding());
        if (outstanding) std::printf("  WARNING: %d host memory blocks not returned\n", outstanding);
    } catch (const Poco::Exception& e) {
        std::fprintf(stderr, "addin-bench: %s\n", e.displayText().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "addin-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
