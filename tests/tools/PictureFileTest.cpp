#include "tools/kelvane/PictureReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "KelvaneRun.h"
#include "PictureTestFiles.h"
#include "PngTestFiles.h"

namespace {

using PictureFileTest = CKelvaneFolderTest;

}  // namespace

TEST_F(PictureFileTest, ReadsEveryColourTypeExpandedToEightBits) {
  std::string error;
  CPicture pixels;

  ASSERT_TRUE(WriteTestPng(Path("grey16.png"), 2, 1, PNG_COLOR_TYPE_GRAY, 16,
                           {{0x12, 0x34, 0xFF, 0xFF}}));
  ASSERT_TRUE(ReadPicture(Path("grey16.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 1);
  EXPECT_EQ(pixels.bytes[1], 255);

  ASSERT_TRUE(WriteTestPng(Path("greya.png"), 1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{7, 9}}));
  ASSERT_TRUE(ReadPicture(Path("greya.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 2);
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{7, 9}));

  ASSERT_TRUE(WriteTestPng(Path("rgb16.png"), 1, 1, PNG_COLOR_TYPE_RGB, 16,
                           {{0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00}}));
  ASSERT_TRUE(ReadPicture(Path("rgb16.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 3);
  EXPECT_EQ(pixels.bytes[0], 255);
  EXPECT_EQ(pixels.bytes[2], 0);

  // A palette with a tRNS chunk becomes RGBA.
  ASSERT_TRUE(WriteTestPng(Path("palette.png"), 2, 1, PNG_COLOR_TYPE_PALETTE, 8, {{0, 1}},
                           {{10, 20, 30}, {40, 50, 60}}, {128}));
  ASSERT_TRUE(ReadPicture(Path("palette.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 4);
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{10, 20, 30, 128, 40, 50, 60, 255}));
}

TEST_F(PictureFileTest, BadInputsGiveOneClearErrorNamingTheFile) {
  std::string error;
  CPicture pixels;
  EXPECT_FALSE(ReadPicture(Path("missing.png"), pixels, error));
  EXPECT_NE(error.find("missing.png"), std::string::npos);

  std::ofstream(Path("text.png")) << "this is no picture";
  error.clear();
  EXPECT_FALSE(ReadPicture(Path("text.png"), pixels, error));
  EXPECT_NE(error.find("text.png"), std::string::npos);

  const std::vector<uint8_t> rgba(64 * 64 * 4, 77);
  ASSERT_TRUE(WriteRgbaPicture(Path("whole.png"), 64, 64, rgba.data(), error)) << error;
  const auto size = std::filesystem::file_size(Path("whole.png"));
  std::filesystem::copy_file(Path("whole.png"), Path("truncated.png"));
  std::filesystem::resize_file(Path("truncated.png"), size / 2);
  error.clear();
  EXPECT_FALSE(ReadPicture(Path("truncated.png"), pixels, error));
  EXPECT_NE(error.find("truncated.png"), std::string::npos);
}

TEST_F(PictureFileTest, WriteRoundTripsAndAFailedWriteLeavesTheOldFile) {
  std::string error;
  std::vector<uint8_t> rgba(3 * 2 * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 11);
  ASSERT_TRUE(WriteRgbaPicture(Path("out.png"), 3, 2, rgba.data(), error)) << error;
  CPicture pixels;
  ASSERT_TRUE(ReadPicture(Path("out.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 4);
  EXPECT_EQ(pixels.bytes, rgba);

  // A folder where the file should be: the write fails and touches nothing.
  std::filesystem::create_directory(Path("taken.png"));
  error.clear();
  EXPECT_FALSE(WriteRgbaPicture(Path("taken.png"), 3, 2, rgba.data(), error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_directory(Path("taken.png")));
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2);  // out.png and the folder: no temporary left behind
}

TEST_F(PictureFileTest, SixteenBitChannelsAreScaledToTheNearestEightBitValue) {
  std::string error;
  CPicture pixels;
  // 0x1234 / 257 = 18.13 and 0x00FF / 257 = 0.99: the nearest value, where
  // dropping the low byte would give 0.
  ASSERT_TRUE(WriteTestPng(Path("rgba16.png"), 1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16,
                           {{0x12, 0x34, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF}}));
  ASSERT_TRUE(ReadPicture(Path("rgba16.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 4);
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{18, 1, 0, 255}));

  ASSERT_TRUE(WriteTestPng(Path("greya16.png"), 1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16,
                           {{0x80, 0x80, 0x01, 0x01}}));
  ASSERT_TRUE(ReadPicture(Path("greya16.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 2);
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{128, 1}));
}

TEST_F(PictureFileTest, LowDepthsPalettesAndTransparentColoursExpand) {
  std::string error;
  CPicture pixels;
  // 1-bit grey: 1, 0, 1 from the top bits of one byte.
  ASSERT_TRUE(WriteTestPng(Path("grey1.png"), 3, 1, PNG_COLOR_TYPE_GRAY, 1, {{0xA0}}));
  ASSERT_TRUE(ReadPicture(Path("grey1.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 1);
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{255, 0, 255}));

  // A 4-bit palette without tRNS stays opaque RGB.
  ASSERT_TRUE(WriteTestPng(Path("palette4.png"), 2, 1, PNG_COLOR_TYPE_PALETTE, 4, {{0x10}},
                           {{1, 2, 3}, {4, 5, 6}}));
  ASSERT_TRUE(ReadPicture(Path("palette4.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 3);
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{4, 5, 6, 1, 2, 3}));

  // A transparent grey value and a transparent RGB colour become alpha 0.
  png_color_16 grey{};
  grey.gray = 9;
  ASSERT_TRUE(WriteTestPng(Path("greytrns.png"), 2, 1, PNG_COLOR_TYPE_GRAY, 8, {{9, 10}}, {}, {},
                           false, &grey));
  ASSERT_TRUE(ReadPicture(Path("greytrns.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 2);
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{9, 0, 10, 255}));

  png_color_16 colour{};
  colour.red = 1;
  colour.green = 2;
  colour.blue = 3;
  ASSERT_TRUE(WriteTestPng(Path("rgbtrns.png"), 2, 1, PNG_COLOR_TYPE_RGB, 8,
                           {{1, 2, 3, 1, 2, 4}}, {}, {}, false, &colour));
  ASSERT_TRUE(ReadPicture(Path("rgbtrns.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 4);
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{1, 2, 3, 0, 1, 2, 4, 255}));
}

TEST_F(PictureFileTest, InterlacedFilesGiveTheSamePixels) {
  const int width = 13;
  const int height = 11;
  std::vector<std::vector<uint8_t>> rows(height, std::vector<uint8_t>(width * 3));
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < width * 3; ++i) rows[y][i] = static_cast<uint8_t>(y * 31 + i * 7);
  }
  ASSERT_TRUE(WriteTestPng(Path("plain.png"), width, height, PNG_COLOR_TYPE_RGB, 8, rows));
  ASSERT_TRUE(WriteTestPng(Path("adam7.png"), width, height, PNG_COLOR_TYPE_RGB, 8, rows, {}, {},
                           true));
  std::string error;
  CPicture plain;
  CPicture adam7;
  ASSERT_TRUE(ReadPicture(Path("plain.png"), plain, error)) << error;
  ASSERT_TRUE(ReadPicture(Path("adam7.png"), adam7, error)) << error;
  EXPECT_EQ(adam7.bytes, plain.bytes);
  EXPECT_EQ(plain.bytes[(5 * width + 4) * 3 + 1], rows[5][4 * 3 + 1]);
}

TEST_F(PictureFileTest, DamagedEmptyOddAndOversizedFilesAreRefusedWithTheirName) {
  std::string error;
  CPicture pixels;
  const std::vector<uint8_t> rgba(40 * 40 * 4, 77);
  ASSERT_TRUE(WriteRgbaPicture(Path("good.png"), 40, 40, rgba.data(), error)) << error;
  const auto size = std::filesystem::file_size(Path("good.png"));

  // One flipped byte in the compressed data: the chunk's checksum no longer fits.
  std::filesystem::copy_file(Path("good.png"), Path("corrupt.png"));
  {
    std::fstream file(Path("corrupt.png"), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(size - 20));
    file.put('\x5A');
  }
  // Cut just before the end chunk: all pixels present, the file still incomplete.
  std::filesystem::copy_file(Path("good.png"), Path("noend.png"));
  std::filesystem::resize_file(Path("noend.png"), size - 12);
  std::ofstream(Path("empty.png")).close();
  std::filesystem::create_directory(Path("folder.png"));

  for (const char* name : {"corrupt.png", "noend.png", "empty.png", "folder.png"}) {
    error.clear();
    EXPECT_FALSE(ReadPicture(Path(name), pixels, error)) << name;
    EXPECT_NE(error.find(name), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
  }

  ASSERT_TRUE(WriteTestPng(Path("wide.png"), 40000, 1, PNG_COLOR_TYPE_GRAY, 1,
                           {std::vector<uint8_t>(5000, 0)}));
  error.clear();
  EXPECT_FALSE(ReadPicture(Path("wide.png"), pixels, error));
  EXPECT_NE(error.find("wide.png"), std::string::npos);
  EXPECT_NE(error.find("32767"), std::string::npos) << error;
}

// A write that runs out of room half way (here: a file-size limit on the
// program) must leave the file that was there and no temporary beside it.
// The program runs in a process of its own: the picture library's threads do
// not survive a fork.
TEST_F(PictureFileTest, AWriteFailingHalfWayKeepsTheOldFile) {
  std::string error;
  const std::vector<uint8_t> old(2 * 2 * 4, 5);
  ASSERT_TRUE(WriteRgbaPicture(Path("result.png"), 2, 2, old.data(), error)) << error;
  const auto oldSize = std::filesystem::file_size(Path("result.png"));

  std::vector<uint8_t> noise(300 * 300 * 4);
  uint32_t state = 12345;
  for (uint8_t& byte : noise) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 23);
  }
  std::filesystem::create_directory(Path("in"));
  ASSERT_TRUE(WriteRgbaPicture(Path("in/noise.png"), 300, 300, noise.data(), error)) << error;
  std::ofstream(Path("in/s.txt")) << "object 0,0\napply\nok\n";
  // 40 blocks of 512 bytes: far less than the noise needs.
  const std::string command = "cd '" + m_dir.string() + "' && DISPLAY= XDG_CONFIG_HOME=config " +
                              "sh -c \"trap '' XFSZ; ulimit -f 40; exec '" + KELVANE_BIN_DIR +
                              "/kelvane' --script in/s.txt in/noise.png result.png\" 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string said;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) said.append(buffer, n);
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status)) << said;
  EXPECT_EQ(WEXITSTATUS(status), 2) << said;
  EXPECT_NE(said.find("result.png"), std::string::npos) << said;

  CPicture pixels;
  ASSERT_TRUE(ReadPicture(Path("result.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.bytes, old);
  EXPECT_EQ(std::filesystem::file_size(Path("result.png")), oldSize);
  for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "result.png" || name == "in" || name == "config") << name;
  }
}
