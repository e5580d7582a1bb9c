// Picture files through the host's reader: every format the picture
// library loads, recognised by content, with the size limits in force; and
// their EXIF through what a written file makes of it.
#include <vips/vips.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "tools/kelvane/PictureFile.h"
#include "tools/kelvane/UprightExif.h"

namespace {

// A header may honestly promise a picture of hundreds of megapixels that the
// machine could hold; decoding it is no finding, only slow, so such inputs
// stop after the header. Sides beyond the filter's limit still go through:
// their refusal is part of what is tested.
constexpr int64_t kMaxFuzzPixels = 4 << 20;

bool PromisesHugePicture(const std::string& path) {
  VipsImage* header = vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
  vips_error_clear();
  if (!header) return false;
  const int64_t width = header->Xsize;
  const int64_t height = header->Ysize;
  g_object_unref(header);
  return width <= kMaxPictureSide && height <= kMaxPictureSide && width * height > kMaxFuzzPixels;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  std::string error;
  if (!StartPictureLibrary(argc && *argc > 0 ? (*argv)[0] : "fuzz", error)) {
    Require(false, error.c_str());
  }
  // Decoding on one thread keeps runs repeatable and leaves the other core free.
  vips_concurrency_set(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMemoryFile file(data, size);
  Require(file.IsOpen(), "the input can be held in a memory file");
  if (PromisesHugePicture(file.Path())) return 0;
  CPicture picture;
  std::string error;
  const bool read = ReadPicture(file.Path(), picture, error);
  ExpectAccepted(read, error.c_str());
  if (read) {
    Require(picture.width > 0 && picture.height > 0 && picture.width <= kMaxPictureSide &&
                picture.height <= kMaxPictureSide,
            "a picture read has a size within the filter's limits");
    Require(picture.channels >= 1 && picture.channels <= 4, "a picture read has 1 to 4 channels");
    Require(picture.bytes.size() == static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) *
                                        static_cast<size_t>(picture.channels),
            "a picture read holds exactly its pixels");
    // The EXIF a written file would carry is read from the file's bytes.
    const std::vector<uint8_t>& exif = picture.metadata.exif;
    const std::vector<uint8_t> upright = UprightExif(exif, picture.width, picture.height);
    Require(upright.empty() || upright.size() == exif.size() || upright.size() + 6 == exif.size(),
            "an upright EXIF is the read one, changed in place");
  } else {
    Require(!error.empty(), "a refused picture says why");
  }
  return 0;
}
