// Time from the filter's call to open the editor until the user sees the
// picture, on a 4096 x 4096 layer on Qt's offscreen platform: constructing
// the window and panel, building and laying out their controls with the
// layer copy and the document made on the way, and the first paint of the
// view at the fit zoom. The whole opening should stay within 1 s.
//
// BM_OpenEditor reports the whole as its time and its parts as counters (in
// ms), for the first opening in the process and for later ones (median of
// several); run the program several times for the first opening's spread.
// BM_LayerCopy and BM_DocumentOpen time on their own the two image
// steps that the opening contains (the layer copy, and the document's work,
// base and matte images).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QPaintEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "SyntheticScene.h"
#include "editor/EditorDialog.h"
#include "editor/ParamPanel.h"
#include "editor/ToolView.h"
#include "engine/MatteDocument.h"
#include "engine/MatteFilter.h"
#include "imagecore/CoreStartup.h"
#include "platform/MessageBox.h"

namespace {

using CClock = std::chrono::steady_clock;

constexpr int kSide = 4096;

double Milliseconds(CClock::duration span) {
  return std::chrono::duration<double, std::milli>(span).count();
}

CCoreImage& Layer() {
  static CCoreImage* layer = [] {
    CoreStartup();
    auto* image = new CCoreImage;
    MakeSyntheticScene(*image, kSide);
    return image;
  }();
  return *layer;
}

// The tool view, timing its first paint.
class CTimedView : public CToolView {
 public:
  int paints = 0;
  bool firstWasWhole = false;
  CClock::time_point firstPaintStart;
  double firstPaintMs = 0;

 protected:
  void paintEvent(QPaintEvent* event) override {
    const bool whole = event->rect().contains(viewport()->rect());
    const CClock::time_point start = CClock::now();
    CToolView::paintEvent(event);
    if (paints++ == 0) {
      firstPaintStart = start;
      firstPaintMs = Milliseconds(CClock::now() - start);
      firstWasWhole = whole;
    }
  }
};

// `first`: the opening a user meets, the first in the process (fonts,
// resources and styles are loaded on the way); otherwise later openings.
void BM_OpenEditor(benchmark::State& state, bool first) {
  (void)first;
  CCoreImage& layer = Layer();
  CMatteFilter filter;
  double constructMs = 0;
  double buildMs = 0;
  double paintMs = 0;
  for (auto _ : state) {
    const CClock::time_point start = CClock::now();
    CTimedView* view = nullptr;
    CParamPanel panel;
    CEditorDialog editor(layer, panel, filter, [&view] { return view = new CTimedView; });
    editor.SetMinimumSize(800, 600);
    editor.SetShowPresets(false);
    const CClock::time_point constructed = CClock::now();
    // The modal loop runs until the window is exposed and the view has had
    // its first paint, which is what the user waits for.
    std::function<void()> waitForPaint = [&] {
      if (view && view->paints > 0) {
        editor.done(IDCANCEL);
      } else {
        QTimer::singleShot(0, &editor, waitForPaint);
      }
    };
    QTimer::singleShot(0, &editor, waitForPaint);
    editor.DoModal();
    if (!view || view->paints == 0 || !view->firstWasWhole) {
      state.SkipWithError("the view was not painted whole");
      break;
    }
    const double construct = Milliseconds(constructed - start);
    const double build = Milliseconds(view->firstPaintStart - constructed);
    const double paint = view->firstPaintMs;
    constructMs += construct;
    buildMs += build;
    paintMs += paint;
    state.SetIterationTime((construct + build + paint) / 1000.0);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["construct_ms"] = constructMs / n;
  state.counters["build_layout_open_ms"] = buildMs / n;
  state.counters["first_paint_ms"] = paintMs / n;
}

void BM_LayerCopy(benchmark::State& state) {
  CCoreImage& layer = Layer();
  for (auto _ : state) {
    CCoreImage copy;
    ThrowIfFailed(copy.CopyFrom(layer));
    benchmark::DoNotOptimize(copy.Width());
  }
}

void BM_DocumentOpen(benchmark::State& state) {
  CCoreImage& layer = Layer();
  CCoreImage displayed;
  for (auto _ : state) {
    CMatteDocument document;
    document.Open(layer, &displayed);
    benchmark::DoNotOptimize(document.Work().Width());
  }
}

}  // namespace

// Registered first, so that it runs first.
BENCHMARK_CAPTURE(BM_OpenEditor, first, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_OpenEditor, again, false)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_LayerCopy)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_DocumentOpen)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
  // No display is needed: the widgets paint into Qt's offscreen windows.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The editor reads and writes its settings: never the user's own.
  QTemporaryDir settings;
  if (!settings.isValid()) return 1;
  qputenv("XDG_CONFIG_HOME", QDir::toNativeSeparators(settings.path()).toLocal8Bit());
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
