// Moveable global memory: a table of handles with lock counts and flags.
#pragma once

#include <cstddef>
#include <cstdint>

typedef struct GlobalHandle__* HGLOBAL;

enum : unsigned {
  GMEM_FIXED = 0x0000,
  GMEM_MOVEABLE = 0x0002,
  GMEM_ZEROINIT = 0x0040,
  GMEM_DISCARDED = 0x4000,
  GMEM_LOCKCOUNT = 0x00FF,
  GMEM_INVALID_HANDLE = 0x8000,
};

HGLOBAL GlobalAlloc(unsigned flags, size_t bytes);
HGLOBAL GlobalReAlloc(HGLOBAL handle, size_t bytes, unsigned flags);
HGLOBAL GlobalFree(HGLOBAL handle);  // null on success, the handle on failure
void* GlobalLock(HGLOBAL handle);
bool GlobalUnlock(HGLOBAL handle);   // false once the count reaches 0 (or on error)
size_t GlobalSize(HGLOBAL handle);
unsigned GlobalFlags(HGLOBAL handle);  // lock count in the low byte
HGLOBAL GlobalDiscard(HGLOBAL handle);  // frees the bytes, keeps the handle (discarded)

// Error codes left by the calls above.
enum : unsigned {
  keGlobalErrNone = 0,
  keGlobalErrInvalidHandle = 6,
  keGlobalErrNoMemory = 8,
  keGlobalErrLocked = 33,
  keGlobalErrDiscarded = 157,
  keGlobalErrNotLocked = 158,
};

// The last error of a global-memory call on this thread: 0 none. Calls set it
// only when they fail, so a caller that must tell "count reached 0" from a
// failed GlobalUnlock clears it first.
unsigned GlobalLastError();
void SetGlobalLastError(unsigned code);
// Handles currently allocated in the process (for leak checks).
size_t GlobalHandleCount();
