// PNG files of every colour type, written with libpng for the tests.
#pragma once

#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

// Writes rows packed as the file stores them (16-bit samples big-endian);
// `palette`/`trns` for palette files, `trnsColour` for a transparent colour.
inline bool WriteTestPng(const std::string& path, int width, int height, int colourType,
                         int bitDepth, const std::vector<std::vector<uint8_t>>& rows,
                         const std::vector<png_color>& palette = {},
                         const std::vector<uint8_t>& trns = {}, bool interlaced = false,
                         const png_color_16* trnsColour = nullptr) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  // Built before setjmp so that a jump back never skips its destructor.
  std::vector<png_bytep> pointers;
  for (const auto& row : rows) pointers.push_back(const_cast<png_bytep>(row.data()));
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, bitDepth, colourType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!trns.empty()) png_set_tRNS(png, info, trns.data(), static_cast<int>(trns.size()), nullptr);
  if (trnsColour) png_set_tRNS(png, info, nullptr, 0, trnsColour);
  png_write_info(png, info);
  png_write_image(png, pointers.data());  // also does the interlace passes
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
  return true;
}
