#include "editor/ImageView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "editor/QtDeviceContext.h"
#include "editor/model/Commands.h"
#include "editor/model/ViewRenderer.h"
#include "platform/ResourceFormats.h"

const double kZoomSteps[kZoomStepCount] = {
    1.0 / 10, 1.0 / 9, 1.0 / 8, 1.0 / 7, 1.0 / 6, 1.0 / 5, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3, 1.0,
    1.5,      2.0,     3.0,     4.0,     5.0,     6.0,     7.0,     8.0,     9.0,     10.0,
};

namespace {

// Far-off or absurd values stay convertible; nothing that large is shown.
int ToInt(double value) {
  constexpr double kLimit = 1 << 30;
  if (std::isnan(value)) return 0;
  return static_cast<int>(std::clamp(value, -kLimit, kLimit));
}

void ToRgb(const QColor& colour, unsigned char out[3]) {
  out[0] = static_cast<unsigned char>(colour.red());
  out[1] = static_cast<unsigned char>(colour.green());
  out[2] = static_cast<unsigned char>(colour.blue());
}

}  // namespace

QCursor LoadCursorResource(int id, Qt::CursorShape fallback) {
  CIconPicture picture;
  if (LoadCursorPicture(id, picture)) {
    QPixmap pixmap;
    if (pixmap.loadFromData(picture.png.data(), static_cast<uint>(picture.png.size()), "PNG")) {
      return QCursor(pixmap, picture.hotspotX, picture.hotspotY);
    }
  }
  return QCursor(fallback);
}

CImageView::CImageView(QWidget* parent) : QAbstractScrollArea(parent) {
  // Every pixel of the client area is painted from the buffer: the system
  // must not erase it first, or zooming and scrolling would flicker.
  viewport()->setAutoFillBackground(false);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

CImageView::~CImageView() = default;

void CImageView::SetImageSource(CCoreImage* image) {
  m_image = image;
  UpdateScrollBars();
  viewport()->update();
}

void CImageView::ImageChanged() {
  UpdateScrollBars();
  viewport()->update();
}

void CImageView::OnInitialUpdate() {
  UpdateScrollBars();
  if (m_zoomListener) m_zoomListener->OnZoomChanged(m_zoom, m_zoom);
}

// ---- Zoom -------------------------------------------------------------------

void CImageView::SetZoom(double zoom, QPoint anchor) {
  if (!(zoom > 0) || !std::isfinite(zoom)) return;
  const double oldZoom = m_zoom;
  const bool anchored = anchor != kNoAnchor;
  // The pixel under the anchor, as the old zoom shows it.
  QPoint pixel = anchor;
  if (anchored) ClientToImage(pixel);

  m_zoom = zoom;
  UpdateScrollBars();
  if (anchored) {
    ImageToClient(pixel);
    const QSize content = ScrollSize();
    const QSize client = viewport()->size();
    const QPoint scroll = ScrollPosition();
    int x = pixel.x() + scroll.x() - client.width() / 2;
    int y = pixel.y() + scroll.y() - client.height() / 2;
    if (x < 0 || content.width() < client.width()) x = 0;
    if (y < 0 || content.height() < client.height()) y = 0;
    // The scroll bars keep the target within the range.
    horizontalScrollBar()->setValue(x);
    verticalScrollBar()->setValue(y);
  }
  viewport()->update();
  if (m_zoomListener) m_zoomListener->OnZoomChanged(zoom, oldZoom);
}

void CImageView::StepZoom(bool out, QPoint anchor) {
  double found = 0;
  if (out) {
    for (int i = kZoomStepCount - 1; i >= 0 && found == 0; --i) {
      if (kZoomSteps[i] < m_zoom) found = kZoomSteps[i];
    }
  } else {
    for (int i = 0; i < kZoomStepCount && found == 0; ++i) {
      if (kZoomSteps[i] > m_zoom) found = kZoomSteps[i];
    }
  }
  if (found == 0 || found == m_zoom) return;
  SetZoom(found, anchor);
}

double CImageView::FitZoom() const {
  if (!m_image || m_image->Width() <= 0 || m_image->Height() <= 0) return m_zoom;
  // The client area as it is once the fitted image needs no scroll bars.
  const int frame = 2 * frameWidth();
  const double W = width() - frame;
  const double H = height() - frame;
  if (W <= 0 || H <= 0) return m_zoom;
  const double w = m_image->Width();
  const double h = m_image->Height();
  return w / h < W / H ? H / h : W / w;
}

// ---- Geometry ---------------------------------------------------------------

QSize CImageView::ScrollSize() const {
  if (!m_image || !m_image->HasStorage()) return {0, 0};
  // nearbyint rounds as the current mode says: to nearest, ties to even.
  return {ToInt(std::nearbyint(m_image->Width() * m_zoom)),
          ToInt(std::nearbyint(m_image->Height() * m_zoom))};
}

QPoint CImageView::ScrollPosition() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

QPoint CImageView::ImageOrigin() const {
  if (!m_image || !m_image->HasStorage()) return {0, 0};
  const CClientPoint origin =
      ScaledImageOrigin(m_zoom, m_image->Width(), m_image->Height(), viewport()->width(),
                        viewport()->height(), m_centre);
  return {origin.x, origin.y};
}

void CImageView::ClientToImage(QPoint& point) const {
  const QPoint scroll = ScrollPosition();
  const QPoint origin = ImageOrigin();
  const double inverse = 1 / m_zoom;
  point = QPoint(
      ToInt(std::trunc((static_cast<double>(point.x()) + scroll.x() - origin.x()) * inverse)),
      ToInt(std::trunc((static_cast<double>(point.y()) + scroll.y() - origin.y()) * inverse)));
}

void CImageView::ImageToClient(QPoint& point) const {
  const QPoint scroll = ScrollPosition();
  const QPoint origin = ImageOrigin();
  point = QPoint(ToInt(std::trunc(m_zoom * point.x())) - scroll.x() + origin.x(),
                 ToInt(std::trunc(m_zoom * point.y())) - scroll.y() + origin.y());
}

CViewGeometry CImageView::Geometry() const {
  CViewGeometry view;
  const QPoint scroll = ScrollPosition();
  view.scrollX = scroll.x();
  view.scrollY = scroll.y();
  view.clientWidth = viewport()->width();
  view.clientHeight = viewport()->height();
  view.zoom = m_zoom;
  if (m_image && m_image->HasStorage()) {
    view.imageWidth = m_image->Width();
    view.imageHeight = m_image->Height();
  }
  return view;
}

void CImageView::SetMatteColours(const CMatteColours& colours) {
  const QColor a(colours.a[0], colours.a[1], colours.a[2]);
  const QColor b(colours.b[0], colours.b[1], colours.b[2]);
  if (a == m_matteColourA && b == m_matteColourB) return;
  m_matteColourA = a;
  m_matteColourB = b;
  viewport()->update();
}

// The bars are decided here rather than by Qt, from the whole inner size, so
// that the client area is settled before anyone maps a point through it.
void CImageView::UpdateScrollBars() {
  if (m_updatingBars) return;
  m_updatingBars = true;
  const QSize content = ScrollSize();
  const int frame = 2 * frameWidth();
  const int fullWidth = std::max(0, width() - frame);
  const int fullHeight = std::max(0, height() - frame);
  const int barHeight = horizontalScrollBar()->sizeHint().height();
  const int barWidth = verticalScrollBar()->sizeHint().width();
  bool needH = content.width() > fullWidth;
  bool needV = content.height() > fullHeight;
  if (needH && !needV) needV = content.height() > fullHeight - barHeight;
  if (needV && !needH) needH = content.width() > fullWidth - barWidth;
  setHorizontalScrollBarPolicy(needH ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(needV ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  const int clientWidth = std::max(1, fullWidth - (needV ? barWidth : 0));
  const int clientHeight = std::max(1, fullHeight - (needH ? barHeight : 0));

  QScrollBar* h = horizontalScrollBar();
  h->setRange(0, needH ? std::max(0, content.width() - clientWidth) : 0);
  h->setPageStep(clientWidth);
  h->setSingleStep(std::max(1, clientWidth / 10));
  QScrollBar* v = verticalScrollBar();
  v->setRange(0, needV ? std::max(0, content.height() - clientHeight) : 0);
  v->setPageStep(clientHeight);
  v->setSingleStep(std::max(1, clientHeight / 10));
  m_updatingBars = false;
}

// ---- Painting ---------------------------------------------------------------

void CImageView::paintEvent(QPaintEvent* event) {
  const QRect client = viewport()->rect();
  const QRect clip = event->rect() & client;
  if (clip.isEmpty()) return;
  if (m_buffer.size() != client.size() || m_buffer.format() != QImage::Format_RGB32) {
    m_buffer = QImage(client.size(), QImage::Format_RGB32);
  }
  {
    QPainter painter(&m_buffer);
    painter.fillRect(clip, viewport()->palette().color(viewport()->backgroundRole()));
  }
  PaintImage(clip);
  {
    QPainter painter(&m_buffer);
    painter.setClipRect(clip);
    DrawOverImage(painter, clip);
  }
  QPainter target(viewport());
  target.drawImage(clip.topLeft(), m_buffer, clip);
}

// Only the part of the image under the clip box is resampled; the result
// goes into the buffer through the core's drawing, strip by strip.
void CImageView::PaintImage(const QRect& clip) {
  if (!m_image || !m_image->HasStorage()) return;
  const QPoint scroll = ScrollPosition();
  const QPoint origin = ImageOrigin();
  CViewPaint paint;
  paint.zoom = m_zoom;
  // The renderer works in scrolled coordinates, as the view's own context.
  paint.origin = {origin.x(), origin.y()};
  paint.scrollX = scroll.x();
  paint.scrollY = scroll.y();
  paint.clientWidth = viewport()->width();
  paint.clientHeight = viewport()->height();
  paint.clip = {clip.left() + scroll.x(), clip.top() + scroll.y(), clip.right() + 1 + scroll.x(),
                clip.bottom() + 1 + scroll.y()};
  ToRgb(m_matteColourA, paint.matte.a);
  ToRgb(m_matteColourB, paint.matte.b);
  CViewPaintArea area;
  CoreResult rendered = RenderView(*m_image, paint, m_tile, area);
  // A picture that cannot be shown leaves the window colour; nothing to report.
  if (ExamineResult(rendered) != 0 || area.IsEmpty()) return;
  CQtDeviceContext dc(m_buffer);
  dc.SetViewportOrigin(-scroll.x(), -scroll.y());
  const CoreRect source{0, 0, area.destination.Width(), area.destination.Height()};
  CoreResult drawn = m_tile.Draw(dc, source, area.destination, SRCCOPY);
  ExamineResult(drawn);
}

void CImageView::DrawOverImage(QPainter& /*painter*/, const QRect& /*clip*/) {}

void CImageView::scrollContentsBy(int /*dx*/, int /*dy*/) {
  // The whole area is painted again: the checkerboard moves with the image,
  // but what lies over it is drawn where the pointer is.
  viewport()->update();
}

bool CImageView::event(QEvent* event) {
  const bool handled = QAbstractScrollArea::event(event);
  if (event->type() == QEvent::Resize || event->type() == QEvent::StyleChange) UpdateScrollBars();
  return handled;
}

void CImageView::resizeEvent(QResizeEvent* /*event*/) { UpdateScrollBars(); }

// ---- Pointer ----------------------------------------------------------------

void CImageView::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  switch (CurrentTool()) {
    case ID_TOOL_ZOOM:
      if (event->button() == Qt::LeftButton) StepZoom(false, point);
      if (event->button() == Qt::RightButton) StepZoom(true, point);
      break;
    case ID_TOOL_HAND:
      if (event->button() == Qt::LeftButton) {
        m_handDragging = true;
        m_handPrevious = point;
      }
      break;
    default:
      break;
  }
  event->accept();
}

void CImageView::mouseMoveEvent(QMouseEvent* event) {
  UpdateCursor();
  if (!m_handDragging) return;
  if (!(event->buttons() & Qt::LeftButton)) {
    m_handDragging = false;
    return;
  }
  const QPoint point = event->position().toPoint();
  const QSize content = ScrollSize();
  const QSize client = viewport()->size();
  const QPoint target = ScrollPosition() + m_handPrevious - point;
  horizontalScrollBar()->setValue(
      std::clamp(target.x(), 0, std::max(0, content.width() - client.width())));
  verticalScrollBar()->setValue(
      std::clamp(target.y(), 0, std::max(0, content.height() - client.height())));
  m_handPrevious = point;
}

void CImageView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) m_handDragging = false;
}

void CImageView::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  // A touchpad's begin and end of a gesture carry no vertical roll.
  if (delta != 0) StepZoom(delta < 0, event->position().toPoint());
  event->accept();
}

bool CImageView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Enter) OnPointerInside(true);
  if (event->type() == QEvent::Leave) OnPointerInside(false);
  return QAbstractScrollArea::viewportEvent(event);
}

void CImageView::OnPointerInside(bool /*inside*/) { UpdateCursor(); }

bool CImageView::OnCommand(int id) {
  switch (id) {
    case ID_ZOOM_IN:
      StepZoom(false);
      return true;
    case ID_ZOOM_OUT:
      StepZoom(true);
      return true;
    default:
      return false;
  }
}

// ---- Cursors ----------------------------------------------------------------

const QCursor& CImageView::ToolCursor(int id) {
  auto found = m_cursors.find(id);
  if (found == m_cursors.end()) {
    const Qt::CursorShape fallback = id == IDC_HAND_CURSOR ? Qt::OpenHandCursor : Qt::CrossCursor;
    found = m_cursors.emplace(id, LoadCursorResource(id, fallback)).first;
  }
  return found->second;
}

void CImageView::UpdateCursor() {
  int id = 0;
  switch (CurrentTool()) {
    case ID_TOOL_ZOOM: id = IDC_ZOOM_CURSOR; break;
    case ID_TOOL_HAND: id = IDC_HAND_CURSOR; break;
    case ID_TOOL_MARK_BACKGROUND: id = IDC_MARK_BACKGROUND_CURSOR; break;
    case ID_TOOL_MARK_OBJECT: id = IDC_MARK_OBJECT_CURSOR; break;
    default: break;
  }
  if (id == 0) {
    ClearViewCursor();
  } else {
    SetViewCursor(id, ToolCursor(id));
  }
}

void CImageView::SetViewCursor(int key, const QCursor& cursor) {
  if (m_cursorKey == key) return;
  m_cursorKey = key;
  viewport()->setCursor(cursor);
}

void CImageView::ClearViewCursor() {
  if (m_cursorKey == 0) return;
  m_cursorKey = 0;
  viewport()->unsetCursor();
}
