// PNG pictures among the module's resources (the pictures of image buttons).
#pragma once

#include <cstdint>
#include <span>

#include "imagecore/CoreImage.h"

// Decodes PNG resource `id` into the image. Answers 201 when the module has
// no such resource (the image untouched), otherwise 0 - also when the bytes
// do not decode, which leaves the image untouched too. A picture with alpha
// becomes BGRA (colour) or GreyA (grey) with its rows in the decoder's
// bottom-up order: image row 0 holds the picture's bottom row. One without
// alpha is imported as the packed bitmap the decoder makes of it (BGR or
// Grey, upright). Failures to create the image are thrown as CJException.
uint32_t LoadPngResource(int id, CCoreImage& image);

// The decoding of LoadPngResource for bytes at hand; false (the image
// untouched) when they are no PNG picture.
bool DecodePngPicture(std::span<const uint8_t> png, CCoreImage& image);
