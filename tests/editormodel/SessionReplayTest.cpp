#include "editor/model/SessionReplay.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestImages.h"
#include "engine/MatteFilter.h"
#include "framework/Param.h"

namespace {

class SessionReplay : public ::testing::Test {
 protected:
  CReplayOutcome Replay(const std::string& script, IReplayProgress* progress = nullptr) {
    std::istringstream input(script);
    return ReplaySessionScript(input, "s.txt", filter, holder, progress);
  }

  int Strength() {
    int value = -1;
    filter.m_paramSet.FindParam(keSlotStrength)->GetInt(value);
    return value;
  }

  CPrivateConfig config;
  CCoreImage holder = MakeSkyAndRoof(80, 80);
  CMatteFilter filter;
};

class CRecordedProgress : public IReplayProgress {
 public:
  void RunStarted(int line) override { lines.push_back(line); }
  void Progress(int percent) override { percents.push_back(percent); }
  void RunEnded(bool completed) override { ends.push_back(completed); }
  std::vector<int> lines;
  std::vector<int> percents;
  std::vector<bool> ends;
};

}  // namespace

TEST_F(SessionReplay, MarkedSkyIsRemovedAndOkHandsBackTheResult) {
  CRecordedProgress progress;
  const CReplayOutcome outcome = Replay(
      "# remove a flat blue sky above a red roof\n"
      "set strength 40\n"
      "background 10,5 60,5 70,8\n"
      "object 40,70\n"
      "apply\n"
      "set feathering 0\n"
      "apply\n"
      "ok\n",
      &progress);
  ASSERT_TRUE(outcome.Ok()) << outcome.message;
  EXPECT_EQ(AlphaAt(holder, 40, 10), 0);
  EXPECT_EQ(AlphaAt(holder, 40, 70), 255);
  EXPECT_EQ(AlphaAt(holder, 40, 39), 0);  // no feathering on the second run
  EXPECT_EQ(AlphaAt(holder, 40, 40), 255);
  EXPECT_EQ(Strength(), 40);
  EXPECT_EQ(progress.lines, (std::vector<int>{5, 7}));
  EXPECT_EQ(progress.ends, (std::vector<bool>{true, true}));
  for (size_t i = 1; i < progress.percents.size(); ++i)
    EXPECT_GT(progress.percents[i], 0);
}

TEST_F(SessionReplay, TheEndOfTheScriptPressesOk) {
  const CReplayOutcome outcome = Replay("brush 5\nerase 10,10\n");
  ASSERT_TRUE(outcome.Ok()) << outcome.message;
  // A dab of diameter 5 centred on (10, 10): columns and rows 8 to 12.
  EXPECT_EQ(AlphaAt(holder, 10, 10), 0);
  EXPECT_EQ(AlphaAt(holder, 30, 30), 255);
}

TEST_F(SessionReplay, EndOfScriptWithOkDisabledIsAnError) {
  const CReplayOutcome outcome = Replay("set strength 50\n\n# nothing else\n");
  EXPECT_EQ(outcome.end, keReplayScriptError);
  EXPECT_EQ(outcome.message.rfind("s.txt:3: ", 0), 0u) << outcome.message;
}

TEST_F(SessionReplay, ARecoverStrokeDoesNotEnableOk) {
  const CReplayOutcome outcome = Replay("recover 10,10\nok\n");
  EXPECT_EQ(outcome.end, keReplayScriptError);
  EXPECT_EQ(outcome.message.rfind("s.txt:2: ", 0), 0u) << outcome.message;
}

TEST_F(SessionReplay, CommandsOfDisabledControlsAreRefusedWithTheirLine) {
  struct {
    const char* script;
    const char* prefix;
  } cases[] = {
      {"apply\n", "s.txt:1: "},
      {"set strength 5\ndelete-marks\n", "s.txt:2: "},
      {"object 1,1\nreset\n", "s.txt:2: "},
      {"ok\n", "s.txt:1: "},
      {"display result\n", "s.txt:1: "},
      {"erase 1,1\ndisplay original\nerase 2,2\n", "s.txt:3: "},
      {"object 1,1\ndelete-marks\napply\n", "s.txt:3: "},
      {"preset Default\n", "s.txt:1: "},
      {"save-preset Sky\n", "s.txt:1: "},
      {"delete-preset\n", "s.txt:1: "},
      {"undo\n", "s.txt:1: "},
      {"object 1,1\nredo\n", "s.txt:2: "},
      {"object 1,1\nundo\nobject 2,2\nredo\n", "s.txt:4: "},
  };
  for (const auto& c : cases) {
    CCoreImage image = MakeSkyAndRoof(80, 80);
    CMatteFilter fresh;
    std::istringstream input(c.script);
    const CReplayOutcome outcome = ReplaySessionScript(input, "s.txt", fresh, image);
    EXPECT_EQ(outcome.end, keReplayScriptError) << c.script;
    EXPECT_EQ(outcome.message.rfind(c.prefix, 0), 0u) << c.script << " -> " << outcome.message;
  }
}

TEST_F(SessionReplay, TheFirstFailingLineIsTheOneReported) {
  // Line 2 is refused before the malformed line 3 is read.
  const CReplayOutcome refused = Replay("set strength 5\napply\nset strength 1.5\n");
  EXPECT_EQ(refused.message.rfind("s.txt:2: ", 0), 0u) << refused.message;
  const CReplayOutcome malformed = Replay("set strength 1.5\napply\n");
  EXPECT_EQ(malformed.end, keReplayScriptError);
  EXPECT_EQ(malformed.message.rfind("s.txt:1:14: ", 0), 0u) << malformed.message;
}

TEST_F(SessionReplay, CancelWritesNothingAndEndsTheScript) {
  const CReplayOutcome outcome = Replay("erase 10,10\ncancel\nthis line is never read\n");
  EXPECT_EQ(outcome.end, keReplayCancelled);
  EXPECT_TRUE(outcome.message.empty());
}

TEST_F(SessionReplay, NothingAfterOkIsRead) {
  const CReplayOutcome outcome = Replay("erase 10,10\nok\nbogus 1 2 3\n");
  EXPECT_TRUE(outcome.Ok()) << outcome.message;
}

TEST_F(SessionReplay, AFieldValueIsClampedWhenApplied) {
  const CReplayOutcome outcome = Replay("set strength 1e2\nset feathering 1e2\n"
                                        "background 10,5\napply\nok\n");
  ASSERT_TRUE(outcome.Ok()) << outcome.message;
  EXPECT_EQ(Strength(), 100);
  int feather = -1;
  filter.m_paramSet.FindParam(keSlotFeather)->GetInt(feather);
  EXPECT_EQ(feather, 50);
}

TEST_F(SessionReplay, ARunOnATooSmallImageCompletesWithTheLayerUnchanged) {
  CCoreImage small = MakeSkyAndRoof(32, 32);
  std::istringstream input("background 5,5\napply\nok\n");
  const CReplayOutcome outcome = ReplaySessionScript(input, "s.txt", filter, small);
  ASSERT_TRUE(outcome.Ok()) << outcome.message;
  EXPECT_EQ(AlphaAt(small, 5, 5), 255);
  EXPECT_EQ(ByteAt(small, 5, 5, 2), 40);  // red of the sky

  // Refused as too small, the run is no step: undo goes back over the stroke.
  CCoreImage again = MakeSkyAndRoof(32, 32);
  std::istringstream undone("background 5,5\napply\nundo\nundo\n");
  const CReplayOutcome refused = ReplaySessionScript(undone, "s.txt", filter, again);
  EXPECT_EQ(refused.end, keReplayScriptError);
  EXPECT_EQ(refused.message.rfind("s.txt:4: ", 0), 0u) << refused.message;
}

TEST_F(SessionReplay, TexturedAndFillHolesBoxesAreClickedOnlyWhenTheyDiffer) {
  const CReplayOutcome outcome = Replay("set textured on\nset textured on\nset fillholes on\n"
                                        "set fillholes off\nset fillholes on\n"
                                        "background 10,5\napply\nok\n");
  ASSERT_TRUE(outcome.Ok()) << outcome.message;
  int textured = -1;
  int fillHoles = -1;
  filter.m_paramSet.FindParam(keSlotTextured)->GetInt(textured);
  filter.m_paramSet.FindParam(keSlotFillHoles)->GetInt(fillHoles);
  EXPECT_EQ(textured, 1);
  EXPECT_EQ(fillHoles, 1);
}

// Each parameter gets a value of its own, so that a word reaching another
// parameter's field or box shows.
TEST_F(SessionReplay, EverySetWordReachesItsOwnParameter) {
  std::string script;
  std::vector<int> wanted(kMatteParameterCount);
  for (const CMatteParameter& row : kMatteParameters) {
    std::string value;
    if (row.control == keControlCheckBox) {
      wanted[row.slot] = row.defaultValue != 0 ? 0 : 1;
      value = wanted[row.slot] ? "on" : "off";
    } else {
      wanted[row.slot] = row.maximum - row.slot;
      ASSERT_NE(wanted[row.slot], row.defaultValue) << row.key;
      value = std::to_string(wanted[row.slot]);
    }
    script += std::string("set ") + row.scriptWord + " " + value + "\n";
  }
  const CReplayOutcome outcome = Replay(script + "background 10,5\napply\nok\n");
  ASSERT_TRUE(outcome.Ok()) << outcome.message;
  for (const CMatteParameter& row : kMatteParameters) {
    int value = -1;
    filter.m_paramSet.FindParam(row.slot)->GetInt(value);
    EXPECT_EQ(value, wanted[row.slot]) << row.scriptWord;
  }
}

TEST_F(SessionReplay, ReadsAScriptFile) {
  const std::string path = config.Folder() + "/script.txt";
  std::ofstream(path, std::ios::binary) << "\xEF\xBB\xBF" "erase 10,10\r\nok\r\n";
  const CReplayOutcome outcome = ReplaySessionScript(path, filter, holder);
  EXPECT_TRUE(outcome.Ok()) << outcome.message;
  const CReplayOutcome missing = ReplaySessionScript(config.Folder() + "/none.txt", filter, holder);
  EXPECT_EQ(missing.end, keReplayScriptError);
  EXPECT_NE(missing.message.find("none.txt"), std::string::npos);
}

TEST_F(SessionReplay, PercentPointsGiveTheSameResultAsThePixelsTheyStandFor) {
  // 150 x 101: x runs over 149 pixels' span, y over 100.
  const auto replay = [](const std::string& script) {
    CCoreImage image = MakeSkyAndRoof(150, 101);
    CMatteFilter fresh;
    std::istringstream input(script);
    const CReplayOutcome outcome = ReplaySessionScript(input, "s.txt", fresh, image);
    EXPECT_TRUE(outcome.Ok()) << outcome.message;
    std::vector<uint8_t> pixels;
    for (int y = 0; y < image.Height(); ++y)
      for (int x = 0; x < image.Width(); ++x) pixels.push_back(AlphaAt(image, x, y));
    return pixels;
  };
  const std::vector<uint8_t> percent = replay(
      "background 10%,5% 50%,5% 90%,10% 100%,0%\n"
      "object 50%,90% 0%,100%\n"
      "apply\n"
      "brush 7\n"
      "erase 25%,75% 30.5%,75% 10,60.33%\n"
      "recover 50%,50%\n"
      "ok\n");
  const std::vector<uint8_t> pixels = replay(
      "background 15,5 75,5 134,10 149,0\n"
      "object 75,90 0,100\n"
      "apply\n"
      "brush 7\n"
      "erase 37,75 45,75 10,60\n"
      "recover 75,50\n"
      "ok\n");
  ASSERT_EQ(percent.size(), size_t{150} * 101);
  EXPECT_EQ(percent[5 * 150 + 40], 0);         // sky removed
  EXPECT_EQ(percent[95 * 150 + 100], 255);     // roof kept
  EXPECT_EQ(percent[75 * 150 + 37], 0);        // erased on the roof
  EXPECT_TRUE(percent == pixels);
}

TEST_F(SessionReplay, UndoAndRedoReachTheResultOk) {
  auto result = [](const std::string& script) {
    CCoreImage image = MakeSkyAndRoof(80, 80);
    CMatteFilter fresh;
    std::istringstream input(script);
    const CReplayOutcome outcome = ReplaySessionScript(input, "s.txt", fresh, image);
    EXPECT_EQ(outcome.end, keReplayOk) << script << ": " << outcome.message;
    return BytesOf(image);
  };
  const std::vector<uint8_t> applied = result("background 5,5\napply\nok\n");
  EXPECT_EQ(result("background 5,5\napply\nerase 60,60\nundo\nok\n"), applied);
  EXPECT_EQ(result("background 5,5\napply\nundo\nredo\nok\n"), applied);
  EXPECT_NE(result("background 5,5\napply\nerase 60,60\nundo\nredo\nok\n"), applied);
}

// A point meant for a larger picture still marks the nearest edge pixel, as
// the pointer dragged past the edge does, but never silently; and a script of
// a thousand such points says so in a few lines.
TEST_F(SessionReplay, PointsOutsideThePictureWarnAFewTimesAndPercentPointsNever) {
  const CReplayOutcome outcome = Replay(
      "object 50%,100% 0%,0% 100%,0%\n"
      "background 10,5 5000,5000  -1,3\n"
      "background 79,79 80,0 40%,900 3,3\n"
      "apply\nok\n");
  ASSERT_TRUE(outcome.Ok()) << outcome.message;
  const std::string tail = " lies outside the 80 x 80 picture and marks its nearest edge pixel; "
                           "points in percent (50%,50% is the middle) fit a picture of any size";
  EXPECT_EQ(outcome.warnings,
            (std::vector<std::string>{
                "s.txt:2:17: warning: the point 5000,5000" + tail,
                "s.txt:2:28: warning: the point -1,3" + tail,
                "s.txt:3:18: warning: the point 80,0" + tail,
                "s.txt: warning: and 1 more point outside the picture"}));

  EXPECT_TRUE(Replay("object 100%,100% 0,0 79,79\napply\nok\n").warnings.empty());
  // Said however the script ends.
  const CReplayOutcome refused = Replay("object 1,-1\nundo\nundo\n");
  EXPECT_FALSE(refused.Ok());
  EXPECT_EQ(refused.warnings.size(), 1u);
}
