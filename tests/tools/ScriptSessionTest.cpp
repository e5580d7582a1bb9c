// Whole sessions replayed through `kelvane --script`, as a user would run them.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "KelvaneRun.h"
#include "PictureTestFiles.h"
#include "platform/HostInterface.h"

namespace {

constexpr int kSize = 128;

struct CRgb {
  int r, g, b;
};

constexpr CRgb kSky{60, 110, 200};
constexpr CRgb kRed{200, 30, 40};
constexpr CRgb kGreen{40, 190, 60};

// A sky that is flat at the left and drifts away from its colour towards
// the right (so a higher Strength reaches further), a green patch no sky mark
// reaches, and a red object. Both patches are well above the small-island
// size, so the cleanup keeps or removes them whole.
class CSkyPicture {
 public:
  CSkyPicture() : m_rgba(static_cast<size_t>(kSize) * kSize * 4) {
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        const int drift = x < 40 ? 0 : 2 * (x - 40);
        Fill(x, y, x + 1, y + 1, CRgb{kSky.r + drift, kSky.g + drift / 2, kSky.b - drift});
      }
    }
    Fill(96, 4, 124, 40, kGreen);
    Fill(56, 48, 104, 96, kRed);
  }
  void Fill(int x0, int y0, int x1, int y1, CRgb colour) {
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        uint8_t* p = &m_rgba[(static_cast<size_t>(y) * kSize + x) * 4];
        p[0] = static_cast<uint8_t>(colour.r);
        p[1] = static_cast<uint8_t>(colour.g);
        p[2] = static_cast<uint8_t>(colour.b);
        p[3] = 255;
      }
    }
  }
  bool Write(const std::string& path) const {
    std::string error;
    return WriteRgbaPicture(path, kSize, kSize, m_rgba.data(), error);
  }
  const std::vector<uint8_t>& Bytes() const { return m_rgba; }

 private:
  std::vector<uint8_t> m_rgba;
};

// The strokes every session here begins with: sky along three edges, one
// object stroke across the red square.
constexpr const char* kSkyStrokes = "background 2,2 2,64 2,126\n";
constexpr const char* kObjectStroke = "object 60,52 80,70 100,92\n";
constexpr const char* kGreenStroke = "background 100,8 120,36\n";

class ScriptSessionTest : public CKelvaneFolderTest {
 protected:
  void SetUp() override {
    CKelvaneFolderTest::SetUp();
    ASSERT_TRUE(m_picture.Write(Path("in.png")));
  }

  // Replays `script` on the picture; the result's alpha plane, or nothing
  // when the run did not write.
  std::vector<uint8_t> Alpha(const std::string& script, const std::string& name = "out.png") {
    WriteText("s.txt", script);
    m_last = Kelvane("--overwrite --script s.txt in.png " + name);
    EXPECT_EQ(m_last.status, 0) << script << m_last.output;
    CPicture pixels;
    std::string error;
    if (!ReadPicture(Path(name), pixels, error)) return {};
    std::vector<uint8_t> alpha;
    for (size_t i = 3; i < pixels.bytes.size(); i += 4) alpha.push_back(pixels.bytes[i]);
    return alpha;
  }

  static uint8_t At(const std::vector<uint8_t>& alpha, int x, int y) {
    return alpha.at(static_cast<size_t>(y) * kSize + x);
  }

  std::string RegistryText() const {
    std::ifstream file(m_dir / "config" / "kelvane" / "registry");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  CSkyPicture m_picture;
  CRun m_last;
};

std::vector<uint8_t> Combine(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                             bool both) {
  std::vector<uint8_t> out(a.size());
  for (size_t i = 0; i < a.size(); ++i) {
    const bool x = a[i] == 255;
    const bool y = b[i] == 255;
    out[i] = (both ? x && y : x || y) ? 255 : 0;
  }
  return out;
}

std::string Session(std::initializer_list<std::string> lines) {
  std::string script;
  for (const std::string& line : lines) script += line + (line.back() == '\n' ? "" : "\n");
  return script;
}

}  // namespace

TEST_F(ScriptSessionTest, MarkedSkyGoesAndTheMarkedObjectStays) {
  const std::vector<uint8_t> alpha =
      Alpha(Session({kSkyStrokes, kObjectStroke, "apply", "ok"}));
  ASSERT_EQ(alpha.size(), static_cast<size_t>(kSize) * kSize);
  EXPECT_EQ(At(alpha, 80, 70), 255);
  EXPECT_EQ(At(alpha, 20, 110), 0);
  EXPECT_EQ(At(alpha, 110, 20), 255);  // green: no sky seed reaches it
  // Colours come back unchanged where the object stays.
  CPicture pixels;
  std::string error;
  ASSERT_TRUE(ReadPicture(Path("out.png"), pixels, error));
  const size_t at = (static_cast<size_t>(70) * kSize + 80) * 4;
  EXPECT_EQ(pixels.bytes[at], kRed.r);
  EXPECT_EQ(pixels.bytes[at + 1], kRed.g);
  EXPECT_EQ(pixels.bytes[at + 2], kRed.b);
}

TEST_F(ScriptSessionTest, RaisingStrengthOnlyRemovesMoreAndLoweringGivesBack) {
  // Feathering 0: the result's alpha is the binary matte itself.
  const std::string start = Session({"set feathering 0", kSkyStrokes});
  const std::vector<uint8_t> at30 = Alpha(start + "apply\nok\n", "a.png");
  const std::vector<uint8_t> at60 = Alpha(start + "set strength 60\napply\nok\n", "b.png");
  ASSERT_FALSE(at30.empty());
  ASSERT_NE(at30, at60) << "the patches must tell the two strengths apart";

  const std::vector<uint8_t> rising =
      Alpha(start + "apply\nset strength 60\napply\nok\n", "c.png");
  EXPECT_EQ(rising, Combine(at30, at60, true));
  const std::vector<uint8_t> falling =
      Alpha(start + "set strength 60\napply\nset strength 30\napply\nok\n", "d.png");
  EXPECT_EQ(falling, Combine(at30, at60, false));
}

TEST_F(ScriptSessionTest, EqualStrengthIntersectsAfterABackgroundStrokeAndUnitesAfterAnObject) {
  const std::string first = Session({"set feathering 0", kSkyStrokes, "apply"});
  const std::vector<uint8_t> before = Alpha(first + "ok\n", "a.png");
  ASSERT_EQ(At(before, 110, 20), 255);

  // Background drawn last: the new run's matte and the stored one both count.
  const std::vector<uint8_t> intersected = Alpha(first + kGreenStroke + "apply\nok\n", "b.png");
  EXPECT_EQ(At(intersected, 110, 20), 0);
  EXPECT_EQ(At(intersected, 20, 110), 0);

  // An object stroke last, or Textured Background clicked on and off again:
  // the stored matte gives the green patch back.
  for (const std::string& last : {std::string(kObjectStroke),
                                  std::string("set textured on\nset textured off\n")}) {
    const std::vector<uint8_t> united =
        Alpha(first + kGreenStroke + last + "apply\nok\n", "c.png");
    EXPECT_EQ(At(united, 110, 20), 255) << last;
    EXPECT_EQ(At(united, 20, 110), 0) << last;
  }
}

TEST_F(ScriptSessionTest, FillHolesAfterDeleteAllMarksKeepsMarkedHolesOpen) {
  // A hole marked as background inside the red square, and an erased patch
  // next to it that no mark protects.
  m_picture.Fill(64, 56, 78, 70, kSky);
  ASSERT_TRUE(m_picture.Write(Path("in.png")));
  const std::string session = Session({"set feathering 0", kSkyStrokes, "background 70,62",
                                       "object 90,60 96,90", "apply", "brush 6",
                                       "erase 90,80"});
  const std::vector<uint8_t> before = Alpha(session + "ok\n", "a.png");
  ASSERT_EQ(At(before, 70, 62), 0);
  ASSERT_EQ(At(before, 90, 80), 0);

  const std::vector<uint8_t> filled =
      Alpha(session + "delete-marks\nset fillholes on\napply\nok\n", "b.png");
  EXPECT_EQ(At(filled, 70, 62), 0);    // its mark outlives Delete All Marks
  EXPECT_EQ(At(filled, 90, 80), 255);  // enclosed by the object: filled
  EXPECT_EQ(At(filled, 20, 110), 0);
}

TEST_F(ScriptSessionTest, EraseClearsTheDabAndRecoverBringsTheLayerBack) {
  const std::string session = Session({"set feathering 0", kSkyStrokes, kObjectStroke, "apply",
                                       "brush 9", "erase 80,70"});
  const std::vector<uint8_t> erased = Alpha(session + "ok\n", "a.png");
  // A 9-pixel dab centred on 80,70 lies within columns and rows 76 to 84.
  EXPECT_EQ(At(erased, 80, 70), 0);
  EXPECT_EQ(At(erased, 80, 75), 255);
  EXPECT_EQ(At(erased, 85, 70), 255);

  const std::vector<uint8_t> recovered = Alpha(session + "recover 80,70\nok\n", "b.png");
  EXPECT_EQ(At(recovered, 80, 70), 255);
  EXPECT_EQ(At(recovered, 20, 110), 0);  // recover does not touch what the run erased
}

TEST_F(ScriptSessionTest, ResetForgetsEverythingBeforeIt) {
  const std::vector<uint8_t> fresh =
      Alpha(Session({"set feathering 0", kSkyStrokes, kObjectStroke, "apply", "ok"}), "a.png");
  const std::vector<uint8_t> afterReset =
      Alpha(Session({"set feathering 0", kGreenStroke, "set strength 80", "apply", "erase 80,70",
                     "reset", "set strength 30", kSkyStrokes, kObjectStroke, "apply", "ok"}),
            "b.png");
  EXPECT_EQ(afterReset, fresh);
}

TEST_F(ScriptSessionTest, CancelWritesNothingAndBothEndsKeepTheAppliedSettings) {
  for (const char* end : {"cancel\n", "ok\n"}) {
    std::filesystem::remove_all(m_dir / "config");
    WriteText("s.txt", Session({"set strength 55", "set smoothing 2", kSkyStrokes, "apply",
                                "set strength 70", end}));
    const CRun run = Kelvane("--script s.txt in.png out.png");
    const bool cancelled = end[0] == 'c';
    EXPECT_EQ(run.status, cancelled ? 3 : 0) << run.output;
    EXPECT_EQ(Exists("out.png"), !cancelled);
    std::filesystem::remove(m_dir / "out.png");
    // Typed but not applied: 70 never reaches the parameters.
    const std::string store = RegistryText();
    EXPECT_NE(store.find("\"Tolerance\"=4:37000000"), std::string::npos) << store;
    EXPECT_NE(store.find("\"SMOOTH\"=4:02000000"), std::string::npos) << store;
    for (const char* name : {"\"FEZER\"=4:01000000", "\"CONTRACT\"=4:00000000",
                             "\"FILLHOLES\"=4:00000000", "\"TEXTUREDBACK\"=4:00000000"}) {
      EXPECT_NE(store.find(name), std::string::npos) << name << "\n" << store;
    }
  }
}

TEST_F(ScriptSessionTest, TheNextSessionOpensWithTheStoredSettingsInTheFields) {
  // The panel opens at its defaults whatever the store holds; only Apply
  // stores the fields. So a second session without `set` runs at 30.
  const std::vector<uint8_t> at30 =
      Alpha(Session({"set feathering 0", kSkyStrokes, "apply", "ok"}), "a.png");
  Alpha(Session({"set strength 60", kSkyStrokes, "apply", "ok"}), "b.png");
  const std::vector<uint8_t> again =
      Alpha(Session({"set feathering 0", kSkyStrokes, "apply", "ok"}), "c.png");
  EXPECT_EQ(again, at30);
}

TEST_F(ScriptSessionTest, ScriptErrorsNameTheLineAndWriteNothing) {
  struct Case {
    std::string script;
    std::string where;
  };
  const std::vector<Case> cases = {
      {"apply\n", "s.txt:1"},                                     // nothing marked yet
      {std::string(kSkyStrokes) + "apply\nfrobnicate\n", "s.txt:3"},
      {"# comment\n\nbackground 1,x\n", "s.txt:3:12"},           // malformed point
      {"set strength 1.5\n", "s.txt:1:14"},
      {"delete-marks\n", "s.txt:1"},                              // no marks
      {"reset\n", "s.txt:1"},                                     // nothing modified
      {std::string(kSkyStrokes), "s.txt:1"},  // the end presses OK, still disabled
      {"preset Default\n", "s.txt:1"},                            // the preset row is off
      {"display result\n", "s.txt:1"},
  };
  for (const Case& c : cases) {
    WriteText("s.txt", c.script);
    const CRun run = Kelvane("--script s.txt in.png out.png");
    EXPECT_EQ(run.status, 2) << c.script << run.output;
    EXPECT_NE(run.output.find(c.where + ":"), std::string::npos) << c.script << run.output;
    EXPECT_FALSE(Exists("out.png")) << c.script;
  }
  const CRun missing = Kelvane("--script nowhere.txt in.png out.png");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.output.find("nowhere.txt"), std::string::npos) << missing.output;
  EXPECT_FALSE(Exists("out.png"));
}

TEST_F(ScriptSessionTest, AScriptThatNeverEndsOrRunsPastTheBoundCostsNoDecoding) {
  // The picture named does not exist: a script read first is refused first.
  CRun run = Kelvane("--script /dev/zero missing.png out.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("'/dev/zero' is longer than 4 MiB"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("missing.png"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("out.png"));

  // Valid commands, one byte too many.
  std::string script = Session({kSkyStrokes, "apply", "ok"});
  script += std::string(kScriptByteLimit + 1 - script.size(), '#');
  WriteText("s.txt", script);
  run = Kelvane("--script s.txt in.png out.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("s.txt"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("out.png"));
}

TEST_F(ScriptSessionTest, AnEchoedWordIsCutShortAndEscaped) {
  // A word that would retitle the terminal, a megabyte long, with a byte
  // that is no UTF-8.
  const std::string word = "\x1B]0;owned\x07" + std::string(1 << 20, 'A') + "\xFF";
  WriteText("s.txt", std::string(kSkyStrokes) + "set strength " + word + "\n");
  const CRun run = Kelvane("--script s.txt in.png out.png");
  EXPECT_EQ(run.status, 2) << run.output.substr(0, 2000);
  EXPECT_LT(run.output.size(), 1000u);
  EXPECT_NE(run.output.find("s.txt:2:14: malformed number '\\x1B]0;owned\\x07AAA"),
            std::string::npos)
      << run.output.substr(0, 2000);
  EXPECT_NE(run.output.find("A\u2026'"), std::string::npos) << run.output.substr(0, 2000);
  EXPECT_EQ(run.output.find('\x1B'), std::string::npos);
  EXPECT_EQ(run.output.find('\xFF'), std::string::npos);
  EXPECT_FALSE(Exists("out.png"));
}

TEST_F(ScriptSessionTest, ATooSmallPictureCompletesWithTheLayerUnchanged) {
  // Feathering 50 needs 151 pixels a side: the run is refused, not the session.
  const std::vector<uint8_t> alpha =
      Alpha(Session({"set feathering 50", kSkyStrokes, "apply", "ok"}));
  EXPECT_EQ(alpha, std::vector<uint8_t>(static_cast<size_t>(kSize) * kSize, 255));
}

// A copy of the module in the test's own folder, with its Presets folder
// beside it, so that no other test meets the styles saved here.
class PresetSessionTest : public ScriptSessionTest {
 protected:
  void SetUp() override {
    ScriptSessionTest::SetUp();
    std::filesystem::create_directories(m_dir / "plugins" / "Presets");
    std::filesystem::copy_file(std::string(KELVANE_PLUGIN_DIR) + "/kelvane.8bf",
                               m_dir / "plugins" / "kelvane.8bf");
  }

  CRun Run(const std::string& options, const std::string& script, const std::string& output) {
    WriteText("s.txt", script);
    return Kelvane("--plugins plugins " + options + " --script s.txt in.png " + output);
  }

  std::vector<uint8_t> AlphaOf(const std::string& name) const {
    CPicture pixels;
    std::string error;
    if (!ReadPicture(Path(name), pixels, error)) return {};
    std::vector<uint8_t> alpha;
    for (size_t i = 3; i < pixels.bytes.size(); i += 4) alpha.push_back(pixels.bytes[i]);
    return alpha;
  }

  std::filesystem::path Presets() const { return m_dir / "plugins" / "Presets"; }
};

TEST_F(PresetSessionTest, ASavedStyleLoadsInTheNextSessionAndRunsWithItsValues) {
  CRun run = Run("--presets",
                 Session({"set strength 60", "set feathering 0", "set fillholes on", kSkyStrokes,
                          "apply", "save-preset Wide", "ok"}),
                 "saved.png");
  ASSERT_EQ(run.status, 0) << run.output;
  std::ifstream file(Presets() / "Wide.preset", std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  EXPECT_EQ(bytes.str(),
            "Kelvane\r\n\tTolerance : 60\r\n\tSMOOTH : 0\r\n\tFEZER : 0\r\n\tCONTRACT : 0\r\n"
            "\tFILLHOLES : True\r\n\tTEXTUREDBACK : False\r\n");

  // The next session opens at the defaults; choosing the style runs with it.
  run = Run("--presets", Session({kSkyStrokes, "preset Wide", "delete-preset", "ok"}),
            "loaded.png");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_FALSE(std::filesystem::exists(Presets() / "Wide.preset"));
  run = Run("", Session({"set strength 60", "set feathering 0", "set fillholes on", kSkyStrokes,
                         "apply", "ok"}),
            "direct.png");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::vector<uint8_t> loaded = AlphaOf("loaded.png");
  ASSERT_FALSE(loaded.empty());
  EXPECT_EQ(loaded, AlphaOf("direct.png"));
  // At the defaults the run differs, so the style did make the difference.
  run = Run("", Session({kSkyStrokes, "apply", "ok"}), "defaults.png");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(loaded, AlphaOf("defaults.png"));

  // Deleted: the list no longer holds it.
  run = Run("--presets", Session({kSkyStrokes, "preset Wide", "ok"}), "gone.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("s.txt:2:8:"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("gone.png"));
}

TEST_F(PresetSessionTest, WithoutThePresetsOptionPresetCommandsStayRefused) {
  for (const char* command : {"save-preset Sky", "preset Default", "delete-preset"}) {
    const CRun run = Run("", Session({kSkyStrokes, "apply", command, "ok"}), "out.png");
    EXPECT_EQ(run.status, 2) << command << run.output;
    EXPECT_NE(run.output.find("s.txt:3:"), std::string::npos) << run.output;
    EXPECT_FALSE(Exists("out.png"));
  }
  EXPECT_TRUE(std::filesystem::is_empty(Presets()));
}

TEST_F(PresetSessionTest, AStyleNameThatLeavesTheFolderIsRefused) {
  const CRun run =
      Run("--presets", Session({kSkyStrokes, "apply", "save-preset ../../in", "ok"}), "out.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("s.txt:3:13:"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("out.png"));
  EXPECT_FALSE(Exists("in.preset"));
  EXPECT_TRUE(std::filesystem::is_empty(Presets()));
}

TEST_F(PresetSessionTest, APresetNameIsEchoedShortAndEscaped) {
  const std::string name = "\x1B[2J" + std::string(5000, 'n');
  const CRun run = Run("--presets", Session({kSkyStrokes, "preset " + name}), "out.png");
  EXPECT_EQ(run.status, 2) << run.output.substr(0, 2000);
  EXPECT_NE(run.output.find("no entry '\\x1B[2Jnnn"), std::string::npos)
      << run.output.substr(0, 2000);
  EXPECT_LT(run.output.size(), 1000u);
  EXPECT_EQ(run.output.find('\x1B'), std::string::npos);
  EXPECT_FALSE(Exists("out.png"));
}
