// FiscalPrinter::SetLogo: a picture file becomes the receipt logo.
//
// The picture is loaded with the OLE picture loader, read as one bit per pixel at its
// own size, redrawn at the target size (width a multiple of 32 up to 448, height up to
// 192) mirrored top to bottom and inverted, read back as one bit per pixel, and sent
// with command 0x2D; the register pulls the image with ENQ in blocks of 64 bytes. The
// picture, device contexts, bitmaps and the working image are freed on every path.
#include "comserver/fiscal_printer.h"

#include <ole2.h>
#include <olectl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "comserver/command_frame.h"
#include "serialproto/logo.h"

namespace {

// The working image: a device-independent bitmap, header with a two-entry colour table
// and the pixel rows. Width, height and bit count are 1, 1, 1 while it is empty.
struct LogoImage {
    struct Header {
        BITMAPINFOHEADER info;
        RGBQUAD colours[2];
    };
    std::unique_ptr<Header> header;
    std::unique_ptr<std::uint8_t[]> bits;
    std::size_t imageSize = 0;
    LONG width = 1, height = 1;
    WORD bitCount = 1;

    BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(header.get()); }
};

// Owners of the GDI and COM objects of one conversion.
struct MemoryDc {
    HDC dc;
    explicit MemoryDc(HDC compatibleWith) : dc(CreateCompatibleDC(compatibleWith)) {}
    ~MemoryDc()
    {
        if (dc) DeleteDC(dc);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
};
struct Bitmap {
    HBITMAP handle = nullptr;
    ~Bitmap()
    {
        if (handle) DeleteObject(handle);
    }
};
template <typename T>
struct ComRef {
    T* p = nullptr;
    ~ComRef()
    {
        if (p) p->Release();
    }
};

// Reads a bitmap as a one-bit device-independent bitmap into `image`. The bitmap must
// not be selected into a device context.
HRESULT ReadBitmapAsDib(HBITMAP bitmap, WORD bitCount, LogoImage& image)
{
    MemoryDc dc(nullptr);
    if (!dc.dc) return E_FAIL;
    std::unique_ptr<LogoImage::Header> header(new (std::nothrow) LogoImage::Header{});
    if (!header) return E_OUTOFMEMORY;
    header->info.biSize = sizeof(BITMAPINFOHEADER);
    if (!GetDIBits(dc.dc, bitmap, 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(header.get()), DIB_RGB_COLORS))
        return E_FAIL;
    if (header->info.biPlanes != 1) return E_FAIL;
    header->info.biBitCount = bitCount;
    header->info.biCompression = BI_RGB;
    header->info.biClrUsed = 2;
    header->info.biClrImportant = 0;

    std::size_t size = 0;
    const HRESULT sized = serialproto::DibImageSize(bitCount, header->info.biWidth, header->info.biHeight, size);
    if (FAILED(sized)) return sized;
    header->info.biSizeImage = static_cast<DWORD>(size);
    std::unique_ptr<std::uint8_t[]> bits(new (std::nothrow) std::uint8_t[size ? size : 1]);
    if (!bits) return E_OUTOFMEMORY;

    const LONG h = header->info.biHeight;
    const UINT rows = static_cast<UINT>(h < 0 ? -h : h);
    if (rows == 0 || header->info.biWidth <= 0) return E_FAIL;
    if (GetDIBits(dc.dc, bitmap, 0, rows, bits.get(), reinterpret_cast<BITMAPINFO*>(header.get()), DIB_RGB_COLORS) == 0)
        return E_FAIL;

    image.width = header->info.biWidth;
    image.height = header->info.biHeight;
    image.bitCount = header->info.biBitCount;
    image.imageSize = size;
    image.header = std::move(header);
    image.bits = std::move(bits);
    return S_OK;
}

// The picture's bitmap, one bit per pixel, at the picture's own size.
HRESULT LoadPictureBitmap(IPictureDisp* disp, LogoImage& image)
{
    ComRef<IPicture> picture;
    HRESULT hr = disp->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&picture.p));
    if (FAILED(hr)) return hr;
    SHORT type = PICTYPE_UNINITIALIZED;
    if (FAILED(picture.p->get_Type(&type)) || type != PICTYPE_BITMAP) return E_FAIL;
    OLE_HANDLE handle = 0;
    if (FAILED(picture.p->get_Handle(&handle)) || handle == 0) return E_FAIL;
    return ReadBitmapAsDib(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)), 1, image);
}

// Redraws the image at the target size, mirrored top to bottom and inverted, and reads
// it back one bit per pixel.
HRESULT ScaleToLogo(LogoImage& image, const serialproto::LogoSize& size)
{
    HDC screen = GetDC(nullptr);
    if (!screen) return E_FAIL;
    Bitmap target;
    target.handle = CreateCompatibleBitmap(screen, size.Width, size.Height);
    MemoryDc memory(screen);
    ReleaseDC(nullptr, screen);
    const HDC dc = memory.dc;
    if (!target.handle || !dc) return E_FAIL;

    const HGDIOBJ previous = SelectObject(dc, target.handle);
    if (!previous || previous == HGDI_ERROR) return E_FAIL;
    const LONG sourceRows = image.height < 0 ? -image.height : image.height;
    // Mirrored: a negative height counts up from the origin's row, so the origin is the
    // bottom row itself (height - 1); from row `height` the top row would fall outside.
    const int drawn = StretchDIBits(dc, 0, size.Height - 1, size.Width, -size.Height, 0, 0, image.width, sourceRows,
                                    image.bits.get(), image.Info(), DIB_RGB_COLORS, NOTSRCCOPY);
    // Read back only once the bitmap is out of the context.
    SelectObject(dc, previous);
    if (drawn == 0 || drawn == static_cast<int>(GDI_ERROR)) return E_FAIL;
    return ReadBitmapAsDib(target.handle, 1, image);
}

// The register's image rows from the redrawn bitmap.
HRESULT LogoRows(LogoImage& image, std::vector<std::uint8_t>& rows)
{
    serialproto::OneBitDib dib;
    dib.Bits = image.bits.get();
    dib.BitsLength = image.imageSize;
    dib.Width = image.width;
    dib.Height = image.height;
    for (int i = 0; i < 2; ++i) {
        const RGBQUAD& c = image.header->colours[i];
        dib.Palette[i] = serialproto::Rgb{c.rgbRed, c.rgbGreen, c.rgbBlue};
    }
    return serialproto::LogoFromDrawnDib(dib, rows);
}

constexpr HRESULT kInvalidPicture = static_cast<HRESULT>(0x800A01E1); // CTL_E_INVALIDPICTURE

// What is wrong with the file before the loader sees it: 0 when nothing, else the text
// id, with the result and (for FPE_FILE_SYSTEM) the system error.
struct FileProblem {
    UINT text = 0;
    HRESULT result = S_OK;
    DWORD systemError = 0;
};

// Closes a file handle.
struct FileHandle {
    HANDLE h;
    ~FileHandle()
    {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

// The file is there, is a file, can be read, is not empty and, for a BMP, holds what its
// header promises. Names the loader reaches otherwise (a URL) are left to it.
FileProblem CheckLogoFile(BSTR fileName)
{
    FileProblem p;
    if (std::wcsstr(fileName, L"://")) return p;
    const DWORD attributes = GetFileAttributesW(fileName);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        p.systemError = GetLastError();
        switch (p.systemError) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE: p.text = textid::kLogoNotFound; break;
        default: p.text = textid::kLogoUnreadable;
        }
        p.result = FPE_FILE_SYSTEM;
        return p;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        p.text = textid::kLogoDirectory;
        p.result = FPE_FILE_SYSTEM;
        p.systemError = ERROR_DIRECTORY;
        return p;
    }
    FileHandle file{CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr)};
    LARGE_INTEGER size{};
    if (file.h == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.h, &size)) {
        p.systemError = GetLastError();
        p.text = textid::kLogoUnreadable;
        p.result = FPE_FILE_SYSTEM;
        return p;
    }
    if (size.QuadPart == 0) {
        p.text = textid::kLogoEmpty;
        p.result = kInvalidPicture;
        return p;
    }
    std::uint8_t head[serialproto::kPictureHeadBytes];
    DWORD got = 0;
    if (!ReadFile(file.h, head, sizeof head, &got, nullptr)) {
        p.systemError = GetLastError();
        p.text = textid::kLogoUnreadable;
        p.result = FPE_FILE_SYSTEM;
        return p;
    }
    switch (serialproto::CheckPictureFile(head, got, static_cast<std::uint64_t>(size.QuadPart))) {
    case serialproto::PictureFile::Fine: break;
    case serialproto::PictureFile::Truncated:
    case serialproto::PictureFile::BadHeader:
        p.text = textid::kLogoTruncated;
        p.result = kInvalidPicture;
        break;
    }
    return p;
}

// Everything between the file and the bytes to send.
HRESULT ConvertPicture(BSTR fileName, LONG width, LONG height, serialproto::LogoSize& size,
                       std::vector<std::uint8_t>& rows, bool& loaderFailed)
{
    LogoImage image;
    {
        ComRef<IPictureDisp> picture;
        const HRESULT loaded = OleLoadPicturePath(fileName, nullptr, 0, 0, IID_IPictureDisp,
                                                  reinterpret_cast<void**>(&picture.p));
        if (FAILED(loaded) || !picture.p) {
            loaderFailed = true;
            return FAILED(loaded) ? loaded : E_FAIL;
        }
        const HRESULT read = LoadPictureBitmap(picture.p, image);
        if (FAILED(read)) return read;
    }
    const HRESULT sized = serialproto::LogoTargetSize(width, height, image.width,
                                                      image.height < 0 ? -image.height : image.height, size);
    if (FAILED(sized)) return sized;
    const HRESULT scaled = ScaleToLogo(image, size);
    if (FAILED(scaled)) return scaled;
    return LogoRows(image, rows);
}

} // namespace

// A failure that concerns the picture file: its text, then the path, raised under
// SetLogo's name.
HRESULT FiscalPrinter::FileFailed(HRESULT result, UINT text, DWORD systemError, const char* path)
{
    char description[kDescriptionSize];
    if (LoadText(text, description, sizeof description) == 0) description[0] = '\0';
    const std::size_t used = std::strlen(description);
    std::snprintf(description + used, sizeof description - used, "%s", path);
    if (systemError) SetLastError(systemError);
    RaiseNewError(Error, result, "SetLogo", description);
    return CallFailed(result, "SetLogo");
}

STDMETHODIMP FiscalPrinter::SetLogo(short Password, BSTR FileName, LONG Width, LONG Height)
{
    BeginCall();
    const DriverString name = frame::Ansi(FileName);
    WriteEventF(Log, "SetLogo", "%li, %li, '%s'", Width, Height, name.Text());

    serialproto::Request req;
    std::vector<std::uint8_t> rows;
    if (!FileName || !*FileName) {
        serialproto::EncodeClearLogo(Password, req);
    } else {
        const FileProblem problem = CheckLogoFile(FileName);
        if (problem.text) return FileFailed(problem.result, problem.text, problem.systemError, name.Text());
        serialproto::LogoSize size;
        bool loaderFailed = false;
        const HRESULT converted = ConvertPicture(FileName, Width, Height, size, rows, loaderFailed);
        if (FAILED(converted) && loaderFailed) return FileFailed(converted, textid::kLogoNotPicture, 0, name.Text());
        if (FAILED(converted)) {
            // The conversion's own failures are raised without a source; the loader's
            // result is the method's error.
            if (!loaderFailed) RaiseNewError(Error, converted);
            return CallFailed(converted, "SetLogo");
        }
        const HRESULT encoded = serialproto::EncodeSetLogo(Password, size, req);
        if (FAILED(encoded) || rows.size() != serialproto::LogoImageBytes(size))
            return CallFailed(FAILED(encoded) ? encoded : E_FAIL, "SetLogo");
    }
    const HRESULT hr = Serial.Link.SendCommand(req.data(), req.size(), rows.empty() ? nullptr : rows.data(),
                                               rows.size());
    if (FAILED(hr)) return LinkFailed(hr, "SetLogo");
    CallSucceeded("SetLogo");
    return S_OK;
}
