#include "editor/model/PresetRow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "../tools/MessageBoxRecorder.h"
#include "TestImages.h"
#include "editor/model/EditorSession.h"
#include "editor/model/SessionReplay.h"
#include "engine/MatteFilter.h"
#include "framework/Param.h"
#include "platform/MessageBox.h"

namespace fs = std::filesystem;

namespace {

const std::string kSoft =
    "Kelvane\r\n\tTolerance : 60\r\n\tSMOOTH : 2\r\n\tFEZER : 0\r\n\tCONTRACT : 3\r\n"
    "\tFILLHOLES : True\r\n\tTEXTUREDBACK : False\r\n";

std::vector<int> Slots(CMatteFilter& filter) {
  std::vector<int> values;
  for (int slot = 0; slot < 6; ++slot) {
    int value = -1;
    filter.m_paramSet.FindParam(slot)->GetInt(value);
    values.push_back(value);
  }
  return values;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class CRowEvents : public IPresetRowListener {
 public:
  void PresetListChanged() override { ++fills; }
  void OnPresetLoaded() override { ++loaded; }
  int fills = 0;
  int loaded = 0;
};

class CTypedName : public ISaveStyleDialog, private IStyleQuestions {
 public:
  explicit CTypedName(std::string typed) : m_typed(std::move(typed)) {}
  bool DoModal(CSaveStyleRules& rules) override { return rules.OnOk(m_typed, *this); }

 private:
  bool ConfirmOverwrite(const std::string&) override { return true; }
  void ShowRefusal(const std::string&) override {}
  std::string m_typed;
};

class CYes : public IDeleteQuestion {
 public:
  bool ConfirmDelete(const std::string&, bool) override { return true; }
};

class PresetFolder : public ::testing::Test {
 protected:
  PresetFolder() {
    m_dir = fs::path(::testing::TempDir()) /
            ("presetrow-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  ~PresetFolder() override { fs::remove_all(m_dir); }

  std::string Folder() const { return m_dir.string() + "/"; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(m_dir / name, std::ios::binary) << text;
  }

  fs::path m_dir;
  CPresetState m_state;
};

class PresetRow : public PresetFolder {
 protected:
  PresetRow() {
    Write("Soft.preset", kSoft);
    session.Open(window);
    row.SetListener(&events);
    row.Fill();
  }

  void WaitForRun() {
    while (session.IsBusy()) {
      window.WaitForMessage(std::chrono::milliseconds(100));
      window.PumpMessages();
    }
  }
  int Entry(const std::string& text) const { return row.List().Find(text); }

  CPrivateConfig config;
  CCoreImage holder = MakeSkyAndRoof(80, 80);
  CMatteFilter filter;
  CMatteDocument doc;
  CHeadlessWindow window{[this](const CWindowMessage& m) { session.HandleMessage(m); }};
  CEditorSession session{filter, doc, holder};
  CPresetRow row{session, Folder(), m_state};
  CRowEvents events;
  CBoxRecorder boxes;
};

TEST_F(PresetRow, OpeningListsDefaultAndThePresetFiles) {
  EXPECT_EQ(row.List().Entries(), (std::vector<std::string>{"Default", "Soft"}));
  EXPECT_EQ(row.List().Selection(), -1);
  EXPECT_EQ(events.fills, 1);
}

TEST_F(PresetRow, ChoosingAPresetLoadsItIntoTheSetAndRunsWithIt) {
  session.TypeIntoField(keFieldStrength, "45");
  ASSERT_EQ(row.Choose(Entry("Soft")), kePresetLoaded);
  EXPECT_EQ(events.loaded, 1);
  EXPECT_EQ(m_state.m_name, "Soft.preset");
  EXPECT_EQ(m_state.m_path, Folder() + "Soft.preset");
  // The run started at once, and the editor is as busy as after Apply.
  EXPECT_TRUE(session.IsBusy());
  EXPECT_FALSE(session.IsOkEnabled());
  EXPECT_FALSE(session.IsToolEnabled(ID_TOOL_MANUAL));
  EXPECT_STREQ(session.ApplyLabel(), "Abort");
  WaitForRun();
  EXPECT_EQ(session.RunsFinished(), 1);
  EXPECT_TRUE(session.IsOkEnabled());
  EXPECT_EQ(Slots(filter), (std::vector<int>{60, 2, 0, 3, 1, 0}));
  // The panel's fields keep what they showed.
  EXPECT_EQ(session.Field(keFieldStrength).Text(), "45");
  EXPECT_EQ(session.Field(keFieldFeathering).Text(), "1");
  EXPECT_FALSE(session.IsChecked(keSlotFillHoles));
}

TEST_F(PresetRow, ChoosingDefaultResetsTheSetAndForgetsTheCurrentPreset) {
  ASSERT_EQ(row.Choose(Entry("Soft")), kePresetLoaded);
  WaitForRun();
  ASSERT_EQ(row.Choose(0), kePresetLoaded);
  EXPECT_TRUE(m_state.m_name.empty());
  EXPECT_TRUE(m_state.m_path.empty());
  WaitForRun();
  EXPECT_EQ(session.RunsFinished(), 2);
  EXPECT_EQ(Slots(filter), (std::vector<int>{30, 0, 1, 0, 0, 0}));
}

TEST_F(PresetRow, NoSelectionDoesNothing) {
  EXPECT_EQ(row.Choose(-1), kePresetNothing);
  EXPECT_EQ(row.Choose(5), kePresetNothing);
  EXPECT_FALSE(session.IsBusy());
  EXPECT_EQ(events.loaded, 0);
}

TEST_F(PresetRow, APresetThatCannotBeLoadedIsReportedAndTheListFilledAgain) {
  filter.m_paramSet.FindParam(keSlotStrength)->SetInt(44);
  fs::remove(m_dir / "Soft.preset");
  ASSERT_EQ(row.Choose(Entry("Soft")), kePresetLoadFailed);
  EXPECT_EQ(boxes.texts, (std::vector<std::string>{"Can't load the selected preset"}));
  EXPECT_EQ(row.List().Entries(), (std::vector<std::string>{"Default"}));
  EXPECT_EQ(events.fills, 2);
  EXPECT_EQ(events.loaded, 0);
  EXPECT_FALSE(session.IsBusy());
  EXPECT_EQ(Slots(filter)[0], 44);
  EXPECT_TRUE(m_state.m_name.empty());
}

TEST_F(PresetRow, APresetListedWithACapitalEndingLoads) {
  Write("Hard.PRESET", "Kelvane\r\n\tSMOOTH : 7\r\n");
  row.Fill();
  ASSERT_EQ(row.Choose(Entry("Hard")), kePresetLoaded);
  WaitForRun();
  EXPECT_EQ(Slots(filter)[1], 7);
  EXPECT_EQ(m_state.m_name, "Hard.preset");
  // Refilled, the same entry is selected again, and delete finds the file.
  row.Fill();
  EXPECT_EQ(row.List().Selection(), Entry("Hard"));
  CYes yes;
  EXPECT_EQ(row.Delete(yes), 1);
  EXPECT_FALSE(fs::exists(m_dir / "Hard.PRESET"));
}

TEST_F(PresetRow, SavingWritesTheSetAndSelectsTheNewEntry) {
  filter.m_paramSet.FindParam(keSlotContract)->SetInt(9);
  CTypedName dialog(" Sky ");
  ASSERT_EQ(row.Save(dialog), 0);
  EXPECT_EQ(ReadBytes(m_dir / "Sky.preset"),
            "Kelvane\r\n\tTolerance : 30\r\n\tSMOOTH : 0\r\n\tFEZER : 1\r\n\tCONTRACT : 9\r\n"
            "\tFILLHOLES : False\r\n\tTEXTUREDBACK : False\r\n");
  ASSERT_GE(row.List().Selection(), 1);
  EXPECT_EQ(row.List().Text(row.List().Selection()), "Sky");
  EXPECT_EQ(m_state.m_name, "Sky.preset");
  EXPECT_FALSE(session.IsBusy());  // saving starts no run
}

TEST_F(PresetRow, SavingWithoutTheFolderIsReported) {
  CPresetRow elsewhere(session, Folder() + "missing/", m_state);
  CTypedName dialog("Sky");
  EXPECT_EQ(elsewhere.Save(dialog), -2);
  EXPECT_EQ(boxes.texts, (std::vector<std::string>{"Can't save preset"}));
  EXPECT_FALSE(fs::exists(m_dir / "missing"));
}

TEST_F(PresetRow, DeletingRemovesTheCurrentPresetAndItsEntry) {
  ASSERT_EQ(row.Choose(Entry("Soft")), kePresetLoaded);
  WaitForRun();
  CYes yes;
  ASSERT_EQ(row.Delete(yes), 1);
  EXPECT_FALSE(fs::exists(m_dir / "Soft.preset"));
  EXPECT_EQ(row.List().Entries(), (std::vector<std::string>{"Default"}));
  EXPECT_EQ(row.List().Selection(), -1);
  EXPECT_TRUE(m_state.m_path.empty());
  EXPECT_EQ(row.Delete(yes), 0);  // nothing current any more
  EXPECT_TRUE(boxes.texts.empty());
}

// ---- The replay's preset commands -------------------------------------------

class PresetReplay : public PresetFolder {
 protected:
  CReplayOutcome Replay(const std::string& script, bool showPresets = true) {
    CReplayOptions options;
    options.showPresets = showPresets;
    options.presetFolder = Folder();
    options.presetState = &m_state;
    std::istringstream input(script);
    return ReplaySessionScript(input, "s.txt", filter, holder, options);
  }

  CPrivateConfig config;
  CCoreImage holder = MakeSkyAndRoof(80, 80);
  CMatteFilter filter;
};

TEST_F(PresetReplay, APresetRunGivesWhatApplyGivesWithTheSameValues) {
  Write("Wide.preset", "Kelvane\r\n\tTolerance : 60\r\n\tFEZER : 0\r\n\tFILLHOLES : True\r\n");
  CReplayOutcome outcome = Replay("background 10,5 60,5\npreset Wide\nok\n");
  ASSERT_TRUE(outcome.Ok()) << outcome.message;
  CCoreImage viaPreset;
  ThrowIfFailed(viaPreset.CopyFrom(holder));
  EXPECT_EQ(Slots(filter), (std::vector<int>{60, 0, 0, 0, 1, 0}));

  holder = MakeSkyAndRoof(80, 80);
  outcome = Replay(
      "set strength 60\nset feathering 0\nset fillholes on\nbackground 10,5 60,5\napply\nok\n",
      false);
  ASSERT_TRUE(outcome.Ok()) << outcome.message;
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 80; ++x) ASSERT_EQ(AlphaAt(viaPreset, x, y), AlphaAt(holder, x, y)) << x << "," << y;
  }
  EXPECT_EQ(AlphaAt(holder, 40, 10), 0);
}

std::vector<uint8_t> Bytes(CCoreImage& image) {
  std::vector<uint8_t> bytes;
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x)
      for (int c = 0; c < 4; ++c) bytes.push_back(ByteAt(image, x, y, c));
  return bytes;
}

// Preset files travel between people and load unclamped. Numbers too large
// for the layer make the run too small, which leaves the layer as it was;
// negative ones and unknown smoothing levels switch their stage off. None
// may wrap into a count the run then works through for hours.
TEST_F(PresetReplay, OutlandishNumbersInAPresetEndPromptly) {
  const std::string script = "background 10,5 60,5\npreset Odd\nok\n";
  CCoreImage layer = MakeSkyAndRoof(80, 80);
  const std::vector<uint8_t> unchanged = Bytes(layer);
  for (const char* line : {"FEZER : 1431655766", "FEZER : 1000000000", "FEZER : 2147483647",
                           "CONTRACT : 2147483647", "CONTRACT : 80"}) {
    Write("Odd.preset", std::string("Kelvane\r\n\t") + line + "\r\n");
    holder = MakeSkyAndRoof(80, 80);
    const CReplayOutcome outcome = Replay(script);
    ASSERT_TRUE(outcome.Ok()) << line << ": " << outcome.message;
    EXPECT_EQ(Bytes(holder), unchanged) << line;
  }

  Write("Odd.preset", "Kelvane\r\n\tFEZER : 0\r\n");
  holder = MakeSkyAndRoof(80, 80);
  ASSERT_TRUE(Replay(script).Ok());
  const std::vector<uint8_t> plain = Bytes(holder);
  EXPECT_NE(plain, unchanged);  // the sky went
  for (const char* line : {"FEZER : -1431655766", "FEZER : -2147483648", "CONTRACT : -2147483648",
                           "SMOOTH : 2147483647", "SMOOTH : -2147483648"}) {
    Write("Odd.preset", std::string("Kelvane\r\n\tFEZER : 0\r\n\t") + line + "\r\n");
    holder = MakeSkyAndRoof(80, 80);
    const CReplayOutcome outcome = Replay(script);
    ASSERT_TRUE(outcome.Ok()) << line << ": " << outcome.message;
    EXPECT_EQ(Bytes(holder), plain) << line;
  }
}

TEST_F(PresetReplay, SaveChooseAndDeleteInOneSession) {
  const CReplayOutcome outcome = Replay(
      "set strength 70\nobject 40,70\napply\nsave-preset Roof\n"
      "preset Default\npreset Roof\ndelete-preset\nok\n");
  ASSERT_TRUE(outcome.Ok()) << outcome.message;
  EXPECT_FALSE(fs::exists(m_dir / "Roof.preset"));
  EXPECT_TRUE(m_state.m_name.empty());
  EXPECT_EQ(Slots(filter)[0], 70);  // Roof was loaded last
}

TEST_F(PresetReplay, RefusedPresetCommandsNameLineAndColumnAndWriteNothing) {
  Write("Soft.preset", kSoft);
  struct Case {
    std::string script;
    std::string start;
  };
  const std::vector<Case> cases = {
      {"preset Hard\n", "s.txt:1:8: "},
      {"# x\nsave-preset ../Outside\n", "s.txt:2:13: "},
      {"save-preset  ..\n", "s.txt:1:14: "},
      {"delete-preset\n", "s.txt:1: "},
  };
  for (const Case& c : cases) {
    holder = MakeSkyAndRoof(80, 80);
    const CReplayOutcome outcome = Replay(c.script);
    EXPECT_EQ(outcome.end, keReplayScriptError) << c.script;
    EXPECT_EQ(outcome.message.rfind(c.start, 0), 0u) << c.script << outcome.message;
  }
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(m_dir)) files.push_back(entry.path().filename());
  EXPECT_EQ(files, (std::vector<std::string>{"Soft.preset"}));
  EXPECT_FALSE(fs::exists(m_dir.parent_path() / "Outside.preset"));
}

TEST_F(PresetReplay, WithTheRowSwitchedOffPresetCommandsAreRefused) {
  Write("Soft.preset", kSoft);
  for (const char* script : {"preset Soft\n", "save-preset Sky\n", "delete-preset\n"}) {
    const CReplayOutcome outcome = Replay(script, false);
    EXPECT_EQ(outcome.end, keReplayScriptError) << script;
    EXPECT_NE(outcome.message.find("switched off"), std::string::npos) << outcome.message;
  }
  EXPECT_FALSE(fs::exists(m_dir / "Sky.preset"));
  EXPECT_TRUE(fs::exists(m_dir / "Soft.preset"));
}

}  // namespace
