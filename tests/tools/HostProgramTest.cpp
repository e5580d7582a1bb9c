// The host program run as a user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "PngTestFiles.h"
#include "tools/kelvane/PngFile.h"

namespace {

struct CRun {
  int status = -1;
  std::string output;  // standard output and standard error
};

CRun RunKelvane(const std::string& arguments, const std::filesystem::path& dir) {
  const std::string command = "cd '" + dir.string() + "' && DISPLAY= WAYLAND_DISPLAY= '" +
                              KELVANE_BIN_DIR + "/kelvane' " + arguments + " 2>&1";
  CRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class HostProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::path(::testing::TempDir()) /
            ("kelvane-host-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }
  std::string Path(const char* name) const { return (m_dir / name).string(); }

  std::filesystem::path m_dir;
};

}  // namespace

TEST_F(HostProgramTest, ListShowsTheModuleWithItsCategoryAndName) {
  const CRun run = RunKelvane("--list", m_dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("kelvane.8bf"), std::string::npos);
  EXPECT_NE(run.output.find("Orvanta"), std::string::npos);
  EXPECT_NE(run.output.find("Kelvane..."), std::string::npos);
}

TEST_F(HostProgramTest, RgbaPictureComesBackWithTheSamePixels) {
  std::vector<uint8_t> rgba(5 * 4 * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 13 + 1);
  std::string error;
  ASSERT_TRUE(WritePngRGBA(Path("in.png"), 5, 4, rgba.data(), error));
  const CRun run = RunKelvane("in.png out.png", m_dir);
  ASSERT_EQ(run.status, 0) << run.output;
  CPngPixels pixels;
  ASSERT_TRUE(ReadPng(Path("out.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.bytes, rgba);
}

TEST_F(HostProgramTest, RgbWithoutAlphaGetsAnOpaqueLayerAndADefaultOutputName) {
  ASSERT_TRUE(WriteTestPng(Path("photo.png"), 2, 1, PNG_COLOR_TYPE_RGB, 8, {{1, 2, 3, 4, 5, 6}}));
  const CRun run = RunKelvane("photo.png", m_dir);
  ASSERT_EQ(run.status, 0) << run.output;
  CPngPixels pixels;
  std::string error;
  ASSERT_TRUE(ReadPng(Path("photo.kelvane.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{1, 2, 3, 255, 4, 5, 6, 255}));
}

TEST_F(HostProgramTest, PlanesAsFileRefusesRgbAndWritesNothing) {
  ASSERT_TRUE(WriteTestPng(Path("rgb.png"), 2, 1, PNG_COLOR_TYPE_RGB, 8, {{1, 2, 3, 4, 5, 6}}));
  const CRun run = RunKelvane("--planes-as-file rgb.png out.png", m_dir);
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.output.find("! Input Data Error !"), std::string::npos);
  EXPECT_NE(run.output.find("File is wrong format. Possibly missing layers.\nProgram requires "
                            "RGBA image (24 bit + transparency)."),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Path("out.png")));
}

TEST_F(HostProgramTest, UnreadableInputAndBadUsageExitWithTwo) {
  const CRun missing = RunKelvane("nothing-here.png out.png", m_dir);
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.output.find("nothing-here.png"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Path("out.png")));
  EXPECT_EQ(RunKelvane("--no-such-option", m_dir).status, 2);
}

TEST_F(HostProgramTest, SamplePictureRunsWithoutAnInput) {
  const CRun run = RunKelvane("", m_dir);
  ASSERT_EQ(run.status, 0) << run.output;
  CPngPixels pixels;
  std::string error;
  ASSERT_TRUE(ReadPng(Path("sample.kelvane.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.channels, 4);
  EXPECT_GT(pixels.width, 100);
}

TEST_F(HostProgramTest, GreyPictureIsSpreadToRgbWithOpaqueAlpha) {
  ASSERT_TRUE(WriteTestPng(Path("grey.png"), 2, 1, PNG_COLOR_TYPE_GRAY, 8, {{7, 200}}));
  const CRun run = RunKelvane("grey.png out.png", m_dir);
  ASSERT_EQ(run.status, 0) << run.output;
  CPngPixels pixels;
  std::string error;
  ASSERT_TRUE(ReadPng(Path("out.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{7, 7, 7, 255, 200, 200, 200, 255}));
}

TEST_F(HostProgramTest, NonPngInputAndUnwritableOutputExitWithTwoNamingTheFile) {
  { std::ofstream(Path("notes.png")) << "plain text"; }
  const CRun text = RunKelvane("notes.png out.png", m_dir);
  EXPECT_EQ(text.status, 2);
  EXPECT_NE(text.output.find("notes.png"), std::string::npos) << text.output;

  std::vector<uint8_t> rgba(2 * 2 * 4, 9);
  std::string error;
  ASSERT_TRUE(WritePngRGBA(Path("in.png"), 2, 2, rgba.data(), error));
  const CRun nowhere = RunKelvane("in.png no-such-folder/out.png", m_dir);
  EXPECT_EQ(nowhere.status, 2);
  EXPECT_NE(nowhere.output.find("no-such-folder/out.png"), std::string::npos) << nowhere.output;
}

TEST_F(HostProgramTest, NoModuleInTheNamedFolderIsAFailureOfItsOwn) {
  std::filesystem::create_directory(Path("empty"));
  std::vector<uint8_t> rgba(2 * 2 * 4, 9);
  std::string error;
  ASSERT_TRUE(WritePngRGBA(Path("in.png"), 2, 2, rgba.data(), error));
  const CRun run = RunKelvane("--plugins empty in.png out.png", m_dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Kelvane..."), std::string::npos) << run.output;
  EXPECT_FALSE(std::filesystem::exists(Path("out.png")));
  EXPECT_EQ(RunKelvane("--plugins empty --list", m_dir).output, "");
}

TEST_F(HostProgramTest, HelpDescribesTheOptions) {
  const CRun run = RunKelvane("--help", m_dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("--planes-as-file"), std::string::npos);
  EXPECT_NE(run.output.find("--list"), std::string::npos);
}
