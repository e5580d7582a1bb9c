// Pictures of every format and kind people bring, read as viewers show them
// and written as their names say.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <algorithm>
#include <vector>

#include "KelvaneRun.h"
#include "LibraryImages.h"
#include "PictureTestFiles.h"
#include "tools/kelvane/Orientation.h"
#include "tools/kelvane/PictureReader.h"
#include "tools/kelvane/PictureWriter.h"

namespace {

// A picture whose every pixel differs, with partial alpha, so that a turned,
// mirrored or shifted read shows.
CPicture Distinct(int width, int height, int channels) {
  CPicture picture;
  picture.width = width;
  picture.height = height;
  picture.channels = channels;
  picture.bytes.resize(static_cast<size_t>(width) * height * channels);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &picture.bytes[(static_cast<size_t>(y) * width + x) * channels];
      for (int c = 0; c < channels; ++c) p[c] = static_cast<uint8_t>(x * 9 + y * 23 + c * 61);
      if (channels == 4) p[3] = static_cast<uint8_t>(128 + (x + y) % 128);
    }
  }
  return picture;
}

// Large flat blocks survive lossy coding within a few levels.
CPicture Blocks(int width, int height) {
  CPicture picture;
  picture.width = width;
  picture.height = height;
  picture.channels = 3;
  picture.bytes.resize(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &picture.bytes[(static_cast<size_t>(y) * width + x) * 3];
      const int block = (x / 16) + 3 * (y / 16);
      p[0] = static_cast<uint8_t>(block * 40);
      p[1] = static_cast<uint8_t>(255 - block * 30);
      p[2] = static_cast<uint8_t>((block * 90) % 256);
    }
  }
  return picture;
}

CImage Wrap(const CPicture& picture) {
  VipsImage* image = vips_image_new_from_memory_copy(
      picture.bytes.data(), picture.bytes.size(), picture.width, picture.height, picture.channels,
      VIPS_FORMAT_UCHAR);
  return CImage(image);
}

CPicture Unwrap(VipsImage* image) {
  CPicture picture;
  size_t size = 0;
  void* data = vips_image_write_to_memory(image, &size);
  picture.width = image->Xsize;
  picture.height = image->Ysize;
  picture.channels = image->Bands;
  picture.bytes.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  g_free(data);
  return picture;
}

// The stored picture whose reading with `orientation` gives `upright`.
CPicture StoredFor(CPicture upright, int orientation) {
  const int inverse = orientation == 6 ? 8 : orientation == 8 ? 6 : orientation;
  ApplyOrientation(upright, inverse);
  return upright;
}

double MeanDifference(const CPicture& a, const CPicture& b) {
  if (a.bytes.size() != b.bytes.size() || a.bytes.empty()) return 256;
  double sum = 0;
  for (size_t i = 0; i < a.bytes.size(); ++i) sum += std::abs(int(a.bytes[i]) - int(b.bytes[i]));
  return sum / static_cast<double>(a.bytes.size());
}

int LargestDifference(const CPicture& a, const CPicture& b) {
  if (a.bytes.size() != b.bytes.size()) return 256;
  int largest = 0;
  for (size_t i = 0; i < a.bytes.size(); ++i) {
    largest = std::max(largest, std::abs(int(a.bytes[i]) - int(b.bytes[i])));
  }
  return largest;
}

// Breaks what a decoder cannot do without: the Huffman tables of a JPEG,
// the directory of a TIFF, the code size of a GIF's image, the boxes and
// chunks behind the signature of the others.
void Damage(const std::string& path, const std::string& format) {
  std::vector<char> bytes(std::filesystem::file_size(path));
  std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  auto find = [&](std::string_view marker) {
    const auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
    return static_cast<size_t>(at - bytes.begin());
  };
  if (format == "jpg") {
    const size_t table = find("\xFF\xC4");
    for (size_t i = table + 5; i < table + 21 && i < bytes.size(); ++i) bytes[i] = '\xFF';
  } else if (format == "tif") {
    for (size_t i = 4; i < 8; ++i) bytes[i] = '\x7F';
  } else if (format == "gif") {
    // The image descriptor (0x2C) is 10 bytes, then the LZW minimum code size.
    const size_t image = find(std::string_view("\x2C\x00\x00\x00\x00", 5));
    if (image + 10 < bytes.size()) bytes[image + 10] = '\x1F';
  } else {
    for (size_t i = 12; i < 36 && i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5 ^ (i * 7));
  }
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class PictureFormatsTest : public CKelvaneFolderTest {
 protected:
  // Saves through the library's own savers, by the file's ending, with
  // whatever the test set on the image.
  void Save(VipsImage* image, const std::string& name, const char* options = "") {
    ASSERT_EQ(vips_image_write_to_file(image, (Path(name) + options).c_str(), nullptr), 0)
        << name << ": " << vips_error_buffer();
  }
  CPicture Read(const std::string& name) {
    CPicture picture;
    std::string error;
    EXPECT_TRUE(ReadPicture(Path(name), picture, error)) << name << ": " << error;
    return picture;
  }
  bool Saves(const std::string& format) {
    std::string error;
    return CheckOutputFormat("x." + format, format, true, error);
  }
};

TEST_F(PictureFormatsTest, ApplyingAnOrientationTurnsAsTheLibraryDoes) {
  const CPicture stored = Distinct(7, 4, 3);
  for (int orientation = 1; orientation <= 8; ++orientation) {
    CImage image = Wrap(stored);
    vips_image_set_int(image.get(), VIPS_META_ORIENTATION, orientation);
    VipsImage* turned = nullptr;
    ASSERT_EQ(vips_autorot(image.get(), &turned, nullptr), 0);
    const CPicture expected = Unwrap(turned);
    g_object_unref(turned);
    CPicture ours = stored;
    ApplyOrientation(ours, orientation);
    EXPECT_EQ(ours.width, expected.width) << orientation;
    EXPECT_EQ(ours.bytes, expected.bytes) << orientation;
  }
}

TEST_F(PictureFormatsTest, LosslessFormatsGiveBackEveryPixelWithItsAlpha) {
  const CPicture rgba = Distinct(24, 16, 4);
  for (const std::string format : {"png", "tif", "tiff", "webp", "jxl", "avif", "heic"}) {
    if ((format == "avif" || format == "heic" || format == "jxl") && !Saves(format)) continue;
    std::string error;
    const std::string name = "picture." + format;
    ASSERT_TRUE(WritePicture(Path(name), format, rgba, false, true, error)) << error;
    const CPicture back = Read(name);
    EXPECT_EQ(back.channels, 4) << format;
    // HEIF keeps colours in YCbCr: a level off at most.
    const int allowed = format == "avif" || format == "heic" ? 2 : 0;
    EXPECT_LE(LargestDifference(back, rgba), allowed) << format;
  }
}

TEST_F(PictureFormatsTest, EveryOrientationOfAStoredPictureReadsUpright) {
  const CPicture upright = Blocks(64, 48);
  // The formats that carry an EXIF orientation in the files cameras and
  // phones write.
  for (const std::string format : {"jpg", "tif", "webp"}) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
      CImage image = Wrap(StoredFor(upright, orientation));
      vips_image_set_int(image.get(), VIPS_META_ORIENTATION, orientation);
      const std::string name = "o" + std::to_string(orientation) + "." + format;
      Save(image.get(), name, format == "webp" ? "[lossless]" : "");
      const CPicture read = Read(name);
      EXPECT_EQ(read.width, 64) << name;
      if (format == "jpg") {
        // Lossy: a turned or mirrored read would be off by far more.
        EXPECT_LT(MeanDifference(read, upright), 4.0) << name;
      } else {
        EXPECT_EQ(read.bytes, upright.bytes) << name;
      }
    }
  }
}

TEST_F(PictureFormatsTest, GreyPalettesFramesAndSixteenBitsBecomeEightBitChannels) {
  // 16-bit TIFF: the nearest 8-bit value, not the high byte.
  std::vector<uint16_t> deep = {0x1234, 0x00FF, 0xFFFF, 0x8080, 0x0000, 0x7F7F};
  CImage sixteen(vips_image_new_from_memory_copy(deep.data(), deep.size() * 2, 2, 1, 3,
                                                 VIPS_FORMAT_USHORT));
  VipsImage* rgb16 = nullptr;
  ASSERT_EQ(vips_copy(sixteen.get(), &rgb16, "interpretation", VIPS_INTERPRETATION_RGB16,
                      nullptr), 0);
  Save(rgb16, "deep.tif");
  g_object_unref(rgb16);
  const CPicture read = Read("deep.tif");
  EXPECT_EQ(read.channels, 3);
  EXPECT_EQ(read.bytes, (std::vector<uint8_t>{18, 1, 255, 128, 0, 127}));

  // Grey and grey with alpha keep their channels; GIF gives its first frame.
  CImage grey = Wrap(Distinct(5, 3, 1));
  Save(grey.get(), "grey.jpg", "[Q=100]");
  EXPECT_EQ(Read("grey.jpg").channels, 1);
  CImage greyAlpha = Wrap(Distinct(5, 3, 2));
  Save(greyAlpha.get(), "greya.png");
  EXPECT_EQ(Read("greya.png").bytes, Distinct(5, 3, 2).bytes);
  CImage blocks = Wrap(Blocks(32, 32));
  Save(blocks.get(), "blocks.gif");
  const CPicture gif = Read("blocks.gif");
  EXPECT_EQ(gif.width, 32);
  EXPECT_GE(gif.channels, 3);
}

TEST_F(PictureFormatsTest, CmykBecomesSrgbWithOrWithoutAProfile) {
  // White paper, full black, pure cyan.
  const std::vector<uint8_t> cmyk = {0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0};
  CImage flat(vips_image_new_from_memory_copy(cmyk.data(), cmyk.size(), 3, 1, 4,
                                              VIPS_FORMAT_UCHAR));
  VipsImage* tagged = nullptr;
  ASSERT_EQ(vips_copy(flat.get(), &tagged, "interpretation", VIPS_INTERPRETATION_CMYK, nullptr),
            0);
  CImage image(tagged);
  Save(image.get(), "cmyk.jpg", "[Q=100]");
  Save(image.get(), "cmyk.tif");
  for (const char* name : {"cmyk.jpg", "cmyk.tif"}) {
    const CPicture rgb = Read(name);
    ASSERT_EQ(rgb.channels, 3) << name;
    EXPECT_GE(rgb.bytes[0], 235) << name;  // paper is white
    EXPECT_GE(rgb.bytes[2], 235) << name;
    EXPECT_LE(rgb.bytes[3], 60) << name;   // ink is dark
    EXPECT_LE(rgb.bytes[6], 80) << name;   // cyan has little red
    EXPECT_GE(rgb.bytes[8], 180) << name;  // and much blue
    // The pixels are sRGB now, and the profile written says so.
    ASSERT_GE(rgb.metadata.icc.size(), 20u) << name;
    EXPECT_EQ(std::string(rgb.metadata.icc.begin() + 16, rgb.metadata.icc.begin() + 20), "RGB ");
  }
}

TEST_F(PictureFormatsTest, TruncatedAndDamagedFilesOfEveryFormatAreRefusedNamingThem) {
  CImage image = Wrap(Distinct(96, 64, 3));
  std::vector<std::string> names;
  for (const std::string format : {"png", "jpg", "tif", "webp", "gif", "jxl", "heic", "avif"}) {
    if ((format == "avif" || format == "heic" || format == "jxl") && !Saves(format)) continue;
    const std::string name = "whole." + format;
    Save(image.get(), name);
    const auto size = std::filesystem::file_size(Path(name));
    const std::string cut = "cut." + format;
    std::filesystem::copy_file(Path(name), Path(cut));
    std::filesystem::resize_file(Path(cut), size / 2);
    names.push_back(cut);
    // The structure behind the signature garbled. (Garbled pixel data, as
    // in an uncompressed TIFF, is a valid picture to every decoder.)
    const std::string damaged = "damaged." + format;
    std::filesystem::copy_file(Path(name), Path(damaged));
    Damage(Path(damaged), format);
    names.push_back(damaged);
  }
  for (const std::string& name : names) {
    CPicture picture;
    std::string error;
    EXPECT_FALSE(ReadPicture(Path(name), picture, error)) << name;
    EXPECT_NE(error.find(name), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

// A few bytes of header that claim a picture larger than memory: refused
// before a pixel is decoded, saying how large and what it would need.
TEST_F(PictureFormatsTest, AHeaderClaimingAHugePictureIsRefusedFromTheHeader) {
  CImage image = Wrap(Blocks(64, 64));
  Save(image.get(), "small.png");
  std::vector<char> bytes(std::filesystem::file_size(Path("small.png")));
  std::ifstream(Path("small.png"), std::ios::binary).read(bytes.data(), bytes.size());
  // IHDR's width and height, big-endian, at 16 and 20: 30000 x 30000.
  for (int at : {16, 20}) {
    bytes[at] = 0;
    bytes[at + 1] = 0;
    bytes[at + 2] = static_cast<char>(30000 >> 8);
    bytes[at + 3] = static_cast<char>(30000 & 0xFF);
  }
  // Only the header is kept, with its checksum left wrong on purpose: the
  // refusal must come before anything else is looked at.
  std::ofstream(Path("huge.png"), std::ios::binary).write(bytes.data(), 33);
  // The script is read before the picture: it must be there for the picture to be looked at.
  WriteText("s.txt", "ok\n");
  const CRun run = Kelvane("--script s.txt huge.png out.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("huge.png"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("out.png"));
}

// A 45-byte PNG whose header claims 32767 x 32767 RGBA, interlaced, with no
// pixel data: refused as it is, without the program ever holding memory for
// the picture it claims.
TEST_F(PictureFormatsTest, AHeaderWithoutPixelsCostsNoMemory) {
  for (const bool interlaced : {true, false}) {
    for (const uint32_t side : {32767u, 16000u}) {
      std::string ihdr = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
      for (int i = 0; i < 2; ++i) {
        for (int shift = 24; shift >= 0; shift -= 8) ihdr += static_cast<char>(side >> shift);
      }
      ihdr += {8, 6, 0, 0, static_cast<char>(interlaced ? 1 : 0)};
      const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(ihdr.data()) + 4, 17);
      for (int shift = 24; shift >= 0; shift -= 8) ihdr += static_cast<char>(crc >> shift);
      const std::string file = std::string("\x89PNG\r\n\x1A\n", 8) + ihdr +
                               std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
      std::ofstream(Path("claim.png"), std::ios::binary) << file;
      WriteText("s.txt", "object 0,0\napply\nok\n");
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        // Straight to exec: nothing of this process runs in the child.
        const std::string program = std::string(KELVANE_BIN_DIR) + "/kelvane";
        if (chdir(m_dir.c_str()) != 0) _exit(99);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "--script", "s.txt", "claim.png", "out.png",
              static_cast<char*>(nullptr));
        _exit(98);
      }
      int status = 0;
      rusage usage{};
      ASSERT_EQ(wait4(child, &status, 0, &usage), child);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 2) << side << (interlaced ? " interlaced" : "");
      // The program itself, its module and libraries: well under the
      // gigabytes the header claims.
      EXPECT_LT(usage.ru_maxrss, 400 * 1024) << side << (interlaced ? " interlaced" : "");
      EXPECT_FALSE(Exists("out.png"));
    }
  }
}

}  // namespace

namespace {

// The pixels-per-metre of a PNG's pHYs chunk, across and down; none without.
std::optional<std::pair<uint32_t, uint32_t>> PngResolution(const std::string& path) {
  const std::string bytes = ReadAll(path);
  const size_t at = bytes.find("pHYs");
  if (at == std::string::npos || at + 12 > bytes.size()) return std::nullopt;
  auto big32 = [&](size_t from) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[from + i]);
    return value;
  };
  return std::make_pair(big32(at + 4), big32(at + 8));
}

}  // namespace

// A resolution travels from the input to the result, stripped or not; a
// picture that states none gives a result that states none where the format
// allows it, whatever the library assumes while reading it.
TEST_F(PictureFormatsTest, TheInputsResolutionIsKeptAndNoneIsInvented) {
  constexpr double kAcross = 300 / 25.4;  // pixels per millimetre
  constexpr double kDown = 150 / 25.4;
  CImage plain = Wrap(Blocks(48, 32));
  VipsImage* stated = nullptr;
  ASSERT_EQ(vips_copy(plain.get(), &stated, "xres", kAcross, "yres", kDown, nullptr), 0);
  CImage image(stated);
  for (const char* name : {"stated.png", "stated.jpg", "stated.tif"}) {
    Save(image.get(), name);
    CPicture picture = Read(name);
    EXPECT_NEAR(picture.metadata.xResolution, kAcross, 0.01) << name;
    EXPECT_NEAR(picture.metadata.yResolution, kDown, 0.01) << name;
    std::string error;
    for (const bool strip : {false, true}) {
      ASSERT_TRUE(WritePicture(Path("out.png"), "png", picture, strip, true, error)) << error;
      EXPECT_EQ(PngResolution(Path("out.png")), std::make_pair(11811u, 5906u)) << name;
    }
    ASSERT_TRUE(WritePicture(Path("out.tif"), "tif", picture, true, true, error)) << error;
    EXPECT_NEAR(Read("out.tif").metadata.xResolution, kAcross, 0.01) << name;
  }

  // Our own PNG without pHYs, and a GIF, which has no field for it.
  std::string error;
  ASSERT_TRUE(WritePicture(Path("none.png"), "png", Blocks(48, 32), false, true, error)) << error;
  Save(plain.get(), "none.gif");
  for (const char* name : {"none.png", "none.gif"}) {
    const CPicture picture = Read(name);
    EXPECT_EQ(picture.metadata.xResolution, 0) << name;
    ASSERT_TRUE(WritePicture(Path("out.png"), "png", picture, false, true, error)) << error;
    EXPECT_FALSE(PngResolution(Path("out.png"))) << name;
    // TIFF always states one: the 72 dpi readers assume, not 25.4.
    ASSERT_TRUE(WritePicture(Path("out.tif"), "tif", picture, false, true, error)) << error;
    EXPECT_NEAR(Read("out.tif").metadata.xResolution, 72 / 25.4, 0.01) << name;
  }
}

// A quarter turn swaps the resolutions across and down.
TEST_F(PictureFormatsTest, ATurnedPictureTurnsItsResolution) {
  CPicture picture = Blocks(8, 4);
  picture.metadata.xResolution = 2;
  picture.metadata.yResolution = 5;
  ApplyOrientation(picture, 6);
  EXPECT_EQ(picture.metadata.xResolution, 5);
  EXPECT_EQ(picture.metadata.yResolution, 2);
}
