// Picture files through the host's reader, as a file and as a stream read
// once (standard input's way): only the formats it promises, recognised by
// content, with the size limits in force; and their EXIF through what a
// written file makes of it.
#include <fcntl.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "tools/kelvane/PictureReader.h"
#include "tools/kelvane/PictureLibrary.h"
#include "tools/kelvane/PictureLoaders.h"
#include "tools/kelvane/UprightExif.h"

namespace {

// A header may honestly promise a picture of hundreds of megapixels that the
// machine could hold; decoding it is no finding, only slow, so such inputs
// stop after the header. Sides beyond the filter's limit still go through:
// their refusal is part of what is tested.
constexpr int64_t kMaxFuzzPixels = 4 << 20;

bool PromisesHugePicture(const uint8_t* data, size_t size) {
  const char* loader = FindPictureLoader(data, std::min(size, kSniffBytes));
  if (!loader) return false;
  VipsSource* source = vips_source_new_from_memory(data, size);
  VipsImage* header = nullptr;
  if (source) vips_call(loader, source, &header, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
  if (source) g_object_unref(source);
  vips_error_clear();
  if (!header) return false;
  const int64_t width = header->Xsize;
  const int64_t height = header->Ysize;
  g_object_unref(header);
  return width <= kMaxPictureSide && height <= kMaxPictureSide && width * height > kMaxFuzzPixels;
}

// The promised formats' loaders, named here apart from the reader's own list:
// a picture read must be one of them, whatever the other loaders make of it.
constexpr const char* kPromisedLoaders[] = {
    "jpegload_source", "pngload_source", "tiffload_source", "webpload_source",
    "heifload_source", "gifload_source", "jxlload_source", "ppmload_source"};

// Asked of the whole input, as the library would ask it.
bool IsOfAPromisedFormat(const uint8_t* data, size_t size) {
  VipsSource* source = vips_source_new_from_memory(data, size);
  if (!source) return false;
  bool promised = false;
  for (const char* loader : kPromisedLoaders) {
    if (!promised && vips_type_find("VipsOperation", loader)) {
      promised = vips_foreign_is_a_source(loader, source);
      vips_source_rewind(source);
    }
  }
  g_object_unref(source);
  vips_error_clear();
  return promised;
}

void CheckRead(const CPicture& picture) {
  Require(picture.width > 0 && picture.height > 0 && picture.width <= kMaxPictureSide &&
              picture.height <= kMaxPictureSide,
          "a picture read has a size within the filter's limits");
  Require(picture.channels >= 1 && picture.channels <= 4, "a picture read has 1 to 4 channels");
  Require(picture.bytes.size() == static_cast<size_t>(picture.width) *
                                      static_cast<size_t>(picture.height) *
                                      static_cast<size_t>(picture.channels),
          "a picture read holds exactly its pixels");
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
  if (PromisesHugePicture(data, size)) return 0;
  CPicture picture;
  std::string error;
  const bool read = ReadPicture(file.Path(), picture, error);

  // The same bytes as a stream, read once from the start.
  const int stream = open(file.Path().c_str(), O_RDONLY | O_CLOEXEC);
  Require(stream >= 0, "the memory file opens again");
  CPicture streamed;
  std::string streamError;
  const bool streamRead = ReadPictureStream(stream, "the stream", streamed, streamError);
  close(stream);

  ExpectAccepted(read && streamRead, (read ? streamError : error).c_str());
  if (read || streamRead) {
    Require(IsOfAPromisedFormat(data, size), "a picture read is of a promised format");
  }
  if (read && streamRead) {
    Require(picture.width == streamed.width && picture.height == streamed.height &&
                picture.channels == streamed.channels && picture.bytes == streamed.bytes,
            "a file and a stream of the same bytes give the same picture");
  }
  if (streamRead) CheckRead(streamed);
  if (!streamRead) Require(!streamError.empty(), "a refused stream says why");
  if (read) {
    CheckRead(picture);
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
