// XReport: the running totals of the shift (GetXReport).
#pragma once

#include "comserver/records/record.h"
#include "serialproto/reports.h"

namespace records {

// A new XReport with the client's reference, or the failure (nothing to release).
HRESULT CreateXReport(const Context& context, const serialproto::XReportData& data, IXReport** out);

} // namespace records
