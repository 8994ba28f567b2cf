#include "comserver/errors.h"
#include "comserver/code_page.h"
#include "comserver/keep_last_error.h"
#include "comserver/message_box.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

HMODULE g_textModule = nullptr;

struct ResultText {
    fpresult::Result result;
    UINT id;
};

// Results whose description is a text of their own.
constexpr ResultText kResultTexts[] = {
    {fpresult::kUnexpected, 318}, {fpresult::kOutOfMemory, 320},
    {fpresult::kInvalidArg, 321}, {fpresult::kNotImpl, 322},
    {FPE_NOT_CONNECTED, 323},     {FPE_NO_ANSWER, 324},
    {FPE_COMMAND_TIMEOUT, 325},   {FPE_REJECTED, 326},
    {FPE_PROTOCOL, 327},          {FPE_CHECKSUM, 328},
    {FPE_ANSWER_TIMEOUT, 329},    {FPE_MODEM, 332},
    {FPE_FISCAL_MEMORY, 333},     {FPE_CLOCK, 334},
    {FPE_DUTY_OVERTIME, 336},     {FPE_VOLTAGE, 337},
    {FPE_DISPLAY, 335},           {FPE_BAD_COMMAND, 338},
    {FPE_NOT_READY, 331},
};

UINT TextIdOf(HRESULT result)
{
    for (const ResultText& t : kResultTexts)
        if (t.result == result) return t.id;
    return 0;
}

// Copies src (at most max characters) to the end of buffer without passing size.
// Returns the new length.
int AppendCut(char* buffer, int length, int size, const char* src, int max = -1)
{
    int room = size - 1 - length;
    if (room <= 0) return length;
    int n = static_cast<int>(std::strlen(src));
    if (max >= 0 && n > max) n = max;
    if (n > room) n = room;
    std::memcpy(buffer + length, src, static_cast<std::size_t>(n));
    buffer[length + n] = '\0';
    return length + n;
}

// The system's message for number, without its trailing line break, other control
// characters turned into spaces; "" when the system has none.
std::string SystemMessage(DWORD number)
{
    char text[kDescriptionSize];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, number,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    if (n == 0 || n >= sizeof text) {
        // Longer than the scratch buffer: let the system allocate it, keep the start.
        char* big = nullptr;
        n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           nullptr, number, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&big), 0,
                           nullptr);
        if (n == 0 || !big) return {};
        std::string cut(big, n < sizeof text - 1 ? n : sizeof text - 1);
        LocalFree(big);
        std::memcpy(text, cut.c_str(), cut.size() + 1);
        n = static_cast<DWORD>(cut.size());
    }
    std::string msg(text, n);
    while (!msg.empty() && static_cast<unsigned char>(msg.back()) < 0x20) msg.pop_back();
    for (char& c : msg)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return msg;
}

} // namespace

void SetTextModule(HMODULE module) { g_textModule = module; }

int LoadText(UINT id, char* buffer, int size)
{
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    KeepLastError keep;
    HMODULE module = g_textModule ? g_textModule : GetModuleHandleA(nullptr);
    int n = LoadStringA(module, id, buffer, size);
    if (n <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    return n;
}

int DescribeRegisterError(int code, char* buffer, int size)
{
    if (!buffer || size <= 0) return 0;
    KeepLastError keep;
    char head[32];
    if (LoadText(textid::kEcrError, head, sizeof head) == 0) std::strcpy(head, "ECR error");
    char number[16];
    std::snprintf(number, sizeof number, " %i: ", code);
    char text[100] = "";
    // Register codes are one byte; other numbers have no text of their own.
    if (code < 1 || code > 255 || LoadText(textid::kEcrError + static_cast<UINT>(code), text, sizeof text) == 0)
        if (LoadText(textid::kUnknownError, text, sizeof text) == 0) std::strcpy(text, "unknown.");
    buffer[0] = '\0';
    int length = AppendCut(buffer, 0, size, head);
    length = AppendCut(buffer, length, size, number);
    return AppendCut(buffer, length, size, text);
}

int DescribeError(HRESULT result, char* buffer, int size)
{
    if (!buffer || size <= 0) return 0;
    KeepLastError keep;
    buffer[0] = '\0';
    // Results with all bits of FPE_SYSTEM carry their number in the last-error value.
    DWORD number = (static_cast<DWORD>(result) & static_cast<DWORD>(FPE_SYSTEM)) == static_cast<DWORD>(FPE_SYSTEM)
                       ? keep.Saved()
                       : static_cast<DWORD>(result);

    if (UINT id = TextIdOf(result)) {
        char text[kDescriptionSize];
        if (LoadText(id, text, sizeof text) > 0) return AppendCut(buffer, 0, size, text);
    }
    if (result == FPE_ECR) return DescribeRegisterError(static_cast<int>(number), buffer, size);

    char prefix[kDescriptionSize];
    UINT prefixId = result == FPE_FILE_SYSTEM ? textid::kFileSystemError : textid::kError;
    if (LoadText(prefixId, prefix, sizeof prefix) == 0) std::strcpy(prefix, "Error");
    char numberText[24];
    if (number < 0x40000000u) std::snprintf(numberText, sizeof numberText, " %i: ", static_cast<int>(number));
    else std::snprintf(numberText, sizeof numberText, " 0x%08X: ", static_cast<unsigned>(number));

    int length = AppendCut(buffer, 0, size, prefix);
    length = AppendCut(buffer, length, size, numberText);
    std::string message = SystemMessage(number);
    if (message.empty()) {
        // No message: the description ends with the number.
        if (length >= 2 && buffer[length - 2] == ':' && buffer[length - 1] == ' ') buffer[length -= 2] = '\0';
        return length;
    }
    return AppendCut(buffer, length, size, message.c_str());
}

void ResetLastError(LastError& last)
{
    KeepLastError keep;
    if (last.description) {
        SysFreeString(last.description);
        last.description = nullptr;
    }
    last.number = 0;
    IErrorInfo* pending = nullptr;
    if (GetErrorInfo(0, &pending) == S_OK && pending) pending->Release();
}

HRESULT RaiseNewError(LastError& last, HRESULT result, const char* source, const char* description)
{
    KeepLastError keep;
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)) || !create) return result;
    if (!FAILED(result)) result = E_FAIL;

    char composed[kDescriptionSize];
    if (!description || !*description) {
        keep.Restore(); // the description may need the failing step's number
        DescribeError(result, composed, sizeof composed);
        description = composed;
    }
    if (!source || !*source) source = kDefaultErrorSource;

    std::wstring wideDescription = Widen(description);
    std::wstring wideSource = Widen(source);
    create->SetDescription(const_cast<LPOLESTR>(wideDescription.c_str()));
    create->SetSource(const_cast<LPOLESTR>(wideSource.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();

    if (last.description) SysFreeString(last.description);
    last.description = SysAllocStringLen(wideDescription.data(), static_cast<UINT>(wideDescription.size()));
    last.number = result;
    return result;
}

HRESULT RaiseError(LastError& last, HRESULT result, const char* source)
{
    KeepLastError keep;
    if (!FAILED(result)) result = E_FAIL;
    IErrorInfo* pending = nullptr;
    if (GetErrorInfo(0, &pending) == S_OK && pending) {
        SetErrorInfo(0, pending);
        pending->Release();
        return result;
    }
    keep.Restore();
    return RaiseNewError(last, result, source, nullptr);
}

void ShowLastError()
{
    KeepLastError keep;
    BSTR description = nullptr, source = nullptr;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        info->GetDescription(&description);
        info->GetSource(&source);
        SetErrorInfo(0, info); // leave it pending
        info->Release();
    }
    std::wstring text;
    if (source && *source) {
        text = source;
        text += L": ";
    }
    text += description && *description ? description : L"Unknown error.";
    SysFreeString(description);
    SysFreeString(source);
    ShowMessageBox(nullptr, text.c_str(), L"VAdazi", MB_OK | MB_ICONERROR);
}
