#include "PictureLoaders.h"

#include <vips/vips.h>

#include <cstring>
#include <memory>

namespace {

struct CLoader {
  const char* operation;  // what reads the picture
  const char* type;       // its class, by which the library blocks it
};

// In the library's own order of preference, so that a picture goes to the
// loader it went to when the library chose among all of them.
constexpr CLoader kLoaders[] = {
    {"pngload_source", "VipsForeignLoadPngSource"},
    {"webpload_source", "VipsForeignLoadWebpSource"},
    {"ppmload_source", "VipsForeignLoadPpmSource"},
    {"jpegload_source", "VipsForeignLoadJpegSource"},
    {"tiffload_source", "VipsForeignLoadTiffSource"},
    {"gifload_source", "VipsForeignLoadNsgifSource"},
    {"heifload_source", "VipsForeignLoadHeifSource"},
    {"jxlload_source", "VipsForeignLoadJxlSource"},
};

struct CUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};

// The library's own TIFF check opens the first directory, which may lie
// anywhere in the file, past any prefix: the signature alone says TIFF
// (classic or big, either byte order).
bool HasTiffSignature(const uint8_t* p, size_t size) {
  return size >= 4 && ((p[0] == 'I' && p[1] == 'I' && (p[2] == 42 || p[2] == 43) && p[3] == 0) ||
                       (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && (p[3] == 42 || p[3] == 43)));
}

}  // namespace

void RestrictPictureLoaders() {
  vips_block_untrusted_set(TRUE);
  // The library counts the PNM and JPEG XL decoders among the untrusted
  // ones, yet they only read their own pixels: those two are let through.
  for (const CLoader& loader : kLoaders) vips_operation_block_set(loader.type, FALSE);
}

const char* FindPictureLoader(const uint8_t* prefix, size_t size) {
  if (!prefix || size == 0) return nullptr;
  // The loaders sniff a source made of the prefix alone: however much the
  // input holds, no more than that is looked at to choose.
  std::unique_ptr<VipsSource, CUnref> source(vips_source_new_from_memory(prefix, size));
  if (!source) {
    vips_error_clear();
    return nullptr;
  }
  for (const CLoader& loader : kLoaders) {
    // A build without one of the decoders simply reads one format less.
    if (!vips_type_find("VipsOperation", loader.operation)) continue;
    const bool ours = std::strcmp(loader.operation, "tiffload_source") == 0
                          ? HasTiffSignature(prefix, size)
                          : vips_foreign_is_a_source(loader.operation, source.get());
    if (vips_source_rewind(source.get()) != 0) break;
    if (ours) return loader.operation;
  }
  vips_error_clear();
  return nullptr;
}
