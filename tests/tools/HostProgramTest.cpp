// The host program run as a user runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "KelvaneRun.h"
#include "PngTestFiles.h"
#include "PictureTestFiles.h"

namespace {

using HostProgramTest = CKelvaneFolderTest;

}  // namespace

TEST_F(HostProgramTest, ListShowsTheModuleWithItsCategoryAndName) {
  const CRun run = Kelvane("--list");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("kelvane.8bf"), std::string::npos);
  EXPECT_NE(run.output.find("Orvanta"), std::string::npos);
  EXPECT_NE(run.output.find("Kelvane..."), std::string::npos);
}

// A layer under 64 pixels a side is too small for any run: the session
// completes and hands the layer back as it came, which shows the transfer
// both ways, partial alpha included.
constexpr const char* kUnchangedSession = "object 0,0\napply\nok\n";

TEST_F(HostProgramTest, RgbaPictureComesBackWithTheSamePixels) {
  std::vector<uint8_t> rgba(5 * 4 * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 13 + 1);
  std::string error;
  ASSERT_TRUE(WriteRgbaPicture(Path("in.png"), 5, 4, rgba.data(), error));
  WriteText("s.txt", kUnchangedSession);
  const CRun run = Kelvane("--script s.txt in.png out.png");
  ASSERT_EQ(run.status, 0) << run.output;
  CPicture pixels;
  ASSERT_TRUE(ReadPicture(Path("out.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.bytes, rgba);
}

TEST_F(HostProgramTest, RgbWithoutAlphaGetsAnOpaqueLayer) {
  ASSERT_TRUE(WriteTestPng(Path("photo.png"), 2, 1, PNG_COLOR_TYPE_RGB, 8, {{1, 2, 3, 4, 5, 6}}));
  WriteText("s.txt", kUnchangedSession);
  const CRun run = Kelvane("--script s.txt photo.png out.png");
  ASSERT_EQ(run.status, 0) << run.output;
  CPicture pixels;
  std::string error;
  ASSERT_TRUE(ReadPicture(Path("out.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{1, 2, 3, 255, 4, 5, 6, 255}));
}

TEST_F(HostProgramTest, WithoutDisplayOrScriptTheEditorCannotOpenAndNothingIsWritten) {
  ASSERT_TRUE(WriteTestPng(Path("photo.png"), 2, 1, PNG_COLOR_TYPE_RGB, 8, {{1, 2, 3, 4, 5, 6}}));
  const CRun run = Kelvane("photo.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("the editor needs a display"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("--script"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("photo.kelvane.png"));
}

TEST_F(HostProgramTest, PlanesAsFileRefusesRgbAndWritesNothing) {
  ASSERT_TRUE(WriteTestPng(Path("rgb.png"), 2, 1, PNG_COLOR_TYPE_RGB, 8, {{1, 2, 3, 4, 5, 6}}));
  WriteText("s.txt", kUnchangedSession);
  const CRun run = Kelvane("--planes-as-file --script s.txt rgb.png out.png");
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.output.find("! Input Data Error !"), std::string::npos);
  EXPECT_NE(run.output.find("File is wrong format. Possibly missing layers.\nProgram requires "
                            "RGBA image (24 bit + transparency)."),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Path("out.png")));
}

TEST_F(HostProgramTest, UnreadableInputAndBadUsageExitWithTwo) {
  const CRun missing = Kelvane("nothing-here.png out.png");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.output.find("nothing-here.png"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Path("out.png")));
  EXPECT_EQ(Kelvane("--no-such-option").status, 2);
}

TEST_F(HostProgramTest, DemoRemovesTheSampleSkyAndKeepsTheBall) {
  const CRun run = Kelvane("--demo");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("sample.kelvane.png"), std::string::npos) << run.output;
  CPicture pixels;
  std::string error;
  ASSERT_TRUE(ReadPicture(Path("sample.kelvane.png"), pixels, error)) << error;
  ASSERT_EQ(pixels.channels, 4);
  auto alpha = [&](int x, int y) {
    return pixels.bytes[(static_cast<size_t>(y) * pixels.width + x) * 4 + 3];
  };
  EXPECT_EQ(alpha(150, 125), 255);  // the ball's centre
  EXPECT_EQ(alpha(120, 160), 255);
  for (const auto& [x, y] : {std::pair{2, 2}, {300, 20}, {20, 220}, {300, 230}, {160, 20}}) {
    EXPECT_EQ(alpha(x, y), 0) << x << "," << y;
  }
  EXPECT_EQ(Kelvane("--demo elsewhere.png").status, 0);
  EXPECT_TRUE(Exists("elsewhere.png"));
}

TEST_F(HostProgramTest, GreyPictureIsSpreadToRgbWithOpaqueAlpha) {
  ASSERT_TRUE(WriteTestPng(Path("grey.png"), 2, 1, PNG_COLOR_TYPE_GRAY, 8, {{7, 200}}));
  WriteText("s.txt", kUnchangedSession);
  const CRun run = Kelvane("--script s.txt grey.png out.png");
  ASSERT_EQ(run.status, 0) << run.output;
  CPicture pixels;
  std::string error;
  ASSERT_TRUE(ReadPicture(Path("out.png"), pixels, error)) << error;
  EXPECT_EQ(pixels.bytes, (std::vector<uint8_t>{7, 7, 7, 255, 200, 200, 200, 255}));
}

TEST_F(HostProgramTest, NonPngInputAndUnwritableOutputExitWithTwoNamingTheFile) {
  { std::ofstream(Path("notes.png")) << "plain text"; }
  const CRun text = Kelvane("notes.png out.png");
  EXPECT_EQ(text.status, 2);
  EXPECT_NE(text.output.find("notes.png"), std::string::npos) << text.output;

  std::vector<uint8_t> rgba(2 * 2 * 4, 9);
  std::string error;
  ASSERT_TRUE(WriteRgbaPicture(Path("in.png"), 2, 2, rgba.data(), error));
  const CRun nowhere = Kelvane("in.png no-such-folder/out.png");
  EXPECT_EQ(nowhere.status, 2);
  EXPECT_NE(nowhere.output.find("no-such-folder/out.png"), std::string::npos) << nowhere.output;
}

TEST_F(HostProgramTest, NoModuleInTheNamedFolderIsAFailureOfItsOwn) {
  std::filesystem::create_directory(Path("empty"));
  std::vector<uint8_t> rgba(2 * 2 * 4, 9);
  std::string error;
  ASSERT_TRUE(WriteRgbaPicture(Path("in.png"), 2, 2, rgba.data(), error));
  const CRun run = Kelvane("--plugins empty in.png out.png");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Kelvane..."), std::string::npos) << run.output;
  EXPECT_FALSE(std::filesystem::exists(Path("out.png")));
  EXPECT_EQ(Kelvane("--plugins empty --list").output, "");
}

TEST_F(HostProgramTest, HelpDescribesTheOptions) {
  const CRun run = Kelvane("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("--planes-as-file"), std::string::npos);
  EXPECT_NE(run.output.find("--list"), std::string::npos);
  for (const char* option : {"--script FILE INPUT [OUTPUT]", "--out-dir DIR", "--flatten",
                             "--mask", "--strip", "--format", "--jobs", "--version"}) {
    EXPECT_NE(run.output.find(option), std::string::npos) << option;
  }
  EXPECT_NE(run.output.find("--demo"), std::string::npos);
}

// A name the folder takes is written, however long, and nothing is left
// beside it; one it does not take is refused before the input is even read.
TEST_F(HostProgramTest, OutputNamesUpToTheLongestAreWrittenAndLongerOnesRefusedFirst) {
  std::vector<uint8_t> rgba(5 * 4 * 4, 200);
  std::string error;
  ASSERT_TRUE(WriteRgbaPicture(Path("in.png"), 5, 4, rgba.data(), error));
  WriteText("s.txt", kUnchangedSession);
  for (const size_t length : {248, 255}) {
    const std::string name = std::string(length - 4, 'o') + ".png";
    const CRun run = Kelvane("--script s.txt in.png " + name);
    EXPECT_EQ(run.status, 0) << length << run.output;
    EXPECT_TRUE(Exists(name)) << length;
    std::filesystem::remove(m_dir / name);
  }
  const CRun tooLong = Kelvane("--script s.txt missing.png " + std::string(252, 'o') + ".png");
  EXPECT_EQ(tooLong.status, 2) << tooLong.output;
  EXPECT_NE(tooLong.output.find("File name too long"), std::string::npos) << tooLong.output;
  EXPECT_EQ(tooLong.output.find("missing.png"), std::string::npos) << tooLong.output;
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(m_dir)) entries += entry.path() != m_dir / "config";
  EXPECT_EQ(entries, 2u);  // the input and the script
}

// A second picture named where the output goes, or a default name that an
// earlier run wrote, is never replaced unless the user says so.
TEST_F(HostProgramTest, AnExistingOutputIsRefusedBeforeAnyWorkAndReplacedOnlyWhenAsked) {
  std::vector<uint8_t> rgba(5 * 4 * 4, 120);
  std::string error;
  ASSERT_TRUE(WriteRgbaPicture(Path("shoot_001.png"), 5, 4, rgba.data(), error));
  rgba.assign(rgba.size(), 30);
  ASSERT_TRUE(WriteRgbaPicture(Path("shoot_002.png"), 5, 4, rgba.data(), error));
  WriteText("s.txt", kUnchangedSession);
  const auto bytes = [&](const std::string& name) { return ReadAll(Path(name)); };
  const std::string second = bytes("shoot_002.png");

  CRun run = Kelvane("--script s.txt shoot_001.png shoot_002.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("will not replace 'shoot_002.png'"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("--overwrite"), std::string::npos) << run.output;
  EXPECT_EQ(bytes("shoot_002.png"), second);

  run = Kelvane("--script s.txt shoot_001.png");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string first = bytes("shoot_001.kelvane.png");
  run = Kelvane("--script s.txt --mask shoot_001.png");
  ASSERT_EQ(run.status, 0) << run.output;
  run = Kelvane("--script s.txt shoot_001.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("shoot_001.kelvane.png"), std::string::npos) << run.output;

  run = Kelvane("--overwrite --script s.txt shoot_001.png shoot_002.png");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(bytes("shoot_002.png"), second);
  EXPECT_EQ(bytes("shoot_002.png"), first);
}

// The editor's session file is checked before the picture is read or the
// editor opens, so no session is lost to a refusal at its end.
TEST_F(HostProgramTest, AnExistingRecordFileIsRefusedBeforeTheEditorOpens) {
  std::vector<uint8_t> rgba(5 * 4 * 4, 120);
  std::string error;
  ASSERT_TRUE(WriteRgbaPicture(Path("shoot.png"), 5, 4, rgba.data(), error));
  WriteText("session.txt", "kept\n");
  CRun run = Kelvane("--record session.txt shoot.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("will not replace 'session.txt'"), std::string::npos) << run.output;
  EXPECT_EQ(ReadAll(Path("session.txt")), "kept\n");
  EXPECT_FALSE(Exists("shoot.kelvane.png"));
  // Nor is the picture itself, read or written, taken for the session.
  for (const char* command : {"--record shoot.png shoot.png out.png",
                              "--record out.png shoot.png out.png"}) {
    run = Kelvane(command);
    EXPECT_EQ(run.status, 2) << command << "\n" << run.output;
    EXPECT_NE(run.output.find("is the picture read or written"), std::string::npos) << run.output;
  }
  EXPECT_FALSE(Exists("out.png"));
}

// A disk that fills up says so whatever the format, and leaves nothing.
TEST_F(HostProgramTest, AWriteThatRunsOutOfRoomSaysWhyForEveryFormat) {
  std::vector<uint8_t> rgba(300 * 300 * 4);
  std::mt19937 random(5);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = i % 4 == 3 ? 255 : static_cast<uint8_t>(random());
  std::string error;
  ASSERT_TRUE(WriteRgbaPicture(Path("in.png"), 300, 300, rgba.data(), error));
  WriteText("s.txt", kUnchangedSession);
  for (const std::string name : {"out.png", "out.tif", "out.webp", "out.jpg"}) {
    // Files may grow to 16 KiB: the settings store fits, the picture does not.
    const CRun run = RunCommand(
        "cd '" + m_dir.string() + "' && trap '' XFSZ && ulimit -f 16 && DISPLAY= WAYLAND_DISPLAY= "
        "XDG_CONFIG_HOME='" + (m_dir / "config").string() + "' '" + KELVANE_BIN_DIR +
        "/kelvane' --script s.txt --flatten white in.png " + name + " 2>&1");
    EXPECT_EQ(run.status, 2) << name << run.output;
    EXPECT_NE(run.output.find("File too large"), std::string::npos) << name << run.output;
    EXPECT_FALSE(Exists(name)) << name;
  }
}
