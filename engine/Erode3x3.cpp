#include "engine/Erode3x3.h"

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"

bool Erode3x3(CPlane& matte) {
  if (matte.BytesPerPixel() != 1)
    ThrowIfFailed(keErrInvalidArgument);
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
      if (here[x] == 0)
        continue;
      // The pixel itself is nonzero, so testing the whole 3x3 square tests
      // exactly its neighbours; those outside the image are left out.
      const int left = x > 0 ? x - 1 : x;
      const int right = x + 1 < w ? x + 1 : x;
      bool shrink = false;
      for (int nx = left; nx <= right && !shrink; ++nx)
        shrink = here[nx] == 0 || (above && above[nx] == 0) || (below && below[nx] == 0);
      if (shrink) {
        out[x] = 0;
        changed = true;
      }
    }
  }
  return changed;
}

void Erode3x3(CCoreImage& matte) {
  if (matte.ViewFormat() != keFormatGrey)
    ThrowIfFailed(keErrInvalidArgument);
  CPlane plane = ReadPlane(matte);
  Erode3x3(plane);
  WritePlane(plane, matte);
}
