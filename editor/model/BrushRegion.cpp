#include "editor/model/BrushRegion.h"

#include <cstdint>

CBrushRegion CBrushRegion::Ellipse(int c) {
  CBrushRegion region;
  region.m_size = c;
  return region;
}

CBrushRegion CBrushRegion::Polygon(std::vector<CMarkPoint> points) {
  CBrushRegion region;
  region.m_ellipse = false;
  region.m_points = std::move(points);
  return region;
}

bool CBrushRegion::Contains(int x, int y) const {
  if (m_ellipse) {
    const int64_t c = m_size;
    if (x < 0 || y < 0 || x >= c || y >= c) return false;
    const int64_t dx = 2 * int64_t{x} + 1 - c;
    const int64_t dy = 2 * int64_t{y} + 1 - c;
    return dx * dx + dy * dy <= c * c;
  }
  // In doubled coordinates the pixel centre (2x + 1, 2y + 1) is odd and the
  // vertices even, so the test is exact and no vertex lies on the scan line.
  const int64_t px = 2 * int64_t{x} + 1;
  const int64_t py = 2 * int64_t{y} + 1;
  int winding = 0;
  const size_t n = m_points.size();
  for (size_t i = 0; i < n; ++i) {
    const int64_t ax = 2 * int64_t{m_points[i].x};
    const int64_t ay = 2 * int64_t{m_points[i].y};
    const int64_t bx = 2 * int64_t{m_points[(i + 1) % n].x};
    const int64_t by = 2 * int64_t{m_points[(i + 1) % n].y};
    const int64_t side = (bx - ax) * (py - ay) - (px - ax) * (by - ay);
    if (ay < py && by > py && side > 0) ++winding;
    if (ay > py && by < py && side < 0) --winding;
  }
  return winding != 0;
}
