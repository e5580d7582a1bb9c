#include "imagecore/PngResource.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "ImageTestUtil.h"

namespace {

// A PNG picture of the given libpng format whose byte i of row y (top-down)
// is byteAt(i, y).
std::vector<uint8_t> EncodePng(int width, int height, png_uint_32 format, uint8_t (*byteAt)(int, int)) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = format;
  const int channels = static_cast<int>(PNG_IMAGE_PIXEL_CHANNELS(format));
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < width * channels; ++i) pixels[static_cast<size_t>(y) * width * channels + i] = byteAt(i, y);
  }
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr));
  std::vector<uint8_t> bytes(size);
  EXPECT_TRUE(png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr));
  bytes.resize(size);
  return bytes;
}

uint8_t Byte(int i, int y) { return static_cast<uint8_t>(i * 11 + y * 50 + 3); }

TEST(PngPicture, ColourWithAlphaIsBGRAWithTheBottomRowFirst) {
  const std::vector<uint8_t> png = EncodePng(3, 4, PNG_FORMAT_RGBA, Byte);
  CCoreImage image;
  ASSERT_TRUE(DecodePngPicture(png, image));
  ASSERT_EQ(image.ViewFormat(), keFormatBGRA);
  EXPECT_EQ(image.ChannelCode(), keChannelNone);
  ASSERT_EQ(image.Height(), 4);
  for (int i = 0; i < 4; ++i) {
    const std::vector<uint8_t> row = ReadRow(image, i);
    const int pictureRow = 3 - i;
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(row[4 * x + 0], Byte(4 * x + 2, pictureRow));  // blue
      EXPECT_EQ(row[4 * x + 1], Byte(4 * x + 1, pictureRow));
      EXPECT_EQ(row[4 * x + 2], Byte(4 * x + 0, pictureRow));  // red
      EXPECT_EQ(row[4 * x + 3], Byte(4 * x + 3, pictureRow));  // alpha
    }
  }
}

TEST(PngPicture, GreyWithAlphaIsGreyAWithTheBottomRowFirst) {
  const std::vector<uint8_t> png = EncodePng(5, 3, PNG_FORMAT_GA, Byte);
  CCoreImage image;
  ASSERT_TRUE(DecodePngPicture(png, image));
  ASSERT_EQ(image.ViewFormat(), keFormatGreyA);
  for (int i = 0; i < 3; ++i) {
    const std::vector<uint8_t> row = ReadRow(image, i);
    for (int b = 0; b < 10; ++b) EXPECT_EQ(row[b], Byte(b, 2 - i));
  }
}

TEST(PngPicture, OpaquePicturesComeThroughTheirPackedBitmapUpright) {
  CCoreImage colour;
  ASSERT_TRUE(DecodePngPicture(EncodePng(3, 2, PNG_FORMAT_RGB, Byte), colour));
  ASSERT_EQ(colour.ViewFormat(), keFormatBGR);
  for (int y = 0; y < 2; ++y) {
    const std::vector<uint8_t> row = ReadRow(colour, y);
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(row[3 * x + 0], Byte(3 * x + 2, y));
      EXPECT_EQ(row[3 * x + 2], Byte(3 * x, y));
    }
  }

  CCoreImage grey;
  ASSERT_TRUE(DecodePngPicture(EncodePng(7, 3, PNG_FORMAT_GRAY, Byte), grey));
  ASSERT_EQ(grey.StorageFormat(), keFormatGrey);
  for (int y = 0; y < 3; ++y) {
    const std::vector<uint8_t> row = ReadRow(grey, y);
    for (int x = 0; x < 7; ++x) EXPECT_EQ(row[x], Byte(x, y));
  }
}

TEST(PngPicture, BytesThatDoNotDecodeLeaveTheImageAlone) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(2, 2)), 0u);
  WriteRow(image, 0, {7, 8});
  const std::vector<uint8_t> garbage = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_FALSE(DecodePngPicture(garbage, image));
  std::vector<uint8_t> truncated = EncodePng(8, 8, PNG_FORMAT_RGBA, Byte);
  truncated.resize(truncated.size() / 2);
  EXPECT_FALSE(DecodePngPicture(truncated, image));
  EXPECT_FALSE(DecodePngPicture({}, image));
  ASSERT_EQ(image.ViewFormat(), keFormatGrey);
  EXPECT_EQ(ReadRow(image, 0), (std::vector<uint8_t>{7, 8}));
}

// A header that promises a picture far larger than its data can hold is
// refused before the decoder's buffer is made: in a process held to 1 GiB of
// address space, a 4 GiB buffer would end it.
TEST(PngPicture, AHeaderPromisingMoreThanItsDataHoldsIsRefusedUpFront) {
  std::vector<uint8_t> png = EncodePng(8, 8, PNG_FORMAT_RGBA, Byte);
  // IHDR's width and height (big-endian, at 16 and 20), then its checksum.
  for (const size_t at : {size_t{16}, size_t{20}}) {
    png[at] = 0;
    png[at + 1] = 0;
    png[at + 2] = 0x7F;
    png[at + 3] = 0xFF;
  }
  const uLong crc = crc32(0, png.data() + 12, 17);
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers reserve their shadow memory up front: no limit can be set.
  CCoreImage image;
  EXPECT_FALSE(DecodePngPicture(png, image));
#else
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{size_t{1} << 30, size_t{1} << 30};
    setrlimit(RLIMIT_AS, &limit);
    CCoreImage image;
    try {
      _exit(DecodePngPicture(png, image) ? 1 : 0);
    } catch (...) {
      _exit(2);
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the decoder ran out of memory";
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

TEST(PngResource, AMissingResourceIs201AndTouchesNothing) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(2, 2)), 0u);
  EXPECT_EQ(LoadPngResource(9999, image), 201u);
  EXPECT_EQ(LoadPngResource(128, image), 201u);  // a bitmap and an icon have that number, no PNG
  EXPECT_EQ(image.ViewFormat(), keFormatGrey);
}

TEST(PngResource, ThePresetButtonPicturesDecodeWithAlpha) {
  for (int id : {102, 103}) {
    CCoreImage image;
    ASSERT_EQ(LoadPngResource(id, image), 0u) << id;
    EXPECT_EQ(image.ViewFormat(), keFormatBGRA) << id;
    EXPECT_EQ(image.Width(), 16);
    EXPECT_EQ(image.Height(), 16);
  }
}

}  // namespace
