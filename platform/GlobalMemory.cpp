#include "platform/GlobalMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

struct GlobalEntry {
  unsigned char* bytes = nullptr;  // null while discarded
  size_t size = 0;
  size_t capacity = 0;
  unsigned lockCount = 0;
  bool discarded = false;
};

struct GlobalTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, GlobalEntry> entries;
  // Handle numbers are never reused, so a freed handle stays invalid.
  uintptr_t nextId = 1;
};

// Lives for the whole process: blocks may be released from static destructors.
GlobalTable& Table() {
  static GlobalTable* table = new GlobalTable;
  return *table;
}

thread_local unsigned t_lastError = keGlobalErrNone;

uintptr_t Key(HGLOBAL handle) { return reinterpret_cast<uintptr_t>(handle); }

GlobalEntry* Find(GlobalTable& table, HGLOBAL handle) {
  if (!handle) return nullptr;
  auto it = table.entries.find(Key(handle));
  return it == table.entries.end() ? nullptr : &it->second;
}

void Discard(GlobalEntry& entry) {
  std::free(entry.bytes);
  entry.bytes = nullptr;
  entry.size = 0;
  entry.capacity = 0;
  entry.discarded = true;
}

}  // namespace

HGLOBAL GlobalAlloc(unsigned flags, size_t bytes) {
  GlobalEntry entry;
  if (bytes == 0) {
    // An empty moveable block exists only as a discarded handle.
    entry.discarded = true;
  } else {
    entry.bytes = static_cast<unsigned char*>((flags & GMEM_ZEROINIT) ? std::calloc(bytes, 1)
                                                                       : std::malloc(bytes));
    if (!entry.bytes) {
      t_lastError = keGlobalErrNoMemory;
      return nullptr;
    }
    entry.size = bytes;
    entry.capacity = bytes;
  }
  GlobalTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  // The low bits stay clear so that a handle never looks like a small integer.
  const uintptr_t key = (table.nextId++) << 4;
  table.entries.emplace(key, entry);
  return reinterpret_cast<HGLOBAL>(key);
}

HGLOBAL GlobalReAlloc(HGLOBAL handle, size_t bytes, unsigned flags) {
  GlobalTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  GlobalEntry* entry = Find(table, handle);
  if (!entry) {
    t_lastError = keGlobalErrInvalidHandle;
    return nullptr;
  }
  if (bytes == 0) {
    if (entry->lockCount > 0) {
      t_lastError = keGlobalErrLocked;
      return nullptr;
    }
    Discard(*entry);
    return handle;
  }
  const size_t oldSize = entry->size;
  if (bytes > entry->capacity) {
    // A locked block cannot move: its address has been handed out.
    if (entry->lockCount > 0) {
      t_lastError = keGlobalErrNoMemory;
      return nullptr;
    }
    auto* grown = static_cast<unsigned char*>(std::realloc(entry->bytes, bytes));
    if (!grown) {
      t_lastError = keGlobalErrNoMemory;
      return nullptr;
    }
    entry->bytes = grown;
    entry->capacity = bytes;
  }
  // Shrinking keeps the buffer, so bytes past the old size may be stale.
  if ((flags & GMEM_ZEROINIT) && bytes > oldSize)
    std::memset(entry->bytes + oldSize, 0, bytes - oldSize);
  entry->size = bytes;
  entry->discarded = false;
  return handle;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  GlobalTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = handle ? table.entries.find(Key(handle)) : table.entries.end();
  if (it == table.entries.end()) {
    t_lastError = keGlobalErrInvalidHandle;
    return handle;
  }
  // A locked block is freed all the same.
  std::free(it->second.bytes);
  table.entries.erase(it);
  return nullptr;
}

void* GlobalLock(HGLOBAL handle) {
  GlobalTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  GlobalEntry* entry = Find(table, handle);
  if (!entry) {
    t_lastError = keGlobalErrInvalidHandle;
    return nullptr;
  }
  if (entry->discarded) {
    t_lastError = keGlobalErrDiscarded;
    return nullptr;
  }
  ++entry->lockCount;
  return entry->bytes;
}

bool GlobalUnlock(HGLOBAL handle) {
  GlobalTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  GlobalEntry* entry = Find(table, handle);
  if (!entry) {
    t_lastError = keGlobalErrInvalidHandle;
    return false;
  }
  if (entry->lockCount == 0) {
    t_lastError = keGlobalErrNotLocked;
    return false;
  }
  --entry->lockCount;
  return entry->lockCount > 0;
}

size_t GlobalSize(HGLOBAL handle) {
  GlobalTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  GlobalEntry* entry = Find(table, handle);
  if (!entry) {
    t_lastError = keGlobalErrInvalidHandle;
    return 0;
  }
  return entry->size;
}

unsigned GlobalFlags(HGLOBAL handle) {
  GlobalTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  GlobalEntry* entry = Find(table, handle);
  if (!entry) {
    t_lastError = keGlobalErrInvalidHandle;
    return GMEM_INVALID_HANDLE;
  }
  unsigned flags = std::min<unsigned>(entry->lockCount, GMEM_LOCKCOUNT);
  if (entry->discarded) flags |= GMEM_DISCARDED;
  return flags;
}

HGLOBAL GlobalDiscard(HGLOBAL handle) {
  GlobalTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  GlobalEntry* entry = Find(table, handle);
  if (!entry) {
    t_lastError = keGlobalErrInvalidHandle;
    return nullptr;
  }
  if (entry->lockCount > 0) {
    t_lastError = keGlobalErrLocked;
    return nullptr;
  }
  Discard(*entry);
  return handle;
}

unsigned GlobalLastError() { return t_lastError; }

void SetGlobalLastError(unsigned code) { t_lastError = code; }

size_t GlobalHandleCount() {
  GlobalTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.entries.size();
}
