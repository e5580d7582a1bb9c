// Undo and redo: the states before each of the user's steps. A step is one
// marking stroke, Delete All Marks, Reset, a completed run or one stroke of
// the manual brush; panel values are settings, not steps.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <memory>
#include <set>
#include <vector>

#include "editor/model/CompactImage.h"
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

// How much history is kept: the oldest steps go first (the newest stays
// whatever it holds).
struct CHistoryLimits {
  size_t bytes = size_t{1} << 30;
  size_t steps = 100;
};

class CEditHistory {
 public:
  explicit CEditHistory(CHistoryLimits limits = {}) : m_limits(limits) {}

  // The layer the editor opened on: pictures that differ from it only in
  // their alpha are kept as that alpha. Forgets every step.
  void Open(const CCoreImage& layer);

  // A new step begins from `before`, the state as it is now; the steps
  // undone until now can no longer be redone. The states handed in are
  // taken: the caller's are left empty, so that what only the history
  // holds is known (images are copied, not moved, between states).
  void Record(CEditorState&& before);
  bool CanUndo() const { return !m_undo.empty(); }
  bool CanRedo() const { return !m_redo.empty(); }
  // The state to go back (or forward) to; `current` is kept for the way back.
  CEditorState Undo(CEditorState&& current);
  CEditorState Redo(CEditorState&& current);
  void Clear();
  // After a step has changed the document: pictures nobody but the history
  // holds any more are made compact.
  void Compact();

  size_t StepCount() const { return m_undo.size() + m_redo.size(); }
  // The bytes the kept states hold that `current` does not: images shared
  // with it or with each other count once, the marks' journal always.
  size_t Bytes(const CDocumentState& current) const;

 private:
  // A state as kept: a picture only the history holds may be compact, its
  // image then empty.
  struct CKeptState {
    CEditorState state;
    std::array<std::shared_ptr<const CCompactImage>, 4> compact;
  };

  CEditorState Expand(CKeptState& kept) const;
  static CKeptState Take(CEditorState& state);
  void Trim(const CDocumentState& current);
  template <class Fn>
  void ForEachKept(Fn&& fn);

  CHistoryLimits m_limits;
  CCoreImage m_layer;
  std::deque<CKeptState> m_undo;  // oldest first
  std::vector<CKeptState> m_redo;  // next to redo last
  // Storage found not to be the layer's colours, so not looked at again.
  std::set<const void*> m_notCompact;
};
