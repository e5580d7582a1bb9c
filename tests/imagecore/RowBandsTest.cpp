// Row bands: every row once, failures reach the caller, forced counts.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "imagecore/RowBands.h"

TEST(RowBands, BandsCoverEveryRowOnceAndAFailureReachesTheCaller) {
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

TEST(RowBands, ForcedCountsKeepBandsLongEnough) {
  SetBandsForTesting(8);
  EXPECT_EQ(BandCount(100, 1000, 10), 8);
  EXPECT_EQ(BandCount(30, 1000, 10), 3);
  EXPECT_EQ(BandCount(5, 1000, 10), 1);
  SetBandsForTesting(0);
  EXPECT_EQ(BandCount(5, 1000), 1);
}
