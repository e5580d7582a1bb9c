// Writing picture files for the host program: PNG by our own encoder,
// the other formats through libvips.
#pragma once

#include <string>

#include "tools/kelvane/Picture.h"

// Whether `format` (an ending without the dot, lower case) can be written by
// this build, and whether it keeps transparency. False, with a message
// naming `path`, for an ending the program does not write.
bool CheckOutputFormat(const std::string& path, const std::string& format, bool needsAlpha,
                       std::string& error);

// Writes 1, 3 or 4 channels in `format`, "-" being standard output. A file is
// written unnamed (or under a temporary name beside `path`) and put in place
// whole, so a failure leaves any existing file as it was and no partial file
// behind. An existing file is replaced only with `replace`.
// With `strip` no EXIF or XMP is written; the colour profile always is.
bool WritePicture(const std::string& path, const std::string& format, const CPicture& picture,
                  bool strip, bool replace, std::string& error);
