#include "imagecore/ProgressScale.h"

#include <atomic>
#include <chrono>

namespace {

constexpr double kReportInterval = 0.2;

std::atomic<CProgressScale::ClockFunction> g_testClock{nullptr};

double SteadySeconds() {
  using Clock = std::chrono::steady_clock;
  static const Clock::time_point start = Clock::now();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

CProgressScale::CProgressScale() { InitRoot(); }

void CProgressScale::InitRoot() {
  m_range = 100;
  m_unitsPerStage = 100.0;
  m_stageCount = 1;
  m_stepCount = 100;
  m_stage = 0;
  m_step = 0;
  m_base = 0;
  m_lastValue = 0;
  m_enabled = 1;
  m_parent = this;
  m_child = nullptr;
}

void CProgressScale::SetStageCount(int count) {
  // No stage at all would divide by zero; such a scale has one stage.
  m_stageCount = count > 0 ? count : 1;
  m_unitsPerStage = static_cast<double>(m_range) / m_stageCount;
}

void CProgressScale::GoToStage(int stage) {
  // Both ends are truncated separately so that a stage's base never depends
  // on the path taken to reach it.
  m_base = m_base - static_cast<int>(m_stage * m_unitsPerStage) +
           static_cast<int>(stage * m_unitsPerStage);
  m_stage = stage;
  m_step = 0;
}

int CProgressScale::Value() {
  if (m_stepCount == 0) {
    m_lastValue = 0;
    return 0;
  }
  const int64_t product =
      static_cast<int64_t>(static_cast<int>(m_unitsPerStage)) * static_cast<int64_t>(m_step);
  const uint64_t quotient =
      static_cast<uint64_t>(product) / static_cast<uint64_t>(static_cast<int64_t>(m_stepCount));
  m_lastValue = static_cast<int>(quotient) + m_base;
  return m_lastValue;
}

void CProgressScale::BeginChild(CProgressScale* parent) {
  if (parent) {
    m_parent = parent;
    m_range = static_cast<int>(parent->m_unitsPerStage);
    m_unitsPerStage = m_range;
    m_report = parent->m_report;
    m_abortCheck = parent->m_abortCheck;
    m_owner = parent->m_owner;
    m_user[0] = parent->m_user[0];
    m_user[1] = parent->m_user[1];
    m_base = parent->m_base;
    m_lastValue = parent->m_lastValue;
    m_enabled = parent->m_enabled;
    m_suppressAbort = parent->m_suppressAbort;
    for (int i = 0; i < 3; ++i) m_flags[i] = parent->m_flags[i];
    m_stepCount = parent->m_stepCount;
    parent->m_child = this;
  } else {
    InitRoot();
    m_suppressAbort = 0;
  }
  m_lastTime = 0.0;
  m_step = 0;
  m_stage = 0;
  m_stageCount = 1;
  m_child = nullptr;
}

void CProgressScale::EndChild() {
  if (!m_parent || m_parent == this) return;
  m_parent->GoToStage(m_parent->m_stage + 1);
  m_parent->m_child = nullptr;
}

int CProgressScale::Step(int index) {
  const double now = Now();
  if (now - m_lastTime < kReportInterval) return 0;
  m_lastTime = now;
  m_step = index;
  if (m_enabled && m_report) {
    const int previous = m_lastValue;
    if (Value() != previous) {
      const int answer = m_report(*this);
      return m_suppressAbort ? 0 : answer;
    }
  }
  if (m_suppressAbort) return 0;
  return m_abortCheck ? m_abortCheck(*this) : 0;
}

double CProgressScale::Now() {
  if (ClockFunction clock = g_testClock.load()) return clock();
  return SteadySeconds();
}

double CProgressScale::Elapsed(double& previous) {
  const double now = Now();
  const double elapsed = now - previous;
  previous = now;
  return elapsed;
}

void CProgressScale::SetClockForTesting(ClockFunction clock) { g_testClock.store(clock); }
