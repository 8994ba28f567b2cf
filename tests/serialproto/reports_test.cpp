#include <gtest/gtest.h>

#include <cstring>

#include "serialproto/reports.h"

using namespace serialproto;
using Bytes = std::vector<std::uint8_t>;

static void Put32(Bytes& d, std::size_t at, std::int32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
}

TEST(Reports, PasswordRequests) {
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

TEST(Reports, ArticleReportRangeOnlyWhenAnyCodeSet) {
    Request r;
    EncodePrintArtReport(0, 0, 0, 0, 0, r);
    EXPECT_EQ(r.size(), 3u);
    EncodePrintArtReport(0, 0, 5, 0, 0, r);
    EXPECT_EQ(r, (Bytes{0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0}));
}

TEST(Reports, ReportByDateChecksTheDates) {
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

TEST(Reports, ReadMemoryCountBounds) {
    Request r;
    EXPECT_EQ(EncodeReadMemory(0, 0, 0, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeReadMemory(0, 0, 129, r), fpresult::kInvalidArg);
    EXPECT_TRUE(r.empty());
    ASSERT_EQ(EncodeReadMemory(0x0203, 5, 128, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x1C, 3, 2, 5, 128}));
}

TEST(Reports, ScalarAnswers) {
    const std::uint8_t five[] = {1, 0, 0, 0, 1};
    double sum = 7;
    DecodeGetSafeSum(five, 5, sum);
    EXPECT_EQ(sum, 4294967297.0);
    DecodeGetSafeSum(five, 4, sum);
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
    EXPECT_EQ(DecodeTimeToBlock(t.data(), 167, s), FPE_MODEM);
    t[0] = 1;
    EXPECT_EQ(DecodeTimeToBlock(t.data(), 168, s), FPE_MODEM);
}

TEST(Reports, XReportLayout) {
    Bytes d(156, 0);
    d[0] = 0x34;
    d[1] = 0x12;
    Put32(d, 2, 1500);         // sales, group A
    Put32(d, 26 + 3 * 4, 2000);  // sales, cash
    Put32(d, 74, 99);          // SafePlus
    d[78] = 0x07;
    Put32(d, 80 + 5 * 4, -3);  // refund, group E
    Put32(d, 104 + 9 * 4, 42);  // refund, other 9
    Put32(d, 152, 11);         // SafeMinus
    XReportData x;
    ASSERT_EQ(DecodeXReport(d.data(), 156, x), fpresult::kOk);
    EXPECT_EQ(x.ChecksCount, 1234);
    EXPECT_EQ(x.ByTax.Sum[0], 1500);
    EXPECT_EQ(x.ByPay.Sum[3], 2000);
    EXPECT_EQ(x.SafePlus, 99);
    EXPECT_EQ(x.RefundChecksCount, 7);
    EXPECT_EQ(x.RefundByTax.Sum[5], -3);
    EXPECT_EQ(x.RefundByPay.Sum[9], 42);
    EXPECT_EQ(x.SafeMinus, 11);
    d.push_back(0);
    XReportData y;
    EXPECT_EQ(DecodeXReport(d.data(), 157, y), FPE_PROTOCOL);
    EXPECT_EQ(DecodeXReport(d.data(), 155, y), FPE_PROTOCOL);
    EXPECT_EQ(y.ChecksCount, 0);
}

TEST(Reports, CheckSumTotals) {
    Bytes d(70, 0);
    Put32(d, 0, 100);
    Put32(d, 20, 0x7FFFFFFF);
    Put32(d, 24 + 12, 250);
    CheckSumData c;
    ASSERT_EQ(DecodeCheckSum(d.data(), 70, c), fpresult::kOk);
    EXPECT_EQ(c.TotalSum, static_cast<std::int32_t>(0x80000063u));  // wraps
    EXPECT_EQ(c.PayedSum, 250);
    EXPECT_EQ(DecodeCheckSum(d.data(), 63, c), FPE_PROTOCOL);
}
