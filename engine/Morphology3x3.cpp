#include "engine/Morphology3x3.h"

#include <cstdint>

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"

namespace {

// Growing turns 0 pixels next to a nonzero one into 255; shrinking turns
// nonzero pixels next to a 0 one into 0. Neighbours are read from the matte
// as it was before the pass. Answers whether any pixel changed.
template <bool kGrow>
bool Step3x3(CPlane& matte) {
  if (matte.BytesPerPixel() != 1)
    ThrowIfFailed(keErrInvalidArgument);
  const auto other = [](uint8_t value) { return kGrow ? value != 0 : value == 0; };
  const int w = matte.Width();
  const int h = matte.Height();
  const CPlane reference = matte;
  bool changed = false;
  for (int y = 0; y < h; ++y) {
    const uint8_t* above = y > 0 ? reference.Row(y - 1) : nullptr;
    const uint8_t* here = reference.Row(y);
    const uint8_t* below = y + 1 < h ? reference.Row(y + 1) : nullptr;
    uint8_t* out = matte.Row(y);
    for (int x = 0; x < w; ++x) {
      if (other(here[x]))
        continue;
      // The pixel itself is not of the other kind, so testing the whole 3x3
      // square tests exactly its neighbours; those outside the image are
      // left out.
      const int left = x > 0 ? x - 1 : x;
      const int right = x + 1 < w ? x + 1 : x;
      bool flip = false;
      for (int nx = left; nx <= right && !flip; ++nx)
        flip = other(here[nx]) || (above && other(above[nx])) || (below && other(below[nx]));
      if (flip) {
        out[x] = kGrow ? 255 : 0;
        changed = true;
      }
    }
  }
  return changed;
}

template <bool kGrow>
void Step3x3(CCoreImage& matte) {
  if (matte.ViewFormat() != keFormatGrey)
    ThrowIfFailed(keErrInvalidArgument);
  CPlane plane = ReadPlane(matte);
  Step3x3<kGrow>(plane);
  WritePlane(plane, matte);
}

}  // namespace

void Dilate3x3(CPlane& matte) { Step3x3<true>(matte); }
void Dilate3x3(CCoreImage& matte) { Step3x3<true>(matte); }
bool Erode3x3(CPlane& matte) { return Step3x3<false>(matte); }
void Erode3x3(CCoreImage& matte) { Step3x3<false>(matte); }
