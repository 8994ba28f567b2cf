// addin-host-msvc: a Windows x64 host for the add-in DLL with MSVC's own C++ layout
// (built by clang in MSVC mode, no runtime library), as the Windows platform is built.
// It loads the DLL the way the platform does, drives one component through every kind of
// call the platform makes and checks what comes back, including that every string the
// component hands over lives in memory it took from this host's memory manager.
//
//   addin-host-msvc.exe DLL [ADDRESS]
//
// With ADDRESS (host:port of a register) it also opens the register with the default
// login, sells the documented one-item receipt, prints an X report, makes the register
// refuse a receipt (the user sees the register's text through the message box) and closes.
// Every check prints "ok" or "FAIL" and a line; the exit status is the number of failures.
#define NATIVE_API_FREESTANDING
#include "addin/native_api.h"
#include "tools/addin-host-msvc/win32_min.h"

// ---------------------------------------------------------------------------------------
// Runtime pieces the compiler relies on

extern "C" {
int _fltused = 0;
void* memset(void* dst, int value, size_t n)
{
    auto* d = static_cast<volatile unsigned char*>(dst);
    while (n--) *d++ = static_cast<unsigned char>(value);
    return dst;
}
void* memcpy(void* dst, const void* src, size_t n)
{
    auto* d = static_cast<volatile unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    while (n--) *d++ = *s++;
    return dst;
}
int _purecall() { ExitProcess(90); }
}

void* operator new(size_t n)
{
    void* p = HeapAlloc(GetProcessHeap(), 0, n ? n : 1);
    if (!p) ExitProcess(91);
    return p;
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept
{
    if (p) HeapFree(GetProcessHeap(), 0, p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }

namespace {

// ---------------------------------------------------------------------------------------
// Text and output

size_t length(const char16_t* s)
{
    size_t n = 0;
    while (s && s[n]) ++n;
    return n;
}

bool same(const char16_t* a, size_t an, const char16_t* b)
{
    if (!a || !b || an != length(b)) return false;
    for (size_t i = 0; i < an; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

bool startsWith(const char16_t* a, size_t an, const char16_t* prefix)
{
    const size_t pn = length(prefix);
    if (!a || an < pn) return false;
    for (size_t i = 0; i < pn; ++i)
        if (a[i] != prefix[i]) return false;
    return true;
}

// Bytes of `hay` contain the bytes of `needle`.
bool contains(const char* hay, size_t hn, const char* needle)
{
    size_t nn = 0;
    while (needle[nn]) ++nn;
    for (size_t i = 0; nn <= hn && i + nn <= hn; ++i) {
        size_t k = 0;
        while (k < nn && hay[i + k] == needle[k]) ++k;
        if (k == nn) return true;
    }
    return false;
}

// Console output, UTF-8, written at every line end.
class Out {
public:
    Out& operator<<(const char* s)
    {
        while (s && *s) put(*s++);
        return *this;
    }
    Out& operator<<(char c)
    {
        put(c);
        return *this;
    }
    Out& operator<<(long long v)
    {
        char digits[24];
        int n = 0;
        const bool negative = v < 0;
        unsigned long long u = negative ? 0ull - static_cast<unsigned long long>(v)
                                        : static_cast<unsigned long long>(v);
        do digits[n++] = static_cast<char>('0' + u % 10);
        while (u /= 10);
        if (negative) put('-');
        while (n) put(digits[--n]);
        return *this;
    }
    Out& operator<<(int v) { return *this << static_cast<long long>(v); }
    Out& operator<<(long v) { return *this << static_cast<long long>(v); }
    Out& operator<<(size_t v) { return *this << static_cast<long long>(v); }
    Out& operator<<(unsigned v) { return *this << static_cast<long long>(v); }
    // Two decimals, enough for money.
    Out& operator<<(double d)
    {
        long long cents = static_cast<long long>(d * 100 + (d < 0 ? -0.5 : 0.5));
        if (cents < 0) put('-'), cents = -cents;
        *this << cents / 100;
        put('.');
        put(static_cast<char>('0' + cents / 10 % 10));
        put(static_cast<char>('0' + cents % 10));
        return *this;
    }
    void text(const char16_t* s, size_t n)
    {
        for (size_t i = 0; s && i < n; ++i) {
            uint32_t c = s[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
                c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
            if (c < 0x80) {
                put(static_cast<char>(c));
            } else if (c < 0x800) {
                put(static_cast<char>(0xC0 | (c >> 6)));
                put(static_cast<char>(0x80 | (c & 0x3F)));
            } else if (c < 0x10000) {
                put(static_cast<char>(0xE0 | (c >> 12)));
                put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                put(static_cast<char>(0x80 | (c & 0x3F)));
            } else {
                put(static_cast<char>(0xF0 | (c >> 18)));
                put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
                put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                put(static_cast<char>(0x80 | (c & 0x3F)));
            }
        }
    }
    Out& operator<<(const char16_t* s)
    {
        text(s, length(s));
        return *this;
    }
    void flush()
    {
        DWORD written = 0;
        if (used_) WriteFile(GetStdHandle(kStdOutput), buf_, static_cast<DWORD>(used_), &written, nullptr);
        used_ = 0;
    }

private:
    void put(char c)
    {
        if (used_ == sizeof buf_) flush();
        buf_[used_++] = c;
        if (c == '\n') flush();
    }
    char buf_[1024];
    size_t used_ = 0;
};

Out* g_out;
int g_passed, g_failed;

void check(bool ok, const char* what)
{
    if (ok) ++g_passed;
    else ++g_failed;
    *g_out << (ok ? "ok    " : "FAIL  ") << what << "\n";
}

// ---------------------------------------------------------------------------------------
// The platform's side: memory manager, connection, message box

struct Block {
    void* p;
    unsigned long size;
};

// Hands out blocks from the process heap, filled with 0xCD, and keeps a list of them.
class HostMemory : public IMemoryManager {
public:
    bool AllocMemory(void** memory, unsigned long countBytes) override
    {
        if (!memory) return false;
        *memory = nullptr;
        if (countBytes == 0 || count_ == kMax) return false;
        void* p = HeapAlloc(GetProcessHeap(), 0, countBytes);
        if (!p) return false;
        memset(p, 0xCD, countBytes);
        blocks_[count_++] = Block{p, countBytes};
        ++allocations;
        *memory = p;
        return true;
    }
    void FreeMemory(void** memory) override
    {
        if (!memory || !*memory) return;
        release(*memory);
        *memory = nullptr;
    }
    long find(const void* p) const
    {
        for (long i = 0; i < count_; ++i)
            if (blocks_[i].p == p) return i;
        return -1;
    }
    unsigned long sizeOf(const void* p) const
    {
        const long i = find(p);
        return i < 0 ? 0 : blocks_[i].size;
    }
    void release(const void* p)
    {
        const long i = find(p);
        if (i < 0) {
            ++badFrees;
            return;
        }
        HeapFree(GetProcessHeap(), 0, blocks_[i].p);
        blocks_[i] = blocks_[--count_];
    }
    long outstanding() const { return count_; }

    long allocations = 0, badFrees = 0, foreign = 0;

private:
    static constexpr long kMax = 4096;
    Block* blocks_ = new Block[kMax];
    long count_ = 0;
};

class MessageBox : public IMsgBox {
public:
    bool Confirm(const WCHAR_T*, tVariant* ret) override
    {
        if (ret) {
            memset(ret, 0, sizeof *ret);
            ret->bVal = true;
            ret->vt = VTYPE_BOOL;
        }
        return true;
    }
    bool Alert(const WCHAR_T* text) override
    {
        ++alerts;
        copy(text, lastAlert, &lastAlertLength);
        return true;
    }
    static void copy(const WCHAR_T* text, char16_t* to, size_t* n)
    {
        *n = 0;
        while (text && text[*n] && *n < 255) to[*n] = text[*n], ++*n;
        to[*n] = 0;
    }
    int alerts = 0;
    char16_t lastAlert[256] = {};
    size_t lastAlertLength = 0;
};

class Connection : public IAddInDefBaseEx {
public:
    bool AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr, long scode) override
    {
        ++errors;
        lastCode = wcode;
        lastScode = scode;
        MessageBox::copy(source, lastSource, &lastSourceLength);
        MessageBox::copy(descr, lastError, &lastErrorLength);
        return true;
    }
    bool Read(WCHAR_T*, tVariant*, long*, WCHAR_T**) override { return false; }
    bool Write(WCHAR_T*, tVariant*) override { return false; }
    bool RegisterProfileAs(WCHAR_T*) override { return false; }
    bool SetEventBufferDepth(long) override { return false; }
    long GetEventBufferDepth() override { return 0; }
    bool ExternalEvent(WCHAR_T*, WCHAR_T*, WCHAR_T*) override { return false; }
    void CleanEventBuffer() override {}
    bool SetStatusLine(WCHAR_T*) override { return false; }
    void ResetStatusLine() override {}
    IInterface* GetInterface(Interfaces iface) override { return iface == eIMsgBox ? &box : nullptr; }

    MessageBox box;
    int errors = 0;
    unsigned short lastCode = 0;
    long lastScode = 0;
    char16_t lastSource[256] = {}, lastError[256] = {};
    size_t lastSourceLength = 0, lastErrorLength = 0;
};

// ---------------------------------------------------------------------------------------
// Calls

struct Env {
    HostMemory* memory;
    Connection* connection;
    IComponentBase* component;
};

tVariant i4(int32_t v)
{
    tVariant t;
    memset(&t, 0, sizeof t);
    t.vt = VTYPE_I4;
    t.lVal = v;
    return t;
}

tVariant r8(double v)
{
    tVariant t;
    memset(&t, 0, sizeof t);
    t.vt = VTYPE_R8;
    t.dblVal = v;
    return t;
}

tVariant boolean(bool v)
{
    tVariant t;
    memset(&t, 0, sizeof t);
    t.vt = VTYPE_BOOL;
    t.bVal = v;
    return t;
}

tVariant str(const char16_t* s)
{
    tVariant t;
    memset(&t, 0, sizeof t);
    t.vt = VTYPE_PWSTR;
    t.pwstrVal = const_cast<WCHAR_T*>(s);
    t.wstrLen = static_cast<uint32_t>(length(s));
    return t;
}

// A string the component placed in a variant: it must be a block from our memory manager
// large enough for the text and its terminator, and terminated. The host owns it from now
// on; free it with Env::memory->release once read.
bool hostString(Env& env, const tVariant& v)
{
    if (v.vt != VTYPE_PWSTR || !v.pwstrVal) return false;
    const unsigned long size = env.memory->sizeOf(v.pwstrVal);
    if (size == 0) {
        ++env.memory->foreign;
        return false;
    }
    return size >= (v.wstrLen + 1ul) * 2 && v.pwstrVal[v.wstrLen] == 0;
}

// A name from GetMethodName/GetPropName: copied to `out` (at most 127 units), released.
bool takeName(Env& env, const WCHAR_T* name, char16_t* out)
{
    out[0] = 0;
    if (!name) return false;
    const bool owned = env.memory->find(name) >= 0;
    if (!owned) ++env.memory->foreign;
    size_t n = 0;
    while (name[n] && n < 127) out[n] = name[n], ++n;
    out[n] = 0;
    if (owned) env.memory->release(name);
    return owned;
}

struct Result {
    bool called = false; // what CallAsFunc returned
    tVariant ret;
    int errors = 0; // AddError during the call
    int alerts = 0; // Alert during the call
    bool stringsOk = true;
};

// Calls a method by its English name, every argument by reference in one array. Output
// strings are checked and left in the variants for the caller (release them with done()).
Result call(Env& env, const char16_t* name, tVariant* args, long count)
{
    Result r;
    memset(&r.ret, 0, sizeof r.ret);
    ILanguageExtenderBase* ext = env.component;
    const long method = ext->FindMethod(name);
    if (method < 0) {
        *g_out << "no method " << name << "\n";
        return r;
    }
    const WCHAR_T* passed[8] = {};
    for (long i = 0; i < count && i < 8; ++i) passed[i] = args[i].vt == VTYPE_PWSTR ? args[i].pwstrVal : nullptr;
    const int errorsBefore = env.connection->errors, alertsBefore = env.connection->box.alerts;
    r.called = ext->CallAsFunc(method, &r.ret, args, count);
    r.errors = env.connection->errors - errorsBefore;
    r.alerts = env.connection->box.alerts - alertsBefore;
    if (r.ret.vt == VTYPE_PWSTR) r.stringsOk = hostString(env, r.ret);
    for (long i = 0; i < count && i < 8; ++i)
        if (args[i].vt == VTYPE_PWSTR && args[i].pwstrVal != passed[i])
            r.stringsOk = hostString(env, args[i]) && r.stringsOk;
    return r;
}

// Gives back the strings a call left in host memory.
void done(Env& env, Result& r, tVariant* args, long count)
{
    if (r.ret.vt == VTYPE_PWSTR && env.memory->find(r.ret.pwstrVal) >= 0) env.memory->release(r.ret.pwstrVal);
    for (long i = 0; i < count; ++i)
        if (args[i].vt == VTYPE_PWSTR && env.memory->find(args[i].pwstrVal) >= 0) env.memory->release(args[i].pwstrVal);
}

bool isTrue(const tVariant& v) { return v.vt == VTYPE_BOOL && v.bVal; }

// Runs a method expected to succeed without errors or messages; prints the step.
bool step(Env& env, const char* what, const char16_t* name, tVariant* args, long count)
{
    Result r = call(env, name, args, count);
    const bool ok = r.called && isTrue(r.ret) && r.errors == 0 && r.alerts == 0 && r.stringsOk;
    if (!ok) {
        *g_out << "      " << name << ": CallAsFunc " << (r.called ? "true" : "false") << ", vt " << r.ret.vt
               << ", errors " << r.errors << ", alerts " << r.alerts;
        if (r.errors) *g_out << ", last \"" << env.connection->lastError << "\"";
        if (r.alerts) *g_out << ", alert \"" << env.connection->box.lastAlert << "\"";
        *g_out << "\n";
    }
    check(ok, what);
    done(env, r, args, count);
    return ok;
}

// ---------------------------------------------------------------------------------------
// Checks

using GetClassNamesFn = const WCHAR_T* (*)();
using GetClassObjectFn = long (*)(const WCHAR_T*, IComponentBase**);
using DestroyObjectFn = long (*)(IComponentBase**);
using SetPlatformCapabilitiesFn = AppCapabilities (*)(const AppCapabilities);

void layout()
{
    MessageBox box;
    IInterface* base = &box;
    check(reinterpret_cast<char*>(base) - reinterpret_cast<char*>(&box) == 8, "layout: IMsgBox's IInterface at +8");
    check(sizeof(tVariant) == 48 && offsetof(tVariant, vt) == 44 && sizeof(long) == 4,
          "layout: tVariant 48 bytes, vt at 44, long 4 bytes");
}

// Methods and properties in both languages, every name from host memory and found again.
void tables(Env& env)
{
    ILanguageExtenderBase* ext = env.component;
    char16_t english[128], russian[128];
    const long methods = ext->GetNMethods();
    bool namesOk = true, findOk = true, retOk = true;
    *g_out << "      methods: " << methods << "\n";
    for (long i = 0; i < methods; ++i) {
        namesOk = takeName(env, ext->GetMethodName(i, 0), english) && namesOk;
        namesOk = takeName(env, ext->GetMethodName(i, 1), russian) && namesOk;
        findOk = findOk && ext->FindMethod(english) == i && ext->FindMethod(russian) == i;
        retOk = retOk && ext->HasRetVal(i);
        *g_out << "      " << i << "  " << english << " | " << russian << " | params " << ext->GetNParams(i) << "\n";
    }
    const long props = ext->GetNProps();
    *g_out << "      properties: " << props << "\n";
    for (long i = 0; i < props; ++i) {
        namesOk = takeName(env, ext->GetPropName(i, 0), english) && namesOk;
        namesOk = takeName(env, ext->GetPropName(i, 1), russian) && namesOk;
        findOk = findOk && ext->FindProp(english) == i && ext->FindProp(russian) == i;
        *g_out << "      " << i << "  " << english << " | " << russian << " | " << (ext->IsPropReadable(i) ? "R" : "")
               << (ext->IsPropWritable(i) ? "W" : "") << "\n";
    }
    check(methods == 33 && props == 19, "tables: 33 methods and 19 properties");
    check(namesOk, "tables: every name in both languages comes in host memory");
    check(findOk, "tables: FindMethod/FindProp find each name in either language");
    check(retOk, "tables: every method returns a value");
    check(ext->FindMethod(u"ПолучитьНомерВерсии") == ext->FindMethod(u"GetVersion") && ext->FindMethod(u"NoSuch") == -1,
          "tables: Russian and English names of GetVersion agree; an unknown name is -1");
    check(ext->GetMethodName(methods, 0) == nullptr && ext->GetPropName(props, 1) == nullptr,
          "tables: no name past the end");
}

void properties(Env& env)
{
    ILanguageExtenderBase* ext = env.component;
    tVariant v;
    memset(&v, 0, sizeof v);
    bool ok = ext->GetPropVal(ext->FindProp(u"Version"), &v) && hostString(env, v) &&
              startsWith(v.pwstrVal, v.wstrLen, u"1.") && v.wstrLen > 6 &&
              same(v.pwstrVal + v.wstrLen - 6, 6, u" 64bit");
    if (v.vt == VTYPE_PWSTR) *g_out << "      Version: " << v.pwstrVal << "\n";
    if (v.vt == VTYPE_PWSTR && env.memory->find(v.pwstrVal) >= 0) env.memory->release(v.pwstrVal);
    check(ok, "properties: Version is a host string ending in \" 64bit\"");

    memset(&v, 0, sizeof v);
    ok = ext->GetPropVal(ext->FindProp(u"Наименование"), &v) && hostString(env, v) &&
         startsWith(v.pwstrVal, v.wstrLen, u"1С:Native");
    if (v.vt == VTYPE_PWSTR && env.memory->find(v.pwstrVal) >= 0) env.memory->release(v.pwstrVal);
    check(ok, "properties: Наименование read by its Russian name");

    memset(&v, 0, sizeof v);
    ok = ext->GetPropVal(ext->FindProp(u"InterfaceRevision"), &v) && v.vt == VTYPE_I4 && v.lVal == 2005;
    memset(&v, 0, sizeof v);
    ok = ok && ext->GetPropVal(ext->FindProp(u"IntegrationLibrary"), &v) && v.vt == VTYPE_BOOL && !v.bVal;
    check(ok, "properties: InterfaceRevision I4 2005, IntegrationLibrary BOOL false");

    tVariant in = i4(3);
    ok = ext->SetPropVal(ext->FindProp(u"DefaultTaxGroup"), &in);
    memset(&v, 0, sizeof v);
    ok = ok && ext->GetPropVal(ext->FindProp(u"DefaultTaxGroup"), &v) && v.vt == VTYPE_I4 && v.lVal == 3;
    in = str(u"192.0.2.7");
    ok = ok && ext->SetPropVal(ext->FindProp(u"IP"), &in);
    memset(&v, 0, sizeof v);
    ok = ok && ext->GetPropVal(ext->FindProp(u"IP"), &v) && hostString(env, v) &&
         same(v.pwstrVal, v.wstrLen, u"192.0.2.7");
    if (v.vt == VTYPE_PWSTR && env.memory->find(v.pwstrVal) >= 0) env.memory->release(v.pwstrVal);
    in = str(u"");
    ext->SetPropVal(ext->FindProp(u"IP"), &in);
    check(ok, "properties: DefaultTaxGroup and IP written and read back");
}

// Calls with typed arguments that need no register.
void offlineCalls(Env& env)
{
    Result r = call(env, u"GetVersion", nullptr, 0);
    check(r.called && r.stringsOk && r.ret.vt == VTYPE_PWSTR && startsWith(r.ret.pwstrVal, r.ret.wstrLen, u"1."),
          "GetVersion returns the version as a host string");
    done(env, r, nullptr, 0);

    tVariant desc[7] = {str(u""), str(u""), str(u""), i4(0), boolean(true), boolean(false), str(u"")};
    r = call(env, u"GetDescription", desc, 7);
    check(r.called && r.stringsOk && desc[0].vt == VTYPE_PWSTR && desc[3].vt == VTYPE_I4 && desc[3].lVal == 2005 &&
              desc[4].vt == VTYPE_BOOL && !desc[4].bVal && desc[5].vt == VTYPE_BOOL && desc[5].bVal &&
              desc[6].vt == VTYPE_PWSTR,
          "GetDescription fills its seven output arguments (strings, I4, BOOL)");
    done(env, r, desc, 7);

    // A fiscal method before Open: the driver reports the error through AddError.
    tVariant id[1] = {str(u"")};
    r = call(env, u"PrintZReport", id, 1);
    check(!r.called && r.errors == 1 && env.connection->lastCode == 1001 &&
              same(env.connection->lastError, env.connection->lastErrorLength,
                   u"Драйвер не подключен к фискальному регистратору") &&
              same(env.connection->lastSource, env.connection->lastSourceLength, u"Драйвер ФР Oltra"),
          "AddError: PrintZReport before Open reports 1001 \"Драйвер не подключен...\"");
    done(env, r, id, 1);

    tVariant last[1] = {str(u"")};
    r = call(env, u"GetLastError", last, 1);
    check(r.called && r.stringsOk && last[0].vt == VTYPE_PWSTR &&
              same(last[0].pwstrVal, last[0].wstrLen, u"Необходимо вызвать метод Open"),
          "GetLastError without a register: \"Необходимо вызвать метод Open\"");
    done(env, r, last, 1);

    tVariant none[1] = {i4(0)};
    ILanguageExtenderBase* ext = env.component;
    check(!ext->CallAsProc(ext->FindMethod(u"GetVersion"), none, 0) && ext->CallAsProc(0, none, 1),
          "CallAsProc: false without arguments, true with them");
    env.component->SetLocale(u"");
}

// Against the register: Digest login, the documented receipt, an X report, a refused
// receipt shown through the message box, Close.
void registerSession(Env& env, const char16_t* address)
{
    ILanguageExtenderBase* ext = env.component;
    tVariant in = str(address);
    ext->SetPropVal(ext->FindProp(u"IP"), &in);
    // SetParameter also connects (with no IP it would search the network: set it first).
    tVariant set[2] = {str(u"DefaultTaxGroup"), i4(1)};
    step(env, "SetParameter DefaultTaxGroup takes an I4 and connects", u"SetParameter", set, 2);

    tVariant deviceId[1] = {str(u"")};
    if (!step(env, "Open logs in with the default user and password (Digest)", u"Open", deviceId, 1)) return;

    tVariant open[6] = {str(u""), boolean(true), boolean(false), boolean(false), i4(0), i4(7)};
    Result r = call(env, u"OpenCheck", open, 6);
    check(r.called && isTrue(r.ret) && r.errors == 0 && open[4].vt == VTYPE_I4 && open[4].lVal >= 1 &&
              open[5].vt == VTYPE_I4 && open[5].lVal == 7,
          "OpenCheck returns the receipt number in argument 4");
    done(env, r, open, 6);

    tVariant item[7] = {str(u""), str(u"abc"), r8(2), r8(10.50), r8(20.00), i4(0), r8(0)};
    step(env, "PrintFiscalString abc 2 x 10.50 = 20.00 (R8 and I4 arguments)", u"PrintFiscalString", item, 7);
    tVariant close[5] = {str(u""), r8(0), r8(20), r8(0), r8(0)};
    step(env, "CloseCheck sends the receipt", u"CloseCheck", close, 5);

    tVariant number[2] = {str(u""), i4(0)};
    r = call(env, u"GetCurrentReceiptNumber", number, 2);
    check(isTrue(r.ret) && number[1].vt == VTYPE_I4 && number[1].lVal == open[4].lVal + 1,
          "GetCurrentReceiptNumber is one past the receipt just sold");
    done(env, r, number, 2);

    tVariant x[1] = {str(u"")};
    step(env, "PrintXReport", u"PrintXReport", x, 1);

    // Paid short: the register refuses, the user sees its text in the message box.
    tVariant open2[6] = {str(u""), boolean(true), boolean(false), boolean(false), i4(0), i4(0)};
    r = call(env, u"OpenCheck", open2, 6);
    done(env, r, open2, 6);
    tVariant item2[7] = {str(u""), str(u"Сир"), r8(1), r8(100), r8(100), i4(0), r8(20)};
    r = call(env, u"PrintFiscalString", item2, 7);
    done(env, r, item2, 7);
    tVariant short2[5] = {str(u""), r8(60), r8(0), r8(0), r8(0)};
    r = call(env, u"CloseCheck", short2, 5);
    check(r.called && r.ret.vt == VTYPE_BOOL && !r.ret.bVal && r.alerts == 1 &&
              startsWith(env.connection->box.lastAlert, env.connection->box.lastAlertLength, u"(Код:11) "),
          "Alert through IMsgBox: a receipt paid short shows \"(Код:11) ...\"");
    *g_out << "      alert: " << env.connection->box.lastAlert << "\n";
    done(env, r, short2, 5);

    tVariant closeArgs[1] = {str(u"")};
    step(env, "Close", u"Close", closeArgs, 1);
}

// The driver log: in the Windows temporary folder, begun with the UTF-8 byte-order mark.
void driverLog(const wchar_t* logPath, bool withRegister)
{
    HANDLE f = CreateFileW(logPath, kGenericRead, kShareReadWrite, nullptr, kOpenExisting, 0, nullptr);
    check(f != INVALID_HANDLE, "log: Oltra.log exists in the temporary folder");
    if (f == INVALID_HANDLE) return;
    const DWORD cap = 1 << 20;
    char* data = new char[cap];
    DWORD total = 0, got = 0;
    while (total < cap && ReadFile(f, data + total, cap - total, &got, nullptr) && got) total += got;
    CloseHandle(f);
    check(total > 3 && static_cast<unsigned char>(data[0]) == 0xEF && static_cast<unsigned char>(data[1]) == 0xBB &&
              static_cast<unsigned char>(data[2]) == 0xBF,
          "log: begins with EF BB BF");
    check(contains(data, total, "] INFO: Oltranative_x64.dll version: 1.") && !contains(data, total, "\r\n"),
          "log: the component's version line, lines end in LF only");
    if (withRegister)
        check(contains(data, total, "INFO: Connection to fiscal printer IP: 127.0.0.1:") &&
                  contains(data, total, ".response\n"),
              "log: the connection line and response dumps");
    delete[] data;
}

// Splits the command line; returns the number of words (at most `max`), copies in `words`.
int arguments(wchar_t** words, int max)
{
    const wchar_t* p = GetCommandLineW();
    int n = 0;
    while (*p && n < max) {
        while (*p == L' ' || *p == L'\t') ++p;
        if (!*p) break;
        wchar_t* w = new wchar_t[1024];
        int k = 0;
        bool quoted = false;
        while (*p && (quoted || (*p != L' ' && *p != L'\t'))) {
            if (*p == L'"') quoted = !quoted;
            else if (k < 1023) w[k++] = *p;
            ++p;
        }
        w[k] = 0;
        words[n++] = w;
    }
    return n;
}

int run()
{
    // Large objects live on the heap: frames stay small, with no stack probes to supply.
    Out& out = *new Out;
    g_out = &out;
    wchar_t* argv[4] = {};
    const int argc = arguments(argv, 4);
    if (argc < 2) {
        out << "usage: addin-host-msvc.exe DLL [ADDRESS]\n";
        return 100;
    }
    layout();

    // The log file starts anew in this run: the first line must create it with its BOM.
    wchar_t* temp = new wchar_t[512];
    wchar_t* logPath = new wchar_t[600];
    const DWORD tn = GetTempPathW(512, temp);
    const DWORD ln = tn ? GetLongPathNameW(temp, logPath, 512) : 0;
    check(tn > 0 && ln > 0 && ln < 512, "GetTempPathW/GetLongPathNameW give the temporary folder");
    const wchar_t kName[] = L"Oltra.log";
    for (DWORD i = 0; i < sizeof kName / sizeof kName[0]; ++i) logPath[ln + i] = kName[i];
    out << "      log: " << reinterpret_cast<const char16_t*>(logPath) << "\n";
    DeleteFileW(logPath);

    HANDLE dll = LoadLibraryW(argv[1]);
    if (!dll) {
        out << "FAIL  LoadLibraryW error " << static_cast<long long>(GetLastError()) << "\n";
        return 101;
    }
    auto getClassNames = reinterpret_cast<GetClassNamesFn>(GetProcAddress(dll, "GetClassNames"));
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(dll, "GetClassObject"));
    auto destroyObject = reinterpret_cast<DestroyObjectFn>(GetProcAddress(dll, "DestroyObject"));
    auto setCapabilities = reinterpret_cast<SetPlatformCapabilitiesFn>(GetProcAddress(dll, "SetPlatformCapabilities"));
    check(getClassNames && getClassObject && destroyObject && setCapabilities, "exports: the four entry points");
    if (!getClassNames || !getClassObject || !destroyObject || !setCapabilities) return 102;

    const WCHAR_T* names = getClassNames();
    check(names && names == getClassNames() && same(names, length(names), u"Oltranative"),
          "GetClassNames: \"Oltranative\", the same pointer every time");
    check(setCapabilities(eAppCapabilities1) == eAppCapabilities1, "SetPlatformCapabilities returns 1");

    HostMemory& memory = *new HostMemory;
    Connection& connection = *new Connection;
    IComponentBase* component = nullptr;
    const long created = getClassObject(names, &component);
    check(created != 0 && component != nullptr, "GetClassObject creates a component");
    if (!component) return 103;
    IComponentBase* occupied = component;
    check(getClassObject(names, &occupied) == 0 && occupied == component, "GetClassObject into an occupied pointer: 0");

    Env env{&memory, &connection, component};
    check(component->setMemManager(&memory) && component->Init(static_cast<IAddInDefBase*>(&connection)),
          "setMemManager and Init");
    check(component->GetInfo() == 2500, "GetInfo is 2500");
    WCHAR_T* extension = nullptr;
    bool ok = component->RegisterExtensionAs(&extension) && extension && memory.find(extension) >= 0 &&
              same(extension, length(extension), u"Oltranative");
    if (extension && memory.find(extension) >= 0) memory.release(extension);
    check(ok, "RegisterExtensionAs: \"Oltranative\" in host memory");

    tables(env);
    properties(env);
    offlineCalls(env);
    if (argc >= 3) registerSession(env, reinterpret_cast<const char16_t*>(argv[2]));
    component->Done();

    // Some hosts end a component with `delete` on the interface pointer: MSVC's deleting
    // destructor in slot 0 of the component's vtable.
    IComponentBase* second = nullptr;
    ok = getClassObject(names, &second) != 0 && second;
    if (ok) {
        second->setMemManager(&memory);
        second->Init(static_cast<IAddInDefBase*>(&connection));
        delete second;
    }
    check(ok && component->GetInfo() == 2500, "delete on an interface pointer destroys a component");

    check(destroyObject(&component) == 0 && component == nullptr, "DestroyObject: 0, the pointer nulled");
    check(destroyObject(&component) == -1, "DestroyObject on a null pointer: -1");
    driverLog(logPath, argc >= 3);

    out << "      memory: " << memory.allocations << " blocks, " << memory.outstanding() << " not returned, "
        << memory.foreign << " strings not from AllocMemory, " << memory.badFrees << " bad frees\n";
    check(memory.outstanding() == 0 && memory.foreign == 0 && memory.badFrees == 0,
          "memory: every string came from AllocMemory and nothing was left over");
    FreeLibrary(dll);
    out << g_passed << " passed, " << g_failed << " failed\n";
    return g_failed;
}

} // namespace

extern "C" void start() { ExitProcess(static_cast<unsigned>(run())); }
