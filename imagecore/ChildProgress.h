// A stage's own progress scale, covering the caller's current stage for as
// long as the stage runs, also when it stops early.
#pragma once

#include "imagecore/ProgressScale.h"

class CChildProgress {
 public:
  // `stages` 0 keeps the scale's one stage.
  CChildProgress(CProgressScale* parent, int steps, int stages = 0) {
    m_scale.BeginChild(parent);
    if (stages > 0) m_scale.SetStageCount(stages);
    m_scale.SetStepCount(steps);
  }
  ~CChildProgress() { m_scale.EndChild(); }
  CChildProgress(const CChildProgress&) = delete;
  CChildProgress& operator=(const CChildProgress&) = delete;

  void Stage(int stage) { m_scale.GoToStage(stage); }
  // For a nested stage that reports into this one's current stage.
  CProgressScale* Scale() { return &m_scale; }
  // True when the computation must stop at this step.
  bool Stop(int step) { return m_scale.Step(step) != 0; }

 private:
  CProgressScale m_scale;
};
