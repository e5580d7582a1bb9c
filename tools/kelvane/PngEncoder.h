// PNG files written on every core: bands of rows are filtered and
// compressed side by side, and each band's compressed stream ends on a byte
// boundary, so the bands join into the one stream the format holds.
// ISA-L's deflate at its fastest level packs a photo and its cleared
// background smaller than zlib's run-length matching does, in a third of
// its time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "tools/kelvane/Picture.h"

// Takes the file's bytes in order; false when they could not be written
// (errno says why).
using PngSink = std::function<bool(const uint8_t* data, size_t size)>;

// Writes the picture (1 grey, 2 grey+alpha, 3 RGB or 4 RGBA channels) with
// the metadata as given: `icc` as the colour profile, `exif` as TIFF bytes,
// `xmp` as the XMP packet; empty ones are left out. `threads` 0 means one
// per core. False when the sink failed or memory ran out.
bool EncodePng(const CPicture& picture, const CPictureMetadata& metadata, const PngSink& sink,
               unsigned threads = 0);
