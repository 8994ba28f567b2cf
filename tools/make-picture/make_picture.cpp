// Makes pictures for the logo: a pattern of black pixels on white, written as
// BMP (24 bits), PNG (8-bit grey), GIF (8-bit palette), ICO (32 bits, up to 255 x 255)
// or PBM (binary), chosen by the file's extension. The PBM of a pattern is what the register simulator keeps for a
// logo that needed no scaling, so the two files can be compared byte for byte.
//
// Usage: make-picture FILE WIDTH HEIGHT PATTERN
//   corner   only the top-left pixel is black
//   pattern  an irregular pattern with a black frame (no two rows alike)
//   badge    a ring with a bar across, for a person to look at
//   white    no black pixel
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Picture {
    int width, height;
    std::vector<bool> black; // row after row, top row first
    bool At(int x, int y) const { return black[static_cast<std::size_t>(y) * width + x]; }
};

Picture Make(int w, int h, const std::string& kind)
{
    Picture p{w, h, std::vector<bool>(static_cast<std::size_t>(w) * h, false)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool b = false;
            if (kind == "corner") b = x == 0 && y == 0;
            else if (kind == "pattern")
                b = x == 0 || y == 0 || x == w - 1 || y == h - 1 || (x * 7 + y * 13 + x * y) % 11 < 4;
            else if (kind == "badge") {
                const double r = (h < w ? h : w) / 2.0, dx = x + 0.5 - w / 2.0, dy = y + 0.5 - h / 2.0;
                const double d2 = dx * dx + dy * dy;
                b = (d2 <= r * r && d2 >= 0.55 * r * r) || (dy * dy <= 0.04 * r * r && dx * dx <= 2.2 * r * r);
            }
            p.black[static_cast<std::size_t>(y) * w + x] = b;
        }
    return p;
}

void Put16(Bytes& o, unsigned v)
{
    o.push_back(static_cast<std::uint8_t>(v));
    o.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& o, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) o.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put32Be(Bytes& o, std::uint32_t v)
{
    for (int i = 3; i >= 0; --i) o.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes Bmp(const Picture& p)
{
    const std::uint32_t stride = (static_cast<std::uint32_t>(p.width) * 3 + 3) & ~3u;
    const std::uint32_t size = stride * static_cast<std::uint32_t>(p.height);
    Bytes o{'B', 'M'};
    Put32(o, 54 + size);
    Put32(o, 0);
    Put32(o, 54);
    Put32(o, 40);
    Put32(o, static_cast<std::uint32_t>(p.width));
    Put32(o, static_cast<std::uint32_t>(p.height)); // bottom-up
    Put16(o, 1);
    Put16(o, 24);
    Put32(o, 0);
    Put32(o, size);
    Put32(o, 2835);
    Put32(o, 2835);
    Put32(o, 0);
    Put32(o, 0);
    for (int y = p.height - 1; y >= 0; --y) {
        std::size_t n = 0;
        for (int x = 0; x < p.width; ++x, n += 3) o.insert(o.end(), 3, p.At(x, y) ? 0 : 255);
        for (; n < stride; ++n) o.push_back(0);
    }
    return o;
}

std::uint32_t Crc(const std::uint8_t* d, std::size_t n)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= d[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

void Chunk(Bytes& o, const char* type, const Bytes& data)
{
    Put32Be(o, static_cast<std::uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    o.insert(o.end(), body.begin(), body.end());
    Put32Be(o, Crc(body.data(), body.size()));
}

// zlib stream of stored (uncompressed) deflate blocks.
Bytes Stored(const Bytes& raw)
{
    Bytes z{0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        z.push_back(at + n == raw.size() ? 1 : 0);
        Put16(z, static_cast<unsigned>(n));
        Put16(z, static_cast<unsigned>(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + n));
        at += n;
    } while (at < raw.size());
    std::uint32_t a = 1, b = 0;
    for (auto c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    Put32Be(z, b << 16 | a);
    return z;
}

Bytes Png(const Picture& p)
{
    Bytes o{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    Put32Be(ihdr, static_cast<std::uint32_t>(p.width));
    Put32Be(ihdr, static_cast<std::uint32_t>(p.height));
    ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0}); // 8-bit grey
    Chunk(o, "IHDR", ihdr);
    Bytes raw;
    for (int y = 0; y < p.height; ++y) {
        raw.push_back(0); // no filter
        for (int x = 0; x < p.width; ++x) raw.push_back(p.At(x, y) ? 0 : 255);
    }
    Chunk(o, "IDAT", Stored(raw));
    Chunk(o, "IEND", {});
    return o;
}

// GIF with 2-bit LZW codes kept from growing: a clear code after every two pixels.
Bytes Gif(const Picture& p)
{
    Bytes o{'G', 'I', 'F', '8', '9', 'a'};
    Put16(o, static_cast<unsigned>(p.width));
    Put16(o, static_cast<unsigned>(p.height));
    o.insert(o.end(), {0x80, 0, 0});             // global table of 2 colours
    o.insert(o.end(), {0, 0, 0, 255, 255, 255}); // 0 black, 1 white
    o.push_back(',');
    Put16(o, 0);
    Put16(o, 0);
    Put16(o, static_cast<unsigned>(p.width));
    Put16(o, static_cast<unsigned>(p.height));
    o.push_back(0);
    o.push_back(2); // minimum code size: codes of 3 bits, clear 4, end 5
    Bytes data;
    std::uint32_t acc = 0;
    int bits = 0;
    auto code = [&](unsigned c) {
        acc |= c << bits;
        bits += 3;
        while (bits >= 8) {
            data.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    };
    int run = 0;
    code(4);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            code(p.At(x, y) ? 0 : 1);
            if (++run == 2) {
                code(4);
                run = 0;
            }
        }
    code(5);
    if (bits) data.push_back(static_cast<std::uint8_t>(acc));
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        o.push_back(static_cast<std::uint8_t>(n));
        o.insert(o.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
    }
    o.push_back(0);
    o.push_back(';');
    return o;
}

// Icon of one 32-bit image (at most 255 x 255), opaque.
Bytes Ico(const Picture& p)
{
    const std::uint32_t maskStride = (static_cast<std::uint32_t>(p.width) + 31) / 32 * 4;
    const std::uint32_t size = 40 + 4u * p.width * p.height + maskStride * p.height;
    Bytes o;
    Put16(o, 0);
    Put16(o, 1);
    Put16(o, 1);
    o.push_back(static_cast<std::uint8_t>(p.width));
    o.push_back(static_cast<std::uint8_t>(p.height));
    o.push_back(0);
    o.push_back(0);
    Put16(o, 1);
    Put16(o, 32);
    Put32(o, size);
    Put32(o, 22);
    Put32(o, 40);
    Put32(o, static_cast<std::uint32_t>(p.width));
    Put32(o, static_cast<std::uint32_t>(p.height) * 2); // image and mask
    Put16(o, 1);
    Put16(o, 32);
    for (int i = 0; i < 6; ++i) Put32(o, 0);
    for (int y = p.height - 1; y >= 0; --y)
        for (int x = 0; x < p.width; ++x) {
            o.insert(o.end(), 3, p.At(x, y) ? 0 : 255);
            o.push_back(255);
        }
    o.insert(o.end(), maskStride * static_cast<std::uint32_t>(p.height), 0);
    return o;
}

Bytes Pbm(const Picture& p)
{
    const std::string head = "P4\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n";
    Bytes o(head.begin(), head.end());
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; x += 8) {
            std::uint8_t b = 0;
            for (int i = 0; i < 8 && x + i < p.width; ++i)
                if (p.At(x + i, y)) b |= static_cast<std::uint8_t>(0x80 >> i);
            o.push_back(b);
        }
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: make-picture FILE WIDTH HEIGHT corner|pattern|badge|white\n");
        return 2;
    }
    const std::string file = argv[1];
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    if (w < 1 || h < 1 || w > 4000 || h > 4000) return 2;
    const Picture p = Make(w, h, argv[4]);
    const std::string ext = file.substr(file.rfind('.') + 1);
    Bytes out;
    if (ext == "bmp") out = Bmp(p);
    else if (ext == "png") out = Png(p);
    else if (ext == "gif") out = Gif(p);
    else if (ext == "pbm") out = Pbm(p);
    else if (ext == "ico" && w <= 255 && h <= 255) out = Ico(p);
    else return 2;
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) return 1;
    return 0;
}
