#include "PixelCursor.h"

#include <cstring>
#include <new>

#include "ImageStorage.h"

// One flag per strip: set once this cursor (or a copy) has locked it.
struct CPixelCursor::CLockFlags {
  int m_refCount = 1;
  int m_count = 0;
  uint8_t* m_locked = nullptr;
  ~CLockFlags() { delete[] m_locked; }
};

CPixelCursor::CPixelCursor(const CPixelCursor& other) { CopyFrom(other); }

CPixelCursor& CPixelCursor::operator=(const CPixelCursor& other) {
  if (this != &other) {
    Clear();
    CopyFrom(other);
  }
  return *this;
}

CPixelCursor::~CPixelCursor() { Clear(); }

void CPixelCursor::CopyFrom(const CPixelCursor& other) {
  m_format = other.m_format;
  m_strips = AddShared(other.m_strips);
  m_rowTable = AddShared(other.m_rowTable);
  m_palette = AddShared(other.m_palette);
  m_rect = other.m_rect;
  m_originX = other.m_originX;
  m_originY = other.m_originY;
  m_storageBpp = other.m_storageBpp;
  m_viewBytesPerPixel = other.m_viewBytesPerPixel;
  m_ratio = other.m_ratio;
  m_flags = AddShared(other.m_flags);
}

void CPixelCursor::Clear() {
  if (m_flags && m_flags->m_refCount == 1 && m_strips) {
    for (int s = 0; s < m_flags->m_count; ++s) {
      if (m_flags->m_locked[s]) m_strips->m_items[s].Unlock();
    }
  }
  DropShared(m_flags);
  DropShared(m_strips);
  DropShared(m_rowTable);
  DropShared(m_palette);
  m_format = keFormatNone;
  m_rect = CoreRect();
  m_originX = 0;
  m_originY = 0;
  m_storageBpp = 0;
  m_viewBytesPerPixel = 0;
  m_ratio = 32768;
}

CoreResult CPixelCursor::SetUp(const CCoreImage& image) {
  Clear();
  if (!image.HasStorage()) return MakeResult(keErrNoStorage);
  const keFormat view = image.m_viewFormat;
  const int viewBits = FormatBitsPerChannel(view);
  const bool formatView = view != image.m_storageFormat && image.m_channelCode == keChannelNone;
  if (viewBits < 8 || formatView) return MakeResult(keErrInvalidArgument);

  auto* flags = new (std::nothrow) CLockFlags;
  if (!flags) return MakeResult(keErrOutOfMemory);
  flags->m_count = image.m_strips->m_count;
  flags->m_locked = new (std::nothrow) uint8_t[static_cast<size_t>(flags->m_count)]();
  if (!flags->m_locked) {
    delete flags;
    return MakeResult(keErrOutOfMemory);
  }
  m_flags = flags;
  m_format = image.m_storageFormat;
  m_strips = AddShared(image.m_strips);
  m_rowTable = AddShared(image.m_rowTable);
  m_palette = AddShared(image.m_palette);
  m_rect = image.m_rect;
  m_originX = image.m_originX;
  m_originY = image.m_originY;
  m_storageBpp = image.m_storageBpp;
  const int viewBpp = FormatBitsPerPixel(view);
  m_viewBytesPerPixel = viewBpp / 8;
  m_ratio = m_storageBpp == viewBpp ? 32768 : (m_storageBpp * 32768 + viewBpp - 1) / viewBpp;
  return CoreResult();
}

uint8_t* CPixelCursor::Address(int x, int y) {
  const int row = m_originY + y;
  const int s = row / 128;
  CImageStrip& strip = m_strips->m_items[s];
  if (!m_flags->m_locked[s]) {
    strip.Lock();
    m_flags->m_locked[s] = 1;
  }
  return strip.m_firstRow + static_cast<ptrdiff_t>(m_storageBpp) * m_originX / 8 +
         static_cast<ptrdiff_t>(row % 128) * strip.m_stride +
         ((static_cast<int64_t>(x) * m_ratio) >> 15);
}
