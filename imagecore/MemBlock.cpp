#include "imagecore/MemBlock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "imagecore/CoreResult.h"
#include "platform/RecycledPages.h"

namespace {

constexpr size_t kMappingGranule = 65536;
constexpr size_t kDefaultFileThreshold = 16u * 1024u * 1024u;

// Rounds up to the mapping granule; 0 when that would overflow. An empty
// block still gets one granule, as a zero-length mapping cannot exist.
size_t MappingBytes(size_t size) {
  if (size > SIZE_MAX - (kMappingGranule - 1)) return 0;
  const size_t rounded = (size + kMappingGranule - 1) / kMappingGranule * kMappingGranule;
  return rounded == 0 ? kMappingGranule : rounded;
}

}  // namespace

// The backing-specific part of a block. Every call is made with the
// allocator's critical section held.
class CRawBlock {
 public:
  explicit CRawBlock(keMemKind kind) : m_kind(kind) {}
  CRawBlock(const CRawBlock&) = delete;
  CRawBlock& operator=(const CRawBlock&) = delete;
  virtual ~CRawBlock() = default;

  virtual bool Allocate(size_t size, bool zero) = 0;
  virtual bool Resize(size_t oldSize, size_t newSize, bool zero) = 0;
  virtual bool Free() = 0;
  // Address of the byte at offset, or null.
  virtual void* Lock(size_t offset) = 0;
  virtual bool Unlock() = 0;
  virtual size_t MappingSize() const { return 0; }
  virtual bool IsMapped() const { return false; }

  size_t m_size = 0;
  int m_lockCount = 0;
  CRawBlock* m_next = nullptr;
  CRawBlock* m_prev = nullptr;
  keMemKind m_kind;
};

namespace {

class CRawGlobal final : public CRawBlock {
 public:
  CRawGlobal() : CRawBlock(keMemGlobal) {}
  explicit CRawGlobal(HGLOBAL adopted) : CRawBlock(keMemGlobal), m_handle(adopted) {}

  bool Allocate(size_t size, bool zero) override {
    m_handle = GlobalAlloc(GMEM_MOVEABLE | (zero ? GMEM_ZEROINIT : 0u), size);
    return m_handle != nullptr;
  }
  bool Resize(size_t, size_t newSize, bool zero) override {
    HGLOBAL moved = GlobalReAlloc(m_handle, newSize, GMEM_MOVEABLE | (zero ? GMEM_ZEROINIT : 0u));
    if (!moved) return false;
    m_handle = moved;
    return true;
  }
  bool Free() override {
    if (GlobalFree(m_handle) != nullptr) return false;
    m_handle = nullptr;
    return true;
  }
  void* Lock(size_t offset) override {
    auto* address = static_cast<unsigned char*>(GlobalLock(m_handle));
    if (!address) return nullptr;
    ++m_lockCount;
    return address + offset;
  }
  bool Unlock() override {
    // False alone only says the count reached 0; the error tells a failure.
    SetGlobalLastError(keGlobalErrNone);
    if (!GlobalUnlock(m_handle) && GlobalLastError() != keGlobalErrNone) return false;
    --m_lockCount;
    return true;
  }

  HGLOBAL Release() {
    HGLOBAL handle = m_handle;
    m_handle = nullptr;
    return handle;
  }

 private:
  HGLOBAL m_handle = nullptr;
};

class CRawHeap final : public CRawBlock {
 public:
  CRawHeap() : CRawBlock(keMemHeap) {}

  bool Allocate(size_t size, bool zero) override {
    m_bytes = new (std::nothrow) unsigned char[size == 0 ? 1 : size];
    if (!m_bytes) return false;
    if (zero) std::memset(m_bytes, 0, size);
    return true;
  }
  bool Resize(size_t oldSize, size_t newSize, bool zero) override {
    auto* bytes = new (std::nothrow) unsigned char[newSize == 0 ? 1 : newSize];
    if (!bytes) return false;
    const size_t kept = oldSize < newSize ? oldSize : newSize;
    std::memcpy(bytes, m_bytes, kept);
    if (zero && newSize > kept) std::memset(bytes + kept, 0, newSize - kept);
    delete[] m_bytes;
    m_bytes = bytes;
    return true;
  }
  bool Free() override {
    delete[] m_bytes;
    m_bytes = nullptr;
    return true;
  }
  void* Lock(size_t offset) override {
    ++m_lockCount;
    return m_bytes + offset;
  }
  bool Unlock() override {
    --m_lockCount;
    return true;
  }

 private:
  unsigned char* m_bytes = nullptr;
};

// Committed read-write pages. Anonymous mappings arrive zero-filled, so the
// zero flag costs nothing and untouched pages are never made resident. The
// mappings of freed blocks are kept a while for blocks of the same length
// (see RecycledPages.h).
class CRawVirtual final : public CRawBlock {
 public:
  CRawVirtual() : CRawBlock(keMemVirtual) {}

  bool Allocate(size_t size, bool zero) override {
    m_length = size == 0 ? 1 : size;
    m_address = Map(m_length, zero);
    return m_address != nullptr;
  }
  bool Resize(size_t oldSize, size_t newSize, bool) override {
    const size_t length = newSize == 0 ? 1 : newSize;
    // The grown part must read as zeros, so only a fresh mapping will do.
    void* address = MapFresh(length);
    if (!address) return false;
    std::memcpy(address, m_address, oldSize < newSize ? oldSize : newSize);
    Unmap(m_address, m_length);
    m_address = address;
    m_length = length;
    return true;
  }
  bool Free() override {
    if (!Unmap(m_address, m_length)) return false;
    m_address = nullptr;
    return true;
  }
  void* Lock(size_t offset) override {
    ++m_lockCount;
    return static_cast<unsigned char*>(m_address) + offset;
  }
  bool Unlock() override {
    --m_lockCount;
    return true;
  }

 private:
  static void* MapFresh(size_t length);
  // length grows to that of the mapping that serves it.
  static void* Map(size_t& length, bool zero);
  static bool Unmap(void* address, size_t length);

  void* m_address = nullptr;
  size_t m_length = 0;
};

// A temporary file mapped while locked. The file is unlinked as soon as it
// is created, so nothing is left in the temporary directory even if the
// process dies; the open descriptor keeps its storage alive.
class CRawTempFile final : public CRawBlock {
 public:
  CRawTempFile() : CRawBlock(keMemTempFile) {}

  bool Allocate(size_t size, bool) override {
    const size_t bytes = MappingBytes(size);
    if (bytes == 0) return false;
    const char* dir = std::getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    std::string path = std::string(dir) + "/~kvmXXXXXX";
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    // Private to this process: created exclusively with mode 0600, not inherited.
    m_fd = mkostemp(name.data(), O_CLOEXEC);
    if (m_fd < 0) return false;
    unlink(name.data());
    m_path.assign(name.data());
    // A freshly extended file reads as zeros, which serves the zero flag.
    if (!SetLength(bytes)) {
      close(m_fd);
      m_fd = -1;
      return false;
    }
    m_mappingSize = bytes;
    return true;
  }
  bool Resize(size_t oldSize, size_t newSize, bool zero) override {
    const size_t bytes = MappingBytes(newSize);
    if (bytes == 0) return false;
    // Cutting the file at the old size first drops whatever lay beyond it,
    // so the grown part reads back as zeros.
    if (zero && newSize > oldSize && ftruncate(m_fd, static_cast<off_t>(oldSize)) != 0)
      return false;
    if (!SetLength(bytes)) {
      SetLength(m_mappingSize);
      return false;
    }
    m_mappingSize = bytes;
    return true;
  }
  bool Free() override {
    if (m_view) munmap(m_view, m_mappingSize);
    m_view = nullptr;
    if (m_fd >= 0 && close(m_fd) != 0) return false;
    m_fd = -1;
    return true;
  }
  void* Lock(size_t offset) override {
    if (m_lockCount == 0) {
      void* view = mmap(nullptr, m_mappingSize, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
      if (view == MAP_FAILED) return nullptr;
      m_view = view;
      m_lockCount = 1;
    } else {
      ++m_lockCount;
    }
    return static_cast<unsigned char*>(m_view) + offset;
  }
  bool Unlock() override {
    if (m_lockCount < 2) {
      if (m_view) munmap(m_view, m_mappingSize);
      m_view = nullptr;
      m_lockCount = 0;
    } else {
      --m_lockCount;
    }
    return true;
  }
  size_t MappingSize() const override { return m_mappingSize; }
  bool IsMapped() const override { return m_view != nullptr; }

 private:
  // Sets the file length and reserves its blocks: a sparse file on a full
  // disk would otherwise fault when a mapped page is first written.
  bool SetLength(size_t bytes) {
    if (ftruncate(m_fd, static_cast<off_t>(bytes)) != 0) return false;
    if (fallocate(m_fd, 0, 0, static_cast<off_t>(bytes)) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS)
      return false;
    return true;
  }

  std::string m_path;  // already unlinked; kept for diagnostics
  int m_fd = -1;
  size_t m_mappingSize = 0;
  void* m_view = nullptr;
};

// One per process, never destroyed: blocks may still be released by static
// destructors at exit.
struct MemState {
  std::recursive_mutex criticalSection;
  keMemKind defaultKind = keMemVirtual;
  size_t fileThreshold = kDefaultFileThreshold;
  CRawBlock* head = nullptr;
  MemStatistics statistics;
};

// Built in static storage rather than on the heap, so a module that is
// unloaded does not leave it behind as a leak.
MemState& State() {
  alignas(MemState) static unsigned char storage[sizeof(MemState)];
  static MemState* state = new (storage) MemState;
  return *state;
}

using Guard = std::lock_guard<std::recursive_mutex>;

void* CRawVirtual::MapFresh(size_t length) {
  // Blocks are written soon after they are had (pictures are filled row by
  // row), so their pages are asked for at once.
  return TakeFreshPages(length, true);
}

void* CRawVirtual::Map(size_t& length, bool zero) { return TakePages(length, zero, true, length); }

bool CRawVirtual::Unmap(void* address, size_t length) { return GivePagesBack(address, length); }

bool IsBackingKind(keMemKind kind) {
  return kind == keMemGlobal || kind == keMemHeap || kind == keMemVirtual || kind == keMemTempFile;
}

// Kind 0 follows the policy; anything else that is not a backing is refused.
keMemKind ResolveKind(keMemKind kind, size_t size) {
  MemState& state = State();
  if (kind == keMemPolicy) {
    if (state.fileThreshold != 0 && size >= state.fileThreshold) return keMemTempFile;
    return state.defaultKind;
  }
  if (!IsBackingKind(kind)) throw CJException(keErrInvalidArgument);
  return kind;
}

CRawBlock* MakeRaw(keMemKind kind) {
  switch (kind) {
    case keMemGlobal: return new (std::nothrow) CRawGlobal;
    case keMemHeap: return new (std::nothrow) CRawHeap;
    case keMemVirtual: return new (std::nothrow) CRawVirtual;
    case keMemTempFile: return new (std::nothrow) CRawTempFile;
    default: return nullptr;
  }
}

void Link(CRawBlock* raw, size_t size) {
  MemState& state = State();
  raw->m_size = size;
  raw->m_prev = nullptr;
  raw->m_next = state.head;
  if (state.head) state.head->m_prev = raw;
  state.head = raw;
  MemStatistics& s = state.statistics;
  if (++s.liveBlocks > s.peakBlocks) s.peakBlocks = s.liveBlocks;
  s.liveBytes += size;
  if (s.liveBytes > s.peakBytes) s.peakBytes = s.liveBytes;
}

void Unlink(CRawBlock* raw) {
  MemState& state = State();
  if (raw->m_prev) raw->m_prev->m_next = raw->m_next;
  else state.head = raw->m_next;
  if (raw->m_next) raw->m_next->m_prev = raw->m_prev;
  raw->m_next = raw->m_prev = nullptr;
  state.statistics.liveBytes -= raw->m_size;
  --state.statistics.liveBlocks;
}

// kind must already be resolved.
CRawBlock* AllocateRaw(size_t size, bool zero, keMemKind kind) {
  Guard guard(State().criticalSection);
  CRawBlock* raw = MakeRaw(kind);
  if (!raw) return nullptr;
  if (!raw->Allocate(size, zero)) {
    delete raw;
    return nullptr;
  }
  raw->m_lockCount = 0;
  Link(raw, size);
  return raw;
}

void* LockRaw(CRawBlock* raw, size_t offset) {
  Guard guard(State().criticalSection);
  return raw->Lock(offset);
}

bool UnlockRaw(CRawBlock* raw) {
  Guard guard(State().criticalSection);
  if (raw->m_lockCount == 0) return true;
  return raw->Unlock();
}

void UnlockFully(CRawBlock* raw) {
  Guard guard(State().criticalSection);
  while (raw->m_lockCount > 0) {
    if (!raw->Unlock()) break;
  }
}

// False leaves the block allocated and listed.
bool FreeRaw(CRawBlock* raw) {
  Guard guard(State().criticalSection);
  UnlockFully(raw);
  if (!raw->Free()) return false;
  Unlink(raw);
  delete raw;
  return true;
}

bool ResizeRaw(CRawBlock* raw, size_t newSize, bool zero) {
  Guard guard(State().criticalSection);
  UnlockFully(raw);
  if (!raw->Resize(raw->m_size, newSize, zero)) return false;
  MemStatistics& s = State().statistics;
  s.liveBytes = s.liveBytes - raw->m_size + newSize;
  if (s.liveBytes > s.peakBytes) s.peakBytes = s.liveBytes;
  raw->m_size = newSize;
  raw->m_lockCount = 0;
  return true;
}

// Copies the first bytes of one raw block into another.
bool CopyRaw(CRawBlock* from, CRawBlock* to, size_t bytes) {
  Guard guard(State().criticalSection);
  if (bytes == 0) return true;
  void* source = LockRaw(from, 0);
  if (!source) return false;
  void* target = LockRaw(to, 0);
  if (!target) {
    UnlockRaw(from);
    return false;
  }
  std::memcpy(target, source, bytes);
  UnlockRaw(to);
  UnlockRaw(from);
  return true;
}

// A new moveable handle holding the block's bytes; throws 102.
HGLOBAL CopyRawToGlobal(CRawBlock* raw) {
  Guard guard(State().criticalSection);
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, raw->m_size);
  if (!handle) throw CJException(keErrOutOfMemory);
  if (raw->m_size == 0) return handle;
  void* target = GlobalLock(handle);
  void* source = target ? LockRaw(raw, 0) : nullptr;
  if (!source) {
    if (target) GlobalUnlock(handle);
    GlobalFree(handle);
    throw CJException(keErrOutOfMemory);
  }
  std::memcpy(target, source, raw->m_size);
  UnlockRaw(raw);
  GlobalUnlock(handle);
  return handle;
}

// A raw block built from a global handle. An invalid, discarded or empty
// handle throws 101 and is left as it was. With adopt the caller's handle
// is consumed and cleared.
CRawBlock* RawFromGlobal(HGLOBAL& handle, keMemKind kind, bool adopt) {
  Guard guard(State().criticalSection);
  const unsigned flags = handle ? GlobalFlags(handle) : GMEM_INVALID_HANDLE;
  if (flags & (GMEM_INVALID_HANDLE | GMEM_DISCARDED)) throw CJException(keErrInvalidArgument);
  const size_t size = GlobalSize(handle);
  if (size == 0) throw CJException(keErrInvalidArgument);
  if (kind == keMemPolicy) kind = State().defaultKind;
  if (!IsBackingKind(kind)) throw CJException(keErrInvalidArgument);

  if (adopt && kind == keMemGlobal) {
    auto* raw = new (std::nothrow) CRawGlobal(handle);
    if (!raw) throw CJException(keErrOutOfMemory);
    raw->m_lockCount = static_cast<int>(flags & GMEM_LOCKCOUNT);
    Link(raw, size);
    handle = nullptr;
    return raw;
  }

  CRawBlock* raw = AllocateRaw(size, false, kind);
  if (!raw) throw CJException(keErrOutOfMemory);
  void* source = GlobalLock(handle);
  if (!source) {
    FreeRaw(raw);
    throw CJException(keErrInvalidArgument);
  }
  void* target = LockRaw(raw, 0);
  if (!target) {
    GlobalUnlock(handle);
    FreeRaw(raw);
    throw CJException(keErrOutOfMemory);
  }
  std::memcpy(target, source, size);
  UnlockRaw(raw);
  GlobalUnlock(handle);
  if (adopt) {
    GlobalFree(handle);
    handle = nullptr;
  }
  return raw;
}

}  // namespace

// ---------------------------------------------------------------------------
// CMemBlock

CMemBlock::CMemBlock(CRawBlock* raw) : m_raw(raw) {}

CMemBlock::~CMemBlock() {
  if (m_raw) FreeRaw(m_raw);
}

bool CMemBlock::QueryInterface(MemInterface iid, void** out) {
  if (!out) return false;
  switch (iid) {
    case MemInterface::Unknown:
    case MemInterface::Block:
    case MemInterface::GlobalHandle:
      *out = this;
      AddRef();
      return true;
  }
  *out = nullptr;
  return false;
}

uint32_t CMemBlock::AddRef() { return m_refCount.fetch_add(1) + 1; }

uint32_t CMemBlock::Release() {
  const uint32_t left = m_refCount.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

void CMemBlock::Resize(size_t newSize, bool zero, const char*, int) {
  Guard guard(State().criticalSection);
  if (!m_raw) throw CJException(keErrNoStorage);
  if (!ResizeRaw(m_raw, newSize, zero)) throw CJException(keErrOutOfMemory);
}

void* CMemBlock::Lock(size_t offset, size_t length, const char*, int) {
  Guard guard(State().criticalSection);
  if (!m_raw) throw CJException(keErrNoStorage);
  if (offset > m_raw->m_size || length > m_raw->m_size - offset)
    throw CJException(keErrInvalidArgument);
  void* address = LockRaw(m_raw, offset);
  // A view that cannot be mapped is exhaustion; otherwise the block has no
  // bytes behind it (a discarded handle).
  if (!address)
    throw CJException(m_raw->m_kind == keMemTempFile ? keErrOutOfMemory : keErrNoStorage);
  return address;
}

void CMemBlock::Unlock(size_t, size_t, const char*, int) {
  Guard guard(State().criticalSection);
  if (!m_raw) return;
  if (!UnlockRaw(m_raw)) throw CJException(keErrInvalidArgument);
}

size_t CMemBlock::Size() const {
  Guard guard(State().criticalSection);
  return m_raw ? m_raw->m_size : 0;
}

HGLOBAL CMemBlock::DetachGlobal() {
  Guard guard(State().criticalSection);
  if (!m_raw) throw CJException(keErrNoStorage);
  UnlockFully(m_raw);
  HGLOBAL handle = nullptr;
  if (m_raw->m_kind == keMemGlobal) {
    handle = static_cast<CRawGlobal*>(m_raw)->Release();
    Unlink(m_raw);
    delete m_raw;
  } else {
    handle = CopyRawToGlobal(m_raw);
    if (!FreeRaw(m_raw)) {
      GlobalFree(handle);
      throw CJException(keErrNoStorage);
    }
  }
  m_raw = nullptr;
  return handle;
}

HGLOBAL CMemBlock::CopyToGlobal() {
  Guard guard(State().criticalSection);
  if (!m_raw) throw CJException(keErrNoStorage);
  return CopyRawToGlobal(m_raw);
}

void CMemBlock::AdoptGlobal(HGLOBAL& handle) {
  Guard guard(State().criticalSection);
  CRawBlock* fresh = RawFromGlobal(handle, m_raw ? m_raw->m_kind : keMemPolicy, true);
  CRawBlock* old = m_raw;
  m_raw = fresh;
  if (old) FreeRaw(old);
}

void CMemBlock::CopyFromGlobal(HGLOBAL handle) {
  Guard guard(State().criticalSection);
  CRawBlock* fresh = RawFromGlobal(handle, m_raw ? m_raw->m_kind : keMemPolicy, false);
  CRawBlock* old = m_raw;
  m_raw = fresh;
  if (old) FreeRaw(old);
}

bool CMemBlock::ChangeKind(keMemKind kind) {
  Guard guard(State().criticalSection);
  if (!m_raw || m_raw->m_lockCount != 0 || m_raw->m_size == 0) return false;
  const keMemKind target = ResolveKind(kind, m_raw->m_size);
  if (target == m_raw->m_kind) return true;
  CRawBlock* fresh = AllocateRaw(m_raw->m_size, false, target);
  if (!fresh) throw CJException(keErrOutOfMemory);
  if (!CopyRaw(m_raw, fresh, m_raw->m_size)) {
    FreeRaw(fresh);
    throw CJException(keErrOutOfMemory);
  }
  CRawBlock* old = m_raw;
  m_raw = fresh;
  FreeRaw(old);
  return true;
}

keMemKind CMemBlock::Kind() const {
  Guard guard(State().criticalSection);
  return m_raw ? m_raw->m_kind : keMemPolicy;
}

int CMemBlock::LockCount() const {
  Guard guard(State().criticalSection);
  return m_raw ? m_raw->m_lockCount : 0;
}

size_t CMemBlock::MappingSize() const {
  Guard guard(State().criticalSection);
  return m_raw ? m_raw->MappingSize() : 0;
}

bool CMemBlock::IsMapped() const {
  Guard guard(State().criticalSection);
  return m_raw && m_raw->IsMapped();
}

// ---------------------------------------------------------------------------
// CMemAllocator

CMemAllocator& CMemAllocator::Instance() {
  static CMemAllocator allocator;
  State();
  return allocator;
}

CMemBlock* CMemAllocator::Allocate(size_t size, bool zero, keMemKind kind, const char*, int) {
  Guard guard(State().criticalSection);
  CRawBlock* raw = AllocateRaw(size, zero, ResolveKind(kind, size));
  if (!raw) throw CJException(keErrOutOfMemory);
  auto* block = new (std::nothrow) CMemBlock(raw);
  if (!block) {
    FreeRaw(raw);
    throw CJException(keErrOutOfMemory);
  }
  return block;
}

CMemBlock* CMemAllocator::FromGlobal(HGLOBAL& handle, keMemKind kind, bool adopt, const char*,
                                     int) {
  Guard guard(State().criticalSection);
  // Built before the handle is consumed, so a failure leaves it with the caller.
  auto* block = new (std::nothrow) CMemBlock(nullptr);
  if (!block) throw CJException(keErrOutOfMemory);
  try {
    block->m_raw = RawFromGlobal(handle, kind, adopt);
  } catch (...) {
    block->Release();
    throw;
  }
  return block;
}

MemStatistics CMemAllocator::Statistics() const {
  Guard guard(State().criticalSection);
  return State().statistics;
}

keMemKind CMemAllocator::DefaultKind() const {
  Guard guard(State().criticalSection);
  return State().defaultKind;
}

size_t CMemAllocator::FileThreshold() const {
  Guard guard(State().criticalSection);
  return State().fileThreshold;
}

void CMemAllocator::SetFileThreshold(size_t bytes) {
  Guard guard(State().criticalSection);
  State().fileThreshold = bytes;
}

std::recursive_mutex& CMemAllocator::CriticalSection() { return State().criticalSection; }

// ---------------------------------------------------------------------------
// CMemLock

CMemLock::~CMemLock() {
  try {
    Unlock();
  } catch (const CJException&) {
    // The block's handle went bad under us; there is nothing left to release.
  }
}

void* CMemLock::Lock(CMemBlock* block, size_t offset, size_t length, const char* tag, int line) {
  Unlock();
  if (!block) throw CJException(keErrInvalidArgument);
  if (length == 0) {
    const size_t size = block->Size();
    length = offset < size ? size - offset : 0;
  }
  void* address = block->Lock(offset, length, tag, line);
  block->AddRef();
  m_block = block;
  m_address = address;
  m_offset = offset;
  m_length = length;
  return address;
}

void CMemLock::Unlock() {
  CMemBlock* block = m_block;
  if (!block) return;
  m_block = nullptr;
  m_address = nullptr;
  // The reference goes even if the unlock fails.
  struct Releaser {
    CMemBlock* block;
    ~Releaser() { block->Release(); }
  } releaser{block};
  block->Unlock(m_offset, m_length, "CMemLock", __LINE__);
}
