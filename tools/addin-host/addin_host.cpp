#include "tools/addin-host/addin_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace addinhost {

// ---------------------------------------------------------------------------------------
// Value

Value Value::i4(int32_t v)
{
    Value r;
    r.type = VTYPE_I4;
    r.integer = v;
    return r;
}

Value Value::r4(float v)
{
    Value r;
    r.type = VTYPE_R4;
    r.real = v;
    return r;
}

Value Value::r8(double v)
{
    Value r;
    r.type = VTYPE_R8;
    r.real = v;
    return r;
}

Value Value::boolean(bool v)
{
    Value r;
    r.type = VTYPE_BOOL;
    r.flag = v;
    return r;
}

Value Value::str(std::u16string v)
{
    Value r;
    r.type = VTYPE_PWSTR;
    r.text = std::move(v);
    return r;
}

bool Value::operator==(const Value& o) const
{
    if (type != o.type) return false;
    switch (type) {
    case VTYPE_R4:
    case VTYPE_R8: return real == o.real;
    case VTYPE_BOOL: return flag == o.flag;
    case VTYPE_PWSTR: return text == o.text;
    case VTYPE_EMPTY:
    case VTYPE_NULL: return true;
    default: return integer == o.integer;
    }
}

std::string Value::describe() const
{
    char buf[64];
    switch (type) {
    case VTYPE_EMPTY: return "EMPTY";
    case VTYPE_NULL: return "NULL";
    case VTYPE_BOOL: return flag ? "BOOL true" : "BOOL false";
    case VTYPE_R4:
    case VTYPE_R8: std::snprintf(buf, sizeof buf, "%s %.17g", type == VTYPE_R4 ? "R4" : "R8", real); return buf;
    case VTYPE_PWSTR: return "PWSTR \"" + toUtf8(text) + "\"";
    case VTYPE_I4: return "I4 " + std::to_string(integer);
    default: return "type " + std::to_string(type) + " " + std::to_string(integer);
    }
}

bool Value::parse(const std::string& token, Value& out)
{
    auto rest = [&](const char* prefix, std::string& tail) {
        const std::size_t n = std::strlen(prefix);
        if (token.compare(0, n, prefix) != 0) return false;
        tail = token.substr(n);
        return true;
    };
    std::string tail;
    if (token == "empty") {
        out = empty();
        return true;
    }
    if (rest("str:", tail)) {
        out = str(toUtf16(tail));
        return true;
    }
    if (rest("i4:", tail)) {
        if (tail.empty()) return false;
        char* end = nullptr;
        errno = 0;
        const long long n = std::strtoll(tail.c_str(), &end, 10);
        if (*end || errno || n < INT32_MIN || n > INT32_MAX) return false;
        out = i4(static_cast<int32_t>(n));
        return true;
    }
    if (rest("r8:", tail)) {
        if (tail.empty()) return false;
        char* end = nullptr;
        const double d = std::strtod(tail.c_str(), &end);
        if (*end || !std::isfinite(d)) return false;
        out = r8(d);
        return true;
    }
    if (rest("bool:", tail)) {
        if (tail == "true" || tail == "1") out = boolean(true);
        else if (tail == "false" || tail == "0") out = boolean(false);
        else return false;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Memory, connection, message box

MemoryManager::~MemoryManager()
{
    for (auto& b : blocks_) std::free(const_cast<void*>(b.first));
}

bool MemoryManager::AllocMemory(void** memory, unsigned long countBytes)
{
    if (!memory) return false;
    *memory = nullptr;
    if (refuse_ || countBytes == 0) return false;
    void* p = std::malloc(countBytes);
    if (!p) return false;
    std::memset(p, 0xCD, countBytes); // the add-in must fill what it asks for
    blocks_[p] = countBytes;
    ++allocations_;
    bytes_ += countBytes;
    *memory = p;
    return true;
}

void MemoryManager::FreeMemory(void** memory)
{
    if (!memory || !*memory) return;
    release(*memory);
    *memory = nullptr;
}

void MemoryManager::release(const void* p)
{
    auto it = blocks_.find(p);
    if (it == blocks_.end()) {
        ++badFrees_;
        return;
    }
    std::free(const_cast<void*>(p));
    blocks_.erase(it);
    ++frees_;
}

std::size_t MemoryManager::outstandingBytes() const
{
    std::size_t n = 0;
    for (auto& b : blocks_) n += b.second;
    return n;
}

bool MessageRecorder::Confirm(const WCHAR_T* text, tVariant* ret)
{
    confirms.emplace_back(text ? text : u"");
    if (ret) {
        ret->ullVal = 0;
        ret->bVal = true;
        ret->vt = VTYPE_BOOL;
    }
    return true;
}

bool MessageRecorder::Alert(const WCHAR_T* text)
{
    alerts.emplace_back(text ? text : u"");
    return true;
}

bool Connection::AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr, long scode)
{
    errors.push_back({wcode, source ? source : u"", descr ? descr : u"", scode});
    return true;
}

IInterface* Connection::GetInterface(Interfaces iface)
{
    if (iface == eIMsgBox && offerMessageBox) return &messageBox;
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Library

AddinHost::AddinHost(const std::string& libraryPath)
{
    handle_ = ::dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = ::dlerror();
        throw HostError("cannot load " + libraryPath + ": " + (why ? why : "unknown error"));
    }
    getClassNames_ = reinterpret_cast<GetClassNamesFn>(::dlsym(handle_, "GetClassNames"));
    getClassObject_ = reinterpret_cast<GetClassObjectFn>(::dlsym(handle_, "GetClassObject"));
    destroyObject_ = reinterpret_cast<DestroyObjectFn>(::dlsym(handle_, "DestroyObject"));
    setPlatformCapabilities_ = reinterpret_cast<SetPlatformCapabilitiesFn>(::dlsym(handle_, "SetPlatformCapabilities"));
    if (!getClassNames_ || !getClassObject_ || !destroyObject_) {
        ::dlclose(handle_);
        throw HostError(libraryPath + " lacks GetClassNames, GetClassObject or DestroyObject");
    }
    if (setPlatformCapabilities_) setPlatformCapabilities_(eAppCapabilities1);
}

AddinHost::~AddinHost()
{
    if (handle_) ::dlclose(handle_);
}

void* AddinHost::symbol(const char* name) const { return ::dlsym(handle_, name); }

std::u16string AddinHost::classNames() const
{
    const WCHAR_T* names = getClassNames_();
    return names ? std::u16string(names) : std::u16string();
}

Component AddinHost::create(const CreateOptions& options)
{
    std::u16string names = classNames();
    const std::u16string first = names.substr(0, names.find(u'|'));
    IComponentBase* object = nullptr;
    if (getClassObject_(first.c_str(), &object) == 0 || !object) throw HostError("GetClassObject created nothing");
    Component comp(*this, object);
    if (options.setMemManager) object->setMemManager(&memory_);
    if (options.init) object->Init(static_cast<IAddInDefBase*>(&connection_));
    if (options.registerExtension) {
        WCHAR_T* name = nullptr;
        if (object->RegisterExtensionAs(&name) && name) {
            extensionName_ = name;
            if (memory_.owns(name)) memory_.release(name);
            else memory_.noteForeign();
        }
    }
    return comp;
}

// ---------------------------------------------------------------------------------------
// Component

Component::Component(Component&& o) noexcept : host_(o.host_), object_(o.object_) { o.object_ = nullptr; }

Component::~Component()
{
    if (object_) host_->destroyObject_(&object_);
}

bool Component::methodName(long index, long alias, std::u16string& out)
{
    return takeName(ext()->GetMethodName(index, alias), out);
}

bool Component::propName(long index, long alias, std::u16string& out)
{
    return takeName(ext()->GetPropName(index, alias), out);
}

// A name the add-in handed out is a block of the host's memory: copied, then freed.
bool Component::takeName(const WCHAR_T* name, std::u16string& out)
{
    if (!name) return false;
    out = name;
    if (host_->memory_.owns(name)) host_->memory_.release(name);
    else host_->memory_.noteForeign();
    return true;
}

std::vector<MemberInfo> Component::methods()
{
    std::vector<MemberInfo> out(static_cast<std::size_t>(std::max(0L, ext()->GetNMethods())));
    for (long i = 0; i < static_cast<long>(out.size()); ++i) {
        MemberInfo& m = out[static_cast<std::size_t>(i)];
        m.index = i;
        methodName(i, 0, m.english);
        methodName(i, 1, m.russian);
        m.params = ext()->GetNParams(i);
        m.hasRetVal = ext()->HasRetVal(i);
    }
    return out;
}

std::vector<MemberInfo> Component::properties()
{
    std::vector<MemberInfo> out(static_cast<std::size_t>(std::max(0L, ext()->GetNProps())));
    for (long i = 0; i < static_cast<long>(out.size()); ++i) {
        MemberInfo& p = out[static_cast<std::size_t>(i)];
        p.index = i;
        propName(i, 0, p.english);
        propName(i, 1, p.russian);
        p.readable = ext()->IsPropReadable(i);
        p.writable = ext()->IsPropWritable(i);
    }
    return out;
}

long Component::findMethod(const std::u16string& name) { return ext()->FindMethod(name.c_str()); }

long Component::findProp(const std::u16string& name) { return ext()->FindProp(name.c_str()); }

namespace {

void load(const Value& v, tVariant& out)
{
    std::memset(&out, 0, sizeof out);
    out.vt = v.type;
    switch (v.type) {
    case VTYPE_I4: out.lVal = static_cast<int32_t>(v.integer); break;
    case VTYPE_R4: out.fltVal = static_cast<float>(v.real); break;
    case VTYPE_R8: out.dblVal = v.real; break;
    case VTYPE_BOOL: out.bVal = v.flag; break;
    case VTYPE_PWSTR:
        // Points into the caller's Value, which outlives the call.
        out.pwstrVal = const_cast<WCHAR_T*>(v.text.c_str());
        out.wstrLen = static_cast<uint32_t>(v.text.size());
        break;
    default: break;
    }
}

} // namespace

// Reads a value the add-in left in v; a string in host memory is freed once copied.
Value Component::take(tVariant& v, const std::vector<const void*>& hostOwned)
{
    Value out;
    out.type = v.vt;
    switch (v.vt) {
    case VTYPE_I1: out.integer = v.i8Val; break;
    case VTYPE_I2: out.integer = v.shortVal; break;
    case VTYPE_I4:
    case VTYPE_INT:
    case VTYPE_ERROR: out.integer = v.lVal; break;
    case VTYPE_UI1: out.integer = v.ui8Val; break;
    case VTYPE_UI2: out.integer = v.ushortVal; break;
    case VTYPE_UI4:
    case VTYPE_UINT: out.integer = v.ulVal; break;
    case VTYPE_I8:
    case VTYPE_UI8: out.integer = v.llVal; break;
    case VTYPE_R4: out.real = v.fltVal; break;
    case VTYPE_R8: out.real = v.dblVal; break;
    case VTYPE_BOOL: out.flag = v.bVal; break;
    case VTYPE_PWSTR:
        if (v.pwstrVal) {
            out.text.assign(v.pwstrVal, v.wstrLen);
            bool ours = false;
            for (const void* p : hostOwned) ours = ours || p == v.pwstrVal;
            if (!ours) {
                if (host_->memory_.owns(v.pwstrVal)) host_->memory_.release(v.pwstrVal);
                else host_->memory_.noteForeign();
            }
        }
        break;
    default: break;
    }
    return out;
}

CallResult Component::call(const std::string& name, std::vector<Value> args)
{
    const long method = findMethod(toUtf16(name));
    if (method < 0) throw HostError("no method " + name);
    return call(method, std::move(args));
}

CallResult Component::call(long method, std::vector<Value> args, long count)
{
    const long params = ext()->GetNParams(method);
    if (args.size() < static_cast<std::size_t>(params)) args.resize(static_cast<std::size_t>(params));
    if (count < 0) count = static_cast<long>(args.size());

    std::vector<tVariant> array(args.size() + 1); // never an empty array for data()
    std::vector<const void*> hostOwned;
    for (std::size_t i = 0; i < args.size(); ++i) {
        load(args[i], array[i]);
        if (args[i].type == VTYPE_PWSTR) hostOwned.push_back(array[i].pwstrVal);
    }
    tVariant ret;
    std::memset(&ret, 0, sizeof ret);

    Connection& conn = host_->connection_;
    const std::size_t errorsBefore = conn.errors.size();
    const std::size_t alertsBefore = conn.messageBox.alerts.size();

    CallResult r;
    r.ok = ext()->CallAsFunc(method, &ret, args.empty() ? nullptr : array.data(), count);
    r.result = take(ret, hostOwned);
    for (std::size_t i = 0; i < args.size(); ++i) {
        r.args.push_back(take(array[i], hostOwned));
        r.changed.push_back(r.args.back() != args[i]);
    }
    r.errors.assign(conn.errors.begin() + static_cast<std::ptrdiff_t>(errorsBefore), conn.errors.end());
    r.alerts.assign(conn.messageBox.alerts.begin() + static_cast<std::ptrdiff_t>(alertsBefore),
                    conn.messageBox.alerts.end());
    return r;
}

PropertyResult Component::get(const std::string& name)
{
    const long index = findProp(toUtf16(name));
    if (index < 0) throw HostError("no property " + name);
    return get(index);
}

PropertyResult Component::get(long index)
{
    tVariant v;
    std::memset(&v, 0, sizeof v);
    Connection& conn = host_->connection_;
    const std::size_t errorsBefore = conn.errors.size();
    PropertyResult r;
    r.ok = ext()->GetPropVal(index, &v);
    r.value = take(v, {});
    r.errors.assign(conn.errors.begin() + static_cast<std::ptrdiff_t>(errorsBefore), conn.errors.end());
    return r;
}

bool Component::set(const std::string& name, const Value& value)
{
    const long index = findProp(toUtf16(name));
    if (index < 0) throw HostError("no property " + name);
    return set(index, value);
}

bool Component::set(long index, const Value& value)
{
    tVariant v;
    load(value, v);
    return ext()->SetPropVal(index, &v);
}

} // namespace addinhost
