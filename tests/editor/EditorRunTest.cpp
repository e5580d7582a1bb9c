// Starting, aborting and cancelling runs from the editor's buttons, Default
// and OK, as the user meets them.
#include <QProgressBar>

#include "EditorWindowHarness.h"

namespace {

int Slot(CMatteFilter& filter, int slot) {
  int value = -1;
  filter.m_paramSet.FindParam(slot)->GetInt(value);
  return value;
}

// A picture large enough, with the slowest settings, that a run is still
// working when the test acts on it.
class EditorLongRunTest : public CEditorWindowTest {
 protected:
  EditorLongRunTest() : CEditorWindowTest(MakeSkyAndRoof(2400, 1800)) {}

  // Apply clicked; returns once the worker is inside its processing.
  void StartSlowRun() {
    MarkSky();
    Type(keFieldSmoothing, "\b9");
    Type(keFieldFeathering, "\b50");
    QTest::mouseClick(PanelButton(IDC_APPLY), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return filter.m_running.load() || Session().RunsFinished() > 0; }));
    ASSERT_EQ(Session().RunsFinished(), 0) << "the run ended before the test could act on it";
  }
  // After an abort: nothing of the run reached the editor, unless the run
  // had already passed its last check for an abort, in which case it ends
  // with its result as any finished run does.
  void ExpectAbortedOrFinished() {
    if (Session().RunsFinished() == 0) return ExpectNoResult();
    EXPECT_EQ(Session().RunsFinished(), 1);
    EXPECT_EQ(DisplayShown(), "Result");
    EXPECT_TRUE(OkEnabled());
  }
  // Nothing of an unfinished run reached the editor.
  void ExpectNoResult() {
    EXPECT_EQ(Session().RunsFinished(), 0);
    EXPECT_EQ(AlphaAt(holder, 100, 100), 255);
    EXPECT_EQ(DisplayShown(), "Original");
    EXPECT_FALSE(PanelEnabled(IDC_DISPLAY));
    EXPECT_FALSE(OkEnabled());
    EXPECT_EQ(Editor().ProgressBar()->value(), 0);
  }
};

TEST_F(EditorLongRunTest, AbortFromThePanelStopsTheRunAndApplyStartsAgain) {
  Run([this](CEditorDialog& editor) {
    StartSlowRun();
    Settle();
    EXPECT_EQ(PanelButton(IDC_APPLY)->text(), "Abort");
    EXPECT_FALSE(OkEnabled());
    EXPECT_FALSE(ToolAction(ID_RESET)->isEnabled());
    EXPECT_FALSE(ToolAction(ID_DELETE_ALL_MARKS)->isEnabled());

    Click(PanelButton(IDC_APPLY));
    // The abort waits for the worker: the label is back at once.
    EXPECT_FALSE(filter.IsRunning());
    EXPECT_EQ(PanelButton(IDC_APPLY)->text(), "Apply");
    ASSERT_TRUE(WaitUntil([&] { return !Session().IsBusy(); }));
    Settle();
    ExpectAbortedOrFinished();
    EXPECT_EQ(PanelButton(IDC_APPLY)->text(), "Apply");
    EXPECT_TRUE(PanelEnabled(IDC_APPLY));

    // The editor is as usable as before: the next Apply runs to its end.
    const int finished = Session().RunsFinished();
    ApplyAndWait();
    EXPECT_EQ(Session().RunsFinished(), finished + 1);
    EXPECT_EQ(AlphaAt(holder, 100, 100), 0);
    EXPECT_TRUE(OkEnabled());
    editor.reject();
  });
}

TEST_F(EditorLongRunTest, CancelDuringARunAbortsItAndASecondCancelCloses) {
  bool stayedOpen = false;
  const int result = Run([&](CEditorDialog& editor) {
    StartSlowRun();
    Click(EditorButton(IDCANCEL));
    stayedOpen = editor.isVisible();
    EXPECT_FALSE(filter.IsRunning());
    ASSERT_TRUE(WaitUntil([&] { return !Session().IsBusy(); }));
    Settle();
    ExpectAbortedOrFinished();
    EXPECT_EQ(PanelButton(IDC_APPLY)->text(), "Apply");
    Click(EditorButton(IDCANCEL));
  });
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(EditorLongRunTest, EscapeDuringARunOnlyAbortsIt) {
  bool stayedOpen = false;
  const int result = Run([&](CEditorDialog& editor) {
    StartSlowRun();
    QTest::keyClick(EditorButton(IDCANCEL), Qt::Key_Escape);
    Settle();
    stayedOpen = editor.isVisible();
    ASSERT_TRUE(WaitUntil([&] { return !Session().IsBusy(); }));
    ExpectAbortedOrFinished();
    QTest::keyClick(EditorButton(IDCANCEL), Qt::Key_Escape);
  });
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(EditorLongRunTest, EscapeInANumericFieldDuringARunOnlyAbortsIt) {
  bool stayedOpen = false;
  const int result = Run([&](CEditorDialog& editor) {
    StartSlowRun();
    QWidget* field = Panel().Field(keFieldFeathering)->InnerEdit();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Escape);
    stayedOpen = editor.isVisible();
    EXPECT_FALSE(filter.IsRunning());
    ASSERT_TRUE(WaitUntil([&] { return !Session().IsBusy(); }));
    Settle();
    ExpectAbortedOrFinished();
    QTest::keyClick(field, Qt::Key_Escape);
  });
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(result, IDCANCEL);
}

class EditorRunTest : public CEditorWindowTest {
 protected:
  // A finished run, then Escape typed where `focus` says: the editor ends
  // with Cancel, so the host writes nothing.
  void ExpectEscapeAfterARunCloses(const std::function<QWidget*()>& focus) {
    bool closedAtOnce = false;
    const int result = Run([&](CEditorDialog& editor) {
      MarkSky();
      ApplyAndWait();
      ASSERT_TRUE(OkEnabled());
      QWidget* target = focus();
      target->setFocus();
      Settle();
      QTest::keyClick(target, Qt::Key_Escape);
      closedAtOnce = !editor.isVisible();
    });
    EXPECT_TRUE(closedAtOnce);
    EXPECT_EQ(result, IDCANCEL);
  }
};

TEST_F(EditorRunTest, EscapeAfterARunClosesWithTheFocusInTheView) {
  ExpectEscapeAfterARunCloses([this] { return static_cast<QWidget*>(&View()); });
}

TEST_F(EditorRunTest, EscapeAfterARunClosesWithTheFocusInANumericField) {
  ExpectEscapeAfterARunCloses([this] { return Panel().Field(keFieldStrength)->InnerEdit(); });
}

TEST_F(EditorRunTest, EscapeAfterARunClosesWithTheFocusOnApply) {
  ExpectEscapeAfterARunCloses([this] { return static_cast<QWidget*>(PanelButton(IDC_APPLY)); });
}

TEST_F(EditorRunTest, CancelAfterARunClosesAtOnce) {
  const int result = Run([this](CEditorDialog&) {
    MarkSky();
    ApplyAndWait();
    ASSERT_TRUE(OkEnabled());
    Click(EditorButton(IDCANCEL));
  });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(EditorRunTest, OkIsOnlyTakenOnceAResultIsShown) {
  const int result = Run([this](CEditorDialog& editor) {
    ASSERT_FALSE(OkEnabled());
    Click(EditorButton(IDOK));
    EXPECT_TRUE(editor.isVisible());
    // Choosing Original takes it away again.
    MarkSky();
    ApplyAndWait();
    Choose(Panel().DisplayList(), "Original");
    Click(EditorButton(IDOK));
    EXPECT_TRUE(editor.isVisible());
    Choose(Panel().DisplayList(), "Result");
    Click(EditorButton(IDOK));
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(AlphaAt(holder, 100, 20), 0);
  EXPECT_EQ(AlphaAt(holder, 100, 250), 255);
}

TEST_F(EditorRunTest, DefaultPutsTheNumbersBackAndLeavesTheRest) {
  Run([this](CEditorDialog& editor) {
    ASSERT_FALSE(PanelEnabled(IDC_DEFAULT));
    Click(PanelButton(IDC_FILL_HOLES));
    ASSERT_TRUE(Session().IsChecked(keSlotFillHoles));
    ClickTool(ID_TOOL_MANUAL);
    Type(keFieldBrushSize, "\b20");
    Type(keFieldStrength, "\b55");
    Type(keFieldContract, "\b7");
    Type(keFieldFeathering, "\b9");
    Type(keFieldSmoothing, "\b4");
    EXPECT_TRUE(PanelEnabled(IDC_DEFAULT));
    // Apply stores the numbers; Default must replace them in the set too.
    MarkSky();
    ApplyAndWait();
    ASSERT_EQ(Slot(filter, keSlotStrength), 55);
    ASSERT_EQ(Slot(filter, keSlotSmoothing), 4);

    Click(PanelButton(IDC_DEFAULT));
    EXPECT_EQ(Panel().Field(keFieldStrength)->Text(), "30");
    EXPECT_EQ(Panel().Field(keFieldContract)->Text(), "0");
    EXPECT_EQ(Panel().Field(keFieldFeathering)->Text(), "1");
    EXPECT_EQ(Panel().Field(keFieldSmoothing)->Text(), "0");
    EXPECT_EQ(Slot(filter, keSlotStrength), 30);
    EXPECT_EQ(Slot(filter, keSlotContract), 0);
    EXPECT_EQ(Slot(filter, keSlotFeather), 1);
    EXPECT_EQ(Slot(filter, keSlotSmoothing), 0);
    EXPECT_FALSE(PanelEnabled(IDC_DEFAULT));
    EXPECT_TRUE(Panel().Field(keFieldStrength)->isAncestorOf(QApplication::focusWidget()));
    // Not the check boxes, not the brush.
    EXPECT_TRUE(PanelButton(IDC_FILL_HOLES)->isChecked());
    EXPECT_TRUE(Session().IsChecked(keSlotFillHoles));
    EXPECT_EQ(Panel().Field(keFieldBrushSize)->Text(), "20");
    EXPECT_EQ(Session().BrushSize(), 20);
    editor.reject();
  });
}

}  // namespace

namespace {

class EditorTypedStrengthTest : public CEditorWindowTest {};

// What the user types into Strength before Apply is what the run uses.
TEST_F(EditorTypedStrengthTest, ApplyRunsWithTheStrengthTypedJustBefore) {
  Run([this](CEditorDialog& editor) {
    MarkSky();
    QLineEdit* strength = Panel().Field(keFieldStrength)->InnerEdit();
    QTest::mouseClick(strength, Qt::LeftButton, Qt::NoModifier, strength->rect().center());
    QTest::keyClick(strength, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(strength, "55");
    QTest::keyClick(strength, Qt::Key_Tab);
    Settle();
    EXPECT_EQ(strength->text(), "55");
    ApplyAndWait();
    EXPECT_EQ(Slot(filter, keSlotStrength), 55);
    editor.reject();
  });
}

}  // namespace
