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

// The entry leaves the keeper; its mapping is the caller's.
void *TakeEntryLocked(CKeptPages &kept, int index, size_t &length) {
  void *address = kept.entries[index].address;
  length = kept.entries[index].length;
  kept.bytes -= length;
  std::copy(kept.entries + index + 1, kept.entries + kept.count, kept.entries + index);
  --kept.count;
  return address;
}

void DropLocked(CKeptPages &kept, int index) {
  size_t length = 0;
  void *address = TakeEntryLocked(kept, index, length);
  munmap(address, length);
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

// The shortest kept mapping at least need long, or -1; of equal ones the most
// recently given back.
int ShortestServing(const CKeptPages &kept, size_t need) {
  int best = -1;
  for (int i = kept.count - 1; i >= 0; --i) {
    const size_t l = kept.entries[i].length;
    if (l >= need && (best < 0 || l < kept.entries[best].length)) best = i;
  }
  return best;
}

// The front of a kept mapping, split off where it lies: its pages are not
// moved, so they keep their cheap first touch.
void *TakeFrontLocked(CKeptPages &kept, int index, size_t need) {
  CKeptPages::CEntry &entry = kept.entries[index];
  void *address = entry.address;
  entry.address = static_cast<char *>(entry.address) + need;
  entry.length -= need;
  kept.bytes -= need;
  return address;
}

// What one page table maps. Pages moved to another offset in their table
// are as slow on their next touch as fresh ones on some hypervisors; moved
// with their offset kept, the whole table moves with them.
constexpr uintptr_t kTableBytes = uintptr_t{2} << 20;

uintptr_t TableOffset(const void *p) { return reinterpret_cast<uintptr_t>(p) & (kTableBytes - 1); }

// need bytes of fresh address space at the offset in a table that anchor has.
char *ReserveLike(size_t need, const void *anchor) {
  if (need > SIZE_MAX - kTableBytes) return nullptr;
  const size_t span = need + kTableBytes;
  void *reserved = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (reserved == MAP_FAILED) return nullptr;
  char *start = static_cast<char *>(reserved);
  const size_t head = (TableOffset(anchor) - TableOffset(start)) & (kTableBytes - 1);
  if (head > 0) munmap(start, head);
  munmap(start + head + need, span - head - need);
  return start + head;
}

// A region of need bytes whose pages are moved over, without copying them,
// from the kept mappings most recently given back: they stay present.
// The longest of these goes first, at its own offset in a table; after it,
// any that keeps its offset where it lands comes before the others. Pages
// beyond what is kept are fresh. filled tells how many bytes were moved;
// null when no region could be had.
void *GatherLocked(CKeptPages &kept, size_t need, size_t &filled) {
  // The mappings to use, newest first; only the front of the oldest of them
  // when it is more than the rest of the request.
  int first = kept.count;
  size_t taken = 0;
  while (taken < need && first > 0) {
    --first;
    taken += std::min(kept.entries[first].length, need - taken);
  }
  int longest = kept.count - 1;
  for (int i = kept.count - 2; i >= first; --i) {
    if (kept.entries[i].length > kept.entries[longest].length) longest = i;
  }
  char *region = ReserveLike(need, kept.entries[longest].address);
  if (!region) return nullptr;

  bool moved[CKeptPages::kMaxEntries] = {};
  // A joined mapping may span several of the system's, which older kernels
  // cannot move in one call; such a mapping stays kept.
  bool stays[CKeptPages::kMaxEntries] = {};
  filled = 0;
  for (int next = longest; next >= 0;) {
    CKeptPages::CEntry &entry = kept.entries[next];
    const size_t piece = std::min(entry.length, need - filled);
    char *target = region + filled;
    if (mremap(entry.address, piece, piece, MREMAP_MAYMOVE | MREMAP_FIXED, target) == MAP_FAILED) {
      stays[next] = true;
    } else {
      filled += piece;
      kept.bytes -= piece;
      entry.address = static_cast<char *>(entry.address) + piece;
      entry.length -= piece;
      moved[next] = entry.length == 0;
    }
    // The next: one that keeps its offset here, else the newest left.
    next = -1;
    for (int i = kept.count - 1; i >= first && filled < need; --i) {
      if (moved[i] || stays[i]) continue;
      if (next < 0) next = i;
      if (TableOffset(kept.entries[i].address) == TableOffset(region + filled)) {
        next = i;
        break;
      }
    }
  }
  int count = 0;
  for (int i = 0; i < kept.count; ++i) {
    if (!moved[i]) kept.entries[count++] = kept.entries[i];
  }
  kept.count = count;
  return region;
}

// Mappings from this length on join the kept ones they touch. The pieces
// of one long mapping, cut from its front one after another (an image's
// strips, say), so come back as that mapping, which a long request can then
// use where it lies: only pages never moved keep a cheap next touch, while
// gathering moves every page. Shorter mappings stay apart, so the count of
// kept mappings still bounds the small ones.
constexpr size_t kJoinFrom = size_t{256} << 10;

// Widens [address, address + length) by every kept mapping it touches,
// which leaves the keeper.
void JoinNeighboursLocked(CKeptPages &kept, void *&address, size_t &length) {
  if (length < kJoinFrom) return;
  for (bool joined = true; joined;) {
    joined = false;
    char *begin = static_cast<char *>(address);
    for (int i = kept.count - 1; i >= 0; --i) {
      const char *other = static_cast<char *>(kept.entries[i].address);
      const size_t otherLength = kept.entries[i].length;
      if (otherLength < kJoinFrom || (other + otherLength != begin && begin + length != other)) continue;
      size_t taken = 0;
      address = std::min(begin, static_cast<char *>(TakeEntryLocked(kept, i, taken)));
      length += taken;
      joined = true;
      break;
    }
  }
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
    if (const int serving = ShortestServing(kept, need); serving >= 0) {
      // A mapping a little longer serves whole; a longer one gives its front.
      void *address = nullptr;
      if (kept.entries[serving].length - need <= Slack(need)) {
        address = TakeEntryLocked(kept, serving, length);
      } else {
        address = TakeFrontLocked(kept, serving, need);
        length = need;
      }
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
  size_t length = PageRounded(bytes);
  CKeptPages &kept = Kept();
  {
    Guard guard(kept.mutex);
    if (kept.open && length <= kept.maxBytes) {
      JoinNeighboursLocked(kept, address, length);
      if (length > kept.maxBytes) return munmap(address, length) == 0;
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
