// The parameter panel's widgets over a real session, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "../editormodel/TestImages.h"
#include "editor/EditNum.h"
#include "editor/ParamPanel.h"
#include "engine/MatteFilter.h"
#include "framework/dialogs/QtApplicationScope.h"
#include "framework/dialogs/QtMessageWindow.h"
#include "platform/DialogTemplate.h"

namespace {

class ParamPanelTest : public ::testing::Test {
 protected:
  ParamPanelTest() : holder(MakeSkyAndRoof(80, 80)) {}

  void SetUp() override {
    window.SetMessageHandler([this](const CWindowMessage& message) {
      session.HandleMessage(message);
      panel.Reflect();
    });
    session.Open(window);
    panel.SetSession(&session);
    ASSERT_TRUE(panel.Create(&host));
    host.resize(400, 600);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
  }

  QWidget* Item(int id) const { return panel.GetDlgItem(id); }
  bool Enabled(int id) const { return Item(id) && Item(id)->isEnabled(); }
  QString Text(int id) const {
    if (auto* button = qobject_cast<QAbstractButton*>(Item(id))) return button->text();
    return QString();
  }
  void Type(keField field, const char* text) {
    CEditNum* edit = panel.Field(field);
    edit->InnerEdit()->setFocus();
    QApplication::processEvents();
    QTest::keyClicks(edit->InnerEdit(), text);
  }

  CPrivateConfig config;
  CQtApplicationScope application;
  CCoreImage holder;
  CMatteFilter filter;
  CMatteDocument document;
  CQtMessageWindow window;
  CEditorSession session{filter, document, holder};
  QWidget host;
  CParamPanel panel;
};

// The labels reach the panel through its template: each parameter's control
// must be there, of its kind, under the label the parameter is declared with.
TEST(ParamPanelTemplate, EveryParameterHasItsControlUnderItsLabel) {
  CDialogTemplate dialog;
  ASSERT_TRUE(LoadDialogTemplate(kPanelTemplateId, dialog));
  const std::vector<CDialogControl>& controls = dialog.controls;
  std::set<int> ids;
  for (const CMatteParameter& row : kMatteParameters) {
    const int id = ParameterControlId(row.slot);
    EXPECT_TRUE(ids.insert(id).second) << row.key << " shares control " << id;
    const auto control = std::find_if(controls.begin(), controls.end(),
                                      [id](const CDialogControl& c) { return c.id == id; });
    ASSERT_NE(control, controls.end()) << row.key;
    if (row.control == keControlCheckBox) {
      EXPECT_EQ(control->kind, keControlKind::CheckBox) << row.key;
      EXPECT_EQ(control->text, row.label);
      continue;
    }
    EXPECT_EQ(control->kind, keControlKind::Edit) << row.key;
    // A field's label is the text just before it; trailing blanks are layout.
    ASSERT_NE(control, controls.begin()) << row.key;
    const CDialogControl& label = *(control - 1);
    EXPECT_EQ(label.kind, keControlKind::Static) << row.key;
    EXPECT_EQ(label.text.substr(0, label.text.find_last_not_of(' ') + 1), row.label);
  }
}

TEST_F(ParamPanelTest, OpensAtTheDefaultsWithEverythingButTheFieldsDisabled) {
  EXPECT_EQ(panel.Field(keFieldStrength)->Text(), "30");
  EXPECT_EQ(panel.Field(keFieldContract)->Text(), "0");
  EXPECT_EQ(panel.Field(keFieldFeathering)->Text(), "1");
  EXPECT_EQ(panel.Field(keFieldSmoothing)->Text(), "0");
  EXPECT_EQ(panel.Field(keFieldBrushSize)->Text(), "50");
  for (int id : {IDC_APPLY, IDC_DEFAULT, IDC_BRUSH_SIZE, IDC_SMOOTH_BRUSH, IDC_DISPLAY,
                 IDC_SHOW_MAT}) {
    EXPECT_FALSE(Enabled(id)) << id;
  }
  EXPECT_TRUE(Enabled(IDC_STRENGTH));
  ASSERT_EQ(panel.DisplayList()->count(), 2);
  EXPECT_EQ(panel.DisplayList()->currentItem()->text(), "Original");
  ASSERT_EQ(panel.ShowMatList()->count(), 8);
  EXPECT_EQ(panel.ShowMatList()->item(7)->text(), "Stand Matte");
  EXPECT_EQ(panel.ShowMatList()->currentRow(), 0);
  EXPECT_EQ(Text(IDC_APPLY), "Apply");
}

TEST_F(ParamPanelTest, TypingAwayFromTheDefaultsEnablesDefaultWhichPutsThemBack) {
  Type(keFieldFeathering, "\b7");
  EXPECT_EQ(session.Field(keFieldFeathering).Text(), "7");
  EXPECT_TRUE(Enabled(IDC_DEFAULT));
  QTest::mouseClick(static_cast<QPushButton*>(Item(IDC_DEFAULT)), Qt::LeftButton);
  EXPECT_EQ(panel.Field(keFieldFeathering)->Text(), "1");
  EXPECT_FALSE(Enabled(IDC_DEFAULT));
}

TEST_F(ParamPanelTest, ATypedValueAboveTheLimitIsShownClampedOnLeaving) {
  Type(keFieldSmoothing, "\b12");
  panel.Field(keFieldStrength)->InnerEdit()->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(panel.Field(keFieldSmoothing)->Text(), "9");
  EXPECT_EQ(session.Field(keFieldSmoothing).Text(), "9");
}

TEST_F(ParamPanelTest, ArrowsWheelAndSliderReachTheSessionAsTypingDoes) {
  CEditNum* strength = panel.Field(keFieldStrength);
  Type(keFieldStrength, "");
  QTest::keyClick(strength->InnerEdit(), Qt::Key_Up);
  EXPECT_EQ(session.Field(keFieldStrength).Text(), "31");
  EXPECT_TRUE(Enabled(IDC_DEFAULT));
  QTest::keyClick(strength->InnerEdit(), Qt::Key_Down);
  EXPECT_EQ(session.Field(keFieldStrength).Text(), "30");
  EXPECT_FALSE(Enabled(IDC_DEFAULT));

  // Two notches up on Contract, then three down stop at its minimum.
  CEditNum* contract = panel.Field(keFieldContract);
  auto wheel = [&](int delta) {
    QWheelEvent event(QPointF(5, 5), contract->mapToGlobal(QPointF(5, 5)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(contract->InnerEdit(), &event);
  };
  wheel(240);
  EXPECT_EQ(session.Field(keFieldContract).Text(), "2");
  EXPECT_TRUE(Enabled(IDC_DEFAULT));
  wheel(-360);
  EXPECT_EQ(contract->Text(), "0");
  EXPECT_EQ(session.Field(keFieldContract).Text(), "0");

  // The slider's value is what the session stores on Apply.
  CEditNum* feathering = panel.Field(keFieldFeathering);
  feathering->OpenSlider(feathering->DropDownButton()->mapToGlobal(QPoint(5, 5)));
  ASSERT_TRUE(feathering->IsSliderOpen());
  CEditNumSlider* slider = feathering->Slider();
  const QPoint at(slider->ThumbX(20), 10);
  QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, at);
  QApplication::processEvents();
  EXPECT_EQ(feathering->Text(), "20");
  EXPECT_EQ(session.Field(keFieldFeathering).Text(), "20");
  EXPECT_TRUE(Enabled(IDC_DEFAULT));
}

TEST_F(ParamPanelTest, ApplyRunsAndTheFinishedRunEnablesTheLists) {
  session.SelectTool(ID_TOOL_MARK_BACKGROUND);
  const CViewGeometry view = CViewGeometry::AtZoomOne(80, 80);
  session.MarkPress(view, CClientPoint{5, 5});
  session.MarkRelease();
  panel.Reflect();
  ASSERT_TRUE(Enabled(IDC_APPLY));
  QTest::mouseClick(static_cast<QPushButton*>(Item(IDC_APPLY)), Qt::LeftButton);
  for (int i = 0; i < 3000 && session.RunsFinished() == 0; ++i) QTest::qWait(10);
  ASSERT_EQ(session.RunsFinished(), 1);
  EXPECT_EQ(Text(IDC_APPLY), "Apply");
  EXPECT_TRUE(Enabled(IDC_DISPLAY));
  EXPECT_TRUE(Enabled(IDC_SHOW_MAT));
  EXPECT_EQ(panel.DisplayList()->currentItem()->text(), "Result");
}

TEST_F(ParamPanelTest, EdgeWidthAndItsLabelAreEnabledOnlyWhileRefineEdgeIsChecked) {
  EXPECT_FALSE(Enabled(IDC_EDGE_WIDTH));
  EXPECT_FALSE(Enabled(IDC_EDGE_WIDTH_LABEL));
  EXPECT_FALSE(panel.Field(keFieldEdgeWidth)->InnerEdit()->isEnabled());
  auto* refine = static_cast<QCheckBox*>(Item(IDC_REFINE_EDGE));
  QTest::mouseClick(refine, Qt::LeftButton, Qt::NoModifier, QPoint(6, refine->height() / 2));
  EXPECT_TRUE(Enabled(IDC_EDGE_WIDTH));
  EXPECT_TRUE(Enabled(IDC_EDGE_WIDTH_LABEL));
  Type(keFieldEdgeWidth, "\b\b4");
  EXPECT_EQ(session.Field(keFieldEdgeWidth).Text(), "4");
  QTest::mouseClick(refine, Qt::LeftButton, Qt::NoModifier, QPoint(6, refine->height() / 2));
  EXPECT_FALSE(Enabled(IDC_EDGE_WIDTH));
  // The value typed stays for the next time Refine Edge is checked.
  EXPECT_EQ(session.Field(keFieldEdgeWidth).Text(), "4");
  // Every other parameter's control stays enabled throughout.
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.slot != keSlotEdgeWidth) {
      EXPECT_TRUE(Enabled(ParameterControlId(row.slot))) << row.key;
    }
  }
}

TEST_F(ParamPanelTest, TexturedBackgroundClickReachesTheSession) {
  QTest::mouseClick(static_cast<QCheckBox*>(Item(IDC_TEXTURED)), Qt::LeftButton);
  EXPECT_TRUE(session.IsChecked(keSlotTextured));
  EXPECT_EQ(session.Document().CombineMode(), 0);
  QTest::mouseClick(static_cast<QCheckBox*>(Item(IDC_TEXTURED)), Qt::LeftButton);
  EXPECT_FALSE(session.IsChecked(keSlotTextured));
  EXPECT_EQ(session.Document().CombineMode(), 1);
}

}  // namespace
