// CheckSum: the sums of the open receipt (GetCheckSum).
#pragma once

#include "comserver/records/record.h"
#include "serialproto/reports.h"

namespace records {

// A new CheckSum with the client's reference, or the failure (nothing to release).
HRESULT CreateCheckSum(const Context& context, const serialproto::CheckSumData& data, ICheckSum** out);

} // namespace records
