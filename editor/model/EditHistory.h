// Undo and redo: the states before each of the user's steps. A step is one
// marking stroke, Delete All Marks, Reset, a completed run or one stroke of
// the manual brush; panel values are settings, not steps.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "engine/MatteDocument.h"

// What the editor shows and enables besides the document.
struct CEditorControls {
  int display = 0;
  bool listsEnabled = false;
  bool okEnabled = false;
  bool applyEnabled = false;
  bool manualAllowed = true;
  int modified = 0;
  int pressCount = 0;
  int releaseCount = 0;
};

struct CEditorState {
  CDocumentState document;
  CEditorControls controls;
};

// How much history is kept: the oldest steps go first.
struct CHistoryLimits {
  size_t bytes = size_t{1} << 30;
  size_t steps = 100;
};

class CEditHistory {
 public:
  explicit CEditHistory(CHistoryLimits limits = {}) : m_limits(limits) {}

  // A new step begins from `before`, the state as it is now; the steps
  // undone until now can no longer be redone.
  void Record(CEditorState before);
  bool CanUndo() const { return !m_undo.empty(); }
  bool CanRedo() const { return !m_redo.empty(); }
  // The state to go back (or forward) to; `current` is kept for the way back.
  CEditorState Undo(CEditorState current);
  CEditorState Redo(CEditorState current);
  void Clear();

  size_t StepCount() const { return m_undo.size() + m_redo.size(); }
  // The bytes the kept states hold that `current` does not: images shared
  // with it or with each other count once, the marks' journal always.
  size_t Bytes(const CDocumentState& current) const;

 private:
  void Trim(const CDocumentState& current);

  CHistoryLimits m_limits;
  std::deque<CEditorState> m_undo;  // oldest first
  std::vector<CEditorState> m_redo;  // next to redo last
};
