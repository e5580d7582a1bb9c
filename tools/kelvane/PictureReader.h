// Reading picture files for the host program, through libvips.
#pragma once

#include <string>

#include "tools/kelvane/Picture.h"

// Whether the file of exactly this name is of a format the program reads,
// judged from its first bytes.
bool IsPictureFile(const std::string& path);

// Reads the first page or frame of a JPEG, PNG, TIFF, WebP, HEIF/AVIF, GIF,
// JPEG XL or PNM picture, "-" being standard input; anything else is refused
// whatever its name says. The EXIF orientation is applied, CMYK turned into
// sRGB, 16-bit channels rounded to the nearest 8-bit value. A picture larger
// than the filter or the memory available to it can take is refused from its
// header, before any pixel is decoded, and one whose data ends before its
// declared size as soon as that shows. On failure `error` names the file and
// says what is wrong with it.
bool ReadPicture(const std::string& path, CPicture& picture, std::string& error);

// The same from a stream that is read once from where it stands, such as
// standard input, called `name` in messages. A stream longer than the memory
// available to a run is refused once past it, without reading further.
bool ReadPictureStream(int descriptor, const std::string& name, CPicture& picture,
                       std::string& error);
