// Storage that images share by reference count, and the row cache. For the
// imaging core's own units; users of images need only CoreImage.h.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "imagecore/CoreImage.h"
#include "imagecore/MemBlock.h"

// One 128-row strip: a memory block laid out as a bottom-up bitmap.
struct CImageStrip {
  CMemBlock* m_block = nullptr;
  CMemLock m_blockLock;
  keFormat m_format = keFormatNone;
  int m_width = 0;
  int m_rows = 0;
  uint8_t* m_firstRow = nullptr;  // valid while locked
  ptrdiff_t m_stride = 0;
  int m_paletteCount = 0;
  uint8_t* m_palette = nullptr;
  size_t m_lockOffset = 0;
  size_t m_lockLength = 0;
  // Counted without a lock while the strip stays mapped (images sharing it
  // may copy from it on two threads); mapping and unmapping are serialised.
  std::atomic<int> m_lockCount{0};

  CImageStrip() = default;
  CImageStrip(const CImageStrip&) = delete;
  CImageStrip& operator=(const CImageStrip&) = delete;
  ~CImageStrip();

  // The first lock maps the block; later ones only count. Throws CJException.
  uint8_t* Lock();
  void Unlock();
};

// Shared by reference count. Images sharing storage may be read on several
// threads at once; whoever writes makes the storage its own first
// (CCoreImage::OwnStorage), so shared storage is never written.
struct CStripArray {
  std::atomic<int> m_refCount{1};
  int m_count = 0;
  CImageStrip* m_items = nullptr;
  ~CStripArray() { delete[] m_items; }
};

struct CRowTable {
  std::atomic<int> m_refCount{1};
  int m_count = 0;
  uint8_t** m_rows = nullptr;
  ~CRowTable() { delete[] m_rows; }
};

struct CPaletteData {
  std::atomic<int> m_refCount{1};
  uint8_t m_entries[256 * 4] = {};
};

struct CRowCacheEntry {
  uint8_t* m_buffer = nullptr;
  int m_offset = 0;  // byte offset of the span within the storage row
  int m_count = 0;   // pixels
  int m_lockCount = 0;
  int m_x = 0;  // first pixel of the span: offsets alone are ambiguous below 8 bits
};

template <typename T>
inline T* AddShared(T* shared) {
  if (shared) ++shared->m_refCount;
  return shared;
}

template <typename T>
inline void DropShared(T*& shared) {
  if (shared && --shared->m_refCount == 0) delete shared;
  shared = nullptr;
}

// What the units beyond CoreImage.cpp need of an image's private state.
struct CImageInternals {
  static int BitPhase(const CCoreImage& image) { return image.m_convertBitPhase; }
  static const CPaletteData* PaletteData(const CCoreImage& image) { return image.m_palette; }
};

// Row sizes are whole multiples of 16 bytes: widths are padded to 128 pixels.
inline int64_t PaddedRowBytes(int width, int bpp) {
  const int64_t padded = (static_cast<int64_t>(width) + 127) / 128 * 128;
  return padded * bpp / 8;
}
