// How large a picture this machine can work on, judged from its header.
#pragma once

#include <cstdint>
#include <string>

// A whole run (reading, the filter with every option on, writing) peaks at
// about this many times the 8-bit RGBA layer, as measured by the benchmarks
// at 4096 x 4096; a little headroom is added on top.
inline constexpr uint64_t kPeakPerLayerByte = 16;

uint64_t EstimatedPeakBytes(int width, int height);

// The memory a run may use: what the machine has available now, or less
// where the process is held to less (address-space limit, control group, its
// share of a batch).
uint64_t MemoryForPictures();

// The most a run may use as one of the jobs of a batch, which share what was
// available when the batch began; 0: no share, the whole.
void SetMemoryShare(uint64_t bytes);

// "1.5 GiB", "640 MiB": sizes as people read them.
std::string HumanBytes(uint64_t bytes);
