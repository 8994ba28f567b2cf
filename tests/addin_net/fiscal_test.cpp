// Receipts, reports and register errors through the add-in library against the simulated
// network register: the document on the wire, a whole shift on the register's tape, and
// how register errors, time-outs and lost answers reach the host.
#include "tests/support/addin_fixture.h"
#include "simulators/netreg/netsim.h"
#include "tests/support/netsim_process.h"

#include <algorithm>

using namespace addinhost;
using namespace testsupport;

namespace {

const std::u16string kNotConnectedError = u"Драйвер не подключен к фискальному регистратору";

class NetFiscal : public AddinFixture {
protected:
    NetFiscal() : AddinFixture(ADDIN_LIBRARY) {}

    void open(const std::string& address)
    {
        ASSERT_TRUE(comp->set("IP", Value::str(toUtf16(address))));
        ASSERT_TRUE(comp->set("DefaultTaxGroup", Value::i4(1)));
        const CallResult r = comp->call("Open", {Value::str(u"")});
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.result, Value::boolean(true));
    }

    CallResult openCheck(bool isReturn = false)
    {
        return comp->call("OpenCheck", {Value::str(u""), Value::boolean(true), Value::boolean(isReturn),
                                        Value::boolean(false), Value::i4(0), Value::i4(7)});
    }

    CallResult item(const std::u16string& name, double qty, double price, double sum, double rate)
    {
        return comp->call("PrintFiscalString", {Value::str(u""), Value::str(name), Value::r8(qty), Value::r8(price),
                                                Value::r8(sum), Value::i4(0), Value::r8(rate)});
    }

    CallResult closeCheck(double s1, double s2, double s3 = 0, double s4 = 0)
    {
        return comp->call("CloseCheck", {Value::str(u""), Value::r8(s1), Value::r8(s2), Value::r8(s3), Value::r8(s4)});
    }

    static void expectDone(const CallResult& r, const char* step)
    {
        EXPECT_TRUE(r.ok) << step;
        EXPECT_EQ(r.result, Value::boolean(true)) << step;
        EXPECT_TRUE(r.errors.empty()) << step;
        EXPECT_TRUE(r.alerts.empty()) << step << ": " << (r.alerts.empty() ? "" : toUtf8(r.alerts[0]));
    }
};

std::vector<netsim::Request> posts(const netsim::Simulator& sim, const std::string& uri)
{
    std::vector<netsim::Request> out;
    for (const netsim::Request& r : sim.requests())
        if (r.method == "POST" && r.uri == uri) out.push_back(r);
    return out;
}

} // namespace

TEST_F(NetFiscal, ReceiptGoesToTheRegisterAsOneDocument)
{
    netsim::Simulator sim(netsim::Config{});
    sim.start();

    // Without a connection nothing reaches the register.
    CallResult r = comp->call("PrintZReport", {Value::str(u"")});
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].wcode, 1001);
    EXPECT_EQ(r.errors[0].description, kNotConnectedError);
    EXPECT_TRUE(sim.requests().empty());

    open(sim.address());
    sim.clearRequests();
    r = openCheck();
    expectDone(r, "OpenCheck");
    EXPECT_EQ(r.args[4], Value::i4(1)) << "the first receipt of an empty journal";
    EXPECT_EQ(r.args[5], Value::i4(7)) << "argument 5 comes back as it went in";
    expectDone(item(u"abc", 2, 10.50, 20.00, 0), "PrintFiscalString");
    EXPECT_TRUE(posts(sim, "/cgi/chk").empty()) << "items stay in the driver until the receipt is closed";
    expectDone(closeCheck(0, 20), "CloseCheck");

    const std::vector<netsim::Request> sent = posts(sim, "/cgi/chk");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(
        sent[0].body,
        "{\"F\":[{\"S\":{\"code\":891568578,\"name\":\"abc\",\"qty\":2.000,\"price\":10.50,\"sum\":20.00,"
        "\"dep\":1,\"grp\":1,\"tax\":1}},{\"D\":{\"sum\":-1.00,\"all\":0}},{\"P\":{\"no\":1, \"sum\" : 20.00}}]}");

    r = comp->call("GetCurrentReceiptNumber", {Value::str(u""), Value::i4(0)});
    EXPECT_EQ(r.result, Value::boolean(true));
    EXPECT_EQ(r.args[1], Value::i4(2));

    // Cash out and a receipt copy, each one request of its own.
    sim.clearRequests();
    expectDone(comp->call("CashInOutcome", {Value::str(u""), Value::i4(25)}), "CashInOutcome in");
    expectDone(comp->call("CashInOutcome", {Value::str(u""), Value::r8(-5)}), "CashInOutcome out");
    expectDone(comp->call("PrintReceiptCopy", {Value::str(u"")}), "PrintReceiptCopy");
    const std::vector<netsim::Request> service = posts(sim, "/cgi/chk");
    ASSERT_EQ(service.size(), 3u);
    EXPECT_EQ(service[0].body, "{\"IO\":[{\"IO\":{\"sum\":25.00}}]}");
    EXPECT_EQ(service[1].body, "{\"IO\":[{\"IO\":{\"sum\":-5.00}}]}");
    EXPECT_EQ(service[2].body, "{\"L\":[]}");
    sim.stop();
}

TEST_F(NetFiscal, ShiftOnTheRegistersTape)
{
    const std::string tape = privateTmpDir() + "/tape.txt";
    NetsimProcess sim({"--tape", tape, "--serial", "ON4000SHIFT"});
    open(sim.address());

    expectDone(openCheck(), "OpenCheck");
    expectDone(item(u"Хліб", 2, 18.50, 37.00, 20), "item А");
    expectDone(item(u"Ліки", 1, 45.00, 40.50, 7), "item Б with a discount");
    expectDone(item(u"Пакет", 1, 2.00, 2.00, 0), "item in the default group");
    expectDone(closeCheck(50, 29.50), "CloseCheck");

    CallResult r = openCheck(true);
    expectDone(r, "OpenCheck for a return");
    EXPECT_EQ(r.args[4], Value::i4(2));
    expectDone(item(u"Хліб", 1, 18.50, 18.50, 20), "returned item");
    expectDone(closeCheck(18.50, 0), "CloseCheck of the return");

    expectDone(comp->call("CashInOutcome", {Value::str(u""), Value::r8(100)}), "CashInOutcome");
    expectDone(comp->call("PrintXReport", {Value::str(u"")}), "PrintXReport");
    expectDone(comp->call("PrintZReport", {Value::str(u"")}), "PrintZReport");
    expectDone(comp->call("Close", {Value::str(u"")}), "Close");
    sim.stop();

    const std::string printed = readFile(tape);
    EXPECT_NE(printed.find("ЧЕК №1"), std::string::npos) << printed;
    EXPECT_NE(printed.find("ЧЕК №2"), std::string::npos);
    EXPECT_EQ(printed.find("ЧЕК №3"), std::string::npos);
    EXPECT_NE(printed.find("СУМА  79.50"), std::string::npos) << "37.00 + 40.50 + 2.00";
    EXPECT_NE(printed.find("ЗНИЖКА  -4.50"), std::string::npos);
    EXPECT_NE(printed.find("ПОВЕРНЕННЯ"), std::string::npos);
    EXPECT_NE(printed.find("X-ЗВІТ"), std::string::npos);
    EXPECT_NE(printed.find("Z-ЗВІТ №1"), std::string::npos);
    // Sales by group: А 37.00 + 2.00 (the default group is group 1), Б 40.50; one return in А.
    EXPECT_NE(printed.find("А 20%  ПРОДАЖ 39.00  ПОВЕРН 18.50"), std::string::npos);
    EXPECT_NE(printed.find("Б 7%  ПРОДАЖ 40.50  ПОВЕРН 0.00"), std::string::npos);
}

TEST_F(NetFiscal, RegisterErrorsReachTheUserAndGetLastError)
{
    NetsimProcess sim({"--err", "/cgi/proc/printreport=3A"});
    open(sim.address());

    // A payment short of the total: the register refuses the receipt.
    expectDone(openCheck(), "OpenCheck");
    expectDone(item(u"Сир", 1, 100.00, 100.00, 20), "item");
    CallResult r = closeCheck(60, 0);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    EXPECT_TRUE(r.errors.empty()) << "a register error is not a driver error";
    ASSERT_EQ(r.alerts.size(), 1u);
    const std::u16string refusal = r.alerts[0];
    EXPECT_EQ(refusal.rfind(u"(Код:11) Сума оплати менша за суму чека", 0), 0u) << toUtf8(refusal);
    r = comp->call("GetLastError", {Value::str(u"")});
    EXPECT_EQ(r.result, Value::i4(0x11));
    EXPECT_EQ(r.args[0], Value::str(refusal));

    // The refused receipt is gone; the next one is accepted and clears the error. Adding
    // an item inspects no answer: the register's last text stays for GetLastError, but the
    // user, who saw it, is not shown it again by a call that succeeded.
    r = item(u"Сир", 1, 100.00, 100.00, 20);
    EXPECT_EQ(r.result, Value::boolean(true));
    EXPECT_TRUE(r.alerts.empty());
    EXPECT_EQ(comp->call("GetLastError", {Value::str(u"")}).args[0], Value::str(refusal));
    expectDone(closeCheck(100, 0), "CloseCheck paid in full");
    EXPECT_EQ(comp->call("GetLastError", {Value::str(u"")}).result, Value::i4(0));

    // A report the register answers with an error code of its own.
    r = comp->call("PrintXReport", {Value::str(u"")});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.alerts.size(), 1u);
    EXPECT_EQ(r.alerts[0], u"(Код:3A) Фіскальна пам'ять переповнена");
    r = comp->call("GetLastError", {Value::str(u"")});
    EXPECT_EQ(r.result, Value::i4(0x3A));
    EXPECT_EQ(countOf(logText(), "ERROR: (Код:3A) Фіскальна пам'ять переповнена\n"), 1);
}

TEST_F(NetFiscal, TimeOutInAFiscalMethodIsReportedAndTheCallStillWorks)
{
    // The register sends the head and half the body, then stalls: a time-out all the same.
    NetsimProcess sim({"--auth", "none", "--stall-body", "/cgi/proc/printreport=8000"});
    open(sim.address());
    const CallResult r = comp->call("PrintZReport", {Value::str(u"")});
    EXPECT_TRUE(r.ok) << "outside Open and SetParameter the host's call itself works";
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].wcode, 1003);
    EXPECT_TRUE(r.alerts.empty());
}

TEST_F(NetFiscal, ReceiptWhoseAnswerIsLostIsRecordedOnce)
{
    netsim::Config config;
    config.auth = netsim::Auth::None;
    netsim::Simulator sim(config);
    sim.start();
    open(sim.address());
    expectDone(openCheck(), "OpenCheck");
    expectDone(item(u"Кава", 1, 99.00, 99.00, 20), "item");

    netsim::Faults lost;
    lost.dropAfter.insert("/cgi/chk");
    sim.setFaults(lost);
    CallResult r = closeCheck(99, 0);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    // The journal's answers are lost too: the cashier is told what to look for.
    EXPECT_TRUE(r.errors.empty());
    ASSERT_EQ(r.alerts.size(), 1u);
    EXPECT_NE(r.alerts[0].find(u"Проверьте ленту"), std::u16string::npos) << toUtf8(r.alerts[0]);
    EXPECT_NE(r.alerts[0].find(u"на сумму 99.00"), std::u16string::npos) << toUtf8(r.alerts[0]);

    // Until it is settled the receipt takes no more items: the host is told why.
    r = item(u"Чай", 1, 10.00, 10.00, 20);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.alerts.size(), 1u);
    EXPECT_NE(r.alerts[0].find(u"ответ регистратора не получен"), std::u16string::npos) << toUtf8(r.alerts[0]);

    // The host retries: the register already has the receipt, so it is not sent again.
    sim.setFaults(netsim::Faults{});
    sim.clearRequests();
    r = closeCheck(99, 0);
    expectDone(r, "CloseCheck retried");
    for (const netsim::Request& q : posts(sim, "/cgi/chk"))
        EXPECT_EQ(q.body.find("\"F\""), std::string::npos) << "sent again: " << q.body;

    // The next receipt is a fresh one.
    r = openCheck();
    expectDone(r, "next OpenCheck");
    EXPECT_EQ(r.args[4], Value::i4(2));
    sim.stop();
}

// Close, a new Open and SetParameter settle an unsettled receipt before the connection
// goes, and show the cashier what they found.
TEST_F(NetFiscal, UnsettledReceiptIsSettledBeforeTheConnectionGoes)
{
    netsim::Config config;
    config.auth = netsim::Auth::None;
    netsim::Simulator sim(config);
    sim.start();
    netsim::Faults lost;
    lost.dropAfter.insert("/cgi/chk");
    const char* const ways[] = {"Close", "Open", "SetParameter"};
    for (const char* way : ways) {
        SCOPED_TRACE(way);
        open(sim.address());
        expectDone(openCheck(), "OpenCheck");
        expectDone(item(u"Кава", 1, 50.00, 50.00, 20), "item");
        sim.setFaults(lost);
        EXPECT_EQ(closeCheck(50, 0).result, Value::boolean(false));
        sim.setFaults(netsim::Faults{});
        CallResult r = std::string(way) == "Close" ? comp->call("Close", {Value::str(u"")})
                       : std::string(way) == "Open"
                           ? comp->call("Open", {Value::str(u"")})
                           : comp->call("SetParameter", {Value::str(u"LogLevel"), Value::i4(0)});
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.result, Value::boolean(true));
        ASSERT_EQ(r.alerts.size(), 1u);
        EXPECT_NE(r.alerts[0].find(u"найден в журнале регистратора"), std::u16string::npos) << toUtf8(r.alerts[0]);
    }
    int sold = 0;
    for (const netsim::Request& q : posts(sim, "/cgi/chk")) sold += q.body.find("Кава") != std::string::npos;
    EXPECT_EQ(sold, 3) << "each receipt sent once";
    sim.stop();
}

TEST_F(NetFiscal, ReportsDrawerAndDisplayRequests)
{
    netsim::Config config;
    config.displayWidth = 20;
    netsim::Simulator sim(config);
    sim.start();
    open(sim.address());
    sim.clearRequests();
    removeFile(logPath());

    expectDone(comp->call("PrintFullFiscalReportByZNumbers", {Value::str(u""), Value::i4(5), Value::i4(12)}),
               "full report by Z numbers");
    expectDone(comp->call("PrintShortFiscalReportByDates",
                          {Value::str(u""), Value::str(u"01.02.2020"), Value::str(u"29.02.2020")}),
               "short report by dates");
    expectDone(comp->call("PrintXReportByGoods", {Value::str(u"")}), "X report by goods");
    expectDone(comp->call("OpenShift", {Value::str(u"")}), "OpenShift sends nothing");
    expectDone(comp->call("OpenCashDrawer", {Value::str(u"")}), "drawer");
    CallResult r = comp->call("GetLineLength", {Value::str(u""), Value::i4(0)});
    expectDone(r, "GetLineLength");
    EXPECT_EQ(r.args[1], Value::i4(20));
    expectDone(comp->call("ShowMessage", {Value::str(u"Каса \"1\" вільна")}), "ShowMessage");

    std::vector<std::string> seen;
    for (const netsim::Request& q : sim.requests())
        if (q.uri != "/cgi/state.php") seen.push_back(q.method + " " + q.uri + (q.body.empty() ? "" : " " + q.body));
    const std::string blank(20, ' ');
    std::string clear = "[";
    for (int line = 1; line <= 5; ++line)
        clear += std::string(line > 1 ? "," : "") + "{\"id\":" + std::to_string(line) + ",\"align\":\"l\",\"str\":\"" +
                 blank + "\"}";
    clear += "]";
    const std::vector<std::string> expected = {
        "GET /cgi/proc/printfmreport?2&1&1&5&12",
        "GET /cgi/proc/printfmreport?3&01.02.2020&29.02.2020&1&1",
        "GET /cgi/proc/printreport?20",
        "GET /cgi/proc/openbox",
        "POST /cgi/proc/openbox",
        "GET /cgi/scr", // GetLineLength: the host's question, not kept by the client
        "GET /cgi/scr", // the width for the display lines
        "POST /cgi/scr " + clear,
        "POST /cgi/scr [{\"id\":1,\"align\":\"l\",\"str\":\"Каса \\\"1\\\" вільна\"}]",
    };
    EXPECT_EQ(seen, expected);
    const std::string log = logText();
    EXPECT_NE(log.find("DEBUG: Long report, first Z:5\n"), std::string::npos);
    EXPECT_NE(log.find("DEBUG: Long report, last Z:12\n"), std::string::npos);
    sim.stop();
}

TEST_F(NetFiscal, EachServiceMethodSendsItsOwnRequest)
{
    netsim::Simulator sim(netsim::Config{});
    sim.start();
    open(sim.address());
    // A receipt first, so that the copy has something to copy.
    expectDone(openCheck(), "OpenCheck");
    expectDone(item(u"Чай", 1, 30.00, 30.00, 20), "item");
    expectDone(closeCheck(30, 0), "CloseCheck");

    struct Case {
        const char* method;
        std::vector<Value> args;
        std::string request; // method, target and body of the one request besides state reads
    };
    const Value id = Value::str(u"");
    const std::vector<Case> cases = {
        {"PrintNullReceipt", {id}, "POST /cgi/chk {}"},
        {"PrintReceiptCopy", {id}, "POST /cgi/chk {\"L\":[]}"},
        {"PrintZReportByGoods", {id}, "GET /cgi/proc/printreport?21"},
        {"PrintFullFiscalReportByDates",
         {id, Value::str(u"01.02.2020"), Value::str(u"29.02.2020")},
         "GET /cgi/proc/printfmreport?1&01.02.2020&29.02.2020&1&1"},
        {"PrintShortFiscalReportByZNumbers", {id, Value::i4(1), Value::i4(3)}, "GET /cgi/proc/printfmreport?4&1&1&1&3"},
        {"PrintXReport", {id}, "GET /cgi/proc/printreport?10"},
        {"PrintZReport", {id}, "GET /cgi/proc/printreport?0"},
    };
    for (const Case& c : cases) {
        sim.clearRequests();
        expectDone(comp->call(c.method, c.args), c.method);
        std::vector<std::string> seen;
        for (const netsim::Request& q : sim.requests())
            if (q.uri != "/cgi/state.php")
                seen.push_back(q.method + " " + q.uri + (q.body.empty() ? "" : " " + q.body));
        EXPECT_EQ(seen, std::vector<std::string>{c.request}) << c.method;
    }

    // Abandoning a receipt is the driver's own business.
    expectDone(openCheck(), "OpenCheck");
    expectDone(item(u"Чай", 1, 30.00, 30.00, 20), "item");
    sim.clearRequests();
    expectDone(comp->call("CancelCheck", {id}), "CancelCheck");
    for (const netsim::Request& q : sim.requests()) EXPECT_EQ(q.uri, "/cgi/state.php");
    sim.stop();
}

TEST_F(NetFiscal, LoginRefusedOrRegisterGoneAfterOpen)
{
    netsim::Simulator sim(netsim::Config{});
    sim.start();
    open(sim.address());

    netsim::Faults refuse;
    refuse.always401 = true;
    sim.setFaults(refuse);
    removeFile(logPath());
    CallResult r = comp->call("PrintXReport", {Value::str(u"")});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].wcode, 1002);
    EXPECT_TRUE(r.alerts.empty());
    EXPECT_EQ(countOf(logText(), " code:1002\n"), 1);

    sim.stop();
    removeFile(logPath());
    r = comp->call("PrintZReport", {Value::str(u"")});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.errors.size(), 1u);
    const std::string text = toUtf8(r.errors[0].description);
    EXPECT_NE(text.find("Connection refused"), std::string::npos) << text;
    EXPECT_NE(text.find("по адресу " + sim.address() + " не принимает соединение"), std::string::npos)
        << "the address in use is named: " << text;
    EXPECT_EQ(countOf(logText(), text + " code:" + std::to_string(r.errors[0].scode) + "\n"), 1);
    expectDone(comp->call("Close", {Value::str(u"")}), "Close without a register");
}

TEST_F(NetFiscal, ReceiptAnsweredWithAPageCountsOnlyWhenRecorded)
{
    netsim::Config config;
    config.auth = netsim::Auth::None;
    netsim::Simulator sim(config);
    sim.start();
    open(sim.address());
    netsim::Faults page;
    page.documentAnswer = netsim::Faults::BadAnswer::Html;
    for (const bool booked : {false, true}) {
        SCOPED_TRACE(booked ? "booked" : "not booked");
        // (The refusal's text stays for the host to read until the next answer.)
        EXPECT_EQ(openCheck().result, Value::boolean(true));
        EXPECT_EQ(item(u"Кава", 1, 99.00, 99.00, 20).result, Value::boolean(true));
        page.documentAnswerBooked = booked;
        sim.setFaults(page);
        const CallResult r = closeCheck(99, 0);
        sim.setFaults(netsim::Faults{});
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.result, Value::boolean(booked));
        EXPECT_EQ(r.alerts.size(), booked ? 0u : 1u) << "a failure says why";
    }
    const CallResult next = openCheck();
    EXPECT_EQ(next.result, Value::boolean(true));
    EXPECT_EQ(next.args[4], Value::i4(2)) << "one receipt recorded";
    sim.stop();
}

TEST_F(NetFiscal, ARefusalByHttpStatusSaysWhy)
{
    netsim::Simulator sim(netsim::Config{});
    sim.start();
    open(sim.address());
    expectDone(openCheck(), "OpenCheck");
    expectDone(item(u"Чай", 1, 30.00, 30.00, 20), "item");
    netsim::Faults f;
    f.status["/cgi/chk"] = 500;
    sim.setFaults(f);
    CallResult r = closeCheck(30, 0);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    // The journal shows nothing since the state read before it: not booked.
    const std::u16string said = u"Ответ регистратора на документ не распознан, и в журнале регистратора документа нет: "
                                u"документ не проведён; HTTP 500 Internal Server Error";
    EXPECT_EQ(r.alerts, std::vector<std::u16string>{said});
    r = comp->call("GetLastError", {Value::str(u"")});
    EXPECT_EQ(r.args[0], Value::str(said));
    EXPECT_NE(logText().find("ERROR: HTTP 500 Internal Server Error\n"), std::string::npos);
    // A call that succeeds after it does not show the same text again; the text stays
    // for GetLastError.
    r = comp->call("GetCurrentReceiptNumber", {Value::str(u""), Value::empty()});
    EXPECT_EQ(r.result, Value::boolean(true));
    EXPECT_TRUE(r.alerts.empty()) << toUtf8(r.alerts.empty() ? u"" : r.alerts[0]);
    EXPECT_EQ(comp->call("GetLastError", {Value::str(u"")}).args[0], Value::str(said));
    // A call that fails with the same text shows it again.
    f.status.clear();
    f.err["/cgi/proc/printreport"] = "11";
    sim.setFaults(f);
    r = comp->call("PrintXReport", {Value::str(u"")});
    EXPECT_EQ(r.result, Value::boolean(false));
    EXPECT_EQ(r.alerts.size(), 1u);
    r = comp->call("PrintXReport", {Value::str(u"")});
    EXPECT_EQ(r.alerts.size(), 1u) << "the same refusal again is shown again";
    sim.stop();
}
