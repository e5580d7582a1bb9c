// Icon and cursor files: their directory of pictures, then each PNG picture
// decoded as the editor decodes its cursors and button pictures.
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "imagecore/CoreImage.h"
#include "imagecore/PngResource.h"
#include "platform/ResourceFormats.h"

namespace {

bool Pictures(std::span<const uint8_t> bytes, bool cursor) {
  std::vector<CIconPicture> pictures;
  if (!ParseIconDirectory(bytes, cursor, pictures)) return false;
  bool decoded = false;
  for (const CIconPicture& picture : pictures) {
    Require(picture.png.data() >= bytes.data() &&
                picture.png.data() + picture.png.size() <= bytes.data() + bytes.size(),
            "a picture lies within its file");
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
