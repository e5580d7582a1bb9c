#include "imagecore/RowBands.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_forcedBands{0};

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

}  // namespace

int BandCount(int rows, int minRows, int shortestRows) {
  const int forced = g_forcedBands.load(std::memory_order_relaxed);
  if (forced > 0) return std::clamp(rows / std::max(shortestRows, 1), 1, forced);
  return std::clamp(rows / std::max(minRows, 1), 1, UsableCores());
}

void RunBands(int rows, int bands, const std::function<void(int, int, int)>& task) {
  bands = std::clamp(bands, 1, std::max(rows, 1));
  auto first = [rows, bands](int band) {
    return static_cast<int>(static_cast<long long>(rows) * band / bands);
  };
  if (bands == 1) {
    task(0, 0, rows);
    return;
  }
  std::vector<std::exception_ptr> failures(static_cast<size_t>(bands));
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(bands - 1));
  auto run = [&](int band) {
    try {
      task(band, first(band), first(band + 1));
    } catch (...) {
      failures[static_cast<size_t>(band)] = std::current_exception();
    }
  };
  try {
    for (int band = 1; band < bands; ++band) threads.emplace_back(run, band);
  } catch (...) {
    // No thread to be had: the remaining bands run here.
    for (int band = static_cast<int>(threads.size()) + 1; band < bands; ++band) run(band);
  }
  run(0);
  for (std::thread& thread : threads) thread.join();
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

void SetBandsForTesting(int bands) { g_forcedBands.store(std::max(bands, 0)); }
