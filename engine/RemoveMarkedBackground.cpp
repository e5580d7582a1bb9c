#include "engine/RemoveMarkedBackground.h"

#include "engine/FloodReplace.h"
#include "engine/Marks.h"
#include "engine/RowSearch.h"
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
    const size_t row = static_cast<size_t>(y) * w;
    ForEachByteOf(k + row, w, keMarkBackground, [&](int x) {
      if (s[row + x] == kBelow)
        FloodReplace(scratch, x, y, kReached, h, w, stack);
    });
  }

  // Written whole, so that the loop goes many pixels at a time.
  for (size_t i = 0; i < count; ++i)
    m[i] = s[i] == kReached ? 0 : m[i];
}

void RemoveMarkedBackground(CCoreImage& matte, CCoreImage& marks, int threshold) {
  if (matte.ViewFormat() != keFormatGrey || marks.ViewFormat() != keFormatGrey)
    ThrowIfFailed(keErrInvalidArgument);
  CPlane plane = ReadPlane(matte);
  RemoveMarkedBackground(plane, ReadPlane(marks), threshold);
  WritePlane(plane, matte);
}
