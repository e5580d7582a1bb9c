#include "platform/VirtualMemory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

// Pages of [address, address + bytes) that are present in memory.
size_t ResidentPages(void *address, size_t bytes) {
  std::vector<unsigned char> flags((bytes + kPage - 1) / kPage);
  if (mincore(address, bytes, flags.data()) != 0)
    return 0;
  return static_cast<size_t>(std::count_if(
      flags.begin(), flags.end(), [](unsigned char f) { return f & 1; }));
}

TEST(VirtualMemoryTest, PopulatedPagesArePresentZeroedAndWritable) {
  const size_t bytes = 64 * kPage;
  auto *populated = static_cast<uint8_t *>(MapPages(bytes, true));
  auto *lazy = static_cast<uint8_t *>(MapPages(bytes, false));
  ASSERT_NE(populated, nullptr);
  ASSERT_NE(lazy, nullptr);
  EXPECT_EQ(ResidentPages(populated, bytes), 64u);
  EXPECT_EQ(ResidentPages(lazy, bytes), 0u);
  EXPECT_TRUE(std::all_of(populated, populated + bytes,
                          [](uint8_t b) { return b == 0; }));
  populated[bytes - 1] = 7;
  EXPECT_EQ(populated[bytes - 1], 7);
  UnmapPages(populated, bytes);
  UnmapPages(lazy, bytes);
}

TEST(VirtualMemoryTest, PrefaultingTouchesOnlyTheWholePagesInside) {
  const size_t bytes = 16 * kPage;
  auto *pages = static_cast<uint8_t *>(MapPages(bytes, false));
  ASSERT_NE(pages, nullptr);
  // From the middle of page 2 to the middle of page 10: pages 3 to 9.
  PrefaultForWriting(pages + 2 * kPage + kPage / 2, 8 * kPage);
#ifdef MADV_POPULATE_WRITE
  EXPECT_EQ(ResidentPages(pages, 3 * kPage), 0u);
  EXPECT_EQ(ResidentPages(pages + 3 * kPage, 7 * kPage), 7u);
  EXPECT_EQ(ResidentPages(pages + 10 * kPage, 6 * kPage), 0u);
#endif
  // A range shorter than a page, or empty, is left alone.
  PrefaultForWriting(pages + 12 * kPage + 1, kPage - 2);
  PrefaultForWriting(pages, 0);
  EXPECT_EQ(ResidentPages(pages + 12 * kPage, kPage), 0u);
  UnmapPages(pages, bytes);
}

// Whether the mapping that holds address is marked for huge pages, as
// /proc/self/smaps tells: "hg" among its VmFlags.
bool MarkedForHugePages(const void *address) {
  std::ifstream smaps("/proc/self/smaps");
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    uintptr_t begin = 0;
    uintptr_t end = 0;
    char dash = 0;
    std::istringstream range(line);
    if (range >> std::hex >> begin >> dash >> end && dash == '-') {
      inside = begin <= at && at < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line.find(" hg") != std::string::npos;
    }
  }
  return false;
}

TEST(VirtualMemoryTest, OnlyWholeHugePagesInsideARangeAreMarkedForHugePages) {
  if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"))
    GTEST_SKIP() << "the kernel has no huge pages for anonymous memory";
  // Three huge pages of address space, the first whole one at first.
  const size_t bytes = 4 * kHugePageBytes;
  auto *pages = static_cast<uint8_t *>(MapPages(bytes, false));
  ASSERT_NE(pages, nullptr);
  uint8_t *first = reinterpret_cast<uint8_t *>(
      (reinterpret_cast<uintptr_t>(pages) + kHugePageBytes - 1) & ~(kHugePageBytes - 1));
  // From a page into the first huge page to a page short of the third's end:
  // only the second is whole.
  AdviseHugePages(first + kPage, 3 * kHugePageBytes - 2 * kPage);
  EXPECT_FALSE(MarkedForHugePages(first));
  EXPECT_TRUE(MarkedForHugePages(first + kHugePageBytes));
  EXPECT_TRUE(MarkedForHugePages(first + 2 * kHugePageBytes - 1));
  EXPECT_FALSE(MarkedForHugePages(first + 2 * kHugePageBytes));
  // Shorter than a huge page: nothing is marked.
  AdviseHugePages(first + 2 * kHugePageBytes, kHugePageBytes - 1);
  EXPECT_FALSE(MarkedForHugePages(first + 2 * kHugePageBytes));
  // Marked pages are still ordinary zeroed memory.
  PrefaultForWriting(first + kHugePageBytes, kHugePageBytes);
  EXPECT_TRUE(std::all_of(first + kHugePageBytes, first + 2 * kHugePageBytes,
                          [](uint8_t b) { return b == 0; }));
  first[kHugePageBytes] = 9;
  EXPECT_EQ(first[kHugePageBytes], 9);
  UnmapPages(pages, bytes);
}

} // namespace
