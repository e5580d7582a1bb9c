#include "FileLayer.h"

#include <cstddef>
#include <utility>

#include "platform/VirtualMemory.h"

namespace {

// A buffer that a conversion writes once: its pages come in before the loop
// (as huge pages where the system has them), not one fault at a time.
std::vector<uint8_t> ConversionBuffer(size_t bytes) {
  std::vector<uint8_t> buffer;
  buffer.reserve(bytes);
  AdviseHugePages(buffer.data(), bytes);
  PrefaultForWriting(buffer.data(), bytes);
  buffer.resize(bytes);
  return buffer;
}

}  // namespace

CHostLayer LayerFromPixels(CPicture pixels, bool planesAsFile) {
  CHostLayer layer;
  layer.width = pixels.width;
  layer.height = pixels.height;
  const bool grey = pixels.channels <= 2;
  const bool alpha = pixels.channels == 2 || pixels.channels == 4;
  const size_t count = static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height);
  if (planesAsFile) {
    layer.planes = pixels.channels;
    layer.imageMode = grey ? plugInModeGrayScale : plugInModeRGBColor;
    layer.bytes = std::move(pixels.bytes);
    return layer;
  }
  layer.planes = 4;
  layer.imageMode = plugInModeRGBColor;
  if (pixels.channels == 4) {
    layer.bytes = std::move(pixels.bytes);
    return layer;
  }
  layer.bytes = ConversionBuffer(count * 4);
  const uint8_t* from = pixels.bytes.data();
  uint8_t* to = layer.bytes.data();
  for (size_t i = 0; i < count; ++i, from += pixels.channels, to += 4) {
    if (grey) {
      to[0] = to[1] = to[2] = from[0];
    } else {
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
    }
    to[3] = alpha ? from[pixels.channels - 1] : 255;
  }
  return layer;
}

std::vector<uint8_t> LayerToRGBA(const CHostLayer& layer) {
  const size_t count = static_cast<size_t>(layer.width) * static_cast<size_t>(layer.height);
  std::vector<uint8_t> rgba = ConversionBuffer(count * 4);
  const bool grey = layer.imageMode == plugInModeGrayScale;
  const uint8_t* from = layer.bytes.data();
  uint8_t* to = rgba.data();
  for (size_t i = 0; i < count; ++i, from += layer.planes, to += 4) {
    if (grey) {
      to[0] = to[1] = to[2] = from[0];
      to[3] = layer.planes >= 2 ? from[1] : 255;
    } else {
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
      to[3] = layer.planes >= 4 ? from[3] : 255;
    }
  }
  return rgba;
}
