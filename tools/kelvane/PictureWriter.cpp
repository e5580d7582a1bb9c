#include "PictureWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/AtomicFile.h"
#include "tools/kelvane/HostMessages.h"
#include "tools/kelvane/PictureLibrary.h"
#include "tools/kelvane/PngEncoder.h"
#include "tools/kelvane/UprightExif.h"

namespace {

// A library saver with the options we write that format with.
using SaveFunction = int (*)(VipsImage* image, VipsTarget* target);

int SaveTiff(VipsImage* image, VipsTarget* target) {
  return vips_tiffsave_target(image, target, "compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE,
                              "predictor", VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL, "resunit",
                              VIPS_FOREIGN_TIFF_RESUNIT_INCH, nullptr);
}

int SaveWebp(VipsImage* image, VipsTarget* target) {
  return vips_webpsave_target(image, target, "lossless", TRUE, nullptr);
}

// Lossless coding at full chroma: only the colour-space round trip (a level
// at most) remains between the cut-out and the file.
int SaveHeif(VipsImage* image, VipsTarget* target, VipsForeignHeifCompression compression) {
  return vips_heifsave_target(image, target, "compression", compression, "lossless", TRUE,
                              "subsample_mode", VIPS_FOREIGN_SUBSAMPLE_OFF, nullptr);
}

int SaveAvif(VipsImage* image, VipsTarget* target) {
  return SaveHeif(image, target, VIPS_FOREIGN_HEIF_COMPRESSION_AV1);
}

int SaveHeic(VipsImage* image, VipsTarget* target) {
  return SaveHeif(image, target, VIPS_FOREIGN_HEIF_COMPRESSION_HEVC);
}

int SaveJxl(VipsImage* image, VipsTarget* target) {
  return vips_jxlsave_target(image, target, "lossless", TRUE, nullptr);
}

int SaveJpeg(VipsImage* image, VipsTarget* target) {
  return vips_jpegsave_target(image, target, "Q", 92, nullptr);
}

struct COutputFormat {
  const char* ending;
  bool alpha;          // keeps transparency
  const char* saver;   // the library's operation; none for PNG, which is our own
  SaveFunction save;
  bool mayLackEncoder; // the saver exists in builds without its encoder
};

constexpr COutputFormat kOutputFormats[] = {
    {"png", true, nullptr, nullptr, false},
    {"tif", true, "tiffsave_target", SaveTiff, false},
    {"tiff", true, "tiffsave_target", SaveTiff, false},
    {"webp", true, "webpsave_target", SaveWebp, false},
    {"avif", true, "heifsave_target", SaveAvif, true},
    {"heic", true, "heifsave_target", SaveHeic, true},
    {"jxl", true, "jxlsave_target", SaveJxl, false},
    {"jpg", false, "jpegsave_target", SaveJpeg, false},
    {"jpeg", false, "jpegsave_target", SaveJpeg, false},
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

// One tiny picture tells whether a saver that exists has its encoder (AV1,
// HEVC).
bool CanSave(const COutputFormat& format) {
  if (!format.saver) return true;
  if (!vips_type_find("VipsOperation", format.saver)) return false;
  if (!format.mayLackEncoder) return true;
  uint8_t pixels[16 * 16 * 4] = {};
  CVipsImage image(vips_image_new_from_memory(pixels, sizeof pixels, 16, 16, 4, VIPS_FORMAT_UCHAR));
  CVipsTarget target(vips_target_new_to_memory());
  const bool saved = image && target && format.save(image.get(), target.get()) == 0;
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
  written.xResolution = metadata.xResolution;
  written.yResolution = metadata.yResolution;
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
                                 static_cast<unsigned>(PictureThreads()));
  if (!written) reason = std::strerror(errno);
  return written;
}

bool WriteThroughLibrary(const CPicture& picture, bool strip, int descriptor,
                         const COutputFormat& format, std::string& reason) {
  const CPictureMetadata metadata = WrittenMetadata(picture, strip);
  // These savers always state a resolution; where the input stated none,
  // the 72 dpi that readers assume when a file says nothing.
  constexpr double kAssumedResolution = 72 / 25.4;
  const bool stated = metadata.xResolution > 0 && metadata.yResolution > 0;
  CVipsImage wrapped(vips_image_new_from_memory(picture.bytes.data(), picture.bytes.size(),
                                            picture.width, picture.height, picture.channels,
                                            VIPS_FORMAT_UCHAR));
  VipsImage* described = nullptr;
  if (!wrapped ||
      vips_copy(wrapped.get(), &described, "interpretation",
                picture.channels <= 2 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB,
                "xres", stated ? metadata.xResolution : kAssumedResolution, "yres",
                stated ? metadata.yResolution : kAssumedResolution, nullptr) != 0) {
    reason = TakeLibraryError();
    return false;
  }
  CVipsImage image(described);
  SetBlob(image.get(), VIPS_META_ICC_NAME, metadata.icc);
  SetBlob(image.get(), VIPS_META_EXIF_NAME, metadata.exif);
  SetBlob(image.get(), VIPS_META_XMP_NAME, metadata.xmp);
  // The library brings the EXIF up to date itself when it saves.
  vips_image_set_int(image.get(), VIPS_META_ORIENTATION, 1);

  CVipsTarget target(vips_target_new_to_descriptor(descriptor));
  if (!target || format.save(image.get(), target.get()) != 0 ||
      vips_target_end(target.get()) != 0) {
    reason = TakeLibraryError();
    return false;
  }
  return true;
}

bool WriteToDescriptor(const CPicture& picture, bool strip, int descriptor,
                       const COutputFormat& format, std::string& reason) {
  if (!format.save) return WritePng(picture, strip, descriptor, reason);
  return WriteThroughLibrary(picture, strip, descriptor, format, reason);
}

}  // namespace

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
