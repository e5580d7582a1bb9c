// FloodReplace: replaces the 4-connected area of equal grey values around a
// seed by a new value. The matte clean-up and hole filling rest on it.
#pragma once

#include <cstdint>
#include <vector>

#include "imagecore/PageBuffer.h"

class CCoreImage;
class CPlane;

// One pending run start of the scan-line fill.
struct CFloodSeed {
  int x;
  int y;
};
// A flood over a large picture stacks millions of seeds.
using CFloodStack = std::vector<CFloodSeed, CRecycledAllocator<CFloodSeed>>;

// Every pixel of the 4-connected area of pixels equal to the seed's value that
// contains (x, y) becomes newValue; only the top-left height x width of the
// image (clipped to the image) takes part. Answers the number of pixels
// changed: 0 when the seed lies outside or newValue equals the seed's value.
// The image (or its view) must be grey, else the core's exception 101.
int FloodReplace(CCoreImage& image, int x, int y, uint8_t newValue, int height, int width);
int FloodReplace(CPlane& plane, int x, int y, uint8_t newValue, int height, int width);
// The same, reusing the caller's stack: callers that fill many small areas
// avoid an allocation per area. The stack is left empty.
int FloodReplace(CPlane& plane, int x, int y, uint8_t newValue, int height, int width,
                 CFloodStack& stack);
