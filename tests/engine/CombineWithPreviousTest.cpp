#include "engine/CombineWithPrevious.h"

#include <gtest/gtest.h>

#include "TestImages.h"

namespace {

// Four pixels covering every pair of (current kept, previous kept).
struct CPairs {
  CCoreImage matte;
  CCoreImage prev;
  CPairs() {
    MakeGrey(matte, 4, 1, 0);
    MakeGrey(prev, 4, 1, 0);
    SetPixelByte(matte, 1, 0, 0, 255);
    SetPixelByte(matte, 3, 0, 0, 250);  // 250 counts as kept
    SetPixelByte(prev, 2, 0, 0, 255);
    SetPixelByte(prev, 3, 0, 0, 251);
  }
  std::vector<uint8_t> Combine(const CCombineInputs& in) {
    CombineWithPrevious(matte, prev, in);
    return AllBytes(matte);
  }
};

const std::vector<uint8_t> kAnd{0, 0, 0, 255};
const std::vector<uint8_t> kOr{0, 255, 255, 255};

}  // namespace

TEST(CombineWithPrevious, BackgroundStrokesLastIntersectAtEqualOrHigherStrength) {
  EXPECT_EQ(CPairs().Combine({false, true, 0, 50, 30}), kAnd);
  EXPECT_EQ(CPairs().Combine({false, true, 0, 30, 30}), kAnd);
  EXPECT_EQ(CPairs().Combine({false, true, 0, 30, 50}), kOr);
}

TEST(CombineWithPrevious, ObjectStrokeLastUnitesAtEqualStrength) {
  EXPECT_EQ(CPairs().Combine({true, true, 1, 30, 30}), kOr);
  EXPECT_EQ(CPairs().Combine({true, true, 1, 31, 30}), kAnd);
}

TEST(CombineWithPrevious, ObjectMarksOnlyIntersectOnlyWhenStrengthFalls) {
  EXPECT_EQ(CPairs().Combine({true, false, 1, 20, 30}), kAnd);
  EXPECT_EQ(CPairs().Combine({true, false, 1, 30, 30}), kOr);
  EXPECT_EQ(CPairs().Combine({true, false, 0, 40, 30}), kOr);
}

TEST(CombineWithPrevious, WithoutMarksOnlyBinarisesTheCurrentMatte) {
  EXPECT_EQ(CPairs().Combine({false, false, 0, 30, 0}), (std::vector<uint8_t>{0, 255, 0, 255}));
}

TEST(CombineWithPrevious, FirstRunAfterOpeningIntersectsWithBackgroundMarks) {
  // m_prevStrength is 0 then: any strength above it removes only.
  EXPECT_TRUE(CombineIntersects({false, true, 0, 1, 0}));
  EXPECT_TRUE(CombineIntersects({false, true, 1, 1, 0}));
  EXPECT_FALSE(CombineIntersects({true, false, 1, 30, 0}));
}
