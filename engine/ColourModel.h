// Colour Model: the classified matte decided again by models of the
// object's and the background's colours and textures, so that background
// the regions could not reach (other colours, enclosed holes) goes when it
// looks like background elsewhere. Learns from the marks (never overruled)
// and from the regions' decision, weighed by how far a pixel lies from the
// edge between kept and removed; cuts the picture along its own edges; then
// learns again from the new split, a few rounds.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/Plane.h"

class CProgressScale;

// What the stage reads, all of one size.
struct CColourModelInputs {
  // Rows of 4 bytes a pixel: blue, green, red, (unused); the picture's own
  // rows, so that no copy of it is made.
  const std::vector<const uint8_t*>& colours;
  const CPlane& texture;  // the texture map, 1 byte a pixel
  const CPlane& marks;    // keMark values
  const CPlane& decided;  // keRegion values from the classification
  // The cut is solved on a picture reduced to about this many pixels (half a
  // megapixel: the flow costs most, and a finer one barely moved the edge), then
  // at full size in a band around its edge; tests lower it to reach the band.
  double reducedPixels = 1 << 19;
  // Refine Edge's width when it follows this stage (at most 254; 0 when it
  // does not): where the cut's edge runs that near the regions' edge, the
  // regions' edge stands.
  int regionsEdgeReach = 0;
};

// `matte` (255 keep, 0 erase) is replaced by the stage's decision, every
// pixel 0 or 255; marked pixels always end on their marks' side. When there
// is no object evidence or no background evidence to learn from, the matte
// is left as it is. Returns false when `progress` (may be null) asked to
// stop; the matte is then unchanged. The result does not depend on threads.
bool ColourModelMatte(const CColourModelInputs& in, CPlane& matte, CProgressScale* progress);
