// The FiscalPrinter object and its class factory in process: interfaces, the server
// locks with the connect/disconnect transitions, properties, the error record, the
// members without support, and a late-bound call through the type information.
// (Compiled with the ANSI page 1251 as execution character set, like the server.)
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comserver/class_factory.h"
#include "tests/win/comserver_server/server_fixture.h"

namespace {

class ObjectTest : public ServerObjectTest {
protected:
    void TearDown() override
    {
        // Every test gives back what it took.
        EXPECT_EQ(0, g_printer.ReferenceCount());
        EXPECT_EQ(0, g_process.LockCount());
    }

    static std::string Newest() { return RecentEvent(g_printer.Log, 0); }
};

TEST_F(ObjectTest, QueryInterfaceGivesTheThreeTablesOfOneObject)
{
    FiscalPrinter& fp = g_printer;
    IUnknown* unk = nullptr;
    IDispatch* disp = nullptr;
    IFiscalPrinter* printer = nullptr;
    ASSERT_EQ(S_OK, fp.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)));
    ASSERT_EQ(S_OK, unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)));
    ASSERT_EQ(S_OK, disp->QueryInterface(IID_IFiscalPrinter, reinterpret_cast<void**>(&printer)));
    EXPECT_EQ(static_cast<void*>(unk), static_cast<void*>(printer));
    EXPECT_EQ(static_cast<void*>(disp), static_cast<void*>(printer));

    ISupportErrorInfo* sei = nullptr;
    IProvideClassInfo* pci = nullptr;
    ASSERT_EQ(S_OK, printer->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&sei)));
    ASSERT_EQ(S_OK, sei->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&pci)));
    IUnknown* back = nullptr;
    ASSERT_EQ(S_OK, pci->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)));
    EXPECT_EQ(static_cast<void*>(unk), static_cast<void*>(back));
    EXPECT_EQ(6, fp.ReferenceCount());

    EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IFiscalPrinter));
    EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IDispatch));

    ITypeInfo* cls = nullptr;
    ASSERT_EQ(S_OK, pci->GetClassInfo(&cls));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, cls->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(CLSID_FiscalPrinter, attr->guid));
    cls->ReleaseTypeAttr(attr);
    cls->Release();
    EXPECT_EQ(E_POINTER, pci->GetClassInfo(nullptr));

    void* none = &fp;
    EXPECT_EQ(E_NOINTERFACE, unk->QueryInterface(IID_IClassFactory, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(E_POINTER, unk->QueryInterface(IID_IUnknown, nullptr));

    UINT count = 0;
    EXPECT_EQ(S_OK, disp->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ITypeInfo* ti = nullptr;
    ASSERT_EQ(S_OK, disp->GetTypeInfo(0, 0, &ti));
    EXPECT_EQ(g_process.PrinterTypeInfo(), ti);
    ti->Release();

    for (IUnknown* p : {static_cast<IUnknown*>(unk), static_cast<IUnknown*>(disp), static_cast<IUnknown*>(printer),
                        static_cast<IUnknown*>(sei), static_cast<IUnknown*>(pci), back})
        p->Release();
    EXPECT_EQ(0, fp.ReferenceCount());
}

TEST_F(ObjectTest, FirstReferenceConnectsAndLastDisconnects)
{
    FiscalPrinter& fp = g_printer;
    fp.EcrState = 0x20;
    fp.TotalSum = 77;
    fp.PrinterInfo.Assign("ЭККР 1");
    RaiseNewError(fp.Error, E_INVALIDARG);

    EXPECT_EQ(1u, fp.AddRef());
    EXPECT_EQ(1, g_process.LockCount());
    EXPECT_EQ(static_cast<LONG>(0x80000000), fp.EcrState);
    EXPECT_EQ(0, fp.TotalSum);
    EXPECT_EQ(0, fp.Error.number);
    EXPECT_EQ(nullptr, fp.Error.description);
    EXPECT_STREQ("ЭККР 1", fp.PrinterInfo.Text()); // kept across the connect
    EXPECT_EQ("Объект подключён", Newest());

    EXPECT_EQ(2u, fp.AddRef());
    EXPECT_EQ(1, g_process.LockCount());
    EXPECT_EQ(1u, fp.Release());
    g_process.StartIdleCountdown(7);
    RaiseNewError(fp.Error, E_INVALIDARG);
    EXPECT_EQ(0u, fp.Release());
    EXPECT_EQ(0, g_process.LockCount());
    EXPECT_EQ(100, g_process.IdleCountdown());
    EXPECT_EQ(nullptr, fp.Error.description);
    EXPECT_EQ("Объект отключён", Newest());

    // A surplus Release changes nothing.
    EXPECT_EQ(0u, fp.Release());
    EXPECT_EQ(0, g_process.LockCount());
    fp.PrinterInfo.Clear();
    ResetLastError(fp.Error);
}

TEST_F(ObjectTest, FactoryHandsOutTheOneObjectAndCountsLocks)
{
    FiscalPrinter& fp = g_printer;
    auto* factory = new FiscalPrinterFactory(fp);
    factory->AddRef();

    void* obj = &fp;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &obj));
    EXPECT_EQ(nullptr, obj);
    EXPECT_EQ(0, fp.ReferenceCount());
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(reinterpret_cast<IUnknown*>(&fp), IID_IUnknown, &obj));
    EXPECT_EQ(0, fp.ReferenceCount());

    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch, &a));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IFiscalPrinter, &b));
    EXPECT_EQ(a, b);
    EXPECT_EQ(static_cast<void*>(static_cast<IFiscalPrinter*>(&fp)), a);
    EXPECT_EQ(2, fp.ReferenceCount());
    EXPECT_EQ(1, g_process.LockCount());

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(2, g_process.LockCount());
    static_cast<IUnknown*>(a)->Release();
    static_cast<IUnknown*>(b)->Release();
    EXPECT_EQ(1, g_process.LockCount()); // the LockServer lock keeps the server
    EXPECT_EQ("Объект подключён", Newest());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(0, g_process.LockCount());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE)); // no lock to give back
    EXPECT_EQ(0, g_process.LockCount());

    IUnknown* unk = nullptr;
    ASSERT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)));
    EXPECT_EQ(1u, unk->Release());
    EXPECT_EQ(0u, factory->Release()); // frees it
}

// The server window's timer: the countdown holds while a client holds the server or
// the dialog is open, and the stop comes only once it has run out.
TEST_F(ObjectTest, IdleCountdownEndsTheServerOnlyWhenNothingHoldsIt)
{
    ServerProcess process;
    process.StartIdleCountdown(2);
    EXPECT_TRUE(process.Lock());
    EXPECT_FALSE(process.Lock());
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(process.IdleTick());
    EXPECT_EQ(2, process.IdleCountdown());
    EXPECT_FALSE(process.Unlock());
    EXPECT_TRUE(process.Unlock());
    EXPECT_FALSE(process.Unlock()); // nothing left to give back
    EXPECT_EQ(ServerProcess::kIdleTicksAfterLastLock, process.IdleCountdown());

    process.StartIdleCountdown(1);
    HWND dialog = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, dialog);
    process.StatusDialogOpened(dialog);
    EXPECT_EQ(dialog, process.Log().notifyWindow);
    EXPECT_FALSE(process.IdleTick());
    process.StatusDialogClosed(nullptr); // another window: the dialog stays
    EXPECT_EQ(dialog, process.StatusDialog());
    process.StatusDialogClosed(dialog);
    EXPECT_EQ(nullptr, process.Log().notifyWindow);
    DestroyWindow(dialog);
    EXPECT_FALSE(process.IdleTick());
    EXPECT_TRUE(process.IdleTick());
}

TEST_F(ObjectTest, PropertiesAndTheErrorRecord)
{
    FiscalPrinter& fp = g_printer;
    IFiscalPrinter* p = &fp;
    BSTR s = nullptr;
    ResetLastError(fp.Error);
    ASSERT_EQ(S_OK, p->get_ErrorDescription(&s));
    ASSERT_NE(nullptr, s);
    EXPECT_STREQ(L"", s);
    SysFreeString(s);

    fp.TaxPayerInfo2.Assign("ТОВ Ромашка");
    BSTR first = nullptr, second = nullptr;
    ASSERT_EQ(S_OK, p->get_TaxPayerInfo(2, &first));
    ASSERT_EQ(S_OK, p->get_TaxPayerInfo(2, &second));
    EXPECT_STREQ(L"ТОВ Ромашка", first);
    EXPECT_NE(first, second); // a new BSTR for each read
    SysFreeString(first);
    SysFreeString(second);
    ASSERT_EQ(S_OK, p->get_TaxPayerInfo(3, &s));
    EXPECT_EQ(nullptr, s); // empty member: null BSTR
    fp.TaxPayerInfo2.Clear();

    for (LONG id : {0L, 4L}) {
        BSTR untouched = reinterpret_cast<BSTR>(&fp);
        EXPECT_EQ(E_INVALIDARG, p->get_TaxPayerInfo(id, &untouched));
        EXPECT_EQ(reinterpret_cast<BSTR>(&fp), untouched);
        LONG number = 0;
        ASSERT_EQ(S_OK, p->get_ErrorNumber(&number));
        EXPECT_EQ(-2147024809, number);
        ASSERT_EQ(S_OK, p->get_ErrorDescription(&s));
        EXPECT_STREQ(L"Неверный аргумент.", s);
        SysFreeString(s);
        IErrorInfo* info = nullptr;
        ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
        BSTR source = nullptr;
        info->GetSource(&source);
        EXPECT_STREQ(L"VAdazi", source);
        SysFreeString(source);
        info->Release();
    }
    EXPECT_EQ(E_POINTER, p->get_TaxPayerInfo(1, nullptr));
    EXPECT_EQ(E_POINTER, p->get_TotalSum(nullptr));
    ResetLastError(fp.Error);
}

TEST_F(ObjectTest, MembersWithoutSupportFailWithENotImpl)
{
    FiscalPrinter& fp = g_printer;
    short paper = 55;
    IZReport* report = reinterpret_cast<IZReport*>(&fp);
    EXPECT_EQ(E_NOTIMPL, fp.GetPaperState(&paper));
    EXPECT_EQ(55, paper);
    EXPECT_EQ(E_NOTIMPL, fp.GetZReport(1, &report));
    EXPECT_EQ(reinterpret_cast<IZReport*>(&fp), report);
    EXPECT_EQ(E_NOTIMPL, fp.SetLineSpacing(1));
    EXPECT_EQ(E_NOTIMPL, fp.SetContrast(1));
    EXPECT_EQ(static_cast<LONG>(E_NOTIMPL), fp.Error.number);
    EXPECT_STREQ(L"Не поддерживается.", fp.Error.description);
    ResetLastError(fp.Error);
}

// A late-bound call with every argument left out: the type information supplies the
// recorded defaults, the member runs its frame, and the failure reaches the caller as
// DISP_E_EXCEPTION with the member's name as source.
TEST_F(ObjectTest, LateBoundPayCheckGetsTheDefaults)
{
    FiscalPrinter& fp = g_printer;
    IDispatch* disp = static_cast<IFiscalPrinter*>(&fp);
    disp->AddRef();
    OLECHAR name[] = L"PayCheck";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    ASSERT_EQ(S_OK, disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    EXPECT_EQ(17, id);

    DISPPARAMS none{};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO ex{};
    UINT argErr = 0;
    EXPECT_EQ(DISP_E_EXCEPTION, disp->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, &ex, &argErr));
    EXPECT_STREQ(L"PayCheck", ex.bstrSource);
    EXPECT_STREQ(L"Необходимо выполнить команду Connect.", ex.bstrDescription);
    EXPECT_EQ(static_cast<HRESULT>(0xA0042002), ex.scode);
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrHelpFile);
    EXPECT_EQ("PayCheck - Необходимо выполнить команду Connect.", Newest());
    EXPECT_STREQ("PayCheck - 03, -1, ''", RecentEvent(fp.Log, 1));

    // Through IDispatch, properties too: EcrState as a property get.
    VariantClear(&result);
    EXPECT_EQ(S_OK, disp->Invoke(101, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    EXPECT_EQ(VT_I4, V_VT(&result));
    EXPECT_EQ(static_cast<LONG>(0x80000000), V_I4(&result));
    disp->Release();
    ResetLastError(fp.Error);
}

// What a script client sees: IDispatchEx from the same object, its names and calls those
// of IDispatch (any case), a failure with the same exception, nothing to create or delete.
TEST_F(ObjectTest, ScriptClientsGetIDispatchEx)
{
    FiscalPrinter& fp = g_printer;
    IDispatchEx* ex = nullptr;
    ASSERT_EQ(S_OK, static_cast<IFiscalPrinter*>(&fp)->QueryInterface(kIID_IDispatchEx, reinterpret_cast<void**>(&ex)));
    IUnknown* viaEx = nullptr;
    IUnknown* viaPrinter = nullptr;
    ASSERT_EQ(S_OK, ex->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaEx)));
    ASSERT_EQ(S_OK,
              static_cast<IFiscalPrinter*>(&fp)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaPrinter)));
    EXPECT_EQ(viaPrinter, viaEx);
    viaEx->Release();
    viaPrinter->Release();

    BSTR name = SysAllocString(L"paycheck");
    DISPID id = 0;
    EXPECT_EQ(S_OK, ex->GetDispID(name, fdexNameCaseInsensitive, &id));
    EXPECT_EQ(17, id);
    SysFreeString(name);
    name = SysAllocString(L"NoSuchMember");
    EXPECT_EQ(DISP_E_UNKNOWNNAME, ex->GetDispID(name, fdexNameEnsure, &id));
    EXPECT_EQ(S_FALSE, ex->DeleteMemberByName(name, 0));
    SysFreeString(name);
    EXPECT_EQ(E_POINTER, ex->GetDispID(nullptr, 0, nullptr));

    BSTR member = nullptr;
    ASSERT_EQ(S_OK, ex->GetMemberName(17, &member));
    EXPECT_STREQ(L"PayCheck", member);
    SysFreeString(member);
    EXPECT_EQ(DISP_E_UNKNOWNNAME, ex->GetMemberName(99999, &member));
    EXPECT_EQ(nullptr, member);

    DISPPARAMS none{};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    EXPECT_EQ(DISP_E_EXCEPTION, ex->InvokeEx(17, 0, DISPATCH_METHOD, &none, &result, &info, nullptr));
    EXPECT_STREQ(L"PayCheck", info.bstrSource);
    EXPECT_STREQ(L"Необходимо выполнить команду Connect.", info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, ex->InvokeEx(17, 0, DISPATCH_CONSTRUCT, &none, &result, nullptr, nullptr));
    VariantClear(&result);
    EXPECT_EQ(S_OK, ex->InvokeEx(101, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    EXPECT_EQ(VT_I4, V_VT(&result));
    ex->Release();
    EXPECT_EQ(0, fp.ReferenceCount());
    ResetLastError(fp.Error);
}

} // namespace

namespace {
// A port that is open and answers nothing.
class QuietPort : public serialproto::SerialPort {
public:
    bool SetLine(std::uint32_t) override { return true; }
    bool SetReadTimeout(std::uint32_t) override { return true; }
    Read ReadByte(std::uint8_t&) override { return Read::Timeout; }
    bool Write(const std::uint8_t*, std::size_t) override { return true; }
    void ClearErrors() override {}
    void PurgeInput() override {}
    std::uint32_t SystemError() const override { return 0; }
};
} // namespace

// A client killed without letting go holds the server for ever; after the idle ticks
// without a call the port is let go, and the next call hears "not connected".
TEST_F(ObjectTest, APortNobodyCallsIsClosedAfterTheIdleTicks)
{
    ServerProcess process;
    FiscalPrinter fp{process};
    QuietPort port;
    fp.Serial.Link.Attach(&port);
    EXPECT_TRUE(process.Lock()); // the vanished client's lock
    for (LONG i = 1; i < ServerProcess::kPortIdleTicks; ++i) process.IdleTick();
    EXPECT_TRUE(fp.Serial.Link.Connected());
    fp.BeginCall(); // a call starts the count again
    for (LONG i = 1; i < ServerProcess::kPortIdleTicks; ++i) process.IdleTick();
    EXPECT_TRUE(fp.Serial.Link.Connected());
    RaiseNewError(fp.Error, E_FAIL);
    process.IdleTick();
    EXPECT_FALSE(fp.Serial.Link.Connected());
    EXPECT_EQ(0, fp.Error.number); // the next client inherits no error
    EXPECT_STREQ("Disconnect - Порт закрыт: нет вызовов 300 с", RecentEvent(fp.Log, 0));
    IFiscalPrinter* p = &fp;
    EXPECT_EQ(FPE_NOT_CONNECTED, p->LineFeed());
    process.Unlock();
    ResetLastError(fp.Error);
}
