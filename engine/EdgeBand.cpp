#include "engine/EdgeBand.h"

#include <algorithm>
#include <cstddef>

#include "imagecore/CoreResult.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

// Pixels [left, right) of one row, before numbering.
struct CRun {
  int left;
  int right;
};

using CRowRuns = std::vector<std::vector<CRun>>;

bool ObjectAt(const uint8_t* bgra, int x) { return OnObjectSide(bgra[4 * x + 3]); }

// The edge pixels of row y as runs: pixels with a 4-neighbour in the picture
// on the other side of the edge.
void EdgeRunsOfRow(const CRowLease& rows, int width, int height, int y, std::vector<CRun>& out) {
  const uint8_t* row = rows.Row(y);
  const uint8_t* up = y > 0 ? rows.Row(y - 1) : nullptr;
  const uint8_t* down = y + 1 < height ? rows.Row(y + 1) : nullptr;
  int start = -1;
  for (int x = 0; x < width; ++x) {
    const bool side = ObjectAt(row, x);
    const bool edge = (x > 0 && ObjectAt(row, x - 1) != side) ||
                      (x + 1 < width && ObjectAt(row, x + 1) != side) ||
                      (up && ObjectAt(up, x) != side) || (down && ObjectAt(down, x) != side);
    if (edge && start < 0) start = x;
    if (!edge && start >= 0) {
      out.push_back({start, x});
      start = -1;
    }
  }
  if (start >= 0) out.push_back({start, width});
}

// Sorts runs by their left end and joins those that overlap or touch.
void MergeRuns(std::vector<CRun>& runs) {
  std::sort(runs.begin(), runs.end(), [](const CRun& a, const CRun& b) {
    return a.left != b.left ? a.left < b.left : a.right < b.right;
  });
  size_t kept = 0;
  for (const CRun& run : runs) {
    if (kept > 0 && run.left <= runs[kept - 1].right) {
      runs[kept - 1].right = std::max(runs[kept - 1].right, run.right);
    } else {
      runs[kept++] = run;
    }
  }
  runs.resize(kept);
}

// The half width of the disc of radius `reach` at each row distance: the
// largest h with h^2 + dy^2 <= reach^2, in integers so no rounding decides.
std::vector<int> DiscHalfWidths(int reach) {
  std::vector<int> half(static_cast<size_t>(reach) + 1);
  for (int dy = 0; dy <= reach; ++dy) {
    int h = 0;
    while ((h + 1) * (h + 1) + dy * dy <= reach * reach) ++h;
    half[static_cast<size_t>(dy)] = h;
  }
  return half;
}

std::vector<std::vector<CBandSpan>> ToSpans(const CRowRuns& runs) {
  std::vector<std::vector<CBandSpan>> spans(runs.size());
  for (size_t y = 0; y < runs.size(); ++y) {
    for (const CRun& run : runs[y]) spans[y].push_back({run.left, run.right, 0});
  }
  return spans;
}

}  // namespace

CEdgeBand CEdgeBand::FromRows(int width, int height, std::vector<std::vector<CBandSpan>>& rows) {
  CEdgeBand band;
  band.m_width = width;
  band.m_height = height;
  band.m_rowStart.reserve(static_cast<size_t>(height) + 1);
  band.m_rowStart.push_back(0);
  int64_t count = 0;
  for (std::vector<CBandSpan>& row : rows) {
    for (CBandSpan& span : row) {
      span.first = static_cast<int>(count);
      count += span.right - span.left;
      band.m_spans.push_back(span);
    }
    band.m_rowStart.push_back(static_cast<int>(band.m_spans.size()));
  }
  // Pictures are at most 32767 a side, but the numbers are ints: a band
  // that does not fit is refused rather than wrapped.
  if (count > INT32_MAX) ThrowIfFailed(keErrOutOfMemory);
  band.m_count = static_cast<int>(count);
  return band;
}

CEdgeBand CEdgeBand::AroundEdge(const CRowLease& rows, int width, int height, int reach,
                                bool oneBand) {
  CRowRuns edges(static_cast<size_t>(height));
  ForEachRowInBands(height, oneBand, [&](int y) {
    EdgeRunsOfRow(rows, width, height, y, edges[static_cast<size_t>(y)]);
  });

  // Each edge run, widened by the disc's half width at each row distance,
  // covers exactly the pixels within reach of one of its pixels.
  const std::vector<int> half = DiscHalfWidths(reach);
  CRowRuns band(static_cast<size_t>(height));
  ForEachRowInBands(height, oneBand, [&](int y) {
    std::vector<CRun>& out = band[static_cast<size_t>(y)];
    for (int source = std::max(y - reach, 0); source <= std::min(y + reach, height - 1); ++source) {
      const int h = half[static_cast<size_t>(std::abs(source - y))];
      for (const CRun& run : edges[static_cast<size_t>(source)]) {
        out.push_back({std::max(run.left - h, 0), std::min(run.right + h, width)});
      }
    }
    MergeRuns(out);
  });
  edges.clear();
  std::vector<std::vector<CBandSpan>> spans = ToSpans(band);
  return FromRows(width, height, spans);
}

CEdgeBand CEdgeBand::AroundEdgePlain(const CRowLease& rows, int width, int height, int reach) {
  auto object = [&](int x, int y) { return OnObjectSide(rows.Row(y)[4 * x + 3]); };
  auto isEdge = [&](int x, int y) {
    const bool side = object(x, y);
    return (x > 0 && object(x - 1, y) != side) || (x + 1 < width && object(x + 1, y) != side) ||
           (y > 0 && object(x, y - 1) != side) || (y + 1 < height && object(x, y + 1) != side);
  };
  CRowRuns band(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bool near = false;
      for (int ey = std::max(y - reach, 0); ey <= std::min(y + reach, height - 1) && !near; ++ey) {
        for (int ex = std::max(x - reach, 0); ex <= std::min(x + reach, width - 1) && !near; ++ex) {
          const int dx = ex - x;
          const int dy = ey - y;
          near = dx * dx + dy * dy <= reach * reach && isEdge(ex, ey);
        }
      }
      std::vector<CRun>& out = band[static_cast<size_t>(y)];
      if (!near) continue;
      if (!out.empty() && out.back().right == x) {
        out.back().right = x + 1;
      } else {
        out.push_back({x, x + 1});
      }
    }
  }
  std::vector<std::vector<CBandSpan>> spans = ToSpans(band);
  return FromRows(width, height, spans);
}

CEdgeBand CEdgeBand::Grown(int left, int top, int right, int bottom) const {
  CRowRuns grown(static_cast<size_t>(m_height));
  for (int y = std::max(top, 0); y < std::min(bottom, m_height); ++y) {
    std::vector<CRun>& out = grown[static_cast<size_t>(y)];
    for (int source = std::max(y - 1, 0); source <= std::min(y + 1, m_height - 1); ++source) {
      for (const CBandSpan& span : Row(source)) {
        const int l = std::max(span.left - 1, left);
        const int r = std::min(span.right + 1, right);
        if (l < r) out.push_back({l, r});
      }
    }
    MergeRuns(out);
  }
  std::vector<std::vector<CBandSpan>> spans = ToSpans(grown);
  return FromRows(m_width, m_height, spans);
}

int CEdgeBand::IndexOf(int x, int y) const {
  if (y < 0 || y >= m_height) return -1;
  const std::span<const CBandSpan> row = Row(y);
  auto after = std::upper_bound(row.begin(), row.end(), x,
                                [](int value, const CBandSpan& span) { return value < span.left; });
  if (after == row.begin()) return -1;
  const CBandSpan& span = *(after - 1);
  return x < span.right ? span.first + (x - span.left) : -1;
}

bool CEdgeBand::operator==(const CEdgeBand& other) const {
  if (m_width != other.m_width || m_height != other.m_height || m_count != other.m_count ||
      m_rowStart != other.m_rowStart || m_spans.size() != other.m_spans.size())
    return false;
  for (size_t i = 0; i < m_spans.size(); ++i) {
    const CBandSpan& a = m_spans[i];
    const CBandSpan& b = other.m_spans[i];
    if (a.left != b.left || a.right != b.right || a.first != b.first) return false;
  }
  return true;
}

CBandRowIndex::CBandRowIndex(const CEdgeBand& band, int reach)
    : m_band(band),
      m_width(band.Width()),
      m_rows(2 * reach + 1),
      m_numbers(static_cast<size_t>(m_rows) * static_cast<size_t>(band.Width()), -1),
      m_loaded(static_cast<size_t>(m_rows), -1) {}

void CBandRowIndex::Centre(int y) {
  const int reach = m_rows / 2;
  for (int row = std::max(y - reach, 0); row <= std::min(y + reach, m_band.Height() - 1); ++row) {
    const int slot = Slot(row);
    if (m_loaded[static_cast<size_t>(slot)] != row) Load(slot, row);
  }
}

void CBandRowIndex::Load(int slot, int y) {
  int32_t* numbers = m_numbers.data() + static_cast<size_t>(slot) * m_width;
  // Only the spans of the row held before are cleared: the rest is -1 still.
  if (const int held = m_loaded[static_cast<size_t>(slot)]; held >= 0) {
    for (const CBandSpan& span : m_band.Row(held))
      std::fill(numbers + span.left, numbers + span.right, -1);
  }
  for (const CBandSpan& span : m_band.Row(y)) {
    for (int x = span.left; x < span.right; ++x) numbers[x] = span.first + (x - span.left);
  }
  m_loaded[static_cast<size_t>(slot)] = y;
}
