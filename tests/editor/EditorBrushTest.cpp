// The manual brush as the user sets it up in the panel and uses it in the
// view: Brush Size and Smooth Brush decide the dab and the outline, the left
// button erases and the right one recovers.
#include <algorithm>
#include <string>

#include "EditorWindowHarness.h"

namespace {

constexpr QRgb kRoof = 0xFFC81E14;          // 200, 30, 20
constexpr QRgb kRoofInverted = 0xFF37E1EB;  // what the inverting outline makes of it

// The pixels a dab changed around (x, y), as the holder's alpha says.
struct CDab {
  int zeroWidth = 0;   // columns of the widest run of alpha 0
  int zeroHeight = 0;  // rows holding alpha 0
  int partial = 0;     // pixels strictly between 0 and 255
  int changed = 0;     // pixels below 255
  QRect changedBox;
};

CDab DabAround(CCoreImage& image, int cx, int cy, int reach) {
  CDab dab;
  for (int y = std::max(0, cy - reach); y <= std::min(image.Height() - 1, cy + reach); ++y) {
    int zerosInRow = 0;
    for (int x = std::max(0, cx - reach); x <= std::min(image.Width() - 1, cx + reach); ++x) {
      const uint8_t alpha = AlphaAt(image, x, y);
      if (alpha == 0) ++zerosInRow;
      if (alpha > 0 && alpha < 255) ++dab.partial;
      if (alpha < 255) {
        ++dab.changed;
        dab.changedBox |= QRect(x, y, 1, 1);
      }
    }
    dab.zeroWidth = std::max(dab.zeroWidth, zerosInRow);
    if (zerosInRow > 0) ++dab.zeroHeight;
  }
  return dab;
}

class EditorBrushTest : public CEditorWindowTest {
 protected:
  // The manual tool at zoom 1; the view then shows the image from (0, 0).
  void TakeTheBrush() {
    View().SetZoom(1);
    ClickTool(ID_TOOL_MANUAL);
    ASSERT_EQ(Session().Tool(), ID_TOOL_MANUAL);
  }
  void Dab(int x, int y, Qt::MouseButton button = Qt::LeftButton) {
    Press(Inside(x, y), button);
    Release(Inside(x, y), button);
  }
};

TEST_F(EditorBrushTest, TheBrushSizeFieldGivesTheDabItsDiameter) {
  Run([this](CEditorDialog& editor) {
    ASSERT_FALSE(PanelEnabled(IDC_BRUSH_SIZE));
    TakeTheBrush();
    EXPECT_TRUE(PanelEnabled(IDC_BRUSH_SIZE));
    EXPECT_TRUE(PanelEnabled(IDC_SMOOTH_BRUSH));
    EXPECT_EQ(Session().Brush()->Diameter(), 50);

    Type(keFieldBrushSize, "\b20");
    EXPECT_EQ(Session().BrushSize(), 20);
    ASSERT_NE(Session().Brush(), nullptr);
    EXPECT_EQ(Session().Brush()->Diameter(), 20);
    Dab(100, 200);
    CDab dab = DabAround(holder, 100, 200, 40);
    EXPECT_EQ(dab.zeroWidth, 20);
    EXPECT_EQ(dab.zeroHeight, 20);
    EXPECT_EQ(dab.partial, 0);  // a hard brush

    // Below the field's minimum the smallest brush is used at once; leaving
    // the field shows the limit.
    Type(keFieldBrushSize, "\b3");
    EXPECT_EQ(Session().Brush()->Diameter(), 5);
    Dab(300, 200);
    dab = DabAround(holder, 300, 200, 20);
    EXPECT_EQ(dab.zeroWidth, 5);
    Panel().Field(keFieldStrength)->InnerEdit()->setFocus();
    Settle();
    EXPECT_EQ(Panel().Field(keFieldBrushSize)->Text(), "5");

    Type(keFieldBrushSize, "\b999");
    EXPECT_EQ(Session().Brush()->Diameter(), 300);
    editor.reject();
  });
}

TEST_F(EditorBrushTest, TheOutlineInPlaceOfTheCursorHasTheChosenSize) {
  Run([this](CEditorDialog& editor) {
    TakeTheBrush();
    // Down the column through the pointer: the cross reaches a quarter of
    // the diameter, the outline about half of it.
    auto firstInvertedBelow = [this](QPoint centre, int from) {
      const QImage shown = Client()->grab().toImage();
      for (int dy = from; dy < 100; ++dy) {
        if ((shown.pixel(centre + QPoint(0, dy)) | 0xFF000000) == kRoofInverted) return dy;
      }
      return -1;
    };
    for (int diameter : {40, 80}) {
      Type(keFieldBrushSize, ("\b\b\b" + std::to_string(diameter)).c_str());
      const QPoint centre = Inside(200, 220);
      Move(centre + QPoint(1, 0));
      Move(centre);
      ASSERT_TRUE(View().IsBrushActive());
      const int cross = diameter / 4;
      EXPECT_EQ(Shown(centre + QPoint(cross - 2, 0)), kRoofInverted) << diameter;
      EXPECT_EQ(Shown(centre + QPoint(cross + 3, 0)), kRoof) << diameter;
      const int outline = firstInvertedBelow(centre, cross + 1);
      EXPECT_GE(outline, diameter / 2 - 3) << diameter;
      EXPECT_LE(outline, diameter / 2 + 1) << diameter;
    }
    editor.reject();
  });
}

TEST_F(EditorBrushTest, SmoothBrushSoftensTheEraseButNotTheRecover) {
  Run([this](CEditorDialog& editor) {
    TakeTheBrush();
    Type(keFieldBrushSize, "\b40");
    Dab(100, 200);
    const CDab hard = DabAround(holder, 100, 200, 60);
    EXPECT_EQ(hard.zeroWidth, 40);
    EXPECT_EQ(hard.partial, 0);

    Click(PanelButton(IDC_SMOOTH_BRUSH));
    EXPECT_TRUE(Session().SmoothBrush());
    EXPECT_TRUE(PanelButton(IDC_SMOOTH_BRUSH)->isChecked());
    Dab(300, 200);
    const CDab smooth = DabAround(holder, 300, 200, 60);
    EXPECT_GT(smooth.partial, 0);
    EXPECT_GT(smooth.zeroWidth, 0);
    EXPECT_LT(smooth.zeroWidth, 32);  // the disc is 0.8 of the diameter before blurring
    // Never beyond the dab's square.
    EXPECT_LE(smooth.changedBox.width(), 40);
    EXPECT_LE(smooth.changedBox.height(), 40);

    // The right button puts the layer back under a hard disc of the
    // diameter, whatever Smooth Brush says.
    Dab(300, 200, Qt::RightButton);
    const CDab recovered = DabAround(holder, 300, 200, 60);
    EXPECT_LT(recovered.changed, smooth.changed);
    int insideTheDisc = 0;
    for (int y = 200 - 18; y <= 200 + 18; ++y)
      for (int x = 300 - 18; x <= 300 + 18; ++x)
        if ((x - 300) * (x - 300) + (y - 200) * (y - 200) <= 18 * 18 && AlphaAt(holder, x, y) != 255)
          ++insideTheDisc;
    EXPECT_EQ(insideTheDisc, 0);
    editor.reject();
  });
}

TEST_F(EditorBrushTest, EraseShowsTheResultAndEnablesOkButRecoverDoesNot) {
  const int result = Run([this](CEditorDialog&) {
    TakeTheBrush();
    ASSERT_FALSE(OkEnabled());
    ASSERT_FALSE(PanelEnabled(IDC_APPLY));

    // A recover stroke leaves the Display list and OK alone, and enables Apply.
    Dab(100, 200, Qt::RightButton);
    EXPECT_FALSE(OkEnabled());
    EXPECT_FALSE(PanelEnabled(IDC_DISPLAY));
    EXPECT_EQ(DisplayShown(), "Original");
    EXPECT_TRUE(PanelEnabled(IDC_APPLY));

    Dab(100, 200);
    Dab(200, 200);
    EXPECT_EQ(AlphaAt(holder, 100, 200), 0);
    EXPECT_TRUE(OkEnabled());
    EXPECT_TRUE(PanelEnabled(IDC_DISPLAY));
    EXPECT_EQ(DisplayShown(), "Result");

    Dab(100, 200, Qt::RightButton);
    EXPECT_EQ(AlphaAt(holder, 100, 200), 255);
    EXPECT_TRUE(OkEnabled());
    QTest::mouseClick(EditorButton(IDOK), Qt::LeftButton);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(AlphaAt(holder, 200, 200), 0);
  EXPECT_EQ(AlphaAt(holder, 100, 200), 255);
  EXPECT_EQ(AlphaAt(holder, 150, 200), 255);
}

}  // namespace
