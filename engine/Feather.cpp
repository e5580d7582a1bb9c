#include "engine/Feather.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/BoxBlur.h"
#include "engine/Plane.h"
#include "imagecore/CoreImage.h"

namespace {

void Check(CoreResult result) { ThrowIfFailed(ExamineResult(result)); }

}  // namespace

void Feather(CCoreImage& image, int width) {
  if (image.ViewFormat() != keFormatBGRA) ThrowIfFailed(keErrInvalidArgument);
  const int imageWidth = image.Width();
  const int imageHeight = image.Height();
  const size_t count = static_cast<size_t>(imageWidth) * imageHeight;

  CPlane pixels = ReadPlane(image);
  uint8_t* px = pixels.Data();

  // A matte that never reaches full opacity is cut at half its own peak, so
  // faint mattes still have an edge to feather.
  int peak = 0;
  for (size_t i = 0; i < count; ++i) peak = std::max<int>(peak, px[4 * i + 3]);
  const int threshold = peak == 255 ? 200 : std::max(peak / 2, 1);

  CPlane hard(imageWidth, imageHeight, 1);
  uint8_t* hardMatte = hard.Data();
  for (size_t i = 0; i < count; ++i) hardMatte[i] = px[4 * i + 3] >= threshold ? 255 : 0;

  CCoreImage wide;
  Check(wide.CreateGrey(imageWidth, imageHeight));
  WritePlane(hard, wide);
  int window = 3 * width;
  if (window % 2 == 0) ++window;
  Check(BoxBlur(nullptr, wide, wide, window));
  const CPlane wideBlur = ReadPlane(wide);
  wide.Reset();
  const uint8_t* wideMatte = wideBlur.Data();

  CCoreImage spread;
  Check(spread.CopyFrom(image));
  for (int pass = 0; pass < width; ++pass) {
    int three = 3;
    Check(BoxBlur(nullptr, spread, spread, three));
  }
  const CPlane spreadPlane = ReadPlane(spread);
  spread.Reset();
  const uint8_t* sp = spreadPlane.Data();

  // The factor grows four times faster than the departure of the wide blur
  // from the hard matte, capped at 1.
  std::array<double, 256> factors{};
  for (int d = 0; d < 256; ++d) factors[d] = std::min(4.0 * d / 255.0, 1.0);

  const int inside = threshold / 2;
  for (size_t i = 0; i < count; ++i) {
    uint8_t* p = px + 4 * i;
    const uint8_t* s = sp + 4 * i;
    const int w = wideMatte[i];
    const int b = hardMatte[i];
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

  WritePlane(pixels, image);
}
