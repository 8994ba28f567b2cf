// The simulated register's hostile behaviour: answers cut or paced on the wire, connection
// resets, documents answered wrongly or refused, a web server that is no register, the
// journal a lost receipt is settled by, and the login's nonce rules.
#include "simulators/netreg/netsim.h"
#include "tests/netreg/netsim_calls.h"

#include <Poco/JSON/Array.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

using namespace netsimtest;
using Poco::JSON::Array;
using Poco::JSON::Object;

const char kFsk[] = "{\"NumChk\":1,\"NumZ\":0}";

int nextReceipt(uint16_t port)
{
    const std::string fsk = get(port, "/cgi/tbl/Fsk");
    return Poco::JSON::Parser().parse(fsk).extract<Object::Ptr>()->getValue<int>("NumChk");
}

Array::Ptr journal(uint16_t port, int from)
{
    return Poco::JSON::Parser().parse(get(port, "/cgi/chk?id=" + std::to_string(from))).extract<Array::Ptr>();
}

TEST(NetsimWire, StallMidBodyKeepsTheRestBackUntilTheStallEnds)
{
    netsim::Simulator sim(plain());
    sim.start();
    netsim::Faults f;
    f.stallBodyMs["/cgi/tbl/Fsk"] = 60000;
    f.stallBodyMs["/cgi/chk"] = 300;
    sim.setFaults(f);

    // The head promises the whole body; half of it comes, then nothing.
    const Wire stalled = exchange(sim.port(), rawGet("/cgi/tbl/Fsk"), 800);
    EXPECT_EQ(stalled.bytes.compare(0, 15, "HTTP/1.1 200 OK"), 0) << stalled.bytes;
    EXPECT_NE(stalled.bytes.find("Content-Length: " + std::to_string(std::strlen(kFsk))), std::string::npos);
    EXPECT_EQ(bodyOf(stalled.bytes), std::string(kFsk).substr(0, (std::strlen(kFsk) + 1) / 2));
    EXPECT_FALSE(stalled.closed);

    // A short stall: the document is booked and its whole answer arrives, then the close.
    const Wire late = exchange(sim.port(), rawPost("/cgi/chk", "{}"), 5000);
    EXPECT_TRUE(late.closed);
    EXPECT_EQ(bodyOf(late.bytes), "{\"id\":1,\"no\":1}");
    EXPECT_NE(late.bytes.find("Connection: Close"), std::string::npos) << late.bytes;

    // A stall does not hold up the end of the simulator.
    std::thread waiting([&sim] { exchange(sim.port(), rawGet("/cgi/tbl/Fsk"), 10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto before = std::chrono::steady_clock::now();
    sim.stop();
    waiting.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

TEST(NetsimWire, DripSendsTheAnswerByteByByte)
{
    netsim::Simulator sim(plain());
    sim.start();
    netsim::Faults f;
    f.drip["/cgi/tbl/Fsk"] = netsim::Faults::Drip{1, true, true};
    sim.setFaults(f);
    // Dripped quickly, the answer is whole and correct.
    const Wire whole = exchange(sim.port(), rawGet("/cgi/tbl/Fsk"), 20000);
    EXPECT_TRUE(whole.closed);
    EXPECT_EQ(whole.bytes.compare(0, 15, "HTTP/1.1 200 OK"), 0);
    EXPECT_EQ(bodyOf(whole.bytes), kFsk);

    // Slowly: a second brings a few bytes of the head, or the whole head and a few bytes of
    // the body when only the body drips.
    f.drip["/cgi/tbl/Fsk"] = netsim::Faults::Drip{300, true, false};
    sim.setFaults(f);
    const Wire head = exchange(sim.port(), rawGet("/cgi/tbl/Fsk"), 1000);
    EXPECT_GE(head.bytes.size(), 1u);
    EXPECT_LE(head.bytes.size(), 5u);
    f.drip["/cgi/tbl/Fsk"] = netsim::Faults::Drip{300, false, true};
    sim.setFaults(f);
    const Wire body = exchange(sim.port(), rawGet("/cgi/tbl/Fsk"), 1000);
    EXPECT_NE(body.bytes.find("\r\n\r\n"), std::string::npos);
    EXPECT_GE(bodyOf(body.bytes).size(), 1u);
    EXPECT_LE(bodyOf(body.bytes).size(), 5u);
    EXPECT_FALSE(body.closed);
}

TEST(NetsimConnections, ResetsLeaveTheRequestUndone)
{
    netsim::Simulator sim(plain());
    sim.start();
    const uint16_t p = sim.port();
    netsim::Faults f;
    f.reset.insert("/cgi/chk");
    sim.setFaults(f);
    const Wire lost = exchange(p, rawPost("/cgi/chk", sale("F", 1, 10, 1, "")), 5000);
    EXPECT_TRUE(lost.reset);
    EXPECT_TRUE(lost.bytes.empty());
    EXPECT_EQ(nextReceipt(p), 1) << "a reset request is not carried out";

    // After two requests each connection is reset; a new one serves two more.
    f = netsim::Faults();
    f.resetAfter = 2;
    sim.setFaults(f);
    sim.clearTraffic();
    for (int round = 0; round < 2; ++round) {
        Poco::Net::HTTPClientSession session("127.0.0.1", p);
        session.setKeepAlive(true);
        session.setTimeout(Poco::Timespan(5, 0));
        for (int i = 0; i < 2; ++i) {
            Poco::Net::HTTPRequest request("GET", "/cgi/tbl/Fsk", Poco::Net::HTTPMessage::HTTP_1_1);
            Poco::Net::HTTPResponse response;
            session.sendRequest(request);
            std::string body;
            Poco::StreamCopier::copyToString(session.receiveResponse(response), body);
            EXPECT_EQ(body, kFsk);
        }
        Poco::Net::HTTPRequest third("GET", "/cgi/tbl/Fsk", Poco::Net::HTTPMessage::HTTP_1_1);
        Poco::Net::HTTPResponse response;
        session.sendRequest(third);
        EXPECT_THROW(session.receiveResponse(response), Poco::Exception);
    }
    const netsim::Traffic t = sim.traffic();
    EXPECT_EQ(t.connections, 2u);
    EXPECT_EQ(t.requests, 6u);
    ASSERT_EQ(t.perConnection.size(), 2u);
    EXPECT_EQ(t.perConnection[0].requests, 3u);
    EXPECT_EQ(t.perConnection[1].id, t.perConnection[0].id + 1);
}

TEST(NetsimDocuments, WrongAnswersAndRefusalsWithAReason)
{
    netsim::Simulator sim(plain());
    sim.start();
    const uint16_t p = sim.port();
    const std::string receipt = sale("F", 1, 10, 1, "");
    struct Case {
        netsim::Faults::BadAnswer kind;
        bool booked;
        std::string answer; // empty: only checked not to be JSON
    };
    const Case cases[] = {
        {netsim::Faults::BadAnswer::Html, false, ""},
        {netsim::Faults::BadAnswer::Array, false, "[]"},
        {netsim::Faults::BadAnswer::Broken, false, ""},
        {netsim::Faults::BadAnswer::Html, true, ""},
        {netsim::Faults::BadAnswer::Array, true, "[{\"id\":2,\"no\":2}]"},
        {netsim::Faults::BadAnswer::Broken, true, ""},
    };
    int booked = 0;
    for (const Case& c : cases) {
        netsim::Faults f;
        f.documentAnswer = c.kind;
        f.documentAnswerBooked = c.booked;
        sim.setFaults(f);
        const Reply r = call(p, "POST", "/cgi/chk", receipt);
        EXPECT_EQ(r.status, 200);
        if (!c.answer.empty()) EXPECT_EQ(r.body, c.answer);
        else EXPECT_ANY_THROW(Poco::JSON::Parser().parse(r.body)) << r.body;
        booked += c.booked;
        EXPECT_EQ(nextReceipt(p), 1 + booked) << r.body;
    }
    // Cash documents too (booked here, their answer broken); the null receipt, the copy and
    // the journal answer as usual.
    EXPECT_EQ(post(p, "/cgi/chk", "{\"IO\":[{\"IO\":{\"sum\":5}}]}"), "{\"id,,{");
    EXPECT_EQ(post(p, "/cgi/chk", "{\"L\":[]}"), "{}");
    EXPECT_EQ(post(p, "/cgi/chk", "{}"), "{\"id\":5,\"no\":4}");
    EXPECT_EQ(journal(p, 1)->size(), 5u);

    netsim::Faults refuse;
    refuse.documentStatus = 500;
    refuse.documentReason = "Paper out";
    sim.setFaults(refuse);
    const Wire refused = exchange(p, rawPost("/cgi/chk", receipt), 5000);
    EXPECT_EQ(refused.bytes.compare(0, 24, "HTTP/1.1 500 Paper out\r\n"), 0) << refused.bytes;
    EXPECT_NE(bodyOf(refused.bytes).find("Paper out"), std::string::npos);
    EXPECT_EQ(call(p, "POST", "/cgi/chk", "{\"IO\":[{\"IO\":{\"sum\":5}}]}").status, 500);
    EXPECT_EQ(call(p, "POST", "/cgi/chk", "{}").status, 200);
    EXPECT_EQ(nextReceipt(p), 6) << "refused documents are not booked; the null receipt is";
    refuse.documentReason.clear();
    sim.setFaults(refuse);
    EXPECT_EQ(
        exchange(p, rawPost("/cgi/chk", receipt), 5000).bytes.compare(0, 34, "HTTP/1.1 500 Internal Server Error"), 0);
}

TEST(NetsimDocuments, NotARegisterAnswersEveryPathWithAPage)
{
    netsim::Config c = plain();
    c.auth = netsim::Auth::Digest;
    c.faults.challengeFirst = true;
    netsim::Simulator sim(c);
    sim.start();
    for (const int status : {404, 500}) {
        netsim::Faults f;
        f.notRegister = status;
        sim.setFaults(f);
        for (const char* target : {"/cgi/state.php", "/desc", "/", "/cgi/chk?id=1"}) {
            const Wire w = exchange(sim.port(), rawGet(target), 5000);
            EXPECT_EQ(w.bytes.compare(0, 12, "HTTP/1.1 " + std::to_string(status)), 0) << target << "\n" << w.bytes;
            EXPECT_NE(w.bytes.find("Content-Type: text/html"), std::string::npos);
            EXPECT_EQ(w.bytes.find("WWW-Authenticate"), std::string::npos);
            EXPECT_EQ(bodyOf(w.bytes).compare(0, 6, "<html>"), 0);
        }
        EXPECT_EQ(call(sim.port(), "POST", "/cgi/chk", "{}").status, status);
    }
    sim.setFaults(netsim::Faults());
    EXPECT_EQ(call(sim.port(), "GET", "/cgi/tbl/Fsk", "", "service", "384190").body, kFsk);
}

TEST(NetsimJournal, HoldsEachDocumentsContentAndForeignDocuments)
{
    netsim::Simulator sim(plain());
    sim.start();
    const uint16_t p = sim.port();
    ASSERT_EQ(post(p, "/cgi/chk", sale("F", 2, 10.5, 1, "{\"D\":{\"sum\":-1.00,\"all\":0}}," + payment(4, 20))),
              "{\"id\":1,\"no\":1}");
    // Items and payments as sent, numbers read as numbers.
    const Object::Ptr mine = journal(p, 1)->getObject(0);
    const Array::Ptr items = mine->getArray("F");
    ASSERT_EQ(items->size(), 3u);
    const Object::Ptr line = items->getObject(0)->getObject("S");
    EXPECT_EQ(line->getValue<std::string>("name"), "Товар");
    EXPECT_DOUBLE_EQ(line->getValue<double>("qty"), 2);
    EXPECT_DOUBLE_EQ(line->getValue<double>("price"), 10.5);
    EXPECT_EQ(line->getValue<int>("tax"), 1);
    EXPECT_DOUBLE_EQ(items->getObject(1)->getObject("D")->getValue<double>("sum"), -1);
    EXPECT_EQ(items->getObject(2)->getObject("P")->getValue<int>("no"), 4);
    EXPECT_DOUBLE_EQ(items->getObject(2)->getObject("P")->getValue<double>("sum"), 20);

    // Another till's null receipt, booked in-process.
    EXPECT_EQ(sim.bookForeign("{}"), "{\"id\":2,\"no\":2}");

    // A receipt lost on the way while another till's receipt gets in: the journal holds the
    // foreign one only.
    netsim::Faults f;
    f.reset.insert("/cgi/chk");
    f.foreignDocument = sale("F", 1, 3, 2, "");
    sim.setFaults(f);
    EXPECT_TRUE(exchange(p, rawPost("/cgi/chk", sale("F", 5, 1, 1, "")), 5000).reset);
    sim.setFaults(netsim::Faults());
    const Array::Ptr after = journal(p, 2);
    ASSERT_EQ(after->size(), 2u);
    EXPECT_EQ(after->getObject(0)->getArray("F")->size(), 0u);
    EXPECT_DOUBLE_EQ(after->getObject(1)->getArray("F")->getObject(0)->getObject("S")->getValue<double>("qty"), 1);
    EXPECT_DOUBLE_EQ(after->getObject(1)->getArray("F")->getObject(0)->getObject("S")->getValue<double>("price"), 3);
}

// One keep-alive connection to a register with a login; requests sent with credentials
// ahead of a challenge, or answering the last one.
class Login {
public:
    explicit Login(uint16_t port) : session_("127.0.0.1", port), credentials_("service", "384190")
    {
        session_.setKeepAlive(true);
        session_.setTimeout(Poco::Timespan(5, 0));
    }
    // Sends with the credentials as they stand (none before the first challenge); returns
    // the status and keeps the challenge of a 401.
    int send(bool preemptive)
    {
        Poco::Net::HTTPRequest request("GET", "/cgi/tbl/Fsk", Poco::Net::HTTPMessage::HTTP_1_1);
        if (preemptive) {
            request.setCredentials("Digest", ""); // what updateAuthInfo answers again
            credentials_.updateAuthInfo(request);
        } else if (challenged_) credentials_.authenticate(request, last_);
        lastAuthorization_ = request.get("Authorization", "");
        return exchange(request);
    }
    // Sends the last Authorization header again, unchanged.
    int replay()
    {
        Poco::Net::HTTPRequest request("GET", "/cgi/tbl/Fsk", Poco::Net::HTTPMessage::HTTP_1_1);
        request.set("Authorization", lastAuthorization_);
        return exchange(request);
    }
    bool stale() const { return last_.get("WWW-Authenticate", "").find("stale=true") != std::string::npos; }

private:
    int exchange(Poco::Net::HTTPRequest& request)
    {
        session_.sendRequest(request);
        Poco::Net::HTTPResponse response;
        Poco::NullOutputStream skip;
        Poco::StreamCopier::copyStream(session_.receiveResponse(response), skip);
        if (response.getStatus() == Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED) {
            last_ = response;
            challenged_ = true;
        }
        return response.getStatus();
    }

    Poco::Net::HTTPClientSession session_;
    Poco::Net::HTTPCredentials credentials_;
    Poco::Net::HTTPResponse last_;
    bool challenged_ = false;
    std::string lastAuthorization_;
};

TEST(NetsimLogin, DigestNonceServesManyRequestsUnlessAChallengeMustComeFirst)
{
    netsim::Config c = plain();
    c.auth = netsim::Auth::Digest;
    c.faults.challengeFirst = true;
    netsim::Simulator sim(c);
    sim.start();
    {
        Login login(sim.port());
        EXPECT_EQ(login.send(false), 401);
        EXPECT_FALSE(login.stale());
        EXPECT_EQ(login.send(false), 200);
        EXPECT_EQ(login.send(true), 401) << "credentials ahead of a challenge";
        EXPECT_TRUE(login.stale());
        EXPECT_EQ(login.send(false), 200);
    }
    netsim::Traffic t = sim.traffic();
    EXPECT_EQ(t.requests, 4u);
    EXPECT_EQ(t.unauthorised, 2u);
    ASSERT_EQ(t.perConnection.size(), 1u);
    EXPECT_EQ(t.perConnection[0].requests, 4u);
    EXPECT_EQ(t.perConnection[0].unauthorised, 2u);

    netsim::Faults f; // the default: credentials ahead of a challenge count
    f.nonceUses = 3;
    sim.setFaults(f);
    sim.clearTraffic();
    {
        Login login(sim.port());
        EXPECT_EQ(login.send(false), 401);
        EXPECT_EQ(login.send(false), 200);
        EXPECT_EQ(login.send(true), 200);
        EXPECT_EQ(login.replay(), 401) << "a nonce count used before";
        EXPECT_TRUE(login.stale());
        EXPECT_EQ(login.send(false), 200);
        EXPECT_EQ(login.send(true), 200);
        EXPECT_EQ(login.send(true), 200);
        EXPECT_EQ(login.send(true), 401) << "a nonce serves three requests";
        EXPECT_TRUE(login.stale());
        EXPECT_EQ(login.send(false), 200);
    }
    t = sim.traffic();
    EXPECT_EQ(t.requests, 9u);
    EXPECT_EQ(t.unauthorised, 3u);

    f.nonceUses = 0;
    f.nonceSeconds = 1;
    sim.setFaults(f);
    Login login(sim.port());
    EXPECT_EQ(login.send(false), 401);
    EXPECT_EQ(login.send(false), 200);
    EXPECT_EQ(login.send(true), 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(login.send(true), 401) << "a nonce lasts a second";
    EXPECT_TRUE(login.stale());
}

TEST(NetsimLogin, BasicCountsOnAnyRequestUnlessAChallengeMustComeFirst)
{
    netsim::Config c = plain();
    c.auth = netsim::Auth::Basic;
    c.faults.challengeFirst = true;
    netsim::Simulator sim(c);
    sim.start();
    auto basic = [&sim](const std::string& password) {
        Poco::Net::HTTPClientSession session("127.0.0.1", sim.port());
        Poco::Net::HTTPRequest request("GET", "/cgi/tbl/Fsk", Poco::Net::HTTPMessage::HTTP_1_1);
        Poco::Net::HTTPBasicCredentials("service", password).authenticate(request);
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        session.receiveResponse(response);
        return static_cast<int>(response.getStatus());
    };
    EXPECT_EQ(basic("384190"), 401);
    EXPECT_EQ(basic("384190"), 200) << "in answer to the challenge";
    EXPECT_EQ(basic("384190"), 401);
    EXPECT_EQ(basic("wrong"), 401);
    EXPECT_EQ(basic("384190"), 200);

    sim.setFaults(netsim::Faults()); // the default: credentials ahead of a challenge count
    EXPECT_EQ(basic("384190"), 200);
    EXPECT_EQ(basic("384190"), 200);
    EXPECT_EQ(basic("wrong"), 401);
}

} // namespace

namespace {

using namespace netsimtest;

std::string state(uint16_t port) { return call(port, "GET", "/cgi/state.php").body; }

int lastId(uint16_t port)
{
    return Poco::JSON::Parser().parse(state(port)).extract<Poco::JSON::Object::Ptr>()->getValue<int>("chkId");
}

bool isJson(const std::string& text)
{
    try {
        Poco::JSON::Parser().parse(text);
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

netsim::Faults after(const std::string& rules)
{
    netsim::Faults f;
    netsim::switchFault(f, "after-document", true, rules);
    return f;
}

} // namespace

TEST(NetsimAfterDocument, AFaultActsOnTheNthRequestAfterEachDocument)
{
    netsim::Simulator sim(plain());
    sim.start();
    const uint16_t p = sim.port();
    // The state probe after a document answers 500; the probe before it, the display and
    // the probe after that are as usual.
    sim.setFaults(after("/cgi/state.php@1:status=500 /cgi/scr@3:reset"));
    EXPECT_TRUE(isJson(state(p))) << "no document yet";
    ASSERT_EQ(post(p, "/cgi/chk", sale("F", 1, 10, 1, "")), "{\"id\":1,\"no\":1}");
    EXPECT_TRUE(isJson(post(p, "/cgi/scr", "[{\"id\":1,\"str\":\"a\"}]")));
    EXPECT_EQ(call(p, "GET", "/cgi/state.php").status, 500);
    EXPECT_EQ(post(p, "/cgi/scr", "[{\"id\":1,\"str\":\"b\"}]"), "{}") << "counted per path";
    EXPECT_TRUE(exchange(p, rawPost("/cgi/scr", "[{\"id\":1,\"str\":\"c\"}]"), 5000).reset);
    EXPECT_TRUE(isJson(state(p)));
    // A cash document starts the count again; a journal read is no document.
    ASSERT_EQ(post(p, "/cgi/chk", "{\"IO\":[{\"IO\":{\"sum\":5}}]}"), "{\"id\":2}");
    EXPECT_TRUE(isJson(get(p, "/cgi/chk?id=1")));
    EXPECT_EQ(call(p, "GET", "/cgi/state.php").status, 500);

    // Any path, and onward: every request from the second after a document is broken
    // until the next document, which is carried out as usual.
    sim.setFaults(after("2+:malformed"));
    ASSERT_EQ(post(p, "/cgi/chk", sale("F", 1, 10, 1, "")), "{\"id\":3,\"no\":2}");
    EXPECT_TRUE(isJson(state(p)));
    EXPECT_FALSE(isJson(state(p)));
    EXPECT_FALSE(isJson(get(p, "/cgi/chk?id=3")));
    ASSERT_EQ(post(p, "/cgi/chk", "{\"IO\":[{\"IO\":{\"sum\":1}}]}"), "{\"id\":4}");
    EXPECT_TRUE(isJson(state(p)));

    // The probe after a document carried out, then its connection dropped or its answer
    // held back.
    sim.setFaults(after("/cgi/state.php@1:drop-after /cgi/state.php@2:stall-after=700"));
    ASSERT_EQ(post(p, "/cgi/chk", "{\"IO\":[{\"IO\":{\"sum\":1}}]}"), "{\"id\":5}");
    const Wire dropped = exchange(p, rawGet("/cgi/state.php"), 5000);
    EXPECT_TRUE(dropped.closed);
    EXPECT_TRUE(dropped.bytes.empty());
    const Wire late = exchange(p, rawGet("/cgi/state.php"), 300);
    EXPECT_TRUE(late.bytes.empty()) << "held back";
    EXPECT_EQ(lastId(p), 5);
}

TEST(NetsimAfterDocument, RulesAreCheckedWhenGiven)
{
    netsim::Faults f;
    for (const char* bad : {"1", "x:status=500", "0:status=500", "1:no-such=1", "1:status", "1:status=9999", "@1:reset",
                            "1:after-document=1:reset", "1:reset=5", "1:journal=odd"})
        EXPECT_THROW(netsim::switchFault(f, "after-document", true, bad), std::invalid_argument) << bad;
    EXPECT_TRUE(f.afterDocument.empty());
    netsim::switchFault(f, "after-document", true, "/cgi/chk@1+:journal=empty 3:deflate");
    ASSERT_EQ(f.afterDocument.size(), 2u);
    EXPECT_EQ(f.afterDocument[0].path, "/cgi/chk");
    EXPECT_TRUE(f.afterDocument[0].onward);
    EXPECT_EQ(f.afterDocument[1].nth, 3);
}

TEST(NetsimDocuments, EmptyAnswersAndAFailureStatusAfterBooking)
{
    netsim::Simulator sim(plain());
    sim.start();
    const uint16_t p = sim.port();
    const std::string receipt = sale("F", 1, 10, 1, "");
    int booked = 0;
    for (const bool book : {false, true}) {
        SCOPED_TRACE(book ? "booked" : "not booked");
        netsim::Faults f;
        f.documentAnswer = netsim::Faults::BadAnswer::Empty;
        f.documentAnswerBooked = book;
        sim.setFaults(f);
        const Wire empty = exchange(p, rawPost("/cgi/chk", receipt), 5000);
        EXPECT_EQ(empty.bytes.compare(0, 15, "HTTP/1.1 200 OK"), 0) << empty.bytes;
        EXPECT_NE(empty.bytes.find("Content-Length: 0"), std::string::npos) << empty.bytes;
        EXPECT_EQ(bodyOf(empty.bytes), "");
        booked += book;
        EXPECT_EQ(nextReceipt(p), 1 + booked);

        f.documentAnswer = netsim::Faults::BadAnswer::Close;
        sim.setFaults(f);
        const Wire closed = exchange(p, rawPost("/cgi/chk", "{\"IO\":[{\"IO\":{\"sum\":5}}]}"), 5000);
        EXPECT_EQ(closed.bytes.compare(0, 15, "HTTP/1.1 200 OK"), 0) << closed.bytes;
        EXPECT_EQ(closed.bytes.find("Content-Length"), std::string::npos) << closed.bytes;
        EXPECT_TRUE(closed.closed);
        EXPECT_EQ(bodyOf(closed.bytes), "");
        EXPECT_EQ(journal(p, 1)->size(), static_cast<std::size_t>(2 * booked));
    }
    // Through an HTTP client: status 200 and nothing.
    netsim::Faults f;
    f.documentAnswer = netsim::Faults::BadAnswer::Close;
    sim.setFaults(f);
    const Reply r = call(p, "POST", "/cgi/chk", receipt);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "");

    // 502 with a page, the document carried out all the same.
    f = netsim::Faults();
    netsim::switchFault(f, "document-status", true, "502:booked");
    sim.setFaults(f);
    const int before = nextReceipt(p);
    const Wire bad = exchange(p, rawPost("/cgi/chk", receipt), 5000);
    EXPECT_EQ(bad.bytes.compare(0, 24, "HTTP/1.1 502 Bad Gateway"), 0) << bad.bytes;
    EXPECT_EQ(bodyOf(bad.bytes).compare(0, 6, "<html>"), 0);
    EXPECT_EQ(nextReceipt(p), before + 1);
    netsim::switchFault(f, "document-status", true, "502:booked:Proxy down");
    EXPECT_TRUE(f.documentStatusBooked);
    EXPECT_EQ(f.documentReason, "Proxy down");
    netsim::switchFault(f, "document-status", true, "502:Proxy down");
    EXPECT_FALSE(f.documentStatusBooked);
}

TEST(NetsimJournal, HostileAndShortPages)
{
    netsim::Simulator sim(plain());
    sim.start();
    const uint16_t p = sim.port();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(isJson(post(p, "/cgi/chk", sale("F", 1 + i, 2, 1, ""))));
    auto page = [&](const std::string& modes, int from) {
        netsim::Faults f;
        netsim::switchFault(f, "journal", true, modes);
        sim.setFaults(f);
        return get(p, "/cgi/chk?id=" + std::to_string(from));
    };
    EXPECT_EQ(page("empty", 1), "[]");
    EXPECT_EQ(lastId(p), 4) << "the state still counts the records";
    // The records before the one asked for.
    Array::Ptr stale = Poco::JSON::Parser().parse(page("stale", 3)).extract<Array::Ptr>();
    ASSERT_EQ(stale->size(), 2u);
    EXPECT_EQ(stale->getObject(1)->getValue<int>("id"), 2);
    EXPECT_EQ(page("stale", 1), "[]");
    // One record a page.
    Array::Ptr one = Poco::JSON::Parser().parse(page("page=1", 2)).extract<Array::Ptr>();
    ASSERT_EQ(one->size(), 1u);
    EXPECT_EQ(one->getObject(0)->getValue<int>("id"), 2);
    // Numbers as strings, names cut, no ids.
    const std::string strings = page("strings", 4);
    EXPECT_NE(strings.find("\"id\":\"4\""), std::string::npos) << strings;
    EXPECT_NE(strings.find("\"qty\":\"4"), std::string::npos) << strings;
    const Object::Ptr cut = Poco::JSON::Parser().parse(page("names=3,no-id", 4)).extract<Array::Ptr>()->getObject(0);
    EXPECT_FALSE(cut->has("id"));
    EXPECT_EQ(cut->getArray("F")->getObject(0)->getObject("S")->getValue<std::string>("name"), "Тов");
    // A huge page: the last record again and again.
    Array::Ptr huge = Poco::JSON::Parser().parse(page("huge=500", 1)).extract<Array::Ptr>();
    ASSERT_EQ(huge->size(), 500u);
    EXPECT_EQ(huge->getObject(499)->getValue<int>("id"), 4);
    EXPECT_THROW(page("page=0", 1), std::invalid_argument);
    EXPECT_THROW(page("wide", 1), std::invalid_argument);
    sim.setFaults(netsim::Faults());
    EXPECT_EQ(journal(p, 1)->size(), 4u);
}

TEST(NetsimJournal, AnotherTillSellsTheSameBasket)
{
    netsim::Simulator sim(plain());
    sim.start();
    const uint16_t p = sim.port();
    netsim::Faults f;
    netsim::switchFault(f, "foreign-document", true, "same");
    sim.setFaults(f);
    const std::string receipt = sale("F", 2, 3, 1, payment(4, 6));
    EXPECT_EQ(post(p, "/cgi/chk", receipt), "{\"id\":2,\"no\":2}") << "the other till's copy came first";
    EXPECT_EQ(post(p, "/cgi/scr", "[{\"id\":1,\"str\":\"a\"}]"), "{}");
    // The copy gets in even when this till's document is lost on the way.
    f.reset.insert("/cgi/chk");
    sim.setFaults(f);
    EXPECT_TRUE(exchange(p, rawPost("/cgi/chk", "{\"IO\":[{\"IO\":{\"sum\":7}}]}"), 5000).reset);
    sim.setFaults(netsim::Faults());
    const Array::Ptr all = journal(p, 1);
    ASSERT_EQ(all->size(), 3u);
    EXPECT_EQ(all->getObject(0)->getArray("F")->size(), all->getObject(1)->getArray("F")->size());
    EXPECT_DOUBLE_EQ(all->getObject(2)->getArray("IO")->getObject(0)->getObject("IO")->getValue<double>("sum"), 7);
}

// Codes given to err and err-array are JSON strings in the answer, whatever they hold.
TEST(NetsimAnswers, ErrorCodesAreQuotedInTheAnswer)
{
    netsim::Simulator sim(plain());
    sim.start();
    netsim::Faults f;
    f.err["/cgi/state.php"] = "3\"A\\\n";
    f.errArray["/cgi/tbl/Fsk"] = {"1\",\"x", "2"};
    sim.setFaults(f);
    const std::string one = get(sim.port(), "/cgi/state.php");
    ASSERT_NO_THROW(Poco::JSON::Parser().parse(one)) << one;
    EXPECT_EQ(Poco::JSON::Parser().parse(one).extract<Object::Ptr>()->getValue<std::string>("err"), "3\"A\\\n");
    const std::string many = get(sim.port(), "/cgi/tbl/Fsk");
    ASSERT_NO_THROW(Poco::JSON::Parser().parse(many)) << many;
    const auto codes = Poco::JSON::Parser().parse(many).extract<Object::Ptr>()->getArray("err");
    ASSERT_EQ(codes->size(), 2u);
    EXPECT_EQ(codes->getObject(0)->getValue<std::string>("e"), "1\",\"x");
}
