#include "PngResource.h"

#include <png.h>

#include <cstring>
#include <vector>

#include "Palettes.h"
#include "RowLease.h"
#include "platform/Bitmap.h"
#include "platform/Resources.h"

namespace {

// Copies `bytes` of buffer row i into image row i for every row.
void CopyRows(CCoreImage& image, const uint8_t* buffer, size_t bufferStride, size_t bytes) {
  for (int i = 0; i < image.Height(); ++i) {
    const CRowLease row(image, i);
    std::memcpy(row.Data(), buffer + static_cast<size_t>(i) * bufferStride, bytes);
  }
}

// Colour (3 bytes) or grey (1 byte) planes first, then alpha, each through a
// write view over the image's storage. Buffer row i is the decoder's i-th
// row in storage order, which is bottom-up.
void ImportWithAlpha(CCoreImage& image, const std::vector<uint8_t>& decoded, int width, int height,
                     bool colour) {
  const int channels = colour ? 4 : 2;
  if (colour) {
    ThrowIfFailed(image.CreateBGRA(width, height));
    ThrowIfFailed(image.SetChannelView(keChannelColour, keAccessWrite));
  } else {
    ThrowIfFailed(image.CreateGreyA(width, height));
    ThrowIfFailed(image.SetChannelView(4, keAccessWrite));
  }
  const int colourBytes = channels - 1;
  std::vector<uint8_t> planes(static_cast<size_t>(width) * height * colourBytes);
  std::vector<uint8_t> alpha(static_cast<size_t>(width) * height);
  for (size_t p = 0, n = static_cast<size_t>(width) * height; p < n; ++p) {
    std::memcpy(&planes[p * colourBytes], &decoded[p * channels], static_cast<size_t>(colourBytes));
    alpha[p] = decoded[p * channels + colourBytes];
  }
  CopyRows(image, planes.data(), static_cast<size_t>(width) * colourBytes,
           static_cast<size_t>(width) * colourBytes);
  ThrowIfFailed(image.SetChannelView(3, keAccessWrite));
  CopyRows(image, alpha.data(), static_cast<size_t>(width), static_cast<size_t>(width));
  ThrowIfFailed(image.SetChannelView(keChannelNone, keAccessReadWrite));
}

}  // namespace

bool DecodePngPicture(std::span<const uint8_t> png, CCoreImage& image) {
  png_image picture;
  std::memset(&picture, 0, sizeof picture);
  picture.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&picture, png.data(), png.size())) {
    png_image_free(&picture);
    return false;
  }
  const bool alpha = (picture.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  const bool colour = (picture.format & PNG_FORMAT_FLAG_COLOR) != 0;
  const int width = static_cast<int>(picture.width);
  const int height = static_cast<int>(picture.height);
  // Deflate packs at most 1032 bytes into one, and widening low bit depths
  // and palettes to 8-bit BGRA multiplies by at most 32: a header that
  // promises more than the data can hold is refused before its buffer is
  // allocated.
  constexpr uint64_t kMostBytesPerByte = 1032 * 32;
  if (width <= 0 || height <= 0 ||
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4 >
          static_cast<uint64_t>(png.size()) * kMostBytesPerByte) {
    png_image_free(&picture);
    return false;
  }

  if (alpha) {
    picture.format = colour ? PNG_FORMAT_BGRA : PNG_FORMAT_GA;
    const int channels = colour ? 4 : 2;
    std::vector<uint8_t> decoded(static_cast<size_t>(width) * height * channels);
    // A negative stride stores the bottom row first, as the decoder's own
    // bitmaps do.
    if (!png_image_finish_read(&picture, nullptr, decoded.data(), -width * channels, nullptr)) {
      png_image_free(&picture);
      return false;
    }
    ImportWithAlpha(image, decoded, width, height, colour);
    return true;
  }

  // Without alpha the decoder's picture is a packed bitmap: header, the grey
  // ramp as colour table for grey pictures, bottom-up rows of 4-byte multiples.
  picture.format = colour ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY;
  const int bitCount = colour ? 24 : 8;
  const int tableEntries = colour ? 0 : 256;
  const int64_t rowBytes = DibRowBytes(width, bitCount);
  std::vector<uint8_t> dib(sizeof(BITMAPINFOHEADER) + static_cast<size_t>(tableEntries) * 4 +
                           static_cast<size_t>(rowBytes * height));
  BITMAPINFOHEADER header;
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = static_cast<uint16_t>(bitCount);
  header.biSizeImage = static_cast<uint32_t>(rowBytes * height);
  header.biClrUsed = static_cast<uint32_t>(tableEntries);
  std::memcpy(dib.data(), &header, sizeof header);
  if (tableEntries > 0) std::memcpy(dib.data() + sizeof header, GreyRampPalette(), 256 * 4);
  uint8_t* bits = dib.data() + sizeof header + static_cast<size_t>(tableEntries) * 4;
  if (!png_image_finish_read(&picture, nullptr, bits, -static_cast<png_int_32>(rowBytes), nullptr)) {
    png_image_free(&picture);
    return false;
  }
  ThrowIfFailed(image.FromPackedDib(dib.data(), keFormatNone));
  return true;
}

uint32_t LoadPngResource(int id, CCoreImage& image) {
  const std::span<const uint8_t> data = FindResource(RT_PNG, id);
  if (data.empty()) return keErrPngMissing;
  DecodePngPicture(data, image);
  return 0;
}
