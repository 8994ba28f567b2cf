// C++ client of PELTRA44 for the record tests: early-bound calls through the server's
// own interfaces (proxies made from its type library), as a compiled client makes them.
//   comserial_records keep-sums PORT FILE
//       connects, sells a receipt, reads an XReport, keeps only its SumByTaxType and
//       lets go of the XReport and of FiscalPrinter; prints READY, waits until FILE
//       exists, reads the sums again through the kept object and its Parent, releases
//       it, prints DONE. On the way: ReadMemory's array, early- and late-bound.
// One line per check ("ok ..." / "FAIL ..."); exit code 1 on a failure.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

#include "peltra44_h.h"

namespace {

int failures = 0;

bool Check(bool ok, const char* what)
{
    std::printf("%s %s\n", ok ? "ok" : "FAIL", what);
    std::fflush(stdout);
    if (!ok) ++failures;
    return ok;
}

bool Ok(HRESULT hr, const char* what)
{
    if (FAILED(hr)) std::printf("  (0x%08lX)\n", static_cast<unsigned long>(hr));
    return Check(SUCCEEDED(hr), what);
}

std::string Sums(ISumByTaxType* s)
{
    LONG v[6] = {};
    s->get_TaxTypeA(&v[0]);
    s->get_TaxTypeB(&v[1]);
    s->get_TaxTypeV(&v[2]);
    s->get_TaxTypeG(&v[3]);
    s->get_TaxTypeD(&v[4]);
    s->get_TaxTypeE(&v[5]);
    char text[128];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld %ld %ld", v[0], v[1], v[2], v[3], v[4], v[5]);
    return text;
}

// The array a memory read returns: VT_UI1, one dimension, indexes 1 to 10.
bool MemoryArray(SAFEARRAY* bytes)
{
    LONG lower = -1, upper = -1;
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetLBound(bytes, 1, &lower);
    SafeArrayGetUBound(bytes, 1, &upper);
    SafeArrayGetVartype(bytes, &vt);
    return lower == 1 && upper == 10 && vt == VT_UI1 && SafeArrayGetDim(bytes) == 1;
}

// ReadMemory(19, 0, 10) as a script calls it: through IDispatch, the result a VARIANT.
void LateBoundMemoryRead(IFiscalPrinter* fp)
{
    LPOLESTR name = const_cast<LPOLESTR>(L"ReadMemory");
    DISPID id = DISPID_UNKNOWN;
    if (!Ok(fp->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), "ReadMemory's DISPID")) return;
    VARIANT args[3];
    for (auto& a : args) {
        VariantInit(&a);
        V_VT(&a) = VT_I4;
    }
    V_I4(&args[2]) = 19; // BlockAddr (arguments in reverse order)
    V_I4(&args[1]) = 0;  // Page
    V_I4(&args[0]) = 10; // Count
    DISPPARAMS params{args, nullptr, 3, 0};
    VARIANT result;
    VariantInit(&result);
    UINT argErr = 0;
    if (Ok(fp->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, &argErr), "late-bound ReadMemory"))
        Check(V_VT(&result) == (VT_ARRAY | VT_UI1) && MemoryArray(V_ARRAY(&result)),
              "late-bound ReadMemory: a VT_ARRAY|VT_UI1 VARIANT, LBound 1, UBound 10");
    VariantClear(&result);
}

int KeepSums(const char* port, const char* file)
{
    IFiscalPrinter* fp = nullptr;
    if (!Ok(CoCreateInstance(CLSID_FiscalPrinter, nullptr, CLSCTX_LOCAL_SERVER, IID_IFiscalPrinter,
                             reinterpret_cast<void**>(&fp)),
            "FiscalPrinter created"))
        return 1;
    wchar_t widePort[64] = {};
    MultiByteToWideChar(CP_ACP, 0, port, -1, widePort, 64);
    BSTR name = SysAllocString(widePort);
    const HRESULT connected = fp->Connect(name, 19200);
    SysFreeString(name);
    // A receipt, so that the shift has sums to keep.
    BSTR article = SysAllocString(L"Coffee");
    BSTR none = SysAllocString(L"");
    LONG line = 0, change = 0;
    const HRESULT sold = fp->SaleArticle(5, 2000, 4250, fpttA, article, 3, 0, &line);
    const HRESULT paid = fp->PayCheck(fpptCash, -1, none, &change);
    SysFreeString(article);
    SysFreeString(none);
    IXReport* x = nullptr;
    if (!Ok(connected, "Connect") || !Ok(sold, "SaleArticle") || !Ok(paid, "PayCheck") ||
        !Ok(fp->GetXReport(&x), "GetXReport")) {
        fp->Release();
        return 1;
    }

    // The same sub-record object every time.
    ISumByTaxType* sums = nullptr;
    ISumByTaxType* again = nullptr;
    Ok(x->get_SumByTaxType(&sums), "XReport.SumByTaxType");
    Ok(x->get_SumByTaxType(&again), "XReport.SumByTaxType again");
    Check(sums && sums == again, "the same SumByTaxType object both times");
    if (again) again->Release();

    // A memory read: a byte array whose first index is 1.
    SAFEARRAY* bytes = nullptr;
    if (Ok(fp->ReadMemory(19, 0, 10, &bytes), "ReadMemory")) {
        Check(MemoryArray(bytes), "ReadMemory: VT_UI1, one dimension, indexes 1 to 10");
        SafeArrayDestroy(bytes);
    }
    LateBoundMemoryRead(fp);

    if (!sums) return 1;
    const std::string before = Sums(sums);
    Check(before != "0 0 0 0 0 0", "the sums hold the receipt");
    x->Release();
    fp->Release();
    std::printf("sums=%s\nREADY\n", before.c_str());
    std::fflush(stdout);

    for (int i = 0; i < 1200 && GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    Check(Sums(sums) == before, "the kept SumByTaxType still reads its sums");
    IDispatch* parent = nullptr;
    IXReport* report = nullptr;
    if (Ok(sums->get_Parent(&parent), "SumByTaxType.Parent") &&
        Ok(parent->QueryInterface(IID_IXReport, reinterpret_cast<void**>(&report)), "its Parent is the XReport")) {
        IFiscalPrinter* printer = nullptr;
        LONG count = -1;
        Ok(report->get_ChecksCount(&count), "XReport.ChecksCount through the Parent");
        Ok(report->get_Parent(&printer), "XReport.Parent");
        if (printer) printer->Release();
        report->Release();
    }
    if (parent) parent->Release();
    sums->Release();
    std::printf("DONE\n");
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    CoInitialize(nullptr);
    int rc = 2;
    if (mode == "keep-sums" && argc > 3) rc = KeepSums(argv[2], argv[3]);
    CoUninitialize();
    return rc;
}
