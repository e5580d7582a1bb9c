#include "imagecore/AlphaConversion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "ImageTestUtil.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreStartup.h"

using Bytes = std::vector<uint8_t>;

TEST(AlphaConversion, PremultiplyIsWithinOneOfTheExactProduct) {
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned v = 0; v < 256; ++v) {
      const int p = PremultiplyValue(v, a);
      const double exact = v * a / 255.0;
      ASSERT_LE(std::abs(p - exact), 1.0) << v << " " << a;
    }
  }
  EXPECT_EQ(PremultiplyValue(200, 0), 0);
  EXPECT_EQ(PremultiplyValue(200, 255), 200);
  EXPECT_EQ(PremultiplyValue(200, 128), 100);  // (25600 + 100 + 128) >> 8
  EXPECT_EQ(PremultiplyValue(255, 254), 254);
  EXPECT_EQ(PremultiplyValue(1, 1), 0);
}

TEST(AlphaConversion, UnpremultiplyTableRoundsAndSaturates) {
  const uint8_t* u = UnpremultiplyTable();
  for (int v = 0; v < 256; ++v) {
    ASSERT_EQ(u[v], 0);
    ASSERT_EQ(u[255 * 256 + v], v);
  }
  EXPECT_EQ(u[128 * 256 + 64], 128);  // (64*255 + 64) / 128
  EXPECT_EQ(u[3 * 256 + 1], 85);      // (255 + 1) / 3
  EXPECT_EQ(u[10 * 256 + 200], 255);  // saturated
  EXPECT_EQ(u[254 * 256 + 254], 255);
  // Unpremultiplying a premultiplied value comes back close when alpha is large.
  for (unsigned v = 0; v < 256; ++v) {
    ASSERT_LE(std::abs(u[200 * 256 + PremultiplyValue(v, 200)] - static_cast<int>(v)), 1);
  }
}

TEST(AlphaConversion, ImagesConvertInPlace) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(3, 1)), 0u);
  WriteRow(image, 0, {200, 100, 50, 128, 7, 8, 9, 0, 7, 8, 9, 255});
  ASSERT_TRUE(image.Premultiply());
  EXPECT_EQ(ReadRow(image, 0), (Bytes{100, 50, 25, 128, 0, 0, 0, 0, 7, 8, 9, 255}));
  WriteRow(image, 0, {100, 50, 25, 128, 7, 8, 9, 0, 7, 8, 9, 255});
  ASSERT_TRUE(image.Unpremultiply());
  EXPECT_EQ(ReadRow(image, 0), (Bytes{199, 100, 50, 128, 0, 0, 0, 0, 7, 8, 9, 255}));
}

TEST(AlphaConversion, TransparentGreyKeepsItsValue) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGreyA(3, 1)), 0u);
  WriteRow(image, 0, {10, 0, 64, 128, 30, 255});
  ASSERT_TRUE(image.Unpremultiply());
  EXPECT_EQ(ReadRow(image, 0), (Bytes{10, 0, 128, 128, 30, 255}));
  ASSERT_TRUE(image.Premultiply());
  EXPECT_EQ(ReadRow(image, 0), (Bytes{0, 0, 64, 128, 30, 255}));
}

TEST(AlphaConversion, OnlyTheRectangleChanges) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(6, 300)), 0u);
  const Bytes half(6 * 4, 128);
  for (int y = 0; y < 300; ++y) WriteRow(image, y, half);
  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(image, 2, 100, 4, 260)), 0u);
  ASSERT_TRUE(window.Premultiply());
  for (int y : {99, 100, 127, 128, 259, 260}) {
    const Bytes row = ReadRow(image, y);
    const bool inside = y >= 100 && y < 260;
    for (int x = 0; x < 6; ++x) {
      const uint8_t expected = inside && x >= 2 && x < 4 ? 64 : 128;
      ASSERT_EQ(row[4 * x], expected) << x << "," << y;
      ASSERT_EQ(row[4 * x + 3], 128);
    }
  }
}

TEST(AlphaConversion, OtherFormatsAreLeftAlone) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(2, 1)), 0u);
  WriteRow(image, 0, {9, 9});
  EXPECT_FALSE(image.Premultiply());
  EXPECT_FALSE(image.Unpremultiply());
  EXPECT_EQ(ReadRow(image, 0), (Bytes{9, 9}));
  ASSERT_EQ(Code(image.CreateBGRA(2, 1)), 0u);
  ASSERT_EQ(Code(image.SetChannelView(3, keAccessReadWrite)), 0u);
  EXPECT_FALSE(image.Premultiply());
  CCoreImage empty;
  EXPECT_FALSE(empty.Unpremultiply());
  // A colour view of grey storage carries no alpha in the storage.
  ASSERT_EQ(Code(image.CreateGrey(2, 1)), 0u);
  ASSERT_EQ(Code(image.SetViewFormat(keFormatBGRA, keAccessRead)), 0u);
  EXPECT_FALSE(image.Unpremultiply());
}

TEST(CoreStartup, StartsOnceRegistersMessagesAndStops) {
  ASSERT_EQ(CoreStartup(), 0u);
  EXPECT_TRUE(CoreIsStarted());
  EXPECT_EQ(CoreStartup(), 0u);
  EXPECT_EQ(UnpremultiplyTable()[255 * 256 + 17], 17);
  EXPECT_STREQ(CJException(101).MessageText(), "Invalid argument.");
  EXPECT_STRNE(CJException(801).MessageText(), "");
  EXPECT_STREQ(CJException(555).MessageText(), "An undefined error has occured - 555");
  CoreShutdown();
  EXPECT_FALSE(CoreIsStarted());
  EXPECT_STREQ(CJException(101).MessageText(), "An undefined error has occured - 101");
  CoreShutdown();  // a second stop does nothing
}
