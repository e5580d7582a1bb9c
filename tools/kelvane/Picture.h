// A picture as the host reads and writes it.
#pragma once

#include <cstdint>
#include <vector>

// What travels from the input to the output beside the pixels.
struct CPictureMetadata {
  std::vector<uint8_t> icc;   // the colour profile the pixels are in
  std::vector<uint8_t> exif;  // as the file held it; the orientation is reset when written
  std::vector<uint8_t> xmp;
  // Pixels per millimetre across and down; 0 where the file states none.
  double xResolution = 0;
  double yResolution = 0;
};

// Pixels at 8 bits per channel: 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA,
// interleaved, rows top-down without padding, upright.
struct CPicture {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> bytes;
  CPictureMetadata metadata;
};

// The largest side the host accepts: its record holds 16-bit sizes.
inline constexpr int kMaxPictureSide = 32767;
