#include "engine/KeepMarkedObjects.h"

#include <utility>

#include "engine/FloodReplace.h"
#include "engine/Marks.h"
#include "engine/RowSearch.h"
#include "engine/Plane.h"
#include "imagecore/ChildProgress.h"
#include "imagecore/CoreImage.h"

namespace {

constexpr uint8_t kDropped = 0;
constexpr uint8_t kKept = 100;
constexpr uint8_t kCandidate = 255;

}  // namespace

CoreResult KeepMarkedObjects(CPlane& matte, const CPlane& marks, int threshold,
                             CProgressScale* progress) {
  const int w = matte.Width();
  const int h = matte.Height();
  if (matte.BytesPerPixel() != 1 || marks.BytesPerPixel() != 1 || marks.Width() != w ||
      marks.Height() != h)
    return MakeResult(keErrInvalidArgument);
  CChildProgress scale(progress, h);

  CPlane scratch(w, h, 1);
  for (int y = 0; y < h; ++y) {
    if (scale.Stop(y))
      return MakeResult(keErrAborted);
    const uint8_t* m = matte.Row(y);
    const uint8_t* k = marks.Row(y);
    uint8_t* s = scratch.Row(y);
    // Masks rather than choices between loads, so that the loop goes many
    // pixels at a time.
    for (int x = 0; x < w; ++x) {
      const int value = m[x] & (k[x] == keMarkBackground ? 0 : 0xFF);
      s[x] = value < threshold ? kDropped : kCandidate;
    }
  }

  CFloodStack stack;
  for (int y = 0; y < h; ++y) {
    if (scale.Stop(y))
      return MakeResult(keErrAborted);
    const uint8_t* s = scratch.Row(y);
    ForEachByteOf(marks.Row(y), w, keMarkObject, [&](int x) {
      if (s[x] != kDropped && s[x] != kKept)
        FloodReplace(scratch, x, y, kKept, h, w, stack);
    });
  }

  // The matte changes only after the last report, so a stop never leaves half
  // of it erased; the scratch turns into the result row by row.
  for (int y = 0; y < h; ++y) {
    if (scale.Stop(y))
      return MakeResult(keErrAborted);
    const uint8_t* m = matte.Row(y);
    uint8_t* s = scratch.Row(y);
    for (int x = 0; x < w; ++x)
      s[x] = m[x] & (s[x] == kKept ? 0xFF : 0);
  }
  matte = std::move(scratch);
  return CoreResult();
}

CoreResult KeepMarkedObjects(CCoreImage& matte, CCoreImage& marks, int threshold,
                             CProgressScale* progress) {
  if (matte.ViewFormat() != keFormatGrey || marks.ViewFormat() != keFormatGrey)
    return MakeResult(keErrInvalidArgument);
  CPlane plane = ReadPlane(matte);
  CoreResult result = KeepMarkedObjects(plane, ReadPlane(marks), threshold, progress);
  if (result.IsNull())
    WritePlane(plane, matte);
  return result;
}
