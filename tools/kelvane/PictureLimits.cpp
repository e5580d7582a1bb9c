#include "PictureLimits.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>

namespace {

// cgroup v2 gives "max" or a byte count for the whole group.
uint64_t ControlGroupLimit() {
  std::ifstream file("/sys/fs/cgroup/memory.max");
  std::string text;
  if (!(file >> text) || text == "max") return UINT64_MAX;
  try {
    return std::stoull(text);
  } catch (...) {
    return UINT64_MAX;
  }
}

// What the kernel counts as available without swapping, page cache it can
// drop included; the physical memory where it does not say.
uint64_t AvailableMemory() {
  std::ifstream file("/proc/meminfo");
  std::string key;
  uint64_t kibibytes = 0;
  std::string unit;
  while (file >> key >> kibibytes) {
    if (key == "MemAvailable:") return kibibytes * 1024;
    std::getline(file, unit);
  }
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
                                   : UINT64_MAX;
}

std::atomic<uint64_t> g_memoryShare{0};

}  // namespace

uint64_t EstimatedPeakBytes(int width, int height) {
  return static_cast<uint64_t>(std::max(width, 0)) * static_cast<uint64_t>(std::max(height, 0)) *
         4 * kPeakPerLayerByte;
}

uint64_t MemoryForPictures() {
  // Not the machine's total: what other programs hold now is not ours to use.
  uint64_t limit = AvailableMemory();
  const uint64_t share = g_memoryShare;
  if (share > 0) limit = std::min(limit, share);
  rlimit space{};
  if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
    limit = std::min<uint64_t>(limit, space.rlim_cur);
  }
  return std::min(limit, ControlGroupLimit());
}

void SetMemoryShare(uint64_t bytes) { g_memoryShare = bytes; }

std::string HumanBytes(uint64_t bytes) {
  char text[32];
  const double mebi = static_cast<double>(bytes) / (1024.0 * 1024.0);
  if (mebi >= 1024.0) {
    std::snprintf(text, sizeof text, "%.1f GiB", mebi / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.0f MiB", mebi);
  }
  return text;
}
