#include "PictureLimits.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
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

}  // namespace

uint64_t EstimatedPeakBytes(int width, int height) {
  return static_cast<uint64_t>(std::max(width, 0)) * static_cast<uint64_t>(std::max(height, 0)) *
         4 * kPeakPerLayerByte;
}

uint64_t MemoryForPictures() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  uint64_t limit = pages > 0 && pageSize > 0
                       ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
                       : UINT64_MAX;
  rlimit space{};
  if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
    limit = std::min<uint64_t>(limit, space.rlim_cur);
  }
  return std::min(limit, ControlGroupLimit());
}

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
