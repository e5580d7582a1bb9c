#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ImageTestUtil.h"
#include "imagecore/ColorRef.h"
#include "imagecore/LayerBlend.h"
#include "platform/MessageBox.h"

using Bytes = std::vector<uint8_t>;

namespace {

int BytesPerPixel(keFormat format) { return FormatBitsPerPixel(format) / 8; }

// Blends one row through the bind-and-run protocol and returns the result.
Bytes Blend(CLayerBlend& blend, keFormat dstFormat, Bytes dst, keFormat srcFormat, const Bytes& src,
            int x = 0, int y = 0) {
  CRowContext context;
  context.destinationFormat = dstFormat;
  context.sourceFormat = srcFormat;
  context.count = static_cast<int>(dst.size()) / BytesPerPixel(dstFormat);
  EXPECT_EQ(static_cast<size_t>(context.count * BytesPerPixel(srcFormat)), src.size());
  context.destination = dst.data();
  context.source = src.data();
  context.x = x;
  context.y = y;
  EXPECT_TRUE(BindRowOperation(blend, context, true));
  RunRowOperation(blend, context);
  return dst;
}

Bytes Bgra(int b, int g, int r, int a) {
  return {static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r),
          static_cast<uint8_t>(a)};
}

// Random BGRA pixels with alpha drawn from the given choices.
Bytes RandomPixels(std::mt19937& random, int count, const std::vector<int>& alphas) {
  Bytes pixels;
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<size_t> pick(0, alphas.size() - 1);
  for (int i = 0; i < count; ++i) {
    for (int ch = 0; ch < 3; ++ch) pixels.push_back(static_cast<uint8_t>(byte(random)));
    const int a = alphas[pick(random)];
    pixels.push_back(static_cast<uint8_t>(a < 0 ? byte(random) : a));
  }
  return pixels;
}

class CBoxCount {
 public:
  CBoxCount() {
    m_previous = SetMessageBoxHandler(
        [this](void*, const std::string& text, const std::string& caption, unsigned) {
          last = caption + "|" + text;
          ++count;
          return IDOK;
        });
  }
  ~CBoxCount() { SetMessageBoxHandler(m_previous); }
  int count = 0;
  std::string last;

 private:
  MessageBoxHandler m_previous;
};

}  // namespace

TEST(LayerBlend, NewBlendHasNoModeFullOpacityAndBindsToNothing) {
  CLayerBlend blend;
  EXPECT_EQ(blend.Kind(), keRoRowBlendPsp);
  EXPECT_EQ(blend.Mode(), -1);
  EXPECT_EQ(blend.Opacity(), 255);
  EXPECT_FALSE(blend.KeepsDestinationAlpha());
  EXPECT_EQ(blend.LookUp(keFormatBGRA, keFormatBGRA), nullptr);
  blend.SetMode(21);
  EXPECT_EQ(blend.LookUp(keFormatBGRA, keFormatBGRA), nullptr);
  blend.SetMode(keBlendNormal);
  EXPECT_NE(blend.LookUp(keFormatBGRA, keFormatBGRA), nullptr);
  EXPECT_EQ(blend.LookUp(keFormatBGRxA, keFormatBGRA), nullptr);
  EXPECT_EQ(blend.LookUp(keFormatBGRA, keFormatIndex8), nullptr);
}

TEST(LayerBlend, OpaqueSourceAtFullOpacityReplacesColourAndMakesOpaque) {
  std::mt19937 random(3);
  const Bytes dst = RandomPixels(random, 64, {0, 1, 100, 254, 255, -1});
  const Bytes src = RandomPixels(random, 64, {255});
  CLayerBlend blend(keBlendNormal, 255);
  const Bytes out = Blend(blend, keFormatBGRA, dst, keFormatBGRA, src);
  for (size_t i = 0; i < out.size(); i += 4) {
    EXPECT_EQ(Bytes(out.begin() + i, out.begin() + i + 3),
              Bytes(src.begin() + i, src.begin() + i + 3));
    EXPECT_EQ(out[i + 3], 255);
  }
  // A source without alpha counts as opaque.
  const Bytes bgr{10, 20, 30};
  EXPECT_EQ(Blend(blend, keFormatBGRA, Bgra(1, 2, 3, 0), keFormatBGR, bgr), Bgra(10, 20, 30, 255));
}

TEST(LayerBlend, TransparentSourceOrZeroOpacityLeavesTheDestination) {
  std::mt19937 random(4);
  const Bytes dst = RandomPixels(random, 64, {-1});
  const Bytes src = RandomPixels(random, 64, {0});
  for (int mode : {0, 1, 7, 9, 12, 13, 17, 20}) {
    CLayerBlend blend(mode, 255);
    EXPECT_EQ(Blend(blend, keFormatBGRA, dst, keFormatBGRA, src), dst) << mode;
    CLayerBlend none(mode, 0);
    const Bytes opaque = RandomPixels(random, 64, {255});
    EXPECT_EQ(Blend(none, keFormatBGRA, dst, keFormatBGRA, opaque), dst) << mode;
  }
}

TEST(LayerBlend, NormalModeIsStraightAlphaSourceOver) {
  std::mt19937 random(5);
  const Bytes dst = RandomPixels(random, 4000, {0, 255, -1});
  const Bytes src = RandomPixels(random, 4000, {255, -1});
  CLayerBlend blend(keBlendNormal, 255);
  const Bytes out = Blend(blend, keFormatBGRA, dst, keFormatBGRA, src);
  for (size_t i = 0; i < out.size(); i += 4) {
    const double sa = src[i + 3], da = dst[i + 3];
    if (sa == 0) continue;
    // The new alpha is rounded once (by T); the colour is the exact mix for that
    // alpha, rounded once more.
    const double A = out[i + 3];
    ASSERT_NEAR(A, sa + da * (255 - sa) / 255, 128.0 / 255) << i;  // T rounds up from 127/255
    for (int ch = 0; ch < 3; ++ch) {
      const double exact = (src[i + ch] * sa + dst[i + ch] * (A - sa)) / A;
      ASSERT_NEAR(out[i + ch], exact, 0.51) << i << " " << ch;
    }
  }
}

TEST(LayerBlend, MultiplyByWhiteKeepsTheColourAndByBlackGivesBlack) {
  Bytes dst;
  for (int v = 0; v < 256; ++v) {
    const Bytes p = Bgra(v, 255 - v, (v * 7) & 255, 255);
    dst.insert(dst.end(), p.begin(), p.end());
  }
  CLayerBlend blend(keBlendMultiply, 255);
  const Bytes white(dst.size(), 255);
  EXPECT_EQ(Blend(blend, keFormatBGRA, dst, keFormatBGRA, white), dst);
  Bytes black(dst.size(), 0);
  for (size_t i = 3; i < black.size(); i += 4) black[i] = 255;
  EXPECT_EQ(Blend(blend, keFormatBGRA, dst, keFormatBGRA, black), black);
}

TEST(LayerBlend, PerChannelModesOnOpaquePixelsGiveTheirBlendValue) {
  const uint8_t* T = BlendTableT();
  const std::map<int, std::function<int(int, int)>> modes = {
      {keBlendDarken, [](int c, int s) { return std::min(c, s); }},
      {keBlendLighten, [](int c, int s) { return std::max(c, s); }},
      {keBlendMultiply, [T](int c, int s) { return T[c * s]; }},
      {keBlendScreen, [T](int c, int s) { return 255 - T[(255 - s) * (255 - c)]; }},
      {keBlendOverlay,
       [](int c, int s) { return c >= 128 ? 255 - (255 - s) * (255 - c) / 128 : s * c / 128; }},
      {keBlendHardLight,
       [](int c, int s) { return s >= 128 ? 255 - (255 - s) * (255 - c) / 128 : s * c / 128; }},
      {keBlendDifference, [](int c, int s) { return std::abs(c - s); }},
      {keBlendExclusion, [T](int c, int s) { return T[(255 - c) * s + (255 - s) * c]; }},
  };
  std::mt19937 random(6);
  const Bytes dst = RandomPixels(random, 2000, {255});
  const Bytes src = RandomPixels(random, 2000, {255});
  for (const auto& [mode, f] : modes) {
    CLayerBlend blend(mode, 255);
    const Bytes out = Blend(blend, keFormatBGRA, dst, keFormatBGRA, src);
    for (size_t i = 0; i < out.size(); i += 4) {
      for (int ch = 0; ch < 3; ++ch)
        ASSERT_EQ(out[i + ch], f(dst[i + ch], src[i + ch])) << mode << " at " << i;
      ASSERT_EQ(out[i + 3], 255);
    }
  }
}

TEST(LayerBlend, CoverageMixesTheBlendValueAndDifferenceCoversTheSource) {
  // Screen at coverage 128: u = T[127 * c + 128 * f].
  CLayerBlend screen(keBlendScreen, 128);
  // c = 100, s = 200: f = 255 - T[55 * 155] = 255 - 33 = 222;
  // u = T[12700 + 28416] = T[41116] = 161.
  EXPECT_EQ(Blend(screen, keFormatBGR, Bytes{100, 100, 100}, keFormatBGR, Bytes{200, 200, 200}),
            (Bytes{161, 161, 161}));
  // Difference takes T[k * s] directly: |200 - T[128 * 100]| = 200 - 50.
  CLayerBlend difference(keBlendDifference, 128);
  EXPECT_EQ(Blend(difference, keFormatBGR, Bytes{200, 200, 200}, keFormatBGR, Bytes{100, 100, 100}),
            (Bytes{150, 150, 150}));
}

TEST(LayerBlend, PartialSourceAlphaMixesTheDestinationTowardsTheModeFirst) {
  // Multiply, c = 200, s = 100, sa = 128 over an opaque destination:
  // alpha = 128, A = 255, w = D[128 * 256 + 255] = 32897; u = T[20000] = 78;
  // s' = T[78 * 255] = 78; c' = T[200 * 127 + 78 * 128] = T[35384] = 139;
  // c = (32639 * 139 + 32897 * 78 + 32768) >> 16 = 108.
  CLayerBlend blend(keBlendMultiply, 255);
  EXPECT_EQ(
      Blend(blend, keFormatBGRA, Bgra(200, 200, 200, 255), keFormatBGRA, Bgra(100, 100, 100, 128)),
      Bgra(108, 108, 108, 255));
  // Over a transparent destination the mode has nothing to act on: the
  // source shows as it is.
  EXPECT_EQ(
      Blend(blend, keFormatBGRA, Bgra(200, 200, 200, 0), keFormatBGRA, Bgra(100, 90, 80, 128)),
      Bgra(100, 90, 80, 128));
}

TEST(LayerBlend, SoftLightDodgeAndBurnBehaveAtTheirEnds) {
  const uint8_t* Q = BlendTableQ();
  CLayerBlend soft(keBlendSoftLight, 255), dodge(keBlendDodge, 255), burn(keBlendBurn, 255);
  Bytes c;
  for (int v = 0; v < 256; ++v) c.push_back(static_cast<uint8_t>(v));
  auto all = [&](int s) { return Bytes(256, static_cast<uint8_t>(s)); };
  const Bytes softBlack = Blend(soft, keFormatGrey, c, keFormatGrey, all(0));
  const Bytes softWhite = Blend(soft, keFormatGrey, c, keFormatGrey, all(255));
  const Bytes softMiddle = Blend(soft, keFormatGrey, c, keFormatGrey, all(128));
  const Bytes dodgeBlack = Blend(dodge, keFormatGrey, c, keFormatGrey, all(0));
  const Bytes burnWhite = Blend(burn, keFormatGrey, c, keFormatGrey, all(255));
  for (int v = 0; v < 256; ++v) {
    EXPECT_NEAR(softBlack[v], v * v / 255.0, 1.0) << v;  // c - c(1 - c) = c^2
    EXPECT_EQ(softWhite[v], Q[v]) << v;                  // sqrt(c)
    EXPECT_NEAR(softMiddle[v], v, 1.0) << v;
    EXPECT_EQ(dodgeBlack[v], v) << v;
    EXPECT_EQ(burnWhite[v], v) << v;
  }
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < 2000; ++i) {
    const int cv = byte(random), sv = byte(random);
    const Bytes cc{static_cast<uint8_t>(cv)}, ss{static_cast<uint8_t>(sv)};
    const int d = Blend(dodge, keFormatGrey, cc, keFormatGrey, ss)[0];
    const int b = Blend(burn, keFormatGrey, cc, keFormatGrey, ss)[0];
    ASSERT_GE(d, cv) << cv << " " << sv;  // dodge never darkens
    ASSERT_LE(b, cv) << cv << " " << sv;  // burn never lightens
    if (cv > 0 && cv < 255 - sv) {
      ASSERT_NEAR(d, cv * 255.0 / (255 - sv), 1.0) << cv << " " << sv;
    }
    if (cv < 255 && 255 - cv < sv) {
      ASSERT_NEAR(b, 255 - (255 - cv) * 255.0 / sv, 1.0) << cv << " " << sv;
    }
  }
}

TEST(LayerBlend, LightnessModeWorkedPixel) {
  // Destination red 200, green 100, blue 50: max 200, min 50, parity 0, so
  // L = 125; S = (150 * 256 + 125) / 250 = 154; hue = 40 * 50 / 150 = 13.
  // Source grey 128: L = 128. Back with L = 2048, S = 2464 (12 bits):
  // m2 = 2048 + 2464 - (2048 * 2464 + 2040) / 4080 = 3275, m1 = 821,
  // H = 13 * 17 = 221. Red at 1581 is m2 -> 205; green at 221 is
  // 821 + (2454 * 221 + 340) / 680 = 1619 -> 101; blue at 2941 is m1 -> 51.
  CLayerBlend blend(keBlendHslLightness, 255);
  EXPECT_EQ(
      Blend(blend, keFormatBGRA, Bgra(50, 100, 200, 255), keFormatBGRA, Bgra(128, 128, 128, 255)),
      Bgra(51, 101, 205, 255));
  // At opacity 100 the converted colour is mixed in: red
  // T[155 * 200 + 100 * 205] = 202, green T[155 * 100 + 100 * 101] = 100,
  // blue T[155 * 50 + 100 * 51] = 50.
  blend.SetOpacity(100);
  EXPECT_EQ(
      Blend(blend, keFormatBGRA, Bgra(50, 100, 200, 255), keFormatBGRA, Bgra(128, 128, 128, 255)),
      Bgra(50, 100, 202, 255));
}

TEST(LayerBlend, ColourModelModesWithTheDestinationsOwnColourKeepIt) {
  // Taking a component from a source equal to the destination changes
  // nothing beyond rounding. The value model's hue circle has 255 steps per
  // sextant (one level); the lightness model's has 40, and half a step
  // (255 / 80 levels) plus the parity bit of the lightness and the final
  // rounding come to at most 5 levels.
  std::mt19937 random(8);
  const Bytes dst = RandomPixels(random, 3000, {255});
  for (int mode : {3, 4, 5, 6, 17, 18, 19, 20}) {
    const int tolerance = mode <= 6 ? 1 : 5;
    CLayerBlend blend(mode, 255);
    const Bytes out = Blend(blend, keFormatBGRA, dst, keFormatBGRA, dst);
    for (size_t i = 0; i < out.size(); ++i)
      ASSERT_NEAR(out[i], dst[i], tolerance) << mode << " at " << i;
  }
}

TEST(LayerBlend, ColourModelModesTakeTheRightComponent) {
  CLayerBlend hue(keBlendHslHue, 255), saturation(keBlendHslSaturation, 255);
  CLayerBlend hsvValue(keBlendValue, 255), hsvHue(keBlendHue, 255);
  const Bytes red = Bgra(0, 0, 255, 255), grey = Bgra(128, 128, 128, 255);
  const Bytes darkBlue = Bgra(100, 0, 0, 255);
  // A grey source lends no saturation: the result is grey.
  const Bytes desaturated = Blend(saturation, keFormatBGRA, red, keFormatBGRA, grey);
  EXPECT_EQ(desaturated[0], desaturated[1]);
  EXPECT_EQ(desaturated[1], desaturated[2]);
  // The hue of red on a dark blue keeps its darkness: a dark red.
  EXPECT_EQ(Blend(hue, keFormatBGRA, darkBlue, keFormatBGRA, red), Bgra(0, 0, 100, 255));
  EXPECT_EQ(Blend(hsvHue, keFormatBGRA, darkBlue, keFormatBGRA, red), Bgra(0, 0, 100, 255));
  // The source's value with the destination's hue and saturation.
  EXPECT_EQ(Blend(hsvValue, keFormatBGRA, red, keFormatBGRA, Bgra(10, 60, 30, 255)),
            Bgra(0, 0, 60, 255));
}

TEST(LayerBlend, ColourModelModesOnGreyShowTheMissingBoxUnlessQuiet) {
  CCoreImage dst, src;
  const CColorRef mid(90, 90, 90, 255);
  ASSERT_EQ(Code(dst.CreateGrey(3, 4, &mid)), 0u);
  ASSERT_EQ(Code(src.CreateGrey(3, 4)), 0u);
  const Bytes before = ReadRow(dst, 2);
  CLayerBlend blend(keBlendHue, 255);
  CBoxCount boxes;
  EXPECT_FALSE(ApplyRowOperation(blend, dst, src, nullptr, nullptr, nullptr));
  EXPECT_EQ(boxes.count, 1);
  EXPECT_EQ(boxes.last,
            "Missing Row Operation|Type = keRoRowBlendPsp\nDst = keFormatGrey\nSrc = keFormatGrey");
  EXPECT_FALSE(ApplyRowOperation(blend, dst, src, nullptr, nullptr, nullptr, true));
  EXPECT_EQ(boxes.count, 1);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(ReadRow(dst, y), before);
  for (int mode : {4, 5, 6, 17, 18, 19, 20}) {
    blend.SetMode(mode);
    EXPECT_EQ(blend.LookUp(keFormatGreyA, keFormatGreyA), nullptr) << mode;
    EXPECT_NE(blend.LookUp(keFormatBGR, keFormatGreyA), nullptr) << mode;
  }
}

TEST(LayerBlend, GreyDestinationsBlendTheirOneChannel) {
  CLayerBlend normal(keBlendNormal, 255);
  // GreyA over GreyA: alpha 128 over alpha 128 gives A = 128 + T[127 * 128] = 192,
  // w = D[128 * 256 + 192] = 43691: (21845 * 40 + 43691 * 200 + 32768) >> 16 = 147.
  EXPECT_EQ(Blend(normal, keFormatGreyA, Bytes{40, 128}, keFormatGreyA, Bytes{200, 128}),
            (Bytes{147, 192}));
  // A grey destination without alpha is opaque; a colour source lends its
  // luminance (77, 151, 28).
  EXPECT_EQ(Blend(normal, keFormatGrey, Bytes{5}, keFormatBGRA, Bgra(0, 0, 255, 255)), (Bytes{76}));
  CLayerBlend multiply(keBlendMultiply, 255);
  EXPECT_EQ(Blend(multiply, keFormatGrey, Bytes{200, 0, 255}, keFormatGrey, Bytes{255, 9, 100}),
            (Bytes{200, 0, 100}));
  // A grey source onto colour fills every channel.
  EXPECT_EQ(Blend(normal, keFormatBGR, Bytes{1, 2, 3}, keFormatGreyA, Bytes{70, 255}),
            (Bytes{70, 70, 70}));
}

TEST(LayerBlend, KeepDestinationAlphaBlendsColourOnly) {
  std::mt19937 random(9);
  const Bytes dst = RandomPixels(random, 200, {1, 60, 200, -1});
  const Bytes src = RandomPixels(random, 200, {-1});
  for (int mode : {0, 7, 20}) {
    CLayerBlend plain(mode, 200), keep(mode, 200);
    keep.SetKeepDestinationAlpha(true);
    const Bytes changed = Blend(plain, keFormatBGRA, dst, keFormatBGRA, src);
    const Bytes kept = Blend(keep, keFormatBGRA, dst, keFormatBGRA, src);
    for (size_t i = 0; i < dst.size(); ++i)
      ASSERT_EQ(kept[i], i % 4 == 3 ? dst[i] : changed[i]) << mode << " at " << i;
  }
  CLayerBlend keep(keBlendNormal, 255);
  keep.SetKeepDestinationAlpha(true);
  EXPECT_EQ(Blend(keep, keFormatGreyA, Bytes{10, 50}, keFormatGrey, Bytes{90}), (Bytes{90, 50}));
}

TEST(LayerBlend, DissolveShowsWholeSourcePixelsWhereAlphaBeatsTheTile) {
  const uint8_t* R = BlendTableR();
  constexpr int kCount = 300;  // past the tile's width, so it repeats
  Bytes dst, src;
  for (int i = 0; i < kCount; ++i) {
    const Bytes d = Bgra(10, 20, 30, 40), s = Bgra(200, 150, 100, 128);
    dst.insert(dst.end(), d.begin(), d.end());
    src.insert(src.end(), s.begin(), s.end());
  }
  CLayerBlend blend(keBlendDissolve, 255);
  const int x = 5, y = 130;
  const Bytes out = Blend(blend, keFormatBGRA, dst, keFormatBGRA, src, x, y);
  int shown = 0;
  for (int i = 0; i < kCount; ++i) {
    const bool show = 128 > R[(y % 128) * 128 + (x + i) % 128];
    const Bytes expect = show ? Bgra(200, 150, 100, 255) : Bgra(10, 20, 30, 40);
    ASSERT_EQ(Bytes(out.begin() + 4 * i, out.begin() + 4 * i + 4), expect) << i;
    shown += show;
  }
  EXPECT_GT(shown, kCount / 4);
  EXPECT_LT(shown, kCount * 3 / 4);
}

TEST(LayerBlend, BlendRangesLimitTheCoverage) {
  auto ranges = std::make_shared<CBlendRangeTable>(OpenBlendRangeTable());
  for (int v = 0; v < 100; ++v) ranges->source.grey[v] = 0;  // dark source passes nothing
  for (int v = 0; v < 256; ++v) ranges->destination.channel[2][v] = 128;  // red halves it
  CLayerBlend blend(keBlendNormal, 255);
  blend.SetBlendRanges(ranges);
  // Dark source (luminance 30): unchanged.
  EXPECT_EQ(Blend(blend, keFormatBGRA, Bgra(0, 0, 0, 255), keFormatBGRA, Bgra(30, 30, 30, 255)),
            Bgra(0, 0, 0, 255));
  // Bright source: coverage T[255 * 128] = 128, so alpha 128 over opaque,
  // w = D[128 * 256 + 255] = 32897: (32897 * 200 + 32768) >> 16 = 100.
  EXPECT_EQ(Blend(blend, keFormatBGRA, Bgra(0, 0, 0, 255), keFormatBGRA, Bgra(200, 200, 200, 255)),
            Bgra(100, 100, 100, 255));
  // Grey rows use the grey ranges only.
  EXPECT_EQ(Blend(blend, keFormatGrey, Bytes{0, 0}, keFormatGrey, Bytes{30, 200}), (Bytes{0, 200}));

  // A clone blends the same, and shares the ranges.
  blend.SetKeepDestinationAlpha(true);
  const auto clone = blend.Clone();
  auto& copy = static_cast<CLayerBlend&>(*clone);
  EXPECT_EQ(copy.Mode(), keBlendNormal);
  EXPECT_EQ(copy.BlendRanges(), ranges.get());
  EXPECT_TRUE(copy.KeepsDestinationAlpha());
  EXPECT_EQ(Blend(copy, keFormatBGRA, Bgra(0, 0, 0, 7), keFormatBGRA, Bgra(200, 200, 200, 255)),
            Blend(blend, keFormatBGRA, Bgra(0, 0, 0, 7), keFormatBGRA, Bgra(200, 200, 200, 255)));
}

TEST(LayerBlend, PictureIsBlendedOntoTheFaceWhereTheyOverlap) {
  CCoreImage face, picture;
  const CColorRef faceColour(100, 100, 100, 255);
  const CColorRef white(255, 255, 255, 255);
  ASSERT_EQ(Code(face.CreateBGRA(4, 4, &faceColour)), 0u);
  ASSERT_EQ(Code(picture.CreateBGRA(3, 3, &white)), 0u);
  // Pressed: multiply by white keeps the face.
  EXPECT_TRUE(BlendPicture(face, picture, keBlendMultiply, 255, 0, 0));
  const Bytes plain{100, 100, 100, 255, 100, 100, 100, 255, 100, 100, 100, 255, 100, 100, 100, 255};
  for (int y = 0; y < 4; ++y) EXPECT_EQ(ReadRow(face, y), plain) << y;
  // Enabled at opacity 200, placed partly outside: only the overlap changes.
  EXPECT_TRUE(BlendPicture(face, picture, keBlendNormal, 200, -1, 2));
  // w = D[200 * 256 + 255] = 51401: (14135 * 100 + 51401 * 255 + 32768) >> 16 = 222.
  for (int y = 0; y < 4; ++y) {
    const Bytes row = ReadRow(face, y);
    for (int x = 0; x < 4; ++x) {
      const bool inside = y >= 2 && x < 2;
      EXPECT_EQ(row[4 * x], inside ? 222 : 100) << x << " " << y;
      EXPECT_EQ(row[4 * x + 3], 255);
    }
  }
  EXPECT_TRUE(BlendPicture(face, picture, keBlendNormal, 200, 9, 9));  // wholly outside
  CCoreImage grey;
  ASSERT_EQ(Code(grey.CreateGrey(2, 2)), 0u);
  CBoxCount boxes;
  EXPECT_FALSE(BlendPicture(grey, picture, keBlendHslLightness, 100));
  EXPECT_EQ(boxes.count, 1);
}
