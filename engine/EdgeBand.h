// The unknown band along a matte's edge, kept as sorted spans per row and
// numbered row by row, so that per-pixel work on the band lives in arrays
// as long as the band and never as large as the picture.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "imagecore/PageBuffer.h"

class CRowLease;

// Storage of per-pixel arrays over a band: recycled pages, so a run, and the
// next, write pages that are already there instead of paying for fresh ones;
// and elements left as they are on resize, since every array is written
// whole before it is read and zeroing it first would be a pass for nothing.
template <class T>
struct CBandAllocator : CRecycledAllocator<T> {
  template <class U>
  struct rebind {
    using other = CBandAllocator<U>;
  };
  CBandAllocator() = default;
  // Not explicit: containers rebind allocators by converting them.
  template <class U>
  CBandAllocator(const CBandAllocator<U>&) {}  // NOLINT(google-explicit-constructor)
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// Per-pixel arrays over a band; resize(n) leaves the elements unset.
template <class T>
using CBandArray = std::vector<T, CBandAllocator<T>>;

// Pixels [left, right) of a row; `first` is the band number of `left`, the
// others follow in order.
struct CBandSpan {
  int left;
  int right;
  int first;
};

// Asked now and then by long work on a band, with the share done (0..1):
// true means stop.
using CBandStopCheck = std::function<bool(double done)>;

// Where the edge lies: between alpha at or above this and below it.
inline constexpr int kEdgeThreshold = 128;

inline bool OnObjectSide(uint8_t alpha) { return alpha >= kEdgeThreshold; }

class CEdgeBand {
 public:
  CEdgeBand() = default;

  // The band of the matte in the alpha of `rows` (BGRA, width x height):
  // every pixel within `reach` (Euclidean) of an edge pixel, one with a
  // 4-neighbour on the other side of the edge. Rows are worked on in bands
  // side by side unless `oneBand`; the result does not depend on it.
  static CEdgeBand AroundEdge(const CRowLease& rows, int width, int height, int reach,
                              bool oneBand);
  // The same pixel by pixel, measuring every distance: what AroundEdge is
  // held to.
  static CEdgeBand AroundEdgePlain(const CRowLease& rows, int width, int height, int reach);

  // Every pixel within one pixel (the 3 x 3 square) of the band, limited to
  // columns [left, right) and rows [top, bottom).
  CEdgeBand Grown(int left, int top, int right, int bottom) const;

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int Count() const { return m_count; }
  bool Empty() const { return m_count == 0; }
  std::span<const CBandSpan> Row(int y) const {
    return {m_spans.data() + m_rowStart[static_cast<size_t>(y)],
            m_spans.data() + m_rowStart[static_cast<size_t>(y) + 1]};
  }
  // The band number of (x, y), or -1 outside the band; a binary search, for
  // occasional lookups (CBandRowIndex serves loops).
  int IndexOf(int x, int y) const;

  bool operator==(const CEdgeBand& other) const;

 private:
  // Numbers the spans of each row, given per row, in order.
  static CEdgeBand FromRows(int width, int height, std::vector<std::vector<CBandSpan>>& rows);

  int m_width = 0;
  int m_height = 0;
  int m_count = 0;
  std::vector<CBandSpan> m_spans;
  std::vector<int> m_rowStart;  // height + 1 entries into m_spans
};

// Band numbers of the rows within `reach` of a current row, held as whole
// rows (-1 outside the band): constant-time lookups for loops that move down
// the picture, in memory of a few rows.
class CBandRowIndex {
 public:
  CBandRowIndex(const CEdgeBand& band, int reach);

  // Rows y - reach .. y + reach become readable.
  void Centre(int y);
  // (x, y) must lie in the picture and within reach of the current row.
  int At(int x, int y) const {
    return m_numbers[static_cast<size_t>(Slot(y)) * m_width + static_cast<size_t>(x)];
  }

 private:
  int Slot(int y) const { return y % m_rows; }
  void Load(int slot, int y);

  const CEdgeBand& m_band;
  int m_width;
  int m_rows;
  std::vector<int32_t> m_numbers;
  std::vector<int> m_loaded;  // per slot: the row it holds, or -1
};
