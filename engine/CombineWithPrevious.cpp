#include "engine/CombineWithPrevious.h"

#include <cstdint>

#include "engine/Bands.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

bool CombineIntersects(const CCombineInputs& in) {
  if (in.backgroundMarks) {
    return in.combineMode == 1 ? in.strength > in.previousStrength
                               : in.strength >= in.previousStrength;
  }
  return in.strength < in.previousStrength;  // object marks only
}

void CombineWithPrevious(CCoreImage& matte, CCoreImage& prevMatte, const CCombineInputs& in) {
  const bool anyMarks = in.objectMarks || in.backgroundMarks;
  const bool intersect = CombineIntersects(in);
  const int width = matte.Width();
  ForEachRowInBands(matte.Height(), matte.HasRowCache() || prevMatte.HasRowCache(), [&](int y) {
    const CRowLease curRow(matte, y);
    const CRowLease prevRow(prevMatte, y);
    uint8_t* cur = curRow.Data();
    const uint8_t* prev = prevRow.Data();
    for (int x = 0; x < width; ++x) {
      const bool c = cur[x] >= 250;
      const bool p = prev[x] >= 250;
      const bool keep = !anyMarks ? c : intersect ? (c && p) : (c || p);
      cur[x] = keep ? 255 : 0;
    }
  });
}
