#include "editor/model/EditorSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "TestImages.h"
#include "engine/Marks.h"
#include "engine/MatteFilter.h"
#include "framework/FilterBase.h"
#include "framework/Param.h"

namespace {

int Slot(CMatteFilter& filter, int slot) {
  int value = -1;
  filter.m_paramSet.FindParam(slot)->GetInt(value);
  return value;
}

class EditorSession : public ::testing::Test {
 protected:
  EditorSession() : holder(MakeSkyAndRoof(80, 80)) {
    // Partial alpha in the layer, which recover must bring back.
    SetPixel(holder, 5, 5, 40, 90, 220, 100);
    SetPixel(holder, 6, 5, 40, 90, 220, 0);
    session.Open(window);
  }

  CViewGeometry View() const { return CViewGeometry::AtZoomOne(80, 80); }

  void Stroke(bool object, std::vector<CClientPoint> points) {
    session.SelectTool(object ? ID_TOOL_MARK_OBJECT : ID_TOOL_MARK_BACKGROUND);
    session.MarkPress(View(), points[0]);
    for (size_t i = 1; i < points.size(); ++i) session.MarkMove(View(), points[i]);
    session.MarkRelease();
  }

  void ManualStroke(bool recover, std::vector<CClientPoint> points) {
    ASSERT_TRUE(session.SelectTool(ID_TOOL_MANUAL));
    session.ManualPress(View(), points[0], recover);
    for (size_t i = 1; i < points.size(); ++i)
      session.ManualMove(View(), points[i], !recover, recover);
    session.ManualRelease(recover);
  }

  void WaitForRun() {
    while (session.IsBusy()) {
      window.WaitForMessage(std::chrono::milliseconds(100));
      window.PumpMessages();
    }
  }

  // As a brush dab would.
  void EditWork(const std::function<void(CCoreImage&)>& edit) {
    doc.EditWork([&](CCoreImage& work, CCoreImage&, CCoreImage&) { edit(work); });
  }

  int CountMarked(const CCoreImage& marks) {
    int count = 0;
    for (int y = 0; y < marks.Height(); ++y)
      for (int x = 0; x < marks.Width(); ++x) count += GreyAt(marks, x, y) != keMarkNone;
    return count;
  }

  CPrivateConfig config;
  CCoreImage holder;
  CMatteFilter filter;
  CMatteDocument doc;
  CHeadlessWindow window{[this](const CWindowMessage& m) { session.HandleMessage(m); }};
  CEditorSession session{filter, doc, holder};
};

const CMarkPoint kEnd = kStrokeEnd;

}  // namespace

// ---- Opening ----------------------------------------------------------------

TEST_F(EditorSession, OpeningShowsTheDefaultsAndStoresThemWhateverTheStoreHeld) {
  filter.m_paramSet.FindParam(keSlotStrength)->SetInt(77);
  filter.m_paramSet.FindParam(keSlotFillHoles)->SetInt(1);
  filter.m_paramSet.FindParam(keSlotRefineEdge)->SetInt(1);
  filter.m_paramSet.FindParam(keSlotEdgeWidth)->SetInt(3);
  filter.m_paramSet.FindParam(keSlotColourModel)->SetInt(1);
  session.Open(window);
  EXPECT_EQ(session.Field(keFieldStrength).Text(), "30");
  EXPECT_EQ(session.Field(keFieldContract).Text(), "0");
  EXPECT_EQ(session.Field(keFieldFeathering).Text(), "1");
  EXPECT_EQ(session.Field(keFieldSmoothing).Text(), "0");
  EXPECT_EQ(session.Field(keFieldBrushSize).Text(), "50");
  EXPECT_EQ(session.BrushSize(), 50);
  EXPECT_FALSE(session.IsChecked(keSlotFillHoles));
  EXPECT_FALSE(session.IsChecked(keSlotTextured));
  EXPECT_FALSE(session.IsChecked(keSlotRefineEdge));
  EXPECT_FALSE(session.IsChecked(keSlotColourModel));
  EXPECT_EQ(session.Field(keFieldEdgeWidth).Text(), "10");
  EXPECT_FALSE(session.SmoothBrush());
  EXPECT_EQ(Slot(filter, keSlotStrength), 30);
  EXPECT_EQ(Slot(filter, keSlotSmoothing), 0);
  EXPECT_EQ(Slot(filter, keSlotFeather), 1);
  EXPECT_EQ(Slot(filter, keSlotContract), 0);
  EXPECT_EQ(Slot(filter, keSlotFillHoles), 0);
  EXPECT_EQ(Slot(filter, keSlotTextured), 0);
  EXPECT_EQ(session.DisplaySelection(), keDisplayOriginal);
  EXPECT_FALSE(session.IsApplyEnabled());
  EXPECT_FALSE(session.IsDefaultEnabled());
  EXPECT_FALSE(session.IsOkEnabled());
  EXPECT_FALSE(session.IsDisplayEnabled());
  EXPECT_FALSE(session.IsShowMatEnabled());
  EXPECT_FALSE(session.IsBrushSettingsEnabled());
  EXPECT_FALSE(session.IsDeleteAllMarksEnabled());
  EXPECT_FALSE(session.IsResetEnabled());
  EXPECT_TRUE(session.IsManualAllowed());
  EXPECT_EQ(filter.m_view, &doc);
  // The working image's alpha is 0 or 255.
  EXPECT_EQ(AlphaAt(doc.Work(), 5, 5), 255);
  EXPECT_EQ(AlphaAt(doc.Work(), 6, 5), 0);
}

// ---- Marking ----------------------------------------------------------------

TEST_F(EditorSession, StrokeWritesOnlyItsSampledPixelsIntoBothMarksImages) {
  Stroke(false, {{10, 5}, {60, 5}, {-20, 200}});
  ASSERT_TRUE(doc.Marks() && doc.AllMarks());
  // Three samples; the last, far outside, lands on the corner.
  EXPECT_EQ(CountMarked(*doc.Marks()), 3);
  EXPECT_EQ(CountMarked(*doc.AllMarks()), 3);
  for (const CCoreImage* marks : {doc.Marks(), doc.AllMarks()}) {
    EXPECT_EQ(GreyAt(*marks, 10, 5), keMarkBackground);
    EXPECT_EQ(GreyAt(*marks, 60, 5), keMarkBackground);
    EXPECT_EQ(GreyAt(*marks, 0, 79), keMarkBackground);
    EXPECT_EQ(GreyAt(*marks, 35, 5), keMarkNone);  // between samples: not written
  }
  EXPECT_EQ(doc.Points(false), (std::vector<CMarkPoint>{{10, 5}, {60, 5}, {0, 79}, kEnd}));
  EXPECT_TRUE(doc.Points(true).empty());
  EXPECT_EQ(session.PressCount(), 1);
  EXPECT_EQ(session.ReleaseCount(), 1);
}

TEST_F(EditorSession, APressWithoutMovingLeavesOnePointAndItsClosingPair) {
  Stroke(true, {{40, 70}});
  EXPECT_EQ(doc.Points(true), (std::vector<CMarkPoint>{{40, 70}, kEnd}));
  EXPECT_EQ(GreyAt(*doc.Marks(), 40, 70), keMarkObject);
  EXPECT_EQ(CountMarked(*doc.Marks()), 1);
}

TEST_F(EditorSession, ClosingPairIsAppendedOnlyAfterAPoint) {
  Stroke(false, {{1, 1}});
  Stroke(false, {{2, 2}});
  EXPECT_EQ(doc.Points(false), (std::vector<CMarkPoint>{{1, 1}, kEnd, {2, 2}, kEnd}));
  // An object list that was never used stays empty.
  EXPECT_TRUE(doc.Points(true).empty());
}

TEST_F(EditorSession, DeleteAllMarksDuringADragRecordsNothingMore) {
  session.SelectTool(ID_TOOL_MARK_BACKGROUND);
  session.MarkPress(View(), {3, 3});
  ASSERT_TRUE(session.DeleteAllMarks());
  const CMarkMove move = session.MarkMove(View(), {9, 9});
  EXPECT_FALSE(move.recorded);
  session.MarkRelease();
  EXPECT_TRUE(doc.Points(false).empty());
  // The move created the marks again, but marked nothing.
  ASSERT_TRUE(doc.Marks());
  EXPECT_EQ(CountMarked(*doc.Marks()), 0);
  EXPECT_EQ(GreyAt(*doc.AllMarks(), 3, 3), keMarkBackground);
}

TEST_F(EditorSession, MoveReportsTheLineToDrawExceptAfterAClosingPair) {
  session.SelectTool(ID_TOOL_MARK_OBJECT);
  session.MarkPress(View(), {3, 3});
  const CMarkMove move = session.MarkMove(View(), {9, 4});
  EXPECT_TRUE(move.recorded);
  EXPECT_TRUE(move.drawLine);
  EXPECT_EQ(move.from, (CMarkPoint{3, 3}));
  EXPECT_EQ(move.to, (CMarkPoint{9, 4}));
  session.MarkRelease();
  // A move with the button held after the release (no press) follows (-1, -1).
  const CMarkMove after = session.MarkMove(View(), {12, 4});
  EXPECT_TRUE(after.recorded);
  EXPECT_FALSE(after.drawLine);
}

TEST_F(EditorSession, StrokesSetTheCombinationModeAndTexturedClicksToo) {
  Stroke(true, {{1, 1}});
  EXPECT_EQ(doc.CombineMode(), 1);
  Stroke(false, {{1, 1}});
  EXPECT_EQ(doc.CombineMode(), 0);
  session.ClickCheckBox(keSlotTextured);  // now checked
  EXPECT_EQ(doc.CombineMode(), 0);
  session.ClickCheckBox(keSlotTextured);  // now clear
  EXPECT_EQ(doc.CombineMode(), 1);
}

TEST_F(EditorSession, ReleaseMakesTheWorkingImageTheStartOfTheNextRun) {
  Stroke(false, {{1, 1}});
  EditWork([](CCoreImage& work) { SetPixel(work, 20, 20, 1, 2, 3, 0); });
  Stroke(false, {{2, 2}});
  EXPECT_EQ(AlphaAt(doc.Base(), 20, 20), 0);
}

TEST_F(EditorSession, CtrlContinuesTheDragAsAStrokeOfTheOtherKind) {
  session.SelectTool(ID_TOOL_MARK_BACKGROUND);
  session.MarkPress(View(), {10, 10});
  session.MarkMove(View(), {20, 10});
  session.CtrlDown(View());
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_OBJECT);
  session.MarkMove(View(), {30, 10});
  session.CtrlUp(View());
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_BACKGROUND);
  session.MarkMove(View(), {40, 10});
  session.MarkRelease();
  EXPECT_EQ(doc.Points(false),
            (std::vector<CMarkPoint>{{10, 10}, {20, 10}, kEnd, {30, 10}, {40, 10}, kEnd}));
  EXPECT_EQ(doc.Points(true), (std::vector<CMarkPoint>{{20, 10}, {30, 10}, kEnd}));
  EXPECT_EQ(GreyAt(*doc.Marks(), 30, 10), keMarkBackground);  // written last
  EXPECT_EQ(GreyAt(*doc.Marks(), 20, 10), keMarkObject);
  EXPECT_EQ(session.PressCount(), 3);
  EXPECT_EQ(session.ReleaseCount(), 3);
}

TEST_F(EditorSession, ReturningToAnObjectStrokeRecordsThePointWithoutMarkingIt) {
  session.SelectTool(ID_TOOL_MARK_OBJECT);
  session.MarkPress(View(), {10, 10});
  session.CtrlDown(View());  // now background, from (10, 10)
  session.MarkMove(View(), {15, 15});
  session.CtrlUp(View());  // back to object at (15, 15): recorded, not marked
  session.MarkRelease();
  EXPECT_EQ(doc.Points(true), (std::vector<CMarkPoint>{{10, 10}, kEnd, {15, 15}, kEnd}));
  EXPECT_EQ(doc.Points(false), (std::vector<CMarkPoint>{{10, 10}, {15, 15}, kEnd}));
  EXPECT_EQ(GreyAt(*doc.Marks(), 15, 15), keMarkBackground);
  EXPECT_EQ(GreyAt(*doc.Marks(), 10, 10), keMarkBackground);
}

TEST_F(EditorSession, CtrlWithoutAStrokeOnlySwitchesTheToolWhileHeld) {
  session.SelectTool(ID_TOOL_MARK_OBJECT);
  session.CtrlDown(View());
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_BACKGROUND);
  session.CtrlDown(View());  // key repeat
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_BACKGROUND);
  session.CtrlUp(View());
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_OBJECT);
  EXPECT_TRUE(doc.Points(false).empty());
  EXPECT_TRUE(doc.Points(true).empty());
  EXPECT_FALSE(doc.Marks());
}

TEST_F(EditorSession, CtrlWorksAgainAfterAnotherToolWasChosenWhileItWasHeld) {
  session.SelectTool(ID_TOOL_MARK_BACKGROUND);
  session.CtrlDown(View());
  session.SelectTool(ID_TOOL_ZOOM);
  session.CtrlUp(View());
  EXPECT_EQ(session.Tool(), ID_TOOL_ZOOM);
  session.SelectTool(ID_TOOL_MARK_BACKGROUND);
  session.CtrlDown(View());
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_OBJECT);
}

TEST_F(EditorSession, AKeyUpWithoutItsKeyDownKeepsTheTool) {
  session.SelectTool(ID_TOOL_MARK_OBJECT);
  session.CtrlUp(View());
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_OBJECT);
}

// ---- Delete All Marks and Reset ----------------------------------------------

TEST_F(EditorSession, DeleteAllMarksKeepsAllMarksAndDisablesApplyBeforeAnyResult) {
  EXPECT_FALSE(session.DeleteAllMarks());  // disabled without marks
  Stroke(false, {{4, 4}});
  EXPECT_TRUE(session.IsApplyEnabled());
  EXPECT_TRUE(session.IsDeleteAllMarksEnabled());
  ASSERT_TRUE(session.DeleteAllMarks());
  EXPECT_FALSE(doc.Marks());
  ASSERT_TRUE(doc.AllMarks());
  EXPECT_EQ(GreyAt(*doc.AllMarks(), 4, 4), keMarkBackground);
  EXPECT_FALSE(session.IsApplyEnabled());
  EXPECT_EQ(session.PressCount(), 0);
}

TEST_F(EditorSession, ResetIsRefusedUntilSomethingWasModified) {
  Stroke(false, {{4, 4}});
  EXPECT_FALSE(session.IsResetEnabled());  // marks alone do not count
  EXPECT_FALSE(session.Reset());
}

TEST_F(EditorSession, ResetRemovesEverythingAndShowsTheOriginal) {
  Stroke(false, {{4, 4}});
  ManualStroke(false, {{40, 40}});
  ASSERT_TRUE(session.IsResetEnabled());
  ASSERT_TRUE(session.Reset());
  EXPECT_FALSE(doc.Marks());
  EXPECT_FALSE(doc.AllMarks());
  EXPECT_TRUE(doc.Points(false).empty());
  EXPECT_EQ(session.Modified(), 0);
  EXPECT_EQ(session.DisplaySelection(), keDisplayOriginal);
  EXPECT_FALSE(session.IsDisplayEnabled());
  EXPECT_FALSE(session.IsApplyEnabled());
  EXPECT_FALSE(session.IsOkEnabled());
  EXPECT_TRUE(session.IsManualAllowed());
  // Every pixel of m_work is opaque, even where the layer is transparent.
  EXPECT_EQ(AlphaAt(doc.Work(), 6, 5), 255);
  EXPECT_EQ(AlphaAt(doc.Work(), 40, 40), 255);
  EXPECT_EQ(AlphaAt(holder, 40, 40), 255);
  EXPECT_EQ(AlphaAt(holder, 5, 5), 100);
}

// ---- Manual brush -----------------------------------------------------------

TEST_F(EditorSession, BrushExistsOnlyWhileTheManualToolIsCurrent) {
  EXPECT_EQ(session.Brush(), nullptr);
  ASSERT_TRUE(session.SelectTool(ID_TOOL_MANUAL));
  ASSERT_NE(session.Brush(), nullptr);
  EXPECT_EQ(session.Brush()->Diameter(), 50);
  EXPECT_TRUE(session.IsBrushSettingsEnabled());
  session.TypeIntoField(keFieldBrushSize, "1e2");
  EXPECT_EQ(session.Brush()->Diameter(), 100);
  session.TypeIntoField(keFieldBrushSize, "3");
  EXPECT_EQ(session.Brush()->Diameter(), 5);  // clamped to the field's minimum
  session.SelectTool(ID_TOOL_MARK_BACKGROUND);
  EXPECT_EQ(session.Brush(), nullptr);
  EXPECT_FALSE(session.IsBrushSettingsEnabled());
  // The size typed meanwhile is kept for the next time.
  session.TypeIntoField(keFieldBrushSize, "20");
  session.SelectTool(ID_TOOL_MANUAL);
  EXPECT_EQ(session.Brush()->Diameter(), 20);
}

TEST_F(EditorSession, EraseStrokeLowersAlphaInBothImagesAndEnablesOk) {
  session.TypeIntoField(keFieldBrushSize, "5");
  ManualStroke(false, {{40, 40}, {50, 40}});
  for (const CCoreImage* image : {static_cast<const CCoreImage*>(&holder), &doc.Work()}) {
    EXPECT_EQ(AlphaAt(*image, 40, 40), 0);
    EXPECT_EQ(AlphaAt(*image, 50, 40), 0);
    EXPECT_EQ(AlphaAt(*image, 45, 40), 255);  // between dabs
  }
  EXPECT_EQ(AlphaAt(doc.Base(), 40, 40), 0);
  EXPECT_EQ(doc.PrevMatte()->At(40, 40), 0);
  EXPECT_EQ(AlphaAt(doc.ResultImage(), 50, 40), 0);
  EXPECT_TRUE(session.IsOkEnabled());
  EXPECT_TRUE(session.IsApplyEnabled());
  EXPECT_TRUE(session.IsDisplayEnabled());
  EXPECT_EQ(session.DisplaySelection(), keDisplayResult);
  EXPECT_EQ(session.Modified(), 1);
}

TEST_F(EditorSession, RecoverRestoresTheLayersAlphaButDoesNotEnableOk) {
  session.TypeIntoField(keFieldBrushSize, "300");
  // As if erased before: the layer copy still holds alpha 100 there.
  SetPixel(holder, 5, 5, 40, 90, 220, 0);
  EditWork([](CCoreImage& work) { SetPixel(work, 5, 5, 40, 90, 220, 0); });
  ManualStroke(true, {{5, 5}});
  EXPECT_EQ(AlphaAt(holder, 5, 5), 100);    // the layer's partial alpha
  EXPECT_EQ(AlphaAt(doc.Work(), 5, 5), 255);  // non-zero alpha made opaque
  EXPECT_EQ(AlphaAt(doc.Work(), 6, 5), 0);
  EXPECT_FALSE(session.IsOkEnabled());
  EXPECT_FALSE(session.IsDisplayEnabled());
  EXPECT_TRUE(session.IsApplyEnabled());
  EXPECT_EQ(session.Modified(), 1);
}

TEST_F(EditorSession, ShowingTheOriginalTakesTheManualToolAway) {
  ManualStroke(false, {{40, 40}});
  ASSERT_TRUE(session.ChooseDisplay(keDisplayOriginal));
  EXPECT_FALSE(session.IsManualAllowed());
  EXPECT_FALSE(session.IsOkEnabled());
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_BACKGROUND);
  EXPECT_FALSE(session.SelectTool(ID_TOOL_MANUAL));
  EXPECT_EQ(AlphaAt(holder, 40, 40), 255);
  ASSERT_TRUE(session.ChooseDisplay(keDisplayResult));
  EXPECT_TRUE(session.IsOkEnabled());
  EXPECT_TRUE(session.IsManualAllowed());
  EXPECT_EQ(AlphaAt(holder, 40, 40), 0);
}

// ---- Panel ------------------------------------------------------------------

TEST_F(EditorSession, AParameterOfAStageThatIsOffIsDisabledWithIt) {
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.enabledWhenSlot == keAlwaysEnabled) {
      EXPECT_TRUE(session.IsParameterEnabled(row.slot)) << row.key;
      continue;
    }
    // The stage's check box decides, in both directions.
    const bool before = session.IsChecked(row.enabledWhenSlot);
    EXPECT_EQ(session.IsParameterEnabled(row.slot), before) << row.key;
    session.ClickCheckBox(row.enabledWhenSlot);
    EXPECT_EQ(session.IsParameterEnabled(row.slot), !before) << row.key;
    session.ClickCheckBox(row.enabledWhenSlot);
    EXPECT_EQ(session.IsParameterEnabled(row.slot), before) << row.key;
  }
  EXPECT_FALSE(session.IsParameterEnabled(keSlotEdgeWidth));
}

TEST_F(EditorSession, DefaultIsEnabledWhileAFieldDiffersFromItsDefault) {
  session.TypeIntoField(keFieldFeathering, "1e0");  // still 1
  EXPECT_FALSE(session.IsDefaultEnabled());
  session.TypeIntoField(keFieldSmoothing, "12");
  EXPECT_TRUE(session.IsDefaultEnabled());
  session.TypeIntoField(keFieldBrushSize, "7");  // not one of the four
  EXPECT_TRUE(session.IsDefaultEnabled());
  ASSERT_TRUE(session.PressDefault());
  EXPECT_FALSE(session.IsDefaultEnabled());
  EXPECT_EQ(session.Field(keFieldSmoothing).Text(), "0");
  EXPECT_EQ(session.Field(keFieldBrushSize).Text(), "7");
}

TEST_F(EditorSession, DefaultPutsEveryNumberBackInItsFieldAndSlotAndLeavesTheBoxes) {
  Stroke(false, {{10, 5}});
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.control == keControlCheckBox) {
      session.ClickCheckBox(row.slot);
    } else {
      ASSERT_NE(row.maximum, row.defaultValue) << row.key;
      session.TypeIntoField(static_cast<keField>(ParameterField(row.slot)),
                            std::to_string(row.maximum));
    }
  }
  ASSERT_TRUE(session.PressApply());
  WaitForRun();
  ASSERT_TRUE(session.PressDefault());
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.control == keControlCheckBox) {
      EXPECT_NE(session.IsChecked(row.slot), row.defaultValue != 0) << row.key;
      EXPECT_NE(Slot(filter, row.slot), row.defaultValue) << row.key;
    } else {
      const CNumericField& field = session.Field(static_cast<keField>(ParameterField(row.slot)));
      EXPECT_EQ(field.Text(), std::to_string(row.defaultValue)) << row.key;
      EXPECT_EQ(Slot(filter, row.slot), row.defaultValue) << row.key;
    }
  }
}

TEST_F(EditorSession, ApplyStoresTheClampedFieldsIntoTheSlots) {
  Stroke(false, {{10, 5}});
  session.TypeIntoField(keFieldStrength, "150");
  session.TypeIntoField(keFieldFeathering, "1e2");
  session.TypeIntoField(keFieldContract, "-4");
  session.TypeIntoField(keFieldSmoothing, "99e-1");
  session.ClickCheckBox(keSlotFillHoles);
  session.ClickCheckBox(keSlotTextured);
  session.ClickCheckBox(keSlotRefineEdge);
  session.ClickCheckBox(keSlotColourModel);
  session.TypeIntoField(keFieldEdgeWidth, "0");
  ASSERT_TRUE(session.PressApply());
  EXPECT_EQ(Slot(filter, keSlotRefineEdge), 1);
  EXPECT_EQ(Slot(filter, keSlotColourModel), 1);
  EXPECT_EQ(Slot(filter, keSlotEdgeWidth), 1);
  EXPECT_EQ(Slot(filter, keSlotStrength), 100);
  EXPECT_EQ(Slot(filter, keSlotFeather), 50);
  EXPECT_EQ(Slot(filter, keSlotContract), 0);
  EXPECT_EQ(Slot(filter, keSlotSmoothing), 9);
  EXPECT_EQ(Slot(filter, keSlotFillHoles), 1);
  EXPECT_EQ(Slot(filter, keSlotTextured), 1);
  WaitForRun();
}

TEST_F(EditorSession, ARunMovesThePanelThroughItsStates) {
  Stroke(false, {{10, 5}, {60, 5}});
  ASSERT_TRUE(session.PressApply());
  EXPECT_TRUE(session.IsBusy());
  EXPECT_STREQ(session.ApplyLabel(), "Abort");
  EXPECT_FALSE(session.IsOkEnabled());
  EXPECT_FALSE(session.IsDeleteAllMarksEnabled());
  EXPECT_FALSE(session.IsToolEnabled(ID_TOOL_MANUAL));
  WaitForRun();
  EXPECT_STREQ(session.ApplyLabel(), "Apply");
  EXPECT_TRUE(session.IsOkEnabled());
  EXPECT_TRUE(session.IsDisplayEnabled());
  EXPECT_TRUE(session.IsShowMatEnabled());
  EXPECT_EQ(session.DisplaySelection(), keDisplayResult);
  EXPECT_EQ(session.Modified(), 1);
  EXPECT_EQ(session.RunsFinished(), 1);
  EXPECT_EQ(session.ProgressPosition(), 0);
  // The sky is gone, the roof stays.
  EXPECT_EQ(AlphaAt(holder, 40, 10), 0);
  EXPECT_EQ(AlphaAt(holder, 40, 70), 255);
  // A result exists, so Delete All Marks leaves Apply enabled.
  ASSERT_TRUE(session.DeleteAllMarks());
  EXPECT_TRUE(session.IsApplyEnabled());
}

TEST_F(EditorSession, ShowingTheOriginalDuringARunKeepsOkDisabled) {
  ManualStroke(false, {{40, 40}});
  Stroke(false, {{10, 5}});
  ASSERT_TRUE(session.PressApply());
  session.ChooseDisplay(keDisplayResult);
  EXPECT_FALSE(session.IsOkEnabled());
  WaitForRun();
  EXPECT_TRUE(session.IsOkEnabled());
}

TEST_F(EditorSession, AnEndMessageOfAnEarlierRunIsIgnored) {
  Stroke(false, {{10, 5}});
  ASSERT_TRUE(session.PressApply());
  WaitForRun();
  const uint32_t serial = filter.RunSerial();
  Stroke(false, {{12, 5}});
  ASSERT_TRUE(session.PressApply());
  // While run 2 is in progress, run 1's end arrives again: nothing changes.
  session.HandleMessage({WM_RUN_DONE, 0, static_cast<LPARAM>(serial)});
  session.HandleMessage({WM_RUN_FAILED, 0, static_cast<LPARAM>(serial)});
  EXPECT_TRUE(session.IsBusy());
  EXPECT_EQ(session.RunsFinished(), 1);
  WaitForRun();
  EXPECT_EQ(session.RunsFinished(), 2);
  EXPECT_TRUE(holder.HasStorage());
}

TEST_F(EditorSession, ProgressShowsOnlyTheNewestQueuedValue) {
  for (int percent = 5; percent <= 50; percent += 5) {
    window.PostMessage(WM_RUN_PROGRESS, 0, percent);
  }
  EXPECT_EQ(window.PumpMessages(), 1);
  EXPECT_EQ(session.ProgressPosition(), 50);
  window.PostMessage(WM_RUN_PROGRESS, 0, 60);
  session.ResetProgress();
  EXPECT_EQ(window.QueuedCount(WM_RUN_PROGRESS), 0);
  EXPECT_EQ(session.ProgressPosition(), 0);
}

TEST_F(EditorSession, ShowMatChoicesAndTheirColours) {
  EXPECT_FALSE(session.ChooseShowMat(1));  // disabled before a result
  ManualStroke(false, {{40, 40}});
  ASSERT_TRUE(session.ChooseShowMat(7));
  EXPECT_EQ(session.ShowMatSelection(), 7);
  const CMatteColours stand = MatteColoursFor(7);
  EXPECT_EQ(stand.a[0], 90);
  EXPECT_EQ(stand.b[2], 140);
  const CMatteColours none = MatteColoursFor(42);
  EXPECT_EQ(none.b[0], 208);
  EXPECT_EQ(none.a[0], 255);
  EXPECT_STREQ(ShowMatName(2), "Gray Matte");
}

// ---- Undo and redo ----------------------------------------------------------

namespace {

// What undo must bring back exactly: the document's images and marks, the
// strokes drawn, what is shown, and which controls are enabled.
struct CSeen {
  std::vector<std::vector<uint8_t>> images;
  std::vector<uint8_t> prevMatte;
  std::vector<CMarkPoint> bgPoints;
  std::vector<CMarkPoint> objPoints;
  std::vector<int> values;
  bool operator==(const CSeen&) const = default;
};

CSeen Seen(const CEditorSession& session, const CMatteDocument& doc, const CCoreImage& holder) {
  CSeen seen;
  const CCoreImage none;
  for (const CCoreImage* image : {&doc.Work(), &doc.Base(), &doc.ResultImage(), &holder,
                                  doc.Marks() ? doc.Marks() : &none,
                                  doc.AllMarks() ? doc.AllMarks() : &none}) {
    seen.images.push_back(BytesOf(*image));
  }
  if (const CPlane* prev = doc.PrevMatte()) {
    seen.prevMatte.assign(prev->Data(), prev->Data() + prev->Stride() * prev->Height());
  }
  seen.bgPoints = doc.Points(false);
  seen.objPoints = doc.Points(true);
  seen.values = {doc.PrevStrength(),
                 doc.CombineMode(),
                 static_cast<int>(doc.Applied().bgPointCount),
                 static_cast<int>(doc.Applied().objPointCount),
                 session.DisplaySelection(),
                 session.IsDisplayEnabled(),
                 session.IsOkEnabled(),
                 session.IsApplyEnabled(),
                 session.IsResetEnabled(),
                 session.IsDeleteAllMarksEnabled(),
                 session.IsManualAllowed(),
                 session.Modified()};
  return seen;
}

}  // namespace

TEST_F(EditorSession, EveryKindOfStepIsUndoneAndRedoneExactly) {
  auto seen = [this] { return Seen(session, doc, holder); };
  const std::vector<std::function<void()>> steps = {
      [&] { Stroke(false, {{5, 5}, {40, 10}, {70, 20}}); },
      [&] {
        // Ctrl switching in the middle is part of the one stroke.
        session.SelectTool(ID_TOOL_MARK_OBJECT);
        session.MarkPress(View(), {40, 60});
        session.MarkMove(View(), {45, 62});
        session.CtrlDown(View());
        session.MarkMove(View(), {50, 65});
        session.CtrlUp(View());
        session.MarkRelease();
      },
      [&] {
        ASSERT_TRUE(session.PressApply());
        WaitForRun();
      },
      [&] { ManualStroke(false, {{60, 60}, {70, 70}}); },
      [&] { ManualStroke(true, {{65, 65}}); },
      [&] { ASSERT_TRUE(session.DeleteAllMarks()); },
      [&] { Stroke(false, {{10, 10}}); },
      [&] {
        ASSERT_TRUE(session.PressApply());
        WaitForRun();
      },
      [&] { ASSERT_TRUE(session.Reset()); },
  };
  EXPECT_FALSE(session.IsUndoEnabled());
  std::vector<CSeen> states = {seen()};
  for (const auto& step : steps) {
    step();
    states.push_back(seen());
    ASSERT_NE(states.back(), states[states.size() - 2]) << "step " << states.size() - 1;
  }
  for (size_t i = states.size() - 1; i > 0; --i) {
    ASSERT_TRUE(session.Undo());
    EXPECT_EQ(seen(), states[i - 1]) << "undoing step " << i;
  }
  EXPECT_FALSE(session.Undo());
  for (size_t i = 1; i < states.size(); ++i) {
    ASSERT_TRUE(session.Redo());
    EXPECT_EQ(seen(), states[i]) << "redoing step " << i;
  }
  EXPECT_FALSE(session.Redo());
}

// Saved states share the point lists with the document: strokes made after
// an undo must not show in, or write over, the points of the states around.
TEST_F(EditorSession, ManyStrokesAreUndoneAndRedoneWithThePointsTheViewDraws) {
  using CPoints = std::pair<std::vector<CMarkPoint>, std::vector<CMarkPoint>>;
  auto points = [this] { return CPoints(doc.Points(false), doc.Points(true)); };
  std::vector<CPoints> states = {points()};
  for (int i = 0; i < 60; ++i) {
    const int x = (i * 7) % 80;
    const int y = (i * 13) % 80;
    Stroke(i % 3 == 2, {{x, y}, {(x + 5) % 80, y}});
    states.push_back(points());
  }
  ASSERT_EQ(states.back().first.size() + states.back().second.size(), 60u * 3u);

  // Back ten strokes, then a stroke of its own: the redo branch goes.
  for (size_t i = 0; i < 10; ++i) ASSERT_TRUE(session.Undo());
  EXPECT_TRUE(points() == states[50]);
  Stroke(false, {{1, 2}});
  CPoints branched = states[50];
  branched.first.insert(branched.first.end(), {{1, 2}, kEnd});
  EXPECT_TRUE(points() == branched);
  EXPECT_FALSE(session.Redo());

  // The states before the branch kept their points; the branch comes back on redo.
  ASSERT_TRUE(session.Undo());
  EXPECT_TRUE(points() == states[50]);
  for (size_t i = 50; i > 20; --i) {
    ASSERT_TRUE(session.Undo());
    EXPECT_TRUE(points() == states[i - 1]) << "undoing to " << i - 1;
  }
  for (size_t i = 20; i < 50; ++i) ASSERT_TRUE(session.Redo());
  EXPECT_TRUE(points() == states[50]);
  ASSERT_TRUE(session.Redo());
  EXPECT_TRUE(points() == branched);

  // A stroke after an undo that leaves a shorter list starts from that list.
  ASSERT_TRUE(session.Undo());
  ASSERT_TRUE(session.Undo());
  Stroke(true, {{3, 4}});
  CPoints again = states[49];
  again.second.insert(again.second.end(), {{3, 4}, kEnd});
  EXPECT_TRUE(points() == again);
  ASSERT_TRUE(session.Undo());
  EXPECT_TRUE(points() == states[49]);
}

// A run combines with the previous one, so undoing a run must give the next
// Apply the same previous matte and strength as before.
TEST_F(EditorSession, ApplyAfterUndoGivesTheResultItGaveBefore) {
  Stroke(false, {{5, 5}, {70, 10}});
  ASSERT_TRUE(session.PressApply());
  WaitForRun();
  Stroke(false, {{40, 60}});  // the roof goes as well
  session.TypeIntoField(keFieldStrength, "45");
  ASSERT_TRUE(session.PressApply());
  WaitForRun();
  const std::vector<uint8_t> second = BytesOf(holder);
  const std::vector<uint8_t> secondWork = BytesOf(doc.Work());

  ASSERT_TRUE(session.Undo());
  EXPECT_NE(BytesOf(holder), second);
  ASSERT_TRUE(session.PressApply());
  WaitForRun();
  EXPECT_EQ(BytesOf(holder), second);
  EXPECT_EQ(BytesOf(doc.Work()), secondWork);
}

TEST_F(EditorSession, ANewStepDropsTheStepsUndoneAndARunDisablesBoth) {
  Stroke(false, {{5, 5}});
  Stroke(false, {{9, 9}});
  ASSERT_TRUE(session.Undo());
  EXPECT_TRUE(session.IsRedoEnabled());
  Stroke(true, {{40, 60}});
  EXPECT_FALSE(session.IsRedoEnabled());
  EXPECT_FALSE(session.Redo());

  ASSERT_TRUE(session.PressApply());
  EXPECT_FALSE(session.IsUndoEnabled());
  EXPECT_FALSE(session.Undo());
  WaitForRun();
  EXPECT_TRUE(session.IsUndoEnabled());
}
