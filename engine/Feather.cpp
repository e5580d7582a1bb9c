#include "engine/Feather.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "engine/BoxBlur.h"
#include "imagecore/CoreImage.h"

namespace {

void Check(CoreResult result) { ThrowIfFailed(ExamineResult(result)); }

// Every row of the images, in order, with GetRow and ReleaseRow paired.
template <class Fn>
void ForEachRow(CCoreImage& a, Fn fn) {
  for (int y = 0; y < a.Height(); ++y) {
    uint8_t* row = nullptr;
    Check(a.GetRow(y, row));
    fn(row);
    a.ReleaseRow(y);
  }
}

}  // namespace

void Feather(CCoreImage& image, int width) {
  if (image.ViewFormat() != keFormatBGRA) ThrowIfFailed(keErrInvalidArgument);
  const int imageWidth = image.Width();
  const int imageHeight = image.Height();

  // A matte that never reaches full opacity is cut at half its own peak, so
  // faint mattes still have an edge to feather.
  int peak = 0;
  ForEachRow(image, [&](const uint8_t* bgra) {
    for (int x = 0; x < imageWidth; ++x) peak = std::max<int>(peak, bgra[4 * x + 3]);
  });
  const int threshold = peak == 255 ? 200 : std::max(peak / 2, 1);

  // The hard matte is not kept: it is read again from the alpha below, which
  // is still unchanged in the row being mixed.
  CCoreImage wide;
  Check(wide.CreateGrey(imageWidth, imageHeight));
  for (int y = 0; y < imageHeight; ++y) {
    uint8_t* bgra = nullptr;
    uint8_t* grey = nullptr;
    Check(image.GetRow(y, bgra));
    Check(wide.GetRow(y, grey));
    for (int x = 0; x < imageWidth; ++x) grey[x] = bgra[4 * x + 3] >= threshold ? 255 : 0;
    wide.ReleaseRow(y);
    image.ReleaseRow(y);
  }
  int window = 3 * width;
  if (window % 2 == 0) ++window;
  Check(BoxBlur(nullptr, wide, wide, window));

  CCoreImage spread;
  Check(spread.CopyFrom(image));
  for (int pass = 0; pass < width; ++pass) {
    int three = 3;
    Check(BoxBlur(nullptr, spread, spread, three));
  }

  // The factor grows four times faster than the departure of the wide blur
  // from the hard matte, capped at 1.
  std::array<double, 256> factors{};
  for (int d = 0; d < 256; ++d) factors[d] = std::min(4.0 * d / 255.0, 1.0);

  const int inside = threshold / 2;
  for (int y = 0; y < imageHeight; ++y) {
    uint8_t* px = nullptr;
    uint8_t* wideRow = nullptr;
    uint8_t* spreadRow = nullptr;
    Check(image.GetRow(y, px));
    Check(wide.GetRow(y, wideRow));
    Check(spread.GetRow(y, spreadRow));
    for (int x = 0; x < imageWidth; ++x) {
      uint8_t* p = px + 4 * x;
      const uint8_t* s = spreadRow + 4 * x;
      const int w = wideRow[x];
      const int b = p[3] >= threshold ? 255 : 0;
      const uint8_t blue = p[0];
      const uint8_t green = p[1];
      const uint8_t red = p[2];
      if (w > inside) {
        // Where the blur agrees with the hard matte the factor is 0 and the
        // mix gives the pixel back exactly; skip the arithmetic there.
        if (w != b) {
          const double factor = factors[std::abs(w - b)];
          for (int c = 0; c < 4; ++c) {
            p[c] = static_cast<uint8_t>(static_cast<int>(factor * s[c] + (1.0 - factor) * p[c]));
          }
        }
      } else {
        p[0] = s[0];
        p[1] = s[1];
        p[2] = s[2];
        p[3] = s[3];
      }
      // Colour unpremultiplied from an alpha this small is mostly rounding
      // noise; such pixels keep their own.
      if (p[3] <= 5) {
        p[0] = blue;
        p[1] = green;
        p[2] = red;
      }
    }
    spread.ReleaseRow(y);
    wide.ReleaseRow(y);
    image.ReleaseRow(y);
  }
}
