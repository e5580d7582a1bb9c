// The input rows a square-window filter needs while it writes its output
// rows back into the same image: a ring of window + 1 row copies, read in
// order, optionally premultiplied on the way in. Nothing of the image's size
// is allocated, so a filter in place costs no second buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imagecore/AlphaConversion.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"

// Raises a failed result as the core's exception.
inline void ThrowOnFailure(CoreResult result) { ThrowIfFailed(ExamineResult(result)); }

class CSlidingRows {
 public:
  // premultiply: 4-byte pixels by the BGRA rule, 2-byte pixels by the GreyA
  // rule of the core's alpha conversion.
  CSlidingRows(CCoreImage& image, int window, bool premultiply)
      : m_image(image),
        m_slots(window + 1),
        m_bytesPerPixel(FormatBitsPerPixel(image.ViewFormat()) / 8),
        m_stride(static_cast<size_t>(image.Width()) * m_bytesPerPixel),
        m_premultiply(premultiply),
        m_ring(m_stride * m_slots) {}

  // Makes every row up to `row` available. A filter at output row y needs
  // rows y - r .. y + r + 1 (reflected, which keeps them in that span), so a
  // row is copied before its output overwrites it and kept until it leaves.
  void LoadThrough(int row) {
    while (m_loaded < row) {
      ++m_loaded;
      uint8_t* source = nullptr;
      ThrowOnFailure(m_image.GetRow(m_loaded, source));
      uint8_t* slot = Slot(m_loaded);
      const int width = m_image.Width();
      if (m_premultiply && m_bytesPerPixel == 4) {
        PremultiplyBGRARow(slot, source, width);
      } else {
        std::memcpy(slot, source, m_stride);
        if (m_premultiply) PremultiplyGreyARow(slot, width);
      }
      m_image.ReleaseRow(m_loaded);
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
  int m_loaded = -1;
};
