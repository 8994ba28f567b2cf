#include <gtest/gtest.h>

#include <cstring>

#include "serialproto/commands.h"

using namespace serialproto;
using Bytes = std::vector<std::uint8_t>;

TEST(Commands, DateAndTimeNeedExactlyThreeBytes)
{
    const std::uint8_t d[] = {0x24, 0x07, 0x16, 0x00};
    std::string text = "unchanged";
    EXPECT_EQ(DecodeDate(d, 3, text), fpresult::kOk);
    EXPECT_EQ(text, "24/07/16");
    EXPECT_EQ(DecodeTime(d, 3, text), fpresult::kOk);
    EXPECT_EQ(text, "24:07:16");
    EXPECT_EQ(DecodeDate(d, 4, text), FPE_PROTOCOL);
    EXPECT_EQ(DecodeTime(d, 2, text), FPE_PROTOCOL);
    // Every digit must be a decimal one: FF AB 10 is no date.
    const std::uint8_t bad[] = {0xFF, 0xAB, 0x10};
    text = "unchanged";
    EXPECT_EQ(DecodeDate(bad, 3, text), FPE_PROTOCOL);
    EXPECT_EQ(DecodeTime(bad, 3, text), FPE_PROTOCOL);
    const std::uint8_t lowDigit[] = {0x2A, 0x07, 0x16};
    EXPECT_EQ(DecodeDate(lowDigit, 3, text), FPE_PROTOCOL);
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(EncodeGetDate(), Bytes{0x01});
    EXPECT_EQ(EncodeGetTime(), Bytes{0x03});
    EXPECT_EQ(EncodeGetState(), Bytes{0x00});
}

static Bytes StateData()
{
    Bytes d(36, 0);
    d[0] = 0x34;
    d[1] = 0x12;
    std::memcpy(&d[2], "MODEL-1", 7);
    const std::uint8_t when[] = {0x15, 0x03, 0x24, 0x09, 0x30};
    std::memcpy(&d[21], when, 5);
    std::memcpy(&d[26], "FN00012345", 10);
    return d;
}

TEST(Commands, StateFixedPart)
{
    RegisterState s;
    s.TaxPayerInfo[1] = "old";
    ASSERT_EQ(DecodeGetState(StateData().data(), 36, s), fpresult::kOk);
    EXPECT_EQ(s.Value, 0x1234);
    EXPECT_EQ(s.PrinterInfo, "MODEL-1");
    EXPECT_EQ(s.FiscalInfo, "FN00012345 15/03/24 09:30");
    EXPECT_EQ(s.TaxPayerInfo[1], "");
    EXPECT_EQ(DecodeGetState(StateData().data(), 35, s), FPE_PROTOCOL);
}

TEST(Commands, StateTextsAndVersionTail)
{
    Bytes d = StateData();
    const auto add = [&](std::uint8_t prefix, const std::string& t) {
        d.push_back(prefix);
        d.insert(d.end(), t.begin(), t.end());
    };
    add(0xC3, "ABC"); // low 6 bits give the length
    add(0x02, "de");
    add(0x01, "f");
    add(0x04, "NUM1"); // fourth: the whole byte
    d.insert(d.end(), {'2', '.', '1'});
    RegisterState s;
    const auto lower = [](const std::string& x) {
        std::string y = x;
        for (auto& c : y) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return y;
    };
    ASSERT_EQ(DecodeGetState(d.data(), static_cast<std::int32_t>(d.size()), s, lower), fpresult::kOk);
    EXPECT_EQ(s.TaxPayerInfo[0], "abc");
    EXPECT_EQ(s.TaxPayerInfo[1], "de");
    EXPECT_EQ(s.TaxPayerInfo[2], "f");
    EXPECT_EQ(s.FiscalInfo, "FN00012345 15/03/24 09:30 num1");
    EXPECT_EQ(s.PrinterInfo, "MODEL-1 ver 2.1");

    // A prefix longer than what is left: protocol error, earlier texts kept.
    Bytes bad = StateData();
    bad.insert(bad.end(), {0x01, 'x', 0x05, 'y'});
    EXPECT_EQ(DecodeGetState(bad.data(), static_cast<std::int32_t>(bad.size()), s), FPE_PROTOCOL);
    EXPECT_EQ(s.TaxPayerInfo[0], "x");
}
