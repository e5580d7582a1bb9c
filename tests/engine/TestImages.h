// Small images built in tests, with helpers to read and write single pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"

inline void MakeGrey(CCoreImage& image, int width, int height, uint8_t value) {
  image.CreateGrey(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = nullptr;
    image.GetRow(y, row);
    for (int x = 0; x < width; ++x) row[x] = value;
    image.ReleaseRow(y);
  }
}

inline void MakeBGRA(CCoreImage& image, int width, int height, uint8_t b, uint8_t g, uint8_t r,
                     uint8_t a) {
  image.CreateBGRA(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = nullptr;
    image.GetRow(y, row);
    for (int x = 0; x < width; ++x) {
      row[4 * x] = b;
      row[4 * x + 1] = g;
      row[4 * x + 2] = r;
      row[4 * x + 3] = a;
    }
    image.ReleaseRow(y);
  }
}

// Byte `channel` of pixel (x, y); channel 0 for grey images. Read through a
// copy that shares the storage, so the document's images can be looked at.
inline uint8_t PixelByte(const CCoreImage& shown, int x, int y, int channel = 0) {
  CCoreImage image(shown);
  const int bytes = FormatBitsPerPixel(image.ViewFormat()) / 8;
  uint8_t* row = nullptr;
  image.GetRow(y, row);
  const uint8_t value = row[bytes * x + channel];
  image.ReleaseRow(y);
  return value;
}

inline void SetPixelByte(CCoreImage& image, int x, int y, int channel, uint8_t value) {
  const int bytes = FormatBitsPerPixel(image.ViewFormat()) / 8;
  uint8_t* row = nullptr;
  image.GetRow(y, row);
  row[bytes * x + channel] = value;
  image.ReleaseRow(y);
}

inline uint8_t PixelByte(const CPlane& plane, int x, int y) { return plane.At(x, y); }

// Every byte of the image, row by row, for whole-image comparisons.
inline std::vector<uint8_t> AllBytes(const CCoreImage& shown) {
  CCoreImage image(shown);
  const int bytes = FormatBitsPerPixel(image.ViewFormat()) / 8;
  std::vector<uint8_t> out;
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = nullptr;
    image.GetRow(y, row);
    out.insert(out.end(), row, row + static_cast<size_t>(bytes) * image.Width());
    image.ReleaseRow(y);
  }
  return out;
}
