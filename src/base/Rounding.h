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

}  // namespace drivanto
