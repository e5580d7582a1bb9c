#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "TestImages.h"
#include "editor/model/BrushRegion.h"
#include "editor/model/MatteBrush.h"
#include "editor/model/ViewGeometry.h"
#include "imagecore/ColorRef.h"
#include "imagecore/CoreImage.h"

namespace {

CCoreImage MakeBGRA(int width, int height, uint8_t alpha) {
  CCoreImage image;
  const CColorRef fill(10, 20, 30, alpha);
  ThrowIfFailed(image.CreateBGRA(width, height, &fill));
  return image;
}

}  // namespace

// ---- Regions ----------------------------------------------------------------

TEST(BrushRegion, EllipseHoldsThePixelsWhoseCentreLiesInTheInscribedEllipse) {
  // c = 3: the corner centres lie at distance sqrt(2) of 1.5 radii: inside.
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_TRUE(CBrushRegion::Ellipse(3).Contains(x, y));
  // c = 4: the corners are out, their neighbours in.
  const CBrushRegion four = CBrushRegion::Ellipse(4);
  EXPECT_FALSE(four.Contains(0, 0));
  EXPECT_FALSE(four.Contains(3, 3));
  EXPECT_TRUE(four.Contains(1, 0));
  EXPECT_TRUE(four.Contains(0, 1));
  EXPECT_TRUE(four.Contains(2, 2));
  // Nothing outside the bounding square.
  EXPECT_FALSE(four.Contains(-1, 2));
  EXPECT_FALSE(four.Contains(4, 2));
  EXPECT_FALSE(four.Contains(2, 4));
  EXPECT_FALSE(CBrushRegion::Ellipse(0).Contains(0, 0));
}

TEST(BrushRegion, PolygonExcludesItsRightAndBottomEdges) {
  const CBrushRegion square = CBrushRegion::Polygon({{0, 0}, {3, 0}, {3, 2}, {0, 2}, {0, 0}});
  int inside = 0;
  for (int y = -1; y <= 3; ++y)
    for (int x = -1; x <= 4; ++x) inside += square.Contains(x, y);
  EXPECT_EQ(inside, 6);
  EXPECT_TRUE(square.Contains(0, 0));
  EXPECT_TRUE(square.Contains(2, 1));
  EXPECT_FALSE(square.Contains(3, 1));
  EXPECT_FALSE(square.Contains(2, 2));
}

TEST(BrushRegion, PolygonFillsByWindingSoOverlapsStayInside) {
  // The same square traced twice: winding 2, still inside.
  const CBrushRegion twice =
      CBrushRegion::Polygon({{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}, {2, 0}, {2, 2}, {0, 2}});
  EXPECT_TRUE(twice.Contains(1, 1));
  EXPECT_FALSE(twice.Contains(2, 1));
}

// ---- Masks ------------------------------------------------------------------

TEST(MatteBrush, HardMaskIsTheDiscOfTheDiameter) {
  CMatteBrush brush;
  brush.Setup(5, false);
  const CBrushRegion disc = CBrushRegion::Ellipse(5);
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) EXPECT_EQ(brush.HardMaskAt(j, i), disc.Contains(j, i) ? 0 : 255);
  EXPECT_EQ(brush.HardMaskAt(0, 0), 255);
  EXPECT_EQ(brush.HardMaskAt(1, 0), 0);
}

TEST(MatteBrush, HardBrushTestsRealHalvesTruncatedTowardZero) {
  // d = 5: columns j test trunc(j - 2.5): j = 2 and j = 3 both test 0, so
  // the soft mask's disc is one column wider than the hard one.
  CMatteBrush brush;
  brush.Setup(5, false);
  const CBrushRegion disc = CBrushRegion::Ellipse(5);
  for (int i = 0; i < 10; ++i) {
    for (int j = 0; j < 10; ++j) {
      const int x = static_cast<int>(j - 2.5);
      const int y = static_cast<int>(i - 2.5);
      EXPECT_EQ(brush.SoftMaskAt(j, i), disc.Contains(x, y) ? 0 : 255) << j << "," << i;
    }
  }
  for (int i = 0; i < 10; ++i) EXPECT_EQ(brush.SoftMaskAt(2, i), brush.SoftMaskAt(3, i));
}

TEST(MatteBrush, EvenHardBrushIsCentredInTheSoftMask) {
  CMatteBrush brush;
  brush.Setup(10, false);
  // The central 10 x 10 window (from 5, 5) holds the disc exactly.
  const CBrushRegion disc = CBrushRegion::Ellipse(10);
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 10; ++j)
      EXPECT_EQ(brush.SoftMaskAt(5 + j, 5 + i), disc.Contains(j, i) ? 0 : 255);
  EXPECT_EQ(brush.SoftMaskAt(0, 0), 255);
  EXPECT_EQ(brush.SoftMaskAt(19, 19), 255);
}

TEST(MatteBrush, SmoothBrushHasAZeroCentreAndAGradedRim) {
  CMatteBrush brush;
  brush.Setup(30, true);
  EXPECT_EQ(brush.SoftMaskAt(30, 30), 0);
  EXPECT_EQ(brush.SoftMaskAt(0, 0), 255);
  // Along the middle row, from the centre outwards: never decreasing, and
  // some values strictly between 0 and 255.
  bool graded = false;
  for (int j = 30; j < 59; ++j) {
    EXPECT_LE(brush.SoftMaskAt(j, 30), brush.SoftMaskAt(j + 1, 30));
    const uint8_t m = brush.SoftMaskAt(j, 30);
    graded = graded || (m > 0 && m < 255);
  }
  EXPECT_TRUE(graded);
  // The recover disc stays hard and full-sized.
  const CBrushRegion disc = CBrushRegion::Ellipse(30);
  for (int i = 0; i < 30; ++i)
    for (int j = 0; j < 30; ++j) EXPECT_EQ(brush.HardMaskAt(j, i), disc.Contains(j, i) ? 0 : 255);
}

TEST(MatteBrush, OutlineIsClosedAndTracesTheDisc) {
  CMatteBrush brush;
  brush.Setup(8, false);
  const std::vector<CMarkPoint>& outline = brush.Outline();
  ASSERT_GE(outline.size(), 3u);
  EXPECT_EQ(outline.front(), outline.back());
  const CBrushRegion disc = CBrushRegion::Ellipse(8);
  for (const CMarkPoint& p : outline) EXPECT_TRUE(disc.Contains(p.x, p.y));
  ASSERT_NE(brush.Region(), nullptr);
  EXPECT_FALSE(brush.Region()->IsEllipse());
}

TEST(MatteBrush, OutlineOnScreenIsCentredOnThePointer) {
  CMatteBrush brush;
  brush.Setup(10, false);
  const CBrushOutline screen = brush.OutlineOnScreen(100, 50, 1.0);
  ASSERT_EQ(screen.polyline.size(), brush.Outline().size());
  // (px, py) goes to (x - trunc(px + 0.5 - 5), ...).
  const CMarkPoint first = brush.Outline().front();
  EXPECT_EQ(screen.polyline[0].x, 100 - static_cast<int>(first.x + 0.5 - 5));
  EXPECT_EQ(screen.crossFrom[0], (CMarkPoint{98, 50}));
  EXPECT_EQ(screen.crossTo[1], (CMarkPoint{100, 52}));
}

// ---- Dabs -------------------------------------------------------------------

TEST(MatteBrush, EraseNeverRaisesAlpha) {
  CMatteBrush brush;
  brush.Setup(12, true);
  CCoreImage image = MakeBGRA(20, 20, 255);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) SetPixel(image, x, y, 3, 2, 1, static_cast<uint8_t>(x * 12));
  brush.Erase(image, 4, 4);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) {
      const uint8_t before = static_cast<uint8_t>(x * 12);
      const uint8_t after = ByteAt(image, x, y, 3);
      EXPECT_LE(after, before);
      const bool inDab = x >= 4 && x < 16 && y >= 4 && y < 16;
      const uint8_t expected =
          inDab ? std::min(before, brush.SoftMaskAt(6 + x - 4, 6 + y - 4)) : before;
      EXPECT_EQ(after, expected) << x << "," << y;
      EXPECT_EQ(ByteAt(image, x, y, 0), 1);  // colours untouched
    }
  }
}

TEST(MatteBrush, DabsAtTheBorderTouchOnlyPixelsInside) {
  CMatteBrush brush;
  brush.Setup(9, false);
  CCoreImage image = MakeBGRA(6, 5, 255);
  brush.Erase(image, -4, -4);
  brush.Erase(image, 3, 2);
  brush.Erase(image, 100, 100);
  brush.Erase(image, -100, 2);
  // The first dab's disc covers (0, 0), the second's (5, 4); (5, 0) lies in
  // neither dab.
  EXPECT_EQ(ByteAt(image, 0, 0, 3), 0);
  EXPECT_EQ(ByteAt(image, 5, 4, 3), 0);
  EXPECT_EQ(ByteAt(image, 5, 0, 3), 255);
}

TEST(MatteBrush, RecoverCopiesTheSourcePixelsInsideTheHardDisc) {
  CMatteBrush brush;
  brush.Setup(6, true);  // recover stays hard whatever the smoothing
  CCoreImage source = MakeBGRA(10, 10, 255);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      SetPixel(source, x, y, 7, static_cast<uint8_t>(y), static_cast<uint8_t>(x), 128);
  CCoreImage target = MakeBGRA(10, 10, 0);
  brush.Recover(target, source, 2, 3);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) {
      const bool inDisc = x >= 2 && x < 8 && y >= 3 && y < 9 && brush.HardMaskAt(x - 2, y - 3) == 0;
      EXPECT_EQ(ByteAt(target, x, y, 3), inDisc ? 128 : 0) << x << "," << y;
      EXPECT_EQ(ByteAt(target, x, y, 0), inDisc ? x : 30);  // blue of the fill
    }
  }
}

// ---- Geometry ---------------------------------------------------------------

TEST(ViewGeometry, AtZoomOneAWindowPointIsTheImagePixelClampedToTheEdge) {
  const CViewGeometry view = CViewGeometry::AtZoomOne(40, 30);
  EXPECT_EQ(ClientToMarkPixel(view, {12, 7}), (CMarkPoint{12, 7}));
  EXPECT_EQ(ClientToMarkPixel(view, {-5, 100}), (CMarkPoint{0, 29}));
  EXPECT_EQ(ClientToMarkPixel(view, {1 << 30, -(1 << 30)}), (CMarkPoint{39, 0}));
  EXPECT_EQ(MarkPixelToClient(view, {12, 7}), (CClientPoint{12, 7}));
}

TEST(ViewGeometry, ACentredImageMapsItsMarginToTheEdge) {
  CViewGeometry view;
  view.clientWidth = 200;
  view.clientHeight = 100;
  view.imageWidth = 100;
  view.imageHeight = 100;
  view.zoom = 1.0;
  EXPECT_EQ(ClientToMarkPixel(view, {50, 10}), (CMarkPoint{0, 10}));
  EXPECT_EQ(ClientToMarkPixel(view, {149, 10}), (CMarkPoint{99, 10}));
  EXPECT_EQ(ClientToMarkPixel(view, {20, 10}), (CMarkPoint{0, 10}));
  EXPECT_EQ(ClientToMarkPixel(view, {190, 10}), (CMarkPoint{99, 10}));
  EXPECT_EQ(MarkPixelToClient(view, {0, 10}), (CClientPoint{50, 10}));
}

TEST(ViewGeometry, ZoomAndScrollAreUndone) {
  CViewGeometry view;
  view.clientWidth = 100;
  view.clientHeight = 100;
  view.imageWidth = 100;
  view.imageHeight = 100;
  view.zoom = 2.0;
  view.scrollX = 10;
  EXPECT_EQ(ClientToMarkPixel(view, {5, 9}), (CMarkPoint{7, 4}));
  EXPECT_EQ(MarkPixelToClient(view, {7, 4}), (CClientPoint{4, 8}));
}

TEST(ViewGeometry, DabIsCentredOnThePointerAtZoomOne) {
  const CViewGeometry view = CViewGeometry::AtZoomOne(40, 30);
  EXPECT_EQ(DabOrigin(view, {10, 10}, 5), (CMarkPoint{8, 8}));
  EXPECT_EQ(DabOrigin(view, {10, 10}, 4), (CMarkPoint{8, 8}));
  EXPECT_EQ(DabOrigin(view, {0, 0}, 50), (CMarkPoint{-25, -25}));
}

TEST(ViewGeometry, DabAtAZoomUsesTheScaledDiameter) {
  CViewGeometry view;
  view.clientWidth = 100;
  view.clientHeight = 100;
  view.imageWidth = 100;
  view.imageHeight = 100;
  view.zoom = 2.0;
  // D = 20: X = 30 - 10 = 20, x0 = 10.
  EXPECT_EQ(DabOrigin(view, {30, 30}, 10), (CMarkPoint{10, 10}));
  // Truncation toward zero for points left of the image: -3 / 2 -> -1.
  EXPECT_EQ(DabOrigin(view, {7, 7}, 10), (CMarkPoint{-1, -1}));
}
