// The simulated register on its own: command line, authentication, fiscal rules, state
// directory, tape, and fault switches. Talks plain HTTP through POCO.
#include "simulators/netreg/netsim.h"
#include "tests/support/child_process.h"
#include "tests/netreg/netsim_calls.h"
#include "tests/support/test_files.h"

#include <Poco/File.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPCredentials.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/NullStream.h>
#include <Poco/StreamCopier.h>

#include <gtest/gtest.h>

namespace {

using namespace netsimtest;
using testsupport::readFile;

TEST(NetsimCommandLine, HelpErrorsAndALifeCycle)
{
    const std::string out = testsupport::tempPath("netsim-out");
    {
        testsupport::Child help({NETSIM_PATH, "--help"}, out);
        EXPECT_EQ(help.wait(10000), 0);
        const std::string text = readFile(out);
        for (const char* option : {"--port",
                                   "--bind",
                                   "--ready-file",
                                   "--auth",
                                   "--ssdp",
                                   "--tape",
                                   "--state-dir",
                                   "--clock",
                                   "--delay",
                                   "--status",
                                   "--malformed",
                                   "--err",
                                   "--err-array",
                                   "--always-401",
                                   "--deflate",
                                   "--bom",
                                   "--stall-body",
                                   "--drip",
                                   "--reset",
                                   "--reset-after",
                                   "--not-a-register",
                                   "--document-answer",
                                   "--document-status",
                                   "--foreign-document",
                                   "--challenge-first",
                                   "--preemptive",
                                   "--nonce-uses",
                                   "--nonce-seconds"})
            EXPECT_NE(text.find(option), std::string::npos) << option;
    }
    for (const std::vector<std::string>& bad : {std::vector<std::string>{NETSIM_PATH, "--frobnicate"},
                                                {NETSIM_PATH, "--port", "70000"},
                                                {NETSIM_PATH, "--clock", "yesterday"},
                                                {NETSIM_PATH, "--auth", "ntlm"},
                                                {NETSIM_PATH, "--delay", "/x"},
                                                {NETSIM_PATH, "--drip", "/x=5:tail"},
                                                {NETSIM_PATH, "--not-a-register", "302"},
                                                {NETSIM_PATH, "--document-answer", "xml"},
                                                {NETSIM_PATH, "--document-status", "ok:Fine"},
                                                {NETSIM_PATH, "--foreign-document", "[1]"},
                                                {NETSIM_PATH, "--nonce-uses", "0"}}) {
        testsupport::Child child(bad, out);
        EXPECT_EQ(child.wait(10000), 2) << bad[1];
        EXPECT_NE(readFile(out).find("oltra-netsim: "), std::string::npos);
    }

    const std::string ready = testsupport::tempPath("netsim-ready"), tape = testsupport::tempPath("netsim-tape");
    const std::string requests = testsupport::tempPath("netsim-requests");
    testsupport::Child sim({NETSIM_PATH, "--port", "0", "--ready-file", ready, "--auth", "basic", "--user", "u",
                            "--password", "p", "--tape", tape, "--clock", "2026-12-08 10:00:00", "--request-log",
                            requests},
                           out);
    const std::string port = testsupport::waitForFile(ready, 5000);
    ASSERT_FALSE(port.empty()) << readFile(out);
    const uint16_t p = static_cast<uint16_t>(std::stoi(port));
    EXPECT_EQ(call(p, "GET", "/cgi/state.php").status, 401);
    const Reply state = call(p, "GET", "/cgi/state.php", "", "u", "p");
    EXPECT_EQ(state.status, 200);
    EXPECT_NE(state.body.find("\"time\":1796724000"), std::string::npos);
    {
        // A second simulator on the same port refuses to start instead of sharing it.
        const std::string second = testsupport::tempPath("netsim-second");
        testsupport::Child twin({NETSIM_PATH, "--port", port.substr(0, port.find('\n'))}, second);
        EXPECT_EQ(twin.wait(10000), 1);
        EXPECT_NE(readFile(second).find("oltra-netsim: port " + std::to_string(p) + " on 127.0.0.1 is already in use"),
                  std::string::npos)
            << readFile(second);
        std::remove(second.c_str());
    }
    EXPECT_EQ(call(p, "POST", "/cgi/chk", sale("F", 2, 10.5, 1, payment(4, 50)), "u", "p").body, "{\"id\":1,\"no\":1}");
    EXPECT_EQ(sim.stop(), 0);
    const std::string printed = readFile(tape);
    for (const char* piece :
         {"ПРОДАЖ", "Товар", "2.000 x 10.50 = 21.00 А", "РЕШТА  29.00", "ЧЕК №1  08.12.2026 10:00:00"})
        EXPECT_NE(printed.find(piece), std::string::npos) << piece << "\n" << printed;
    EXPECT_NE(readFile(out).find("listening on http://127.0.0.1:" + std::to_string(p)), std::string::npos);
    // Each call opens its own connection: 5 requests, 3 of them refused before the login.
    EXPECT_NE(readFile(out).find("5 requests on 5 connections, 3 answered 401"), std::string::npos) << readFile(out);
    // Authenticated requests only, one JSON line each.
    const std::string log = readFile(requests);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
    EXPECT_EQ(log.substr(0, log.find('\n')), "{\"body\":\"\",\"method\":\"GET\",\"uri\":\"/cgi/state.php\"}");
    for (const auto& f : {out, ready, tape, requests}) std::remove(f.c_str());
}

TEST(NetsimAuth, DigestAcceptsOnlyTheRightAnswer)
{
    netsim::Config c = plain();
    c.auth = netsim::Auth::Digest;
    netsim::Simulator sim(c);
    sim.start();
    EXPECT_EQ(call(sim.port(), "GET", "/cgi/state.php", "", "service", "384190").status, 200);
    EXPECT_EQ(call(sim.port(), "GET", "/cgi/state.php", "", "service", "wrong").status, 401);
    EXPECT_EQ(call(sim.port(), "GET", "/cgi/state.php", "", "other", "384190").status, 401);
    // A Basic answer, or a nonce the register never gave, is refused.
    Poco::Net::HTTPClientSession session("127.0.0.1", sim.port());
    Poco::Net::HTTPRequest request("GET", "/cgi/state.php", Poco::Net::HTTPMessage::HTTP_1_1);
    Poco::Net::HTTPBasicCredentials("service", "384190").authenticate(request);
    session.sendRequest(request);
    Poco::Net::HTTPResponse response;
    session.receiveResponse(response);
    EXPECT_EQ(response.getStatus(), 401);
    Poco::Net::HTTPRequest forged("GET", "/cgi/state.php", Poco::Net::HTTPMessage::HTTP_1_1);
    forged.setCredentials("Digest", "username=\"service\", realm=\"Oltra\", nonce=\"abc\", uri=\"/cgi/state.php\", "
                                    "response=\"0123456789abcdef0123456789abcdef\"");
    Poco::Net::HTTPClientSession second("127.0.0.1", sim.port());
    second.sendRequest(forged);
    second.receiveResponse(response);
    EXPECT_EQ(response.getStatus(), 401);
}

TEST(NetsimFiscal, ReceiptsCashAndReports)
{
    netsim::Simulator sim(plain());
    sim.start();
    const uint16_t p = sim.port();
    // Refusals, in the list form with the offending value.
    EXPECT_EQ(post(p, "/cgi/chk", sale("F", 1, 10, 9, "")), "{\"err\":[{\"e\":\"10\",\"tax\":\"9\"}]}");
    EXPECT_EQ(post(p, "/cgi/chk", sale("F", 1, 10, 1, payment(1, 5))), "{\"err\":[{\"e\":\"11\",\"sum\":\"10.00\"}]}");
    EXPECT_EQ(post(p, "/cgi/chk", sale("F", 1, 10, 1, payment(1, 15))), "{\"err\":[{\"e\":\"11\",\"sum\":\"10.00\"}]}")
        << "change is given only from cash";
    EXPECT_EQ(post(p, "/cgi/chk", "{\"F\":[{\"N\":{\"cm\":\"x\"}}]}"), "{\"err\":[{\"e\":\"13\"}]}");
    EXPECT_EQ(post(p, "/cgi/chk", "{\"F\":[{\"Q\":{}}]}"), "{\"err\":[{\"e\":\"2\",\"pos\":\"1\"}]}");
    EXPECT_EQ(post(p, "/cgi/chk", "{\"F\":["), "{\"err\":\"1\"}");
    EXPECT_EQ(post(p, "/cgi/chk", "{\"L\":[]}"), "{\"err\":\"19\"}");
    EXPECT_EQ(post(p, "/cgi/chk", "{\"IO\":[{\"IO\":{\"sum\":-1.00}}]}"),
              "{\"err\":[{\"cash\":\"0.00\",\"e\":\"12\"}]}");
    EXPECT_EQ(post(p, "/cgi/chk", sale("R", 1, 10, 1, payment(4, 10))), "{\"err\":[{\"cash\":\"0.00\",\"e\":\"12\"}]}");
    EXPECT_EQ(get(p, "/cgi/chk?id=0"), "[]");

    // Accepted documents: numbers and the journal advance.
    EXPECT_EQ(post(p, "/cgi/chk", sale("F", 2, 10.5, 1, "{\"D\":{\"sum\":-1.00,\"all\":0}}," + payment(4, 20))),
              "{\"id\":1,\"no\":1}");
    EXPECT_EQ(post(p, "/cgi/chk", "{\"IO\":[{\"IO\":{\"sum\":100.00}}]}"), "{\"id\":2}");
    EXPECT_EQ(post(p, "/cgi/chk", sale("R", 1, 10, 2, payment(4, 10))), "{\"id\":3,\"no\":2}");
    EXPECT_EQ(post(p, "/cgi/chk", "{}"), "{\"id\":4,\"no\":3}");
    EXPECT_EQ(post(p, "/cgi/chk", "{\"P\":[{\"N\":{\"cm\":\"text\"}}]}"), "{\"id\":5,\"no\":4}");
    EXPECT_EQ(post(p, "/cgi/chk", "{\"L\":[]}"), "{}");
    EXPECT_EQ(get(p, "/cgi/tbl/Fsk"), "{\"NumChk\":4,\"NumZ\":0}");
    EXPECT_NE(get(p, "/cgi/state.php").find("\"chkId\":5"), std::string::npos);
    const std::string journal = get(p, "/cgi/chk?id=4");
    EXPECT_EQ(journal.find("\"id\":3"), std::string::npos);
    EXPECT_NE(journal.find("\"id\":4,\"no\":3"), std::string::npos);

    EXPECT_EQ(get(p, "/cgi/proc/printreport?10"), "{}");
    EXPECT_EQ(get(p, "/cgi/proc/printreport?0"), "{}");
    EXPECT_EQ(get(p, "/cgi/proc/printreport?99"), "{\"err\":\"3\"}");
    EXPECT_EQ(get(p, "/cgi/tbl/Fsk"), "{\"NumChk\":4,\"NumZ\":1}");
    EXPECT_NE(get(p, "/cgi/chk?id=6").find("\"Z\":{\"no\":1,\"receipts\":3}"), std::string::npos);
    EXPECT_EQ(get(p, "/cgi/proc/printfmreport?2&1&1&5&12"), "{}");
    EXPECT_EQ(get(p, "/cgi/proc/printfmreport?3&01.02.2020&29.02.2020&1&1"), "{}");
    EXPECT_EQ(get(p, "/cgi/proc/printfmreport?4&1&1&12&5"), "{\"err\":\"18\"}");
    EXPECT_EQ(get(p, "/cgi/proc/printfmreport?9"), "{\"err\":\"18\"}");
    EXPECT_EQ(get(p, "/cgi/proc/openbox"), "{}");
    EXPECT_EQ(call(p, "GET", "/nowhere").status, 404);
}

TEST(NetsimState, KeptInTheStateDirectory)
{
    const std::string dir = testsupport::tempPath("netsim-state");
    netsim::Config c = plain();
    c.stateDir = dir;
    {
        netsim::Simulator sim(c);
        sim.start();
        ASSERT_EQ(post(sim.port(), "/cgi/chk", sale("F", 1, 5, 3, "")), "{\"id\":1,\"no\":1}");
    }
    {
        netsim::Simulator sim(c);
        sim.start();
        EXPECT_EQ(get(sim.port(), "/cgi/tbl/Fsk"), "{\"NumChk\":2,\"NumZ\":0}");
        EXPECT_NE(get(sim.port(), "/cgi/chk?id=1").find("\"no\":1"), std::string::npos);
        EXPECT_EQ(post(sim.port(), "/cgi/chk", "{\"L\":[]}"), "{}");
    }
    Poco::File(dir).remove(true);
}

// The answer switches (status, err, malformed, deflate, BOM, oversize, 401) are exercised
// through the client's tests; these are the ones that act around the answer.
TEST(NetsimFaults, LostAnswersAndDelayedAnswersAtStop)
{
    netsim::Simulator sim(plain());
    sim.start();
    const uint16_t p = sim.port();
    // The document is recorded, its answer lost.
    netsim::Faults f;
    f.dropAfter.insert("/cgi/chk");
    sim.setFaults(f);
    EXPECT_THROW(call(p, "POST", "/cgi/chk", "{}"), Poco::Exception);
    sim.setFaults(netsim::Faults());
    EXPECT_EQ(get(p, "/cgi/tbl/Fsk"), "{\"NumChk\":2,\"NumZ\":0}");

    // A delayed answer does not hold up the simulator's end.
    f = netsim::Faults();
    f.delayMs["*"] = 60000;
    sim.setFaults(f);
    std::thread waiting([p] {
        try {
            call(p, "GET", "/cgi/state.php");
        } catch (const Poco::Exception&) {}
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    sim.stop();
    waiting.join();
}

} // namespace
