#include "comserver/errors.h"
#include "tests/win/comserver/test_support.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string Describe(HRESULT result, DWORD lastError = 0, int size = kDescriptionSize)
{
    char buffer[kDescriptionSize + 8];
    SetLastError(lastError);
    int n = DescribeError(result, buffer, size);
    EXPECT_EQ(static_cast<int>(std::string(buffer).size()), n);
    return buffer;
}

std::string RegisterText(int code)
{
    char buffer[kDescriptionSize];
    int n = DescribeRegisterError(code, buffer, sizeof buffer);
    EXPECT_EQ(static_cast<int>(std::string(buffer).size()), n);
    return buffer;
}

// The system's message for a number without its line break ("" when there is none).
std::string SystemText(DWORD number)
{
    char buffer[512] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, number,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
    std::string s(buffer, n);
    while (!s.empty() && static_cast<unsigned char>(s.back()) < 0x20) s.pop_back();
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return s;
}

std::string WithMessage(const std::string& head, DWORD number)
{
    std::string message = SystemText(number);
    return message.empty() ? head : head + ": " + message;
}

struct PendingError {
    std::wstring source, description;
    bool present = false;
};

// Takes the thread's error information and puts it back.
PendingError Pending()
{
    PendingError p;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR s = nullptr, d = nullptr;
        info->GetSource(&s);
        info->GetDescription(&d);
        p.source = s ? s : L"";
        p.description = d ? d : L"";
        SysFreeString(s);
        SysFreeString(d);
        SetErrorInfo(0, info);
        info->Release();
        p.present = true;
    }
    return p;
}

} // namespace

TEST(ErrorTexts, ResourcesReadBackAsWritten)
{
    struct {
        UINT id;
        const wchar_t* text;
    } texts[] = {
        {1, L"Ошибка"},
        {100, L"Ошибка ЭККР"},
        {135, L"сумма \"выдано\" больше, чем в денежном ящике."},
        {143, L"сдача с  этой оплаты запрещена."},
        {147, L"превышение продолжительности отправки данный больше 72 часа."},
        {329, L"Истекло время приёма ответа принтера."},
        {338, L"Команда не существует или запрещена в данном режиме"},
    };
    for (const auto& t : texts) {
        wchar_t buffer[kDescriptionSize] = L"";
        LoadStringW(GetModuleHandleW(nullptr), t.id, buffer, kDescriptionSize);
        EXPECT_STREQ(t.text, buffer) << "id " << t.id;
    }
    char missing[16];
    EXPECT_EQ(0, LoadText(103, missing, sizeof missing));
}

TEST(ErrorTexts, RegisterErrors)
{
    EXPECT_EQ("Ошибка ЭККР 21: неправильный пароль.", RegisterText(21));
    EXPECT_EQ("Ошибка ЭККР 3: Неизвестная ошибка.", RegisterText(3));
    EXPECT_EQ("Ошибка ЭККР 35: сумма \"выдано\" больше, чем в денежном ящике.", RegisterText(35));
    EXPECT_EQ("Ошибка ЭККР 0: Неизвестная ошибка.", RegisterText(0));
    // FPE_ECR takes the code from the thread's last-error value.
    EXPECT_EQ("Ошибка ЭККР 43: сдача с  этой оплаты запрещена.", Describe(FPE_ECR, 43));
    EXPECT_EQ("Ошибка ЭККР 4", Describe(FPE_ECR, 43, 14));
}

TEST(ErrorTexts, ResultsWithTextsAndComposedOnes)
{
    EXPECT_EQ("Неверный аргумент.", Describe(E_INVALIDARG));
    EXPECT_EQ("Принтер не готов", Describe(FPE_NOT_READY));

    std::string system2 = Describe(FPE_SYSTEM, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(WithMessage("Ошибка 2", ERROR_FILE_NOT_FOUND), system2);
    EXPECT_NE(std::string::npos, system2.find("Ошибка 2: ")); // the system has a text for 2
    for (char c : system2) EXPECT_GE(static_cast<unsigned char>(c), 0x20);

    EXPECT_EQ(WithMessage("Ошибка файловой системы 5", ERROR_ACCESS_DENIED),
              Describe(FPE_FILE_SYSTEM, ERROR_ACCESS_DENIED));
    EXPECT_EQ(WithMessage("Ошибка 0x80004005", 0x80004005u), Describe(E_FAIL));
    // Neither a text of its own nor a system message: ends with the number.
    EXPECT_EQ("Ошибка 0xA0042011", Describe(static_cast<HRESULT>(0xA0042011u)));

    // Cut to the buffer.
    EXPECT_EQ("Ошибка 2:", Describe(FPE_SYSTEM, 2, 10));
    EXPECT_EQ("Неве", Describe(E_INVALIDARG, 0, 5));
    char one[1] = {'x'};
    EXPECT_EQ(0, DescribeError(E_FAIL, one, 1));
    EXPECT_EQ('\0', one[0]);
}

TEST(ErrorTexts, MissingResourcesFallBackOnEnglish)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dll = std::string(path, n);
    dll = dll.substr(0, dll.rfind('\\') + 1) + "no_texts.dll";
    HMODULE module = LoadLibraryA(dll.c_str());
    ASSERT_NE(nullptr, module) << dll;
    SetTextModule(module);
    EXPECT_EQ("ECR error 21: unknown.", RegisterText(21));
    EXPECT_EQ(WithMessage("Error 0x80070057", 0x80070057u), Describe(E_INVALIDARG));
    EXPECT_EQ(WithMessage("Error 2", 2), Describe(FPE_FILE_SYSTEM, 2));
    SetTextModule(nullptr);
    FreeLibrary(module);
    EXPECT_EQ("Ошибка ЭККР 21: неправильный пароль.", RegisterText(21));
}

TEST(ErrorRecord, RaiseResetAndKeepTheInnerError)
{
    LastError last;
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FPE_SYSTEM, RaiseNewError(last, FPE_SYSTEM, "Connect"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(FPE_SYSTEM, last.number);
    std::string expected = WithMessage("Ошибка 2", 2);
    ASSERT_NE(nullptr, last.description);
    EXPECT_EQ(expected, Ansi(last.description));
    PendingError p = Pending();
    ASSERT_TRUE(p.present);
    EXPECT_EQ(L"Connect", p.source);
    EXPECT_EQ(expected, Ansi(p.description.c_str()));

    // An inner step raised first: the outer raise keeps its error object and record.
    ResetLastError(last);
    EXPECT_EQ(0, last.number);
    EXPECT_EQ(nullptr, last.description);
    EXPECT_FALSE(Pending().present);
    RaiseNewError(last, FPE_PROTOCOL);
    EXPECT_EQ(FPE_NO_ANSWER, RaiseError(last, FPE_NO_ANSWER, "PrintXReport"));
    EXPECT_EQ(FPE_PROTOCOL, last.number);
    p = Pending();
    EXPECT_EQ(L"VAdazi", p.source);
    EXPECT_EQ(L"Ошибка протокола обмена.", p.description);

    // Nothing pending: a new error with the method's source; success becomes E_FAIL.
    ResetLastError(last);
    EXPECT_EQ(E_FAIL, RaiseError(last, S_OK, "GetState"));
    EXPECT_EQ(E_FAIL, last.number);
    EXPECT_EQ(L"GetState", Pending().source);

    // A given description is used as it is.
    EXPECT_EQ(E_NOTIMPL, RaiseNewError(last, E_NOTIMPL, "", "своё описание"));
    EXPECT_STREQ(L"своё описание", last.description);
    EXPECT_EQ(L"VAdazi", Pending().source);
    ResetLastError(last);
}

TEST(ErrorRecord, ShowLastErrorGoesToTheBoxLogWhenAsked)
{
    TempDir dir;
    std::string boxes = dir.File("boxes.txt");
    ASSERT_TRUE(SetEnvironmentVariableA("PELTRA44_MSGBOX_LOG", boxes.c_str()));
    LastError last;
    RaiseNewError(last, FPE_NO_ANSWER, "Connect");
    ShowLastError();
    EXPECT_TRUE(Pending().present);
    ResetLastError(last);
    ShowLastError();
    SetEnvironmentVariableA("PELTRA44_MSGBOX_LOG", nullptr);
    EXPECT_EQ(u8"VAdazi\tConnect: Нет ответа от принтера.\t0x10\n"
              u8"VAdazi\tUnknown error.\t0x10\n",
              ReadWholeFile(boxes));
}
