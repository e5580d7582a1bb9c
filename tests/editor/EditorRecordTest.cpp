// A session recorded in the editor window, driven as a user drives it,
// replays to the pixels its OK handed back.
#include <sstream>

#include "EditorWindowHarness.h"
#include "editor/model/SessionReplay.h"

namespace {

class EditorRecordTest : public CEditorWindowTest {
 protected:
  EditorRecordTest() { record = true; }

  std::vector<uint8_t> Replayed() {
    CCoreImage layer = MakeSkyAndRoof(400, 300);
    CMatteFilter fresh;
    std::istringstream script(recorded);
    const CReplayOutcome outcome = ReplaySessionScript(script, "recorded.txt", fresh, layer);
    EXPECT_EQ(outcome.end, keReplayOk) << outcome.message << "\n" << recorded;
    return PixelsOf(layer);
  }
};

TEST_F(EditorRecordTest, StrokesACtrlSwitchTwoAppliesTheBrushUndoAndRedoReplayToOk) {
  const int result = Run([this](CEditorDialog&) {
    Type(keFieldStrength, "\b\b42");
    MarkSky();
    // An object stroke over the roof that Ctrl turns into a background one.
    ClickTool(ID_TOOL_MARK_OBJECT);
    Press(Inside(40, 250));
    Move(Inside(200, 260));
    QTest::keyPress(&View(), Qt::Key_Control);
    Move(Inside(300, 40));
    Release(Inside(300, 40));
    QTest::keyRelease(&View(), Qt::Key_Control);
    Settle();
    ApplyAndWait();

    Type(keFieldFeathering, "\b4");
    ClickTool(ID_TOOL_MANUAL);
    Type(keFieldBrushSize, "\b\b12");
    Press(Inside(100, 200));
    Move(Inside(140, 210));
    Release(Inside(140, 210));
    Press(Inside(120, 205), Qt::RightButton);
    Move(Inside(130, 206));
    Release(Inside(130, 206), Qt::RightButton);
    QTest::keyClick(&View(), Qt::Key_Z, Qt::ControlModifier);
    Settle();
    QTest::keyClick(&View(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    Settle();
    ClickTool(ID_TOOL_MARK_OBJECT);
    Press(Inside(350, 280));
    Release(Inside(350, 280));
    ApplyAndWait();
    ASSERT_TRUE(OkEnabled());
    Click(EditorButton(IDOK));
  });
  ASSERT_EQ(result, IDOK);
  // What the script must hold for the session to come back.
  for (const char* line : {"set strength 42\n", "set feathering 4\n", "brush 12\n", "\nundo\nredo\n",
                           "\napply\n", "\nok\n"}) {
    EXPECT_NE(recorded.find(line), std::string::npos) << line << "\n" << recorded;
  }
  EXPECT_NE(recorded.find("\nobject "), std::string::npos) << recorded;
  EXPECT_NE(recorded.find("\nerase "), std::string::npos) << recorded;
  EXPECT_NE(recorded.find("\nrecover "), std::string::npos) << recorded;
  EXPECT_EQ(Replayed(), PixelsOf(holder));
}

TEST_F(EditorRecordTest, EscapeRecordsACancelledSession) {
  const int result = Run([this](CEditorDialog&) {
    MarkSky();
    QTest::keyClick(&View(), Qt::Key_Escape);
  });
  EXPECT_EQ(result, IDCANCEL);
  ASSERT_GE(recorded.size(), 8u);
  EXPECT_EQ(recorded.substr(recorded.size() - 8), "\ncancel\n");
  EXPECT_NE(recorded.find("\nbackground "), std::string::npos) << recorded;
}

}  // namespace
