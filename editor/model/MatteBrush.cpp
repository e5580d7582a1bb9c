#include "editor/model/MatteBrush.h"

#include <algorithm>
#include <cmath>

#include "engine/BoxBlur.h"
#include "imagecore/RowLease.h"

namespace {

void FillMask(CCoreImage& mask, int size, const CBrushRegion& region, double offset,
              bool truncateHalves, int intOffset) {
  for (int i = 0; i < size; ++i) {
    const CRowLease lease(mask, i);
    uint8_t* row = lease.Data();
    for (int j = 0; j < size; ++j) {
      int x = j - intOffset;
      int y = i - intOffset;
      if (truncateHalves) {
        // Real-valued halves, truncated toward zero: for odd diameters the
        // pixels either side of the centre line test the same point.
        x = static_cast<int>(std::trunc(j - offset));
        y = static_cast<int>(std::trunc(i - offset));
      }
      row[j] = region.Contains(x, y) ? 0 : 255;
    }
  }
}

// Clips a dab's span of columns to the image; false when nothing is left.
bool ClipSpan(int x0, int d, int width, int& first, int& last) {
  first = std::max(x0, 0);
  last = std::min(x0 + d, width);  // exclusive
  return first < last;
}

}  // namespace

void CMatteBrush::Setup(int diameter, bool smooth) {
  const int d = std::max(diameter, 1);
  m_diameter = d;
  if (!m_region) {
    m_region = std::make_unique<CBrushRegion>(
        CBrushRegion::Ellipse(smooth ? static_cast<int>(std::trunc(0.8 * d)) : d));
  }
  if (!m_softMask.HasStorage() || m_softMask.Width() != 2 * d) m_softMask.CreateGrey(2 * d, 2 * d);
  if (!m_hardMask.HasStorage() || m_hardMask.Width() != d) m_hardMask.CreateGrey(d, d);

  if (smooth) {
    FillMask(m_softMask, 2 * d, *m_region, 0, false, static_cast<int>(std::trunc(0.6 * d)));
    BoxBlur(nullptr, m_softMask, m_softMask, d / 3);
    m_region = std::make_unique<CBrushRegion>(CBrushRegion::Ellipse(d));
  } else {
    FillMask(m_softMask, 2 * d, *m_region, d / 2.0, true, 0);
  }
  FillMask(m_hardMask, d, *m_region, 0, false, 0);

  // Upper edge left to right, then lower edge right to left, closed.
  m_outline.clear();
  const int n = d / 2;
  for (int x = 0; x <= d; ++x) {
    for (int y = 0; y <= n; ++y) {
      if (m_region->Contains(x, y)) {
        m_outline.push_back({x, y});
        break;
      }
    }
  }
  for (int x = d; x >= 0; --x) {
    for (int y = d; y >= n; --y) {
      if (m_region->Contains(x, y)) {
        m_outline.push_back({x, y});
        break;
      }
    }
  }
  if (!m_outline.empty()) m_outline.push_back(m_outline.front());
  m_region = std::make_unique<CBrushRegion>(CBrushRegion::Polygon(m_outline));

  m_soft = ReadPlane(m_softMask);
  m_hard = ReadPlane(m_hardMask);
}

void CMatteBrush::Erase(CCoreImage& target, int x0, int y0) const {
  const int d = m_diameter;
  int first = 0;
  int last = 0;
  if (!ClipSpan(x0, d, target.Width(), first, last)) return;
  for (int r = 0; r < d; ++r) {
    const int y = y0 + r;
    if (y < 0 || y >= target.Height()) continue;
    const CRowLease lease(target, y, first, last - first);
    uint8_t* row = lease.Data();
    const uint8_t* mask = m_soft.Row(d / 2 + r) + d / 2;
    for (int x = first; x < last; ++x) {
      uint8_t& alpha = row[4 * (x - first) + 3];
      const uint8_t m = mask[x - x0];
      if (m < alpha) alpha = m;
    }
  }
}

void CMatteBrush::Recover(CCoreImage& target, CCoreImage& source, int x0, int y0) const {
  const int d = m_diameter;
  int first = 0;
  int last = 0;
  const int width = std::min(target.Width(), source.Width());
  const int height = std::min(target.Height(), source.Height());
  if (!ClipSpan(x0, d, width, first, last)) return;
  for (int r = 0; r < d; ++r) {
    const int y = y0 + r;
    if (y < 0 || y >= height) continue;
    const CRowLease outRow(target, y, first, last - first);
    const CRowLease inRow(source, y, first, last - first);
    uint8_t* out = outRow.Data();
    const uint8_t* in = inRow.Data();
    const uint8_t* mask = m_hard.Row(r);
    for (int x = first; x < last; ++x) {
      if (mask[x - x0] != 0) continue;
      std::copy_n(in + 4 * (x - first), 4, out + 4 * (x - first));
    }
  }
}

CBrushOutline CMatteBrush::OutlineOnScreen(int x, int y, double zoom) const {
  CBrushOutline outline;
  const int scaled = static_cast<int>(std::trunc(m_diameter * zoom));
  const int half = scaled / 2;
  for (const CMarkPoint& p : m_outline) {
    outline.polyline.push_back({x - static_cast<int>(std::trunc(zoom * p.x + 0.5 - half)),
                                y - static_cast<int>(std::trunc(zoom * p.y + 0.5 - half))});
  }
  const int m = scaled / 4;
  outline.crossFrom[0] = {x - m, y};
  outline.crossTo[0] = {x + m, y};
  outline.crossFrom[1] = {x, y - m};
  outline.crossTo[1] = {x, y + m};
  return outline;
}
