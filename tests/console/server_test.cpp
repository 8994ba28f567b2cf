// The console server over real sockets on loopback: routes, the fault switch requests,
// the event stream, and what it does with clients that misbehave.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <new>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

#include "simulators/console/console.h"
#include "tests/console/console_client.h"

using namespace simconsole;

namespace {

using consoletest::Client;

std::string get(std::uint16_t port, const std::string& target)
{
    Client c(port);
    c.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nConnection: close\r\n\r\n");
    return c.read();
}

std::string post(std::uint16_t port, const std::string& body, const std::string& extra = "",
                 const std::string& type = "application/json")
{
    Client c(port);
    c.send("POST /api/faults HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nContent-Type: " + type +
           "\r\n" + extra + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    return c.read();
}

int status(const std::string& response) { return response.size() > 12 ? std::stoi(response.substr(9, 3)) : 0; }
std::string body(const std::string& response) { return response.substr(response.find("\r\n\r\n") + 4); }

class ConsoleServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        Hooks h;
        h.state = [this] {
            if (stateHook) return stateHook();
            return std::string("{\"title\":\"T\",\"display\":{\"width\":20,\"lines\":[\"a\"]}}");
        };
        h.tape = [this](std::uint64_t since) { return tape.json(since); };
        h.exchanges = [this](std::uint64_t since) {
            return exchangesHook ? exchangesHook(since) : exchanges.json(since);
        };
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
        o.maxEventStreams = 1;
        o.limits.maxBody = 1024;
        server = std::make_unique<Server>(h, o);
        server->start();
        port = server->port();
    }

    TapeFeed tape;
    ExchangeFeed exchanges;
    // Set before the first request only (the server's thread calls them).
    std::function<std::string()> stateHook;
    std::function<std::string(std::uint64_t)> exchangesHook;
    std::mutex mutex;
    bool nakOn = false, delayOn = false;
    std::string delay;
    std::unique_ptr<Server> server;
    std::uint16_t port = 0;
    std::string host() const { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }
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
    EXPECT_EQ(body(get(port, "/api/tape?since=1")),
              "{\"first\":1,\"last\":2,\"lines\":[{\"n\":2,\"text\":\"РАЗОМ 10.00\"}]}");
    EXPECT_EQ(status(get(port, "/api/tape?since=x")), 400);
    EXPECT_EQ(status(get(port, "/api/tape?since=99999999999999999999")), 400);
    EXPECT_EQ(body(get(port, "/api/exchanges")), "{\"first\":0,\"last\":0,\"exchanges\":[]}");
    EXPECT_NE(body(get(port, "/api/faults"))
                  .find("{\"name\":\"delay\",\"help\":\"answer late\",\"argument\":\"PATH=MS\",\"on\":false"),
              std::string::npos);
    EXPECT_EQ(status(get(port, "/api/nothing")), 404);
    EXPECT_EQ(status(get(port, "/../etc/passwd")), 404);

    Client c(port);
    c.send("DELETE /api/faults HTTP/1.1\r\n" + host() + "\r\n");
    const std::string r = c.response();
    EXPECT_EQ(status(r), 405);
    EXPECT_NE(r.find("Allow: GET, POST"), std::string::npos);
}

TEST_F(ConsoleServer, KeepsConnectionsAliveAndAnswersPipelinedRequestsInOrder)
{
    Client c(port);
    c.send("GET /api/state HTTP/1.1\r\n" + host() + "\r\nGET /api/faults HTTP/1.1\r\n" + host() + "\r\n");
    const std::string first = c.response(), second = c.response();
    EXPECT_NE(first.find("\"title\":\"T\""), std::string::npos);
    EXPECT_NE(second.find("\"faults\":"), std::string::npos);
    c.send("GET /api/state HTTP/1.1\r\n" + host() + "Connection: close\r\n\r\n");
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
    events.send("GET /api/events HTTP/1.1\r\n" + host() + "\r\n");
    EXPECT_NE(events.read("retry:").find("Content-Type: text/event-stream"), std::string::npos);
    tape.print("line");
    server->notify("tape");
    server->notify("unknown"); // ignored
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
    events.send("GET /api/events HTTP/1.1\r\n" + host() + "\r\n");
    events.read("retry:");
    Client partial(port);
    partial.send("GET /");
    const auto t0 = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_TRUE(events.closedByServer(1000));
    EXPECT_FALSE(Client(port).connected());
    server->stop(); // twice is fine
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

// A page of another site whose name was made to resolve to 127.0.0.1 sends its own name
// in Host (and in Origin): the console answers only to its own names and port.
TEST_F(ConsoleServer, AnswersOnlyRequestsForItsOwnNamesAndFromItsOwnPage)
{
    const std::string p = std::to_string(port);
    auto ask = [this](const std::string& head, const std::string& target = "/api/state") {
        Client c(port);
        c.send("GET " + target + " HTTP/1.1\r\n" + head + "Connection: close\r\n\r\n");
        return status(c.response());
    };
    for (const std::string& name :
         std::vector<std::string>{"127.0.0.1:" + p, "localhost:" + p, "LocalHost:" + p, "[::1]:" + p})
        EXPECT_EQ(ask("Host: " + name + "\r\n"), 200) << name;
    for (const std::string& name :
         std::vector<std::string>{"evil.example:" + p, "127.0.0.1.evil.example:" + p, "127.0.0.1", "127.0.0.1:1",
                                  "127.0.0.1:" + p + "0", "localhost:" + p + ", evil.example", "[::1]", "::1:" + p,
                                  "127.0.0.1:" + p + "@evil", "", "127.0.0.1:-" + p, ":" + p})
        EXPECT_EQ(ask("Host: " + name + "\r\n"), 421) << name;
    EXPECT_EQ(ask("Host: evil.example:" + p + "\r\nOrigin: http://evil.example:" + p + "\r\n", "/api/tape"), 421);
    EXPECT_EQ(ask("Host: evil.example:" + p + "\r\n", "/"), 421);
    // HTTP/1.1 needs a Host; a 1.0 client may leave it out.
    EXPECT_EQ(ask(""), 400);
    {
        Client c(port);
        c.send("GET /api/state HTTP/1.0\r\n\r\n");
        EXPECT_EQ(status(c.response()), 200);
    }
    // Switching a fault from a rebound page: refused, nothing switched.
    std::string r;
    {
        Client c(port);
        const std::string body = "{\"name\":\"nak\",\"on\":true}";
        c.send("POST /api/faults HTTP/1.1\r\nHost: evil.example:" + p + "\r\nOrigin: http://evil.example:" + p +
               "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
               body);
        r = c.response();
    }
    EXPECT_EQ(status(r), 421) << r;
    EXPECT_FALSE(nakOn);
    // Origin: only the console's own names, with its port, over http.
    for (const std::string& origin :
         std::vector<std::string>{"http://evil.example:" + p, "http://127.0.0.1:1", "http://127.0.0.1",
                                  "https://127.0.0.1:" + p, "null", "http://127.0.0.1:" + p + "/"}) {
        EXPECT_EQ(status(post(port, "{\"name\":\"nak\",\"on\":true}", "Origin: " + origin + "\r\n")), 403) << origin;
        EXPECT_EQ(ask("Host: 127.0.0.1:" + p + "\r\nOrigin: " + origin + "\r\n"), 403) << origin;
    }
    EXPECT_FALSE(nakOn);
    EXPECT_EQ(status(post(port, "{\"name\":\"nak\",\"on\":true}", "Origin: http://localhost:" + p + "\r\n")), 200);
    EXPECT_TRUE(nakOn);
}

TEST_F(ConsoleServer, RefusesBodiesThatAreNotJson)
{
    for (const char* type : {"application/jsonx", "application/json-seq", "application/json+x", "text/json", ""})
        EXPECT_EQ(status(post(port, "{\"name\":\"nak\",\"on\":true}", "", type)), 415) << type;
    EXPECT_FALSE(nakOn);
    EXPECT_EQ(status(post(port, "{\"name\":\"nak\",\"on\":true}", "", "Application/JSON ; charset=utf-8")), 200);
    EXPECT_TRUE(nakOn);
}

// A head or body sent a byte at a time, each byte well within the time allowed for
// nothing to come, is still cut off once the whole request has taken that long.
TEST_F(ConsoleServer, ClosesARequestThatTakesTooLongHoweverSteadilyItComes)
{
    const std::vector<std::pair<std::string, std::string>> drips = {
        {"GET /api/state HTTP/1.1\r\n" + host() + "X-Slow: ", "a"},
        {"", "\r\n"}, // blank lines before a request
        {"POST /api/faults HTTP/1.1\r\n" + host() + "Content-Type: application/json\r\nContent-Length: 900\r\n\r\n",
         " "},
    };
    for (const auto& drip : drips) {
        Client c(port);
        c.send(drip.first);
        bool closed = false;
        // 300 ms allowed; a byte every 50 ms for up to 10 s.
        for (int i = 0; i < 200 && !closed; ++i) closed = !c.send(drip.second) || c.closedByServer(50);
        EXPECT_TRUE(closed) << drip.first;
    }
    EXPECT_EQ(status(get(port, "/api/state")), 200);
}

// Many pipelined requests with large answers in one write: the server answers them one
// after the other as the client takes the answers, not all at once into memory.
TEST_F(ConsoleServer, AnswersPipelinedRequestsOnlyAsFastAsTheyAreTaken)
{
    const std::string big = "{\"x\":\"" + std::string(512 * 1024, 'x') + "\"}";
    std::atomic<int> calls{0};
    exchangesHook = [&](std::uint64_t) {
        ++calls;
        return big;
    };
    Client c(port, 64 * 1024); // a small window: the socket buffers hold few answers
    std::string requests;
    const int count = 85;
    for (int i = 0; i < count; ++i) requests += "GET /api/exchanges?since=0 HTTP/1.1\r\n" + host() + "\r\n";
    c.send(requests);
    int maxAhead = 0;
    for (int got = 0; got < count; ++got) {
        const std::string r = c.response(10000);
        ASSERT_EQ(status(r), 200) << "answer " << got;
        ASSERT_EQ(body(r), big);
        maxAhead = std::max(maxAhead, calls.load() - got);
    }
    EXPECT_EQ(calls.load(), count);
    // What the socket buffers hold, and no more, is answered ahead of the client.
    EXPECT_LE(maxAhead, 16);
}

TEST_F(ConsoleServer, AnythingAHookThrowsCostsOnlyThatAnswer)
{
    std::atomic<int> round{0};
    stateHook = [&]() -> std::string {
        switch (round++) {
        case 0: throw 42;
        case 1: throw std::bad_alloc();
        case 2: throw std::runtime_error("broken");
        default: return "{}";
        }
    };
    for (int i = 0; i < 3; ++i) EXPECT_EQ(status(get(port, "/api/state")), 500) << i;
    EXPECT_EQ(body(get(port, "/api/state")), "{}");
}

// The error statuses the README lists are those the console answers.
TEST_F(ConsoleServer, TheReadmeListsTheErrorStatusesItAnswers)
{
    std::set<int> answered;
    auto raw = [&](const std::string& bytes) {
        Client c(port);
        c.send(bytes);
        answered.insert(status(c.response()));
    };
    const std::string h = host();
    answered.insert(status(get(port, "/api/tape?since=x")));                      // 400
    answered.insert(status(post(port, "{}", "Origin: http://evil.example\r\n"))); // 403
    answered.insert(status(get(port, "/nothing")));                               // 404
    raw("DELETE /api/state HTTP/1.1\r\n" + h + "\r\n");                           // 405
    raw("POST /api/faults HTTP/1.1\r\n" + h + "Content-Length: 99999\r\n\r\n");   // 413
    raw("GET /" + std::string(3000, 'a') + " HTTP/1.1\r\n");                      // 414
    answered.insert(status(post(port, "{}", "", "text/plain")));                  // 415
    raw("GET / HTTP/1.1\r\nHost: evil.example\r\n\r\n");                          // 421
    raw("GET / HTTP/1.1\r\n" + h + "X: " + std::string(9000, 'x') + "\r\n\r\n");  // 431
    stateHook = []() -> std::string { throw std::runtime_error("x"); };
    answered.insert(status(get(port, "/api/state")));                                // 500
    raw("POST /api/faults HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n"); // 501
    raw("GET / HTTP/2.0\r\n\r\n");                                                   // 505
    {
        std::vector<std::unique_ptr<Client>> streams;
        for (int i = 0; i < 2; ++i) {
            streams.push_back(std::make_unique<Client>(port));
            streams.back()->send("GET /api/events HTTP/1.1\r\n" + h + "\r\n");
            streams.back()->read("retry:");
        }
        answered.insert(status(streams.back()->read("\r\n\r\n"))); // 503
    }
    answered.erase(200);

    std::ifstream readme(CONSOLE_README);
    ASSERT_TRUE(readme.good()) << CONSOLE_README;
    std::stringstream text;
    text << readme.rdbuf();
    const std::string all = text.str();
    const std::size_t from = all.find("Errors come as");
    ASSERT_NE(from, std::string::npos);
    const std::string sentence = all.substr(from, all.find(".\n", from) - from);
    std::set<int> listed;
    const std::regex code("\\b[1-5][0-9][0-9]\\b");
    for (auto it = std::sregex_iterator(sentence.begin(), sentence.end(), code); it != std::sregex_iterator(); ++it)
        listed.insert(std::stoi(it->str()));
    EXPECT_EQ(listed, answered) << sentence;
}
