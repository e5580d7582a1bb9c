#include "editor/model/CompactImage.h"

#include "engine/ImageChannels.h"
#include "imagecore/RowLease.h"

std::shared_ptr<const CCompactImage> CompactAgainst(const CCoreImage& image,
                                                    const CCoreImage& layer) {
  if (!image.HasStorage() || image.ViewFormat() != keFormatBGRA ||
      layer.ViewFormat() != keFormatBGRA || image.Width() != layer.Width() ||
      image.Height() != layer.Height()) {
    return nullptr;
  }
  // Rows are read through shares, so neither image's view changes.
  CCoreImage pixels(image);
  CCoreImage colours(layer);
  const int width = pixels.Width();
  const size_t mostChanged = static_cast<size_t>(width) * pixels.Height() / 8;
  auto compact = std::make_shared<CCompactImage>();
  for (int y = 0; y < pixels.Height(); ++y) {
    const CRowLease row(pixels, y);
    const CRowLease reference(colours, y);
    const uint8_t* p = row.Data();
    const uint8_t* r = reference.Data();
    for (int x = 0; x < width; ++x, p += 4, r += 4) {
      if (p[0] == r[0] && p[1] == r[1] && p[2] == r[2]) continue;
      if (compact->changed.size() == mostChanged) return nullptr;
      compact->changed.push_back(static_cast<uint32_t>(y) * static_cast<uint32_t>(width) +
                                 static_cast<uint32_t>(x));
      compact->colours.insert(compact->colours.end(), p, p + 3);
    }
  }
  compact->changed.shrink_to_fit();
  compact->colours.shrink_to_fit();
  compact->alpha = AlphaPlane(pixels);
  return compact;
}

void ExpandOnto(const CCompactImage& compact, const CCoreImage& layer, CCoreImage& image) {
  image.Reset();
  ThrowIfFailed(image.CopyFrom(layer));
  InsertAlpha(compact.alpha, image);
  const int width = image.Width();
  for (size_t i = 0; i < compact.changed.size(); ++i) {
    const int y = static_cast<int>(compact.changed[i] / static_cast<uint32_t>(width));
    const int x = static_cast<int>(compact.changed[i] % static_cast<uint32_t>(width));
    uint8_t* pixel = CRowLease(image, y, x, 1).Data();
    for (int c = 0; c < 3; ++c) pixel[c] = compact.colours[3 * i + static_cast<size_t>(c)];
  }
}
