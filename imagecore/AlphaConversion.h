// Per-pixel rules of alpha premultiplication, shared by the in-place
// conversion of images and by the BGRA <-> BGRxA views.
#pragma once

#include <cstdint>

// The 256x256 table U indexed [alpha * 256 + value]: U[0][v] = 0,
// U[255][v] = v, otherwise min(255, (v*255 + a/2) / a). Built once, on first
// use or by CoreStartup.
const uint8_t* UnpremultiplyTable();

// v*a/255 with rounding, in integers: 0 and 255 are exact.
inline uint8_t PremultiplyValue(unsigned value, unsigned alpha) {
  if (alpha == 0) return 0;
  if (alpha == 255) return static_cast<uint8_t>(value);
  const unsigned t = value * alpha;
  return static_cast<uint8_t>((t + t / 256 + 128) >> 8);
}

// Rows of 4-byte pixels (blue, green, red, alpha); dst may equal src.
void PremultiplyBGRARow(uint8_t* dst, const uint8_t* src, int count);
void UnpremultiplyBGRARow(uint8_t* dst, const uint8_t* src, int count);
// Rows of 2-byte pixels (grey, alpha), in place; alpha 0 keeps its grey.
void PremultiplyGreyARow(uint8_t* row, int count);
void UnpremultiplyGreyARow(uint8_t* row, int count);
