// Softens the edge of the matte held in a BGRA image's alpha, letting the
// object's colour bleed outwards so that part-transparent edge pixels carry
// object colour rather than background colour.
#pragma once

#include <cstdint>
#include <functional>

class CCoreImage;

// image (keFormatBGRA view) is changed in place, colours and alpha, within
// about `width` (>= 1) pixels of the matte's edge. Core failures are raised
// as CJException (101 for another format). Only tiles near the edge are
// worked on.
void Feather(CCoreImage& image, int width);

// Receives feathered pixels [left, right) of row y, BGRA; called from
// several threads at once, for spans that never overlap.
using CFeatherSink = std::function<void(int y, int left, int right, const uint8_t* bgra)>;

// The feathered pixels without changing the image: every pixel that may
// differ from the image's goes to the sink once (the others keep the image's
// value).
void Feather(CCoreImage& image, int width, const CFeatherSink& sink);

// The same over the whole image, as the steps read: the reference the tiled
// version is held to.
void FeatherPlain(CCoreImage& image, int width);
