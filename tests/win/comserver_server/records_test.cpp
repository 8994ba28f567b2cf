// The record objects in process: COM identity and type information, the same
// sub-record every time, the lifetime rules (a sub-record keeps its report, a report
// keeps FiscalPrinter), null result pointers, the TaxData template and its Count check,
// the article name, and clean release when a fill fails.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "comserver/records/article_info.h"
#include "comserver/records/check_sum.h"
#include "comserver/records/tax_data.h"
#include "comserver/records/x_report.h"
#include "tests/win/comserver_server/server_fixture.h"

namespace {

class RecordsTest : public ServerObjectTest {
protected:
    void TearDown() override
    {
        // Every record let go of its parent.
        EXPECT_EQ(0, g_printer.ReferenceCount());
    }
    static records::Context Context() { return g_printer.RecordContext(); }
};

template <class I>
ULONG Refs(I* p)
{
    p->AddRef();
    return p->Release();
}

std::wstring Take(BSTR s)
{
    std::wstring w = s ? std::wstring(s, SysStringLen(s)) : L"(null)";
    SysFreeString(s);
    return w;
}

TEST_F(RecordsTest, XReportIdentityTypeInformationAndLifetime)
{
    serialproto::XReportData data;
    data.ChecksCount = 12;
    data.ByTax.Sum[0] = 1500;
    data.RefundByPay.Sum[9] = 42;
    data.MarkUp = 5;
    data.Discount = 6;
    data.RefundMarkUp = 8;
    data.RefundDiscount = 9;
    IXReport* x = nullptr;
    ASSERT_EQ(S_OK, records::CreateXReport(Context(), data, &x));
    EXPECT_EQ(1u, Refs(x));
    EXPECT_EQ(1, g_printer.ReferenceCount()); // the report holds FiscalPrinter

    // Its interfaces, type information and coclass.
    IDispatch* disp = nullptr;
    ISupportErrorInfo* sei = nullptr;
    IProvideClassInfo* pci = nullptr;
    IUnknown* other = reinterpret_cast<IUnknown*>(1);
    ASSERT_EQ(S_OK, x->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)));
    EXPECT_EQ(static_cast<void*>(x), static_cast<void*>(disp));
    ASSERT_EQ(S_OK, x->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&sei)));
    ASSERT_EQ(S_OK, sei->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&pci)));
    EXPECT_EQ(E_NOINTERFACE, x->QueryInterface(IID_ICheckSum, reinterpret_cast<void**>(&other)));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(E_POINTER, x->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IXReport));
    EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IDispatch));
    ITypeInfo* cls = nullptr;
    ASSERT_EQ(S_OK, pci->GetClassInfo(&cls));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, cls->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(CLSID_XReport, attr->guid));
    cls->ReleaseTypeAttr(attr);
    cls->Release();
    EXPECT_EQ(4u, Refs(x));
    pci->Release();
    sei->Release();
    disp->Release();

    BSTR name = nullptr;
    ASSERT_EQ(S_OK, x->get_Name(&name));
    EXPECT_EQ(L"XReport", Take(name));
    LONG v = 0;
    ASSERT_EQ(S_OK, x->get_RefundDiscount(&v));
    EXPECT_EQ(9, v);
    EXPECT_EQ(E_POINTER, x->get_MarkUp(nullptr));
    EXPECT_EQ(E_POINTER, x->get_SumByTaxType(nullptr));
    IFiscalPrinter* parent = nullptr;
    ASSERT_EQ(S_OK, x->get_Parent(&parent));
    EXPECT_EQ(static_cast<IFiscalPrinter*>(&g_printer), parent);
    parent->Release();

    // Late-bound, through the record's own type information.
    LPOLESTR member = const_cast<LPOLESTR>(L"RefundMarkUp");
    DISPID id = 0;
    ASSERT_EQ(S_OK, x->GetIDsOfNames(IID_NULL, &member, 1, 0, &id));
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(S_OK, x->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    EXPECT_EQ(VT_I4, V_VT(&result));
    EXPECT_EQ(8, V_I4(&result));

    // The same sub-record every time; its references are the report's.
    ISumByTaxType* sums = nullptr;
    ISumByTaxType* again = nullptr;
    ASSERT_EQ(S_OK, x->get_SumByTaxType(&sums));
    ASSERT_EQ(S_OK, x->get_SumByTaxType(&again));
    EXPECT_EQ(sums, again);
    EXPECT_EQ(3u, Refs(x));
    again->Release();
    // No IDispatchEx on records (record.h says why): a script falls back on IDispatch.
    IUnknown* ex = reinterpret_cast<IUnknown*>(&id);
    EXPECT_EQ(E_NOINTERFACE, sums->QueryInterface(kIID_IDispatchEx, reinterpret_cast<void**>(&ex)));
    EXPECT_EQ(nullptr, ex);
    EXPECT_EQ(E_NOINTERFACE, x->QueryInterface(kIID_IDispatchEx, reinterpret_cast<void**>(&ex)));
    EXPECT_EQ(2u, Refs(x)); // the report and the sub-record: nothing taken
    ASSERT_EQ(S_OK, sums->get_Name(&name));
    EXPECT_EQ(L"SumByTaxType", Take(name));
    IDispatch* owner = nullptr;
    ASSERT_EQ(S_OK, sums->get_Parent(&owner));
    EXPECT_EQ(static_cast<IDispatch*>(x), owner);
    owner->Release();
    ISumByPayType* pay = nullptr;
    ASSERT_EQ(S_OK, x->get_RefundSumByPayType(&pay));
    ASSERT_EQ(S_OK, pay->get_ByOther9(&v));
    EXPECT_EQ(42, v);
    pay->Release();

    // Let go of the report first: the sub-record keeps it, and FiscalPrinter.
    x->Release();
    EXPECT_EQ(1, g_printer.ReferenceCount());
    ASSERT_EQ(S_OK, sums->get_TaxTypeA(&v));
    EXPECT_EQ(1500, v);
    EXPECT_EQ(E_POINTER, sums->get_TaxTypeB(nullptr));
    sums->Release();
}

TEST_F(RecordsTest, CheckSumAndArticleInfo)
{
    serialproto::CheckSumData sums;
    sums.ByTax.Sum[1] = 700;
    sums.ByPay.Sum[3] = 1000;
    sums.TotalSum = 700;
    sums.PayedSum = 1000;
    ICheckSum* c = nullptr;
    ASSERT_EQ(S_OK, records::CreateCheckSum(Context(), sums, &c));
    ISumByPayType* pay = nullptr;
    ASSERT_EQ(S_OK, c->get_SumByPayType(&pay));
    LONG v = 0;
    ASSERT_EQ(S_OK, pay->get_ByCash(&v));
    EXPECT_EQ(1000, v);
    IDispatch* owner = nullptr;
    ASSERT_EQ(S_OK, pay->get_Parent(&owner));
    EXPECT_EQ(static_cast<IDispatch*>(c), owner);
    owner->Release();
    c->Release();
    pay->Release();

    // A name in the register's code page comes back converted; no name is a null BSTR.
    serialproto::ArticleInfoData a;
    a.HasName = true;
    a.Name = "\x8C\xAE\xAB\xAE\xAA\xAE";
    a.TurnoverSum = 1099511627775.0;
    a.TaxType = 129;
    IArticleInfo* info = nullptr;
    ASSERT_EQ(S_OK, records::CreateArticleInfo(Context(), 123, 7, a, &info));
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, info->get_Name(&name));
    EXPECT_EQ(L"Молоко", Take(name));
    ASSERT_EQ(S_OK, info->get_CodeEx(&v));
    EXPECT_EQ(7, v);
    double turnover = 0;
    ASSERT_EQ(S_OK, info->get_TurnoverSum(&turnover));
    EXPECT_EQ(1099511627775.0, turnover);
    FPTaxType group = fpttA;
    ASSERT_EQ(S_OK, info->get_TaxType(&group));
    EXPECT_EQ(fpttB, group);
    info->Release();

    ASSERT_EQ(S_OK, records::CreateArticleInfo(Context(), 5, 0, serialproto::ArticleInfoData{}, &info));
    name = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(S_OK, info->get_Name(&name));
    EXPECT_EQ(nullptr, name);
    info->Release();
}

TEST_F(RecordsTest, TaxDataTemplateWithoutTheRegister)
{
    ITaxData* t = nullptr;
    ASSERT_EQ(S_OK, g_printer.GetTaxData(1, &t)); // not connected
    LONG v = 0;
    short flags = 0;
    ASSERT_EQ(S_OK, t->get_Count(&v));
    EXPECT_EQ(2, v);
    ASSERT_EQ(S_OK, t->get_Flags(&flags));
    EXPECT_EQ(34, flags);
    ASSERT_EQ(S_OK, t->get_TaxRateA(&v));
    EXPECT_EQ(2000, v);
    BSTR date = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(S_OK, t->get_Date(&date));
    EXPECT_EQ(nullptr, date);

    // Count takes 0 to 5; anything else is refused and raised, and the count stays.
    EXPECT_EQ(E_INVALIDARG, t->put_Count(6));
    EXPECT_EQ(E_INVALIDARG, g_printer.Error.number);
    ASSERT_EQ(S_OK, t->get_Count(&v));
    EXPECT_EQ(2, v);
    EXPECT_EQ(S_OK, t->put_Count(0));
    EXPECT_EQ(S_OK, t->put_FeeRateE(-150));
    ASSERT_EQ(S_OK, t->get_FeeRateE(&v));
    EXPECT_EQ(-150, v);
    EXPECT_EQ(S_OK, t->put_Flags(-1));
    ASSERT_EQ(S_OK, t->get_Flags(&flags));
    EXPECT_EQ(-1, flags);
    t->Release();

    // Without a register a table cannot be read; nothing is handed out.
    t = nullptr;
    EXPECT_EQ(FPE_NOT_CONNECTED, g_printer.GetTaxData(0, &t));
    EXPECT_EQ(nullptr, t);
}

TEST_F(RecordsTest, NullResultPointers)
{
    EXPECT_EQ(E_POINTER, g_printer.GetXReport(nullptr));
    EXPECT_EQ(E_POINTER, g_printer.GetCheckSum(nullptr));
    EXPECT_EQ(E_POINTER, g_printer.GetTaxData(1, nullptr));
    EXPECT_EQ(E_POINTER, g_printer.GetArticleInfo(1, 0, nullptr));
    g_printer.Error.number = 0;
    EXPECT_EQ(E_POINTER, g_printer.GetSafeSum(nullptr));
    EXPECT_EQ(0, g_printer.Error.number); // not raised
    EXPECT_EQ(E_POINTER, g_printer.ReadMemory(0, 0, 1, nullptr));
    EXPECT_EQ(E_POINTER, g_printer.Error.number); // raised
    EXPECT_EQ(E_INVALIDARG, g_printer.GetTimeToBlock(0, nullptr));
}

TEST_F(RecordsTest, FailedFillsReleaseWhatTheyBuilt)
{
    records::Context broken = Context();
    broken.typeLib = nullptr; // no type information to be had
    IXReport* x = reinterpret_cast<IXReport*>(1);
    EXPECT_EQ(E_UNEXPECTED, records::CreateXReport(broken, serialproto::XReportData{}, &x));
    EXPECT_EQ(nullptr, x);
    ICheckSum* c = reinterpret_cast<ICheckSum*>(1);
    EXPECT_EQ(E_UNEXPECTED, records::CreateCheckSum(broken, serialproto::CheckSumData{}, &c));
    EXPECT_EQ(nullptr, c);
    ITaxData* t = reinterpret_cast<ITaxData*>(1);
    EXPECT_EQ(E_UNEXPECTED, records::CreateTaxData(broken, serialproto::TaxTableData{}, &t));
    EXPECT_EQ(nullptr, t);
    // TearDown: each record gave back its reference on FiscalPrinter.
}

} // namespace
