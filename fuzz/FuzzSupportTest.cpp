#include "fuzz/FuzzSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "platform/Bitmap.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// A bottom-up bitmap of `bitCount` bits a pixel with `tableEntries` colours.
std::vector<uint8_t> Dib(int width, int height, int bitCount, int tableEntries) {
  BITMAPINFOHEADER header;
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = static_cast<uint16_t>(bitCount);
  header.biClrUsed = static_cast<uint32_t>(tableEntries);
  const int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  std::vector<uint8_t> bytes(sizeof header + 4 * static_cast<size_t>(tableEntries) +
                             static_cast<size_t>(DibRowBytes(width, bitCount) * rows));
  std::memcpy(bytes.data(), &header, sizeof header);
  for (size_t i = sizeof header; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  return bytes;
}

}  // namespace

TEST(MemoryFile, ReadersSeeTheBytesByItsPath) {
  const uint8_t bytes[] = {'K', 0, 'v', 0xFF, '\n'};
  std::string path;
  {
    CMemoryFile file(bytes, sizeof bytes);
    ASSERT_TRUE(file.IsOpen());
    path = file.Path();
    EXPECT_EQ(ReadAll(path), std::string(reinterpret_cast<const char*>(bytes), sizeof bytes));
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));  // readers that insist on a regular file take it
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST(MemoryFile, AnEmptyInputIsAnEmptyFile) {
  CMemoryFile file(nullptr, 0);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(ReadAll(file.Path()), "");
}

TEST(ScratchFolder, IsOneFolderUnderTheTemporaryFolder) {
  const std::string& folder = ScratchFolder();
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(&folder, &ScratchFolder());
  const char* base = std::getenv("TMPDIR");
  EXPECT_EQ(folder.rfind(std::string(base && base[0] == '/' ? base : "/tmp") + "/kelvane-fuzz-", 0), 0u);
}

TEST(ScratchFolder, ThePrivateConfigurationLiesInIt) {
  UsePrivateConfiguration();
  const char* config = std::getenv("XDG_CONFIG_HOME");
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(std::string(config), ScratchFolder() + "/config");
  EXPECT_TRUE(fs::is_directory(config));
}

TEST(WriteWholeFile, ReplacesWhatWasThere) {
  const std::string path = ScratchFolder() + "/replaced";
  const uint8_t longer[] = {1, 2, 3, 4, 5, 6};
  const uint8_t shorter[] = {9};
  ASSERT_TRUE(WriteWholeFile(path, longer, sizeof longer));
  ASSERT_TRUE(WriteWholeFile(path, shorter, sizeof shorter));
  EXPECT_EQ(ReadAll(path), "\x09");
  EXPECT_FALSE(WriteWholeFile(ScratchFolder() + "/no/such/folder/file", shorter, sizeof shorter));
}

TEST(ExpectAccepted, RefusalsPassUnlessSeedsAreChecked) {
  unsetenv("KELVANE_FUZZ_REQUIRE_VALID");
  ExpectAccepted(false, "a refusal while fuzzing");
  setenv("KELVANE_FUZZ_REQUIRE_VALID", "1", 1);
  ExpectAccepted(true, "an accepted seed");
  EXPECT_DEATH(ExpectAccepted(false, "a refused seed"), "a seed was refused: a refused seed");
  unsetenv("KELVANE_FUZZ_REQUIRE_VALID");
}

TEST(Require, AbortsNamingTheBrokenPromise) {
  Require(true, "kept");
  EXPECT_DEATH(Require(false, "broken"), "broken promise: broken");
}

TEST(PackedDibBytes, IsExactlyWhatTheImporterReads) {
  for (const auto& [width, height, bits, table] :
       std::vector<std::tuple<int, int, int, int>>{{3, 5, 24, 0}, {7, -2, 1, 2}, {5, 3, 4, 16},
                                                     {4, 4, 8, 256}, {2, 2, 32, 0}, {3, 1, 16, 256}}) {
    std::vector<uint8_t> dib = Dib(width, height, bits, table);
    const auto needed = PackedDibBytes(dib.data(), dib.size(), dib.size());
    ASSERT_TRUE(needed.has_value()) << width << "x" << height << "x" << bits;
    EXPECT_EQ(*needed, dib.size());
    // Exactly that many bytes, on the heap, so any read past them is seen.
    CCoreImage image;
    CoreResult result = image.FromPackedDib(dib.data());
    EXPECT_EQ(ExamineResult(result), 0u) << width << "x" << height << "x" << bits;
    EXPECT_FALSE(PackedDibBytes(dib.data(), dib.size() - 1, dib.size() - 1).has_value());
  }
}

TEST(PackedDibBytes, AnEmptyBitmapNeedsOnlyItsHeaderAndTable) {
  const std::vector<uint8_t> dib = Dib(0, 4, 8, 2);
  EXPECT_EQ(PackedDibBytes(dib.data(), dib.size(), 1000).value_or(0), sizeof(BITMAPINFOHEADER) + 8);
}

TEST(PackedDibBytes, RefusesHeadersThatDescribeNoReadableBlock) {
  std::vector<uint8_t> dib = Dib(2, 2, 24, 0);
  BITMAPINFOHEADER header;
  std::memcpy(&header, dib.data(), sizeof header);
  const auto with = [&](auto change) {
    BITMAPINFOHEADER changed = header;
    change(changed);
    std::vector<uint8_t> bytes = dib;
    std::memcpy(bytes.data(), &changed, sizeof changed);
    return PackedDibBytes(bytes.data(), bytes.size(), UINT32_MAX);
  };
  EXPECT_FALSE(PackedDibBytes(dib.data(), sizeof header - 1, UINT32_MAX).has_value());
  EXPECT_FALSE(with([](BITMAPINFOHEADER& h) { h.biSize = 12; }).has_value());
  EXPECT_FALSE(with([](BITMAPINFOHEADER& h) { h.biCompression = 1; }).has_value());
  EXPECT_FALSE(with([](BITMAPINFOHEADER& h) { h.biWidth = -2; }).has_value());
  EXPECT_FALSE(with([](BITMAPINFOHEADER& h) { h.biHeight = INT32_MIN; }).has_value());
  // Sizes whose product would wrap 64 bits are refused, not wrapped.
  EXPECT_FALSE(with([](BITMAPINFOHEADER& h) {
                 h.biWidth = INT32_MAX;
                 h.biHeight = INT32_MAX;
                 h.biBitCount = 65535;
               }).has_value());
  EXPECT_EQ(with([](BITMAPINFOHEADER& h) { h.biHeight = -2; }).value_or(0), dib.size());
}
