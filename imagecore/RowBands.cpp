#include "imagecore/RowBands.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_forcedBands{0};

// Set when the workers have been stopped for good (the process, or the
// module holding this code, is ending): bands then run on the caller. Plain
// data, so it can still be read after the workers' object is gone.
std::atomic<bool> g_workersClosed{false};

// The cores this process may run on, not those the machine has.
int UsableCores() {
  static const int cores = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(CPU_COUNT(&set), 1);
    return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
  }();
  return cores;
}

// Workers the pool may have. A forced count may exceed the cores: the tests
// force bands to run side by side, which one worker per core would not.
int WorkerLimit() {
  return std::max(UsableCores(), g_forcedBands.load(std::memory_order_relaxed)) - 1;
}

// One RunBands call: its bands, their failures, and how many of its bands
// workers are still running (under the pool's mutex).
struct CBandCall {
  const std::function<void(int, int, int)>& task;
  int rows;
  int bands;
  std::vector<std::exception_ptr> failures;
  int running = 0;
  std::condition_variable ended;

  int First(int band) const {
    return static_cast<int>(static_cast<long long>(rows) * band / bands);
  }
  void Run(int band) {
    try {
      task(band, First(band), First(band + 1));
    } catch (...) {
      failures[static_cast<size_t>(band)] = std::current_exception();
    }
  }
};

// Threads kept from one call to the next, each running one band at a time.
// A band is only ever handed to a worker that is free, so a caller waits
// only on bands that are running: a nested or concurrent call that finds
// every worker busy runs its bands itself instead of queueing behind them.
class CBandWorkers {
 public:
  static CBandWorkers& Instance() {
    // Destroyed at exit, or when the module holding it is unloaded: either
    // way before this code can go away under the workers.
    static CBandWorkers workers;
    return workers;
  }

  ~CBandWorkers() {
    g_workersClosed.store(true);
    {
      const std::lock_guard lock(m_mutex);
      m_stopping = true;
      for (const std::unique_ptr<CWorker>& worker : m_workers) worker->wake.notify_one();
    }
    for (const std::unique_ptr<CWorker>& worker : m_workers) worker->thread.join();
  }

  // Hands bands 1, 2 ... of `call` to free workers, starting new ones up to
  // `limit`, until one finds none; returns how many were handed out.
  int HandOut(CBandCall& call, int limit) {
    const std::lock_guard lock(m_mutex);
    int band = 1;
    for (; band < call.bands && !m_stopping; ++band) {
      CWorker* worker = nullptr;
      if (!m_free.empty()) {
        worker = m_free.back();
        m_free.pop_back();
      } else if (static_cast<int>(m_workers.size()) < limit) {
        worker = Start();
      }
      if (!worker) break;
      worker->call = &call;
      worker->band = band;
      ++call.running;
      worker->wake.notify_one();
    }
    return band - 1;
  }

  void Wait(CBandCall& call) {
    std::unique_lock lock(m_mutex);
    call.ended.wait(lock, [&call] { return call.running == 0; });
  }

 private:
  struct CWorker {
    std::thread thread;
    std::condition_variable wake;
    CBandCall* call = nullptr;
    int band = 0;
  };

  CBandWorkers() { pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild); }

  // Under m_mutex. Null when no thread can be had.
  CWorker* Start() {
    try {
      // Room first: once the thread runs, nothing here may fail.
      m_workers.reserve(m_workers.size() + 1);
      m_free.reserve(m_workers.size() + 1);
      auto worker = std::make_unique<CWorker>();
      worker->thread = std::thread(&CBandWorkers::Work, this, worker.get());
      m_workers.push_back(std::move(worker));
      return m_workers.back().get();
    } catch (...) {
      return nullptr;
    }
  }

  void Work(CWorker* worker) {
    std::unique_lock lock(m_mutex);
    for (;;) {
      // A band handed over is run even when stopping: its caller waits for it.
      worker->wake.wait(lock, [&] { return worker->call || m_stopping; });
      CBandCall* call = worker->call;
      if (!call) return;
      lock.unlock();
      call->Run(worker->band);
      lock.lock();
      // Free again before the caller hears of it, so that the caller's next
      // call finds this worker.
      worker->call = nullptr;
      m_free.push_back(worker);
      // Under the mutex: once it reads zero the caller may return and take
      // `ended` with it.
      if (--call->running == 0) call->ended.notify_one();
    }
  }

  // A child of fork has none of the workers: it starts its own if it needs
  // them. The mutex is held across the fork so the child gets it unlocked.
  static inline bool s_lockedForFork = false;
  static void BeforeFork() {
    s_lockedForFork = !g_workersClosed.load();
    if (s_lockedForFork) Instance().m_mutex.lock();
  }
  static void AfterForkInParent() {
    if (s_lockedForFork) Instance().m_mutex.unlock();
  }
  static void AfterForkInChild() {
    if (!s_lockedForFork) return;
    CBandWorkers& pool = Instance();
    // The parent's thread handles can be neither joined nor dropped here
    // (a joinable std::thread ends the process when destroyed): they are
    // kept, never used.
    static auto* parents = new std::vector<std::unique_ptr<CWorker>>;
    for (std::unique_ptr<CWorker>& worker : pool.m_workers) parents->push_back(std::move(worker));
    pool.m_workers.clear();
    pool.m_free.clear();
    pool.m_mutex.unlock();
  }

  std::mutex m_mutex;
  std::vector<std::unique_ptr<CWorker>> m_workers;
  std::vector<CWorker*> m_free;
  bool m_stopping = false;
};

}  // namespace

int BandCount(int rows, int minRows, int shortestRows) {
  const int forced = g_forcedBands.load(std::memory_order_relaxed);
  if (forced > 0) return std::clamp(rows / std::max(shortestRows, 1), 1, forced);
  return std::clamp(rows / std::max(minRows, 1), 1, UsableCores());
}

void RunBands(int rows, int bands, const std::function<void(int, int, int)>& task) {
  bands = std::clamp(bands, 1, std::max(rows, 1));
  if (bands == 1) {
    task(0, 0, rows);
    return;
  }
  CBandCall call{task, rows, bands, std::vector<std::exception_ptr>(static_cast<size_t>(bands)), 0, {}};
  const int limit = WorkerLimit();
  const int handedOut = limit > 0 && !g_workersClosed.load()
                            ? CBandWorkers::Instance().HandOut(call, limit)
                            : 0;
  call.Run(0);
  // What no worker took (all busy, none could be started) runs here.
  for (int band = handedOut + 1; band < bands; ++band) call.Run(band);
  if (handedOut > 0) CBandWorkers::Instance().Wait(call);
  for (const std::exception_ptr& failure : call.failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

void SetBandsForTesting(int bands) { g_forcedBands.store(std::max(bands, 0)); }
