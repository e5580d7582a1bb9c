// Reference-counted memory blocks from one process-wide allocator, with four
// backings. A block's address is valid only while it is locked. Failures are
// thrown as CJException (102 no memory, 110 no storage, 101 bad handle).
#pragma once

#include <cstddef>
#include <cstdint>
#include <atomic>
#include <mutex>
#include <string>

#include "platform/GlobalMemory.h"

enum keMemKind : int {
  keMemPolicy = 0,  // the allocator chooses (temporary file above the threshold)
  keMemGlobal = 1,
  keMemHeap = 2,
  keMemVirtual = 3,
  keMemTempFile = 4,
};

enum class MemInterface { Unknown, Block, GlobalHandle };

struct MemStatistics {
  size_t liveBlocks = 0;
  size_t peakBlocks = 0;
  size_t liveBytes = 0;
  size_t peakBytes = 0;
};

class CRawBlock;

class CMemBlock {
 public:
  // Interface-object protocol.
  virtual bool QueryInterface(MemInterface iid, void** out);
  virtual uint32_t AddRef();
  virtual uint32_t Release();  // the last release frees the block

  // Block interface.
  virtual void Resize(size_t newSize, bool zero, const char* tag, int line);
  virtual void* Lock(size_t offset, size_t length, const char* tag, int line);
  virtual void Unlock(size_t offset, size_t length, const char* tag, int line);
  virtual size_t Size() const;

  // Global-handle interface.
  virtual HGLOBAL DetachGlobal();  // gives the contents away as a handle; the block is emptied
  virtual HGLOBAL CopyToGlobal();
  virtual void AdoptGlobal(HGLOBAL& handle);  // the caller's handle is cleared
  virtual void CopyFromGlobal(HGLOBAL handle);

  // Moves an unlocked, non-empty block to another backing; false otherwise.
  bool ChangeKind(keMemKind kind);
  keMemKind Kind() const;
  int LockCount() const;
  // For diagnostics and tests: the bytes a temporary-file mapping spans (0 otherwise).
  size_t MappingSize() const;
  bool IsMapped() const;

 protected:
  friend class CMemAllocator;
  explicit CMemBlock(CRawBlock* raw);
  virtual ~CMemBlock();

 private:
  std::atomic<uint32_t> m_refCount{1};
  CRawBlock* m_raw;
};

class CMemAllocator {
 public:
  static CMemAllocator& Instance();

  // A block with reference count 1; throws CJException 102 on failure.
  CMemBlock* Allocate(size_t size, bool zero, keMemKind kind, const char* tag, int line);
  CMemBlock* FromGlobal(HGLOBAL& handle, keMemKind kind, bool adopt, const char* tag, int line);

  MemStatistics Statistics() const;
  keMemKind DefaultKind() const;
  size_t FileThreshold() const;
  void SetFileThreshold(size_t bytes);
  std::recursive_mutex& CriticalSection();
};

// A lock on a range of a block, released when the lock is destroyed.
class CMemLock {
 public:
  CMemLock() = default;
  CMemLock(const CMemLock&) = delete;
  CMemLock& operator=(const CMemLock&) = delete;
  ~CMemLock();

  // length 0 means up to the end of the block.
  void* Lock(CMemBlock* block, size_t offset, size_t length, const char* tag, int line);
  void Unlock();
  void* Address() const { return m_address; }
  CMemBlock* Block() const { return m_block; }

 private:
  CMemBlock* m_block = nullptr;
  void* m_address = nullptr;
  size_t m_offset = 0;
  size_t m_length = 0;
};
