#include "engine/TextureMap.h"

#include <array>
#include <cmath>
#include <cstdint>

#include "engine/LocalDeviation.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

const std::array<uint8_t, 256>& TextureTable() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (int m = 0; m < 256; ++m) t[m] = static_cast<uint8_t>(255.0 * std::sqrt(m / 255.0));
    return t;
  }();
  return table;
}

}  // namespace

void TextureFromDeviation(CCoreImage& deviation, CCoreImage& texture) {
  if (deviation.ViewFormat() != keFormatBGR) ThrowIfFailed(keErrInvalidArgument);
  const int width = deviation.Width();
  const int height = deviation.Height();
  if (!texture.HasStorage() || texture.Width() != width || texture.Height() != height ||
      texture.ViewFormat() != keFormatGrey) {
    ThrowIfFailed(texture.CreateGrey(width, height));
  }

  const std::array<uint8_t, 256>& table = TextureTable();
  ForEachRowInBands(height, deviation.HasRowCache() || texture.HasRowCache(), [&](int y) {
    const CRowLease bgrRow(deviation, y);
    const CRowLease greyRow(texture, y);
    const uint8_t* bgr = bgrRow.Data();
    uint8_t* grey = greyRow.Data();
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = bgr + 3 * x;
      uint8_t m = p[0] > p[1] ? p[0] : p[1];
      if (p[2] > m) m = p[2];
      grey[x] = table[m];
    }
  });
}

bool TextureFromColours(CCoreImage& image, int window, CCoreImage& texture) {
  return MapLargestColourDeviation(image, window, TextureTable().data(), texture);
}
