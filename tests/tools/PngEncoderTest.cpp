#include "tools/kelvane/PngEncoder.h"
#include "tools/kelvane/PictureReader.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <vips/vips.h>

#include <cerrno>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "KelvaneRun.h"
#include "LibraryImages.h"
#include "tools/kelvane/UprightExif.h"

namespace {

using PngEncoderTest = CKelvaneFolderTest;

CPicture Noise(int width, int height, int channels, uint32_t seed) {
  CPicture picture;
  picture.width = width;
  picture.height = height;
  picture.channels = channels;
  picture.bytes.resize(static_cast<size_t>(width) * height * channels);
  std::mt19937 random(seed);
  // Runs of one value between the noise, so that the compressor finds both.
  for (size_t i = 0; i < picture.bytes.size(); ++i) {
    picture.bytes[i] = (i / 97) % 3 == 0 ? uint8_t{200} : static_cast<uint8_t>(random());
  }
  return picture;
}

std::string Encoded(const CPicture& picture, const CPictureMetadata& metadata, unsigned threads) {
  std::string file;
  EXPECT_TRUE(EncodePng(picture, metadata,
                        [&](const uint8_t* data, size_t size) {
                          file.append(reinterpret_cast<const char*>(data), size);
                          return true;
                        },
                        threads));
  return file;
}

CImage Loaded(const std::string& file) {
  return CImage(vips_image_new_from_buffer(file.data(), file.size(), "", "fail_on",
                                           VIPS_FAIL_ON_ERROR, nullptr));
}

// A little-endian or big-endian TIFF structure: IFD0 with a maker,
// an orientation and a pointer to an Exif IFD holding the pixel size.
std::vector<uint8_t> Exif(bool bigEndian, uint16_t orientation, uint16_t dimensionType) {
  std::vector<uint8_t> bytes;
  auto put = [&](uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
      const int shift = bigEndian ? 8 * (count - 1 - i) : 8 * i;
      bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
  };
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
    put(tag, 2);
    put(type, 2);
    put(1, 4);
    if (type == 3) {
      put(value, 2);
      put(0, 2);
    } else {
      put(value, 4);
    }
  };
  bytes.push_back(bigEndian ? 'M' : 'I');
  bytes.push_back(bigEndian ? 'M' : 'I');
  put(42, 2);
  put(8, 4);
  put(3, 2);                       // IFD0 at 8: three entries
  entry(0x010F, 7, 0x41424344);    // "ABCD" as undefined bytes
  entry(0x0112, 3, orientation);
  entry(0x8769, 4, 8 + 2 + 3 * 12 + 4);
  put(0, 4);
  put(2, 2);                       // Exif IFD: two entries
  entry(0xA002, dimensionType, 4000);
  entry(0xA003, dimensionType, 3000);
  put(0, 4);
  return bytes;
}

}  // namespace

// Every channel count, pictures of one band and of several, on one thread
// and on three: the file decodes to the same pixels, and the split among
// threads never changes a byte.
TEST_F(PngEncoderTest, EveryChannelCountDecodesToThePixelsWhateverTheThreads) {
  for (int channels = 1; channels <= 4; ++channels) {
    for (const auto& [width, height] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{1000, 700}}) {
      const CPicture picture = Noise(width, height, channels, static_cast<uint32_t>(width + channels));
      const std::string one = Encoded(picture, {}, 1);
      const std::string three = Encoded(picture, {}, 3);
      EXPECT_EQ(one, three) << channels << " " << width;
      std::ofstream(Path("p.png"), std::ios::binary) << three;
      CPicture read;
      std::string error;
      ASSERT_TRUE(ReadPicture(Path("p.png"), read, error)) << error;
      EXPECT_EQ(read.width, width);
      EXPECT_EQ(read.height, height);
      EXPECT_EQ(read.channels, channels);
      EXPECT_TRUE(read.bytes == picture.bytes) << channels << " " << width;
    }
  }
}

// A cut-out as the editor writes it: bands that are all cleared background
// pack to a few bytes, and bands of shaded object end their blocks mid-way;
// every band's stream joins the next.
TEST_F(PngEncoderTest, ACutOutOfManyBandsDecodesToItsPixels) {
  CPicture picture;
  picture.width = 1500;
  picture.height = 1200;
  picture.channels = 4;
  picture.bytes.assign(static_cast<size_t>(picture.width) * picture.height * 4, 0);
  for (int y = 300; y < 900; ++y) {
    for (int x = 400; x < 1100; ++x) {
      uint8_t* p = &picture.bytes[(static_cast<size_t>(y) * picture.width + x) * 4];
      p[0] = static_cast<uint8_t>(x / 3);
      p[1] = static_cast<uint8_t>(y / 5);
      p[2] = static_cast<uint8_t>((x + y) / 7);
      p[3] = 255;
    }
  }
  const std::string one = Encoded(picture, {}, 1);
  EXPECT_EQ(Encoded(picture, {}, 2), one);
  // Far smaller than the pixels: the bands were compressed, not stored.
  EXPECT_LT(one.size(), picture.bytes.size() / 20);
  std::ofstream(Path("cut.png"), std::ios::binary) << one;
  CPicture read;
  std::string error;
  ASSERT_TRUE(ReadPicture(Path("cut.png"), read, error)) << error;
  EXPECT_TRUE(read.bytes == picture.bytes);
}

// Helpers held to one core with the caller, as under other processes' load:
// the bands ahead fill the lead window while a helper still holds the next
// one. Every write must end, and give the picture back.
TEST_F(PngEncoderTest, ManyThreadsSharingOneCoreFinishEveryWrite) {
  cpu_set_t before;
  ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof before, &before), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof one, &one), 0);
  // About a hundred bands, more than sixteen threads may lead, and all
  // cleared, so that a band takes far less than a time slice and a helper
  // sent to wait misses many.
  CPicture picture;
  picture.width = 8000;
  picture.height = 3200;
  picture.channels = 4;
  picture.bytes.assign(static_cast<size_t>(picture.width) * picture.height * 4, 0);
  const std::string expected = Encoded(picture, {}, 1);
  for (int run = 0; run < 30; ++run) {
    const std::string written = Encoded(picture, {}, 16);
    if (written == expected) continue;
    // Decoded only where the bytes differ: the pixels must still be exact.
    std::ofstream(Path("differs.png"), std::ios::binary) << written;
    CPicture read;
    std::string error;
    ASSERT_TRUE(ReadPicture(Path("differs.png"), read, error)) << run << error;
    EXPECT_TRUE(read.bytes == picture.bytes) << run;
  }
  pthread_setaffinity_np(pthread_self(), sizeof before, &before);
}

TEST_F(PngEncoderTest, ProfileExifAndXmpAreWrittenAsGiven) {
  VipsBlob* blob = nullptr;
  ASSERT_EQ(vips_profile_load("srgb", &blob, nullptr), 0);
  size_t length = 0;
  const auto* profile = static_cast<const uint8_t*>(vips_blob_get(blob, &length));
  CPictureMetadata metadata;
  metadata.icc.assign(profile, profile + length);
  vips_area_unref(reinterpret_cast<VipsArea*>(blob));
  metadata.exif = Exif(true, 1, 3);
  const std::string xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta>";
  metadata.xmp.assign(xmp.begin(), xmp.end());

  const CImage image = Loaded(Encoded(Noise(5, 4, 3, 1), metadata, 2));
  ASSERT_TRUE(image) << vips_error_buffer();
  EXPECT_EQ(BlobText(image.get(), VIPS_META_ICC_NAME),
            std::string(metadata.icc.begin(), metadata.icc.end()));
  EXPECT_NE(BlobText(image.get(), VIPS_META_XMP_NAME).find("xmpmeta"), std::string::npos);
  EXPECT_NE(BlobText(image.get(), VIPS_META_EXIF_NAME).find("ABCD"), std::string::npos);
  EXPECT_EQ(vips_image_get_orientation(image.get()), 1);
}

// A sink that fails at any point ends the encoding there, with helpers
// still compressing bands, and reports the failure.
TEST_F(PngEncoderTest, AFailingSinkEndsTheWriteWherePiecesAreStillComing) {
  const CPicture picture = Noise(600, 2000, 4, 7);
  const size_t whole = Encoded(picture, {}, 3).size();
  for (size_t allowed : {size_t{0}, size_t{40}, whole / 7, whole / 2, whole - 5}) {
    size_t taken = 0;
    errno = 0;
    const bool written = EncodePng(picture, {},
                                   [&](const uint8_t*, size_t size) {
                                     if (taken + size > allowed) {
                                       errno = ENOSPC;
                                       return false;
                                     }
                                     taken += size;
                                     return true;
                                   },
                                   3);
    EXPECT_FALSE(written) << allowed;
    EXPECT_EQ(errno, ENOSPC) << allowed;
    EXPECT_LE(taken, allowed);
  }
}

TEST(UprightExifTest, OrientationAndPixelSizeAreSetInEitherByteOrderAndTheRestKept) {
  for (const bool bigEndian : {false, true}) {
    for (const uint16_t type : {uint16_t{3}, uint16_t{4}}) {
      const std::vector<uint8_t> exif = Exif(bigEndian, 6, type);
      const std::vector<uint8_t> upright = UprightExif(exif, 300, 200);
      EXPECT_EQ(upright, UprightExif(upright, 300, 200));
      std::vector<uint8_t> expected = Exif(bigEndian, 1, type);
      // The pixel sizes, in place.
      ASSERT_EQ(upright.size(), expected.size());
      const std::vector<uint8_t> sized = [&] {
        std::vector<uint8_t> bytes = expected;
        const size_t width = 8 + 2 + 3 * 12 + 4 + 2 + 8;
        const size_t height = width + 12;
        for (const auto& [at, value] : {std::pair{width, 300}, std::pair{height, 200}}) {
          const int count = type == 3 ? 2 : 4;
          for (int i = 0; i < count; ++i) {
            const int shift = bigEndian ? 8 * (count - 1 - i) : 8 * i;
            bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> shift);
          }
        }
        return bytes;
      }();
      EXPECT_EQ(upright, sized) << bigEndian << " " << type;

      // The marker JPEG files carry in front is dropped.
      const std::string marker("Exif\0\0", 6);
      std::vector<uint8_t> marked = exif;
      marked.insert(marked.begin(), marker.begin(), marker.end());
      EXPECT_EQ(UprightExif(marked, 300, 200), sized);
    }
  }
}

TEST(UprightExifTest, BytesThatAreNoTiffStructureGiveNothing) {
  const std::vector<uint8_t> exif = Exif(false, 8, 4);
  // Every shortening: IFD0 or the Exif IFD runs past the end, or the
  // header is cut; the entries beyond are never read.
  for (size_t length = 0; length < exif.size() - 4; ++length) {
    const std::vector<uint8_t> cut(exif.begin(), exif.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_TRUE(UprightExif(cut, 1, 1).empty()) << length;
  }
  std::vector<uint8_t> badOrder = exif;
  badOrder[0] = 'X';
  EXPECT_TRUE(UprightExif(badOrder, 1, 1).empty());
  std::vector<uint8_t> farIfd = exif;
  farIfd[4] = 0xF0;
  EXPECT_TRUE(UprightExif(farIfd, 1, 1).empty());
  // An orientation that is no single number cannot be said upright.
  std::vector<uint8_t> oddOrientation = exif;
  oddOrientation[8 + 2 + 12 + 2] = 2;  // ASCII
  EXPECT_TRUE(UprightExif(oddOrientation, 1, 1).empty());
}
