#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "base/Rounding.h"

namespace drivanto {
namespace {

// The rounding written out: the nearest whole number, ties to the even one.
int32_t ReferenceRound(double x) {
  if (std::isnan(x)) return 0;
  const double f = std::floor(x);
  const double d = x - f;
  double r = d < 0.5 ? f : (d > 0.5 ? f + 1 : (std::fmod(f, 2.0) == 0.0 ? f : f + 1));
  if (r >= 2147483647.0) return 2147483647;
  if (r <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(r);
}

}  // namespace

TEST(Rounding, TiesGoToTheEvenInteger) {
  EXPECT_EQ(RoundInt(2.5), 2);
  EXPECT_EQ(RoundInt(3.5), 4);
  EXPECT_EQ(RoundInt(-0.5), 0);
  EXPECT_EQ(RoundInt(-1.5), -2);
  EXPECT_EQ(RoundInt(0.49999999999999994), 0);
  EXPECT_EQ(RoundInt(2.5000001), 3);
}

TEST(Rounding, NaNAndHugeValuesNeverOverflow) {
  EXPECT_EQ(RoundInt(std::nan("")), 0);
  EXPECT_EQ(RoundInt(1e300), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(RoundInt(-1e300), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(RoundInt(std::numeric_limits<double>::infinity()), std::numeric_limits<int32_t>::max());
  for (double x : {2147483646.5, 2147483647.4, 2147483647.5, 2147483648.0, -2147483647.5,
                   -2147483648.4, -2147483648.5, -2147483648.6, -2147483649.0, -0.0}) {
    EXPECT_EQ(RoundInt(x), ReferenceRound(x)) << x;
  }
  EXPECT_EQ(TruncInt(-2.7), -2);
  EXPECT_EQ(TruncInt(std::nan("")), 0);
  EXPECT_EQ(TruncInt(5e9), std::numeric_limits<int32_t>::max());
}

}  // namespace drivanto

namespace drivanto {
namespace {

TEST(Rounding, AgreesWithTheRuleWrittenOut) {
  uint64_t bits = 88172645463325252ull;
  for (int i = 0; i < 1000000; ++i) {
    bits ^= bits << 13;
    bits ^= bits >> 7;
    bits ^= bits << 17;
    double x;
    switch (i % 4) {
      case 0:
        x = static_cast<double>(static_cast<int64_t>(bits % 2000001) - 1000000) / 2;
        break;  // ties
      case 1:
        x = static_cast<double>(static_cast<int64_t>(bits % 20000001) - 10000000) / 1000;
        break;
      case 2: std::memcpy(&x, &bits, sizeof x); break;  // any bits
      default:
        x = std::nextafter(static_cast<double>(static_cast<int64_t>(bits % 2001) - 1000) + 0.5,
                           (i & 8) ? 1e9 : -1e9);
    }
    ASSERT_EQ(RoundInt(x), ReferenceRound(x)) << x;
  }
}

}  // namespace
}  // namespace drivanto
