// The register simulator's books against the report and query codecs: a whole shift,
// the X and Z reports, the open receipt's sums, the article and tax tables, the safe,
// the time to block, memory reads, the printed reports, and the register errors of a
// forbidden command. The books file (--books) must agree with what the register answers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

#include "tests/support/serial/fake_port.h"
#include "tests/support/serial/sim_process.h"
#include "serialproto/link.h"
#include "serialproto/port_posix.h"
#include "serialproto/receipt.h"
#include "serialproto/reports.h"

using namespace serialproto;

namespace {

std::string TempPath(const char* what)
{
    static int n = 0;
    return ::testing::TempDir() + "serialsim-" + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(n++);
}

class Register {
public:
    Register()
        : tape_(TempPath("tape")), books_(TempPath("books")), control_(TempPath("control")),
          sim_({"--tape", tape_, "--books", books_, "--control", control_, "--clock", "2024-03-15 09:00:00",
                "--frozen-clock"}),
          link(clock_, &log_)
    {
        if (!sim_.Path().empty() && port_.Open(sim_.Path()) && port_.SetLine(19200)) link.Attach(&port_);
    }
    ~Register()
    {
        ::unlink(tape_.c_str());
        ::unlink(books_.c_str());
    }

    // 0 on success, the negated register error code, or 1 for any other failure.
    int Run(fpresult::Result encoded, const Request& req)
    {
        EXPECT_EQ(encoded, fpresult::kOk);
        const fpresult::Result r = link.SendCommand(req.data(), req.size());
        if (r == FPE_ECR) return -static_cast<int>(link.EcrErrorNumber());
        return r == fpresult::kOk ? 0 : 1;
    }
    int Article(std::int32_t code, std::int32_t count, std::int32_t price, int group, const std::string& name,
                bool refund = false)
    {
        serialproto::Article a;
        a.Code = code;
        a.Count = count;
        a.Price = price;
        a.TaxType = group;
        a.Name = name;
        a.CountFormat = 3;
        Request req;
        return Run(EncodeArticle(a, refund, req), req);
    }
    int Pay(int type, std::int32_t sum)
    {
        Request req;
        return Run(EncodePayCheck(type, sum, "", req), req);
    }
    int Discount(std::int32_t value, bool onTotal, bool sumMode)
    {
        Request req;
        return Run(EncodeGiveDiscount(value, onTotal, sumMode, "", 2, req), req);
    }
    int Safe(std::int32_t sum)
    {
        Request req;
        return Run(EncodeChangeSafeSum(sum, req), req);
    }
    int Z()
    {
        Request req;
        return Run(EncodePrintZReport(0, req), req);
    }
    XReportData X()
    {
        Request req;
        XReportData x;
        EXPECT_EQ(Run(EncodeGetXReport(req), req), 0);
        EXPECT_EQ(DecodeXReport(link.LastAnswer().Data(), link.LastAnswer().Size(), x), fpresult::kOk);
        return x;
    }
    const std::uint8_t* Data() const { return link.LastAnswer().Data(); }
    std::int32_t Length() const { return link.LastAnswer().Size(); }

    std::map<std::string, std::string> Books() const
    {
        std::map<std::string, std::string> m;
        std::ifstream f(books_);
        std::string line;
        while (std::getline(f, line)) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return m;
    }
    long Book(const std::string& key) const
    {
        const auto m = Books();
        const auto it = m.find(key);
        EXPECT_NE(it, m.end()) << key;
        return it == m.end() ? -999999 : std::stol(it->second);
    }
    std::string Tape() const
    {
        std::ifstream f(tape_);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    void Control(const std::string& line)
    {
        const int fd = ::open(control_.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        const std::string text = line + "\n";
        ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(fd);
    }

private:
    std::string tape_, books_, control_;
    SimProcess sim_;
    SystemClock clock_;
    PosixPort port_;
    fake::RecordingLog log_;

public:
    Link link;
};

const char* const kLatin[] = {"A", "B", "V", "G", "D", "E"};

// The register's answer and its books file agree on every field of one side.
void ExpectSide(const Register& r, const std::string& side, std::int32_t receipts, const SumsByTax& tax,
                const SumsByPay& pay, std::int32_t markup, std::int32_t discount)
{
    EXPECT_EQ(r.Book(side + ".receipts"), receipts) << side;
    for (int g = 0; g < 6; ++g) EXPECT_EQ(r.Book(side + ".group." + kLatin[g]), tax.Sum[g]) << side << g;
    for (int p = 0; p < 10; ++p) EXPECT_EQ(r.Book(side + ".pay." + std::to_string(p)), pay.Sum[p]) << side << p;
    EXPECT_EQ(r.Book(side + ".markup"), markup) << side;
    EXPECT_EQ(r.Book(side + ".discount"), discount) << side;
}

} // namespace

TEST(SerialSimBooks, ShiftTotalsReceiptSumsAndZReport)
{
    Register r;
    ASSERT_TRUE(r.link.Connected());
    Request req;
    EXPECT_EQ(r.Run(EncodeGetCheckSum(req), req), -39); // no receipt open

    // Receipt 1: 31.00 in group А and 29.90 in Б, 5 % off the total, card and cash.
    ASSERT_EQ(r.Article(11, 2000, 1550, 128, "Milk"), 0);
    ASSERT_EQ(r.Article(12, 1000, 2990, 129, "Bread"), 0);
    ASSERT_EQ(r.Discount(500, true, false), 0); // -3.05, shared out by group
    ASSERT_EQ(r.Run(EncodeGetCheckSum(req), req), 0);
    CheckSumData c;
    ASSERT_EQ(DecodeCheckSum(r.Data(), r.Length(), c), fpresult::kOk);
    EXPECT_EQ(c.ByTax.Sum[0], 3100 - 156);
    EXPECT_EQ(c.ByTax.Sum[1], 2990 - 149);
    EXPECT_EQ(c.TotalSum, 5785);
    EXPECT_EQ(c.PayedSum, 0);
    EXPECT_EQ(r.Book("receipt.group.A"), c.ByTax.Sum[0]);
    ASSERT_EQ(r.Pay(kPayCard, 2000), 0);
    ASSERT_EQ(r.Run(EncodeGetCheckSum(req), req), 0);
    ASSERT_EQ(DecodeCheckSum(r.Data(), r.Length(), c), fpresult::kOk);
    EXPECT_EQ(c.PayedSum, 2000);
    EXPECT_EQ(r.Run(EncodePrintXReport(0, req), req), -44); // no report with a receipt open
    ASSERT_EQ(r.Pay(kPayCash, 5000), 0);                    // 12.15 change

    // Receipt 2: 10.00 in group В with a 1.00 markup on the line, cash.
    ASSERT_EQ(r.Article(13, 1000, 1000, 130, "Tea"), 0);
    ASSERT_EQ(r.Discount(-100, false, true), 0);
    ASSERT_EQ(r.Pay(kPayCash, -1), 0);
    // A refund receipt, paid out in cash, and a cancelled one that counts for nothing.
    ASSERT_EQ(r.Article(11, 1000, 1550, 128, "Milk", true), 0);
    ASSERT_EQ(r.Pay(kPayCash, 1550), 0);
    ASSERT_EQ(r.Article(12, 1000, 2990, 129, "Bread"), 0);
    ASSERT_EQ(r.Run(EncodeCancelCheck(req), req), 0);
    ASSERT_EQ(r.Safe(2500), 0);
    ASSERT_EQ(r.Safe(-1000), 0);

    const XReportData x = r.X();
    EXPECT_EQ(x.ChecksCount, 2);
    EXPECT_EQ(x.ByTax.Sum[0], 2944);
    EXPECT_EQ(x.ByTax.Sum[1], 2841);
    EXPECT_EQ(x.ByTax.Sum[2], 1100);
    EXPECT_EQ(x.ByPay.Sum[kPayCard], 2000);
    EXPECT_EQ(x.ByPay.Sum[kPayCash], 3785 + 1100);
    EXPECT_EQ(x.MarkUp, 100);
    EXPECT_EQ(x.Discount, 305);
    EXPECT_EQ(x.SafePlus, 2500);
    EXPECT_EQ(x.RefundChecksCount, 1);
    EXPECT_EQ(x.RefundByTax.Sum[0], 1550);
    EXPECT_EQ(x.RefundByPay.Sum[kPayCash], 1550);
    EXPECT_EQ(x.SafeMinus, 1000);
    ExpectSide(r, "shift.sales", x.ChecksCount, x.ByTax, x.ByPay, x.MarkUp, x.Discount);
    ExpectSide(r, "shift.refunds", x.RefundChecksCount, x.RefundByTax, x.RefundByPay, x.RefundMarkUp, x.RefundDiscount);
    EXPECT_EQ(r.Book("shift.safe.in"), x.SafePlus);
    EXPECT_EQ(r.Book("shift.safe.out"), x.SafeMinus);

    // The drawer: 37.85 + 11.00 - 15.50 + 25.00 - 10.00.
    ASSERT_EQ(r.Run(EncodeGetSafeSum(req), req), 0);
    double safe = 0;
    DecodeGetSafeSum(r.Data(), r.Length(), safe);
    EXPECT_EQ(safe, 4835.0);
    EXPECT_EQ(r.Book("safe"), 4835);

    ASSERT_EQ(r.Run(EncodePrintXReport(0, req), req), 0);
    ASSERT_EQ(r.Z(), 0);
    EXPECT_EQ(DecodeZReportResult(r.Data(), r.Length()), 1);
    EXPECT_EQ(r.link.EcrState() & 0x2000, 0u); // shift closed
    EXPECT_EQ(r.Z(), -42);                     // nothing since
    const XReportData zero = r.X();
    EXPECT_EQ(zero.ChecksCount, 0);
    EXPECT_EQ(zero.ByPay.Sum[kPayCash], 0);
    EXPECT_EQ(zero.SafeMinus, 0);
    EXPECT_EQ(r.Book("z.count"), 1);
    EXPECT_EQ(r.Book("safe"), 4835); // the cash stays in the drawer
    ASSERT_EQ(r.Article(13, 1000, 1000, 130, "Tea"), 0);
    EXPECT_EQ(r.link.EcrState() & 0x2000, 0x2000u); // a new shift

    const std::string tape = r.Tape();
    for (const char* line :
         {"X-ЗВІТ", "Z-ЗВІТ No 1", "ОБІГ А                    29.44", "  ПДВ А 20.00%             4.91",
          "НАДБАВКИ                   1.00", "ЗНИЖКИ                     3.05", "СЛУЖБОВЕ ВНЕСЕННЯ         25.00",
          "В СЕЙФІ                   48.35", "ЗМІНУ ЗАКРИТО"})
        EXPECT_NE(tape.find(line), std::string::npos) << line << "\n" << tape;
}

TEST(SerialSimBooks, ArticlesTaxTableAndPeriodicReports)
{
    Register r;
    ASSERT_TRUE(r.link.Connected());
    Request req;
    ASSERT_EQ(r.Article(77, 1500, 2000, 129, "Cheese"), 0);
    ASSERT_EQ(r.Article(77, 500, 2000, 129, "Cheese"), 0);
    ASSERT_EQ(r.Pay(kPayCash, -1), 0);
    ASSERT_EQ(r.Article(77, 250, 2000, 129, "Cheese", true), 0);
    ASSERT_EQ(r.Pay(kPayCash, -1), 0);

    ASSERT_EQ(r.Run(EncodeGetArticleInfo(77, 0, req), req), 0);
    ArticleInfoData a;
    DecodeArticleInfo(r.Data(), r.Length(), a);
    EXPECT_EQ(a.Name, "Cheese");
    EXPECT_EQ(a.Count, 2000);
    EXPECT_EQ(a.CountFormat, 3);
    EXPECT_EQ(a.Price, 2000);
    EXPECT_EQ(a.TaxType, 129);
    EXPECT_EQ(a.TurnoverSum, 4000.0);
    EXPECT_EQ(a.RefundCount, 250);
    EXPECT_EQ(a.RefundTurnoverSum, 500.0);
    EXPECT_EQ(r.Book("article.77.0.sold"), a.Count);
    EXPECT_EQ(r.Book("article.77.0.refunded_sum"), 500);
    EXPECT_EQ(r.Run(EncodeGetArticleInfo(78, 0, req), req), -22);

    ASSERT_EQ(r.Run(EncodeGetTaxData(req), req), 0);
    TaxTableData t;
    ASSERT_EQ(DecodeTaxData(r.Data(), r.Length(), t), fpresult::kOk);
    EXPECT_EQ(t.Date, "01/02/16");
    EXPECT_EQ(t.Count, r.Book("tax.count"));
    EXPECT_EQ(t.TaxRate[0], r.Book("tax.rate.A"));
    EXPECT_EQ(t.Flags, r.Book("tax.flags"));
    EXPECT_EQ(t.FeeRate[3], r.Book("tax.fee.G"));
    EXPECT_EQ(t.FeeRate[5], r.Book("tax.fee.E"));
    EXPECT_NE(t.FeeRate[5], 0); // the two bytes after the fee rates

    ASSERT_EQ(r.Z(), 0);
    ASSERT_EQ(r.Run(EncodePrintArtReport(0, 70, 80, 0, 0, req), req), 0);
    ASSERT_EQ(r.Run(EncodePrintReportByDate(0, "01/03/24", "31/03/24", false, req), req), 0);
    ASSERT_EQ(r.Run(EncodePrintReportByDate(0, "01/04/24", "30/04/24", true, req), req), 0);
    ASSERT_EQ(r.Run(EncodePrintReportById(0, 1, 1, req), req), 0);
    ASSERT_EQ(r.Run(EncodePrintReportByDate(0, "31/03/24", "01/03/24", false, req), req), -30);

    const std::string tape = r.Tape();
    for (const char* line :
         {"ЗВІТ ПО ТОВАРАХ", "#77 Cheese", "  ПРОДАНО 2.000           40.00", "  ПОВЕРНЕНО 0.250          5.00",
          "ПЕРІОДИЧНИЙ ЗВІТ", "З 01.03.24 ПО 31.03.24", "Z-ЗВІТ No 1      15.03.24 09:00",
          "ПЕРІОДИЧНИЙ ЗВІТ СКОРОЧЕНИЙ", "НЕМАЄ ДАНИХ", "Z-ЗВІТИ З No 1 ПО No 1"})
        EXPECT_NE(tape.find(line), std::string::npos) << line << "\n" << tape;
}

TEST(SerialSimBooks, TimeToBlockMemoryAndLongShift)
{
    Register r;
    ASSERT_TRUE(r.link.Connected());
    Request req;
    std::int32_t seconds = 0;
    ASSERT_EQ(r.Run(EncodeGetTimeToBlock(0, req), req), 0);
    ASSERT_EQ(DecodeTimeToBlock(r.Data(), r.Length(), seconds), fpresult::kOk);
    EXPECT_EQ(seconds, 259200); // nothing waits to be sent

    ASSERT_EQ(r.Article(1, 1000, 100, 128, "x"), 0);
    ASSERT_EQ(r.Pay(kPayCash, -1), 0);
    r.Control("clock 2024-03-15 10:00:00");
    ASSERT_EQ(r.Run(EncodeGetTimeToBlock(0, req), req), 0);
    ASSERT_EQ(DecodeTimeToBlock(r.Data(), r.Length(), seconds), fpresult::kOk);
    EXPECT_EQ(seconds, 259200 - 3600);

    ASSERT_EQ(r.Run(EncodeReadMemory(19, 0, 10, req), req), 0); // the fiscal number
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.Data()), static_cast<std::size_t>(r.Length())), "SIM0000044");
    ASSERT_EQ(r.Run(EncodeReadMemory(-1, 3, 128, req), req), 0);
    EXPECT_EQ(r.Length(), 128);

    // A shift of more than 24 hours takes no more receipts until its Z report.
    r.Control("clock 2024-03-16 09:00:01");
    EXPECT_EQ(r.Article(1, 1000, 100, 128, "x"), -41);
    EXPECT_EQ(r.Safe(100), -41);
    ASSERT_EQ(r.Z(), 0);
    EXPECT_EQ(r.Article(1, 1000, 100, 128, "x"), 0);
    ASSERT_EQ(r.Pay(kPayCash, -1), 0);
    // Data unsent for 72 hours block the register.
    r.Control("clock 2024-03-18 09:00:01");
    ASSERT_EQ(r.Z(), 0);
    EXPECT_EQ(r.Article(1, 1000, 100, 128, "x"), -47);
}
