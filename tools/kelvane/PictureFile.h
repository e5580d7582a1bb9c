// Reading and writing picture files for the host program, through libvips.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What travels from the input to the output beside the pixels.
struct CPictureMetadata {
  std::vector<uint8_t> icc;   // the colour profile the pixels are in
  std::vector<uint8_t> exif;  // as the file held it; the orientation is reset when written
  std::vector<uint8_t> xmp;
};

// Pixels at 8 bits per channel: 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA,
// interleaved, rows top-down without padding, upright.
struct CPicture {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> bytes;
  CPictureMetadata metadata;
};

// The largest side the host accepts: its record holds 16-bit sizes.
inline constexpr int kMaxPictureSide = 32767;

// Starts the library once per process; false with the reason when it cannot.
bool StartPictureLibrary(const char* programName, std::string& error);
std::string PictureLibraryVersion();
// How many threads read and write each picture from now on; 0 one per core.
void SetPictureThreads(int threads);

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
