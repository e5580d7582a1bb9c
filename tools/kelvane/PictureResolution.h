// Whether a picture file states its resolution. The library cannot tell:
// it reports 72 dpi for a PNG or JPEG that states none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Reads `size` bytes of the file from `offset`; false past its end.
using FileBytesReader = std::function<bool(uint64_t offset, uint8_t* to, size_t size)>;

// From the file's own header fields, for the formats that have them: a PNG's
// pHYs chunk in metres, a JPEG's JFIF density in inches or centimetres, a
// TIFF's XResolution tag. A resolution in EXIF is the library's to report.
// `loader` is the library loader that takes the file.
bool HeaderStatesResolution(const char* loader, const FileBytesReader& read);
