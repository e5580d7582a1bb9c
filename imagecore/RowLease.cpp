#include "RowLease.h"

#include <utility>

CRowLease::CRowLease(CCoreImage& image, int first, std::unique_ptr<uint8_t*[]> table)
    : m_image(&image), m_first(first), m_last(first), m_table(std::move(table)) {}

CRowLease CRowLease::Rows(CCoreImage& image, int first, int last) {
  if (first > last) ThrowIfFailed(keErrInvalidArgument);
  CRowLease lease(image, first, std::make_unique<uint8_t*[]>(static_cast<size_t>(last - first)));
  // The lease grows one row at a time, so a failing fetch releases exactly
  // the rows before it as the lease unwinds.
  for (int y = first; y < last; ++y) {
    CoreResult fetched = image.GetRow(y, lease.m_table[y - first]);
    if (!fetched.IsNull()) RaiseFetchFailure(fetched);
    lease.m_last = y + 1;
  }
  if (last > first) lease.m_row = lease.m_table[0];
  return lease;
}

CRowLease::CRowLease(CRowLease&& other) noexcept
    : m_image(std::exchange(other.m_image, nullptr)),
      m_first(other.m_first),
      m_last(other.m_last),
      m_row(std::exchange(other.m_row, nullptr)),
      m_table(std::move(other.m_table)) {}

CRowLease& CRowLease::operator=(CRowLease&& other) noexcept {
  if (this == &other) return *this;
  Release();
  m_image = std::exchange(other.m_image, nullptr);
  m_first = other.m_first;
  m_last = other.m_last;
  m_row = std::exchange(other.m_row, nullptr);
  m_table = std::move(other.m_table);
  return *this;
}

void CRowLease::RaiseFetchFailure(CoreResult& failed) { ThrowIfFailed(std::move(failed)); }
