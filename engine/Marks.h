// What a marks image holds per pixel.
#pragma once

#include <cstdint>
#include <cstring>

enum : uint8_t {
  keMarkBackground = 0,  // marked with "Mark colors for erasing"
  keMarkObject = 1,      // marked with "Mark Object"
  keMarkNone = 2,
};

// body(x) for each x in [0, n) whose mark is `kind`, left to right. Marks are
// sparse, so the row is searched rather than tested pixel by pixel.
template <typename Body>
void ForEachMarkOfKind(const uint8_t* marks, int n, uint8_t kind, Body&& body) {
  const uint8_t* const end = marks + n;
  for (const uint8_t* p = marks; p < end; ++p) {
    p = static_cast<const uint8_t*>(std::memchr(p, kind, static_cast<size_t>(end - p)));
    if (!p) return;
    body(static_cast<int>(p - marks));
  }
}
