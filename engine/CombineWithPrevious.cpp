#include "engine/CombineWithPrevious.h"

#include <cstdint>

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowBands.h"

bool CombineIntersects(const CCombineInputs& in) {
  if (in.backgroundMarks) {
    return in.combineMode == 1 ? in.strength > in.previousStrength
                               : in.strength >= in.previousStrength;
  }
  return in.strength < in.previousStrength;  // object marks only
}

void CombineWithPrevious(CPlane& matte, const CPlane& prevMatte, const CCombineInputs& in) {
  const bool anyMarks = in.objectMarks || in.backgroundMarks;
  const bool intersect = CombineIntersects(in);
  const int width = matte.Width();
  ForEachRowInBands(matte.Height(), false, [&](int y) {
    uint8_t* cur = matte.Row(y);
    const uint8_t* prev = prevMatte.Row(y);
    for (int x = 0; x < width; ++x) {
      const bool c = cur[x] >= 250;
      const bool p = prev[x] >= 250;
      const bool keep = !anyMarks ? c : intersect ? (c && p) : (c || p);
      cur[x] = keep ? 255 : 0;
    }
  });
}

void CombineWithPrevious(CCoreImage& matte, CCoreImage& prevMatte, const CCombineInputs& in) {
  CPlane plane = ReadPlane(matte);
  CombineWithPrevious(plane, ReadPlane(prevMatte), in);
  WritePlane(plane, matte);
}
