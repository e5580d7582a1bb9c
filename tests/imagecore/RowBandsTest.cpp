// Row bands: every row once, failures reach the caller, forced counts, and
// the worker threads kept between calls.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "imagecore/RowBands.h"

namespace {

// Forces `bands` for one test, so that the pool may have a worker per band
// whatever the machine's cores.
class CForcedBands {
 public:
  explicit CForcedBands(int bands) { SetBandsForTesting(bands); }
  ~CForcedBands() { SetBandsForTesting(0); }
};

// The threads that ran bands 1 .. bands-1 of one call, by the kernel's
// thread ids: unlike std::thread ids, those of ended threads are not given
// again at once.
std::set<pid_t> WorkerThreads(int bands) {
  std::mutex mutex;
  std::set<pid_t> seen;
  RunBands(bands, bands, [&](int band, int, int) {
    if (band == 0) return;
    const std::lock_guard lock(mutex);
    seen.insert(gettid());
  });
  return seen;
}

#if !defined(__SANITIZE_THREAD__)
// The exit status of `body` run in a child process, or -1 when the child
// did not end by itself within 20 seconds (a band waited on for ever).
int StatusInChild(const std::function<bool()>& body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return -2;
  if (child == 0) {
    alarm(20);
    bool passed = false;
    try {
      passed = body();
    } catch (...) {
    }
    _exit(passed ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Every row of [0, rows) once in `bands` bands; `onCaller` tells whether all
// of them ran on the calling thread.
bool EveryRowOnce(int rows, int bands, bool* onCaller) {
  std::vector<std::atomic<int>> visits(static_cast<size_t>(rows));
  std::atomic<bool> elsewhere{false};
  const std::thread::id caller = std::this_thread::get_id();
  RunBands(rows, bands, [&](int, int first, int last) {
    if (std::this_thread::get_id() != caller) elsewhere = true;
    for (int y = first; y < last; ++y) ++visits[static_cast<size_t>(y)];
  });
  if (onCaller) *onCaller = !elsewhere;
  for (const std::atomic<int>& count : visits) {
    if (count.load() != 1) return false;
  }
  return true;
}
#endif

}  // namespace

TEST(RowBands, BandsCoverEveryRowOnceAndAFailureReachesTheCaller) {
  std::vector<std::atomic<int>> visits(101);
  RunBands(101, 4, [&](int, int first, int last) {
    for (int y = first; y < last; ++y) ++visits[static_cast<size_t>(y)];
  });
  for (const std::atomic<int>& count : visits) EXPECT_EQ(count.load(), 1);

  EXPECT_THROW(RunBands(10, 3,
                        [](int band, int, int) {
                          if (band == 2) throw std::runtime_error("band 2");
                        }),
               std::runtime_error);
}

TEST(RowBands, AFailureWaitsForEveryBandAndLeavesTheWorkersUsable) {
  const CForcedBands forced(4);
  std::atomic<int> ended{0};
  try {
    RunBands(40, 4, [&](int band, int, int) {
      if (band == 1 || band == 3) {
        ++ended;
        throw std::runtime_error("band " + std::to_string(band));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ++ended;
    });
    ADD_FAILURE() << "no failure reached the caller";
  } catch (const std::runtime_error& failure) {
    // The lowest band's failure, as when each band had a thread of its own.
    EXPECT_STREQ(failure.what(), "band 1");
    EXPECT_EQ(ended.load(), 4);
  }
  std::vector<std::atomic<int>> visits(40);
  RunBands(40, 4, [&](int, int first, int last) {
    for (int y = first; y < last; ++y) ++visits[static_cast<size_t>(y)];
  });
  for (const std::atomic<int>& count : visits) EXPECT_EQ(count.load(), 1);
}

TEST(RowBands, ForcedCountsKeepBandsLongEnough) {
  SetBandsForTesting(8);
  EXPECT_EQ(BandCount(100, 1000, 10), 8);
  EXPECT_EQ(BandCount(30, 1000, 10), 3);
  EXPECT_EQ(BandCount(5, 1000, 10), 1);
  SetBandsForTesting(0);
  EXPECT_EQ(BandCount(5, 1000), 1);
}

TEST(RowBands, WorkersAreKeptFromOneCallToTheNext) {
  const CForcedBands forced(4);
  const std::set<pid_t> first = WorkerThreads(4);
  EXPECT_EQ(first.size(), 3u);
  EXPECT_EQ(first.count(gettid()), 0u);
  for (int call = 0; call < 5; ++call) EXPECT_EQ(WorkerThreads(4), first);
}

TEST(RowBands, NestedCallsFromTwoThreadsAtOnceEachDoEveryRowOnce) {
  // Three bands, each running three bands of its own, from two threads: far
  // more bands than workers, so some callers find every worker busy.
  const CForcedBands forced(3);
  constexpr int kOuterRows = 6;
  constexpr int kInnerRows = 30;
  auto caller = [](int rounds, bool* ok) {
    *ok = true;
    for (int round = 0; round < rounds; ++round) {
      std::vector<std::atomic<int>> visits(kOuterRows * kInnerRows);
      RunBands(kOuterRows, 3, [&](int, int first, int last) {
        for (int outer = first; outer < last; ++outer) {
          RunBands(kInnerRows, 3, [&](int, int innerFirst, int innerLast) {
            for (int inner = innerFirst; inner < innerLast; ++inner) {
              ++visits[static_cast<size_t>(outer * kInnerRows + inner)];
            }
          });
        }
      });
      for (const std::atomic<int>& count : visits) *ok = *ok && count.load() == 1;
    }
  };
  bool okA = false;
  bool okB = false;
  std::thread other(caller, 200, &okB);
  caller(200, &okA);
  other.join();
  EXPECT_TRUE(okA);
  EXPECT_TRUE(okB);
}

// ThreadSanitizer does not allow threads to be started in a child of a
// process that has threads.
#if !defined(__SANITIZE_THREAD__)
TEST(RowBands, AForkedChildRunsItsBandsWithoutTheParentsWorkers) {
  const CForcedBands forced(4);
  ASSERT_EQ(WorkerThreads(4).size(), 3u);
  EXPECT_EQ(StatusInChild([] { return EveryRowOnce(100, 4, nullptr); }), 0);
  // And the parent keeps its own.
  EXPECT_TRUE(EveryRowOnce(100, 4, nullptr));
}
#endif

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(RowBands, BandsRunOnTheCallerWhenNoThreadCanBeStarted) {
  const CForcedBands forced(4);
  EXPECT_EQ(StatusInChild([] {
              // Address space for small allocations, none for a thread's stack.
              long pages = 0;
              if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
                std::fclose(statm);
              }
              if (pages <= 0) return false;
              const rlim_t room = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (1 << 20);
              const rlimit limit{room, room};
              if (setrlimit(RLIMIT_AS, &limit) != 0) return false;
              // Stacks of threads that have ended (here: the parent's) are
              // kept for new ones: these take them all.
              for (int spare = 0; spare < 1000; ++spare) {
                try {
                  std::thread([] { pause(); }).detach();
                } catch (const std::system_error&) {
                  break;
                }
              }
              bool onCaller = false;
              return EveryRowOnce(100, 4, &onCaller) && onCaller;
            }),
            0);
}
#endif
