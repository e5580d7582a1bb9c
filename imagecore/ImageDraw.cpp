// Stretching an image onto a device context, one 128-row strip at a time:
// each strip is a bottom-up bitmap in memory and is handed over unchanged.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "CoreImage.h"
#include "ImageStorage.h"
#include "Palettes.h"
#include "platform/DeviceContext.h"

namespace {

constexpr int kStripRows = 128;
// Keeps a device edge that lands on a whole number, give or take rounding,
// on that number rather than one beyond.
constexpr double kEdgeSlack = 1e-6;

bool IsDrawable(keFormat format) {
  switch (format) {
    case keFormatIndex1: case keFormatIndex4: case keFormatIndex8:
    case keFormatGrey: case keFormatBGR: case keFormatBGRA:
      return true;
    default:
      return false;
  }
}

}  // namespace

CoreResult CCoreImage::Draw(CDeviceContext& dc, const CoreRect& source, const CoreRect& destination,
                            uint32_t rop) {
  if (!HasStorage() || !IsDrawable(m_storageFormat)) return MakeResult(keErrNoStorage);
  if (source.IsEmpty() || destination.IsEmpty()) return MakeResult(keErrInvalidArgument);

  BITMAPINFO info{};
  BITMAPINFOHEADER& header = info.bmiHeader;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biPlanes = 1;
  header.biBitCount = static_cast<uint16_t>(m_storageBpp);
  header.biCompression = BI_RGB;
  header.biSizeImage = 0;
  header.biXPelsPerMeter = 3600;
  header.biYPelsPerMeter = 3600;
  int entries = 0;
  const uint8_t* palette = nullptr;
  if (m_storageFormat == keFormatGrey) {
    entries = 256;
    palette = GreyRampPalette();
  } else if (m_palette) {
    entries = m_paletteCount;
    palette = m_palette->m_entries;
  }
  header.biClrUsed = static_cast<uint32_t>(entries);
  header.biClrImportant = static_cast<uint32_t>(entries);
  if (entries > 0) std::memcpy(info.bmiColors, palette, static_cast<size_t>(entries) * 4);

  const double scaleX = static_cast<double>(destination.Width()) / source.Width();
  const double scaleY = static_cast<double>(destination.Height()) / source.Height();
  // Only pixels of the image are handed over, whatever the source rectangle
  // says: beyond them lie other rows or the end of the block.
  const int columnLeft = std::max(source.left, 0);
  const int columnRight = std::min(source.right, Width());
  if (columnLeft >= columnRight) return CoreResult();
  const double deviceLeft = destination.left + (columnLeft - source.left) * scaleX;
  const double deviceRight = destination.left + (columnRight - source.left) * scaleX;
  const int left = static_cast<int>(std::floor(deviceLeft + kEdgeSlack));
  const int right = static_cast<int>(std::ceil(deviceRight - kEdgeSlack));

  // A sub-image of 1- or 4-bit storage may start inside a byte: the bits
  // are handed from that byte and the source x moves by the pixels before.
  const int64_t originBit = static_cast<int64_t>(m_storageBpp) * m_originX;
  const int phasePixels = static_cast<int>(originBit % 8) / m_storageBpp;
  const int height = Height();

  for (int s = 0; s < m_strips->m_count; ++s) {
    const CImageStrip& strip = m_strips->m_items[s];
    // The strip's rows that lie in the image, in image rows.
    const int stripTop = std::max(s * kStripRows - m_originY, 0);
    const int stripBottom = std::min(s * kStripRows + strip.m_rows - m_originY, height);
    if (stripTop >= stripBottom) continue;
    const int partTop = std::max(stripTop, source.top);
    const int partBottom = std::min(stripBottom, source.bottom);
    if (partTop >= partBottom) continue;

    const double deviceTop = destination.top + (partTop - source.top) * scaleY;
    const double deviceBottom = destination.top + (partBottom - source.top) * scaleY;
    const int top = static_cast<int>(std::floor(deviceTop + kEdgeSlack));
    const int bottom = static_cast<int>(std::ceil(deviceBottom - kEdgeSlack));
    if (right <= left || bottom <= top) continue;

    header.biWidth = static_cast<int32_t>(-strip.m_stride * 8 / m_storageBpp);
    header.biHeight = stripBottom - stripTop;
    // The lowest address of those rows: the bottom one, at the image's left edge.
    const uint8_t* bits = m_rowTable->m_rows[m_originY + stripBottom - 1] + originBit / 8;
    const int xSrc = columnLeft + phasePixels;
    const int ySrc = stripBottom - partBottom;
    dc.StretchDIBits(left, top, right - left, bottom - top, xSrc, ySrc, columnRight - columnLeft,
                     partBottom - partTop, bits, info, DIB_RGB_COLORS, rop);
  }
  return CoreResult();
}

CoreResult CCoreImage::Draw(CDeviceContext& dc, int sourceX, int sourceY, int sourceWidth,
                            int sourceHeight, int destX, int destY, int destWidth, int destHeight) {
  if (sourceWidth == 0) sourceWidth = Width();
  if (sourceHeight == 0) sourceHeight = Height();
  if (destWidth == 0) destWidth = Width();
  if (destHeight == 0) destHeight = Height();
  const CoreRect source{sourceX, sourceY, sourceX + sourceWidth, sourceY + sourceHeight};
  const CoreRect destination{destX, destY, destX + destWidth, destY + destHeight};
  return Draw(dc, source, destination, SRCCOPY);
}
