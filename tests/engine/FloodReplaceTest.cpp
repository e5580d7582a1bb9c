#include "engine/FloodReplace.h"

#include <gtest/gtest.h>

#include <queue>
#include <random>
#include <string>
#include <vector>

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"

namespace {

// '#' is 255, '.' is 0, a digit d is d * 10.
CPlane PlaneFromRows(const std::vector<std::string>& rows) {
  CPlane plane(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 1);
  for (int y = 0; y < plane.Height(); ++y) {
    for (int x = 0; x < plane.Width(); ++x) {
      const char ch = rows[y][x];
      plane.At(x, y) = ch == '#' ? 255 : ch == '.' ? 0 : static_cast<uint8_t>((ch - '0') * 10);
    }
  }
  return plane;
}

// Breadth-first fill of the 4-connected area, one pixel at a time.
int ReferenceFill(CPlane& plane, int x, int y, uint8_t newValue) {
  const uint8_t seed = plane.At(x, y);
  if (seed == newValue)
    return 0;
  std::queue<std::pair<int, int>> queue;
  queue.push({x, y});
  plane.At(x, y) = newValue;
  int count = 0;
  while (!queue.empty()) {
    auto [px, py] = queue.front();
    queue.pop();
    ++count;
    const int next[4][2] = {{px - 1, py}, {px + 1, py}, {px, py - 1}, {px, py + 1}};
    for (const auto& n : next) {
      if (n[0] >= 0 && n[1] >= 0 && n[0] < plane.Width() && n[1] < plane.Height() &&
          plane.At(n[0], n[1]) == seed) {
        plane.At(n[0], n[1]) = newValue;
        queue.push({n[0], n[1]});
      }
    }
  }
  return count;
}

bool SamePixels(const CPlane& a, const CPlane& b) {
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.At(x, y) != b.At(x, y))
        return false;
  return true;
}

}  // namespace

TEST(FloodReplaceTest, FillsTheAreaAroundTheSeedAndNothingDiagonal) {
  CPlane plane = PlaneFromRows({
      "##..#",
      "#.#.#",
      ".##..",
      "#...#",
  });
  // (0,0)-(1,0)-(0,1) is one area; (2,1) touches it only at a corner.
  EXPECT_EQ(FloodReplace(plane, 1, 0, 7, plane.Height(), plane.Width()), 3);
  const CPlane expected = [] {
    CPlane p = PlaneFromRows({
        "##..#",
        "#.#.#",
        ".##..",
        "#...#",
    });
    p.At(0, 0) = p.At(1, 0) = p.At(0, 1) = 7;
    return p;
  }();
  EXPECT_TRUE(SamePixels(plane, expected));
}

TEST(FloodReplaceTest, FollowsRunsThatTurnBackUpAndDown) {
  // A spiral-like area whose runs reach back above and below earlier runs.
  CPlane plane = PlaneFromRows({
      ".........",
      ".#######.",
      ".#.....#.",
      ".#.###.#.",
      ".#.#.#.#.",
      ".#.#...#.",
      ".#.#####.",
      ".#.......",
  });
  CPlane expected = plane;
  const int expectedCount = ReferenceFill(expected, 2, 2, 9);
  EXPECT_EQ(FloodReplace(plane, 2, 2, 9, plane.Height(), plane.Width()), expectedCount);
  EXPECT_TRUE(SamePixels(plane, expected));
}

TEST(FloodReplaceTest, NewValueEqualToTheSeedChangesNothing) {
  CPlane plane = PlaneFromRows({"#..", "..#"});
  const CPlane before = plane;
  EXPECT_EQ(FloodReplace(plane, 1, 0, 0, 2, 3), 0);
  EXPECT_TRUE(SamePixels(plane, before));
}

TEST(FloodReplaceTest, SeedOutsideOrSizeBeyondThePlaneIsSafe) {
  CPlane plane = PlaneFromRows({"...", "..."});
  EXPECT_EQ(FloodReplace(plane, -1, 0, 5, 2, 3), 0);
  EXPECT_EQ(FloodReplace(plane, 0, 2, 5, 2, 3), 0);
  // A size larger than the plane is clipped to it.
  EXPECT_EQ(FloodReplace(plane, 0, 0, 5, 100, 100), 6);
}

TEST(FloodReplaceTest, SizeArgumentsLimitTheFill) {
  CPlane plane(4, 4, 1, 0);
  EXPECT_EQ(FloodReplace(plane, 0, 0, 1, 2, 3), 6);
  EXPECT_EQ(plane.At(2, 1), 1);
  EXPECT_EQ(plane.At(3, 0), 0);
  EXPECT_EQ(plane.At(0, 2), 0);
}

TEST(FloodReplaceTest, AgreesWithAPixelByPixelFillOnRandomPlanes) {
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    const int w = 1 + static_cast<int>(random() % 60);
    const int h = 1 + static_cast<int>(random() % 60);
    CPlane plane(w, h, 1);
    const unsigned levels = 2 + random() % 3;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        plane.At(x, y) = static_cast<uint8_t>(random() % levels);
    for (int seed = 0; seed < 10; ++seed) {
      const int x = static_cast<int>(random() % w);
      const int y = static_cast<int>(random() % h);
      const uint8_t value = static_cast<uint8_t>(random() % (levels + 1));
      CPlane expected = plane;
      const int count = ReferenceFill(expected, x, y, value);
      ASSERT_EQ(FloodReplace(plane, x, y, value, h, w), count);
      ASSERT_TRUE(SamePixels(plane, expected));
    }
  }
}

TEST(FloodReplaceTest, LargeAreaIsNotLimitedByRecursion) {
  // A serpentine of 1000 rows: one area of about half a million pixels whose
  // every run links to the next only at one end.
  const int w = 1000;
  const int h = 1000;
  CPlane plane(w, h, 1, 255);
  int expected = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool open = y % 2 == 0 || (y % 4 == 1 ? x == w - 1 : x == 0);
      plane.At(x, y) = open ? 0 : 255;
      expected += open ? 1 : 0;
    }
  }
  EXPECT_EQ(FloodReplace(plane, 0, 0, 100, h, w), expected);
  EXPECT_EQ(plane.At(0, h - 2), 100);
}

TEST(FloodReplaceTest, WorksOnAGreyImage) {
  CCoreImage image;
  CoreResult created = image.CreateGrey(5, 3);
  ASSERT_EQ(ExamineResult(created), 0u);
  CPlane plane = PlaneFromRows({"..#..", "..#..", "..#.."});
  WritePlane(plane, image);
  EXPECT_EQ(FloodReplace(image, 4, 1, 50, 3, 5), 6);
  const CPlane after = ReadPlane(image);
  EXPECT_EQ(after.At(3, 0), 50);
  EXPECT_EQ(after.At(1, 2), 0);
  EXPECT_EQ(after.At(2, 1), 255);
}

TEST(FloodReplaceTest, RefusesAnImageThatIsNotGrey) {
  CCoreImage image;
  CoreResult created = image.CreateBGRA(4, 4);
  ASSERT_EQ(ExamineResult(created), 0u);
  EXPECT_THROW(FloodReplace(image, 0, 0, 1, 4, 4), CJException);
}
