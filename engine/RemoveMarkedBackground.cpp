#include "engine/RemoveMarkedBackground.h"

#include "engine/FloodReplace.h"
#include "engine/Marks.h"
#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"

namespace {

constexpr uint8_t kBelow = 0;
constexpr uint8_t kAbove = 100;
constexpr uint8_t kReached = 255;

}  // namespace

void RemoveMarkedBackground(CPlane& matte, const CPlane& marks, int threshold) {
  const int w = matte.Width();
  const int h = matte.Height();
  if (matte.BytesPerPixel() != 1 || marks.BytesPerPixel() != 1 || marks.Width() != w ||
      marks.Height() != h)
    ThrowIfFailed(keErrInvalidArgument);
  const size_t count = static_cast<size_t>(w) * h;

  CPlane scratch(w, h, 1);
  uint8_t* s = scratch.Data();
  uint8_t* m = matte.Data();
  const uint8_t* k = marks.Data();
  for (size_t i = 0; i < count; ++i)
    s[i] = m[i] < threshold ? kBelow : kAbove;

  CFloodStack stack;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      if (k[i] == keMarkBackground && s[i] == kBelow)
        FloodReplace(scratch, x, y, kReached, h, w, stack);
    }
  }

  for (size_t i = 0; i < count; ++i) {
    if (s[i] == kReached)
      m[i] = 0;
  }
}

void RemoveMarkedBackground(CCoreImage& matte, CCoreImage& marks, int threshold) {
  if (matte.ViewFormat() != keFormatGrey || marks.ViewFormat() != keFormatGrey)
    ThrowIfFailed(keErrInvalidArgument);
  CPlane plane = ReadPlane(matte);
  RemoveMarkedBackground(plane, ReadPlane(marks), threshold);
  WritePlane(plane, matte);
}
