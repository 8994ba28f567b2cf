// The serial register's console API while the link layer drives the simulator: what
// prints reaches the tape, frames are listed with their meaning, the books show in the
// state, and a fault switched through the API meets the next command only.
#include <gtest/gtest.h>

#include "tests/console/console_client.h"
#include "tests/support/serial/fake_port.h"
#include "tests/support/serial/sim_process.h"
#include "serialproto/commands.h"
#include "serialproto/link.h"
#include "serialproto/port_posix.h"
#include "serialproto/receipt.h"

using namespace serialproto;

namespace {

class ConsoleRegister {
public:
    ConsoleRegister() : sim_({"--console", "0", "--frozen-clock", "--clock", "2026-12-08 09:00:00"}), link(clock_)
    {
        if (!sim_.Path().empty() && port_.Open(sim_.Path()) && port_.SetLine(19200)) link.Attach(&port_);
        port = consoletest::portOf(sim_.ConsoleUrl());
    }
    int Run(const Request& req, const std::uint8_t* extra = nullptr, std::size_t extraLen = 0)
    {
        const fpresult::Result r = link.SendCommand(req.data(), req.size(), extra, extraLen);
        if (r == FPE_ECR) return -static_cast<int>(link.EcrErrorNumber());
        return r == fpresult::kOk ? 0 : 1;
    }
    int Sale(std::int32_t count, std::int32_t price, const std::string& name)
    {
        Article a;
        a.Code = 7;
        a.Count = count;
        a.Price = price;
        a.TaxType = 128;
        a.Name = name;
        a.CountFormat = 3;
        Request req;
        EXPECT_EQ(EncodeArticle(a, false, req), fpresult::kOk);
        return Run(req);
    }
    int Pay(std::int32_t sum)
    {
        Request req;
        EXPECT_EQ(EncodePayCheck(kPayCash, sum, "", req), fpresult::kOk);
        return Run(req);
    }
    int GetDate()
    {
        const auto req = EncodeGetDate();
        return Run(Request(req.begin(), req.end()));
    }
    std::string Get(const std::string& target)
    {
        const auto a = consoletest::request(port, "GET", target);
        EXPECT_EQ(a.status, 200) << target;
        return a.body;
    }
    consoletest::Answer Switch(const std::string& json)
    {
        return consoletest::request(port, "POST", "/api/faults", json);
    }

private:
    SimProcess sim_;
    SystemClock clock_;
    PosixPort port_;

public:
    Link link;
    std::uint16_t port = 0;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

TEST(SerialSimConsole, TapeFramesAndBooksFollowTheCommands)
{
    ConsoleRegister r;
    ASSERT_TRUE(r.link.Connected());
    ASSERT_NE(r.port, 0);
    EXPECT_TRUE(Has(r.Get("/api/state"), "\"logo\":null"));

    // A 32 x 2 logo: the first row black.
    const std::uint8_t logoRequest[] = {0x2D, 0, 0, 1, 32, 0, 2, 0};
    const std::uint8_t bits[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    ASSERT_EQ(r.Run(Request(logoRequest, logoRequest + 8), bits, sizeof bits), 0);
    ASSERT_EQ(r.Sale(2000, 1550, "Milk"), 0);
    ASSERT_EQ(r.Pay(5000), 0);

    const std::string tape = r.Get("/api/tape?since=0");
    // The logo heads the receipt (as a picture: its text art stays on the paper tape only).
    EXPECT_TRUE(Has(tape, "\"},{\"n\":2,\"logo\":true},{\"n\":3,")) << tape;
    EXPECT_FALSE(Has(tape, "▀")) << tape;
    for (const char* line : {"ФІСКАЛЬНИЙ ЧЕК No 1", "2.000 x 15.50", "Milk", "РЕШТА"})
        EXPECT_TRUE(Has(tape, line)) << line << "\n" << tape;

    const std::string state = r.Get("/api/state");
    EXPECT_TRUE(Has(state, "\"logo\":{\"width\":32,\"height\":2,\"bits\":\"/////wAAAAA=\"}")) << state;
    EXPECT_TRUE(Has(state, "\"Receipt\":\"none open\"")) << state;
    EXPECT_TRUE(Has(state, "{\"group\":\"А\",\"rate %\":\"20.00\",\"sales\":\"31.00\",\"refunds\":\"0.00\"}")) << state;
    EXPECT_TRUE(Has(state, "\"Safe (cash in the drawer)\":\"31.00\"")) << state;

    // Frames in hex with what they meant; the logo's extra data is part of its exchange.
    const std::string frames = r.Get("/api/exchanges?since=0");
    EXPECT_TRUE(Has(frames, "\"title\":\"2D SetLogo\"")) << frames;
    EXPECT_TRUE(Has(frames, "FF FF FF FF 00 00 00 00")) << frames;
    EXPECT_TRUE(Has(frames, "\"title\":\"14 SaleArticle\"")) << frames;
    EXPECT_TRUE(Has(frames, "\"answer\":\"06 ")) << "ACK first";
    EXPECT_FALSE(Has(frames, "\"ok\":false")) << frames;
}

TEST(SerialSimConsole, FaultSwitchedThroughTheApiMeetsTheNextCommand)
{
    ConsoleRegister r;
    ASSERT_TRUE(r.link.Connected());
    ASSERT_EQ(r.GetDate(), 0);

    // One command's register error, for GetDate only.
    auto a = r.Switch("{\"name\":\"error\",\"on\":true,\"value\":\"21,cmd=01,count=1\"}");
    ASSERT_EQ(a.status, 200) << a.body;
    EXPECT_TRUE(Has(a.body, "{\"name\":\"error\",\"help\":\"=N: answer with register error code N\","
                            "\"argument\":\"N[,cmd=HEX][,count=N]\",\"on\":true,\"value\":\"21,cmd=01,count=1\"}"))
        << a.body;
    const auto state = EncodeGetState();
    EXPECT_EQ(r.Run(Request(state.begin(), state.end())), 0); // not GetDate: untouched
    EXPECT_EQ(r.GetDate(), -21);
    EXPECT_EQ(r.GetDate(), 0); // count=1 is spent: the switch is off again
    EXPECT_TRUE(Has(r.Get("/api/faults"), "{\"name\":\"error\",\"help\":\"=N: answer with register error code N\","
                                          "\"argument\":\"N[,cmd=HEX][,count=N]\",\"on\":false,\"value\":\"\"}"));
    const std::string frames = r.Get("/api/exchanges?since=0");
    EXPECT_TRUE(Has(frames, "error 21: wrong password; fault: error\",\"ok\":false")) << frames;

    // Until switched off; a switch replaces the kind's value.
    ASSERT_EQ(r.Switch("{\"name\":\"nak\",\"on\":true}").status, 200);
    ASSERT_EQ(r.Switch("{\"name\":\"nak\",\"on\":true,\"value\":\"cmd=01\"}").status, 200);
    EXPECT_NE(r.GetDate(), 0);
    EXPECT_EQ(r.Run(Request(state.begin(), state.end())), 0);
    EXPECT_NE(r.GetDate(), 0);
    ASSERT_EQ(r.Switch("{\"name\":\"nak\",\"on\":false}").status, 200);
    EXPECT_EQ(r.GetDate(), 0);

    // What the register does not know is refused, and nothing changes.
    for (const char* bad :
         {"{\"name\":\"error\",\"on\":true}", "{\"name\":\"error\",\"on\":true,\"value\":\"x\"}",
          "{\"name\":\"nak\",\"on\":true,\"value\":\"cmd=XYZ\"}", "{\"name\":\"fire\",\"on\":true}"}) {
        a = r.Switch(bad);
        EXPECT_EQ(a.status, 400) << bad;
        EXPECT_TRUE(Has(a.body, "\"error\":")) << a.body;
    }
    EXPECT_FALSE(Has(r.Get("/api/faults"), "\"on\":true"));
    EXPECT_EQ(r.GetDate(), 0);
}

// A fault's numbers are taken only within what their field holds, the same from the
// console as on the command line: no count that wraps to 0 or to "no limit", no error
// code or status bits past one byte.
TEST(SerialSimConsole, FaultValuesOutOfRangeAreRefused)
{
    ConsoleRegister r;
    ASSERT_NE(r.port, 0);
    const char* const bad[] = {"nak,count=4294967296",
                               "nak,count=2147483648",
                               "nak,count=0",
                               "nak,count=-1",
                               "nak,count=99999999999999999999",
                               "error=0x10000",
                               "error=256",
                               "error=-1",
                               "status=0x100",
                               "ext-status=256",
                               "slow=600001",
                               "syn-storm=4294967296",
                               "nak,cmd=100",
                               "nak,cmd=1FF"};
    for (const std::string spec : bad) {
        SCOPED_TRACE(spec);
        const std::size_t cut = spec.find_first_of("=,");
        const std::string name = spec.substr(0, cut), value = spec.substr(cut);
        const auto a = r.Switch("{\"name\":\"" + name + "\",\"on\":true,\"value\":\"" + value + "\"}");
        EXPECT_EQ(a.status, 400) << a.body;
        SimProcess refused({"--fault", spec});
        EXPECT_TRUE(refused.Path().empty()) << "the command line took it";
    }
    EXPECT_FALSE(Has(r.Get("/api/faults"), "\"on\":true"));
    for (const char* good : {"{\"name\":\"error\",\"on\":true,\"value\":\"255,count=1000000\"}",
                             "{\"name\":\"status\",\"on\":true,\"value\":\"0xFF\"}",
                             "{\"name\":\"nak\",\"on\":true,\"value\":\"cmd=FF,count=1\"}"})
        EXPECT_EQ(r.Switch(good).status, 200) << good;
    const std::string faults = r.Get("/api/faults");
    EXPECT_TRUE(Has(faults, "\"value\":\"255,count=1000000\"")) << faults;
    EXPECT_TRUE(Has(faults, "\"value\":\"0xFF\"")) << faults;
}
