// What the program writes from a photo: the cut-out, the mask, the cut-out
// flattened, its metadata, through files and pipes.
#include <gtest/gtest.h>
#include <vips/vips.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "KelvaneRun.h"
#include "LibraryImages.h"
#include "PictureTestFiles.h"
#include "tools/kelvane/PictureReader.h"
#include "tools/kelvane/PictureWriter.h"
#include "tools/kelvane/ResultPicture.h"

namespace {

constexpr int kSize = 96;
// Sky marked along the top and both sides, the red square kept.
constexpr const char* kSession = "background 0%,0% 100%,0% 100%,100%\n"
                                 "background 0%,0% 0%,100%\n"
                                 "object 50%,50%\n"
                                 "apply\n"
                                 "ok\n";

CPicture SkyWithSquare() {
  CPicture picture;
  picture.width = picture.height = kSize;
  picture.channels = 3;
  picture.bytes.resize(kSize * kSize * 3);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      uint8_t* p = &picture.bytes[(y * kSize + x) * 3];
      const bool square = x >= 30 && x < 66 && y >= 30 && y < 66;
      p[0] = square ? 200 : 70;
      p[1] = square ? 30 : 120;
      p[2] = square ? 40 : static_cast<uint8_t>(190 + x / 16);
    }
  }
  return picture;
}

class HostPicturesTest : public CKelvaneFolderTest {
 protected:
  void SetUp() override {
    CKelvaneFolderTest::SetUp();
    WriteText("s.txt", kSession);
    std::string error;
    ASSERT_TRUE(WritePicture(Path("sky.png"), "png", SkyWithSquare(), false, true, error)) << error;
  }
  CPicture Read(const std::string& name) {
    CPicture picture;
    std::string error;
    EXPECT_TRUE(ReadPicture(Path(name), picture, error)) << error;
    return picture;
  }
};

TEST_F(HostPicturesTest, MaskAndFlattenedCutOutFollowTheAlphaOfTheCutOut) {
  ASSERT_EQ(Kelvane("--script s.txt sky.png cut.png").status, 0);
  const CPicture cut = Read("cut.png");
  ASSERT_EQ(cut.channels, 4);
  EXPECT_EQ(cut.bytes[3], 0);                             // sky corner removed
  EXPECT_EQ(cut.bytes[(48 * kSize + 48) * 4 + 3], 255);  // square kept

  const CRun mask = Kelvane("--script s.txt --mask sky.png mask.png");
  ASSERT_EQ(mask.status, 0) << mask.output;
  const CPicture matte = Read("mask.png");
  ASSERT_EQ(matte.channels, 1);
  const CRun flat = Kelvane("--script s.txt --flatten '#204080' sky.png flat.png");
  ASSERT_EQ(flat.status, 0) << flat.output;
  const CPicture flattened = Read("flat.png");
  ASSERT_EQ(flattened.channels, 3);
  for (size_t i = 0; i < static_cast<size_t>(kSize * kSize); ++i) {
    const uint8_t* p = &cut.bytes[i * 4];
    ASSERT_EQ(matte.bytes[i], p[3]) << i;
    ASSERT_EQ(flattened.bytes[i * 3], OverColour(p[0], p[3], 0x20)) << i;
    ASSERT_EQ(flattened.bytes[i * 3 + 1], OverColour(p[1], p[3], 0x40)) << i;
    ASSERT_EQ(flattened.bytes[i * 3 + 2], OverColour(p[2], p[3], 0x80)) << i;
  }
  // A product on white, straight to JPEG.
  EXPECT_EQ(Kelvane("--script s.txt --flatten white sky.png shop.jpg").status, 0);
  EXPECT_EQ(Read("shop.jpg").channels, 3);
}

TEST_F(HostPicturesTest, OutputsThatCannotBeRightAreRefusedBeforeAnythingRuns) {
  for (const char* output : {"out.jpg", "out.JPEG", "out.bmp", "out"}) {
    const CRun run = Kelvane(std::string("--script s.txt sky.png ") + output);
    EXPECT_EQ(run.status, 2) << output;
    EXPECT_NE(run.output.find(output), std::string::npos) << run.output;
    EXPECT_FALSE(Exists(output));
  }
  // The original itself, by whatever name or link.
  std::filesystem::create_symlink("sky.png", m_dir / "link.png");
  const auto before = std::filesystem::file_size(Path("sky.png"));
  for (const char* same : {"sky.png", "./sky.png", "link.png"}) {
    const CRun run = Kelvane(std::string("--script s.txt sky.png ") + same);
    EXPECT_EQ(run.status, 2) << same;
    EXPECT_NE(run.output.find("input"), std::string::npos) << run.output;
  }
  EXPECT_EQ(std::filesystem::file_size(Path("sky.png")), before);
  // Without OUTPUT the result goes beside the input, wherever the program runs.
  std::filesystem::create_directory(Path("photos"));
  std::filesystem::copy_file(Path("sky.png"), Path("photos/sky.png"));
  ASSERT_EQ(Kelvane("--script s.txt photos/sky.png").status, 0);
  EXPECT_TRUE(Exists("photos/sky.kelvane.png"));
}

TEST_F(HostPicturesTest, StandardInputAndOutputCarryThePicture) {
  ASSERT_EQ(Kelvane("--script s.txt sky.png file.png").status, 0);
  const CRun piped = Kelvane("--script s.txt - - < sky.png > piped.png");
  ASSERT_EQ(piped.status, 0) << piped.output;
  EXPECT_EQ(Read("piped.png").bytes, Read("file.png").bytes);
  const CRun webp = Kelvane("--script s.txt --format webp - - < sky.png > piped.webp");
  ASSERT_EQ(webp.status, 0) << webp.output;
  std::ifstream file(Path("piped.webp"), std::ios::binary);
  std::string head(12, '\0');
  file.read(head.data(), 12);
  EXPECT_EQ(head.substr(8, 4), "WEBP");
  // Lossless WebP keeps every visible pixel; the colour under full
  // transparency is the encoder's to drop.
  const CPicture fromWebp = Read("piped.webp");
  const CPicture fromPng = Read("file.png");
  ASSERT_EQ(fromWebp.bytes.size(), fromPng.bytes.size());
  for (size_t i = 0; i < fromPng.bytes.size(); i += 4) {
    ASSERT_EQ(fromWebp.bytes[i + 3], fromPng.bytes[i + 3]) << i;
    if (fromPng.bytes[i + 3] == 0) continue;
    for (size_t c = 0; c < 3; ++c) ASSERT_EQ(fromWebp.bytes[i + c], fromPng.bytes[i + c]) << i;
  }
  // Not a picture on standard input: a clear refusal and nothing written.
  WriteText("notes.txt", "just words");
  const CRun words = Kelvane("--script s.txt - nothing.png < notes.txt");
  EXPECT_EQ(words.status, 2);
  EXPECT_NE(words.output.find("standard input"), std::string::npos) << words.output;
  EXPECT_FALSE(Exists("nothing.png"));
}

// A full disk is said as the system says it, whichever format was being
// written, and fails the run.
TEST_F(HostPicturesTest, AWriteThatFailsSaysTheSystemsCauseForEveryFormat) {
  for (const char* format : {"png", "tif", "webp", "jpg", "jxl"}) {
    const std::string flatten = std::string(format) == "jpg" ? " --flatten white" : "";
    const CRun full = RunCommand("cd '" + Path("") + "' && DISPLAY= XDG_CONFIG_HOME=config '" +
                                 KELVANE_BIN_DIR + "/kelvane' --script s.txt --format " + format +
                                 flatten + " sky.png - 2>&1 >/dev/full");
    EXPECT_NE(full.status, 0) << format;
    EXPECT_NE(full.output.find("No space left on device"), std::string::npos)
        << format << ": " << full.output;
  }
}

TEST_F(HostPicturesTest, ProfileExifAndXmpTravelToTheOutputAndStripDropsAllButTheProfile) {
  void* profile = nullptr;
  size_t profileLength = 0;
  VipsBlob* blob = nullptr;
  ASSERT_EQ(vips_profile_load("srgb", &blob, nullptr), 0);
  profile = const_cast<void*>(vips_blob_get(blob, &profileLength));
  const std::string icc(static_cast<const char*>(profile), profileLength);
  const std::string xmp =
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/"
      "22-rdf-syntax-ns#\"/></x:xmpmeta>";
  const CPicture sky = SkyWithSquare();
  CImage image(vips_image_new_from_memory_copy(sky.bytes.data(), sky.bytes.size(), kSize, kSize,
                                               3, VIPS_FORMAT_UCHAR));
  vips_image_set_blob_copy(image.get(), VIPS_META_ICC_NAME, icc.data(), icc.size());
  vips_image_set_blob_copy(image.get(), VIPS_META_XMP_NAME, xmp.data(), xmp.size());
  // Stored turned a half turn, as the camera was held upside down.
  vips_image_set_int(image.get(), VIPS_META_ORIENTATION, 3);
  ASSERT_EQ(vips_image_write_to_file(image.get(), Path("camera.jpg").c_str(), "Q", 98, nullptr),
            0);
  vips_area_unref(reinterpret_cast<VipsArea*>(blob));

  for (const std::string format : {"png", "webp", "tif"}) {
    const std::string out = "kept." + format;
    ASSERT_EQ(Kelvane("--script s.txt camera.jpg " + out).status, 0) << out;
    CImage kept(vips_image_new_from_file(Path(out).c_str(), nullptr));
    ASSERT_TRUE(kept) << out;
    EXPECT_EQ(BlobText(kept.get(), VIPS_META_ICC_NAME), icc) << out;
    // The pixels are upright, and the file does not turn them again.
    EXPECT_EQ(vips_image_get_orientation(kept.get()), 1) << out;
    if (format != "tif") {
      EXPECT_NE(BlobText(kept.get(), VIPS_META_XMP_NAME).find("xmpmeta"), std::string::npos)
          << out;
      EXPECT_FALSE(BlobText(kept.get(), VIPS_META_EXIF_NAME).empty()) << out;
    }
  }
  ASSERT_EQ(Kelvane("--script s.txt --strip camera.jpg stripped.png").status, 0);
  CImage stripped(vips_image_new_from_file(Path("stripped.png").c_str(), nullptr));
  ASSERT_TRUE(stripped);
  EXPECT_EQ(BlobText(stripped.get(), VIPS_META_ICC_NAME), icc);
  EXPECT_TRUE(BlobText(stripped.get(), VIPS_META_XMP_NAME).empty());
  EXPECT_TRUE(BlobText(stripped.get(), VIPS_META_EXIF_NAME).empty());
}

TEST_F(HostPicturesTest, VersionNamesTheLibraries) {
  const CRun run = Kelvane("--version");
  EXPECT_EQ(run.status, 0);
  for (const char* name : {"kelvane ", "libvips 8.", "libpng 1.", "Qt 6."}) {
    EXPECT_NE(run.output.find(name), std::string::npos) << run.output;
  }
}

}  // namespace
