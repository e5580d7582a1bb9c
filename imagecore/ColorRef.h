// CColorRef: a colour for filling images. Channels are kept as 16-bit values
// (an 8-bit value v as v*257) so one colour fills 8- and 16-bit formats alike.
#pragma once

#include <cstdint>

#include "imagecore/CoreResult.h"

class CColorRef {
 public:
  // An invalid colour: every conversion answers 101.
  CColorRef();
  // 8-bit channels. With a palette the colour becomes its nearest entry and
  // remembers that entry's index.
  CColorRef(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha = 255, int paletteCount = 0,
            const uint8_t* palette = nullptr);
  virtual ~CColorRef();
  CColorRef(const CColorRef&) = default;
  CColorRef& operator=(const CColorRef&) = default;

  static CColorRef FromChannels16(uint16_t red, uint16_t green, uint16_t blue, uint16_t alpha);
  // The colour of palette entry `index`, remembering the index (invalid when
  // the index is outside the palette).
  static CColorRef FromPaletteIndex(int index, int paletteCount, const uint8_t* palette);

  bool IsValid() const { return m_valid; }
  bool HasPaletteIndex() const { return m_hasIndex; }
  int PaletteIndex() const { return m_index; }
  uint16_t Red16() const { return m_red; }
  uint16_t Green16() const { return m_green; }
  uint16_t Blue16() const { return m_blue; }
  uint16_t Alpha16() const { return m_alpha; }
  uint8_t Red8() const { return static_cast<uint8_t>(m_red >> 8); }
  uint8_t Green8() const { return static_cast<uint8_t>(m_green >> 8); }
  uint8_t Blue8() const { return static_cast<uint8_t>(m_blue >> 8); }
  uint8_t Alpha8() const { return static_cast<uint8_t>(m_alpha >> 8); }

  // Conversions used by filling; an invalid colour yields 101.
  virtual CoreResult ToGrey8(uint8_t& grey, uint8_t& alpha) const;
  virtual CoreResult ToBGRA8(uint8_t bgra[4]) const;
  virtual CoreResult ToChannels16(uint16_t& red, uint16_t& green, uint16_t& blue,
                                  uint16_t& alpha) const;
  // Luminance of the 16-bit values, and the 16-bit alpha.
  virtual CoreResult ToGrey16(uint16_t& grey, uint16_t& alpha) const;
  // The remembered index, or else the entry of `palette` nearest the colour.
  virtual CoreResult ToIndex(int paletteCount, const uint8_t* palette, int& index) const;

  // Nearest entry by squared distance over blue, green and red; the first of
  // equally near entries wins. -1 for an empty palette.
  static int NearestPaletteEntry(uint8_t red, uint8_t green, uint8_t blue, int paletteCount,
                                 const uint8_t* palette);

 private:
  bool m_valid = false;
  bool m_hasIndex = false;
  uint16_t m_red = 0;
  uint16_t m_green = 0;
  uint16_t m_blue = 0;
  uint16_t m_alpha = 0;
  int m_index = -1;
};
