// The numeric field driven as a user drives it, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <vector>

#include "editor/EditNum.h"
#include "framework/dialogs/QtApplicationScope.h"

namespace {

struct CNotice {
  int id;
  int code;
};

class EditNumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_parent.resize(300, 200);
    m_other = new QLineEdit(&m_parent);
    m_other->setGeometry(10, 100, 80, 20);
    auto* placeholder = new QLineEdit(&m_parent);
    placeholder->setGeometry(10, 10, 94, 28);
    m_field = new CEditNum(&m_parent);
    ASSERT_TRUE(m_field->Create(3028, placeholder, 0, 9, 0, 3, 0, -1, 500, true, true));
    m_field->SetNotify([this](int id, int code) { m_notices.push_back({id, code}); });
    m_parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_parent));
  }

  // As a user enters the field: the whole text is selected.
  void Enter() {
    m_field->InnerEdit()->setFocus();
    QApplication::processEvents();
  }

  int Count(int code) const {
    int n = 0;
    for (const CNotice& notice : m_notices) n += notice.code == code ? 1 : 0;
    return n;
  }

  CQtApplicationScope m_application;
  std::vector<CNotice> m_notices;  // outlives the widgets, which notify while they close
  QWidget m_parent;
  QLineEdit* m_other = nullptr;
  CEditNum* m_field = nullptr;
};

TEST_F(EditNumTest, TakesThePlaceOfTheEditAndShowsItsInitialValueSilently) {
  EXPECT_EQ(m_field->geometry(), QRect(10, 10, 94, 28));
  EXPECT_EQ(m_field->objectName(), "3028");
  EXPECT_EQ(m_field->Text(), "0");
  EXPECT_EQ(m_field->SliderLength(), 100);
  EXPECT_TRUE(m_notices.empty());
  EXPECT_EQ(m_field->InnerEdit()->objectName(), "1029");
  EXPECT_EQ(m_field->DropDownButton()->objectName(), "1031");
}

TEST_F(EditNumTest, TypedValueAboveTheLimitIsReadClampedAndRewrittenOnLeaving) {
  Enter();
  QTest::keyClicks(m_field->InnerEdit(), "12");
  EXPECT_EQ(m_field->Text(), "12");
  EXPECT_EQ(m_field->GetInt(), 9);  // before the focus has left
  EXPECT_EQ(Count(EN_CHANGE), 2);   // every typed character notifies
  m_other->setFocus();
  EXPECT_EQ(m_field->Text(), "9");
  EXPECT_EQ(Count(EN_KILLFOCUS), 1);
}

TEST_F(EditNumTest, OnlyNumberCharactersCanBeTyped) {
  Enter();
  QTest::keyClicks(m_field->InnerEdit(), "e1.x+e2e");
  // "e" is refused at the first position and once one is there.
  EXPECT_EQ(m_field->Text(), "1e2");
}

TEST_F(EditNumTest, ArrowsAndWheelStepWithinTheLimits) {
  Enter();
  m_field->SetValue(9, true, false);
  QTest::keyClick(m_field->InnerEdit(), Qt::Key_Up);
  EXPECT_EQ(m_field->Text(), "9");
  QTest::keyClick(m_field->InnerEdit(), Qt::Key_Down);
  EXPECT_EQ(m_field->Text(), "8");
  QWheelEvent notch(QPointF(5, 5), m_field->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(m_field->InnerEdit(), &notch);
  EXPECT_EQ(m_field->Text(), "7");
  QWheelEvent part(QPointF(5, 5), m_field->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 60),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(m_field->InnerEdit(), &part);
  EXPECT_EQ(m_field->Text(), "7");  // half a notch is no step
}

TEST_F(EditNumTest, ASettledChangeIsReportedOnceAfterTheSettleTime) {
  Enter();
  QTest::keyClicks(m_field->InnerEdit(), "3");
  EXPECT_EQ(Count(EN_UPDATE), 0);
  QTest::qWait(650);
  EXPECT_EQ(Count(EN_UPDATE), 1);
}

TEST_F(EditNumTest, SettingTheSameValueDoesNotNotify) {
  m_field->SetValue(4, false, true);
  EXPECT_EQ(Count(EN_CHANGE), 1);
  m_field->SetValue(4, true, true);
  EXPECT_EQ(Count(EN_CHANGE), 1);
}

TEST_F(EditNumTest, FocusMovingInsideTheControlSendsNothing) {
  Enter();
  EXPECT_EQ(Count(EN_SETFOCUS), 1);
  m_field->DropDownButton()->setFocus();
  EXPECT_EQ(Count(EN_KILLFOCUS), 0);
  m_other->setFocus();
  EXPECT_EQ(Count(EN_KILLFOCUS), 1);
}

TEST_F(EditNumTest, SliderGivesValuesAlongItsTrackAndWholeNumbersWithCtrl) {
  m_field->OpenSlider(m_field->DropDownButton()->mapToGlobal(QPoint(5, 5)));
  ASSERT_TRUE(m_field->IsSliderOpen());
  CEditNumSlider* slider = m_field->Slider();
  EXPECT_EQ(slider->width(), 107);
  EXPECT_EQ(slider->height(), 20);
  EXPECT_DOUBLE_EQ(slider->ValueAt(3), 0.0);
  EXPECT_DOUBLE_EQ(slider->ValueAt(3 + 101), 9.0);
  QTest::mouseMove(slider, QPoint(3 + 50, 10));
  QTest::mousePress(slider, Qt::LeftButton, Qt::ControlModifier, QPoint(3 + 50, 10));
  EXPECT_EQ(m_field->Text(), "4");  // 4.45 truncated
  QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(3 + 50, 10));
  QApplication::processEvents();
  EXPECT_FALSE(m_field->IsSliderOpen());
}

}  // namespace
