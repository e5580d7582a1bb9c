#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "TestImages.h"
#include "WindowReference.h"
#include "engine/LocalDeviation.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/ProgressScale.h"
#include "imagecore/RowBands.h"

namespace {

uint32_t Code(CoreResult result) { return ExamineResult(result); }

// The deviation exactly as defined, on running double sums of values and of
// squares: per window row a running horizontal sum over a reflected line,
// divided by n and accumulated per column; the column sums slide by
// subtracting the leaving row and adding the entering one.
std::vector<uint8_t> PlainDeviation(const std::vector<uint8_t>& plane, int width, int height,
                                    int n) {
  const int r = n / 2;
  auto contribution = [&](int y, std::vector<double>& values, std::vector<double>& squares) {
    std::vector<double> line(width + 2 * r);
    for (int p = 0; p < width + 2 * r; ++p) line[p] = plane[y * width + Reflect(p - r, width)];
    double sum = 0.0;
    double sumSquares = 0.0;
    for (int p = 0; p < n; ++p) {
      sum += line[p];
      sumSquares += line[p] * line[p];
    }
    for (int x = 0; x < width; ++x) {
      values[x] = sum / n;
      squares[x] = sumSquares / n;
      if (x + 1 < width) {
        sum += line[x + n];
        sum -= line[x];
        sumSquares += line[x + n] * line[x + n];
        sumSquares -= line[x] * line[x];
      }
    }
  };
  std::vector<double> columns(width, 0.0);
  std::vector<double> columnSquares(width, 0.0);
  std::vector<double> values(width);
  std::vector<double> squares(width);
  for (int k = -r; k <= r; ++k) {
    contribution(Reflect(k, height), values, squares);
    for (int x = 0; x < width; ++x) {
      columns[x] += values[x];
      columnSquares[x] += squares[x];
    }
  }
  std::vector<uint8_t> result(plane.size());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double mean = columns[x] / n;
      const double variance = columnSquares[x] / n - mean * mean;
      double byte = 0.0;
      if (variance >= 0.0)
        byte = std::min(std::trunc(std::max(std::sqrt(variance), 0.001) + 0.5), 255.0);
      result[y * width + x] = static_cast<uint8_t>(byte);
    }
    if (y + 1 < height) {
      contribution(Reflect(y - r, height), values, squares);
      for (int x = 0; x < width; ++x) {
        columns[x] -= values[x];
        columnSquares[x] -= squares[x];
      }
      contribution(Reflect(y + r + 1, height), values, squares);
      for (int x = 0; x < width; ++x) {
        columns[x] += values[x];
        columnSquares[x] += squares[x];
      }
    }
  }
  return result;
}

int NormalisedWindow(int window) {
  CCoreImage source;
  MakeGrey(source, 240, 240, 7);
  CCoreImage destination;
  EXPECT_EQ(Code(LocalDeviation(nullptr, source, destination, window)), 0u);
  return window;
}

}  // namespace

TEST(LocalDeviationTest, WindowIsMadeOddAndKeptWithin3To101) {
  EXPECT_EQ(NormalisedWindow(150), 101);
  EXPECT_EQ(NormalisedWindow(102), 101);
  EXPECT_EQ(NormalisedWindow(101), 101);
  EXPECT_EQ(NormalisedWindow(100), 101);
  EXPECT_EQ(NormalisedWindow(40), 41);  // no limit at 31, unlike the mean
  EXPECT_EQ(NormalisedWindow(8), 9);
  EXPECT_EQ(NormalisedWindow(2), 3);
  EXPECT_EQ(NormalisedWindow(0), 3);
}

TEST(LocalDeviationTest, SinglePeakWorkedByHand) {
  // 90 in the middle of a 3x3 image; the reflected windows hold it 4 times
  // (corners), twice (edges) and once (centre): deviations sqrt(2000) = 44.7,
  // sqrt(1400) = 37.4 and sqrt(800) = 28.3.
  CCoreImage image;
  MakeGrey(image, 3, 3, 0);
  SetPixelByte(image, 1, 1, 0, 90);
  int window = 3;
  CCoreImage out;
  ASSERT_EQ(Code(LocalDeviation(nullptr, image, out, window)), 0u);
  EXPECT_EQ(AllBytes(out), (std::vector<uint8_t>{45, 37, 45, 37, 28, 37, 45, 37, 45}));
}

TEST(LocalDeviationTest, ConstantPlaneGivesZero) {
  CCoreImage grey;
  MakeGrey(grey, 30, 25, 201);
  int window = 7;
  CCoreImage out;
  ASSERT_EQ(Code(LocalDeviation(nullptr, grey, out, window)), 0u);
  for (uint8_t v : AllBytes(out)) ASSERT_EQ(v, 0);
}

TEST(LocalDeviationTest, ImageNoTallerThanHalfTheWindowIsOnlyCopied) {
  std::mt19937 rng(2);
  CCoreImage image;
  ThrowIfFailed(image.CreateBGR(80, 20));
  FillRandom(image, rng);
  int window = 41;  // 41 / 2 = 20 >= 20
  CCoreImage out;
  ASSERT_EQ(Code(LocalDeviation(nullptr, image, out, window)), 0u);
  EXPECT_EQ(window, 41);
  EXPECT_EQ(AllBytes(out), AllBytes(image));
}

TEST(LocalDeviationTest, MatchesRunningDoubleSumsOnRandomImages) {
  std::mt19937 rng(17);
  struct CCase {
    int width, height, window, lowest, highest;
  };
  const CCase cases[] = {{3, 3, 3, 0, 255},
                         {50, 40, 3, 0, 255},
                         {41, 67, 5, 0, 255},
                         {64, 64, 9, 0, 255},
                         {70, 100, 21, 0, 255},
                         {90, 120, 3, 0, 1},
                         {60, 80, 7, 0, 3},
                         {35, 300, 15, 250, 255},
                         {2000, 8, 3, 0, 255},
                         {12, 3000, 3, 0, 255},
                         // Large windows on taller images, beyond where integer sums are exact.
                         {60, 200, 51, 0, 255},
                         {120, 130, 101, 0, 255},
                         {55, 150, 31, 0, 2}};
  for (const CCase& c : cases) {
    CCoreImage image;
    ThrowIfFailed(image.CreateGrey(c.width, c.height));
    FillRandom(image, rng, c.lowest, c.highest);
    int window = c.window;
    CCoreImage out;
    ASSERT_EQ(Code(LocalDeviation(nullptr, image, out, window)), 0u);
    EXPECT_EQ(AllBytes(out), PlainDeviation(AllBytes(image), c.width, c.height, c.window))
        << c.width << "x" << c.height << " window " << c.window;
  }
}

TEST(LocalDeviationTest, ColourViewOfBGRAGivesThreeDeviationPlanes) {
  // As the texture map uses it: the colour view of a BGRA image into BGR.
  std::mt19937 rng(23);
  CCoreImage image;
  ThrowIfFailed(image.CreateBGRA(44, 31));
  FillRandom(image, rng);
  CCoreImage view;
  view.AssignFrom(image);
  ASSERT_EQ(Code(view.SetChannelView(keChannelColour, keAccessRead)), 0u);
  CCoreImage deviation;
  ASSERT_EQ(Code(deviation.CopyFrom(view)), 0u);
  int window = 3;
  ASSERT_EQ(Code(LocalDeviation(nullptr, view, deviation, window)), 0u);
  ASSERT_EQ(deviation.ViewFormat(), keFormatBGR);
  const std::vector<uint8_t> colours = AllBytes(view);
  const std::vector<uint8_t> result = AllBytes(deviation);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(Channel(result, 3, c), PlainDeviation(Channel(colours, 3, c), 44, 31, 3)) << c;
  }
}

TEST(LocalDeviationTest, BGRAFiltersColoursAndKeepsAlpha) {
  std::mt19937 rng(29);
  CCoreImage image;
  ThrowIfFailed(image.CreateBGRA(33, 27));
  FillRandom(image, rng);
  const std::vector<uint8_t> in = AllBytes(image);
  int window = 5;
  CCoreImage out;
  ASSERT_EQ(Code(LocalDeviation(nullptr, image, out, window)), 0u);
  ASSERT_EQ(out.ViewFormat(), keFormatBGRA);
  const std::vector<uint8_t> result = AllBytes(out);
  EXPECT_EQ(Channel(result, 4, 3), Channel(in, 4, 3));
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(Channel(result, 4, c), PlainDeviation(Channel(in, 4, c), 33, 27, 5)) << c;
  }
  // In place, the same.
  ASSERT_EQ(Code(LocalDeviation(nullptr, image, image, window)), 0u);
  EXPECT_EQ(AllBytes(image), result);
}

TEST(LocalDeviationTest, UnsupportedFormatFailsWith101) {
  CCoreImage image;
  ASSERT_EQ(Code(image.Create(16, 16, keFormatGrey_u16, nullptr, nullptr, -1)), 0u);
  int window = 3;
  CCoreImage out;
  EXPECT_EQ(Code(LocalDeviation(nullptr, image, out, window)), 101u);
}

namespace {

double g_fakeTime = 0.0;
int g_polls = 0;

double FakeClock() { return g_fakeTime += 1.0; }
int StopAtThirdPoll(CProgressScale&) { return ++g_polls == 3 ? 1 : 0; }

}  // namespace

TEST(LocalDeviationTest, AbortAnswerStopsWith100) {
  CProgressScale::SetClockForTesting(FakeClock);
  std::mt19937 rng(31);
  CCoreImage image;
  ThrowIfFailed(image.CreateBGR(16, 12));
  FillRandom(image, rng);
  CProgressScale scale;
  scale.SetAbortCheck(StopAtThirdPoll);
  g_polls = 0;
  int window = 3;
  CCoreImage out;
  const uint32_t code = Code(LocalDeviation(&scale, image, out, window));
  CProgressScale::SetClockForTesting(nullptr);
  EXPECT_EQ(code, 100u);
  EXPECT_EQ(g_polls, 3);
  // Rows from the fourth on still hold the copy.
  const std::vector<uint8_t> result = AllBytes(out);
  const std::vector<uint8_t> copy = AllBytes(image);
  EXPECT_TRUE(std::equal(result.begin() + 3 * 16 * 3, result.end(), copy.begin() + 3 * 16 * 3));
}

TEST(LocalDeviationTest, BandsSideBySideGiveTheBytesOfOneRun) {
  std::mt19937 rng(31);
  struct CCase {
    keFormat format;
    int width, height, window;
  };
  const CCase cases[] = {{keFormatGrey, 37, 21, 3}, {keFormatGreyA, 20, 45, 5},
                         {keFormatBGR, 19, 33, 3},  {keFormatBGR, 40, 77, 11},
                         {keFormatBGRA, 25, 30, 3}, {keFormatGrey, 30, 70, 21}};
  for (const CCase& c : cases) {
    CCoreImage image;
    ThrowIfFailed(image.Create(c.width, c.height, c.format, nullptr, nullptr, -1));
    FillRandom(image, rng);
    std::vector<std::vector<uint8_t>> results;
    for (int bands : {1, 2, 3, 7}) {
      SetBandsForTesting(bands);
      CCoreImage out;
      int window = c.window;
      ASSERT_EQ(Code(LocalDeviation(nullptr, image, out, window)), 0u);
      results.push_back(AllBytes(out));
    }
    SetBandsForTesting(0);
    for (size_t i = 1; i < results.size(); ++i) {
      EXPECT_EQ(results[i], results[0]) << "format " << c.format << ", window " << c.window;
    }
  }
}
