#include "tools/filterhost/PluginScanner.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/filterhost/ElfSection.h"

namespace {

namespace fs = std::filesystem;

const std::string kModule = std::string(KELVANE_PLUGIN_DIR) + "/kelvane.8bf";

class PluginScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(::testing::TempDir()) /
            ("kelvane-scan-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string Path(const char* name) const { return (m_dir / name).string(); }

  fs::path m_dir;
};

TEST_F(PluginScannerTest, ReadsTheModulesPropertiesWithoutLoadingIt) {
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(ReadElfSection(kModule, ".pipl", bytes, error)) << error;
  CPluginInfo info;
  ASSERT_TRUE(ParsePipl(bytes.data(), bytes.size(), info, error)) << error;
  EXPECT_EQ(info.kind, "8BFM");
  EXPECT_EQ(info.name, "Kelvane...");
  EXPECT_EQ(info.category, "Orvanta");
  EXPECT_EQ(info.entryPoint, "ENTRYPOINT");
}

TEST_F(PluginScannerTest, DamagedListsAreRefusedWithoutReadingPastThem) {
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(ReadElfSection(kModule, ".pipl", bytes, error)) << error;
  CPluginInfo info;
  // Every cut of the list is refused, and none reads beyond what it was given.
  for (size_t size = 0; size < bytes.size(); ++size) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(ParsePipl(cut.data(), cut.size(), info, error)) << size;
  }
  std::vector<uint8_t> longName = bytes;
  longName[10 + 16 + 4 + 16] = 200;  // the name claims more text than its property holds
  EXPECT_FALSE(ParsePipl(longName.data(), longName.size(), info, error));
  std::vector<uint8_t> hugeLength = bytes;
  hugeLength[10 + 12 + 3] = 0x7F;  // first property length far past the end
  EXPECT_FALSE(ParsePipl(hugeLength.data(), hugeLength.size(), info, error));
}

TEST_F(PluginScannerTest, ElfReaderRefusesWhatIsNotAnElfFileOrLacksTheSection) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_FALSE(ReadElfSection(kModule, ".no-such-section", bytes, error));
  EXPECT_NE(error.find(".no-such-section"), std::string::npos);

  std::ofstream(Path("text.8bf")) << "not a module at all";
  EXPECT_FALSE(ReadElfSection(Path("text.8bf"), ".pipl", bytes, error));
  EXPECT_FALSE(ReadElfSection(Path("missing.8bf"), ".pipl", bytes, error));

  // The module's first kilobyte: the header points at a section table that
  // is not there.
  fs::copy_file(kModule, Path("cut.8bf"));
  fs::resize_file(Path("cut.8bf"), 1024);
  EXPECT_FALSE(ReadElfSection(Path("cut.8bf"), ".pipl", bytes, error));
  EXPECT_TRUE(bytes.empty());
}

TEST_F(PluginScannerTest, ScanListsFilterModulesOnlyAndEachOnce) {
  fs::copy_file(kModule, Path("b.8bf"));
  fs::copy_file(kModule, Path("a.8bf"));
  fs::copy_file(kModule, Path("not-a-module.so"));
  std::ofstream(Path("bogus.8bf")) << "text";
  fs::create_directory(Path("folder.8bf"));

  const std::vector<CPluginInfo> found =
      ScanPluginFolders({m_dir.string(), m_dir.string(), Path("no-such-folder")});
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(fs::path(found[0].path).filename(), "a.8bf");
  EXPECT_EQ(fs::path(found[1].path).filename(), "b.8bf");
  EXPECT_TRUE(fs::path(found[0].path).is_absolute());
  EXPECT_EQ(found[1].category, "Orvanta");
}

}  // namespace
