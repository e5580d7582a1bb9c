// Pictures written and read by the tests through the host's own picture
// files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/kelvane/PictureReader.h"
#include "tools/kelvane/PictureWriter.h"

inline bool WriteRgbaPicture(const std::string& path, int width, int height, const uint8_t* rgba,
                             std::string& error, const std::string& format = "png") {
  CPicture picture;
  picture.width = width;
  picture.height = height;
  picture.channels = 4;
  picture.bytes.assign(rgba, rgba + static_cast<size_t>(width) * height * 4);
  return WritePicture(path, format, picture, false, true, error);
}
