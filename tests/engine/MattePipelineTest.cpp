#include "engine/MattePipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "TestImages.h"
#include "engine/ImageChannels.h"
#include "engine/Marks.h"
#include "imagecore/ProgressScale.h"

namespace {

constexpr int kSide = 96;

// A sky graded from blue to white with a dark red square in the middle.
CCoreImage SkyWithSquare() {
  CCoreImage image;
  MakeBGRA(image, kSide, kSide, 0, 0, 0, 255);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const bool square = x >= 32 && x < 64 && y >= 32 && y < 64;
      const auto shade = static_cast<uint8_t>(200 + y / 2);
      SetPixelByte(image, x, y, 0, square ? 20 : 250);
      SetPixelByte(image, x, y, 1, square ? 20 : shade);
      SetPixelByte(image, x, y, 2, square ? 150 : static_cast<uint8_t>(shade - 60));
    }
  }
  return image;
}

// Background marked along the top and left, the object in the square.
CCoreImage MarksOnSky() {
  CCoreImage marks;
  MakeGrey(marks, kSide, kSide, keMarkNone);
  for (int i = 0; i < kSide; ++i) {
    SetPixelByte(marks, i, 2, 0, keMarkBackground);
    SetPixelByte(marks, 2, i, 0, keMarkBackground);
  }
  SetPixelByte(marks, 48, 48, 0, keMarkObject);
  return marks;
}

// Steps seen by the progress scale, and the step at which the run is told
// to stop (0: never).
int g_stopAt = 0;
std::vector<int> g_steps;

// Read from two threads while the two mattes' holes are filled side by side.
double FastClock() {
  static std::atomic<int64_t> now{0};
  return static_cast<double>(++now);  // every step reports
}

int StopCheck(CProgressScale& scale) {
  g_steps.push_back(scale.StepIndex());
  return scale.StepIndex() == g_stopAt ? 1 : 0;
}

class MattePipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CProgressScale::SetClockForTesting(&FastClock);
    m_progress.SetAbortCheck(&StopCheck);
    g_stopAt = 0;
    g_steps.clear();
    m_source = SkyWithSquare();
    ThrowIfFailed(m_result.CopyFrom(m_source));
    ThrowIfFailed(m_inputs.base.CopyFrom(m_source));
    m_inputs.marks.emplace(MarksOnSky());
    m_inputs.prevMatte = std::make_shared<const CPlane>(AlphaPlane(m_inputs.base));
    m_inputs.params.strength = 30;
    m_inputs.params.featherWidth = 1;
    m_inputs.bgPointCount = 7;
    m_inputs.objPointCount = 2;
  }
  void TearDown() override { CProgressScale::SetClockForTesting(nullptr); }

  ERunEnd Run() { return RunMattePipeline(m_inputs, m_source, m_result, m_progress, m_outputs); }

  void TurnEveryStageOn() {
    m_inputs.params.textured = true;
    m_inputs.params.fillHoles = true;
    m_inputs.allMarks.emplace(MarksOnSky());
    m_inputs.params.smoothLevel = 2;
    m_inputs.params.contract = 2;
  }

  CProgressScale m_progress;
  CCoreImage m_source;
  CCoreImage m_result;
  CRunInputs m_inputs;
  CRunOutputs m_outputs;
};

TEST_F(MattePipelineTest, MarksTakeTheSkyAwayKeepTheSquareAndReplaceThePreviousRun) {
  ASSERT_EQ(Run(), ERunEnd::kDone);
  EXPECT_TRUE(m_outputs.resultReady);
  EXPECT_EQ(PixelByte(m_result, 10, 80, 3), 0);
  EXPECT_EQ(PixelByte(m_result, 90, 10, 3), 0);
  EXPECT_EQ(PixelByte(m_result, 48, 48, 3), 255);
  EXPECT_EQ(PixelByte(m_result, 40, 60, 3), 255);
  EXPECT_EQ(PixelByte(m_result, 40, 60, 2), 150) << "colours stay the layer's";
  // The previous matte is this run's, before feathering; the work holds it.
  ASSERT_TRUE(m_outputs.prevMatte);
  for (int y = 0; y < kSide; y += 5) {
    for (int x = 0; x < kSide; x += 5) {
      ASSERT_EQ(m_outputs.prevMatte->At(x, y), PixelByte(m_outputs.work, x, y, 3)) << x << "," << y;
    }
  }
  EXPECT_EQ(m_outputs.prevStrength, 30);
  ASSERT_TRUE(m_outputs.applied);
  EXPECT_EQ(m_outputs.applied->bgPointCount, 7u);
  EXPECT_EQ(m_outputs.applied->objPointCount, 2u);
  // Texture, classification, clean-up, combination, clean-up again.
  EXPECT_EQ(g_steps, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(MattePipelineTest, EveryStageOnNumbersItsStepsInTurn) {
  TurnEveryStageOn();
  ASSERT_EQ(Run(), ERunEnd::kDone);
  EXPECT_EQ(g_steps, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(PixelByte(m_result, 48, 48, 3), 255);
  EXPECT_EQ(PixelByte(m_result, 10, 80, 3), 0);
}

std::vector<int> g_values;
std::vector<int> g_rootSteps;

// Reports every value and the run's own steps (not a stage's inner ones).
int RecordValue(CProgressScale& scale) {
  g_values.push_back(scale.Value());
  if (scale.IsRoot()) g_rootSteps.push_back(scale.StepIndex());
  return 0;
}

// Refine Edge takes feathering's place as one more step, reported within the
// run's range; the document keeps the work as a run without it leaves it,
// and the result never shows more than the layer's own alpha.
TEST_F(MattePipelineTest, RefineEdgeIsTheLastStepAndKeepsTheLayersAlphaAsTheCeiling) {
  TurnEveryStageOn();
  for (int y = 40; y < 56; ++y) SetPixelByte(m_source, 32, y, 3, 90);
  const CRunInputs unrun = m_inputs;
  ASSERT_EQ(Run(), ERunEnd::kDone);
  const std::vector<uint8_t> plainWork = AllBytes(m_outputs.work);

  m_inputs = unrun;
  m_outputs = CRunOutputs();
  m_inputs.params.refineEdge = true;
  m_inputs.params.edgeWidth = 4;
  m_progress.SetReportCallback(&RecordValue);
  g_values.clear();
  ASSERT_EQ(Run(), ERunEnd::kDone);
  EXPECT_EQ(g_rootSteps, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  for (int value : g_values) EXPECT_LE(value, 100);
  EXPECT_EQ(AllBytes(m_outputs.work), plainWork);
  EXPECT_EQ(PixelByte(m_result, 48, 48, 3), 255);
  EXPECT_EQ(PixelByte(m_result, 10, 80, 3), 0);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      ASSERT_LE(PixelByte(m_result, x, y, 3), PixelByte(m_source, x, y, 3)) << x << "," << y;
    }
  }
  m_progress.SetReportCallback(nullptr);
  m_inputs = unrun;
  m_outputs = CRunOutputs();
  m_inputs.params.refineEdge = true;
  g_stopAt = 11;
  EXPECT_EQ(Run(), ERunEnd::kAborted);
  EXPECT_FALSE(m_outputs.resultReady);
}

TEST_F(MattePipelineTest, AnAbortLeavesWhatTheRunHadReachedAndNoResult) {
  // Stopped at the combination: the classified work is left, the previous
  // matte and strength are not yet replaced.
  g_stopAt = 4;
  const CPlane before = *m_inputs.prevMatte;
  ASSERT_EQ(Run(), ERunEnd::kAborted);
  EXPECT_FALSE(m_outputs.resultReady);
  EXPECT_FALSE(m_outputs.applied);
  EXPECT_EQ(m_outputs.prevStrength, 0);
  ASSERT_TRUE(m_outputs.prevMatte);
  EXPECT_EQ(m_outputs.prevMatte->At(10, 80), before.At(10, 80));
  EXPECT_EQ(PixelByte(m_outputs.work, 10, 80, 3), 0) << "the classification had run";
  EXPECT_EQ(PixelByte(m_result, 10, 80, 3), 255) << "the result is the layer still";
}

TEST_F(MattePipelineTest, WithoutMarksOnlyTheTailRunsAndASmallLayerIsLeftAlone) {
  m_inputs.marks.reset();
  m_inputs.params.contract = 1;
  ASSERT_EQ(Run(), ERunEnd::kDone);
  EXPECT_EQ(g_steps, (std::vector<int>{1}));
  EXPECT_EQ(PixelByte(m_result, 48, 48, 3), 255);
  EXPECT_FALSE(m_outputs.applied);

  CRunInputs small;
  MakeBGRA(small.base, 63, 200, 1, 2, 3, 255);
  CCoreImage layer;
  ThrowIfFailed(layer.CopyFrom(small.base));
  CCoreImage result;
  ThrowIfFailed(result.CopyFrom(layer));
  CRunOutputs outputs;
  EXPECT_EQ(RunMattePipeline(small, layer, result, m_progress, outputs), ERunEnd::kTooSmall);
  EXPECT_TRUE(outputs.resultReady);
  EXPECT_EQ(AllBytes(outputs.work), AllBytes(layer));
}

}  // namespace
