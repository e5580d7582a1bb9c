// The image view with the editor's tools: marking strokes with the two
// marking tools and Ctrl switching, the manual erase/recover brush with its
// outline in place of the cursor, Delete All Marks and Reset. What each
// action does to the document is the editor session's; the view turns
// pointer positions into its calls, draws the strokes and the brush over the
// picture, and repaints when the session asks.
#pragma once

#include <QPoint>
#include <vector>

#include "editor/EditorDialog.h"
#include "editor/ImageView.h"
#include "editor/model/EditorSession.h"

class CToolView : public CImageView, public IEditorSessionListener, public IEditorView {
 public:
  explicit CToolView(QWidget* parent = nullptr);
  ~CToolView() override;

  // The session whose document the view marks and whose displayed image it
  // shows (it becomes the image source). The view becomes the session's
  // listener and passes every call on to `forward` (the window around it:
  // status line, focus, progress), after its own repaint. Neither is owned;
  // both must outlive the view, which hands the session back to `forward`
  // when it goes (or when another session is set).
  void SetSession(CEditorSession* session, IEditorSessionListener* forward = nullptr) override;
  CEditorSession* Session() const { return m_session; }

  // Zoom commands, tool buttons, Delete All Marks and Reset.
  bool OnCommand(int id) override;
  // The Ctrl key, wherever it was pressed (the window routes it here while
  // the pointer is over the view).
  void OnCtrlKey(bool down);

  // The brush outline is shown at this client point.
  bool IsBrushActive() const { return m_brushActive; }
  QPoint BrushPoint() const { return m_brushPoint; }

  // IEditorView: what the editor window needs of its view.
  QWidget* ViewWidget() override { return this; }
  void SetZoomListener(IZoomListener* listener) override { CImageView::SetZoomListener(listener); }
  void OnInitialUpdate() override { CImageView::OnInitialUpdate(); }
  bool OnViewCommand(int id) override { return OnCommand(id); }
  void UpdateViewCommand(int id, bool& enabled, bool& checked) override;
  void OnViewCtrlKey(bool down) override { OnCtrlKey(down); }
  void OnViewWheel(QWheelEvent* event) override { wheelEvent(event); }
  void ZoomToFit() override { SetZoom(FitZoom(), kNoAnchor); }

  // IEditorSessionListener.
  void Repaint(bool erase) override;
  void ShowStatus(int kind) override;
  void FocusStrength() override;
  void ProgressChanged(int percent) override;

 protected:
  int CurrentTool() const override;
  void DrawOverImage(QPainter& painter, const QRect& clip) override;
  void UpdateCursor() override;
  void OnPointerInside(bool inside) override;

  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  bool IsMarkingTool() const;
  void DrawStrokes(QPainter& painter, const CViewGeometry& view,
                   const std::vector<CMarkPoint>& points, const QColor& colour, int width,
                   const QRect& clip) const;
  void DrawBrushOutline(QPainter& painter) const;
  // The pointer's place for the brush: inside the client area the outline
  // replaces the cursor.
  void TrackBrush(QPoint pointer);
  // The brush outline and its dab around a client point need painting.
  void InvalidateBrush(QPoint centre);
  // The stroke between two image pixels needs painting.
  void InvalidateStroke(CMarkPoint from, CMarkPoint to);
  // The brush is gone once another tool is current.
  void SyncBrush();
  void SyncMatte();

  CEditorSession* m_session = nullptr;
  IEditorSessionListener* m_forward = nullptr;
  bool m_brushActive = false;
  QPoint m_brushPoint;
  QPoint m_previousBrushPoint;
};
