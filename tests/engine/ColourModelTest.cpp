#include "engine/ColourModel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "TestImages.h"
#include "engine/ClassifyRegions.h"
#include "engine/ImageChannels.h"
#include "engine/Marks.h"
#include "engine/MattePipeline.h"
#include "imagecore/ProgressScale.h"
#include "imagecore/RowBands.h"

namespace {

constexpr int kWidth = 120;
constexpr int kHeight = 90;

struct CColour {
  uint8_t b, g, r;
};
constexpr CColour kSky{230, 180, 60};
constexpr CColour kGrass{60, 170, 90};
constexpr CColour kRed{40, 40, 200};

// A picture painted by `colourAt`, with a little noise as a photograph has.
template <class Fn>
CCoreImage Paint(Fn colourAt, unsigned seed = 7) {
  std::mt19937 random(seed);
  CCoreImage image;
  MakeBGRA(image, kWidth, kHeight, 0, 0, 0, 255);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const CColour c = colourAt(x, y);
      const uint8_t channels[3] = {c.b, c.g, c.r};
      for (int k = 0; k < 3; ++k) {
        const int noisy = channels[k] + static_cast<int>(random() % 9) - 4;
        SetPixelByte(image, x, y, k, static_cast<uint8_t>(std::clamp(noisy, 0, 255)));
      }
    }
  }
  return image;
}

// Sky on the left, grass on the right, a red post from top to bottom
// between them: the two backgrounds never touch.
CCoreImage SplitBackground() {
  return Paint([](int x, int) { return x >= 50 && x < 70 ? kRed : x < 50 ? kSky : kGrass; });
}

// Sky with a red frame whose hole shows the sky.
bool InFrame(int x, int y) {
  const bool outer = x >= 30 && x < 90 && y >= 20 && y < 70;
  const bool hole = x >= 45 && x < 75 && y >= 35 && y < 55;
  return outer && !hole;
}
CCoreImage FramedSky() { return Paint([](int x, int y) { return InFrame(x, y) ? kRed : kSky; }); }

CCoreImage Marks(std::initializer_list<std::pair<int, int>> background,
                 std::initializer_list<std::pair<int, int>> object) {
  CCoreImage marks;
  MakeGrey(marks, kWidth, kHeight, keMarkNone);
  for (auto [x, y] : background) SetPixelByte(marks, x, y, 0, keMarkBackground);
  for (auto [x, y] : object) SetPixelByte(marks, x, y, 0, keMarkObject);
  return marks;
}

// A background stroke down the left edge only, an object stroke on the post.
CCoreImage LeftEdgeAndPost() {
  CCoreImage marks = Marks({}, {});
  for (int y = 0; y < kHeight; ++y) SetPixelByte(marks, 2, y, 0, keMarkBackground);
  for (int y = 30; y < 60; ++y) SetPixelByte(marks, 60, y, 0, keMarkObject);
  return marks;
}

// The picture's whole border as background, a stroke along the frame's top.
CCoreImage BorderAndFrame() {
  CCoreImage marks = Marks({}, {});
  for (int x = 0; x < kWidth; ++x) {
    SetPixelByte(marks, x, 0, 0, keMarkBackground);
    SetPixelByte(marks, x, kHeight - 1, 0, keMarkBackground);
  }
  for (int y = 0; y < kHeight; ++y) {
    SetPixelByte(marks, 0, y, 0, keMarkBackground);
    SetPixelByte(marks, kWidth - 1, y, 0, keMarkBackground);
  }
  for (int x = 35; x < 85; ++x) SetPixelByte(marks, x, 25, 0, keMarkObject);
  return marks;
}

// The whole run on a picture, as the filter makes it; the result's alpha.
CPlane RunFilter(const CCoreImage& picture, const CCoreImage& marks, bool colourModel,
           CProgressScale& progress, ERunEnd* end = nullptr) {
  CCoreImage source;
  ThrowIfFailed(source.CopyFrom(picture));
  CCoreImage result;
  ThrowIfFailed(result.CopyFrom(picture));
  CRunInputs in;
  ThrowIfFailed(in.base.CopyFrom(picture));
  CCoreImage marksCopy;
  ThrowIfFailed(marksCopy.CopyFrom(marks));
  in.marks.emplace(marksCopy);
  in.params.strength = 30;
  in.params.featherWidth = 0;
  in.params.colourModel = colourModel;
  CRunOutputs out;
  const ERunEnd ended = RunMattePipeline(in, source, result, progress, out);
  if (end) *end = ended;
  return AlphaPlane(result);
}

CPlane RunFilter(const CCoreImage& picture, const CCoreImage& marks, bool colourModel) {
  CProgressScale progress;
  return RunFilter(picture, marks, colourModel, progress);
}

// Share of the pixels in [x0, x1) x [y0, y1) that the matte keeps.
double KeptShare(const CPlane& matte, int x0, int x1, int y0, int y1) {
  int kept = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) kept += matte.At(x, y) >= 128;
  }
  return static_cast<double>(kept) / ((x1 - x0) * (y1 - y0));
}

// The stage's own inputs, with the classification the filter would make.
struct CStageScene {
  CPlane colours;
  CPlane texture;
  CPlane marks;
  CPlane decided;
  CPlane matte;

  CStageScene(const CCoreImage& picture, CCoreImage marksImage) {
    CCoreImage work;
    ThrowIfFailed(work.CopyFrom(picture));
    CCoreImage texture0;
    MakeGrey(texture0, kWidth, kHeight, 0);
    ClassifyRegions(work, work, texture0, marksImage, 30, 255, &decided);
    colours = ReadPlane(work);
    matte = AlphaPlane(work);
    texture = CPlane(kWidth, kHeight, 1, 0);
    marks = ReadPlane(marksImage);
  }
  std::vector<const uint8_t*> rows;
  CColourModelInputs Inputs() {
    rows.resize(kHeight);
    for (int y = 0; y < kHeight; ++y) rows[y] = colours.Row(y);
    return {rows, texture, marks, decided};
  }
};

}  // namespace

TEST(ColourModel, BackgroundOfTwoColoursMarkedOnOneSideGoesOnBothSides) {
  const CCoreImage picture = SplitBackground();
  const CPlane without = RunFilter(picture, LeftEdgeAndPost(), false);
  EXPECT_GT(KeptShare(without, 75, 120, 0, 90), 0.99) << "the regions never reach the grass";

  const CPlane with = RunFilter(picture, LeftEdgeAndPost(), true);
  EXPECT_LT(KeptShare(with, 0, 48, 0, 90), 0.01);
  EXPECT_LT(KeptShare(with, 72, 120, 0, 90), 0.01);
  EXPECT_GT(KeptShare(with, 52, 68, 0, 90), 0.99);
}

TEST(ColourModel, BackgroundEnclosedByTheObjectGoes) {
  const CCoreImage picture = FramedSky();
  const CPlane without = RunFilter(picture, BorderAndFrame(), false);
  EXPECT_GT(KeptShare(without, 47, 73, 37, 53), 0.99) << "no region reaches the hole";

  const CPlane with = RunFilter(picture, BorderAndFrame(), true);
  EXPECT_LT(KeptShare(with, 47, 73, 37, 53), 0.01);
  EXPECT_LT(KeptShare(with, 0, 120, 0, 15), 0.01);
  EXPECT_GT(KeptShare(with, 32, 88, 22, 33), 0.99);
  EXPECT_GT(KeptShare(with, 32, 43, 22, 68), 0.99);
}

// Strokes across the wrong colours: the object marked on the sky, the sky
// marked on the post. Whatever the models say, marks keep their side, also
// where the cut is solved on a reduced picture and then in a band.
TEST(ColourModel, MarkedPixelsNeverChangeSide) {
  CCoreImage marks = LeftEdgeAndPost();
  for (int x = 5; x < 45; ++x) SetPixelByte(marks, x, 10 + x / 3, 0, keMarkObject);
  for (int y = 40; y < 50; ++y) SetPixelByte(marks, 55, y, 0, keMarkBackground);
  SetPixelByte(marks, 100, 80, 0, keMarkObject);
  for (double reduced : {1e9, 1200.0}) {
    CStageScene scene(SplitBackground(), marks);
    CColourModelInputs inputs = scene.Inputs();
    inputs.reducedPixels = reduced;
    inputs.regionsEdgeReach = 12;
    ASSERT_TRUE(ColourModelMatte(inputs, scene.matte, nullptr));
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const uint8_t m = scene.marks.At(x, y);
        const uint8_t a = scene.matte.At(x, y);
        ASSERT_TRUE(a == 0 || a == 255) << x << "," << y;
        if (m == keMarkObject) {
          ASSERT_EQ(a, 255) << x << "," << y << " reduced " << reduced;
        } else if (m == keMarkBackground) {
          ASSERT_EQ(a, 0) << x << "," << y << " reduced " << reduced;
        }
      }
    }
  }
}

// Reduced to a ninth and cut again in a band at full size, the split
// background still goes, the post stays, and the edge stays at the post.
TEST(ColourModel, ReducedCutRefinedInABandFindsTheSameEdge) {
  CStageScene full(SplitBackground(), LeftEdgeAndPost());
  CStageScene banded(SplitBackground(), LeftEdgeAndPost());
  ASSERT_TRUE(ColourModelMatte(full.Inputs(), full.matte, nullptr));
  CColourModelInputs inputs = banded.Inputs();
  inputs.reducedPixels = kWidth * kHeight / 9.0;
  ASSERT_TRUE(ColourModelMatte(inputs, banded.matte, nullptr));
  int differ = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) differ += full.matte.At(x, y) != banded.matte.At(x, y);
  }
  EXPECT_LT(differ, kHeight) << "at most a pixel a row";
  EXPECT_LT(KeptShare(banded.matte, 72, 120, 0, 90), 0.01);
  EXPECT_GT(KeptShare(banded.matte, 52, 68, 0, 90), 0.99);
}

TEST(ColourModel, SameMatteHoweverTheRowsAreSplit) {
  std::vector<std::vector<uint8_t>> mattes;
  for (int bands : {1, 3}) {
    SetBandsForTesting(bands);
    CStageScene scene(FramedSky(), BorderAndFrame());
    CColourModelInputs inputs = scene.Inputs();
    inputs.reducedPixels = 2000;
    ASSERT_TRUE(ColourModelMatte(inputs, scene.matte, nullptr));
    mattes.emplace_back(scene.matte.Data(), scene.matte.Data() + kWidth * kHeight);
  }
  SetBandsForTesting(0);
  EXPECT_EQ(mattes[0], mattes[1]);
}

// A badge on the post in a colour no stroke crossed, shaded into the post
// as a patch sewn on is: neither model explains its colour, so the
// picture's edges decide it, and the shading joins it to the post. The sky
// and the grass, colours no object stroke crossed either, meet the post at
// a sharp edge and go.
TEST(ColourModel, AColourNeitherModelExplainsGoesWithItsSoftEdges) {
  static constexpr CColour kPurple{170, 50, 120};
  static constexpr int kShading = 3;
  const CCoreImage picture = Paint([](int x, int y) {
    if (x < 50 || x >= 70) return x < 50 ? kSky : kGrass;
    const int inside = std::min({x - 52, 67 - x, y - 62, 86 - y});
    if (inside < 0) return kRed;
    const int t = std::min(inside + 1, kShading);
    auto mix = [t](uint8_t a, uint8_t b) {
      return static_cast<uint8_t>((a * (kShading - t) + b * t) / kShading);
    };
    return CColour{mix(kRed.b, kPurple.b), mix(kRed.g, kPurple.g), mix(kRed.r, kPurple.r)};
  });
  CStageScene scene(picture, LeftEdgeAndPost());
  EXPECT_GT(KeptShare(scene.matte, 53, 67, 63, 86), 0.99);
  for (int y = 63; y < 86; ++y) {
    for (int x = 53; x < 67; ++x) {
      ASSERT_EQ(scene.decided.At(x, y), keRegionUndecided) << "no region reaches " << x << "," << y;
    }
  }
  ASSERT_TRUE(ColourModelMatte(scene.Inputs(), scene.matte, nullptr));
  EXPECT_GT(KeptShare(scene.matte, 53, 67, 63, 86), 0.99);
  EXPECT_LT(KeptShare(scene.matte, 0, 48, 0, 90), 0.01);
  EXPECT_LT(KeptShare(scene.matte, 72, 120, 0, 90), 0.01);
}

// The regions kept three columns of sky beside the post, as they keep the
// mixed pixels along hair, and a block of sky far from it. Before Refine
// Edge, which looks for the soft edge within its width of the edge, the
// columns stay; the block goes whatever follows.
TEST(ColourModel, BeforeRefineEdgeTheRegionsEdgeStandsNearTheCutsEdge) {
  auto keptByRegions = [](int x, int y) {
    return (x >= 47 && x < 50) || (x >= 10 && x < 24 && y >= 30 && y < 44);
  };
  for (int reach : {0, 5}) {
    CStageScene scene(SplitBackground(), LeftEdgeAndPost());
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < 50; ++x) {
        if (keptByRegions(x, y)) scene.matte.At(x, y) = 255;
      }
    }
    CColourModelInputs inputs = scene.Inputs();
    inputs.regionsEdgeReach = reach;
    ASSERT_TRUE(ColourModelMatte(inputs, scene.matte, nullptr));
    EXPECT_LT(KeptShare(scene.matte, 10, 24, 30, 44), 0.01) << "reach " << reach;
    EXPECT_GT(KeptShare(scene.matte, 52, 68, 0, 90), 0.99) << "reach " << reach;
    if (reach == 0) {
      EXPECT_LT(KeptShare(scene.matte, 47, 50, 0, 90), 0.05) << "the cut follows the colours";
    } else {
      EXPECT_GT(KeptShare(scene.matte, 47, 50, 0, 90), 0.99);
      EXPECT_LT(KeptShare(scene.matte, 30, 44, 0, 90), 0.01);
    }
  }
}

// Only background marked: nothing tells what the object looks like.
TEST(ColourModel, WithoutObjectEvidenceTheMatteStays) {
  CStageScene scene(SplitBackground(), Marks({{2, 2}, {2, 50}}, {}));
  const std::vector<uint8_t> before(scene.matte.Data(), scene.matte.Data() + kWidth * kHeight);
  ASSERT_TRUE(ColourModelMatte(scene.Inputs(), scene.matte, nullptr));
  EXPECT_EQ(std::vector<uint8_t>(scene.matte.Data(), scene.matte.Data() + kWidth * kHeight),
            before);
}

namespace {

struct CStopAtPoll {
  static inline int polls = 0;
  static inline int stopAt = 0;
  static inline std::vector<int> rootSteps;
  static double Clock() {
    static double now = 0;
    return now += 1.0;
  }
  static int Check(CProgressScale& scale) {
    if (scale.IsRoot()) rootSteps.push_back(scale.StepIndex());
    return ++polls == stopAt ? 1 : 0;
  }
};

}  // namespace

// The stage stops at any of its polls and leaves the matte as it was; in a
// run it is one more step, and a stop there ends the run with no result.
TEST(ColourModel, StopsAtEveryRoundAndIsOneStepOfTheRun) {
  CProgressScale::SetClockForTesting(&CStopAtPoll::Clock);
  CProgressScale root;
  root.SetAbortCheck(&CStopAtPoll::Check);
  int stopAt = 1;
  for (;; ++stopAt) {
    CStageScene scene(FramedSky(), BorderAndFrame());
    const CPlane before = scene.matte;
    root.InitRoot();
    CStopAtPoll::polls = 0;
    CStopAtPoll::stopAt = stopAt;
    if (ColourModelMatte(scene.Inputs(), scene.matte, &root)) break;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) ASSERT_EQ(scene.matte.At(x, y), before.At(x, y));
    }
    ASSERT_LT(stopAt, 100);
  }
  EXPECT_GE(stopAt, 3) << "a poll before the first round and at each round";

  CProgressScale progress;
  progress.SetAbortCheck(&CStopAtPoll::Check);
  CStopAtPoll::stopAt = 0;
  CStopAtPoll::rootSteps.clear();
  ERunEnd end;
  RunFilter(FramedSky(), BorderAndFrame(), true, progress, &end);
  EXPECT_EQ(end, ERunEnd::kDone);
  EXPECT_EQ(CStopAtPoll::rootSteps, (std::vector<int>{1, 2, 3, 4, 5, 6}));

  CStopAtPoll::polls = 0;
  CStopAtPoll::stopAt = 5;  // within the stage, past the run's own first steps
  CProgressScale stopped;
  stopped.SetAbortCheck(&CStopAtPoll::Check);
  RunFilter(FramedSky(), BorderAndFrame(), true, stopped, &end);
  EXPECT_EQ(end, ERunEnd::kAborted);
  CProgressScale::SetClockForTesting(nullptr);
}
