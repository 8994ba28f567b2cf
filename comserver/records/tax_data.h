// TaxData: the register's tax table (GetTaxData), or a template a client fills and
// passes to SetTaxData. Unlike the other records its properties can be written.
#pragma once

#include "comserver/records/record.h"
#include "serialproto/reports.h"

namespace records {

// A new TaxData with the client's reference, or the failure (nothing to release). The
// default table is the template (Count 2, Flags 0x22, TaxRateA 2000, no date).
HRESULT CreateTaxData(const Context& context, const serialproto::TaxTableData& data, ITaxData** out);

} // namespace records
