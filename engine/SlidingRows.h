// The input rows a square-window filter needs while it writes its output
// rows back into the same image: a ring of window + 1 row copies, read in
// order, optionally premultiplied on the way in. Nothing of the image's size
// is allocated, so a filter in place costs no second buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imagecore/AlphaConversion.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

class CSlidingRows {
 public:
  // premultiply: 4-byte pixels by the BGRA rule, 2-byte pixels by the GreyA
  // rule of the core's alpha conversion. Rows before firstRow are never
  // loaded (a band of rows further down starts there).
  CSlidingRows(CCoreImage& image, int window, bool premultiply, int firstRow = 0)
      : m_image(image),
        m_slots(window + 1),
        m_bytesPerPixel(FormatBitsPerPixel(image.ViewFormat()) / 8),
        m_stride(static_cast<size_t>(image.Width()) * m_bytesPerPixel),
        m_premultiply(premultiply),
        m_ring(m_stride * m_slots),
        m_loaded(firstRow - 1) {}

  // Makes every row up to `row` available. A filter at output row y needs
  // rows y - r .. y + r + 1 (reflected, which keeps them in that span), so a
  // row is copied before its output overwrites it and kept until it leaves.
  void LoadThrough(int row) {
    while (m_loaded < row) {
      ++m_loaded;
      const CRowLease lease(m_image, m_loaded);
      const uint8_t* source = lease.Data();
      uint8_t* slot = Slot(m_loaded);
      const int width = m_image.Width();
      if (m_premultiply && m_bytesPerPixel == 4) {
        PremultiplyBGRARow(slot, source, width);
      } else {
        std::memcpy(slot, source, m_stride);
        if (m_premultiply) PremultiplyGreyARow(slot, width);
      }
    }
  }

  const uint8_t* Row(int row) const { return m_ring.data() + m_stride * (row % m_slots); }

 private:
  uint8_t* Slot(int row) { return m_ring.data() + m_stride * (row % m_slots); }

  CCoreImage& m_image;
  int m_slots;
  int m_bytesPerPixel;
  size_t m_stride;
  bool m_premultiply;
  std::vector<uint8_t> m_ring;
  int m_loaded;
};

// The output rows of one band of a filter that writes its image in place
// while other bands run. The first and last `reach` rows of the band, where
// a neighbouring band lies, are still input to that neighbour: they are held
// here and written by Flush once every band is done. A band of the whole
// image holds nothing.
class CBandOutput {
 public:
  CBandOutput(CCoreImage& image, int first, int last, int reach)
      : m_image(image),
        m_stride(static_cast<size_t>(image.Width()) * (FormatBitsPerPixel(image.ViewFormat()) / 8)),
        m_first(first),
        m_last(last),
        m_topHeld(first > 0 ? std::min(reach, last - first) : 0),
        m_bottomHeld(last < image.Height() ? std::min(reach, last - first - m_topHeld) : 0),
        m_held(m_stride * static_cast<size_t>(m_topHeld + m_bottomHeld)) {}

  // write(row) fills output row y, in the image or in its held copy.
  template <class Fn>
  void WriteRow(int y, Fn&& write) {
    if (uint8_t* held = HeldRow(y)) {
      write(held);
      return;
    }
    const CRowLease row(m_image, y);
    write(row.Data());
  }
  void Flush() {
    for (int y = m_first; y < m_last; ++y) {
      const uint8_t* held = HeldRow(y);
      if (!held) continue;
      const CRowLease row(m_image, y);
      std::memcpy(row.Data(), held, m_stride);
    }
  }

 private:
  // The copy kept for output row y; null for the rows written straight away.
  uint8_t* HeldRow(int y) {
    if (y < m_first + m_topHeld) return HeldSlot(y - m_first);
    if (y >= m_last - m_bottomHeld) return HeldSlot(m_topHeld + y - (m_last - m_bottomHeld));
    return nullptr;
  }
  // The top rows' copies come first, then the bottom rows'.
  uint8_t* HeldSlot(int slot) { return m_held.data() + m_stride * static_cast<size_t>(slot); }

  CCoreImage& m_image;
  size_t m_stride;
  int m_first;
  int m_last;
  int m_topHeld;
  int m_bottomHeld;
  std::vector<uint8_t> m_held;
};
