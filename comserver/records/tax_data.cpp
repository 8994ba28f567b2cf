#include "comserver/records/tax_data.h"

#include "comserver/driver_string.h"

namespace records {
namespace {

#define TAX_RATE(Name, Field)                    \
    RECORD_GETTER(Name, LONG, Field)             \
    STDMETHODIMP put_##Name(LONG Value) override \
    {                                            \
        Field = Value;                           \
        return S_OK;                             \
    }

class TaxDataRecord : public TopRecord<ITaxData> {
public:
    TaxDataRecord() : TopRecord(IID_ITaxData, CLSID_TaxData) {}

    HRESULT Fill(const Context& context, const serialproto::TaxTableData& data)
    {
        count_ = data.Count;
        flags_ = data.Flags;
        for (int i = 0; i < 5; ++i) taxRate_[i] = data.TaxRate[i];
        for (int i = 0; i < 6; ++i) feeRate_[i] = data.FeeRate[i];
        date_.Assign(data.Date.c_str());
        return Attach(context);
    }

    STDMETHODIMP get_Name(BSTR* pRet) override { return CoclassName(pRet); }
    // A new BSTR each time; null (an empty string to clients) without a date.
    STDMETHODIMP get_Date(BSTR* pRet) override
    {
        if (!pRet) return E_POINTER;
        *pRet = date_.DetachWide();
        return *pRet || date_.Empty() ? S_OK : E_OUTOFMEMORY;
    }

    RECORD_GETTER(Count, LONG, count_)
    // 0 to 5 rates; anything else is refused and the count stays.
    STDMETHODIMP put_Count(LONG Value) override
    {
        if (Value < 0 || Value > serialproto::kMaxTaxRates)
            return error_ ? RaiseNewError(*error_, E_INVALIDARG) : E_INVALIDARG;
        count_ = Value;
        return S_OK;
    }
    TAX_RATE(TaxRateA, taxRate_[0])
    TAX_RATE(TaxRateB, taxRate_[1])
    TAX_RATE(TaxRateV, taxRate_[2])
    TAX_RATE(TaxRateG, taxRate_[3])
    TAX_RATE(TaxRateD, taxRate_[4])
    TAX_RATE(FeeRateA, feeRate_[0])
    TAX_RATE(FeeRateB, feeRate_[1])
    TAX_RATE(FeeRateV, feeRate_[2])
    TAX_RATE(FeeRateG, feeRate_[3])
    TAX_RATE(FeeRateD, feeRate_[4])
    TAX_RATE(FeeRateE, feeRate_[5])
    RECORD_GETTER(Flags, short, static_cast<short>(flags_ & 0xFFFF))
    STDMETHODIMP put_Flags(short Value) override
    {
        flags_ = Value;
        return S_OK;
    }

private:
    DriverString date_;
    LONG count_ = 2;
    LONG flags_ = 0x22;
    LONG taxRate_[5] = {};
    LONG feeRate_[6] = {};
};

#undef TAX_RATE

} // namespace

HRESULT CreateTaxData(const Context& context, const serialproto::TaxTableData& data, ITaxData** out)
{
    return CreateRecord<TaxDataRecord>(out, context, data);
}

} // namespace records
