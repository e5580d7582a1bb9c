#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ImageTestUtil.h"
#include "imagecore/CoreImage.h"
#include "platform/DeviceContext.h"

namespace {

// Keeps what each stretch call was handed.
class CRecordingDC : public CDeviceContext {
 public:
  struct Call {
    int xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight;
    const void* bits;
    BITMAPINFO info;
    uint32_t rop;
  };
  std::vector<Call> calls;

  int StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                    int srcHeight, const void* bits, const BITMAPINFO& info, unsigned, uint32_t rop) override {
    calls.push_back({xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight, bits, info, rop});
    return srcHeight;
  }
};

// A BGRA picture in which every pixel names its own position.
void FillPositions(CCoreImage& image) {
  for (int y = 0; y < image.Height(); ++y) {
    std::vector<uint8_t> row(4 * static_cast<size_t>(image.Width()));
    for (int x = 0; x < image.Width(); ++x) {
      row[4 * x] = static_cast<uint8_t>(x);
      row[4 * x + 1] = static_cast<uint8_t>(y);
      row[4 * x + 2] = static_cast<uint8_t>(y >> 8);
      row[4 * x + 3] = 77;
    }
    WriteRow(image, y, row);
  }
}

struct CBuffer {
  int width, height;
  std::vector<uint8_t> pixels;
  CBuffer(int w, int h, uint8_t fill = 0xCD) : width(w), height(h), pixels(4 * static_cast<size_t>(w) * h, fill) {}
  CPixelBufferDC Context() { return CPixelBufferDC(pixels.data(), width, height, 4 * width, kePixelLayout::BGRA); }
  const uint8_t* At(int x, int y) const { return &pixels[4 * (static_cast<size_t>(y) * width + x)]; }
};

// The plain reference: each destination pixel takes the source pixel nearest
// to its centre.
int Nearest(int offset, int sourceSize, int destSize) {
  return static_cast<int>((2 * int64_t{offset} + 1) * sourceSize / (2 * int64_t{destSize}));
}

// Every pixel of the destination rectangle holds the reference's source pixel.
void ExpectNearestNeighbour(const CBuffer& out, const CoreRect& source, const CoreRect& dest) {
  for (int y = dest.top; y < dest.bottom; ++y) {
    const int sy = source.top + Nearest(y - dest.top, source.Height(), dest.Height());
    for (int x = dest.left; x < dest.right; ++x) {
      const int sx = source.left + Nearest(x - dest.left, source.Width(), dest.Width());
      const uint8_t* p = out.At(x, y);
      ASSERT_EQ(p[0], static_cast<uint8_t>(sx)) << x << "," << y;
      ASSERT_EQ(p[1] | (p[2] << 8), sy) << x << "," << y;
      ASSERT_EQ(p[3], 255);
    }
  }
}

TEST(Draw, RefusesWhatCannotBeDrawn) {
  CRecordingDC dc;
  CCoreImage image;
  EXPECT_EQ(Code(image.Draw(dc, CoreRect{0, 0, 1, 1}, CoreRect{0, 0, 1, 1}, SRCCOPY)), 110u);
  for (keFormat format : {keFormatGreyA, keFormatIndex8A, keFormatBGRxA, keFormatBGR_u16}) {
    ASSERT_EQ(Code(image.Create(4, 4, format, nullptr, nullptr, -1)), 0u);
    EXPECT_EQ(Code(image.Draw(dc, CoreRect{0, 0, 4, 4}, CoreRect{0, 0, 4, 4}, SRCCOPY)), 110u)
        << FormatName(format);
  }
  ASSERT_EQ(Code(image.CreateBGR(4, 4)), 0u);
  EXPECT_EQ(Code(image.Draw(dc, CoreRect{2, 0, 2, 4}, CoreRect{0, 0, 4, 4}, SRCCOPY)), 101u);
  EXPECT_EQ(Code(image.Draw(dc, CoreRect{0, 0, 4, 4}, CoreRect{0, 3, 4, 1}, SRCCOPY)), 101u);
  EXPECT_TRUE(dc.calls.empty());
}

TEST(Draw, HandsEachStripOverAsItLiesInMemory) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(20, 300)), 0u);
  CRecordingDC dc;
  ASSERT_EQ(Code(image.Draw(dc, 0, 0, 0, 0, 5, 7, 0, 0)), 0u);
  ASSERT_EQ(dc.calls.size(), 3u);
  const int rows[3] = {128, 128, 44};
  int top = 7;
  for (int s = 0; s < 3; ++s) {
    const CRecordingDC::Call& call = dc.calls[s];
    CStripInfo strip;
    ASSERT_TRUE(image.GetStripInfo(s, strip));
    // The bottom row of a strip is its lowest address: where the bitmap starts.
    EXPECT_EQ(call.bits, strip.blockAddress);
    const BITMAPINFOHEADER& h = call.info.bmiHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 128);  // the padded width
    EXPECT_EQ(h.biHeight, rows[s]);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biXPelsPerMeter, 3600);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(call.xSrc, 0);
    EXPECT_EQ(call.ySrc, 0);
    EXPECT_EQ(call.srcWidth, 20);
    EXPECT_EQ(call.srcHeight, rows[s]);
    EXPECT_EQ(call.xDest, 5);
    EXPECT_EQ(call.yDest, top);
    EXPECT_EQ(call.destWidth, 20);
    EXPECT_EQ(call.destHeight, rows[s]);
    EXPECT_EQ(call.rop, SRCCOPY);
    top += rows[s];
  }
}

TEST(Draw, PartOfAStripCountsItsSourceRowsFromTheStripsBottom) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(8, 300)), 0u);
  CRecordingDC dc;
  // Rows 140..149 lie in strip 1 (rows 128..255): 106 strip rows below them.
  ASSERT_EQ(Code(image.Draw(dc, CoreRect{2, 140, 6, 150}, CoreRect{0, 0, 8, 20}, SRCCOPY)), 0u);
  ASSERT_EQ(dc.calls.size(), 1u);
  const CRecordingDC::Call& call = dc.calls[0];
  EXPECT_EQ(call.info.bmiHeader.biHeight, 128);
  EXPECT_EQ(call.xSrc, 2);
  EXPECT_EQ(call.ySrc, 256 - 150);
  EXPECT_EQ(call.srcHeight, 10);
  EXPECT_EQ(call.destHeight, 20);
  // A grey image hands over the grey ramp as its colour table.
  EXPECT_EQ(call.info.bmiHeader.biClrUsed, 256u);
  EXPECT_EQ(call.info.bmiHeader.biClrImportant, 256u);
  EXPECT_EQ(call.info.bmiColors[200].rgbRed, 200);
  EXPECT_EQ(call.info.bmiColors[200].rgbBlue, 200);
}

TEST(Draw, StripsTogetherMatchAPlainNearestNeighbourStretch) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(40, 300)), 0u);
  FillPositions(image);
  // Scales at which every strip edge lands on a whole device row.
  const struct {
    CoreRect source, dest;
  } cases[] = {
      {{0, 0, 40, 300}, {3, 2, 43, 302}},      // 1:1
      {{0, 0, 40, 300}, {0, 0, 100, 150}},     // 2.5 across, half down
      {{0, 0, 40, 300}, {1, 1, 31, 451}},      // 0.75 across, 1.5 down
      {{8, 64, 24, 256}, {0, 0, 48, 576}},     // part of strips 0 and 1, times 3
      {{5, 100, 35, 299}, {2, 0, 17, 199}},    // across three strips, half across
  };
  for (const auto& c : cases) {
    CBuffer out(120, 600);
    CPixelBufferDC dc = out.Context();
    ASSERT_EQ(Code(image.Draw(dc, c.source, c.dest, SRCCOPY)), 0u);
    ExpectNearestNeighbour(out, c.source, c.dest);
    // Nothing outside the destination is touched.
    for (int y = 0; y < out.height; ++y) {
      for (int x = 0; x < out.width; ++x) {
        const bool inside = x >= c.dest.left && x < c.dest.right && y >= c.dest.top && y < c.dest.bottom;
        if (!inside) {
          ASSERT_EQ(out.At(x, y)[0], 0xCD) << x << "," << y;
        }
      }
    }
  }
}

// Where a strip edge falls between device rows, each strip's part is rounded
// outwards on its own: the parts overlap by a row, never leave one out, and
// each row shows what the plain stretch shows within a row of it.
TEST(Draw, FractionalStripEdgesLeaveNoGapAndStrayAtMostOneDeviceRow) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(16, 300)), 0u);
  FillPositions(image);
  for (int destHeight : {211, 389}) {
    CBuffer out(16, destHeight);
    CPixelBufferDC dc = out.Context();
    ASSERT_EQ(Code(image.Draw(dc, CoreRect{0, 0, 16, 300}, CoreRect{0, 0, 16, destHeight}, SRCCOPY)), 0u);
    int previous = 0;
    for (int y = 0; y < destHeight; ++y) {
      const uint8_t* p = out.At(3, y);
      ASSERT_EQ(p[3], 255) << "row " << y << " left unpainted";
      const int row = p[1] | (p[2] << 8);
      EXPECT_GE(row, Nearest(std::max(y - 1, 0), 300, destHeight)) << "row " << y;
      EXPECT_LE(row, Nearest(std::min(y + 1, destHeight - 1), 300, destHeight)) << "row " << y;
      EXPECT_GE(row, previous) << "row " << y;
      previous = row;
    }
  }
}

TEST(Draw, SubImagesStartingInsideAStripLineUp) {
  CCoreImage whole;
  ASSERT_EQ(Code(whole.CreateBGRA(64, 300)), 0u);
  FillPositions(whole);
  CCoreImage part;
  ASSERT_EQ(Code(part.SubImage(whole, 10, 100, 50, 290)), 0u);
  CBuffer out(80, 380);
  CPixelBufferDC dc = out.Context();
  ASSERT_EQ(Code(part.Draw(dc, CoreRect{0, 0, 40, 190}, CoreRect{0, 0, 80, 380}, SRCCOPY)), 0u);
  // The sub-image's pixel (0, 0) is the whole image's (10, 100).
  ExpectNearestNeighbour(out, CoreRect{10, 100, 50, 290}, CoreRect{0, 0, 80, 380});
}

TEST(Draw, IndexedPicturesKeepTheirColoursAndBitPositions) {
  // A 1-bit picture whose sub-image starts 3 pixels into a byte.
  const uint8_t palette[8] = {0, 0, 255, 0, 0, 255, 0, 0};  // red, green
  CCoreImage bits;
  ASSERT_EQ(Code(bits.Create(16, 2, keFormatIndex1, nullptr, palette, 2)), 0u);
  WriteRow(bits, 0, {0b00010110, 0b00000000});
  WriteRow(bits, 1, {0b11111111, 0b11111111});
  CCoreImage part;
  ASSERT_EQ(Code(part.SubImage(bits, 3, 0, 11, 2)), 0u);
  CBuffer out(8, 2);
  CPixelBufferDC dc = out.Context();
  ASSERT_EQ(Code(part.Draw(dc, 0, 0, 0, 0, 0, 0, 0, 0)), 0u);
  const int expected[8] = {1, 0, 1, 1, 0, 0, 0, 0};  // bits 3..10 of row 0
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(out.At(x, 0)[1], expected[x] ? 255 : 0) << x;
    EXPECT_EQ(out.At(x, 0)[2], expected[x] ? 0 : 255) << x;
    EXPECT_EQ(out.At(x, 1)[1], 255);
  }

  CCoreImage nibbles;
  const uint8_t palette16[64] = {0, 0, 0, 0, 10, 20, 30, 0, 40, 50, 60, 0};
  ASSERT_EQ(Code(nibbles.Create(3, 1, keFormatIndex4, nullptr, palette16, 16)), 0u);
  WriteRow(nibbles, 0, {0x21, 0x00});
  CBuffer small(3, 1);
  CPixelBufferDC smallDc = small.Context();
  ASSERT_EQ(Code(nibbles.Draw(smallDc, 0, 0, 0, 0, 0, 0, 0, 0)), 0u);
  EXPECT_EQ(small.At(0, 0)[0], 40);
  EXPECT_EQ(small.At(1, 0)[0], 10);
  EXPECT_EQ(small.At(2, 0)[0], 0);
}

// Beyond the image lie other rows or the end of a block: never handed over.
TEST(Draw, ASourceRectangleBeyondTheImageDrawsOnlyTheImage) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(10, 10)), 0u);
  FillPositions(image);
  CBuffer out(40, 40);
  CPixelBufferDC dc = out.Context();
  // Source (-10, -10)..(20, 20) onto (0, 0)..(30, 30): the image covers 10..20.
  ASSERT_EQ(Code(image.Draw(dc, CoreRect{-10, -10, 20, 20}, CoreRect{0, 0, 30, 30}, SRCCOPY)), 0u);
  ExpectNearestNeighbour(out, CoreRect{0, 0, 10, 10}, CoreRect{10, 10, 20, 20});
  EXPECT_EQ(out.At(9, 15)[0], 0xCD);
  EXPECT_EQ(out.At(20, 15)[0], 0xCD);
  EXPECT_EQ(out.At(15, 9)[0], 0xCD);
  EXPECT_EQ(out.At(15, 20)[0], 0xCD);

  CRecordingDC recorder;
  ASSERT_EQ(Code(image.Draw(recorder, CoreRect{10, 0, 20, 10}, CoreRect{0, 0, 10, 10}, SRCCOPY)), 0u);
  EXPECT_TRUE(recorder.calls.empty());
}

TEST(Draw, TheRasterOperationReachesTheDevice) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGR(4, 4)), 0u);
  FillPattern(image);
  CBuffer out(4, 4, 0x5A);
  CPixelBufferDC dc = out.Context();
  ASSERT_EQ(Code(image.Draw(dc, CoreRect{0, 0, 4, 4}, CoreRect{0, 0, 4, 4}, SRCINVERT)), 0u);
  EXPECT_EQ(out.At(1, 2)[0], PatternByte(3, 2) ^ 0x5A);
  ASSERT_EQ(Code(image.Draw(dc, CoreRect{0, 0, 4, 4}, CoreRect{0, 0, 4, 4}, SRCINVERT)), 0u);
  EXPECT_EQ(out.At(1, 2)[0], 0x5A);  // inverting twice restores
}

}  // namespace
