// A picture of our own making for the benchmarks: a softly shaded object
// over a textured background, with the strokes a user would draw on it.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/MatteDocument.h"
#include "imagecore/CoreImage.h"

inline void MakeSyntheticScene(CCoreImage& image, int size) {
  image.CreateBGRA(size, size);
  uint32_t seed = 12345;
  auto noise = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>((seed >> 24) % 25) - 12;
  };
  const double centre = size / 2.0;
  const double radius = size * 0.3;
  for (int y = 0; y < size; ++y) {
    uint8_t* row = nullptr;
    image.GetRow(y, row);
    for (int x = 0; x < size; ++x) {
      const double dx = x - centre;
      const double dy = y - centre;
      const double d = std::sqrt(dx * dx + dy * dy) / radius;
      int b, g, r;
      if (d < 1.0) {
        // Shaded object: a red sphere lit from the upper left.
        const double light = 0.55 + 0.45 * (1.0 - d) - 0.15 * (dx + dy) / (2 * radius);
        r = static_cast<int>(200 * light);
        g = static_cast<int>(40 * light);
        b = static_cast<int>(50 * light);
      } else {
        // Grass-like texture with a gentle gradient.
        const int stripe = ((x / 7 + y / 11) % 3) * 6;
        g = 120 + (y * 40) / size + noise() + stripe;
        r = 60 + noise();
        b = 40 + noise();
      }
      auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
      row[4 * x] = clamp(b);
      row[4 * x + 1] = clamp(g);
      row[4 * x + 2] = clamp(r);
      row[4 * x + 3] = 255;
    }
    image.ReleaseRow(y);
  }
}

// Background strokes along the edges and an object stroke across the middle.
inline void DrawSyntheticStrokes(CMatteDocument& doc, int size) {
  doc.BeginMarkStroke(false);
  for (int i = 0; i < 40; ++i) doc.MarkPoint(false, 8 + i * (size - 16) / 40, 8);
  for (int i = 0; i < 40; ++i) doc.MarkPoint(false, size - 8, 8 + i * (size - 16) / 40);
  doc.EndMarkStroke(false);
  doc.BeginMarkStroke(false);
  for (int i = 0; i < 40; ++i) doc.MarkPoint(false, 8 + i * (size - 16) / 40, size - 8);
  for (int i = 0; i < 40; ++i) doc.MarkPoint(false, 8, 8 + i * (size - 16) / 40);
  doc.EndMarkStroke(false);
  doc.BeginMarkStroke(true);
  for (int i = 0; i < 30; ++i) doc.MarkPoint(true, size / 2 - size / 5 + i * size / 75, size / 2);
  doc.EndMarkStroke(true);
}
