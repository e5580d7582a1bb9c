// Mean filter over a square window, per channel. Colour with alpha is
// filtered premultiplied, so transparent pixels lend no colour.
#pragma once

#include "imagecore/CoreResult.h"

class CCoreImage;
class CPlane;
class CProgressScale;

// The window BoxBlur uses for the one asked for: made odd and kept within
// 3..31.
int BoxBlurWindow(int window);

// destination := source filtered with the mean of the window x window
// neighbourhood (borders reflected without repeating the edge pixel), rounded
// half up. The window is first made BoxBlurWindow(window), and the value
// used is written back. An image no larger than
// half that window in either direction is copied unfiltered. Formats Grey,
// GreyA, BGR and BGRA; any other gives 101. With a progress scale, Step(row)
// is called after each output row and a non-zero answer stops with 100
// (destination's rows up to that one are filtered, the rest still hold the
// copy). source and destination may be the same image.
CoreResult BoxBlur(CProgressScale* progress, CCoreImage& source, CCoreImage& destination,
                   int& window);

// The same in place over a plane of one byte a pixel (else 101), giving the
// bytes the image form gives a Grey image.
CoreResult BoxBlur(CPlane& plane, int window);
