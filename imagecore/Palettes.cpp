#include "Palettes.h"

#include <array>

namespace {

using PaletteBytes = std::array<uint8_t, 256 * 4>;

void SetEntry(PaletteBytes& p, int i, uint8_t red, uint8_t green, uint8_t blue) {
  p[4 * i + 0] = blue;
  p[4 * i + 1] = green;
  p[4 * i + 2] = red;
  p[4 * i + 3] = 0;
}

PaletteBytes MakeBlackWhite() {
  PaletteBytes p{};
  SetEntry(p, 1, 255, 255, 255);
  return p;
}

PaletteBytes MakeStandard16() {
  // Red, green, blue of the 16 standard colours, in their usual order.
  static const uint8_t kColours[16][3] = {
      {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
      {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
      {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
      {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
  };
  PaletteBytes p{};
  for (int i = 0; i < 16; ++i) SetEntry(p, i, kColours[i][0], kColours[i][1], kColours[i][2]);
  return p;
}

PaletteBytes MakeColourCube() {
  PaletteBytes p{};
  for (int i = 0; i < 216; ++i) {
    SetEntry(p, i, static_cast<uint8_t>((i / 36) * 51), static_cast<uint8_t>(((i / 6) % 6) * 51),
             static_cast<uint8_t>((i % 6) * 51));
  }
  return p;
}

PaletteBytes MakeGreyRamp() {
  PaletteBytes p{};
  for (int i = 0; i < 256; ++i) {
    const uint8_t v = static_cast<uint8_t>(i);
    SetEntry(p, i, v, v, v);
  }
  return p;
}

}  // namespace

int PaletteMaxEntries(keFormat format) {
  switch (format) {
    case keFormatIndex1: return 2;
    case keFormatIndex4: return 16;
    case keFormatIndex8: case keFormatIndex8A: return 256;
    default: return 0;
  }
}

const uint8_t* DefaultPalette(int entryCount) {
  // Built on first use, so images created during static start-up see them.
  static const PaletteBytes kBlackWhite = MakeBlackWhite();
  static const PaletteBytes kStandard16 = MakeStandard16();
  static const PaletteBytes kColourCube = MakeColourCube();
  if (entryCount <= 2) return kBlackWhite.data();
  if (entryCount <= 16) return kStandard16.data();
  return kColourCube.data();
}

const uint8_t* GreyRampPalette() {
  static const PaletteBytes kGreyRamp = MakeGreyRamp();
  return kGreyRamp.data();
}
