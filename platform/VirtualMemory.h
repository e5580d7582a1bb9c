// Anonymous pages for large buffers. A buffer that is written whole right
// after it is had pays a fault for every 4 KiB page on first touch; asking for
// the pages up front costs one call instead.
#pragma once

#include <cstddef>
#include <cstdint>

// The system's large page.
constexpr uintptr_t kHugePageBytes = uintptr_t{2} << 20;

// Read-write private pages, zero-filled; null when the system refuses.
// populate: every page is present on return.
void *MapPages(size_t bytes, bool populate);
void UnmapPages(void *address, size_t bytes);

// Makes the whole pages inside [start, start + bytes) present and writable
// before a loop writes them. Only a hint: where the system cannot, the pages
// come on first touch as usual.
void PrefaultForWriting(void *start, size_t bytes);

// The whole huge pages inside [start, start + bytes) are to come as huge pages
// when first touched: one fault instead of 512. On some virtual machines such
// pages are slower to work in afterwards, so this is for buffers that a pass
// writes once and reads once, not for working storage used again and again.
// Only a hint, like the above.
void AdviseHugePages(void *start, size_t bytes);
