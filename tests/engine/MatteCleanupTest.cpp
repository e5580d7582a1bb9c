#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/CleanMatte.h"
#include "engine/KeepMarkedObjects.h"
#include "engine/Marks.h"
#include "engine/RowSearch.h"
#include "engine/Plane.h"
#include "engine/RemoveMarkedBackground.h"
#include "engine/RemoveSmallIslands.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/ProgressScale.h"

namespace {

// Matte rows: '#' 255, '.' 0, a digit d is d * 10.
CPlane Matte(const std::vector<std::string>& rows) {
  CPlane plane(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 1);
  for (int y = 0; y < plane.Height(); ++y)
    for (int x = 0; x < plane.Width(); ++x) {
      const char ch = rows[y][x];
      plane.At(x, y) = ch == '#' ? 255 : ch == '.' ? 0 : static_cast<uint8_t>((ch - '0') * 10);
    }
  return plane;
}

// Marks rows: 'b' background, 'o' object, anything else none.
CPlane Marks(const std::vector<std::string>& rows) {
  CPlane plane(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 1);
  for (int y = 0; y < plane.Height(); ++y)
    for (int x = 0; x < plane.Width(); ++x) {
      const char ch = rows[y][x];
      plane.At(x, y) = ch == 'b' ? keMarkBackground : ch == 'o' ? keMarkObject : keMarkNone;
    }
  return plane;
}

int CountNonzero(const CPlane& plane) {
  int n = 0;
  for (int y = 0; y < plane.Height(); ++y)
    for (int x = 0; x < plane.Width(); ++x)
      n += plane.At(x, y) != 0 ? 1 : 0;
  return n;
}

void FillRect(CPlane& plane, int left, int top, int width, int height, uint8_t value) {
  for (int y = top; y < top + height; ++y)
    for (int x = left; x < left + width; ++x)
      plane.At(x, y) = value;
}

uint32_t Code(CoreResult result) { return ExamineResult(result); }

// A clock that moves on a second per reading, so that every Step reports.
double FastClock() {
  static double now = 0.0;
  return now += 1.0;
}

int AskToStop(CProgressScale&) { return 1; }

class CStoppingMeter {
 public:
  CStoppingMeter() {
    CProgressScale::SetClockForTesting(&FastClock);
    m_root.InitRoot();
    m_root.SetAbortCheck(&AskToStop);
  }
  ~CStoppingMeter() { CProgressScale::SetClockForTesting(nullptr); }
  CProgressScale* Scale() { return &m_root; }

 private:
  CProgressScale m_root;
};

}  // namespace

TEST(RemoveSmallIslandsTest, SpeckOf600IsErasedAndOneOf601Stays) {
  CPlane matte(80, 40, 1, 0);
  FillRect(matte, 2, 2, 20, 30, 255);   // 600 pixels
  FillRect(matte, 40, 2, 20, 30, 255);  // 600 + 1 below
  matte.At(40, 32) = 255;
  ASSERT_EQ(Code(RemoveSmallIslands(matte, 600)), 0u);
  EXPECT_EQ(matte.At(10, 10), 0);
  EXPECT_EQ(matte.At(50, 10), 255);
  EXPECT_EQ(CountNonzero(matte), 601);
}

TEST(RemoveSmallIslandsTest, AreasTouchingAtACornerAreTwoComponents) {
  CPlane matte(60, 40, 1, 0);
  FillRect(matte, 5, 5, 20, 15, 255);   // 300 pixels
  FillRect(matte, 25, 20, 20, 15, 255); // 300 pixels, meets the first at a corner
  ASSERT_EQ(Code(RemoveSmallIslands(matte, 500)), 0u);
  EXPECT_EQ(CountNonzero(matte), 0);
}

TEST(RemoveSmallIslandsTest, KeptAreasKeepTheirValues) {
  CPlane matte = Matte({
      "..........",
      ".5555#....",
      ".5555#...#",
      "..........",
  });
  const CPlane before = matte;
  ASSERT_EQ(Code(RemoveSmallIslands(matte, 1)), 0u);
  EXPECT_EQ(matte.At(9, 2), 0);
  for (int x = 1; x <= 5; ++x)
    EXPECT_EQ(matte.At(x, 1), before.At(x, 1));
}

TEST(RemoveSmallIslandsTest, SizeZeroKeepsOnlyTheLargestAndTheLaterOfEqualOnes) {
  CPlane matte = Matte({
      "##..##..###",
      "##..##.....",
      "...........",
      "#..........",
  });
  CPlane tie = matte;
  ASSERT_EQ(Code(RemoveSmallIslands(matte, 0)), 0u);
  EXPECT_EQ(CountNonzero(matte), 4);
  // Both 2 x 2 squares have 4 pixels; the one met later in row order wins.
  EXPECT_EQ(matte.At(0, 0), 0);
  EXPECT_EQ(matte.At(4, 1), 255);

  tie.At(8, 1) = 255;  // the 3-pixel bar grows to 4 and is met last of all
  ASSERT_EQ(Code(RemoveSmallIslands(tie, 0)), 0u);
  EXPECT_EQ(tie.At(8, 1), 255);
  EXPECT_EQ(tie.At(4, 1), 0);
}

TEST(RemoveSmallIslandsTest, StopRequestGives100AndLeavesTheMatte) {
  CStoppingMeter meter;
  CPlane matte(30, 30, 1, 0);
  matte.At(3, 3) = 255;
  const CPlane before = matte;
  EXPECT_EQ(Code(RemoveSmallIslands(matte, 600, meter.Scale())), 100u);
  EXPECT_EQ(matte.At(3, 3), before.At(3, 3));
}

TEST(KeepMarkedObjectsTest, UnmarkedOpaqueAreaIsErasedHoweverLarge) {
  CPlane matte(200, 100, 1, 0);
  FillRect(matte, 0, 0, 40, 40, 255);
  FillRect(matte, 60, 0, 140, 100, 255);  // large, but without an object mark
  CPlane marks(200, 100, 1, keMarkNone);
  marks.At(10, 10) = keMarkObject;
  marks.At(50, 50) = keMarkBackground;
  ASSERT_EQ(Code(KeepMarkedObjects(matte, marks, 1)), 0u);
  EXPECT_EQ(CountNonzero(matte), 40 * 40);
  EXPECT_EQ(matte.At(100, 50), 0);
}

TEST(KeepMarkedObjectsTest, BackgroundMarkInsideAnAreaErasesOnlyItsPixels) {
  CPlane matte = Matte({
      "########",
      "########",
      "########",
      "########",
  });
  const CPlane marks = Marks({
      "o.......",
      "..bb....",
      "...b....",
      "........",
  });
  ASSERT_EQ(Code(KeepMarkedObjects(matte, marks, 1)), 0u);
  EXPECT_EQ(CountNonzero(matte), 32 - 3);
  EXPECT_EQ(matte.At(2, 1), 0);
  EXPECT_EQ(matte.At(7, 3), 255);
}

TEST(KeepMarkedObjectsTest, DiagonalBackgroundStrokeCutsTheArea) {
  // Kept pixels on either side of a diagonal line meet only at corners.
  CPlane matte(6, 6, 1, 255);
  const CPlane marks = Marks({
      "o....b",
      "....b.",
      "...b..",
      "..b...",
      ".b....",
      "b.....",
  });
  ASSERT_EQ(Code(KeepMarkedObjects(matte, marks, 1)), 0u);
  EXPECT_EQ(matte.At(0, 0), 255);
  EXPECT_EQ(matte.At(4, 0), 255);
  EXPECT_EQ(matte.At(5, 5), 0);
  EXPECT_EQ(matte.At(2, 4), 0);
  EXPECT_EQ(CountNonzero(matte), 15);
}

TEST(KeepMarkedObjectsTest, BelowThresholdPixelsSeparateAndSurvivorsKeepValues) {
  CPlane matte = Matte({
      "55.55",
      "55.55",
  });
  const CPlane marks = Marks({
      ".....",
      "o....",
  });
  ASSERT_EQ(Code(KeepMarkedObjects(matte, marks, 1)), 0u);
  EXPECT_EQ(matte.At(1, 0), 50);
  EXPECT_EQ(matte.At(3, 0), 0);
}

TEST(KeepMarkedObjectsTest, StopRequestGives100AndLeavesTheMatte) {
  CStoppingMeter meter;
  CPlane matte(20, 20, 1, 255);
  CPlane marks(20, 20, 1, keMarkNone);
  marks.At(0, 0) = keMarkBackground;
  const CPlane before = matte;
  EXPECT_EQ(Code(KeepMarkedObjects(matte, marks, 1, meter.Scale())), 100u);
  EXPECT_EQ(matte.At(0, 0), before.At(0, 0));
  EXPECT_EQ(matte.At(5, 5), 255);
}

TEST(KeepMarkedObjectsTest, ChildMeterCoversTheCallersStage) {
  CProgressScale root;
  root.InitRoot();
  root.SetStageCount(4);
  CPlane matte(8, 8, 1, 255);
  CPlane marks(8, 8, 1, keMarkObject);
  ASSERT_EQ(Code(KeepMarkedObjects(matte, marks, 1, &root)), 0u);
  // The child ends with the call and moves its parent on by one stage.
  EXPECT_EQ(root.Stage(), 1);
  EXPECT_EQ(root.Child(), nullptr);
}

TEST(KeepMarkedObjectsTest, MismatchedSizesAreRefused) {
  CPlane matte(8, 8, 1, 255);
  CPlane marks(8, 7, 1, keMarkObject);
  EXPECT_EQ(Code(KeepMarkedObjects(matte, marks, 1)), 101u);
}

TEST(RemoveMarkedBackgroundTest, ErasesFaintAreasThatHoldABackgroundMark) {
  CPlane matte = Matte({
      "555#555",
      "555#555",
      "###9###",
      "555#888",
  });
  const CPlane marks = Marks({
      ".......",
      ".b.....",
      "...b...",
      "......b",
  });
  RemoveMarkedBackground(matte, marks, 100);
  const CPlane expected = Matte({
      "...#555",
      "...#555",
      "###.###",
      "555#...",
  });
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 7; ++x)
      EXPECT_EQ(matte.At(x, y), expected.At(x, y)) << x << "," << y;
}

TEST(RemoveMarkedBackgroundTest, BinaryMatteIsUnchanged) {
  CPlane matte = Matte({
      "..##",
      ".###",
      "....",
  });
  const CPlane marks = Marks({
      "bbbb",
      "b.b.",
      "..bb",
  });
  const CPlane before = matte;
  RemoveMarkedBackground(matte, marks, 100);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(matte.At(x, y), before.At(x, y));
}

TEST(MatteCleanupImageTest, ImageCallsWorkOnGreyImagesInPlace) {
  CCoreImage matte;
  CCoreImage marks;
  CoreResult created = matte.CreateGrey(40, 20);
  ASSERT_EQ(ExamineResult(created), 0u);
  created = marks.CreateGrey(40, 20);
  ASSERT_EQ(ExamineResult(created), 0u);
  CPlane m(40, 20, 1, 0);
  FillRect(m, 1, 1, 10, 10, 255);
  FillRect(m, 20, 1, 10, 10, 255);
  FillRect(m, 35, 15, 2, 2, 40);
  WritePlane(m, matte);
  CPlane k(40, 20, 1, keMarkNone);
  k.At(5, 5) = keMarkObject;
  k.At(0, 0) = keMarkBackground;
  k.At(36, 16) = keMarkBackground;
  WritePlane(k, marks);

  RemoveMarkedBackground(matte, marks, 100);
  EXPECT_EQ(ReadPlane(matte).At(35, 15), 0);
  EXPECT_EQ(Code(KeepMarkedObjects(matte, marks, 1)), 0u);
  CPlane after = ReadPlane(matte);
  EXPECT_EQ(after.At(5, 5), 255);
  EXPECT_EQ(after.At(25, 5), 0);
  EXPECT_EQ(Code(RemoveSmallIslands(matte, 99)), 0u);
  EXPECT_EQ(CountNonzero(ReadPlane(matte)), 100);
  EXPECT_EQ(Code(RemoveSmallIslands(matte, 100)), 0u);
  EXPECT_EQ(CountNonzero(ReadPlane(matte)), 0);
}

namespace {

bool SameBytes(const CPlane& a, const CPlane& b) {
  return std::memcmp(a.Data(), b.Data(), a.Stride() * static_cast<size_t>(a.Height())) == 0;
}

// Blobs of opaque, soft and clear values with marks strewn over them: the
// shapes a classification leaves, at random.
void RandomScene(std::mt19937& rng, CPlane& matte, CPlane& marks, bool soft) {
  std::uniform_int_distribution<int> coordinate(0, matte.Width() - 1);
  std::uniform_int_distribution<int> side(1, 12);
  std::uniform_int_distribution<int> strong(100, 255);
  std::uniform_int_distribution<int> faint(1, 99);
  std::uniform_int_distribution<int> kind(0, 2);
  std::memset(matte.Data(), 0, matte.Stride() * static_cast<size_t>(matte.Height()));
  std::memset(marks.Data(), keMarkNone, marks.Stride() * static_cast<size_t>(marks.Height()));
  for (int blob = 0; blob < 60; ++blob) {
    const int x = coordinate(rng);
    const int y = coordinate(rng);
    const int k = kind(rng);
    const uint8_t value = k == 0 ? 0 : k == 1 || !soft ? static_cast<uint8_t>(strong(rng)) : static_cast<uint8_t>(faint(rng));
    FillRect(matte, x, y, std::min(side(rng), matte.Width() - x), std::min(side(rng), matte.Height() - y), value);
  }
  for (int mark = 0; mark < 80; ++mark)
    marks.At(coordinate(rng), coordinate(rng)) = kind(rng) == 0 ? keMarkObject : keMarkBackground;
}

}  // namespace

// The clean-up leaves the marked-background search out on mattes without
// faint values: on random scenes, binary and soft, it must give what the two
// stages give in full, and the search must change nothing where it is left out.
TEST(CleanMatteTest, LeavingTheBackgroundSearchOutOfAMatteWithoutFaintValuesChangesNothing) {
  std::mt19937 rng(20261209);
  int leftOut = 0;
  int searchMattered = 0;
  for (int round = 0; round < 400; ++round) {
    CPlane matte(48, 48, 1);
    CPlane marks(48, 48, 1);
    RandomScene(rng, matte, marks, round % 2 == 1);
    const CMarkKinds kinds{round % 3 != 0, round % 3 != 1};

    CPlane searched = matte;
    RemoveMarkedBackground(searched, marks, 100);
    if (!HasFaintValues(matte)) {
      ++leftOut;
      EXPECT_TRUE(SameBytes(searched, matte)) << "round " << round;
    } else {
      searchMattered += SameBytes(searched, matte) ? 0 : 1;
    }
    CPlane full = searched;
    ASSERT_TRUE((kinds.object && kinds.background ? KeepMarkedObjects(full, marks, 1, nullptr)
                                                  : RemoveSmallIslands(full, 600, nullptr))
                    .IsNull());
    CleanMatte(matte, marks, kinds);
    EXPECT_TRUE(SameBytes(matte, full)) << "round " << round;
  }
  EXPECT_GT(leftOut, 100);
  EXPECT_GT(searchMattered, 0);
}

TEST(CleanMatteTest, OnlyValuesAboveZeroAndBelowTheBackgroundThresholdAreFaint) {
  CPlane matte = Matte({"#9..", "..##"});
  EXPECT_FALSE(HasFaintValues(Matte({"#...", "..##"})));
  EXPECT_TRUE(HasFaintValues(matte));
  matte.At(1, 0) = 100;
  EXPECT_FALSE(HasFaintValues(matte));
  matte.At(1, 0) = 1;
  EXPECT_TRUE(HasFaintValues(matte));
}

// The stages start their floods from the marks a search finds: every mark of
// the kind, in order, the row's first and last pixels included, nothing past
// the row's end.
TEST(MarksTest, EachMarkOfAKindIsVisitedOnceInOrder) {
  std::mt19937 random(3);
  for (int round = 0; round < 200; ++round) {
    const int n = static_cast<int>(random() % 40);
    std::vector<uint8_t> row(static_cast<size_t>(n) + 8, keMarkObject);  // past the end: marks that must not count
    for (int x = 0; x < n; ++x) row[x] = static_cast<uint8_t>(random() % 3);
    for (const uint8_t kind : {keMarkBackground, keMarkObject}) {
      std::vector<int> expected;
      for (int x = 0; x < n; ++x)
        if (row[x] == kind) expected.push_back(x);
      std::vector<int> visited;
      ForEachByteOf(row.data(), n, kind, [&](int x) { visited.push_back(x); });
      EXPECT_EQ(visited, expected) << "round " << round;
    }
  }
}

// Hole filling's size classes rely on it: a flood started from one pixel
// relabels others further along the row, and the search must not start
// another flood from them.
TEST(MarksTest, TheSearchGoesOnOverTheRowAsTheBodyLeftIt) {
  std::vector<uint8_t> row = {7, 0, 7, 7, 0, 7, 0, 0, 7};
  std::vector<int> visited;
  ForEachByteOf(row.data(), static_cast<int>(row.size()), 7, [&](int x) {
    visited.push_back(x);
    // Each visit clears the next 7 along, as a flood over it would.
    for (size_t i = static_cast<size_t>(x) + 1; i < row.size(); ++i) {
      if (row[i] == 7) {
        row[i] = 1;
        break;
      }
    }
  });
  EXPECT_EQ(visited, (std::vector<int>{0, 3, 8}));
}
