// Local standard deviation over a square window, per channel: the texture
// measure the classification widens its tolerance with.
#pragma once

#include <cstdint>

#include "imagecore/CoreResult.h"

class CCoreImage;
class CProgressScale;

// The window LocalDeviation uses for the one asked for: made odd and kept
// within 3..101.
int LocalDeviationWindow(int window);

// destination := per channel, the standard deviation of the window x window
// neighbourhood (borders reflected without repeating the edge pixel), rounded
// half up to 0..255. The window is first made LocalDeviationWindow(window),
// and the value used is written back. An image no larger than half that
// window in either direction is copied unfiltered.
// Grey, GreyA (filtered premultiplied) and BGR are filtered whole; BGRA only
// in its colour channels, keeping its alpha; any other format gives 101.
// With a progress scale, Step(row) is called after each output row and a
// non-zero answer stops with 100 (destination's rows up to that one are
// filtered, the rest still hold the copy). source and destination may be the
// same image.
CoreResult LocalDeviation(CProgressScale* progress, CCoreImage& source, CCoreImage& destination,
                          int& window);

// For each pixel of a BGRA image, map[d] with d the largest of the blue,
// green and red bytes LocalDeviation gives it with the same window (its
// alpha plays no part), without the deviation image: destination becomes a
// grey image of the source's size. False, with nothing written, for any
// other format, an image LocalDeviation would leave unfiltered, or a window
// too large for this image's exact sums; the caller then goes through
// LocalDeviation.
bool MapLargestColourDeviation(CCoreImage& source, int window, const uint8_t* map,
                               CCoreImage& destination);
