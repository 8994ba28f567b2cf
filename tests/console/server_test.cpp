// The console server over real sockets on loopback: routes, the fault switch requests,
// the event stream, and what it does with clients that misbehave.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "console.h"

using namespace simconsole;

namespace {

class Client {
public:
    explicit Client(std::uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    bool connected() const { return connected_; }
    void send(const std::string& bytes) { ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size())); }

    // Reads until `until` appears (or, when empty, until the server closes), up to `ms`.
    std::string read(const std::string& until = "", int ms = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            if (!until.empty() && got_.find(until) != std::string::npos) break;
            pollfd p {fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            got_.append(buf, static_cast<std::size_t>(n));
        }
        return got_;
    }
    // One whole response (head and Content-Length body), taken out of what was read.
    std::string response()
    {
        read("\r\n\r\n");
        const std::size_t head = got_.find("\r\n\r\n");
        if (head == std::string::npos) return std::string();
        const std::size_t cl = got_.find("Content-Length: ");
        const std::size_t length = cl < head ? std::stoul(got_.substr(cl + 16)) : 0;
        while (got_.size() < head + 4 + length && !closed_) read("", 100);
        const std::string r = got_.substr(0, head + 4 + length);
        got_.erase(0, r.size());
        return r;
    }
    bool closedByServer(int ms = 3000)
    {
        read("", ms);
        return closed_;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
    std::string got_;
};

std::string get(std::uint16_t port, const std::string& target)
{
    Client c(port);
    c.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    return c.read();
}

std::string post(std::uint16_t port, const std::string& body, const std::string& extra = "",
                 const std::string& type = "application/json")
{
    Client c(port);
    c.send("POST /api/faults HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nContent-Type: " + type +
           "\r\n" + extra + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body);
    return c.read();
}

int status(const std::string& response) { return response.size() > 12 ? std::stoi(response.substr(9, 3)) : 0; }
std::string body(const std::string& response) { return response.substr(response.find("\r\n\r\n") + 4); }

class ConsoleServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        Hooks h;
        h.state = [] { return std::string("{\"title\":\"T\",\"display\":{\"width\":20,\"lines\":[\"a\"]}}"); };
        h.tape = [this](std::uint64_t since) { return tape.json(since); };
        h.exchanges = [this](std::uint64_t since) { return exchanges.json(since); };
        h.faults = [this] {
            std::lock_guard<std::mutex> lock(mutex);
            return std::vector<FaultSwitch>{{"nak", "answer NAK", "", nakOn, ""},
                                            {"delay", "answer late", "PATH=MS", delayOn, delay}};
        };
        h.setFault = [this](const std::string& name, bool on, const std::string& value, std::string& error) {
            std::lock_guard<std::mutex> lock(mutex);
            if (name == "nak") nakOn = on;
            else if (name == "delay" && (!on || value.find('=') != std::string::npos)) delayOn = on, delay = value;
            else return error = "no: " + name, false;
            return true;
        };
        Server::Options o;
        o.idleTimeoutMs = 300;
        o.maxConnections = 8;
        o.limits.maxBody = 1024;
        server = std::make_unique<Server>(h, o);
        server->start();
        port = server->port();
    }

    TapeFeed tape;
    ExchangeFeed exchanges;
    std::mutex mutex;
    bool nakOn = false, delayOn = false;
    std::string delay;
    std::unique_ptr<Server> server;
    std::uint16_t port = 0;
};

} // namespace

TEST_F(ConsoleServer, ServesThePageAndTheApi)
{
    const std::string page = get(port, "/");
    EXPECT_EQ(status(page), 200);
    EXPECT_NE(page.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
    // The page may load nothing from elsewhere.
    EXPECT_NE(page.find("Content-Security-Policy: default-src 'none';"), std::string::npos);
    EXPECT_NE(page.find("connect-src 'self'"), std::string::npos);
    EXPECT_EQ(body(page), pageHtml());

    EXPECT_EQ(body(get(port, "/api/state")), "{\"title\":\"T\",\"display\":{\"width\":20,\"lines\":[\"a\"]}}");
    tape.print("ЧЕК 1\nРАЗОМ 10.00\n");
    EXPECT_EQ(body(get(port, "/api/tape?since=1")), "{\"first\":1,\"last\":2,\"lines\":[{\"n\":2,\"text\":\"РАЗОМ 10.00\"}]}");
    EXPECT_EQ(status(get(port, "/api/tape?since=x")), 400);
    EXPECT_EQ(status(get(port, "/api/tape?since=99999999999999999999")), 400);
    EXPECT_EQ(body(get(port, "/api/exchanges")), "{\"first\":0,\"last\":0,\"exchanges\":[]}");
    EXPECT_NE(body(get(port, "/api/faults")).find("{\"name\":\"delay\",\"help\":\"answer late\",\"argument\":\"PATH=MS\",\"on\":false"),
              std::string::npos);
    EXPECT_EQ(status(get(port, "/api/nothing")), 404);
    EXPECT_EQ(status(get(port, "/../etc/passwd")), 404);

    Client c(port);
    c.send("DELETE /api/faults HTTP/1.1\r\n\r\n");
    const std::string r = c.response();
    EXPECT_EQ(status(r), 405);
    EXPECT_NE(r.find("Allow: GET, POST"), std::string::npos);
}

TEST_F(ConsoleServer, KeepsConnectionsAliveAndAnswersPipelinedRequestsInOrder)
{
    Client c(port);
    c.send("GET /api/state HTTP/1.1\r\n\r\nGET /api/faults HTTP/1.1\r\n\r\n");
    const std::string first = c.response(), second = c.response();
    EXPECT_NE(first.find("\"title\":\"T\""), std::string::npos);
    EXPECT_NE(second.find("\"faults\":"), std::string::npos);
    c.send("GET /api/state HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_NE(c.response().find("Connection: close"), std::string::npos);
    EXPECT_TRUE(c.closedByServer());
}

TEST_F(ConsoleServer, SwitchesFaultsOnlyForWellFormedRequestsFromItsOwnPage)
{
    std::string r = post(port, "{\"name\":\"delay\",\"on\":true,\"value\":\"/cgi/chk=500\"}",
                         "Origin: http://127.0.0.1:" + std::to_string(port) + "\r\n");
    EXPECT_EQ(status(r), 200) << r;
    EXPECT_NE(body(r).find("{\"ok\":true,\"faults\":["), std::string::npos);
    EXPECT_NE(body(r).find("\"on\":true,\"value\":\"/cgi/chk=500\""), std::string::npos);
    EXPECT_TRUE(delayOn);

    // Another site's page in the same browser may not switch anything.
    r = post(port, "{\"name\":\"nak\",\"on\":true}", "Origin: http://evil.example\r\n");
    EXPECT_EQ(status(r), 403);
    // A form post (no preflight in a browser) is refused too.
    EXPECT_EQ(status(post(port, "name=nak&on=true", "", "application/x-www-form-urlencoded")), 415);
    EXPECT_EQ(status(post(port, "{\"name\":\"nak\",\"on\":true", "")), 400);
    EXPECT_EQ(status(post(port, "{\"name\":\"nak\"}", "")), 400);
    EXPECT_EQ(status(post(port, "{\"name\":\"nak\",\"on\":\"yes\"}", "")), 400);
    EXPECT_EQ(status(post(port, "{\"name\":\"nak\",\"on\":true,\"value\":5}", "")), 400);
    EXPECT_FALSE(nakOn);
    // The simulator's own refusal comes back with its reason.
    r = post(port, "{\"name\":\"delay\",\"on\":true,\"value\":\"500\"}");
    EXPECT_EQ(status(r), 400);
    EXPECT_NE(body(r).find("\"error\":\"no: delay\""), std::string::npos);
    EXPECT_EQ(status(post(port, "{\"name\":\"nak\",\"on\":true}")), 200);
    EXPECT_TRUE(nakOn);
}

TEST_F(ConsoleServer, EventStreamNamesWhatChanged)
{
    Client events(port);
    events.send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_NE(events.read("retry:").find("Content-Type: text/event-stream"), std::string::npos);
    tape.print("line");
    server->notify("tape");
    server->notify("unknown");   // ignored
    EXPECT_NE(events.read("event: tape\ndata: ").find("event: tape\ndata: "), std::string::npos);
    // A fault switched through the API is announced by the server itself.
    EXPECT_EQ(status(post(port, "{\"name\":\"nak\",\"on\":true}")), 200);
    EXPECT_NE(events.read("event: faults").find("event: faults"), std::string::npos);
    // The stream is not closed as idle while its page reads it.
    EXPECT_FALSE(events.closedByServer(600));
}

TEST_F(ConsoleServer, ClosesConnectionsThatSendTooMuchOrStall)
{
    {
        Client c(port);
        c.send("POST /api/faults HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 5000\r\n\r\n");
        const std::string r = c.response();
        EXPECT_EQ(status(r), 413);
        EXPECT_NE(r.find("Connection: close"), std::string::npos);
        EXPECT_TRUE(c.closedByServer());
    }
    {
        Client c(port);
        c.send("GET / HTTP/1.1\r\nX: " + std::string(9000, 'x'));
        EXPECT_EQ(status(c.response()), 431);
        EXPECT_TRUE(c.closedByServer());
    }
    {
        // Half a request, then nothing: closed after the idle time.
        Client c(port);
        c.send("GET /api/st");
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_TRUE(c.closedByServer(5000));
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
    }
    // More clients than allowed wait their turn; the server stays up for the next one.
    std::vector<std::unique_ptr<Client>> many;
    for (int i = 0; i < 12; ++i) many.push_back(std::make_unique<Client>(port));
    many.clear();
    EXPECT_EQ(status(get(port, "/api/state")), 200);
}

TEST_F(ConsoleServer, StopsPromptlyWithClientsConnected)
{
    Client events(port);
    events.send("GET /api/events HTTP/1.1\r\n\r\n");
    events.read("retry:");
    Client partial(port);
    partial.send("GET /");
    const auto t0 = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_TRUE(events.closedByServer(1000));
    EXPECT_FALSE(Client(port).connected());
    server->stop();   // twice is fine
}

TEST(ConsoleServerStart, RefusesAnAddressItCannotUse)
{
    Server::Options o;
    o.address = "not an address";
    Server s(Hooks(), o);
    EXPECT_THROW(s.start(), std::runtime_error);
    Server::Options any;
    Server first(Hooks(), any);
    first.start();
    Server::Options same;
    same.port = first.port();
    Server second(Hooks(), same);
    EXPECT_THROW(second.start(), std::runtime_error);
}
