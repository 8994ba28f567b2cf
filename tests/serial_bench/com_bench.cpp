// serial_com_bench: N GetDate calls through PELTRA44 from a compiled client (early-bound,
// through the server's own interface), timed per call.
//   serial_com_bench PORT [N] [BAUD] [mta]      (defaults: 200 calls, 19200 baud)
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "peltra44_h.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::printf("Usage: %s PORT [N] [BAUD]\n", argv[0]);
        return 2;
    }
    const long n = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 200;
    const long baud = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 19200;
    if (n < 1 || n > 1000000) return 2;
    // A fourth argument "mta": the client in the multithreaded apartment (no message
    // loop of its own while it waits for the server).
    const bool mta = argc > 4 && std::strcmp(argv[4], "mta") == 0;
    CoInitializeEx(nullptr, mta ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    IFiscalPrinter* fp = nullptr;
    int rc = 1;
    if (SUCCEEDED(CoCreateInstance(CLSID_FiscalPrinter, nullptr, CLSCTX_LOCAL_SERVER, IID_IFiscalPrinter,
                                   reinterpret_cast<void**>(&fp)))) {
        wchar_t port[64] = {};
        MultiByteToWideChar(CP_ACP, 0, argv[1], -1, port, 64);
        BSTR name = SysAllocString(port);
        BSTR date = nullptr;
        if (SUCCEEDED(fp->Connect(name, baud)) && SUCCEEDED(fp->GetDate(&date))) { // warm-up
            SysFreeString(date);
            long failures = 0;
            LARGE_INTEGER f, t0, t1;
            QueryPerformanceFrequency(&f);
            QueryPerformanceCounter(&t0);
            for (long i = 0; i < n; ++i) {
                date = nullptr;
                if (FAILED(fp->GetDate(&date))) ++failures;
                SysFreeString(date);
            }
            QueryPerformanceCounter(&t1);
            const double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
            // A property the server answers without the line: the cost of the call alone.
            FPState state{};
            QueryPerformanceCounter(&t0);
            for (long i = 0; i < n; ++i) fp->get_EcrState(&state);
            QueryPerformanceCounter(&t1);
            const double local = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                                 static_cast<double>(f.QuadPart);
            // The same property through IDispatch::Invoke, as a script calls it.
            LPOLESTR member = const_cast<LPOLESTR>(L"EcrState");
            DISPID id = DISPID_UNKNOWN;
            fp->GetIDsOfNames(IID_NULL, &member, 1, 0, &id);
            DISPPARAMS none{nullptr, nullptr, 0, 0};
            QueryPerformanceCounter(&t0);
            for (long i = 0; i < n; ++i) {
                VARIANT v;
                VariantInit(&v);
                fp->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr);
                VariantClear(&v);
            }
            QueryPerformanceCounter(&t1);
            const double late = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                                static_cast<double>(f.QuadPart);
            std::printf("calls %ld, failed %ld, time per call %.2f ms (EcrState, no line traffic: %.2f ms; through "
                        "IDispatch::Invoke: %.2f ms)\n",
                        n, failures, ms / static_cast<double>(n), local / static_cast<double>(n),
                        late / static_cast<double>(n));
            rc = failures ? 1 : 0;
            fp->Disconnect();
        } else {
            std::printf("Connect or GetDate failed\n");
        }
        SysFreeString(name);
        fp->Release();
    } else {
        std::printf("FiscalPrinter not created\n");
    }
    CoUninitialize();
    return rc;
}
