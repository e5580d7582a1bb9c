// Speed of repainting the editor's image view: a 1600 x 1000 client area over
// a 4096 x 4096 picture with alpha, at the smallest zoom, the fit zoom, 1 and
// 10, over the checkerboard. A frame has about 16 ms; the copy to the screen
// comes on top of what is measured here.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "SyntheticScene.h"
#include "editor/model/ViewRenderer.h"
#include "imagecore/CoreStartup.h"
#include "imagecore/RowLease.h"

namespace {

constexpr int kSide = 4096;
constexpr int kClientWidth = 1600;
constexpr int kClientHeight = 1000;
constexpr double kFitZoom = static_cast<double>(kClientHeight) / kSide;

void Check(CoreResult result) {
  if (ExamineResult(result) != 0) {
    std::fprintf(stderr, "painting failed\n");
    std::abort();
  }
}

// The benchmark scene cut out: the object opaque, the background gone, a
// 48-pixel soft edge between them, as a finished run leaves a picture. The
// harder picture has every pixel partly transparent, so every pixel blends.
CCoreImage* MakePicture(bool everyPixelBlends) {
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
      const double cover = std::clamp((radius - d) / kFeather + 0.5, 0.0, 1.0);
      row[4 * x + 3] = everyPixelBlends ? static_cast<uint8_t>(1 + (x * 7 + y * 3) % 254)
                                        : static_cast<uint8_t>(std::lround(cover * 255));
    }
  }
  return image;
}

CCoreImage& Picture() {
  static CCoreImage* picture = MakePicture(false);
  return *picture;
}

CCoreImage& BlendingPicture() {
  static CCoreImage* picture = MakePicture(true);
  return *picture;
}

// The whole client area, scrolled to the middle of the picture.
CViewPaint WholeView(double zoom) {
  CViewPaint paint;
  paint.zoom = zoom;
  paint.origin = ScaledImageOrigin(zoom, kSide, kSide, kClientWidth, kClientHeight);
  const long scaled = std::lround(kSide * zoom);
  paint.scrollX = static_cast<int>(std::max(0L, scaled - kClientWidth) / 2);
  paint.scrollY = static_cast<int>(std::max(0L, scaled - kClientHeight) / 2);
  paint.clientWidth = kClientWidth;
  paint.clientHeight = kClientHeight;
  paint.clip = {paint.scrollX, paint.scrollY, paint.scrollX + kClientWidth,
                paint.scrollY + kClientHeight};
  paint.matte = MatteColoursFor(0);
  return paint;
}

using PaintFunction = CoreResult (*)(CCoreImage&, const CViewPaint&, CCoreImage&, CViewPaintArea&);

void Paint(benchmark::State& state, PaintFunction paintFunction, double zoom, bool keepBuffer,
           CCoreImage& picture) {
  const CViewPaint paint = WholeView(zoom);
  CCoreImage buffer;
  CViewPaintArea area;
  for (auto _ : state) {
    if (!keepBuffer) buffer.Reset();
    Check(paintFunction(picture, paint, buffer, area));
    benchmark::DoNotOptimize(area);
  }
  state.counters["pixels"] =
      static_cast<double>(area.destination.Width()) * area.destination.Height();
}

// The view keeps its buffer from one paint to the next.
void BM_Paint(benchmark::State& state, double zoom) {
  Paint(state, RenderView, zoom, true, Picture());
}
// A first paint, or one after the client area changed size.
void BM_PaintNewBuffer(benchmark::State& state, double zoom) {
  Paint(state, RenderView, zoom, false, Picture());
}
// The worst case: no pixel is fully opaque or fully transparent.
void BM_PaintEveryPixelBlends(benchmark::State& state, double zoom) {
  Paint(state, RenderView, zoom, true, BlendingPicture());
}
// The one-pixel-at-a-time rules, for comparison.
void BM_PaintReference(benchmark::State& state, double zoom) {
  Paint(state, RenderViewReference, zoom, true, Picture());
}

}  // namespace

#define KELVANE_VIEW_BENCH(function, name, zoom) \
  BENCHMARK_CAPTURE(function, name, zoom)        \
      ->Unit(benchmark::kMillisecond)            \
      ->UseRealTime()                            \
      ->Repetitions(9)                           \
      ->ReportAggregatesOnly(true)

KELVANE_VIEW_BENCH(BM_Paint, zoom_1_10, 0.1);
KELVANE_VIEW_BENCH(BM_Paint, zoom_fit, kFitZoom);
KELVANE_VIEW_BENCH(BM_Paint, zoom_1, 1.0);
KELVANE_VIEW_BENCH(BM_Paint, zoom_10, 10.0);
KELVANE_VIEW_BENCH(BM_PaintNewBuffer, zoom_1, 1.0);
KELVANE_VIEW_BENCH(BM_PaintEveryPixelBlends, zoom_fit, kFitZoom);
KELVANE_VIEW_BENCH(BM_PaintEveryPixelBlends, zoom_1, 1.0);
KELVANE_VIEW_BENCH(BM_PaintReference, zoom_fit, kFitZoom);
KELVANE_VIEW_BENCH(BM_PaintReference, zoom_1, 1.0);

BENCHMARK_MAIN();
