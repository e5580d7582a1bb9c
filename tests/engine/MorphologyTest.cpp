#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/Morphology3x3.h"
#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/RowBands.h"

namespace {

int CountNonzero(const CPlane& plane) {
  int n = 0;
  for (int y = 0; y < plane.Height(); ++y)
    for (int x = 0; x < plane.Width(); ++x)
      n += plane.At(x, y) != 0 ? 1 : 0;
  return n;
}

// One pass pixel by pixel over a copy of the matte as it was: a pixel not
// of the other kind flips when one of its neighbours inside the image is.
CPlane PlainStep(const CPlane& before, bool grow, bool& changed) {
  const auto other = [grow](uint8_t v) { return grow ? v != 0 : v == 0; };
  CPlane after = before;
  changed = false;
  for (int y = 0; y < before.Height(); ++y)
    for (int x = 0; x < before.Width(); ++x) {
      if (other(before.At(x, y))) continue;
      bool flip = false;
      for (int ny = y - 1; ny <= y + 1; ++ny)
        for (int nx = x - 1; nx <= x + 1; ++nx)
          if (nx >= 0 && ny >= 0 && nx < before.Width() && ny < before.Height())
            flip = flip || other(before.At(nx, ny));
      if (flip) {
        after.At(x, y) = grow ? 255 : 0;
        changed = true;
      }
    }
  return after;
}

std::vector<uint8_t> Bytes(const CPlane& plane) {
  std::vector<uint8_t> bytes;
  for (int y = 0; y < plane.Height(); ++y)
    for (int x = 0; x < plane.Width(); ++x) bytes.push_back(plane.At(x, y));
  return bytes;
}

}  // namespace

// Passes over rows of any width (the vector loop's edges and tail), in any
// number of bands (each band reads its neighbours' edge rows as they were),
// on mattes from sparse specks to nearly solid, give the plain pass's bytes
// and answer.
TEST(MorphologyTest, PassesMatchThePlainPassOnRandomMattesInAnyBands) {
  std::mt19937 rng(4242);
  for (const int bands : {0, 1, 2, 3, 7}) {
    SetBandsForTesting(bands);
    for (int index = 0; index < 60; ++index) {
      const int w = std::uniform_int_distribution<int>(1, 80)(rng);
      const int h = std::uniform_int_distribution<int>(1, 30)(rng);
      const double density = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
      CPlane matte(w, h, 1, 0);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          if (std::bernoulli_distribution(density)(rng))
            matte.At(x, y) = static_cast<uint8_t>(std::uniform_int_distribution<int>(1, 255)(rng));
      const bool grow = index % 2 == 0;
      bool expectChanged = false;
      const CPlane expected = PlainStep(matte, grow, expectChanged);
      bool changed = true;
      if (grow) {
        Dilate3x3(matte);
      } else {
        changed = Erode3x3(matte);
      }
      EXPECT_EQ(Bytes(matte), Bytes(expected)) << "bands " << bands << " case " << index << " " << w << "x" << h;
      if (!grow) {
        EXPECT_EQ(changed, expectChanged) << "bands " << bands << " case " << index;
      }
    }
  }
  SetBandsForTesting(0);
}

TEST(MorphologyTest, ErodeLeavesAnAllOpaqueMatteWhole) {
  // Neighbours outside the image do not count, so the edge does not erode.
  CPlane matte(7, 5, 1, 255);
  Erode3x3(matte);
  EXPECT_EQ(CountNonzero(matte), 35);
}

TEST(MorphologyTest, DilateLeavesAnAllTransparentMatteEmpty) {
  CPlane matte(7, 5, 1, 0);
  Dilate3x3(matte);
  EXPECT_EQ(CountNonzero(matte), 0);
}

// Contract stops repeating once a pass changes nothing: the answer must say
// so exactly, or the matte would stop short of the count asked for.
TEST(MorphologyTest, ErodeAnswersWhetherAPixelChanged) {
  CPlane matte(7, 7, 1, 0);
  for (int y = 1; y < 6; ++y)
    for (int x = 1; x < 6; ++x) matte.At(x, y) = 255;
  EXPECT_TRUE(Erode3x3(matte));   // 5x5 -> 3x3
  EXPECT_TRUE(Erode3x3(matte));   // -> 1x1
  EXPECT_TRUE(Erode3x3(matte));   // -> nothing
  EXPECT_EQ(CountNonzero(matte), 0);
  EXPECT_FALSE(Erode3x3(matte));
  CPlane whole(4, 4, 1, 9);
  EXPECT_FALSE(Erode3x3(whole));
}

TEST(MorphologyTest, SinglePixelVanishesUnderErode) {
  CPlane matte(5, 5, 1, 0);
  matte.At(2, 2) = 255;
  Erode3x3(matte);
  EXPECT_EQ(CountNonzero(matte), 0);
}

TEST(MorphologyTest, SingleHoleIsFilledByDilate) {
  CPlane matte(5, 5, 1, 255);
  matte.At(2, 2) = 0;
  Dilate3x3(matte);
  EXPECT_EQ(CountNonzero(matte), 25);
  EXPECT_EQ(matte.At(2, 2), 255);
}

TEST(MorphologyTest, DilateGrowsByAllEightNeighboursAndKeepsValues) {
  CPlane matte(6, 5, 1, 0);
  matte.At(0, 0) = 80;  // corner pixel: only the neighbours inside grow
  matte.At(4, 3) = 17;
  Dilate3x3(matte);
  EXPECT_EQ(matte.At(0, 0), 80);
  EXPECT_EQ(matte.At(1, 1), 255);
  EXPECT_EQ(matte.At(2, 0), 0);
  EXPECT_EQ(matte.At(4, 3), 17);
  for (int y = 2; y <= 4; ++y)
    for (int x = 3; x <= 5; ++x)
      if (x != 4 || y != 3) {
        EXPECT_EQ(matte.At(x, y), 255) << x << "," << y;
      }
  EXPECT_EQ(CountNonzero(matte), 4 + 9);
}

TEST(MorphologyTest, ErodeReadsTheMatteAsItWasBeforeThePass) {
  // A 3-pixel-wide bar shrinks to its middle line in one pass, not to
  // nothing: each pixel is judged on the unchanged matte.
  CPlane matte(9, 7, 1, 0);
  for (int y = 2; y <= 4; ++y)
    for (int x = 1; x <= 7; ++x)
      matte.At(x, y) = 200;
  Erode3x3(matte);
  EXPECT_EQ(CountNonzero(matte), 5);
  for (int x = 2; x <= 6; ++x)
    EXPECT_EQ(matte.At(x, 3), 200);
}

TEST(MorphologyTest, ErodeAtTheEdgeLooksOnlyInward) {
  CPlane matte(6, 6, 1, 255);
  matte.At(3, 3) = 0;
  Erode3x3(matte);
  // Only the hole's eight neighbours fall; the image edge stays opaque.
  EXPECT_EQ(CountNonzero(matte), 36 - 9);
  EXPECT_EQ(matte.At(0, 0), 255);
  EXPECT_EQ(matte.At(5, 5), 255);
  EXPECT_EQ(matte.At(4, 4), 0);
}

TEST(MorphologyTest, DilateThenErodeClosesASmallGap) {
  CPlane matte(9, 3, 1, 255);
  matte.At(4, 0) = matte.At(4, 1) = matte.At(4, 2) = 0;
  Dilate3x3(matte);
  Erode3x3(matte);
  EXPECT_EQ(CountNonzero(matte), 27);
}

TEST(MorphologyTest, ImageCallsChangeTheImage) {
  CCoreImage matte;
  CoreResult created = matte.CreateGrey(5, 4);
  ASSERT_EQ(ExamineResult(created), 0u);
  CPlane plane(5, 4, 1, 0);
  plane.At(2, 1) = 255;
  WritePlane(plane, matte);
  Dilate3x3(matte);
  EXPECT_EQ(CountNonzero(ReadPlane(matte)), 9);
  Erode3x3(matte);
  Erode3x3(matte);
  EXPECT_EQ(CountNonzero(ReadPlane(matte)), 0);
}

TEST(MorphologyTest, ImageThatIsNotGreyIsRefused) {
  CCoreImage image;
  CoreResult created = image.CreateBGRA(4, 4);
  ASSERT_EQ(ExamineResult(created), 0u);
  EXPECT_THROW(Dilate3x3(image), CJException);
  EXPECT_THROW(Erode3x3(image), CJException);
}
