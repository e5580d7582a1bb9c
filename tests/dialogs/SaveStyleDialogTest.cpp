#include "framework/dialogs/SaveStyleDialog.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../tools/MessageBoxRecorder.h"
#include "framework/dialogs/QtApplicationScope.h"
#include "platform/MessageBox.h"

namespace fs = std::filesystem;

namespace {

class SaveStyleDialogTest : public ::testing::Test {
 protected:
  SaveStyleDialogTest() {
    char pattern[] = "/tmp/kelvane-savestyle-XXXXXX";
    folder = mkdtemp(pattern);
  }
  ~SaveStyleDialogTest() override { fs::remove_all(folder); }

  // Runs the dialog; `user` acts on it once it is open.
  bool Run(CSaveStyleRules& rules, const std::function<void(CSaveStyleDialog&)>& user) {
    CSaveStyleDialog dialog;
    QTimer::singleShot(0, [&] {
      user(dialog);
      if (dialog.isVisible()) dialog.done(-5);  // a failed test must not hang
    });
    return dialog.DoModal(rules);
  }
  static QLineEdit* Field(CSaveStyleDialog& dialog) {
    return qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_STYLE_NAME));
  }
  static void Press(CSaveStyleDialog& dialog, int id) {
    QTest::mouseClick(qobject_cast<QAbstractButton*>(dialog.GetDlgItem(id)), Qt::LeftButton);
  }

  CQtApplicationScope application;
  fs::path folder;
  CBoxRecorder boxes;
};

TEST_F(SaveStyleDialogTest, OkTakesTheTrimmedNameWithItsEnding) {
  CSaveStyleRules rules(folder.string() + "/");
  bool typedIntoField = false;
  const bool ok = Run(rules, [&](CSaveStyleDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Save Style");
    ASSERT_NE(Field(dialog), nullptr);
    typedIntoField = dialog.focusWidget() == Field(dialog);
    QTest::keyClicks(Field(dialog), "  Sky  ");
    Press(dialog, IDOK);
  });
  EXPECT_TRUE(ok);
  EXPECT_TRUE(typedIntoField);
  EXPECT_EQ(rules.FileName(), "Sky.preset");
  EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(SaveStyleDialogTest, CancelAndEscapeEndWithoutAName) {
  CSaveStyleRules rules(folder.string() + "/");
  EXPECT_FALSE(Run(rules, [&](CSaveStyleDialog& dialog) {
    QTest::keyClicks(Field(dialog), "Sky");
    Press(dialog, IDCANCEL);
  }));
  EXPECT_FALSE(Run(rules, [&](CSaveStyleDialog& dialog) {
    QTest::keyClick(Field(dialog), Qt::Key_Escape);
  }));
  EXPECT_TRUE(rules.FileName().empty());
}

TEST_F(SaveStyleDialogTest, TheDialogStaysOpenOnARefusedNameAndOnNoToOverwriting) {
  std::ofstream(folder / "Sky.preset") << "Kelvane\r\n";
  CSaveStyleRules rules(folder.string() + "/");
  bool openAfterRefusal = false;
  bool openAfterNo = false;
  boxes.answer = IDNO;
  const bool ok = Run(rules, [&](CSaveStyleDialog& dialog) {
    QTest::keyClicks(Field(dialog), "../Sky");
    Press(dialog, IDOK);
    openAfterRefusal = dialog.isVisible();
    Field(dialog)->clear();
    QTest::keyClicks(Field(dialog), "Sky");
    Press(dialog, IDOK);
    openAfterNo = dialog.isVisible();
    boxes.answer = IDYES;
    Press(dialog, IDOK);
  });
  EXPECT_TRUE(openAfterRefusal);
  EXPECT_TRUE(openAfterNo);
  EXPECT_TRUE(ok);
  EXPECT_EQ(rules.FileName(), "Sky.preset");
  ASSERT_EQ(boxes.texts.size(), 3u);
  EXPECT_EQ(boxes.texts[1], "File already exists.\nOverwrite?");
  EXPECT_EQ(boxes.texts[2], boxes.texts[1]);
}

}  // namespace
