// libFuzzer target: the status, date, time and receipt answer decoders. Byte 0 picks the
// decoder, the rest is the answer data as the link layer leaves it (at most 249 bytes).
// Each decoder must accept or refuse by its length rules alone, never read outside the
// data, and give 0 for the values whose bytes are missing.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "serialproto/commands.h"
#include "serialproto/receipt.h"

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

    switch (data[0] % 5) {
    case 0: {
        std::string date = "untouched", time = "untouched";
        const fpresult::Result rd = DecodeDate(p, n, date);
        const fpresult::Result rt = DecodeTime(p, n, time);
        const bool bcd = n == 3 && IsBcd(p, 3);
        Require((rd == fpresult::kOk) == bcd && (rt == fpresult::kOk) == bcd);
        if (bcd) Require(date.size() == 8 && time.size() == 8);
        else Require(date == "untouched" && time == "untouched");
        break;
    }
    case 1: {
        RegisterState st;
        const fpresult::Result r = DecodeGetState(p, n, st);
        if (r == fpresult::kOk) Require(n >= 36);
        for (const auto& t : st.TaxPayerInfo) Require(t.size() <= static_cast<std::size_t>(n));
        Require(st.PrinterInfo.size() <= static_cast<std::size_t>(n) + 5);
        break;
    }
    default: {
        const AmountAnswer sale = DecodeArticleAnswer(p, n);
        const AmountAnswer pay = DecodePayAnswer(p, n);
        const AmountAnswer discount = DecodeDiscountAnswer(p, n);
        const std::int32_t safe = DecodeSafeSum(p, n);
        if (n < 4) Require(sale.Result == 0 && pay.TotalSum == 0 && discount.Result == 0 && safe == 0);
        if (n < 8) Require(sale.TotalSum == 0 && pay.Result == 0 && discount.TotalSum == 0);
        if (n >= 4) Require(sale.Result == safe);
        Require(sale.Complete == (n >= 8) && pay.Complete == (n >= 8) && discount.Complete == (n >= 8));
        // Sign-magnitude: the magnitude is the low 31 bits.
        if (n >= 4)
            Require(pay.TotalSum == discount.Result &&
                    (pay.TotalSum >= 0) == ((answer[3] & 0x80) == 0 || pay.TotalSum == 0));
        break;
    }
    }
    return 0;
}
