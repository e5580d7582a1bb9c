// Softens the edge of the matte held in a BGRA image's alpha, letting the
// object's colour bleed outwards so that part-transparent edge pixels carry
// object colour rather than background colour.
#pragma once

class CCoreImage;

// image (keFormatBGRA view) is changed in place, colours and alpha, within
// about `width` (>= 1) pixels of the matte's edge. Core failures are raised
// as CJException (101 for another format).
void Feather(CCoreImage& image, int width);
