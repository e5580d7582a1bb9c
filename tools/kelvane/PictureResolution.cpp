#include "PictureResolution.h"

#include <cstring>

namespace {

// Chunks or segments looked at before the image data, at most: real files
// have a few dozen, and a file of millions of empty ones must not cost
// millions of reads.
constexpr int kMostHeaderParts = 4096;

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Chunks up to the image data; pHYs must come before it.
bool PngStatesResolution(const FileBytesReader& read) {
  uint64_t at = 8;
  uint8_t head[8];
  for (int part = 0; part < kMostHeaderParts && read(at, head, sizeof head); ++part) {
    const uint32_t length = BigEndian32(head);
    if (std::memcmp(head + 4, "pHYs", 4) == 0) {
      uint8_t body[9];
      return length == 9 && read(at + 8, body, sizeof body) && body[8] == 1;  // 1: per metre
    }
    if (std::memcmp(head + 4, "IDAT", 4) == 0 || std::memcmp(head + 4, "IEND", 4) == 0) break;
    at += uint64_t{length} + 12;
  }
  return false;
}

// Segments up to the scan; a JFIF density in unit 0 is an aspect ratio only.
bool JpegStatesResolution(const FileBytesReader& read) {
  uint64_t at = 2;
  uint8_t head[4];
  for (int part = 0; part < kMostHeaderParts && read(at, head, sizeof head) && head[0] == 0xFF;
       ++part) {
    const uint8_t marker = head[1];
    if (marker == 0xDA || marker == 0xD9) break;  // start of scan, end of image
    const uint32_t length = uint32_t{head[2]} << 8 | head[3];
    if (length < 2) break;
    if (marker == 0xE0 && length >= 16) {
      uint8_t jfif[8];
      if (read(at + 4, jfif, sizeof jfif) && std::memcmp(jfif, "JFIF\0", 5) == 0) {
        return jfif[7] == 1 || jfif[7] == 2;  // per inch, per centimetre
      }
    }
    at += uint64_t{length} + 2;
  }
  return false;
}

// The first directory's XResolution tag.
bool TiffStatesResolution(const FileBytesReader& read) {
  uint8_t header[8];
  if (!read(0, header, sizeof header)) return false;
  const bool little = header[0] == 'I';
  auto u16 = [little](const uint8_t* p) {
    return little ? uint32_t{p[0]} | uint32_t{p[1]} << 8 : uint32_t{p[0]} << 8 | p[1];
  };
  auto u32 = [little, u16](const uint8_t* p) {
    return little ? u16(p) | u16(p + 2) << 16 : u16(p) << 16 | u16(p + 2);
  };
  // BigTIFF (43) keeps its tags in wider records, which are not looked at.
  if (u16(header + 2) != 42) return false;
  const uint64_t directory = u32(header + 4);
  uint8_t count[2];
  if (!read(directory, count, sizeof count)) return false;
  const uint32_t entries = u16(count);
  uint8_t entry[2];
  for (uint32_t i = 0; i < entries; ++i) {
    if (!read(directory + 2 + uint64_t{i} * 12, entry, sizeof entry)) return false;
    if (u16(entry) == 0x011A) return true;
  }
  return false;
}

}  // namespace

bool HeaderStatesResolution(const char* loader, const FileBytesReader& read) {
  if (std::strcmp(loader, "pngload_source") == 0) return PngStatesResolution(read);
  if (std::strcmp(loader, "jpegload_source") == 0) return JpegStatesResolution(read);
  if (std::strcmp(loader, "tiffload_source") == 0) return TiffStatesResolution(read);
  return false;
}
