// The view's buffer context against the plain pixel-buffer stretching it
// stands on: the same strips drawn both ways give the same pixels.
#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <random>
#include <vector>

#include "editor/QtDeviceContext.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

namespace {

CCoreImage MakeNoise(int width, int height, keFormat format, uint32_t seed) {
  CCoreImage image;
  ThrowIfFailed(image.Create(width, height, format, nullptr, nullptr, 0));
  std::mt19937 random(seed);
  const int bytes = image.BitsPerPixel() / 8;
  for (int y = 0; y < height; ++y) {
    const CRowLease row(image, y);
    for (int i = 0; i < width * bytes; ++i) row.Data()[i] = static_cast<uint8_t>(random());
  }
  return image;
}

struct CDrawCase {
  const char* name;
  keFormat format;
  CoreRect source;
  CoreRect destination;
  int originX;
  int originY;
};

// Unscaled copies, as the view draws, take the direct path; scaled or
// indexed ones the plain one.
const CDrawCase kCases[] = {
    {"whole BGR", keFormatBGR, {0, 0, 190, 300}, {10, -20, 200, 280}, 0, 0},
    {"part of BGR", keFormatBGR, {30, 100, 150, 290}, {0, 0, 120, 190}, -5, 40},
    {"whole BGRA", keFormatBGRA, {0, 0, 190, 300}, {-30, 0, 160, 300}, 0, -7},
    {"halved BGR", keFormatBGR, {0, 0, 190, 300}, {0, 0, 95, 150}, 0, 0},
    {"grey", keFormatGrey, {0, 0, 190, 300}, {5, 5, 195, 305}, 0, 0},
};

TEST(QtDeviceContextTest, DrawsWhatThePlainStretchingDraws) {
  // Three strips, the last one partly filled.
  CCoreImage images[] = {MakeNoise(190, 300, keFormatBGR, 7), MakeNoise(190, 300, keFormatBGRA, 8),
                         MakeNoise(190, 300, keFormatGrey, 9)};
  for (const CDrawCase& c : kCases) {
    SCOPED_TRACE(c.name);
    CCoreImage& image = images[c.format == keFormatBGR ? 0 : c.format == keFormatBGRA ? 1 : 2];
    constexpr int kWidth = 230;
    constexpr int kHeight = 260;

    QImage target(kWidth, kHeight, QImage::Format_RGB32);
    target.fill(qRgb(1, 2, 3));
    CQtDeviceContext qt(target);
    qt.SetViewportOrigin(c.originX, c.originY);
    CoreResult drawnQt = image.Draw(qt, c.source, c.destination, SRCCOPY);
    EXPECT_EQ(ExamineResult(drawnQt), 0u);

    std::vector<uint8_t> plain(static_cast<size_t>(kWidth) * kHeight * 4);
    for (size_t i = 0; i < plain.size(); i += 4) {
      plain[i] = 3, plain[i + 1] = 2, plain[i + 2] = 1, plain[i + 3] = 255;
    }
    CPixelBufferDC reference(plain.data(), kWidth, kHeight, kWidth * 4, kePixelLayout::BGRA);
    reference.SetViewportOrigin(c.originX, c.originY);
    CoreResult drawn = image.Draw(reference, c.source, c.destination, SRCCOPY);
    EXPECT_EQ(ExamineResult(drawn), 0u);

    int differing = 0;
    for (int y = 0; y < kHeight; ++y) {
      differing += std::memcmp(target.constScanLine(y),
                               plain.data() + static_cast<size_t>(y) * kWidth * 4, kWidth * 4) != 0;
    }
    EXPECT_EQ(differing, 0);
  }
}

}  // namespace
