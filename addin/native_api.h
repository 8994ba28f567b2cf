// The 1C:Enterprise Native API as the host sees it: value type, interfaces in their
// exact virtual slot order, and the four exported entry points.
//
// Layout rules that matter:
//  - every interface except IMsgBox and IInterface starts with a virtual destructor;
//    the Itanium C++ ABI (Linux g++/clang, and MinGW) gives it two vtable slots, MSVC one
//    (the deleting destructor, `void* f(unsigned flags)`);
//  - `long` follows the platform (8 bytes on Linux x86_64, 4 on Windows x64);
//  - WCHAR_T is one UTF-16 code unit; char16_t has the size and alignment of the host's
//    uint16_t (Linux) or wchar_t (Windows), and no interface is looked up by mangled name,
//    so char16_t is used throughout our code.
//
// Two layouts come out of this header:
//  - the compiler's own: Linux (Itanium, as the Linux platform is built) and MSVC-mode
//    compilers (as the Windows platform is built; our Windows test host);
//  - NATIVE_API_MSVC_LAYOUT: a MinGW build (Itanium compiler) of a component for the
//    MSVC-built Windows platform. Each destructor becomes the single slot
//    `nativeDeletingDestructor(unsigned flags)`, which IComponentBase implements by
//    destroying the whole component (and freeing it when flags & 1), and an IInterface
//    pointer from GetInterface is turned back into IMsgBox by msgBoxFromInterface(),
//    which subtracts the 8 bytes of MSVC's vptr-first placement of the empty base.
//
// NATIVE_API_FREESTANDING: for a host built without any C runtime headers (the MSVC-layout
// test host); `struct tm` is then declared here with the Windows runtime's nine ints.
#pragma once

#include <stddef.h>
#include <stdint.h>
#if defined(NATIVE_API_FREESTANDING)
struct tm {
    int tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst;
};
#else
#include <time.h>
#endif

using WCHAR_T = char16_t;

#if defined(_WIN32) && !defined(_MSC_VER)
#define NATIVE_API_MSVC_LAYOUT 1
#else
#define NATIVE_API_MSVC_LAYOUT 0
#endif

#if NATIVE_API_MSVC_LAYOUT
// One slot, where MSVC puts its deleting destructor. The interfaces' own destructors stay
// non-virtual (and protected: nothing deletes through them).
#define NATIVE_API_VIRTUAL_DTOR(Class)                          \
    virtual void* nativeDeletingDestructor(unsigned flags) = 0; \
                                                                \
protected:                                                      \
    ~Class() = default;                                         \
                                                                \
public:
#else
#define NATIVE_API_VIRTUAL_DTOR(Class) virtual ~Class() = default;
#endif

#if defined(_WIN32)
#define NATIVE_API_EXPORT extern "C" __declspec(dllexport)
#else
#define NATIVE_API_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// ---------------------------------------------------------------------------------------
// Values

struct NativeIID {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(NativeIID) == 16, "IID is 16 bytes");

// Type codes of tVariant::vt (not the COM VARENUM numbers).
enum enumVar : unsigned short {
    VTYPE_EMPTY = 0,
    VTYPE_NULL = 1,
    VTYPE_I2 = 2,
    VTYPE_I4 = 3,
    VTYPE_R4 = 4,
    VTYPE_R8 = 5,
    VTYPE_DATE = 6,
    VTYPE_TM = 7,
    VTYPE_PSTR = 8,
    VTYPE_INTERFACE = 9,
    VTYPE_ERROR = 10,
    VTYPE_BOOL = 11,
    VTYPE_VARIANT = 12,
    VTYPE_I1 = 13,
    VTYPE_UI1 = 14,
    VTYPE_UI2 = 15,
    VTYPE_UI4 = 16,
    VTYPE_I8 = 17,
    VTYPE_UI8 = 18,
    VTYPE_INT = 19,
    VTYPE_UINT = 20,
    VTYPE_HRESULT = 21,
    VTYPE_PWSTR = 22,
    VTYPE_BLOB = 23,
    VTYPE_CLSID = 24,
    VTYPE_VECTOR = 0x1000,
    VTYPE_ARRAY = 0x2000,
    VTYPE_BYREF = 0x4000,
};
using TYPEVAR = unsigned short;

struct tVariant {
    union {
        int8_t i8Val;
        int16_t shortVal;
        int32_t lVal;
        int intVal;
        unsigned int uintVal;
        int64_t llVal;
        uint8_t ui8Val;
        uint16_t ushortVal;
        uint32_t ulVal;
        uint64_t ullVal;
        int32_t errCode;
        long hRes;
        float fltVal;
        double dblVal;
        bool bVal;
        char chVal;
        wchar_t wchVal;
        double date;
        NativeIID IDVal;
        tVariant* pvarVal;
        struct tm tmVal;
        struct {
            void* pInterfaceVal;
            NativeIID InterfaceID;
        };
        struct {
            char* pstrVal;
            uint32_t strLen; // bytes
        };
        struct {
            WCHAR_T* pwstrVal;
            uint32_t wstrLen; // code units, terminator not counted
        };
    };
    uint32_t cbElements;
    TYPEVAR vt;
};

#if defined(__linux__) && defined(__x86_64__)
static_assert(sizeof(long) == 8, "LP64");
static_assert(sizeof(struct tm) == 56, "struct tm sets the union size");
static_assert(offsetof(tVariant, pwstrVal) == 0 && offsetof(tVariant, pstrVal) == 0, "string pointer");
static_assert(offsetof(tVariant, wstrLen) == 8 && offsetof(tVariant, strLen) == 8, "string length");
static_assert(offsetof(tVariant, cbElements) == 56, "cbElements after the union");
static_assert(offsetof(tVariant, vt) == 60, "vt");
static_assert(sizeof(tVariant) == 64 && alignof(tVariant) == 8, "tVariant size");
#elif defined(_WIN64)
// Windows x64 (MSVC and MinGW alike): struct tm is 9 ints, the union is 40 bytes.
static_assert(sizeof(long) == 4, "LLP64");
static_assert(sizeof(struct tm) == 36, "struct tm of the Windows runtime");
static_assert(offsetof(tVariant, pwstrVal) == 0 && offsetof(tVariant, pstrVal) == 0, "string pointer");
static_assert(offsetof(tVariant, wstrLen) == 8 && offsetof(tVariant, strLen) == 8, "string length");
static_assert(offsetof(tVariant, cbElements) == 40, "cbElements after the union");
static_assert(offsetof(tVariant, vt) == 44, "vt");
static_assert(sizeof(tVariant) == 48 && alignof(tVariant) == 8, "tVariant size");
#endif

// ---------------------------------------------------------------------------------------
// Host interfaces the component calls

class IMemoryManager {
public:
    NATIVE_API_VIRTUAL_DTOR(IMemoryManager)
    virtual bool AllocMemory(void** memory, unsigned long countBytes) = 0;
    virtual void FreeMemory(void** memory) = 0;
};

class IAddInDefBase {
public:
    NATIVE_API_VIRTUAL_DTOR(IAddInDefBase)
    virtual bool AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr, long scode) = 0;
    virtual bool Read(WCHAR_T* propName, tVariant* value, long* error, WCHAR_T** errDescriptor) = 0;
    virtual bool Write(WCHAR_T* propName, tVariant* value) = 0;
    virtual bool RegisterProfileAs(WCHAR_T* profileName) = 0;
    virtual bool SetEventBufferDepth(long depth) = 0;
    virtual long GetEventBufferDepth() = 0;
    virtual bool ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) = 0;
    virtual void CleanEventBuffer() = 0;
    virtual bool SetStatusLine(WCHAR_T* statusLine) = 0;
    virtual void ResetStatusLine() = 0;
};

// Empty base of the interfaces handed out by IAddInDefBaseEx::GetInterface.
class IInterface {};

enum Interfaces : int {
    eIMsgBox = 0,
    eIPlatformInfo,
    eIAttachedInfo,
};

class IAddInDefBaseEx : public IAddInDefBase {
public:
    virtual IInterface* GetInterface(Interfaces iface) = 0;
};

// No destructor slot.
class IMsgBox : public IInterface {
public:
    virtual bool Confirm(const WCHAR_T* queryText, tVariant* retVal) = 0;
    virtual bool Alert(const WCHAR_T* text) = 0;
};

// The message box behind the IInterface pointer that GetInterface(eIMsgBox) returns.
// MSVC places the empty base after the vptr, at +8; Itanium at +0.
inline IMsgBox* msgBoxFromInterface(IInterface* iface)
{
#if NATIVE_API_MSVC_LAYOUT
    return iface ? reinterpret_cast<IMsgBox*>(reinterpret_cast<char*>(iface) - sizeof(void*)) : nullptr;
#else
    return static_cast<IMsgBox*>(iface);
#endif
}

// ---------------------------------------------------------------------------------------
// Component interfaces the host calls

class IInitDoneBase {
public:
    NATIVE_API_VIRTUAL_DTOR(IInitDoneBase)
    virtual bool Init(void* connection) = 0;
    virtual bool setMemManager(void* memoryManager) = 0;
    virtual long GetInfo() = 0;
    virtual void Done() = 0;
};

class ILanguageExtenderBase {
public:
    NATIVE_API_VIRTUAL_DTOR(ILanguageExtenderBase)
    virtual bool RegisterExtensionAs(WCHAR_T** extensionName) = 0;
    virtual long GetNProps() = 0;
    virtual long FindProp(const WCHAR_T* propName) = 0;
    virtual const WCHAR_T* GetPropName(long propNum, long propAlias) = 0;
    virtual bool GetPropVal(const long propNum, tVariant* propVal) = 0;
    virtual bool SetPropVal(const long propNum, tVariant* propVal) = 0;
    virtual bool IsPropReadable(const long propNum) = 0;
    virtual bool IsPropWritable(const long propNum) = 0;
    virtual long GetNMethods() = 0;
    virtual long FindMethod(const WCHAR_T* methodName) = 0;
    virtual const WCHAR_T* GetMethodName(const long methodNum, const long methodAlias) = 0;
    virtual long GetNParams(const long methodNum) = 0;
    virtual bool GetParamDefValue(const long methodNum, const long paramNum, tVariant* paramDefValue) = 0;
    virtual bool HasRetVal(const long methodNum) = 0;
    virtual bool CallAsProc(const long methodNum, tVariant* params, const long sizeArray) = 0;
    virtual bool CallAsFunc(const long methodNum, tVariant* retValue, tVariant* params, const long sizeArray) = 0;
};

class LocaleBase {
public:
    NATIVE_API_VIRTUAL_DTOR(LocaleBase)
    virtual void SetLocale(const WCHAR_T* locale) = 0;
};

// The host holds a component through this type; the pointer is the address of the
// IInitDoneBase sub-object (offset 0), followed by ILanguageExtenderBase (+8) and
// LocaleBase (+16), each with its own vtable pointer.
class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase {
public:
#if NATIVE_API_MSVC_LAYOUT
    // Itanium destructor slots appended after Done() in the primary vtable, past every
    // slot the host knows; our own code deletes components through them.
    virtual ~IComponentBase() = default;
    // Slot 0 of all three vtables (the compiler adds the this-adjusting thunks), called
    // by the host's `delete`: destroys the component, frees it when flags & 1.
    void* nativeDeletingDestructor(unsigned flags) final
    {
        void* self = this;
        if (flags & 1u) delete this;
        else this->~IComponentBase();
        return self;
    }
#else
    NATIVE_API_VIRTUAL_DTOR(IComponentBase)
#endif
};

#if (defined(__linux__) && defined(__x86_64__)) || defined(_WIN64)
static_assert(sizeof(IComponentBase) == 24, "three vtable pointers");
static_assert(sizeof(IMsgBox) == sizeof(void*), "IMsgBox is a vptr");
#endif

enum AppCapabilities : int {
    eAppCapabilitiesInvalid = -1,
    eAppCapabilities1 = 1,
    eAppCapabilitiesLast = eAppCapabilities1,
};
static_assert(sizeof(AppCapabilities) == 4, "capabilities travel as a 4-byte enum");

// ---------------------------------------------------------------------------------------
// Exports (C linkage, undecorated)

NATIVE_API_EXPORT const WCHAR_T* GetClassNames();
NATIVE_API_EXPORT long GetClassObject(const WCHAR_T* className, IComponentBase** component);
NATIVE_API_EXPORT long DestroyObject(IComponentBase** component);
NATIVE_API_EXPORT AppCapabilities SetPlatformCapabilities(const AppCapabilities capabilities);

// Signatures for a host that resolves the exports with dlsym/GetProcAddress.
using GetClassNamesFn = const WCHAR_T* (*)();
using GetClassObjectFn = long (*)(const WCHAR_T*, IComponentBase**);
using DestroyObjectFn = long (*)(IComponentBase**);
using SetPlatformCapabilitiesFn = AppCapabilities (*)(const AppCapabilities);
