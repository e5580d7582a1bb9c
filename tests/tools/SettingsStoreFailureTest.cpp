// Settings that cannot be stored as a session ends: the session's result is
// still written, and the user is told which file could not be written and
// why, rather than finding the old settings back without a word.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "KelvaneRun.h"
#include "PictureTestFiles.h"

namespace {

class SettingsStoreFailureTest : public CKelvaneFolderTest {
 protected:
  void SetUp() override {
    CKelvaneFolderTest::SetUp();
    // Blue above, red below, so the session's background mark removes
    // something to see.
    std::vector<uint8_t> rgba(static_cast<size_t>(kSide) * kSide * 4, 255);
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        uint8_t* p = &rgba[(static_cast<size_t>(y) * kSide + x) * 4];
        p[0] = y < kSide / 2 ? 40 : 200;
        p[1] = y < kSide / 2 ? 90 : 30;
        p[2] = y < kSide / 2 ? 220 : 20;
      }
    }
    std::string error;
    ASSERT_TRUE(WriteRgbaPicture(Path("in.png"), kSide, kSide, rgba.data(), error)) << error;
    WriteText("s.txt", "background 4,4 90,4\napply\nok\n");
    std::filesystem::create_directories(m_dir / "config");
  }

  std::string StorePath() const { return (m_dir / "config" / "kelvane" / "registry").string(); }

  static constexpr int kSide = 96;
};

TEST_F(SettingsStoreFailureTest, AStoreThatCannotBeWrittenIsNamedAndTheResultIsStillWritten) {
  // The store's folder name is taken by a file: no one, the superuser
  // included, can write the store there.
  WriteText("config/kelvane", "not a folder");
  const CRun run = Kelvane("--script s.txt in.png out.png");
  EXPECT_EQ(run.status, 0) << run.output;
  CPicture result;
  std::string error;
  ASSERT_TRUE(ReadPicture(Path("out.png"), result, error)) << error << run.output;
  EXPECT_EQ(result.bytes.at(3), 0);  // the marked sky went
  EXPECT_NE(run.output.find(StorePath() + ": " + std::strerror(ENOTDIR)), std::string::npos) << run.output;
  std::ifstream kept(m_dir / "config" / "kelvane");
  std::stringstream text;
  text << kept.rdbuf();
  EXPECT_EQ(text.str(), "not a folder");
}

TEST_F(SettingsStoreFailureTest, AStoreThatCanBeWrittenIsNotMentioned) {
  const CRun run = Kelvane("--script s.txt in.png out.png");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Exists("out.png"));
  EXPECT_EQ(run.output.find(StorePath()), std::string::npos) << run.output;
  EXPECT_TRUE(std::filesystem::exists(StorePath()));
}

}  // namespace
