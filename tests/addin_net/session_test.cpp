// The add-in library, as the platform loads it, against the simulated network register:
// connecting, the device test, the last error, and how each kind of connection failure
// reaches the host.
#include "tests/support/addin_fixture.h"
#include "tests/support/netsim_process.h"
#include "tests/support/scripted_server.h"

using namespace addinhost;
using namespace testsupport;

namespace {

const std::u16string kLoginRefused =
    u"Не верно указано имя пользователя или пароль для подключения к фискальному регистратору";
const std::u16string kTimedOut = u"Истекло время ожидания при подключении к фискальному регистратору";
const std::u16string kNotConnected = u"Необходимо вызвать метод Open";

class NetSession : public AddinFixture {
protected:
    NetSession() : AddinFixture(ADDIN_LIBRARY) {}

    CallResult openAt(const std::string& address, const std::u16string& password)
    {
        EXPECT_TRUE(comp->set("IP", Value::str(toUtf16(address))));
        EXPECT_TRUE(comp->set("Password", Value::str(password)));
        return comp->call("Open", {Value::str(u"")});
    }
};

} // namespace

TEST_F(NetSession, OpenTestAndCloseWithEitherAuthentication)
{
    for (const char* scheme : {"digest", "basic"}) {
        SCOPED_TRACE(scheme);
        NetsimProcess sim({"--auth", scheme, "--serial", "ON4000TEST", "--password", "s3cret"});
        removeFile(logPath());
        ASSERT_TRUE(comp->set("Username", Value::str(u"service")));
        CallResult r = openAt(sim.address(), u"s3cret");
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.result, Value::boolean(true));
        EXPECT_EQ(r.args[0], Value::str(u"ON4000TEST")) << "the device identifier is the register's serial";
        EXPECT_TRUE(r.errors.empty());
        const std::string log = logText();
        EXPECT_NE(log.find("INFO: Connection to fiscal printer IP: " + sim.address() +
                           ", login: service, with user defined password\n"),
                  std::string::npos);
        EXPECT_NE(log.find("INFO: Found fiscal printer. Model: Oltra-T 600, serial: ON4000TEST\n"), std::string::npos);

        r = comp->call("DeviceTest", {Value::str(u""), Value::boolean(false)});
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.result, Value::boolean(true));
        EXPECT_NE(toUtf8(r.args[0].text).find("\"serial\":\"ON4000TEST\""), std::string::npos) << r.args[0].describe();
        EXPECT_EQ(r.args[1], Value::str(u""));

        r = comp->call("GetLastError", {Value::str(u"")});
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.result, Value::i4(0)) << "connected: the register's code, none yet";
        EXPECT_EQ(r.args[0], Value::str(u""));

        for (int i = 0; i < 2; ++i) {
            r = comp->call("Close", {Value::str(u"ON4000TEST")});
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.result, Value::boolean(true));
        }
        r = comp->call("GetLastError", {Value::str(u"")});
        EXPECT_EQ(r.args[0], Value::str(kNotConnected));
        EXPECT_EQ(r.result, Value::boolean(false));
        ASSERT_TRUE(comp->set("Username", Value::str(u"")));
    }
}

TEST_F(NetSession, WrongPasswordIsTheLoginErrorAndKeepsAnEarlierConnection)
{
    NetsimProcess sim;
    CallResult r = openAt(sim.address(), u"wrong");
    EXPECT_FALSE(r.ok) << "a failed connection fails the host's call";
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].wcode, 1002);
    EXPECT_EQ(r.errors[0].scode, 1002);
    EXPECT_EQ(r.errors[0].description, kLoginRefused);
    EXPECT_EQ(countOf(logText(), " code:1002\n"), 1);
    EXPECT_EQ(comp->call("GetLastError", {Value::str(u"")}).args[0], Value::str(kNotConnected));

    // Connected with the right password, a reconnect with a wrong one keeps the connection.
    r = openAt(sim.address(), u"384190");
    ASSERT_TRUE(r.ok);
    r = comp->call("SetParameter", {Value::str(u"Password"), Value::str(u"wrong")});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].wcode, 1002);
    r = comp->call("DeviceTest", {Value::str(u""), Value::boolean(false)});
    EXPECT_EQ(r.result, Value::boolean(true)) << "the earlier client still answers";
    EXPECT_TRUE(r.errors.empty());
}

TEST_F(NetSession, StalledRegisterIsTheTimeOut)
{
    // Without authentication: after a challenge the client would wait 300 s.
    NetsimProcess sim({"--auth", "none", "--delay", "/cgi/state.php=8000"});
    const CallResult r = openAt(sim.address(), u"384190");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].wcode, 1003);
    EXPECT_EQ(r.errors[0].description, kTimedOut);
    EXPECT_EQ(countOf(logText(), "ERROR: " + toUtf8(kTimedOut) + " code:1003\n"), 1);
}

TEST_F(NetSession, NetworkFailuresNameTheAddressAndWhatToCheck)
{
    const std::string address = "127.0.0.1:" + std::to_string(unusedLoopbackPort());
    CallResult r = openAt(address, u"");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.errors.size(), 1u);
    std::string text = toUtf8(r.errors[0].description);
    EXPECT_EQ(text.rfind("Фискальный регистратор по адресу " + address +
                             " не принимает соединение: проверьте, что он включен, и IP адрес и порт в параметре IP (",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("Connection refused"), std::string::npos) << "the network's own words stay: " << text;
    EXPECT_EQ(countOf(logText(), text + " code:" + std::to_string(r.errors[0].scode) + "\n"), 1);

    // A name that resolves to nothing, and an address that is no URI.
    const struct {
        std::string address, start;
    } cases[] = {
        {"no-such-register.invalid",
         "Не найден адрес no-such-register.invalid: проверьте IP адрес фискального регистратора в параметре IP ("},
        {"127.0.0.1:99999", "Неверно указан адрес фискального регистратора: 127.0.0.1:99999. Укажите IP адрес или "
                            "IP адрес и порт, например 192.168.1.10 или 192.168.1.10:8080 (Bad URI syntax"},
    };
    for (const auto& c : cases) {
        const CallResult bad = openAt(c.address, u"");
        EXPECT_FALSE(bad.ok);
        ASSERT_EQ(bad.errors.size(), 1u);
        const std::string said = toUtf8(bad.errors[0].description);
        EXPECT_EQ(said.rfind(c.start, 0), 0u) << said;
    }

    // Without a client the device test connects first, and fails the same way.
    r = comp->call("DeviceTest", {Value::str(u""), Value::boolean(false)});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    EXPECT_EQ(r.errors.size(), 1u);
}

TEST_F(NetSession, SomethingThatIsNoRegisterFailsOpenNamingTheAddress)
{
    // A web server that answers 404 everywhere, then one that answers a page of its own.
    testsupport::ScriptedServer server;
    const std::u16string prefix = u"По указанному адресу не получено состояние фискального регистратора: " +
                                  toUtf16(server.address());
    for (const std::u16string& why :
         {std::u16string(u" (HTTP 404 Not Found)"), std::u16string(u" (ответ не является состоянием регистратора)")}) {
        const CallResult r = openAt(server.address(), u"");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.result, Value::boolean(false));
        ASSERT_EQ(r.errors.size(), 1u);
        EXPECT_EQ(r.errors[0].scode, 1005);
        EXPECT_EQ(r.errors[0].description, prefix + why);
        EXPECT_EQ(comp->call("GetLastError", {Value::str(u"")}).args[0], Value::str(kNotConnected)) << "no client kept";
        server.set("/cgi/state.php", "<html><body>It works!</body></html>");
    }
    // Without a client the device test connects first, and fails the same way.
    const CallResult r = comp->call("DeviceTest", {Value::str(u""), Value::boolean(false)});
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].scode, 1005);
}
