#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "pixel/FusedSum.h"

// Wherever the check lets the double route through, it gives std::fma's result.
TEST(FusedSum, DoubleRouteEqualsTheFusedOperationWhereverAllowed) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> sample(-65535, 65535);
  std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
  std::uniform_int_distribution<int> exponent(-40, 40);
  long checked = 0;
  for (int n = 0; n < 400000; ++n) {
    const float a = std::ldexp(mantissa(rng), exponent(rng)) * (n % 2 ? 1.0f : -1.0f);
    const float t = std::ldexp(mantissa(rng), exponent(rng)) * (n % 3 ? 1.0f : -1.0f);
    const float r = float(sample(rng));
    const int et = std::ilogb(t);
    if (!myFusedSumFitsDouble(a, et, et)) continue;
    ++checked;
    ASSERT_EQ(myFusedSumByDouble(a, r, t), std::fma(a, r, t)) << a << " " << r << " " << t;
  }
  EXPECT_GT(checked, 10000);
  // Terms far apart are refused: their exact sum needs more than 53 bits.
  EXPECT_FALSE(myFusedSumFitsDouble(1e-9f, 15, 15));
  EXPECT_FALSE(myFusedSumFitsDouble(INFINITY, 0, 0));
  EXPECT_TRUE(myFusedSumFitsDouble(0.0f, 100, 100));
  EXPECT_TRUE(myFusedSumFitsDouble(2.0f, 0, 15));
}
