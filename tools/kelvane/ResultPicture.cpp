#include "ResultPicture.h"

#include "tools/kelvane/FileLayer.h"

#include <utility>

CPicture ResultPicture(CHostLayer&& layer, const CHostOptions& options,
                       CPictureMetadata metadata) {
  CPicture picture;
  picture.width = layer.width;
  picture.height = layer.height;
  picture.metadata = std::move(metadata);
  // An RGBA layer already is what the file takes.
  if (layer.planes == 4 && layer.imageMode != plugInModeGrayScale) {
    picture.bytes = std::move(layer.bytes);
  } else {
    picture.bytes = LayerToRGBA(layer);
  }
  layer = CHostLayer();
  picture.channels = 4;
  if (options.NeedsAlpha()) return picture;

  const size_t count = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height);
  const uint8_t* from = picture.bytes.data();
  // Written in place: each output pixel is no wider than the one it comes from.
  uint8_t* to = picture.bytes.data();
  if (options.mask) {
    for (size_t i = 0; i < count; ++i, from += 4) *to++ = from[3];
    picture.channels = 1;
    // The mask is no colour picture: a colour profile would misdescribe it.
    picture.metadata.icc.clear();
  } else {
    const CFlattenColour& colour = options.flattenColour;
    for (size_t i = 0; i < count; ++i, from += 4, to += 3) {
      const uint8_t alpha = from[3];
      const uint8_t red = OverColour(from[0], alpha, colour.red);
      const uint8_t green = OverColour(from[1], alpha, colour.green);
      const uint8_t blue = OverColour(from[2], alpha, colour.blue);
      to[0] = red;
      to[1] = green;
      to[2] = blue;
    }
    picture.channels = 3;
  }
  picture.bytes.resize(count * static_cast<size_t>(picture.channels));
  return picture;
}
