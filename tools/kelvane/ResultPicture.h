// The picture written from the filter's layer: the cut-out with its
// transparency, the cut-out flattened over a colour, or the mask alone.
#pragma once

#include "tools/filterhost/FilterHost.h"
#include "tools/kelvane/HostOptions.h"
#include "tools/kelvane/Picture.h"

// Takes the layer's bytes over where they already are what the file takes.
CPicture ResultPicture(CHostLayer&& layer, const CHostOptions& options,
                       CPictureMetadata metadata);

// Straight alpha composited over `colour`, rounded to the nearest value.
inline uint8_t OverColour(uint8_t value, uint8_t alpha, uint8_t colour) {
  return static_cast<uint8_t>((value * alpha + colour * (255 - alpha) + 127) / 255);
}
