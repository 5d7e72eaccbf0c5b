#include "base/Rounding.h"

#include <math.h>

#include <cmath>
#include <limits>

namespace drivanto {

namespace {

int32_t Saturate(double r) {
  if (std::isnan(r)) return 0;
  if (r >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (r <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

}  // namespace

int32_t TruncInt(double x) { return Saturate(std::trunc(x)); }

int32_t SatInt(int64_t x) {
  if (x > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (x < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(x);
}

int32_t WrapIncrement(int32_t x) { return static_cast<int32_t>(static_cast<uint32_t>(x) + 1u); }

}  // namespace drivanto
