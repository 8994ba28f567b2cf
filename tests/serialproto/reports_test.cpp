#include <gtest/gtest.h>

#include <cstring>

#include "serialproto/reports.h"

using namespace serialproto;
using Bytes = std::vector<std::uint8_t>;

static void Put32(Bytes& d, std::size_t at, std::int32_t v)
{
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
}

TEST(Reports, PasswordRequests)
{
    Request r;
    ASSERT_EQ(EncodePrintXReport(0x1234, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x09, 0x34, 0x12}));
    ASSERT_EQ(EncodePrintZReport(-1, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x08, 0xFF, 0xFF}));
    ASSERT_EQ(EncodePrintReportById(1, 3, 0x0102, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x1F, 1, 0, 3, 0, 2, 1}));
    ASSERT_EQ(EncodeGetTimeToBlock(2, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x35, 2, 0, 1, 0, 4}));
    ASSERT_EQ(EncodeGetArticleInfo(0x01020304, 7, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x29, 4, 3, 2, 1, 7, 0}));
    EncodeGetXReport(r);
    EXPECT_EQ(r, Bytes{0x2A});
    EncodeGetCheckSum(r);
    EXPECT_EQ(r, Bytes{0x2B});
    EncodeGetSafeSum(r);
    EXPECT_EQ(r, Bytes{0x21});
}

TEST(Reports, ArticleReportRangeOnlyWhenAnyCodeSet)
{
    Request r;
    EncodePrintArtReport(0, 0, 0, 0, 0, r);
    EXPECT_EQ(r.size(), 3u);
    EncodePrintArtReport(0, 0, 5, 0, 0, r);
    EXPECT_EQ(r, (Bytes{0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0}));
}

TEST(Reports, ReportByDateChecksTheDates)
{
    Request r;
    ASSERT_EQ(EncodePrintReportByDate(0, "01/02/24", "31/12/24", false, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x11, 0, 0, 0x01, 0x02, 0x24, 0x31, 0x12, 0x24}));
    ASSERT_EQ(EncodePrintReportByDate(0, "01/02/24", "31/12/24", true, r), fpresult::kOk);
    EXPECT_EQ(r[0], 0x1A);
    for (const char* bad : {"", "1/02/24", "01/02/2a", "01-02-24", "01/02/245"}) {
        EXPECT_EQ(EncodePrintReportByDate(0, "01/02/24", bad, false, r), fpresult::kInvalidArg) << bad;
        EXPECT_TRUE(r.empty());
    }
}

TEST(Reports, ReadMemoryBounds)
{
    Request r;
    EXPECT_EQ(EncodeReadMemory(0, 0, 0, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeReadMemory(0, 0, 129, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeReadMemory(0, 256, 1, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeReadMemory(0, -1, 1, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeReadMemory(0x10000, 0, 1, r), fpresult::kInvalidArg);
    EXPECT_TRUE(r.empty());
    ASSERT_EQ(EncodeReadMemory(0x0203, 5, 128, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x1C, 3, 2, 5, 128}));
    ASSERT_EQ(EncodeReadMemory(-1, 255, 1, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x1C, 0xFF, 0xFF, 0xFF, 1}));
}

// 16-bit fields refuse what they cannot hold instead of sending another range.
TEST(Reports, SixteenBitFieldsRefuseWiderValues)
{
    Request r;
    EXPECT_EQ(EncodePrintReportById(0, 0x10000, 1, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodePrintReportById(0, 1, -1, r), fpresult::kInvalidArg);
    EXPECT_TRUE(r.empty());
    ASSERT_EQ(EncodePrintReportById(0, 0, 0xFFFF, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x1F, 0, 0, 0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(EncodePrintArtReport(0, 1, 2, 0x10000, 0, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodePrintArtReport(0, 1, 2, 0, -1, r), fpresult::kInvalidArg);
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(EncodeGetArticleInfo(1, 65536, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeGetArticleInfo(1, -1, r), fpresult::kInvalidArg);
    EXPECT_TRUE(r.empty());
    ASSERT_EQ(EncodeGetArticleInfo(1, 65535, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x29, 1, 0, 0, 0, 0xFF, 0xFF}));
    EncodeGetTaxData(r);
    EXPECT_EQ(r, Bytes{0x2C});
}

TEST(Reports, ScalarAnswers)
{
    const std::uint8_t five[] = {1, 0, 0, 0, 1};
    double sum = 7;
    DecodeGetSafeSum(five, 5, sum);
    EXPECT_EQ(sum, 4294967297.0);
    EXPECT_EQ(DecodeGetSafeSum(five, 4, sum), FPE_PROTOCOL);
    EXPECT_EQ(sum, 0.0);
    EXPECT_EQ(DecodeZReportResult(five, 4), 1);
    EXPECT_EQ(DecodeZReportResult(five, 3), 0);

    Bytes t(168, 0);
    std::int32_t s = 0;
    Put32(t, 16, -1);
    ASSERT_EQ(DecodeTimeToBlock(t.data(), 168, s), fpresult::kOk);
    EXPECT_EQ(s, 259200);
    Put32(t, 16, 1000);
    Put32(t, 164, 200);
    ASSERT_EQ(DecodeTimeToBlock(t.data(), 168, s), fpresult::kOk);
    EXPECT_EQ(s, 260000);
    // Far apart values stay in range instead of wrapping round.
    Put32(t, 16, 0x7FFFFFFF);
    Put32(t, 164, -0x7FFFFFFF);
    ASSERT_EQ(DecodeTimeToBlock(t.data(), 168, s), fpresult::kOk);
    EXPECT_EQ(s, 0x7FFFFFFF);
    Put32(t, 16, 0);
    Put32(t, 164, 0x7FFFFFFF);
    ASSERT_EQ(DecodeTimeToBlock(t.data(), 168, s), fpresult::kOk);
    EXPECT_EQ(s, 259200 - 0x7FFFFFFF);
    EXPECT_EQ(DecodeTimeToBlock(t.data(), 167, s), FPE_MODEM);
    t[0] = 1;
    EXPECT_EQ(DecodeTimeToBlock(t.data(), 168, s), FPE_MODEM);
}

TEST(Reports, XReportLayout)
{
    Bytes d(156, 0);
    d[0] = 0x34;
    d[1] = 0x12;
    Put32(d, 2, 1500);          // sales, group A
    Put32(d, 26 + 3 * 4, 2000); // sales, cash
    Put32(d, 66, 5);            // MarkUp
    Put32(d, 70, 6);            // Discount
    Put32(d, 74, 99);           // SafePlus
    d[78] = 0x07;
    Put32(d, 80 + 5 * 4, -3);  // refund, group E
    Put32(d, 104 + 9 * 4, 42); // refund, other 9
    Put32(d, 144, 8);          // RefundMarkUp
    Put32(d, 148, 9);          // RefundDiscount
    Put32(d, 152, 11);         // SafeMinus
    XReportData x;
    ASSERT_EQ(DecodeXReport(d.data(), 156, x), fpresult::kOk);
    EXPECT_EQ(x.ChecksCount, 1234);
    EXPECT_EQ(x.ByTax.Sum[0], 1500);
    EXPECT_EQ(x.ByPay.Sum[3], 2000);
    EXPECT_EQ(x.MarkUp, 5);
    EXPECT_EQ(x.Discount, 6);
    EXPECT_EQ(x.SafePlus, 99);
    EXPECT_EQ(x.RefundChecksCount, 7);
    EXPECT_EQ(x.RefundByTax.Sum[5], -3);
    EXPECT_EQ(x.RefundByPay.Sum[9], 42);
    EXPECT_EQ(x.RefundMarkUp, 8);
    EXPECT_EQ(x.RefundDiscount, 9);
    EXPECT_EQ(x.SafeMinus, 11);
    d.push_back(0);
    XReportData y;
    EXPECT_EQ(DecodeXReport(d.data(), 157, y), FPE_PROTOCOL);
    EXPECT_EQ(DecodeXReport(d.data(), 155, y), FPE_PROTOCOL);
    EXPECT_EQ(y.ChecksCount, 0);
}

TEST(Reports, CheckSumTotals)
{
    Bytes d(70, 0);
    Put32(d, 0, 100);
    Put32(d, 20, 0x7FFFFFFF);
    Put32(d, 24 + 12, 250);
    CheckSumData c;
    ASSERT_EQ(DecodeCheckSum(d.data(), 70, c), fpresult::kOk);
    EXPECT_EQ(c.TotalSum, static_cast<std::int32_t>(0x80000063u)); // wraps
    EXPECT_EQ(c.PayedSum, 250);
    EXPECT_EQ(DecodeCheckSum(d.data(), 63, c), FPE_PROTOCOL);
}

TEST(Reports, ArticleInfoIsReadWholeOrNotAtAll)
{
    const Bytes full{3,    'T',  'e',  'a',  0x40, 0x42, 0x0F, 0x03, // count 1000000, format 3
                     0xEC, 0x04, 0,    0,                            // price 1260
                     0x81,                                           // group B
                     0xFF, 0xFF, 0xFF, 0xFF, 0xFF,                   // turnover 2^40 - 1, unsigned
                     0xFF, 0xFF, 0xFF, 0x02,                         // refund count 2^24 - 1, format 2
                     0x10, 0x27, 0,    0,    0};                     // refund turnover 10000
    ArticleInfoData a;
    DecodeArticleInfo(full.data(), static_cast<std::int32_t>(full.size()), a);
    EXPECT_TRUE(a.HasName);
    EXPECT_EQ(a.Name, "Tea");
    EXPECT_EQ(a.Count, 1000000);
    EXPECT_EQ(a.CountFormat, 3);
    EXPECT_EQ(a.Price, 1260);
    EXPECT_EQ(a.TaxType, 0x81);
    EXPECT_EQ(a.TurnoverSum, 1099511627775.0);
    EXPECT_EQ(a.RefundCount, 0xFFFFFF);
    EXPECT_EQ(a.RefundCountFormat, 2);
    EXPECT_EQ(a.RefundTurnoverSum, 10000.0);

    // Cut anywhere, the answer is a protocol error: no field of it is taken.
    for (std::int32_t n = 0; n < static_cast<std::int32_t>(full.size()); ++n) {
        ArticleInfoData b;
        EXPECT_EQ(DecodeArticleInfo(full.data(), n, b), FPE_PROTOCOL) << n;
        EXPECT_FALSE(b.HasName) << n;
        EXPECT_EQ(b.Count, 0) << n;
        EXPECT_EQ(b.Price, 0) << n;
    }
    // A name longer than the answer.
    Bytes longName = full;
    longName[0] = 200;
    ArticleInfoData e;
    EXPECT_EQ(DecodeArticleInfo(longName.data(), static_cast<std::int32_t>(longName.size()), e), FPE_PROTOCOL);

    // An empty name: the length byte is consumed and the count follows it.
    Bytes unnamed(full.begin() + 3, full.end());
    unnamed[0] = 0;
    ArticleInfoData c;
    ASSERT_EQ(DecodeArticleInfo(unnamed.data(), static_cast<std::int32_t>(unnamed.size()), c), fpresult::kOk);
    EXPECT_FALSE(c.HasName);
    EXPECT_EQ(c.Count, 1000000);
}

namespace {
Bytes TaxAnswer(std::uint8_t count, std::initializer_list<std::int16_t> rates, std::uint8_t flags,
                std::initializer_list<std::int16_t> fees)
{
    Bytes d{count, 0x15, 0x03, 0x24};
    for (auto v : rates) d.insert(d.end(), {std::uint8_t(v), std::uint8_t(std::uint16_t(v) >> 8)});
    d.push_back(flags);
    for (auto v : fees) d.insert(d.end(), {std::uint8_t(v), std::uint8_t(std::uint16_t(v) >> 8)});
    return d;
}
fpresult::Result Tax(const Bytes& d, TaxTableData& t)
{
    return DecodeTaxData(d.data(), static_cast<std::int32_t>(d.size()), t);
}
} // namespace

TEST(Reports, AnswersOfTheWrongLengthOrFormAreProtocolErrors)
{
    const Bytes big(249, 1);
    double sum = 7;
    for (std::int32_t n : {0, 4, 6, 249}) {
        sum = 7;
        EXPECT_EQ(DecodeGetSafeSum(big.data(), n, sum), FPE_PROTOCOL) << n;
        EXPECT_EQ(sum, 0.0) << n;
    }
    EXPECT_EQ(DecodeGetSafeSum(big.data(), 5, sum), fpresult::kOk);
    EXPECT_EQ(sum, 4311810305.0);

    EXPECT_EQ(CheckMemoryAnswer(4, 3), FPE_PROTOCOL);
    EXPECT_EQ(CheckMemoryAnswer(4, 249), FPE_PROTOCOL);
    EXPECT_EQ(CheckMemoryAnswer(4, 4), fpresult::kOk);

    // Receipt counters are BCD: FF FF is not 16665.
    Bytes x(156, 0);
    x[0] = 0xFF;
    x[1] = 0xFF;
    XReportData r;
    r.ChecksCount = 5;
    EXPECT_EQ(DecodeXReport(x.data(), 156, r), FPE_PROTOCOL);
    EXPECT_EQ(r.ChecksCount, 5);
    x[0] = 0x99;
    x[1] = 0x99;
    x[78] = 0x0A; // the refund counter
    EXPECT_EQ(DecodeXReport(x.data(), 156, r), FPE_PROTOCOL);
    x[78] = 0x09;
    ASSERT_EQ(DecodeXReport(x.data(), 156, r), fpresult::kOk);
    EXPECT_EQ(r.ChecksCount, 9999);

    // The tax table's date is BCD too.
    Bytes t = TaxAnswer(1, {2000}, 0x02, {});
    t[1] = 0xFF;
    t[2] = 0xAB;
    t[3] = 0x10;
    TaxTableData table;
    EXPECT_EQ(Tax(t, table), FPE_PROTOCOL);
    EXPECT_EQ(table.Date, "");
}

TEST(Reports, TaxTable)
{
    TaxTableData t;
    Bytes d = TaxAnswer(2, {2000, -700}, 0x22, {150, 250, 75}); // two fees, then E
    ASSERT_EQ(Tax(d, t), fpresult::kOk);
    EXPECT_EQ(t.Date, "15/03/24");
    EXPECT_EQ(t.Count, 2);
    EXPECT_EQ(t.TaxRate[0], 2000);
    EXPECT_EQ(t.TaxRate[1], -700);
    EXPECT_EQ(t.Flags, 0x22);
    EXPECT_EQ(t.FeeRate[0], 150);
    EXPECT_EQ(t.FeeRate[1], 250);
    EXPECT_EQ(t.FeeRate[5], 75);

    // Three bytes after the fee rates: group E's fee is not read.
    d.push_back(0);
    TaxTableData u;
    ASSERT_EQ(Tax(d, u), fpresult::kOk);
    EXPECT_EQ(u.FeeRate[5], 0);

    // Without the fee flag nothing after the flags is read; count 0 clears rate A.
    TaxTableData v;
    ASSERT_EQ(Tax(TaxAnswer(0, {}, 0x02, {1, 2}), v), fpresult::kOk);
    EXPECT_EQ(v.TaxRate[0], 0);
    for (auto f : v.FeeRate) EXPECT_EQ(f, 0);

    // Five rates is the most; a count of 6 and answers cut inside a field fail, and
    // the record keeps what it had.
    TaxTableData w;
    ASSERT_EQ(Tax(TaxAnswer(5, {1, 2, 3, 4, 5}, 0, {}), w), fpresult::kOk);
    EXPECT_EQ(w.TaxRate[4], 5);
    TaxTableData x;
    EXPECT_EQ(Tax(TaxAnswer(6, {1, 2, 3, 4, 5, 6}, 0, {}), x), FPE_PROTOCOL);
    const Bytes good = TaxAnswer(2, {2000, 700}, 0x20, {100, 200});
    for (std::size_t n : {std::size_t(3), std::size_t(5), std::size_t(8), std::size_t(10), std::size_t(11)}) {
        Bytes cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_EQ(Tax(cut, x), FPE_PROTOCOL) << n;
    }
    EXPECT_EQ(x.Count, 2);
    EXPECT_EQ(x.TaxRate[0], 2000);
    EXPECT_EQ(x.Flags, 0x22);
    EXPECT_TRUE(x.Date.empty());
}
