#include "engine/FloodReplace.h"

#include <algorithm>
#include <cstring>

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"

int FloodReplace(CPlane& plane, int x, int y, uint8_t newValue, int height, int width,
                 CFloodStack& stack) {
  if (plane.BytesPerPixel() != 1)
    ThrowIfFailed(keErrInvalidArgument);
  const int h = std::min(height, plane.Height());
  const int w = std::min(width, plane.Width());
  stack.clear();
  if (x < 0 || y < 0 || x >= w || y >= h)
    return 0;
  const size_t stride = plane.Stride();
  uint8_t* const data = plane.Data();
  const uint8_t seedValue = data[stride * y + x];
  if (seedValue == newValue)
    return 0;

  int changed = 0;
  stack.push_back({x, y});
  while (!stack.empty()) {
    const CFloodSeed start = stack.back();
    stack.pop_back();
    uint8_t* row = data + stride * start.y;
    // A start may have been filled through another run since it was pushed.
    if (row[start.x] != seedValue)
      continue;
    int left = start.x;
    while (left > 0 && row[left - 1] == seedValue)
      --left;
    int right = start.x;
    while (right + 1 < w && row[right + 1] == seedValue)
      ++right;
    std::memset(row + left, newValue, static_cast<size_t>(right - left + 1));
    changed += right - left + 1;
    // Only runs that overlap [left, right] in the rows below and above touch
    // this run through an edge, so nothing spreads diagonally.
    for (int ny = start.y + 1; ny >= start.y - 1; ny -= 2) {
      if (ny < 0 || ny >= h)
        continue;
      const uint8_t* next = data + stride * ny;
      for (int nx = left; nx <= right; ++nx) {
        if (next[nx] == seedValue && (nx == left || next[nx - 1] != seedValue))
          stack.push_back({nx, ny});
      }
    }
  }
  return changed;
}

int FloodReplace(CPlane& plane, int x, int y, uint8_t newValue, int height, int width) {
  CFloodStack stack;
  return FloodReplace(plane, x, y, newValue, height, width, stack);
}

int FloodReplace(CCoreImage& image, int x, int y, uint8_t newValue, int height, int width) {
  if (image.ViewFormat() != keFormatGrey)
    ThrowIfFailed(keErrInvalidArgument);
  CPlane plane = ReadPlane(image);
  const int changed = FloodReplace(plane, x, y, newValue, height, width);
  if (changed > 0)
    WritePlane(plane, image);
  return changed;
}
