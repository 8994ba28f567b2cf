// The component with a scripted register client: connecting, the fiscal method frame,
// the message box, and how network failures reach the host.
#include "tests/support/addin_fixture.h"
#include "tests/addin/fake_register.h"

#include <cmath>

using namespace addinhost;
using namespace testsupport;

namespace {

class WithRegister : public AddinFixture {
protected:
    WithRegister() : AddinFixture(FAKE_ADDIN_LIBRARY) {}

    void SetUp() override
    {
        AddinFixture::SetUp();
        auto get = reinterpret_cast<fake::Script* (*)()>(host->symbol("FakeRegister"));
        ASSERT_NE(get, nullptr);
        reg = get();
        *reg = fake::Script{};
    }

    void TearDown() override
    {
        AddinFixture::TearDown();
        EXPECT_EQ(reg->liveClients, 0) << "every client is destroyed with its component";
    }

    // Open against 127.0.0.1 and forget what it recorded.
    void open()
    {
        ASSERT_TRUE(comp->set("IP", Value::str(u"127.0.0.1")));
        const CallResult r = comp->call("Open");
        ASSERT_TRUE(r.ok);
        reg->calls.clear();
        reg->connects.clear();
        removeFile(logPath());
    }

    fake::Script* reg = nullptr;
};

} // namespace

TEST_F(WithRegister, OpenConnectsWithDefaultsAndExposesTheClient)
{
    ASSERT_TRUE(comp->set("IP", Value::str(u"127.0.0.1")));
    ASSERT_TRUE(comp->set("DefaultTaxGroup", Value::i4(4)));
    CallResult r = comp->call("Подключить", {Value::str(u"")});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(true));
    EXPECT_EQ(r.args[0], Value::str(u"TEST0001")) << "the device identifier";
    EXPECT_TRUE(r.errors.empty());
    ASSERT_EQ(reg->connects.size(), 1u);
    EXPECT_EQ(reg->connects[0], "127.0.0.1 service 384190 4");
    EXPECT_NE(
        logText().find("] INFO: Connection to fiscal printer IP: 127.0.0.1, login: service, with default password\n"),
        std::string::npos);

    EXPECT_EQ(comp->get("DeviceID").value, Value::str(u"TEST0001"));
    EXPECT_EQ(comp->get("ErrorDescription").value, Value::str(u""));

    reg->errorText = u"Помилка 1A";
    reg->errorCode = 26;
    comp->call("CancelCheck");
    r = comp->call("GetLastError");
    EXPECT_EQ(r.result, Value::i4(26)) << "the code, not a boolean";
    EXPECT_EQ(r.args[0], Value::str(u"Помилка 1A"));
    EXPECT_EQ(comp->get("ОписаниеОшибки").value, Value::str(u"Помилка 1A"));

    // User credentials go to the next connection; the old client goes only once the new
    // one exists.
    ASSERT_TRUE(comp->set("Username", Value::str(u"admin")));
    ASSERT_TRUE(comp->set("Password", Value::str(u"пароль")));
    reg->serial = "TEST0002";
    r = comp->call("Open");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(reg->connects.back(), "127.0.0.1 admin пароль 4");
    EXPECT_EQ(reg->liveClientsAtLastConnect, 1);
    EXPECT_EQ(reg->liveClients, 1);
    EXPECT_EQ(comp->get("DeviceID").value, Value::str(u"TEST0002"));

    r = comp->call("Close");
    EXPECT_EQ(r.result, Value::boolean(true));
    EXPECT_EQ(reg->liveClients, 0);
    EXPECT_FALSE(comp->call("PrintXReport").ok) << "no client after Close";
}

TEST_F(WithRegister, DiscoverySuppliesTheAddress)
{
    reg->discovered = {"127.0.0.5", "127.0.0.6"};
    CallResult r = comp->call("SearchIP", {Value::str(u"old")});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(true)) << "registers found: a success";
    EXPECT_EQ(r.args[0], Value::str(u"127.0.0.5;127.0.0.6"));

    r = comp->call("GetParameters");
    EXPECT_EQ(r.result, Value::boolean(true)) << "the document given: a success";
    EXPECT_NE(r.args[0].text.find(u"DefaultValue=\"127.0.0.5\" />"), std::u16string::npos);
    EXPECT_EQ(r.args[0].text.find(u"DEFAULT_IP"), std::u16string::npos);
    EXPECT_EQ(comp->get("TableParameters").value, r.args[0]);

    r = comp->call("Open");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(reg->connects.at(0).rfind("127.0.0.5 ", 0), 0u);
    EXPECT_EQ(comp->get("IP").value, Value::str(u"127.0.0.5")) << "the address in use";

    // "DEFAULT_IP" in the property is an address like any other: no discovery.
    ASSERT_TRUE(comp->set("IP", Value::str(u"DEFAULT_IP")));
    comp->call("Open");
    EXPECT_EQ(reg->connects.at(1).rfind("DEFAULT_IP ", 0), 0u);
}

TEST_F(WithRegister, ConnectionFailuresFailTheCallAndKeepTheEarlierClient)
{
    open();
    struct Case {
        fake::Failure failure;
        long code;
        std::u16string text;
    };
    const Case cases[] = {
        {fake::Failure::Timeout, 1003, u"Истекло время ожидания при подключении к фискальному регистратору"},
        {fake::Failure::Authentication, 1002,
         u"Не верно указано имя пользователя или пароль для подключения к фискальному регистратору"},
        {fake::Failure::Other, fake::kOtherFailureCode,
         u"Ошибка связи с фискальным регистратором по адресу 127.0.0.1: проверьте сеть и регистратор "
         u"(I/O error: connection refused)"},
        {fake::Failure::NoRegisterState, 1005,
         u"По указанному адресу не получено состояние фискального регистратора: 127.0.0.1 (HTTP 404 Not Found)"},
    };
    reg->serial = "OTHER";
    for (const Case& c : cases) {
        reg->connectFailure = c.failure;
        const CallResult r = comp->call("Open");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.result, Value::boolean(false));
        ASSERT_EQ(r.errors.size(), 1u);
        EXPECT_EQ(r.errors[0].scode, c.code);
        EXPECT_EQ(r.errors[0].wcode, c.code);
        EXPECT_EQ(r.errors[0].description, c.text);
        EXPECT_EQ(countOf(logText(), " code:" + std::to_string(c.code) + "\n"), 1);

        const CallResult s = comp->call("SetParameter", {Value::str(u"IP"), Value::str(u"127.0.0.1")});
        EXPECT_FALSE(s.ok);
        EXPECT_EQ(s.errors.size(), 1u);
    }
    EXPECT_EQ(reg->liveClients, 1);
    EXPECT_EQ(comp->get("DeviceID").value, Value::str(u"TEST0001")) << "the earlier client stays";
}

TEST_F(WithRegister, FiscalMethodsPassTheirArgumentsOn)
{
    open();
    struct Case {
        const char* method;
        std::vector<Value> args;
        const char* call;
    };
    const Case cases[] = {
        {"PrintFiscalString",
         {Value::str(u"id"), Value::str(u"Хліб"), Value::i4(2), Value::r8(10.5), Value::r8(21), Value::i4(1),
          Value::r8(20)},
         "printFiscalString(Хліб,2,10.5,21,1,20)"},
        {"PrintNonFiscalString", {Value::str(u"id"), Value::str(u"Дякуємо")}, "printNonFiscalString(Дякуємо)"},
        {"PrintBarCode",
         {Value::str(u"id"), Value::str(u"EAN13"), Value::str(u"4820000000000")},
         "printBarCode(EAN13,4820000000000)"},
        {"CloseCheck",
         {Value::str(u"id"), Value::r8(1.5), Value::i4(2), Value::r8(0), Value::r8(4.25)},
         "closeCheck(1.5,2,0,4.25)"},
        {"CancelCheck", {}, "cancelCheck"},
        {"CashInOutcome", {Value::str(u"id"), Value::i4(100)}, "cashInOutcome(100)"},
        {"PrintXReport", {}, "printXReport"},
        {"PrintZReport", {}, "printZReport"},
        {"PrintXReportByGoods", {}, "printXReportByGoods"},
        {"PrintZReportByGoods", {}, "printZReportByGoods"},
        {"OpenCashDrawer", {}, "openCashDrawer"},
        {"PrintFullFiscalReportByDates",
         {Value::str(u"id"), Value::str(u"01.01.2026"), Value::str(u"31.01.2026")},
         "fullByDates(01.01.2026,31.01.2026)"},
        {"PrintFullFiscalReportByZNumbers", {Value::str(u"id"), Value::i4(3), Value::i4(9)}, "fullByZ(3,9)"},
        {"PrintShortFiscalReportByDates", {Value::str(u"id"), Value::str(u"a"), Value::str(u"b")}, "shortByDates(a,b)"},
        {"PrintShortFiscalReportByZNumbers", {Value::str(u"id"), Value::i4(1), Value::i4(2)}, "shortByZ(1,2)"},
        {"PrintReceiptCopy", {}, "printReceiptCopy"},
        {"PrintNullReceipt", {}, "printNullReceipt"},
    };
    for (const Case& c : cases) {
        reg->calls.clear();
        const CallResult r = comp->call(c.method, c.args);
        EXPECT_TRUE(r.ok) << c.method;
        EXPECT_EQ(r.result, Value::boolean(true)) << c.method;
        ASSERT_EQ(reg->calls.size(), 1u) << c.method;
        EXPECT_EQ(reg->calls[0], c.call);
        EXPECT_TRUE(r.alerts.empty());
    }
    const std::string log = logText();
    for (const char* line : {"] DEBUG: Long report, first Z:3\n", "] DEBUG: Long report, last Z:9\n",
                             "] DEBUG: Short report, first Z:1\n", "] DEBUG: Short report, last Z:2\n"})
        EXPECT_EQ(countOf(log, line), 1) << line;
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;

    // A string of the wrong type counts as empty, a department of the wrong type as 0; an
    // R4 number is read like an R8 one.
    reg->calls.clear();
    CallResult r = comp->call("PrintFiscalString", {Value::str(u"id"), Value::i4(5), Value::r4(2.5f), Value::r8(3),
                                                    Value::r8(7.5), Value::str(u"1"), Value::r4(20)});
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(reg->calls.size(), 1u);
    EXPECT_EQ(reg->calls[0], "printFiscalString(,2.5,3,7.5,0,20)");
    EXPECT_EQ(logText().find("ERROR"), std::string::npos);
}

// A number the register can't take (not a number at all, not finite, or beyond what a
// document carries) is reported through AddError, and nothing reaches the register.
TEST_F(WithRegister, NumbersTheRegisterCannotTakeAreRefused)
{
    open();
    const Value id = Value::str(u"id");
    struct Case {
        const char* method;
        std::vector<Value> args;
        const char16_t* argument;
    };
    const Case cases[] = {
        {"CashInOutcome", {id, Value::str(u"100")}, u"сумма"},
        {"CashInOutcome", {id, Value::boolean(true)}, u"сумма"},
        {"CashInOutcome", {id, Value::r8(NAN)}, u"сумма"},
        {"CashInOutcome", {id, Value::r8(-INFINITY)}, u"сумма"},
        {"PrintFiscalString",
         {id, Value::str(u"a"), Value::r8(1e7), Value::r8(1e13), Value::r8(1), Value::i4(1), Value::r8(0)},
         u"количество"},
        {"PrintFiscalString",
         {id, Value::str(u"a"), Value::i4(2147483647), Value::i4(2147483647), Value::i4(2147483647),
          Value::i4(2147483647), Value::i4(2147483647)},
         u"количество"},
        {"PrintFiscalString",
         {id, Value::str(u"a"), Value::r8(1), Value::r8(1e13), Value::r8(1), Value::i4(1), Value::r8(0)},
         u"цена"},
        {"PrintFiscalString",
         {id, Value::str(u"a"), Value::r8(1), Value::r8(1), Value::empty(), Value::i4(1), Value::r8(0)},
         u"сумма"},
        {"PrintFiscalString",
         {id, Value::str(u"a"), Value::r8(1), Value::r8(1), Value::r8(1), Value::i4(1), Value::str(u"20")},
         u"ставка налога"},
        {"CloseCheck", {id, Value::r8(1), Value::r8(0), Value::r8(0), Value::r8(NAN)}, u"оплата 4"},
    };
    reg->errorText = u"shown only after an operation";
    for (const Case& c : cases) {
        const CallResult r = comp->call(c.method, c.args);
        EXPECT_TRUE(r.ok) << c.method;
        EXPECT_EQ(r.result, Value::boolean(false)) << c.method;
        ASSERT_EQ(r.errors.size(), 1u) << c.method;
        EXPECT_EQ(r.errors[0].scode, 1006);
        EXPECT_EQ(r.errors[0].description,
                  u"Недопустимое значение параметра, в фискальный регистратор ничего не отправлено: " +
                      std::u16string(c.argument));
        EXPECT_TRUE(r.alerts.empty());
    }
    EXPECT_TRUE(reg->calls.empty()) << reg->calls[0];
    const std::string log = logText();
    EXPECT_EQ(countOf(log, " code:1006\n"), 10);
    EXPECT_EQ(countOf(log, "] ERROR: tVariant to double conversion error!\n"), 4) << "the arguments of the wrong type";
}

TEST_F(WithRegister, FiscalMethodsWithOutputs)
{
    open();
    reg->receiptNumber = 41;
    CallResult r = comp->call("OpenCheck", {Value::str(u"id"), Value::boolean(true), Value::boolean(false),
                                            Value::boolean(true), Value::empty(), Value::r8(7)});
    EXPECT_EQ(reg->calls.at(0), "openCheck(1,0,1)");
    EXPECT_EQ(r.args[4], Value::i4(41));
    EXPECT_EQ(r.args[5], Value::i4(7)) << "the entry value, as I4";

    r = comp->call("GetCurrentReceiptNumber");
    EXPECT_EQ(r.args[1], Value::i4(41));
    EXPECT_EQ(r.result, Value::boolean(true));
    reg->receiptNumber = 0;
    EXPECT_EQ(comp->call("GetCurrentReceiptNumber").result, Value::boolean(false));

    r = comp->call("GetLineLength");
    EXPECT_EQ(r.args[1], Value::i4(32));
    EXPECT_EQ(r.result, Value::boolean(true));
    reg->lineWidth = 0;
    r = comp->call("ПолучитьШиринуСтроки");
    EXPECT_EQ(r.args[1], Value::i4(0));
    EXPECT_EQ(r.result, Value::boolean(false)) << "the width decides, not the operation";

    reg->calls.clear();
    r = comp->call("ShowMessage", {Value::str(u"Ціна 10.00")});
    EXPECT_EQ(reg->calls, (std::vector<std::string>{"clearDisplay", "showLines(Ціна 10.00,1,l)"}));

    reg->calls.clear();
    r = comp->call("OpenShift");
    EXPECT_EQ(r.result, Value::boolean(true));
    EXPECT_TRUE(reg->calls.empty()) << "nothing is sent";

    r = comp->call("DeviceTest");
    EXPECT_EQ(r.result, Value::boolean(true));
    EXPECT_EQ(r.args[0], Value::str(u"{\"model\":\"T\"}"));
    EXPECT_EQ(r.args[1], Value::str(u""));
    reg->stateBody.clear();
    EXPECT_EQ(comp->call("DeviceTest").result, Value::boolean(false));

    // Something that is not the register's state: the test fails and says why.
    reg->stateBody = "<html>500</html>";
    reg->stateFailure = "HTTP 500 Internal Server Error";
    r = comp->call("DeviceTest");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    const std::u16string why =
        u"По указанному адресу не получено состояние фискального регистратора: 127.0.0.1 (HTTP 500 Internal Server Error)";
    EXPECT_EQ(r.args[0], Value::str(why));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].scode, 1005);
    EXPECT_EQ(r.errors[0].description, why);
}

TEST_F(WithRegister, RegisterErrorTextIsShownInTheMessageBox)
{
    open();
    reg->operationResult = false;
    reg->errorText = u"Чек не відкрито";
    CallResult r = comp->call("CloseCheck", {Value::str(u"id"), Value::r8(10)});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    EXPECT_EQ(r.alerts, (std::vector<std::u16string>{u"Чек не відкрито"}));
    EXPECT_TRUE(r.errors.empty());

    host->connection().offerMessageBox = false;
    r = comp->call("CloseCheck", {Value::str(u"id"), Value::r8(10)});
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.alerts.empty());

    host->connection().offerMessageBox = true;
    reg->errorText.clear();
    reg->operationResult = true;
    r = comp->call("CloseCheck", {Value::str(u"id"), Value::r8(10)});
    EXPECT_EQ(r.result, Value::boolean(true));
    EXPECT_TRUE(r.alerts.empty());
}

TEST_F(WithRegister, NetworkFailuresDuringMethodsAreReportedNotFailed)
{
    open();
    const std::pair<fake::Failure, long> cases[] = {
        {fake::Failure::Timeout, 1003}, {fake::Failure::Authentication, 1002}, {fake::Failure::Other, 77}};
    reg->errorText = u"not shown";
    for (const auto& c : cases) {
        reg->operationFailure = c.first;
        const CallResult r = comp->call("PrintZReport");
        EXPECT_TRUE(r.ok) << c.second;
        EXPECT_EQ(r.result, Value::boolean(false));
        ASSERT_EQ(r.errors.size(), 1u);
        EXPECT_EQ(r.errors[0].scode, c.second);
        EXPECT_TRUE(r.alerts.empty()) << "no message box after a network failure";
    }
    const CallResult d = comp->call("DeviceTest");
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.result, Value::boolean(false));
    EXPECT_EQ(d.errors.size(), 1u);

    reg->operationFailure = fake::Failure::None;
    reg->discoveryFailure = fake::Failure::Timeout;
    CallResult s = comp->call("SearchIP");
    EXPECT_TRUE(s.ok);
    ASSERT_EQ(s.errors.size(), 1u);
    EXPECT_EQ(s.errors[0].scode, 1003);
    const PropertyResult p = comp->get("TableParameters");
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.errors.size(), 1u);
}

// Before a client goes, what it left unsettled is settled and shown; a reconnect that
// fails keeps the client, and with it the document, untouched.
TEST_F(WithRegister, WhatTheClientLeftUnsettledIsShownBeforeItGoes)
{
    open();
    reg->unsettled = u"Предыдущий документ найден в журнале регистратора";
    reg->connectFailure = fake::Failure::Timeout;
    CallResult r = comp->call("Open", {Value::str(u"")});
    EXPECT_TRUE(r.alerts.empty());
    EXPECT_TRUE(reg->calls.empty());
    reg->connectFailure = fake::Failure::None;
    for (const char* way : {"Open", "SetParameter", "Close"}) {
        SCOPED_TRACE(way);
        reg->calls.clear();
        r = std::string(way) == "SetParameter" ? comp->call("SetParameter", {Value::str(u"LogLevel"), Value::i4(0)})
                                               : comp->call(way, {Value::str(u"")});
        EXPECT_EQ(r.result, Value::boolean(true));
        ASSERT_EQ(r.alerts.size(), 1u);
        EXPECT_EQ(r.alerts[0], reg->unsettled);
        EXPECT_EQ(reg->calls, std::vector<std::string>{"settleBeforeClosing"});
    }
    // Nothing waiting: nothing shown.
    open();
    reg->unsettled.clear();
    EXPECT_TRUE(comp->call("Close").alerts.empty());
}
