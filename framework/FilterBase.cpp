#include "FilterBase.h"

#include <system_error>
#include <utility>

namespace {

bool IsAbortCode(int result) { return result == 100 || result == -6; }

}  // namespace

CFilterBase::CFilterBase() { m_args.lock = std::make_shared<std::recursive_mutex>(); }

CFilterBase::~CFilterBase() { AbortRun(); }

void CFilterBase::DefineParameters() {}

int CFilterBase::Process(ProcessArgs&) { return -3; }

bool CFilterBase::Hook(void*) { return true; }

std::string CFilterBase::GetName() { return "GenericCommand"; }

CoreResult CFilterBase::StartRun() {
  if (IsRunning()) return MakeResult(keErrInvalidArgument);
  // From here on the messages of earlier runs are stale: the result image
  // is about to be overwritten.
  ++m_runSerial;
  m_abort = false;
  m_progress.InitRoot();
  m_progress.SetReportCallback(&CFilterBase::PostProgress);
  m_progress.SetAbortCheck(&CFilterBase::IsAbortRequested);
  m_progress.SetOwner(this);
  m_args.progress = &m_progress;
  if (m_thread.joinable()) m_thread.join();  // it has ended; only its exit remains
  CoreResult copied = m_result.CopyFrom(m_source);
  if (!copied.IsNull()) {
    ExamineResult(copied);
    copied.Get()->Raise();
  }
  m_args.source = &m_source;
  m_args.result = &m_result;
  if (const int launched = LaunchWorker(m_args)) return MakeResult(static_cast<uint32_t>(launched));
  return CoreResult();
}

int CFilterBase::LaunchWorker(ProcessArgs& args) {
  if (IsRunning()) return keErrInvalidArgument;
  if (m_thread.joinable()) m_thread.join();
  auto record = std::make_unique<StartRecord>(StartRecord{&args, this, m_runSerial});
  // Alive before the thread exists, so that IsRunning never misses a run.
  m_workerAlive = true;
  try {
    m_thread = std::thread(&CFilterBase::WorkerMain, std::move(record));
  } catch (const std::system_error&) {
    m_workerAlive = false;
    return keErrOutOfMemory;
  }
  return 0;
}

void CFilterBase::AbortRun() {
  if (!m_thread.joinable()) return;
  m_abort = true;
  if (m_thread.get_id() == std::this_thread::get_id()) return;  // a worker cannot wait for itself
  m_thread.join();
  m_abort = false;
}

int CFilterBase::PostProgress(CProgressScale& scale) {
  auto* filter = static_cast<CFilterBase*>(scale.Owner());
  if (!filter) return 0;
  if (CMessageWindow* window = filter->m_args.window) {
    window->PostMessage(WM_RUN_PROGRESS, reinterpret_cast<WPARAM>(filter), scale.Value());
  }
  return filter->m_abort.load() ? 1 : 0;
}

int CFilterBase::IsAbortRequested(CProgressScale& scale) {
  auto* filter = static_cast<CFilterBase*>(scale.Owner());
  return filter && filter->m_abort.load() ? 1 : 0;
}

bool CFilterBase::IsCurrentRunMessage(const CWindowMessage& message) const {
  if (message.message != WM_RUN_DONE && message.message != WM_RUN_FAILED) return false;
  return message.lParam == static_cast<LPARAM>(m_runSerial) && !m_running.load();
}

void CFilterBase::WorkerMain(std::unique_ptr<StartRecord> record) {
  CFilterBase* filter = record->filter;
  ProcessArgs& args = *record->args;
  const LPARAM serial = static_cast<LPARAM>(record->serial);
  CMessageWindow* window = args.window;
  // Our own reference, so the lock outlives anything the filter does to its record.
  std::shared_ptr<std::recursive_mutex> lockObject = args.lock;
  std::unique_lock<std::recursive_mutex> held;
  if (args.useLock && lockObject) held = std::unique_lock<std::recursive_mutex>(*lockObject);

  int result = 0;
  bool failed = false;
  try {
    filter->m_running = true;
    result = filter->Process(args);
    if (IsAbortCode(result)) throw CJException(keErrAborted);
  } catch (...) {
    // A core failure, an abort, or anything else Process let escape: all
    // end the run the same way, and none may leave the thread.
    failed = true;
  }

  UINT end = WM_RUN_DONE;
  if (failed) {
    if (!IsAbortCode(result)) result = 0;
    try {
      if (filter->m_result.HasStorage()) filter->m_result.Reset();
    } catch (...) {
    }
    filter->m_abort = false;
    end = WM_RUN_FAILED;
  }
  filter->m_running = false;
  filter->m_exitCode = result;
  // The end is reported last: once it is posted, the editor may start the
  // next run, and nothing of this one touches the filter any more.
  filter->m_workerAlive = false;
  if (window) window->PostMessage(end, 0, serial);
  record.reset();
}
