#include "platform/DialogTemplate.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const kSample = R"(# a comment before the header
DIALOG 77
  size 120 40   # trailing comment
  font "Some Font" 9
  style popup caption thickframe
  caption "A \"quoted\" title"
  control 1    button   "OK"           5  20  50 14  default tabstop
  control -1   static   "Name:\tx"     5   5  30  8
  control 1010 edit     ""            40   3  75 14  border autohscroll
  control 3024 listbox  "# not a comment" 1 2 3 4 notify sort
)";

TEST(DialogTemplate, ReadsSizeFontStylesAndControlsInOrder) {
  CDialogTemplate dialog;
  std::string error;
  ASSERT_TRUE(ParseDialogTemplate(kSample, dialog, &error)) << error;
  EXPECT_EQ(dialog.id, 77);
  EXPECT_EQ(dialog.rect, (CDialogRect{0, 0, 120, 40}));
  EXPECT_EQ(dialog.fontName, "Some Font");
  EXPECT_EQ(dialog.fontPoints, 9);
  EXPECT_TRUE(dialog.Has(keDlgPopup | keDlgCaption | keDlgThickFrame));
  EXPECT_FALSE(dialog.Has(keDlgChild));
  EXPECT_EQ(dialog.caption, "A \"quoted\" title");
  ASSERT_EQ(dialog.controls.size(), 4u);

  const CDialogControl& ok = dialog.controls[0];
  EXPECT_EQ(ok.id, 1);
  EXPECT_EQ(ok.kind, keControlKind::PushButton);
  EXPECT_EQ(ok.rect, (CDialogRect{5, 20, 50, 14}));
  EXPECT_TRUE(ok.Has(keCtlDefault | keCtlTabStop));
  EXPECT_EQ(dialog.controls[1].id, -1);
  EXPECT_EQ(dialog.controls[1].text, "Name:\tx");
  EXPECT_EQ(dialog.controls[1].styles, 0u);
  EXPECT_EQ(dialog.controls[3].text, "# not a comment");
  EXPECT_TRUE(dialog.controls[3].Has(keCtlNotify | keCtlSort));

  ASSERT_NE(dialog.Find(1010), nullptr);
  EXPECT_EQ(dialog.Find(1010)->kind, keControlKind::Edit);
  EXPECT_EQ(dialog.Find(4242), nullptr);
}

TEST(DialogTemplate, RefusesIncompleteOrMistypedTemplatesNamingTheLine) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"size 1 1\n", "line 1"},
      {"DIALOG 5\nfont \"F\" 8\n", "no size"},
      {"DIALOG 5\nsize 10 10\n", "no font"},
      {"DIALOG 5\nsize 10 10\nfont \"F\" 8\nstyle popup wobbly\n", "line 4: unknown style 'wobbly'"},
      {"DIALOG 5\nsize 10 10\nfont \"F\" 8\ncontrol 1 slider \"\" 1 1 1 1\n", "unknown control kind"},
      {"DIALOG 5\nsize 10 10\nfont \"F\" 8\ncontrol 1 button \"OK\" 1 1 1\n", "line 4: control needs"},
      {"DIALOG 5\nsize 10 10\nfont \"F\" 8\ncontrol 1 button \"OK 1 1 1 1\n", "unterminated string"},
      {"DIALOG 5\nsize 10 10\nfont \"F\" 8\ncontrol 1 button \"OK\" 1 1 1 1 popup\n", "unknown style 'popup'"},
      {"DIALOG 5\nsize 10 10\nfont \"F\" 8\nstyle default\n", "unknown style 'default'"},
      {"DIALOG 5\nsize 10 10\nfont \"F\" 8\ncolour red\n", "unknown keyword 'colour'"},
      {"DIALOG 5\nsize 0 10\nfont \"F\" 8\n", "line 2: size"},
  };
  for (const auto& c : cases) {
    CDialogTemplate dialog;
    dialog.id = 99;
    std::string error;
    EXPECT_FALSE(ParseDialogTemplate(c.text, dialog, &error)) << c.text;
    EXPECT_NE(error.find(c.expected), std::string::npos) << "'" << error << "' for " << c.text;
    EXPECT_EQ(dialog.id, 99);  // untouched
  }
}

TEST(DialogTemplate, DialogUnitsScaleByTheFontsAverageWidthAndHeight) {
  // 52 letters 312 pixels wide: 6 pixels on average, rounded as the system does.
  EXPECT_EQ(DialogBaseUnitX(312), 6);
  EXPECT_EQ(DialogBaseUnitX(338), 7);  // 6.5 rounds up
  const CDialogRect pixels = DialogUnitsToPixels(CDialogRect{332, 7, 50, 11}, 6, 13);
  EXPECT_EQ(pixels, (CDialogRect{498, 11, 75, 18}));  // 11.375 and 17.875 rounded
  // Equal sizes stay equal wherever the controls stand.
  EXPECT_EQ(DialogUnitsToPixels(CDialogRect{1, 1, 15, 14}, 7, 15).width,
            DialogUnitsToPixels(CDialogRect{2, 2, 15, 14}, 7, 15).width);
}

// Every character as wide as the test says; lines 10 pixels high.
class CFixedMetrics : public IDialogFontMetrics {
 public:
  explicit CFixedMetrics(int charWidth) : m_charWidth(charWidth) {}
  int TextWidth(std::string_view text) const override {
    return m_charWidth * static_cast<int>(text.size());
  }
  int LineHeight() const override { return 10; }
  CControlChrome Chrome(keControlKind kind) const override {
    if (kind == keControlKind::CheckBox) return {14, 0, 0};
    if (kind == keControlKind::ListBox) return {2, 2, 3};
    return {};
  }

 private:
  int m_charWidth;
};

CDialogTemplate Panel(const char* controls) {
  CDialogTemplate dialog;
  const std::string text = std::string("DIALOG 9\nsize 100 100\nfont \"F\" 8\n") + controls;
  EXPECT_TRUE(ParseDialogTemplate(text, dialog));
  return dialog;
}

TEST(DialogTemplate, BaseUnitsAreTheFontsAverageUnlessATextWouldNotFit) {
  // 52 letters of 5 pixels: 5 across, 10 down; "Fill" needs 20 + 14 of 40.
  EXPECT_EQ(FitDialogBaseUnits(Panel("control 1 checkbox \"Fill\" 0 0 32 8\n"),
                               CFixedMetrics(5)),
            (CDialogBaseUnits{5, 10}));
  // "Fill Holes" needs 50 + 14 pixels in 32 units: 8 pixels a quarter unit.
  EXPECT_EQ(FitDialogBaseUnits(Panel("control 1 checkbox \"Fill Holes\" 0 0 32 8\n"),
                               CFixedMetrics(5)),
            (CDialogBaseUnits{8, 10}));
  // A two-line label wraps at its space: the wider word decides the width,
  // and two lines need twice the height.
  const CDialogTemplate wrapped = Panel("control -1 static \"Show Matte\" 0 0 20 16\n");
  const CDialogBaseUnits units = FitDialogBaseUnits(wrapped, CFixedMetrics(5));
  EXPECT_EQ(units, (CDialogBaseUnits{5, 10}));
  EXPECT_EQ(ControlTextLines(wrapped.controls[0], 25, CFixedMetrics(5)),
            (std::vector<std::string>{"Show", "Matte"}));
  // One line high, it does not wrap: the whole text decides the width.
  EXPECT_EQ(FitDialogBaseUnits(Panel("control -1 static \"Show Matte\" 0 0 20 8\n"),
                               CFixedMetrics(5)),
            (CDialogBaseUnits{10, 10}));
  // Three lines where two were drawn: the height rises.
  EXPECT_EQ(FitDialogBaseUnits(Panel("control -1 static \"Brush Size Box\" 0 0 20 16\n"),
                               CFixedMetrics(5)),
            (CDialogBaseUnits{5, 15}));
  // A list 19 units high shows two whole rows of 13 pixels inside its frame.
  EXPECT_EQ(ListBoxRows(Panel("control 1 listbox \"\" 0 0 50 19\n").controls[0]), 2);
  EXPECT_EQ(FitDialogBaseUnits(Panel("control 1 listbox \"\" 0 0 50 19\n"), CFixedMetrics(5)),
            (CDialogBaseUnits{5, 12}));
}

}  // namespace
