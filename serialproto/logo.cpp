#include "serialproto/logo.h"

#include <cstdint>

#include "serialproto/commands.h"
#include "serialproto/framing.h"

namespace serialproto {

using fpresult::Result;

namespace {

void Put16(Request& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

bool Light(const Rgb& c) { return 299u * c.Red + 587u * c.Green + 114u * c.Blue >= 128u * 1000u; }

} // namespace

Result LogoTargetSize(std::int32_t width, std::int32_t height, std::int32_t pictureWidth, std::int32_t pictureHeight,
                      LogoSize& out)
{
    if (pictureWidth < 1 || pictureHeight < 1) return fpresult::kFail;
    if (width <= 0) width = pictureWidth;
    if (height <= 0) height = pictureHeight;
    // Cut before rounding, so that no width can overflow; 448 is itself a multiple of 32.
    if (width > kLogoMaxWidth) width = kLogoMaxWidth;
    out.Width = (width + kLogoWidthStep - 1) / kLogoWidthStep * kLogoWidthStep;
    out.Height = height > kLogoMaxHeight ? kLogoMaxHeight : height;
    return fpresult::kOk;
}

std::size_t LogoImageBytes(const LogoSize& size)
{
    if (size.Width <= 0 || size.Height <= 0) return 0;
    return static_cast<std::size_t>(size.Width / 8) * static_cast<std::size_t>(size.Height);
}

std::size_t LogoBlockCount(std::size_t imageBytes) { return (imageBytes + kExtraBlock - 1) / kExtraBlock; }

std::uint64_t DibStride(std::uint32_t bitCount, std::uint32_t width)
{
    return (static_cast<std::uint64_t>(bitCount) * width + 31) / 32 * 4;
}

Result DibImageSize(std::uint32_t bitCount, std::int32_t width, std::int32_t height, std::size_t& size)
{
    if (width < 0 || bitCount == 0 || bitCount > 32) return fpresult::kFail;
    const std::uint64_t rows = height < 0 ? 0u - static_cast<std::uint64_t>(static_cast<std::int64_t>(height))
                                          : static_cast<std::uint64_t>(height);
    // Both factors are below 2^32, so the product fits in 64 bits.
    const std::uint64_t bytes = DibStride(bitCount, static_cast<std::uint32_t>(width)) * rows;
    if (bytes > kMaxDibImage || bytes > SIZE_MAX) return fpresult::kOutOfMemory;
    size = static_cast<std::size_t>(bytes);
    return fpresult::kOk;
}

PictureFile CheckPictureFile(const std::uint8_t* head, std::size_t n, std::uint64_t fileSize)
{
    if (!head || n < 2 || head[0] != 'B' || head[1] != 'M') return PictureFile::Fine;
    const auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(head[at] | head[at + 1] << 8); };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    constexpr std::size_t kFileHeader = 14;
    if (n < kFileHeader + 4) return fileSize < kFileHeader + 4 ? PictureFile::Truncated : PictureFile::BadHeader;
    const std::uint32_t offBits = u32(10), infoSize = u32(14);
    std::int64_t width = 0, height = 0;
    std::uint32_t planes = 0, bitCount = 0, compression = 0, sizeImage = 0;
    if (infoSize == 12) { // the old core header
        if (n < kFileHeader + 12) return fileSize < kFileHeader + 12 ? PictureFile::Truncated : PictureFile::BadHeader;
        width = u16(18);
        height = static_cast<std::int16_t>(u16(20));
        planes = u16(22);
        bitCount = u16(24);
    } else if (infoSize >= 40) {
        if (n < kFileHeader + 40) return fileSize < kFileHeader + 40 ? PictureFile::Truncated : PictureFile::BadHeader;
        width = static_cast<std::int32_t>(u32(18));
        height = static_cast<std::int32_t>(u32(22));
        planes = u16(26);
        bitCount = u16(28);
        compression = u32(30);
        sizeImage = u32(34);
    } else {
        return PictureFile::BadHeader;
    }
    if (width <= 0 || height == 0 || planes != 1 || offBits < kFileHeader + infoSize) return PictureFile::BadHeader;
    if (fileSize < kFileHeader + infoSize) return PictureFile::Truncated;
    std::uint64_t pixels = 0;
    if (compression == 0 || compression == 3) { // rows as they are, or with bit fields
        if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
            return PictureFile::BadHeader;
        const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
        pixels = DibStride(bitCount, static_cast<std::uint32_t>(width)) * rows;
    } else {
        pixels = sizeImage; // compressed: the header gives the size
    }
    return fileSize < static_cast<std::uint64_t>(offBits) + pixels ? PictureFile::Truncated : PictureFile::Fine;
}

Result EncodeSetLogo(std::int16_t password, const LogoSize& size, Request& out)
{
    if (size.Width < kLogoWidthStep || size.Width > kLogoMaxWidth || size.Width % kLogoWidthStep != 0 ||
        size.Height < 1 || size.Height > kLogoMaxHeight) {
        out.clear();
        return fpresult::kInvalidArg;
    }
    out.assign(1, kCmdSetLogo);
    Put16(out, static_cast<std::uint16_t>(password));
    out.push_back(1);
    Put16(out, static_cast<std::uint32_t>(size.Width));
    Put16(out, static_cast<std::uint32_t>(size.Height));
    return fpresult::kOk;
}

Result EncodeClearLogo(std::int16_t password, Request& out)
{
    out.assign(1, kCmdSetLogo);
    Put16(out, static_cast<std::uint16_t>(password));
    out.insert(out.end(), 5, 0);
    return fpresult::kOk;
}

Result LogoFromDrawnDib(const OneBitDib& dib, std::vector<std::uint8_t>& out)
{
    const std::int64_t rows64 = dib.Height < 0 ? -static_cast<std::int64_t>(dib.Height) : dib.Height;
    if (dib.Bits == nullptr || dib.Width < 1 || dib.Width > kLogoMaxWidth || rows64 < 1 || rows64 > kLogoMaxHeight)
        return fpresult::kFail;
    const auto rows = static_cast<std::int32_t>(rows64);
    const std::size_t stride = static_cast<std::size_t>(DibStride(1, static_cast<std::uint32_t>(dib.Width)));
    if (stride * static_cast<std::size_t>(rows) > dib.BitsLength) return fpresult::kFail;

    // Bit value -> set in the logo (light on the bitmap = dark in the picture).
    const bool set[2] = {Light(dib.Palette[0]), Light(dib.Palette[1])};
    const std::size_t rowBytes = static_cast<std::size_t>(dib.Width + 7) / 8;
    out.assign(rowBytes * static_cast<std::size_t>(rows), 0);
    for (std::int32_t y = 0; y < rows; ++y) {
        // Picture row y: the bitmap's row from the bottom, which is the buffer's row y in
        // the bottom-up layout and the buffer's last rows first in the top-down one.
        const std::int32_t bufferRow = dib.Height > 0 ? y : rows - 1 - y;
        const std::uint8_t* src = dib.Bits + stride * static_cast<std::size_t>(bufferRow);
        std::uint8_t* dst = out.data() + rowBytes * static_cast<std::size_t>(y);
        for (std::int32_t x = 0; x < dib.Width; ++x) {
            const int bit = (src[x / 8] >> (7 - x % 8)) & 1;
            if (set[bit]) dst[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
        }
    }
    return fpresult::kOk;
}

} // namespace serialproto
