// The editor window as a user meets it, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "../editormodel/TestImages.h"
#include "editor/EditNum.h"
#include "editor/EditorDialog.h"
#include "editor/ParamPanel.h"
#include "editor/ToolView.h"
#include "engine/MatteFilter.h"
#include "framework/dialogs/QtApplicationScope.h"

namespace {

class EditorDialogTest : public ::testing::Test {
 protected:
  EditorDialogTest() : holder(MakeSkyAndRoof(400, 300)) {}

  // Runs the editor modally; `user` acts once it is open and must end it.
  int Run(const std::function<void(CEditorDialog&)>& user) {
    CParamPanel panel;
    CEditorDialog editor(holder, panel, filter, [] { return new CToolView; });
    editor.SetMinimumSize(800, 600);
    editor.SetShowPresets(false);
    QTimer::singleShot(0, [&] {
      user(editor);
      // A test that forgot to close must not hang.
      if (editor.isVisible()) editor.done(-5);
    });
    return editor.DoModal();
  }

  static void WaitForRun(CEditorDialog& editor) {
    for (int i = 0; i < 3000 && editor.Session().IsBusy(); ++i) QTest::qWait(10);
  }

  static QWidget* Item(CEditorDialog& editor, int id) { return editor.GetDlgItem(id); }

  CPrivateConfig config;
  CQtApplicationScope application;
  CCoreImage holder;
  CMatteFilter filter;
};

TEST_F(EditorDialogTest, OpensAtLeast800By600WithThePanelWhereThePresetsWere) {
  const int result = Run([](CEditorDialog& editor) {
    EXPECT_GE(editor.width(), 800);
    EXPECT_GE(editor.height(), 600);
    EXPECT_EQ(editor.minimumSize(), editor.size());
    for (int id : {IDC_PRESET_LABEL, IDC_PRESET_LIST, IDC_PRESET_SAVE, IDC_PRESET_DELETE}) {
      EXPECT_EQ(Item(editor, id), nullptr) << id;
    }
    QWidget* panel = Item(editor, IDC_PANEL_PLACE);
    ASSERT_NE(panel, nullptr);
    CDialogTemplate layout;
    ASSERT_TRUE(LoadDialogTemplate(kEditorTemplateId, layout));
    EXPECT_EQ(panel->geometry().top(), editor.DialogToPixels(layout.Find(IDC_PRESET_LABEL)->rect).top());
    EXPECT_EQ(editor.StatusText().toStdString(), kInstructionsText);
    // The fit zoom is in the title and the read-out.
    const QString percent = editor.ZoomReadout();
    EXPECT_TRUE(percent.endsWith('%'));
    EXPECT_EQ(editor.windowTitle(), "Kelvane [" + percent + "]");
    EXPECT_FALSE(Item(editor, IDOK)->isEnabled());
    EXPECT_NE(editor.ToolBar(), nullptr);
    editor.reject();
  });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(EditorDialogTest, OnlyTheViewGrowsWhenTheWindowIsEnlarged) {
  Run([](CEditorDialog& editor) {
    QWidget* view = Item(editor, IDC_VIEW);
    QWidget* ok = Item(editor, IDOK);
    QWidget* status = Item(editor, IDC_STATUS);
    QWidget* zoom = Item(editor, IDC_ZOOM_READOUT);
    const QRect viewBefore = view->geometry();
    const QRect okBefore = ok->geometry();
    const QRect statusBefore = status->geometry();
    const QRect zoomBefore = zoom->geometry();
    editor.resize(editor.width() + 100, editor.height() + 50);
    QApplication::processEvents();
    EXPECT_EQ(view->geometry(), viewBefore.adjusted(0, 0, 100, 50));
    EXPECT_EQ(ok->geometry(), okBefore.translated(100, 0));
    EXPECT_EQ(status->geometry(), statusBefore.translated(0, 50).adjusted(0, 0, 100, 0));
    EXPECT_EQ(zoom->geometry(), zoomBefore.translated(0, 50));
    editor.reject();
  });
}

TEST_F(EditorDialogTest, MarkApplyAndOkHandTheResultBack) {
  const int result = Run([](CEditorDialog& editor) {
    auto* view = dynamic_cast<CToolView*>(editor.EditorView());
    ASSERT_NE(view, nullptr);
    editor.RouteCommand(ID_TOOL_MARK_BACKGROUND);
    EXPECT_EQ(editor.StatusText().toStdString(),
              ToolStatusText(ID_TOOL_MARK_BACKGROUND));
    // A stroke across the sky, in the view's own coordinates.
    QPoint from(5, 5);
    view->ImageToClient(from);
    QPoint to(390, 10);
    view->ImageToClient(to);
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(view->viewport(), to);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(editor.Session().ReleaseCount(), 1);
    QApplication::processEvents();  // the update pass after the input shows the new state
    auto* panel = static_cast<CParamPanel*>(Item(editor, IDC_PANEL_PLACE));
    auto* apply = static_cast<QPushButton*>(panel->GetDlgItem(IDC_APPLY));
    ASSERT_TRUE(apply->isEnabled());
    QTest::mouseClick(apply, Qt::LeftButton);
    WaitForRun(editor);
    QApplication::processEvents();
    EXPECT_EQ(apply->text(), "Apply");
    EXPECT_TRUE(Item(editor, IDOK)->isEnabled());
    EXPECT_EQ(panel->DisplayList()->currentItem()->text(), "Result");
    QTest::mouseClick(static_cast<QPushButton*>(Item(editor, IDOK)), Qt::LeftButton);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(AlphaAt(holder, 200, 20), 0);    // sky
  EXPECT_EQ(AlphaAt(holder, 200, 250), 255);  // roof
}

TEST_F(EditorDialogTest, CancelDuringARunOnlyAbortsIt) {
  const int result = Run([](CEditorDialog& editor) {
    CEditorSession& session = editor.Session();
    const CViewGeometry view = CViewGeometry::AtZoomOne(400, 300);
    session.SelectTool(ID_TOOL_MARK_BACKGROUND);
    session.MarkPress(view, CClientPoint{5, 5});
    session.MarkRelease();
    session.TypeIntoField(keFieldSmoothing, "9");
    session.TypeIntoField(keFieldFeathering, "20");
    ASSERT_TRUE(session.PressApply());
    editor.reject();  // Escape while the run works
    if (editor.isVisible()) {
      EXPECT_FALSE(session.IsBusy() && editor.Session().RunsFinished() > 0);
      WaitForRun(editor);
      editor.reject();
    }
  });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(EditorDialogTest, PlusAndMinusZoomOneStepEach) {
  Run([](CEditorDialog& editor) {
    auto* view = dynamic_cast<CToolView*>(editor.EditorView());
    ASSERT_NE(view, nullptr);
    view->SetZoom(1.0, kNoAnchor);
    editor.activateWindow();
    QTest::keyClick(&editor, '+');
    EXPECT_DOUBLE_EQ(view->GetZoom(), 1.5);
    QTest::keyClick(&editor, '-');
    QTest::keyClick(&editor, '-');
    EXPECT_NEAR(view->GetZoom(), 2.0 / 3.0, 1e-12);
    EXPECT_EQ(editor.ZoomReadout(), "66%");
    editor.reject();
  });
}

}  // namespace
