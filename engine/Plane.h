// A flat, contiguous copy of an image's rows (in the image's view format),
// so that a stage's inner loops touch plain bytes and no image object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imagecore/PageBuffer.h"

class CCoreImage;

class CPlane {
 public:
  CPlane() = default;
  CPlane(int width, int height, int bytesPerPixel, uint8_t fill = 0);

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int BytesPerPixel() const { return m_bytesPerPixel; }
  size_t Stride() const { return static_cast<size_t>(m_width) * m_bytesPerPixel; }
  uint8_t* Row(int y) { return m_data.Data() + Stride() * y; }
  const uint8_t* Row(int y) const { return m_data.Data() + Stride() * y; }
  uint8_t* Data() { return m_data.Data(); }
  const uint8_t* Data() const { return m_data.Data(); }
  uint8_t& At(int x, int y) { return Row(y)[static_cast<size_t>(x) * m_bytesPerPixel]; }
  uint8_t At(int x, int y) const { return Row(y)[static_cast<size_t>(x) * m_bytesPerPixel]; }

 private:
  int m_width = 0;
  int m_height = 0;
  int m_bytesPerPixel = 0;
  CPageBuffer m_data;
};

// Rows are read and written through the image's row access, so a channel or
// format view of the image is honoured.
CPlane ReadPlane(CCoreImage& image);
void WritePlane(const CPlane& plane, CCoreImage& image);
