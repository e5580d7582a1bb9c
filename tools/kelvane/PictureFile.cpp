#include "PictureFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/AtomicFile.h"
#include "platform/FileDescriptor.h"
#include "platform/VirtualMemory.h"
#include "tools/kelvane/Orientation.h"
#include "tools/kelvane/PictureLimits.h"
#include "tools/kelvane/PictureLoaders.h"
#include "tools/kelvane/PngEncoder.h"
#include "tools/kelvane/UprightExif.h"

namespace {

struct CUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
using CImage = std::unique_ptr<VipsImage, CUnref>;
using CSource = std::unique_ptr<VipsSource, CUnref>;
using CTarget = std::unique_ptr<VipsTarget, CUnref>;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Some decoders give up with only a warning to say why; the last one is
// kept for the message. Warnings may come from the library's threads.
std::mutex g_warningLock;
std::string g_lastWarning;
// The JPEG decoder meets the end of a picture's data before its last row
// with only a complaint left in the error buffer, and goes on to fill the
// rest grey at the size the header claims, whatever the library is told to
// fail on. Other decoders may say the same in a warning.
std::atomic<bool> g_dataEndedEarly{false};

bool SaysDataEndedEarly(const char* message) {
  static constexpr std::string_view kPremature = "premature end";
  const std::string_view text(message);
  return std::search(text.begin(), text.end(), kPremature.begin(), kPremature.end(),
                     [](char a, char b) {
                       return std::tolower(static_cast<unsigned char>(a)) == b;
                     }) != text.end();
}

bool DataEndedEarly() {
  const char* complaints = vips_error_buffer();
  return g_dataEndedEarly || (complaints && SaysDataEndedEarly(complaints));
}

void KeepWarning(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
  if (message && SaysDataEndedEarly(message)) g_dataEndedEarly = true;
  const std::lock_guard<std::mutex> hold(g_warningLock);
  g_lastWarning = message ? message : "";
}

// The library's first complaint, on one line; the buffer is emptied so that
// the next failure is not blamed on this one.
std::string TakeLibraryError() {
  std::string text = vips_error_buffer();
  vips_error_clear();
  {
    const std::lock_guard<std::mutex> hold(g_warningLock);
    if (text.empty()) text = g_lastWarning;
    g_lastWarning.clear();
  }
  // A failed system call is said on the line after the complaint; its cause
  // ("No space left on device") is what the user can act on.
  static constexpr std::string_view kSystem = "\nunix error: ";
  const size_t system = text.find(kSystem);
  std::string cause;
  if (system != std::string::npos) {
    const size_t start = system + kSystem.size();
    cause = text.substr(start, text.find('\n', start) - start);
  }
  const size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  if (!cause.empty()) text += " (" + cause + ")";
  return text.empty() ? std::string("unknown reason") : text;
}

// Each read or write starts with a clean slate.
void ForgetLibraryComplaints() {
  vips_error_clear();
  g_dataEndedEarly = false;
  const std::lock_guard<std::mutex> hold(g_warningLock);
  g_lastWarning.clear();
}

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
bool ToGreyOrRgb(CImage& image, std::string& error) {
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
bool Decode(const char* loader, VipsSource* source, const std::string& name, CPicture& picture,
            std::string& error) {
  const std::string damaged = name + " is a damaged or truncated picture (";
  VipsImage* loaded = nullptr;
  if (vips_call(loader, source, &loaded, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                VIPS_FAIL_ON_ERROR, nullptr) != 0) {
    if (loaded) g_object_unref(loaded);
    error = damaged + TakeLibraryError() + ")";
    return false;
  }
  CImage image(loaded);
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
  ApplyOrientation(picture, orientation);
  return true;
}

// Threads a picture is read and written with; 0 one per core.
int g_pictureThreads = 0;

struct COutputFormat {
  const char* ending;
  bool alpha;        // keeps transparency
  const char* saver; // the library's operation; none for PNG, which is our own
  int heifCompression;
};

constexpr COutputFormat kOutputFormats[] = {
    {"png", true, nullptr, 0},
    {"tif", true, "tiffsave_target", 0},
    {"tiff", true, "tiffsave_target", 0},
    {"webp", true, "webpsave_target", 0},
    {"avif", true, "heifsave_target", VIPS_FOREIGN_HEIF_COMPRESSION_AV1},
    {"heic", true, "heifsave_target", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC},
    {"jxl", true, "jxlsave_target", 0},
    {"jpg", false, "jpegsave_target", 0},
    {"jpeg", false, "jpegsave_target", 0},
};

const COutputFormat* FindOutputFormat(const std::string& ending) {
  for (const COutputFormat& format : kOutputFormats) {
    if (ending == format.ending) return &format;
  }
  return nullptr;
}

std::string WrittenEndings() {
  std::string list;
  for (const COutputFormat& format : kOutputFormats) {
    if (!format.alpha) continue;
    list += (list.empty() ? "." : ", .") + std::string(format.ending);
  }
  return list;
}

int Save(VipsImage* image, VipsTarget* target, const COutputFormat& format) {
  const std::string ending = format.ending;
  if (ending == "tif" || ending == "tiff") {
    return vips_tiffsave_target(image, target, "compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE,
                                "predictor", VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL, nullptr);
  }
  if (ending == "webp") return vips_webpsave_target(image, target, "lossless", TRUE, nullptr);
  if (ending == "avif" || ending == "heic") {
    // Lossless coding at full chroma: only the colour-space round trip
    // (a level at most) remains between the cut-out and the file.
    return vips_heifsave_target(image, target, "compression", format.heifCompression, "lossless",
                                TRUE, "subsample_mode", VIPS_FOREIGN_SUBSAMPLE_OFF, nullptr);
  }
  if (ending == "jxl") return vips_jxlsave_target(image, target, "lossless", TRUE, nullptr);
  return vips_jpegsave_target(image, target, "Q", 92, nullptr);
}

// Savers that exist may still lack an encoder (AV1, HEVC): one tiny picture
// tells, once per format.
bool CanSave(const COutputFormat& format) {
  if (!format.saver) return true;
  if (!vips_type_find("VipsOperation", format.saver)) return false;
  if (format.heifCompression == 0) return true;
  uint8_t pixels[16 * 16 * 4] = {};
  CImage image(vips_image_new_from_memory(pixels, sizeof pixels, 16, 16, 4, VIPS_FORMAT_UCHAR));
  CTarget target(vips_target_new_to_memory());
  const bool saved = image && target && Save(image.get(), target.get(), format) == 0;
  vips_error_clear();
  return saved;
}

// A profile must describe the pixels it travels with: a grey profile on RGB
// pixels (a grey photo becomes an RGB layer) would be wrong, so it is left out.
bool ProfileFits(const std::vector<uint8_t>& icc, int channels) {
  if (icc.size() < 20) return false;
  const std::string space(reinterpret_cast<const char*>(icc.data()) + 16, 4);
  return channels <= 2 ? space == "GRAY" : space == "RGB ";
}

// What the file says beside the pixels: the profile where it fits them,
// EXIF and XMP unless stripped.
CPictureMetadata WrittenMetadata(const CPicture& picture, bool strip) {
  const CPictureMetadata& metadata = picture.metadata;
  CPictureMetadata written;
  if (ProfileFits(metadata.icc, picture.channels)) written.icc = metadata.icc;
  if (!strip) {
    written.exif = metadata.exif;
    written.xmp = metadata.xmp;
  }
  return written;
}

void SetBlob(VipsImage* image, const char* name, const std::vector<uint8_t>& blob) {
  if (!blob.empty()) vips_image_set_blob_copy(image, name, blob.data(), blob.size());
}

bool WritePng(const CPicture& picture, bool strip, int descriptor, std::string& reason) {
  CPictureMetadata metadata = WrittenMetadata(picture, strip);
  // The pixels are upright now, and the EXIF written says so.
  if (!metadata.exif.empty()) {
    metadata.exif = UprightExif(metadata.exif, picture.width, picture.height);
  }
  const bool written = EncodePng(picture, metadata,
                                 [descriptor](const uint8_t* data, size_t size) {
                                   return WriteAll(descriptor, data, size);
                                 },
                                 static_cast<unsigned>(g_pictureThreads));
  if (!written) reason = std::strerror(errno);
  return written;
}

bool WriteThroughLibrary(const CPicture& picture, bool strip, int descriptor,
                         const COutputFormat& format, std::string& reason) {
  CImage wrapped(vips_image_new_from_memory(picture.bytes.data(), picture.bytes.size(),
                                            picture.width, picture.height, picture.channels,
                                            VIPS_FORMAT_UCHAR));
  VipsImage* described = nullptr;
  if (!wrapped ||
      vips_copy(wrapped.get(), &described, "interpretation",
                picture.channels <= 2 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB,
                nullptr) != 0) {
    reason = TakeLibraryError();
    return false;
  }
  CImage image(described);
  const CPictureMetadata metadata = WrittenMetadata(picture, strip);
  SetBlob(image.get(), VIPS_META_ICC_NAME, metadata.icc);
  SetBlob(image.get(), VIPS_META_EXIF_NAME, metadata.exif);
  SetBlob(image.get(), VIPS_META_XMP_NAME, metadata.xmp);
  // The library brings the EXIF up to date itself when it saves.
  vips_image_set_int(image.get(), VIPS_META_ORIENTATION, 1);

  CTarget target(vips_target_new_to_descriptor(descriptor));
  if (!target || Save(image.get(), target.get(), format) != 0 ||
      vips_target_end(target.get()) != 0) {
    reason = TakeLibraryError();
    return false;
  }
  return true;
}

bool WriteToDescriptor(const CPicture& picture, bool strip, int descriptor,
                       const COutputFormat& format, std::string& reason) {
  if (!format.saver) return WritePng(picture, strip, descriptor, reason);
  return WriteThroughLibrary(picture, strip, descriptor, format, reason);
}

}  // namespace

bool StartPictureLibrary(const char* programName, std::string& error) {
  if (vips_init(programName) != 0) {
    error = "cannot start libvips: " + TakeLibraryError();
    return false;
  }
  // Each picture is read once; a cache would only hold memory and files open.
  vips_cache_set_max(0);
  // A failure is reported once, as the error of the read or write; the
  // library's running commentary on it would only repeat it in pieces.
  g_log_set_handler("VIPS", G_LOG_LEVEL_WARNING, KeepWarning, nullptr);
  RestrictPictureLoaders();
  // Blocking the untrusted operations takes the JPEG XL saver with them; it
  // only writes pixels of ours.
  vips_operation_block_set("VipsForeignSaveJxl", FALSE);
  return true;
}

std::string PictureLibraryVersion() { return vips_version_string(); }

void SetPictureThreads(int threads) {
  g_pictureThreads = std::max(threads, 0);
  if (threads > 0) vips_concurrency_set(threads);
}

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
  CSource source(vips_source_new_from_descriptor(file.Get()));
  if (!source) {
    error = "cannot read " + name + ": " + TakeLibraryError();
    return false;
  }
  return Decode(loader, source.get(), name, picture, error);
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
  CSource source(vips_source_new_from_memory(bytes.data(), bytes.size()));
  if (!source) {
    error = "cannot read " + name + ": " + TakeLibraryError();
    return false;
  }
  return Decode(loader, source.get(), name, picture, error);
}

bool CheckOutputFormat(const std::string& path, const std::string& format, bool needsAlpha,
                       std::string& error) {
  const std::string name = path == "-" ? std::string("standard output") : Quoted(path);
  const COutputFormat* found = FindOutputFormat(format);
  if (format.empty()) {
    error = "cannot write " + name + ": the name has no ending to say its format (" +
            WrittenEndings() + ")";
    return false;
  }
  if (!found) {
    error = "cannot write " + name + ": ." + format + " is not a format this program writes (" +
            WrittenEndings() + "; .jpg and .jpeg with --flatten or --mask)";
    return false;
  }
  if (needsAlpha && !found->alpha) {
    error = "cannot write " + name + ": ." + format +
            " has no transparency; add --flatten COLOUR to composite the cut-out over a colour, "
            "or choose " + WrittenEndings();
    return false;
  }
  if (!CanSave(*found)) {
    error = "cannot write " + name + ": this build of libvips does not save ." + format +
            " files";
    return false;
  }
  return true;
}

bool WritePicture(const std::string& path, const std::string& format, const CPicture& picture,
                  bool strip, bool replace, std::string& error) {
  ForgetLibraryComplaints();
  const bool standard = path == "-";
  const std::string cannot =
      "cannot write " + (standard ? std::string("standard output") : Quoted(path)) + ": ";
  const COutputFormat* found = FindOutputFormat(format);
  if (!found) {
    error = cannot + "unknown format ." + format;
    return false;
  }
  if (picture.width <= 0 || picture.height <= 0) {
    error = cannot + "the image is empty";
    return false;
  }
  std::string reason;
  if (standard) {
    if (!WriteToDescriptor(picture, strip, STDOUT_FILENO, *found, reason)) {
      error = cannot + reason;
      return false;
    }
    return true;
  }
  CAtomicFile file;
  int failure = file.Open(path, 0666);
  if (failure == 0 && !WriteToDescriptor(picture, strip, file.Descriptor(), *found, reason)) {
    error = cannot + reason;
    return false;
  }
  if (failure == 0) failure = file.Commit(replace);
  if (failure != 0) {
    error = cannot + std::strerror(failure);
    return false;
  }
  return true;
}
