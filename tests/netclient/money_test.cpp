// Receipts and cash documents under faults: the register holds a document exactly when
// the host was told it succeeded; when the driver can't know, the document stays
// unsettled, is never sent twice, and the cashier is told what to check.
#include "netclient/fiscal_printer.h"
#include "tests/support/captured_client_log.h"
#include "tests/support/register_model.h"

#include "textconv/utf.h"

#include <Poco/Exception.h>

#include <gtest/gtest.h>

namespace {

using oltra::FiscalPrinter;
using testsupport::RegisterModel;
using Request = RegisterModel::Request;
using Pieces = RegisterModel::Pieces;

bool isPost(const Request& r) { return r.method == "POST" && r.path == "/cgi/chk"; }

class MoneyTest : public ::testing::Test {
protected:
    void SetUp() override { printer = connect(); }

    std::unique_ptr<FiscalPrinter> connect()
    {
        oltra::HttpTimeouts quick;
        quick.normal = quick.challenged = Poco::Timespan(0, 300000);
        quick.deadline = quick.challengedDeadline = Poco::Timespan(2, 0);
        return std::make_unique<FiscalPrinter>(reg.address(), "service", "384190", 1, quick);
    }
    // Opens a sale of one line of `name` at `price`.
    void open(const std::u16string& name, double price)
    {
        int32_t number = 0;
        ASSERT_TRUE(printer->openCheck(true, false, true, number));
        ASSERT_TRUE(printer->printFiscalString(name, 1, price, price, 1, 0));
    }
    // CloseCheck in cash; a network exception counts as False.
    bool close(double price)
    {
        try {
            return printer->closeCheck(0, price, 0, 0);
        } catch (const Poco::Exception&) {
            return false;
        }
    }
    std::string error() const { return textconv::toUtf8(printer->getLastErrorText()); }
    int sold(const std::string& name) { return reg.booked("\"name\":\"" + name + "\""); }
    // Answers every request to `path` after the first POST of a document with `pieces`.
    void afterPost(const std::string& method, const std::string& path, Pieces pieces)
    {
        auto posted = std::make_shared<bool>(false);
        reg.setFault([=](const Request& r, Pieces& answer) {
            if (isPost(r)) *posted = true;
            else if (*posted && r.method == method && r.path == path) {
                answer = pieces;
                return true;
            }
            return false;
        });
    }

    RegisterModel reg;
    std::unique_ptr<FiscalPrinter> printer;
};

// A booked and confirmed receipt is a sale, whatever fails after it.
TEST_F(MoneyTest, ABookedReceiptStaysSoldWhateverFollows)
{
    struct Follow {
        const char* what;
        std::string method, path;
        Pieces pieces;
    };
    const std::vector<Follow> follows = {
        {"probe 500", "GET", "/cgi/state.php", RegisterModel::answer(500, "Internal Server Error", "<html>500</html>")},
        {"probe not JSON", "GET", "/cgi/state.php", {{RegisterModel::json("{\"model\":")}}},
        {"probe time-out", "GET", "/cgi/state.php", RegisterModel::silent()},
        {"probe dropped", "GET", "/cgi/state.php", RegisterModel::dropped()},
        {"display time-out", "POST", "/cgi/scr", RegisterModel::silent()},
        {"display reset", "POST", "/cgi/scr", RegisterModel::dropped()},
    };
    int n = 0;
    for (const Follow& f : follows) {
        SCOPED_TRACE(f.what);
        const std::string name = "item" + std::to_string(++n);
        open(textconv::toUtf16(name), 5);
        afterPost(f.method, f.path, f.pieces);
        bool told = false;
        EXPECT_NO_THROW(told = printer->closeCheck(0, 5, 0, 0));
        EXPECT_TRUE(told) << error();
        reg.clearFault();
        EXPECT_FALSE(printer->hasUnsettledReceipt());
        EXPECT_TRUE(printer->receipt().empty());
        // The host's next receipt is a new one: nothing of this one is sent again.
        EXPECT_EQ(sold(name), 1);
    }
    EXPECT_EQ(reg.count("POST", "/cgi/chk"), static_cast<int>(follows.size()));
}

// 200 without a body confirms nothing: the journal decides.
TEST_F(MoneyTest, AnEmptyAnswerConfirmsNothing)
{
    for (const bool booked : {false, true}) {
        for (const bool closeOnly : {false, true}) {
            SCOPED_TRACE(std::string(booked ? "booked" : "not booked") + (closeOnly ? ", headers then close" : ""));
            const std::string name = std::string(booked ? "b" : "n") + (closeOnly ? "c" : "l");
            open(textconv::toUtf16(name), 3);
            reg.setFault([&](const Request& r, Pieces& answer) {
                if (!isPost(r)) return false;
                if (booked) reg.book(r.body);
                answer = closeOnly ? Pieces{{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", 0, 0, true}}
                                   : Pieces{{RegisterModel::json("")}};
                return true;
            });
            EXPECT_EQ(close(3), booked) << error();
            reg.clearFault();
            EXPECT_EQ(printer->getLastErrorText().empty(), booked) << error();
            EXPECT_EQ(sold(name), booked ? 1 : 0);
        }
    }
}

// The journal proves a document absent only when every record since it was sent was read
// and none can be it.
TEST_F(MoneyTest, AbsentOnlyOverTheWholeRange)
{
    struct Hostile {
        const char* what;
        bool booked;
        std::function<void(RegisterModel&, const Request&)> journal; // what the register does after the POST
        std::function<bool(const Request&, Pieces&)> read;           // how it answers a journal read
    };
    auto page = [](const std::string& list) {
        return [list](const Request& r, Pieces& answer) {
            if (r.method != "GET" || r.path != "/cgi/chk" || r.query.rfind("id=-", 0) == 0) return false;
            answer = Pieces{{RegisterModel::json(list)}};
            return true;
        };
    };
    auto none = [](const Request&, Pieces&) { return false; };
    const std::vector<Hostile> cases = {
        // Another till booked, but the journal gives nothing.
        {"[] while chkId advanced", false, [](RegisterModel& m, const Request&) { m.setChkId(m.chkId() + 1); },
         page("[]")},
        // Two records since, the page ends after the first.
        {"short page", false, [](RegisterModel& m, const Request&) { m.setChkId(m.chkId() + 2); },
         page("[{\"id\":58,\"no\":1,\"time\":1765180800,\"IO\":[{\"IO\":{\"sum\":1}}]}]")},
        // Booked, but the journal writes its numbers as text.
        {"numbers as strings", true,
         [](RegisterModel& m, const Request&) {
             m.addRecord("{\"id\":58,\"no\":4,\"time\":1765180800,\"F\":[{\"S\":{\"name\":\"x\",\"qty\":\"1.000\","
                         "\"price\":\"5.00\",\"sum\":\"5.00\"}},{\"P\":{\"no\":1,\"sum\":\"5.00\"}}]}",
                         58);
         },
         none},
        // Booked, with the name shortened.
        {"shortened name", true,
         [](RegisterModel& m, const Request&) {
             m.addRecord("{\"id\":58,\"no\":4,\"time\":1765180800,\"F\":[{\"S\":{\"name\":\"Молоко\",\"qty\":1,"
                         "\"price\":5,\"sum\":5}},{\"P\":{\"no\":1,\"sum\":5}}]}",
                         58);
         },
         none},
    };
    for (const Hostile& h : cases) {
        SCOPED_TRACE(h.what);
        reg.clearJournal(57);
        printer = connect();
        open(std::string(h.what) == "shortened name" ? u"Молоко пастеризоване 2.5% 900 г" : u"x", 5);
        reg.setFault([&](const Request& r, Pieces& answer) {
            if (isPost(r)) {
                h.journal(reg, r);
                answer = Pieces{{RegisterModel::json("<html>busy</html>")}};
                return true;
            }
            return h.read(r, answer);
        });
        EXPECT_FALSE(close(5));
        EXPECT_TRUE(printer->hasUnsettledReceipt()) << "unknown, not absent: " << error();
        EXPECT_NE(error().find("Проверьте ленту"), std::string::npos) << error();
        // Not sent again while it is unknown.
        EXPECT_FALSE(close(5));
        EXPECT_EQ(reg.count("POST", "/cgi/chk"), 1);
        reg.clearFault();
        reg.clearRequests();
        EXPECT_TRUE(printer->cancelCheck());
        EXPECT_FALSE(printer->hasUnsettledReceipt());
    }
}

// A record that can't be placed after the anchor (no id) proves nothing.
TEST_F(MoneyTest, ARecordWithoutIdProvesNothing)
{
    open(u"x", 5);
    reg.setFault([&](const Request& r, Pieces& answer) {
        if (isPost(r)) {
            // Not booked; meanwhile another document moved the journal on.
            reg.setChkId(58);
            answer = Pieces{{RegisterModel::json("<html>busy</html>")}};
            return true;
        }
        if (r.method == "GET" && r.path == "/cgi/chk" && r.query == "id=58") {
            answer = Pieces{{RegisterModel::json(
                "[{\"no\":3,\"F\":[{\"S\":{\"name\":\"x\",\"qty\":1,\"price\":5,\"sum\":5}},"
                "{\"P\":{\"no\":1,\"sum\":5}}]},{\"id\":58,\"no\":4,\"time\":1765180800,\"IO\":[{\"IO\":{\"sum\":1}}]}]")}};
            return true;
        }
        return false;
    });
    EXPECT_FALSE(close(5));
    EXPECT_TRUE(printer->hasUnsettledReceipt());
    EXPECT_NE(error().find("Проверьте ленту"), std::string::npos) << error();
}

// Another till's identical receipt after this one's lost answer is not this one.
TEST_F(MoneyTest, AnotherTillsIdenticalReceiptIsNoProof)
{
    auto otherTill = connect();
    auto otherSells = [&](const std::u16string& name, double price) {
        int32_t number = 0;
        ASSERT_TRUE(otherTill->openCheck(true, false, true, number));
        ASSERT_TRUE(otherTill->printFiscalString(name, 1, price, price, 1, 0));
        ASSERT_TRUE(otherTill->closeCheck(0, price, 0, 0));
    };
    auto lost = [](const Request& r, Pieces& answer) {
        if (!isPost(r)) return false;
        answer = RegisterModel::dropped();
        return true;
    };
    // Lost before the register took it; the other till sells the same basket a few
    // seconds later, when the register might still have booked this one.
    open(u"bread", 5);
    reg.setFault(lost);
    EXPECT_FALSE(close(5));
    reg.clearFault();
    reg.advanceClock(5);
    otherSells(u"bread", 5);
    EXPECT_FALSE(close(5)) << "one receipt for two sales";
    EXPECT_TRUE(printer->hasUnsettledReceipt());
    EXPECT_NE(error().find("Проверьте ленту"), std::string::npos) << error();
    EXPECT_EQ(sold("bread"), 1);
    EXPECT_TRUE(printer->cancelCheck());

    // The other till's receipt comes long after this one's exchange: not this one, which
    // the register never took and is sent again.
    open(u"oats", 5);
    reg.setFault(lost);
    EXPECT_FALSE(close(5));
    reg.clearFault();
    reg.advanceClock(60);
    otherSells(u"oats", 5);
    EXPECT_TRUE(close(5)) << error();
    EXPECT_EQ(sold("oats"), 2);

    // Booked and its answer lost, and the other till's identical receipt at the same
    // time: two alike, unknown.
    open(u"milk", 4);
    reg.setFault([&, first = std::make_shared<bool>(true)](const Request& r, Pieces& answer) {
        if (!isPost(r) || !*first) return false;
        *first = false;
        reg.book(r.body);
        reg.book(r.body); // the other till's
        answer = RegisterModel::dropped();
        return true;
    });
    EXPECT_FALSE(close(4));
    reg.clearFault();
    EXPECT_FALSE(close(4));
    EXPECT_TRUE(printer->hasUnsettledReceipt());
    EXPECT_EQ(sold("milk"), 2);
}

// No money document goes out without a state read just before it.
TEST_F(MoneyTest, NoDocumentGoesOutWithoutAFreshAnchor)
{
    open(u"tea", 7);
    reg.setFault([](const Request& r, Pieces& answer) {
        if (r.path != "/cgi/state.php") return false;
        answer = RegisterModel::answer(500, "Internal Server Error", "<html>500</html>");
        return true;
    });
    EXPECT_FALSE(close(7));
    EXPECT_FALSE(printer->cashInOutcome(10));
    EXPECT_EQ(reg.count("POST", "/cgi/chk"), 0);
    EXPECT_NE(error().find("не отправлен"), std::string::npos) << error();
    EXPECT_FALSE(printer->hasUnsettledReceipt());
    reg.clearFault();
    // The receipt is still there, and goes once the register answers.
    EXPECT_TRUE(close(7)) << error();
    EXPECT_EQ(sold("tea"), 1);
    EXPECT_TRUE(printer->getLastErrorText().empty());

    // After an unknown receipt the cashier's CancelCheck ends the wait; the alert is not
    // shown again by the next OpenCheck.
    open(u"jam", 2);
    reg.setFault([](const Request& r, Pieces& answer) {
        if (!isPost(r) && !(r.method == "GET" && r.path == "/cgi/chk" && r.query.rfind("id=-", 0) != 0)) return false;
        answer = isPost(r) ? RegisterModel::dropped() : RegisterModel::answer(500, "Error", "x");
        return true;
    });
    EXPECT_FALSE(close(2));
    EXPECT_NE(error().find("ОтменитьЧек"), std::string::npos) << error();
    reg.clearFault();
    EXPECT_TRUE(printer->cancelCheck());
    EXPECT_FALSE(printer->hasUnsettledReceipt());
    int32_t number = 0;
    EXPECT_TRUE(printer->openCheck(true, false, false, number));
    EXPECT_TRUE(printer->getLastErrorText().empty()) << error();
}

// OpenCheck and CancelCheck settle an unsettled receipt before they drop it, and say
// what they found.
TEST_F(MoneyTest, NothingUnsettledIsDroppedUnseen)
{
    struct Way {
        const char* what;
        bool booked;
        int64_t wait;      // register seconds until the host goes on
        const char* found; // in the text the host is given
    };
    const Way ways[] = {
        {"recorded", true, 0, "найден в журнале"},
        {"absent", false, 60, "пробейте его заново"},
        {"unknown", false, 0, "Проверьте ленту"},
    };
    for (const bool byOpen : {true, false}) {
        for (const Way& w : ways) {
            SCOPED_TRACE(std::string(w.what) + (byOpen ? " by OpenCheck" : " by CancelCheck"));
            open(u"salt", 1);
            // The answer is lost; the journal can't be read until the host goes on.
            reg.setFault([&](const Request& r, Pieces& answer) {
                if (isPost(r)) {
                    if (w.booked) reg.book(r.body);
                    answer = RegisterModel::dropped();
                    return true;
                }
                if (r.method == "GET" && r.path == "/cgi/chk" && r.query.rfind("id=-", 0) != 0) {
                    answer = RegisterModel::answer(500, "Error", "x");
                    return true;
                }
                return false;
            });
            EXPECT_FALSE(close(1));
            ASSERT_TRUE(printer->hasUnsettledReceipt());
            reg.advanceClock(w.wait);
            if (std::string(w.what) != "unknown") reg.clearFault();
            int32_t number = 0;
            if (byOpen) EXPECT_TRUE(printer->openCheck(true, false, true, number));
            else EXPECT_TRUE(printer->cancelCheck());
            EXPECT_NE(error().find(w.found), std::string::npos) << error();
            EXPECT_NE(error().find("на сумму 1.00"), std::string::npos) << error();
            EXPECT_FALSE(printer->hasUnsettledReceipt());
            // Shown once: the next receipt line does not show it again.
            EXPECT_TRUE(printer->printFiscalString(u"pepper", 1, 1, 1, 1, 0));
            EXPECT_TRUE(printer->getLastErrorText().empty()) << error();
            reg.clearFault();
        }
    }
    EXPECT_EQ(sold("salt"), 2);
}

// A lost answer to a cash document, retried by the host, books the cash once.
TEST_F(MoneyTest, ALostCashAnswerIsNotBookedTwice)
{
    reg.setFault([&, first = std::make_shared<bool>(true)](const Request& r, Pieces& answer) {
        if (!isPost(r) || !*first) return false;
        *first = false;
        reg.book(r.body);
        answer = RegisterModel::dropped();
        return true;
    });
    bool first = false;
    try {
        first = printer->cashInOutcome(150);
    } catch (const Poco::Exception&) {}
    if (!first) {
        EXPECT_TRUE(printer->cashInOutcome(150)) << error();
    }
    EXPECT_EQ(reg.booked("\"IO\""), 1);
    // A cash document the journal can't tell about is not sent again either.
    reg.setFault([&](const Request& r, Pieces& answer) {
        if (isPost(r)) {
            answer = RegisterModel::dropped();
            return true;
        }
        if (r.method == "GET" && r.path == "/cgi/chk") {
            answer = RegisterModel::answer(500, "Error", "x");
            return true;
        }
        return false;
    });
    EXPECT_FALSE(printer->cashInOutcome(-20));
    reg.clearFault();
    EXPECT_FALSE(printer->cashInOutcome(-20)) << "unknown: not sent again";
    EXPECT_NE(error().find("Проверьте ленту"), std::string::npos) << error();
    EXPECT_EQ(reg.count("POST", "/cgi/chk"), 2);
    EXPECT_TRUE(printer->cancelCheck());
    EXPECT_TRUE(printer->cashInOutcome(-20)) << error();
    EXPECT_EQ(reg.booked("\"IO\""), 2);
}

// A status other than 200 after the register booked the document: the journal decides.
TEST_F(MoneyTest, ANon200AnswerIsSettledByTheJournal)
{
    for (const bool booked : {true, false}) {
        SCOPED_TRACE(booked ? "booked" : "not booked");
        const std::string name = booked ? "kept" : "gone";
        open(textconv::toUtf16(name), 6);
        reg.setFault([&](const Request& r, Pieces& answer) {
            if (!isPost(r)) return false;
            if (booked) reg.book(r.body);
            answer = RegisterModel::answer(502, "Bad Gateway", "<html><body>502 Bad Gateway</body></html>");
            return true;
        });
        EXPECT_EQ(close(6), booked) << error();
        reg.clearFault();
        EXPECT_FALSE(printer->hasUnsettledReceipt());
        EXPECT_EQ(sold(name), booked ? 1 : 0);
        EXPECT_EQ(printer->getLastErrorText().empty(), booked) << error();
    }
}

// Settling is bounded: a range too long to compare, or a journal answer too large, is
// unknown without reading on.
TEST_F(MoneyTest, SettlingIsBounded)
{
    open(u"x", 5);
    reg.setFault([&](const Request& r, Pieces& answer) {
        if (!isPost(r)) return false;
        reg.setChkId(57 + 100000);
        answer = Pieces{{RegisterModel::json("<html>busy</html>")}};
        return true;
    });
    EXPECT_FALSE(close(5));
    EXPECT_TRUE(printer->hasUnsettledReceipt());
    int reads = 0;
    for (const Request& r : reg.requests())
        if (r.method == "GET" && r.path == "/cgi/chk" && r.query.rfind("id=-", 0) != 0) ++reads;
    EXPECT_EQ(reads, 0);
    reg.clearFault();
    EXPECT_TRUE(printer->cancelCheck());

    // One record, with 2 MB of padding.
    reg.setChkId(57);
    printer = connect();
    open(u"y", 5);
    reg.setFault([&](const Request& r, Pieces& answer) {
        if (isPost(r)) {
            reg.book(r.body);
            answer = Pieces{{RegisterModel::json("<html>busy</html>")}};
            return true;
        }
        if (r.method == "GET" && r.path == "/cgi/chk" && r.query == "id=58") {
            answer = Pieces{{RegisterModel::json(
                "[{\"id\":58,\"no\":4,\"time\":1765180800,\"pad\":\"" + std::string(2u << 20, 'p') +
                "\",\"F\":[{\"S\":{\"name\":\"y\",\"qty\":1,\"price\":5,\"sum\":5}},{\"P\":{\"no\":1,\"sum\":5}}]}]")}};
            return true;
        }
        return false;
    });
    EXPECT_FALSE(close(5));
    EXPECT_TRUE(printer->hasUnsettledReceipt());
    EXPECT_NE(error().find("Проверьте ленту"), std::string::npos) << error();
}

} // namespace
