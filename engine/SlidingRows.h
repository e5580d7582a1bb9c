// The rows a square-window filter reads while it writes its output rows back
// into the same image or plane: a ring of window + 1 row copies of the input,
// and the held output rows of a band that neighbours other bands. Nothing of
// the image's size is allocated, so a filter in place costs no second buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/Plane.h"
#include "imagecore/AlphaConversion.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

// The rows a window filter works on in place: an image's, through its row
// protocol (so a view of it is honoured), or a plane's, straight from memory.
class CWindowRows {
 public:
  explicit CWindowRows(CCoreImage& image)
      : m_image(&image),
        m_width(image.Width()),
        m_height(image.Height()),
        m_bytesPerPixel(FormatBitsPerPixel(image.ViewFormat()) / 8) {}
  explicit CWindowRows(CPlane& plane)
      : m_plane(&plane),
        m_width(plane.Width()),
        m_height(plane.Height()),
        m_bytesPerPixel(plane.BytesPerPixel()) {}

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int BytesPerPixel() const { return m_bytesPerPixel; }
  size_t Stride() const { return static_cast<size_t>(m_width) * m_bytesPerPixel; }
  // Rows that go through an image's view cache are not safe to share between
  // threads.
  bool OneThreadOnly() const { return m_image && m_image->HasRowCache(); }

  // use(row) with row y's bytes, to read or overwrite.
  template <class Fn>
  void With(int y, Fn&& use) {
    if (m_plane) {
      use(m_plane->Row(y));
      return;
    }
    const CRowLease row(*m_image, y);
    use(row.Data());
  }

 private:
  CCoreImage* m_image = nullptr;
  CPlane* m_plane = nullptr;
  int m_width;
  int m_height;
  int m_bytesPerPixel;
};

// The input rows, read in order, optionally premultiplied on the way in.
class CSlidingRows {
 public:
  // premultiply: 4-byte pixels by the BGRA rule, 2-byte pixels by the GreyA
  // rule of the core's alpha conversion. Rows before firstRow are never
  // loaded (a band of rows further down starts there).
  CSlidingRows(CWindowRows& rows, int window, bool premultiply, int firstRow = 0)
      : m_rows(rows),
        m_slots(window + 1),
        m_stride(rows.Stride()),
        m_premultiply(premultiply),
        m_ring(m_stride * m_slots),
        m_loaded(firstRow - 1) {}

  // Makes every row up to `row` available. A filter at output row y needs
  // rows y - r .. y + r + 1 (reflected, which keeps them in that span), so a
  // row is copied before its output overwrites it and kept until it leaves.
  void LoadThrough(int row) {
    while (m_loaded < row) {
      ++m_loaded;
      uint8_t* slot = Slot(m_loaded);
      const int width = m_rows.Width();
      m_rows.With(m_loaded, [&](const uint8_t* source) {
        if (m_premultiply && m_rows.BytesPerPixel() == 4) {
          PremultiplyBGRARow(slot, source, width);
        } else {
          std::memcpy(slot, source, m_stride);
          if (m_premultiply) PremultiplyGreyARow(slot, width);
        }
      });
    }
  }

  const uint8_t* Row(int row) const { return m_ring.data() + m_stride * (row % m_slots); }

 private:
  uint8_t* Slot(int row) { return m_ring.data() + m_stride * (row % m_slots); }

  CWindowRows& m_rows;
  int m_slots;
  size_t m_stride;
  bool m_premultiply;
  std::vector<uint8_t> m_ring;
  int m_loaded;
};

// The output rows of one band of a filter that writes its rows in place
// while other bands run. The first and last `reach` rows of the band, where
// a neighbouring band lies, are still input to that neighbour: they are held
// here and written by Flush once every band is done. A band of the whole
// image holds nothing.
class CBandOutput {
 public:
  CBandOutput(CWindowRows& rows, int first, int last, int reach)
      : m_rows(rows),
        m_stride(rows.Stride()),
        m_first(first),
        m_last(last),
        m_topHeld(first > 0 ? std::min(reach, last - first) : 0),
        m_bottomHeld(last < rows.Height() ? std::min(reach, last - first - m_topHeld) : 0),
        m_held(m_stride * static_cast<size_t>(m_topHeld + m_bottomHeld)) {}

  // write(row) fills output row y, in place or in its held copy.
  template <class Fn>
  void WriteRow(int y, Fn&& write) {
    if (uint8_t* held = HeldRow(y)) {
      write(held);
      return;
    }
    m_rows.With(y, write);
  }
  void Flush() {
    for (int y = m_first; y < m_last; ++y) {
      const uint8_t* held = HeldRow(y);
      if (!held) continue;
      m_rows.With(y, [&](uint8_t* row) { std::memcpy(row, held, m_stride); });
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

  CWindowRows& m_rows;
  size_t m_stride;
  int m_first;
  int m_last;
  int m_topHeld;
  int m_bottomHeld;
  std::vector<uint8_t> m_held;
};
