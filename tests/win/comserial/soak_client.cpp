// The soak client of PELTRA44: a long fixed-seed run of commands through the server
// against the register simulator, whose faults it switches at random through its
// control pipe before each command. At the end it compares what it was told with the
// simulator's books.
//   comserial_soak PORT COMMANDS SEED CONTROL BOOKS
// CONTROL and BOOKS are the simulator's control pipe and books file (Windows paths).
// Every sale has an article code of its own, so that the books show for each sale
// whether it was booked once, twice or not at all. Faults that strike after the
// register executed a command (lost ACK, lost or damaged answer) hit at most two
// attempts of a command, so the driver's third attempt gets through and it can always
// know what happened; faults before the execution (NAK, garbage, silence) may hit all
// three and end in a reported failure.
// Records are taken late-bound, as scripts and 1C take them; the server's memory is
// sampled every 1,000 calls. Before the run, the memory kept for 1,000 records taken
// early-bound and 1,000 through IDispatch is measured on its own.
// Prints the figures; exit code 1 on a sale booked twice, a sale reported successful
// but not booked, a receipt whose count does not match, or a call over its bound.
#include <windows.h>
#include <ole2.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "peltra44_h.h"

namespace {

// A small fixed generator: the same seed gives the same run on every machine.
struct Random {
    explicit Random(unsigned long long seed) : state(seed * 2862933555777941757ULL + 3037000493ULL) {}
    unsigned Next(unsigned bound)
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<unsigned>((state >> 33) % bound);
    }
    unsigned long long state;
};

struct FaultKind {
    const char* spec;
    unsigned maxCount; // attempts it may hit
};
// Before the execution: may fail all three attempts.
const FaultKind kFaults[] = {
    {"nak", 3},
    {"garbage", 3},
    {"silence", 3},
    {"silence-after-ack", 2},
    {"syn-first", 2},
    {"ack-lost", 2},
    {"answer-lost-after-exec", 2},
    {"answer-damaged-after-exec", 2},
    {"bad-checksum", 2},
    {"wrong-seq", 2},
    {"stray-dle", 2},
    {"truncate", 2},
    {"syn-storm=700", 1},
};

class Soak {
public:
    Soak(IFiscalPrinter* fp, const char* control, unsigned seed) : fp_(fp), control_(control), random_(seed)
    {
        QueryPerformanceFrequency(&frequency_);
    }

    // One command with perhaps a fault before it; returns its result.
    template <typename F>
    HRESULT Call(const char* name, F&& call)
    {
        if (random_.Next(100) < 25) {
            const FaultKind& f = kFaults[random_.Next(sizeof kFaults / sizeof kFaults[0])];
            const unsigned count = 1 + random_.Next(f.maxCount);
            char line[96];
            std::snprintf(line, sizeof line, "clear\nfault %s,count=%u\n", f.spec, count);
            Control(line);
            faulted_ = true;
        } else if (faulted_) {
            Control("clear\n");
            faulted_ = false;
        }
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        const HRESULT hr = call();
        QueryPerformanceCounter(&t1);
        const double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                          static_cast<double>(frequency_.QuadPart);
        if (ms > longest_) {
            longest_ = ms;
            longestName_ = name;
        }
        ++commands_;
        ++calls_;
        if (FAILED(hr)) ++failures_[static_cast<unsigned long>(hr)];
        // The status as the object keeps it: a call without traffic on the line.
        FPState state{};
        fp_->get_EcrState(&state);
        ++calls_;
        return hr;
    }
    // Without a fault (a clean-up after a failure).
    template <typename F>
    HRESULT Clean(const char* name, F&& call)
    {
        if (faulted_) {
            Control("clear\n");
            faulted_ = false;
        }
        const HRESULT hr = call();
        (void)name;
        ++commands_;
        ++calls_;
        if (FAILED(hr)) ++failures_[static_cast<unsigned long>(hr)];
        return hr;
    }

    unsigned Pick(unsigned bound) { return random_.Next(bound); }
    void CountCalls(unsigned n) { calls_ += n; }
    unsigned long Commands() const { return commands_; }
    unsigned long Calls() const { return calls_; }
    double Longest() const { return longest_; }
    const char* LongestName() const { return longestName_; }
    const std::map<unsigned long, unsigned long>& Failures() const { return failures_; }

private:
    void Control(const char* text)
    {
        HANDLE pipe = CreateFileA(control_, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            std::printf("cannot open the control pipe (%lu)\n", GetLastError());
            std::exit(2);
        }
        DWORD written = 0;
        WriteFile(pipe, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
        CloseHandle(pipe);
    }

    IFiscalPrinter* fp_;
    const char* control_;
    Random random_;
    LARGE_INTEGER frequency_{};
    bool faulted_ = false;
    unsigned long commands_ = 0, calls_ = 0;
    double longest_ = 0;
    const char* longestName_ = "";
    std::map<unsigned long, unsigned long> failures_;
};

// Memory of the server process as the system tells it (under Wine: its /proc figures).
struct Memory {
    unsigned long workingSetKb = 0, privateKb = 0;
};
Memory ServerMemory()
{
    Memory result;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 e{};
    e.dwSize = sizeof e;
    DWORD pid = 0;
    for (BOOL more = Process32First(snap, &e); more; more = Process32Next(snap, &e))
        if (_stricmp(e.szExeFile, "PELTRA44.exe") == 0) pid = e.th32ProcessID;
    CloseHandle(snap);
    HANDLE process = pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr;
    if (!process) return result;
    PROCESS_MEMORY_COUNTERS m{};
    m.cb = sizeof m;
    GetProcessMemoryInfo(process, &m, sizeof m);
    CloseHandle(process);
    result.workingSetKb = static_cast<unsigned long>(m.WorkingSetSize / 1024);
    result.privateKb = static_cast<unsigned long>(m.PagefileUsage / 1024);
    return result;
}

// The server's memory at a point of the run.
void ServerFigures(const char* when)
{
    const Memory m = ServerMemory();
    std::printf("server %s: working set %lu KB, private %lu KB\n", when, m.workingSetKb, m.privateKb);
    std::fflush(stdout);
}

// A member called as a script or a 1C configuration calls it: its number by name, then
// IDispatch::Invoke. A failure is the exception's own code. Two round trips to the server.
HRESULT Late(IDispatch* object, const wchar_t* member, WORD flags, VARIANT* result)
{
    VariantInit(result);
    LPOLESTR name = const_cast<LPOLESTR>(member);
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO ex{};
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, result, &ex, nullptr);
    if (hr == DISP_E_EXCEPTION) {
        hr = ex.scode ? ex.scode : E_FAIL;
        SysFreeString(ex.bstrSource);
        SysFreeString(ex.bstrDescription);
        SysFreeString(ex.bstrHelpFile);
    }
    return hr;
}

// The memory the server keeps for records it hands out and the client lets go: N times
// the sub-record of one report (nothing is read from the register), early-bound and
// through IDispatch. Early-bound [out] interface pointers go through the platform's
// type-library marshaler, late-bound ones through IDispatch's own.
// {A6EF9860-C720-11D0-9337-00A0C90DCAA9}
const IID kIID_IDispatchEx = {0xa6ef9860, 0xc720, 0x11d0, {0x93, 0x37, 0x00, 0xa0, 0xc9, 0x0d, 0xca, 0xa9}};

void HandOutFigures(IFiscalPrinter* fp, long n)
{
    IXReport* x = nullptr;
    if (FAILED(fp->GetXReport(&x)) || !x) return;
    const auto early = [x](long count) {
        for (long i = 0; i < count; ++i) {
            ISumByTaxType* sums = nullptr;
            if (SUCCEEDED(x->get_SumByTaxType(&sums)) && sums) sums->Release();
        }
    };
    const auto late = [x](long count) {
        for (long i = 0; i < count; ++i) {
            VARIANT v;
            Late(x, L"SumByTaxType", DISPATCH_PROPERTYGET, &v);
            VariantClear(&v);
        }
    };
    // Both ways once before the count: the platform's first calls start threads and
    // caches of its own, which stay.
    early(200);
    late(200);
    // As a script takes them: each record is asked for IDispatchEx before it is used.
    const auto script = [x](long count) {
        for (long i = 0; i < count; ++i) {
            VARIANT v;
            Late(x, L"SumByTaxType", DISPATCH_PROPERTYGET, &v);
            if (v.vt == VT_DISPATCH && v.pdispVal) {
                IUnknown* ex = nullptr;
                if (SUCCEEDED(v.pdispVal->QueryInterface(kIID_IDispatchEx, reinterpret_cast<void**>(&ex))) && ex)
                    ex->Release();
            }
            VariantClear(&v);
        }
    };
    script(200);
    const auto privateKb = [] { return static_cast<long>(ServerMemory().privateKb); };
    const long k0 = privateKb();
    early(n);
    const long k1 = privateKb();
    late(n);
    const long k2 = privateKb();
    script(n);
    const long k3 = privateKb();
    x->Release();
    std::printf("server memory kept for %ld records handed out and released: early-bound %+ld KB, through IDispatch "
                "%+ld KB, asked for IDispatchEx as scripts do %+ld KB\n",
                n, k1 - k0, k2 - k1, k3 - k2);
}

std::map<std::string, long long> ReadBooks(const char* path)
{
    std::map<std::string, long long> books;
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line)) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) books[line.substr(0, eq)] = std::atoll(line.c_str() + eq + 1);
    }
    return books;
}

struct Sale {
    long code;
    long price; // one piece: the sum booked
};

int Run(const char* port, unsigned long commands, unsigned seed, const char* control, const char* booksPath)
{
    IFiscalPrinter* fp = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FiscalPrinter, nullptr, CLSCTX_LOCAL_SERVER, IID_IFiscalPrinter,
                                reinterpret_cast<void**>(&fp)))) {
        std::printf("FiscalPrinter not created\n");
        return 2;
    }
    wchar_t widePort[64] = {};
    MultiByteToWideChar(CP_ACP, 0, port, -1, widePort, 64);
    BSTR portName = SysAllocString(widePort);
    const HRESULT connected = fp->Connect(portName, 19200);
    SysFreeString(portName);
    if (FAILED(connected)) {
        std::printf("Connect failed: 0x%08lX\n", static_cast<unsigned long>(connected));
        fp->Release();
        return 2;
    }
    ServerFigures("at start");
    HandOutFigures(fp, 1000);

    Soak soak(fp, control, seed);
    BSTR none = SysAllocString(L"");
    BSTR itemName = SysAllocString(L"Soak");
    std::vector<Sale> booked;    // sales of receipts the client saw paid
    std::vector<long> notBooked; // sales that failed or whose receipt was cancelled
    unsigned long receiptsPaid = 0, receiptsCancelled = 0, records = 0;
    long nextCode = 1000;
    // The server's memory every 1,000 calls; the growth is measured from the figure
    // at 2,000 calls (after the warm-up), or from the first in a short run.
    std::vector<Memory> figures;
    unsigned long nextFigures = 1000;

    while (soak.Commands() < commands) {
        if (soak.Calls() >= nextFigures) {
            figures.push_back(ServerMemory());
            nextFigures += 1000;
        }
        const unsigned what = soak.Pick(100);
        if (what < 35) {
            // A whole receipt: one to four sales, then the payment (or a cancellation).
            std::vector<Sale> sold;
            const unsigned lines = 1 + soak.Pick(4);
            for (unsigned i = 0; i < lines; ++i) {
                const Sale s{nextCode++, static_cast<long>(100 + soak.Pick(5000))};
                LONG total = 0;
                const HRESULT hr = soak.Call("SaleArticle", [&] {
                    return fp->SaleArticle(s.code, 1000, s.price, fpttA, itemName, 3, 0, &total);
                });
                if (SUCCEEDED(hr)) sold.push_back(s);
                else notBooked.push_back(s.code);
            }
            bool paid = false;
            if (!sold.empty() && soak.Pick(100) >= 5) {
                LONG rest = 0;
                paid = SUCCEEDED(soak.Call("PayCheck", [&] { return fp->PayCheck(fpptCash, -1, none, &rest); }));
            }
            if (paid) {
                ++receiptsPaid;
                booked.insert(booked.end(), sold.begin(), sold.end());
            } else {
                soak.Clean("CancelCheck", [&] { return fp->CancelCheck(); });
                ++receiptsCancelled;
                for (const Sale& s : sold) notBooked.push_back(s.code);
            }
        } else if (what < 55) {
            BSTR date = nullptr;
            soak.Call("GetDate", [&] { return fp->GetDate(&date); });
            SysFreeString(date);
        } else if (what < 70) {
            BSTR time = nullptr;
            soak.Call("GetTime", [&] { return fp->GetTime(&time); });
            SysFreeString(time);
        } else if (what < 82) {
            LONG state = 0;
            soak.Call("GetState", [&] { return fp->GetState(&state); });
        } else {
            // A record made, read and let go, the way scripts and 1C take them.
            VARIANT report;
            VariantInit(&report);
            if (SUCCEEDED(soak.Call("GetXReport", [&] { return Late(fp, L"GetXReport", DISPATCH_METHOD, &report); })) &&
                V_VT(&report) == VT_DISPATCH && V_DISPATCH(&report)) {
                IDispatch* x = V_DISPATCH(&report);
                VARIANT count, sums, a;
                Late(x, L"ChecksCount", DISPATCH_PROPERTYGET, &count);
                if (SUCCEEDED(Late(x, L"SumByTaxType", DISPATCH_PROPERTYGET, &sums)) && V_VT(&sums) == VT_DISPATCH &&
                    V_DISPATCH(&sums)) {
                    Late(V_DISPATCH(&sums), L"TaxTypeA", DISPATCH_PROPERTYGET, &a);
                    VariantClear(&a);
                    soak.CountCalls(2);
                }
                VariantClear(&sums);
                soak.CountCalls(5); // GetXReport by name; ChecksCount and SumByTaxType by name and call
                ++records;
            }
            VariantClear(&report);
        }
    }
    ServerFigures("at end");
    const Memory last = ServerMemory();
    SysFreeString(none);
    SysFreeString(itemName);
    fp->Release();

    // What the register booked.
    const auto books = ReadBooks(booksPath);
    const auto soldSum = [&](long code) {
        const auto it = books.find("article." + std::to_string(code) + ".0.sold_sum");
        return it == books.end() ? 0LL : it->second;
    };
    unsigned long once = 0, twice = 0, missing = 0, unexpected = 0;
    for (const Sale& s : booked) {
        const long long sum = soldSum(s.code);
        if (sum == s.price) ++once;
        else if (sum > s.price) ++twice;
        else ++missing;
    }
    for (long code : notBooked)
        if (soldSum(code) != 0) ++unexpected;
    const auto receiptsBooked = books.count("shift.sales.receipts") ? books.at("shift.sales.receipts") : -1;

    std::printf("commands: %lu\n", soak.Commands());
    std::printf("calls: %lu (records made and released: %lu)\n", soak.Calls(), records);
    std::printf("failures by error code:");
    if (soak.Failures().empty()) std::printf(" none");
    for (const auto& f : soak.Failures()) std::printf(" 0x%08lX=%lu", f.first, f.second);
    std::printf("\n");
    std::printf("receipts paid: %lu, booked by the register: %lld; cancelled: %lu\n", receiptsPaid, receiptsBooked,
                receiptsCancelled);
    std::printf("sales seen successful and booked once: %lu of %lu\n", once, static_cast<unsigned long>(booked.size()));
    std::printf("sales booked twice: %lu\n", twice);
    std::printf("sales reported successful but missing: %lu\n", missing);
    std::printf("sales failed or cancelled but booked: %lu\n", unexpected);
    if (!figures.empty()) {
        std::printf("server working set every 1,000 calls (KB):");
        for (const Memory& m : figures) std::printf(" %lu", m.workingSetKb);
        std::printf("\nserver private memory every 1,000 calls (KB):");
        for (const Memory& m : figures) std::printf(" %lu", m.privateKb);
        const std::size_t base = figures.size() > 1 ? 1 : 0;
        std::printf(
            "\nserver memory growth from call %lu to the end (%lu calls): working set %+ld KB, private %+ld KB\n",
            static_cast<unsigned long>((base + 1) * 1000), soak.Calls() - (base + 1) * 1000,
            static_cast<long>(last.workingSetKb) - static_cast<long>(figures[base].workingSetKb),
            static_cast<long>(last.privateKb) - static_cast<long>(figures[base].privateKb));
    }
    std::printf("longest call: %.0f ms (%s)\n", soak.Longest(), soak.LongestName());
    // Three attempts, each bounded by the busy limit and the frame time-outs.
    const bool bounded = soak.Longest() < 35000;
    const bool good = twice == 0 && missing == 0 && unexpected == 0 &&
                      receiptsBooked == static_cast<long long>(receiptsPaid) && bounded;
    std::printf("%s\n", good ? "SOAK OK" : "SOAK FAILED");
    return good ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::printf("usage: comserial_soak PORT COMMANDS SEED CONTROL BOOKS\n");
        return 2;
    }
    CoInitialize(nullptr);
    const int rc = Run(argv[1], std::strtoul(argv[2], nullptr, 10),
                       static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)), argv[4], argv[5]);
    CoUninitialize();
    return rc;
}
