#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "TestImages.h"
#include "engine/LocalDeviation.h"
#include "engine/TextureMap.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/RowBands.h"

namespace {

// One BGR pixel per (blue, green, red) triple, in a row.
void MakeDeviationRow(CCoreImage& image, const std::vector<std::vector<uint8_t>>& pixels) {
  ThrowIfFailed(image.CreateBGR(static_cast<int>(pixels.size()), 1));
  for (size_t x = 0; x < pixels.size(); ++x)
    for (int c = 0; c < 3; ++c) SetPixelByte(image, static_cast<int>(x), 0, c, pixels[x][c]);
}

// The texture the long way: the deviation image of the colours, then the map.
std::vector<uint8_t> TextureThroughDeviation(CCoreImage& bgra, int window) {
  CCoreImage colours;
  colours.AssignFrom(bgra);
  ThrowIfFailed(colours.SetChannelView(keChannelColour, keAccessRead));
  CCoreImage deviation;
  ThrowIfFailed(LocalDeviation(nullptr, colours, deviation, window));
  CCoreImage texture;
  TextureFromDeviation(deviation, texture);
  return AllBytes(texture);
}

}  // namespace

TEST(TextureMapTest, SquareRootScaleOfTheLargestChannel) {
  CCoreImage deviation;
  MakeDeviationRow(deviation, {{0, 0, 0},
                               {64, 0, 0},
                               {0, 64, 3},
                               {2, 1, 255},
                               {1, 0, 0},      // 255 * sqrt(1/255) = 15.97
                               {16, 16, 16},   // 63.87
                               {0, 0, 254}});  // 254.5
  CCoreImage texture;
  TextureFromDeviation(deviation, texture);
  ASSERT_EQ(texture.ViewFormat(), keFormatGrey);
  EXPECT_EQ(AllBytes(texture), (std::vector<uint8_t>{0, 127, 127, 255, 15, 63, 254}));
}

TEST(TextureMapTest, WritesIntoAGreyImageOfTheSameSize) {
  CCoreImage deviation;
  MakeDeviationRow(deviation, {{64, 64, 64}, {255, 0, 0}});
  CCoreImage texture;
  MakeGrey(texture, 2, 1, 99);
  TextureFromDeviation(deviation, texture);
  EXPECT_EQ(AllBytes(texture), (std::vector<uint8_t>{127, 255}));
}

TEST(TextureMapTest, DeviationMustBeBGR) {
  CCoreImage grey;
  MakeGrey(grey, 4, 4, 10);
  CCoreImage texture;
  EXPECT_THROW(TextureFromDeviation(grey, texture), CJException);
}

// Busy and nearly flat colours (where the channels' deviations tie and
// differ by one), borders, windows up to the largest the exact sums allow,
// and bands side by side.
TEST(TextureMapTest, StraightFromTheColoursGivesTheBytesOfTheDeviationImage) {
  std::mt19937 rng(7);
  struct CCase {
    int width, height, window, lowest, highest;
  };
  const CCase cases[] = {{9, 7, 3, 0, 255},     {37, 21, 3, 100, 103}, {40, 300, 3, 0, 255},
                         {2, 9, 3, 0, 255},     {3, 2, 3, 0, 255},     {134, 41, 3, 250, 255},
                         {64, 150, 5, 90, 100}, {23, 80, 11, 0, 255},  {70, 45, 21, 0, 3},
                         {5, 200, 9, 0, 255}};
  for (const CCase& c : cases) {
    CCoreImage image;
    ThrowIfFailed(image.CreateBGRA(c.width, c.height));
    FillRandom(image, rng, c.lowest, c.highest);
    // The alpha, which plays no part, anywhere in 0..255.
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) SetPixelByte(image, x, y, 3, static_cast<uint8_t>(rng()));
    const std::vector<uint8_t> expected = TextureThroughDeviation(image, c.window);
    for (int bands : {1, 2, 3, 7}) {
      SetBandsForTesting(bands);
      CCoreImage texture;
      MakeGrey(texture, c.width, c.height, 99);
      const bool straight = TextureFromColours(image, c.window, texture);
      SetBandsForTesting(0);
      ASSERT_TRUE(straight) << c.width << " x " << c.height << ", window " << c.window;
      EXPECT_EQ(AllBytes(texture), expected)
          << c.width << " x " << c.height << ", window " << c.window << ", " << bands << " bands";
    }
  }
}

// Where only the deviation image gives the bytes, the texture is left alone
// for the caller to make that way.
TEST(TextureMapTest, StraightFromTheColoursDeclinesWhatNeedsTheDeviationImage) {
  std::mt19937 rng(8);
  auto declines = [&](CCoreImage& image, int window) {
    CCoreImage texture;
    MakeGrey(texture, 2, 2, 99);
    const bool straight = TextureFromColours(image, window, texture);
    return !straight && AllBytes(texture) == std::vector<uint8_t>(4, 99);
  };
  CCoreImage bgr;
  ThrowIfFailed(bgr.CreateBGR(20, 20));
  FillRandom(bgr, rng);
  EXPECT_TRUE(declines(bgr, 3));
  CCoreImage grey;
  MakeGrey(grey, 20, 20, 10);
  EXPECT_TRUE(declines(grey, 3));
  // No taller or wider than half the window: copied, not filtered.
  CCoreImage flat;
  ThrowIfFailed(flat.CreateBGRA(40, 3));
  FillRandom(flat, rng);
  EXPECT_TRUE(declines(flat, 7));
  ThrowIfFailed(flat.CreateBGRA(2, 40));
  FillRandom(flat, rng);
  EXPECT_TRUE(declines(flat, 5));
  // A window whose integer sums could round otherwise than the defined ones.
  CCoreImage image;
  ThrowIfFailed(image.CreateBGRA(120, 120));
  FillRandom(image, rng);
  EXPECT_TRUE(declines(image, 101));
}
