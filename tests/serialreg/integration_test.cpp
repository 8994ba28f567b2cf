// The link layer through the POSIX port against the register simulator on a pty.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "tests/support/serial/fake_port.h"
#include "tests/support/serial/sim_process.h"
#include "serialproto/commands.h"
#include "serialproto/link.h"
#include "serialproto/port_posix.h"
#include "serialproto/receipt.h"

using namespace serialproto;

namespace {

class SimLink {
public:
    explicit SimLink(std::vector<std::string> args) : sim_(WithLog(std::move(args))), link(clock_, &log)
    {
        if (!sim_.Path().empty() && port_.Open(sim_.Path()) && port_.SetLine(19200)) link.Attach(&port_);
    }
    ~SimLink() { ::unlink(logPath_.c_str()); }

    fpresult::Result Send(const std::vector<std::uint8_t>& req) { return link.SendCommand(req.data(), req.size()); }
    std::string SimulatorLog() const
    {
        std::ifstream f(logPath_);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    int Count(const std::string& line) const
    {
        return static_cast<int>(std::count(log.lines.begin(), log.lines.end(), line));
    }
    int CountPrefix(const std::string& prefix) const
    {
        return static_cast<int>(std::count_if(log.lines.begin(), log.lines.end(),
                                              [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }

    fake::RecordingLog log;

private:
    std::vector<std::string> WithLog(std::vector<std::string> args)
    {
        static int n = 0;
        logPath_ = ::testing::TempDir() + "serialsim-" + std::to_string(::getpid()) + "-" + std::to_string(n++) +
                   ".log";
        args.insert(args.end(), {"--log", logPath_, "--clock", "2016-07-24 10:20:30", "--frozen-clock"});
        return args;
    }

    std::string logPath_;
    SimProcess sim_;
    SystemClock clock_;
    PosixPort port_;

public:
    Link link;
};

} // namespace

TEST(SerialSim, WorkedGetDateExchangeByteForByte)
{
    SimLink s({});
    ASSERT_TRUE(s.link.Connected());
    s.link.SetSequence(0x07);
    ASSERT_EQ(s.Send(EncodeGetDate()), fpresult::kOk);
    std::string date;
    ASSERT_EQ(DecodeDate(s.link.LastAnswer().Data(), s.link.LastAnswer().Size(), date), fpresult::kOk);
    EXPECT_EQ(date, "24/07/16");
    EXPECT_EQ(s.link.EcrState(), 0x2000u);
    ASSERT_GE(s.log.lines.size(), 3u);
    EXPECT_EQ(s.log.lines[0], "-> (7) 10 02 07 01 F8 10 03");
    EXPECT_EQ(s.log.lines[1].rfind("<- (15) 10 02 07 01 00 00 20 24 07 16 97 10 03", 0), 0u);
    EXPECT_THAT(s.SimulatorLog(), testing::HasSubstr("rx 10 02 07 01 F8 10 03\ncmd 01 GetDate seq 07"));
}

TEST(SerialSim, StatusDateAndTimeLikeConnect)
{
    SimLink s({"--taxpayer", "ТОВ Ромашка", "--taxpayer", "Київ", "--taxpayer", "вул. Лісова, 1", "--tax-number",
               "ПН 123456789012", "--sw-version", "2.07"});
    ASSERT_TRUE(s.link.Connected());
    RegisterState st;
    s.link.SetSequence(0x33);
    ASSERT_EQ(CheckRegister(s.link, st), fpresult::kOk);
    EXPECT_EQ(s.link.Sequence(), 2);
    EXPECT_EQ(st.PrinterInfo, "PELTRA-SIM 44 ver 2.07");
    EXPECT_EQ(st.FiscalInfo.substr(0, 26), "SIM0000044 01/02/16 09:30 ");
    EXPECT_EQ(st.TaxPayerInfo[0], "\x92\x8E\x82 \x90\xAE\xAC\xA0\xE8\xAA\xA0"); // code page 866
    EXPECT_FALSE(st.TaxPayerInfo[2].empty());
    std::string time;
    ASSERT_EQ(QueryTime(s.link, time), fpresult::kOk);
    EXPECT_EQ(time, "10:20:30");
    EXPECT_EQ(s.link.Sequence(), 3);
}

TEST(SerialSim, NakSynAndRegisterErrors)
{
    SimLink s({"--fault", "nak,cmd=01,count=2", "--fault", "syn-first,cmd=03,count=1", "--fault", "error=5,cmd=0E",
               "--fault", "status=0x01,cmd=00", "--fault", "syn-storm=600,cmd=00"});
    ASSERT_TRUE(s.link.Connected());
    EXPECT_EQ(s.Send(EncodeGetDate()), fpresult::kOk); // third attempt
    EXPECT_EQ(s.Count("<- NAK"), 2);
    EXPECT_EQ(s.Send(EncodeGetTime()), fpresult::kOk); // SYN first, then the retry
    EXPECT_EQ(s.Count("SYN packet"), 1);
    EXPECT_THAT(s.SimulatorLog(), testing::HasSubstr("repeated frame"));
    EXPECT_EQ(s.Send({0x0E}), FPE_ECR); // line feed, with a SYN while busy
    EXPECT_EQ(s.link.EcrErrorNumber(), 5);
    EXPECT_EQ(s.link.ErrorValue(), 5u);
    EXPECT_GE(s.Count("<- SYN"), 1);
    const int synBefore = s.Count("<- SYN");
    EXPECT_EQ(s.Send(EncodeGetState()), fpresult::kOk); // status query ignores status bits
    EXPECT_EQ(s.link.EcrState(), 0x2001u);
    EXPECT_GE(s.Count("<- SYN") - synBefore, 5); // busy for 600 ms, SYN every 100 ms
}

TEST(SerialSim, BrokenAnswers)
{
    SimLink s({"--fault", "bad-checksum,cmd=01", "--fault", "silence,cmd=03", "--fault", "wrong-seq,cmd=00,count=3",
               "--fault", "stray-dle,cmd=0E,count=1", "--fault", "truncate,cmd=0E,count=1"});
    ASSERT_TRUE(s.link.Connected());
    EXPECT_EQ(s.Send(EncodeGetDate()), FPE_CHECKSUM);
    EXPECT_EQ(s.Count("CRC error"), 3);
    EXPECT_EQ(s.Send(EncodeGetTime()), FPE_NO_ANSWER);
    EXPECT_EQ(s.Count("No answer"), 3);
    EXPECT_EQ(s.Send(EncodeGetState()), FPE_PROTOCOL);
    EXPECT_EQ(s.Count("Bad packet"), 3);
    EXPECT_EQ(s.Send({0x0E}), fpresult::kOk); // both faults spent on the first attempt
    EXPECT_EQ(s.link.LastAnswer().Size(), 0);
    EXPECT_EQ(s.Send(EncodeGetState()), fpresult::kOk);
}

TEST(SerialSim, ExtraDataPulledWithEnq)
{
    SimLink s({});
    ASSERT_TRUE(s.link.Connected());
    std::vector<std::uint8_t> image(32 / 8 * 40);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
    const std::uint8_t req[] = {0x2D, 0, 0, 1, 32, 0, 40, 0};
    ASSERT_EQ(s.link.SendCommand(req, sizeof req, image.data(), image.size()), fpresult::kOk);
    EXPECT_EQ(s.Count("<- ENQ"), 3); // 160 bytes: 64, 64, 32
    EXPECT_THAT(s.SimulatorLog(), testing::HasSubstr("rx extra block (32 bytes)\n"));
}

TEST(SerialSim, PortOpensAgainAfterCloseAndReportsSystemErrors)
{
    PosixPort port;
    EXPECT_FALSE(port.Open("/nonexistent/tty"));
    EXPECT_EQ(port.SystemError(), 2u);
    SimProcess sim({});
    ASSERT_FALSE(sim.Path().empty());
    ASSERT_TRUE(port.Open(sim.Path()));
    EXPECT_FALSE(port.SetLine(12345)); // no such line speed
    EXPECT_EQ(port.SystemError(), 22u);
    port.Close();
    ASSERT_TRUE(port.Open(sim.Path()));
    ASSERT_TRUE(port.SetLine(9600));
    SystemClock clock;
    Link link(clock);
    link.Attach(&port);
    std::string date;
    EXPECT_EQ(QueryDate(link, date), fpresult::kOk);
    EXPECT_EQ(date.size(), 8u);
}

TEST(SerialSim, MoreInjectedFaults)
{
    SimLink s({"--fault", "garbage,cmd=01,count=1", "--fault", "oversize,cmd=03,count=1", "--fault",
               "wrong-cmd,cmd=00,count=1", "--fault", "stray-enq,cmd=0E,count=1", "--fault", "no-trailer,cmd=01",
               "--fault", "ext-status=0x40,cmd=01"});
    ASSERT_TRUE(s.link.Connected());
    std::string text;
    EXPECT_EQ(QueryDate(s.link, text), fpresult::kOk); // garbage once, then a frame without trailer
    EXPECT_EQ(s.Count("<! (6) 47 61 72 62 FF 00"), 1);
    EXPECT_EQ(s.link.EcrState(), 0x6000u);
    EXPECT_EQ(QueryTime(s.link, text), fpresult::kOk); // oversize once
    EXPECT_EQ(s.CountPrefix("<< ("), 1);
    RegisterState st;
    EXPECT_EQ(QueryState(s.link, st), fpresult::kOk); // wrong command echo once
    EXPECT_EQ(s.Count("Bad packet"), 1);
    const std::uint8_t lineFeed = 0x0E;
    EXPECT_EQ(s.link.SendCommand(&lineFeed, 1), fpresult::kOk); // ENQ without extra data once
    EXPECT_EQ(s.CountPrefix("<! ("), 2);                        // the ENQ and the answer behind it
    EXPECT_EQ(s.CountPrefix("<! (") - s.CountPrefix("<! (6) 47"), 1);
}

TEST(SerialSim, ControlPipeChangesFaultsBetweenCommands)
{
    const std::string control = ::testing::TempDir() + "serialsim-control-" + std::to_string(::getpid());
    SimLink s({"--control", control});
    ASSERT_TRUE(s.link.Connected());
    const auto say = [&](const std::string& line) {
        std::ofstream f(control);
        f << line << "\n";
    };
    std::string text;
    say("fault silence");
    EXPECT_EQ(QueryDate(s.link, text), FPE_NO_ANSWER);
    say("clear\nclock 2030-01-02 03:04:05\next-status 0x30");
    EXPECT_EQ(QueryDate(s.link, text), fpresult::kOk);
    EXPECT_EQ(text, "02/01/30");
    EXPECT_EQ(s.link.EcrState(), 0x3000u);
    EXPECT_THAT(s.SimulatorLog(), testing::HasSubstr("control: ext-status 0x30\n"));
}

// The register executes a command once however often the driver sends its frame: a retry
// after a lost ACK, a lost answer or a damaged answer gets the first answer again.
TEST(SerialSim, RetryAfterLostAnswerExecutesOnce)
{
    const std::string control = ::testing::TempDir() + "serialsim-control-" + std::to_string(::getpid());
    SimLink s({"--control", control});
    ASSERT_TRUE(s.link.Connected());
    const auto say = [&](const std::string& line) {
        std::ofstream f(control);
        f << line << "\n";
    };
    const auto sale = [&]() -> std::int32_t {
        Article a;
        a.Code = 7;
        a.Count = 2000;
        a.Price = 1550;
        a.TaxType = 128;
        a.Name = "Milk";
        a.CountFormat = 3;
        Request req;
        EXPECT_EQ(EncodeArticle(a, false, req), fpresult::kOk);
        if (s.link.SendCommand(req.data(), req.size()) != fpresult::kOk) return -1;
        return DecodeArticleAnswer(s.link.LastAnswer().Data(), s.link.LastAnswer().Size()).TotalSum;
    };
    say("fault answer-lost-after-exec,cmd=14,count=1");
    EXPECT_EQ(sale(), 3100);
    EXPECT_EQ(s.Count("No answer"), 1);
    say("fault ack-lost,cmd=14,count=1");
    EXPECT_EQ(sale(), 6200);
    say("fault answer-damaged-after-exec,cmd=14,count=1");
    EXPECT_EQ(sale(), 9300);
    EXPECT_EQ(s.Count("CRC error"), 1);
    EXPECT_EQ(sale(), 12400); // a new frame is executed, same bytes or not

    // With extra data the repeat is recognised once the data are in.
    say("fault answer-lost-after-exec,cmd=2D,count=1");
    std::vector<std::uint8_t> image(32 / 8 * 40, 0x81);
    const std::uint8_t req[] = {0x2D, 0, 0, 1, 32, 0, 40, 0};
    EXPECT_EQ(s.link.SendCommand(req, sizeof req, image.data(), image.size()), fpresult::kOk);
    std::string log = s.SimulatorLog();
    std::size_t repeats = 0;
    for (std::size_t at = 0; (at = log.find("repeated frame", at)) != std::string::npos; ++at) ++repeats;
    EXPECT_EQ(repeats, 4u);
}

TEST(SerialSim, CommandLineErrors)
{
    const std::string sim = SERIALSIM_PATH;
    const auto run = [&](const std::string& args) {
        const int status = std::system((sim + " " + args + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(run("--bogus"), 2);
    EXPECT_EQ(run("--fault"), 2);
    EXPECT_EQ(run("--fault nope"), 2);
    EXPECT_EQ(run("--fault error"), 2);
    EXPECT_EQ(run("--fault nak,count=0"), 2);
    EXPECT_EQ(run("--clock '2016-13-01 00:00:00'"), 2);
    EXPECT_EQ(run("--baud fast"), 2);
    EXPECT_EQ(run("--busy-percent -1"), 2);
}
