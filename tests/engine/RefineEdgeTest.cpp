#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "TestImages.h"
#include "engine/RefineEdge.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/ProgressScale.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

struct CColour {
  double b, g, r;
};

// A picture composited exactly from a known alpha (rounded to levels), with
// the matte cut from it at one half: what a good hard matte of it is.
struct CComposite {
  int width, height;
  std::vector<double> alpha;
  CCoreImage image;
};

CComposite Composite(int width, int height, const std::function<double(int, int)>& alphaAt,
                     CColour object, CColour background) {
  CComposite c{width, height, {}, {}};
  ThrowIfFailed(c.image.CreateBGRA(width, height));
  for (int y = 0; y < height; ++y) {
    const CRowLease row(c.image, y);
    for (int x = 0; x < width; ++x) {
      const double a = alphaAt(x, y);
      c.alpha.push_back(a);
      uint8_t* p = row.Data() + 4 * x;
      p[0] = static_cast<uint8_t>(std::lround(a * object.b + (1 - a) * background.b));
      p[1] = static_cast<uint8_t>(std::lround(a * object.g + (1 - a) * background.g));
      p[2] = static_cast<uint8_t>(std::lround(a * object.r + (1 - a) * background.r));
      p[3] = a >= 0.5 ? 255 : 0;
    }
  }
  return c;
}

// What the stage sends: the image with every sent pixel written over it,
// and how often each pixel was sent.
struct CRefined {
  uint32_t code = 0;
  std::vector<uint8_t> bgra;
  std::vector<int> sent;
  int calls = 0;
};

CRefined Refine(CCoreImage& image, int edgeWidth, CProgressScale* progress = nullptr) {
  CRefined out;
  out.bgra = AllBytes(image);
  out.sent.assign(static_cast<size_t>(image.Width()) * image.Height(), 0);
  const int width = image.Width();
  CoreResult result = RefineEdge(
      image, edgeWidth,
      [&](int y, int left, int right, const uint8_t* bgra) {
        ++out.calls;
        const size_t at = static_cast<size_t>(y) * width + left;
        std::memcpy(&out.bgra[4 * at], bgra, 4 * static_cast<size_t>(right - left));
        for (int x = left; x < right; ++x) ++out.sent[static_cast<size_t>(y) * width + x];
      },
      progress);
  out.code = ExamineResult(result);
  return out;
}

double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

// Mean |alpha error| in levels over the pixels the stage sent, for the
// stage's alpha and for the hard matte it started from.
void AlphaErrors(const CComposite& c, const CRefined& r, double& refined, double& matte) {
  refined = matte = 0;
  int count = 0;
  for (size_t i = 0; i < c.alpha.size(); ++i) {
    if (!r.sent[i]) continue;
    refined += std::fabs(r.bgra[4 * i + 3] - 255 * c.alpha[i]);
    matte += std::fabs((c.alpha[i] >= 0.5 ? 255 : 0) - 255 * c.alpha[i]);
    ++count;
  }
  refined /= count;
  matte /= count;
}

// Stops at the poll numbered `stopAt`, counting polls; every Step polls.
struct CPollingStop {
  static inline int polls = 0;
  static inline int stopAt = 0;
  static double Clock() {
    static double now = 0;
    return now += 1.0;
  }
  static int Check(CProgressScale&) { return ++polls == stopAt ? 1 : 0; }
};

// A blobby matte over random colours, for the invariants.
void MakeRandomScene(CCoreImage& image, int width, int height, std::mt19937& rng) {
  ThrowIfFailed(image.CreateBGRA(width, height));
  FillRandom(image, rng);
  std::uniform_real_distribution<double> unit(0, 1);
  const double cx = width * unit(rng), cy = height * unit(rng);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double r = std::hypot(x - cx, y - cy) + 4 * std::sin(x * 0.4) * std::cos(y * 0.3);
      SetPixelByte(image, x, y, 3, r < 0.3 * width ? 255 : PixelByte(image, x, y, 3) / 3);
    }
  }
}

}  // namespace

TEST(RefineEdgeTest, KnownAlphaInAWideBandIsRecoveredWithTheObjectsColour) {
  const CColour object{30, 60, 200};
  const CColour background{210, 170, 20};
  // A ramp over 32 columns, and a disc soft over 16 pixels of radius.
  CComposite ramp = Composite(
      96, 40, [](int x, int) { return Clamp01((64.5 - x) / 32.0); }, object, background);
  CComposite disc = Composite(
      96, 96, [](int x, int y) { return Clamp01((36.0 - std::hypot(x - 47.5, y - 47.5)) / 16.0); },
      object, background);
  for (auto [composite, edgeWidth] : {std::pair{&ramp, 20}, std::pair{&disc, 12}}) {
    const CRefined r = Refine(composite->image, edgeWidth);
    ASSERT_EQ(r.code, 0u);
    double refined, matte;
    AlphaErrors(*composite, r, refined, matte);
    EXPECT_GT(matte, 30.0);  // the hard matte is far off: the bound below means something
    EXPECT_LT(refined, 3.0);
    // Where the object shows enough to matter, its colour is the object's.
    double colourError = 0;
    int count = 0;
    for (size_t i = 0; i < composite->alpha.size(); ++i) {
      const uint8_t a = r.bgra[4 * i + 3];
      if (composite->alpha[i] < 0.25 || a == 0 || a == 255) continue;
      colourError +=
          (std::fabs(r.bgra[4 * i] - object.b) + std::fabs(r.bgra[4 * i + 1] - object.g) +
           std::fabs(r.bgra[4 * i + 2] - object.r)) /
          3;
      ++count;
    }
    ASSERT_GT(count, 100);
    EXPECT_LT(colourError / count, 6.0);
  }
}

TEST(RefineEdgeTest, SoftPixelOverGreenLosesTheGreen) {
  CComposite c = Composite(80, 30, [](int x, int) { return Clamp01((56.5 - x) / 24.0); },
                           {128, 128, 128}, {0, 255, 0});
  const CRefined r = Refine(c.image, 16);
  ASSERT_EQ(r.code, 0u);
  const std::vector<uint8_t> picture = AllBytes(c.image);
  double left = 0, before = 0;
  int count = 0;
  for (size_t i = 0; i < c.alpha.size(); ++i) {
    if (c.alpha[i] < 0.2 || c.alpha[i] > 0.8) continue;
    ASSERT_EQ(r.sent[i], 1);
    auto excess = [](const uint8_t* p) { return p[1] - (p[0] + p[2]) / 2.0; };
    before += excess(&picture[4 * i]);
    left += std::max(excess(&r.bgra[4 * i]), 0.0);
    ++count;
  }
  ASSERT_GT(count, 200);
  EXPECT_GT(before / count, 80.0);
  EXPECT_LT(left / before, 0.1);
}

TEST(RefineEdgeTest, EveryPixelNearTheEdgeIsSentOnceAndNoOtherEver) {
  std::mt19937 rng(3);
  for (int edgeWidth : {1, 4, 9}) {
    CCoreImage image;
    MakeRandomScene(image, 53, 47, rng);
    const CRefined r = Refine(image, edgeWidth);
    ASSERT_EQ(r.code, 0u);
    const CRowLease rows = CRowLease::AllRows(image);
    auto object = [&](int x, int y) { return rows.Row(y)[4 * x + 3] >= 128; };
    auto onEdge = [&](int x, int y) {
      const bool o = object(x, y);
      return (x > 0 && object(x - 1, y) != o) || (x < 52 && object(x + 1, y) != o) ||
             (y > 0 && object(x, y - 1) != o) || (y < 46 && object(x, y + 1) != o);
    };
    for (int y = 0; y < 47; ++y) {
      for (int x = 0; x < 53; ++x) {
        bool near = false;
        for (int ey = 0; ey < 47 && !near; ++ey)
          for (int ex = 0; ex < 53 && !near; ++ex)
            near = (ex - x) * (ex - x) + (ey - y) * (ey - y) <= edgeWidth * edgeWidth &&
                   onEdge(ex, ey);
        ASSERT_EQ(r.sent[static_cast<size_t>(y) * 53 + x], near ? 1 : 0) << x << "," << y;
      }
    }
  }
}

TEST(RefineEdgeTest, StopAtAnyPollReturnsAbortedAndSendsNothing) {
  std::mt19937 rng(11);
  CCoreImage image;
  MakeRandomScene(image, 72, 60, rng);
  CProgressScale::SetClockForTesting(&CPollingStop::Clock);
  CProgressScale root;
  root.SetAbortCheck(&CPollingStop::Check);
  int stopAt = 1;
  for (;; ++stopAt) {
    root.InitRoot();
    CPollingStop::polls = 0;
    CPollingStop::stopAt = stopAt;
    const CRefined r = Refine(image, 10, &root);
    if (r.code == 0) break;
    ASSERT_EQ(r.code, static_cast<uint32_t>(keErrAborted)) << "stop at poll " << stopAt;
    ASSERT_EQ(r.calls, 0) << "stop at poll " << stopAt;
    ASSERT_LT(stopAt, 1000);
  }
  CProgressScale::SetClockForTesting(nullptr);
  // Besides the stages and the colour's sweeps (a dozen polls in all), the
  // solve polls on every iteration.
  EXPECT_GT(stopAt, 30);
}

TEST(RefineEdgeTest, WidthsFromOneToFiftyWorkAndOthersAreRefused) {
  // A red disc on blue, so small that at width 50 the band is everything.
  CComposite c =
      Composite(40, 40, [](int x, int y) { return Clamp01(10.5 - std::hypot(x - 19.5, y - 19.5)); },
                {200, 0, 0}, {0, 0, 200});
  for (int edgeWidth : {kEdgeWidthMin, kEdgeWidthMax}) {
    const CRefined r = Refine(c.image, edgeWidth);
    ASSERT_EQ(r.code, 0u);
    EXPECT_EQ(r.sent[20 * 40 + 9], 1);  // on the edge
    EXPECT_EQ(r.sent[0], edgeWidth == kEdgeWidthMax ? 1 : 0);
    EXPECT_EQ(r.bgra[4 * (20 * 40 + 20) + 3], 255);
    EXPECT_EQ(r.bgra[3], 0);
  }
  for (int edgeWidth : {kEdgeWidthMin - 1, kEdgeWidthMax + 1}) {
    const CRefined r = Refine(c.image, edgeWidth);
    EXPECT_EQ(r.code, static_cast<uint32_t>(keErrInvalidArgument));
    EXPECT_EQ(r.calls, 0);
  }
  CCoreImage grey;
  MakeGrey(grey, 20, 20, 255);
  EXPECT_EQ(Refine(grey, 10).code, static_cast<uint32_t>(keErrInvalidArgument));
}

TEST(RefineEdgeTest, MatteWithoutAnEdgeSendsNothing) {
  std::mt19937 rng(2);
  for (uint8_t alpha : {uint8_t{0}, uint8_t{255}}) {
    CCoreImage image;
    ThrowIfFailed(image.CreateBGRA(30, 30));
    FillRandom(image, rng);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 30; ++x) SetPixelByte(image, x, y, 3, alpha);
    const CRefined r = Refine(image, 10);
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(r.calls, 0);
  }
}

TEST(RefineEdgeTest, SameBytesEveryRunHoweverTheRowsAreSplit) {
  std::mt19937 rng(21);
  CCoreImage image;
  MakeRandomScene(image, 150, 140, rng);
  SetBandsForTesting(1);
  const CRefined one = Refine(image, 7);
  SetBandsForTesting(3);
  const CRefined three = Refine(image, 7);
  SetBandsForTesting(0);
  const CRefined again = Refine(image, 7);
  ASSERT_EQ(one.code, 0u);
  EXPECT_GT(one.calls, 0);
  EXPECT_EQ(three.bgra, one.bgra);
  EXPECT_EQ(again.bgra, one.bgra);
}

TEST(RefineEdgeTest, ViewOfOtherStorageGivesWhatItsCopyGives) {
  // Grey storage with alpha, seen through a BGRA view whose rows are
  // converted on access: the stage then keeps to one thread.
  CCoreImage viewed;
  ThrowIfFailed(viewed.CreateGreyA(70, 50));
  for (int y = 0; y < 50; ++y) {
    const CRowLease row(viewed, y);
    for (int x = 0; x < 70; ++x) {
      const double a = Clamp01((18.0 - std::hypot(x - 34.5, y - 24.5)) / 6.0);
      row.Data()[2 * x] = static_cast<uint8_t>(std::lround(40 + 180 * a));
      row.Data()[2 * x + 1] = a >= 0.5 ? 255 : 0;
    }
  }
  ThrowIfFailed(viewed.SetViewFormat(keFormatBGRA, keAccessRead));
  ASSERT_TRUE(viewed.HasRowCache());
  CCoreImage copy;
  ThrowIfFailed(copy.CopyFrom(viewed));
  ASSERT_FALSE(copy.HasRowCache());
  const CRefined fromView = Refine(viewed, 8);
  const CRefined fromCopy = Refine(copy, 8);
  ASSERT_EQ(fromView.code, 0u);
  EXPECT_GT(fromView.calls, 0);
  EXPECT_EQ(fromView.bgra, fromCopy.bgra);
}
