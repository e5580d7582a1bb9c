// CPixelCursor: random access to single pixels of an image without the row
// protocol. It shares the image's storage and locks each strip on first use.
#pragma once

#include <cstdint>

#include "imagecore/CoreImage.h"

class CPixelCursor {
 public:
  CPixelCursor() = default;
  // Copies share the strip lock flags; the last one unlocks.
  CPixelCursor(const CPixelCursor& other);
  CPixelCursor& operator=(const CPixelCursor& other);
  ~CPixelCursor();

  // 101 unless the view has whole bytes per channel and is either the
  // storage itself or a channel view; 110 without storage.
  CoreResult SetUp(const CCoreImage& image);
  void Clear();
  bool IsSet() const { return m_rowTable != nullptr; }

  // Address for byte x of a view row (of a storage row without a view) in
  // row y, relative to the image's rectangle. A channel view's channel
  // offset is not added: the address is that of the storage pixel.
  uint8_t* Address(int x, int y);
  // The storage pixel behind view pixel px of row y.
  uint8_t* PixelAddress(int px, int y) { return Address(px * m_viewBytesPerPixel, y); }

  int Width() const { return m_rect.Width(); }
  int Height() const { return m_rect.Height(); }
  keFormat Format() const { return m_format; }
  int Ratio() const { return m_ratio; }

 private:
  struct CLockFlags;

  void CopyFrom(const CPixelCursor& other);

  keFormat m_format = keFormatNone;
  CStripArray* m_strips = nullptr;
  CRowTable* m_rowTable = nullptr;
  CPaletteData* m_palette = nullptr;
  CoreRect m_rect;
  int m_originX = 0;
  int m_originY = 0;
  int m_storageBpp = 0;
  int m_viewBytesPerPixel = 0;
  int m_ratio = 32768;  // storage bytes per view byte, in 1/32768
  CLockFlags* m_flags = nullptr;
};
