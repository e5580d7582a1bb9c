// A picture of our own making for the benchmarks: a softly shaded object
// over a textured background, with the strokes a user would draw on it.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/MatteDocument.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

inline void MakeSyntheticScene(CCoreImage& image, int size) {
  ThrowIfFailed(image.CreateBGRA(size, size));
  uint32_t seed = 12345;
  auto noise = [&seed](int amplitude) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>((seed >> 16) % (2 * amplitude + 1)) - amplitude;
  };
  auto clamp = [](double v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v + 0.5));
  };
  const double centre = size / 2.0;
  const double radius = size * 0.3;
  const double pi = 3.14159265358979323846;
  for (int y = 0; y < size; ++y) {
    const CRowLease lease(image, y);
    uint8_t* row = lease.Data();
    for (int x = 0; x < size; ++x) {
      // Cloth-like background: a woven pattern and grain that move all
      // channels together, a little colour grain, and a gentle gradient.
      const double weave = 4.0 * std::sin(2 * pi * x / 9.0) * std::sin(2 * pi * y / 9.0);
      const double grain = weave + noise(6);
      const double shade = 6.0 * (x + y) / size;
      const double bgB = 40 + grain + shade + noise(2);
      const double bgG = 130 + grain + shade + noise(2);
      const double bgR = 70 + grain + shade + noise(2);

      // A red sphere lit from the upper left, its rim blended over one pixel.
      const double dx = x + 0.5 - centre;
      const double dy = y + 0.5 - centre;
      const double d = std::sqrt(dx * dx + dy * dy) / radius;
      const double cover = std::fmin(1.0, std::fmax(0.0, (1.0 - d) * radius + 0.5));
      const double light = 0.55 + 0.45 * (1.0 - d) - 0.15 * (dx + dy) / (2 * radius);
      const double objB = 50 * light;
      const double objG = 40 * light;
      const double objR = 200 * light;

      row[4 * x] = clamp(cover * objB + (1 - cover) * bgB);
      row[4 * x + 1] = clamp(cover * objG + (1 - cover) * bgG);
      row[4 * x + 2] = clamp(cover * objR + (1 - cover) * bgR);
      row[4 * x + 3] = 255;
    }
  }
}

// One mouse drag of a marking tool: each point is one sampled pixel.
struct CSyntheticStroke {
  bool object = false;
  std::vector<CMarkPoint> points;
};

// Background strokes along the edges and an object stroke across the middle;
// the object stroke comes last, as a user marks what to keep after the rest.
inline std::vector<CSyntheticStroke> SyntheticStrokes(int size) {
  std::vector<CSyntheticStroke> strokes(3);
  for (int i = 0; i < 40; ++i) strokes[0].points.push_back({8 + i * (size - 16) / 40, 8});
  for (int i = 0; i < 40; ++i) strokes[0].points.push_back({size - 8, 8 + i * (size - 16) / 40});
  for (int i = 0; i < 40; ++i) strokes[1].points.push_back({8 + i * (size - 16) / 40, size - 8});
  for (int i = 0; i < 40; ++i) strokes[1].points.push_back({8, 8 + i * (size - 16) / 40});
  strokes[2].object = true;
  for (int i = 0; i < 30; ++i) strokes[2].points.push_back({size / 2 - size / 5 + i * size / 75, size / 2});
  return strokes;
}

inline void DrawSyntheticStrokes(CMatteDocument& doc, int size) {
  for (const CSyntheticStroke& stroke : SyntheticStrokes(size)) {
    doc.BeginMarkStroke(stroke.object);
    for (const CMarkPoint& point : stroke.points) doc.MarkPoint(stroke.object, point.x, point.y);
    doc.EndMarkStroke(stroke.object);
  }
}
