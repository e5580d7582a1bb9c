#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

#include "framework/dialogs/Dialog.h"
#include "framework/dialogs/QtApplicationScope.h"

namespace {

// Far wider than the narrow font the templates were drawn for, and wider
// still in its capitals and spaces than its average letter says.
QFont WideFont(int points) {
  QFont font("DejaVu Sans", points);
  font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
  font.setWordSpacing(6);
  font.setCapitalization(QFont::MixedCase);
  return font;
}

QStyleOptionButton ButtonOption(QAbstractButton& button) {
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  if (auto* push = qobject_cast<QPushButton*>(&button); push && push->isDefault()) {
    option.features |= QStyleOptionButton::DefaultButton;
  }
  return option;
}

// Where the style draws the control's text, and whether the text is whole
// there, measured with the control's own font.
void ExpectTextInside(const CDialogControl& control, QWidget* widget) {
  SCOPED_TRACE(control.text + " (control " + std::to_string(control.id) + ")");
  const QFontMetrics metrics(widget->font());
  QStyle* style = widget->style();
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (label->wordWrap()) {
      EXPECT_LE(label->heightForWidth(label->width()), label->height());
      for (const QString& word : label->text().split(' ', Qt::SkipEmptyParts)) {
        EXPECT_LE(metrics.horizontalAdvance(word), label->width());
      }
    } else {
      EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width());
      EXPECT_LE(metrics.height(), label->height());
    }
  } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
    const QStyleOptionButton option = ButtonOption(*box);
    const QRect text = style->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    EXPECT_TRUE(box->rect().contains(text));
    EXPECT_LE(metrics.horizontalAdvance(box->text()), text.width());
    EXPECT_LE(metrics.height(), text.height());
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    const QStyleOptionButton option = ButtonOption(*button);
    const QRect text = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    EXPECT_LE(metrics.horizontalAdvance(button->text()), text.width());
    EXPECT_LE(metrics.height(), text.height());
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    option.textAlignment = group->alignment();
    const QRect title = style->subControlRect(QStyle::CC_GroupBox, &option,
                                              QStyle::SC_GroupBoxLabel, group);
    // The style sizes the title to its text: it must start inside the frame
    // and end before the frame's right edge.
    EXPECT_TRUE(group->rect().contains(title));
    EXPECT_LE(title.left() + metrics.horizontalAdvance(group->title()), group->width());
  } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
    list->addItem(QStringLiteral("Black Matte"));
    const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth);
    EXPECT_GE(list->height() - 2 * frame, ListBoxRows(control) * list->sizeHintForRow(0));
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    EXPECT_GE(edit->height(), edit->minimumSizeHint().height());
  }
}

class DialogLayoutTest : public ::testing::TestWithParam<int> {
 protected:
  CQtApplicationScope application;
};

TEST_P(DialogLayoutTest, EveryTextStaysInsideItsControlInAWideFont) {
  for (int points : {8, 11, 16}) {
    SCOPED_TRACE(points);
    CDialog dialog(GetParam());
    dialog.SetDialogFont(WideFont(points));
    ASSERT_TRUE(dialog.Create(nullptr));
    const CDialogTemplate& layout = dialog.Template();
    for (const CDialogControl& control : layout.controls) {
      // Controls without a number are found by their place in the template.
      QWidget* widget = nullptr;
      for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->geometry() == dialog.DialogToPixels(control.rect) ||
            (control.kind == keControlKind::ComboBox &&
             child->pos() == dialog.DialogToPixels(control.rect).topLeft())) {
          widget = child;
          break;
        }
      }
      ASSERT_NE(widget, nullptr) << control.text;
      ExpectTextInside(control, widget);
    }
  }
}

TEST_P(DialogLayoutTest, TheTemplateKeepsItsProportions) {
  CDialog dialog(GetParam());
  dialog.SetDialogFont(WideFont(11));
  ASSERT_TRUE(dialog.Create(nullptr));
  const CDialogTemplate& layout = dialog.Template();
  const QSize size = dialog.TemplateSize();
  const double across = double(size.width()) / layout.rect.width;
  const double down = double(size.height()) / layout.rect.height;
  for (const CDialogControl& control : layout.controls) {
    const QRect pixels = dialog.DialogToPixels(control.rect);
    EXPECT_NEAR(pixels.right() + 1, (control.rect.x + control.rect.width) * across, 2.0);
    EXPECT_NEAR(pixels.bottom() + 1, (control.rect.y + control.rect.height) * down, 2.0);
  }
  // Not narrower than the font's average letter says.
  const QFontMetrics metrics(WideFont(11));
  const int average = DialogBaseUnitX(metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")));
  EXPECT_GE(size.width(), layout.rect.width * average / 4);
  EXPECT_GE(size.height(), layout.rect.height * metrics.height() / 8);
}

// The editor window, the parameter panel and Save Style.
INSTANTIATE_TEST_SUITE_P(Templates, DialogLayoutTest, ::testing::Values(101, 3017, 102));

}  // namespace
