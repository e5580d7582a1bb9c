#include "Orientation.h"

#include <cstring>
#include <utility>

void ApplyOrientation(CPicture& picture, int orientation) {
  if (orientation < 2 || orientation > 8 || picture.bytes.empty()) return;
  const int width = picture.width;    // as stored
  const int height = picture.height;
  const bool swapped = orientation >= 5;
  const int outWidth = swapped ? height : width;
  const int outHeight = swapped ? width : height;
  const size_t channels = static_cast<size_t>(picture.channels);
  std::vector<uint8_t> upright(picture.bytes.size());
  // For each pixel shown at (x, y), the stored pixel it comes from.
  auto source = [&](int x, int y) -> std::pair<int, int> {
    switch (orientation) {
      case 2: return {width - 1 - x, y};
      case 3: return {width - 1 - x, height - 1 - y};
      case 4: return {x, height - 1 - y};
      case 5: return {y, x};
      case 6: return {y, height - 1 - x};
      case 7: return {width - 1 - y, height - 1 - x};
      default: return {width - 1 - y, x};  // 8
    }
  };
  uint8_t* to = upright.data();
  for (int y = 0; y < outHeight; ++y) {
    for (int x = 0; x < outWidth; ++x, to += channels) {
      const auto [sx, sy] = source(x, y);
      const size_t from = (static_cast<size_t>(sy) * static_cast<size_t>(width) +
                           static_cast<size_t>(sx)) * channels;
      std::memcpy(to, picture.bytes.data() + from, channels);
    }
  }
  picture.bytes.swap(upright);
  picture.width = outWidth;
  picture.height = outHeight;
  if (swapped) std::swap(picture.metadata.xResolution, picture.metadata.yResolution);
}
