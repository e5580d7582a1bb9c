#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "TestImages.h"
#include "WindowReference.h"
#include "engine/BoxBlur.h"
#include "engine/Plane.h"
#include "imagecore/AlphaConversion.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/ProgressScale.h"
#include "imagecore/RowBands.h"

namespace {

uint32_t Code(CoreResult result) { return ExamineResult(result); }

// The mean exactly as defined, on running double sums: per window row a
// running horizontal sum over a reflected line, divided by n and accumulated
// per column; the column sum slides by subtracting the leaving row and
// adding the entering one.
std::vector<uint8_t> PlainMean(const std::vector<uint8_t>& plane, int width, int height, int n) {
  const int r = n / 2;
  auto contribution = [&](int y, std::vector<double>& out) {
    std::vector<double> line(width + 2 * r);
    for (int p = 0; p < width + 2 * r; ++p) line[p] = plane[y * width + Reflect(p - r, width)];
    double sum = 0.0;
    for (int p = 0; p < n; ++p) sum += line[p];
    for (int x = 0; x < width; ++x) {
      out[x] = sum / n;
      if (x + 1 < width) {
        sum += line[x + n];
        sum -= line[x];
      }
    }
  };
  std::vector<double> columns(width, 0.0);
  std::vector<double> row(width);
  for (int k = -r; k <= r; ++k) {
    contribution(Reflect(k, height), row);
    for (int x = 0; x < width; ++x) columns[x] += row[x];
  }
  std::vector<uint8_t> result(plane.size());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      result[y * width + x] = static_cast<uint8_t>(std::trunc(columns[x] / n + 0.5));
    }
    if (y + 1 < height) {
      contribution(Reflect(y - r, height), row);
      for (int x = 0; x < width; ++x) columns[x] -= row[x];
      contribution(Reflect(y + r + 1, height), row);
      for (int x = 0; x < width; ++x) columns[x] += row[x];
    }
  }
  return result;
}

int NormalisedWindow(int window) {
  CCoreImage source;
  MakeGrey(source, 40, 40, 7);
  CCoreImage destination;
  EXPECT_EQ(Code(BoxBlur(nullptr, source, destination, window)), 0u);
  return window;
}

}  // namespace

TEST(BoxBlurTest, WindowIsMadeOddAndKeptWithin3To31) {
  EXPECT_EQ(NormalisedWindow(8), 9);
  EXPECT_EQ(NormalisedWindow(2), 3);
  EXPECT_EQ(NormalisedWindow(-5), 3);
  EXPECT_EQ(NormalisedWindow(4), 5);
  EXPECT_EQ(NormalisedWindow(7), 7);
  EXPECT_EQ(NormalisedWindow(30), 31);
  EXPECT_EQ(NormalisedWindow(31), 31);
  EXPECT_EQ(NormalisedWindow(32), 31);
  EXPECT_EQ(NormalisedWindow(40), 31);
}

TEST(BoxBlurTest, SinglePeakWorkedByHand) {
  // 95 in the middle of a 3x3 image. Reflection does not repeat the edge, so
  // a corner's window sees the peak four times (380 / 9 = 42.2), an edge's
  // twice (190 / 9 = 21.1) and the centre once (95 / 9 = 10.56, up to 11).
  CCoreImage image;
  MakeGrey(image, 3, 3, 0);
  SetPixelByte(image, 1, 1, 0, 95);
  int window = 3;
  CCoreImage out;
  ASSERT_EQ(Code(BoxBlur(nullptr, image, out, window)), 0u);
  EXPECT_EQ(AllBytes(out), (std::vector<uint8_t>{42, 21, 42, 21, 11, 21, 42, 21, 42}));
  EXPECT_EQ(PixelByte(image, 1, 1), 95);  // the source is left alone
}

TEST(BoxBlurTest, ConstantPlaneStaysConstant) {
  CCoreImage grey;
  MakeGrey(grey, 50, 33, 173);
  int window = 31;
  CCoreImage out;
  ASSERT_EQ(Code(BoxBlur(nullptr, grey, out, window)), 0u);
  for (uint8_t v : AllBytes(out)) ASSERT_EQ(v, 173);

  CCoreImage colour;
  ThrowIfFailed(colour.CreateBGR(20, 20));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      SetPixelByte(colour, x, y, 0, 1);
      SetPixelByte(colour, x, y, 1, 128);
      SetPixelByte(colour, x, y, 2, 255);
    }
  window = 5;
  ASSERT_EQ(Code(BoxBlur(nullptr, colour, out, window)), 0u);
  EXPECT_EQ(AllBytes(out), AllBytes(colour));
}

TEST(BoxBlurTest, ImageNoTallerThanHalfTheWindowIsOnlyCopied) {
  std::mt19937 rng(3);
  CCoreImage image;
  ThrowIfFailed(image.CreateGrey(60, 15));
  FillRandom(image, rng);
  int window = 40;  // becomes 31: 31 / 2 = 15 >= 15
  CCoreImage out;
  ASSERT_EQ(Code(BoxBlur(nullptr, image, out, window)), 0u);
  EXPECT_EQ(window, 31);
  EXPECT_EQ(AllBytes(out), AllBytes(image));

  // One row more and it is filtered.
  CCoreImage taller;
  ThrowIfFailed(taller.CreateGrey(60, 16));
  FillRandom(taller, rng);
  ASSERT_EQ(Code(BoxBlur(nullptr, taller, out, window)), 0u);
  EXPECT_NE(AllBytes(out), AllBytes(taller));
}

TEST(BoxBlurTest, GreyMatchesRunningDoubleSumsOnRandomImages) {
  std::mt19937 rng(11);
  struct CCase {
    int width, height, window;
  };
  const CCase cases[] = {{3, 3, 3},    {17, 9, 3},   {64, 48, 5},   {33, 70, 9},
                         {40, 31, 31}, {31, 40, 31}, {101, 57, 15}, {23, 2000, 31}};
  for (const CCase& c : cases) {
    CCoreImage image;
    ThrowIfFailed(image.CreateGrey(c.width, c.height));
    FillRandom(image, rng);
    int window = c.window;
    CCoreImage out;
    ASSERT_EQ(Code(BoxBlur(nullptr, image, out, window)), 0u);
    EXPECT_EQ(AllBytes(out), PlainMean(AllBytes(image), c.width, c.height, c.window))
        << c.width << "x" << c.height << " window " << c.window;
  }
}

TEST(BoxBlurTest, NearTiesOnTwoLevelImagesMatchRunningDoubleSums) {
  // Values 0 and 1 put many window means within 1/(2 n^2) of a half.
  std::mt19937 rng(5);
  for (int window : {3, 5, 7, 11, 21, 31}) {
    CCoreImage image;
    ThrowIfFailed(image.CreateGrey(45, 90));
    FillRandom(image, rng, 0, 1);
    int used = window;
    CCoreImage out;
    ASSERT_EQ(Code(BoxBlur(nullptr, image, out, used)), 0u);
    EXPECT_EQ(AllBytes(out), PlainMean(AllBytes(image), 45, 90, window)) << window;
  }
}

TEST(BoxBlurTest, EachColourChannelIsFilteredOnItsOwn) {
  std::mt19937 rng(21);
  CCoreImage image;
  ThrowIfFailed(image.CreateBGR(37, 29));
  FillRandom(image, rng);
  int window = 7;
  CCoreImage out;
  ASSERT_EQ(Code(BoxBlur(nullptr, image, out, window)), 0u);
  ASSERT_EQ(out.ViewFormat(), keFormatBGR);
  const std::vector<uint8_t> in = AllBytes(image);
  const std::vector<uint8_t> result = AllBytes(out);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(Channel(result, 3, c), PlainMean(Channel(in, 3, c), 37, 29, 7)) << c;
  }
}

TEST(BoxBlurTest, BGRAIsFilteredPremultipliedThenUnpremultiplied) {
  std::mt19937 rng(8);
  const int width = 26;
  const int height = 19;
  CCoreImage image;
  ThrowIfFailed(image.CreateBGRA(width, height));
  FillRandom(image, rng);
  // Some fully transparent and fully opaque pixels as well.
  for (int x = 0; x < width; x += 3) SetPixelByte(image, x, 4, 3, 0);
  for (int x = 1; x < width; x += 3) SetPixelByte(image, x, 9, 3, 255);

  std::vector<uint8_t> premultiplied = AllBytes(image);
  for (size_t i = 0; i < premultiplied.size(); i += 4) {
    for (int c = 0; c < 3; ++c) {
      premultiplied[i + c] = PremultiplyValue(premultiplied[i + c], premultiplied[i + 3]);
    }
  }
  std::vector<std::vector<uint8_t>> planes;
  for (int c = 0; c < 4; ++c)
    planes.push_back(PlainMean(Channel(premultiplied, 4, c), width, height, 5));
  const uint8_t* table = UnpremultiplyTable();

  int window = 5;
  CCoreImage out;
  ASSERT_EQ(Code(BoxBlur(nullptr, image, out, window)), 0u);
  ASSERT_EQ(out.ViewFormat(), keFormatBGRA);
  const std::vector<uint8_t> result = AllBytes(out);
  for (size_t p = 0; p < result.size() / 4; ++p) {
    const uint8_t a = planes[3][p];
    ASSERT_EQ(result[4 * p + 3], a) << p;
    for (int c = 0; c < 3; ++c) ASSERT_EQ(result[4 * p + c], table[a * 256 + planes[c][p]]) << p;
  }
}

TEST(BoxBlurTest, GreyAIsFilteredPremultipliedToo) {
  std::mt19937 rng(12);
  CCoreImage image;
  ThrowIfFailed(image.CreateGreyA(21, 17));
  FillRandom(image, rng);
  for (int x = 0; x < 21; x += 2) SetPixelByte(image, x, 8, 1, 0);
  std::vector<uint8_t> premultiplied = AllBytes(image);
  for (size_t i = 0; i < premultiplied.size(); i += 2) {
    premultiplied[i] = PremultiplyValue(premultiplied[i], premultiplied[i + 1]);
  }
  const std::vector<uint8_t> grey = PlainMean(Channel(premultiplied, 2, 0), 21, 17, 3);
  const std::vector<uint8_t> alpha = PlainMean(Channel(premultiplied, 2, 1), 21, 17, 3);
  const uint8_t* table = UnpremultiplyTable();

  int window = 3;
  CCoreImage out;
  ASSERT_EQ(Code(BoxBlur(nullptr, image, out, window)), 0u);
  const std::vector<uint8_t> result = AllBytes(out);
  for (size_t p = 0; p < grey.size(); ++p) {
    ASSERT_EQ(result[2 * p + 1], alpha[p]) << p;
    const uint8_t expected = alpha[p] == 0 ? grey[p] : table[alpha[p] * 256 + grey[p]];
    ASSERT_EQ(result[2 * p], expected) << p;
  }
}

TEST(BoxBlurTest, TransparentPixelsLendNoColour) {
  // Left half opaque (blue 200, green 0, red 50), right half transparent
  // green: no blurred pixel that keeps some alpha picks up any green.
  CCoreImage image;
  MakeBGRA(image, 12, 6, 0, 255, 0, 0);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      SetPixelByte(image, x, y, 0, 200);
      SetPixelByte(image, x, y, 1, 0);
      SetPixelByte(image, x, y, 2, 50);
      SetPixelByte(image, x, y, 3, 255);
    }
  int window = 3;
  CCoreImage out;
  ASSERT_EQ(Code(BoxBlur(nullptr, image, out, window)), 0u);
  EXPECT_EQ(PixelByte(out, 5, 2, 3), 170);
  EXPECT_EQ(PixelByte(out, 6, 2, 3), 85);
  for (int x = 5; x <= 6; ++x) {
    EXPECT_EQ(PixelByte(out, x, 2, 1), 0) << x;
    EXPECT_NEAR(PixelByte(out, x, 2, 0), 200, 1) << x;
    EXPECT_NEAR(PixelByte(out, x, 2, 2), 50, 1) << x;
  }
}

TEST(BoxBlurTest, FilteringInPlaceGivesTheSameResult) {
  std::mt19937 rng(4);
  CCoreImage image;
  ThrowIfFailed(image.CreateBGRA(30, 30));
  FillRandom(image, rng);
  int window = 9;
  CCoreImage separate;
  ASSERT_EQ(Code(BoxBlur(nullptr, image, separate, window)), 0u);
  ASSERT_EQ(Code(BoxBlur(nullptr, image, image, window)), 0u);
  EXPECT_EQ(AllBytes(image), AllBytes(separate));
}

TEST(BoxBlurTest, ColourViewOfBGRAIsFilteredAsBGR) {
  std::mt19937 rng(6);
  CCoreImage image;
  ThrowIfFailed(image.CreateBGRA(20, 14));
  FillRandom(image, rng);
  CCoreImage view;
  view.AssignFrom(image);
  ASSERT_EQ(Code(view.SetChannelView(keChannelColour, keAccessRead)), 0u);
  int window = 3;
  CCoreImage out;
  ASSERT_EQ(Code(BoxBlur(nullptr, view, out, window)), 0u);
  ASSERT_EQ(out.ViewFormat(), keFormatBGR);
  const std::vector<uint8_t> colours = AllBytes(view);
  const std::vector<uint8_t> result = AllBytes(out);
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(Channel(result, 3, c), PlainMean(Channel(colours, 3, c), 20, 14, 3));
}

TEST(BoxBlurTest, UnsupportedFormatFailsWith101) {
  CCoreImage image;
  ASSERT_EQ(Code(image.Create(16, 16, keFormatIndex8, nullptr, nullptr, -1)), 0u);
  int window = 3;
  CCoreImage out;
  EXPECT_EQ(Code(BoxBlur(nullptr, image, out, window)), 101u);
}

namespace {

double g_fakeTime = 0.0;
int g_polls = 0;
int g_stopAtPoll = 0;

double FakeClock() { return g_fakeTime += 1.0; }
int CountingAbortCheck(CProgressScale&) { return ++g_polls == g_stopAtPoll ? 1 : 0; }

}  // namespace

TEST(BoxBlurTest, ProgressIsPolledOncePerRowAndAbortStopsAfterThatRow) {
  CProgressScale::SetClockForTesting(FakeClock);
  std::mt19937 rng(9);
  CCoreImage image;
  ThrowIfFailed(image.CreateBGRA(24, 13));
  FillRandom(image, rng);

  CProgressScale scale;
  scale.SetAbortCheck(CountingAbortCheck);
  g_polls = 0;
  g_stopAtPoll = -1;
  int window = 3;
  CCoreImage filtered;
  EXPECT_EQ(Code(BoxBlur(&scale, image, filtered, window)), 0u);
  EXPECT_EQ(g_polls, 13);
  EXPECT_EQ(scale.StepIndex(), 12);  // told the last row's number

  // Stopped at the fifth poll: rows 0..4 are filtered, the rest unchanged.
  g_polls = 0;
  g_stopAtPoll = 5;
  CCoreImage out;
  EXPECT_EQ(Code(BoxBlur(&scale, image, out, window)), 100u);
  EXPECT_EQ(g_polls, 5);
  CProgressScale::SetClockForTesting(nullptr);
  const std::vector<uint8_t> result = AllBytes(out);
  const std::vector<uint8_t> full = AllBytes(filtered);
  const std::vector<uint8_t> copy = AllBytes(image);
  const size_t split = 5 * 24 * 4;
  EXPECT_TRUE(std::equal(result.begin(), result.begin() + split, full.begin()));
  EXPECT_TRUE(std::equal(result.begin() + split, result.end(), copy.begin() + split));
}

TEST(BoxBlurTest, BandsSideBySideGiveTheBytesOfOneRun) {
  // Bands from 3 to 7 rows long put every band edge within reach of the
  // window, in place and into another image alike.
  std::mt19937 rng(29);
  struct CCase {
    keFormat format;
    int width, height, window;
  };
  const CCase cases[] = {{keFormatGrey, 37, 21, 3},  {keFormatGreyA, 20, 45, 5},
                         {keFormatBGR, 19, 33, 7},   {keFormatBGRA, 41, 29, 3},
                         {keFormatBGRA, 16, 90, 9},  {keFormatGrey, 30, 64, 31}};
  for (const CCase& c : cases) {
    CCoreImage image;
    ThrowIfFailed(image.Create(c.width, c.height, c.format, nullptr, nullptr, -1));
    FillRandom(image, rng);
    std::vector<std::vector<uint8_t>> results;
    for (int bands : {1, 2, 3, 7}) {
      SetBandsForTesting(bands);
      CCoreImage out;
      int window = c.window;
      ASSERT_EQ(Code(BoxBlur(nullptr, image, out, window)), 0u);
      results.push_back(AllBytes(out));
      CCoreImage inPlace;
      ThrowIfFailed(inPlace.CopyFrom(image));
      window = c.window;
      ASSERT_EQ(Code(BoxBlur(nullptr, inPlace, inPlace, window)), 0u);
      EXPECT_EQ(AllBytes(inPlace), results.back()) << bands << " bands, in place";
    }
    SetBandsForTesting(0);
    for (size_t i = 1; i < results.size(); ++i) {
      EXPECT_EQ(results[i], results[0]) << "format " << c.format << ", window " << c.window;
    }
  }
}

TEST(BoxBlurTest, PlaneFormGivesTheBytesOfTheImageForm) {
  // Planes from one pixel up, some no larger than half the window (left as
  // they are), windows made odd and kept within 3..31 alike, and band counts
  // that put band edges within reach of the window.
  std::mt19937 rng(43);
  struct CCase {
    int width, height, window;
  };
  const CCase cases[] = {{1, 1, 3},      {2, 9, 5},     {9, 2, 4},     {15, 60, 31},
                         {60, 15, 40},   {16, 16, 31},  {3, 3, 3},     {37, 21, 3},
                         {64, 48, 8},    {33, 70, 27},  {101, 57, 15}, {23, 300, 31},
                         {257, 130, 11}, {40, 131, -2}, {130, 200, 21}};
  for (int bands : {0, 1, 2, 3, 7}) {
    SetBandsForTesting(bands);
    for (const CCase& c : cases) {
      CPlane plane(c.width, c.height, 1);
      std::uniform_int_distribution<int> value(0, 255);
      for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) plane.At(x, y) = static_cast<uint8_t>(value(rng));
      CCoreImage image;
      ASSERT_EQ(Code(image.CreateGrey(c.width, c.height)), 0u);
      WritePlane(plane, image);
      CCoreImage expected;
      int window = c.window;
      ASSERT_EQ(Code(BoxBlur(nullptr, image, expected, window)), 0u);

      ASSERT_EQ(Code(BoxBlur(plane, c.window)), 0u);
      const std::vector<uint8_t> bytes(plane.Data(), plane.Data() + plane.Stride() * c.height);
      EXPECT_EQ(bytes, AllBytes(expected))
          << c.width << "x" << c.height << " window " << c.window << ", " << bands << " bands";
    }
  }
  SetBandsForTesting(0);
}

TEST(BoxBlurTest, PlaneOfMoreThanOneBytePerPixelFailsWith101) {
  CPlane plane(20, 20, 4, 9);
  EXPECT_EQ(Code(BoxBlur(plane, 3)), 101u);
  EXPECT_EQ(plane.At(5, 5), 9);
}
