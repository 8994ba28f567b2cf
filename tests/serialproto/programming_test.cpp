#include <gtest/gtest.h>

#include "serialproto/programming.h"

using namespace serialproto;
using Bytes = std::vector<std::uint8_t>;

static Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
static Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Every failed check sends nothing: the request is left empty.
template <typename Encode>
void ExpectInvalid(Encode encode)
{
    Request out{1, 2, 3};
    EXPECT_EQ(encode(out), fpresult::kInvalidArg);
    EXPECT_TRUE(out.empty());
}
#define EXPECT_INVALID(call) ExpectInvalid(call)

TEST(Programming, DateAndTimeForms)
{
    Request r;
    ASSERT_EQ(EncodeSetDate("24/07/16", r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x02, 0x24, 0x07, 0x16}));
    ASSERT_EQ(EncodeSetTime("09:05:59", r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x04, 0x09, 0x05, 0x59}));
    for (const char* bad : {"", "24/07/161", "24/07/1", "24:07:16", "2a/07/16", "24-07-16", " 4/07/16"})
        EXPECT_INVALID([&](Request& o) { return EncodeSetDate(bad, o); });
    EXPECT_INVALID([](Request& o) { return EncodeSetTime("09/05/59", o); });
}

TEST(Programming, UsersAndPasswords)
{
    Request r;
    ASSERT_EQ(EncodeChangePassword(2, 0x1234, 0x0506, "", r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x05, 0x34, 0x12, 2, 0x06, 0x05, 0}));
    ASSERT_EQ(EncodeChangePassword(255, -1, 1, std::string(20, 'n'), r), fpresult::kOk);
    EXPECT_EQ(r, Cat(Bytes{0x05, 0xFF, 0xFF, 255, 1, 0, 15}, Bytes(15, 'n')));

    ASSERT_EQ(EncodeLogin(1, 7, "", r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x06, 7, 0, 1, 0xFF}));
    ASSERT_EQ(EncodeLogin(1, 7, "Ann\n", r), fpresult::kOk);
    EXPECT_EQ(r, Cat(Bytes{0x06, 7, 0, 1, 4}, Text("Ann ")));
    ASSERT_EQ(EncodeLogout(3, 7, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x06, 7, 0, 3, 0}));

    // The user's field is one byte: nothing outside 0 to 255 is sent cut to it.
    for (std::int32_t id : {-1, 256, 32767}) {
        EXPECT_INVALID([&](Request& o) { return EncodeChangePassword(id, 0, 0, "", o); });
        EXPECT_INVALID([&](Request& o) { return EncodeLogin(id, 0, "", o); });
        EXPECT_INVALID([&](Request& o) { return EncodeLogout(id, 0, o); });
    }
}

TEST(Programming, FiscalNumberAndTaxPayerHeader)
{
    Request r;
    ASSERT_EQ(EncodeSetFiscalNumber(1, "1234567890", r), fpresult::kOk);
    EXPECT_EQ(r, Cat(Bytes{0x15, 1, 0}, Text("1234567890")));
    EXPECT_INVALID([](Request& o) { return EncodeSetFiscalNumber(1, "123456789", o); });

    const std::string tax = "123456789012";
    // Format 0x10: Info1 double width, cut to 18; Info2 empty (no flags without text).
    ASSERT_EQ(EncodeSetTaxPayerInfo(1, tax, std::string(30, 'a'), "", "c", 0x10 | 0x0C | 0x80, r), fpresult::kOk);
    EXPECT_EQ(r, Cat(Cat(Cat(Bytes{0x16, 1, 0, 0x40 | 18}, Bytes(18, 'a')), Bytes{0, 1, 'c', 0x8C}), Text(tax)));

    // Format 0x40 gives no line a flag; every line then takes 24 characters, and the
    // longest request is 91 bytes.
    const std::string l(40, 'x');
    ASSERT_EQ(EncodeSetTaxPayerInfo(1, tax, l, l, l, 0x40, r), fpresult::kOk);
    EXPECT_EQ(r.size(), 91u);
    EXPECT_EQ(r[3], 24);
    EXPECT_EQ(r[28], 24);
    EXPECT_EQ(r[53], 24);
    EXPECT_EQ(r[78], 0x0C);
    // Double height alone keeps 24 characters; Info3 takes bits 0 and 1.
    ASSERT_EQ(EncodeSetTaxPayerInfo(1, tax, "", "", l, 0x02, r), fpresult::kOk);
    EXPECT_EQ(r[5], 0x80 | 24);

    EXPECT_INVALID([&](Request& o) { return EncodeSetTaxPayerInfo(1, "12345678901", "", "", "", 0, o); });
}

TEST(Programming, ReceiptHeaderLine)
{
    Request r;
    ASSERT_EQ(EncodeSetCheckCaption(3, std::string(30, 'h'), true, false, r), fpresult::kOk);
    EXPECT_EQ(r, Cat(Bytes{0x17, 3, 0x54}, Bytes(20, 'h')));
    ASSERT_EQ(EncodeSetCheckCaption(7, std::string(40, 'h'), false, true, r), fpresult::kOk);
    EXPECT_EQ(r.size(), 3u + 36u);
    EXPECT_EQ(r[2], 0x80 | 36);
    ASSERT_EQ(EncodeSetCheckCaption(0, "", true, true, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x17, 0, 0}));
    EXPECT_INVALID([](Request& o) { return EncodeSetCheckCaption(8, "x", false, false, o); });
    EXPECT_INVALID([](Request& o) { return EncodeSetCheckCaption(-1, "x", false, false, o); });
}

TEST(Programming, TaxTableLayoutAndRanges)
{
    TaxTableData t;
    t.Count = 2;
    t.TaxRate[0] = 2000;
    t.TaxRate[1] = 700;
    t.Flags = 0x122; // low byte only
    t.FeeRate[0] = 150;
    t.FeeRate[1] = -1;
    t.FeeRate[5] = 0x0102;
    t.TaxRate[2] = 70000; // beyond Count: not sent, not checked
    Request r;
    ASSERT_EQ(EncodeSetTaxData(0x0A0B, t, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x19, 0x0B, 0x0A, 2, 0xD0, 0x07, 0xBC, 0x02, 0x22, 0x96, 0x00, 0xFF, 0xFF, 0x02, 0x01}));
    EXPECT_EQ(r.size() - 1, 14u);

    // Without flag 0x20 no fee is sent, whatever it holds.
    t.Flags = 0x02;
    t.FeeRate[0] = 70000;
    ASSERT_EQ(EncodeSetTaxData(0, t, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x19, 0, 0, 2, 0xD0, 0x07, 0xBC, 0x02, 0x02}));
    t.Count = 0;
    ASSERT_EQ(EncodeSetTaxData(0, t, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x19, 0, 0, 0, 0x02}));

    // Values that do not survive their 16 bits (and are read back signed) are refused.
    const auto refused = [](TaxTableData bad) {
        EXPECT_INVALID([&](Request& o) { return EncodeSetTaxData(0, bad, o); });
    };
    TaxTableData base;
    base.Count = 5;
    base.Flags = 0x20;
    TaxTableData b = base;
    b.TaxRate[4] = 70000;
    refused(b);
    b = base;
    b.TaxRate[0] = 32768;
    refused(b);
    b = base;
    b.FeeRate[2] = -32769;
    refused(b);
    b = base;
    b.FeeRate[5] = 65536;
    refused(b);
    b = base;
    b.Count = 6;
    refused(b);
    b.Count = -1;
    refused(b);
    b = base;
    b.TaxRate[0] = 32767;
    b.FeeRate[4] = -32768;
    EXPECT_EQ(EncodeSetTaxData(0, b, r), fpresult::kOk);
    EXPECT_EQ(r.size(), 1u + 2u + 1u + 10u + 1u + 10u + 2u);
}

TEST(Programming, ArticleTable)
{
    ProgrammedArticle a;
    a.Code = 0x01020304;
    a.Price = -150;
    a.TaxType = 129;
    a.Name = "Tea";
    a.CountFormat = 0xC3; // bits 0 to 5 only
    a.CodeEx = 0x0506;
    Request r;
    ASSERT_EQ(EncodeProgramArticle(9, a, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x22, 9, 0, 0x03, 0x96, 0x00, 0x00, 0x80, 129, 3, 'T', 'e', 'a', 4, 3, 2, 1, 6, 5}));
    a.Name.clear();
    ASSERT_EQ(EncodeProgramArticle(9, a, r), fpresult::kOk);
    EXPECT_EQ(r[9], 0);
    a.Name = std::string(80, 'n');
    ASSERT_EQ(EncodeProgramArticle(9, a, r), fpresult::kOk);
    EXPECT_EQ(r[9], 75);
    EXPECT_EQ(r.size(), 10u + 75u + 6u);

    const auto refused = [](ProgrammedArticle bad) {
        EXPECT_INVALID([&](Request& o) { return EncodeProgramArticle(0, bad, o); });
    };
    ProgrammedArticle b = a;
    b.TaxType = 127;
    refused(b);
    b.TaxType = 134;
    refused(b);
    b = a;
    b.CodeEx = 65536;
    refused(b);
    b.CodeEx = -1;
    refused(b);
    b = a;
    b.Price = INT32_MIN;
    refused(b);
    b = a;
    b.CountFormat = -32768;
    refused(b);
    b.CountFormat = 0x103;
    refused(b);
}

TEST(Programming, ServiceCommands)
{
    Request r;
    const std::pair<std::int32_t, std::uint8_t> speeds[] = {{9600, 0}, {19200, 1}, {38400, 2}};
    for (const auto& s : speeds) {
        ASSERT_EQ(EncodeChangeBitrate(s.first, r), fpresult::kOk);
        EXPECT_EQ(r, (Bytes{0x26, s.second}));
    }
    for (std::int32_t bad : {57600, 0, 115200, -9600})
        EXPECT_INVALID([&](Request& o) { return EncodeChangeBitrate(bad, o); });

    ASSERT_EQ(EncodeSetPayTypeName(1, 9, "Voucher", r), fpresult::kOk);
    EXPECT_EQ(r, Cat(Bytes{0x32, 1, 0, 9, 7}, Text("Voucher")));
    ASSERT_EQ(EncodeSetPayTypeName(1, 0, std::string(20, 'c'), r), fpresult::kOk);
    EXPECT_EQ(r[4], 15);
    for (std::int32_t bad : {3, 10, -1, 64})
        EXPECT_INVALID([&](Request& o) { return EncodeSetPayTypeName(1, bad, "x", o); });

    ASSERT_EQ(EncodePersonalize(0x0102, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x34, 0x02, 0x01}));
    EncodePrintVersion(r);
    EXPECT_EQ(r, Bytes{0x20});
    EncodeAlterOnlineMode(r);
    EXPECT_EQ(r, Bytes{0x24});
    EncodeAlterCutterMode(r);
    EXPECT_EQ(r, Bytes{0x2E});
}
