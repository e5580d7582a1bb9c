// Bitmaps and palettes of the window system, as far as images are imported
// from them. A device-independent bitmap is a 40-byte header, its colour
// table and its bits (bottom-up rows when the height is positive, each row
// padded to 4 bytes). A device bitmap is held by a handle: width, height,
// planes and bits per pixel, and its rows top-down, each padded to 2 bytes,
// of planes x bits-per-pixel bits a pixel (indices into the palette selected
// when they are read, below 16 bits).
#pragma once

#include <cstdint>

class CDeviceContext;
typedef CDeviceContext* HDC;
typedef struct BitmapHandle__* HBITMAP;
typedef struct PaletteHandle__* HPALETTE;

struct BITMAPINFOHEADER {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // positive: bottom-up rows; negative: top-down
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
  uint8_t rgbBlue = 0;
  uint8_t rgbGreen = 0;
  uint8_t rgbRed = 0;
  uint8_t rgbReserved = 0;
};
static_assert(sizeof(RGBQUAD) == 4);

// The header and room for the largest colour table.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[256];
};

enum : uint32_t {
  BI_RGB = 0,
};

enum : unsigned {
  DIB_RGB_COLORS = 0,
};

// Bytes of one row of a device-independent bitmap.
inline int64_t DibRowBytes(int64_t width, int bitCount) { return (width * bitCount + 31) / 32 * 4; }

// Entries of a device-independent bitmap's colour table: the colours-used
// field, else the full table of an index of up to 8 bits; 16 bits are an
// 8-bit index with alpha and carry a table of 256; deeper bitmaps none.
int DibColourTableEntries(const BITMAPINFOHEADER& header);

struct BITMAP {
  int bmType = 0;
  int bmWidth = 0;
  int bmHeight = 0;
  int bmWidthBytes = 0;
  uint16_t bmPlanes = 0;
  uint16_t bmBitsPixel = 0;
  void* bmBits = nullptr;
};

struct PALETTEENTRY {
  uint8_t peRed = 0;
  uint8_t peGreen = 0;
  uint8_t peBlue = 0;
  uint8_t peFlags = 0;
};

// The bits are copied (null: zero bits); null when the size is not positive
// or memory is short.
HBITMAP CreateBitmap(int width, int height, unsigned planes, unsigned bitsPerPixel, const void* bits);
// Describes the bitmap; 0 for a handle that is no bitmap, else sizeof(BITMAP).
int GetObject(HBITMAP bitmap, BITMAP& description);
bool DeleteObject(HBITMAP bitmap);

HPALETTE CreatePalette(const PALETTEENTRY* entries, int count);
bool DeleteObject(HPALETTE palette);
// The stock palette of the standard colours; never deleted.
HPALETTE DefaultPaletteHandle();
int GetPaletteEntries(HPALETTE palette, int start, int count, PALETTEENTRY* entries);
// The system palette of a palette device; 0 entries on any other.
int GetSystemPaletteEntries(HDC dc, int start, int count, PALETTEENTRY* entries);

// Reads `lines` rows from row `start` (counted from the bottom) of the bitmap
// into `bits` as a device-independent bitmap of info's width and bit count,
// filling the colour table of an index (up to 8 bits, and the index of 16)
// from the palette selected into `dc` (black and white for 1 bit). Only the bitmap's own bit count is read. Answers the rows
// read, 0 on failure.
int GetDIBits(HDC dc, HBITMAP bitmap, unsigned start, unsigned lines, void* bits, BITMAPINFO* info,
              unsigned usage);
