// The image view widget on the offscreen platform: zoom, scrolling,
// centring and what its painting puts on screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <utility>
#include <vector>

#include "../editormodel/TestImages.h"
#include "editor/ImageView.h"
#include "editor/model/Commands.h"
#include "framework/dialogs/QtApplicationScope.h"

namespace {

class CZoomRecorder : public IZoomListener {
 public:
  void OnZoomChanged(double newZoom, double oldZoom) override {
    calls.emplace_back(newZoom, oldZoom);
  }
  std::vector<std::pair<double, double>> calls;
};

QRgb Rgb(int r, int g, int b) { return qRgb(r, g, b); }

// Every pixel tells where it is: red the column, green the row.
CCoreImage MakeCoordinateImage(int width, int height) {
  CCoreImage image = MakeImage(width, height, 0, 0, 0, 255);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      SetPixel(image, x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y),
               static_cast<uint8_t>(x * 7 + y * 3), 255);
  return image;
}

class ImageViewTest : public ::testing::Test {
 protected:
  void Show(CCoreImage& shown, int width, int height) {
    view.SetImageSource(&shown);
    view.SetZoomListener(&zoom);
    view.resize(width, height);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.OnInitialUpdate();
    zoom.calls.clear();
  }
  QImage Grab() { return view.viewport()->grab().toImage(); }
  QRgb At(const QImage& grabbed, QPoint p) { return grabbed.pixel(p) | 0xFF000000; }
  QRgb WindowColour() {
    return view.viewport()->palette().color(view.viewport()->backgroundRole()).rgb();
  }
  void Wheel(QPoint at, int delta) {
    QWheelEvent event(at, view.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &event);
  }

  CQtApplicationScope application;
  CCoreImage image;
  CImageView view;
  CZoomRecorder zoom;
};

TEST_F(ImageViewTest, ZoomStepsGoToTheNeighbouringEntryAndStopAtTheEnds) {
  image = MakeImage(100, 100, 10, 20, 30, 255);
  Show(image, 300, 300);

  view.SetZoom(10);
  zoom.calls.clear();
  view.StepZoom(false);
  EXPECT_EQ(view.GetZoom(), 10);
  view.SetZoom(0.1);
  zoom.calls.clear();
  view.StepZoom(true);
  EXPECT_EQ(view.GetZoom(), 0.1);
  EXPECT_TRUE(zoom.calls.empty());

  // A fit zoom between two entries.
  view.SetZoom(0.37);
  view.StepZoom(false);
  EXPECT_EQ(view.GetZoom(), 0.5);
  view.SetZoom(0.37);
  zoom.calls.clear();
  view.StepZoom(true);
  EXPECT_EQ(view.GetZoom(), 1.0 / 3);
  ASSERT_EQ(zoom.calls.size(), 1u);
  EXPECT_EQ(zoom.calls[0], std::make_pair(1.0 / 3, 0.37));

  // The accelerators' commands step without an anchor.
  view.SetZoom(1);
  EXPECT_TRUE(view.OnCommand(ID_ZOOM_IN));
  EXPECT_EQ(view.GetZoom(), 1.5);
  EXPECT_TRUE(view.OnCommand(ID_ZOOM_OUT));
  EXPECT_EQ(view.GetZoom(), 1);
  EXPECT_FALSE(view.OnCommand(ID_RESET));
}

TEST_F(ImageViewTest, TheFitZoomShowsTheWholeImageWithoutScrollBars) {
  image = MakeImage(800, 400, 10, 20, 30, 255);
  Show(image, 300, 300);
  ASSERT_TRUE(view.horizontalScrollBar()->isVisible());
  view.SetZoom(view.FitZoom());
  QApplication::processEvents();
  EXPECT_FALSE(view.horizontalScrollBar()->isVisible());
  EXPECT_FALSE(view.verticalScrollBar()->isVisible());
  // The wider side fills the client area, the other is centred.
  EXPECT_EQ(view.ScrollSize().width(), view.viewport()->width());
  EXPECT_EQ(view.ImageOrigin(),
            QPoint(0, (view.viewport()->height() - view.ScrollSize().height()) / 2));
}

TEST_F(ImageViewTest, ScrollSizesRoundHalfToEven) {
  image = MakeImage(401, 403, 0, 0, 0, 255);
  view.SetImageSource(&image);
  view.SetZoom(1.5);
  EXPECT_EQ(view.ScrollSize(), QSize(602, 604));  // 601.5 and 604.5
}

TEST_F(ImageViewTest, ASmallImageIsCentredAndCannotScroll) {
  image = MakeImage(40, 30, 10, 20, 30, 255);
  Show(image, 200, 150);
  const QSize client = view.viewport()->size();
  const QPoint origin((client.width() - 40) / 2, (client.height() - 30) / 2);
  EXPECT_EQ(view.ImageOrigin(), origin);
  EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
  QPoint corner(0, 0);
  view.ImageToClient(corner);
  EXPECT_EQ(corner, origin);
  QPoint back = origin + QPoint(39, 29);
  view.ClientToImage(back);
  EXPECT_EQ(back, QPoint(39, 29));
}

TEST_F(ImageViewTest, TheCheckerboardStartsWithBAtTheImageCorner) {
  image = MakeImage(40, 30, 10, 20, 30, 0);
  Show(image, 200, 150);
  const QPoint origin = view.ImageOrigin();
  ASSERT_GT(origin.x(), 0);
  const QRgb a = Rgb(255, 255, 255);
  const QRgb b = Rgb(208, 205, 195);
  QImage shown = Grab();
  EXPECT_EQ(At(shown, origin), b);
  EXPECT_EQ(At(shown, origin + QPoint(9, 9)), b);
  EXPECT_EQ(At(shown, origin + QPoint(10, 0)), a);
  EXPECT_EQ(At(shown, origin + QPoint(0, 10)), a);
  EXPECT_EQ(At(shown, origin + QPoint(10, 10)), b);
  EXPECT_EQ(At(shown, origin + QPoint(-1, 0)), WindowColour());

  // Cells keep their size on screen whatever the zoom.
  view.SetZoom(2);
  shown = Grab();
  const QPoint zoomed = view.ImageOrigin();
  EXPECT_EQ(At(shown, zoomed + QPoint(9, 0)), b);
  EXPECT_EQ(At(shown, zoomed + QPoint(10, 0)), a);
  EXPECT_EQ(At(shown, zoomed + QPoint(20, 0)), b);
}

TEST_F(ImageViewTest, TransparentPixelsShowTheMatteAndOpaqueOnesTheirOwnColour) {
  image = MakeImage(40, 30, 10, 20, 30, 0);
  for (int y = 0; y < 30; ++y)
    for (int x = 20; x < 40; ++x) SetPixel(image, x, y, 10, 20, 30, 255);
  view.SetMatteColours(MatteColoursFor(4));  // Red Matte
  Show(image, 200, 150);
  const QImage shown = Grab();
  const QPoint origin = view.ImageOrigin();
  for (int y : {0, 15, 29}) {
    EXPECT_EQ(At(shown, origin + QPoint(3, y)), Rgb(255, 0, 0));
    EXPECT_EQ(At(shown, origin + QPoint(19, y)), Rgb(255, 0, 0));
    EXPECT_EQ(At(shown, origin + QPoint(20, y)), Rgb(10, 20, 30));
    EXPECT_EQ(At(shown, origin + QPoint(39, y)), Rgb(10, 20, 30));
  }
}

// The picture reaches the buffer strip by strip (128 rows each); scrolled and
// scaled, every client pixel must show the image pixel under it.
TEST_F(ImageViewTest, EveryPaintedPixelIsTheImagePixelUnderIt) {
  image = MakeCoordinateImage(250, 300);
  Show(image, 200, 200);
  for (double z : {2.0, 0.5}) {
    view.SetZoom(z);
    view.horizontalScrollBar()->setValue(70);
    view.verticalScrollBar()->setValue(190);
    const QImage shown = Grab();
    int wrong = 0;
    for (int y = 0; y < shown.height(); ++y) {
      for (int x = 0; x < shown.width(); ++x) {
        QPoint pixel(x, y);
        view.ClientToImage(pixel);
        const bool inside = pixel.x() >= 0 && pixel.y() >= 0 && pixel.x() < 250 &&
                            pixel.y() < 300 && x >= view.ImageOrigin().x() &&
                            y >= view.ImageOrigin().y();
        const QRgb expected =
            inside ? Rgb(pixel.x() & 255, pixel.y() & 255, (pixel.x() * 7 + pixel.y() * 3) & 255)
                   : WindowColour();
        if (At(shown, {x, y}) != expected) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << "zoom " << z;
  }
}

TEST_F(ImageViewTest, TheWheelZoomsAroundThePointer) {
  image = MakeImage(400, 400, 10, 20, 30, 255);
  Show(image, 200, 200);
  const QPoint pointer(150, 120);
  QPoint pixel = pointer;
  view.ClientToImage(pixel);

  Wheel(pointer, 120);
  ASSERT_EQ(view.GetZoom(), 1.5);
  ASSERT_EQ(zoom.calls.size(), 1u);
  EXPECT_EQ(zoom.calls[0], std::make_pair(1.5, 1.0));
  // The pixel that was under the pointer is at the centre now.
  QPoint shown = pixel;
  view.ImageToClient(shown);
  EXPECT_EQ(shown, QPoint(view.viewport()->width() / 2, view.viewport()->height() / 2));

  // Rolled toward the user: out again; the top edge keeps the image from
  // moving further down.
  Wheel(QPoint(100, 10), -120);
  EXPECT_EQ(view.GetZoom(), 1);
  EXPECT_EQ(view.ScrollPosition().y(), 0);

  // A roll of nothing (a touchpad's gesture ends) leaves the zoom alone.
  Wheel(pointer, 0);
  EXPECT_EQ(view.GetZoom(), 1);
}

}  // namespace
