// EXIF for pixels that have been turned upright: what a file written from
// them may say without a reader turning them again.
#pragma once

#include <cstdint>
#include <vector>

// The TIFF structure of `exif` (with or without the "Exif\0\0" marker JPEG
// files carry in front of it) with its orientation set to 1 and its pixel
// dimensions, where it has them, set to `width` x `height`. Every other
// entry is kept byte for byte. Empty when `exif` is not a TIFF structure
// whose entries lie within it: such bytes describe nothing a reader could
// use, and could not be said upright.
std::vector<uint8_t> UprightExif(const std::vector<uint8_t>& exif, int width, int height);
