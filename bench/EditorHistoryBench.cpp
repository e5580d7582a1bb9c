// What undo keeps: the history's bytes beyond the document's own after each
// kind of step, in an editor session on the synthetic picture (4096 x 4096,
// 16.7 megapixels, unless a side is given).
//
//   bench_EditorHistoryBench [SIDE]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "PrivateStore.h"
#include "SyntheticScene.h"
#include "editor/model/EditorSession.h"
#include "engine/MatteFilter.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

class CHistoryBench {
 public:
  explicit CHistoryBench(int side)
      : m_side(side), m_window([this](const CWindowMessage& m) { m_session.HandleMessage(m); }) {
    MakeSyntheticScene(m_holder, side);
    m_session.Open(m_window);
  }

  // One step, and what the history holds beyond the document after it.
  void Step(const char* what, const std::function<void()>& step) {
    const double before = HistoryMiB();
    const auto start = std::chrono::steady_clock::now();
    step();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double after = HistoryMiB();
    std::printf("  %-34s %9.2f MiB  (history %8.2f MiB, %5.2f s)\n", what, after - before, after,
                seconds);
  }

  void Stroke(const CSyntheticStroke& stroke) {
    const CViewGeometry view = CViewGeometry::AtZoomOne(m_side, m_side);
    m_session.SelectTool(stroke.object ? ID_TOOL_MARK_OBJECT : ID_TOOL_MARK_BACKGROUND);
    m_session.MarkPress(view, {stroke.points[0].x, stroke.points[0].y});
    for (const CMarkPoint& point : stroke.points) m_session.MarkMove(view, {point.x, point.y});
    m_session.MarkRelease();
  }

  void Apply() {
    if (!m_session.PressApply()) Fail("Apply is disabled");
    while (m_session.IsBusy()) {
      m_window.WaitForMessage(std::chrono::milliseconds(100));
      m_window.PumpMessages();
    }
  }

  void Erase() {
    const CViewGeometry view = CViewGeometry::AtZoomOne(m_side, m_side);
    if (!m_session.SelectTool(ID_TOOL_MANUAL)) Fail("the manual tool is disabled");
    const int y = m_side / 2;
    m_session.ManualPress(view, {m_side / 3, y}, false);
    for (int x = m_side / 3; x < m_side * 2 / 3; x += 16) m_session.ManualMove(view, {x, y}, true, false);
    m_session.ManualRelease(false);
  }

  CEditorSession& Session() { return m_session; }

 private:
  double HistoryMiB() const {
    return static_cast<double>(m_session.History().Bytes(m_doc.SaveState())) / kMiB;
  }
  [[noreturn]] static void Fail(const char* why) {
    std::fprintf(stderr, "bench_EditorHistoryBench: %s\n", why);
    std::exit(1);
  }

  int m_side;
  CCoreImage m_holder;
  CMatteFilter m_filter;
  CMatteDocument m_doc;
  CHeadlessWindow m_window;
  CEditorSession m_session{m_filter, m_doc, m_holder};
};

}  // namespace

int main(int argc, char** argv) {
  CPrivateStore store;
  const int side = argc > 1 ? std::atoi(argv[1]) : 4096;
  if (side < 64) {
    std::fprintf(stderr, "usage: bench_EditorHistoryBench [SIDE of at least 64]\n");
    return 2;
  }
  std::printf("What each step adds to the history, on %d x %d (%.1f megapixels, layer %.0f MiB)\n",
              side, side, side * static_cast<double>(side) / 1e6, side * 4.0 * side / kMiB);
  CHistoryBench bench(side);
  const std::vector<CSyntheticStroke> strokes = SyntheticStrokes(side);
  bench.Step("marking stroke (background)", [&] { bench.Stroke(strokes[0]); });
  bench.Step("marking stroke (background)", [&] { bench.Stroke(strokes[1]); });
  bench.Step("marking stroke (object)", [&] { bench.Stroke(strokes[2]); });
  bench.Step("first run", [&] { bench.Apply(); });
  bench.Step("marking stroke after a run", [&] { bench.Stroke(strokes[0]); });
  bench.Step("second run", [&] { bench.Apply(); });
  bench.Step("manual brush stroke", [&] { bench.Erase(); });
  bench.Step("Delete All Marks", [&] { bench.Session().DeleteAllMarks(); });
  bench.Step("Reset", [&] { bench.Session().Reset(); });
  bench.Step("undo (Reset)", [&] { bench.Session().Undo(); });
  return 0;
}
