#include <gtest/gtest.h>

#include <climits>

#include "tests/support/serial/fake_port.h"
#include "serialproto/link.h"
#include "serialproto/logo.h"

using namespace serialproto;
using fake::Bytes;

namespace {

LogoSize Target(std::int32_t w, std::int32_t h, std::int32_t pw, std::int32_t ph)
{
    LogoSize s;
    EXPECT_EQ(LogoTargetSize(w, h, pw, ph, s), fpresult::kOk);
    return s;
}

const Rgb kBlack{0, 0, 0};
const Rgb kWhite{255, 255, 255};

} // namespace

TEST(Logo, TargetSize)
{
    // The picture's own size, the width rounded up to a multiple of 32.
    LogoSize s = Target(0, 0, 300, 100);
    EXPECT_EQ(s.Width, 320);
    EXPECT_EQ(s.Height, 100);
    EXPECT_EQ(LogoImageBytes(s), 4000u);
    EXPECT_EQ(LogoBlockCount(LogoImageBytes(s)), 63u);
    EXPECT_EQ(Target(-5, -1, 100, 40).Width, 128);

    EXPECT_EQ(Target(600, 0, 300, 100).Width, 448);
    EXPECT_EQ(Target(0, 500, 300, 100).Height, 192);
    EXPECT_EQ(Target(33, 0, 300, 100).Width, 64);
    EXPECT_EQ(Target(32, 1, 300, 100).Width, 32);
    EXPECT_EQ(Target(449, 0, 300, 100).Width, 448);
    EXPECT_EQ(Target(479, 0, 300, 100).Width, 448);
    // Rounding a huge width up would overflow: it is cut first.
    EXPECT_EQ(Target(INT32_MAX, INT32_MAX, 1, 1).Width, 448);
    EXPECT_EQ(Target(INT32_MAX - 30, 0, 1, 1).Width, 448);
    EXPECT_EQ(LogoImageBytes(Target(0, 0, 5000, 5000)), 10752u);
    EXPECT_EQ(LogoBlockCount(10752), 168u);

    // A picture without pixels is refused, whatever size was asked for.
    LogoSize none;
    EXPECT_EQ(LogoTargetSize(64, 64, 0, 10, none), fpresult::kFail);
    EXPECT_EQ(LogoTargetSize(64, 64, 10, 0, none), fpresult::kFail);
    EXPECT_EQ(LogoTargetSize(0, 0, -3, 10, none), fpresult::kFail);
}

TEST(Logo, DibSizesDoNotOverflow)
{
    EXPECT_EQ(DibStride(1, 300), 40u);
    EXPECT_EQ(DibStride(1, 320), 40u);
    EXPECT_EQ(DibStride(1, 1), 4u);
    EXPECT_EQ(DibStride(24, 3), 12u);
    std::size_t size = 0;
    ASSERT_EQ(DibImageSize(1, 300, -100, size), fpresult::kOk);
    EXPECT_EQ(size, 4000u);
    // 32-bit arithmetic would wrap these round to small sizes.
    EXPECT_EQ(DibImageSize(32, 0x40000000, 4, size), fpresult::kOutOfMemory);
    EXPECT_EQ(DibImageSize(1, INT32_MAX, INT32_MAX, size), fpresult::kOutOfMemory);
    EXPECT_EQ(DibImageSize(1, 65536, INT32_MIN, size), fpresult::kOutOfMemory);
    EXPECT_EQ(DibImageSize(1, -1, 1, size), fpresult::kFail);
    EXPECT_EQ(DibImageSize(0, 1, 1, size), fpresult::kFail);
}

TEST(Logo, Requests)
{
    Request r;
    ASSERT_EQ(EncodeSetLogo(0x0102, {320, 100}, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x2D, 0x02, 0x01, 1, 0x40, 0x01, 100, 0}));
    ASSERT_EQ(EncodeClearLogo(0x0102, r), fpresult::kOk);
    EXPECT_EQ(r, (Bytes{0x2D, 0x02, 0x01, 0, 0, 0, 0, 0}));
    for (const LogoSize bad :
         {LogoSize{0, 10}, LogoSize{33, 10}, LogoSize{480, 10}, LogoSize{32, 0}, LogoSize{32, 193}}) {
        Request out{1};
        EXPECT_EQ(EncodeSetLogo(0, bad, out), fpresult::kInvalidArg);
        EXPECT_TRUE(out.empty());
    }
}

TEST(Logo, DrawnBitmapToLogoRows)
{
    // A 40 x 3 bitmap (stride 8) drawn mirrored and inverted, bottom-up: buffer row 0 is
    // the picture's top row. White (light) pixels are the picture's dark ones.
    Bytes bits(8 * 3, 0);
    bits[0] = 0x80;      // picture row 0, pixel 0
    bits[8 + 4] = 0x81;  // picture row 1, pixels 32 and 39
    bits[8 + 5] = 0xFF;  // padding: dropped
    bits[16 + 1] = 0x01; // picture row 2, pixel 15
    OneBitDib dib;
    dib.Bits = bits.data();
    dib.BitsLength = bits.size();
    dib.Width = 40;
    dib.Height = 3;
    dib.Palette[0] = kBlack;
    dib.Palette[1] = kWhite;
    std::vector<std::uint8_t> out;
    ASSERT_EQ(LogoFromDrawnDib(dib, out), fpresult::kOk);
    const Bytes rows{0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0x81, 0, 0x01, 0, 0, 0};
    EXPECT_EQ(out, rows);

    // The same bitmap read top-down: the buffer's rows come last first.
    Bytes topDown(bits.size());
    for (int y = 0; y < 3; ++y) std::copy_n(bits.begin() + 8 * y, 8, topDown.begin() + 8 * (2 - y));
    OneBitDib td = dib;
    td.Bits = topDown.data();
    td.Height = -3;
    ASSERT_EQ(LogoFromDrawnDib(td, out), fpresult::kOk);
    EXPECT_EQ(out, rows);

    // A palette in the other order (bit 0 light) turns every bit round.
    OneBitDib swapped = dib;
    swapped.Palette[0] = Rgb{200, 200, 200};
    swapped.Palette[1] = Rgb{20, 0, 90};
    ASSERT_EQ(LogoFromDrawnDib(swapped, out), fpresult::kOk);
    EXPECT_EQ(out[0], 0x7F);
    EXPECT_EQ(out[4], 0xFF);

    // Bounds: buffer too short, no rows, beyond the logo's size.
    OneBitDib bad = dib;
    bad.BitsLength = 23;
    EXPECT_EQ(LogoFromDrawnDib(bad, out), fpresult::kFail);
    bad = dib;
    bad.Height = 0;
    EXPECT_EQ(LogoFromDrawnDib(bad, out), fpresult::kFail);
    bad = dib;
    bad.Height = INT32_MIN;
    EXPECT_EQ(LogoFromDrawnDib(bad, out), fpresult::kFail);
    bad = dib;
    bad.Width = 449;
    EXPECT_EQ(LogoFromDrawnDib(bad, out), fpresult::kFail);
    bad = dib;
    bad.Bits = nullptr;
    EXPECT_EQ(LogoFromDrawnDib(bad, out), fpresult::kFail);
}

TEST(Logo, ImageGoesOutInSixtyFourByteBlocksPulledByEnq)
{
    fake::ManualClock clock;
    fake::ScriptedPort port(clock);
    Link link(clock);
    link.Attach(&port);

    const LogoSize size = Target(0, 0, 300, 100);
    Request req;
    ASSERT_EQ(EncodeSetLogo(7, size, req), fpresult::kOk);
    Bytes image(LogoImageBytes(size));
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);

    // 63 asks 250 ms apart take longer than the busy limit in all; the limit counts from
    // the last block, so the upload is not cut off.
    std::vector<fake::In> reply{{ACK, 0}};
    for (std::size_t i = 0; i < LogoBlockCount(image.size()); ++i) reply.push_back({ENQ, 250});
    for (auto b : fake::AnswerFrame(0, 0x2D, 0, 0, 0, {})) reply.push_back({b, 0});
    port.ReplyTimed(reply);
    ASSERT_EQ(link.SendCommand(req.data(), req.size(), image.data(), image.size()), fpresult::kOk);

    ASSERT_EQ(port.writes.size(), 1u + 63u);
    std::size_t offset = 0;
    for (std::size_t i = 1; i < port.writes.size(); ++i) {
        const Bytes& block = port.writes[i];
        ASSERT_EQ(block.size(), i < 63 ? 65u : 33u);
        EXPECT_TRUE(std::equal(block.begin(), block.end() - 1, image.begin() + offset));
        offset += block.size() - 1;
    }
    EXPECT_EQ(offset, 4000u);
}

namespace {
// A BMP file header and info header for a 1-bit picture with a two-entry palette.
std::vector<std::uint8_t> BmpHead(std::int32_t width, std::int32_t height, std::uint16_t bits = 1)
{
    std::vector<std::uint8_t> h(62, 0);
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) h[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    h[0] = 'B';
    h[1] = 'M';
    put(10, 62, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, bits, 2);
    return h;
}
} // namespace

TEST(Logo, APictureIsCheckedAgainstItsOwnHeader)
{
    // 300 x 100 at one bit: 40-byte rows, 4000 bytes after the 62 of the headers.
    const auto h = BmpHead(300, 100);
    EXPECT_EQ(CheckPictureFile(h.data(), h.size(), 554), PictureFile::Truncated);
    EXPECT_EQ(CheckPictureFile(h.data(), h.size(), 4061), PictureFile::Truncated);
    EXPECT_EQ(CheckPictureFile(h.data(), h.size(), 4062), PictureFile::Fine);
    const auto topDown = BmpHead(300, -100, 24);
    EXPECT_EQ(CheckPictureFile(topDown.data(), topDown.size(), 62 + 900 * 100 - 1), PictureFile::Truncated);
    EXPECT_EQ(CheckPictureFile(topDown.data(), topDown.size(), 62 + 900 * 100), PictureFile::Fine);
    // Headers that cannot be a bitmap's.
    EXPECT_EQ(CheckPictureFile(BmpHead(0, 100).data(), 62, 100000), PictureFile::BadHeader);
    EXPECT_EQ(CheckPictureFile(BmpHead(10, 10, 7).data(), 62, 100000), PictureFile::BadHeader);
    // A file cut inside its header.
    EXPECT_EQ(CheckPictureFile(h.data(), 10, 10), PictureFile::Truncated);
    EXPECT_EQ(CheckPictureFile(h.data(), 30, 30), PictureFile::Truncated);
    // Other kinds are for the loader to judge.
    const std::uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a'};
    EXPECT_EQ(CheckPictureFile(gif, sizeof gif, 6), PictureFile::Fine);
}
