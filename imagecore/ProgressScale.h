// Nested progress meter over 0..100. A scale divides its range into stages;
// a child scale covers one stage of its parent, so nested algorithms report
// into one continuous value. Step() reports at most every 0.2 s and answers
// non-zero when the computation must stop.
#pragma once

#include <cstdint>

class CProgressScale {
 public:
  // Both callbacks answer non-zero to ask the computation to stop.
  using Callback = int (*)(CProgressScale& scale);
  using ClockFunction = double (*)();

  // A fresh scale is a root with the defaults of InitRoot and no callbacks.
  CProgressScale();
  CProgressScale(const CProgressScale&) = delete;
  CProgressScale& operator=(const CProgressScale&) = delete;

  void InitRoot();
  void SetReportCallback(Callback callback) { m_report = callback; }
  void SetAbortCheck(Callback callback) { m_abortCheck = callback; }
  void SetStageCount(int count);
  void SetStepCount(int count) { m_stepCount = count; }
  void GoToStage(int stage);
  // The current value; also remembered as the last reported value.
  int Value();

  // Covers the parent's current stage, or becomes a root when parent is null.
  void BeginChild(CProgressScale* parent);
  // Moves the parent on to its next stage and detaches from it.
  void EndChild();
  int Step(int index);

  void SetEnabled(bool enabled) { m_enabled = enabled ? 1 : 0; }
  bool IsEnabled() const { return m_enabled != 0; }
  void SetSuppressAbort(bool suppress) { m_suppressAbort = suppress ? 1 : 0; }
  bool SuppressesAbort() const { return m_suppressAbort != 0; }
  uint8_t Flag(int i) const { return m_flags[i]; }
  void SetFlag(int i, uint8_t value) { m_flags[i] = value; }

  void SetOwner(void* owner) { m_owner = owner; }
  void* Owner() const { return m_owner; }
  void SetUserWord(int i, uintptr_t value) { m_user[i] = value; }
  uintptr_t UserWord(int i) const { return m_user[i]; }

  CProgressScale* Parent() const { return m_parent; }
  CProgressScale* Child() const { return m_child; }
  bool IsRoot() const { return m_parent == this; }
  int Range() const { return m_range; }
  double UnitsPerStage() const { return m_unitsPerStage; }
  int StageCount() const { return m_stageCount; }
  int Stage() const { return m_stage; }
  int StepIndex() const { return m_step; }
  int StepCount() const { return m_stepCount; }
  int Base() const { return m_base; }
  int LastValue() const { return m_lastValue; }

  // Process-wide clock: seconds since its first use.
  static double Now();
  // Seconds since previous, which then becomes the current time.
  static double Elapsed(double& previous);
  // Replaces the clock (null restores the real one), so throttling can be
  // tested without waiting.
  static void SetClockForTesting(ClockFunction clock);

 private:
  uint8_t m_enabled = 1;
  uint8_t m_suppressAbort = 0;
  uint8_t m_flags[3] = {0, 1, 1};  // not interpreted here; handed on to children
  void* m_owner = nullptr;
  CProgressScale* m_parent = this;
  CProgressScale* m_child = nullptr;
  double m_lastTime = 0.0;
  double m_unitsPerStage = 100.0;
  int m_lastValue = 0;
  int m_range = 100;
  int m_stage = 0;
  int m_step = 0;
  int m_stepCount = 100;
  int m_base = 0;
  int m_stageCount = 1;
  Callback m_report = nullptr;
  Callback m_abortCheck = nullptr;
  uintptr_t m_user[2] = {0, 0};
};
