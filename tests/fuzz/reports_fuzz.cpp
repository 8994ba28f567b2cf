// libFuzzer target: the report and query answer decoders (the record fills). Byte 0
// picks the decoder, the rest is the answer data as the link layer leaves it (at most
// 249 bytes). Each decoder must accept or refuse by its length rules alone and never
// read outside the data; what it accepts must be within its fields' ranges.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "serialproto/commands.h"
#include "serialproto/reports.h"

namespace {

void Require(bool ok)
{
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace serialproto;
    if (size < 1 || size > 250) return -1;
    // An exact copy, so that the sanitizers see any read past the answer.
    const std::int32_t n = static_cast<std::int32_t>(size - 1);
    std::vector<std::uint8_t> answer(data + 1, data + size);
    const std::uint8_t* p = n ? answer.data() : nullptr;
    std::uint8_t empty = 0;
    if (!p) p = &empty;

    switch (data[0] % 6) {
    case 0: {
        XReportData x;
        const fpresult::Result r = DecodeXReport(p, n, x);
        Require((r == fpresult::kOk) == (n == kXReportLength && IsBcd(p, 2) && IsBcd(p + 78, 2)));
        Require(x.ChecksCount >= 0 && x.ChecksCount <= 9999 && x.RefundChecksCount >= 0 && x.RefundChecksCount <= 9999);
        break;
    }
    case 1: {
        CheckSumData c;
        const fpresult::Result r = DecodeCheckSum(p, n, c);
        Require((r == fpresult::kOk) == (n >= 64));
        if (r == fpresult::kOk) {
            std::uint32_t total = 0;
            for (auto v : c.ByTax.Sum) total += static_cast<std::uint32_t>(v);
            Require(static_cast<std::int32_t>(total) == c.TotalSum);
        }
        break;
    }
    case 2: {
        TaxTableData t;
        const fpresult::Result r = DecodeTaxData(p, n, t);
        if (r == fpresult::kOk) {
            Require(n >= 4 && t.Count >= 0 && t.Count <= kMaxTaxRates && t.Date.size() == 8);
            Require(t.Flags >= 0 && t.Flags <= 0xFF);
        } else {
            Require(r == FPE_PROTOCOL && t.Count == 2 && t.Flags == 0x22 && t.Date.empty());
        }
        break;
    }
    case 3: {
        ArticleInfoData a;
        const fpresult::Result r = DecodeArticleInfo(p, n, a);
        Require(r == fpresult::kOk || (r == FPE_PROTOCOL && !a.HasName && a.Name.empty() && a.Count == 0));
        Require(r != fpresult::kOk || n >= 1 + p[0] + 23);
        Require(a.Name.size() < static_cast<std::size_t>(n) || (!a.HasName && a.Name.empty()));
        Require(a.Count >= 0 && a.Count <= 0xFFFFFF && a.RefundCount >= 0 && a.RefundCount <= 0xFFFFFF);
        Require(a.TaxType >= 0 && a.TaxType <= 0xFF);
        Require(a.TurnoverSum >= 0 && a.TurnoverSum < 1099511627776.0);
        Require(a.RefundTurnoverSum >= 0 && a.RefundTurnoverSum < 1099511627776.0);
        break;
    }
    case 4: {
        std::int32_t seconds = 0;
        const fpresult::Result r = DecodeTimeToBlock(p, n, seconds);
        Require((r == fpresult::kOk) == (n >= 168 && answer[0] == 0));
        break;
    }
    default: {
        double sum = -1;
        const fpresult::Result r = DecodeGetSafeSum(p, n, sum);
        Require(sum >= 0 && (n == 5 || sum == 0) && (r == fpresult::kOk) == (n == 5));
        Require(DecodeZReportResult(p, n) == 0 || n >= 4);
        break;
    }
    }
    return 0;
}
