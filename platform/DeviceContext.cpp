#include "DeviceContext.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

CDeviceContext::~CDeviceContext() = default;

int CDeviceContext::GetDeviceCaps(int index) const {
  switch (index) {
    case BITSPIXEL: return 32;
    default: return 0;  // no palette device, no palette
  }
}

HPALETTE CDeviceContext::SelectPalette(HPALETTE palette) {
  const HPALETTE previous = m_palette;
  m_palette = palette;
  return previous;
}

int CDeviceContext::RealizePalette() {
  // A device of direct colours has nothing to map.
  return (GetDeviceCaps(RASTERCAPS) & RC_PALETTE) ? GetPaletteEntries(m_palette, 0, 256, nullptr) : 0;
}

// ---- Pixel buffer -------------------------------------------------------------

namespace {

// Reads pixel (x, row) of a device-independent bitmap row as blue, green, red.
void ReadDibPixel(const uint8_t* row, int x, int bitCount, const RGBQUAD* table, int tableEntries,
                  uint8_t out[3]) {
  int index = -1;
  switch (bitCount) {
    case 1: index = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
    case 4: index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F; break;
    case 8: index = row[x]; break;
    case 24: std::memcpy(out, row + 3 * x, 3); return;
    default: std::memcpy(out, row + 4 * x, 3); return;  // 32: the fourth byte is not colour
  }
  if (index < tableEntries) {
    out[0] = table[index].rgbBlue;
    out[1] = table[index].rgbGreen;
    out[2] = table[index].rgbRed;
  } else {
    out[0] = out[1] = out[2] = 0;
  }
}

uint8_t Combine(uint32_t rop, uint8_t source, uint8_t destination) {
  switch (rop) {
    case SRCPAINT: return source | destination;
    case SRCAND: return source & destination;
    case SRCINVERT: return source ^ destination;
    case NOTSRCCOPY: return static_cast<uint8_t>(~source);
    default: return source;  // SRCCOPY
  }
}

}  // namespace

CPixelBufferDC::CPixelBufferDC(uint8_t* pixels, int width, int height, int bytesPerLine,
                               kePixelLayout layout)
    : m_pixels(pixels), m_width(width), m_height(height), m_bytesPerLine(bytesPerLine), m_layout(layout) {}

uint8_t* CPixelBufferDC::Pixel(int x, int y) const {
  const int size = m_layout == kePixelLayout::BGRA ? 4 : 3;
  return m_pixels + static_cast<ptrdiff_t>(y) * m_bytesPerLine + static_cast<ptrdiff_t>(x) * size;
}

int CPixelBufferDC::GetDeviceCaps(int index) const {
  if (index == BITSPIXEL) return m_layout == kePixelLayout::BGRA ? 32 : 24;
  return CDeviceContext::GetDeviceCaps(index);
}

int CPixelBufferDC::StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc,
                                  int ySrc, int srcWidth, int srcHeight, const void* bits,
                                  const BITMAPINFO& info, unsigned usage, uint32_t rop) {
  const BITMAPINFOHEADER& header = info.bmiHeader;
  const int bitCount = header.biBitCount;
  if (!bits || usage != DIB_RGB_COLORS || header.biSize < 40 || header.biCompression != BI_RGB) return 0;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) return 0;
  if (rop != SRCCOPY && rop != SRCPAINT && rop != SRCAND && rop != SRCINVERT && rop != NOTSRCCOPY) return 0;
  // Mirrored (negative) extents are not supported.
  if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return 0;
  const int dibWidth = header.biWidth;
  const int dibHeight = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  if (dibWidth <= 0 || dibHeight <= 0) return 0;
  // The source rectangle must lie in the bitmap: its bits are all we may read.
  if (xSrc < 0 || ySrc < 0 || xSrc > dibWidth - srcWidth || ySrc > dibHeight - srcHeight) return 0;

  const bool bottomUp = header.biHeight > 0;
  const int64_t rowBytes = DibRowBytes(dibWidth, bitCount);
  const int tableEntries =
      bitCount <= 8 ? std::min(DibColourTableEntries(header), 256) : 0;
  const auto* base = static_cast<const uint8_t*>(bits);

  const int left = xDest + ViewportOriginX();
  const int top = yDest + ViewportOriginY();
  const int x0 = std::max(left, 0);
  const int x1 = static_cast<int>(std::min<int64_t>(int64_t{left} + destWidth, m_width));
  const int y0 = std::max(top, 0);
  const int y1 = static_cast<int>(std::min<int64_t>(int64_t{top} + destHeight, m_height));
  const bool alpha = m_layout == kePixelLayout::BGRA;
  for (int y = y0; y < y1; ++y) {
    // The source row nearest to this row's centre, counted from the rectangle's top.
    const int64_t v = (2 * int64_t{y - top} + 1) * srcHeight / (2 * int64_t{destHeight});
    // Bottom-up bitmaps count ySrc from their bottom row, the lowest address.
    const int64_t memoryRow = bottomUp ? ySrc + srcHeight - 1 - v : ySrc + v;
    const uint8_t* row = base + memoryRow * rowBytes;
    uint8_t* out = Pixel(x0, y);
    for (int x = x0; x < x1; ++x) {
      const int64_t u = (2 * int64_t{x - left} + 1) * srcWidth / (2 * int64_t{destWidth});
      uint8_t colour[3];
      ReadDibPixel(row, static_cast<int>(xSrc + u), bitCount, info.bmiColors, tableEntries, colour);
      for (int c = 0; c < 3; ++c) out[c] = Combine(rop, colour[c], out[c]);
      if (alpha) {
        out[3] = 255;
        out += 4;
      } else {
        out += 3;
      }
    }
  }
  return srcHeight;
}

// ---- Screen -------------------------------------------------------------------

namespace {

class CScreenDC : public CDeviceContext {
 public:
  int StretchDIBits(int, int, int, int, int, int, int, int srcHeight, const void*, const BITMAPINFO&,
                    unsigned, uint32_t) override {
    return srcHeight;
  }
};

}  // namespace

HDC GetDC(void* window) {
  if (window) return nullptr;  // only the screen has a context here
  // One per thread: a palette selected on one thread is not seen by another.
  thread_local CScreenDC screen;
  return &screen;
}

int ReleaseDC(void*, HDC dc) {
  if (!dc) return 0;
  dc->SelectPalette(nullptr);
  return 1;
}
