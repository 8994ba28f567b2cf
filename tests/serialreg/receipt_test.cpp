// Receipts against the register simulator: the request encoders, the simulator's
// receipt state and register errors, and the printed tape.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

#include "tests/support/serial/fake_port.h"
#include "tests/support/serial/sim_process.h"
#include "serialproto/link.h"
#include "serialproto/port_posix.h"
#include "serialproto/receipt.h"

using namespace serialproto;

namespace {

std::string TapePath()
{
    static int n = 0;
    return ::testing::TempDir() + "serialsim-tape-" + std::to_string(::getpid()) + "-" + std::to_string(n++) + ".txt";
}

class Register {
public:
    Register() : tapePath_(TapePath()), sim_({"--tape", tapePath_}), link(clock_, &log_)
    {
        if (!sim_.Path().empty() && port_.Open(sim_.Path()) && port_.SetLine(19200)) link.Attach(&port_);
    }
    ~Register() { ::unlink(tapePath_.c_str()); }

    // Sends a request; FPE_ECR comes back as the negated register error code.
    int Run(fpresult::Result encoded, const Request& req)
    {
        EXPECT_EQ(encoded, fpresult::kOk);
        const fpresult::Result r = link.SendCommand(req.data(), req.size());
        if (r == FPE_ECR) return -static_cast<int>(link.EcrErrorNumber());
        return r == fpresult::kOk ? 0 : 1;
    }
    int Sale(std::int32_t count, std::int32_t price, int group, const std::string& name, bool refund = false)
    {
        Article a;
        a.Code = 7;
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
        // Pay types the driver refuses are sent as such, to see the register refuse them.
        const fpresult::Result encoded = EncodePayCheck(kPayCash, sum, "", req);
        req[1] = static_cast<std::uint8_t>(type);
        return Run(encoded, req);
    }
    bool ReceiptOpen() const { return (link.EcrState() & 0x4000) != 0; }
    std::string Tape() const
    {
        std::ifstream f(tapePath_);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

private:
    std::string tapePath_;
    SimProcess sim_;
    SystemClock clock_;
    PosixPort port_;
    fake::RecordingLog log_;

public:
    Link link;
};

} // namespace

TEST(SerialSimReceipt, SaleDiscountAndPaymentsWithChange)
{
    Register r;
    ASSERT_TRUE(r.link.Connected());
    ASSERT_EQ(r.Sale(2000, 1550, 128, "Milk"), 0); // 2 x 15.50
    AmountAnswer a = DecodeArticleAnswer(r.link.LastAnswer().Data(), r.link.LastAnswer().Size());
    EXPECT_EQ(a.Result, 3100);
    EXPECT_EQ(a.TotalSum, 3100);
    EXPECT_TRUE(r.ReceiptOpen());
    EXPECT_EQ(r.link.EcrState() & 0x0800, 0u); // a sales receipt
    ASSERT_EQ(r.Sale(1500, 2000, 129,
                     "\x95\xAB"
                     "i"
                     "\xA1"),
              0); // 1.5 x 20.00, group Б
    a = DecodeArticleAnswer(r.link.LastAnswer().Data(), r.link.LastAnswer().Size());
    EXPECT_EQ(a.Result, 3000);
    EXPECT_EQ(a.TotalSum, 6100);

    Request req;
    ASSERT_EQ(r.Run(EncodeGiveDiscount(1000, true, false, "Card", 2, req), req), 0); // 10.00 % on the total
    a = DecodeDiscountAnswer(r.link.LastAnswer().Data(), r.link.LastAnswer().Size());
    EXPECT_EQ(a.Result, -610);
    EXPECT_EQ(a.TotalSum, 5490);

    ASSERT_EQ(r.Pay(kPayCard, 1490), 0);
    a = DecodePayAnswer(r.link.LastAnswer().Data(), r.link.LastAnswer().Size());
    EXPECT_EQ(a.TotalSum, 4000); // still due
    EXPECT_EQ(a.Result, 0);
    EXPECT_EQ(r.Sale(1000, 100, 128, "late"), -46);
    EXPECT_EQ(r.Pay(kPayCard, 5000), -43); // no change from a card
    ASSERT_EQ(r.Pay(kPayCash, 5000), 0);
    a = DecodePayAnswer(r.link.LastAnswer().Data(), r.link.LastAnswer().Size());
    EXPECT_EQ(a.TotalSum, -1000);
    EXPECT_EQ(a.Result, 1000); // change
    EXPECT_FALSE(r.ReceiptOpen());

    // The drawer holds the cash kept: 50.00 - 10.00 change.
    ASSERT_EQ(r.Run(EncodeChangeSafeSum(-5000, req), req), -35);
    ASSERT_EQ(r.Run(EncodeChangeSafeSum(-4000, req), req), 0);
    EXPECT_EQ(DecodeSafeSum(r.link.LastAnswer().Data(), r.link.LastAnswer().Size()), 0);

    const std::string tape = r.Tape();
    for (const char* line : {"ФІСКАЛЬНИЙ ЧЕК No 1", "2.000 x 15.50", "Milk                      31.00 А",
                             "Хлiб                      30.00 Б", "ЗНИЖКА 10.00% НА ЧЕК", "-6.10", "54.90", "КАРТКА",
                             "ГОТІВКА", "РЕШТА                     10.00", "ДЯКУЄМО ЗА ПОКУПКУ", "СЛУЖБОВА ВИДАЧА"})
        EXPECT_NE(tape.find(line), std::string::npos) << line << "\n" << tape;
}

TEST(SerialSimReceipt, RegisterRefusesWhatTheReceiptStateForbids)
{
    Register r;
    ASSERT_TRUE(r.link.Connected());
    Request req;
    EXPECT_EQ(r.Pay(kPayCash, 100), -39);
    EXPECT_EQ(r.Run(EncodeCancelCheck(req), req), -39);
    EXPECT_EQ(r.Run(EncodeGiveDiscount(5, false, true, "", 0, req), req), -39);
    EXPECT_EQ(r.Run(EncodePrintCopy(1, req), req), -42);
    EXPECT_EQ(r.Sale(1000, 100, 132, "x"), -23); // group Д not programmed
    EXPECT_FALSE(r.ReceiptOpen());

    ASSERT_EQ(r.Run(EncodeCommentCheck("Refund", true, req), req), 0);
    EXPECT_TRUE(r.ReceiptOpen());
    EXPECT_EQ(r.link.EcrState() & 0x0800, 0x0800u); // a payout receipt
    EXPECT_EQ(r.Sale(1000, 100, 128, "x"), -37);
    EXPECT_EQ(r.Sale(1000, 100, 128, "x", true), 0);
    EXPECT_EQ(r.Run(EncodeChangeSafeSum(100, req), req), -44);
    EXPECT_EQ(r.Pay(12, 100), -24);
    ASSERT_EQ(r.Run(EncodeCancelCheck(req), req), 0);
    EXPECT_FALSE(r.ReceiptOpen());
    EXPECT_EQ(r.Run(EncodePrintCopy(1, req), req), -42); // a cancelled receipt is no receipt

    // A sale with the whole sum due paid (-1), then a copy and the printing commands.
    ASSERT_EQ(r.Sale(-1000, 100, 128, ""), -27); // negative line above the receipt's sales
    ASSERT_EQ(r.Sale(1000, 250, 130, ""), 0);
    ASSERT_EQ(r.Pay(kPayCash, -1), 0);
    EXPECT_EQ(DecodePayAnswer(r.link.LastAnswer().Data(), r.link.LastAnswer().Size()).TotalSum, 0);
    EXPECT_FALSE(r.ReceiptOpen());
    EXPECT_EQ(r.Run(EncodePrintCopy(1, req), req), 0);
    EXPECT_EQ(r.Run(EncodePrintBarcode("4820000000017", req), req), 0);
    EXPECT_EQ(r.Run(EncodePrintComment("note", req), req), 0);
    EXPECT_EQ(r.Run(EncodeDisplayString(0, "Total 2.50", req), req), 0);
    EXPECT_EQ(r.Run(EncodeLineFeed(req), req), 0);
    EXPECT_EQ(r.Run(EncodeOpenSafe(req), req), 0);

    const std::string tape = r.Tape();
    for (const char* line :
         {"ЧЕК ВИПЛАТИ No 1", "Refund", "ЧЕК АНУЛЬОВАНО", "ФІСКАЛЬНИЙ ЧЕК No 1", "#7", "2.50 В", "*** КОПІЯ ***",
          "|||| 4820000000017 ||||", "note", "[display 0: Total 2.50]", "[drawer opened]"})
        EXPECT_NE(tape.find(line), std::string::npos) << line << "\n" << tape;
}
