#include <gtest/gtest.h>

#include "serialproto/receipt.h"

using namespace serialproto;
using Bytes = std::vector<std::uint8_t>;

static Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
static Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Receipt, SaleRequestBytes)
{
    Article a;
    a.Code = 123;
    a.Count = 2000;
    a.Price = 1550;
    a.TaxType = 128;
    a.Name = "Milk";
    a.CountFormat = 3;
    Request r;
    ASSERT_EQ(EncodeArticle(a, false, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x14, 0xD0, 0x07, 0x00, 0x03, 0x0E, 0x06, 0x00, 0x00, 0x80, 0x04,
                        'M',  'i',  'l',  'k',  0x7B, 0x00, 0x00, 0x00, 0x00, 0x00}));

    // Refund: same layout, code 0x0B; negative count and price, empty name, CodeEx.
    a.Count = -5;
    a.Price = -100;
    a.Name.clear();
    a.TaxType = 133;
    a.CodeEx = 0x1234;
    ASSERT_EQ(EncodeArticle(a, true, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x0B, 0xFB, 0xFF, 0xFF, 0x03, 0x64, 0x00, 0x00, 0x80, 0x85, 0xFF, 0x7B, 0x00, 0x00, 0x00, 0x34,
                        0x12}));

    // Long names are cut to 75; control bytes become spaces.
    a.Name = std::string(80, 'x');
    a.Name[0] = '\t';
    ASSERT_EQ(EncodeArticle(a, false, r), fpresult::kOk);
    ASSERT_EQ(r.size(), 17u + 75u);
    EXPECT_EQ(r[10], 75);
    EXPECT_EQ(r[11], ' ');
}

TEST(Receipt, SaleFormatByteAndChecks)
{
    Article a;
    a.Count = 1000;
    a.CountFormat = 0x83;
    Request r;
    ASSERT_EQ(EncodeArticle(a, false, r), fpresult::kOk);
    EXPECT_EQ(r[4], 0x83); // one whole unit keeps bit 7
    a.Count = 2000;
    ASSERT_EQ(EncodeArticle(a, false, r), fpresult::kOk);
    EXPECT_EQ(r[4], 0x03);

    const auto invalid = [&](Article bad) {
        Request out{1, 2};
        EXPECT_EQ(EncodeArticle(bad, false, out), fpresult::kInvalidArg);
        EXPECT_TRUE(out.empty());
    };
    Article b = a;
    b.Count = 0;
    invalid(b);
    b.Count = 16777216;
    invalid(b);
    b.Count = -16777216;
    invalid(b);
    b = a;
    b.TaxType = 127;
    invalid(b);
    b.TaxType = 134;
    invalid(b);
    b = a;
    b.CodeEx = 65536;
    invalid(b);
    b.CodeEx = -1;
    invalid(b);
    b = a;
    b.Price = INT32_MIN;
    invalid(b); // no sign-magnitude form
    // A format that does not fit its byte would be cut to another one (-32768 to 00, a
    // thousand units booked for one).
    b = a;
    b.CountFormat = -32768;
    invalid(b);
    b.CountFormat = 0x183;
    invalid(b);
    b.CountFormat = -1;
    invalid(b);
    b = a;
    b.Count = 16777215;
    b.Price = 0x7FFFFFFF;
    Request ok;
    EXPECT_EQ(EncodeArticle(b, false, ok), fpresult::kOk);
}

TEST(Receipt, DiscountValueField)
{
    Request r;
    ASSERT_EQ(EncodeGiveDiscount(500, false, false, "Sale", 2, r), fpresult::kOk);
    EXPECT_EQ(r, Cat(Bytes{0x31, 0x00, 0xF4, 0x01, 0x00, 0x82, 4}, Text("Sale")));
    ASSERT_EQ(EncodeGiveDiscount(-500, true, true, "", 0, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x31, 0x03, 0xF4, 0x01, 0x00, 0x00, 0}));
    ASSERT_EQ(EncodeGiveDiscount(7, true, false, std::string(30, 'd'), 0x7F, r), fpresult::kOk);
    EXPECT_EQ(r[1], 2);
    EXPECT_EQ(r[5], 0xFF); // sign plus the low 7 bits of the format
    EXPECT_EQ(r[6], 25);
    EXPECT_EQ(r.size(), 7u + 25u);

    EXPECT_EQ(EncodeGiveDiscount(0, false, true, "", 0, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeGiveDiscount(0x1000000, false, false, "", 0, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeGiveDiscount(0x1000000, false, true, "", 0, r), fpresult::kOk);
    EXPECT_EQ(EncodeGiveDiscount(INT32_MIN, false, true, "", 0, r), fpresult::kInvalidArg);
}

TEST(Receipt, PaymentCommentAndSafe)
{
    Request r;
    ASSERT_EQ(EncodePayCheck(3, 10000, "Cash", r), fpresult::kOk);
    EXPECT_EQ(r, Cat(Bytes{0x12, 3, 0x10, 0x27, 0, 0, 0, 4}, Text("Cash")));
    ASSERT_EQ(EncodePayCheck(64, -1, std::string(40, 'p'), r), fpresult::kOk);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 8), (Bytes{0x12, 64, 0xFF, 0xFF, 0xFF, 0xFF, 0, 27}));

    ASSERT_EQ(EncodeCommentCheck("a\nb", false, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x0D, 3, 'a', ' ', 'b'}));
    ASSERT_EQ(EncodeCommentCheck(std::string(30, 'c'), true, r), fpresult::kOk);
    EXPECT_EQ(r[1], 0x80 | 27);
    EXPECT_EQ(r.size(), 2u + 27u);

    ASSERT_EQ(EncodeChangeSafeSum(1000, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x10, 0xE8, 0x03, 0, 0}));
    ASSERT_EQ(EncodeChangeSafeSum(-1000, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x18, 0xE8, 0x03, 0, 0}));
    ASSERT_EQ(EncodeChangeSafeSum(INT32_MIN, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x18, 0, 0, 0, 0x80}));
    EXPECT_EQ(EncodeChangeSafeSum(0, r), fpresult::kInvalidArg);

    ASSERT_EQ(EncodeDisplayString(1, std::string(25, 'z'), r), fpresult::kOk);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 3), (Bytes{0x1B, 1, 20}));
    EXPECT_EQ(r.size(), 23u);
    EXPECT_EQ(EncodeDisplayString(2, "x", r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeDisplayString(-1, "x", r), fpresult::kInvalidArg);

    ASSERT_EQ(EncodeLineFeed(r), fpresult::kOk);
    EXPECT_EQ(r, Bytes{0x0E});
    ASSERT_EQ(EncodeCancelCheck(r), fpresult::kOk);
    EXPECT_EQ(r, Bytes{0x0F});
    ASSERT_EQ(EncodeOpenSafe(r), fpresult::kOk);
    EXPECT_EQ(r, Bytes{0x1D});
    ASSERT_EQ(EncodePrintCopy(0x01020304, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x1E, 4, 3, 2, 1}));
}

TEST(Receipt, BarcodesQrAndComments)
{
    Request r;
    ASSERT_EQ(EncodePrintBarcode("", r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x23, 0}));
    ASSERT_EQ(EncodePrintBarcode("4820000000017", r), fpresult::kOk);
    EXPECT_EQ(r, Cat(Bytes{0x23}, Text("4820000000017")));
    EXPECT_EQ(EncodePrintBarcode("482000000001", r), fpresult::kInvalidArg);

    ASSERT_EQ(EncodeSetCheckBarcode("AB", r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x2F, 2, 'A', 'B'}));
    EXPECT_EQ(EncodeSetCheckBarcode("A", r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeSetCheckBarcode(std::string(17, 'A'), r), fpresult::kInvalidArg);

    ASSERT_EQ(EncodePrintQR(std::string(274, 'q'), r), fpresult::kOk);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 3), (Bytes{0x37, 0x12, 0x01}));
    EXPECT_EQ(r.size(), 277u);
    EXPECT_EQ(EncodePrintQR(std::string(7, 'q'), r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodePrintQR(std::string(275, 'q'), r), fpresult::kInvalidArg);

    ASSERT_EQ(EncodePrintComment("", r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x28, 0xFF}));
    ASSERT_EQ(EncodePrintComment(std::string(40, 'k'), r), fpresult::kOk);
    EXPECT_EQ(r[1], 37);
    ASSERT_EQ(EncodePrintCommentBarcode("12", r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x28, 0xFE, 2, '1', '2'}));
    ASSERT_EQ(EncodePrintCommentBarcode("", r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x28, 0xFF}));
}

TEST(Receipt, AnswerDecoding)
{
    const std::uint8_t d[] = {0x64, 0, 0, 0x80, 0xF6, 0xFF, 0xFF, 0xFF};
    AmountAnswer a = DecodePayAnswer(d, 8);
    EXPECT_EQ(a.TotalSum, -100);
    EXPECT_EQ(a.Result, -10);
    a = DecodeArticleAnswer(d, 8);
    EXPECT_EQ(a.Result, static_cast<std::int32_t>(0x80000064u));
    EXPECT_EQ(a.TotalSum, -10);
    a = DecodeDiscountAnswer(d, 8);
    EXPECT_EQ(a.Result, -100);
    EXPECT_EQ(a.TotalSum, -10);
    // Short answers leave the missing values 0.
    a = DecodePayAnswer(d, 7);
    EXPECT_EQ(a.TotalSum, -100);
    EXPECT_EQ(a.Result, 0);
    a = DecodeArticleAnswer(d, 3);
    EXPECT_EQ(a.Result, 0);
    EXPECT_EQ(a.TotalSum, 0);
    EXPECT_EQ(DecodeSafeSum(d, 4), static_cast<std::int32_t>(0x80000064u));
    EXPECT_EQ(DecodeSafeSum(d, 3), 0);
    EXPECT_EQ(DecodeSafeSum(nullptr, 8), 0);
}

TEST(Receipt, ArgumentsThatDoNotFitTheirFieldAreRefused)
{
    Request r{1, 2, 3};
    // The percent format has 7 bits; masked, 200 would make the discount 100 times the
    // percent meant.
    EXPECT_EQ(EncodeGiveDiscount(500, false, false, "", -32768, r), fpresult::kInvalidArg);
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(EncodeGiveDiscount(500, false, false, "", 200, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeGiveDiscount(500, false, false, "", 128, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeGiveDiscount(500, false, false, "", -1, r), fpresult::kInvalidArg);
    EXPECT_EQ(EncodeGiveDiscount(500, false, false, "", 127, r), fpresult::kOk);
    EXPECT_EQ(EncodeGiveDiscount(500, false, true, "", 200, r), fpresult::kOk); // not sent in sum mode
    // Pay types: 0 to 9 and 64 (non-fiscal).
    for (int type : {-1, 10, 63, 65, 255, 256, 0x10003}) {
        r = {1};
        EXPECT_EQ(EncodePayCheck(type, 100, "", r), fpresult::kInvalidArg) << type;
        EXPECT_TRUE(r.empty());
    }
    for (int type : {0, 3, 9, 64}) EXPECT_EQ(EncodePayCheck(type, 100, "", r), fpresult::kOk) << type;
}

TEST(Receipt, AmountAnswersMustCarryBothValues)
{
    const std::uint8_t d[] = {0x64, 0, 0, 0x80, 0xF6, 0xFF, 0xFF, 0xFF};
    for (std::int32_t n = 0; n < 8; ++n) {
        EXPECT_FALSE(DecodeArticleAnswer(d, n).Complete) << n;
        EXPECT_FALSE(DecodePayAnswer(d, n).Complete) << n;
        EXPECT_FALSE(DecodeDiscountAnswer(d, n).Complete) << n;
    }
    EXPECT_TRUE(DecodeArticleAnswer(d, 8).Complete);
    EXPECT_TRUE(DecodePayAnswer(d, 8).Complete);
    EXPECT_TRUE(DecodeDiscountAnswer(d, 8).Complete);
    EXPECT_FALSE(DecodeArticleAnswer(nullptr, 8).Complete);

    std::int32_t safe = 7;
    EXPECT_EQ(DecodeSafeSum(d, 3, safe), FPE_PROTOCOL);
    EXPECT_EQ(safe, 7);
    EXPECT_EQ(DecodeSafeSum(d, 4, safe), fpresult::kOk);
    EXPECT_EQ(safe, static_cast<std::int32_t>(0x80000064u));
}
