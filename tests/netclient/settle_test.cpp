// A receipt or cash document whose answer did not confirm it (lost, or not a JSON object):
// the receipt can't change until it is settled, and the journal settles it only when it
// holds this very document.
#include "netclient/fiscal_printer.h"
#include "simulators/netreg/netsim.h"
#include "tests/support/captured_client_log.h"
#include "tests/support/scripted_server.h"

#include "textconv/utf.h"

#include <Poco/Exception.h>

#include <gtest/gtest.h>

namespace {

using oltra::FiscalPrinter;
using testsupport::CapturedClientLog;
using testsupport::ScriptedServer;

class SettleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        netsim::Config c;
        c.auth = netsim::Auth::Basic;
        c.clock = "2026-12-08 10:00:00";
        sim = std::make_unique<netsim::Simulator>(c);
        sim->start();
        printer = connect();
    }
    std::unique_ptr<FiscalPrinter> connect()
    {
        return std::make_unique<FiscalPrinter>(sim->address(), "service", "384190", 1);
    }
    // A sale of one line, closed in cash; true when the register confirmed it.
    static bool sell(FiscalPrinter& p, const std::u16string& name, double price)
    {
        int32_t number = 0;
        p.openCheck(true, false, true, number);
        p.printFiscalString(name, 1, price, price, 1, 0);
        return p.closeCheck(0, price, 0, 0);
    }
    // The receipts in the register's journal that sell `name` (read by a client of its own).
    int recorded(const std::string& name)
    {
        std::string journal;
        oltra::HttpClient(sim->address(), "service", "384190").get("/cgi/chk?id=1", journal);
        int count = 0;
        for (std::size_t at = journal.find("\"name\":\"" + name + "\""); at != std::string::npos;
             at = journal.find("\"name\":\"" + name + "\"", at + 1))
            ++count;
        return count;
    }
    void faults(void (*set)(netsim::Faults&))
    {
        netsim::Faults f;
        set(f);
        sim->setFaults(f);
    }
    void noFaults() { sim->setFaults(netsim::Faults()); }

    std::unique_ptr<netsim::Simulator> sim;
    std::unique_ptr<FiscalPrinter> printer;
};

TEST_F(SettleTest, AnUnsettledReceiptCannotChange)
{
    int32_t number = 0;
    ASSERT_TRUE(printer->openCheck(true, false, false, number));
    ASSERT_TRUE(printer->printFiscalString(u"a", 1, 7, 7, 1, 0));
    // The connection is reset on the receipt and on the journal: nothing can tell.
    faults([](netsim::Faults& f) { f.reset.insert("/cgi/chk"); });
    EXPECT_FALSE(printer->closeCheck(0, 7, 0, 0));
    ASSERT_TRUE(printer->hasUnsettledReceipt());
    noFaults();

    // Refused with a reason, nothing added, no display request.
    sim->clearRequests();
    EXPECT_FALSE(printer->printFiscalString(u"b", 1, 1, 1, 1, 0));
    const std::u16string reason = printer->getLastErrorText();
    EXPECT_NE(reason.find(u"не получен"), std::string::npos) << textconv::toUtf8(reason);
    EXPECT_FALSE(printer->printNonFiscalString(u"text"));
    EXPECT_FALSE(printer->printBarCode(u"EAN13", u"4820000000000"));
    EXPECT_EQ(printer->getLastErrorText(), reason);
    EXPECT_TRUE(sim->requests().empty());

    // The register's clock stands still: it might still book the receipt, so it is not
    // sent again; the cashier ends the wait.
    EXPECT_FALSE(printer->closeCheck(0, 7, 0, 0));
    EXPECT_TRUE(printer->hasUnsettledReceipt());
    EXPECT_TRUE(printer->cancelCheck());
    EXPECT_NE(printer->getLastErrorText().find(u"Проверьте ленту"), std::u16string::npos);
    EXPECT_FALSE(printer->hasUnsettledReceipt());
    EXPECT_EQ(recorded("a"), 0);
    EXPECT_EQ(recorded("b"), 0);
    // Settled, the receipt takes items again.
    EXPECT_TRUE(printer->printFiscalString(u"b", 1, 1, 1, 1, 0));
}

TEST_F(SettleTest, OnlyTheSameReceiptInTheJournalSettlesIt)
{
    // Refused at the login, so never recorded; meanwhile another till books a sale and a
    // null receipt. Neither is ours: ours is sent again, once.
    int32_t number = 0;
    ASSERT_TRUE(printer->openCheck(true, false, false, number));
    ASSERT_TRUE(printer->printFiscalString(u"ours", 2, 5, 10, 1, 0));
    faults([](netsim::Faults& f) { f.always401 = true; });
    EXPECT_THROW(printer->closeCheck(0, 10, 0, 0), Poco::Exception);
    noFaults();
    auto otherTill = connect();
    ASSERT_TRUE(sell(*otherTill, u"theirs", 3));
    ASSERT_TRUE(otherTill->printNullReceipt());

    EXPECT_FALSE(printer->hasUnsettledReceipt()) << "refused at the login: nothing sent";
    EXPECT_TRUE(printer->closeCheck(0, 10, 0, 0)) << textconv::toUtf8(printer->getLastErrorText());
    EXPECT_EQ(recorded("ours"), 1);

    // The same goods as another till's receipt but other payments: not ours either.
    ASSERT_TRUE(printer->openCheck(true, false, false, number));
    ASSERT_TRUE(printer->printFiscalString(u"same", 1, 4, 4, 1, 0));
    faults([](netsim::Faults& f) { f.always401 = true; });
    EXPECT_THROW(printer->closeCheck(0, 4, 0, 0), Poco::Exception);
    noFaults();
    otherTill->openCheck(true, false, true, number);
    otherTill->printFiscalString(u"same", 1, 4, 4, 1, 0);
    ASSERT_TRUE(otherTill->closeCheck(0, 0, 4, 0));
    EXPECT_TRUE(printer->closeCheck(0, 4, 0, 0));
    EXPECT_EQ(recorded("same"), 2);
}

TEST_F(SettleTest, AFailedStateReadSendsNothing)
{
    // Without the register's state right before it, a receipt can't be placed in the
    // journal afterwards: it is not sent.
    faults([](netsim::Faults& f) { f.status["/cgi/state.php"] = 500; });
    int32_t number = 0;
    printer->openCheck(true, false, false, number);
    printer->printFiscalString(u"twice", 1, 6, 6, 1, 0);
    sim->clearRequests();
    CapturedClientLog log;
    EXPECT_FALSE(printer->closeCheck(0, 6, 0, 0));
    EXPECT_FALSE(printer->cashInOutcome(6));
    for (const auto& r : sim->requests()) EXPECT_NE(r.method + r.uri, "POST/cgi/chk");
    EXPECT_NE(printer->getLastErrorText().find(u"не отправлен"), std::u16string::npos);
    EXPECT_FALSE(printer->hasUnsettledReceipt());
    noFaults();
    EXPECT_TRUE(printer->closeCheck(0, 6, 0, 0));
    EXPECT_EQ(recorded("twice"), 1);
}

TEST_F(SettleTest, ABrokenAnswerLeavesTheReceiptToTheNextClose)
{
    // Recorded, answered with broken JSON, and the journal can't be read either: unknown.
    int32_t number = 0;
    ASSERT_TRUE(printer->openCheck(true, false, false, number));
    ASSERT_TRUE(printer->printFiscalString(u"kept", 1, 5, 5, 1, 0));
    faults([](netsim::Faults& f) { f.malformed.insert("/cgi/chk"); });
    EXPECT_FALSE(printer->closeCheck(0, 5, 0, 0));
    EXPECT_TRUE(printer->hasUnsettledReceipt());
    EXPECT_FALSE(printer->getLastErrorText().empty());
    noFaults();
    // The next close finds it in the journal and does not send it again.
    sim->clearRequests();
    EXPECT_TRUE(printer->closeCheck(0, 5, 0, 0));
    for (const auto& r : sim->requests()) EXPECT_NE(r.method + r.uri, "POST/cgi/chk");
    EXPECT_EQ(recorded("kept"), 1);
}

TEST_F(SettleTest, AnAnswerThatIsNoJsonObjectCountsOnlyWhenTheJournalHasIt)
{
    using Bad = netsim::Faults::BadAnswer;
    int n = 0;
    for (const Bad bad : {Bad::Html, Bad::Array, Bad::Broken}) {
        for (const bool booked : {false, true}) {
            const std::string name = "doc" + std::to_string(++n);
            SCOPED_TRACE(name);
            netsim::Faults f;
            f.documentAnswer = bad;
            f.documentAnswerBooked = booked;
            sim->setFaults(f);
            EXPECT_EQ(sell(*printer, textconv::toUtf16(name), 2), booked);
            EXPECT_EQ(printer->getLastErrorText().empty(), booked);
            EXPECT_FALSE(printer->hasUnsettledReceipt());
            EXPECT_EQ(printer->cashInOutcome(n), booked);
            noFaults();
            EXPECT_EQ(recorded(name), booked ? 1 : 0);
        }
    }
}

// A register that answers the documents that move money with something other than a JSON
// object, and keeps a journal that lacks them.
class NotJsonAnswerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.set("/cgi/state.php", "{\"model\":\"Oltra-T 600\",\"name\":\"n\",\"serial\":\"s\",\"time\":1,"
                                     "\"JrnTime\":1,\"chkId\":57}");
        server.set("/desc", "{\"uk\":{\"err\":{}}}");
        server.set("/cgi/tbl/Tax", "[{\"id\":1,\"Prc\":20}]");
        server.set("/cgi/chk?id=-43", "[{\"id\":57,\"no\":4,\"F\":[]}]");
        server.set("/cgi/scr", "{}");
        printer = std::make_unique<FiscalPrinter>(server.address(), "service", "384190", 1);
    }
    ScriptedServer server;
    std::unique_ptr<FiscalPrinter> printer;
};

TEST_F(NotJsonAnswerTest, ADocumentTheJournalLacksFails)
{
    for (const char* answer : {"<html><body>Error 13</body></html>", "[]", "{\"id\":", "\"ok\""}) {
        SCOPED_TRACE(answer);
        server.set("/cgi/chk", 200, answer);
        int32_t number = 0;
        ASSERT_TRUE(printer->openCheck(true, false, true, number));
        ASSERT_TRUE(printer->printFiscalString(u"a", 1, 5, 5, 1, 0));
        // The journal shows nothing after id 57 (the state says 57 still).
        EXPECT_FALSE(printer->closeCheck(0, 5, 0, 0));
        EXPECT_FALSE(printer->getLastErrorText().empty());
        EXPECT_FALSE(printer->hasUnsettledReceipt());
        EXPECT_TRUE(printer->receipt().empty()) << "the host builds it again, as after a refusal";
        EXPECT_FALSE(printer->cashInOutcome(100));
        EXPECT_FALSE(printer->getLastErrorText().empty());
    }
    // A JSON object still confirms a document.
    server.set("/cgi/chk", 200, "{\"id\":58,\"no\":5}");
    EXPECT_TRUE(printer->cashInOutcome(100));
}

} // namespace
