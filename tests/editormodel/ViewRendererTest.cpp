#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "editor/model/ViewRenderer.h"
#include "imagecore/ColorRef.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

namespace {

using Bgr = std::array<uint8_t, 3>;

constexpr CMatteColours kChecker = {{255, 255, 255}, {208, 205, 195}};
const Bgr kCellA = {255, 255, 255};
const Bgr kCellB = {195, 205, 208};

uint32_t Code(CoreResult result) { return ExamineResult(result); }

std::array<int, 4> Edges(const CoreRect& r) { return {r.left, r.top, r.right, r.bottom}; }

CCoreImage MakeFilled(keFormat format, int width, int height, const CColorRef& fill) {
  CCoreImage image;
  EXPECT_EQ(Code(image.Create(width, height, format, &fill, nullptr, 0)), 0u);
  return image;
}

void SetBytes(CCoreImage& image, int x, int y, std::initializer_list<uint8_t> bytes) {
  const CRowLease row(image, y);
  uint8_t* pixel = row.Data() + static_cast<size_t>(x) * (image.ViewBitsPerPixel() / 8);
  for (uint8_t b : bytes) *pixel++ = b;
}

Bgr PixelAt(CCoreImage& buffer, int x, int y) {
  const CRowLease row(buffer, y);
  const uint8_t* pixel = row.Data() + 3 * x;
  return {pixel[0], pixel[1], pixel[2]};
}

// The colour painted at a point in scrolled coordinates.
Bgr PaintedAt(CCoreImage& buffer, const CViewPaintArea& area, int x, int y) {
  return PixelAt(buffer, x - area.destination.left, y - area.destination.top);
}

// The whole client area repainted, the image centred.
CViewPaint WholeClient(double zoom, const CCoreImage& image, int clientWidth, int clientHeight,
                       int scrollX = 0, int scrollY = 0, CMatteColours matte = kChecker) {
  CViewPaint paint;
  paint.zoom = zoom;
  paint.origin = ScaledImageOrigin(zoom, image.Width(), image.Height(), clientWidth, clientHeight);
  paint.scrollX = scrollX;
  paint.scrollY = scrollY;
  paint.clientWidth = clientWidth;
  paint.clientHeight = clientHeight;
  paint.clip = {scrollX, scrollY, scrollX + clientWidth, scrollY + clientHeight};
  paint.matte = matte;
  return paint;
}

std::vector<uint8_t> AllBytes(CCoreImage& buffer) {
  std::vector<uint8_t> bytes;
  for (int y = 0; y < buffer.Height(); ++y) {
    const CRowLease row(buffer, y);
    bytes.insert(bytes.end(), row.Data(), row.Data() + 3 * buffer.Width());
  }
  return bytes;
}

// Mostly fully opaque or fully transparent, as pictures after a run are, with
// enough partial alpha to exercise every blend.
void FillRandom(CCoreImage& image, std::mt19937& random) {
  const int bytes = image.ViewBitsPerPixel() / 8;
  for (int y = 0; y < image.Height(); ++y) {
    const CRowLease lease(image, y);
    uint8_t* row = lease.Data();
    for (int x = 0; x < image.Width(); ++x) {
      for (int c = 0; c < bytes; ++c) row[x * bytes + c] = static_cast<uint8_t>(random());
      if (bytes == 4 || bytes == 2) {
        const unsigned kind = random() % 4;
        row[x * bytes + bytes - 1] = kind == 0   ? 0
                                     : kind == 1 ? 255
                                                 : static_cast<uint8_t>(random());
      }
    }
  }
}

}  // namespace

TEST(ViewRenderer, FastPathGivesTheReferenceBytes) {
  std::mt19937 random(20240517);
  const double zooms[] = {0.1, 1.0 / 9, 1.0 / 7, 1.0 / 3, 0.5,         2.0 / 3, 1,    1.5,
                          3,   7,       10,      0.37,    0.244140625, 0.8123,  2.71, 23.0};
  const keFormat formats[] = {keFormatBGRA, keFormatBGRA, keFormatBGR, keFormatGreyA};
  const CMatteColours solid = {{90, 160, 140}, {90, 160, 140}};
  CCoreImage fastBuffer;
  int painted = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const keFormat format = formats[random() % 4];
    const int width = 1 + static_cast<int>(random() % 90);
    const int height = 1 + static_cast<int>(random() % 70);
    CCoreImage image = MakeFilled(format, width, height, CColorRef(0, 0, 0, 0));
    FillRandom(image, random);
    const double zoom =
        trial % 5 == 4 ? 0.05 + (random() % 10000) / 1000.0 : zooms[random() % std::size(zooms)];
    const int clientWidth = 1 + static_cast<int>(random() % 150);
    const int clientHeight = 1 + static_cast<int>(random() % 120);
    const int maxScrollX = std::max(0, static_cast<int>(width * zoom) - clientWidth);
    const int maxScrollY = std::max(0, static_cast<int>(height * zoom) - clientHeight);
    CViewPaint paint = WholeClient(
        zoom, image, clientWidth, clientHeight, static_cast<int>(random() % (maxScrollX + 1)),
        static_cast<int>(random() % (maxScrollY + 1)), trial % 3 == 2 ? solid : kChecker);
    if (trial % 2 == 1) {
      // A part of the client area, reaching beyond it at times.
      const int left = paint.scrollX + static_cast<int>(random() % clientWidth) - 5;
      const int top = paint.scrollY + static_cast<int>(random() % clientHeight) - 5;
      paint.clip = {left, top, left + 1 + static_cast<int>(random() % 60),
                    top + 1 + static_cast<int>(random() % 60)};
    }
    if (trial % 7 == 6)
      paint.origin = {static_cast<int>(random() % 30), static_cast<int>(random() % 30)};

    CCoreImage referenceBuffer;
    CViewPaintArea reference;
    CViewPaintArea fast;
    ASSERT_EQ(Code(RenderViewReference(image, paint, referenceBuffer, reference)), 0u);
    if (trial % 2 == 0 && !reference.IsEmpty()) {
      // A kept buffer of the right size holding an older picture.
      const CColorRef stale(1, 2, 3);
      ASSERT_EQ(Code(fastBuffer.CreateBGR(reference.destination.Width(),
                                          reference.destination.Height(), &stale)),
                0u);
    }
    ASSERT_EQ(Code(RenderView(image, paint, fastBuffer, fast)), 0u);
    ASSERT_EQ(fast.IsEmpty(), reference.IsEmpty()) << "trial " << trial;
    if (reference.IsEmpty()) continue;
    ++painted;
    ASSERT_EQ(Edges(fast.destination), Edges(reference.destination));
    ASSERT_EQ(AllBytes(fastBuffer), AllBytes(referenceBuffer))
        << "trial " << trial << " zoom " << zoom << " format " << format;
  }
  EXPECT_GT(painted, 300);
}

TEST(ViewRenderer, TransparentPixelsShowTheMatteAndOpaqueOnesTheirOwnColour) {
  CCoreImage image = MakeFilled(keFormatBGRA, 40, 30, CColorRef(0, 0, 0, 0));
  for (int x = 20; x < 40; ++x)
    for (int y = 0; y < 30; ++y) SetBytes(image, x, y, {static_cast<uint8_t>(x), 17, 250, 255});
  for (double zoom : {1.0, 3.0, 0.5}) {
    const CViewPaint paint = WholeClient(zoom, image, 200, 150);
    CCoreImage buffer;
    CViewPaintArea area;
    ASSERT_EQ(Code(RenderView(image, paint, buffer, area)), 0u);
    const int ox = paint.origin.x;
    const int oy = paint.origin.y;
    for (int i = 0; i < static_cast<int>(40 * zoom); ++i) {
      for (int j = 0; j < static_cast<int>(30 * zoom); ++j) {
        const int column = static_cast<int>(i / zoom + 1e-9);
        const Bgr painted = PaintedAt(buffer, area, ox + i, oy + j);
        if (column >= 20) {
          ASSERT_EQ(painted, (Bgr{static_cast<uint8_t>(column), 17, 250})) << zoom << " " << i;
        } else {
          ASSERT_EQ(painted, (i / 10 + j / 10) % 2 == 0 ? kCellB : kCellA) << zoom << " " << i;
        }
      }
    }
  }
}

TEST(ViewRenderer, PartialAlphaBlendsTowardTheSourceByItsAlpha) {
  // Blue 200 over a matte blue of 100 and green 100 over a matte green of 200.
  CCoreImage image = MakeFilled(keFormatBGRA, 1, 1, CColorRef(0, 0, 0, 0));
  SetBytes(image, 0, 0, {200, 100, 100, 64});
  const CMatteColours matte = {{100, 200, 100}, {100, 200, 100}};
  CCoreImage buffer;
  CViewPaintArea area;
  ASSERT_EQ(Code(RenderView(image, WholeClient(1, image, 1, 1, 0, 0, matte), buffer, area)), 0u);
  // 100 + T[64 * 100] and 100 + T[100 * 191]; red is 100 on both sides.
  EXPECT_EQ(PixelAt(buffer, 0, 0), (Bgr{125, 175, 100}));
}

TEST(ViewRenderer, CheckerboardStartsAtTheImageCornerAndMovesWithIt) {
  // A small image is centred at an odd offset: the cells start there, not at
  // the window's corner.
  CCoreImage small = MakeFilled(keFormatBGRA, 25, 25, CColorRef(0, 0, 0, 0));
  const CViewPaint centred = WholeClient(1, small, 103, 77);
  CCoreImage buffer;
  CViewPaintArea area;
  ASSERT_EQ(Code(RenderView(small, centred, buffer, area)), 0u);
  EXPECT_EQ(Edges(area.destination), (std::array{39, 26, 64, 51}));
  EXPECT_EQ(PaintedAt(buffer, area, 39, 26), kCellB);
  EXPECT_EQ(PaintedAt(buffer, area, 48, 35), kCellB);
  EXPECT_EQ(PaintedAt(buffer, area, 49, 26), kCellA);
  EXPECT_EQ(PaintedAt(buffer, area, 39, 36), kCellA);
  EXPECT_EQ(PaintedAt(buffer, area, 49, 36), kCellB);

  // A large image scrolled by a few pixels: each cell stays on its image
  // pixels, so a scrolled point keeps its colour.
  CCoreImage large = MakeFilled(keFormatBGRA, 300, 200, CColorRef(0, 0, 0, 0));
  CCoreImage still;
  CCoreImage moved;
  CViewPaintArea stillArea;
  CViewPaintArea movedArea;
  ASSERT_EQ(Code(RenderView(large, WholeClient(2, large, 100, 80), still, stillArea)), 0u);
  ASSERT_EQ(Code(RenderView(large, WholeClient(2, large, 100, 80, 7, 3), moved, movedArea)), 0u);
  EXPECT_EQ(PaintedAt(moved, movedArea, 7, 3), kCellB);
  EXPECT_EQ(PaintedAt(moved, movedArea, 10, 3), kCellA);
  for (int x = 7; x < 100; ++x)
    for (int y = 3; y < 80; ++y)
      ASSERT_EQ(PaintedAt(moved, movedArea, x, y), PaintedAt(still, stillArea, x, y))
          << x << " " << y;
}

TEST(ViewRenderer, OnlyThePixelsUnderTheClipBoxArePainted) {
  CCoreImage image = MakeFilled(keFormatBGRA, 100, 100, CColorRef(10, 20, 30, 255));
  CViewPaint paint = WholeClient(1, image, 100, 100);
  paint.clip = {10, 10, 20, 20};
  CCoreImage buffer;
  CViewPaintArea area;
  ASSERT_EQ(Code(RenderView(image, paint, buffer, area)), 0u);
  // The truncated right and bottom edges take one more source pixel.
  EXPECT_EQ(Edges(area.source), (std::array{10, 10, 21, 21}));
  EXPECT_EQ(Edges(area.destination), (std::array{10, 10, 21, 21}));
  EXPECT_EQ(buffer.Width(), 11);
  EXPECT_EQ(buffer.Height(), 11);

  // At zoom 2 the box is widened to whole source pixels.
  paint = WholeClient(2, image, 100, 100, 30, 40);
  paint.clip = {35, 45, 39, 49};
  ASSERT_EQ(Code(RenderView(image, paint, buffer, area)), 0u);
  EXPECT_EQ(Edges(area.source), (std::array{17, 22, 20, 25}));
  EXPECT_EQ(Edges(area.destination), (std::array{34, 44, 40, 50}));

  // Never beyond the client area, even when the box reaches past it.
  paint.clip = {120, 130, 200, 200};
  ASSERT_EQ(Code(RenderView(image, paint, buffer, area)), 0u);
  EXPECT_EQ(Edges(area.destination), (std::array{120, 130, 130, 140}));
}

TEST(ViewRenderer, NothingIsDrawnOutsideTheImageOrForUndrawableImages) {
  CCoreImage image = MakeFilled(keFormatBGRA, 20, 20, CColorRef(1, 2, 3, 255));
  CViewPaint paint = WholeClient(1, image, 100, 100);
  paint.clip = {0, 0, 40, 100};  // the margin left of the centred image
  CCoreImage buffer;
  CViewPaintArea area;
  ASSERT_EQ(Code(RenderView(image, paint, buffer, area)), 0u);
  EXPECT_TRUE(area.IsEmpty());

  for (keFormat format : {keFormatGrey, keFormatIndex8}) {
    CCoreImage other = MakeFilled(format, 20, 20, CColorRef(1, 2, 3, 255));
    ASSERT_EQ(Code(RenderView(other, WholeClient(1, other, 100, 100), buffer, area)), 0u);
    EXPECT_TRUE(area.IsEmpty()) << format;
  }
  CCoreImage empty;
  ASSERT_EQ(Code(RenderView(empty, WholeClient(1, image, 100, 100), buffer, area)), 0u);
  EXPECT_TRUE(area.IsEmpty());
}

TEST(ViewRenderer, GreyWithAlphaShowsAsColourAndKeepsItsOwnView) {
  CCoreImage image = MakeFilled(keFormatGreyA, 4, 4, CColorRef(90, 90, 90, 255));
  SetBytes(image, 1, 0, {200, 0});
  CCoreImage buffer;
  CViewPaintArea area;
  ASSERT_EQ(Code(RenderView(image, WholeClient(1, image, 4, 4), buffer, area)), 0u);
  EXPECT_EQ(PixelAt(buffer, 0, 0), (Bgr{90, 90, 90}));
  EXPECT_EQ(PixelAt(buffer, 1, 0), kCellB);
  EXPECT_EQ(image.ViewFormat(), keFormatGreyA);
  EXPECT_FALSE(image.HasRowCache());

  // Without alpha the colours are shown as they are, over no matte.
  CCoreImage colour = MakeFilled(keFormatBGR, 4, 4, CColorRef(7, 8, 9));
  ASSERT_EQ(Code(RenderView(colour, WholeClient(2, colour, 8, 8), buffer, area)), 0u);
  EXPECT_EQ(PixelAt(buffer, 7, 7), (Bgr{9, 8, 7}));
}

TEST(ViewRenderer, EdgeColumnsAndRowsNeverReadPastTheImage) {
  // At this fit zoom the last, partly covered screen column maps one past the
  // last image column; it shows the last column instead.
  const double zoom = 1000.0 / 4096;
  CCoreImage image = MakeFilled(keFormatBGRA, 213, 213, CColorRef(0, 0, 0, 255));
  for (int y = 0; y < 213; ++y) SetBytes(image, 212, y, {1, 2, 3, 255});
  for (int x = 0; x < 213; ++x) SetBytes(image, x, 212, {1, 2, 3, 255});
  CCoreImage buffer;
  CViewPaintArea area;
  CViewPaint paint = WholeClient(zoom, image, 60, 60);
  paint.origin = {0, 0};
  ASSERT_EQ(Code(RenderView(image, paint, buffer, area)), 0u);
  ASSERT_EQ(Edges(area.destination), (std::array{0, 0, 53, 53}));
  EXPECT_EQ(PaintedAt(buffer, area, 52, 10), (Bgr{1, 2, 3}));
  EXPECT_EQ(PaintedAt(buffer, area, 10, 52), (Bgr{1, 2, 3}));
  EXPECT_EQ(PaintedAt(buffer, area, 51, 10), (Bgr{0, 0, 0}));
}

TEST(ViewRenderer, ARowThatCannotBeHadEndsThePaintWithItsFailureAndGivesBackTheRest) {
  // A BGRA view of a colour image goes through a row cache, where a row held
  // with another span cannot be had.
  CCoreImage image = MakeFilled(keFormatBGR, 8, 8, CColorRef(1, 2, 3));
  ASSERT_EQ(Code(image.SetViewFormat(keFormatBGRA, keAccessRead)), 0u);
  const CRowLease held(image, 5, 0, 1);
  CCoreImage buffer;
  for (auto render : {RenderView, RenderViewReference}) {
    CViewPaintArea area;
    EXPECT_EQ(Code(render(image, WholeClient(1, image, 8, 8), buffer, area)), keErrInvalidArgument);
    EXPECT_TRUE(area.IsEmpty());
    // The rows painted before it are free again, for any span.
    for (int y = 0; y < 5; ++y) EXPECT_NO_THROW(CRowLease(image, y, 0, 1)) << y;
  }
}
