// What the square-window filters' tests share: the border rule and the
// channels of interleaved bytes, written out plainly as the definitions
// say, independent of the engine's own.
#pragma once

#include <cstdint>
#include <vector>

// Index i of a line of `count` cells, reflected without repeating the edge.
inline int Reflect(int i, int count) {
  if (i < 0) return -i;
  if (i >= count) return 2 * (count - 1) - i;
  return i;
}

// Channel c of an interleaved byte image with `channels` bytes a pixel.
inline std::vector<uint8_t> Channel(const std::vector<uint8_t>& bytes, int channels, int c) {
  std::vector<uint8_t> plane(bytes.size() / channels);
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = bytes[i * channels + c];
  return plane;
}
