// Images from outside pixel data: blocks of rows, packed device-independent
// bitmaps and device bitmaps.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "CoreImage.h"
#include "MemBlock.h"
#include "Palettes.h"
#include "platform/DeviceContext.h"

namespace {

constexpr char kBitmapTag[] = "Getdib";

// True when the first 256 entries of the table are the grey ramp.
bool IsGreyRamp(const uint8_t* table, int entries) {
  if (entries < 256) return false;
  for (int i = 0; i < 256; ++i) {
    const uint8_t* e = table + 4 * i;
    // The fourth byte of an entry is not colour.
    if (e[0] != i || e[1] != i || e[2] != i) return false;
  }
  return true;
}

keFormat FormatForBitCount(int bitCount, const uint8_t* table, int entries) {
  switch (bitCount) {
    case 1: return keFormatIndex1;
    case 4: return keFormatIndex4;
    case 8: return IsGreyRamp(table, entries) ? keFormatGrey : keFormatIndex8;
    case 16: return IsGreyRamp(table, entries) ? keFormatGreyA : keFormatIndex8A;
    case 24: return keFormatBGR;
    case 32: return keFormatBGRA;
    default: return keFormatNone;
  }
}

// Bits of one palette index of an indexed format (Index8A: the index byte).
int IndexBits(keFormat format) {
  switch (format) {
    case keFormatIndex1: return 1;
    case keFormatIndex4: return 4;
    default: return 8;
  }
}

}  // namespace

CoreResult CCoreImage::FromPixels(keFormat format, int width, int height, const uint8_t* firstRow,
                                  ptrdiff_t stride, int paletteCount, const uint8_t* palette) {
  if (format == keFormatNone || format == keFormatCustom || width <= 0 || height <= 0 || !firstRow ||
      stride == 0) {
    return MakeResult(keErrInvalidArgument);
  }
  // Checked before Create, which would empty the image on the way.
  if (!FormatIsStorable(format)) return MakeResult(keErrInvalidArgument);
  const bool indexed = FormatIsIndexed(format);
  CoreResult result = Create(width, height, format, nullptr, indexed ? palette : nullptr,
                             indexed ? paletteCount : -1);
  if (!result.IsNull()) return result;
  const size_t bytes = (static_cast<size_t>(FormatBitsPerPixel(format)) * width + 7) / 8;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = nullptr;
    result = GetRow(y, row);
    if (!result.IsNull()) {
      Reset();
      return result;
    }
    std::memcpy(row, firstRow + static_cast<ptrdiff_t>(y) * stride, bytes);
    ReleaseRow(y);
  }
  return result;
}

CoreResult CCoreImage::FromPackedDib(const void* dib, keFormat format) {
  if (!dib) return MakeResult(keErrInvalidArgument);
  BITMAPINFOHEADER header;
  std::memcpy(&header, dib, sizeof header);  // the block need not be aligned
  // Compressed bits cannot be read as rows of pixels.
  if (header.biSize < sizeof header || header.biCompression != BI_RGB) {
    return MakeResult(keErrInvalidArgument);
  }
  const int bitCount = header.biBitCount;
  const uint8_t* table = static_cast<const uint8_t*>(dib) + header.biSize;
  const int tableEntries = DibColourTableEntries(header);
  const uint8_t* bits = table + static_cast<size_t>(tableEntries) * 4;

  static const uint8_t kZeroBits[4] = {};
  int width = header.biWidth;
  int64_t height = header.biHeight;
  if (width == 0 || height == 0) {
    width = 1;
    height = 1;
    bits = kZeroBits;
  }
  if (width < 0 || height == INT_MIN) return MakeResult(keErrInvalidArgument);
  const bool bottomUp = height > 0;
  if (!bottomUp) height = -height;

  if (format == keFormatNone) {
    format = FormatForBitCount(bitCount, table, tableEntries);
    if (format == keFormatNone) return MakeResult(keErrInvalidArgument);
  } else if (!FormatIsStorable(format) || FormatBitsPerPixel(format) != bitCount) {
    // Rows of another depth than the bits' would be read past their end.
    return MakeResult(keErrInvalidArgument);
  }

  int paletteCount = 0;
  if (FormatIsIndexed(format)) {
    paletteCount = header.biClrImportant != 0 ? static_cast<int>(std::min<uint32_t>(header.biClrImportant, 256))
                                              : 1 << IndexBits(format);
    // Entries beyond the table would be read from the bits.
    paletteCount = std::min(paletteCount, tableEntries);
  }

  const int64_t rowBytes = DibRowBytes(width, bitCount);
  const uint8_t* firstRow = bits;
  ptrdiff_t stride = static_cast<ptrdiff_t>(rowBytes);
  if (bits == kZeroBits) {
    stride = sizeof kZeroBits;
  } else if (bottomUp) {
    // The first image row is the last in memory.
    firstRow = bits + (height - 1) * rowBytes;
    stride = -stride;
  }
  return FromPixels(format, width, static_cast<int>(height), firstRow, stride, paletteCount,
                    paletteCount > 0 ? table : nullptr);
}

CoreResult CCoreImage::FromBitmap(HBITMAP bitmap, HPALETTE palette) {
  BITMAP description;
  if (!bitmap || GetObject(bitmap, description) == 0) return MakeResult(keErrInvalidArgument);

  HDC screen = GetDC(nullptr);
  if (!screen) return MakeResult(keErrInvalidArgument);
  HPALETTE made = nullptr;
  if (!palette) {
    if ((screen->GetDeviceCaps(RASTERCAPS) & RC_PALETTE) && screen->GetDeviceCaps(SIZEPALETTE) == 256) {
      PALETTEENTRY entries[256];
      GetSystemPaletteEntries(screen, 0, 256, entries);
      made = CreatePalette(entries, 256);
      palette = made;
    }
    if (!palette) palette = DefaultPaletteHandle();
  }
  // Releases what this call took, on every way out.
  struct Cleanup {
    HDC screen;
    HPALETTE made;
    HPALETTE previous = nullptr;
    ~Cleanup() {
      screen->SelectPalette(previous);
      ReleaseDC(nullptr, screen);
      if (made) DeleteObject(made);
    }
  } cleanup{screen, made};

  const int bitCount = description.bmPlanes * description.bmBitsPixel;
  BITMAPINFOHEADER header;
  header.biSize = sizeof header;
  header.biWidth = description.bmWidth;
  header.biHeight = description.bmHeight;
  header.biPlanes = 1;
  header.biBitCount = static_cast<uint16_t>(bitCount);
  header.biCompression = BI_RGB;
  const int64_t rowBytes = DibRowBytes(description.bmWidth, bitCount);
  const int64_t imageBytes = description.bmHeight * rowBytes;
  if (imageBytes > int64_t{UINT32_MAX} - 2048) return MakeResult(keErrOutOfMemory);
  header.biSizeImage = static_cast<uint32_t>(imageBytes);
  // A colour table for an index only: 2^32 entries for 32 bits would be none
  // at all in 32-bit arithmetic. 16 bits hold an 8-bit index and alpha.
  const uint32_t colours = bitCount <= 8 ? 1u << bitCount : bitCount == 16 ? 256u : 0u;
  header.biClrUsed = colours;
  header.biClrImportant = colours;

  const size_t tableBytes = static_cast<size_t>(colours) * sizeof(RGBQUAD);
  const size_t bytes = sizeof header + tableBytes + static_cast<size_t>(header.biSizeImage);
  CMemBlock* block = nullptr;
  try {
    block = CMemAllocator::Instance().Allocate(bytes, true, keMemGlobal, kBitmapTag, __LINE__);
  } catch (const CJException&) {
    return MakeResult(keErrOutOfMemory);
  } catch (const std::bad_alloc&) {
    return MakeResult(keErrOutOfMemory);
  }

  CoreResult result;
  try {
    CMemLock lock;
    auto* dib = static_cast<uint8_t*>(lock.Lock(block, 0, 0, kBitmapTag, __LINE__));
    std::memcpy(dib, &header, sizeof header);
    // The bits call fills a header and colour table of its own layout.
    auto* info = new (std::nothrow) BITMAPINFO;
    if (!info) {
      result = MakeResult(keErrOutOfMemory);
    } else {
      info->bmiHeader = header;
      cleanup.previous = screen->SelectPalette(palette);
      screen->RealizePalette();
      const int lines = GetDIBits(screen, bitmap, 0, static_cast<unsigned>(description.bmHeight),
                                  dib + sizeof header + tableBytes, info, DIB_RGB_COLORS);
      if (lines == 0) {
        result = MakeResult(keErrBitmapBits);
      } else {
        std::memcpy(dib + sizeof header, info->bmiColors, tableBytes);
        result = FromPackedDib(dib, keFormatNone);
      }
      delete info;
    }
    lock.Unlock();
  } catch (const CJException& caught) {
    ResultFromException(result, caught);
  }
  block->Release();
  return result;
}
