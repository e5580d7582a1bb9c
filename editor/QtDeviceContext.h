// A device context over a QImage of 32-bit pixels, the image view's
// off-screen buffer. Bitmaps arrive as the core's Draw hands them over:
// strips of rows as they lie in memory, bottom-up. An unscaled copy of 24- or
// 32-bit rows, which is what the view draws, goes straight into the image's
// rows; everything else takes the pixel buffer's plain stretching.
#pragma once

#include <QImage>

#include "platform/DeviceContext.h"

class CQtDeviceContext : public CPixelBufferDC {
 public:
  // The target keeps its size; one of another 32-bit format is converted to
  // QImage::Format_RGB32 first. It must outlive the context and not be
  // copied from while the context draws (a shared image would detach).
  explicit CQtDeviceContext(QImage& target);

  int StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                    int srcWidth, int srcHeight, const void* bits, const BITMAPINFO& info,
                    unsigned usage, uint32_t rop) override;

  QImage& Target() const { return m_target; }

 private:
  CQtDeviceContext(QImage& target, uint8_t* bits);
  static uint8_t* PrepareTarget(QImage& target);

  QImage& m_target;
};
