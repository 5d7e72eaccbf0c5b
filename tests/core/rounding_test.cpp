#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/Rounding.h"

namespace drivanto {

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
  EXPECT_EQ(TruncInt(-2.7), -2);
  EXPECT_EQ(TruncInt(std::nan("")), 0);
  EXPECT_EQ(TruncInt(5e9), std::numeric_limits<int32_t>::max());
}

}  // namespace drivanto
