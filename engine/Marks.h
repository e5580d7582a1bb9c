// What a marks image holds per pixel.
#pragma once

#include <cstdint>

enum : uint8_t {
  keMarkBackground = 0,  // marked with "Mark colors for erasing"
  keMarkObject = 1,      // marked with "Mark Object"
  keMarkNone = 2,
};
