// Small images built in tests, with helpers to read and write single pixels.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

inline void MakeGrey(CCoreImage& image, int width, int height, uint8_t value) {
  ThrowIfFailed(image.CreateGrey(width, height));
  for (int y = 0; y < height; ++y) {
    const CRowLease row(image, y);
    for (int x = 0; x < width; ++x) row.Data()[x] = value;
  }
}

inline void MakeBGRA(CCoreImage& image, int width, int height, uint8_t b, uint8_t g, uint8_t r,
                     uint8_t a) {
  ThrowIfFailed(image.CreateBGRA(width, height));
  for (int y = 0; y < height; ++y) {
    const CRowLease lease(image, y);
    uint8_t* row = lease.Data();
    for (int x = 0; x < width; ++x) {
      row[4 * x] = b;
      row[4 * x + 1] = g;
      row[4 * x + 2] = r;
      row[4 * x + 3] = a;
    }
  }
}

// Byte `channel` of pixel (x, y); channel 0 for grey images. Read through a
// copy that shares the storage, so the document's images can be looked at.
inline uint8_t PixelByte(const CCoreImage& shown, int x, int y, int channel = 0) {
  CCoreImage image(shown);
  const int bytes = FormatBitsPerPixel(image.ViewFormat()) / 8;
  const CRowLease row(image, y);
  return row.Data()[bytes * x + channel];
}

inline void SetPixelByte(CCoreImage& image, int x, int y, int channel, uint8_t value) {
  const int bytes = FormatBitsPerPixel(image.ViewFormat()) / 8;
  const CRowLease row(image, y);
  row.Data()[bytes * x + channel] = value;
}

inline uint8_t PixelByte(const CPlane& plane, int x, int y) { return plane.At(x, y); }

// Every byte of the image, row by row, for whole-image comparisons.
inline std::vector<uint8_t> AllBytes(const CCoreImage& shown) {
  CCoreImage image(shown);
  const int bytes = FormatBitsPerPixel(image.ViewFormat()) / 8;
  std::vector<uint8_t> out;
  for (int y = 0; y < image.Height(); ++y) {
    const CRowLease row(image, y);
    out.insert(out.end(), row.Data(), row.Data() + static_cast<size_t>(bytes) * image.Width());
  }
  return out;
}

// Every byte of the image drawn from [lowest, highest], row by row.
inline void FillRandom(CCoreImage& image, std::mt19937& rng, int lowest = 0, int highest = 255) {
  std::uniform_int_distribution<int> value(lowest, highest);
  const int bytes = FormatBitsPerPixel(image.ViewFormat()) / 8;
  for (int y = 0; y < image.Height(); ++y) {
    const CRowLease lease(image, y);
    uint8_t* row = lease.Data();
    for (int i = 0; i < bytes * image.Width(); ++i) row[i] = static_cast<uint8_t>(value(rng));
  }
}
