#include "imagecore/MemBlock.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "imagecore/CoreResult.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;

template <typename F>
uint32_t ThrownCode(F&& f) {
  try {
    f();
  } catch (const CJException& e) {
    return e.Code();
  }
  return 0;
}

void Fill(CMemBlock* block, size_t count, uint8_t seed) {
  auto* bytes = static_cast<uint8_t*>(block->Lock(0, count, __FILE__, __LINE__));
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  block->Unlock(0, count, __FILE__, __LINE__);
}

// Index of the first byte that breaks the pattern (or is not zero past
// `patterned`), or -1 when all `count` bytes are as expected.
long FirstMismatch(CMemBlock* block, size_t patterned, size_t count, uint8_t seed) {
  CMemLock lock;
  auto* bytes = static_cast<uint8_t*>(lock.Lock(block, 0, count, __FILE__, __LINE__));
  for (size_t i = 0; i < count; ++i) {
    const uint8_t expected = i < patterned ? static_cast<uint8_t>(seed + i * 7) : 0;
    if (bytes[i] != expected) return static_cast<long>(i);
  }
  return -1;
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

// Views of our temporary files that are mapped into this process.
int MappedTempViews(const std::string& dir) {
  std::ifstream maps("/proc/self/maps");
  int count = 0;
  for (std::string line; std::getline(maps, line);)
    if (line.find(dir + "/~") != std::string::npos) ++count;
  return count;
}

CMemBlock* Allocate(size_t size, bool zero, keMemKind kind) {
  return CMemAllocator::Instance().Allocate(size, zero, kind, __FILE__, __LINE__);
}

// Every test runs with its own temporary directory, which must be empty again
// when the test ends: temporary files never outlive their creation.
class MemBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelvane-memtest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_dir = pattern;
    const char* old = std::getenv("TMPDIR");
    m_hadTmpDir = old != nullptr;
    if (old) m_oldTmpDir = old;
    setenv("TMPDIR", m_dir.c_str(), 1);
  }
  void TearDown() override {
    EXPECT_TRUE(DirectoryEntries(m_dir).empty()) << "a temporary file was left behind";
    rmdir(m_dir.c_str());
    if (m_hadTmpDir) setenv("TMPDIR", m_oldTmpDir.c_str(), 1);
    else unsetenv("TMPDIR");
  }

  std::string m_dir;
  std::string m_oldTmpDir;
  bool m_hadTmpDir = false;
};

}  // namespace

TEST_F(MemBlockTest, PolicyPutsBlocksFromSixteenMiBIntoATemporaryFile) {
  EXPECT_EQ(CMemAllocator::Instance().DefaultKind(), keMemVirtual);
  EXPECT_EQ(CMemAllocator::Instance().FileThreshold(), 16 * kMiB);

  CMemBlock* big = Allocate(16 * kMiB, true, keMemPolicy);
  EXPECT_EQ(big->Kind(), keMemTempFile);
  EXPECT_EQ(big->MappingSize(), 16 * kMiB);
  EXPECT_EQ(big->Size(), 16 * kMiB);
  // Unlinked at once: the directory holds nothing even while the block lives.
  EXPECT_TRUE(DirectoryEntries(m_dir).empty());
  EXPECT_EQ(FirstMismatch(big, 0, 16 * kMiB, 0), -1);
  big->Release();

  CMemBlock* below = Allocate(16 * kMiB - 1, false, keMemPolicy);
  EXPECT_EQ(below->Kind(), keMemVirtual);
  EXPECT_EQ(below->MappingSize(), 0u);
  below->Release();

  // An explicit kind is never redirected.
  CMemBlock* strip = Allocate(32 * kMiB, true, keMemVirtual);
  EXPECT_EQ(strip->Kind(), keMemVirtual);
  strip->Release();
}

TEST_F(MemBlockTest, ThresholdZeroKeepsEverythingInTheDefaultKind) {
  CMemAllocator& allocator = CMemAllocator::Instance();
  allocator.SetFileThreshold(0);
  CMemBlock* block = Allocate(16 * kMiB, false, keMemPolicy);
  allocator.SetFileThreshold(16 * kMiB);
  EXPECT_EQ(block->Kind(), keMemVirtual);
  block->Release();
}

TEST_F(MemBlockTest, TemporaryFileMappingIsRoundedToWholeGranules) {
  CMemBlock* small = Allocate(100, true, keMemTempFile);
  EXPECT_EQ(small->MappingSize(), 65536u);
  CMemBlock* over = Allocate(65537, true, keMemTempFile);
  EXPECT_EQ(over->MappingSize(), 131072u);
  small->Release();
  over->Release();
}

TEST_F(MemBlockTest, TemporaryFileViewStaysMappedUntilTheLastUnlock) {
  CMemBlock* block = Allocate(200000, true, keMemTempFile);
  EXPECT_FALSE(block->IsMapped());
  auto* first = static_cast<uint8_t*>(block->Lock(0, 0, __FILE__, __LINE__));
  auto* second = static_cast<uint8_t*>(block->Lock(1000, 10, __FILE__, __LINE__));
  EXPECT_EQ(second, first + 1000);
  EXPECT_EQ(block->LockCount(), 2);
  first[1000] = 42;

  block->Unlock(0, 0, __FILE__, __LINE__);
  EXPECT_TRUE(block->IsMapped());
  EXPECT_EQ(block->LockCount(), 1);
  EXPECT_EQ(second[0], 42);

  block->Unlock(0, 0, __FILE__, __LINE__);
  EXPECT_FALSE(block->IsMapped());
  EXPECT_EQ(block->LockCount(), 0);
  EXPECT_EQ(MappedTempViews(m_dir), 0);

  // An unlock too many is ignored; the bytes survive unmapping.
  block->Unlock(0, 0, __FILE__, __LINE__);
  EXPECT_EQ(block->LockCount(), 0);
  auto* again = static_cast<uint8_t*>(block->Lock(0, 0, __FILE__, __LINE__));
  EXPECT_EQ(again[1000], 42);
  block->Unlock(0, 0, __FILE__, __LINE__);
  block->Release();
}

TEST_F(MemBlockTest, FreeingALockedBlockUnlocksItFirst) {
  CMemBlock* file = Allocate(100000, true, keMemTempFile);
  file->Lock(0, 0, __FILE__, __LINE__);
  file->Lock(0, 0, __FILE__, __LINE__);
  EXPECT_EQ(MappedTempViews(m_dir), 1);
  const MemStatistics before = CMemAllocator::Instance().Statistics();
  file->Release();
  EXPECT_EQ(MappedTempViews(m_dir), 0);
  const MemStatistics after = CMemAllocator::Instance().Statistics();
  EXPECT_EQ(after.liveBlocks, before.liveBlocks - 1);
  EXPECT_EQ(after.liveBytes, before.liveBytes - 100000);

  // A detached global block hands over a handle with no lock left on it.
  CMemBlock* global = Allocate(64, true, keMemGlobal);
  global->Lock(0, 0, __FILE__, __LINE__);
  global->Lock(0, 0, __FILE__, __LINE__);
  HGLOBAL handle = global->DetachGlobal();
  EXPECT_EQ(GlobalFlags(handle) & GMEM_LOCKCOUNT, 0u);
  EXPECT_EQ(global->Size(), 0u);
  EXPECT_EQ(ThrownCode([&] { global->Lock(0, 0, __FILE__, __LINE__); }), keErrNoStorage);
  global->Release();
  EXPECT_EQ(GlobalFree(handle), nullptr);
}

TEST_F(MemBlockTest, AdoptingAnInvalidOrDiscardedHandleFailsAndLeavesIt) {
  CMemAllocator& allocator = CMemAllocator::Instance();
  const size_t handles = GlobalHandleCount();

  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, 16);
  GlobalFree(freed);
  HGLOBAL handle = freed;
  EXPECT_EQ(ThrownCode([&] { allocator.FromGlobal(handle, keMemHeap, true, __FILE__, __LINE__); }),
            keErrInvalidArgument);
  EXPECT_EQ(handle, freed);
  HGLOBAL none = nullptr;
  EXPECT_EQ(ThrownCode([&] { allocator.FromGlobal(none, keMemGlobal, true, __FILE__, __LINE__); }),
            keErrInvalidArgument);

  HGLOBAL discarded = GlobalAlloc(GMEM_MOVEABLE, 16);
  ASSERT_NE(GlobalDiscard(discarded), nullptr);
  handle = discarded;
  for (keMemKind kind : {keMemGlobal, keMemVirtual}) {
    EXPECT_EQ(ThrownCode([&] { allocator.FromGlobal(handle, kind, true, __FILE__, __LINE__); }),
              keErrInvalidArgument);
    EXPECT_EQ(handle, discarded);
    EXPECT_EQ(GlobalFlags(handle), unsigned{GMEM_DISCARDED});
  }

  // A block asked to adopt keeps its own contents.
  CMemBlock* block = Allocate(32, false, keMemHeap);
  Fill(block, 32, 5);
  EXPECT_EQ(ThrownCode([&] { block->AdoptGlobal(handle); }), keErrInvalidArgument);
  EXPECT_EQ(handle, discarded);
  EXPECT_EQ(block->Size(), 32u);
  EXPECT_EQ(FirstMismatch(block, 32, 32, 5), -1);
  block->Release();

  GlobalFree(discarded);
  EXPECT_EQ(GlobalHandleCount(), handles);
}

TEST_F(MemBlockTest, AdoptingAsGlobalTakesTheHandleItself) {
  const size_t handles = GlobalHandleCount();
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 300);
  auto* bytes = static_cast<uint8_t*>(GlobalLock(handle));
  std::memset(bytes, 9, 300);
  HGLOBAL original = handle;

  CMemBlock* block =
      CMemAllocator::Instance().FromGlobal(handle, keMemGlobal, true, __FILE__, __LINE__);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(block->Kind(), keMemGlobal);
  EXPECT_EQ(block->Size(), 300u);
  EXPECT_EQ(block->LockCount(), 1);  // the caller's lock came along
  EXPECT_EQ(GlobalHandleCount(), handles + 1);
  block->Release();
  EXPECT_EQ(GlobalHandleCount(), handles);
  EXPECT_EQ(GlobalFlags(original), unsigned{GMEM_INVALID_HANDLE});
}

TEST_F(MemBlockTest, AdoptingIntoAnotherKindCopiesAndFreesTheHandle) {
  const size_t handles = GlobalHandleCount();
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 5000);
  auto* bytes = static_cast<uint8_t*>(GlobalLock(handle));
  for (int i = 0; i < 5000; ++i) bytes[i] = static_cast<uint8_t>(3 + i * 7);
  GlobalUnlock(handle);

  CMemAllocator& allocator = CMemAllocator::Instance();
  HGLOBAL kept = handle;
  CMemBlock* copy = allocator.FromGlobal(kept, keMemHeap, false, __FILE__, __LINE__);
  EXPECT_EQ(kept, handle);  // copying leaves the handle with the caller
  EXPECT_EQ(copy->Kind(), keMemHeap);
  EXPECT_EQ(FirstMismatch(copy, 5000, 5000, 3), -1);

  CMemBlock* adopted = allocator.FromGlobal(handle, keMemPolicy, true, __FILE__, __LINE__);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(adopted->Kind(), keMemVirtual);
  EXPECT_EQ(FirstMismatch(adopted, 5000, 5000, 3), -1);
  EXPECT_EQ(GlobalHandleCount(), handles);

  // Round trip through the block's own global-handle interface.
  HGLOBAL out = adopted->CopyToGlobal();
  EXPECT_EQ(GlobalSize(out), 5000u);
  copy->CopyFromGlobal(out);
  EXPECT_EQ(GlobalSize(out), 5000u);
  copy->AdoptGlobal(out);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(copy->Kind(), keMemHeap);
  EXPECT_EQ(FirstMismatch(copy, 5000, 5000, 3), -1);
  EXPECT_EQ(GlobalHandleCount(), handles);

  HGLOBAL detached = adopted->DetachGlobal();
  EXPECT_EQ(GlobalSize(detached), 5000u);
  EXPECT_EQ(static_cast<uint8_t*>(GlobalLock(detached))[4999], static_cast<uint8_t>(3 + 4999 * 7));
  GlobalUnlock(detached);
  GlobalFree(detached);
  copy->Release();
  adopted->Release();
  EXPECT_EQ(GlobalHandleCount(), handles);
}

TEST_F(MemBlockTest, ResizeKeepsContentsAndZeroesTheGrownPart) {
  for (keMemKind kind : {keMemGlobal, keMemHeap, keMemVirtual, keMemTempFile}) {
    SCOPED_TRACE(kind);
    CMemBlock* block = Allocate(1000, false, kind);
    Fill(block, 1000, 11);
    const MemStatistics before = CMemAllocator::Instance().Statistics();

    block->Resize(200000, true, __FILE__, __LINE__);
    EXPECT_EQ(block->Size(), 200000u);
    EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBytes, before.liveBytes + 199000);
    EXPECT_EQ(FirstMismatch(block, 1000, 200000, 11), -1);

    // Bytes cut off by a shrink must not come back when the block grows again.
    block->Resize(10, true, __FILE__, __LINE__);
    block->Resize(1000, true, __FILE__, __LINE__);
    EXPECT_EQ(FirstMismatch(block, 10, 1000, 11), -1);
    EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBytes, before.liveBytes);

    // Resizing gives up every lock.
    block->Lock(0, 0, __FILE__, __LINE__);
    block->Resize(2000, true, __FILE__, __LINE__);
    EXPECT_EQ(block->LockCount(), 0);
    block->Release();
  }
}

TEST_F(MemBlockTest, StatisticsCountLiveBlocksAndBytesWithPeaks) {
  CMemAllocator& allocator = CMemAllocator::Instance();
  const MemStatistics start = allocator.Statistics();
  // Larger than anything before, so these blocks set the peaks.
  const size_t size = start.peakBytes + 4096;
  CMemBlock* a = Allocate(size, false, keMemVirtual);
  CMemBlock* b = Allocate(size, false, keMemVirtual);
  MemStatistics now = allocator.Statistics();
  EXPECT_EQ(now.liveBlocks, start.liveBlocks + 2);
  EXPECT_GE(now.peakBlocks, now.liveBlocks);
  EXPECT_EQ(now.liveBytes, start.liveBytes + 2 * size);
  EXPECT_EQ(now.peakBytes, now.liveBytes);

  a->Release();
  now = allocator.Statistics();
  EXPECT_EQ(now.liveBlocks, start.liveBlocks + 1);
  EXPECT_EQ(now.liveBytes, start.liveBytes + size);
  EXPECT_EQ(now.peakBytes, start.liveBytes + 2 * size);

  b->Resize(3 * size, false, __FILE__, __LINE__);
  now = allocator.Statistics();
  EXPECT_EQ(now.peakBytes, start.liveBytes + 3 * size);
  b->Release();
  now = allocator.Statistics();
  EXPECT_EQ(now.liveBlocks, start.liveBlocks);
  EXPECT_EQ(now.liveBytes, start.liveBytes);
}

TEST_F(MemBlockTest, ChangeOfKindKeepsTheBytes) {
  CMemBlock* block = Allocate(70000, false, keMemVirtual);
  Fill(block, 70000, 23);
  for (keMemKind kind : {keMemHeap, keMemGlobal, keMemTempFile, keMemVirtual}) {
    EXPECT_TRUE(block->ChangeKind(kind));
    EXPECT_EQ(block->Kind(), kind);
    EXPECT_EQ(block->Size(), 70000u);
    EXPECT_EQ(FirstMismatch(block, 70000, 70000, 23), -1);
  }
  const MemStatistics stats = CMemAllocator::Instance().Statistics();

  // A locked block keeps its kind.
  block->Lock(0, 0, __FILE__, __LINE__);
  EXPECT_FALSE(block->ChangeKind(keMemHeap));
  EXPECT_EQ(block->Kind(), keMemVirtual);
  block->Unlock(0, 0, __FILE__, __LINE__);
  EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, stats.liveBlocks);
  block->Release();

  CMemBlock* empty = Allocate(0, false, keMemHeap);
  EXPECT_FALSE(empty->ChangeKind(keMemVirtual));
  EXPECT_EQ(empty->Kind(), keMemHeap);
  empty->Release();
}

TEST_F(MemBlockTest, LockOutsideTheBlockIsRefused) {
  CMemBlock* block = Allocate(100, true, keMemHeap);
  EXPECT_EQ(ThrownCode([&] { block->Lock(101, 0, __FILE__, __LINE__); }), keErrInvalidArgument);
  EXPECT_EQ(ThrownCode([&] { block->Lock(50, 51, __FILE__, __LINE__); }), keErrInvalidArgument);
  EXPECT_EQ(block->LockCount(), 0);
  EXPECT_EQ(ThrownCode([] { Allocate(1, false, static_cast<keMemKind>(9)); }),
            keErrInvalidArgument);
  block->Release();
}

TEST_F(MemBlockTest, MemLockHoldsAReferenceUntilUnlocked) {
  CMemBlock* first = Allocate(4096, true, keMemVirtual);
  CMemBlock* second = Allocate(4096, true, keMemHeap);
  const size_t live = CMemAllocator::Instance().Statistics().liveBlocks;
  {
    CMemLock lock;
    auto* bytes = static_cast<uint8_t*>(lock.Lock(first, 96, 0, __FILE__, __LINE__));
    first->Release();  // the lock keeps the block alive
    EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, live);
    bytes[0] = 1;

    // Locking another block gives the first one up.
    lock.Lock(second, 0, 0, __FILE__, __LINE__);
    EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, live - 1);
    EXPECT_EQ(second->LockCount(), 1);
  }
  EXPECT_EQ(second->LockCount(), 0);
  second->Release();
}

TEST_F(MemBlockTest, ATemporaryFileThatCannotBeCreatedFailsWithOutOfMemory) {
  const std::string missing = m_dir + "/missing";
  setenv("TMPDIR", missing.c_str(), 1);
  EXPECT_EQ(ThrownCode([] { Allocate(1000, true, keMemTempFile); }), keErrOutOfMemory);
  setenv("TMPDIR", m_dir.c_str(), 1);
}

TEST_F(MemBlockTest, ThreadsShareTheAllocatorSafely) {
  const MemStatistics start = CMemAllocator::Instance().Statistics();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      const keMemKind kinds[] = {keMemGlobal, keMemHeap, keMemVirtual, keMemTempFile};
      for (int i = 0; i < 200; ++i) {
        CMemBlock* block = Allocate(1000 + i, true, kinds[(t + i) % 4]);
        CMemLock lock;
        auto* bytes = static_cast<uint8_t*>(lock.Lock(block, 0, 0, __FILE__, __LINE__));
        bytes[i] = static_cast<uint8_t>(t);
        block->AddRef();
        block->Release();
        lock.Unlock();
        block->Release();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const MemStatistics end = CMemAllocator::Instance().Statistics();
  EXPECT_EQ(end.liveBlocks, start.liveBlocks);
  EXPECT_EQ(end.liveBytes, start.liveBytes);
}

// The stand-in for moveable global memory, as far as the blocks rely on it.
TEST(GlobalMemoryTest, UnlockTellsCountReachedZeroFromFailure) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 10);
  ASSERT_NE(handle, nullptr);
  ASSERT_NE(GlobalLock(handle), nullptr);
  ASSERT_NE(GlobalLock(handle), nullptr);
  EXPECT_EQ(GlobalFlags(handle) & GMEM_LOCKCOUNT, 2u);

  SetGlobalLastError(keGlobalErrNone);
  EXPECT_TRUE(GlobalUnlock(handle));
  EXPECT_FALSE(GlobalUnlock(handle));
  EXPECT_EQ(GlobalLastError(), keGlobalErrNone);  // now unlocked, not failed
  EXPECT_FALSE(GlobalUnlock(handle));
  EXPECT_EQ(GlobalLastError(), unsigned{keGlobalErrNotLocked});

  EXPECT_EQ(GlobalFree(handle), nullptr);
  SetGlobalLastError(keGlobalErrNone);
  EXPECT_FALSE(GlobalUnlock(handle));
  EXPECT_EQ(GlobalLastError(), unsigned{keGlobalErrInvalidHandle});
  EXPECT_EQ(GlobalFlags(handle), unsigned{GMEM_INVALID_HANDLE});
  EXPECT_EQ(GlobalFree(handle), handle);
}

TEST(GlobalMemoryTest, DiscardKeepsTheHandleAndReAllocRevivesIt) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 8);
  GlobalLock(handle);
  EXPECT_EQ(GlobalDiscard(handle), nullptr);  // locked blocks stay
  GlobalUnlock(handle);
  EXPECT_EQ(GlobalDiscard(handle), handle);
  EXPECT_EQ(GlobalFlags(handle), unsigned{GMEM_DISCARDED});
  EXPECT_EQ(GlobalSize(handle), 0u);
  EXPECT_EQ(GlobalLock(handle), nullptr);

  EXPECT_EQ(GlobalReAlloc(handle, 4, GMEM_MOVEABLE | GMEM_ZEROINIT), handle);
  EXPECT_EQ(GlobalFlags(handle), 0u);
  auto* bytes = static_cast<uint8_t*>(GlobalLock(handle));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes[0] | bytes[1] | bytes[2] | bytes[3], 0);
  // A locked block cannot move, so it cannot grow.
  EXPECT_EQ(GlobalReAlloc(handle, 1 << 20, GMEM_MOVEABLE), nullptr);
  GlobalUnlock(handle);
  GlobalFree(handle);

  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  EXPECT_EQ(GlobalFlags(empty), unsigned{GMEM_DISCARDED});
  GlobalFree(empty);
}
