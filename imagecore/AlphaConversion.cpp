#include "AlphaConversion.h"

#include <mutex>

#include "CoreImage.h"
#include "ImageStorage.h"

namespace {

uint8_t g_unpremultiply[256 * 256];
std::once_flag g_unpremultiplyOnce;

void BuildUnpremultiplyTable() {
  for (unsigned v = 0; v < 256; ++v) {
    g_unpremultiply[v] = 0;
    g_unpremultiply[255 * 256 + v] = static_cast<uint8_t>(v);
  }
  for (unsigned a = 1; a < 255; ++a) {
    for (unsigned v = 0; v < 256; ++v) {
      const unsigned u = (v * 255 + a / 2) / a;
      g_unpremultiply[a * 256 + v] = static_cast<uint8_t>(u > 255 ? 255 : u);
    }
  }
}

bool IsAlphaFormat(keFormat format) {
  return format == keFormatGreyA || format == keFormatBGRA || format == keFormatBGRxA;
}

}  // namespace

const uint8_t* UnpremultiplyTable() {
  std::call_once(g_unpremultiplyOnce, BuildUnpremultiplyTable);
  return g_unpremultiply;
}

void PremultiplyBGRARow(uint8_t* dst, const uint8_t* src, int count) {
  for (int i = 0; i < count; ++i, src += 4, dst += 4) {
    const unsigned a = src[3];
    dst[0] = PremultiplyValue(src[0], a);
    dst[1] = PremultiplyValue(src[1], a);
    dst[2] = PremultiplyValue(src[2], a);
    dst[3] = static_cast<uint8_t>(a);
  }
}

void UnpremultiplyBGRARow(uint8_t* dst, const uint8_t* src, int count) {
  const uint8_t* table = UnpremultiplyTable();
  for (int i = 0; i < count; ++i, src += 4, dst += 4) {
    const unsigned a = src[3];
    const uint8_t* u = table + a * 256;
    dst[0] = u[src[0]];
    dst[1] = u[src[1]];
    dst[2] = u[src[2]];
    dst[3] = static_cast<uint8_t>(a);
  }
}

void PremultiplyGreyARow(uint8_t* row, int count) {
  for (int i = 0; i < count; ++i, row += 2) row[0] = PremultiplyValue(row[0], row[1]);
}

void UnpremultiplyGreyARow(uint8_t* row, int count) {
  const uint8_t* table = UnpremultiplyTable();
  for (int i = 0; i < count; ++i, row += 2) {
    const unsigned a = row[1];
    // Unlike colour pixels, a fully transparent grey keeps its value.
    if (a != 0 && a != 255) row[0] = table[a * 256 + row[0]];
  }
}

namespace {

// Runs `convert` over every row span of the image's rectangle in storage,
// strip by strip, holding each strip's lock for its pass.
template <typename RowFunction>
void ForEachStorageSpan(CCoreImage& image, const CStripArray& strips, RowFunction convert) {
  const int top = image.OriginY();
  const int bottom = top + image.Height();
  const size_t byteX = static_cast<size_t>(image.BitsPerPixel()) * image.OriginX() / 8;
  for (int s = top / 128; s * 128 < bottom; ++s) {
    CImageStrip& strip = strips.m_items[s];
    uint8_t* first = strip.Lock();
    const int begin = s * 128 > top ? s * 128 : top;
    const int end = (s + 1) * 128 < bottom ? (s + 1) * 128 : bottom;
    for (int y = begin; y < end; ++y) {
      convert(first + (y - s * 128) * strip.m_stride + byteX, image.Width());
    }
    strip.Unlock();
  }
}

}  // namespace

// The conversion works on the storage; the view format only says whether the
// image is meant to carry alpha. Storage without alpha is left alone, and rows
// held through a view are not touched (they are written back when released).
bool CCoreImage::Premultiply() {
  if (!HasStorage() || !IsAlphaFormat(m_viewFormat) || !IsAlphaFormat(m_storageFormat)) return false;
  if (m_storageFormat == keFormatGreyA) {
    ForEachStorageSpan(*this, *m_strips, [](uint8_t* row, int n) { PremultiplyGreyARow(row, n); });
  } else {
    ForEachStorageSpan(*this, *m_strips,
                       [](uint8_t* row, int n) { PremultiplyBGRARow(row, row, n); });
  }
  return true;
}

bool CCoreImage::Unpremultiply() {
  if (!HasStorage() || !IsAlphaFormat(m_viewFormat) || !IsAlphaFormat(m_storageFormat)) return false;
  if (m_storageFormat == keFormatGreyA) {
    ForEachStorageSpan(*this, *m_strips, [](uint8_t* row, int n) { UnpremultiplyGreyARow(row, n); });
  } else {
    ForEachStorageSpan(*this, *m_strips,
                       [](uint8_t* row, int n) { UnpremultiplyBGRARow(row, row, n); });
  }
  return true;
}
