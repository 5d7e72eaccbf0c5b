#pragma once
// Conversions of reals to integers used everywhere in the program. They never
// invoke undefined behaviour: NaN gives 0 and values beyond the int32 range
// saturate at its ends.

#include <cstdint>

namespace drivanto {

// Nearest integer, ties to the even integer (2.5 -> 2, 3.5 -> 4, -0.5 -> 0),
// independent of the floating-point rounding mode.
inline int32_t RoundInt(double x) {
  // Outside (-2^31 - 1, 2^31), and NaN: saturated (NaN gives 0).
  if (!(x > -2147483649.0 && x < 2147483648.0)) return x > 0 ? INT32_MAX : (x < 0 ? INT32_MIN : 0);
  // Truncation is exact here, and so is the fraction x - t.
  int64_t t = static_cast<int64_t>(x);
  const double fraction = x - static_cast<double>(t);
  if (fraction > 0.5 || (fraction == 0.5 && (t & 1))) ++t;
  if (fraction < -0.5 || (fraction == -0.5 && (t & 1))) --t;
  return t > INT32_MAX ? INT32_MAX : (t < INT32_MIN ? INT32_MIN : static_cast<int32_t>(t));
}

// Truncation toward zero (-2.7 -> -2).
int32_t TruncInt(double x);

// A 64-bit integer result held in 32 bits, saturating at the ends.
int32_t SatInt(int64_t x);

// Adds one as a 32-bit counter does, wrapping from the largest to the
// smallest value.
int32_t WrapIncrement(int32_t x);

}  // namespace drivanto
