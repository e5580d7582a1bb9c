#include "UprightExif.h"

#include <cstring>

namespace {

constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagPixelWidth = 0xA002;
constexpr uint16_t kTagPixelHeight = 0xA003;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr size_t kEntryBytes = 12;

// The TIFF bytes in either byte order, read and written in place.
class CTiffBytes {
 public:
  CTiffBytes(std::vector<uint8_t>& bytes, bool bigEndian) : m_bytes(bytes), m_big(bigEndian) {}

  bool Fits(size_t at, size_t count) const {
    return at <= m_bytes.size() && count <= m_bytes.size() - at;
  }
  uint32_t Read(size_t at, int count) const {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      const uint32_t byte = m_bytes[at + static_cast<size_t>(m_big ? i : count - 1 - i)];
      value = (value << 8) | byte;
    }
    return value;
  }
  void Write(size_t at, int count, uint32_t value) {
    for (int i = 0; i < count; ++i) {
      m_bytes[at + static_cast<size_t>(m_big ? count - 1 - i : i)] =
          static_cast<uint8_t>(value >> (8 * i));
    }
  }

  // Sets a single SHORT or LONG entry, whose value sits in the entry
  // itself; false for an entry of any other shape. The values set here
  // (an orientation, a side of at most 32767) fit either type.
  bool SetNumber(size_t entry, uint16_t value) {
    const uint32_t type = Read(entry + 2, 2);
    if ((type != kTypeShort && type != kTypeLong) || Read(entry + 4, 4) != 1) return false;
    Write(entry + 8, 4, 0);
    Write(entry + 8, type == kTypeShort ? 2 : 4, value);
    return true;
  }

 private:
  std::vector<uint8_t>& m_bytes;
  bool m_big;
};

// The entries of the directory at `offset`: their first byte and count, or
// false when the directory does not lie within the bytes.
bool Directory(const CTiffBytes& tiff, size_t offset, size_t& first, size_t& count) {
  if (!tiff.Fits(offset, 2)) return false;
  count = tiff.Read(offset, 2);
  first = offset + 2;
  return tiff.Fits(first, count * kEntryBytes);
}

}  // namespace

std::vector<uint8_t> UprightExif(const std::vector<uint8_t>& exif, int width, int height) {
  static const uint8_t kMarker[] = {'E', 'x', 'i', 'f', 0, 0};
  size_t start = 0;
  if (exif.size() >= sizeof kMarker && std::memcmp(exif.data(), kMarker, sizeof kMarker) == 0) {
    start = sizeof kMarker;
  }
  std::vector<uint8_t> bytes(exif.begin() + static_cast<std::ptrdiff_t>(start), exif.end());
  if (bytes.size() < 8) return {};
  const bool big = bytes[0] == 'M' && bytes[1] == 'M';
  if (!big && !(bytes[0] == 'I' && bytes[1] == 'I')) return {};
  CTiffBytes tiff(bytes, big);
  if (tiff.Read(2, 2) != 42) return {};

  size_t first = 0;
  size_t count = 0;
  if (!Directory(tiff, tiff.Read(4, 4), first, count)) return {};
  size_t exifIfd = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = first + i * kEntryBytes;
    const uint32_t tag = tiff.Read(entry, 2);
    if (tag == kTagOrientation && !tiff.SetNumber(entry, 1)) return {};
    if (tag == kTagExifIfd) exifIfd = tiff.Read(entry + 8, 4);
  }
  if (exifIfd == 0) return bytes;
  if (!Directory(tiff, exifIfd, first, count)) return {};
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = first + i * kEntryBytes;
    const uint32_t tag = tiff.Read(entry, 2);
    // A dimension of another shape is left as it is: it only describes.
    if (tag == kTagPixelWidth) tiff.SetNumber(entry, static_cast<uint16_t>(width));
    if (tag == kTagPixelHeight) tiff.SetNumber(entry, static_cast<uint16_t>(height));
  }
  return bytes;
}
