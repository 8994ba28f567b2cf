// SumByTaxType and SumByPayType: the sums by tax group and by pay type inside an
// XReport or a CheckSum (sub-records, see record.h).
#pragma once

#include "comserver/records/record.h"
#include "serialproto/reports.h"

namespace records {

class SumByTaxTypeRecord : public SubRecord<ISumByTaxType> {
public:
    SumByTaxTypeRecord() : SubRecord(IID_ISumByTaxType, CLSID_SumByTaxType) {}
    HRESULT Fill(IDispatch* owner, const Context& context, const serialproto::SumsByTax& sums);

    RECORD_GETTER(TaxTypeA, LONG, sums_.Sum[0])
    RECORD_GETTER(TaxTypeB, LONG, sums_.Sum[1])
    RECORD_GETTER(TaxTypeV, LONG, sums_.Sum[2])
    RECORD_GETTER(TaxTypeG, LONG, sums_.Sum[3])
    RECORD_GETTER(TaxTypeD, LONG, sums_.Sum[4])
    RECORD_GETTER(TaxTypeE, LONG, sums_.Sum[5])

private:
    serialproto::SumsByTax sums_;
};

class SumByPayTypeRecord : public SubRecord<ISumByPayType> {
public:
    SumByPayTypeRecord() : SubRecord(IID_ISumByPayType, CLSID_SumByPayType) {}
    HRESULT Fill(IDispatch* owner, const Context& context, const serialproto::SumsByPay& sums);

    RECORD_GETTER(ByCard, LONG, sums_.Sum[0])
    RECORD_GETTER(ByCredit, LONG, sums_.Sum[1])
    RECORD_GETTER(ByCheck, LONG, sums_.Sum[2])
    RECORD_GETTER(ByCash, LONG, sums_.Sum[3])
    RECORD_GETTER(ByOther4, LONG, sums_.Sum[4])
    RECORD_GETTER(ByOther5, LONG, sums_.Sum[5])
    RECORD_GETTER(ByOther6, LONG, sums_.Sum[6])
    RECORD_GETTER(ByOther7, LONG, sums_.Sum[7])
    RECORD_GETTER(ByOther8, LONG, sums_.Sum[8])
    RECORD_GETTER(ByOther9, LONG, sums_.Sum[9])

private:
    serialproto::SumsByPay sums_;
};

// A sub-record property of the owner: the same object every time, with a reference.
template <class I>
HRESULT HandOut(I& sub, I** pRet)
{
    if (!pRet) return E_POINTER;
    sub.AddRef();
    *pRet = &sub;
    return S_OK;
}

} // namespace records
