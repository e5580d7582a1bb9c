// Row bands of one image worked on side by side, one per core. A stage that
// uses them must give the same bytes whatever the split: each band reads
// only what no other band writes while they run.
#pragma once

#include <functional>

// How many bands `rows` rows make: one per core, each at least `minRows`
// rows long (1 on a single core). Under SetBandsForTesting the forced count
// is used instead, each band then at least `shortestRows` long.
int BandCount(int rows, int minRows, int shortestRows = 1);

// task(band, first, last) for `bands` consecutive bands covering rows
// [0, rows), band 0 on the calling thread. Returns once all have ended; the
// first exception a band raised is raised again then.
//
// The other bands go to worker threads that are started on first need (at
// most one per core but the caller's) and kept until the process, or the
// module holding this code, ends. A band no worker is free to take runs on
// the calling thread, so a task may call RunBands itself, and two threads
// may call it at once.
void RunBands(int rows, int bands, const std::function<void(int band, int first, int last)>& task);

// Rows a band should have at least when each row is one quick pass.
inline constexpr int kMinRowsPerBand = 128;

// body(y) for every row y of [0, rows), in bands side by side unless
// `oneBand` (images whose rows go through a view cache are not safe to
// share between threads).
template <class Fn>
void ForEachRowInBands(int rows, bool oneBand, Fn&& body) {
  const int bands = oneBand ? 1 : BandCount(rows, kMinRowsPerBand);
  RunBands(rows, bands, [&body](int, int first, int last) {
    for (int y = first; y < last; ++y) body(y);
  });
}

// Tests: every stage splits into `bands` bands where the rows allow (0 goes
// back to one band per core).
void SetBandsForTesting(int bands);
