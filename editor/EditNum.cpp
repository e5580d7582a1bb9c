#include "editor/EditNum.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionFrame>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>

namespace {

constexpr int kFrame = 2;         // the container's frame inside its rectangle
constexpr int kButtonWidth = 15;
constexpr int kTrackInset = 3;    // the slider's track starts this far in
constexpr int kSliderHeight = 20;

std::string ToStd(const QString& text) { return text.toStdString(); }

}  // namespace

CEditNum::CEditNum(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setFocusPolicy(Qt::StrongFocus);
  m_settleTimer.setSingleShot(true);
  connect(&m_settleTimer, &QTimer::timeout, this, [this] { OnSettleTimer(); });
}

CEditNum::~CEditNum() {
  m_notify = nullptr;
  disconnect(qApp, nullptr, this, nullptr);
  if (m_slider) m_slider->deleteLater();
}

bool CEditNum::Create(int id, QWidget* replaced, double minimum, double maximum, double value,
                      int formatKind, int sliderScale, int sliderLength, int settleTime,
                      bool hasSlider, bool force) {
  if (!replaced || !replaced->parentWidget() || formatKind != 3) return false;
  QWidget* parent = replaced->parentWidget();
  setParent(parent);
  setGeometry(replaced->geometry());
  setObjectName(QString::number(id));
  // Same place in the tab order and the z-order as the replaced edit.
  QWidget::setTabOrder(replaced, this);
  stackUnder(replaced);
  delete replaced;

  m_id = id;
  m_sliderScale = sliderScale;
  m_sliderLength = sliderLength == -1 ? 100 : sliderLength;
  m_settleTime = settleTime;
  m_hasSlider = hasSlider;

  m_edit = new QLineEdit(this);
  m_edit->setObjectName(QString::number(kEditNumInnerEditId));
  m_edit->setFrame(false);
  m_edit->setFont(parent->font());
  m_edit->installEventFilter(this);
  setFocusProxy(m_edit);
  connect(m_edit, &QLineEdit::textChanged, this, [this] { OnTextChanged(); });
  if (hasSlider) {
    m_button = new QToolButton(this);
    m_button->setObjectName(QString::number(kEditNumButtonId));
    m_button->setArrowType(Qt::DownArrow);
    m_button->setFocusPolicy(Qt::ClickFocus);
    m_button->setAutoRaise(true);
    connect(m_button, &QToolButton::pressed, this, [this] { OpenSlider(QCursor::pos()); });
  }
  // Focus moves in and out of the control as a whole.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* from, QWidget* to) {
    const bool wasHere = BelongsHere(from);
    const bool isHere = BelongsHere(to);
    if (!wasHere && isHere) Send(EN_SETFOCUS);
    if (wasHere && !isHere) Send(EN_KILLFOCUS);
  });

  // Placed as at creation; a later resize uses the resize layout.
  const QRect inside = rect().adjusted(kFrame, kFrame, -kFrame, -kFrame);
  m_edit->setGeometry(inside.left(), inside.top(), inside.width() - 18, inside.height());
  if (m_button) {
    m_button->setGeometry(inside.right() + 1 - kButtonWidth, inside.top(), kButtonWidth,
                          inside.height());
  }
  m_field = CNumericField(static_cast<int>(minimum), static_cast<int>(maximum),
                          static_cast<int>(minimum));
  SetValue(value, force, false);
  setToolTip(QString());
  show();
  return true;
}

void CEditNum::LayoutChildren() {
  if (!m_edit) return;
  const QRect client = rect();
  m_edit->setGeometry(3, 3, std::max(0, client.width() - 38), std::max(0, client.height() - 6));
  if (m_button) {
    m_button->setGeometry(client.width() - kFrame - kButtonWidth, kFrame, kButtonWidth,
                          std::max(0, client.height() - 2 * kFrame));
  }
}

void CEditNum::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  LayoutChildren();
}

void CEditNum::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    LayoutChildren();
  }
}

QString CEditNum::Text() const { return m_edit ? m_edit->text() : QString(); }

void CEditNum::SetText(const QString& text) {
  if (m_edit) m_edit->setText(text);
}

double CEditNum::GetValue() {
  m_field.SetText(ToStd(Text()));
  return m_field.GetValue();
}

int CEditNum::GetInt() {
  m_field.SetText(ToStd(Text()));
  return m_field.GetInt();
}

void CEditNum::SetRange(double minimum, double maximum) {
  const double current = ReadNumberText(ToStd(Text()));
  const double oldValue = m_field.Value();
  m_field = CNumericField(static_cast<int>(minimum), static_cast<int>(maximum),
                          static_cast<int>(minimum));
  m_field.SetValue(oldValue);
  if (current < minimum || current > maximum) {
    SetValue(current < minimum ? minimum : maximum, true, true);
    update();
  }
}

void CEditNum::SetValue(double value, bool force, bool notify) {
  const QString oldText = Text();
  const double oldValue = ReadNumberText(ToStd(oldText));
  m_field.SetValue(value);
  if (!m_edit || (m_edit->hasFocus() && !force)) return;
  const QString newText = QString::fromStdString(CNumericField::Format(m_field.Value()));
  if (newText == oldText && !force) return;
  m_notifyChange = notify && oldValue != m_field.Value();
  const int selectionStart = m_edit->selectionStart();
  const int selectionLength = m_edit->selectionLength();
  const int cursor = m_edit->cursorPosition();
  if (newText == oldText) {
    // A text set to itself still counts as a change, as an edit reports it.
    OnTextChanged();
  } else {
    m_edit->setText(newText);
  }
  if (newText != oldText) {
    m_edit->setCursorPosition(static_cast<int>(newText.size()));
  } else if (selectionStart >= 0) {
    m_edit->setSelection(selectionStart, selectionLength);
  } else {
    m_edit->setCursorPosition(cursor);
  }
}

void CEditNum::StepBy(int steps) {
  m_field.SetText(ToStd(Text()));
  const double current = m_field.Clamp(ReadNumberText(ToStd(Text())));
  SetValue(current + steps, true, true);
}

void CEditNum::OnTextChanged() {
  if (m_suppressChange) {
    m_suppressChange = false;
    m_notifyChange = true;
    return;
  }
  if (m_notifyChange) {
    m_settleTimer.stop();
    Send(EN_CHANGE);
    if (m_settleTime > 0) m_settleTimer.start(m_settleTime);
  } else {
    m_notifyChange = true;
  }
  update();
}

void CEditNum::OnSettleTimer() {
  m_settleTimer.stop();
  const QWidget* grabber = QWidget::mouseGrabber();
  if (m_slider || (grabber && BelongsHere(grabber))) {
    m_settleTimer.start(m_settleTime);
    return;
  }
  Send(EN_UPDATE);
}

bool CEditNum::BelongsHere(const QWidget* widget) const {
  return widget && (widget == this || widget == m_edit || widget == m_button ||
                    widget == m_slider);
}

void CEditNum::Send(int code) const {
  if (m_notify) m_notify(m_id, code);
}

bool CEditNum::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_edit) return QFrame::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
        StepBy(key->key() == Qt::Key_Up ? 1 : -1);
        return true;
      }
      const QString typed = key->text();
      // Shortcuts and keys without a character keep the edit's behaviour.
      if (typed.size() != 1 || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        return false;
      }
      const QChar c = typed.at(0);
      if (c.unicode() < 0x20 && c != QChar('\b')) return false;
      QString remaining = m_edit->text();
      int caret = m_edit->cursorPosition();
      if (m_edit->hasSelectedText()) {
        remaining.remove(m_edit->selectionStart(), m_edit->selectionLength());
        caret = m_edit->selectionStart();
      }
      const bool accepted =
          c.unicode() < 0x80 &&
          CNumericField::AcceptsChar(ToStd(remaining), static_cast<size_t>(caret),
                                     static_cast<char>(c.unicode()));
      return !accepted;  // a refused character is dropped
    }
    case QEvent::Wheel:
      wheelEvent(static_cast<QWheelEvent*>(event));
      return true;
    case QEvent::FocusIn:
      QMetaObject::invokeMethod(m_edit, [edit = m_edit] { edit->selectAll(); },
                                Qt::QueuedConnection);
      return false;
    case QEvent::FocusOut: {
      const double typed = ReadNumberText(ToStd(Text()));
      const double clamped = m_field.Clamp(typed);
      if (clamped != typed) {
        SetValue(clamped, false, true);
      } else {
        m_field.SetValue(clamped);
      }
      return false;
    }
    default:
      return false;
  }
}

void CEditNum::focusInEvent(QFocusEvent* event) {
  QFrame::focusInEvent(event);
  if (m_edit) {
    m_edit->setFocus();
    m_edit->selectAll();
  }
}

void CEditNum::wheelEvent(QWheelEvent* event) {
  // Whole notches only, toward zero, as the wheel delta is divided.
  const int steps = event->angleDelta().y() / 120;
  if (steps != 0) StepBy(steps);
  event->accept();
}

void CEditNum::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (!m_edit) return;
  // A thin strip along the bottom shows where the value lies in its limits.
  const double span = m_field.Maximum() - m_field.Minimum();
  const double share = span > 0 ? (m_field.Value() - m_field.Minimum()) / span : 0.0;
  QPainter painter(this);
  const QRect inside = rect().adjusted(kFrame, 0, -kFrame, -1);
  const int width = static_cast<int>(std::lround(share * inside.width()));
  painter.fillRect(QRect(inside.left(), inside.bottom(), width, 1), QColor(0, 160, 0));
}

void CEditNum::OpenSlider(const QPoint& globalPointer) {
  if (!m_hasSlider || m_slider || !m_button) return;
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  m_button->setDown(true);
  QScreen* screen = QGuiApplication::screenAt(globalPointer);
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect monitor = screen ? screen->geometry() : QRect(0, 0, 1 << 16, 1 << 16);
  int width = m_sliderLength + 7;
  if (monitor.width() < width) width = monitor.width() * 2 / 3;
  const QPoint below = m_button->mapToGlobal(QPoint(0, m_button->height()));
  QRect popup(0, below.y() + 2, width, kSliderHeight);
  // The current value's thumb lies under the pointer.
  const int trackWidth = width - 2 * kTrackInset;
  const double span = m_field.Maximum() - m_field.Minimum();
  double share = span > 0 ? (m_field.Clamp(ReadNumberText(ToStd(Text()))) - m_field.Minimum()) / span : 0.0;
  if (m_sliderScale == 1 && m_field.Minimum() > 0) {
    share = (std::log(m_field.Value()) - std::log(m_field.Minimum())) /
            (std::log(m_field.Maximum()) - std::log(m_field.Minimum()));
  }
  popup.moveLeft(globalPointer.x() - kTrackInset - static_cast<int>(share * trackWidth));
  // Kept on the monitor; the pointer moves with it so it stays on the thumb.
  int shift = 0;
  if (popup.right() > monitor.right()) shift = monitor.right() - popup.right();
  if (popup.left() + shift < monitor.left()) shift = monitor.left() - popup.left();
  popup.translate(shift, 0);
  if (shift != 0) QCursor::setPos(globalPointer + QPoint(shift, 0));
  m_slider = new CEditNumSlider(*this, popup);
  m_slider->show();
  m_slider->setFocus();
}

void CEditNum::SliderClosed() {
  m_slider = nullptr;
  if (m_button) m_button->setDown(false);
}

CEditNumSlider::CEditNumSlider(CEditNum& field, const QRect& geometry)
    : QWidget(field.InnerEdit(), Qt::Popup | Qt::FramelessWindowHint), m_field(field) {
  setAttribute(Qt::WA_DeleteOnClose);
  setMouseTracking(true);
  setGeometry(geometry);
}

double CEditNumSlider::ValueAt(int x) const {
  const double trackWidth = width() - 2 * kTrackInset;
  const double minimum = m_field.Minimum();
  const double maximum = m_field.Maximum();
  const double along = (x - kTrackInset) / trackWidth;
  if (m_field.m_sliderScale == 1 && minimum > 0) {
    return std::exp(std::log(minimum) + (std::log(maximum) - std::log(minimum)) * along);
  }
  return minimum + (x - kTrackInset) * (maximum - minimum) / trackWidth;
}

int CEditNumSlider::ThumbX(double value) const {
  const double trackWidth = width() - 2 * kTrackInset;
  const double span = m_field.Maximum() - m_field.Minimum();
  const double share = span > 0 ? (value - m_field.Minimum()) / span : 0.0;
  return kTrackInset + static_cast<int>(std::lround(share * trackWidth));
}

void CEditNumSlider::Track(const QMouseEvent& event) {
  double value = m_field.Clamp(ValueAt(static_cast<int>(event.position().x())));
  if (event.modifiers() & Qt::ControlModifier) {
    value = std::trunc(value);
    if (value < m_field.Minimum()) value += 1;
  }
  if (value != m_field.m_field.Value()) {
    m_field.SetValue(value, true, true);
    update();
    m_field.update();
  }
}

void CEditNumSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Track(*event);
}

void CEditNumSlider::mouseMoveEvent(QMouseEvent* event) { Track(*event); }

void CEditNumSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) close();
}

void CEditNumSlider::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  close();
}

void CEditNumSlider::closeEvent(QCloseEvent* event) {
  if (!m_closing) {
    m_closing = true;
    m_field.SliderClosed();
  }
  QWidget::closeEvent(event);
}

void CEditNumSlider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().button());
  // A sunken groove across the middle.
  const int middle = height() / 2;
  const QRect groove(kTrackInset, middle - 2, width() - 2 * kTrackInset, 4);
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawLine(groove.topLeft(), groove.topRight());
  painter.drawLine(groove.topLeft(), groove.bottomLeft());
  painter.setPen(palette().color(QPalette::Light));
  painter.drawLine(groove.bottomLeft(), groove.bottomRight());
  painter.drawLine(groove.topRight(), groove.bottomRight());
  // A pointed thumb, tip upward, with grip lines.
  const int x = ThumbX(m_field.m_field.Value());
  const QPolygon thumb({QPoint(x, 2), QPoint(x + 5, 7), QPoint(x + 5, height() - 3),
                        QPoint(x - 5, height() - 3), QPoint(x - 5, 7)});
  painter.setBrush(palette().button());
  painter.setPen(QColor(0, 200, 0));
  painter.drawPolygon(thumb);
  painter.setPen(QColor(0, 100, 0));
  for (int line = 10; line < height() - 5; line += 3) painter.drawLine(x - 2, line, x + 2, line);
}
