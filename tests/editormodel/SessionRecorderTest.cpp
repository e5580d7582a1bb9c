#include "editor/model/SessionRecorder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TestImages.h"
#include "editor/model/EditorSession.h"
#include "editor/model/SessionReplay.h"
#include "engine/MatteFilter.h"
#include "platform/Window.h"

namespace {

// A session driven as the window drives it, at zoom 2 and scrolled, with a
// recorder listening; its script replayed on the same picture must give
// the bytes OK handed back.
class SessionRecorderTest : public ::testing::Test {
 protected:
  SessionRecorderTest() : holder(MakeSkyAndRoof(120, 90)), layer(MakeSkyAndRoof(120, 90)) {
    SetPixel(holder, 5, 80, 200, 40, 40, 120);  // partial alpha the recover brings back
    SetPixel(layer, 5, 80, 200, 40, 40, 120);
    session.Open(window);
    session.SetRecorder(&recorder);
  }

  CViewGeometry View() const {
    CViewGeometry view;
    view.scrollX = 20;
    view.scrollY = 10;
    view.clientWidth = 200;
    view.clientHeight = 150;
    view.zoom = 2.0;
    view.imageWidth = 120;
    view.imageHeight = 90;
    return view;
  }

  void Apply() {
    ASSERT_TRUE(session.PressApply());
    while (session.IsBusy()) {
      window.WaitForMessage(std::chrono::milliseconds(100));
      window.PumpMessages();
    }
  }

  void Manual(bool recover, std::vector<CClientPoint> points) {
    ASSERT_TRUE(session.SelectTool(ID_TOOL_MANUAL));
    ASSERT_TRUE(session.ManualPress(View(), points[0], recover));
    for (size_t i = 1; i < points.size(); ++i) {
      session.ManualMove(View(), points[i], !recover, recover);
    }
    session.ManualRelease(recover);
  }

  // The recorded script replayed on the layer.
  std::vector<uint8_t> Replayed(const std::string& script) {
    CCoreImage image = std::move(layer);
    CMatteFilter fresh;
    std::istringstream input(script);
    const CReplayOutcome outcome = ReplaySessionScript(input, "recorded.txt", fresh, image);
    EXPECT_EQ(outcome.end, keReplayOk) << outcome.message << "\n" << script;
    return BytesOf(image);
  }

  CPrivateConfig config;
  CCoreImage holder;
  CCoreImage layer;
  CMatteFilter filter;
  CMatteDocument doc;
  CHeadlessWindow window{[this](const CWindowMessage& m) { session.HandleMessage(m); }};
  CEditorSession session{filter, doc, holder};
  CSessionRecorder recorder{120, 90};
};

TEST_F(SessionRecorderTest, AReplayedSessionGivesThePixelsOfOk) {
  const CViewGeometry view = View();
  session.TypeIntoField(keFieldStrength, "45");
  session.SelectTool(ID_TOOL_MARK_BACKGROUND);
  session.MarkPress(view, {10, 10});
  session.MarkMove(view, {60, 12});
  session.MarkMove(view, {150, 14});
  session.MarkRelease();

  // An object drag that Ctrl turns into a background one and back.
  session.SelectTool(ID_TOOL_MARK_OBJECT);
  session.MarkPress(view, {50, 140});
  session.MarkMove(view, {90, 141});
  session.CtrlDown(view);
  session.MarkMove(view, {120, 30});
  session.CtrlUp(view);
  session.MarkMove(view, {100, 145});
  session.MarkRelease();

  // A background drag switched to object, then undone whole and redone.
  session.SelectTool(ID_TOOL_MARK_BACKGROUND);
  session.MarkPress(view, {30, 100});
  session.MarkMove(view, {60, 100});
  session.CtrlDown(view);
  session.MarkMove(view, {80, 110});
  session.MarkRelease();
  session.CtrlUp(view);
  ASSERT_TRUE(session.Undo());
  ASSERT_TRUE(session.Redo());
  ASSERT_TRUE(session.Undo());

  session.ClickCheckBox(keSlotFillHoles);
  Apply();
  session.TypeIntoField(keFieldFeathering, "3");
  session.TypeIntoField(keFieldBrushSize, "9");
  session.ClickSmoothBrush();
  Manual(false, {{60, 60}, {70, 64}, {84, 70}});
  Manual(true, {{64, 62}, {72, 66}});
  Manual(true, {{0, 150}, {30, 148}});
  ASSERT_TRUE(session.Undo());
  ASSERT_TRUE(session.Undo());
  ASSERT_TRUE(session.Redo());
  ASSERT_TRUE(session.SelectTool(ID_TOOL_MARK_OBJECT));
  session.MarkPress(view, {40, 130});
  session.MarkRelease();
  Apply();
  ASSERT_TRUE(session.PressOk());

  const std::string script = recorder.Text();
  EXPECT_NE(script.find("# Points are in percent"), std::string::npos) << script;
  EXPECT_NE(script.find("set strength 45\n"), std::string::npos) << script;
  EXPECT_NE(script.find("set fillholes on\n"), std::string::npos) << script;
  EXPECT_NE(script.find("brush 9\nbrush-smooth on\nerase "), std::string::npos) << script;
  // The undone drag was two strokes in the script: both are undone.
  EXPECT_NE(script.find("\nundo\nundo\nredo\nredo\nundo\nundo\n"), std::string::npos) << script;
  EXPECT_EQ(script.substr(script.size() - 3), "ok\n");
  const std::vector<uint8_t> ok = BytesOf(holder);
  EXPECT_NE(ok, BytesOf(layer));  // the session did change the picture
  EXPECT_EQ(Replayed(script), ok);
}

TEST_F(SessionRecorderTest, ADabCentredOffThePictureIsWrittenInPixels) {
  const CViewGeometry view = View();
  session.SelectTool(ID_TOOL_MARK_BACKGROUND);
  session.MarkPress(view, {10, 10});
  session.MarkRelease();
  Apply();
  session.TypeIntoField(keFieldBrushSize, "20");
  // Left of the picture's first column: the dab still reaches into it.
  Manual(false, {{-30, 40}, {-25, 60}});
  ASSERT_TRUE(session.PressOk());
  const std::string script = recorder.Text();
  EXPECT_NE(script.find("# Points are in pixels of the 120 x 90 picture"), std::string::npos)
      << script;
  EXPECT_EQ(script.find('%'), std::string::npos) << script;
  EXPECT_EQ(Replayed(script), BytesOf(holder));
}

TEST_F(SessionRecorderTest, AnAbortedApplyAndCancelAreWrittenAsTheyEnd) {
  CSessionRecorder alone(10, 10);
  alone.StepBegun();
  alone.StrokeBegun(true);
  alone.StrokeSample({0, 0});
  alone.StrokeSample({9, 9});
  alone.StrokeEnded();
  alone.ApplyPressed([](int slot) { return slot == keSlotSmoothing ? 4 : FindMatteParameter(slot)->defaultValue; });
  alone.RunEnded(false, false);
  alone.Ended(false);
  const std::string text = alone.Text();
  EXPECT_NE(text.find("object 0%,0% 100%,100%\nset smoothing 4\ncancel\n"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("apply"), std::string::npos) << text;
}

TEST_F(SessionRecorderTest, AfterAPresetTheNextApplyWritesEveryField) {
  CSessionRecorder alone(10, 10);
  alone.PresetChosen("Sky");
  alone.RunEnded(true, true);
  alone.ApplyPressed([](int slot) { return FindMatteParameter(slot)->defaultValue; });
  alone.RunEnded(true, true);
  const std::string text = alone.Text();
  EXPECT_NE(text.find("--presets"), std::string::npos) << text;
  EXPECT_NE(text.find("preset Sky\nset strength 30\nset contract 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("set edgewidth 10\napply\n"), std::string::npos) << text;
}

TEST_F(SessionRecorderTest, SavingRefusesAnExistingFileUnlessToldToReplaceIt) {
  char pattern[] = "/tmp/kelvane-record-XXXXXX";
  const std::filesystem::path folder = mkdtemp(pattern);
  const std::string path = (folder / "session.txt").string();
  std::ofstream(path) << "kept\n";
  recorder.Ended(false);
  EXPECT_EQ(recorder.Save(path, false), EEXIST);
  std::stringstream kept;
  kept << std::ifstream(path).rdbuf();
  EXPECT_EQ(kept.str(), "kept\n");
  EXPECT_EQ(recorder.Save(path, true), 0);
  std::stringstream written;
  written << std::ifstream(path).rdbuf();
  EXPECT_EQ(written.str(), recorder.Text());
  // Nothing else is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                          std::filesystem::directory_iterator()),
            1);
  std::filesystem::remove_all(folder);
}

}  // namespace
