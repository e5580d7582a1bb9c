#include "Bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "DeviceContext.h"

namespace {

struct DeviceBitmap {
  int width = 0;
  int height = 0;
  unsigned planes = 0;
  unsigned bitsPerPixel = 0;
  int rowBytes = 0;
  std::vector<uint8_t> bits;  // top-down rows
};

struct GdiTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, DeviceBitmap> bitmaps;
  std::unordered_map<uintptr_t, std::vector<PALETTEENTRY>> palettes;
  // Numbers are never reused, so a deleted handle stays invalid.
  uintptr_t nextId = 16;
};

GdiTable& Table() {
  static GdiTable* table = new GdiTable;
  return *table;
}

// The handle of the stock palette: never allocated from the table.
HPALETTE const kDefaultPalette = reinterpret_cast<HPALETTE>(uintptr_t{1});

const std::vector<PALETTEENTRY>& StandardColours() {
  static const std::vector<PALETTEENTRY> colours = [] {
    static const uint8_t kRgb[16][3] = {
        {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
        {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
        {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
        {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
    };
    std::vector<PALETTEENTRY> entries(16);
    for (int i = 0; i < 16; ++i) entries[i] = PALETTEENTRY{kRgb[i][0], kRgb[i][1], kRgb[i][2], 0};
    return entries;
  }();
  return colours;
}

// Entries of a palette handle, or null; the table lock must be held.
const std::vector<PALETTEENTRY>* PaletteOf(GdiTable& table, HPALETTE palette) {
  if (palette == kDefaultPalette) return &StandardColours();
  auto it = table.palettes.find(reinterpret_cast<uintptr_t>(palette));
  return it == table.palettes.end() ? nullptr : &it->second;
}

}  // namespace

int DibColourTableEntries(const BITMAPINFOHEADER& header) {
  if (header.biClrUsed != 0) return static_cast<int>(std::min<uint32_t>(header.biClrUsed, 1u << 24));
  if (header.biBitCount <= 8) return 1 << header.biBitCount;
  if (header.biBitCount == 16) return 256;
  return 0;
}

HBITMAP CreateBitmap(int width, int height, unsigned planes, unsigned bitsPerPixel, const void* bits) {
  if (width <= 0 || height <= 0 || planes == 0 || bitsPerPixel == 0 || planes * bitsPerPixel > 32) {
    return nullptr;
  }
  DeviceBitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.planes = planes;
  bitmap.bitsPerPixel = bitsPerPixel;
  const int64_t rowBytes = (static_cast<int64_t>(width) * planes * bitsPerPixel + 15) / 16 * 2;
  if (rowBytes * height > (int64_t{1} << 31)) return nullptr;
  bitmap.rowBytes = static_cast<int>(rowBytes);
  try {
    bitmap.bits.assign(static_cast<size_t>(rowBytes * height), 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (bits) std::memcpy(bitmap.bits.data(), bits, bitmap.bits.size());
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  const uintptr_t id = table.nextId++;
  table.bitmaps.emplace(id, std::move(bitmap));
  return reinterpret_cast<HBITMAP>(id);
}

int GetObject(HBITMAP handle, BITMAP& description) {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.bitmaps.find(reinterpret_cast<uintptr_t>(handle));
  if (it == table.bitmaps.end()) return 0;
  const DeviceBitmap& bitmap = it->second;
  description.bmType = 0;
  description.bmWidth = bitmap.width;
  description.bmHeight = bitmap.height;
  description.bmWidthBytes = bitmap.rowBytes;
  description.bmPlanes = static_cast<uint16_t>(bitmap.planes);
  description.bmBitsPixel = static_cast<uint16_t>(bitmap.bitsPerPixel);
  description.bmBits = nullptr;  // a device bitmap's bits are read with GetDIBits
  return sizeof(BITMAP);
}

bool DeleteObject(HBITMAP handle) {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.bitmaps.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

HPALETTE CreatePalette(const PALETTEENTRY* entries, int count) {
  if (!entries || count <= 0 || count > 256) return nullptr;
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  const uintptr_t id = table.nextId++;
  table.palettes.emplace(id, std::vector<PALETTEENTRY>(entries, entries + count));
  return reinterpret_cast<HPALETTE>(id);
}

bool DeleteObject(HPALETTE handle) {
  if (handle == kDefaultPalette) return false;
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.palettes.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

HPALETTE DefaultPaletteHandle() { return kDefaultPalette; }

int GetPaletteEntries(HPALETTE handle, int start, int count, PALETTEENTRY* entries) {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  const std::vector<PALETTEENTRY>* palette = PaletteOf(table, handle);
  if (!palette || start < 0 || count < 0) return 0;
  const int available = std::max(0, static_cast<int>(palette->size()) - start);
  const int n = std::min(count, available);
  if (entries) std::copy_n(palette->begin() + start, n, entries);
  return n;
}

int GetSystemPaletteEntries(HDC dc, int, int, PALETTEENTRY*) {
  // Only a palette device has a system palette.
  (void)dc;
  return 0;
}

int GetDIBits(HDC dc, HBITMAP handle, unsigned start, unsigned lines, void* bits, BITMAPINFO* info,
              unsigned usage) {
  if (!dc || !bits || !info || usage != DIB_RGB_COLORS) return 0;
  BITMAPINFOHEADER& header = info->bmiHeader;
  if (header.biSize < 40 || header.biCompression != BI_RGB) return 0;
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.bitmaps.find(reinterpret_cast<uintptr_t>(handle));
  if (it == table.bitmaps.end()) return 0;
  const DeviceBitmap& bitmap = it->second;
  const unsigned bitCount = bitmap.planes * bitmap.bitsPerPixel;
  // No conversion between depths: the reader asks for the bitmap's own.
  if (header.biBitCount != bitCount || header.biWidth != bitmap.width) return 0;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
      bitCount != 32) {
    return 0;
  }
  if (header.biHeight == 0 || std::abs(static_cast<int64_t>(header.biHeight)) != bitmap.height) return 0;
  if (start >= static_cast<unsigned>(bitmap.height)) return 0;
  lines = std::min(lines, static_cast<unsigned>(bitmap.height) - start);

  // 16 bits are an 8-bit index with alpha: its colours come from the palette too.
  if (bitCount <= 8 || bitCount == 16) {
    const int entries = bitCount == 16 ? 256 : 1 << bitCount;
    std::fill_n(info->bmiColors, entries, RGBQUAD{});
    if (bitCount == 1) {
      info->bmiColors[1] = RGBQUAD{255, 255, 255, 0};
    } else {
      const HPALETTE selected = dc->SelectedPalette() ? dc->SelectedPalette() : kDefaultPalette;
      const std::vector<PALETTEENTRY>* palette = PaletteOf(table, selected);
      if (!palette) return 0;
      const int n = std::min(entries, static_cast<int>(palette->size()));
      for (int i = 0; i < n; ++i) {
        const PALETTEENTRY& e = (*palette)[i];
        info->bmiColors[i] = RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0};
      }
    }
  }

  const bool bottomUp = header.biHeight > 0;
  const int64_t dibRow = DibRowBytes(bitmap.width, static_cast<int>(bitCount));
  const size_t copy = static_cast<size_t>((static_cast<int64_t>(bitmap.width) * bitCount + 7) / 8);
  auto* out = static_cast<uint8_t*>(bits);
  for (unsigned k = 0; k < lines; ++k) {
    // Row k of the request counts from the bottom of the bitmap.
    const int fromBottom = static_cast<int>(start + k);
    const int sourceRow = bitmap.height - 1 - fromBottom;
    const int64_t targetRow = bottomUp ? k : lines - 1 - k;
    uint8_t* target = out + targetRow * dibRow;
    std::memset(target, 0, static_cast<size_t>(dibRow));
    std::memcpy(target, bitmap.bits.data() + static_cast<size_t>(sourceRow) * bitmap.rowBytes, copy);
  }
  return static_cast<int>(lines);
}
