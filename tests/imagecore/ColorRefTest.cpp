#include "imagecore/ColorRef.h"

#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "imagecore/Palettes.h"

TEST(ColorRef, EightBitChannelsAreHeldAsSixteenBit) {
  const CColorRef colour(1, 128, 255, 0);
  EXPECT_TRUE(colour.IsValid());
  EXPECT_FALSE(colour.HasPaletteIndex());
  EXPECT_EQ(colour.Red16(), 257);
  EXPECT_EQ(colour.Green16(), 128 * 257);
  EXPECT_EQ(colour.Blue16(), 65535);
  EXPECT_EQ(colour.Alpha16(), 0);
  EXPECT_EQ(colour.Green8(), 128);
  uint16_t r = 0, g = 0, b = 0, a = 1;
  ASSERT_EQ(Code(colour.ToChannels16(r, g, b, a)), 0u);
  EXPECT_EQ(r, 257);
  EXPECT_EQ(b, 65535);
  EXPECT_EQ(a, 0);
}

TEST(ColorRef, GreyIsTheWeightedLuminance) {
  uint8_t grey = 0, alpha = 0;
  ASSERT_EQ(Code(CColorRef(255, 0, 0, 9).ToGrey8(grey, alpha)), 0u);
  EXPECT_EQ(grey, 76);
  EXPECT_EQ(alpha, 9);
  ASSERT_EQ(Code(CColorRef(10, 20, 30).ToGrey8(grey, alpha)), 0u);
  EXPECT_EQ(grey, (77 * 10 + 151 * 20 + 28 * 30) >> 8);
  ASSERT_EQ(Code(CColorRef(255, 255, 255).ToGrey8(grey, alpha)), 0u);
  EXPECT_EQ(grey, 255);

  uint16_t grey16 = 0, alpha16 = 0;
  const CColorRef wide = CColorRef::FromChannels16(65535, 65535, 65535, 1000);
  ASSERT_EQ(Code(wide.ToGrey16(grey16, alpha16)), 0u);
  EXPECT_EQ(grey16, 65535);
  EXPECT_EQ(alpha16, 1000);
}

TEST(ColorRef, PaletteColoursBecomeTheNearestEntry) {
  const uint8_t* cube = DefaultPalette(256);
  const CColorRef colour(60, 100, 240, 33, 256, cube);
  ASSERT_TRUE(colour.HasPaletteIndex());
  // Nearest cube steps: red 51, green 102, blue 255.
  EXPECT_EQ(colour.PaletteIndex(), 1 * 36 + 2 * 6 + 5);
  EXPECT_EQ(colour.Red8(), 51);
  EXPECT_EQ(colour.Green8(), 102);
  EXPECT_EQ(colour.Blue8(), 255);
  EXPECT_EQ(colour.Alpha8(), 33);
  int index = -1;
  // The remembered index wins over any other palette asked with.
  ASSERT_EQ(Code(colour.ToIndex(2, DefaultPalette(2), index)), 0u);
  EXPECT_EQ(index, 53);
}

TEST(ColorRef, ToIndexWithoutIndexSearchesThePaletteGiven) {
  int index = -1;
  ASSERT_EQ(Code(CColorRef(200, 200, 200).ToIndex(2, DefaultPalette(2), index)), 0u);
  EXPECT_EQ(index, 1);
  ASSERT_EQ(Code(CColorRef(130, 0, 0).ToIndex(16, DefaultPalette(16), index)), 0u);
  EXPECT_EQ(index, 1);  // dark red
  EXPECT_EQ(Code(CColorRef(1, 2, 3).ToIndex(0, nullptr, index)), 101u);

  const CColorRef entry = CColorRef::FromPaletteIndex(9, 16, DefaultPalette(16));
  EXPECT_EQ(entry.Red8(), 255);
  EXPECT_EQ(entry.PaletteIndex(), 9);
  EXPECT_FALSE(CColorRef::FromPaletteIndex(16, 16, DefaultPalette(16)).IsValid());
}

TEST(ColorRef, InvalidColourFailsEveryConversion) {
  const CColorRef invalid;
  EXPECT_FALSE(invalid.IsValid());
  uint8_t g8 = 0, a8 = 0, bgra[4];
  uint16_t r = 0, g = 0, b = 0, a = 0;
  int index = 0;
  EXPECT_EQ(Code(invalid.ToGrey8(g8, a8)), 101u);
  EXPECT_EQ(Code(invalid.ToBGRA8(bgra)), 101u);
  EXPECT_EQ(Code(invalid.ToChannels16(r, g, b, a)), 101u);
  EXPECT_EQ(Code(invalid.ToGrey16(g, a)), 101u);
  EXPECT_EQ(Code(invalid.ToIndex(2, DefaultPalette(2), index)), 101u);
}
