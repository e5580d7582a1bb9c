#include "ImageHolder.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

// Format of the working image for a host plane count; keFormatNone if the
// count has none.
keFormat FormatForPlanes(int planes) {
  switch (planes) {
    case 1: return keFormatGrey;
    case 2: return keFormatGreyA;
    case 3: return keFormatBGR;
    case 4: return keFormatBGRA;
    default: return keFormatNone;
  }
}

// The byte order is its own inverse, so both directions use this.
void ConvertRow(const uint8_t* from, uint8_t* to, int width, int planes) {
  switch (planes) {
    case 1:
    case 2:
      std::memcpy(to, from, static_cast<size_t>(width) * static_cast<size_t>(planes));
      break;
    case 3:
      for (int x = 0; x < width; ++x, from += 3, to += 3) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
      }
      break;
    case 4:
      // Channels 0 and 2 trade places within each pixel's word: word
      // operations the compiler can do many pixels at a time.
      static_assert(std::endian::native == std::endian::little);
      for (int x = 0; x < width; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, from + 4 * x, 4);
        pixel = (pixel & 0xFF00FF00u) | ((pixel >> 16) & 0xFFu) | ((pixel & 0xFFu) << 16);
        std::memcpy(to + 4 * x, &pixel, 4);
      }
      break;
    default:
      break;
  }
}

}  // namespace

CImageHolder::CImageHolder() = default;

CImageHolder::~CImageHolder() = default;

CCoreImage* CImageHolder::GetImage() { return &m_layer; }

int CImageHolder::ReadHostRows(const void* source, int width, int height, int32_t rowBytes,
                               int planes) {
  m_layer.Reset();
  {
    // A failed create is left unexamined on purpose: releasing it raises the
    // core's exception.
    CoreResult created;
    switch (planes) {
      case 1: created = m_layer.CreateGrey(width, height); break;
      case 2: created = m_layer.CreateGreyA(width, height); break;
      case 3: created = m_layer.CreateBGR(width, height); break;
      case 4: created = m_layer.CreateBGRA(width, height); break;
      default: return 0;
    }
  }
  const uint8_t* from = static_cast<const uint8_t*>(source);
  ForEachRowInBands(height, m_layer.HasRowCache(), [&](int y) {
    const CRowLease row(m_layer, y);
    ConvertRow(from + static_cast<ptrdiff_t>(y) * rowBytes, row.Data(), width, planes);
  });
  return 1;
}

int CImageHolder::WriteHostRows(void* destination, int width, int height, int32_t rowBytes,
                                int planes) {
  const keFormat format = FormatForPlanes(planes);
  if (format == keFormatNone) return 0;
  // Rows of another size or format would be read past their end.
  if (!m_layer.HasStorage() || m_layer.Width() != width || m_layer.Height() != height ||
      m_layer.ViewFormat() != format) {
    return 0;
  }
  uint8_t* to = static_cast<uint8_t*>(destination);
  ForEachRowInBands(height, m_layer.HasRowCache(), [&](int y) {
    const CRowLease row(m_layer, y);
    ConvertRow(row.Data(), to + static_cast<ptrdiff_t>(y) * rowBytes, width, planes);
  });
  return 1;
}
