#include "editor/model/EditHistory.h"

#include <map>
#include <utility>

namespace {

// The four pictures of a state, in the order of CKeptState::compact.
template <class State>
auto PicturesOf(State& state) {
  return std::array{&state.work, &state.base, &state.resultImage, &state.displayed};
}

// Adds up storage not seen before, each piece once.
class CStorageTally {
 public:
  explicit CStorageTally(const CDocumentState& current) {
    for (const CCoreImage* image : PicturesOf(current)) m_seen.insert(image->StorageId());
    m_seen.insert(current.prevMatte.get());
    m_seen.insert(current.marks.generation.get());
    m_seen.insert(current.allMarks.generation.get());
    m_seen.insert(current.bgPoints.storage.get());
    m_seen.insert(current.objPoints.storage.get());
    m_bytes += CJournaledMarks::JournalBytes(current.marks);
    m_bytes += CJournaledMarks::JournalBytes(current.allMarks);
  }

  void Add(const CDocumentState& state,
           const std::array<std::shared_ptr<const CCompactImage>, 4>& compact) {
    for (const CCoreImage* image : PicturesOf(state)) {
      if (Unseen(image->StorageId())) m_bytes += image->StorageBytes();
    }
    for (const auto& picture : compact) {
      if (picture && Unseen(picture.get())) m_bytes += picture->Bytes();
    }
    if (state.prevMatte && Unseen(state.prevMatte.get())) m_bytes += PlaneBytes(*state.prevMatte);
    for (const CJournaledMarks::CVersion* marks : {&state.marks, &state.allMarks}) {
      if (marks->generation && Unseen(marks->generation.get())) {
        m_bytes += marks->generation->image.StorageBytes() + CJournaledMarks::JournalBytes(*marks);
      }
    }
    // Point lists share their storage with later states: each counts once.
    for (const CPointList::CVersion* points : {&state.bgPoints, &state.objPoints}) {
      if (Unseen(points->storage.get())) {
        m_bytes += points->storage->capacity() * sizeof(CMarkPoint);
      }
    }
  }

  size_t Bytes() const { return m_bytes; }

 private:
  static size_t PlaneBytes(const CPlane& plane) {
    return plane.Stride() * static_cast<size_t>(plane.Height());
  }
  bool Unseen(const void* id) { return id && m_seen.insert(id).second; }

  std::set<const void*> m_seen;
  size_t m_bytes = 0;
};

}  // namespace

template <class Fn>
void CEditHistory::ForEachKept(Fn&& fn) {
  for (CKeptState& kept : m_undo) fn(kept);
  for (CKeptState& kept : m_redo) fn(kept);
}

void CEditHistory::Open(const CCoreImage& layer) {
  Clear();
  if (layer.HasStorage()) {
    ThrowIfFailed(m_layer.ShareFrom(layer));
  } else {
    m_layer.Reset();
  }
}

CEditHistory::CKeptState CEditHistory::Take(CEditorState& state) {
  CKeptState kept{state, {}};
  state = CEditorState();
  return kept;
}

void CEditHistory::Record(CEditorState&& before) {
  m_redo.clear();
  m_undo.push_back(Take(before));
  Compact();
  // The state recorded is the document as it is now; it is never dropped.
  Trim(m_undo.back().state.document);
}

CEditorState CEditHistory::Undo(CEditorState&& current) {
  CKeptState back = m_undo.back();
  m_undo.pop_back();
  m_redo.push_back(Take(current));
  return Expand(back);
}

CEditorState CEditHistory::Redo(CEditorState&& current) {
  CKeptState forward = m_redo.back();
  m_redo.pop_back();
  m_undo.push_back(Take(current));
  return Expand(forward);
}

void CEditHistory::Clear() {
  m_undo.clear();
  m_redo.clear();
  m_notCompact.clear();
}

CEditorState CEditHistory::Expand(CKeptState& kept) const {
  // Pictures that were one storage are one storage again.
  std::map<const CCompactImage*, const CCoreImage*> expanded;
  const std::array<CCoreImage*, 4> pictures = PicturesOf(kept.state.document);
  for (size_t i = 0; i < pictures.size(); ++i) {
    const CCompactImage* compact = kept.compact[i].get();
    if (!compact) continue;
    const auto [at, fresh] = expanded.emplace(compact, pictures[i]);
    if (fresh) {
      ExpandOnto(*compact, m_layer, *pictures[i]);
    } else {
      ThrowIfFailed(pictures[i]->ShareFrom(*at->second));
    }
  }
  return kept.state;
}

void CEditHistory::Compact() {
  if (!m_layer.HasStorage()) return;
  struct CHolders {
    int count = 0;
    std::vector<std::pair<CKeptState*, size_t>> slots;
  };
  std::map<const void*, CHolders> byStorage;
  ForEachKept([&](CKeptState& kept) {
    const std::array<CCoreImage*, 4> pictures = PicturesOf(kept.state.document);
    for (size_t i = 0; i < pictures.size(); ++i) {
      if (!pictures[i]->HasStorage()) continue;
      CHolders& holders = byStorage[pictures[i]->StorageId()];
      ++holders.count;
      holders.slots.emplace_back(&kept, i);
    }
  });
  std::set<const void*> stillFull;
  for (auto& [id, holders] : byStorage) {
    const auto [first, slot] = holders.slots.front();
    const CCoreImage& image = *PicturesOf(first->state.document)[slot];
    // Held by the document or a run as well: compacting would save nothing.
    if (image.StorageHolders() != holders.count) continue;
    if (m_notCompact.count(id)) {
      stillFull.insert(id);
      continue;
    }
    std::shared_ptr<const CCompactImage> compact = CompactAgainst(image, m_layer);
    if (!compact) {
      stillFull.insert(id);
      continue;
    }
    for (const auto& [kept, index] : holders.slots) {
      kept->compact[index] = compact;
      PicturesOf(kept->state.document)[index]->Reset();
    }
  }
  m_notCompact = std::move(stillFull);
}

size_t CEditHistory::Bytes(const CDocumentState& current) const {
  CStorageTally tally(current);
  for (const CKeptState& kept : m_undo) tally.Add(kept.state.document, kept.compact);
  for (const CKeptState& kept : m_redo) tally.Add(kept.state.document, kept.compact);
  return tally.Bytes();
}

void CEditHistory::Trim(const CDocumentState& current) {
  while (m_undo.size() > 1 &&
         (StepCount() > m_limits.steps || Bytes(current) > m_limits.bytes)) {
    m_undo.pop_front();
  }
}
