#include "editor/model/EditHistory.h"

#include <set>
#include <utility>

namespace {

// Adds up storage not seen before, each piece once.
class CStorageTally {
 public:
  explicit CStorageTally(const CDocumentState& current) {
    for (const CCoreImage* image : Images(current)) m_seen.insert(image->StorageId());
    m_seen.insert(current.prevMatte.get());
    m_seen.insert(current.marks.generation.get());
    m_seen.insert(current.allMarks.generation.get());
    m_bytes += CJournaledMarks::JournalBytes(current.marks);
    m_bytes += CJournaledMarks::JournalBytes(current.allMarks);
  }

  void Add(const CDocumentState& state) {
    for (const CCoreImage* image : Images(state)) {
      if (Unseen(image->StorageId())) m_bytes += image->StorageBytes();
    }
    if (state.prevMatte && Unseen(state.prevMatte.get())) {
      m_bytes += state.prevMatte->Stride() * static_cast<size_t>(state.prevMatte->Height());
    }
    for (const CJournaledMarks::CVersion* marks : {&state.marks, &state.allMarks}) {
      if (marks->generation && Unseen(marks->generation.get())) {
        m_bytes += marks->generation->image.StorageBytes() + CJournaledMarks::JournalBytes(*marks);
      }
    }
    m_bytes += (state.bgPoints.capacity() + state.objPoints.capacity()) * sizeof(CMarkPoint);
  }

  size_t Bytes() const { return m_bytes; }

 private:
  static std::vector<const CCoreImage*> Images(const CDocumentState& state) {
    return {&state.work, &state.base, &state.resultImage, &state.displayed};
  }
  bool Unseen(const void* id) { return id && m_seen.insert(id).second; }

  std::set<const void*> m_seen;
  size_t m_bytes = 0;
};

}  // namespace

void CEditHistory::Record(CEditorState before) {
  m_redo.clear();
  m_undo.push_back(std::move(before));
  Trim(m_undo.back().document);
}

CEditorState CEditHistory::Undo(CEditorState current) {
  CEditorState back = std::move(m_undo.back());
  m_undo.pop_back();
  m_redo.push_back(std::move(current));
  return back;
}

CEditorState CEditHistory::Redo(CEditorState current) {
  CEditorState forward = std::move(m_redo.back());
  m_redo.pop_back();
  m_undo.push_back(std::move(current));
  return forward;
}

void CEditHistory::Clear() {
  m_undo.clear();
  m_redo.clear();
}

size_t CEditHistory::Bytes(const CDocumentState& current) const {
  CStorageTally tally(current);
  for (const CEditorState& state : m_undo) tally.Add(state.document);
  for (const CEditorState& state : m_redo) tally.Add(state.document);
  return tally.Bytes();
}

void CEditHistory::Trim(const CDocumentState& current) {
  while (!m_undo.empty() &&
         (StepCount() > m_limits.steps || Bytes(current) > m_limits.bytes)) {
    m_undo.pop_front();
  }
}
