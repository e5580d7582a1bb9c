// CRowLease: rows of an image held through the row protocol. The rows are
// fetched when the lease is made and released when it ends, so every GetRow
// meets its ReleaseRow on every way out of a scope. A fetch that fails
// raises the core's exception, and nothing stays held.
#pragma once

#include <cstdint>
#include <memory>

#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"

class CRowLease {
 public:
  // Row y of the image.
  CRowLease(CCoreImage& image, int y) : CRowLease(image, y, 0, -1) {}
  // `count` pixels of row y from x; -1 means up to the right edge.
  CRowLease(CCoreImage& image, int y, int x, int count) : m_image(&image), m_first(y) {
    // A local, not the member, receives the row: the member's address would
    // escape into GetRow and keep the lease out of registers in hot loops.
    uint8_t* row = nullptr;
    CoreResult fetched = image.GetRow(y, x, count, row);
    if (!fetched.IsNull()) [[unlikely]] RaiseFetchFailure(fetched);
    m_row = row;
    m_last = y + 1;
  }

  // Rows [first, last) held together, for work that reads them side by side
  // or from several threads at once. first > last raises 101.
  [[nodiscard]] static CRowLease Rows(CCoreImage& image, int first, int last);
  [[nodiscard]] static CRowLease AllRows(CCoreImage& image) {
    return Rows(image, 0, image.Height());
  }

  // The moved-from lease holds nothing.
  CRowLease(CRowLease&& other) noexcept;
  CRowLease& operator=(CRowLease&& other) noexcept;
  CRowLease(const CRowLease&) = delete;
  CRowLease& operator=(const CRowLease&) = delete;
  ~CRowLease() { Release(); }

  // The leased row, or the first row of a range (null for an empty range).
  uint8_t* Data() const { return m_row; }
  // Row y of the image, first <= y < last; the addresses stay valid while
  // the lease lasts.
  uint8_t* Row(int y) const { return m_table ? m_table[y - m_first] : m_row; }

 private:
  // An empty range lease, to be grown row by row.
  CRowLease(CCoreImage& image, int first, std::unique_ptr<uint8_t*[]> table);

  void Release() noexcept {
    if (!m_image) return;
    for (int y = m_first; y < m_last; ++y) m_image->ReleaseRow(y);
    m_image = nullptr;
  }
  static void RaiseFetchFailure(CoreResult& failed);

  CCoreImage* m_image;
  int m_first;
  int m_last = 0;  // rows [m_first, m_last) are held
  uint8_t* m_row = nullptr;
  std::unique_ptr<uint8_t*[]> m_table;  // range leases only
};
