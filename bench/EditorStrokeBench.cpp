// The cost of one marking stroke as a session grows: a one-point stroke on a
// 64 x 64 picture after 1,000 to 100,000 strokes. It stays flat when a stroke
// costs what it adds; a state that copied every point before it would make
// it grow with the count.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "PrivateStore.h"
#include "SyntheticScene.h"
#include "editor/model/EditorSession.h"
#include "engine/MatteFilter.h"

namespace {

constexpr int kSide = 64;

class CStrokeSession {
 public:
  CStrokeSession() : m_window([this](const CWindowMessage& m) { m_session.HandleMessage(m); }) {
    MakeSyntheticScene(m_holder, kSide);
    m_session.Open(m_window);
  }

  void Stroke(int64_t index) {
    const CViewGeometry view = CViewGeometry::AtZoomOne(kSide, kSide);
    const int x = static_cast<int>(index % kSide);
    const int y = static_cast<int>(index / kSide % kSide);
    m_session.SelectTool(index % 3 == 2 ? ID_TOOL_MARK_OBJECT : ID_TOOL_MARK_BACKGROUND);
    m_session.MarkPress(view, {x, y});
    m_session.MarkRelease();
  }

 private:
  CCoreImage m_holder;
  CMatteFilter m_filter;
  CMatteDocument m_doc;
  CHeadlessWindow m_window;
  CEditorSession m_session{m_filter, m_doc, m_holder};
};

void BM_StrokeAfterStrokes(benchmark::State& state) {
  const CPrivateStore store;
  CStrokeSession session;
  int64_t strokes = 0;
  for (; strokes < state.range(0); ++strokes) session.Stroke(strokes);
  for (auto _ : state) session.Stroke(strokes++);
}

}  // namespace

BENCHMARK(BM_StrokeAfterStrokes)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
