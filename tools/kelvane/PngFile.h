// Reading and writing PNG files for the host program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pixels as the file holds them after expansion to 8 bits per channel:
// 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA, interleaved, rows top-down without
// padding.
struct CPngPixels {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> bytes;
};

// The largest side the host accepts: its record holds 16-bit sizes.
inline constexpr int kMaxPngSide = 32767;

// Reads any grey, grey+alpha, RGB, RGBA or palette PNG of 1 to 16 bits:
// 16-bit channels are scaled to 8, palettes expanded, a tRNS chunk becomes
// alpha. On failure `error` names the file and says what is wrong with it.
bool ReadPng(const std::string& path, CPngPixels& pixels, std::string& error);

// Writes 8-bit RGBA rows (width * 4 bytes each) under a temporary name beside
// `path` and renames it into place, so a failure leaves any existing file as
// it was and no partial file behind.
bool WritePngRGBA(const std::string& path, int width, int height, const uint8_t* rgba,
                  std::string& error);
