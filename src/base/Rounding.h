#pragma once
// Conversions of reals to integers used everywhere in the program. They never
// invoke undefined behaviour: NaN gives 0 and values beyond the int32 range
// saturate at its ends.

#include <cstdint>

namespace drivanto {

// Nearest integer, ties to the even integer (2.5 -> 2, 3.5 -> 4, -0.5 -> 0).
int32_t RoundInt(double x);

// Truncation toward zero (-2.7 -> -2).
int32_t TruncInt(double x);

// A 64-bit integer result held in 32 bits, saturating at the ends.
int32_t SatInt(int64_t x);

// Adds one as a 32-bit counter does, wrapping from the largest to the
// smallest value.
int32_t WrapIncrement(int32_t x);

}  // namespace drivanto
