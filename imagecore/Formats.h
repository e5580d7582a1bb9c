// Pixel formats and what each one is made of.
#pragma once

#include <cstdint>

enum keFormat : int32_t {
  keFormatCustom = -1,
  keFormatNone = 0,
  keFormatIndex1 = 1,
  keFormatIndex4 = 2,
  keFormatIndex8 = 3,
  keFormatIndex8A = 4,
  keFormatGrey = 5,
  keFormatGreyA = 6,
  keFormatBGR = 7,
  keFormatBGRA = 8,
  keFormatBGRxA = 9,
  keFormatGrey_u16 = 10,
  keFormatGreyA_u16 = 11,
  keFormatBGR_u16 = 12,
  keFormatBGRA_u16 = 13,
  keFormatBGRxA_u16 = 14,
  keFormatGrey_f32 = 15,
  keFormatGreyA_f32 = 16,
  keFormatBGR_f32 = 17,
  keFormatBGRA_f32 = 18,
  keFormatBGRxA_f32 = 19,
};

// Channel codes: 0 blue (or the grey or index byte), 1 green, 2 red, 3 alpha.
enum : int {
  keChannelColour = -3,
  keChannelNone = -2,
};

const char* FormatName(keFormat format);
int FormatBitsPerPixel(keFormat format);
int FormatBitsPerChannel(keFormat format);
int FormatChannelCount(keFormat format);
bool FormatHasAlpha(keFormat format);
bool FormatIsIndexed(keFormat format);
bool FormatIsGrey(keFormat format);
bool FormatIs8Bit(keFormat format);
bool FormatIs16Bit(keFormat format);
bool FormatIsStorable(keFormat format);  // storage can be created: 1..14
// Position of a channel code within a pixel, counted in channels; -1 if the
// format has no such channel.
int FormatChannelPosition(keFormat format, int channelCode);

// Luminance of 8-bit values, the one rule every grey conversion uses.
inline uint8_t Luminance(unsigned red, unsigned green, unsigned blue) {
  return static_cast<uint8_t>((77 * red + 151 * green + 28 * blue) >> 8);
}
