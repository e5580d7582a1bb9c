#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "TestImages.h"
#include "engine/EdgeBand.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

// A matte of random discs and boxes with alpha on both sides of the edge
// threshold, some touching the picture's border.
void MakeBlobMatte(CCoreImage& image, int width, int height, std::mt19937& rng) {
  MakeBGRA(image, width, height, 10, 20, 30, 0);
  std::uniform_int_distribution<int> px(-5, width + 5);
  std::uniform_int_distribution<int> py(-5, height + 5);
  std::uniform_int_distribution<int> size(1, 12);
  std::uniform_int_distribution<int> inside(128, 255);
  std::uniform_int_distribution<int> outside(0, 127);
  for (int blob = 0; blob < 7; ++blob) {
    const int cx = px(rng);
    const int cy = py(rng);
    const int r = size(rng);
    const bool disc = blob % 2 == 0;
    const uint8_t a = static_cast<uint8_t>(blob == 6 ? outside(rng) : inside(rng));
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const int dx = x - cx;
        const int dy = y - cy;
        const bool in =
            disc ? dx * dx + dy * dy <= r * r : std::abs(dx) <= r && std::abs(dy) <= r / 2;
        if (in) SetPixelByte(image, x, y, 3, a);
      }
    }
  }
}

// Whether (x, y) is in the band as the numbers say: -1 outside, and the
// numbers run 0, 1, 2 ... in row order.
void ExpectNumbersInRowOrder(const CEdgeBand& band, const std::vector<bool>& inside) {
  CBandRowIndex index(band, 2);
  int next = 0;
  for (int y = 0; y < band.Height(); ++y) {
    index.Centre(y);
    for (int x = 0; x < band.Width(); ++x) {
      const bool in = inside[static_cast<size_t>(y) * band.Width() + x];
      ASSERT_EQ(band.IndexOf(x, y), in ? next : -1) << x << "," << y;
      for (int dy = -2; dy <= 2; ++dy) {
        if (y + dy < 0 || y + dy >= band.Height()) continue;
        ASSERT_EQ(index.At(x, y + dy), band.IndexOf(x, y + dy)) << x << "," << y + dy;
      }
      if (in) ++next;
    }
  }
  EXPECT_EQ(next, band.Count());
}

std::vector<bool> Members(const CEdgeBand& band) {
  std::vector<bool> inside(static_cast<size_t>(band.Width()) * band.Height(), false);
  for (int y = 0; y < band.Height(); ++y) {
    for (const CBandSpan& span : band.Row(y)) {
      for (int x = span.left; x < span.right; ++x)
        inside[static_cast<size_t>(y) * band.Width() + x] = true;
    }
  }
  return inside;
}

}  // namespace

TEST(EdgeBandTest, BandMatchesEveryDistanceMeasuredInOneBandOrMany) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 6; ++trial) {
    CCoreImage image;
    MakeBlobMatte(image, 41 + trial, 33 - trial, rng);
    const CRowLease rows = CRowLease::AllRows(image);
    for (int reach : {1, 2, 5, 13}) {
      const CEdgeBand plain =
          CEdgeBand::AroundEdgePlain(rows, image.Width(), image.Height(), reach);
      for (int bands : {1, 3, 7}) {
        SetBandsForTesting(bands);
        const CEdgeBand band =
            CEdgeBand::AroundEdge(rows, image.Width(), image.Height(), reach, false);
        EXPECT_TRUE(band == plain) << "trial " << trial << " reach " << reach << " bands " << bands;
      }
      SetBandsForTesting(0);
      ExpectNumbersInRowOrder(plain, Members(plain));
    }
  }
}

TEST(EdgeBandTest, StraightEdgeGivesTheWidthOnEachSideOfItsTwoEdgeColumns) {
  // Columns 0..19 object, 20..39 background: columns 19 and 20 are edge
  // pixels, and the band reaches 5 further each way.
  CCoreImage image;
  MakeBGRA(image, 40, 6, 0, 0, 0, 0);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 20; ++x) SetPixelByte(image, x, y, 3, 128);
  const CRowLease rows = CRowLease::AllRows(image);
  const CEdgeBand band = CEdgeBand::AroundEdge(rows, 40, 6, 5, false);
  for (int y = 0; y < 6; ++y) {
    ASSERT_EQ(band.Row(y).size(), 1u);
    EXPECT_EQ(band.Row(y)[0].left, 14);
    EXPECT_EQ(band.Row(y)[0].right, 26);
  }
  EXPECT_EQ(band.Count(), 6 * 12);
}

TEST(EdgeBandTest, MatteOnOneSideOfTheThresholdHasNoBand) {
  for (uint8_t alpha : {uint8_t{0}, uint8_t{127}, uint8_t{128}, uint8_t{255}}) {
    CCoreImage image;
    MakeBGRA(image, 30, 20, 1, 2, 3, alpha);
    // Alpha varies, but never across 128.
    SetPixelByte(image, 7, 7, 3, alpha >= 128 ? 255 : 0);
    const CRowLease rows = CRowLease::AllRows(image);
    EXPECT_TRUE(CEdgeBand::AroundEdge(rows, 30, 20, 10, false).Empty()) << int(alpha);
  }
}

TEST(EdgeBandTest, GrownBandIsTheSquareAroundEachPixelWithinLimits) {
  std::mt19937 rng(9);
  CCoreImage image;
  MakeBlobMatte(image, 37, 29, rng);
  const CRowLease rows = CRowLease::AllRows(image);
  const CEdgeBand band = CEdgeBand::AroundEdge(rows, 37, 29, 2, false);
  const CEdgeBand grown = band.Grown(1, 1, 36, 28);
  const std::vector<bool> in = Members(band);
  std::vector<bool> expected(in.size(), false);
  for (int y = 1; y < 28; ++y) {
    for (int x = 1; x < 36; ++x) {
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (in[static_cast<size_t>(y + dy) * 37 + (x + dx)])
            expected[static_cast<size_t>(y) * 37 + x] = true;
    }
  }
  EXPECT_EQ(Members(grown), expected);
  ExpectNumbersInRowOrder(grown, expected);
}
