#include "platform/DeviceContext.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A bottom-up 8-bit bitmap 4 wide and 3 high whose index is 10 * row from
// the top + column, and a colour table with blue = index.
struct CSmallDib {
  BITMAPINFO info{};
  std::vector<uint8_t> bits = std::vector<uint8_t>(4 * 3);
  CSmallDib() {
    info.bmiHeader.biWidth = 4;
    info.bmiHeader.biHeight = 3;
    info.bmiHeader.biBitCount = 8;
    info.bmiHeader.biClrUsed = 256;
    for (int i = 0; i < 256; ++i) info.bmiColors[i] = RGBQUAD{static_cast<uint8_t>(i), 1, 2, 0};
    for (int top = 0; top < 3; ++top) {
      for (int x = 0; x < 4; ++x) bits[(2 - top) * 4 + x] = static_cast<uint8_t>(10 * top + x);
    }
  }
};

TEST(PixelBufferDC, BottomUpSourcesCountTheirRowsFromTheBottom) {
  CSmallDib dib;
  std::vector<uint8_t> pixels(3 * 2 * 2, 0);
  CPixelBufferDC dc(pixels.data(), 2, 2, 6, kePixelLayout::BGR);
  // ySrc 1 with height 2: the two upper rows of the bitmap (tops 0 and 1).
  EXPECT_EQ(dc.StretchDIBits(0, 0, 2, 2, 1, 1, 2, 2, dib.bits.data(), dib.info, DIB_RGB_COLORS, SRCCOPY), 2);
  EXPECT_EQ(pixels[0], 1);
  EXPECT_EQ(pixels[3], 2);
  EXPECT_EQ(pixels[6], 11);
  EXPECT_EQ(pixels[9], 12);
  EXPECT_EQ(pixels[1], 1);  // green of the table
  EXPECT_EQ(pixels[2], 2);

  // The same rectangle of a top-down bitmap is counted from its top.
  dib.info.bmiHeader.biHeight = -3;
  for (int top = 0; top < 3; ++top) {
    for (int x = 0; x < 4; ++x) dib.bits[top * 4 + x] = static_cast<uint8_t>(10 * top + x);
  }
  dc.StretchDIBits(0, 0, 2, 2, 1, 1, 2, 2, dib.bits.data(), dib.info, DIB_RGB_COLORS, SRCCOPY);
  EXPECT_EQ(pixels[0], 11);
  EXPECT_EQ(pixels[6], 21);
}

TEST(PixelBufferDC, ClipsToItsBufferAndHonoursTheViewportOrigin) {
  CSmallDib dib;
  std::vector<uint8_t> pixels(4 * 3 * 3, 0);
  CPixelBufferDC dc(pixels.data(), 3, 3, 12, kePixelLayout::BGRA);
  dc.SetViewportOrigin(2, 1);
  // Logical (0, 0) is device (2, 1): only that column's two lower pixels show.
  EXPECT_EQ(dc.StretchDIBits(0, 0, 4, 3, 0, 0, 4, 3, dib.bits.data(), dib.info, DIB_RGB_COLORS, SRCCOPY), 3);
  EXPECT_EQ(pixels[(1 * 3 + 2) * 4], 0);
  EXPECT_EQ(pixels[(1 * 3 + 2) * 4 + 3], 255);
  EXPECT_EQ(pixels[(2 * 3 + 2) * 4], 10);
  EXPECT_EQ(pixels[(1 * 3 + 1) * 4 + 3], 0);  // left of the origin: untouched
}

// The bitmap comes without its size: a rectangle outside it cannot be read.
TEST(PixelBufferDC, RefusesSourceRectanglesOutsideTheBitmap) {
  CSmallDib dib;
  std::vector<uint8_t> pixels(4 * 4, 0x33);
  CPixelBufferDC dc(pixels.data(), 2, 2, 8, kePixelLayout::BGRA);
  EXPECT_EQ(dc.StretchDIBits(0, 0, 2, 2, 3, 0, 2, 2, dib.bits.data(), dib.info, DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(dc.StretchDIBits(0, 0, 2, 2, 0, 2, 2, 2, dib.bits.data(), dib.info, DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(dc.StretchDIBits(0, 0, 2, 2, -1, 0, 2, 2, dib.bits.data(), dib.info, DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(dc.StretchDIBits(0, 0, -2, 2, 0, 0, 2, 2, dib.bits.data(), dib.info, DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(dc.StretchDIBits(0, 0, 2, 2, 0, 0, 2, 2, dib.bits.data(), dib.info, DIB_RGB_COLORS, 0x00AA0029), 0);
  for (uint8_t p : pixels) EXPECT_EQ(p, 0x33);
}

TEST(PixelBufferDC, IndexBeyondTheColourTableIsBlack) {
  CSmallDib dib;
  dib.info.bmiHeader.biClrUsed = 5;
  std::vector<uint8_t> pixels(3 * 4, 0x77);
  CPixelBufferDC dc(pixels.data(), 4, 1, 12, kePixelLayout::BGR);
  dc.StretchDIBits(0, 0, 4, 1, 0, 0, 4, 1, dib.bits.data(), dib.info, DIB_RGB_COLORS, SRCCOPY);
  // The bottom row holds indices 20..23, all beyond the five colours.
  for (uint8_t p : pixels) EXPECT_EQ(p, 0);
}

}  // namespace
