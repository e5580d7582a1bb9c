// Stages that work row by row give the same bytes whether their rows run
// in one band or in several side by side.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "TestImages.h"
#include "engine/CombineWithPrevious.h"
#include "engine/ImageChannels.h"
#include "engine/TextureMap.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowBands.h"

namespace {

// Everything the row stages leave, run with the given number of bands on
// the same random images.
std::vector<std::vector<uint8_t>> RowStages(int bands) {
  SetBandsForTesting(bands);
  std::mt19937 rng(17);
  const int width = 45;
  const int height = 37;
  CCoreImage bgra;
  ThrowIfFailed(bgra.CreateBGRA(width, height));
  FillRandom(bgra, rng);
  CCoreImage other;
  ThrowIfFailed(other.CreateBGRA(width, height));
  FillRandom(other, rng);
  CCoreImage grey;
  ThrowIfFailed(grey.CreateGrey(width, height));
  FillRandom(grey, rng);
  CCoreImage bgr;
  ThrowIfFailed(bgr.CreateBGR(width, height));
  FillRandom(bgr, rng);

  std::vector<std::vector<uint8_t>> out;
  CCoreImage matte;
  ExtractAlpha(bgra, matte);
  out.push_back(AllBytes(matte));
  InsertAlpha(grey, other);
  out.push_back(AllBytes(other));
  CopyColours(bgra, other);
  out.push_back(AllBytes(other));
  BinarizeAlpha(bgra);
  out.push_back(AllBytes(bgra));
  MakeOpaque(bgra);
  out.push_back(AllBytes(bgra));
  CCoreImage texture;
  TextureFromDeviation(bgr, texture);
  out.push_back(AllBytes(texture));
  CombineWithPrevious(matte, grey, CCombineInputs{true, true, 0, 30, 20});
  out.push_back(AllBytes(matte));
  FillGrey(grey, 7);
  out.push_back(AllBytes(grey));
  SetBandsForTesting(0);
  return out;
}

}  // namespace

TEST(RowStageBands, RowStagesGiveTheSameBytesInOneBandOrMany) {
  const std::vector<std::vector<uint8_t>> one = RowStages(1);
  EXPECT_EQ(RowStages(3), one);
  EXPECT_EQ(RowStages(37), one);
}

// A single faint alpha anywhere, in any band, is found; 0 and 255 are not
// faint.
TEST(RowStageBands, AnAlphaIsBinaryOnlyWithoutOneFaintValueInAnyBand) {
  for (int bands : {1, 3, 37}) {
    SetBandsForTesting(bands);
    CCoreImage bgra;
    ThrowIfFailed(bgra.CreateBGRA(45, 37));
    EXPECT_TRUE(AlphaIsBinary(bgra));  // all 0
    MakeOpaque(bgra);
    SetPixelByte(bgra, 44, 36, 3, 0);
    EXPECT_TRUE(AlphaIsBinary(bgra));
    for (uint8_t faint : {1, 128, 254}) {
      for (const auto& [x, y] : {std::pair{0, 0}, std::pair{44, 36}, std::pair{20, 18}}) {
        SetPixelByte(bgra, x, y, 3, faint);
        EXPECT_FALSE(AlphaIsBinary(bgra)) << int{faint} << " at " << x << "," << y;
        SetPixelByte(bgra, x, y, 3, 255);
      }
    }
    // Colours never count.
    SetPixelByte(bgra, 3, 3, 0, 77);
    EXPECT_TRUE(AlphaIsBinary(bgra));
  }
  SetBandsForTesting(0);
}
