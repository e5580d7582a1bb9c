// A message window whose messages are handled by the Qt event loop of the
// thread it lives on: posting from any thread wakes that loop.
#pragma once

#include <QObject>

#include "platform/Window.h"

class CQtMessageWindow : public QObject, public CMessageWindow {
 public:
  explicit CQtMessageWindow(QObject* parent = nullptr);
  ~CQtMessageWindow() override;

 protected:
  void OnMessagePosted() override;
  bool event(QEvent* event) override;
};
