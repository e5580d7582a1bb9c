// Packed device-independent bitmaps built in tests: header, colour table and
// rows laid out as the system lays them out.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/Bitmap.h"

struct CTestDib {
  std::vector<uint8_t> bytes;
  size_t bitsOffset = 0;
  int64_t rowBytes = 0;

  BITMAPINFOHEADER Header() const {
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes.data(), sizeof header);
    return header;
  }
  void SetHeader(const BITMAPINFOHEADER& header) { std::memcpy(bytes.data(), &header, sizeof header); }
  // Row y of the picture, counted from its top.
  uint8_t* PictureRow(int y, int height, bool bottomUp) {
    const int memoryRow = bottomUp ? height - 1 - y : y;
    return bytes.data() + bitsOffset + static_cast<size_t>(memoryRow * rowBytes);
  }
};

// A bitmap whose picture row y, byte i is byteAt(i, y); height < 0 lays the
// rows out top-down. `table` holds 4-byte entries; clrUsed = its entry count
// (0 when empty).
inline CTestDib MakeDib(int width, int height, int bitCount, const std::vector<uint8_t>& table,
                        const std::function<uint8_t(int, int)>& byteAt, uint32_t clrImportant = 0) {
  const int rows = height < 0 ? -height : height;
  CTestDib dib;
  dib.rowBytes = DibRowBytes(width, bitCount);
  dib.bitsOffset = sizeof(BITMAPINFOHEADER) + table.size();
  dib.bytes.assign(dib.bitsOffset + static_cast<size_t>(dib.rowBytes * rows), 0);
  BITMAPINFOHEADER header;
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = static_cast<uint16_t>(bitCount);
  header.biClrUsed = static_cast<uint32_t>(table.size() / 4);
  header.biClrImportant = clrImportant;
  dib.SetHeader(header);
  if (!table.empty()) std::memcpy(dib.bytes.data() + sizeof header, table.data(), table.size());
  const int used = static_cast<int>((static_cast<int64_t>(width) * bitCount + 7) / 8);
  for (int y = 0; y < rows; ++y) {
    uint8_t* row = dib.PictureRow(y, rows, height > 0);
    for (int i = 0; i < used; ++i) row[i] = byteAt(i, y);
  }
  return dib;
}

inline std::vector<uint8_t> GreyRampTable() {
  std::vector<uint8_t> table(256 * 4);
  for (int i = 0; i < 256; ++i) {
    table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = static_cast<uint8_t>(i);
  }
  return table;
}
