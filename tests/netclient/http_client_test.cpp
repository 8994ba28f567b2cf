// HttpClient against the simulated register (and a scripted server for exact bodies).
#include "netclient/http_client.h"
#include "simulators/netreg/netsim.h"
#include "tests/support/captured_client_log.h"
#include "tests/support/raw_http_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"

#include <Poco/DeflatingStream.h>
#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Net/NetException.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <sstream>

namespace {

using oltra::HttpClient;
using oltra::HttpTimeouts;
using testsupport::CapturedClientLog;
using testsupport::RawHttpServer;
using Pieces = std::vector<RawHttpServer::Piece>;

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

HttpTimeouts withDeadlines(HttpTimeouts t, int deadlineMs, int challengedDeadlineMs)
{
    t.deadline = Poco::Timespan(0, deadlineMs * 1000);
    t.challengedDeadline = Poco::Timespan(0, challengedDeadlineMs * 1000);
    return t;
}

std::string deflated(const std::string& text)
{
    std::ostringstream out;
    Poco::DeflatingOutputStream deflater(out, Poco::DeflatingStreamBuf::STREAM_ZLIB);
    deflater << text;
    deflater.close();
    return out.str();
}

// The value of a Digest parameter in a request head, quoted or not.
std::string digestParam(const std::string& head, const std::string& name)
{
    std::smatch m;
    if (!std::regex_search(head, m, std::regex("[ ,]" + name + "=\"?([^\",\r]*)"))) return "";
    return m[1];
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
    const std::vector<std::string> expected = {"DEBUG: Create HTTP object host: 127.0.0.1\n",
                                               "DEBUG: " + separator + "\n",
                                               "DEBUG: GET request: /cgi/state.php\n",
                                               "DEBUG: POST request: /cgi/scr\n",
                                               "DEBUG: Content:[]\n",
                                               "DEBUG: Response status: OK\n",
                                               "DEBUG: Destroy HTTP object\n"};
    for (const std::string& line : expected) EXPECT_NE(text.find(line), std::string::npos) << line;
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

// Against the simulated register, which checks every Digest answer: a register that takes
// credentials sent in advance costs one request per call after the first challenge, with a
// fresh challenge whenever its nonce runs out; one that takes them only in answer to a
// challenge costs two, as every call did before.
TEST_P(HttpAuthTest, HalfTheRoundTripsWhereTheRegisterTakesCredentialsInAdvance)
{
    netsim::Simulator sim(simConfig(GetParam()));
    sim.start();
    struct Case {
        bool challengeFirst;
        int nonceUses;
        uint64_t requests, unauthorised;
    };
    const bool digest = GetParam() == netsim::Auth::Digest;
    const Case cases[] = {
        {false, 0, 11, 1},
        // A nonce serves 4 requests: after every fourth call a stale 401 and a new challenge.
        {false, 4, digest ? 13u : 11u, digest ? 3u : 1u},
        {true, 0, 20, 10},
    };
    for (const Case& c : cases) {
        netsim::Faults f;
        f.challengeFirst = c.challengeFirst;
        f.nonceUses = c.nonceUses;
        sim.setFaults(f);
        sim.clearTraffic();
        HttpClient client(sim.address(), "service", "384190");
        std::string body;
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(client.get(kState, body)) << i;
            ASSERT_TRUE(client.post("/cgi/scr", u"[]", body)) << i;
        }
        const netsim::Traffic t = sim.traffic();
        EXPECT_EQ(t.requests, c.requests) << c.challengeFirst << " " << c.nonceUses;
        EXPECT_EQ(t.unauthorised, c.unauthorised) << c.challengeFirst << " " << c.nonceUses;
    }
}

// A register that sends the head and part of the body and then stalls: a time-out, however
// the body is encoded, and never a malformed answer.
TEST_F(HttpClientTest, StallMidBodyIsATimeOut)
{
    const std::string text = "{\"model\":\"" + std::string(400, 'x') + "\"}";
    for (const bool deflate : {false, true}) {
        const std::string body = deflate ? deflated(text) : text;
        RawHttpServer server([&](int, const std::string&) {
            const std::string whole = RawHttpServer::answer(200, "OK", body,
                                                            deflate ? "Content-Encoding: deflate\r\n" : "");
            const std::size_t cut = whole.size() - body.size() / 2;
            return Pieces{{whole.substr(0, cut), 0, 3000}, {whole.substr(cut)}};
        });
        HttpClient client(server.address(), "", "", shortTimeouts(300, 300));
        std::string out;
        EXPECT_THROW(client.get(kState, out), Poco::TimeoutException) << "deflate " << deflate;
    }
}

// Each byte of the answer comes well within the read time-out; the exchange still ends at
// its deadline, which after a challenge is the longer one.
TEST_F(HttpClientTest, DrippedAnswerEndsAtTheExchangeDeadline)
{
    const std::string dripped = RawHttpServer::answer(200, "OK", std::string(60, 'x')); // ~80 bytes
    RawHttpServer open([&](int, const std::string&) { return Pieces{{dripped, 25}}; });
    std::string out;
    {
        HttpClient client(open.address(), "", "", withDeadlines(shortTimeouts(1000, 1000), 500, 60000));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(client.get(kState, out), Poco::TimeoutException);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1800))
            << "the answer itself takes 2 s";
    }

    RawHttpServer login([&](int index, const std::string&) {
        if (index % 2 == 0)
            return Pieces{{RawHttpServer::answer(401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"r\"\r\n")}};
        return Pieces{{dripped, 25}};
    });
    HttpClient patient(login.address(), "u", "p", withDeadlines(shortTimeouts(1000, 1000), 500, 60000));
    ASSERT_TRUE(patient.get(kState, out));
    EXPECT_EQ(out, std::string(60, 'x'));
    HttpClient hasty(login.address(), "u", "p", withDeadlines(shortTimeouts(1000, 1000), 500, 500));
    EXPECT_THROW(hasty.get(kState, out), Poco::TimeoutException);
}

// After the first challenge the credentials go with every request, Digest with the nonce
// count increased; a 401 to them (a stale nonce) is answered like the first challenge.
TEST_F(HttpClientTest, CredentialsGoAlongAfterTheFirstChallenge)
{
    for (const bool digest : {false, true}) {
        SCOPED_TRACE(digest ? "Digest" : "Basic");
        RawHttpServer server([&](int index, const std::string& head) {
            const bool credentials = head.find("\r\nAuthorization: ") != std::string::npos;
            // Request 3 carries credentials the register no longer takes.
            if (!credentials || index == 3) {
                const std::string challenge = digest ? "WWW-Authenticate: Digest realm=\"r\", qop=\"auth\", nonce=\"" +
                                                           std::string(index < 3 ? "n1" : "n2") + "\", opaque=\"o\"" +
                                                           (index == 3 ? ", stale=true" : "") + "\r\n"
                                                     : "WWW-Authenticate: Basic realm=\"r\"\r\n";
                return Pieces{{RawHttpServer::answer(401, "Unauthorized", "<html>401</html>", challenge)}};
            }
            return Pieces{{RawHttpServer::answer(200, "OK", "{}")}};
        });
        HttpClient client(server.address(), "service", "384190");
        std::string body;
        for (const char* path : {"/a", "/b", "/c", "/d"}) EXPECT_TRUE(client.get(path, body)) << path;
        std::string posted;
        EXPECT_TRUE(client.post("/e", u"{}", posted));

        const std::vector<std::string> heads = server.heads();
        ASSERT_EQ(heads.size(), 7u) << "one challenge at the start, one for the refused credentials";
        EXPECT_EQ(heads[0].find("Authorization"), std::string::npos);
        for (std::size_t i = 1; i < heads.size(); ++i)
            EXPECT_NE(heads[i].find(digest ? "\r\nAuthorization: Digest " : "\r\nAuthorization: Basic "),
                      std::string::npos)
                << i;
        if (digest) {
            const std::vector<std::pair<std::string, std::string>> expected = {
                {"", ""},           {"n1", "00000001"}, {"n1", "00000002"}, {"n1", "00000003"},
                {"n2", "00000001"}, {"n2", "00000002"}, {"n2", "00000003"}};
            for (std::size_t i = 1; i < heads.size(); ++i) {
                EXPECT_EQ(digestParam(heads[i], "nonce"), expected[i].first) << i;
                EXPECT_EQ(digestParam(heads[i], "nc"), expected[i].second) << i;
            }
            EXPECT_EQ(digestParam(heads[6], "uri"), "/e");
        }
    }
}

} // namespace
