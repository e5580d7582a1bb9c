// The image view: the picture the user works on, scaled by a zoom factor,
// scrollable, centred while it is smaller than the window, and composited
// over a checkerboard or a solid matte. It owns the zoom (a table of steps
// plus any fit value), the mapping between window points and image pixels,
// and painting through one off-screen buffer of the client size. The tools
// that only move the picture live here too: the zoom tool, the hand tool,
// the zoom commands and the wheel.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QCursor>
#include <QImage>
#include <QPoint>
#include <map>

#include "editor/model/EditorSession.h"
#include "editor/model/ViewGeometry.h"
#include "framework/dialogs/ViewDialog.h"
#include "imagecore/CoreImage.h"

class QPainter;

// A client point that is no anchor: the zoom keeps the scroll position.
inline constexpr QPoint kNoAnchor{-1, -1};

class IZoomTarget {
 public:
  virtual ~IZoomTarget() = default;
  virtual void SetZoom(double zoom, QPoint anchor) = 0;
  virtual double GetZoom() const = 0;
};

// The zoom steps, ascending.
inline constexpr int kZoomStepCount = 21;
extern const double kZoomSteps[kZoomStepCount];

// Cursor resources of the tools.
enum : int {
  IDC_ZOOM_CURSOR = 3009,
  IDC_HAND_CURSOR = 3011,
  IDC_MARK_BACKGROUND_CURSOR = 3012,
  IDC_MARK_OBJECT_CURSOR = 3013,
};

// A cursor resource (an icon-directory file of PNG pictures) as a cursor;
// the shape stands in when the resource is missing or unreadable.
QCursor LoadCursorResource(int id, Qt::CursorShape fallback);

class CImageView : public QAbstractScrollArea, public IZoomTarget {
 public:
  explicit CImageView(QWidget* parent = nullptr);
  ~CImageView() override;

  // The image to show; not owned, it must outlive the view or be replaced.
  void SetImageSource(CCoreImage* image);
  CCoreImage* ImageSource() const { return m_image; }
  // The image's pixels or size changed: the scroll range follows and the
  // whole view is painted again.
  void ImageChanged();
  // Not owned; null for none.
  void SetZoomListener(IZoomListener* listener) { m_zoomListener = listener; }
  // After creation: scroll sizes for the current zoom, and the listener is
  // told the zoom (old and new the same).
  virtual void OnInitialUpdate();

  double GetZoom() const override { return m_zoom; }
  // Sets the zoom; an anchor (a client point) brings the image pixel under
  // it to the window's centre as far as the scroll range allows. A zoom
  // that is not a positive number is refused.
  void SetZoom(double zoom, QPoint anchor = kNoAnchor) override;
  // One step through the table; nothing happens at its ends.
  void StepZoom(bool out, QPoint anchor = kNoAnchor);
  // The zoom at which the whole image fits the client area without scroll
  // bars.
  double FitZoom() const;

  // The unscaled sizes times the zoom, rounded half to even: what scrolls.
  QSize ScrollSize() const;
  QPoint ScrollPosition() const;
  // The centring offset of the scaled image.
  QPoint ImageOrigin() const;
  // In place; the image point is not clamped.
  void ClientToImage(QPoint& point) const;
  void ImageToClient(QPoint& point) const;
  // The view's state as the editor's rules read it.
  CViewGeometry Geometry() const;

  void SetMatteColours(const CMatteColours& colours);
  QColor MatteColourA() const { return m_matteColourA; }
  QColor MatteColourB() const { return m_matteColourB; }

  // A command of the tool bar or an accelerator; true when the view
  // handles it (whether or not it is enabled at the moment).
  virtual bool OnCommand(int id);

 protected:
  // The tool in use (a command id, 0 for none).
  virtual int CurrentTool() const { return 0; }
  // Drawn over the image into the off-screen buffer, in client coordinates,
  // clipped to `clip`.
  virtual void DrawOverImage(QPainter& painter, const QRect& clip);
  // The cursor of the current tool over the client area.
  virtual void UpdateCursor();
  // Keyed, so an unchanged cursor is not set again.
  void SetViewCursor(int key, const QCursor& cursor);
  void ClearViewCursor();

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  bool event(QEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  // The pointer entered or left the client area.
  virtual void OnPointerInside(bool inside);

 private:
  void UpdateScrollBars();
  void PaintImage(const QRect& clip);
  const QCursor& ToolCursor(int id);

  double m_zoom = 1.0;
  CCoreImage* m_image = nullptr;
  IZoomListener* m_zoomListener = nullptr;
  // Always on: the editor's rules map pointer positions as a centred view.
  bool m_centre = true;
  QColor m_matteColourA{255, 255, 255};
  QColor m_matteColourB{208, 205, 195};

  QImage m_buffer;  // the client area, kept between paints
  CCoreImage m_tile;  // the resampled part of the image, kept likewise
  bool m_updatingBars = false;

  bool m_handDragging = false;
  QPoint m_handPrevious;

  std::map<int, QCursor> m_cursors;
  int m_cursorKey = 0;
};
