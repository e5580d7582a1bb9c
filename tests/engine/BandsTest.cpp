// Stages that work row by row give the same bytes whether their rows run
// in one band or in several side by side.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "TestImages.h"
#include "engine/Bands.h"
#include "engine/CombineWithPrevious.h"
#include "engine/ImageChannels.h"
#include "engine/TextureMap.h"
#include "imagecore/CoreImage.h"

namespace {

// Everything the row stages leave, run with the given number of bands on
// the same random images.
std::vector<std::vector<uint8_t>> RowStages(int bands) {
  SetBandsForTesting(bands);
  std::mt19937 rng(17);
  const int width = 45;
  const int height = 37;
  CCoreImage bgra;
  bgra.CreateBGRA(width, height);
  FillRandom(bgra, rng);
  CCoreImage other;
  other.CreateBGRA(width, height);
  FillRandom(other, rng);
  CCoreImage grey;
  grey.CreateGrey(width, height);
  FillRandom(grey, rng);
  CCoreImage bgr;
  bgr.CreateBGR(width, height);
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

TEST(Bands, RowStagesGiveTheSameBytesInOneBandOrMany) {
  const std::vector<std::vector<uint8_t>> one = RowStages(1);
  EXPECT_EQ(RowStages(3), one);
  EXPECT_EQ(RowStages(37), one);
}

TEST(Bands, BandsCoverEveryRowOnceAndAFailureReachesTheCaller) {
  std::vector<std::atomic<int>> visits(101);
  RunBands(101, 4, [&](int, int first, int last) {
    for (int y = first; y < last; ++y) ++visits[static_cast<size_t>(y)];
  });
  for (const std::atomic<int>& count : visits) EXPECT_EQ(count.load(), 1);

  EXPECT_THROW(RunBands(10, 3,
                        [](int band, int, int) {
                          if (band == 2) throw std::runtime_error("band 2");
                        }),
               std::runtime_error);
}

TEST(Bands, ForcedCountsKeepBandsLongEnough) {
  SetBandsForTesting(8);
  EXPECT_EQ(BandCount(100, 1000, 10), 8);
  EXPECT_EQ(BandCount(30, 1000, 10), 3);
  EXPECT_EQ(BandCount(5, 1000, 10), 1);
  SetBandsForTesting(0);
  EXPECT_EQ(BandCount(5, 1000), 1);
}
