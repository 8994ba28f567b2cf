// The resources the program carries besides the error texts: the version block, icon
// 101 and the status dialog 102.
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
INT_PTR CALLBACK PlainDialog(HWND, UINT, WPARAM, LPARAM) { return 0; }
} // namespace

TEST(ProgramResources, VersionBlockIconAndStatusDialog)
{
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
    wchar_t* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\041904E3\\FileDescription",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(L"Фискальный принтер PELTRA44", text);

    HINSTANCE self = GetModuleHandleW(nullptr);
    EXPECT_NE(nullptr, LoadIconW(self, MAKEINTRESOURCEW(101)));

    HWND dialog = CreateDialogParamW(self, MAKEINTRESOURCEW(102), nullptr, &PlainDialog, 0);
    ASSERT_NE(nullptr, dialog);
    wchar_t caption[64] = L"";
    GetWindowTextW(dialog, caption, 64);
    EXPECT_STREQ(L"VAdazi", caption);
    struct {
        int id;
        const wchar_t* text;
    } controls[] = {
        {2, L"Закрыть"},
        {1000, L"Записывать протокол работы"},
        {1011, L"Самое верхнее окно"},
        {1001, L"1"},
        {1010, L"10"},
        {1012, L"Статус"},
    };
    for (const auto& c : controls) {
        wchar_t buffer[64] = L"";
        GetDlgItemTextW(dialog, c.id, buffer, 64);
        EXPECT_STREQ(c.text, buffer) << "control " << c.id;
    }
    RECT r = {0, 0, 311, 136};
    EXPECT_TRUE(MapDialogRect(dialog, &r));
    DestroyWindow(dialog);
}
