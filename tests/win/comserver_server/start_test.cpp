// The start-up's registration step: a failed registration is shown and then cleared, so
// that a later failure of the start is reported with its own text.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comserver/registration.h"
#include "comserver/server_process.h"

namespace {

std::wstring Pending()
{
    std::wstring text;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR d = nullptr;
        info->GetDescription(&d);
        if (d) text = d;
        SysFreeString(d);
        info->Release();
    }
    return text;
}

} // namespace

TEST(StartTest, FailedRegistrationDoesNotStandForALaterStartFailure)
{
    CoInitialize(nullptr);
    wchar_t boxes[MAX_PATH];
    GetTempPathW(MAX_PATH, boxes);
    wcscat(boxes, L"peltra44-start-boxes.txt");
    SetEnvironmentVariableW(L"PELTRA44_MSGBOX_LOG", boxes);

    ServerProcess process;
    process.SetModulePath("Z:\\nonexistent\\PELTRA44.exe");
    const HRESULT registration = RegisterAtStart(process);
    EXPECT_TRUE(FAILED(registration));
    EXPECT_EQ(0, process.Error().number);

    // The start then fails at a COM step of its own.
    EXPECT_EQ(CO_E_NOTINITIALIZED, RaiseError(process.Error(), CO_E_NOTINITIALIZED));
    EXPECT_EQ(CO_E_NOTINITIALIZED, process.Error().number);
    char own[kDescriptionSize];
    DescribeError(CO_E_NOTINITIALIZED, own, sizeof own);
    wchar_t wideOwn[kDescriptionSize];
    MultiByteToWideChar(CP_ACP, 0, own, -1, wideOwn, kDescriptionSize);
    EXPECT_EQ(std::wstring(wideOwn), Pending());

    SetEnvironmentVariableW(L"PELTRA44_MSGBOX_LOG", nullptr);
    DeleteFileW(boxes);
    process.ReleaseTypeLibrary();
    CoUninitialize();
}
