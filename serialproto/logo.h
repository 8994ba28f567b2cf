// The receipt logo: target size, the one-bit image sizes, the logo command's request and
// the image bytes it carries. Pure functions; the picture loading and drawing are the
// caller's (on Windows: the OLE picture loader and GDI).
//
// The register takes at most 448 x 192 pixels, width a multiple of 32, one bit per
// pixel: rows from the picture's top row down, the most significant bit the leftmost
// pixel, a set bit a dark pixel. The image travels as the link layer's extra data,
// pulled by the register with ENQ in blocks of 64 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "serialproto/receipt.h"
#include "serialproto/result_codes.h"

namespace serialproto {

constexpr std::int32_t kLogoMaxWidth = 448;
constexpr std::int32_t kLogoMaxHeight = 192;
constexpr std::int32_t kLogoWidthStep = 32;

struct LogoSize {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

// The size the picture is stretched to. A width or height of 0 or less takes the
// picture's own; the width is cut to 448 and then rounded up to a multiple of 32, the
// height cut to 192. kFail when the picture has no pixels (a width or height below 1).
fpresult::Result LogoTargetSize(std::int32_t width, std::int32_t height, std::int32_t pictureWidth,
                                std::int32_t pictureHeight, LogoSize& out);

// Bytes of a logo image of that size (width / 8 x height) and the ENQ blocks it takes.
std::size_t LogoImageBytes(const LogoSize& size);
std::size_t LogoBlockCount(std::size_t imageBytes);

// Device-independent bitmap rows: stride = (bitCount x width + 31) / 32 x 4 bytes. The
// image size is stride x |height|, computed without overflow; kOutOfMemory when it
// exceeds kMaxDibImage (no such image can be allocated or read in one piece), kFail for
// a width below 0 or a bit count of 0 or above 32.
constexpr std::uint64_t kMaxDibImage = 0x7FFFFFFFu;
std::uint64_t DibStride(std::uint32_t bitCount, std::uint32_t width);
fpresult::Result DibImageSize(std::uint32_t bitCount, std::int32_t width, std::int32_t height, std::size_t& size);

// A picture file checked against its own header before it is loaded: a BMP ("BM") whose
// header promises more pixel data than the file holds is Truncated, one whose header
// cannot be a bitmap's is BadHeader. Files of other kinds pass (the loader judges them).
// `head` holds the first bytes of the file (54 or more for a BMP), `fileSize` its size.
enum class PictureFile { Fine, Truncated, BadHeader };
PictureFile CheckPictureFile(const std::uint8_t* head, std::size_t headLength, std::uint64_t fileSize);
constexpr std::size_t kPictureHeadBytes = 64;

// Logo command 0x2D: password, 1, width, height (width a multiple of 32 from 32 to
// 448, height 1 to 192); the clearing form has 0, width 0 and height 0.
fpresult::Result EncodeSetLogo(std::int16_t password, const LogoSize& size, Request& out);
fpresult::Result EncodeClearLogo(std::int16_t password, Request& out);

struct Rgb {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
};

// A one-bit device-independent bitmap as the system reads it back: Height > 0 is the
// bottom-up layout (the first row in Bits is the bitmap's bottom row), Height < 0 the
// top-down one. Rows are DibStride(1, Width) bytes; Palette gives the colour of bit 0
// and bit 1.
struct OneBitDib {
    const std::uint8_t* Bits = nullptr;
    std::size_t BitsLength = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    Rgb Palette[2];
};

// The logo image from the bitmap on which the picture was drawn mirrored top to bottom
// and inverted (so the picture's top row is the bitmap's bottom row, and a dark
// picture pixel is a light bitmap pixel). The picture's top row comes first; a bit is
// set where the bitmap pixel is light (luminance of its colour 128 or more); each row
// is (Width + 7) / 8 bytes with the unused low bits clear. kFail when the size is
// outside 1..448 x 1..192 or the rows do not fit in BitsLength.
fpresult::Result LogoFromDrawnDib(const OneBitDib& dib, std::vector<std::uint8_t>& out);

} // namespace serialproto
