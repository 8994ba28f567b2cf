// HttpClient against the simulated register (and a scripted server for exact bodies).
#include "netclient/http_client.h"
#include "netsim.h"
#include "captured_client_log.h"
#include "scripted_server.h"
#include "test_files.h"


#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Net/NetException.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using oltra::HttpClient;
using oltra::HttpTimeouts;
using testsupport::CapturedClientLog;

const char kState[] = "/cgi/state.php";

netsim::Config simConfig(netsim::Auth auth = netsim::Auth::None)
{
    netsim::Config c;
    c.auth = auth;
    c.clock = "2026-12-08 10:00:00";
    return c;
}

HttpTimeouts shortTimeouts(int normalMs, int challengedMs)
{
    HttpTimeouts t;
    t.normal = Poco::Timespan(0, normalMs * 1000);
    t.challenged = Poco::Timespan(0, challengedMs * 1000);
    return t;
}

class HttpClientTest : public ::testing::Test {
protected:
};

TEST_F(HttpClientTest, AddressFormsGiveHostAndPort)
{
    EXPECT_EQ(HttpClient("192.168.0.10", "u", "p").port(), 80);
    EXPECT_EQ(HttpClient("192.168.0.10", "u", "p").host(), "192.168.0.10");
    EXPECT_EQ(HttpClient("192.168.0.10:8080", "u", "p").port(), 8080);
    HttpClient full("http://10.1.2.3:81/some/path", "u", "p");
    EXPECT_EQ(full.host(), "10.1.2.3");
    EXPECT_EQ(full.port(), 81);
    EXPECT_THROW(HttpClient("10.1.2.3:99999", "u", "p"), Poco::SyntaxException);
}

class HttpAuthTest : public HttpClientTest, public ::testing::WithParamInterface<netsim::Auth> {};

TEST_P(HttpAuthTest, AnswersTheChallengeAndRejectsAWrongPassword)
{
    netsim::Simulator sim(simConfig(GetParam()));
    sim.start();
    HttpClient client(sim.address(), "service", "384190");
    std::string body;
    ASSERT_TRUE(client.get(kState, body));
    EXPECT_NE(body.find("\"serial\":\"ON40001234\""), std::string::npos);
    // A POST is sent again, body included, after the challenge.
    ASSERT_TRUE(client.post("/cgi/scr", u"[{\"id\":1,\"align\":\"l\",\"str\":\"ціна\"}]", body));
    const auto requests = sim.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().body, "[{\"id\":1,\"align\":\"l\",\"str\":\"ціна\"}]");

    CapturedClientLog log;
    HttpClient wrong(sim.address(), "service", "000000");
    try {
        wrong.get(kState, body);
        FAIL() << "no exception";
    } catch (const Poco::Exception& e) {
        EXPECT_EQ(e.code(), oltra::kAuthenticationErrorCode);
        EXPECT_EQ(e.message(), "Authentication error: Wrong username or password.");
    }
    EXPECT_TRUE(log.contains("ERROR: Exception: Authentication error: Wrong username or password.\n"));

    // A register that refuses every login.
    netsim::Faults f;
    f.always401 = true;
    sim.setFaults(f);
    try {
        client.get(kState, body);
        FAIL() << "no exception";
    } catch (const Poco::Exception& e) {
        EXPECT_EQ(e.code(), 1002);
    }
}

INSTANTIATE_TEST_SUITE_P(Schemes, HttpAuthTest, ::testing::Values(netsim::Auth::Basic, netsim::Auth::Digest),
                         [](const ::testing::TestParamInfo<netsim::Auth>& p) {
                             return p.param == netsim::Auth::Basic ? std::string("Basic") : std::string("Digest");
                         });

TEST_F(HttpClientTest, TimeOutsThrowAndTheLongTimeOutFollowsAChallenge)
{
    netsim::Simulator sim(simConfig(netsim::Auth::Digest));
    sim.start();
    netsim::Faults f;
    f.delayMs[kState] = 3000;
    sim.setFaults(f);
    std::string body;
    {
        // The 401 comes at once; the authenticated request then waits under the
        // after-challenge time-out.
        HttpClient client(sim.address(), "service", "384190", shortTimeouts(5000, 1000));
        CapturedClientLog log;
        EXPECT_THROW(client.get(kState, body), Poco::TimeoutException);
        EXPECT_TRUE(log.contains("ERROR: Timeout"));
        // The late answer is not taken for the next request's.
        sim.setFaults(netsim::Faults());
        ASSERT_TRUE(client.get("/cgi/tbl/Fsk", body));
        EXPECT_NE(body.find("NumChk"), std::string::npos);
    }
    netsim::Simulator open(simConfig(netsim::Auth::None));
    open.start();
    open.setFaults(f);
    HttpClient client(open.address(), "service", "384190", shortTimeouts(1000, 5000));
    EXPECT_THROW(client.get(kState, body), Poco::TimeoutException);
}

TEST_F(HttpClientTest, InflatesDeflateBodiesAndDropsTheBom)
{
    netsim::Simulator sim(simConfig());
    sim.start();
    HttpClient client(sim.address(), "", "");
    std::string plain, body;
    ASSERT_TRUE(client.get(kState, plain));
    for (const auto& mode : {std::make_pair(true, false), std::make_pair(false, true), std::make_pair(true, true)}) {
        netsim::Faults f;
        f.deflate = mode.first;
        f.bom = mode.second;
        sim.setFaults(f);
        ASSERT_TRUE(client.get(kState, body));
        EXPECT_EQ(body, plain) << "deflate " << mode.first << " bom " << mode.second;
    }
}

TEST_F(HttpClientTest, BomAndEncodingEdges)
{
    testsupport::ScriptedServer server;
    HttpClient client(server.address(), "", "");
    std::string body;
    server.set("/two", "\xEF\xBB");
    ASSERT_TRUE(client.get("/two", body));
    EXPECT_EQ(body, "\xEF\xBB");
    server.set("/three", "\xEF\xBB\xBF");
    ASSERT_TRUE(client.get("/three", body));
    EXPECT_EQ(body, "");
    // Only "deflate" is undone; another encoding comes back as it is.
    server.set("/gz", 200, "raw", {{"Content-Encoding", "gzip"}});
    ASSERT_TRUE(client.get("/gz", body));
    EXPECT_EQ(body, "raw");
    // A body that is not deflate data fails the call with the library's error.
    server.set("/bad", 200, "not zlib", {{"Content-Encoding", "deflate"}});
    EXPECT_THROW(client.get("/bad", body), Poco::Net::MessageException);
    // Nor is a body cut short of its announced length.
    server.set("/short", 200, "{\"a\":", {{"Content-Length", "100"}, {"Connection", "close"}});
    EXPECT_THROW(client.get("/short", body), Poco::Net::MessageException);
    ASSERT_TRUE(client.get("/two", body));
}

TEST_F(HttpClientTest, StatusOtherThan200IsFalseWithTheBody)
{
    netsim::Simulator sim(simConfig());
    sim.start();
    netsim::Faults f;
    f.status[kState] = 404;
    f.status["/desc"] = 500;
    sim.setFaults(f);
    HttpClient client(sim.address(), "", "");
    std::string body;
    EXPECT_FALSE(client.get(kState, body));
    EXPECT_EQ(body, "<html><body>404</body></html>");
    EXPECT_FALSE(client.get("/desc", body));
    EXPECT_TRUE(client.get("/cgi/tbl/Tax", body));
}

TEST_F(HttpClientTest, BodiesAreCappedAt16MiB)
{
    netsim::Simulator sim(simConfig());
    sim.start();
    HttpClient client(sim.address(), "", "");
    std::string body;
    netsim::Faults f;
    f.oversize[kState] = oltra::kMaxResponseBytes;
    sim.setFaults(f);
    ASSERT_TRUE(client.get(kState, body));
    EXPECT_EQ(body.size(), oltra::kMaxResponseBytes);

    for (const bool deflate : {false, true}) {
        f.oversize[kState] = oltra::kMaxResponseBytes + 1;
        f.deflate = deflate;
        sim.setFaults(f);
        CapturedClientLog log;
        try {
            client.get(kState, body);
            FAIL() << "no exception, deflate " << deflate;
        } catch (const Poco::Net::MessageException& e) {
            EXPECT_NE(e.message().find("16777216"), std::string::npos);
        }
        EXPECT_TRUE(log.contains("Response body exceeds the limit of 16777216 bytes"));
    }
    sim.setFaults(netsim::Faults());
    EXPECT_TRUE(client.get(kState, body));
}

TEST_F(HttpClientTest, RefusedConnectionRaisesTheLibraryError)
{
    uint16_t port;
    {
        netsim::Simulator sim(simConfig());
        sim.start();
        port = sim.port();
    }
    HttpClient client("127.0.0.1:" + std::to_string(port), "", "");
    std::string body;
    EXPECT_THROW(client.get(kState, body), Poco::Net::ConnectionRefusedException);
}

TEST_F(HttpClientTest, DebugLogAndResponses)
{
    netsim::Simulator sim(simConfig());
    sim.start();
    CapturedClientLog log;
    std::string body;
    {
        HttpClient client(sim.address(), "", "");
        ASSERT_TRUE(client.get(kState, body));
        ASSERT_TRUE(client.post("/cgi/proc/openbox", u"", body));
        ASSERT_TRUE(client.post("/cgi/scr", u"[]", body));
    }
    const std::string text = log.text();
    const std::string separator(54, '-');
    const std::vector<std::string> expected = {"DEBUG: Create HTTP object host: 127.0.0.1\n", "DEBUG: " + separator + "\n",
                                               "DEBUG: GET request: /cgi/state.php\n", "DEBUG: POST request: /cgi/scr\n",
                                               "DEBUG: Content:[]\n", "DEBUG: Response status: OK\n",
                                               "DEBUG: Destroy HTTP object\n"};
    for (const std::string& line : expected)
        EXPECT_NE(text.find(line), std::string::npos) << line;
    // The empty POST logs no "Content:" line: the only one is the display write's.
    EXPECT_EQ(text.find("Content:"), text.rfind("Content:"));
    const auto requests = sim.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[1].body, "");

    // Each response is handed to the log as received.
    const std::vector<std::string> responses = log.responses();
    ASSERT_EQ(responses.size(), 3u);
    EXPECT_NE(responses[0].find("\"serial\""), std::string::npos) << responses[0];
}

} // namespace
