// FiscalPrinter: the JSON readers and error parsing on exact answers (scripted server),
// then the register commands against the simulated register.
#include "netclient/fiscal_printer.h"
#include "simulators/netreg/netsim.h"
#include "tests/support/captured_client_log.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"

#include "textconv/local_time.h"
#include "textconv/utf.h"

#include <Poco/Exception.h>

#include <gtest/gtest.h>

namespace {

using oltra::FiscalPrinter;
using testsupport::CapturedClientLog;
using testsupport::ScriptedServer;

const char kState[] = "{\"model\":\"Oltra-T 707\",\"name\":\"Каса 1\",\"serial\":\"ON1\",\"time\":1796724000,"
                      "\"JrnTime\":1796720000,\"chkId\":57}";

class ScriptedPrinterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.set("/cgi/state.php", kState);
        server.set("/desc", "{\"uk\":{\"err\":{\"3A\":\"Опис 3A\",\"1B\":\"Опис 1B\",\"2\":\"Опис 2\"}},\"en\":{}}");
        server.set("/cgi/tbl/Tax", "[{\"id\":1,\"Prc\":20},{\"id\":2,\"Prc\":7},{\"id\":3,\"Prc\":20}]");
        printer = std::make_unique<FiscalPrinter>(server.address(), "service", "384190", 1);
    }

    // Runs parseResponseErrors on an answer.
    void parse(const std::string& answer) { printer->parseResponseErrors(answer); }

    ScriptedServer server;
    std::unique_ptr<FiscalPrinter> printer;
};

TEST_F(ScriptedPrinterTest, ReadsStateErrorTextsAndTaxGroups)
{
    EXPECT_EQ(printer->model(), "Oltra-T 707");
    EXPECT_EQ(printer->name(), "Каса 1");
    EXPECT_EQ(printer->serial(), "ON1");
    EXPECT_EQ(printer->time(), 1796724000);
    EXPECT_EQ(printer->journalTime(), 1796720000);
    EXPECT_EQ(printer->chkId(), 57);
    EXPECT_EQ(printer->timeText(), textconv::formatLocalTime(1796724000));
    EXPECT_EQ(printer->journalTimeText(), textconv::formatLocalTime(1796720000));
    EXPECT_EQ(printer->errorDescriptions().size(), 3u);
    EXPECT_EQ(printer->receipt().type(), u"F");
    EXPECT_EQ(printer->receipt().model(), "Oltra-T 707");
    EXPECT_TRUE(printer->receipt().empty());

    // The first entry with a rate wins.
    EXPECT_EQ(printer->taxGroups(), (std::map<double, int32_t>{{7, 2}, {20, 1}}));
    EXPECT_EQ(printer->findTaxGroup(20), 1);
    EXPECT_EQ(printer->findTaxGroup(102), 2);
    CapturedClientLog log;
    EXPECT_EQ(printer->findTaxGroup(7.5), 0);
    EXPECT_TRUE(
        log.contains("ERROR: В фискальном регистраторе не запрограммирована налоговая группа со ставкой: 7.500000%\n"));
    EXPECT_EQ(printer->findTaxGroup(1e300), 0);
}

TEST_F(ScriptedPrinterTest, StateReadStopsAtTheFirstBadMember)
{
    server.set("/cgi/state.php", "{\"model\":\"M2\",\"name\":\"N2\",\"serial\":\"S2\",\"time\":1,\"JrnTime\":2}");
    CapturedClientLog log;
    EXPECT_FALSE(printer->readState());
    EXPECT_TRUE(log.contains("ERROR: Read status, JSON parsing error: Invalid access: Can not convert empty value."));
    EXPECT_EQ(printer->model(), "M2");
    EXPECT_EQ(printer->serial(), "S2");
    EXPECT_EQ(printer->time(), 1);
    EXPECT_EQ(printer->journalTime(), 2);
    EXPECT_EQ(printer->chkId(), 57);
    EXPECT_EQ(printer->timeText(), textconv::formatLocalTime(1796724000));

    // Answers that are no state object at all fail the read without harm.
    for (const std::string& bad : {std::string("[1,2]"), std::string("<html>500</html>"), std::string(""),
                                   std::string(100000, '['), std::string("{\"model\":{\"a\":1},\"chkId\":\"x\"}")}) {
        server.set("/cgi/state.php", bad);
        EXPECT_FALSE(printer->readState()) << bad.substr(0, 20);
    }
    server.set("/cgi/state.php", 500, kState); // the status is not looked at
    EXPECT_TRUE(printer->readState());
}

TEST_F(ScriptedPrinterTest, RegisterErrorsInBothForms)
{
    CapturedClientLog log;
    parse("{\"err\":\"3A\"}");
    EXPECT_EQ(printer->getLastErrorText(), u"(Код:3A) Опис 3A");
    EXPECT_EQ(printer->getLastErrorCode(), 58u);
    EXPECT_TRUE(log.contains("ERROR: (Код:3A) Опис 3A\n"));

    parse("{\"err\":\"3C\"}");
    EXPECT_EQ(printer->getLastErrorText(), u"3C");
    EXPECT_EQ(printer->getLastErrorCode(), 60u);

    parse(" {\"err\":[{\"x\":\"y\",\"e\":\"1B\"},{\"e\":\"2\"}]}\n");
    EXPECT_EQ(printer->getLastErrorText(), u"(Код:1B) Опис 1B, x: y; (Код:2) Опис 2");
    EXPECT_EQ(printer->lastErrorCode(), "2");
    EXPECT_EQ(printer->getLastErrorCode(), 2u);

    parse("{\"err\":\"0x1a\"}");
    EXPECT_EQ(printer->getLastErrorCode(), 26u);
    parse("{\"err\":\"zz\"}");
    EXPECT_EQ(printer->getLastErrorCode(), 0u);
    EXPECT_TRUE(log.contains("Exception in convertations error code from hex string to long. Hex value: zz"));

    // An element that is no object still counts as an error, described by its text.
    parse("{\"err\":[\"boom\",{\"e\":\"3A\"}]}");
    EXPECT_EQ(printer->getLastErrorText(), u"boom; (Код:3A) Опис 3A");
}

TEST_F(ScriptedPrinterTest, AnswersWithoutRegisterError)
{
    for (const char* answer :
         {"  {}  ", "", "{\"err\":{\"e\":\"3A\"}}", "{\"err\":5}", "{\"ok\":1}", "[1]", "<html>not json</html>"}) {
        parse("{\"err\":\"3A\"}");
        parse(answer);
        EXPECT_TRUE(printer->getLastErrorText().empty()) << answer;
        EXPECT_EQ(printer->getLastErrorCode(), 0u) << answer;
    }
    CapturedClientLog log;
    parse("<html>");
    EXPECT_TRUE(log.contains("ERROR: Parse for response errors, JSON parsing error: "));
}

TEST_F(ScriptedPrinterTest, ReceiptNumbers)
{
    server.set("/cgi/chk?id=-43", "[{\"id\":56,\"no\":9,\"F\":[]},{\"id\":57,\"no\":10,\"R\":[]}]");
    EXPECT_EQ(printer->readNextReceiptNumber(), 11);
    EXPECT_EQ(server.targets().back(), "/cgi/chk?id=-43");
    server.set("/cgi/chk?id=-43", "[{\"id\":56,\"no\":9,\"F\":[]},{\"id\":57,\"no\":10,\"IO\":[]}]");
    EXPECT_EQ(printer->readNextReceiptNumber(), 10);

    CapturedClientLog log;
    server.set("/cgi/chk?id=-43", "[]");
    EXPECT_EQ(printer->readNextReceiptNumber(), 0);
    EXPECT_TRUE(log.contains("ERROR: Read /cgi/chk?id=-43 - JSON parsing error: "));
    server.set("/cgi/chk?id=-43", "[{\"id\":57,\"no\":2147483647,\"F\":[]}]");
    EXPECT_EQ(printer->readNextReceiptNumber(), 2147483647);

    server.set("/cgi/tbl/Fsk", "{\"NumChk\":12}");
    EXPECT_EQ(printer->readReceiptCounter(), 12);
    server.set("/cgi/tbl/Fsk", "{}");
    EXPECT_EQ(printer->readReceiptCounter(), 0);
    EXPECT_TRUE(
        log.contains("ERROR: Read /cgi/tbl/Fsk - JSON parsing error: Invalid access: Can not convert empty value."));
}

TEST_F(ScriptedPrinterTest, BrokenTablesKeepWhatWasRead)
{
    server.set("/cgi/tbl/Tax", "[{\"id\":1,\"Prc\":20},{\"id\":2},{\"id\":3,\"Prc\":0}]");
    CapturedClientLog log;
    printer->fillTaxGroups();
    EXPECT_EQ(printer->taxGroups(), (std::map<double, int32_t>{{20, 1}}));
    EXPECT_TRUE(log.contains("ERROR: Fill tax groups, JSON parsing: Invalid access: Can not convert empty value."));

    server.set("/desc", "{\"uk\":[1]}");
    printer->fillErrorsMap();
    EXPECT_TRUE(printer->errorDescriptions().empty());
    EXPECT_TRUE(log.contains("ERROR: Fill errors map, JSON parsing error: "));
}

// Against the simulated register.
class PrinterOnSimulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        netsim::Config c;
        c.clock = "2026-12-08 10:00:00";
        sim = std::make_unique<netsim::Simulator>(c);
        sim->start();
    }
    std::unique_ptr<FiscalPrinter> connect()
    {
        return std::make_unique<FiscalPrinter>(sim->address(), "service", "384190", 1);
    }
    // POSTs a document to "/cgi/chk" and ends like every register command.
    bool command(FiscalPrinter& p, const std::string& document) { return p.command("/cgi/chk", document); }

    std::unique_ptr<netsim::Simulator> sim;
};

const char kSale[] =
    "{\"F\":[{\"S\":{\"code\":891568578,\"name\":\"abc\",\"qty\":2.000,\"price\":10.50,\"sum\":20.00,"
    "\"dep\":1,\"grp\":1,\"tax\":1}},{\"D\":{\"sum\":-1.00,\"all\":0}},{\"P\":{\"no\":1, \"sum\" : 20.00}}]}";

TEST_F(PrinterOnSimulatorTest, ConnectsAndFollowsTheJournal)
{
    CapturedClientLog log;
    auto p = connect();
    EXPECT_TRUE(log.contains("INFO: Found fiscal printer. Model: Oltra-T 600, serial: ON40001234\n"));
    EXPECT_EQ(p->chkId(), 0);
    EXPECT_EQ(p->timeText(), textconv::formatLocalTime(1796724000));
    EXPECT_EQ(p->taxGroups().size(), 4u);
    EXPECT_EQ(p->findTaxGroup(20), 1);
    ASSERT_TRUE(p->errorDescriptions().count("3A"));

    // An empty journal gives no number; the counter does.
    EXPECT_EQ(p->readNextReceiptNumber(), 0);
    EXPECT_EQ(p->readReceiptCounter(), 1);

    ASSERT_TRUE(command(*p, kSale));
    EXPECT_EQ(p->chkId(), 1);
    EXPECT_EQ(p->readNextReceiptNumber(), 2);
    ASSERT_TRUE(command(*p, "{\"IO\":[{\"IO\":{\"sum\":5.00}}]}"));
    EXPECT_EQ(p->readNextReceiptNumber(), 2);
    ASSERT_TRUE(command(*p, "{}")); // null receipt: a numbered receipt
    EXPECT_EQ(p->readNextReceiptNumber(), 3);
    ASSERT_TRUE(p->printZReport());
    EXPECT_EQ(p->readNextReceiptNumber(), 3);
    EXPECT_EQ(p->readReceiptCounter(), 3);
}

TEST_F(PrinterOnSimulatorTest, CompletionRule)
{
    auto p = connect();
    // The register's own refusal, in the list form.
    EXPECT_FALSE(command(*p, "{\"F\":[{\"S\":{\"name\":\"abc\",\"qty\":1.000,\"price\":1.00,\"tax\":9}}]}"));
    EXPECT_EQ(p->getLastErrorText(), u"(Код:10) Податкова група не запрограмована, tax: 9");
    EXPECT_EQ(p->getLastErrorCode(), 16u);

    netsim::Faults f;
    f.err["/cgi/chk"] = "3A";
    sim->setFaults(f);
    EXPECT_FALSE(command(*p, kSale));
    EXPECT_EQ(p->getLastErrorText(), u"(Код:3A) Фіскальна пам'ять переповнена");
    EXPECT_EQ(p->getLastErrorCode(), 58u);

    f = netsim::Faults();
    f.errArray["/cgi/chk"] = {"11", "3A"};
    sim->setFaults(f);
    EXPECT_FALSE(command(*p, kSale));
    EXPECT_EQ(p->getLastErrorText(),
              u"(Код:11) Сума оплати менша за суму чека; (Код:3A) Фіскальна пам'ять переповнена");

    // Transport failure without register error; a failed state probe.
    f = netsim::Faults();
    f.status["/cgi/chk"] = 500;
    sim->setFaults(f);
    EXPECT_FALSE(command(*p, kSale));
    EXPECT_EQ(p->getLastErrorText(), u"HTTP 500 Internal Server Error") << "a failure says why";
    EXPECT_EQ(p->getLastErrorCode(), 0u);
    f = netsim::Faults();
    f.status["/cgi/state.php"] = 404;
    sim->setFaults(f);
    EXPECT_FALSE(command(*p, kSale));

    // An answer that is not JSON yields no register error: success rests on the rest.
    f = netsim::Faults();
    f.malformed.insert("/cgi/chk");
    sim->setFaults(f);
    EXPECT_TRUE(command(*p, kSale));
    EXPECT_TRUE(p->getLastErrorText().empty());
    sim->setFaults(netsim::Faults());
    EXPECT_TRUE(command(*p, kSale));
}

// Something that answers HTTP without a register's state is no register: the constructor
// fails, saying what came instead. The device test's state read says the same.
TEST(PrinterAtANonRegister, ConnectionFailsWithWhatCameInstead)
{
    ScriptedServer server; // 404 everywhere
    const std::pair<std::string, std::string> cases[] = {
        {"", "HTTP 404 Not Found"},
        {"<html><body>It works!</body></html>", "ответ не является состоянием регистратора"},
        {"[1,2]", "ответ не является состоянием регистратора"},
    };
    for (const auto& c : cases) {
        if (!c.first.empty()) server.set("/cgi/state.php", c.first);
        try {
            FiscalPrinter p(server.address(), "service", "384190", 1);
            FAIL() << "no exception for " << c.first;
        } catch (const Poco::Exception& e) {
            EXPECT_EQ(e.code(), oltra::kNoRegisterStateErrorCode);
            EXPECT_EQ(e.message(), c.second);
        }
    }
    EXPECT_EQ(server.targets(), std::vector<std::string>(3, "/cgi/state.php")) << "nothing else is asked";

    server.set("/cgi/state.php", kState);
    FiscalPrinter p(server.address(), "service", "384190", 1);
    std::string failure;
    EXPECT_TRUE(p.testState(failure));
    EXPECT_EQ(p.lastResponse(), kState);
    server.set("/cgi/state.php", 500, kState);
    EXPECT_FALSE(p.testState(failure));
    EXPECT_EQ(failure, "HTTP 500 Internal Server Error");
    EXPECT_EQ(p.lastResponse(), kState) << "the body is kept whatever the status";
}

TEST_F(PrinterOnSimulatorTest, NetworkFailuresLeaveTheConstructor)
{
    try {
        FiscalPrinter p(sim->address(), "service", "wrong", 1);
        FAIL() << "no exception";
    } catch (const Poco::Exception& e) {
        EXPECT_EQ(e.code(), 1002);
    }
    netsim::Faults f;
    f.delayMs["/desc"] = 3000;
    sim->setFaults(f);
    oltra::HttpTimeouts t;
    t.normal = t.challenged = Poco::Timespan(1, 0);
    EXPECT_THROW(FiscalPrinter(sim->address(), "service", "384190", 1, t), Poco::TimeoutException);
}

} // namespace
