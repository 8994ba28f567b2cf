#include "comserver/records/check_sum.h"

#include "comserver/records/sums.h"

namespace records {
namespace {

class CheckSumRecord : public TopRecord<ICheckSum> {
public:
    CheckSumRecord() : TopRecord(IID_ICheckSum, CLSID_CheckSum) {}

    HRESULT Fill(const Context& context, const serialproto::CheckSumData& data)
    {
        data_ = data;
        HRESULT hr = Attach(context);
        IDispatch* self = static_cast<ICheckSum*>(this);
        if (SUCCEEDED(hr)) hr = byTax_.Fill(self, context, data.ByTax);
        if (SUCCEEDED(hr)) hr = byPay_.Fill(self, context, data.ByPay);
        return hr;
    }

    STDMETHODIMP get_Name(BSTR* pRet) override { return CoclassName(pRet); }
    STDMETHODIMP get_SumByTaxType(ISumByTaxType** pRet) override { return HandOut<ISumByTaxType>(byTax_, pRet); }
    STDMETHODIMP get_SumByPayType(ISumByPayType** pRet) override { return HandOut<ISumByPayType>(byPay_, pRet); }
    RECORD_GETTER(TotalSum, LONG, data_.TotalSum)
    RECORD_GETTER(PayedSum, LONG, data_.PayedSum)

private:
    serialproto::CheckSumData data_;
    SumByTaxTypeRecord byTax_;
    SumByPayTypeRecord byPay_;
};

} // namespace

HRESULT CreateCheckSum(const Context& context, const serialproto::CheckSumData& data, ICheckSum** out)
{
    return CreateRecord<CheckSumRecord>(out, context, data);
}

} // namespace records
