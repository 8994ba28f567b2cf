// The type library as embedded in PELTRA44.exe (resource TYPELIB 1), read back through
// ITypeLib/ITypeInfo and written out as text: the library's attributes, then every type
// in library order with its GUID, flags and doc string; enum constants with their values;
// the members of each interface (the vtable view of the dual ones) in table order with
// DispID, invoke kind, table offset, flags, result and parameters (names, types, flags,
// recorded defaults) and doc strings; the interfaces each coclass implements.
// The text must equal typelib.golden.txt beside this file; a mismatch prints a unified
// diff (golden -> built). After an intended change of peltra44.idl, rewrite the golden
// from the build and review its diff:
//   TYPELIB_GOLDEN_UPDATE=1 xvfb-run -a ctest --test-dir build/win -R TypeLib
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* s)
{
    if (!s || !*s) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string Hex(unsigned long v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08lX", v);
    return b;
}

std::string Guid(const GUID& g)
{
    wchar_t b[40] = {};
    StringFromGUID2(g, b, 40);
    return Utf8(b);
}

struct Flag {
    unsigned bit;
    const char* name;
};

std::string Flags(unsigned value, const std::vector<Flag>& names)
{
    std::string out;
    for (const Flag& f : names) {
        if (!(value & f.bit)) continue;
        out += (out.empty() ? "" : ",");
        out += f.name;
        value &= ~f.bit;
    }
    if (value) out += (out.empty() ? "" : ",") + Hex(value);
    return out.empty() ? "-" : out;
}

const std::vector<Flag> kTypeFlags = {{TYPEFLAG_FAPPOBJECT, "appobject"},
                                      {TYPEFLAG_FCANCREATE, "cancreate"},
                                      {TYPEFLAG_FLICENSED, "licensed"},
                                      {TYPEFLAG_FPREDECLID, "predeclid"},
                                      {TYPEFLAG_FHIDDEN, "hidden"},
                                      {TYPEFLAG_FCONTROL, "control"},
                                      {TYPEFLAG_FDUAL, "dual"},
                                      {TYPEFLAG_FNONEXTENSIBLE, "nonextensible"},
                                      {TYPEFLAG_FOLEAUTOMATION, "oleautomation"},
                                      {TYPEFLAG_FRESTRICTED, "restricted"},
                                      {TYPEFLAG_FAGGREGATABLE, "aggregatable"},
                                      {TYPEFLAG_FREPLACEABLE, "replaceable"},
                                      {TYPEFLAG_FDISPATCHABLE, "dispatchable"},
                                      {TYPEFLAG_FREVERSEBIND, "reversebind"},
                                      {TYPEFLAG_FPROXY, "proxy"}};
const std::vector<Flag> kFuncFlags = {{FUNCFLAG_FRESTRICTED, "restricted"},
                                      {FUNCFLAG_FSOURCE, "source"},
                                      {FUNCFLAG_FBINDABLE, "bindable"},
                                      {FUNCFLAG_FREQUESTEDIT, "requestedit"},
                                      {FUNCFLAG_FDISPLAYBIND, "displaybind"},
                                      {FUNCFLAG_FDEFAULTBIND, "defaultbind"},
                                      {FUNCFLAG_FHIDDEN, "hidden"},
                                      {FUNCFLAG_FUSESGETLASTERROR, "usesgetlasterror"},
                                      {FUNCFLAG_FDEFAULTCOLLELEM, "defaultcollelem"},
                                      {FUNCFLAG_FUIDEFAULT, "uidefault"},
                                      {FUNCFLAG_FNONBROWSABLE, "nonbrowsable"},
                                      {FUNCFLAG_FREPLACEABLE, "replaceable"},
                                      {FUNCFLAG_FIMMEDIATEBIND, "immediatebind"}};
const std::vector<Flag> kParamFlags = {{PARAMFLAG_FIN, "in"},
                                       {PARAMFLAG_FOUT, "out"},
                                       {PARAMFLAG_FLCID, "lcid"},
                                       {PARAMFLAG_FRETVAL, "retval"},
                                       {PARAMFLAG_FOPT, "opt"},
                                       {PARAMFLAG_FHASDEFAULT, "hasdefault"},
                                       {PARAMFLAG_FHASCUSTDATA, "hascustdata"}};
const std::vector<Flag> kImplFlags = {{IMPLTYPEFLAG_FDEFAULT, "default"},
                                      {IMPLTYPEFLAG_FSOURCE, "source"},
                                      {IMPLTYPEFLAG_FRESTRICTED, "restricted"},
                                      {IMPLTYPEFLAG_FDEFAULTVTABLE, "defaultvtable"}};
const std::vector<Flag> kVarFlags = {{VARFLAG_FREADONLY, "readonly"},
                                     {VARFLAG_FSOURCE, "source"},
                                     {VARFLAG_FHIDDEN, "hidden"},
                                     {VARFLAG_FRESTRICTED, "restricted"},
                                     {VARFLAG_FNONBROWSABLE, "nonbrowsable"}};

const char* KindName(TYPEKIND kind)
{
    switch (kind) {
    case TKIND_ENUM: return "enum";
    case TKIND_RECORD: return "record";
    case TKIND_MODULE: return "module";
    case TKIND_INTERFACE: return "interface";
    case TKIND_DISPATCH: return "dispinterface";
    case TKIND_COCLASS: return "coclass";
    case TKIND_ALIAS: return "alias";
    case TKIND_UNION: return "union";
    default: return "?";
    }
}

const char* InvokeName(INVOKEKIND kind)
{
    switch (kind) {
    case INVOKE_FUNC: return "func";
    case INVOKE_PROPERTYGET: return "propget";
    case INVOKE_PROPERTYPUT: return "propput";
    case INVOKE_PROPERTYPUTREF: return "propputref";
    default: return "?";
    }
}

std::string VtName(VARTYPE vt)
{
    static const struct {
        VARTYPE vt;
        const char* name;
    } names[] = {{VT_EMPTY, "EMPTY"},     {VT_NULL, "NULL"},
                 {VT_I2, "I2"},           {VT_I4, "I4"},
                 {VT_R4, "R4"},           {VT_R8, "R8"},
                 {VT_CY, "CY"},           {VT_DATE, "DATE"},
                 {VT_BSTR, "BSTR"},       {VT_DISPATCH, "DISPATCH"},
                 {VT_ERROR, "ERROR"},     {VT_BOOL, "BOOL"},
                 {VT_VARIANT, "VARIANT"}, {VT_UNKNOWN, "UNKNOWN"},
                 {VT_DECIMAL, "DECIMAL"}, {VT_I1, "I1"},
                 {VT_UI1, "UI1"},         {VT_UI2, "UI2"},
                 {VT_UI4, "UI4"},         {VT_I8, "I8"},
                 {VT_UI8, "UI8"},         {VT_INT, "INT"},
                 {VT_UINT, "UINT"},       {VT_VOID, "VOID"},
                 {VT_HRESULT, "HRESULT"}, {VT_LPSTR, "LPSTR"},
                 {VT_LPWSTR, "LPWSTR"}};
    for (const auto& n : names)
        if (n.vt == vt) return n.name;
    return "VT" + std::to_string(vt);
}

std::string TypeName(ITypeInfo* info, const TYPEDESC& t)
{
    switch (t.vt) {
    case VT_PTR: return TypeName(info, *t.lptdesc) + "*";
    case VT_SAFEARRAY: return "SAFEARRAY(" + TypeName(info, *t.lptdesc) + ")";
    case VT_USERDEFINED: {
        ITypeInfo* ref = nullptr;
        std::string name = "?";
        if (info->GetRefTypeInfo(t.hreftype, &ref) == S_OK) {
            BSTR n = nullptr;
            ref->GetDocumentation(MEMBERID_NIL, &n, nullptr, nullptr, nullptr);
            name = Utf8(n);
            SysFreeString(n);
            ref->Release();
        }
        return name;
    }
    default: return VtName(t.vt);
    }
}

std::string Value(const VARIANT& v)
{
    std::string text;
    if (V_VT(&v) == VT_BOOL) {
        text = V_BOOL(&v) ? "true" : "false";
    } else {
        VARIANT s;
        VariantInit(&s);
        if (VariantChangeTypeEx(&s, const_cast<VARIANT*>(&v), MAKELCID(LANG_ENGLISH, SORT_DEFAULT), 0, VT_BSTR) == S_OK)
            text = Utf8(V_BSTR(&s));
        else text = "?";
        VariantClear(&s);
        if (V_VT(&v) == VT_BSTR) text = "\"" + text + "\"";
    }
    return text + " (" + VtName(V_VT(&v)) + ")";
}

std::string Doc(ITypeInfo* info, MEMBERID id, std::string* name = nullptr)
{
    BSTR n = nullptr, d = nullptr;
    info->GetDocumentation(id, &n, &d, nullptr, nullptr);
    if (name) *name = Utf8(n);
    std::string doc = d && *d ? " \"" + Utf8(d) + "\"" : "";
    SysFreeString(n);
    SysFreeString(d);
    return doc;
}

std::string TypeHead(ITypeInfo* info, const TYPEATTR& attr)
{
    std::string name;
    const std::string doc = Doc(info, MEMBERID_NIL, &name);
    return std::string(KindName(attr.typekind)) + " " + name + " " + Guid(attr.guid) + " flags " +
           Flags(attr.wTypeFlags, kTypeFlags) + doc + "\n";
}

void DumpImplTypes(ITypeInfo* info, const TYPEATTR& attr, std::string& out)
{
    for (UINT i = 0; i < attr.cImplTypes; ++i) {
        HREFTYPE ref = 0;
        ITypeInfo* base = nullptr;
        INT flags = 0;
        info->GetImplTypeFlags(i, &flags);
        if (info->GetRefTypeOfImplType(i, &ref) != S_OK || info->GetRefTypeInfo(ref, &base) != S_OK) {
            out += "  implements ?\n";
            continue;
        }
        std::string name;
        Doc(base, MEMBERID_NIL, &name);
        base->Release();
        out += "  implements " + name + " flags " + Flags(static_cast<unsigned>(flags), kImplFlags) + "\n";
    }
}

void DumpFuncs(ITypeInfo* info, const TYPEATTR& attr, std::string& out)
{
    for (UINT i = 0; i < attr.cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (info->GetFuncDesc(i, &f) != S_OK) {
            out += "  member ?\n";
            continue;
        }
        BSTR names[32] = {};
        UINT got = 0;
        info->GetNames(f->memid, names, 32, &got);
        std::string name;
        const std::string doc = Doc(info, f->memid, &name);
        out += "  " + Hex(static_cast<unsigned long>(f->memid)) + " " + InvokeName(f->invkind) + " " + name + " vtbl " +
               std::to_string(f->oVft) + " flags " + Flags(f->wFuncFlags, kFuncFlags) + " returns " +
               TypeName(info, f->elemdescFunc.tdesc) + doc + "\n";
        for (SHORT p = 0; p < f->cParams; ++p) {
            const ELEMDESC& e = f->lprgelemdescParam[p];
            const UINT slot = static_cast<UINT>(p) + 1;
            out += "    " + (slot < got ? Utf8(names[slot]) : std::string("?")) + ": " + TypeName(info, e.tdesc) +
                   " [" + Flags(e.paramdesc.wParamFlags, kParamFlags) + "]";
            if ((e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
                out += " = " + Value(e.paramdesc.pparamdescex->varDefaultValue);
            out += "\n";
        }
        for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
        info->ReleaseFuncDesc(f);
    }
}

void DumpVars(ITypeInfo* info, const TYPEATTR& attr, std::string& out)
{
    for (UINT i = 0; i < attr.cVars; ++i) {
        VARDESC* v = nullptr;
        if (info->GetVarDesc(i, &v) != S_OK) {
            out += "  var ?\n";
            continue;
        }
        std::string name;
        const std::string doc = Doc(info, v->memid, &name);
        out += "  " + Hex(static_cast<unsigned long>(v->memid)) + " " + name;
        if (v->varkind == VAR_CONST && v->lpvarValue) out += " = " + Value(*v->lpvarValue);
        else out += ": " + TypeName(info, v->elemdescVar.tdesc) + " kind " + std::to_string(v->varkind);
        out += " flags " + Flags(v->wVarFlags, kVarFlags) + doc + "\n";
        info->ReleaseVarDesc(v);
    }
}

void DumpType(ITypeInfo* info, std::string& out)
{
    TYPEATTR* attr = nullptr;
    if (info->GetTypeAttr(&attr) != S_OK) {
        out += "type ?\n";
        return;
    }
    out += TypeHead(info, *attr);
    out += "  version " + std::to_string(attr->wMajorVerNum) + "." + std::to_string(attr->wMinorVerNum) + ", " +
           std::to_string(attr->cFuncs) + " funcs, " + std::to_string(attr->cVars) + " vars, " +
           std::to_string(attr->cImplTypes) + " impl types, vtable " + std::to_string(attr->cbSizeVft) + "\n";
    if (attr->typekind == TKIND_ALIAS) out += "  = " + TypeName(info, attr->tdescAlias) + "\n";
    DumpImplTypes(info, *attr, out);
    DumpVars(info, *attr, out);
    if (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL)) {
        // The members as the vtable view of the dual interface lists them.
        HREFTYPE ref = 0;
        ITypeInfo* view = nullptr;
        if (info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref) == S_OK &&
            info->GetRefTypeInfo(ref, &view) == S_OK) {
            out += " vtable view:\n";
            DumpType(view, out);
            view->Release();
        } else {
            out += " vtable view: ?\n";
        }
    } else {
        DumpFuncs(info, *attr, out);
    }
    info->ReleaseTypeAttr(attr);
}

std::string DumpLibrary(ITypeLib* lib)
{
    std::string out;
    TLIBATTR* attr = nullptr;
    if (lib->GetLibAttr(&attr) == S_OK) {
        BSTR n = nullptr, d = nullptr;
        lib->GetDocumentation(-1, &n, &d, nullptr, nullptr);
        out += "library " + Utf8(n) + " " + Guid(attr->guid) + " version " + std::to_string(attr->wMajorVerNum) + "." +
               std::to_string(attr->wMinorVerNum) + " lcid " + std::to_string(attr->lcid) + " syskind " +
               std::to_string(attr->syskind) + " flags " + std::to_string(attr->wLibFlags) + " \"" + Utf8(d) + "\"\n";
        SysFreeString(n);
        SysFreeString(d);
        lib->ReleaseTLibAttr(attr);
    }
    const UINT count = lib->GetTypeInfoCount();
    out += std::to_string(count) + " types\n";
    for (UINT i = 0; i < count; ++i) {
        ITypeInfo* info = nullptr;
        out += "\n";
        if (lib->GetTypeInfo(i, &info) != S_OK) {
            out += "type ?\n";
            continue;
        }
        DumpType(info, out);
        info->Release();
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// A unified diff (three lines of context) from a to b; empty when they are equal.
std::string UnifiedDiff(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    const size_t n = a.size(), m = b.size();
    // lcs[i][j]: length of the longest common subsequence of a[i..] and b[j..].
    std::vector<std::vector<unsigned>> lcs(n + 1, std::vector<unsigned>(m + 1, 0));
    for (size_t i = n; i-- > 0;)
        for (size_t j = m; j-- > 0;)
            lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    struct Edit {
        char op; // ' ', '-', '+'
        size_t ai, bi;
    };
    std::vector<Edit> edits;
    size_t i = 0, j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && a[i] == b[j]) edits.push_back({' ', i++, j++});
        else if (i < n && (j == m || lcs[i + 1][j] >= lcs[i][j + 1])) edits.push_back({'-', i++, j});
        else edits.push_back({'+', i, j++});
    }
    std::string out;
    const size_t context = 3;
    size_t k = 0;
    while (k < edits.size()) {
        if (edits[k].op == ' ') {
            ++k;
            continue;
        }
        // A hunk: from `context` lines before this change to `context` lines after the last
        // change that is no more than 2 * context unchanged lines from the one before it.
        const size_t begin = k >= context ? k - context : 0;
        size_t last = k;
        for (size_t e = k + 1; e < edits.size(); ++e) {
            if (edits[e].op == ' ') continue;
            if (e - last - 1 > 2 * context) break;
            last = e;
        }
        const size_t end = std::min(edits.size(), last + context + 1);
        size_t aCount = 0, bCount = 0;
        for (size_t e = begin; e < end; ++e) {
            if (edits[e].op != '+') ++aCount;
            if (edits[e].op != '-') ++bCount;
        }
        out += "@@ -" + std::to_string(edits[begin].ai + (aCount ? 1 : 0)) + "," + std::to_string(aCount) + " +" +
               std::to_string(edits[begin].bi + (bCount ? 1 : 0)) + "," + std::to_string(bCount) + " @@\n";
        for (size_t e = begin; e < end; ++e)
            out += edits[e].op + (edits[e].op == '+' ? b[edits[e].bi] : a[edits[e].ai]) + "\n";
        k = end;
    }
    return out;
}

bool ReadFile(const char* path, std::string& text)
{
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char buf[4096];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
    std::fclose(f);
    return true;
}

TEST(TypeLib, EqualsTheGoldenDump)
{
    ITypeLib* lib = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(PELTRA44_EXE, REGKIND_NONE, &lib));
    const std::string dump = DumpLibrary(lib);
    lib->Release();

    const char* update = std::getenv("TYPELIB_GOLDEN_UPDATE");
    if (update && *update && std::string(update) != "0") {
        FILE* f = std::fopen(TYPELIB_GOLDEN, "wb");
        ASSERT_NE(nullptr, f) << TYPELIB_GOLDEN;
        std::fwrite(dump.data(), 1, dump.size(), f);
        std::fclose(f);
        std::printf("wrote %s\n", TYPELIB_GOLDEN);
        return;
    }
    std::string golden;
    ASSERT_TRUE(ReadFile(TYPELIB_GOLDEN, golden)) << "cannot read " << TYPELIB_GOLDEN;
    const std::string diff = UnifiedDiff(Lines(golden), Lines(dump));
    EXPECT_TRUE(diff.empty()) << "the type library differs from " << TYPELIB_GOLDEN << "\n--- golden\n+++ built\n"
                              << diff << "(TYPELIB_GOLDEN_UPDATE=1 rewrites the golden from the build)";
}

} // namespace
