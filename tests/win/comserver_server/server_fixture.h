// The process's state and its one FiscalPrinter, as the program has them, for the tests
// in process: the type library comes from this test program, which carries TYPELIB 1.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "comserver/fiscal_printer.h"
#include "comserver/server_process.h"

inline ServerProcess g_process;
inline FiscalPrinter g_printer{g_process};

class ServerObjectTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CoInitialize(nullptr);
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        ASSERT_EQ(S_OK, g_process.LoadTypeLibraryFrom(path));
        ASSERT_EQ(S_OK, g_process.LoadPrinterTypeInfo());
    }
    static void TearDownTestSuite()
    {
        g_process.ReleaseTypeLibrary();
        CoUninitialize();
    }
};
