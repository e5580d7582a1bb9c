#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "TestImages.h"
#include "engine/Feather.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

// Columns left of `edge` hold the object (magenta, leftAlpha), the others
// the background (green, rightAlpha).
void MakeEdge(CCoreImage& image, int width, int height, int edge, uint8_t leftAlpha,
              uint8_t rightAlpha) {
  MakeBGRA(image, width, height, 0, 255, 0, rightAlpha);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < edge; ++x) {
      SetPixelByte(image, x, y, 0, 255);
      SetPixelByte(image, x, y, 1, 0);
      SetPixelByte(image, x, y, 2, 255);
      SetPixelByte(image, x, y, 3, leftAlpha);
    }
}

struct CPixel {
  uint8_t b, g, r, a;
  bool operator==(const CPixel&) const = default;
};

std::ostream& operator<<(std::ostream& out, const CPixel& p) {
  return out << "(" << int(p.b) << "," << int(p.g) << "," << int(p.r) << "," << int(p.a) << ")";
}

CPixel At(CCoreImage& image, int x, int y) {
  return {PixelByte(image, x, y, 0), PixelByte(image, x, y, 1), PixelByte(image, x, y, 2),
          PixelByte(image, x, y, 3)};
}

constexpr CPixel Magenta(uint8_t a) { return {255, 0, 255, a}; }
constexpr CPixel Green(uint8_t a) { return {0, 255, 0, a}; }

// Whether feathering changes a two-level matte at all.
bool FeatherChanges(uint8_t leftAlpha, uint8_t rightAlpha) {
  CCoreImage image;
  MakeEdge(image, 20, 12, 10, leftAlpha, rightAlpha);
  const std::vector<uint8_t> before = AllBytes(image);
  Feather(image, 1);
  return AllBytes(image) != before;
}

}  // namespace

TEST(FeatherTest, AllOpaqueMatteIsUnchanged) {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> value(0, 255);
  CCoreImage image;
  MakeBGRA(image, 37, 29, 0, 0, 0, 255);
  for (int y = 0; y < 29; ++y)
    for (int x = 0; x < 37; ++x)
      for (int c = 0; c < 3; ++c) SetPixelByte(image, x, y, c, static_cast<uint8_t>(value(rng)));
  const std::vector<uint8_t> before = AllBytes(image);
  for (int width : {1, 3}) {
    Feather(image, width);
    EXPECT_EQ(AllBytes(image), before) << width;
  }
}

TEST(FeatherTest, WidthOneWorkedByHand) {
  // Hard edge between columns 9 and 10. The wide blur is 170 at 9 and 85 at
  // 10, both far enough from the hard matte for the factor to reach 1, so
  // those columns take the spread image: alpha 170 and 85, and column 10, a
  // background pixel before, now carries the object's colour.
  CCoreImage image;
  MakeEdge(image, 24, 8, 10, 255, 0);
  Feather(image, 1);
  for (int y : {0, 3, 7}) {
    EXPECT_EQ(At(image, 8, y), Magenta(255)) << y;
    EXPECT_EQ(At(image, 9, y), Magenta(170)) << y;
    EXPECT_EQ(At(image, 10, y), Magenta(85)) << y;
    EXPECT_EQ(At(image, 11, y), Green(0)) << y;
  }
}

TEST(FeatherTest, WidthTwoBlursWiderAndSpreadsTwice) {
  // Window 7 for the wide blur (146 at column 9, 109 at 10, 73 at 11) and two
  // spreading passes: alpha 227, 170, 85, 28 from column 8 on. Column 7 mixes
  // with factor 144/255 but both sides are opaque magenta there.
  CCoreImage image;
  MakeEdge(image, 24, 8, 10, 255, 0);
  Feather(image, 2);
  const std::vector<CPixel> expected{Magenta(255), Magenta(255), Magenta(227), Magenta(170),
                                     Magenta(85),  Magenta(28),  Green(0)};
  for (int x = 6; x <= 12; ++x) EXPECT_EQ(At(image, x, 4), expected[x - 6]) << x;
}

TEST(FeatherTest, NearTheEdgeThePixelMovesPartWayToTheSpreadImage) {
  // As above, with column 5's blue at 0: twice spread, column 7's blue is
  // 227. There the wide blur is 219, factor 144/255, and the blue becomes
  // trunc(0.5647 * 227 + 0.4353 * 255) = 239; column 6 (factor 0) keeps 255.
  CCoreImage image;
  MakeEdge(image, 24, 8, 10, 255, 0);
  for (int y = 0; y < 8; ++y) SetPixelByte(image, 5, y, 0, 0);
  Feather(image, 2);
  EXPECT_EQ(At(image, 7, 4), (CPixel{239, 0, 255, 255}));
  EXPECT_EQ(At(image, 6, 4), Magenta(255));
  EXPECT_EQ(At(image, 5, 4), (CPixel{0, 0, 255, 255}));
}

TEST(FeatherTest, FullyOpaquePeakCutsAt200) {
  EXPECT_FALSE(FeatherChanges(255, 200));
  EXPECT_TRUE(FeatherChanges(255, 199));
}

TEST(FeatherTest, FaintPeakCutsAtHalfOfIt) {
  // Largest alpha 254: threshold 127.
  EXPECT_FALSE(FeatherChanges(254, 127));
  EXPECT_TRUE(FeatherChanges(254, 126));
  // Largest alpha 3: 3 / 2 = 1.
  EXPECT_FALSE(FeatherChanges(3, 1));
  EXPECT_TRUE(FeatherChanges(3, 0));
}

TEST(FeatherTest, AlphaOfFiveOrLessKeepsTheOwnColour) {
  // Object alpha 15: the first background column takes alpha 15 / 3 = 5 but
  // keeps its green; with object alpha 18 it takes 6 and the object colour.
  CCoreImage faint;
  MakeEdge(faint, 20, 10, 10, 15, 0);
  Feather(faint, 1);
  EXPECT_EQ(At(faint, 10, 5), Green(5));

  CCoreImage stronger;
  MakeEdge(stronger, 20, 10, 10, 18, 0);
  Feather(stronger, 1);
  EXPECT_EQ(At(stronger, 10, 5), Magenta(6));
}

TEST(FeatherTest, ImageMustBeBGRA) {
  CCoreImage grey;
  MakeGrey(grey, 10, 10, 255);
  EXPECT_THROW(Feather(grey, 1), CJException);
}

namespace {

// Random colours under a matte of discs, 0 and `top`, with a few pixels of
// any alpha (faint ones too) scattered over the left third; elsewhere whole
// tiles are left alone, and the discs' edges make runs of tiles to work on.
void MakeScene(CCoreImage& image, int width, int height, uint8_t top, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  ThrowIfFailed(image.CreateBGRA(width, height));
  struct CDisc {
    double x, y, r;
  };
  std::vector<CDisc> discs;
  for (int i = 0; i < 3; ++i) {
    discs.push_back({unit(rng) * width, unit(rng) * height, 3 + unit(rng) * width / 4});
  }
  // A square whose edges lie on the tile grid or a few pixels off it, where a
  // tile left alone meets one worked on, with a pinhole in its middle that a
  // wide blur does not see.
  std::uniform_int_distribution<int> off(-2, 2);
  const int squareLeft = 64 * (1 + byte(rng) % 2) + off(rng);
  const int squareTop = 64 + off(rng);
  const int squareRight = squareLeft + 200;
  const int squareBottom = squareTop + 190;
  for (int y = 0; y < height; ++y) {
    const CRowLease lease(image, y);
    uint8_t* row = lease.Data();
    for (int x = 0; x < width; ++x) {
      bool in = false;
      for (const CDisc& d : discs) in |= (x - d.x) * (x - d.x) + (y - d.y) * (y - d.y) < d.r * d.r;
      in |= x >= squareLeft && x < squareRight && y >= squareTop && y < squareBottom;
      for (int c = 0; c < 3; ++c) row[4 * x + c] = static_cast<uint8_t>(byte(rng));
      row[4 * x + 3] = in ? top : 0;
      if (x == (squareLeft + squareRight) / 2 && y == (squareTop + squareBottom) / 2) {
        row[4 * x + 3] = 0;
      }
      if (3 * x < width && unit(rng) < 0.002) row[4 * x + 3] = static_cast<uint8_t>(byte(rng) % 7);
      if (3 * x < width && unit(rng) < 0.002) row[4 * x + 3] = static_cast<uint8_t>(byte(rng));
    }
  }
}

}  // namespace

TEST(FeatherTest, TiledFeatherMatchesTheWholeImageReading) {
  std::mt19937 rng(5);
  struct CCase {
    int width, height, feather;
    uint8_t top;
  };
  // Sizes on and off the tile grid, narrow feathers and wide ones, full and
  // faint mattes.
  const CCase cases[] = {{400, 300, 1, 255}, {429, 365, 2, 255}, {500, 300, 10, 255},
                         {64, 64, 1, 255},   {397, 411, 5, 120}, {140, 130, 50, 255},
                         {450, 330, 3, 9},   {3, 70, 1, 255},    {380, 340, 1, 0},
                         {470, 310, 12, 255}};
  for (const CCase& c : cases) {
    for (int bands : {1, 3}) {
      SetBandsForTesting(bands);
      CCoreImage image;
      MakeScene(image, c.width, c.height, c.top, rng);
      CCoreImage plain;
      ThrowIfFailed(plain.CopyFrom(image));
      Feather(image, c.feather);
      FeatherPlain(plain, c.feather);
      EXPECT_EQ(AllBytes(image), AllBytes(plain))
          << c.width << "x" << c.height << " feather " << c.feather << " peak " << int(c.top)
          << ", " << bands << " bands";
    }
  }
  SetBandsForTesting(0);
}
