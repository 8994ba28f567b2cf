#include "comserver/records/x_report.h"

#include "comserver/records/sums.h"

namespace records {
namespace {

class XReportRecord : public TopRecord<IXReport> {
public:
    XReportRecord() : TopRecord(IID_IXReport, CLSID_XReport) {}

    // The sub-records are filled in the order sales tax, sales pay, refund tax, refund pay.
    HRESULT Fill(const Context& context, const serialproto::XReportData& data)
    {
        data_ = data;
        HRESULT hr = Attach(context);
        IDispatch* self = static_cast<IXReport*>(this);
        if (SUCCEEDED(hr)) hr = byTax_.Fill(self, context, data.ByTax);
        if (SUCCEEDED(hr)) hr = byPay_.Fill(self, context, data.ByPay);
        if (SUCCEEDED(hr)) hr = refundByTax_.Fill(self, context, data.RefundByTax);
        if (SUCCEEDED(hr)) hr = refundByPay_.Fill(self, context, data.RefundByPay);
        return hr;
    }

    STDMETHODIMP get_Name(BSTR* pRet) override { return CoclassName(pRet); }
    RECORD_GETTER(ChecksCount, LONG, data_.ChecksCount)
    STDMETHODIMP get_SumByTaxType(ISumByTaxType** pRet) override { return HandOut<ISumByTaxType>(byTax_, pRet); }
    STDMETHODIMP get_SumByPayType(ISumByPayType** pRet) override { return HandOut<ISumByPayType>(byPay_, pRet); }
    RECORD_GETTER(MarkUp, LONG, data_.MarkUp)
    RECORD_GETTER(Discount, LONG, data_.Discount)
    RECORD_GETTER(SafePlus, LONG, data_.SafePlus)
    RECORD_GETTER(RefundChecksCount, LONG, data_.RefundChecksCount)
    STDMETHODIMP get_RefundSumByTaxType(ISumByTaxType** pRet) override
    {
        return HandOut<ISumByTaxType>(refundByTax_, pRet);
    }
    STDMETHODIMP get_RefundSumByPayType(ISumByPayType** pRet) override
    {
        return HandOut<ISumByPayType>(refundByPay_, pRet);
    }
    RECORD_GETTER(RefundMarkUp, LONG, data_.RefundMarkUp)
    RECORD_GETTER(RefundDiscount, LONG, data_.RefundDiscount)
    RECORD_GETTER(SafeMinus, LONG, data_.SafeMinus)

private:
    serialproto::XReportData data_;
    SumByTaxTypeRecord byTax_;
    SumByPayTypeRecord byPay_;
    SumByTaxTypeRecord refundByTax_;
    SumByPayTypeRecord refundByPay_;
};

} // namespace

HRESULT CreateXReport(const Context& context, const serialproto::XReportData& data, IXReport** out)
{
    return CreateRecord<XReportRecord>(out, context, data);
}

} // namespace records
