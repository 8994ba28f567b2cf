// Receipts, reports, service commands and the display: the documents and requests the
// register client sends, checked against what the simulated register received.
#include "netclient/fiscal_printer.h"
#include "netclient/receipt_buffer.h"
#include "netclient/text_format.h"
#include "simulators/netreg/netsim.h"
#include "tests/support/captured_client_log.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"

#include "textconv/utf.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using oltra::FiscalPrinter;
using oltra::ReceiptBuffer;
using testsupport::CapturedClientLog;

TEST(TextFormat, NumbersEscapesAndPieces)
{
    EXPECT_EQ(oltra::fixedNumber(2, 3), "2.000");
    EXPECT_EQ(oltra::fixedNumber(-150, 2), "-150.00");
    EXPECT_EQ(oltra::fixedNumber(-0.001, 2), "0.00");
    EXPECT_EQ(oltra::fixedNumber(0.125, 2), "0.13");
    EXPECT_EQ(oltra::fixedNumber(1e300, 2), "0.00");
    EXPECT_EQ(oltra::fixedNumber(NAN, 0), "0");
    EXPECT_EQ(oltra::jsonEscape(u"a\"b\\c\nd\x01"), u"a\\\"b\\\\c\\nd\\u0001");
    // A character outside the BMP is never cut in two.
    const std::u16string emoji = u"ab\U0001F600c";
    EXPECT_EQ(oltra::splitCharacters(emoji, 3), (std::vector<std::u16string>{u"ab\U0001F600", u"c"}));
    EXPECT_TRUE(oltra::splitCharacters(u"", 5).empty());
    EXPECT_EQ(oltra::queryValue("01.02.2020"), "01.02.2020");
    EXPECT_EQ(oltra::queryValue("1&x=2 ї"), "1%26x%3D2%20%D1%97");
    // "/" and ":" are legal in a query: dates and times pass as written.
    EXPECT_EQ(oltra::queryValue("01/02/2020 10:00"), "01/02/2020%2010:00");
    EXPECT_EQ(oltra::queryValue("#%+?"), "%23%25%2B%3F");
}

TEST(ReceiptBufferTest, ElementsPaymentsAndEscaping)
{
    CapturedClientLog log;
    ReceiptBuffer other(u"F", "Oltra-T 600");
    EXPECT_EQ(ReceiptBuffer::itemCode(u"abc"), 891568578u);
    other.addText(u"Рядок з 23 символів: \"x"); // the quote is the 22nd character
    other.addBarcode(u"ean-13", u"4820000000017");
    other.addBarcode(u"Code 128", u"A\"1");
    other.addBarcode(u"qr", u"x");
    EXPECT_EQ(other.finishReceipt(1, 2, -3, NAN),
              u"{\"F\":[{\"N\":{\"cm\":\"Рядок з 23 символів: \\\"\"}},{\"N\":{\"cm\":\"x\"}},"
              u"{\"BC\":{\"code\":\"4820000000017\",\"type\":\"1\"}},{\"BC\":{\"code\":\"A\\\"1\",\"type\":\"2\"}},"
              u"{\"BC\":{\"code\":\"x\",\"type\":\"\"}},"
              u"{\"P\":{\"no\":1, \"sum\" : 2.00}},{\"P\":{\"no\":4, \"sum\" : 1.00}}]}");
    EXPECT_TRUE(log.contains("ERROR: Помилковий формат штрих коду: QR. Підтримуються тільки наступні типи штрих кодів: "
                             "EAN13, CODE39, CODE128\n"));

    ReceiptBuffer m707(u"R", "Oltra-T 7O7");
    EXPECT_EQ(m707.finishReceipt(1, 2, 3, 4),
              u"{\"R\":[{\"P\":{\"no\":1, \"sum\" : 1.00}},{\"P\":{\"no\":2, \"sum\" : 4.00}},"
              u"{\"P\":{\"no\":3, \"sum\" : 3.00}},{\"P\":{\"no\":4, \"sum\" : 2.00}}]}");
    EXPECT_EQ(ReceiptBuffer(u"P", "x").finishReceipt(0, 0, 0, 0), u"{\"P\":[]}");

    // A name can't break the document; its code is that of the name as given.
    ReceiptBuffer named(u"F", "m");
    const std::u16string name = u"Кава \"Арабіка\"\\\n1";
    named.addItem(name, 1, 2, 2, 0, 3);
    const std::string document = textconv::toUtf8(named.finishReceipt(0, 0, 0, 0));
    const auto root = Poco::JSON::Parser().parse(document).extract<Poco::JSON::Object::Ptr>();
    const auto item = root->getArray("F")->getObject(0)->getObject("S");
    EXPECT_EQ(item->getValue<std::string>("name"), textconv::toUtf8(name));
    EXPECT_EQ(item->getValue<uint32_t>("code"), ReceiptBuffer::itemCode(name));
}

class PrinterCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        netsim::Config c;
        c.auth = netsim::Auth::Basic;
        c.clock = "2026-12-08 10:00:00";
        c.displayWidth = 20;
        sim = std::make_unique<netsim::Simulator>(c);
        sim->start();
        printer = std::make_unique<FiscalPrinter>(sim->address(), "service", "384190", 1);
        sim->clearRequests();
    }
    // Bodies of the POSTs to a path, in order.
    std::vector<std::string> posted(const std::string& path) const
    {
        std::vector<std::string> bodies;
        for (const auto& r : sim->requests())
            if (r.method == "POST" && r.uri == path) bodies.push_back(r.body);
        return bodies;
    }
    std::vector<std::string> targets(const std::string& method) const
    {
        std::vector<std::string> list;
        for (const auto& r : sim->requests())
            if (r.method == method) list.push_back(r.uri);
        return list;
    }
    // The sale lines of the last receipt document sent.
    std::string lastReceipt() const
    {
        const auto bodies = posted("/cgi/chk");
        return bodies.empty() ? std::string() : bodies.back();
    }

    std::unique_ptr<netsim::Simulator> sim;
    std::unique_ptr<FiscalPrinter> printer;
};

TEST_F(PrinterCommandsTest, TheWorkedExampleByteForByte)
{
    int32_t number = -1;
    ASSERT_TRUE(printer->openCheck(true, false, false, number));
    EXPECT_EQ(number, 1);
    ASSERT_TRUE(printer->printFiscalString(u"abc", 2, 10.50, 20.00, 0, 0));
    ASSERT_TRUE(printer->closeCheck(0, 20, 0, 0)) << textconv::toUtf8(printer->getLastErrorText());
    EXPECT_EQ(lastReceipt(), "{\"F\":[{\"S\":{\"code\":891568578,\"name\":\"abc\",\"qty\":2.000,\"price\":10.50,"
                             "\"sum\":20.00,\"dep\":1,\"grp\":1,\"tax\":1}},{\"D\":{\"sum\":-1.00,\"all\":0}},"
                             "{\"P\":{\"no\":1, \"sum\" : 20.00}}]}");
    // The item on lines 1, 4 and 5, then the thanks on lines 3 and 4.
    const auto screens = posted("/cgi/scr");
    ASSERT_GE(screens.size(), 7u);
    EXPECT_EQ(screens[1], "[{\"id\":1,\"align\":\"l\",\"str\":\"abc\"}]");
    EXPECT_EQ(screens[2], "[{\"id\":4,\"align\":\"l\",\"str\":\"2x10.50грн\"}]");
    EXPECT_EQ(screens[3], "[{\"id\":5,\"align\":\"r\",\"str\":\"20грн\"}]");
    EXPECT_EQ(screens[screens.size() - 2], "[{\"id\":3,\"align\":\"c\",\"str\":\"Дякуэмо\"}]");
    EXPECT_EQ(screens.back(), "[{\"id\":4,\"align\":\"c\",\"str\":\"за покупку!\"}]");
    EXPECT_TRUE(printer->receipt().empty());
    EXPECT_EQ(printer->getCurrentReceiptNumber(), 2);
}

TEST_F(PrinterCommandsTest, RoundingAndTheCentRule)
{
    int32_t number = 0;
    ASSERT_TRUE(printer->openCheck(true, false, false, number));
    ASSERT_TRUE(printer->printFiscalString(u"a", 1.0005, 0.125, 0.13, 2, 20)); // 1.001 x 0.13 = 0.13
    ASSERT_TRUE(printer->printFiscalString(u"b", 2, 10.00, 19.99, 1, 7));      // D -0.01
    ASSERT_TRUE(printer->printFiscalString(u"c", 1, 10.00, 10.004, 1, 7));     // no D
    ASSERT_TRUE(printer->printFiscalString(u"d", 1.5, 0.33, 0.49, 1, 102));    // 0.495 -> 0.50: D -0.01
    ASSERT_TRUE(printer->closeCheck(100, 0, 0, 0)) << textconv::toUtf8(printer->getLastErrorText());
    const std::string doc = lastReceipt();
    EXPECT_NE(doc.find("\"name\":\"a\",\"qty\":1.001,\"price\":0.13,\"sum\":0.13,\"dep\":2,\"grp\":1,\"tax\":1}}"),
              std::string::npos);
    EXPECT_NE(doc.find("\"sum\":19.99,\"dep\":1,\"grp\":1,\"tax\":2}},{\"D\":{\"sum\":-0.01,\"all\":0}}"),
              std::string::npos);
    EXPECT_NE(doc.find("\"sum\":10.00,\"dep\":1,\"grp\":1,\"tax\":2}},{\"S\""), std::string::npos);
    EXPECT_NE(doc.find("\"sum\":0.49,\"dep\":1,\"grp\":1,\"tax\":2}},{\"D\":{\"sum\":-0.01,\"all\":0}}"),
              std::string::npos);
    EXPECT_NE(doc.find("{\"P\":{\"no\":4, \"sum\" : 100.00}}"), std::string::npos);
}

TEST_F(PrinterCommandsTest, OpenCancelReturnAndRefusal)
{
    int32_t number = 0;
    ASSERT_TRUE(printer->printFiscalString(u"a", 1, 1, 1, 1, 0));
    number = 77;
    EXPECT_FALSE(printer->openCheck(true, false, false, number));
    EXPECT_EQ(number, 77);
    EXPECT_FALSE(printer->receipt().empty());
    EXPECT_TRUE(printer->openCheck(false, true, true, number));
    EXPECT_EQ(printer->receipt().type(), u"R");
    EXPECT_TRUE(printer->receipt().empty());
    EXPECT_TRUE(printer->cancelCheck());
    EXPECT_EQ(printer->receipt().type(), u"F");

    // A return needs cash in the drawer: refused, then accepted after a deposit.
    ASSERT_TRUE(printer->openCheck(true, true, false, number));
    ASSERT_TRUE(printer->printFiscalString(u"a", 1, 5, 5, 1, 0));
    EXPECT_FALSE(printer->closeCheck(5, 0, 0, 0));
    EXPECT_EQ(printer->getLastErrorText(), u"cash: 0.00, (Код:12) Недостатньо готівки в скриньці");
    EXPECT_TRUE(printer->receipt().empty()); // the host must build it again
    EXPECT_FALSE(printer->cashInOutcome(-150));
    EXPECT_EQ(posted("/cgi/chk").back(), "{\"IO\":[{\"IO\":{\"sum\":-150.00}}]}");
    ASSERT_TRUE(printer->cashInOutcome(50));
    sim->clearRequests();
    ASSERT_TRUE(printer->openCheck(true, true, false, number));
    ASSERT_TRUE(printer->printFiscalString(u"a", 1, 5, 5, 1, 0));
    ASSERT_TRUE(printer->closeCheck(5, 0, 0, 0));
    EXPECT_EQ(lastReceipt().substr(0, 6), "{\"R\":[");
    EXPECT_EQ(posted("/cgi/scr").back().find("Дякуэмо"), std::string::npos);
}

// Numbers a document can't carry are refused before anything is sent, and the receipt
// stays as it was: never written as 0, never overflowing the line arithmetic.
TEST_F(PrinterCommandsTest, NumbersADocumentCannotCarryAreRefused)
{
    int32_t number = 0;
    ASSERT_TRUE(printer->openCheck(true, false, false, number));
    ASSERT_TRUE(printer->printFiscalString(u"a", 1, 5, 5, 1, 0));
    const std::u16string items = printer->receipt().items();
    sim->clearRequests();
    EXPECT_FALSE(printer->printFiscalString(u"b", 1e7, 1e13, 1, 1, 0));
    EXPECT_FALSE(printer->printFiscalString(u"b", 2147483647, 2147483647, 2147483647, 1, 0));
    EXPECT_FALSE(printer->printFiscalString(u"b", NAN, 1, 1, 1, 0));
    EXPECT_FALSE(printer->printFiscalString(u"b", 1, 1, -INFINITY, 1, 0));
    EXPECT_FALSE(printer->cashInOutcome(NAN));
    EXPECT_FALSE(printer->cashInOutcome(1e15));
    EXPECT_FALSE(printer->closeCheck(INFINITY, 0, 0, 0));
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_EQ(printer->receipt().items(), items);
    ASSERT_TRUE(printer->closeCheck(5, 0, 0, 0));
    EXPECT_NE(lastReceipt().find("\"name\":\"a\""), std::string::npos);
}

TEST_F(PrinterCommandsTest, AnUnansweredReceiptIsRecordedOnce)
{
    int32_t number = 0;
    ASSERT_TRUE(printer->openCheck(true, false, false, number));
    ASSERT_TRUE(printer->printFiscalString(u"a", 1, 7, 7, 1, 0));
    netsim::Faults f;
    f.dropAfter.insert("/cgi/chk");
    sim->setFaults(f);
    // Booked, its answer lost, and the journal can't be read (its answers are lost too):
    // unknown, not sent again, and the receipt takes no more items.
    EXPECT_FALSE(printer->closeCheck(0, 7, 0, 0));
    EXPECT_TRUE(printer->hasUnsettledReceipt());
    EXPECT_FALSE(printer->printFiscalString(u"b", 1, 1, 1, 1, 0));
    sim->setFaults(netsim::Faults());
    CapturedClientLog log;
    EXPECT_TRUE(printer->closeCheck(0, 7, 0, 0));
    EXPECT_TRUE(log.contains("INFO: Unanswered receipt found in the register's journal: recorded, not sent again\n"));
    EXPECT_FALSE(printer->hasUnsettledReceipt());
    EXPECT_EQ(posted("/cgi/chk").size(), 1u);
    EXPECT_EQ(printer->readReceiptCounter(), 2);

    // Refused before it was recorded (the login fails): nothing changed, closed again,
    // recorded once.
    ASSERT_TRUE(printer->openCheck(true, false, false, number));
    ASSERT_TRUE(printer->printFiscalString(u"c", 1, 3, 3, 1, 0));
    f = netsim::Faults();
    f.always401 = true;
    sim->setFaults(f);
    EXPECT_THROW(printer->closeCheck(0, 3, 0, 0), Poco::Exception);
    EXPECT_FALSE(printer->hasUnsettledReceipt());
    sim->setFaults(netsim::Faults());
    EXPECT_TRUE(printer->closeCheck(0, 3, 0, 0));
    const auto bodies = posted("/cgi/chk");
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[1].substr(0, 6), "{\"F\":[");
    EXPECT_EQ(bodies[1].find("{\"F\":[", 1), std::string::npos);
    EXPECT_EQ(printer->readReceiptCounter(), 3);

    // The host may also give it up by opening a new receipt.
    ASSERT_TRUE(printer->printFiscalString(u"d", 1, 3, 3, 1, 0));
    sim->setFaults(f);
    EXPECT_THROW(printer->closeCheck(0, 3, 0, 0), Poco::Exception);
    sim->setFaults(netsim::Faults());
    EXPECT_FALSE(printer->openCheck(true, false, false, number));
    EXPECT_TRUE(printer->openCheck(true, false, true, number));
    EXPECT_FALSE(printer->hasUnsettledReceipt());
    EXPECT_EQ(printer->readReceiptCounter(), 3);
}

TEST_F(PrinterCommandsTest, Display)
{
    const std::u16string text45 = u"0123456789абвгдежзий0123456789abcdefghij  \"x\"";
    ASSERT_TRUE(printer->showLines(text45, 1, u"l"));
    ASSERT_TRUE(printer->showLines(std::u16string(200, u'z'), 1, u"c"));
    ASSERT_TRUE(printer->clearDisplay());
    ASSERT_TRUE(printer->showMessage(u"Привіт"));
    EXPECT_EQ(targets("GET"), (std::vector<std::string>{"/cgi/scr", "/cgi/state.php"})); // the width, once
    const auto screens = posted("/cgi/scr");
    ASSERT_EQ(screens.size(), 5u);
    EXPECT_EQ(screens[0], "[{\"id\":1,\"align\":\"l\",\"str\":\"0123456789абвгдежзий\"},"
                          "{\"id\":2,\"align\":\"l\",\"str\":\"0123456789abcdefghij\"},"
                          "{\"id\":3,\"align\":\"l\",\"str\":\"\\\"x\\\"\"}]");
    EXPECT_EQ(std::count(screens[1].begin(), screens[1].end(), '{'), 6);
    EXPECT_NE(screens[1].find("{\"id\":6,\"align\":\"c\",\"str\":\"zzzzzzzzzzzzzzzzzzzz\"}]"), std::string::npos);
    const std::string blanks(20, ' ');
    std::string cleared = "[";
    for (int i = 1; i <= 5; ++i)
        cleared += std::string(i > 1 ? "," : "") + "{\"id\":" + std::to_string(i) + ",\"align\":\"l\",\"str\":\"" +
                   blanks + "\"}";
    EXPECT_EQ(screens[2], cleared + "]");
    EXPECT_EQ(screens[3], cleared + "]");
    EXPECT_EQ(screens[4], "[{\"id\":1,\"align\":\"l\",\"str\":\"Привіт\"}]");
    int32_t width = 0;
    EXPECT_TRUE(printer->getLineLength(width));
    EXPECT_EQ(width, 20);
}

TEST_F(PrinterCommandsTest, ReportsAndServiceCommands)
{
    EXPECT_TRUE(printer->printXReport());
    EXPECT_TRUE(printer->printZReport());
    EXPECT_TRUE(printer->printXReportByGoods());
    EXPECT_TRUE(printer->printZReportByGoods());
    EXPECT_TRUE(printer->printFullFiscalReportByZNumbers(5, 12));
    EXPECT_TRUE(printer->printShortFiscalReportByDates(u"01.02.2020", u"29.02.2020"));
    EXPECT_FALSE(printer->printShortFiscalReportByZNumbers(12, 5));
    EXPECT_EQ(printer->getLastErrorText(), u"(Код:18) Невірні параметри звіту");
    EXPECT_TRUE(printer->printFullFiscalReportByDates(u"01.02.2020&9", u"x y"));
    EXPECT_FALSE(printer->printReceiptCopy()); // nothing to copy yet
    EXPECT_TRUE(printer->printNullReceipt());
    EXPECT_TRUE(printer->printReceiptCopy());
    EXPECT_TRUE(printer->openCashDrawer());
    std::vector<std::string> gets;
    for (const auto& t : targets("GET"))
        if (t != "/cgi/state.php") gets.push_back(t);
    EXPECT_EQ(gets, (std::vector<std::string>{
                        "/cgi/proc/printreport?10", "/cgi/proc/printreport?0", "/cgi/proc/printreport?20",
                        "/cgi/proc/printreport?21", "/cgi/proc/printfmreport?2&1&1&5&12",
                        "/cgi/proc/printfmreport?3&01.02.2020&29.02.2020&1&1", "/cgi/proc/printfmreport?4&1&1&12&5",
                        "/cgi/proc/printfmreport?1&01.02.2020%269&x%20y&1&1", "/cgi/proc/openbox"}));
    EXPECT_EQ(posted("/cgi/chk"), (std::vector<std::string>{"{\"L\":[]}", "{}", "{\"L\":[]}"}));
    EXPECT_EQ(posted("/cgi/proc/openbox"), std::vector<std::string>{""});

    netsim::Faults f;
    f.err["/cgi/proc/printreport"] = "3A";
    f.status["/cgi/proc/openbox"] = 404;
    sim->setFaults(f);
    EXPECT_FALSE(printer->printZReport());
    EXPECT_EQ(printer->getLastErrorCode(), 58u);
    EXPECT_FALSE(printer->openCashDrawer());
    EXPECT_EQ(printer->getLastErrorText(), u"HTTP 404 Not Found") << "the failure says why";
    EXPECT_EQ(printer->getLastErrorCode(), 0u);
}

TEST(PrinterDisplayWidth, TheWidthIsReportedAsAnsweredAndStoredWithinBounds)
{
    testsupport::ScriptedServer server;
    server.set("/cgi/state.php",
               "{\"model\":\"m\",\"name\":\"n\",\"serial\":\"s\",\"time\":1,\"JrnTime\":1,\"chkId\":1}");
    CapturedClientLog log;
    for (const int32_t answered : {0, 5000, 2147483647}) {
        server.set("/cgi/scr", "{\"chars\":{\"w\":" + std::to_string(answered) + "}}");
        FiscalPrinter printer(server.address(), "", "", 1);
        int32_t width = 5;
        EXPECT_TRUE(printer.getLineLength(width)) << answered;
        EXPECT_EQ(width, answered);
        printer.showLines(std::u16string(3000, u'z'), 1, u"l");
        EXPECT_EQ(printer.lineLength(), std::min(answered, 1024));
    }
    EXPECT_FALSE(log.contains("ERROR: Get line length")) << log.text();

    // Without a width every write asks for it again and shows no text.
    server.set("/cgi/scr", "{\"chars\":{}}");
    FiscalPrinter printer(server.address(), "", "", 1);
    const auto before = server.targets().size();
    printer.showLines(u"text", 1, u"l");
    printer.showLines(u"text", 1, u"l");
    EXPECT_EQ(printer.lineLength(), 0);
    std::size_t screens = 0;
    const auto targets = server.targets();
    for (std::size_t i = before; i < targets.size(); ++i) screens += targets[i] == "/cgi/scr";
    EXPECT_EQ(screens, 4u);
}

} // namespace
