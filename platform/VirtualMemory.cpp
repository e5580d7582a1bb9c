#include "platform/VirtualMemory.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

void AdviseHugePages(void *start, size_t bytes) {
#ifdef MADV_HUGEPAGE
  const uintptr_t first = (reinterpret_cast<uintptr_t>(start) + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(kHugePageBytes - 1);
  if (end > first) madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
#else
  (void)start;
  (void)bytes;
#endif
}

void *MapPages(size_t bytes, bool populate) {
  const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0);
  void *address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
  return address == MAP_FAILED ? nullptr : address;
}

void UnmapPages(void *address, size_t bytes) {
  if (address)
    munmap(address, bytes);
}

void PrefaultForWriting(void *start, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  static const uintptr_t kPage = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t first =
      (reinterpret_cast<uintptr_t>(start) + kPage - 1) & ~(kPage - 1);
  const uintptr_t end =
      (reinterpret_cast<uintptr_t>(start) + bytes) & ~(kPage - 1);
  if (end > first)
    madvise(reinterpret_cast<void *>(first), end - first, MADV_POPULATE_WRITE);
#else
  (void)start;
  (void)bytes;
#endif
}
