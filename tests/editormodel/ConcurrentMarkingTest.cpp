// Marking while a run works: the run must never read what the editor's
// thread is changing. Run under ThreadSanitizer by `make test-thread`.
#include <gtest/gtest.h>

#include <chrono>

#include "TestImages.h"
#include "editor/model/EditorSession.h"
#include "engine/MatteFilter.h"

namespace {

TEST(ConcurrentMarking, StrokesDuringRunsLeaveEveryRunWhole) {
  CPrivateConfig config;
  CCoreImage holder = MakeSkyAndRoof(320, 240);
  CMatteFilter filter;
  CMatteDocument document;
  // The window outlives the session, whose end waits for the last worker to
  // finish posting to it.
  CHeadlessWindow window;
  CEditorSession session(filter, document, holder);
  window.SetMessageHandler([&session](const CWindowMessage& m) { session.HandleMessage(m); });
  session.Open(window);
  const CViewGeometry view = CViewGeometry::AtZoomOne(320, 240);

  auto stroke = [&](int tool, int y) {
    session.SelectTool(tool);
    session.MarkPress(view, CClientPoint{4, y});
    for (int x = 8; x < 316; x += 6) session.MarkMove(view, CClientPoint{x, y + (x % 5)});
    session.MarkRelease();
  };
  stroke(ID_TOOL_MARK_BACKGROUND, 10);
  for (int run = 0; run < 4; ++run) {
    session.TypeIntoField(keFieldFeathering, run % 2 ? "3" : "1");
    session.TypeIntoField(keFieldSmoothing, run % 2 ? "2" : "0");
    ASSERT_TRUE(session.PressApply());
    // Strokes of both kinds while the worker runs, as a user keeps marking.
    for (int i = 0; session.IsBusy() && i < 200; ++i) {
      stroke(i % 2 ? ID_TOOL_MARK_OBJECT : ID_TOOL_MARK_BACKGROUND, i % 2 ? 200 : 20 + i % 60);
      window.PumpMessages();
    }
    while (session.IsBusy()) {
      window.WaitForMessage(std::chrono::milliseconds(50));
      window.PumpMessages();
    }
  }
  EXPECT_EQ(session.RunsFinished(), 4);
  // The roof, marked as object, stays; the marked sky goes.
  EXPECT_EQ(AlphaAt(holder, 160, 200), 255);
  EXPECT_EQ(AlphaAt(holder, 160, 10), 0);
}

}  // namespace
