// The manual erase/recover brush: a soft erase mask (2d x 2d, 0 inside the
// disc, optionally blurred), a hard recover mask (d x d), and the outline
// that replaces the cursor. Dabs work on image pixels; what lies outside the
// target image is skipped.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "editor/model/BrushRegion.h"
#include "engine/MatteDocument.h"
#include "engine/Plane.h"
#include "imagecore/CoreImage.h"

// The outline on screen: a closed polyline and a cross at the pointer.
struct CBrushOutline {
  std::vector<CMarkPoint> polyline;
  CMarkPoint crossFrom[2];
  CMarkPoint crossTo[2];
};

class CMatteBrush {
 public:
  // Builds masks, region and outline for the diameter (at least 1).
  void Setup(int diameter, bool smooth);

  int Diameter() const { return m_diameter; }
  const std::vector<CMarkPoint>& Outline() const { return m_outline; }
  // After Setup: the polygon of the outline.
  const CBrushRegion* Region() const { return m_region.get(); }
  CCoreImage& SoftMask() { return m_softMask; }
  CCoreImage& HardMask() { return m_hardMask; }
  uint8_t SoftMaskAt(int x, int y) const { return m_soft.At(x, y); }
  uint8_t HardMaskAt(int x, int y) const { return m_hard.At(x, y); }

  // One erase dab with its top-left corner at image pixel (x0, y0) of a
  // BGRA target: alpha only ever goes down to the mask's value.
  void Erase(CCoreImage& target, int x0, int y0) const;
  // One recover dab: the source's four bytes come back inside the disc.
  void Recover(CCoreImage& target, CCoreImage& source, int x0, int y0) const;

  // The outline centred on window point (x, y) at the zoom.
  CBrushOutline OutlineOnScreen(int x, int y, double zoom) const;

 private:
  int m_diameter = 40;
  std::unique_ptr<CBrushRegion> m_region;
  CCoreImage m_softMask;
  CCoreImage m_hardMask;
  // Flat copies of the masks, read by every dab.
  CPlane m_soft;
  CPlane m_hard;
  std::vector<CMarkPoint> m_outline;
};
