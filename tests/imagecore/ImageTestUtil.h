// Small helpers for the imaging core tests: rows are fetched and released in
// pairs, failures examined so a test sees codes rather than exceptions.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "imagecore/CoreImage.h"

inline uint32_t Code(CoreResult result) { return ExamineResult(result); }

// The bytes of row y in the view format, through the row protocol.
inline std::vector<uint8_t> ReadRow(CCoreImage& image, int y) {
  uint8_t* row = nullptr;
  CoreResult result = image.GetRow(y, row);
  EXPECT_EQ(ExamineResult(result), 0u);
  if (!row) return {};
  const size_t bytes = (static_cast<size_t>(image.ViewBitsPerPixel()) * image.Width() + 7) / 8;
  std::vector<uint8_t> copy(row, row + bytes);
  image.ReleaseRow(y);
  return copy;
}

inline void WriteRow(CCoreImage& image, int y, const std::vector<uint8_t>& bytes) {
  uint8_t* row = nullptr;
  CoreResult result = image.GetRow(y, row);
  ASSERT_EQ(ExamineResult(result), 0u);
  std::memcpy(row, bytes.data(), bytes.size());
  image.ReleaseRow(y);
}

// A deterministic byte pattern, different for every position.
inline uint8_t PatternByte(int x, int y, int salt = 0) {
  return static_cast<uint8_t>((x * 7 + y * 13 + salt * 31 + (x * y) % 11) & 0xFF);
}

inline void FillPattern(CCoreImage& image, int salt = 0) {
  const size_t bytes = (static_cast<size_t>(image.ViewBitsPerPixel()) * image.Width() + 7) / 8;
  for (int y = 0; y < image.Height(); ++y) {
    std::vector<uint8_t> row(bytes);
    for (size_t i = 0; i < bytes; ++i) row[i] = PatternByte(static_cast<int>(i), y, salt);
    WriteRow(image, y, row);
  }
}
