#include "platform/RecycledPages.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

#include "platform/VirtualMemory.h"

namespace {

// Mappings given back, most recently given last. Large enough to carry a
// run's buffers on a 16-megapixel picture over to the next run, and never
// more than an eighth of the machine's memory.
struct CKeptPages {
  static constexpr int kMaxEntries = 256;
  static constexpr size_t kMostBytes = size_t{1} << 30;
  struct CEntry {
    void *address;
    size_t length;
  };
  std::mutex mutex;
  CEntry entries[kMaxEntries];
  int count = 0;
  size_t bytes = 0;
  size_t maxBytes = 0;
  // Cleared once the keeper below has gone: from then on mappings are
  // returned at once.
  bool open = true;
};

size_t MostKeptBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return CKeptPages::kMostBytes;
  return std::min(CKeptPages::kMostBytes, static_cast<size_t>(pages) / 8 * static_cast<size_t>(pageSize));
}

// Built in static storage and never destroyed: buffers may still be given
// back by static destructors at exit.
CKeptPages &Kept() {
  alignas(CKeptPages) static unsigned char storage[sizeof(CKeptPages)];
  static CKeptPages *kept = [] {
    auto *k = new (storage) CKeptPages;
    k->maxBytes = MostKeptBytes();
    return k;
  }();
  return *kept;
}

using Guard = std::lock_guard<std::mutex>;

void DropLocked(CKeptPages &kept, int index) {
  munmap(kept.entries[index].address, kept.entries[index].length);
  kept.bytes -= kept.entries[index].length;
  std::copy(kept.entries + index + 1, kept.entries + kept.count, kept.entries + index);
  --kept.count;
}

void ReleaseLocked(CKeptPages &kept) {
  while (kept.count > 0) DropLocked(kept, kept.count - 1);
}

// Returns the kept mappings when the module is unloaded (or the program
// ends), so nothing outlives the code that owned it.
struct CKeeper {
  ~CKeeper() {
    CKeptPages &kept = Kept();
    Guard guard(kept.mutex);
    ReleaseLocked(kept);
    kept.open = false;
  }
} g_keeper;

size_t PageSize() {
  static const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return kPage;
}

// Mappings span whole pages; 0 when rounding up would overflow.
size_t PageRounded(size_t bytes) {
  const size_t page = PageSize();
  if (bytes > SIZE_MAX - (page - 1)) return 0;
  return std::max((bytes + page - 1) / page * page, page);
}

// How much longer than a request a kept mapping that serves it whole may be.
size_t Slack(size_t bytes) { return std::max<size_t>(bytes / 16, size_t{64} << 10); }

// The closest kept mapping that serves need whole, or -1.
int ClosestFit(const CKeptPages &kept, size_t need) {
  int best = -1;
  for (int i = kept.count - 1; i >= 0; --i) {
    const size_t l = kept.entries[i].length;
    if (l < need || l - need > Slack(need)) continue;
    if (best < 0 || l < kept.entries[best].length) best = i;
  }
  return best;
}

void *TakeEntryLocked(CKeptPages &kept, int index, size_t &length) {
  void *address = kept.entries[index].address;
  length = kept.entries[index].length;
  kept.bytes -= length;
  std::copy(kept.entries + index + 1, kept.entries + kept.count, kept.entries + index);
  --kept.count;
  return address;
}

// A region of need bytes whose pages are moved over from kept mappings, the
// most recently given back first, without copying them: they stay present.
// Pages beyond what is kept are fresh. filled tells how many bytes were
// moved; null when no region could be had.
void *GatherLocked(CKeptPages &kept, size_t need, size_t &filled) {
  void *region = mmap(nullptr, need, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) return nullptr;
  filled = 0;
  while (filled < need && kept.count > 0) {
    CKeptPages::CEntry &last = kept.entries[kept.count - 1];
    const size_t piece = std::min(last.length, need - filled);
    void *target = static_cast<char *>(region) + filled;
    if (mremap(last.address, piece, piece, MREMAP_MAYMOVE | MREMAP_FIXED, target) == MAP_FAILED) break;
    filled += piece;
    kept.bytes -= piece;
    last.address = static_cast<char *>(last.address) + piece;
    last.length -= piece;
    if (last.length == 0) --kept.count;
  }
  return region;
}

}  // namespace

void *TakeFreshPages(size_t bytes, bool populate) {
  if (void *address = MapPages(bytes, populate)) return address;
  // What is kept may be what stands in the way.
  CKeptPages &kept = Kept();
  {
    Guard guard(kept.mutex);
    if (kept.count == 0) return nullptr;
    ReleaseLocked(kept);
  }
  return MapPages(bytes, populate);
}

void *TakePages(size_t bytes, bool zero, bool populate, size_t &length) {
  const size_t need = PageRounded(bytes);
  if (need == 0) return nullptr;
  CKeptPages &kept = Kept();
  {
    Guard guard(kept.mutex);
    if (const int fit = ClosestFit(kept, need); fit >= 0) {
      void *address = TakeEntryLocked(kept, fit, length);
      if (zero) std::memset(address, 0, bytes);
      return address;
    }
    if (kept.count > 0) {
      size_t filled = 0;
      if (void *region = GatherLocked(kept, need, filled)) {
        if (zero) std::memset(region, 0, std::min(filled, bytes));
        if (populate && filled < need) PrefaultForWriting(static_cast<char *>(region) + filled, need - filled);
        length = need;
        return region;
      }
    }
  }
  length = need;
  return TakeFreshPages(need, populate);
}

bool GivePagesBack(void *address, size_t bytes) {
  if (!address) return true;
  const size_t length = PageRounded(bytes);
  CKeptPages &kept = Kept();
  {
    Guard guard(kept.mutex);
    if (kept.open && length <= kept.maxBytes) {
      while (kept.count > 0 &&
             (kept.count == CKeptPages::kMaxEntries || kept.bytes + length > kept.maxBytes)) {
        DropLocked(kept, 0);
      }
      kept.entries[kept.count++] = {address, length};
      kept.bytes += length;
      return true;
    }
  }
  return munmap(address, length) == 0;
}

void ReleaseKeptPages() {
  CKeptPages &kept = Kept();
  Guard guard(kept.mutex);
  ReleaseLocked(kept);
}

size_t KeptPageBytes() {
  CKeptPages &kept = Kept();
  Guard guard(kept.mutex);
  return kept.bytes;
}
