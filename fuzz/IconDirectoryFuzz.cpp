// Icon and cursor files: their directory of pictures, then each PNG picture
// decoded as the editor decodes its cursors and button pictures.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "imagecore/CoreImage.h"
#include "imagecore/PngResource.h"
#include "platform/ResourceFormats.h"

namespace {

// The decoder sizes its buffers from the PNG header before it reads a row,
// so a header promising a huge picture asks for that much memory at once
// (a reported finding). Such pictures are passed over until it is fixed, so
// the runs keep looking for other faults.
constexpr uint64_t kMaxDecodedPixels = 16 << 20;

bool PromisesHugePicture(std::span<const uint8_t> png) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 24 || !std::equal(std::begin(kSignature), std::end(kSignature), png.begin())) return false;
  const auto be32 = [&](size_t at) {
    return uint64_t{png[at]} << 24 | uint64_t{png[at + 1]} << 16 | uint64_t{png[at + 2]} << 8 | png[at + 3];
  };
  return be32(16) * be32(20) > kMaxDecodedPixels;
}

bool Pictures(std::span<const uint8_t> bytes, bool cursor) {
  std::vector<CIconPicture> pictures;
  if (!ParseIconDirectory(bytes, cursor, pictures)) return false;
  bool decoded = false;
  for (const CIconPicture& picture : pictures) {
    Require(picture.png.data() >= bytes.data() &&
                picture.png.data() + picture.png.size() <= bytes.data() + bytes.size(),
            "a picture lies within its file");
    if (PromisesHugePicture(picture.png)) continue;
    CCoreImage image;
    if (DecodePngPicture(picture.png, image)) {
      Require(image.Width() > 0 && image.Height() > 0, "a decoded picture has pixels");
      decoded = true;
    }
  }
  return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const bool icon = Pictures(bytes, false);
  const bool cursor = Pictures(bytes, true);
  ExpectAccepted(icon || cursor, "a seed holds a picture that decodes");
  return 0;
}
