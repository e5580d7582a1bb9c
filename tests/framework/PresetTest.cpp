#include "framework/Presets.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../tools/MessageBoxRecorder.h"
#include "SixParams.h"
#include "framework/ParamSet.h"
#include "platform/MessageBox.h"

namespace fs = std::filesystem;

namespace {

std::vector<int> Values(const CParamSet& set) {
  std::vector<int> values;
  for (int slot = 0; slot < 6; ++slot) {
    int value = -99;
    set.FindParam(slot)->GetInt(value);
    values.push_back(value);
  }
  return values;
}

void SetValues(CParamSet& set, const std::vector<int>& values) {
  for (int slot = 0; slot < 6; ++slot) set.FindParam(slot)->SetInt(values[static_cast<size_t>(slot)]);
}

const std::vector<int> kDefaults{30, 0, 1, 0, 0, 0};

const std::string kDefaultFile =
    "Kelvane\r\n"
    "\tTolerance : 30\r\n"
    "\tSMOOTH : 0\r\n"
    "\tFEZER : 1\r\n"
    "\tCONTRACT : 0\r\n"
    "\tFILLHOLES : False\r\n"
    "\tTEXTUREDBACK : False\r\n";

// Parses `text` into a set whose values were all changed first, so that a
// value the text does not give shows whether the reset happened.
std::vector<int> Parsed(const std::string& text) {
  CParamSet set;
  DefineSix(set);
  SetValues(set, {77, 7, 7, 77, 1, 1});
  std::istringstream in(text);
  EXPECT_EQ(ParsePreset(in, set), 0);
  return Values(set);
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Dialog answers as a user would give them, one OK press after another.
class CScriptedDialog : public ISaveStyleDialog, public IStyleQuestions {
 public:
  std::vector<std::string> typed;  // one entry per OK press; then Cancel
  bool overwrite = true;
  std::vector<std::string> refusals;
  int overwriteQuestions = 0;

  bool DoModal(CSaveStyleRules& rules) override {
    for (const std::string& text : typed) {
      if (rules.OnOk(text, *this)) return true;
    }
    return false;
  }
  bool ConfirmOverwrite(const std::string&) override {
    ++overwriteQuestions;
    return overwrite;
  }
  void ShowRefusal(const std::string& message) override { refusals.push_back(message); }
};

class CAnswer : public IDeleteQuestion {
 public:
  explicit CAnswer(bool yes) : m_yes(yes) {}
  bool ConfirmDelete(const std::string&, bool) override {
    ++asked;
    return m_yes;
  }
  int asked = 0;

 private:
  bool m_yes;
};

class PresetFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(::testing::TempDir()) /
            ("presets-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    DefineSix(m_set);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::string Folder() const { return m_dir.string() + "/"; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(m_dir / name, std::ios::binary) << text;
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  int Save(const std::vector<std::string>& typed, bool overwrite = true) {
    m_dialog.typed = typed;
    m_dialog.overwrite = overwrite;
    return SavePreset(m_set, m_dialog, Folder(), m_state);
  }

  fs::path m_dir;
  CParamSet m_set;
  CPresetState m_state;
  CScriptedDialog m_dialog;
};

// ---- The file format --------------------------------------------------------

TEST(PresetFormatTest, DefaultsAreWrittenByteForByteWithCrLf) {
  CParamSet set;
  DefineSix(set);
  EXPECT_EQ(PresetFileText(set), kDefaultFile);
  SetValues(set, {250, 9, -3, 100, 1, 0});
  EXPECT_EQ(PresetFileText(set),
            "Kelvane\r\n\tTolerance : 250\r\n\tSMOOTH : 9\r\n\tFEZER : -3\r\n"
            "\tCONTRACT : 100\r\n\tFILLHOLES : True\r\n\tTEXTUREDBACK : False\r\n");
}

TEST(PresetFormatTest, WhatIsWrittenReadsBackTheSame) {
  CParamSet set;
  DefineSix(set);
  SetValues(set, {55, 3, 12, 8, 1, 1});
  std::istringstream in(PresetFileText(set));
  CParamSet other;
  DefineSix(other);
  ASSERT_EQ(ParsePreset(in, other), 0);
  EXPECT_EQ(Values(other), Values(set));
}

// ---- Parsing ----------------------------------------------------------------

TEST(PresetParseTest, TheHeadingAloneGivesTheDefaults) {
  EXPECT_EQ(Parsed("Kelvane\r\n"), kDefaults);
  EXPECT_EQ(Parsed(""), kDefaults);
}

TEST(PresetParseTest, ValuesAreTakenAsTheParametersReadThem) {
  // Lower-case true matches neither text; 250 is stored without clamping.
  EXPECT_EQ(Parsed("Kelvane\n\tFILLHOLES : true\n\tTolerance : 250\n"),
            (std::vector<int>{250, 0, 1, 0, 0, 0}));
  EXPECT_EQ(Parsed("\tTEXTUREDBACK : True\n\tFEZER : 12abc\n"),
            (std::vector<int>{30, 0, 12, 0, 0, 1}));
}

TEST(PresetParseTest, IndentationAndSeparatorsMayVary) {
  for (const char* line : {"SMOOTH : 4", "SMOOTH:4", "SMOOTH 4", "  \t SMOOTH\t:\t4  \t",
                           "SMOOTH::  4", "\tSMOOTH : 4 \t"}) {
    EXPECT_EQ(Parsed(std::string("Kelvane\n") + line + "\n")[1], 4) << line;
  }
}

TEST(PresetParseTest, UnknownNamesAndLinesWithoutValueAreSkipped) {
  EXPECT_EQ(Parsed("Kelvane\n\ttolerance : 80\n\tTol : 80\n\tFEZER :   \n\tFEZER\n"
                   "   \n\n:CONTRACT 9\n"),
            kDefaults);
}

TEST(PresetParseTest, TheLastOccurrenceWins) {
  EXPECT_EQ(Parsed("\tCONTRACT : 5\n\tCONTRACT : 9\n")[3], 9);
}

TEST(PresetParseTest, CrLfAndLfFilesReadTheSame) {
  // A CR left in the value would make "True" unreadable.
  const std::vector<int> crlf = Parsed("Kelvane\r\n\tFILLHOLES : True\r\n\tSMOOTH : 3\r\n");
  EXPECT_EQ(crlf, Parsed("Kelvane\n\tFILLHOLES : True\n\tSMOOTH : 3\n"));
  EXPECT_EQ(crlf, (std::vector<int>{30, 3, 1, 0, 1, 0}));
  // The last line may lack its line end.
  EXPECT_EQ(Parsed("\tFILLHOLES : True\r")[4], 1);
}

TEST(PresetParseTest, AFailedStreamChangesNothing) {
  CParamSet set;
  DefineSix(set);
  SetValues(set, {77, 7, 7, 77, 1, 1});
  std::istringstream in("\tSMOOTH : 1\n");
  in.setstate(std::ios::failbit);
  EXPECT_EQ(ParsePreset(in, set), -1);
  EXPECT_EQ(Values(set), (std::vector<int>{77, 7, 7, 77, 1, 1}));
}

TEST_F(PresetFolderTest, LoadingAMissingFileOrAFolderLeavesTheSetAlone) {
  SetValues(m_set, {77, 7, 7, 77, 1, 1});
  EXPECT_EQ(LoadPreset(Folder() + "nowhere.preset", m_set), -1);
  fs::create_directory(m_dir / "dir.preset");
  EXPECT_EQ(LoadPreset(Folder() + "dir.preset", m_set), -1);
  EXPECT_EQ(Values(m_set), (std::vector<int>{77, 7, 7, 77, 1, 1}));
  Write("a.preset", "Kelvane\r\n\tSMOOTH : 2\r\n");
  EXPECT_EQ(LoadPreset(Folder() + "a.preset", m_set), 0);
  EXPECT_EQ(Values(m_set), (std::vector<int>{30, 2, 1, 0, 0, 0}));
}

// ---- Style names ------------------------------------------------------------

TEST(StyleNameTest, TrimsAndAddsTheEndingOnlyWhenItIsNotThereExactly) {
  EXPECT_EQ(MakeStyleFileName("  Soft edges \t").fileName, "Soft edges.preset");
  EXPECT_EQ(MakeStyleFileName("Soft.preset").fileName, "Soft.preset");
  EXPECT_EQ(MakeStyleFileName("Soft.PRESET").fileName, "Soft.PRESET.preset");
  EXPECT_EQ(MakeStyleFileName("a..b").fileName, "a..b.preset");
  EXPECT_EQ(MakeStyleFileName("Default").fileName, "Default.preset");
}

TEST(StyleNameTest, NamesThatAreNoPlainFileNameAreRefused) {
  for (const std::string& typed :
       {std::string(""), std::string("   "), std::string(".preset"), std::string(" .preset "),
        std::string("../escape"), std::string("sub/name"), std::string("back\\slash"),
        std::string("/etc/passwd"), std::string(".."), std::string("."), std::string("...preset"),
        std::string("tab\tinside"), std::string("line\nbreak"), std::string(300, 'x')}) {
    const CStyleFileName name = MakeStyleFileName(typed);
    EXPECT_FALSE(name.ok) << typed;
    EXPECT_FALSE(name.refusal.empty()) << typed;
  }
}

TEST_F(PresetFolderTest, RefusedNamesWriteNothingAndTheDialogStaysOpen) {
  // The first three OK presses are refused, the fourth is accepted.
  EXPECT_EQ(Save({"../outside", "  ", "a/b", " good "}), 0);
  EXPECT_EQ(m_dialog.refusals.size(), 3u);
  EXPECT_EQ(Files(), (std::vector<std::string>{"good.preset"}));
  EXPECT_FALSE(fs::exists(m_dir.parent_path() / "outside.preset"));

  m_dialog.refusals.clear();
  EXPECT_EQ(Save({".."}), -1);  // refused, then Cancel
  EXPECT_EQ(m_dialog.refusals.size(), 1u);
  EXPECT_EQ(m_state.m_name, "good.preset");
}

// ---- Saving -----------------------------------------------------------------

TEST_F(PresetFolderTest, SavingWritesTheFileAndMakesItCurrent) {
  SetValues(m_set, {40, 2, 3, 4, 1, 0});
  ASSERT_EQ(Save({"  Sky  "}), 0);
  EXPECT_EQ(ReadBytes(m_dir / "Sky.preset"),
            "Kelvane\r\n\tTolerance : 40\r\n\tSMOOTH : 2\r\n\tFEZER : 3\r\n\tCONTRACT : 4\r\n"
            "\tFILLHOLES : True\r\n\tTEXTUREDBACK : False\r\n");
  EXPECT_EQ(m_state.m_name, "Sky.preset");
  EXPECT_EQ(m_state.m_path, Folder() + "Sky.preset");
  // The temporary file is gone: nothing but the preset is left.
  EXPECT_EQ(Files(), (std::vector<std::string>{"Sky.preset"}));
}

TEST_F(PresetFolderTest, AnExistingFileIsOverwrittenOnlyOnYes) {
  Write("Sky.preset", "old");
  EXPECT_EQ(Save({"Sky"}, false), -1);  // No keeps the dialog open; then Cancel
  EXPECT_EQ(m_dialog.overwriteQuestions, 1);
  EXPECT_EQ(ReadBytes(m_dir / "Sky.preset"), "old");
  EXPECT_TRUE(m_state.m_path.empty());

  ASSERT_EQ(Save({"Sky.preset"}, true), 0);
  EXPECT_EQ(m_dialog.overwriteQuestions, 2);
  EXPECT_EQ(ReadBytes(m_dir / "Sky.preset"), kDefaultFile);
  EXPECT_EQ(Files(), (std::vector<std::string>{"Sky.preset"}));
}

TEST_F(PresetFolderTest, AReplacedFileKeepsItsPermissions) {
  Write("Sky.preset", "old");
  fs::permissions(m_dir / "Sky.preset", fs::perms(0640));
  ASSERT_EQ(Save({"Sky"}), 0);
  EXPECT_EQ(fs::status(m_dir / "Sky.preset").permissions() & fs::perms::all, fs::perms(0640));
}

TEST_F(PresetFolderTest, ANewFileGetsThePermissionsTheMaskAllows) {
  // The temporary file starts private; the preset must not stay so.
  const mode_t previous = ::umask(027);
  const int saved = Save({"Sky"});
  ::umask(previous);
  ASSERT_EQ(saved, 0);
  EXPECT_EQ(fs::status(m_dir / "Sky.preset").permissions() & fs::perms::all, fs::perms(0640));
}

TEST_F(PresetFolderTest, AMissingFolderGivesMinusTwoAndWritesNothing) {
  m_dialog.typed = {"Sky"};
  const std::string missing = Folder() + "Presets/";
  EXPECT_EQ(SavePreset(m_set, m_dialog, missing, m_state), -2);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_TRUE(Files().empty());
  EXPECT_TRUE(m_state.m_name.empty());
}

TEST_F(PresetFolderTest, AFailedWriteLeavesNoTemporaryFile) {
  // A folder in the file's place makes the final rename fail.
  fs::create_directory(m_dir / "Sky.preset");
  EXPECT_EQ(WritePresetFile(m_set, Folder() + "Sky.preset"), -2);
  EXPECT_EQ(Files(), (std::vector<std::string>{"Sky.preset"}));
  EXPECT_TRUE(fs::is_directory(m_dir / "Sky.preset"));
}

// ---- Listing ----------------------------------------------------------------

TEST_F(PresetFolderTest, ListingTakesPresetFilesOfAnyLetterCaseAndSkipsTheRest) {
  Write("Soft.preset", kDefaultFile);
  Write("Hard.PRESET", kDefaultFile);
  Write("notes.txt", "x");
  Write("preset", "x");
  Write("Soft.preset.bak", "x");
  fs::create_directory(m_dir / "Folder.preset");
  CPresetList list;
  ListPresets(list, Folder(), m_state);
  ASSERT_GE(list.Count(), 1);
  EXPECT_EQ(list.Text(0), "Default");
  std::vector<std::string> names(list.Entries().begin() + 1, list.Entries().end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Hard", "Soft"}));
  EXPECT_EQ(list.Selection(), -1);
}

TEST_F(PresetFolderTest, TheCurrentPresetIsSelectedAfterAFill) {
  Write("Default.preset", kDefaultFile);
  Write("Soft.preset", kDefaultFile);
  CPresetList list;
  m_state.Set("Soft.preset", Folder() + "Soft.preset");
  ListPresets(list, Folder(), m_state);
  ASSERT_GE(list.Selection(), 1);
  EXPECT_EQ(list.Text(list.Selection()), "Soft");
  // A preset called Default is its own entry, never entry 0.
  m_state.Set("Default.preset", Folder() + "Default.preset");
  ListPresets(list, Folder(), m_state);
  EXPECT_GE(list.Selection(), 1);
  EXPECT_EQ(list.Text(list.Selection()), "Default");
  // A current preset no longer there selects nothing.
  m_state.Set("Gone.preset", Folder() + "Gone.preset");
  ListPresets(list, Folder(), m_state);
  EXPECT_EQ(list.Selection(), -1);
}

TEST_F(PresetFolderTest, AMissingFolderListsOnlyDefault) {
  CPresetList list;
  list.Add("stale");
  ListPresets(list, Folder() + "none/", m_state);
  EXPECT_EQ(list.Entries(), (std::vector<std::string>{"Default"}));
}

TEST_F(PresetFolderTest, AListedEntryLeadsToItsOwnFileOnly) {
  Write("Hard.PRESET", "Kelvane\r\n\tSMOOTH : 5\r\n");
  Write("Soft.preset", kDefaultFile);
  // Listed without its capital ending, the entry still finds its file.
  EXPECT_EQ(PresetPathForEntry(Folder(), "Hard"), Folder() + "Hard.PRESET");
  EXPECT_EQ(PresetPathForEntry(Folder(), "Soft"), Folder() + "Soft.preset");
  EXPECT_EQ(PresetPathForEntry(Folder(), "New"), Folder() + "New.preset");
  EXPECT_EQ(PresetPathForEntry(Folder(), "../Soft"), "");
  EXPECT_EQ(PresetPathForEntry(Folder(), "a\\b"), "");
}

// ---- Deleting ---------------------------------------------------------------

TEST_F(PresetFolderTest, DeletingAsksAndClearsTheCurrentPreset) {
  CBoxRecorder boxes;
  Write("Sky.preset", kDefaultFile);
  m_state.Set("Sky.preset", Folder() + "Sky.preset");
  CAnswer no(false);
  EXPECT_EQ(DeletePreset(false, no, m_state), 0);
  EXPECT_EQ(no.asked, 1);
  EXPECT_TRUE(fs::exists(m_dir / "Sky.preset"));
  EXPECT_EQ(m_state.m_name, "Sky.preset");

  CAnswer yes(true);
  EXPECT_EQ(DeletePreset(false, yes, m_state), 1);
  EXPECT_FALSE(fs::exists(m_dir / "Sky.preset"));
  EXPECT_TRUE(m_state.m_name.empty());
  EXPECT_TRUE(m_state.m_path.empty());
  EXPECT_TRUE(boxes.texts.empty());

  // Nothing current: nothing asked, nothing shown.
  EXPECT_EQ(DeletePreset(false, yes, m_state), 0);
  EXPECT_EQ(yes.asked, 1);
  EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(PresetFolderTest, AFileThatCannotBeDeletedIsReported) {
  CBoxRecorder boxes;
  CAnswer yes(true);
  m_state.Set("Gone.preset", Folder() + "Gone.preset");
  EXPECT_EQ(DeletePreset(false, yes, m_state), 0);
  fs::create_directory(m_dir / "Dir.preset");
  m_state.Set("Dir.preset", Folder() + "Dir.preset");
  EXPECT_EQ(DeletePreset(false, yes, m_state), 0);
  EXPECT_TRUE(fs::is_directory(m_dir / "Dir.preset"));
  EXPECT_EQ(boxes.texts, (std::vector<std::string>{"Can't delete preset", "Can't delete preset"}));
  EXPECT_EQ(m_state.m_name, "Dir.preset");
}

TEST(PresetFolderLocationTest, IsThePresetsFolderBesideTheBinary) {
  // Here the binary is this test program.
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  ASSERT_GT(length, 0);
  const fs::path self(std::string(buffer, static_cast<size_t>(length)));
  EXPECT_EQ(GetPresetFolder(), self.parent_path().string() + "/Presets/");
}

}  // namespace
