// Programming and service commands against the register simulator: the request
// encoders, what the simulator keeps and prints, and its answers to bad requests.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

#include "tests/support/serial/fake_port.h"
#include "tests/support/serial/sim_process.h"
#include "serialproto/commands.h"
#include "serialproto/link.h"
#include "serialproto/logo.h"
#include "serialproto/port_posix.h"
#include "serialproto/programming.h"
#include "serialproto/receipt.h"
#include "serialproto/reports.h"

using namespace serialproto;
using fake::Bytes;

namespace {

std::string TempPath(const char* what)
{
    static int n = 0;
    return ::testing::TempDir() + "serialsim-" + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(n++);
}

std::string Slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class Register {
public:
    explicit Register(std::vector<std::string> args = {})
        : tapePath_(TempPath("tape")), logoPath_(TempPath("logo") + ".pbm"),
          sim_(With(args,
                    {"--tape", tapePath_, "--logo", logoPath_, "--frozen-clock", "--clock", "2024-07-16 10:20:30"})),
          link(clock_, &log_)
    {
        if (!sim_.Path().empty() && port.Open(sim_.Path()) && port.SetLine(19200)) link.Attach(&port);
    }
    ~Register()
    {
        ::unlink(tapePath_.c_str());
        ::unlink(logoPath_.c_str());
    }

    // Sends a request; FPE_ECR comes back as the negated register error code, other
    // failures as themselves.
    int Run(fpresult::Result encoded, const Request& req, const Bytes& extra = {})
    {
        EXPECT_EQ(encoded, fpresult::kOk);
        const fpresult::Result r = link.SendCommand(req.data(), req.size(), extra.empty() ? nullptr : extra.data(),
                                                    extra.size());
        if (r == FPE_ECR) return -static_cast<int>(link.EcrErrorNumber());
        return r;
    }
    std::string Date()
    {
        std::string d;
        EXPECT_EQ(QueryDate(link, d), fpresult::kOk);
        return d;
    }
    void SaleAndPay(int payType)
    {
        Article a;
        a.Code = 1;
        a.Count = 1;
        a.Price = 100;
        a.TaxType = 128;
        a.Name = "Tea";
        Request req;
        ASSERT_EQ(Run(EncodeArticle(a, false, req), req), 0);
        ASSERT_EQ(Run(EncodePayCheck(payType, -1, "", req), req), 0);
    }
    std::string Tape() const { return Slurp(tapePath_); }
    std::string Logo() const { return Slurp(logoPath_); }
    bool HasLogoFile() const { return ::access(logoPath_.c_str(), F_OK) == 0; }

private:
    static std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    std::string tapePath_, logoPath_;
    SimProcess sim_;
    SystemClock clock_;
    fake::RecordingLog log_;

public:
    PosixPort port;
    Link link;
};

bool HasLine(const std::string& text, const std::string& line)
{
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

} // namespace

TEST(SerialSimProgramming, ClockIsSetSlowlyAndChecked)
{
    Register r;
    ASSERT_TRUE(r.link.Connected());
    Request req;
    // The register answers after about a second: too late for the usual read time-out.
    EXPECT_NE(r.Run(EncodeSetDate("01/02/25", req), req), 0);
    r.link.ReadTimeout = 2000;
    EXPECT_EQ(r.Run(EncodeSetDate("01/02/25", req), req), 0);
    EXPECT_EQ(r.Run(EncodeSetTime("23:04:05", req), req), 0);
    EXPECT_EQ(r.Run(EncodeSetDate("29/02/25", req), req), -30);
    EXPECT_EQ(r.Run(EncodeSetTime("24:00:00", req), req), -30);
    r.link.ReadTimeout = Link::kDefaultReadTimeout;
    EXPECT_EQ(r.Date(), "01/02/25");
    std::string time;
    EXPECT_EQ(QueryTime(r.link, time), fpresult::kOk);
    EXPECT_EQ(time, "23:04:05");
}

TEST(SerialSimProgramming, UsersPasswordsAndTheServicePassword)
{
    Register r({"--password", "0=77", "--password", "2=5"});
    ASSERT_TRUE(r.link.Connected());
    Request req;
    EXPECT_EQ(r.Run(EncodeLogin(2, 4, "", req), req), -21);
    EXPECT_EQ(r.Run(EncodeLogin(16, 0, "", req), req), -22);
    EXPECT_EQ(r.Run(EncodeChangePassword(2, 4, 9, "", req), req), -21);
    EXPECT_EQ(r.Run(EncodeChangePassword(2, 5, 9, "Anna", req), req), 0);
    EXPECT_EQ(r.Run(EncodeLogin(2, 5, "", req), req), -21);
    EXPECT_EQ(r.Run(EncodeLogin(2, 9, "", req), req), 0);
    r.SaleAndPay(3);
    EXPECT_TRUE(HasLine(r.Tape(), "КАСИР Anna"));
    EXPECT_EQ(r.Run(EncodeLogout(2, 9, req), req), 0);

    // The programming commands need user 0's password.
    EXPECT_EQ(r.Run(EncodeSetFiscalNumber(0, "1234567890", req), req), -21);
    EXPECT_EQ(r.Run(EncodeSetFiscalNumber(77, "1234567890", req), req), 0);
    EXPECT_EQ(r.Run(EncodePersonalize(0, req), req), -21);
}

TEST(SerialSimProgramming, HeadersAndPayNamesOnLaterReceipts)
{
    Register r;
    ASSERT_TRUE(r.link.Connected());
    Request req;
    EXPECT_EQ(r.Run(EncodeSetTaxPayerInfo(0, "123456789012", "SHOP", "Main st 1", "", 0x10, req), req), 0);
    EXPECT_EQ(r.Run(EncodeSetCheckCaption(1, "Welcome", false, false, req), req), 0);
    EXPECT_EQ(r.Run(EncodeSetFiscalNumber(0, "4400000001", req), req), 0);
    EXPECT_EQ(r.Run(EncodeSetPayTypeName(0, 0, "Visa", req), req), 0);
    // A header line longer than its width, a pay name for cash: refused by the register.
    Request bad{0x17, 2, 0x40 | 30};
    bad.insert(bad.end(), 30, 'x');
    EXPECT_EQ(r.Run(fpresult::kOk, bad), -20);
    Request cash{0x32, 0, 0, 3, 1, 'C'};
    EXPECT_EQ(r.Run(fpresult::kOk, cash), -24);

    r.SaleAndPay(0);
    const std::string tape = r.Tape();
    for (const char* line : {"S H O P", "Main st 1", "ПН 123456789012", "Welcome", "ФН 4400000001"})
        EXPECT_TRUE(HasLine(tape, line)) << line << "\n" << tape;
    EXPECT_NE(tape.find("Visa"), std::string::npos) << tape;
}

TEST(SerialSimProgramming, LogoKeptAsPictureAndDrawnOnTheTape)
{
    Register r;
    ASSERT_TRUE(r.link.Connected());
    const LogoSize size{64, 4};
    Bytes image(LogoImageBytes(size), 0);
    for (int y = 0; y < 4; ++y) image[static_cast<std::size_t>(y) * 8] = 0xFF; // left 8 pixels dark
    image[7] = 0x01;
    Request req;
    ASSERT_EQ(r.Run(EncodeSetLogo(0, size, req), req, image), 0);
    const std::string pbm = r.Logo();
    EXPECT_EQ(pbm, "P4\n64 4\n" + std::string(image.begin(), image.end()));

    r.SaleAndPay(3);
    EXPECT_NE(r.Tape().find("█"), std::string::npos);

    ASSERT_EQ(r.Run(EncodeClearLogo(0, req), req), 0);
    EXPECT_FALSE(r.HasLogoFile());
    // A width that is no multiple of 32: the logo error, and no image is asked for.
    const Request odd{0x2D, 0, 0, 1, 40, 0, 4, 0};
    EXPECT_EQ(r.Run(fpresult::kOk, odd), -19);
}

TEST(SerialSimProgramming, BitrateChangeNeedsTheClientToFollow)
{
    Register r;
    ASSERT_TRUE(r.link.Connected());
    Request req;
    ASSERT_EQ(r.Run(EncodeChangeBitrate(38400, req), req), 0);
    std::string date;
    EXPECT_EQ(QueryDate(r.link, date), FPE_NO_ANSWER);
    ASSERT_TRUE(r.port.SetLine(38400));
    EXPECT_EQ(r.Date(), "16/07/24");
    EXPECT_EQ(r.Run(EncodeAlterCutterMode(req), req), 0);
    EXPECT_EQ(r.Run(EncodeAlterOnlineMode(req), req), 0);
    EXPECT_EQ(r.Run(EncodePrintVersion(req), req), 0);
}

TEST(SerialSimProgramming, TaxTableAndArticlesAreWhatTheQueriesRead)
{
    Register r;
    ASSERT_TRUE(r.link.Connected());
    Request req;
    // The table as read, changed, written back, read again: same layout, the new values,
    // the register's date.
    ASSERT_EQ(r.Run(EncodeGetTaxData(req), req), 0);
    TaxTableData table;
    ASSERT_EQ(DecodeTaxData(r.link.LastAnswer().Data(), r.link.LastAnswer().Size(), table), fpresult::kOk);
    table.TaxRate[1] = 900;
    table.FeeRate[5] = 75;
    ASSERT_EQ(r.Run(EncodeSetTaxData(0, table, req), req), 0);
    ASSERT_EQ(r.Run(EncodeGetTaxData(req), req), 0);
    TaxTableData again;
    ASSERT_EQ(DecodeTaxData(r.link.LastAnswer().Data(), r.link.LastAnswer().Size(), again), fpresult::kOk);
    EXPECT_EQ(again.Date, "16/07/24");
    EXPECT_EQ(again.Count, table.Count);
    EXPECT_EQ(again.Flags, table.Flags);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(again.TaxRate[i], table.TaxRate[i]) << i;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(again.FeeRate[i], table.FeeRate[i]) << i;

    // Two groups only: an article in group V is refused, one in group B kept.
    table.Count = 2;
    table.Flags = 0x02;
    ASSERT_EQ(r.Run(EncodeSetTaxData(0, table, req), req), 0);
    ProgrammedArticle a;
    a.Code = 4001;
    a.CodeEx = 7;
    a.Price = 1250;
    a.TaxType = 130;
    a.Name = "Bread";
    a.CountFormat = 3;
    EXPECT_EQ(r.Run(EncodeProgramArticle(0, a, req), req), -23);
    a.TaxType = 129;
    ASSERT_EQ(r.Run(EncodeProgramArticle(0, a, req), req), 0);
    ASSERT_EQ(r.Run(EncodeGetArticleInfo(4001, 7, req), req), 0);
    ArticleInfoData info;
    DecodeArticleInfo(r.link.LastAnswer().Data(), r.link.LastAnswer().Size(), info);
    EXPECT_EQ(info.Name, "Bread");
    EXPECT_EQ(info.Price, 1250);
    EXPECT_EQ(info.TaxType, 129);
    EXPECT_EQ(info.Count, 0);
    EXPECT_EQ(r.Run(EncodeGetArticleInfo(4001, 8, req), req), -22);
}
