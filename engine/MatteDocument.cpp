#include "engine/MatteDocument.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "engine/ImageChannels.h"
#include "engine/Marks.h"
#include "imagecore/RowLease.h"

using Guard = std::lock_guard<std::recursive_mutex>;

void CPointList::Restore(const CVersion& version) {
  if (!version.storage) {
    Clear();
  } else if (version.storage->size() == version.count) {
    m_points = version.storage;
  } else {
    m_points = std::make_shared<std::vector<CMarkPoint>>(
        version.storage->begin(),
        version.storage->begin() + static_cast<std::ptrdiff_t>(version.count));
  }
}

CMatteDocument::CMatteDocument() = default;
CMatteDocument::~CMatteDocument() = default;

void CMatteDocument::Open(const CCoreImage& original, CCoreImage* displayed) {
  Guard lock(m_lock);
  m_original.AssignFrom(original);
  m_displayed = displayed;
  // An alpha that is all 0 and 255 already, as every opaque photo's is,
  // leaves the work equal to the original: it shares the original's storage
  // until a run or a brush writes it.
  ThrowIfFailed(m_work.SnapshotFrom(m_original));
  if (!AlphaIsBinary(m_work)) {
    OwnWork();
    BinarizeAlpha(m_work);
  }
  CommitBaseLocked();
  TakePrevMatteFromWork();
  m_prevStrength = 0;
  m_combineMode = 0;
  m_allMarks.Drop();
  ClearMarks();
  m_applied = CAppliedMarks();
  m_resultImage.Reset();
}

void CMatteDocument::CreateMarks() {
  // The marks of all strokes go only with the marks of this round, so when
  // they are missing both start empty.
  if (!m_marks.Exists()) m_marks.Create(m_work.Width(), m_work.Height());
  if (!m_allMarks.Exists()) m_allMarks.Create(m_work.Width(), m_work.Height());
}

// The marks of this round go; those of all strokes stay for Fill Holes.
void CMatteDocument::ClearMarks() {
  m_marks.Drop();
  m_bgPoints.Clear();
  m_objPoints.Clear();
  m_applied.bgPointCount = 0;
  m_applied.objPointCount = 0;
}

void CMatteDocument::TakePrevMatteFromWork() {
  m_prevMatte = std::make_shared<const CPlane>(AlphaPlane(m_work));
}

// The base shares the work's storage until either is written.
void CMatteDocument::CommitBaseLocked() { ThrowIfFailed(m_base.ShareFrom(m_work)); }

void CMatteDocument::OwnWork() { ThrowIfFailed(m_work.OwnStorage()); }

void CMatteDocument::BeginMarkStroke(bool object) {
  Guard lock(m_lock);
  CreateMarks();
  m_combineMode = object ? 1 : 0;
}

void CMatteDocument::EnsureMarks() {
  Guard lock(m_lock);
  CreateMarks();
}

void CMatteDocument::MarkPoint(bool object, int x, int y) {
  Guard lock(m_lock);
  if (!m_marks.Exists() || !m_allMarks.Exists()) return;
  x = std::clamp(x, 0, m_marks.Image()->Width() - 1);
  y = std::clamp(y, 0, m_marks.Image()->Height() - 1);
  const uint8_t mark = object ? keMarkObject : keMarkBackground;
  m_marks.Set(x, y, mark);
  m_allMarks.Set(x, y, mark);
  (object ? m_objPoints : m_bgPoints).Append({x, y});
}

void CMatteDocument::CloseStroke(bool object) {
  Guard lock(m_lock);
  CPointList& list = object ? m_objPoints : m_bgPoints;
  const std::vector<CMarkPoint>& points = list.Points();
  if (!points.empty() && points.back().x >= 0) list.Append(kStrokeEnd);
}

void CMatteDocument::RecordObjectPoint(CMarkPoint point) {
  Guard lock(m_lock);
  m_objPoints.Append(point);
}

void CMatteDocument::CommitBase() {
  Guard lock(m_lock);
  CommitBaseLocked();
}

void CMatteDocument::EndMarkStroke(bool object) {
  Guard lock(m_lock);
  CloseStroke(object);
  m_combineMode = object ? 1 : 0;
  CommitBaseLocked();
}

void CMatteDocument::DeleteAllMarks() {
  Guard lock(m_lock);
  ClearMarks();
  m_prevStrength = 0;
  CommitBaseLocked();
}

void CMatteDocument::Reset() {
  Guard lock(m_lock);
  ClearMarks();
  m_allMarks.Drop();
  m_prevStrength = 0;
  if (m_displayed) ThrowIfFailed(m_displayed->CopyFrom(m_original));
  ThrowIfFailed(m_work.CopyFrom(m_original));
  MakeOpaque(m_work);
  CommitBaseLocked();
  TakePrevMatteFromWork();
}

void CMatteDocument::OnTexturedClicked(bool nowChecked) {
  Guard lock(m_lock);
  m_combineMode = nowChecked ? 0 : 1;
}

void CMatteDocument::EditWork(const WorkEdit& edit) {
  Guard lock(m_lock);
  OwnWork();
  edit(m_work, m_original, m_resultImage);
}

void CMatteDocument::EndManualStroke(bool recover) {
  Guard lock(m_lock);
  if (recover) {
    OwnWork();
    BinarizeAlpha(m_work);
  }
  CommitBaseLocked();
  TakePrevMatteFromWork();
  if (m_displayed) ThrowIfFailed(m_resultImage.CopyFrom(*m_displayed));
}

CRunInputs CMatteDocument::SnapshotForRun(const CRunParameters& params) const {
  Guard lock(m_lock);
  CRunInputs in;
  in.params = params;
  ThrowIfFailed(in.base.ShareFrom(m_base));
  if (m_marks.Exists()) ThrowIfFailed(in.marks.emplace().ShareFrom(*m_marks.Image()));
  // Only Fill Holes reads the marks of all strokes.
  if (m_allMarks.Exists() && params.fillHoles) {
    ThrowIfFailed(in.allMarks.emplace().ShareFrom(*m_allMarks.Image()));
  }
  in.prevMatte = m_prevMatte;
  in.prevStrength = m_prevStrength;
  in.combineMode = m_combineMode;
  in.bgPointCount = static_cast<unsigned>(m_bgPoints.Points().size());
  in.objPointCount = static_cast<unsigned>(m_objPoints.Points().size());
  return in;
}

void CMatteDocument::PublishRun(ERunEnd end, CRunOutputs& out, CCoreImage& result) {
  Guard lock(m_lock);
  m_work.TakeFrom(out.work);
  m_prevMatte = std::move(out.prevMatte);
  m_prevStrength = out.prevStrength;
  if (out.applied) m_applied = *out.applied;
  if (!out.resultReady) return;
  // Shared, not copied: the editor gives the displayed image storage of
  // its own before drawing on it.
  if (end == ERunEnd::kTooSmall) {
    ThrowIfFailed(m_resultImage.CopyFrom(result));
  } else {
    m_resultImage.AssignFrom(result);
  }
}

namespace {

// A share of the image's storage, or nothing when it has none.
void ShareInto(CCoreImage& target, const CCoreImage& source) {
  if (source.HasStorage()) {
    ThrowIfFailed(target.ShareFrom(source));
  } else {
    target.Reset();
  }
}

}  // namespace

CDocumentState CMatteDocument::SaveState() const {
  Guard lock(m_lock);
  CDocumentState state;
  state.marks = m_marks.Version();
  state.allMarks = m_allMarks.Version();
  state.bgPoints = m_bgPoints.Version();
  state.objPoints = m_objPoints.Version();
  ShareInto(state.work, m_work);
  ShareInto(state.base, m_base);
  state.prevMatte = m_prevMatte;
  state.prevStrength = m_prevStrength;
  state.combineMode = m_combineMode;
  ShareInto(state.resultImage, m_resultImage);
  if (m_displayed) ShareInto(state.displayed, *m_displayed);
  state.applied = m_applied;
  return state;
}

void CMatteDocument::RestoreState(const CDocumentState& state) {
  Guard lock(m_lock);
  m_marks.Restore(state.marks);
  m_allMarks.Restore(state.allMarks);
  m_bgPoints.Restore(state.bgPoints);
  m_objPoints.Restore(state.objPoints);
  ShareInto(m_work, state.work);
  ShareInto(m_base, state.base);
  m_prevMatte = state.prevMatte;
  m_prevStrength = state.prevStrength;
  m_combineMode = state.combineMode;
  ShareInto(m_resultImage, state.resultImage);
  if (m_displayed) ShareInto(*m_displayed, state.displayed);
  m_applied = state.applied;
}

void CMatteDocument::CopyOriginalTo(CCoreImage& image) const {
  Guard lock(m_lock);
  ThrowIfFailed(image.CopyFrom(m_original));
}

void CMatteDocument::CopyResultTo(CCoreImage& image) const {
  Guard lock(m_lock);
  ThrowIfFailed(image.CopyFrom(m_resultImage));
}
