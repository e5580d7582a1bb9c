// Searches along a row of bytes (marks, candidate labels) for the pixels a
// stage starts its work from.
#pragma once

#include <cstdint>
#include <cstring>

// body(x) for each x in [0, n) whose byte is `value`, left to right. Such
// pixels are sparse, so the row is searched rather than tested pixel by
// pixel. After each body the search goes on over the row as it then stands:
// a body may rewrite bytes further on (a flood, say), and those it changes
// away from `value` are not visited.
template <typename Body>
void ForEachByteOf(const uint8_t* row, int n, uint8_t value, Body&& body) {
  const uint8_t* const end = row + n;
  for (const uint8_t* p = row; p < end; ++p) {
    p = static_cast<const uint8_t*>(std::memchr(p, value, static_cast<size_t>(end - p)));
    if (!p) return;
    body(static_cast<int>(p - row));
  }
}
