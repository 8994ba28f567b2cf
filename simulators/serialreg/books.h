// The register's books: what it counts per shift, the Z reports it keeps in fiscal
// memory, its article table and its tax table.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace serialsim {

// One side of a shift (sales or refunds), in the smallest currency unit. Refunds are
// counted as positive sums.
struct Totals {
    int receipts = 0;
    std::int64_t byGroup[6] = {}; // tax groups А to Е, after markups and discounts
    std::int64_t byPay[10] = {};  // pay types 0 to 9, net of change
    std::int64_t markup = 0;      // markups given (positive)
    std::int64_t discount = 0;    // discounts given (positive)
};

struct Shift {
    std::time_t opened = 0; // register time the shift began
    Totals sales, refunds;
    std::int64_t safeIn = 0, safeOut = 0; // service deposits and withdrawals
};

// A closed shift, as fiscal memory keeps it.
struct ZRecord {
    int number = 0;
    std::time_t when = 0;
    Shift shift;
};

// Counts are kept in thousandths of a unit; `decimals` is the format the article
// answers with (the most decimals it was sold with).
struct ArticleRecord {
    std::string name; // register (OEM) text
    int group = 128;  // FPTaxType code
    std::int64_t price = 0;
    int decimals = 0;
    std::int64_t sold = 0, soldSum = 0;
    std::int64_t refunded = 0, refundedSum = 0;
};
using ArticleKey = std::pair<std::uint32_t, std::uint16_t>; // code, extended code

struct TaxTable {
    std::uint8_t date[3] = {0x01, 0x02, 0x16}; // BCD dd mm yy of the last change
    int count = 4;                             // rates for groups А to Г
    std::int16_t rates[5] = {2000, 700, 0, 2000, 0};
    std::uint8_t flags = 0x22; // 0x20: fee rates follow
    std::int16_t fees[5] = {0, 0, 0, 500, 0};
    bool hasFeeE = true;
    std::int16_t feeE = 150;
};

struct Books {
    Shift shift;
    std::vector<ZRecord> zReports;
    std::map<ArticleKey, ArticleRecord> articles;
    TaxTable tax;
    std::time_t firstUnsent = -1; // register time of the oldest document not yet sent
};

} // namespace serialsim
