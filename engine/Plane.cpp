#include "engine/Plane.h"

#include <cstring>

#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

CPlane::CPlane(int width, int height, int bytesPerPixel, uint8_t fill)
    : m_width(width), m_height(height), m_bytesPerPixel(bytesPerPixel),
      m_data(static_cast<size_t>(width) * height * bytesPerPixel) {
  if (m_data.Size() != 0) std::memset(m_data.Data(), fill, m_data.Size());
}

CPlane ReadPlane(CCoreImage& image) {
  CPlane plane(image.Width(), image.Height(), FormatBitsPerPixel(image.ViewFormat()) / 8);
  for (int y = 0; y < plane.Height(); ++y) {
    const CRowLease row(image, y);
    std::memcpy(plane.Row(y), row.Data(), plane.Stride());
  }
  return plane;
}

void WritePlane(const CPlane& plane, CCoreImage& image) {
  for (int y = 0; y < plane.Height(); ++y) {
    const CRowLease row(image, y);
    std::memcpy(row.Data(), plane.Row(y), plane.Stride());
  }
}
