#include "comserver/records/article_info.h"

#include "comserver/driver_string.h"

namespace records {
namespace {

class ArticleInfoRecord : public TopRecord<IArticleInfo> {
public:
    ArticleInfoRecord() : TopRecord(IID_IArticleInfo, CLSID_ArticleInfo) {}
    ~ArticleInfoRecord() override { SysFreeString(name_); }

    HRESULT Fill(const Context& context, LONG code, LONG codeEx, const serialproto::ArticleInfoData& data)
    {
        code_ = code;
        codeEx_ = codeEx;
        data_ = data;
        HRESULT hr = Attach(context);
        if (SUCCEEDED(hr) && data.HasName) {
            DriverString name;
            name.AssignBytes(data.Name.data(), data.Name.size());
            name.FromOem();
            name_ = name.DetachWide();
            if (!name_ && !name.Empty()) hr = E_OUTOFMEMORY;
        }
        return hr;
    }

    // A new copy of the name; a null BSTR when the register gave none.
    STDMETHODIMP get_Name(BSTR* pRet) override
    {
        if (!pRet) return E_POINTER;
        *pRet = nullptr;
        if (!name_) return S_OK;
        *pRet = SysAllocStringLen(name_, SysStringLen(name_));
        return *pRet ? S_OK : E_OUTOFMEMORY;
    }
    RECORD_GETTER(Code, LONG, code_)
    RECORD_GETTER(CodeEx, LONG, codeEx_)
    RECORD_GETTER(Count, LONG, data_.Count)
    RECORD_GETTER(CountFormat, short, data_.CountFormat)
    RECORD_GETTER(TaxType, FPTaxType, static_cast<FPTaxType>(data_.TaxType))
    RECORD_GETTER(Price, LONG, data_.Price)
    RECORD_GETTER(TurnoverSum, double, data_.TurnoverSum)
    RECORD_GETTER(RefundCount, LONG, data_.RefundCount)
    RECORD_GETTER(RefundCountFormat, short, data_.RefundCountFormat)
    RECORD_GETTER(RefundTurnoverSum, double, data_.RefundTurnoverSum)

private:
    LONG code_ = 0, codeEx_ = 0;
    serialproto::ArticleInfoData data_;
    BSTR name_ = nullptr;
};

} // namespace

HRESULT CreateArticleInfo(const Context& context, LONG code, LONG codeEx, const serialproto::ArticleInfoData& data,
                          IArticleInfo** out)
{
    return CreateRecord<ArticleInfoRecord>(out, context, code, codeEx, data);
}

} // namespace records
