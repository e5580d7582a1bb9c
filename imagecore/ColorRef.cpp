#include "ColorRef.h"

#include "Formats.h"

namespace {

uint16_t Widen(uint8_t v) { return static_cast<uint16_t>(v * 257); }

}  // namespace

CColorRef::CColorRef() = default;

CColorRef::CColorRef(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha, int paletteCount,
                     const uint8_t* palette)
    : m_valid(true), m_red(Widen(red)), m_green(Widen(green)), m_blue(Widen(blue)),
      m_alpha(Widen(alpha)) {
  if (palette && paletteCount > 0) {
    const int index = NearestPaletteEntry(red, green, blue, paletteCount, palette);
    const uint8_t* entry = palette + 4 * index;
    m_blue = Widen(entry[0]);
    m_green = Widen(entry[1]);
    m_red = Widen(entry[2]);
    m_hasIndex = true;
    m_index = index;
  }
}

CColorRef::~CColorRef() = default;

CColorRef CColorRef::FromChannels16(uint16_t red, uint16_t green, uint16_t blue, uint16_t alpha) {
  CColorRef colour;
  colour.m_valid = true;
  colour.m_red = red;
  colour.m_green = green;
  colour.m_blue = blue;
  colour.m_alpha = alpha;
  return colour;
}

CColorRef CColorRef::FromPaletteIndex(int index, int paletteCount, const uint8_t* palette) {
  CColorRef colour;
  if (!palette || index < 0 || index >= paletteCount) return colour;
  const uint8_t* entry = palette + 4 * index;
  colour = CColorRef(entry[2], entry[1], entry[0], 255);
  colour.m_hasIndex = true;
  colour.m_index = index;
  return colour;
}

CoreResult CColorRef::ToGrey8(uint8_t& grey, uint8_t& alpha) const {
  if (!m_valid) return MakeResult(keErrInvalidArgument);
  grey = Luminance(Red8(), Green8(), Blue8());
  alpha = Alpha8();
  return CoreResult();
}

CoreResult CColorRef::ToBGRA8(uint8_t bgra[4]) const {
  if (!m_valid) return MakeResult(keErrInvalidArgument);
  bgra[0] = Blue8();
  bgra[1] = Green8();
  bgra[2] = Red8();
  bgra[3] = Alpha8();
  return CoreResult();
}

CoreResult CColorRef::ToChannels16(uint16_t& red, uint16_t& green, uint16_t& blue,
                                   uint16_t& alpha) const {
  if (!m_valid) return MakeResult(keErrInvalidArgument);
  red = m_red;
  green = m_green;
  blue = m_blue;
  alpha = m_alpha;
  return CoreResult();
}

CoreResult CColorRef::ToGrey16(uint16_t& grey, uint16_t& alpha) const {
  if (!m_valid) return MakeResult(keErrInvalidArgument);
  // The weights sum to 256, so the 16-bit luminance never exceeds 65535.
  grey = static_cast<uint16_t>((77u * m_red + 151u * m_green + 28u * m_blue) >> 8);
  alpha = m_alpha;
  return CoreResult();
}

CoreResult CColorRef::ToIndex(int paletteCount, const uint8_t* palette, int& index) const {
  if (!m_valid) return MakeResult(keErrInvalidArgument);
  if (m_hasIndex) {
    index = m_index;
    return CoreResult();
  }
  const int nearest = NearestPaletteEntry(Red8(), Green8(), Blue8(), paletteCount, palette);
  if (nearest < 0) return MakeResult(keErrInvalidArgument);
  index = nearest;
  return CoreResult();
}

int CColorRef::NearestPaletteEntry(uint8_t red, uint8_t green, uint8_t blue, int paletteCount,
                                   const uint8_t* palette) {
  if (!palette || paletteCount <= 0) return -1;
  int best = 0;
  int bestDistance = -1;
  for (int i = 0; i < paletteCount; ++i) {
    const uint8_t* entry = palette + 4 * i;
    const int db = entry[0] - blue;
    const int dg = entry[1] - green;
    const int dr = entry[2] - red;
    const int distance = db * db + dg * dg + dr * dr;
    if (bestDistance < 0 || distance < bestDistance) {
      best = i;
      bestDistance = distance;
      if (distance == 0) break;
    }
  }
  return best;
}
