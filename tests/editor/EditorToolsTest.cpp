// The tool bar's commands and the Ctrl switch between the marking tools,
// wherever the keyboard focus is.
#include <QCursor>
#include <QStatusTipEvent>

#include "EditorWindowHarness.h"

namespace {

class EditorToolsTest : public CEditorWindowTest {
 protected:
  void PointerAt(QWidget* widget) { QCursor::setPos(widget->mapToGlobal(widget->rect().center())); }
  static void Ctrl(bool down) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    if (down) {
      QTest::keyPress(focus, Qt::Key_Control);
    } else {
      QTest::keyRelease(focus, Qt::Key_Control);
    }
    Settle();
  }
  QWidget* StrengthEdit() const { return Panel().Field(keFieldStrength)->InnerEdit(); }
};

TEST_F(EditorToolsTest, CtrlOverTheViewSwitchesTheToolWhileTheFocusIsInAField) {
  Run([this](CEditorDialog& editor) {
    ClickTool(ID_TOOL_MARK_BACKGROUND);
    // Choosing a marking tool puts the focus into Strength.
    ASSERT_EQ(QApplication::focusWidget(), StrengthEdit());
    PointerAt(Client());
    Ctrl(true);
    EXPECT_EQ(Session().Tool(), ID_TOOL_MARK_OBJECT);
    EXPECT_TRUE(ToolAction(ID_TOOL_MARK_OBJECT)->isChecked());
    EXPECT_EQ(editor.StatusText().toStdString(), ToolStatusText(ID_TOOL_MARK_OBJECT));
    Ctrl(false);
    EXPECT_EQ(Session().Tool(), ID_TOOL_MARK_BACKGROUND);
    EXPECT_TRUE(ToolAction(ID_TOOL_MARK_BACKGROUND)->isChecked());
    EXPECT_EQ(Panel().Field(keFieldStrength)->Text(), "30");

    // From the object tool the switch goes the other way.
    ClickTool(ID_TOOL_MARK_OBJECT);
    PointerAt(Client());
    Ctrl(true);
    EXPECT_EQ(Session().Tool(), ID_TOOL_MARK_BACKGROUND);
    Ctrl(false);
    EXPECT_EQ(Session().Tool(), ID_TOOL_MARK_OBJECT);
    editor.reject();
  });
}

TEST_F(EditorToolsTest, CtrlInADragContinuesItAsAStrokeOfTheOtherKind) {
  Run([this](CEditorDialog& editor) {
    View().SetZoom(2);
    ClickTool(ID_TOOL_MARK_BACKGROUND);
    PointerAt(Client());
    Press(Inside(10, 10));
    Move(Inside(50, 10));
    Ctrl(true);
    Move(Inside(90, 10));
    Ctrl(false);
    Move(Inside(130, 10));
    Release(Inside(130, 10));
    const std::vector<CMarkPoint> background = {{10, 10}, {50, 10}, kStrokeEnd,
                                                {90, 10}, {130, 10}, kStrokeEnd};
    const std::vector<CMarkPoint> object = {{50, 10}, {90, 10}, kStrokeEnd};
    EXPECT_EQ(Session().Document().Points(false), background);
    EXPECT_EQ(Session().Document().Points(true), object);
    EXPECT_EQ(Session().PressCount(), Session().ReleaseCount());
    editor.reject();
  });
}

// The panel hands Ctrl to the view whatever the pointer is over.
TEST_F(EditorToolsTest, CtrlInAPanelFieldSwitchesTheToolWithThePointerOffTheView) {
  Run([this](CEditorDialog& editor) {
    ClickTool(ID_TOOL_MARK_BACKGROUND);
    ASSERT_EQ(QApplication::focusWidget(), StrengthEdit());
    PointerAt(&Panel());
    Ctrl(true);
    EXPECT_EQ(Session().Tool(), ID_TOOL_MARK_OBJECT);
    Ctrl(false);
    EXPECT_EQ(Session().Tool(), ID_TOOL_MARK_BACKGROUND);
    editor.reject();
  });
}

TEST_F(EditorToolsTest, CtrlOnAWindowButtonOffTheViewDoesNotSwitch) {
  Run([this](CEditorDialog& editor) {
    ClickTool(ID_TOOL_MARK_BACKGROUND);
    EditorButton(IDCANCEL)->setFocus();
    Settle();
    PointerAt(EditorButton(IDCANCEL));
    Ctrl(true);
    EXPECT_EQ(Session().Tool(), ID_TOOL_MARK_BACKGROUND);
    Ctrl(false);
    EXPECT_EQ(Session().Tool(), ID_TOOL_MARK_BACKGROUND);
    editor.reject();
  });
}

TEST_F(EditorToolsTest, DeleteAllMarksIsThereWhileMarksAreAndKeepsApplyOnlyAfterAResult) {
  Run([this](CEditorDialog& editor) {
    EXPECT_FALSE(ToolAction(ID_DELETE_ALL_MARKS)->isEnabled());
    EXPECT_FALSE(ToolAction(ID_RESET)->isEnabled());
    MarkSky();
    EXPECT_TRUE(ToolAction(ID_DELETE_ALL_MARKS)->isEnabled());
    EXPECT_FALSE(ToolAction(ID_RESET)->isEnabled());
    EXPECT_TRUE(PanelEnabled(IDC_APPLY));

    ClickTool(ID_DELETE_ALL_MARKS);
    EXPECT_FALSE(Session().Document().HasMarks());
    EXPECT_FALSE(ToolAction(ID_DELETE_ALL_MARKS)->isEnabled());
    EXPECT_FALSE(PanelEnabled(IDC_APPLY));  // nothing to apply
    EXPECT_EQ(editor.StatusText().toStdString(), kInstructionsText);

    MarkSky();
    ApplyAndWait();
    EXPECT_TRUE(ToolAction(ID_DELETE_ALL_MARKS)->isEnabled());
    EXPECT_TRUE(ToolAction(ID_RESET)->isEnabled());
    ClickTool(ID_DELETE_ALL_MARKS);
    EXPECT_FALSE(ToolAction(ID_DELETE_ALL_MARKS)->isEnabled());
    EXPECT_TRUE(PanelEnabled(IDC_APPLY));  // a result exists
    EXPECT_TRUE(ToolAction(ID_RESET)->isEnabled());
    EXPECT_EQ(AlphaAt(holder, 100, 20), 0);  // the result stays on show
    editor.reject();
  });
}

TEST_F(EditorToolsTest, ResetGoesBackToTheLayerAndDisablesWhatNeedsAResult) {
  Run([this](CEditorDialog& editor) {
    MarkSky();
    ApplyAndWait();
    ASSERT_TRUE(ToolAction(ID_RESET)->isEnabled());
    ASSERT_EQ(AlphaAt(holder, 100, 20), 0);

    ClickTool(ID_RESET);
    EXPECT_EQ(AlphaAt(holder, 100, 20), 255);
    EXPECT_FALSE(ToolAction(ID_RESET)->isEnabled());
    EXPECT_FALSE(ToolAction(ID_DELETE_ALL_MARKS)->isEnabled());
    EXPECT_EQ(DisplayShown(), "Original");
    EXPECT_FALSE(PanelEnabled(IDC_DISPLAY));
    EXPECT_FALSE(PanelEnabled(IDC_SHOW_MAT));
    EXPECT_FALSE(PanelEnabled(IDC_APPLY));
    EXPECT_FALSE(OkEnabled());
    EXPECT_EQ(QApplication::focusWidget(), StrengthEdit());

    // A brush stroke alone is something to reset.
    View().SetZoom(1);
    ClickTool(ID_TOOL_MANUAL);
    Press(Inside(100, 200));
    Release(Inside(100, 200));
    EXPECT_TRUE(ToolAction(ID_RESET)->isEnabled());
    ClickTool(ID_RESET);
    EXPECT_EQ(AlphaAt(holder, 100, 200), 255);
    EXPECT_FALSE(ToolAction(ID_RESET)->isEnabled());
    editor.reject();
  });
}

TEST_F(EditorToolsTest, UndoAndRedoButtonsAndKeysStepThroughWhatWasDone) {
  Run([this](CEditorDialog& editor) {
    QAction* undo = ToolAction(ID_UNDO);
    QAction* redo = ToolAction(ID_REDO);
    ASSERT_TRUE(undo && redo);
    EXPECT_EQ(undo->toolTip().toStdString(), "Undo (Ctrl+Z)");
    EXPECT_EQ(redo->toolTip().toStdString(), "Redo (Ctrl+Shift+Z)");
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());

    MarkSky();
    ApplyAndWait();
    ASSERT_EQ(AlphaAt(holder, 100, 20), 0);
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());

    // The keys work with the focus in a panel field, which would otherwise
    // keep Ctrl+Z for its own text.
    QWidget* field = StrengthEdit();
    field->setFocus();
    Settle();
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    Settle();
    EXPECT_EQ(AlphaAt(holder, 100, 20), 255);  // the run is undone
    EXPECT_TRUE(Session().Document().HasMarks());
    EXPECT_TRUE(redo->isEnabled());
    EXPECT_FALSE(OkEnabled());
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    Settle();
    EXPECT_EQ(AlphaAt(holder, 100, 20), 0);
    EXPECT_TRUE(OkEnabled());
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Y, Qt::ControlModifier);
    Settle();
    EXPECT_EQ(AlphaAt(holder, 100, 20), 0);

    ClickTool(ID_UNDO);
    ClickTool(ID_UNDO);
    EXPECT_FALSE(Session().Document().HasMarks());
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_TRUE(redo->isEnabled());
    EXPECT_FALSE(PanelEnabled(IDC_APPLY));

    // The status line tells what the button does while the pointer is on it.
    QWidget* button = editor.ToolBar()->widgetForAction(redo);
    QTest::mouseMove(button);
    Settle();
    EXPECT_EQ(editor.StatusText().toStdString(), "Redo what was undone last");
    QStatusTipEvent left{QString()};
    QApplication::sendEvent(button, &left);
    Settle();
    EXPECT_NE(editor.StatusText().toStdString(), "Redo what was undone last");
    editor.reject();
  });
}

}  // namespace
