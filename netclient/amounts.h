// The numbers a receipt or cash document can carry. Quantities go to the register with
// three decimals, prices and sums with two; beyond these magnitudes (or not finite) a
// number is refused before anything is sent, instead of being written as 0 or overflowing
// the line arithmetic.
#pragma once

#include <cmath>

namespace oltra {

constexpr double kMaxQuantity = 1e6; // a quantity is below this in absolute value
constexpr double kMaxAmount = 1e9;   // a price, sum, payment or cash amount likewise

inline bool quantityFits(double quantity) { return std::isfinite(quantity) && std::fabs(quantity) < kMaxQuantity; }
inline bool amountFits(double amount) { return std::isfinite(amount) && std::fabs(amount) < kMaxAmount; }

} // namespace oltra
