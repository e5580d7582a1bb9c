#include "engine/CleanMatte.h"

#include <cstddef>
#include <cstdint>
#include <utility>

#include "engine/KeepMarkedObjects.h"
#include "engine/RemoveMarkedBackground.h"
#include "engine/RemoveSmallIslands.h"
#include "imagecore/CoreResult.h"

namespace {

// Matte values below this next to a background mark are removed.
constexpr int kMarkedBackgroundThreshold = 100;
// Matte values from this up count as kept where object marks choose areas.
constexpr int kKeptThreshold = 1;
// Kept areas of at most this many pixels are specks, without object marks.
constexpr int kLargestSpeck = 600;

}  // namespace

void CleanMatte(CPlane& matte, const CPlane& marks, const CMarkKinds& kinds) {
  if (HasFaintValues(matte)) RemoveMarkedBackground(matte, marks, kMarkedBackgroundThreshold);
  CoreResult cleaned = kinds.object && kinds.background
                           ? KeepMarkedObjects(matte, marks, kKeptThreshold, nullptr)
                           : RemoveSmallIslands(matte, kLargestSpeck, nullptr);
  ThrowIfFailed(std::move(cleaned));
}

bool HasFaintValues(const CPlane& matte) {
  const uint8_t* value = matte.Data();
  const size_t count = matte.Stride() * static_cast<size_t>(matte.Height());
  // Counted rather than searched, so the loop vectorises.
  size_t soft = 0;
  for (size_t i = 0; i < count; ++i) soft += static_cast<uint8_t>(value[i] - 1) < kMarkedBackgroundThreshold - 1;
  return soft != 0;
}
