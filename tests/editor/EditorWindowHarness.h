// The editor window opened modally on the offscreen platform and driven as
// a user drives it: clicks on its buttons, lists and tool bar, typing into
// the panel's fields, the pointer and keys over the view.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <functional>
#include <string>

#include "../editormodel/TestImages.h"
#include "editor/EditNum.h"
#include "editor/EditorDialog.h"
#include "editor/ParamPanel.h"
#include "editor/ToolView.h"
#include "engine/MatteFilter.h"
#include "framework/dialogs/QtApplicationScope.h"
#include "imagecore/RowLease.h"

class CEditorWindowTest : public ::testing::Test {
 protected:
  explicit CEditorWindowTest(CCoreImage picture) : holder(std::move(picture)) {}
  CEditorWindowTest() : CEditorWindowTest(MakeSkyAndRoof(400, 300)) {}

  // Runs the editor modally; `user` acts once it is open and should end it.
  int Run(const std::function<void(CEditorDialog&)>& user) {
    CParamPanel panel;
    CEditorDialog editor(holder, panel, filter, [] { return new CToolView; });
    editor.SetMinimumSize(800, 600);
    editor.SetShowPresets(showPresets);
    editor.SetRecording(record);
    if (!presetFolder.empty()) editor.SetPresetFolder(presetFolder);
    m_editor = &editor;
    QTimer::singleShot(0, [&] {
      user(editor);
      // A test that failed half-way must not hang.
      if (editor.isVisible()) editor.done(-5);
    });
    const int result = editor.DoModal();
    if (editor.Recorder()) recorded = editor.Recorder()->Text();
    m_editor = nullptr;
    return result;
  }

  CEditorDialog& Editor() const { return *m_editor; }
  CEditorSession& Session() const { return m_editor->Session(); }
  CToolView& View() const { return *dynamic_cast<CToolView*>(m_editor->EditorView()); }
  QWidget* Client() const { return View().viewport(); }
  CParamPanel& Panel() const {
    return *static_cast<CParamPanel*>(m_editor->GetDlgItem(IDC_PANEL_PLACE));
  }
  QAbstractButton* PanelButton(int id) const {
    return qobject_cast<QAbstractButton*>(Panel().GetDlgItem(id));
  }
  QAbstractButton* EditorButton(int id) const {
    return qobject_cast<QAbstractButton*>(m_editor->GetDlgItem(id));
  }
  bool PanelEnabled(int id) const {
    QWidget* item = Panel().GetDlgItem(id);
    return item && item->isEnabled();
  }
  bool OkEnabled() const { return EditorButton(IDOK)->isEnabled(); }

  // Posted events handled, and the update pass of the moment the event loop
  // waits has run.
  static void Settle() {
    QApplication::processEvents();
    QEventLoop idle;
    QTimer::singleShot(1, &idle, &QEventLoop::quit);
    idle.exec();
  }
  // Event processing until `done` holds; false after `ms` without it.
  static bool WaitUntil(const std::function<bool()>& done, int ms = 60000) {
    return QTest::qWaitFor(done, ms);
  }

  // A check box takes clicks on its box and text only: it is clicked on its box.
  static void Click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    const QPoint at = qobject_cast<QCheckBox*>(button) ? QPoint(6, button->height() / 2)
                                                       : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
    Settle();
  }
  void ClickApply() { Click(PanelButton(IDC_APPLY)); }
  // A click on the entry of a panel list, scrolled into sight first.
  static void Choose(QListWidget* list, const QString& entry) {
    ASSERT_NE(list, nullptr);
    const QList<QListWidgetItem*> items = list->findItems(entry, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << entry.toStdString();
    list->scrollToItem(items[0]);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(items[0]).center());
    Settle();
  }
  QString DisplayShown() const {
    QListWidgetItem* item = Panel().DisplayList()->currentItem();
    return item ? item->text() : QString();
  }

  // The tool bar button of a command.
  QAction* ToolAction(int command) const {
    for (QAction* action : m_editor->ToolBar()->actions()) {
      if (action->data().toInt() == command) return action;
    }
    return nullptr;
  }
  void ClickTool(int command) {
    QAction* action = ToolAction(command);
    ASSERT_NE(action, nullptr) << command;
    QTest::mouseClick(m_editor->ToolBar()->widgetForAction(action), Qt::LeftButton);
    Settle();
  }

  // The user enters a panel field (its text is selected) and types.
  void Type(keField field, const char* keys) {
    CEditNum* edit = Panel().Field(field);
    edit->InnerEdit()->setFocus();
    Settle();
    QTest::keyClicks(edit->InnerEdit(), keys);
    Settle();
  }

  // A client point inside an image pixel as the view shows it now.
  QPoint Inside(int x, int y) const {
    QPoint point(x, y);
    View().ImageToClient(point);
    const int half = static_cast<int>(View().GetZoom()) / 2;
    return point + QPoint(half, half);
  }
  void Press(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(Client(), button, Qt::NoModifier, at);
  }
  void Move(QPoint at) { QTest::mouseMove(Client(), at); }
  void Release(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(Client(), button, Qt::NoModifier, at);
    Settle();
  }
  // A background stroke across the sky.
  void MarkSky() {
    ClickTool(ID_TOOL_MARK_BACKGROUND);
    Press(Inside(5, 5));
    Move(Inside(holder.Width() - 10, 10));
    Release(Inside(holder.Width() - 10, 10));
  }
  // Apply, and the run's end handled.
  void ApplyAndWait() {
    const int before = Session().RunsFinished();
    ClickApply();
    ASSERT_TRUE(WaitUntil([&] { return Session().RunsFinished() > before && !Session().IsBusy(); }));
    Settle();
  }

  // What the view shows at a client point.
  QRgb Shown(QPoint at) const { return Client()->grab().toImage().pixel(at) | 0xFF000000; }
  // The matte the view puts behind a fully transparent pixel at `at`.
  QRgb MatteAt(QPoint at) const {
    const QPoint cell = at - View().ImageOrigin() + View().ScrollPosition();
    const bool b = (cell.x() / 10 + cell.y() / 10) % 2 == 0;
    return (b ? View().MatteColourB() : View().MatteColourA()).rgb() | 0xFF000000;
  }

  CPrivateConfig config;
  CQtApplicationScope application;
  // The preset row, switched off as in the program unless a test shows it.
  bool showPresets = false;
  std::string presetFolder;
  // Whether the editor records its session, and the script it wrote.
  bool record = false;
  std::string recorded;
  CCoreImage holder;
  CMatteFilter filter;

 private:
  CEditorDialog* m_editor = nullptr;
};

// Pixels of an image, for comparing what was kept with what is shown.
// Read through a copy that shares the storage, so the document's images can
// be looked at.
inline std::vector<uint8_t> PixelsOf(const CCoreImage& shown) {
  CCoreImage image(shown);
  std::vector<uint8_t> pixels;
  for (int y = 0; y < image.Height(); ++y) {
    const CRowLease row(image, y);
    pixels.insert(pixels.end(), row.Data(), row.Data() + 4 * image.Width());
  }
  return pixels;
}
