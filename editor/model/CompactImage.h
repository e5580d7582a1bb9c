// A picture the history keeps that differs from the layer mostly in its
// alpha (the work and the base have the layer's colours, a feathered result
// differs only along its edges) is kept as its alpha and the few colours
// that differ: a quarter of its size, or a little more.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"

struct CCompactImage {
  CPlane alpha;
  // Pixels (row-major indices) whose blue, green and red differ from the
  // layer's, and those three bytes of each.
  std::vector<uint32_t> changed;
  std::vector<uint8_t> colours;

  size_t Bytes() const {
    return alpha.Stride() * static_cast<size_t>(alpha.Height()) +
           changed.capacity() * sizeof(uint32_t) + colours.capacity();
  }
};

// The image in compact form when it is BGRA of the layer's size and at most
// one pixel in eight has colours other than the layer's; null otherwise.
std::shared_ptr<const CCompactImage> CompactAgainst(const CCoreImage& image,
                                                    const CCoreImage& layer);
// The image again, byte for byte.
void ExpandOnto(const CCompactImage& compact, const CCoreImage& layer, CCoreImage& image);
