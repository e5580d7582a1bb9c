#include "engine/RemoveSmallIslands.h"

#include <utility>

#include "engine/FloodReplace.h"
#include "engine/Plane.h"
#include "imagecore/ChildProgress.h"
#include "imagecore/CoreImage.h"

namespace {

constexpr uint8_t kKept = 255;
constexpr uint8_t kCounted = 100;
constexpr uint8_t kLargest = 150;
constexpr uint8_t kSmall = 200;

}  // namespace

CoreResult RemoveSmallIslands(CPlane& matte, int maxSize, CProgressScale* progress) {
  if (matte.BytesPerPixel() != 1)
    return MakeResult(keErrInvalidArgument);
  const int w = matte.Width();
  const int h = matte.Height();
  CChildProgress scale(progress, h);

  CPlane scratch(w, h, 1);
  for (int y = 0; y < h; ++y) {
    if (scale.Stop(y))
      return MakeResult(keErrAborted);
    const uint8_t* m = matte.Row(y);
    uint8_t* s = scratch.Row(y);
    for (int x = 0; x < w; ++x)
      s[x] = m[x] != 0 ? kKept : 0;
  }

  CFloodStack stack;
  int largest = 0;
  int largestX = 0;
  int largestY = 0;
  for (int y = 0; y < h; ++y) {
    if (scale.Stop(y))
      return MakeResult(keErrAborted);
    const uint8_t* s = scratch.Row(y);
    for (int x = 0; x < w; ++x) {
      if (s[x] != kKept)
        continue;
      const int size = FloodReplace(scratch, x, y, kCounted, h, w, stack);
      if (maxSize != 0) {
        if (size <= maxSize)
          FloodReplace(scratch, x, y, kSmall, h, w, stack);
      } else if (size >= largest) {
        // ">=": of equal areas the later one wins.
        largest = size;
        largestX = x;
        largestY = y;
      }
    }
  }

  if (maxSize == 0 && largest > 0)
    FloodReplace(scratch, largestX, largestY, kLargest, h, w, stack);
  // As in KeepMarkedObjects the matte changes only after the last report.
  for (int y = 0; y < h; ++y) {
    if (scale.Stop(y))
      return MakeResult(keErrAborted);
    const uint8_t* m = matte.Row(y);
    uint8_t* s = scratch.Row(y);
    for (int x = 0; x < w; ++x) {
      const bool erase = maxSize != 0 ? s[x] == kSmall : s[x] != kLargest;
      s[x] = erase ? 0 : m[x];
    }
  }
  matte = std::move(scratch);
  return CoreResult();
}

CoreResult RemoveSmallIslands(CCoreImage& matte, int maxSize, CProgressScale* progress) {
  if (matte.ViewFormat() != keFormatGrey)
    return MakeResult(keErrInvalidArgument);
  CPlane plane = ReadPlane(matte);
  CoreResult result = RemoveSmallIslands(plane, maxSize, progress);
  if (result.IsNull())
    WritePlane(plane, matte);
  return result;
}
