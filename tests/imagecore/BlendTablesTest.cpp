#include <gtest/gtest.h>

#include <algorithm>

#include "imagecore/BlendTables.h"

TEST(BlendTables, FullWeightKeepsTheValueAndNoWeightGivesZero) {
  const uint8_t* T = BlendTableT();
  for (int x = 0; x < 256; ++x) {
    EXPECT_EQ(T[x * 255], x) << x;
    EXPECT_EQ(T[x * 0], 0) << x;
  }
}

TEST(BlendTables, ProductsRoundToNearestAndStayWithinTheirFactors) {
  const uint8_t* T = BlendTableT();
  for (int x = 0; x < 256; ++x) {
    for (int y = 0; y < 256; ++y) {
      // Within half a step of x * y / 255, in whole 255ths.
      const int error = 255 * T[x * y] - x * y;
      ASSERT_GE(error, -127) << x << " " << y;
      ASSERT_LE(error, 128) << x << " " << y;
      ASSERT_LE(T[x * y], std::min(x, y)) << x << " " << y;
    }
  }
}
