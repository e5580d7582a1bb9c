#include "framework/dialogs/QtMessageWindow.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

// One event type for the whole process; registered on first use.
QEvent::Type PumpEventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

CQtMessageWindow::CQtMessageWindow(QObject* parent) : QObject(parent) {}

// Events still queued for this object are dropped by Qt with it.
CQtMessageWindow::~CQtMessageWindow() = default;

void CQtMessageWindow::OnMessagePosted() {
  // postEvent is thread-safe; each event drains the whole queue, so later
  // ones may find it empty.
  QCoreApplication::postEvent(this, new QEvent(PumpEventType()));
}

bool CQtMessageWindow::event(QEvent* event) {
  if (event->type() == PumpEventType()) {
    PumpMessages();
    return true;
  }
  return QObject::event(event);
}
