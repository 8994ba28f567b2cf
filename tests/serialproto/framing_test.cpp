#include <gtest/gtest.h>

#include "serialproto/framing.h"

using namespace serialproto;
using Bytes = std::vector<std::uint8_t>;

static Bytes Frame(std::uint8_t seq, const Bytes& req)
{
    std::uint8_t out[kFrameBuffer];
    const std::size_t n = BuildFrame(seq, req.data(), req.size(), out);
    return Bytes(out, out + n);
}

TEST(Framing, BuildsFramesWithNegatedChecksum)
{
    EXPECT_EQ(Frame(0x00, {0x00}), (Bytes{0x10, 0x02, 0x00, 0x00, 0x00, 0x10, 0x03}));
    EXPECT_EQ(Frame(0x05, {0x01}), (Bytes{0x10, 0x02, 0x05, 0x01, 0xFA, 0x10, 0x03}));
    EXPECT_EQ(Frame(0x07, {0x01}), (Bytes{0x10, 0x02, 0x07, 0x01, 0xF8, 0x10, 0x03}));
    // A sale of 2.000 x 15.50 "Milk" with sequence 0x0F.
    const Bytes sale{0x14, 0xD0, 0x07, 0x00, 0x03, 0x0E, 0x06, 0x00, 0x00, 0x80, 0x04,
                     0x4D, 0x69, 0x6C, 0x6B, 0x7B, 0x00, 0x00, 0x00, 0x00, 0x00};
    Bytes expected{0x10, 0x02, 0x0F};
    expected.insert(expected.end(), sale.begin(), sale.end());
    expected.insert(expected.end(), {0x63, 0x10, 0x03});
    EXPECT_EQ(Frame(0x0F, sale), expected);
}

TEST(Framing, DoublesDleInSequenceDataAndChecksum)
{
    // Sequence 0x10: doubled, and the command code moves to offset 4.
    const Bytes seq10 = Frame(0x10, {0x01});
    EXPECT_EQ(seq10, (Bytes{0x10, 0x02, 0x10, 0x10, 0x01, 0xEF, 0x10, 0x03}));
    EXPECT_EQ(CommandOffset(seq10.data()), 4u);
    // Checksum 0x10 (0xF0 + 0x10 = 0x100).
    EXPECT_EQ(Frame(0x00, {0xF0}), (Bytes{0x10, 0x02, 0x00, 0xF0, 0x10, 0x10, 0x10, 0x03}));
    // Data 0x10 (the deposit command code) doubled.
    EXPECT_EQ(Frame(0x01, {0x10, 0x05}), (Bytes{0x10, 0x02, 0x01, 0x10, 0x10, 0x05, 0xEA, 0x10, 0x03}));
}

TEST(Framing, RefusesFramesReaching512Bytes)
{
    std::uint8_t out[kFrameBuffer];
    const Bytes dles(254, 0x10); // 3 + 508 = 511 bytes of header and data
    EXPECT_GT(BuildFrame(0, dles.data(), dles.size(), out), 0u);
    const Bytes more(255, 0x10);
    EXPECT_EQ(BuildFrame(0, more.data(), more.size(), out), 0u);
    EXPECT_EQ(BuildFrame(0, nullptr, 0, out), 0u);
}

TEST(Framing, ExtraBlockCarriesAtMost64BytesAndTheirChecksum)
{
    Bytes data(100);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    std::uint8_t out[kExtraBlock + 1];
    ASSERT_EQ(BuildExtraBlock(data.data(), data.size(), out), 65u);
    std::uint8_t sum = 0;
    for (auto b : out) sum = static_cast<std::uint8_t>(sum + b);
    EXPECT_EQ(sum, 0);
    ASSERT_EQ(BuildExtraBlock(data.data(), 2, out), 3u);
    EXPECT_EQ(out[2], static_cast<std::uint8_t>(0u - (data[0] + data[1])));
}

TEST(Framing, StatusBitsGiveErrorsInFixedOrder)
{
    EXPECT_EQ(StatusResult(0x00, 0xFF), fpresult::kOk);
    EXPECT_EQ(StatusResult(0x01, 0x00), fpresult::kOk);
    EXPECT_EQ(StatusResult(0x01, 0x01), FPE_NOT_READY);
    EXPECT_EQ(StatusResult(0x01, 0xFF), FPE_MODEM);
    EXPECT_EQ(StatusResult(0x01, 0x91), FPE_DISPLAY);
    EXPECT_EQ(StatusResult(0x01, 0x30), FPE_DUTY_OVERTIME);
    EXPECT_EQ(StatusResult(0x01, 0x81), FPE_BAD_COMMAND);
}
