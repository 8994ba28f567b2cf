#include "comserver/records/sums.h"

namespace records {

HRESULT SumByTaxTypeRecord::Fill(IDispatch* owner, const Context& context, const serialproto::SumsByTax& sums)
{
    sums_ = sums;
    return Attach(owner, context);
}

HRESULT SumByPayTypeRecord::Fill(IDispatch* owner, const Context& context, const serialproto::SumsByPay& sums)
{
    sums_ = sums;
    return Attach(owner, context);
}

} // namespace records
