// Speed of repainting the editor's image view through the widget itself, on
// Qt's offscreen platform: resampling and compositing, the copy into the
// off-screen buffer through the core's drawing, and the copy into the
// window. A 1600 x 1000 client area over a 4096 x 4096 picture with alpha,
// at the smallest zoom, the fit zoom, 1 and 10, over the checkerboard. A
// frame has about 16 ms.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "SyntheticScene.h"
#include "editor/ImageView.h"
#include "imagecore/CoreStartup.h"
#include "imagecore/RowLease.h"

namespace {

constexpr int kSide = 4096;
constexpr int kClientWidth = 1600;
constexpr int kClientHeight = 1000;
// What FitZoom gives for that client area.
constexpr double kFitZoom = static_cast<double>(kClientHeight) / kSide;

// The benchmark scene cut out as a finished run leaves it: the object
// opaque, the background gone, a 48-pixel soft edge between them.
CCoreImage& Picture() {
  static CCoreImage* picture = [] {
    CoreStartup();
    auto* image = new CCoreImage;
    MakeSyntheticScene(*image, kSide);
    const double centre = kSide / 2.0;
    const double radius = kSide * 0.3;
    constexpr double kFeather = 48;
    for (int y = 0; y < kSide; ++y) {
      const CRowLease lease(*image, y);
      uint8_t* row = lease.Data();
      for (int x = 0; x < kSide; ++x) {
        const double d = std::hypot(x + 0.5 - centre, y + 0.5 - centre);
        row[4 * x + 3] =
            static_cast<uint8_t>(std::lround(std::clamp((radius - d) / kFeather + 0.5, 0.0, 1.0) * 255));
      }
    }
    return image;
  }();
  return *picture;
}

std::unique_ptr<CImageView>& View() {
  static std::unique_ptr<CImageView> view;
  return view;
}

// The view at the zoom with a client area of exactly the benchmark's size,
// scrolled to the middle of the picture.
CImageView& Prepare(double zoom) {
  std::unique_ptr<CImageView>& view = View();
  if (!view) {
    view = std::make_unique<CImageView>();
    view->SetImageSource(&Picture());
    view->resize(kClientWidth + 40, kClientHeight + 40);
    view->show();
    QApplication::processEvents();
  }
  view->SetZoom(zoom);
  // The scroll bars come and go with the zoom; the client area is what counts.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const QSize client = view->viewport()->size();
    if (client == QSize(kClientWidth, kClientHeight)) break;
    view->resize(view->size() + QSize(kClientWidth, kClientHeight) - client);
    QApplication::processEvents();
  }
  if (view->viewport()->size() != QSize(kClientWidth, kClientHeight)) {
    std::fprintf(stderr, "the client area could not be sized\n");
    std::abort();
  }
  view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum() / 2);
  view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
  QApplication::processEvents();
  return *view;
}

// The whole client area, as after a zoom or a scroll.
void BM_Repaint(benchmark::State& state, double zoom) {
  CImageView& view = Prepare(zoom);
  for (auto _ : state) view.viewport()->repaint();
  state.counters["zoom"] = view.GetZoom();
}

// A 60 x 60 square, as a stroke segment or a brush dab asks for.
void BM_RepaintSquare(benchmark::State& state, double zoom) {
  CImageView& view = Prepare(zoom);
  const QRect square(kClientWidth / 2 - 30, kClientHeight / 2 - 30, 60, 60);
  for (auto _ : state) view.viewport()->repaint(square);
}

}  // namespace

#define KELVANE_WIDGET_BENCH(...)                \
  BENCHMARK_CAPTURE(__VA_ARGS__)                 \
      ->Unit(benchmark::kMillisecond)            \
      ->UseRealTime()                            \
      ->Repetitions(9)                           \
      ->ReportAggregatesOnly(true)

KELVANE_WIDGET_BENCH(BM_Repaint, zoom_1_10, 0.1);
KELVANE_WIDGET_BENCH(BM_Repaint, zoom_fit, kFitZoom);
KELVANE_WIDGET_BENCH(BM_Repaint, zoom_1, 1.0);
KELVANE_WIDGET_BENCH(BM_Repaint, zoom_10, 10.0);
KELVANE_WIDGET_BENCH(BM_RepaintSquare, zoom_1, 1.0);

int main(int argc, char** argv) {
  // No display is needed: the widget paints into Qt's offscreen windows.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // Widgets go before the application object.
  View().reset();
  return 0;
}
