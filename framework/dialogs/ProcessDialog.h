// A view dialog that follows a filter's runs: the worker's messages arrive
// on its message window and go to OnRunMessage on the dialog's thread; a
// progress bar replaces its placeholder; run requests may be delayed by a
// 50 ms timer so that a burst of requests gives one run.
#pragma once

#include <QTimer>
#include <functional>

#include "framework/dialogs/QtMessageWindow.h"
#include "framework/dialogs/ViewDialog.h"

class QProgressBar;

enum : int {
  kRunTimerId = 17,
  kRunTimerMilliseconds = 50,
};

class CProcessDialog : public CViewDialog {
 public:
  CProcessDialog(int templateId, int progressId, int acceleratorId, int titleId,
                 QWidget* parent = nullptr);
  ~CProcessDialog() override;

  // The window the filter posts its messages to.
  CMessageWindow& NotifyWindow() { return m_window; }
  QProgressBar* ProgressBar() const { return m_progress; }
  void SetProgress(int percent);

  // Delayed: one run 50 ms after the last of a burst of requests;
  // otherwise at once. `start` starts the run.
  void RequestRun(bool delayed, std::function<void()> start);
  bool IsRunPending() const { return m_runTimer.isActive(); }

  // The two ends of a run, for the derived dialog.
  virtual void OnRunFinished() {}
  virtual void OnRunFailed() {}

 protected:
  bool OnInitDialog() override;
  // A worker's message, on the dialog's thread.
  virtual void OnRunMessage(const CWindowMessage& message) { (void)message; }

 private:
  int m_progressId;
  QProgressBar* m_progress = nullptr;
  CQtMessageWindow m_window;
  QTimer m_runTimer;
  std::function<void()> m_pendingStart;
};
