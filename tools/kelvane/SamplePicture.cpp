#include "SamplePicture.h"

#include <algorithm>
#include <cmath>

namespace {

uint8_t ToByte(double value) {
  return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

double Mix(double a, double b, double t) { return a + (b - a) * t; }

}  // namespace

CPicture SamplePicture() {
  CPicture pixels;
  pixels.width = kSampleWidth;
  pixels.height = kSampleHeight;
  pixels.channels = 4;
  pixels.bytes.resize(static_cast<size_t>(kSampleWidth) * kSampleHeight * 4);

  const double centreX = 150.0;
  const double centreY = 125.0;
  const double radius = 72.0;
  // Light from the upper left, a little towards the viewer.
  const double lightLength = std::sqrt(0.45 * 0.45 + 0.55 * 0.55 + 0.70 * 0.70);
  const double lx = -0.45 / lightLength;
  const double ly = -0.55 / lightLength;
  const double lz = 0.70 / lightLength;

  uint8_t* p = pixels.bytes.data();
  for (int y = 0; y < kSampleHeight; ++y) {
    const double t = static_cast<double>(y) / (kSampleHeight - 1);
    for (int x = 0; x < kSampleWidth; ++x, p += 4) {
      // Sky: pale blue at the top to almost white near the bottom.
      double r = Mix(150.0, 222.0, t);
      double g = Mix(190.0, 232.0, t);
      double b = Mix(235.0, 245.0, t);

      // A soft shadow on the sky below and to the right of the ball.
      const double sx = (x - (centreX + 22.0)) / (radius * 1.05);
      const double sy = (y - (centreY + 18.0)) / (radius * 1.0);
      const double shadow = 0.18 * std::exp(-2.2 * (sx * sx + sy * sy));
      r *= 1.0 - shadow;
      g *= 1.0 - shadow;
      b *= 1.0 - shadow;

      // The ball, its rim antialiased over one pixel.
      const double dx = x + 0.5 - centreX;
      const double dy = y + 0.5 - centreY;
      const double distance = std::sqrt(dx * dx + dy * dy);
      const double cover = std::clamp(radius - distance + 0.5, 0.0, 1.0);
      if (cover > 0.0) {
        const double nx = std::clamp(dx / radius, -1.0, 1.0);
        const double ny = std::clamp(dy / radius, -1.0, 1.0);
        const double nz = std::sqrt(std::max(0.0, 1.0 - nx * nx - ny * ny));
        const double diffuse = std::max(0.0, nx * lx + ny * ly + nz * lz);
        const double highlight = std::pow(std::max(0.0, 2.0 * diffuse * nz - lz), 24.0);
        const double shade = 0.28 + 0.72 * diffuse;
        const double ballR = std::min(255.0, 205.0 * shade + 60.0 * highlight);
        const double ballG = std::min(255.0, 28.0 * shade + 190.0 * highlight);
        const double ballB = std::min(255.0, 32.0 * shade + 190.0 * highlight);
        r = Mix(r, ballR, cover);
        g = Mix(g, ballG, cover);
        b = Mix(b, ballB, cover);
      }
      p[0] = ToByte(r);
      p[1] = ToByte(g);
      p[2] = ToByte(b);
      p[3] = 255;
    }
  }
  return pixels;
}
