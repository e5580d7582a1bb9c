// The document the engine shares with the editor: marks, stroke lists and
// the working images. It needs no display; the editor's view builds on it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "imagecore/CoreImage.h"

struct CMarkPoint {
  int x;
  int y;
  bool operator==(const CMarkPoint&) const = default;
};

// Closes a stroke in a point list.
inline constexpr CMarkPoint kStrokeEnd{-1, -1};

class CMatteDocument {
 public:
  CMatteDocument();
  virtual ~CMatteDocument();

  // Opening the editor on the layer; `displayed` is the image the view shows
  // (the holder's image), which Reset and the end of a manual stroke use.
  void Open(const CCoreImage& original, CCoreImage* displayed);

  void BeginMarkStroke(bool object);
  // One sampled position in image pixels; outside positions land on the edge.
  void MarkPoint(bool object, int x, int y);
  void EndMarkStroke(bool object);
  void DeleteAllMarks();
  void Reset();
  void OnTexturedClicked(bool nowChecked);
  // After a manual brush stroke; a recover stroke first makes every
  // non-zero alpha of m_work opaque.
  void EndManualStroke(bool recover);

  bool HasMarks() const { return m_marks != nullptr; }

  // Held by whoever reads or changes the marks, point lists or m_work while
  // a run may be working on another thread.
  std::recursive_mutex& Lock() { return m_lock; }

  // The members the engine reads and writes.
  std::unique_ptr<CCoreImage> m_marks;
  std::unique_ptr<CCoreImage> m_allMarks;
  std::vector<CMarkPoint> m_bgPoints;
  std::vector<CMarkPoint> m_objPoints;
  CCoreImage m_work;
  CCoreImage m_base;
  std::unique_ptr<CCoreImage> m_prevMatte;
  int m_prevStrength = 0;
  int m_combineMode = 0;
  CCoreImage m_resultImage;
  CCoreImage m_original;  // shares the layer's storage
  CCoreImage* m_displayed = nullptr;
  unsigned m_appliedBgPoints = 0;
  unsigned m_appliedObjPoints = 0;
  bool m_appliedTextured = false;
  bool m_appliedFillHoles = false;

 private:
  std::recursive_mutex m_lock;
};
