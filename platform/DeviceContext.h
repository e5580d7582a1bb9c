// Device contexts: targets that bitmaps are stretched onto, handed over as
// the system expects them (Bitmap.h): header, colour table, and the bits as
// they lie in memory.
#pragma once

#include <cstdint>

#include "platform/Bitmap.h"

// Raster operations: how source S and destination D combine.
enum : uint32_t {
  SRCCOPY = 0x00CC0020,     // S
  SRCPAINT = 0x00EE0086,    // S | D
  SRCAND = 0x008800C6,      // S & D
  SRCINVERT = 0x00660046,   // S ^ D
  NOTSRCCOPY = 0x00330008,  // ~S
};

enum : int {
  BITSPIXEL = 12,
  RASTERCAPS = 38,
  SIZEPALETTE = 104,
};

enum : int {
  RC_PALETTE = 0x0100,
};

class CDeviceContext {
 public:
  CDeviceContext() = default;
  CDeviceContext(const CDeviceContext&) = delete;
  CDeviceContext& operator=(const CDeviceContext&) = delete;
  virtual ~CDeviceContext();

  // Stretches the source rectangle of the bitmap onto the destination
  // rectangle (logical coordinates). ySrc counts rows from the bitmap's
  // bottom when its rows are bottom-up, as the system does. Answers the
  // number of source rows drawn, 0 when nothing could be drawn.
  virtual int StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                            int srcWidth, int srcHeight, const void* bits, const BITMAPINFO& info,
                            unsigned usage, uint32_t rop) = 0;

  virtual int GetDeviceCaps(int index) const;

  // Logical point (0, 0) lies at this device point.
  void SetViewportOrigin(int x, int y) {
    m_originX = x;
    m_originY = y;
  }
  int ViewportOriginX() const { return m_originX; }
  int ViewportOriginY() const { return m_originY; }

  // The palette a bitmap's indices refer to; the previous one is answered.
  HPALETTE SelectPalette(HPALETTE palette);
  HPALETTE SelectedPalette() const { return m_palette; }
  // Maps the selected palette onto the device; answers the entries mapped.
  int RealizePalette();

 private:
  int m_originX = 0;
  int m_originY = 0;
  HPALETTE m_palette = nullptr;
};

enum class kePixelLayout { BGRA, BGR };

// Paints into a plain pixel buffer that the caller owns: 4 bytes a pixel
// (blue, green, red, alpha; alpha is set opaque) or 3 (blue, green, red).
// Stretching takes the nearest source pixel to each destination pixel's
// centre; everything outside the buffer is clipped.
class CPixelBufferDC : public CDeviceContext {
 public:
  CPixelBufferDC(uint8_t* pixels, int width, int height, int bytesPerLine, kePixelLayout layout);

  int StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                    int srcWidth, int srcHeight, const void* bits, const BITMAPINFO& info,
                    unsigned usage, uint32_t rop) override;
  int GetDeviceCaps(int index) const override;

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  uint8_t* Pixel(int x, int y) const;

 private:
  uint8_t* m_pixels;
  int m_width;
  int m_height;
  int m_bytesPerLine;
  kePixelLayout m_layout;
};

// The screen's context: what bitmaps are read through. It is no palette
// device and shows nothing drawn onto it.
HDC GetDC(void* window);
int ReleaseDC(void* window, HDC dc);
