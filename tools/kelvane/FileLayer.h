// A picture file's pixels as the layer a host hands to a filter, and back.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/filterhost/FilterHost.h"
#include "tools/kelvane/Picture.h"

// As an editor turns a background into a layer: RGB with an alpha plane,
// opaque where the file has none, grey spread to RGB. With `planesAsFile`
// the planes stay as the file has them (grey 1 or 2 planes, RGB 3 or 4).
// Bytes that need no conversion are taken over, not copied.
CHostLayer LayerFromPixels(CPicture pixels, bool planesAsFile);

// The layer as 8-bit RGBA rows; planes without alpha become opaque.
std::vector<uint8_t> LayerToRGBA(const CHostLayer& layer);
