// The type library as embedded in PELTRA44.exe (resource TYPELIB 1), read back through
// ITypeLib/ITypeInfo: library attributes, enum constants with their doc strings, the
// members of IFiscalPrinter (DispIDs, order, parameters, defaults, hidden flags) and
// the record interfaces and coclasses.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "peltra44_h.h"

namespace {

class TypeLibTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(S_OK, LoadTypeLibEx(PELTRA44_EXE, REGKIND_NONE, &lib_));
    }
    static void TearDownTestSuite()
    {
        if (lib_) lib_->Release();
        lib_ = nullptr;
    }

    static ITypeInfo* Info(REFGUID guid)
    {
        ITypeInfo* info = nullptr;
        EXPECT_EQ(S_OK, lib_->GetTypeInfoOfGuid(guid, &info));
        return info;
    }

    // The vtable view of a dual interface.
    static ITypeInfo* InterfaceView(REFGUID iid)
    {
        ITypeInfo* info = Info(iid);
        if (!info) return nullptr;
        HREFTYPE ref = 0;
        ITypeInfo* view = nullptr;
        EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
        EXPECT_EQ(S_OK, info->GetRefTypeInfo(ref, &view));
        info->Release();
        return view;
    }

    static std::wstring Doc(ITypeInfo* info, MEMBERID id, std::wstring* name = nullptr)
    {
        BSTR n = nullptr, d = nullptr;
        EXPECT_EQ(S_OK, info->GetDocumentation(id, &n, &d, nullptr, nullptr));
        std::wstring doc = d ? d : L"";
        if (name) *name = n ? n : L"";
        SysFreeString(n);
        SysFreeString(d);
        return doc;
    }

    static ITypeLib* lib_;
};
ITypeLib* TypeLibTest::lib_ = nullptr;

TEST_F(TypeLibTest, LibraryAttributes)
{
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, lib_->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_PELTRA44));
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0u, attr->lcid);  // neutral: found by LoadRegTypeLib(..., 0) and the marshaler
    EXPECT_EQ(SYS_WIN32, attr->syskind);
    lib_->ReleaseTLibAttr(attr);

    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(S_OK, lib_->GetDocumentation(-1, &name, &doc, nullptr, nullptr));
    EXPECT_STREQ(L"PELTRA44", name);
    EXPECT_STREQ(L"PELTRA44 1.0", doc);
    SysFreeString(name);
    SysFreeString(doc);
}

struct Constant {
    const wchar_t* name;
    LONG value;
    const wchar_t* doc;
};

void CheckEnum(ITypeInfo* info, const wchar_t* enumDoc, const std::vector<Constant>& constants)
{
    ASSERT_NE(nullptr, info);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_ENUM, attr->typekind);
    ASSERT_EQ(constants.size(), attr->cVars);
    info->ReleaseTypeAttr(attr);
    BSTR d = nullptr;
    ASSERT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, nullptr, &d, nullptr, nullptr));
    EXPECT_STREQ(enumDoc, d);
    SysFreeString(d);
    for (UINT i = 0; i < constants.size(); ++i) {
        VARDESC* var = nullptr;
        ASSERT_EQ(S_OK, info->GetVarDesc(i, &var));
        EXPECT_EQ(static_cast<MEMBERID>(0x40000000 + i), var->memid);
        ASSERT_EQ(VAR_CONST, var->varkind);
        VARIANT v;
        VariantInit(&v);
        ASSERT_EQ(S_OK, VariantChangeType(&v, var->lpvarValue, 0, VT_I4));
        EXPECT_EQ(constants[i].value, V_I4(&v)) << i;
        BSTR name = nullptr, doc = nullptr;
        ASSERT_EQ(S_OK, info->GetDocumentation(var->memid, &name, &doc, nullptr, nullptr));
        EXPECT_STREQ(constants[i].name, name);
        EXPECT_STREQ(constants[i].doc, doc) << i;
        SysFreeString(name);
        SysFreeString(doc);
        info->ReleaseVarDesc(var);
    }
    info->Release();
}

TEST_F(TypeLibTest, EnumsCarryTheirConstantsAndDocStrings)
{
    CheckEnum(Info(GUID{0x00EB5843, 0xC9C8, 0x11DC, {0xBD, 0x0B, 0x00, 0x1D, 0x60, 0x55, 0xE5, 0x81}}),
              L"Состояния соединений",
              {{L"fpsNotReady", 0x1, L"Принтер не готов"},
               {L"fpsModemError", 0x2, L"Ошибка модема"},
               {L"fpsFiscalMemoryError", 0x4, L"Ошибка фискальной памяти"},
               {L"fpsDateTimeError", 0x8, L"Ошибка часов"},
               {L"fpsDisplayError", 0x10, L"Ошибка индикатора"},
               {L"fpsDutyOvertime", 0x20, L"Превышение продолжительности смены"},
               {L"fpsVoltageError", 0x40, L"Снижение рабочего напряжения питания"},
               {L"fpsBadCommand", 0x80, L"Команда не существует или запрещена в данном режиме"},
               {L"fpsNoPaper", 0x100, L"Нет бумаги в принтере"},
               {L"fpsFailure", 0x200, L"Состояние аварии"},
               {L"fpsCaseOpened", 0x400, L"Открыта крышка или перегрев головки принтера"},
               {L"fpsCheckType", 0x800, L"Чек: продажи/выплаты (0/1)"},
               {L"fpsFiscalized", 0x1000, L"Принтер фискализирован"},
               {L"fpsDutyStarted", 0x2000, L"Смена открыта"},
               {L"fpsCheckOpened", 0x4000, L"Открыт чек"},
               {L"fpNotPersonalized", 0x8000, L"ЭККР не персонализирован"},
               {L"fpNotDefined", static_cast<LONG>(0x80000000), L"Не определено"}});
    CheckEnum(Info(GUID{0x00EB5844, 0xC9C8, 0x11DC, {0xBD, 0x0B, 0x00, 0x1D, 0x60, 0x55, 0xE5, 0x81}}),
              L"Тип оплаты",
              {{L"fpptCard", 0, L"Карта"}, {L"fpptCredit", 1, L"Кредит"}, {L"fpptCheck", 2, L"Чек"},
               {L"fpptCash", 3, L"Наличные"}, {L"fpptOther4", 4, L"Другие 4"}, {L"fpptOther5", 5, L"Другие 5"},
               {L"fpptOther6", 6, L"Другие 6"}, {L"fpptOther7", 7, L"Другие 7"}, {L"fpptOther8", 8, L"Другие 8"},
               {L"fpptOther9", 9, L"Другие 9"}, {L"fpptNotFiscal", 64, L"Нефискальный"}});
    CheckEnum(Info(GUID{0x00EB5845, 0xC9C8, 0x11DC, {0xBD, 0x0B, 0x00, 0x1D, 0x60, 0x55, 0xE5, 0x81}}),
              L"Тип налога",
              {{L"fpttA", 128, L"Налоговая группа А"}, {L"fpttB", 129, L"Налоговая группа Б"},
               {L"fpttV", 130, L"Налоговая группа В"}, {L"fpttG", 131, L"Налоговая группа Г"},
               {L"fpttD", 132, L"Налоговая группа Д"}, {L"fpttE", 133, L"Налоговая группа Е"}});
}

struct Member {
    const wchar_t* name;
    MEMBERID id;
    INVOKEKIND kind;
    int params;    // including the [out, retval] one
    int defaults;  // optional parameters with a recorded default
    bool hidden;
};

constexpr INVOKEKIND M = INVOKE_FUNC, G = INVOKE_PROPERTYGET;

void CheckMembers(ITypeInfo* view, const std::vector<Member>& members)
{
    ASSERT_NE(nullptr, view);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, view->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    const WORD flags = attr->wTypeFlags;
    EXPECT_TRUE(flags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(flags & TYPEFLAG_FOLEAUTOMATION);
    EXPECT_TRUE(flags & TYPEFLAG_FHIDDEN);
    ASSERT_EQ(members.size(), attr->cFuncs);
    view->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < members.size(); ++i) {
        const Member& m = members[i];
        FUNCDESC* f = nullptr;
        ASSERT_EQ(S_OK, view->GetFuncDesc(i, &f));
        BSTR name = nullptr;
        UINT got = 0;
        view->GetNames(f->memid, &name, 1, &got);
        EXPECT_STREQ(m.name, name) << i;
        SysFreeString(name);
        EXPECT_EQ(m.id, f->memid) << i;
        EXPECT_EQ(m.kind, f->invkind) << i;
        EXPECT_EQ((7 + static_cast<int>(i)) * 4, f->oVft) << i;  // table order after IDispatch
        EXPECT_EQ(m.params, f->cParams) << i;
        EXPECT_EQ(m.hidden, (f->wFuncFlags & FUNCFLAG_FHIDDEN) != 0) << i;
        EXPECT_EQ(VT_HRESULT, f->elemdescFunc.tdesc.vt) << i;
        int defaults = 0;
        for (int p = 0; p < f->cParams; ++p)
            if (f->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) ++defaults;
        EXPECT_EQ(m.defaults, defaults) << i;
        view->ReleaseFuncDesc(f);
    }
}

TEST_F(TypeLibTest, FiscalPrinterMembersInTableOrder)
{
    CheckMembers(InterfaceView(IID_IFiscalPrinter),
                 {{L"Name", static_cast<MEMBERID>(0x80010000), G, 1, 0, false},
                  {L"Version", 100, G, 1, 0, false},
                  {L"EcrState", 101, G, 1, 0, false},
                  {L"EcrErrorNumber", 102, G, 1, 0, false},
                  {L"ErrorDescription", 103, G, 1, 0, false},
                  {L"ErrorNumber", 104, G, 1, 0, false},
                  {L"PrinterInfo", 105, G, 1, 0, false},
                  {L"FiscalInfo", 106, G, 1, 0, false},
                  {L"TaxPayerInfo", 107, G, 2, 0, false},
                  {L"TotalSum", 108, G, 1, 0, false},
                  {L"Connect", 4, M, 2, 1, false},
                  {L"Disconnect", 5, M, 0, 0, false},
                  {L"GetState", 6, M, 1, 0, false},
                  {L"GetDate", 7, M, 1, 0, false},
                  {L"SetDate", 8, M, 1, 0, false},
                  {L"GetTime", 9, M, 1, 0, false},
                  {L"SetTime", 10, M, 1, 0, false},
                  {L"LineFeed", 11, M, 0, 0, false},
                  {L"PrintVersion", 12, M, 0, 0, false},
                  {L"DisplayString", 13, M, 2, 0, false},
                  {L"ChangeSafeSum", 14, M, 2, 0, false},
                  {L"CommentCheck", 15, M, 2, 1, false},
                  {L"CancelCheck", 16, M, 0, 0, false},
                  {L"PayCheck", 17, M, 4, 3, false},
                  {L"SaleArticle", 18, M, 8, 3, false},
                  {L"RefundArticle", 19, M, 8, 3, false},
                  {L"PrintCopy", 20, M, 1, 0, false},
                  {L"SetCheckCaption", 21, M, 4, 2, false},
                  {L"GiveDiscount", 22, M, 6, 4, false},
                  {L"PrintArtReport", 23, M, 5, 4, false},
                  {L"PrintXReport", 24, M, 1, 0, false},
                  {L"PrintZReport", 25, M, 2, 0, false},
                  {L"SetCheckBarcode", 26, M, 1, 0, true},
                  {L"PrintBarcode", 27, M, 1, 0, false},
                  {L"AlterOnlineMode", 28, M, 0, 0, false},
                  {L"AlterCutterMode", 29, M, 0, 0, false},
                  {L"ChangeBitrate", 30, M, 1, 0, false},
                  {L"OpenSafe", 31, M, 0, 0, false},
                  {L"GetSafeSum", 32, M, 1, 0, false},
                  {L"SetLineSpacing", 33, M, 1, 0, true},
                  {L"PrintComment", 34, M, 1, 0, false},
                  {L"ChangePassword", 35, M, 4, 1, false},
                  {L"Login", 36, M, 3, 1, false},
                  {L"Logout", 37, M, 2, 0, false},
                  {L"GetPaperState", 38, M, 1, 0, true},
                  {L"SetContrast", 39, M, 1, 0, true},
                  {L"ReadMemory", 40, M, 4, 0, false},
                  {L"GetArticleInfo", 41, M, 3, 1, false},
                  {L"GetXReport", 42, M, 1, 0, false},
                  {L"GetCheckSum", 43, M, 1, 0, false},
                  {L"GetTaxData", 44, M, 2, 1, false},
                  {L"SetTaxData", 45, M, 2, 0, false},
                  {L"GetZReport", 46, M, 2, 0, true},
                  {L"Personalize", 47, M, 1, 0, false},
                  {L"SetFiscalNumber", 48, M, 2, 0, false},
                  {L"SetTaxPayerInfo", 49, M, 6, 4, false},
                  {L"ProgramArticle", 50, M, 7, 2, false},
                  {L"PrintReportByDate", 51, M, 4, 1, false},
                  {L"PrintReportById", 52, M, 4, 1, false},
                  {L"SetLogo", 53, M, 4, 2, false},
                  {L"SetPayTypeName", 54, M, 3, 0, false},
                  {L"PrintQR", 55, M, 1, 0, false},
                  {L"GetTimeToBlock", 56, M, 2, 0, false},
                  {L"PrintCommentBarcode", 57, M, 1, 0, false}});
}

// Parameter names, types and recorded defaults of the members a late-bound caller may
// call with arguments left out.
TEST_F(TypeLibTest, ParametersAndDefaults)
{
    ITypeInfo* view = InterfaceView(IID_IFiscalPrinter);
    ASSERT_NE(nullptr, view);
    auto func = [&](MEMBERID id) {
        TYPEATTR* attr = nullptr;
        view->GetTypeAttr(&attr);
        FUNCDESC* found = nullptr;
        for (UINT i = 0; i < attr->cFuncs && !found; ++i) {
            FUNCDESC* f = nullptr;
            view->GetFuncDesc(i, &f);
            if (f->memid == id) found = f; else view->ReleaseFuncDesc(f);
        }
        view->ReleaseTypeAttr(attr);
        return found;
    };
    auto names = [&](MEMBERID id) {
        BSTR n[10] = {};
        UINT got = 0;
        view->GetNames(id, n, 10, &got);
        std::wstring all;
        for (UINT i = 0; i < got; ++i) {
            all += (i ? L"," : L"");
            all += n[i];
            SysFreeString(n[i]);
        }
        return all;
    };
    auto defaultOf = [](FUNCDESC* f, int p) {
        const PARAMDESC& d = f->lprgelemdescParam[p].paramdesc;
        EXPECT_TRUE(d.wParamFlags & PARAMFLAG_FOPT);
        EXPECT_TRUE(d.wParamFlags & PARAMFLAG_FHASDEFAULT);
        return &d.pparamdescex->varDefaultValue;
    };

    EXPECT_EQ(L"PayCheck,Type,Sum,Text,pRet", names(17));
    FUNCDESC* f = func(17);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(VT_USERDEFINED, f->lprgelemdescParam[0].tdesc.vt);  // FPPayType
    EXPECT_EQ(3, V_I4(defaultOf(f, 0)));
    EXPECT_EQ(-1, V_I4(defaultOf(f, 1)));
    EXPECT_EQ(VT_BSTR, V_VT(defaultOf(f, 2)));
    EXPECT_STREQ(L"", V_BSTR(defaultOf(f, 2)));
    EXPECT_TRUE(f->lprgelemdescParam[3].paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
    view->ReleaseFuncDesc(f);

    EXPECT_EQ(L"Connect,Port,Speed", names(4));
    f = func(4);
    EXPECT_EQ(19200, V_I4(defaultOf(f, 1)));
    view->ReleaseFuncDesc(f);

    EXPECT_EQ(L"SaleArticle,Code,Count,Price,TaxType,Name,CountFormat,CodeEx,pRet", names(18));
    f = func(18);
    EXPECT_EQ(VT_I2, f->lprgelemdescParam[5].tdesc.vt);
    EXPECT_EQ(131, V_I2(defaultOf(f, 5)));
    EXPECT_EQ(0, V_I4(defaultOf(f, 6)));
    view->ReleaseFuncDesc(f);

    f = func(50);  // ProgramArticle CountFormat
    EXPECT_EQ(3, V_I2(defaultOf(f, 5)));
    view->ReleaseFuncDesc(f);

    EXPECT_EQ(L"GiveDiscount,Value,OnTotal,SumMode,Text,PercentFormat,pRet", names(22));
    f = func(22);
    EXPECT_EQ(VT_BOOL, f->lprgelemdescParam[1].tdesc.vt);
    EXPECT_EQ(VARIANT_FALSE, V_BOOL(defaultOf(f, 1)));
    EXPECT_EQ(2, V_I2(defaultOf(f, 4)));
    view->ReleaseFuncDesc(f);

    f = func(51);  // PrintReportByDate ShortForm = true
    EXPECT_EQ(VARIANT_TRUE, V_BOOL(defaultOf(f, 3)));
    view->ReleaseFuncDesc(f);

    EXPECT_EQ(L"ChangePassword,UserId,OldPassword,NewPassword,UserName", names(35));
    EXPECT_EQ(L"DisplayString,Row,String", names(13));

    // Result types: FPState, SAFEARRAY of bytes, int, record interface.
    f = func(101);
    ASSERT_EQ(VT_PTR, f->lprgelemdescParam[0].tdesc.vt);
    EXPECT_EQ(VT_USERDEFINED, f->lprgelemdescParam[0].tdesc.lptdesc->vt);
    view->ReleaseFuncDesc(f);
    f = func(40);
    ASSERT_EQ(VT_PTR, f->lprgelemdescParam[3].tdesc.vt);
    ASSERT_EQ(VT_SAFEARRAY, f->lprgelemdescParam[3].tdesc.lptdesc->vt);
    EXPECT_EQ(VT_UI1, f->lprgelemdescParam[3].tdesc.lptdesc->lptdesc->vt);
    view->ReleaseFuncDesc(f);
    f = func(56);
    EXPECT_EQ(VT_INT, f->lprgelemdescParam[1].tdesc.lptdesc->vt);
    view->ReleaseFuncDesc(f);
    view->Release();
}

TEST_F(TypeLibTest, CoclassesAndRecordInterfaces)
{
    struct Pair {
        DWORD coclass, iface;
        const wchar_t* name;
        const wchar_t* doc;
        int members;
    };
    const Pair pairs[] = {
        {0x00EB5842, 0x00EB5841, L"FiscalPrinter", L"Фискальный принтер PELTRA44", 64},
        {0x00EB5847, 0x00EB5846, L"ArticleInfo", L"Информация о товаре", 12},
        {0x00EB5849, 0x00EB5848, L"XReport", L"X отчёт", 14},
        {0x00EB584B, 0x00EB584A, L"CheckSum", L"Суммы по чеку", 6},
        {0x00EB584D, 0x00EB584C, L"SumByTaxType", L"Суммы по типу налога", 8},
        {0x00EB584F, 0x00EB584E, L"SumByPayType", L"Суммы по типу оплаты", 12},
        {0x00EB5851, 0x00EB5850, L"TaxData", L"Налоговые ставки и сборы", 29},
        {0x00EB5853, 0x00EB5852, L"ZReport", L"Z отчёт", 7},
    };
    for (const Pair& p : pairs) {
        GUID cls{p.coclass, 0xC9C8, 0x11DC, {0xBD, 0x0B, 0x00, 0x1D, 0x60, 0x55, 0xE5, 0x81}};
        GUID iid = cls;
        iid.Data1 = p.iface;
        ITypeInfo* info = Info(cls);
        ASSERT_NE(nullptr, info) << p.coclass;
        std::wstring name;
        EXPECT_EQ(p.doc, Doc(info, MEMBERID_NIL, &name));
        EXPECT_EQ(p.name, name);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_COCLASS, attr->typekind);
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
        info->ReleaseTypeAttr(attr);
        HREFTYPE ref = 0;
        ITypeInfo* def = nullptr;
        ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref));
        ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, &def));
        ASSERT_EQ(S_OK, def->GetTypeAttr(&attr));
        EXPECT_TRUE(IsEqualGUID(iid, attr->guid)) << p.coclass;
        def->ReleaseTypeAttr(attr);
        def->Release();
        info->Release();

        ITypeInfo* view = InterfaceView(iid);
        ASSERT_NE(nullptr, view);
        ASSERT_EQ(S_OK, view->GetTypeAttr(&attr));
        EXPECT_EQ(p.members, attr->cFuncs) << p.coclass;
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FHIDDEN);
        view->ReleaseTypeAttr(attr);
        view->Release();
    }

    // ITaxData: each get right before its put.
    ITypeInfo* tax = InterfaceView(GUID{0x00EB5850, 0xC9C8, 0x11DC, {0xBD, 0x0B, 0x00, 0x1D, 0x60, 0x55, 0xE5, 0x81}});
    ASSERT_NE(nullptr, tax);
    for (UINT i = 3; i < 29; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(S_OK, tax->GetFuncDesc(i, &f));
        EXPECT_EQ(static_cast<MEMBERID>(100 + (i - 3) / 2), f->memid);
        EXPECT_EQ((i - 3) % 2 ? INVOKE_PROPERTYPUT : INVOKE_PROPERTYGET, f->invkind);
        tax->ReleaseFuncDesc(f);
    }
    tax->Release();
}

} // namespace
