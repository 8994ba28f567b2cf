// A stand-in for the 1C platform: loads a Native API add-in library, creates components
// the way the platform does and drives them, keeping count of every block of memory the
// add-in takes from the host and of every error and message it reports.
//
//   addinhost::AddinHost host("libOltranative_x64.so");
//   addinhost::Component comp = host.create();
//   addinhost::CallResult r = comp.call("Open", {addinhost::Value::str(u"")});
//   // r.ok, r.result, r.args, r.errors, r.alerts; host.memory().outstanding()
#pragma once

#include "addin/native_api.h"
#include "textconv/utf.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace addinhost {

// The host's side of the text boundary: the add-in speaks UTF-16, the tools print UTF-8.
using textconv::toUtf16;
using textconv::toUtf8;

// A host-side copy of a tVariant.
struct Value {
    TYPEVAR type = VTYPE_EMPTY;
    int64_t integer = 0; // I1..UI8 and INT/UINT
    double real = 0;     // R4, R8
    bool flag = false;   // BOOL
    std::u16string text; // PWSTR

    static Value empty() { return {}; }
    static Value i4(int32_t v);
    static Value r4(float v);
    static Value r8(double v);
    static Value boolean(bool v);
    static Value str(std::u16string v);

    // "I4 5", "R8 10.5", "BOOL true", "PWSTR \"text\"" (UTF-8), "EMPTY".
    std::string describe() const;
    // Command-line syntax: i4:5, r8:10.5, bool:true, str:text (UTF-8), empty.
    static bool parse(const std::string& token, Value& out);

    bool operator==(const Value& o) const;
    bool operator!=(const Value& o) const { return !(*this == o); }
};

// Counts what the add-in allocates and frees; refuses memory on request.
class MemoryManager : public IMemoryManager {
public:
    ~MemoryManager() override;
    bool AllocMemory(void** memory, unsigned long countBytes) override;
    void FreeMemory(void** memory) override;

    bool owns(const void* p) const { return blocks_.count(p) != 0; }
    // Frees a block the add-in handed over (after the host has read it).
    void release(const void* p);

    std::size_t allocations() const { return allocations_; }
    std::size_t bytesAllocated() const { return bytes_; }
    std::size_t frees() const { return frees_; }
    std::size_t outstanding() const { return blocks_.size(); }
    std::size_t outstandingBytes() const;
    std::size_t badFrees() const { return badFrees_; } // FreeMemory of a block not ours
    // Strings the add-in handed over in memory that did not come from AllocMemory.
    std::size_t foreignStrings() const { return foreign_; }
    void noteForeign() { ++foreign_; }
    void refuse(bool on) { refuse_ = on; }

private:
    std::map<const void*, std::size_t> blocks_;
    std::size_t allocations_ = 0, frees_ = 0, badFrees_ = 0, bytes_ = 0, foreign_ = 0;
    bool refuse_ = false;
};

struct ErrorRecord {
    unsigned short wcode = 0;
    std::u16string source;
    std::u16string description;
    long scode = 0;
};

class MessageRecorder : public IMsgBox {
public:
    bool Confirm(const WCHAR_T* text, tVariant* ret) override;
    bool Alert(const WCHAR_T* text) override;
    std::vector<std::u16string> alerts, confirms;
};

// The platform's side of the connection: records AddError; hands out the message box.
class Connection : public IAddInDefBaseEx {
public:
    bool AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr, long scode) override;
    bool Read(WCHAR_T*, tVariant*, long*, WCHAR_T**) override { return false; }
    bool Write(WCHAR_T*, tVariant*) override { return false; }
    bool RegisterProfileAs(WCHAR_T*) override { return false; }
    bool SetEventBufferDepth(long) override { return false; }
    long GetEventBufferDepth() override { return 0; }
    bool ExternalEvent(WCHAR_T*, WCHAR_T*, WCHAR_T*) override { return false; }
    void CleanEventBuffer() override {}
    bool SetStatusLine(WCHAR_T*) override { return false; }
    void ResetStatusLine() override {}
    IInterface* GetInterface(Interfaces iface) override;

    std::vector<ErrorRecord> errors;
    MessageRecorder messageBox;
    bool offerMessageBox = true;
};

struct CallResult {
    bool ok = false;                    // what CallAsFunc returned
    Value result;                       // the return value after the call
    std::vector<Value> args;            // every argument after the call
    std::vector<bool> changed;          // per argument: differs from what was passed
    std::vector<ErrorRecord> errors;    // AddError during the call
    std::vector<std::u16string> alerts; // Alert during the call
};

struct PropertyResult {
    bool ok = false; // what GetPropVal returned
    Value value;
    std::vector<ErrorRecord> errors;
};

struct MemberInfo {
    long index = 0;
    std::u16string english, russian;
    long params = 0;        // methods
    bool hasRetVal = false; // methods
    bool readable = false;  // properties
    bool writable = false;  // properties
};

class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class AddinHost;

// One component object; DestroyObject runs when it goes away.
class Component {
public:
    Component(Component&& o) noexcept;
    Component& operator=(Component&&) = delete;
    ~Component();

    IComponentBase* raw() const { return object_; }

    std::vector<MemberInfo> methods();
    std::vector<MemberInfo> properties();
    long findMethod(const std::u16string& name);
    long findProp(const std::u16string& name);
    // Name through the host's memory (freed after reading); null result gives false.
    bool methodName(long index, long alias, std::u16string& out);
    bool propName(long index, long alias, std::u16string& out);

    // Calls like the platform: every argument by reference in one array of the method's
    // parameter count (or of args.size() if given more). Throws HostError for an unknown name.
    CallResult call(const std::string& name, std::vector<Value> args = {});
    CallResult call(long method, std::vector<Value> args, long count = -1);

    PropertyResult get(const std::string& name);
    PropertyResult get(long index);
    bool set(const std::string& name, const Value& v);
    bool set(long index, const Value& v);

private:
    friend class AddinHost;
    Component(AddinHost& host, IComponentBase* object) : host_(&host), object_(object) {}
    ILanguageExtenderBase* ext() const { return object_; }
    bool takeName(const WCHAR_T* name, std::u16string& out);
    Value take(tVariant& v, const std::vector<const void*>& hostOwned);

    AddinHost* host_;
    IComponentBase* object_;
};

struct CreateOptions {
    bool setMemManager = true;
    bool init = true;
    bool registerExtension = true;
};

class AddinHost {
public:
    explicit AddinHost(const std::string& libraryPath); // throws HostError
    ~AddinHost();
    AddinHost(const AddinHost&) = delete;
    AddinHost& operator=(const AddinHost&) = delete;

    // GetClassObject for the first class name, then setMemManager, Init and
    // RegisterExtensionAs as the options say. Throws HostError when nothing is created.
    Component create(const CreateOptions& options = {});

    std::u16string classNames() const;
    const WCHAR_T* classNamesPointer() const { return getClassNames_(); }
    std::u16string extensionName() const { return extensionName_; }

    GetClassObjectFn getClassObject() const { return getClassObject_; }
    DestroyObjectFn destroyObject() const { return destroyObject_; }
    SetPlatformCapabilitiesFn setPlatformCapabilities() const { return setPlatformCapabilities_; }

    // Any other symbol of the library (null when it has none).
    void* symbol(const char* name) const;

    MemoryManager& memory() { return memory_; }
    Connection& connection() { return connection_; }

private:
    friend class Component;
    void* handle_ = nullptr;
    GetClassNamesFn getClassNames_ = nullptr;
    GetClassObjectFn getClassObject_ = nullptr;
    DestroyObjectFn destroyObject_ = nullptr;
    SetPlatformCapabilitiesFn setPlatformCapabilities_ = nullptr;
    std::u16string extensionName_;
    MemoryManager memory_;
    Connection connection_;
};

} // namespace addinhost
