// What the view shows as the user picks entries of the panel's Display and
// Show Mat lists, and the result kept apart from what the brush draws on.
#include <QScrollBar>

#include "EditorWindowHarness.h"

namespace {

constexpr QRgb kSky = 0xFF285ADC;   // 40, 90, 220
constexpr QRgb kRoof = 0xFFC81E14;  // 200, 30, 20

class EditorDisplayTest : public CEditorWindowTest {};

TEST_F(EditorDisplayTest, ShowMatPutsASolidMatteBehindTheCutOutAndNoneTheCheckerboard) {
  Run([this](CEditorDialog& editor) {
    MarkSky();
    ApplyAndWait();
    View().SetZoom(1);
    Settle();
    ASSERT_TRUE(PanelEnabled(IDC_SHOW_MAT));
    // Two neighbouring checkerboard cells in the erased sky, and the roof.
    const QPoint first = Inside(20, 20);
    const QPoint second = first + QPoint(10, 0);
    const QPoint roof = Inside(200, 250);
    EXPECT_EQ(Shown(first), MatteAt(first));
    EXPECT_EQ(Shown(second), MatteAt(second));
    EXPECT_NE(Shown(first), Shown(second));
    EXPECT_EQ(Shown(roof), kRoof);

    struct CExpected {
      const char* entry;
      QRgb colour;
    };
    for (const CExpected& matte : {CExpected{"Black Matte", 0xFF000000},
                                   CExpected{"Gray Matte", 0xFFC0C0C0},
                                   CExpected{"Red Matte", 0xFFFF0000},
                                   CExpected{"Blue Matte", 0xFF0000FF},
                                   CExpected{"Stand Matte", 0xFF5AA08C}}) {
      Choose(Panel().ShowMatList(), matte.entry);
      EXPECT_EQ(Panel().ShowMatList()->currentItem()->text(), matte.entry);
      EXPECT_EQ(Shown(first), matte.colour) << matte.entry;
      EXPECT_EQ(Shown(second), matte.colour) << matte.entry;
      EXPECT_EQ(Shown(roof), kRoof) << matte.entry;
    }
    Choose(Panel().ShowMatList(), "None");
    EXPECT_EQ(View().MatteColourA(), QColor(255, 255, 255));
    EXPECT_EQ(View().MatteColourB(), QColor(208, 205, 195));
    EXPECT_EQ(Shown(first), MatteAt(first));
    EXPECT_NE(Shown(first), Shown(second));
    editor.reject();
  });
}

TEST_F(EditorDisplayTest, OriginalShowsTheLayerAndResultTheCutOutWithOkFollowing) {
  Run([this](CEditorDialog& editor) {
    MarkSky();
    ApplyAndWait();
    View().SetZoom(1);
    Choose(Panel().ShowMatList(), "Green Matte");
    const QPoint sky = Inside(100, 40);
    ASSERT_EQ(Shown(sky), 0xFF00FF00);
    ASSERT_TRUE(OkEnabled());

    Choose(Panel().DisplayList(), "Original");
    EXPECT_EQ(DisplayShown(), "Original");
    EXPECT_EQ(Shown(sky), kSky);
    EXPECT_EQ(AlphaAt(holder, 100, 40), 255);
    EXPECT_FALSE(OkEnabled());
    // The layer on show cannot be brushed; the tool is not available.
    EXPECT_FALSE(ToolAction(ID_TOOL_MANUAL)->isEnabled());

    Choose(Panel().DisplayList(), "Result");
    EXPECT_EQ(DisplayShown(), "Result");
    EXPECT_EQ(Shown(sky), 0xFF00FF00);
    EXPECT_EQ(AlphaAt(holder, 100, 40), 0);
    EXPECT_TRUE(OkEnabled());
    EXPECT_TRUE(ToolAction(ID_TOOL_MANUAL)->isEnabled());
    editor.reject();
  });
}

TEST_F(EditorDisplayTest, ChoosingOriginalWithTheBrushCurrentGoesBackToMarkingColours) {
  Run([this](CEditorDialog& editor) {
    MarkSky();
    ApplyAndWait();
    ClickTool(ID_TOOL_MANUAL);
    ASSERT_EQ(Session().Tool(), ID_TOOL_MANUAL);
    Choose(Panel().DisplayList(), "Original");
    EXPECT_EQ(Session().Tool(), ID_TOOL_MARK_BACKGROUND);
    EXPECT_TRUE(ToolAction(ID_TOOL_MARK_BACKGROUND)->isChecked());
    EXPECT_FALSE(PanelEnabled(IDC_BRUSH_SIZE));
    editor.reject();
  });
}

// The run's output is shown and kept as the result; the brush draws on what
// is shown. A drag whose press came while the run worked goes on erasing
// once the run has ended: until the stroke ends, the kept result must stay
// the run's output, and once it ends both must hold the erased picture.
class EditorResultStorageTest : public CEditorWindowTest {
 protected:
  EditorResultStorageTest() : CEditorWindowTest(MakeSkyAndRoof(1600, 1200)) {}
};

TEST_F(EditorResultStorageTest, TheBrushNeverDrawsIntoTheKeptResult) {
  Run([this](CEditorDialog& editor) {
    MarkSky();
    View().SetZoom(1);
    View().horizontalScrollBar()->setValue(0);
    View().verticalScrollBar()->setValue(600);
    Settle();
    ClickTool(ID_TOOL_MANUAL);
    Type(keFieldSmoothing, "\b9");
    // No event is handled between the click and the press, so the run's
    // end cannot have been taken yet.
    QTest::mouseClick(PanelButton(IDC_APPLY), Qt::LeftButton);
    ASSERT_TRUE(Session().IsBusy());
    const QPoint roof = Inside(100, 800);
    Press(roof);  // ignored while the run works
    EXPECT_EQ(AlphaAt(holder, 100, 800), 255);
    ASSERT_TRUE(WaitUntil([&] { return Session().RunsFinished() == 1; }));
    Settle();
    ASSERT_EQ(AlphaAt(holder, 100, 800), 255);
    CMatteDocument& document = Session().Document();
    const std::vector<uint8_t> output = PixelsOf(document.ResultImage());
    ASSERT_TRUE(PixelsOf(holder) == output);

    Move(roof + QPoint(30, 0));
    EXPECT_EQ(AlphaAt(holder, 130, 800), 0);  // the drag erases again
    EXPECT_TRUE(PixelsOf(document.ResultImage()) == output);

    Release(roof + QPoint(30, 0));
    const std::vector<uint8_t> erased = PixelsOf(holder);
    EXPECT_FALSE(erased == output);
    EXPECT_TRUE(PixelsOf(document.ResultImage()) == erased);

    // Original and back: what comes back is the erased result.
    Choose(Panel().DisplayList(), "Original");
    EXPECT_EQ(AlphaAt(holder, 130, 800), 255);
    Choose(Panel().DisplayList(), "Result");
    EXPECT_TRUE(PixelsOf(holder) == erased);
    editor.reject();
  });
}

}  // namespace
