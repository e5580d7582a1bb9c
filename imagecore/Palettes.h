// Palettes of the indexed formats: 4-byte entries (blue, green, red, 0).
#pragma once

#include <cstdint>

#include "imagecore/Formats.h"

// Entries an indexed format can hold (2, 16 or 256); 0 for other formats.
int PaletteMaxEntries(keFormat format);
// The default palette for a palette of `entryCount` entries: black and white
// for 2, the 16 standard colours for 16, the 6x6x6 colour cube (entries 216
// and up zero) for anything larger. Always 256 entries long.
const uint8_t* DefaultPalette(int entryCount);
// Entry i = (i, i, i, 0): how 8-bit grey images answer for a palette.
const uint8_t* GreyRampPalette();
