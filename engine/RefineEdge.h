// Refine Edge: alpha in a band along the matte's edge estimated from the
// picture's colours, and the object's own colour in every part-transparent
// pixel, so hair and soft edges keep their strands and lose the
// background's colour. Runs in place of feathering when it is on.
#pragma once

#include <cstdint>
#include <functional>

#include "imagecore/CoreResult.h"

class CCoreImage;
class CProgressScale;

// The narrowest and widest band on each side of the edge, in pixels.
inline constexpr int kEdgeWidthMin = 1;
inline constexpr int kEdgeWidthMax = 50;

// Receives refined pixels [left, right) of row y, BGRA: the object's colour
// and the estimated alpha. Called once per span, spans never overlap; all
// calls come from the calling thread, top row first.
using CRefineSink = std::function<void(int y, int left, int right, const uint8_t* bgra)>;

// image: keFormatBGRA view, colours = the picture, alpha = the finished
// matte (255 keep, 0 erase). The edge lies between alpha >= 128 and < 128;
// pixels within `edgeWidth` of it form the unknown band, pixels farther
// inside are object and farther outside background. Every pixel whose value
// may differ from the image's goes to the sink once, after the estimation
// is done; the others keep the image's value. The image is not changed.
// Memory grows with the band, not the picture. Returns success, 101 for a
// view other than BGRA or a width outside kEdgeWidthMin..kEdgeWidthMax, 100
// when `progress` (may be null) asked to stop (the sink then received
// nothing), or raises the core's exception on a core failure (102 when the
// band's work space cannot be had). The same image gives the same bytes
// however many threads share the work.
CoreResult RefineEdge(CCoreImage& image, int edgeWidth, const CRefineSink& sink,
                      CProgressScale* progress);
