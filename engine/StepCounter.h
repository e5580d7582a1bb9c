// Numbers a run's steps for its progress and turns an abort, seen at any
// step, into one exception that the run catches once.
#pragma once

#include "imagecore/ProgressScale.h"

// Thrown by CStepCounter::Next when the run was asked to stop.
struct CRunAborted {};

class CStepCounter {
 public:
  explicit CStepCounter(CProgressScale& progress) : m_progress(progress) {}

  // Reports the next step (the first is 1); throws CRunAborted when the
  // run is to stop there.
  void Next() {
    if (m_progress.Step(++m_step) != 0) throw CRunAborted{};
  }
  int Reported() const { return m_step; }

 private:
  CProgressScale& m_progress;
  int m_step = 0;
};
