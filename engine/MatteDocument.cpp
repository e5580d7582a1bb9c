#include "engine/MatteDocument.h"

#include <algorithm>

#include "engine/ImageChannels.h"
#include "engine/Marks.h"

CMatteDocument::CMatteDocument() = default;
CMatteDocument::~CMatteDocument() = default;

void CMatteDocument::Open(const CCoreImage& original, CCoreImage* displayed) {
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  m_original.AssignFrom(original);
  m_displayed = displayed;
  m_work.CopyFrom(m_original);
  BinarizeAlpha(m_work);
  m_base.CopyFrom(m_work);
  m_prevMatte = std::make_unique<CCoreImage>();
  ExtractAlpha(m_work, *m_prevMatte);
  m_prevStrength = 0;
  m_combineMode = 0;
  m_marks.reset();
  m_allMarks.reset();
  m_bgPoints.clear();
  m_objPoints.clear();
  m_appliedBgPoints = 0;
  m_appliedObjPoints = 0;
  m_appliedTextured = false;
  m_appliedFillHoles = false;
  m_resultImage.Reset();
}

void CMatteDocument::BeginMarkStroke(bool object) {
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  if (!m_marks) {
    m_marks = std::make_unique<CCoreImage>();
    m_marks->CreateGrey(m_work.Width(), m_work.Height());
    FillGrey(*m_marks, keMarkNone);
  }
  if (!m_allMarks) {
    m_allMarks = std::make_unique<CCoreImage>();
    m_allMarks->CopyFrom(*m_marks);
  }
  m_combineMode = object ? 1 : 0;
}

void CMatteDocument::MarkPoint(bool object, int x, int y) {
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  if (!m_marks || !m_allMarks) return;
  x = std::clamp(x, 0, m_marks->Width() - 1);
  y = std::clamp(y, 0, m_marks->Height() - 1);
  const uint8_t mark = object ? keMarkObject : keMarkBackground;
  for (CCoreImage* image : {m_marks.get(), m_allMarks.get()}) {
    uint8_t* pixel = nullptr;
    image->GetRow(y, x, 1, pixel);
    *pixel = mark;
    image->ReleaseRow(y);
  }
  (object ? m_objPoints : m_bgPoints).push_back({x, y});
}

void CMatteDocument::EndMarkStroke(bool object) {
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  std::vector<CMarkPoint>& points = object ? m_objPoints : m_bgPoints;
  if (!points.empty() && points.back().x >= 0) points.push_back(kStrokeEnd);
  m_combineMode = object ? 1 : 0;
  m_base.CopyFrom(m_work);
}

void CMatteDocument::DeleteAllMarks() {
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  m_marks.reset();
  m_bgPoints.clear();
  m_objPoints.clear();
  m_appliedBgPoints = 0;
  m_appliedObjPoints = 0;
  m_prevStrength = 0;
  m_base.CopyFrom(m_work);
}

void CMatteDocument::Reset() {
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  m_marks.reset();
  m_allMarks.reset();
  m_bgPoints.clear();
  m_objPoints.clear();
  m_appliedBgPoints = 0;
  m_appliedObjPoints = 0;
  m_prevStrength = 0;
  if (m_displayed) m_displayed->CopyFrom(m_original);
  m_work.CopyFrom(m_original);
  MakeOpaque(m_work);
  m_base.CopyFrom(m_work);
  if (!m_prevMatte) m_prevMatte = std::make_unique<CCoreImage>();
  ExtractAlpha(m_work, *m_prevMatte);
}

void CMatteDocument::OnTexturedClicked(bool nowChecked) {
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  m_combineMode = nowChecked ? 0 : 1;
}

void CMatteDocument::EndManualStroke(bool recover) {
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  if (recover) BinarizeAlpha(m_work);
  m_base.CopyFrom(m_work);
  if (!m_prevMatte) m_prevMatte = std::make_unique<CCoreImage>();
  ExtractAlpha(m_work, *m_prevMatte);
  if (m_displayed) m_resultImage.CopyFrom(*m_displayed);
}
