#include "editor/ToolView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>

#include "editor/model/Commands.h"

namespace {

const QColor kBackgroundStroke(255, 100, 100);
const QColor kObjectStroke(100, 255, 100);

// The cursor key of the hidden cursor (resource keys are positive).
constexpr int kBlankCursorKey = -1;

QPoint ToQPoint(CClientPoint point) { return {point.x, point.y}; }
CClientPoint ToClientPoint(QPoint point) { return {point.x(), point.y()}; }

}  // namespace

CToolView::CToolView(QWidget* parent) : CImageView(parent) {
  // The brush outline follows the pointer without a button held.
  viewport()->setMouseTracking(true);
}

CToolView::~CToolView() {
  if (m_session) m_session->SetListener(m_forward);
}

void CToolView::SetSession(CEditorSession* session, IEditorSessionListener* forward) {
  if (m_session && m_session != session) m_session->SetListener(m_forward);
  m_session = session;
  m_forward = forward;
  if (m_session) {
    m_session->SetListener(this);
    SyncMatte();
    SetImageSource(&m_session->Displayed());
  } else {
    SetImageSource(nullptr);
  }
  SyncBrush();
  UpdateCursor();
}

int CToolView::CurrentTool() const { return m_session ? m_session->Tool() : 0; }

bool CToolView::IsMarkingTool() const {
  const int tool = CurrentTool();
  return tool == ID_TOOL_MARK_BACKGROUND || tool == ID_TOOL_MARK_OBJECT;
}

// ---- The session's requests ---------------------------------------------------

void CToolView::Repaint(bool erase) {
  if (m_session) SyncMatte();
  SyncBrush();
  ImageChanged();
  if (m_forward) m_forward->Repaint(erase);
}

void CToolView::ShowStatus(int kind) {
  // A tool was chosen (also by Ctrl, or because the manual tool went away).
  SyncBrush();
  UpdateCursor();
  if (m_forward) m_forward->ShowStatus(kind);
}

void CToolView::FocusStrength() {
  if (m_forward) m_forward->FocusStrength();
}

void CToolView::ProgressChanged(int percent) {
  if (m_forward) m_forward->ProgressChanged(percent);
}

void CToolView::SyncMatte() { SetMatteColours(MatteColoursFor(m_session->ShowMatSelection())); }

void CToolView::SyncBrush() {
  if (!m_brushActive) return;
  if (CurrentTool() == ID_TOOL_MANUAL && m_session->Brush()) return;
  m_brushActive = false;
  InvalidateBrush(m_brushPoint);
}

// ---- Commands and keys --------------------------------------------------------

void CToolView::UpdateViewCommand(int id, bool& enabled, bool& checked) {
  enabled = true;
  checked = false;
  if (!m_session) return;
  switch (id) {
    case ID_DELETE_ALL_MARKS: enabled = m_session->IsDeleteAllMarksEnabled(); break;
    case ID_RESET: enabled = m_session->IsResetEnabled(); break;
    case ID_UNDO: enabled = m_session->IsUndoEnabled(); break;
    case ID_REDO: enabled = m_session->IsRedoEnabled(); break;
    case ID_TOOL_ZOOM:
    case ID_TOOL_HAND:
    case ID_TOOL_MARK_BACKGROUND:
    case ID_TOOL_MARK_OBJECT:
    case ID_TOOL_MANUAL:
      enabled = m_session->IsToolEnabled(id);
      checked = m_session->IsToolChecked(id);
      break;
    default: break;
  }
}

bool CToolView::OnCommand(int id) {
  if (CImageView::OnCommand(id)) return true;
  if (!m_session) return false;
  switch (id) {
    case ID_TOOL_ZOOM:
    case ID_TOOL_HAND:
    case ID_TOOL_MARK_BACKGROUND:
    case ID_TOOL_MARK_OBJECT:
    case ID_TOOL_MANUAL:
      m_session->SelectTool(id);
      break;
    case ID_DELETE_ALL_MARKS:
      m_session->DeleteAllMarks();
      break;
    case ID_RESET:
      m_session->Reset();
      break;
    case ID_UNDO:
      m_session->Undo();
      break;
    case ID_REDO:
      m_session->Redo();
      break;
    default:
      return false;
  }
  SyncBrush();
  UpdateCursor();
  return true;
}

void CToolView::OnCtrlKey(bool down) {
  if (!m_session) return;
  if (down) {
    m_session->CtrlDown(Geometry());
  } else {
    m_session->CtrlUp(Geometry());
  }
  // A switch in the middle of a drag starts the other kind of stroke.
  viewport()->update();
  UpdateCursor();
}

void CToolView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Control) {
    if (!event->isAutoRepeat()) OnCtrlKey(true);
    event->accept();
    return;
  }
  CImageView::keyPressEvent(event);
}

void CToolView::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Control) {
    if (!event->isAutoRepeat()) OnCtrlKey(false);
    event->accept();
    return;
  }
  CImageView::keyReleaseEvent(event);
}

// ---- Pointer ------------------------------------------------------------------

void CToolView::mousePressEvent(QMouseEvent* event) {
  if (!m_session) return CImageView::mousePressEvent(event);
  const QPoint point = event->position().toPoint();
  const Qt::MouseButton button = event->button();
  if (CurrentTool() == ID_TOOL_MANUAL) {
    if ((button == Qt::LeftButton || button == Qt::RightButton) && !m_session->IsBusy()) {
      TrackBrush(point);
      m_session->ManualPress(Geometry(), ToClientPoint(point), button == Qt::RightButton);
      InvalidateBrush(m_previousBrushPoint);
      InvalidateBrush(point);
      m_previousBrushPoint = point;
    }
    event->accept();
    return;
  }
  if (IsMarkingTool() && button == Qt::LeftButton) {
    const bool object = CurrentTool() == ID_TOOL_MARK_OBJECT;
    if (m_session->MarkPress(Geometry(), ToClientPoint(point))) {
      const std::vector<CMarkPoint>& points = m_session->Document().Points(object);
      if (!points.empty()) InvalidateStroke(points.back(), points.back());
    }
    event->accept();
    return;
  }
  CImageView::mousePressEvent(event);
}

void CToolView::mouseMoveEvent(QMouseEvent* event) {
  if (!m_session) return CImageView::mouseMoveEvent(event);
  const QPoint point = event->position().toPoint();
  const Qt::MouseButtons buttons = event->buttons();
  if (CurrentTool() == ID_TOOL_MANUAL) {
    if (!m_session->IsBusy()) {
      TrackBrush(point);
      m_session->ManualMove(Geometry(), ToClientPoint(point), buttons & Qt::LeftButton,
                            buttons & Qt::RightButton);
      InvalidateBrush(m_previousBrushPoint);
      InvalidateBrush(point);
      m_previousBrushPoint = point;
    }
    return;
  }
  if (IsMarkingTool() && (buttons & Qt::LeftButton)) {
    UpdateCursor();
    const CMarkMove move = m_session->MarkMove(Geometry(), ToClientPoint(point));
    if (move.recorded) InvalidateStroke(move.drawLine ? move.from : move.to, move.to);
    return;
  }
  CImageView::mouseMoveEvent(event);
}

void CToolView::mouseReleaseEvent(QMouseEvent* event) {
  if (!m_session) return CImageView::mouseReleaseEvent(event);
  const Qt::MouseButton button = event->button();
  if (CurrentTool() == ID_TOOL_MANUAL) {
    if (button == Qt::LeftButton || button == Qt::RightButton) {
      m_session->ManualRelease(button == Qt::RightButton);
    }
    return;
  }
  if (IsMarkingTool() && button == Qt::LeftButton) {
    m_session->MarkRelease();
    return;
  }
  CImageView::mouseReleaseEvent(event);
}

void CToolView::OnPointerInside(bool inside) {
  if (!inside && m_brushActive) {
    m_brushActive = false;
    InvalidateBrush(m_brushPoint);
  }
  UpdateCursor();
}

void CToolView::TrackBrush(QPoint pointer) {
  const bool inside = viewport()->rect().contains(pointer);
  if (m_brushActive && !inside) InvalidateBrush(m_brushPoint);
  m_brushActive = inside && m_session->Brush() != nullptr;
  m_brushPoint = pointer;
  UpdateCursor();
}

void CToolView::UpdateCursor() {
  if (CurrentTool() != ID_TOOL_MANUAL) return CImageView::UpdateCursor();
  if (m_brushActive) {
    SetViewCursor(kBlankCursorKey, QCursor(Qt::BlankCursor));
  } else {
    ClearViewCursor();
  }
}

// ---- Invalidation ---------------------------------------------------------------

void CToolView::InvalidateBrush(QPoint centre) {
  const int diameter = m_session && m_session->Brush() ? m_session->Brush()->Diameter()
                                                       : (m_session ? m_session->BrushSize() : 0);
  const double zoom = GetZoom();
  // The outline reaches half the scaled diameter from the centre; the dab's
  // whole image pixels may reach a screen pixel of the zoom further.
  const int reach = static_cast<int>(std::trunc(diameter * zoom)) +
                    static_cast<int>(std::ceil(zoom)) + 2;
  viewport()->update(QRect(centre.x() - reach, centre.y() - reach, 2 * reach + 1, 2 * reach + 1));
}

void CToolView::InvalidateStroke(CMarkPoint from, CMarkPoint to) {
  const CViewGeometry view = Geometry();
  const QPoint a = ToQPoint(MarkPixelToClient(view, from));
  const QPoint b = ToQPoint(MarkPixelToClient(view, to));
  const int pad = std::max(1, static_cast<int>(std::trunc(view.zoom))) / 2 + 2;
  viewport()->update(QRect(a, b).normalized().adjusted(-pad, -pad, pad, pad));
}

// ---- Drawing --------------------------------------------------------------------

void CToolView::DrawOverImage(QPainter& painter, const QRect& clip) {
  if (!m_session) return;
  const CViewGeometry view = Geometry();
  const int width = std::max(1, static_cast<int>(std::trunc(view.zoom)));
  const CMatteDocument& document = m_session->Document();
  DrawStrokes(painter, view, document.Points(false), kBackgroundStroke, width, clip);
  DrawStrokes(painter, view, document.Points(true), kObjectStroke, width, clip);
  if (CurrentTool() == ID_TOOL_MANUAL && m_brushActive && m_session->Brush()) {
    DrawBrushOutline(painter);
  }
}

// Each stroke is a polyline through its samples' window points; a closing
// pair starts the next stroke, whose first sample shows as a dot. Where a
// sample lies in the window does not matter: strokes run on beyond the
// edges and the painter clips them.
void CToolView::DrawStrokes(QPainter& painter, const CViewGeometry& view,
                            const std::vector<CMarkPoint>& points, const QColor& colour, int width,
                            const QRect& clip) const {
  if (points.size() < 2) return;
  painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  const int pad = width / 2 + 1;
  auto segment = [&](QPoint from, QPoint to) {
    if (!QRect(from, to).normalized().adjusted(-pad, -pad, pad, pad).intersects(clip)) return;
    if (from == to) {
      painter.drawPoint(from);
    } else {
      painter.drawLine(from, to);
    }
  };
  auto client = [&](CMarkPoint pixel) { return ToQPoint(MarkPixelToClient(view, pixel)); };

  bool open = points[0].x >= 0;
  QPoint current;
  if (open) {
    current = client(points[0]);
    segment(current, current);
  }
  for (size_t i = 1; i < points.size(); ++i) {
    if (points[i].x < 0) {
      open = false;
      continue;
    }
    const QPoint next = client(points[i]);
    segment(open ? current : next, next);
    current = next;
    open = true;
  }
}

// Drawn inverting, so it shows on any picture.
void CToolView::DrawBrushOutline(QPainter& painter) const {
  const CBrushOutline outline =
      m_session->Brush()->OutlineOnScreen(m_brushPoint.x(), m_brushPoint.y(), GetZoom());
  painter.save();
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter.setPen(QPen(Qt::white, 0));
  painter.setBrush(Qt::NoBrush);
  QPolygon polygon;
  polygon.reserve(static_cast<int>(outline.polyline.size()));
  for (const CMarkPoint& point : outline.polyline) polygon << QPoint(point.x, point.y);
  painter.drawPolyline(polygon);
  for (int i = 0; i < 2; ++i) {
    painter.drawLine(QPoint(outline.crossFrom[i].x, outline.crossFrom[i].y),
                     QPoint(outline.crossTo[i].x, outline.crossTo[i].y));
  }
  painter.restore();
}
