#include "imagecore/ProgressScale.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

double g_now = 0.0;
double FakeClock() { return g_now; }

struct Recorder {
  std::vector<int> reported;
  int reportAnswer = 0;
  int abortAnswer = 0;
  int abortChecks = 0;
};

Recorder& Of(CProgressScale& scale) { return *static_cast<Recorder*>(scale.Owner()); }

int Report(CProgressScale& scale) {
  Of(scale).reported.push_back(scale.Value());
  return Of(scale).reportAnswer;
}

int AbortCheck(CProgressScale& scale) {
  ++Of(scale).abortChecks;
  return Of(scale).abortAnswer;
}

class ProgressScaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 100.0;
    CProgressScale::SetClockForTesting(FakeClock);
    m_root.InitRoot();
    m_root.SetOwner(&m_recorder);
    m_root.SetReportCallback(Report);
    m_root.SetAbortCheck(AbortCheck);
  }
  void TearDown() override { CProgressScale::SetClockForTesting(nullptr); }

  CProgressScale m_root;
  Recorder m_recorder;
};

}  // namespace

TEST_F(ProgressScaleTest, StagesDivideTheRange) {
  m_root.SetStageCount(4);
  m_root.GoToStage(2);
  EXPECT_EQ(m_root.Value(), 50);
  EXPECT_EQ(m_root.LastValue(), 50);

  // Each stage's base is truncated on its own, whichever way it was reached.
  CProgressScale thirds;
  thirds.SetStageCount(3);
  thirds.GoToStage(1);
  EXPECT_EQ(thirds.Value(), 33);
  thirds.GoToStage(2);
  EXPECT_EQ(thirds.Value(), 66);
  thirds.GoToStage(3);
  EXPECT_EQ(thirds.Value(), 100);
  thirds.GoToStage(2);
  EXPECT_EQ(thirds.Value(), 66);
}

TEST_F(ProgressScaleTest, StepsDivideAStageWithoutOverflow) {
  m_root.SetStepCount(100000000);
  ASSERT_EQ(m_root.Step(99999999), 0);
  // 100 * 99999999 does not fit in 32 bits.
  EXPECT_EQ(m_root.Value(), 99);

  m_root.SetStepCount(0);
  EXPECT_EQ(m_root.Value(), 0);
}

TEST_F(ProgressScaleTest, AChildCoversOneStageOfItsParent) {
  m_root.SetStageCount(4);
  m_root.SetUserWord(1, 77);
  m_root.GoToStage(1);
  CProgressScale child;
  child.BeginChild(&m_root);
  EXPECT_EQ(m_root.Child(), &child);
  EXPECT_EQ(child.Parent(), &m_root);
  EXPECT_EQ(child.Range(), 25);
  EXPECT_EQ(child.StageCount(), 1);
  EXPECT_EQ(child.Owner(), &m_recorder);
  EXPECT_EQ(child.UserWord(1), 77u);

  child.Step(50);
  EXPECT_EQ(child.Value(), 37);
  ASSERT_EQ(m_recorder.reported.size(), 1u);
  EXPECT_EQ(m_recorder.reported[0], 37);  // the parent's callback, via the child

  child.EndChild();
  EXPECT_EQ(m_root.Stage(), 2);
  EXPECT_EQ(m_root.Value(), 50);
  EXPECT_EQ(m_root.Child(), nullptr);
}

TEST_F(ProgressScaleTest, NestedChildrenReportIntoOneValue) {
  m_root.SetStageCount(2);
  m_root.GoToStage(1);
  CProgressScale child;
  child.BeginChild(&m_root);
  child.SetStageCount(5);
  child.GoToStage(4);
  CProgressScale grandchild;
  grandchild.BeginChild(&child);
  EXPECT_EQ(grandchild.Range(), 10);
  grandchild.SetStepCount(10);
  grandchild.Step(5);
  EXPECT_EQ(grandchild.Value(), 95);
  grandchild.EndChild();
  EXPECT_EQ(child.Value(), 100);
  child.EndChild();
  EXPECT_EQ(m_root.Value(), 100);
}

TEST_F(ProgressScaleTest, AChildWithoutParentIsARoot) {
  CProgressScale scale;
  scale.SetSuppressAbort(true);
  scale.SetStageCount(3);
  scale.BeginChild(nullptr);
  EXPECT_TRUE(scale.IsRoot());
  EXPECT_FALSE(scale.SuppressesAbort());
  EXPECT_EQ(scale.Range(), 100);
  EXPECT_EQ(scale.StepCount(), 100);
  EXPECT_EQ(scale.StageCount(), 1);
  scale.EndChild();  // no parent: nothing happens
  EXPECT_EQ(scale.Stage(), 0);
}

TEST_F(ProgressScaleTest, ReportsAreThrottledToOneEveryFifthOfASecond) {
  EXPECT_EQ(m_root.Step(10), 0);
  EXPECT_EQ(m_recorder.reported, std::vector<int>{10});

  g_now += 0.1;
  EXPECT_EQ(m_root.Step(20), 0);
  EXPECT_EQ(m_recorder.reported.size(), 1u);
  EXPECT_EQ(m_root.StepIndex(), 10);  // a throttled step is not recorded
  EXPECT_EQ(m_recorder.abortChecks, 0);

  g_now += 0.15;
  m_root.Step(30);
  EXPECT_EQ(m_recorder.reported, (std::vector<int>{10, 30}));

  // A fresh child has never reported, so it may report at once.
  CProgressScale child;
  child.BeginChild(&m_root);
  child.Step(1);
  EXPECT_EQ(m_recorder.reported.size(), 3u);
}

TEST_F(ProgressScaleTest, AnUnchangedValueAsksTheAbortCheckInstead) {
  m_root.Step(5);
  ASSERT_EQ(m_recorder.reported.size(), 1u);
  g_now += 1.0;
  m_recorder.abortAnswer = 1;
  EXPECT_EQ(m_root.Step(5), 1);
  EXPECT_EQ(m_recorder.reported.size(), 1u);
  EXPECT_EQ(m_recorder.abortChecks, 1);

  // A disabled scale never reports, but still answers the abort check.
  m_root.SetEnabled(false);
  g_now += 1.0;
  EXPECT_EQ(m_root.Step(50), 1);
  EXPECT_EQ(m_recorder.reported.size(), 1u);
  EXPECT_EQ(m_recorder.abortChecks, 2);
}

TEST_F(ProgressScaleTest, TheReportCallbacksAnswerIsReturned) {
  m_recorder.reportAnswer = 1;
  EXPECT_EQ(m_root.Step(40), 1);
  EXPECT_EQ(m_recorder.abortChecks, 0);

  CProgressScale bare;
  g_now += 1.0;
  EXPECT_EQ(bare.Step(40), 0);  // no callbacks: never stops
}

TEST_F(ProgressScaleTest, SuppressAbortNeverStops) {
  m_recorder.reportAnswer = 1;
  m_recorder.abortAnswer = 1;
  m_root.SetSuppressAbort(true);
  EXPECT_EQ(m_root.Step(40), 0);
  EXPECT_EQ(m_recorder.reported.size(), 1u);  // the report is still made
  g_now += 1.0;
  EXPECT_EQ(m_root.Step(40), 0);

  // Children inherit the flag.
  CProgressScale child;
  child.BeginChild(&m_root);
  EXPECT_EQ(child.Step(60), 0);
}

TEST(ProgressClockTest, CountsForwardFromFirstUse) {
  const double first = CProgressScale::Now();
  EXPECT_GE(first, 0.0);
  double previous = first;
  EXPECT_GE(CProgressScale::Elapsed(previous), 0.0);
  EXPECT_GE(previous, first);
}
