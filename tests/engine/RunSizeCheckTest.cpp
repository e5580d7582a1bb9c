#include <gtest/gtest.h>

#include <climits>

#include "engine/MatteFilter.h"

// A run refuses a layer too small for its values before any stage works.
TEST(RunSizeCheckTest, TheSmallestLayerTakesTheLargestPanelValues) {
  EXPECT_FALSE(RunTooSmall(64, 64, 9, 21, 63));
  EXPECT_TRUE(RunTooSmall(64, 64, 9, 22, 63));  // 3 x 22 = 66 > 63
  EXPECT_TRUE(RunTooSmall(64, 64, 0, 0, 64));
  EXPECT_TRUE(RunTooSmall(63, 200, 0, 0, 0));
  EXPECT_TRUE(RunTooSmall(200, 63, 0, 0, 0));
  EXPECT_TRUE(RunTooSmall(64, 200, 0, 0, 64));   // contract bounded by the width too
  EXPECT_FALSE(RunTooSmall(200, 64, 0, 21, 0));  // and feathering by the height
  EXPECT_TRUE(RunTooSmall(200, 64, 0, 22, 0));
}

// Preset files and the store hand over any int. A feathering width whose
// threefold does not fit an int must not wrap into a small number and pass:
// Feather would then blur that many times.
TEST(RunSizeCheckTest, HugeFeatheringWidthsAreTooLargeForAnyLayer) {
  for (const int width : {10923, 715827883, 1000000000, 1431655766, INT_MAX}) {
    EXPECT_TRUE(RunTooSmall(32767, 32767, 0, width, 0)) << width;
    EXPECT_TRUE(RunTooSmall(80, 80, 0, width, 0)) << width;
  }
  EXPECT_FALSE(RunTooSmall(32767, 32767, 0, 10922, 0));
  EXPECT_TRUE(RunTooSmall(80, 80, 0, 0, INT_MAX));
}

// Negative values pass the check; the run then skips those stages, as it
// does at 0 (smoothing levels outside 1 to 9 mean no smoothing).
TEST(RunSizeCheckTest, NegativeValuesAndUnknownLevelsPass) {
  for (const int value : {-1, -1431655766, INT_MIN}) {
    EXPECT_FALSE(RunTooSmall(64, 64, value, 0, 0)) << value;
    EXPECT_FALSE(RunTooSmall(64, 64, 0, value, 0)) << value;
    EXPECT_FALSE(RunTooSmall(64, 64, 0, 0, value)) << value;
  }
  EXPECT_FALSE(RunTooSmall(64, 64, INT_MAX, 0, 0));
  EXPECT_EQ(SmoothingWindow(INT_MAX), 0);
  EXPECT_EQ(SmoothingWindow(INT_MIN), 0);
}
