#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "TestImages.h"
#include "engine/TextureMap.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"

namespace {

// One BGR pixel per (blue, green, red) triple, in a row.
void MakeDeviationRow(CCoreImage& image, const std::vector<std::vector<uint8_t>>& pixels) {
  ThrowIfFailed(image.CreateBGR(static_cast<int>(pixels.size()), 1));
  for (size_t x = 0; x < pixels.size(); ++x)
    for (int c = 0; c < 3; ++c) SetPixelByte(image, static_cast<int>(x), 0, c, pixels[x][c]);
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
