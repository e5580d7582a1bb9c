#include "editor/QtDeviceContext.h"

#include <QtGlobal>
#include <algorithm>
#include <cstdlib>

// Format_RGB32 keeps a pixel as one native 0xffRRGGBB word: blue, green, red,
// 0xff in memory only on a little-endian machine, which the pixel buffer's
// byte layout assumes.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the buffer's byte layout needs little-endian");

CQtDeviceContext::CQtDeviceContext(QImage& target)
    : CQtDeviceContext(target, PrepareTarget(target)) {}

// The target is converted before any of its measures are taken.
CQtDeviceContext::CQtDeviceContext(QImage& target, uint8_t* bits)
    : CPixelBufferDC(bits, target.width(), target.height(),
                     static_cast<int>(target.bytesPerLine()), kePixelLayout::BGRA),
      m_target(target) {}

uint8_t* CQtDeviceContext::PrepareTarget(QImage& target) {
  if (target.format() != QImage::Format_RGB32 && target.format() != QImage::Format_ARGB32) {
    target.convertTo(QImage::Format_RGB32);
  }
  return target.bits();
}

int CQtDeviceContext::StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc,
                                    int ySrc, int srcWidth, int srcHeight, const void* bits,
                                    const BITMAPINFO& info, unsigned usage, uint32_t rop) {
  const BITMAPINFOHEADER& header = info.bmiHeader;
  const int bitCount = header.biBitCount;
  const bool direct = bits && usage == DIB_RGB_COLORS && header.biSize >= 40 &&
                      header.biCompression == BI_RGB && (bitCount == 24 || bitCount == 32) &&
                      rop == SRCCOPY && srcWidth > 0 && srcHeight > 0 && srcWidth == destWidth &&
                      srcHeight == destHeight;
  if (!direct) {
    return CPixelBufferDC::StretchDIBits(xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth,
                                         srcHeight, bits, info, usage, rop);
  }
  const int dibWidth = header.biWidth;
  const int dibHeight = std::abs(header.biHeight);
  if (dibWidth <= 0 || dibHeight <= 0) return 0;
  // Only the bitmap's own bits may be read.
  if (xSrc < 0 || ySrc < 0 || xSrc > dibWidth - srcWidth || ySrc > dibHeight - srcHeight) return 0;

  const bool bottomUp = header.biHeight > 0;
  const int64_t rowBytes = DibRowBytes(dibWidth, bitCount);
  const int pixelBytes = bitCount / 8;
  const auto* base = static_cast<const uint8_t*>(bits);
  const int left = xDest + ViewportOriginX();
  const int top = yDest + ViewportOriginY();
  const int x0 = std::max(left, 0);
  const int x1 = static_cast<int>(std::min<int64_t>(int64_t{left} + destWidth, Width()));
  const int y0 = std::max(top, 0);
  const int y1 = static_cast<int>(std::min<int64_t>(int64_t{top} + destHeight, Height()));
  if (x0 >= x1 || y0 >= y1) return srcHeight;
  const int count = x1 - x0;
  for (int y = y0; y < y1; ++y) {
    const int v = y - top;
    // Bottom-up bitmaps count ySrc from their bottom row, the lowest address.
    const int64_t memoryRow = bottomUp ? int64_t{ySrc} + srcHeight - 1 - v : int64_t{ySrc} + v;
    const uint8_t* in = base + memoryRow * rowBytes + int64_t{xSrc + x0 - left} * pixelBytes;
    uint8_t* out = Pixel(x0, y);
    for (int k = 0; k < count; ++k) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      out[3] = 255;
      in += pixelBytes;
      out += 4;
    }
  }
  return srcHeight;
}
