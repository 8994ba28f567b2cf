// The common head of the record objects (ArticleInfo, XReport, CheckSum, TaxData and
// their SumByTaxType/SumByPayType sub-records).
//
// Every record has three interface tables: its dual interface I (with IUnknown and
// IDispatch at its head), IProvideClassInfo and ISupportErrorInfo. IDispatch goes
// through the type information of I from the server's type library; IProvideClassInfo
// gives the type information of the record's coclass.
//
// Records do not answer IDispatchEx, unlike FiscalPrinter. Out of process, every other
// interface a client takes on an object costs the server about 1 KB that the platform's
// marshaling keeps after the object is gone (the soak measures it); FiscalPrinter pays
// that once, but a script takes many records, each asked for IDispatchEx, and a
// long-running script client grew the server by 1 KB a record. Refused, a script uses
// IDispatch: two more round trips per member access of a record (about 8 ms instead
// of 1 ms from a script under Wine, tests/serial_bench), and flat memory.
//
// Lifetime:
//   - a top-level record (TopRecord) counts its own references, holds a reference on
//     the FiscalPrinter object (its Parent) and frees itself with the last Release;
//   - a sub-record (SubRecord) is a member of the record that owns it and has no count
//     of its own: AddRef and Release go to the owner, so a client that keeps only a
//     sub-record keeps the whole record, and with it the FiscalPrinter object, alive.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <new>

#include "comserver/errors.h"
#include "peltra44_h.h"

namespace records {

// What a record takes from the server when it is filled.
struct Context {
    IFiscalPrinter* printer = nullptr; // parent of the top-level records
    ITypeLib* typeLib = nullptr;       // the server's type library (no reference taken)
    LastError* error = nullptr;        // the error record, for the accessors that raise
};

// A getter: E_POINTER for a null result pointer, else the value.
#define RECORD_GETTER(Name, Type, Value)         \
    STDMETHODIMP get_##Name(Type* pRet) override \
    {                                            \
        if (!pRet) return E_POINTER;             \
        *pRet = (Value);                         \
        return S_OK;                             \
    }

template <class I>
class RecordBase : public I, public IProvideClassInfo, public ISupportErrorInfo {
public:
    RecordBase(const RecordBase&) = delete;
    RecordBase& operator=(const RecordBase&) = delete;

    // ---- IUnknown (AddRef and Release: TopRecord or SubRecord) -----------------------
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, iid_))
            *ppv = static_cast<I*>(this);
        else if (IsEqualIID(riid, IID_ISupportErrorInfo)) *ppv = static_cast<ISupportErrorInfo*>(this);
        else if (IsEqualIID(riid, IID_IProvideClassInfo)) *ppv = static_cast<IProvideClassInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        static_cast<I*>(this)->AddRef();
        return S_OK;
    }

    // ---- IDispatch, through the record's own type information -------------------------
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override
    {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        if (!typeInfo_) return E_FAIL;
        typeInfo_->AddRef();
        *ppTInfo = typeInfo_;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!typeInfo_) return E_FAIL;
        return typeInfo_->GetIDsOfNames(names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                        UINT* argErr) override
    {
        if (!typeInfo_) return E_FAIL;
        return typeInfo_->Invoke(static_cast<I*>(this), id, flags, params, result, excepInfo, argErr);
    }

    // ---- IProvideClassInfo / ISupportErrorInfo ----------------------------------------
    STDMETHODIMP GetClassInfo(ITypeInfo** ppTI) override
    {
        if (!ppTI) return E_POINTER;
        *ppTI = nullptr;
        if (!typeLib_) return E_UNEXPECTED;
        return typeLib_->GetTypeInfoOfGuid(clsid_, ppTI);
    }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override { return IsEqualIID(riid, iid_) ? S_OK : S_FALSE; }

protected:
    RecordBase(REFIID iid, REFCLSID clsid) : iid_(iid), clsid_(clsid) {}
    virtual ~RecordBase()
    {
        if (typeInfo_) typeInfo_->Release();
    }

    // Takes the type library and the error record, and looks up the type information
    // of the record's interface.
    HRESULT LoadTypeInfo(const Context& context)
    {
        typeLib_ = context.typeLib;
        error_ = context.error;
        if (!typeLib_) return E_UNEXPECTED;
        return typeLib_->GetTypeInfoOfGuid(iid_, &typeInfo_);
    }

    // Name of every record but ArticleInfo: the coclass name from the class information.
    // A failing lookup is raised (no source) and returned.
    HRESULT CoclassName(BSTR* pRet)
    {
        if (!pRet) return E_POINTER;
        ITypeInfo* info = nullptr;
        HRESULT hr = GetClassInfo(&info);
        if (SUCCEEDED(hr)) {
            BSTR name = nullptr;
            hr = info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
            info->Release();
            if (SUCCEEDED(hr)) {
                *pRet = name;
                return S_OK;
            }
        }
        return error_ ? RaiseNewError(*error_, hr) : hr;
    }

    const IID& iid_;
    const CLSID& clsid_;
    ITypeLib* typeLib_ = nullptr;   // no reference: the process holds the library
    ITypeInfo* typeInfo_ = nullptr; // the record's own reference
    LastError* error_ = nullptr;
};

// A record handed to clients by a FiscalPrinter method.
template <class I>
class TopRecord : public RecordBase<I> {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++count_); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = --count_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP get_Parent(IFiscalPrinter** pRet) override
    {
        if (!pRet) return E_POINTER;
        *pRet = parent_;
        if (parent_) parent_->AddRef();
        return S_OK;
    }

protected:
    using RecordBase<I>::RecordBase;
    ~TopRecord() override
    {
        if (parent_) parent_->Release();
    }

    // The first step of every fill: the parent (a reference taken) and the type
    // information.
    HRESULT Attach(const Context& context)
    {
        parent_ = context.printer;
        if (parent_) parent_->AddRef();
        return this->LoadTypeInfo(context);
    }

private:
    LONG count_ = 0;
    IFiscalPrinter* parent_ = nullptr;
};

// A record inside another record (XReport, CheckSum). The owner is the owning record's
// primary interface; no reference is taken on it, since the sub-record lives and dies
// with it.
template <class I>
class SubRecord : public RecordBase<I> {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return owner_ ? owner_->AddRef() : 1; }
    // The owner may go with this Release, and this object with it: nothing of this
    // object is touched after the call.
    STDMETHODIMP_(ULONG) Release() override
    {
        IDispatch* owner = owner_;
        return owner ? owner->Release() : 1;
    }

    STDMETHODIMP get_Parent(IDispatch** pRet) override
    {
        if (!pRet) return E_POINTER;
        *pRet = owner_;
        if (owner_) owner_->AddRef();
        return S_OK;
    }
    STDMETHODIMP get_Name(BSTR* pRet) override { return this->CoclassName(pRet); }

    HRESULT Attach(IDispatch* owner, const Context& context)
    {
        owner_ = owner;
        return this->LoadTypeInfo(context);
    }

protected:
    using RecordBase<I>::RecordBase;

private:
    IDispatch* owner_ = nullptr;
};

// Creates a top-level record with the client's one reference and fills it; on failure
// the record is released (which frees it) and *out stays null.
template <class R, class I, class... Args>
HRESULT CreateRecord(I** out, const Context& context, const Args&... args)
{
    *out = nullptr;
    R* record = new (std::nothrow) R();
    if (!record) return E_OUTOFMEMORY;
    record->AddRef();
    const HRESULT hr = record->Fill(context, args...);
    if (FAILED(hr)) {
        record->Release();
        return hr;
    }
    *out = record;
    return S_OK;
}

} // namespace records
