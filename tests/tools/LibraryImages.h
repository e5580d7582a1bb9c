// Pictures held by the picture library in the tests: owned handles and the
// metadata they carry.
#pragma once

#include <vips/vips.h>

#include <memory>
#include <string>

struct CUnrefImage {
  void operator()(VipsImage* image) const {
    if (image) g_object_unref(image);
  }
};
using CImage = std::unique_ptr<VipsImage, CUnrefImage>;

// The named blob (profile, EXIF, XMP) as bytes; empty when there is none.
inline std::string BlobText(VipsImage* image, const char* name) {
  const void* data = nullptr;
  size_t length = 0;
  if (!vips_image_get_typeof(image, name) || vips_image_get_blob(image, name, &data, &length)) {
    return {};
  }
  return std::string(static_cast<const char*>(data), length);
}
