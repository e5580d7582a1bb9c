#include "engine/ImageChannels.h"

#include <atomic>
#include <cstdint>

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

// Calls fn(row of a, row of b) for every row; rows go in bands side by side,
// each row on its own.
template <class Fn>
void ForEachRowPair(CCoreImage& a, CCoreImage& b, Fn fn) {
  ForEachRowInBands(a.Height(), a.HasRowCache() || b.HasRowCache(), [&](int y) {
    const CRowLease rowA(a, y);
    const CRowLease rowB(b, y);
    fn(rowA.Data(), rowB.Data());
  });
}

template <class Fn>
void ForEachRow(CCoreImage& image, Fn fn) {
  ForEachRowInBands(image.Height(), image.HasRowCache(), [&](int y) {
    const CRowLease row(image, y);
    fn(row.Data());
  });
}

}  // namespace

void ExtractAlpha(CCoreImage& image, CCoreImage& matte) {
  const int width = image.Width();
  ThrowIfFailed(matte.CreateGrey(width, image.Height()));
  ForEachRowPair(image, matte, [width](uint8_t* bgra, uint8_t* grey) {
    for (int x = 0; x < width; ++x) grey[x] = bgra[4 * x + 3];
  });
}

void InsertAlpha(CCoreImage& matte, CCoreImage& image) {
  const int width = image.Width();
  ForEachRowPair(matte, image, [width](uint8_t* grey, uint8_t* bgra) {
    for (int x = 0; x < width; ++x) bgra[4 * x + 3] = grey[x];
  });
}

CPlane AlphaPlane(CCoreImage& image) {
  const int width = image.Width();
  CPlane matte(width, image.Height(), 1);
  ForEachRowInBands(image.Height(), image.HasRowCache(), [&](int y) {
    const CRowLease row(image, y);
    const uint8_t* bgra = row.Data();
    uint8_t* grey = matte.Row(y);
    for (int x = 0; x < width; ++x) grey[x] = bgra[4 * x + 3];
  });
  return matte;
}

void InsertAlpha(const CPlane& matte, CCoreImage& image) {
  const int width = image.Width();
  ForEachRowInBands(image.Height(), image.HasRowCache(), [&](int y) {
    const CRowLease row(image, y);
    uint8_t* bgra = row.Data();
    const uint8_t* grey = matte.Row(y);
    for (int x = 0; x < width; ++x) bgra[4 * x + 3] = grey[x];
  });
}

bool AlphaIsBinary(CCoreImage& image) {
  const int width = image.Width();
  std::atomic<bool> faint{false};
  ForEachRow(image, [&](const uint8_t* bgra) {
    if (faint.load(std::memory_order_relaxed)) return;
    // Whole rows without branches: alpha - 1 wraps 0 to 255 and leaves 255 at 254.
    bool rowFaint = false;
    for (int x = 0; x < width; ++x) rowFaint |= static_cast<uint8_t>(bgra[4 * x + 3] - 1) < 254;
    if (rowFaint) faint.store(true, std::memory_order_relaxed);
  });
  return !faint.load();
}

void BinarizeAlpha(CCoreImage& image) {
  const int width = image.Width();
  ForEachRow(image, [width](uint8_t* bgra) {
    for (int x = 0; x < width; ++x) {
      if (bgra[4 * x + 3] != 0) bgra[4 * x + 3] = 255;
    }
  });
}

void MakeOpaque(CCoreImage& image) {
  const int width = image.Width();
  ForEachRow(image, [width](uint8_t* bgra) {
    for (int x = 0; x < width; ++x) bgra[4 * x + 3] = 255;
  });
}

void CopyColours(CCoreImage& source, CCoreImage& image) {
  const int width = image.Width();
  ForEachRowPair(source, image, [width](uint8_t* from, uint8_t* to) {
    for (int x = 0; x < width; ++x) {
      to[4 * x] = from[4 * x];
      to[4 * x + 1] = from[4 * x + 1];
      to[4 * x + 2] = from[4 * x + 2];
    }
  });
}

void FillGrey(CCoreImage& image, unsigned char value) {
  const int width = image.Width();
  ForEachRow(image, [width, value](uint8_t* row) {
    for (int x = 0; x < width; ++x) row[x] = value;
  });
}
