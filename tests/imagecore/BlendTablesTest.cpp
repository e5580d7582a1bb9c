#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "imagecore/BlendTables.h"
#include "imagecore/CoreStartup.h"

TEST(BlendTables, FullWeightKeepsTheValueAndNoWeightGivesZero) {
  const uint8_t* T = BlendTableT();
  for (int x = 0; x < 256; ++x) {
    EXPECT_EQ(T[x * 255], x) << x;
    EXPECT_EQ(T[x * 0], 0) << x;
  }
}

TEST(BlendTables, ProductsRoundToNearestAndStayWithinTheirFactors) {
  const uint8_t* T = BlendTableT();
  for (int x = 0; x < 256; ++x) {
    for (int y = 0; y < 256; ++y) {
      // Within half a step of x * y / 255, in whole 255ths.
      const int error = 255 * T[x * y] - x * y;
      ASSERT_GE(error, -127) << x << " " << y;
      ASSERT_LE(error, 128) << x << " " << y;
      ASSERT_LE(T[x * y], std::min(x, y)) << x << " " << y;
    }
  }
}

TEST(BlendTables, RandomTileIsTheCGeneratorFromSeedOne) {
  const uint8_t* R = BlendTableR();
  std::srand(1);
  for (int i = 0; i < kBlendTableRSize; ++i) ASSERT_EQ(R[i], std::rand() % 254) << i;
#ifdef __GLIBC__
  // The C library's own sequence, so the tile does not depend on who drew
  // from the generator first.
  const uint8_t first[] = {129, 144, 179, 9, 121, 169, 110, 12, 189, 163};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(R[i], first[i]) << i;
#endif
}

TEST(BlendTables, SquareRootAndQuotientTables) {
  const uint8_t* Q = BlendTableQ();
  EXPECT_EQ(Q[0], 0);
  EXPECT_EQ(Q[1], 15);    // 255 * sqrt(1/255) = 15.97
  EXPECT_EQ(Q[64], 127);  // 127.75
  EXPECT_EQ(Q[255], 255);
  for (int i = 0; i < 256; ++i) {
    const int q = Q[i];
    ASSERT_LE(q * q, 255 * i) << i;
    ASSERT_GT((q + 1) * (q + 1), 255 * i) << i;
  }
  const uint32_t* D = BlendTableD();
  EXPECT_EQ(D[1 * 256 + 1], 65536u);
  EXPECT_EQ(D[255 * 256 + 255], 65536u);
  EXPECT_EQ(D[100 * 256 + 255], 25700u);  // (6553600 + 127) / 255
  EXPECT_EQ(D[1 * 256 + 3], 21845u);      // (65536 + 1) / 3
  EXPECT_EQ(D[255 * 256 + 1], 255u * 65536u);
  EXPECT_EQ(D[7 * 256 + 0], 0u);
}

TEST(BlendTables, StartBuildsOnceStopFreesAndCallersMaySupplyTheirOwn) {
  ASSERT_EQ(CoreStartup(), 0u);
  const CBlendTables started = BlendTablesInUse();
  EXPECT_EQ(started.T, BlendTableT());
  EXPECT_EQ(StartBlendTables(), 0u);  // a second start keeps the same tables
  EXPECT_EQ(BlendTablesInUse().D, started.D);
  CoreShutdown();

  static uint8_t ownT[kBlendTableTSize];
  static uint8_t ownR[kBlendTableRSize];
  static uint8_t ownQ[kBlendTableQSize];
  static uint32_t ownD[kBlendTableDSize];
  const CBlendTables own{ownT, ownR, ownQ, ownD};
  ASSERT_EQ(StartBlendTables(&own), 0u);
  EXPECT_EQ(BlendTablesInUse().R, ownR);
  EXPECT_EQ(BlendTableD(), ownD);
  EXPECT_EQ(BlendTableT()[255 * 255], 255);  // T of the view is untouched
  StopBlendTables();

  // Used without a start, the tables are built on demand.
  EXPECT_EQ(BlendTableQ()[255], 255);
  StopBlendTables();
}
