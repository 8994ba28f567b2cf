// ScriptDispatch: IDispatchEx for the automation objects of the server.
//
// A script client asks the object for IDispatchEx before every name lookup and before
// every call, and uses IDispatch only when it is refused. Across processes a refusal is
// not remembered by the client's proxy, so each member access of a script used to cost
// four round trips to the server (two refused questions, the name, the call). An
// interface that is given once stays with the proxy: with IDispatchEx a member access
// costs two (the name and the call).
//
// The object's members stay where they are: GetDispID is the name lookup of IDispatch
// (names match regardless of case, as they always have), InvokeEx is its Invoke. The
// object has no dynamic members: nothing is created, deleted or enumerated.
//
// Use: derive from ScriptDispatch<Derived> beside the dual interface; Derived's own
// IUnknown and IDispatch members serve both tables, and Derived's QueryInterface hands
// out static_cast<IDispatchEx*>(this) for kIID_IDispatchEx.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <dispex.h>

// {A6EF9860-C720-11D0-9337-00A0C90DCAA9}
inline const IID kIID_IDispatchEx = {0xa6ef9860, 0xc720, 0x11d0, {0x93, 0x37, 0x00, 0xa0, 0xc9, 0x0d, 0xca, 0xa9}};

template <class Derived>
class ScriptDispatch : public IDispatchEx {
public:
    STDMETHODIMP GetDispID(BSTR name, DWORD, DISPID* id) override
    {
        if (!id) return E_POINTER;
        *id = DISPID_UNKNOWN;
        if (!name) return DISP_E_UNKNOWNNAME;
        LPOLESTR names[1] = {name};
        // fdexNameEnsure asks to create a missing member: this object has none to create.
        return self().GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
    }

    STDMETHODIMP InvokeEx(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                          IServiceProvider*) override
    {
        // "new object.member" has no meaning here.
        if (flags & DISPATCH_CONSTRUCT) return DISP_E_MEMBERNOTFOUND;
        UINT argErr = 0;
        return self().Invoke(id, IID_NULL, lcid, flags, params, result, excepInfo, &argErr);
    }

    STDMETHODIMP DeleteMemberByName(BSTR, DWORD) override { return S_FALSE; }
    STDMETHODIMP DeleteMemberByDispID(DISPID) override { return S_FALSE; }

    STDMETHODIMP GetMemberProperties(DISPID, DWORD, DWORD* props) override
    {
        if (props) *props = 0;
        return E_NOTIMPL;
    }

    STDMETHODIMP GetMemberName(DISPID id, BSTR* name) override
    {
        if (!name) return E_POINTER;
        *name = nullptr;
        ITypeInfo* info = nullptr;
        if (FAILED(self().GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) || !info) return DISP_E_UNKNOWNNAME;
        HRESULT hr = info->GetDocumentation(id, name, nullptr, nullptr, nullptr);
        info->Release();
        return SUCCEEDED(hr) ? S_OK : DISP_E_UNKNOWNNAME;
    }

    STDMETHODIMP GetNextDispID(DWORD, DISPID, DISPID* id) override
    {
        if (id) *id = DISPID_UNKNOWN;
        return E_NOTIMPL;
    }

    STDMETHODIMP GetNameSpaceParent(IUnknown** parent) override
    {
        if (!parent) return E_POINTER;
        *parent = nullptr;
        return E_NOTIMPL;
    }

private:
    Derived& self() { return static_cast<Derived&>(*this); }
};
