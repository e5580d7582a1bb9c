#include "engine/FillHoles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "engine/Marks.h"
#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/ProgressScale.h"

namespace {

uint32_t Code(CoreResult result) { return ExamineResult(result); }

void FillRect(CPlane& plane, int left, int top, int width, int height, uint8_t value) {
  for (int y = top; y < top + height; ++y)
    for (int x = left; x < left + width; ++x)
      plane.At(x, y) = value;
}

bool SamePixels(const CPlane& a, const CPlane& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() &&
         std::equal(a.Data(), a.Data() + a.Stride() * a.Height(), b.Data());
}

// Runs the fill and its plain form; they must agree byte for byte.
void Fill(CPlane& matte, const CPlane& marks) {
  CPlane plain = matte;
  ASSERT_EQ(Code(FillHoles(matte, marks)), 0u);
  ASSERT_EQ(Code(FillHolesReference(plain, marks)), 0u);
  ASSERT_TRUE(SamePixels(matte, plain));
}

CPlane NoMarks(int w, int h) { return CPlane(w, h, 1, keMarkNone); }

// An opaque picture with transparent holes of several size classes, none
// touching the image's edge, shaped so that rays have unequal lengths.
CPlane OpaqueWithHoles() {
  CPlane matte(160, 140, 1, 255);
  FillRect(matte, 5, 5, 3, 2, 0);      // 6 pixels
  FillRect(matte, 5, 20, 30, 25, 0);   // 750 pixels
  FillRect(matte, 20, 30, 25, 5, 0);   // widens the one above into an L
  for (int y = 0; y < 100; ++y)        // a staircase of about 7000 pixels
    for (int x = 50; x < 50 + 40 + y % 37 + y / 4; ++x)
      matte.At(x, 30 + y) = 0;
  return matte;
}

double FastClock() {
  static double now = 0.0;
  return now += 1.0;
}
int AskToStop(CProgressScale&) { return 1; }

}  // namespace

TEST(FillHolesTest, EnclosedTransparentAreasBecomeFullyOpaque) {
  CPlane matte = OpaqueWithHoles();
  Fill(matte, NoMarks(matte.Width(), matte.Height()));
  for (int y = 0; y < matte.Height(); ++y)
    for (int x = 0; x < matte.Width(); ++x)
      ASSERT_EQ(matte.At(x, y), 255) << x << "," << y;
}

TEST(FillHolesTest, AreasWithABackgroundMarkAreLeftAsTheyAre) {
  CPlane matte = OpaqueWithHoles();
  const CPlane before = matte;
  CPlane marks = NoMarks(matte.Width(), matte.Height());
  marks.At(6, 6) = keMarkBackground;
  marks.At(40, 31) = keMarkBackground;
  marks.At(60, 100) = keMarkBackground;
  marks.At(0, 0) = keMarkBackground;  // on an opaque pixel: reaches nothing
  Fill(matte, marks);
  EXPECT_TRUE(SamePixels(matte, before));
}

TEST(FillHolesTest, ReachClimbsOverNonDecreasingValuesOnly) {
  // A one-pixel corridor: 10, 20, 30, 40 rise from the mark; the 20 after
  // the 40 cannot be reached and is filled from its surroundings.
  CPlane matte(12, 5, 1, 255);
  const uint8_t corridor[] = {10, 20, 30, 40, 20};
  for (int i = 0; i < 5; ++i)
    matte.At(1 + i, 2) = corridor[i];
  CPlane marks = NoMarks(12, 5);
  marks.At(1, 2) = keMarkBackground;
  Fill(matte, marks);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(matte.At(1 + i, 2), corridor[i]);
  // Rays: 40 to the left at length 1, 255 on the seven others, so 228; the
  // 3 x 3 smoothing of 228, 40 and seven 255s gives 228 again.
  EXPECT_EQ(matte.At(5, 2), 228);
}

TEST(FillHolesTest, OpaqueMatteIsUnchanged) {
  CPlane matte(70, 50, 1, 255);
  Fill(matte, NoMarks(70, 50));
  EXPECT_TRUE(SamePixels(matte, CPlane(70, 50, 1, 255)));
}

TEST(FillHolesTest, TransparentMatteReachedEverywhereIsUnchanged) {
  CPlane matte(70, 50, 1, 0);
  CPlane marks = NoMarks(70, 50);
  marks.At(33, 20) = keMarkBackground;
  Fill(matte, marks);
  EXPECT_TRUE(SamePixels(matte, CPlane(70, 50, 1, 0)));
}

TEST(FillHolesTest, EntryValuesOneToThreeLeaveAsFour) {
  CPlane matte(30, 20, 1, 0);
  matte.At(5, 5) = 1;
  matte.At(10, 5) = 2;
  matte.At(15, 5) = 3;
  matte.At(20, 5) = 4;
  CPlane marks = NoMarks(30, 20);
  marks.At(0, 0) = keMarkBackground;
  Fill(matte, marks);
  EXPECT_EQ(matte.At(5, 5), 4);
  EXPECT_EQ(matte.At(10, 5), 4);
  EXPECT_EQ(matte.At(15, 5), 4);
  EXPECT_EQ(matte.At(20, 5), 4);
  EXPECT_EQ(matte.At(0, 0), 0);
}

// A transparent line of n pixels in an opaque matte, and two rows further
// (gap 2) or four rows further (gap 4) a line of 100 reached from a mark. The
// line's size class decides the smoothing window, and so whether the 100s
// pull its middle below 255.
struct CClassCase {
  int pixels;
  int gap;
  bool opaque;
};

class FillHolesClassTest : public testing::TestWithParam<CClassCase> {};

TEST_P(FillHolesClassTest, SizeClassSetsTheSmoothingWindow) {
  const CClassCase c = GetParam();
  const int w = c.pixels + 20;
  CPlane matte(w, 20, 1, 255);
  FillRect(matte, 10, 10, c.pixels, 1, 0);
  FillRect(matte, 1, 10 + c.gap, w - 2, 1, 100);
  CPlane marks = NoMarks(w, 20);
  marks.At(1, 10 + c.gap) = keMarkBackground;
  Fill(matte, marks);
  const uint8_t middle = matte.At(10 + c.pixels / 2, 10);
  if (c.opaque)
    EXPECT_EQ(middle, 255);
  else
    EXPECT_LT(middle, 255);
  EXPECT_GT(middle, 100);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FillHolesClassTest,
    testing::Values(CClassCase{255, 2, true},     // class 1: 3 x 3
                    CClassCase{256, 2, false},    // classes 2 to 4: 5 x 5
                    CClassCase{1020, 2, false}, CClassCase{1021, 2, false},
                    CClassCase{3600, 4, true}, CClassCase{3601, 4, true},
                    CClassCase{6400, 4, true},
                    CClassCase{6401, 4, false}));  // class 16: 13 x 13

TEST(FillHolesTest, NothingEndsLowerAndThePlainFormAgreesOnRandomMattes) {
  std::mt19937 random(11);
  for (int round = 0; round < 30; ++round) {
    const int w = 20 + static_cast<int>(random() % 130);
    const int h = 20 + static_cast<int>(random() % 130);
    CPlane matte(w, h, 1, static_cast<uint8_t>(random() % 2 ? 0 : 255));
    for (int r = 0; r < 12; ++r) {
      const int rw = 1 + static_cast<int>(random() % w);
      const int rh = 1 + static_cast<int>(random() % h);
      const int left = static_cast<int>(random() % (w - rw + 1));
      const int top = static_cast<int>(random() % (h - rh + 1));
      const int kind = static_cast<int>(random() % 3);
      if (kind == 0) {  // an opaque frame
        FillRect(matte, left, top, rw, 1 + static_cast<int>(random() % 2), 255);
        FillRect(matte, left, top + rh - 1, rw, 1, 255);
        FillRect(matte, left, top, 1, rh, 255);
        FillRect(matte, left + rw - 1, top, 1, rh, 255);
      } else {
        FillRect(matte, left, top, rw, rh, static_cast<uint8_t>(kind == 1 ? 0 : random() % 256));
      }
    }
    for (int n = static_cast<int>(random() % 200); n > 0; --n)
      matte.At(static_cast<int>(random() % w), static_cast<int>(random() % h)) =
          static_cast<uint8_t>(random() % 256);
    CPlane marks = NoMarks(w, h);
    // Without marks whole open areas are holes; their rays often end on 0.
    for (int n = round % 3 == 0 ? 0 : static_cast<int>(random() % 4); n > 0; --n)
      marks.At(static_cast<int>(random() % w), static_cast<int>(random() % h)) = keMarkBackground;

    const CPlane entry = matte;
    Fill(matte, marks);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        ASSERT_GE(matte.At(x, y), entry.At(x, y));
        const uint8_t v = entry.At(x, y);
        if (v >= 1 && v <= 3) {
          ASSERT_GE(matte.At(x, y), 4);
        }
      }
  }
}

// Mattes of small values that rise and fall from pixel to pixel, with
// opaque walls: which pixels the background reaches turns on every step's
// direction, and the fill reaches them a row run at a time where its plain
// form goes pixel by pixel.
TEST(FillHolesTest, ReachOverRisingAndFallingValuesAgreesWithThePlainForm) {
  std::mt19937 random(29);
  for (int round = 0; round < 60; ++round) {
    const int w = 1 + static_cast<int>(random() % 90);
    const int h = 1 + static_cast<int>(random() % 60);
    const int levels = 2 + static_cast<int>(random() % 6);
    const int walls = static_cast<int>(random() % 20);
    CPlane matte(w, h, 1, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        matte.At(x, y) = static_cast<int>(random() % 100) < walls ? 255 : static_cast<uint8_t>(random() % levels);
    CPlane marks = NoMarks(w, h);
    for (int n = 1 + static_cast<int>(random() % 5); n > 0; --n)
      marks.At(static_cast<int>(random() % w), static_cast<int>(random() % h)) = keMarkBackground;
    Fill(matte, marks);
    if (HasFatalFailure()) return;
  }
}

TEST(WeightedRayMeanTest, ExactIntegerMeansAreNotRoundedDown) {
  const int all255[8] = {255, 255, 255, 255, 255, 255, 255, 255};
  const int lengths[8] = {1, 3, 7, 11, 13, 29, 31, 1000};
  EXPECT_EQ(WeightedRayMean(all255, lengths, 8), 255);
  EXPECT_EQ(WeightedRayMeanPlain(all255, lengths, 8), 255);
  // 255 * (1/1) / (1/1 + 1/16) = 240 exactly.
  const int mixed[2] = {255, 0};
  const int mixedLengths[2] = {1, 16};
  EXPECT_EQ(WeightedRayMean(mixed, mixedLengths, 2), 240);
  EXPECT_EQ(WeightedRayMeanPlain(mixed, mixedLengths, 2), 240);
  // 255 * (1/2 + 1/3) / (1/2 + 1/3 + 1/7) = 217.68...
  const int third[3] = {255, 255, 0};
  const int thirdLengths[3] = {2, 3, 7};
  EXPECT_EQ(WeightedRayMean(third, thirdLengths, 3), 217);
}

TEST(WeightedRayMeanTest, AgreesWithIntegerArithmeticOnRandomRays) {
  std::mt19937 random(5);
  for (int round = 0; round < 20000; ++round) {
    const int count = random() % 2 ? 8 : 16;
    int values[16];
    int lengths[16];
    const int spread = 1 + static_cast<int>(random() % 3);  // few values: exact ties are common
    for (int i = 0; i < count; ++i) {
      values[i] = spread == 1 ? 255 * static_cast<int>(random() % 2) : static_cast<int>(random() % 256);
      lengths[i] = 1 + static_cast<int>(random() % (round % 2 ? 12 : 3));
    }
    // Lengths up to 12: their least common multiple fits in 64 bits.
    int64_t lcm = 1;
    for (int i = 0; i < count; ++i)
      lcm = std::lcm(lcm, static_cast<int64_t>(lengths[i]));
    int64_t a = 0;
    int64_t b = 0;
    for (int i = 0; i < count; ++i) {
      a += values[i] * (lcm / lengths[i]);
      b += lcm / lengths[i];
    }
    const int expected = static_cast<int>(a / b);
    ASSERT_EQ(WeightedRayMean(values, lengths, count), expected);
    ASSERT_EQ(WeightedRayMeanPlain(values, lengths, count), expected);
  }
}

TEST(WeightedRayMeanTest, FastAndPlainFormsAgreeOnLongRays) {
  std::mt19937 random(9);
  for (int round = 0; round < 5000; ++round) {
    int values[16];
    int lengths[16];
    for (int i = 0; i < 16; ++i) {
      values[i] = static_cast<int>(random() % 256);
      lengths[i] = 1 + static_cast<int>(random() % 5000);
    }
    ASSERT_EQ(WeightedRayMean(values, lengths, 16), WeightedRayMeanPlain(values, lengths, 16));
  }
}

TEST(FillHolesTest, StopRequestGives100AndLeavesTheMatte) {
  CProgressScale::SetClockForTesting(&FastClock);
  CProgressScale root;
  root.InitRoot();
  root.SetAbortCheck(&AskToStop);
  CPlane matte = OpaqueWithHoles();
  const CPlane before = matte;
  const uint32_t code = Code(FillHoles(matte, NoMarks(matte.Width(), matte.Height()), &root));
  CProgressScale::SetClockForTesting(nullptr);
  EXPECT_EQ(code, 100u);
  EXPECT_TRUE(SamePixels(matte, before));
  EXPECT_EQ(root.Child(), nullptr);
}

TEST(FillHolesTest, ChildMeterCoversTheCallersStage) {
  CProgressScale root;
  root.InitRoot();
  root.SetStageCount(3);
  CPlane matte(40, 30, 1, 255);
  ASSERT_EQ(Code(FillHoles(matte, NoMarks(40, 30), &root)), 0u);
  EXPECT_EQ(root.Stage(), 1);
  EXPECT_EQ(root.Child(), nullptr);
}

TEST(FillHolesTest, WorksOnGreyImagesAndRefusesMismatchedMarks) {
  CCoreImage matte;
  CCoreImage marks;
  CoreResult created = matte.CreateGrey(30, 20);
  ASSERT_EQ(ExamineResult(created), 0u);
  created = marks.CreateGrey(30, 20);
  ASSERT_EQ(ExamineResult(created), 0u);
  CPlane m(30, 20, 1, 255);
  FillRect(m, 10, 5, 6, 4, 0);
  WritePlane(m, matte);
  WritePlane(NoMarks(30, 20), marks);
  ASSERT_EQ(Code(FillHoles(matte, marks)), 0u);
  EXPECT_EQ(ReadPlane(matte).At(12, 6), 255);

  CCoreImage small;
  created = small.CreateGrey(30, 19);
  ASSERT_EQ(ExamineResult(created), 0u);
  EXPECT_EQ(Code(FillHoles(matte, small)), 101u);
}
