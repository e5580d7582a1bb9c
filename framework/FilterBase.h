// The base of every filter: it owns the parameter set and the images of a
// run, runs Process on a worker thread and tells a notification window how
// the run goes, by posting messages only.
//
// Every run gets a serial number, posted in the lParam of its done or failed
// message. A message whose serial is not the latest run's belongs to an
// earlier run: by the time it is handled the result image may already be a
// later run's work, so handlers ask IsCurrentRunMessage before acting.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "framework/ParamSet.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/ProgressScale.h"
#include "platform/Window.h"

// Posted by the worker to the notification window.
enum : UINT {
  WM_RUN_PROGRESS = 0x6BD,  // wParam the filter, lParam percent done
  WM_RUN_DONE = 0x702,      // Process returned; lParam the run's serial
  WM_RUN_FAILED = 0x703,    // aborted or failed; lParam the run's serial
};

// What Process is given.
struct ProcessArgs {
  CCoreImage* source = nullptr;
  CCoreImage* result = nullptr;
  // For filters that share data with other threads; taken around Process
  // when useLock is set.
  std::shared_ptr<std::recursive_mutex> lock;
  int useLock = 0;
  CProgressScale* progress = nullptr;
  CMessageWindow* window = nullptr;
};

class CFilterBase {
 public:
  CFilterBase();
  CFilterBase(const CFilterBase&) = delete;
  CFilterBase& operator=(const CFilterBase&) = delete;
  // Aborts a run in progress and waits for it. A derived filter whose
  // Process uses members of its own must call AbortRun() first in its own
  // destructor, since those members are gone before this one runs.
  virtual ~CFilterBase();

  virtual void DefineParameters();
  // Runs on the worker thread. 100 or -6 means aborted; anything else,
  // completed.
  virtual int Process(ProcessArgs& args);
  virtual bool Hook(void* argument);
  virtual std::string GetName();

  // Copies the source into the result and starts the worker; 101 while a
  // worker is still alive. A failure to copy is thrown.
  CoreResult StartRun();
  // Asks the worker to stop and waits for it without limit.
  void AbortRun();
  // True from the start of a run until its worker has posted its end.
  bool IsRunning() const { return m_workerAlive.load(); }
  // 0, 101 while a worker is alive, 102 when no thread can be created.
  int LaunchWorker(ProcessArgs& args);

  // The progress scale's callbacks; the scale's owner is the filter.
  static int PostProgress(CProgressScale& scale);
  static int IsAbortRequested(CProgressScale& scale);

  void SetNotifyWindow(CMessageWindow* window) { m_args.window = window; }
  // The serial of the latest run started; 0 before the first.
  uint32_t RunSerial() const { return m_runSerial; }
  // For the done and failed handlers: true only for the end of the latest
  // run, once its Process has returned.
  bool IsCurrentRunMessage(const CWindowMessage& message) const;
  // What the last finished worker's Process returned (0 when it threw).
  int LastExitCode() const { return m_exitCode.load(); }

  std::atomic<bool> m_running{false};  // true while the worker is inside Process
  std::string m_command;
  CParamSet m_paramSet;
  std::thread m_thread;
  std::atomic<bool> m_abort{false};
  CProgressScale m_progress;
  CCoreImage m_source;
  CCoreImage m_result;
  ProcessArgs m_args;

 private:
  struct StartRecord {
    ProcessArgs* args;
    CFilterBase* filter;
    uint32_t serial;
  };
  static void WorkerMain(std::unique_ptr<StartRecord> record);

  std::atomic<bool> m_workerAlive{false};
  std::atomic<int> m_exitCode{0};
  uint32_t m_runSerial = 0;  // editor's thread only
};
