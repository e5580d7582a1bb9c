// The document the engine shares with the editor: marks, stroke lists and
// the working images. It needs no display; the editor's view builds on it.
//
// Threads: the editor's thread calls the operations and reads through the
// accessors; a run's worker calls only SnapshotForRun and PublishRun. Every
// operation takes the document's lock itself, so the worker never sees half
// an operation. A run's snapshot shares the document's images rather than
// copying them: storage that is shared is never written (whoever writes
// takes a copy of its own first), so each side keeps seeing its own state. The accessors are for the editor's thread: for what
// only it changes, and for what a run publishes once that run has ended.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/JournaledMarks.h"
#include "engine/MattePipeline.h"
#include "engine/Plane.h"
#include "imagecore/CoreImage.h"

struct CMarkPoint {
  int x;
  int y;
  bool operator==(const CMarkPoint&) const = default;
};

// Closes a stroke in a point list.
inline constexpr CMarkPoint kStrokeEnd{-1, -1};

// A kind's stroke points. Between clears the list only grows at its end,
// so an earlier state of it is a prefix, kept as a length on the same
// storage: saving one costs nothing however many points there are.
class CPointList {
 public:
  struct CVersion {
    std::shared_ptr<std::vector<CMarkPoint>> storage;  // null: no points
    size_t count = 0;
  };

  CPointList() : m_points(std::make_shared<std::vector<CMarkPoint>>()) {}

  const std::vector<CMarkPoint>& Points() const { return *m_points; }
  // Only ever at the storage's end: the versions sharing it read before it.
  void Append(CMarkPoint point) { m_points->push_back(point); }
  // New storage; the versions keep the old one.
  void Clear() { m_points = std::make_shared<std::vector<CMarkPoint>>(); }
  CVersion Version() const { return {m_points, m_points->size()}; }
  // The list as it was at `version`. Its storage is taken up again only
  // where the version ends it; a prefix is copied, since points were
  // appended after it that the list must not show or write over.
  void Restore(const CVersion& version);

 private:
  std::shared_ptr<std::vector<CMarkPoint>> m_points;
};

// Everything the document is at one moment, for going back to it. The
// images share the document's storage (which neither side then writes in
// place) and the marks are versions of their journal, so a state costs
// little more than what changes after it.
struct CDocumentState {
  CJournaledMarks::CVersion marks;
  CJournaledMarks::CVersion allMarks;
  CPointList::CVersion bgPoints;
  CPointList::CVersion objPoints;
  CCoreImage work;
  CCoreImage base;
  std::shared_ptr<const CPlane> prevMatte;
  int prevStrength = 0;
  int combineMode = 0;
  CCoreImage resultImage;
  CCoreImage displayed;  // the image the view shows
  CAppliedMarks applied;
};

class CMatteDocument {
 public:
  // (work, original, result): what a manual brush stroke changes and reads.
  // The work is the document's own to write in place; the result may be
  // shared and is replaced whole (CopyFrom), never written in place.
  using WorkEdit = std::function<void(CCoreImage& work, CCoreImage& original, CCoreImage& result)>;

  CMatteDocument();
  virtual ~CMatteDocument();

  // Opening the editor on the layer; `displayed` is the image the view shows
  // (the holder's image), which Reset and the end of a manual stroke use.
  void Open(const CCoreImage& original, CCoreImage* displayed);

  // ---- Marking ------------------------------------------------------------

  // Creates the marks when there are none and sets the combination mode.
  void BeginMarkStroke(bool object);
  // One sampled position in image pixels; outside positions land on the edge.
  void MarkPoint(bool object, int x, int y);
  void EndMarkStroke(bool object);
  // Creates the marks when there are none, keeping the combination mode.
  void EnsureMarks();
  // Ends the stroke open in that kind's point list, if any.
  void CloseStroke(bool object);
  // Adds a point to the object list without marking it.
  void RecordObjectPoint(CMarkPoint point);
  // The next run starts from the work image as it is now.
  void CommitBase();
  void DeleteAllMarks();
  void Reset();
  void OnTexturedClicked(bool nowChecked);

  // Holds the lock over several operations, so a run starting meanwhile
  // sees all of them or none.
  std::unique_lock<std::recursive_mutex> Hold() const {
    return std::unique_lock<std::recursive_mutex>(m_lock);
  }

  // ---- Manual edits -----------------------------------------------------

  // Calls `edit` under the lock; the original is only read.
  void EditWork(const WorkEdit& edit);
  // After a manual brush stroke; a recover stroke first makes every
  // non-zero alpha of the work opaque.
  void EndManualStroke(bool recover);

  // ---- Runs (the worker) ------------------------------------------------

  // The run's inputs, sharing the document's storage; the previous matte
  // and the marks of all strokes only where the parameters need them.
  CRunInputs SnapshotForRun(const CRunParameters& params) const;
  // What the run reached; a finished run's result is shared with `result`,
  // a run too small for the layer shows a copy of it.
  void PublishRun(ERunEnd end, CRunOutputs& outputs, CCoreImage& result);

  // ---- States (the editor's thread) --------------------------------------

  CDocumentState SaveState() const;
  // The document, and the displayed image, exactly as at SaveState.
  void RestoreState(const CDocumentState& state);

  // ---- Reading (the editor's thread) -------------------------------------

  void CopyOriginalTo(CCoreImage& image) const;
  void CopyResultTo(CCoreImage& image) const;
  bool HasMarks() const { return m_marks.Exists(); }
  int Width() const { return m_work.Width(); }
  int Height() const { return m_work.Height(); }
  const std::vector<CMarkPoint>& Points(bool object) const {
    return (object ? m_objPoints : m_bgPoints).Points();
  }
  const CCoreImage* Marks() const { return m_marks.Image(); }
  const CCoreImage* AllMarks() const { return m_allMarks.Image(); }
  const CCoreImage& Work() const { return m_work; }
  const CCoreImage& Base() const { return m_base; }
  const CCoreImage& Original() const { return m_original; }
  const CCoreImage& ResultImage() const { return m_resultImage; }
  const CPlane* PrevMatte() const { return m_prevMatte.get(); }
  int PrevStrength() const { return m_prevStrength; }
  int CombineMode() const { return m_combineMode; }
  const CAppliedMarks& Applied() const { return m_applied; }

 private:
  void CreateMarks();
  void ClearMarks();
  void TakePrevMatteFromWork();
  void CommitBaseLocked();
  // Before the work is written in place.
  void OwnWork();

  mutable std::recursive_mutex m_lock;
  CJournaledMarks m_marks;
  CJournaledMarks m_allMarks;
  CPointList m_bgPoints;
  CPointList m_objPoints;
  CCoreImage m_work;
  CCoreImage m_base;
  std::shared_ptr<const CPlane> m_prevMatte;
  int m_prevStrength = 0;
  int m_combineMode = 0;
  CCoreImage m_resultImage;
  CCoreImage m_original;  // shares the layer's storage
  CCoreImage* m_displayed = nullptr;
  CAppliedMarks m_applied;
};
