// The editor needs a Qt application object; a host that has none gets one
// for the time of the modal run. Only made where a display (or Qt's
// offscreen platform) is there: without one Qt ends the process. While the
// scope lives, message boxes are Qt's own.
#pragma once

#include <memory>

#include "platform/MessageBox.h"

class QApplication;

class CQtApplicationScope {
 public:
  CQtApplicationScope();
  ~CQtApplicationScope();
  CQtApplicationScope(const CQtApplicationScope&) = delete;
  CQtApplicationScope& operator=(const CQtApplicationScope&) = delete;

 private:
  std::unique_ptr<QApplication> m_owned;
  MessageBoxHandler m_previousBoxes;
};
