#include "PictureReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/FileDescriptor.h"
#include "platform/VirtualMemory.h"
#include "tools/kelvane/Orientation.h"
#include "tools/kelvane/HostMessages.h"
#include "tools/kelvane/PictureLibrary.h"
#include "tools/kelvane/PictureLimits.h"
#include "tools/kelvane/PictureLoaders.h"
#include "tools/kelvane/PictureResolution.h"

namespace {

std::vector<uint8_t> BlobOf(VipsImage* image, const char* name) {
  const void* data = nullptr;
  size_t length = 0;
  if (vips_image_get_typeof(image, name) == 0 ||
      vips_image_get_blob(image, name, &data, &length) != 0 || !data) {
    vips_error_clear();
    return {};
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(bytes, bytes + length);
}

// Opens exactly the file named: the library's own opening would take a name
// ending in ']' as the name before it followed by options. Not blocking, so
// that a named pipe cannot hold the program up before it is refused.
int OpenForReading(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

bool ReadAt(int descriptor, uint8_t* to, size_t size, off_t at) {
  while (size > 0) {
    const ssize_t n = pread(descriptor, to, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;  // the file shrank under us
    if (n <= 0) return false;
    to += n;
    size -= static_cast<size_t>(n);
    at += n;
  }
  return true;
}

// Up to `size` bytes, fewer only at the end of the data; -1 on a failure.
ssize_t ReadUpTo(int descriptor, uint8_t* to, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = read(descriptor, to + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// libpng stops at the last row and never looks for the end chunk, so a PNG
// file cut off after its pixels would pass as whole: its end is checked here,
// in the file's tail, where some writers leave bytes after the end chunk.
constexpr size_t kPngTail = 64 * 1024;

bool PngTailHoldsEnd(const uint8_t* tail, size_t size) {
  static constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  return std::search(tail, tail + size, std::begin(kEnd), std::end(kEnd)) != tail + size;
}

bool PngFileEndsWhole(int descriptor, off_t size) {
  std::vector<uint8_t> tail(static_cast<size_t>(std::min(size, static_cast<off_t>(kPngTail))));
  return ReadAt(descriptor, tail.data(), tail.size(), size - static_cast<off_t>(tail.size())) &&
         PngTailHoldsEnd(tail.data(), tail.size());
}

// Turns anything that is not 8- or 16-bit grey or RGB into 8-bit sRGB (or
// grey): CMYK through its own profile or a generic one, Lab and friends
// through the library's colour maths, other sample types by clipping.
bool ToGreyOrRgb(CVipsImage& image, std::string& error) {
  VipsImage* in = image.get();
  const VipsInterpretation kind = vips_image_get_interpretation(in);
  VipsImage* out = nullptr;
  if (kind == VIPS_INTERPRETATION_CMYK) {
    if (vips_icc_transform(in, &out, "srgb", "input_profile", "cmyk", "embedded", TRUE, "depth",
                           8, nullptr) != 0) {
      error = TakeLibraryError();
      return false;
    }
    image.reset(out);
    return true;
  }
  const VipsBandFormat format = vips_image_get_format(in);
  const bool plain = kind == VIPS_INTERPRETATION_B_W || kind == VIPS_INTERPRETATION_GREY16 ||
                     kind == VIPS_INTERPRETATION_sRGB || kind == VIPS_INTERPRETATION_RGB16 ||
                     kind == VIPS_INTERPRETATION_MULTIBAND;
  if (plain && (format == VIPS_FORMAT_UCHAR || format == VIPS_FORMAT_USHORT)) return true;
  if (!plain && vips_colourspace_issupported(in)) {
    const VipsInterpretation target =
        in->Bands <= 2 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
    if (vips_colourspace(in, &out, target, nullptr) != 0) {
      error = TakeLibraryError();
      return false;
    }
    image.reset(out);
    in = out;
  }
  const VipsBandFormat now = vips_image_get_format(in);
  if (now != VIPS_FORMAT_UCHAR && now != VIPS_FORMAT_USHORT) {
    if (vips_cast_uchar(in, &out, nullptr) != 0) {
      error = TakeLibraryError();
      return false;
    }
    image.reset(out);
  }
  return true;
}

// 16-bit samples to the nearest 8-bit value: round(v / 257), exactly.
inline uint8_t NearestEightBit(uint16_t value) {
  return static_cast<uint8_t>((static_cast<uint32_t>(value) * 255u + 32895u) >> 16);
}

// Pulls the pixels top to bottom a band of rows at a time into `bytes`. The
// whole picture is reserved as address space only, and pages are touched as
// decoded rows arrive, so a header that promises more than the file holds
// costs no memory.
bool PullRows(VipsImage* image, int channels, std::vector<uint8_t>& bytes, std::string& error) {
  const int width = image->Xsize;
  const int height = image->Ysize;
  const bool sixteen = vips_image_get_format(image) == VIPS_FORMAT_USHORT;
  const int bands = image->Bands;
  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(channels);
  bytes.reserve(rowBytes * static_cast<size_t>(height));
  // Only marks the range: pages still come in band by band below.
  AdviseHugePages(bytes.data(), bytes.capacity());
  std::unique_ptr<VipsRegion, CUnref> region(vips_region_new(image));
  constexpr int kBandRows = 64;
  for (int top = 0; top < height; top += kBandRows) {
    const int rows = std::min(kBandRows, height - top);
    VipsRect rect{0, top, width, rows};
    if (vips_region_prepare(region.get(), &rect) != 0) {
      error = TakeLibraryError();
      return false;
    }
    // Stopped at the first band past the data, before rows of nothing pile up.
    if (DataEndedEarly()) {
      error = "the data ends before the " + std::to_string(height) + " rows its header declares";
      return false;
    }
    const size_t start = bytes.size();
    PrefaultForWriting(bytes.data() + start, rowBytes * static_cast<size_t>(rows));
    bytes.resize(start + rowBytes * static_cast<size_t>(rows));
    uint8_t* to = bytes.data() + start;
    for (int y = top; y < top + rows; ++y) {
      const VipsPel* from = VIPS_REGION_ADDR(region.get(), 0, y);
      if (!sixteen && bands == channels) {
        std::memcpy(to, from, rowBytes);
        to += rowBytes;
        continue;
      }
      for (int x = 0; x < width; ++x) {
        for (int c = 0; c < channels; ++c) {
          const size_t at = static_cast<size_t>(x) * static_cast<size_t>(bands) +
                            static_cast<size_t>(c);
          *to++ = sixteen ? NearestEightBit(reinterpret_cast<const uint16_t*>(from)[at]) : from[at];
        }
      }
    }
  }
  return true;
}

bool RefuseOversized(const std::string& name, int width, int height, std::string& error) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width > kMaxPictureSide || height > kMaxPictureSide) {
    error = name + " is " + size + "; the largest side the filter takes is " +
            std::to_string(kMaxPictureSide);
    return true;
  }
  const uint64_t need = EstimatedPeakBytes(width, height);
  const uint64_t have = MemoryForPictures();
  if (need > have) {
    error = name + " is " + size + "; working on it would need about " + HumanBytes(need) +
            " of memory, and " + HumanBytes(have) + " is available to it";
    return true;
  }
  return false;
}

std::string NotReadable(const std::string& name) {
  return name + " is not a picture this program can read (it reads " + kReadFormats + ")";
}

// Loads through `loader` alone and pulls the pixels, upright, in 8 bits.
// `bytesOfFile` reads the file, for what the library does not tell.
bool Decode(const char* loader, VipsSource* source, const FileBytesReader& bytesOfFile,
            const std::string& name, CPicture& picture, std::string& error) {
  const std::string damaged = name + " is a damaged or truncated picture (";
  VipsImage* loaded = nullptr;
  if (vips_call(loader, source, &loaded, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                VIPS_FAIL_ON_ERROR, nullptr) != 0) {
    if (loaded) g_object_unref(loaded);
    error = damaged + TakeLibraryError() + ")";
    return false;
  }
  CVipsImage image(loaded);
  // Only the header has been read so far.
  if (RefuseOversized(name, image->Xsize, image->Ysize, error)) return false;
  const int orientation = vips_image_get_orientation(image.get());
  std::string reason;
  if (!ToGreyOrRgb(image, reason)) {
    error = name + " cannot be turned into RGB (" + reason + ")";
    return false;
  }
  const int channels = std::min(image->Bands, 4);
  std::vector<uint8_t> bytes;
  if (!PullRows(image.get(), channels, bytes, reason)) {
    error = damaged + reason + ")";
    return false;
  }
  picture.width = image->Xsize;
  picture.height = image->Ysize;
  picture.channels = channels;
  picture.bytes = std::move(bytes);
  picture.metadata.icc = BlobOf(image.get(), VIPS_META_ICC_NAME);
  picture.metadata.exif = BlobOf(image.get(), VIPS_META_EXIF_NAME);
  picture.metadata.xmp = BlobOf(image.get(), VIPS_META_XMP_NAME);
  // The library puts a resolution found in EXIF in this field as well.
  if (HeaderStatesResolution(loader, bytesOfFile) ||
      vips_image_get_typeof(image.get(), "exif-ifd0-XResolution") != 0) {
    picture.metadata.xResolution = image->Xres;
    picture.metadata.yResolution = image->Yres;
  }
  ApplyOrientation(picture, orientation);
  return true;
}

}  // namespace

bool IsPictureFile(const std::string& path) {
  const CFileDescriptor file(OpenForReading(path));
  struct stat info {};
  if (file.Get() < 0 || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  std::vector<uint8_t> prefix(static_cast<size_t>(std::min<off_t>(info.st_size, kSniffBytes)));
  return ReadAt(file.Get(), prefix.data(), prefix.size(), 0) &&
         FindPictureLoader(prefix.data(), prefix.size()) != nullptr;
}

bool ReadPicture(const std::string& path, CPicture& picture, std::string& error) {
  if (path == "-") return ReadPictureStream(STDIN_FILENO, "standard input", picture, error);
  picture = CPicture();
  ForgetLibraryComplaints();
  const std::string name = Quoted(path);
  const CFileDescriptor file(OpenForReading(path));
  struct stat info {};
  if (file.Get() < 0 || fstat(file.Get(), &info) != 0) {
    error = "cannot read " + name + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "cannot read " + name + ": not a regular file";
    return false;
  }
  std::vector<uint8_t> prefix(static_cast<size_t>(std::min<off_t>(info.st_size, kSniffBytes)));
  if (!ReadAt(file.Get(), prefix.data(), prefix.size(), 0)) {
    error = "cannot read " + name + ": " + std::strerror(errno);
    return false;
  }
  const char* loader = FindPictureLoader(prefix.data(), prefix.size());
  if (!loader) {
    error = NotReadable(name);
    return false;
  }
  if (std::strcmp(loader, "pngload_source") == 0 && !PngFileEndsWhole(file.Get(), info.st_size)) {
    error = name + " is a damaged or truncated picture (the file ends before its end chunk)";
    return false;
  }
  // The source holds a descriptor of its own.
  CVipsSource source(vips_source_new_from_descriptor(file.Get()));
  if (!source) {
    error = "cannot read " + name + ": " + TakeLibraryError();
    return false;
  }
  const int descriptor = file.Get();
  const FileBytesReader bytesOfFile = [descriptor](uint64_t offset, uint8_t* to, size_t size) {
    return offset <= static_cast<uint64_t>(std::numeric_limits<off_t>::max()) &&
           ReadAt(descriptor, to, size, static_cast<off_t>(offset));
  };
  return Decode(loader, source.get(), bytesOfFile, name, picture, error);
}

bool ReadPictureStream(int descriptor, const std::string& name, CPicture& picture,
                       std::string& error) {
  picture = CPicture();
  ForgetLibraryComplaints();
  // The whole stream is held, as a file's bytes are there to seek in: some
  // decoders abort the process on a stream that cannot go back. One byte
  // past the limit tells a stream that goes on beyond it.
  const uint64_t limit = MemoryForPictures();
  std::vector<uint8_t> bytes;
  constexpr size_t kChunk = size_t{1} << 20;
  for (;;) {
    const size_t room = static_cast<size_t>(std::min<uint64_t>(kChunk, limit + 1 - bytes.size()));
    const size_t start = bytes.size();
    bytes.resize(start + room);
    const ssize_t got = ReadUpTo(descriptor, bytes.data() + start, room);
    if (got < 0) {
      error = "cannot read " + name + ": " + std::strerror(errno);
      return false;
    }
    bytes.resize(start + static_cast<size_t>(got));
    if (bytes.size() > limit) {
      error = name + " goes on past " + HumanBytes(limit) +
              ", more than the memory a run may use; it was not read any further";
      return false;
    }
    if (static_cast<size_t>(got) < room) break;
    // Nothing past the sniffed prefix is read for what no loader here takes.
    if (start == 0 && !FindPictureLoader(bytes.data(), std::min(bytes.size(), kSniffBytes))) break;
  }
  const char* loader = FindPictureLoader(bytes.data(), std::min(bytes.size(), kSniffBytes));
  if (!loader) {
    error = NotReadable(name);
    return false;
  }
  const size_t tail = std::min(bytes.size(), kPngTail);
  if (std::strcmp(loader, "pngload_source") == 0 &&
      !PngTailHoldsEnd(bytes.data() + bytes.size() - tail, tail)) {
    error = name + " is a damaged or truncated picture (the data ends before its end chunk)";
    return false;
  }
  CVipsSource source(vips_source_new_from_memory(bytes.data(), bytes.size()));
  if (!source) {
    error = "cannot read " + name + ": " + TakeLibraryError();
    return false;
  }
  const FileBytesReader bytesOfStream = [&bytes](uint64_t offset, uint8_t* to, size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    std::memcpy(to, bytes.data() + offset, size);
    return true;
  };
  return Decode(loader, source.get(), bytesOfStream, name, picture, error);
}
