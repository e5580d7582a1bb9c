#include "framework/FilterBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "imagecore/ColorRef.h"
#include "imagecore/RowLease.h"

namespace {

using namespace std::chrono_literals;

class CTestFilter : public CFilterBase {
 public:
  // The body uses a member of this class, so the run must end first.
  ~CTestFilter() override { AbortRun(); }
  int Process(ProcessArgs& args) override { return m_body ? m_body(args) : CFilterBase::Process(args); }

  std::function<int(ProcessArgs&)> m_body;
};

uint8_t Pixel(CCoreImage& image, int channel) { return CRowLease(image, 0).Data()[channel]; }

void SetPixel(CCoreImage& image, int channel, uint8_t value) {
  CRowLease(image, 0).Data()[channel] = value;
}

// Pumps the window until a run's end has been handled.
CWindowMessage WaitForEnd(CHeadlessWindow& window, std::vector<CWindowMessage>& handled) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    window.WaitForMessage(50ms);
    window.PumpMessages();
    for (const CWindowMessage& message : handled) {
      if (message.message == WM_RUN_DONE || message.message == WM_RUN_FAILED) return message;
    }
  }
  ADD_FAILURE() << "the run did not end";
  return {};
}

// Runs until asked to stop, through the progress scale as a real filter does.
int RunUntilAborted(ProcessArgs& args, std::atomic<bool>& entered) {
  entered = true;
  for (int i = 0;; i = (i + 1) % 100) {
    if (args.progress->Step(i)) return 100;
    SetPixel(*args.result, 0, static_cast<uint8_t>(i));
    std::this_thread::sleep_for(1ms);
  }
}

class FilterBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const CColorRef colour(10, 20, 30, 40);
    CoreResult created = m_filter.m_source.CreateBGRA(3, 2, &colour);
    ASSERT_TRUE(created.IsNull());
    m_filter.SetNotifyWindow(&m_window);
    m_window.SetMessageHandler([this](const CWindowMessage& message) { m_handled.push_back(message); });
  }

  void WaitUntil(const std::atomic<bool>& flag) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!flag && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(flag.load());
  }

  CHeadlessWindow m_window;
  std::vector<CWindowMessage> m_handled;
  CTestFilter m_filter;
};

TEST_F(FilterBaseTest, TheBaseFilterCompletesWithAnIndependentCopyOfTheSource) {
  CFilterBase& base = m_filter;
  EXPECT_EQ(base.GetName(), "GenericCommand");
  EXPECT_TRUE(base.Hook(nullptr));
  CoreResult started = m_filter.StartRun();
  ASSERT_TRUE(started.IsNull());
  const CWindowMessage end = WaitForEnd(m_window, m_handled);
  EXPECT_EQ(end.message, static_cast<UINT>(WM_RUN_DONE));
  EXPECT_EQ(end.wParam, 0u);
  EXPECT_EQ(end.lParam, 1);
  EXPECT_TRUE(m_filter.IsCurrentRunMessage(end));
  EXPECT_EQ(m_filter.LastExitCode(), -3);

  ASSERT_TRUE(m_filter.m_result.HasStorage());
  EXPECT_EQ(m_filter.m_result.Width(), 3);
  EXPECT_EQ(m_filter.m_result.Height(), 2);
  EXPECT_EQ(Pixel(m_filter.m_result, 0), 30);  // blue first
  EXPECT_EQ(Pixel(m_filter.m_result, 3), 40);
  SetPixel(m_filter.m_result, 0, 99);
  EXPECT_EQ(Pixel(m_filter.m_source, 0), 30);
}

TEST_F(FilterBaseTest, AbortCodesEndTheRunAsFailedWithAnEmptyResult) {
  for (const int code : {-6, 100}) {
    m_handled.clear();
    m_filter.m_body = [code](ProcessArgs&) { return code; };
    CoreResult started = m_filter.StartRun();
    ASSERT_TRUE(started.IsNull());
    const CWindowMessage end = WaitForEnd(m_window, m_handled);
    EXPECT_EQ(end.message, static_cast<UINT>(WM_RUN_FAILED)) << code;
    EXPECT_TRUE(m_filter.IsCurrentRunMessage(end));
    EXPECT_FALSE(m_filter.m_result.HasStorage());
    EXPECT_FALSE(m_filter.m_running.load());
    EXPECT_FALSE(m_filter.m_abort.load());
    EXPECT_EQ(m_filter.LastExitCode(), code);
  }
}

TEST_F(FilterBaseTest, OtherReturnValuesCountAsCompletion) {
  for (const int code : {-1, 0, 1, 101}) {
    m_handled.clear();
    m_filter.m_body = [code](ProcessArgs&) { return code; };
    CoreResult started = m_filter.StartRun();
    ASSERT_TRUE(started.IsNull());
    EXPECT_EQ(WaitForEnd(m_window, m_handled).message, static_cast<UINT>(WM_RUN_DONE)) << code;
    EXPECT_TRUE(m_filter.m_result.HasStorage());
  }
}

TEST_F(FilterBaseTest, FailuresRaisedInsideProcessEndTheRunAsFailed) {
  const std::vector<std::function<int(ProcessArgs&)>> bodies = {
      [](ProcessArgs&) -> int { throw CJException(keErrOutOfMemory); },
      [](ProcessArgs&) -> int {
        CoreResult unexamined = MakeResult(keErrOutOfMemory);
        return 0;  // the failure is thrown when `unexamined` goes
      },
      [](ProcessArgs&) -> int { throw std::runtime_error("not ours"); },
  };
  for (size_t i = 0; i < bodies.size(); ++i) {
    m_handled.clear();
    m_filter.m_body = bodies[i];
    CoreResult started = m_filter.StartRun();
    ASSERT_TRUE(started.IsNull());
    const CWindowMessage end = WaitForEnd(m_window, m_handled);
    EXPECT_EQ(end.message, static_cast<UINT>(WM_RUN_FAILED)) << i;
    EXPECT_FALSE(m_filter.m_result.HasStorage()) << i;
    EXPECT_EQ(m_filter.LastExitCode(), 0) << i;
    EXPECT_FALSE(m_filter.IsRunning());
  }
}

TEST_F(FilterBaseTest, StartingWhileRunningGives101AndAbortingWaitsForTheEnd) {
  std::atomic<bool> entered{false};
  m_filter.m_body = [&entered](ProcessArgs& args) { return RunUntilAborted(args, entered); };
  CoreResult started = m_filter.StartRun();
  ASSERT_TRUE(started.IsNull());
  WaitUntil(entered);
  EXPECT_TRUE(m_filter.IsRunning());
  EXPECT_TRUE(m_filter.m_running.load());

  CoreResult again = m_filter.StartRun();
  EXPECT_EQ(ExamineResult(again), static_cast<uint32_t>(keErrInvalidArgument));
  EXPECT_EQ(m_filter.RunSerial(), 1u);

  m_filter.AbortRun();
  EXPECT_FALSE(m_filter.IsRunning());
  EXPECT_FALSE(m_filter.m_running.load());
  EXPECT_FALSE(m_filter.m_abort.load());
  EXPECT_FALSE(m_filter.m_result.HasStorage());
  // The end was posted before AbortRun returned, exactly once.
  EXPECT_EQ(m_window.QueuedCount(WM_RUN_FAILED), 1);
  EXPECT_EQ(m_window.QueuedCount(WM_RUN_DONE), 0);

  // A new run starts normally afterwards.
  m_filter.m_body = nullptr;
  m_window.PumpMessages();
  m_handled.clear();
  CoreResult restarted = m_filter.StartRun();
  ASSERT_TRUE(restarted.IsNull());
  const CWindowMessage end = WaitForEnd(m_window, m_handled);
  EXPECT_EQ(end.message, static_cast<UINT>(WM_RUN_DONE));
  EXPECT_EQ(end.lParam, 2);
}

TEST_F(FilterBaseTest, AbortingWithoutARunReturnsAtOnce) {
  m_filter.AbortRun();
  EXPECT_FALSE(m_filter.IsRunning());
  EXPECT_FALSE(m_filter.m_abort.load());
  EXPECT_EQ(m_window.QueuedCount(), 0);
}

double SteppingClock() {
  static std::atomic<int> ticks{0};
  return ++ticks;  // a second passes between any two readings
}

TEST_F(FilterBaseTest, ProgressIsPostedWithTheFilterAndThePercentage) {
  CProgressScale::SetClockForTesting(&SteppingClock);
  m_filter.m_body = [](ProcessArgs& args) {
    args.progress->SetStageCount(4);
    args.progress->GoToStage(2);
    return args.progress->Step(30);
  };
  CoreResult started = m_filter.StartRun();
  ASSERT_TRUE(started.IsNull());
  const CWindowMessage end = WaitForEnd(m_window, m_handled);
  CProgressScale::SetClockForTesting(nullptr);
  EXPECT_EQ(end.message, static_cast<UINT>(WM_RUN_DONE));
  ASSERT_EQ(m_handled.size(), 2u);
  EXPECT_EQ(m_handled[0].message, static_cast<UINT>(WM_RUN_PROGRESS));
  EXPECT_EQ(m_handled[0].wParam, reinterpret_cast<WPARAM>(static_cast<CFilterBase*>(&m_filter)));
  EXPECT_EQ(m_handled[0].lParam, 57);  // 50 + 25 * 30 / 100
  EXPECT_EQ(m_filter.LastExitCode(), 0);
}

// The done handler of a dialog: an earlier run's message must not take the
// image a later run is working on.
TEST_F(FilterBaseTest, AStaleDoneNeverTakesOverALaterRunsResult) {
  CCoreImage document;
  m_window.SetMessageHandler([&](const CWindowMessage& message) {
    m_handled.push_back(message);
    if (message.message == WM_RUN_DONE && m_filter.IsCurrentRunMessage(message)) {
      document.Reset();
      document.TakeFrom(m_filter.m_result);
    }
  });

  m_filter.m_body = [](ProcessArgs& args) {
    SetPixel(*args.result, 0, 1);
    return 0;
  };
  CoreResult first = m_filter.StartRun();
  ASSERT_TRUE(first.IsNull());
  m_filter.AbortRun();  // waits: run 1's done message is now queued, not handled
  ASSERT_EQ(m_window.QueuedCount(WM_RUN_DONE), 1);

  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
  m_filter.m_body = [&](ProcessArgs& args) {
    SetPixel(*args.result, 0, 2);
    entered = true;
    while (!release) std::this_thread::sleep_for(1ms);
    return 0;
  };
  // Holding the run's lock keeps run 2's worker from entering Process, so
  // run 1's message is handled in the gap where m_running is still false.
  m_filter.m_args.useLock = 1;
  m_filter.m_args.lock->lock();
  CoreResult second = m_filter.StartRun();
  ASSERT_TRUE(second.IsNull());
  EXPECT_FALSE(m_filter.m_running.load());
  EXPECT_FALSE(m_filter.IsCurrentRunMessage(CWindowMessage{WM_RUN_DONE, 0, 1}));
  EXPECT_FALSE(m_filter.IsCurrentRunMessage(CWindowMessage{WM_RUN_FAILED, 0, 1}));
  EXPECT_EQ(m_window.PumpMessages(), 1);
  EXPECT_FALSE(document.HasStorage());
  EXPECT_TRUE(m_filter.m_result.HasStorage());
  m_filter.m_args.lock->unlock();

  WaitUntil(entered);
  EXPECT_FALSE(m_filter.IsCurrentRunMessage(CWindowMessage{WM_RUN_DONE, 0, 2}));  // still in Process
  release = true;
  m_handled.clear();
  const CWindowMessage end = WaitForEnd(m_window, m_handled);
  EXPECT_EQ(end.lParam, 2);
  ASSERT_TRUE(document.HasStorage());
  EXPECT_EQ(Pixel(document, 0), 2);
  EXPECT_FALSE(m_filter.m_result.HasStorage());
  EXPECT_FALSE(m_filter.IsCurrentRunMessage(CWindowMessage{WM_RUN_PROGRESS, 0, 2}));
}

TEST_F(FilterBaseTest, DestroyingAFilterDuringARunAbortsAndWaits) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    auto filter = std::make_unique<CTestFilter>();
    const CColorRef colour(1, 2, 3, 4);
    CoreResult created = filter->m_source.CreateBGRA(64, 64, &colour);
    ASSERT_TRUE(created.IsNull());
    filter->SetNotifyWindow(&m_window);
    std::atomic<bool> entered{false};
    filter->m_body = [&entered](ProcessArgs& args) { return RunUntilAborted(args, entered); };
    CoreResult started = filter->StartRun();
    ASSERT_TRUE(started.IsNull());
    if (attempt % 2 == 0) WaitUntil(entered);  // otherwise it may not even have begun
    filter.reset();
    EXPECT_EQ(m_window.QueuedCount(WM_RUN_DONE) + m_window.QueuedCount(WM_RUN_FAILED), 1) << attempt;
    m_window.RemoveMessages(WM_RUN_DONE);
    m_window.RemoveMessages(WM_RUN_FAILED);
    m_window.RemoveMessages(WM_RUN_PROGRESS);
  }
}

TEST_F(FilterBaseTest, TheLockIsHeldAroundProcessWhenAsked) {
  m_filter.m_args.useLock = 1;
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
  m_filter.m_body = [&](ProcessArgs&) {
    entered = true;
    while (!release) std::this_thread::sleep_for(1ms);
    return 0;
  };
  CoreResult started = m_filter.StartRun();
  ASSERT_TRUE(started.IsNull());
  WaitUntil(entered);
  EXPECT_FALSE(m_filter.m_args.lock->try_lock());
  release = true;
  WaitForEnd(m_window, m_handled);
  m_filter.AbortRun();
  ASSERT_TRUE(m_filter.m_args.lock->try_lock());
  m_filter.m_args.lock->unlock();
}

TEST_F(FilterBaseTest, ASourceThatCannotBeCopiedIsThrownAndStartsNothing) {
  m_filter.m_source.Reset();
  EXPECT_THROW(
      {
        CoreResult started = m_filter.StartRun();
        ExamineResult(started);
      },
      CJException);
  EXPECT_FALSE(m_filter.IsRunning());
  EXPECT_EQ(m_window.QueuedCount(), 0);
}

}  // namespace
