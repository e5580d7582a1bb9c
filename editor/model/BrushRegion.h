// The brush's regions in brush pixels, with their own point-in-region tests:
// an ellipse inscribed in a square, or a polygon filled by winding number.
#pragma once

#include <vector>

#include "engine/MatteDocument.h"

class CBrushRegion {
 public:
  // ellipse(0, 0, c, c): a pixel lies inside when its centre lies in the
  // ellipse inscribed in the square [0, c]^2.
  static CBrushRegion Ellipse(int c);
  // A closed polygon of pixel corners; a pixel lies inside when its centre
  // has a non-zero winding number.
  static CBrushRegion Polygon(std::vector<CMarkPoint> points);

  bool Contains(int x, int y) const;
  bool IsEllipse() const { return m_ellipse; }

 private:
  bool m_ellipse = true;
  int m_size = 0;
  std::vector<CMarkPoint> m_points;
};
