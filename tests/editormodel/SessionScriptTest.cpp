#include "editor/model/SessionScript.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <streambuf>
#include <string>

#include "engine/MatteParameters.h"

namespace {

struct CParsed {
  keParseResult result;
  CScriptCommand command;
  CScriptError error;
};

CParsed Parse(std::string_view line) {
  CParsed parsed;
  parsed.result = ParseScriptLine(line, 7, parsed.command, parsed.error);
  return parsed;
}

void ExpectMalformed(std::string_view line, int column) {
  const CParsed parsed = Parse(line);
  ASSERT_EQ(parsed.result, keParseError) << line;
  EXPECT_EQ(parsed.error.line, 7) << line;
  EXPECT_EQ(parsed.error.column, column) << line;
  EXPECT_FALSE(parsed.error.message.empty());
}

}  // namespace

TEST(SessionScript, ReadsEveryCommand) {
  struct {
    const char* line;
    keScriptCommand kind;
  } cases[] = {
      {"set strength 40", keScriptSet},            {"set textured off", keScriptSet},
      {"brush 20", keScriptBrush},                 {"brush-smooth on", keScriptBrushSmooth},
      {"background 1,2", keScriptBackground},      {"object 1,2 3,4", keScriptObject},
      {"erase 0,0", keScriptErase},                {"recover 5,5", keScriptRecover},
      {"apply", keScriptApply},                    {"delete-marks", keScriptDeleteMarks},
      {"reset", keScriptReset},                    {"display result", keScriptDisplay},
      {"preset Sky", keScriptPreset},              {"save-preset Sky", keScriptSavePreset},
      {"delete-preset", keScriptDeletePreset},     {"ok", keScriptOk},
      {"cancel", keScriptCancel},                  {"undo", keScriptUndo},
      {"redo", keScriptRedo},
  };
  for (const auto& c : cases) {
    const CParsed parsed = Parse(c.line);
    ASSERT_EQ(parsed.result, keParseCommand) << c.line << ": " << parsed.error.message;
    EXPECT_EQ(parsed.command.kind, c.kind) << c.line;
    EXPECT_EQ(parsed.command.line, 7);
  }
}

TEST(SessionScript, SetNamesTheParameterAndTakesWhatItsControlTakes) {
  const struct {
    const char* line;
    int slot;
    const char* text;
    bool on;
  } cases[] = {
      {"set strength 40", keSlotStrength, "40", false},
      {"set contract 3", keSlotContract, "3", false},
      {"set feathering 2", keSlotFeather, "2", false},
      {"set smoothing 9", keSlotSmoothing, "9", false},
      {"set fillholes on", keSlotFillHoles, "", true},
      {"set textured off", keSlotTextured, "", false},
      {"set colourmodel on", keSlotColourModel, "", true},
      {"set refine on", keSlotRefineEdge, "", true},
      {"set edgewidth 25", keSlotEdgeWidth, "25", false},
  };
  for (const auto& c : cases) {
    const CParsed parsed = Parse(c.line);
    ASSERT_EQ(parsed.result, keParseCommand) << c.line << ": " << parsed.error.message;
    EXPECT_EQ(parsed.command.kind, keScriptSet) << c.line;
    EXPECT_EQ(parsed.command.slot, c.slot) << c.line;
    EXPECT_EQ(parsed.command.text, c.text) << c.line;
    EXPECT_EQ(parsed.command.on, c.on) << c.line;
  }
  // A field takes no on/off, a check box no number.
  ExpectMalformed("set smoothing on", 15);
  ExpectMalformed("set textured 1", 14);
}

TEST(SessionScript, AnUnknownFieldListsTheValidOnes) {
  const CParsed parsed = Parse("set tolerance 5");
  ASSERT_EQ(parsed.result, keParseError);
  EXPECT_EQ(parsed.error.column, 5);
  EXPECT_EQ(parsed.error.message,
            "unknown field 'tolerance' (strength, contract, feathering, smoothing, fillholes, "
            "textured, colourmodel, refine, edgewidth)");
}

TEST(SessionScript, PointsMayBeNegativeAndKeepTheirOrder) {
  const CParsed parsed = Parse("background\t10,5  -3,-7 0,-0 120,8");
  ASSERT_EQ(parsed.result, keParseCommand);
  const std::vector<CScriptPoint> expected = {{10, 5}, {-3, -7}, {0, 0}, {120, 8}};
  EXPECT_EQ(parsed.command.points, expected);
}

TEST(SessionScript, HugeCoordinatesSaturateInsteadOfOverflowing) {
  const CParsed parsed = Parse("object 99999999999999999999,-99999999999999999999");
  ASSERT_EQ(parsed.result, keParseCommand);
  EXPECT_EQ(parsed.command.points[0].x, kScriptCoordinateLimit);
  EXPECT_EQ(parsed.command.points[0].y, -kScriptCoordinateLimit);
}

TEST(SessionScript, MalformedPointsNameTheirColumn) {
  ExpectMalformed("background 10,5 x,3", 17);
  ExpectMalformed("background 10", 12);
  ExpectMalformed("background 10,", 12);
  ExpectMalformed("background ,5", 12);
  ExpectMalformed("background 1,2,3", 12);
  ExpectMalformed("background +1,2", 12);
  ExpectMalformed("background 1.0,2", 12);
  ExpectMalformed("background 1,-", 12);
  ExpectMalformed("erase 1,2 3;4", 11);
}

TEST(SessionScript, PercentCoordinatesAreKeptInHundredthsForTheReplay) {
  const CParsed parsed = Parse("object 50%,12.5% 100%,0.25% 10,50% 0%,-3 007%,100.00%");
  ASSERT_EQ(parsed.result, keParseCommand) << parsed.error.message;
  const std::vector<CScriptPoint> expected = {{5000, 1250, true, true},
                                              {10000, 25, true, true},
                                              {10, 5000, false, true},
                                              {0, -3, true, false},
                                              {700, 10000, true, true}};
  EXPECT_EQ(parsed.command.points, expected);
}

TEST(SessionScript, MalformedPercentagesNameTheirColumn) {
  for (const char* point : {"101%,0", "100.01%,0", "-5%,0", "+5%,0", "1.234%,0", "%,0", ".5%,0",
                            "5.%,0", "50%%,0", "1e2%,0", "5%0,0", "0,5,%", "0,%",
                            "99999999999999999999%,0"}) {
    ExpectMalformed(std::string("erase 1,1 ") + point, 11);
  }
  // A space inside a point splits it into two words, neither a point.
  ExpectMalformed("erase 5 %,5", 7);
}

TEST(SessionScript, PercentagesRoundToTheNearestPixelBetweenTheFirstAndTheLast) {
  EXPECT_EQ(ResolveScriptCoordinate(5000, true, 150), 75);
  EXPECT_EQ(ResolveScriptCoordinate(0, true, 150), 0);
  EXPECT_EQ(ResolveScriptCoordinate(10000, true, 150), 149);
  // Halves round up: 50 % of 3 pixels' span is 1.5.
  EXPECT_EQ(ResolveScriptCoordinate(5000, true, 4), 2);
  EXPECT_EQ(ResolveScriptCoordinate(4999, true, 4), 1);
  for (int hundredths : {0, 5000, 10000}) {
    EXPECT_EQ(ResolveScriptCoordinate(hundredths, true, 1), 0);
  }
  // No overflow on the largest pictures.
  EXPECT_EQ(ResolveScriptCoordinate(10000, true, 1 << 30), (1 << 30) - 1);
  // Pixels stay as written, outside the picture too.
  EXPECT_EQ(ResolveScriptCoordinate(-7, false, 150), -7);
  EXPECT_EQ(ResolveScriptCoordinate(5000, false, 150), 5000);
  // x follows the width, y the height.
  const CScriptPoint point{5000, 10000, true, true};
  EXPECT_EQ(point.Resolved(150, 11), (CScriptPoint{75, 10}));
  EXPECT_EQ((CScriptPoint{12, 5000, false, true}.Resolved(150, 11)), (CScriptPoint{12, 5}));
}

TEST(SessionScript, FieldValuesAreWhatTheFieldAcceptsWhenTyped) {
  for (const char* good : {"1e2", "150", "-5", "0", "1E2", "5-", "-", "12e", "1e-2"}) {
    EXPECT_TRUE(IsFieldValueWord(good)) << good;
  }
  for (const char* bad : {"1.5", "+5", "e5", "E5", "1e2e", "1eE2", "five", "1,5", "0x10"}) {
    EXPECT_FALSE(IsFieldValueWord(bad)) << bad;
  }
  ExpectMalformed("set strength 1.5", 14);
  ExpectMalformed("set feathering +5", 16);
  ExpectMalformed("brush e5", 7);
  const CParsed parsed = Parse("set feathering 1e2");
  ASSERT_EQ(parsed.result, keParseCommand);
  EXPECT_EQ(parsed.command.text, "1e2");
}

TEST(SessionScript, WordCountsAreChecked) {
  // Too few words: no single word is at fault.
  ExpectMalformed("set", 0);
  ExpectMalformed("set strength", 0);
  ExpectMalformed("background", 0);
  ExpectMalformed("display", 0);
  ExpectMalformed("brush", 0);
  ExpectMalformed("preset", 0);
  // Too many: the first word too many.
  ExpectMalformed("apply now", 7);
  ExpectMalformed("ok ok", 4);
  ExpectMalformed("set textured on off", 17);
  ExpectMalformed("brush 5 6", 9);
  ExpectMalformed("save-preset My Sky", 16);
}

TEST(SessionScript, CommandWordsAreExactAndLowerCase) {
  ExpectMalformed("Apply", 1);
  ExpectMalformed("  APPLY", 3);
  ExpectMalformed("set Strength 5", 5);
  ExpectMalformed("set fillholes ON", 15);
  ExpectMalformed("set fillholes yes", 15);
  ExpectMalformed("display Result", 9);
  ExpectMalformed("brush-smooth 1", 14);
  ExpectMalformed("deletemarks", 1);
}

TEST(SessionScript, AnUnknownCommandListsTheValidOnes) {
  const CParsed parsed = Parse("frobnicate 1,2");
  ASSERT_EQ(parsed.result, keParseError);
  EXPECT_EQ(parsed.error.message,
            "unknown command 'frobnicate' (set, brush, brush-smooth, background, object, erase, "
            "recover, apply, delete-marks, reset, display, preset, save-preset, delete-preset, "
            "undo, redo, ok, cancel)");
  // Every word the message offers is one the reader knows.
  const std::string& message = parsed.error.message;
  const size_t open = message.find('(');
  std::string list = message.substr(open + 1, message.size() - open - 2);
  size_t start = 0;
  while (start < list.size()) {
    const size_t end = std::min(list.find(", ", start), list.size());
    const std::string word = list.substr(start, end - start);
    const CParsed known = Parse(word);
    EXPECT_TRUE(known.result == keParseCommand ||
                known.error.message.rfind("too few words", 0) == 0)
        << word << ": " << known.error.message;
    start = end + 2;
  }
}

TEST(SessionScript, CommentsAndBlankLinesAreSkipped) {
  EXPECT_EQ(Parse("").result, keParseEmpty);
  EXPECT_EQ(Parse(" \t ").result, keParseEmpty);
  EXPECT_EQ(Parse("# apply").result, keParseEmpty);
  EXPECT_EQ(Parse("\r").result, keParseEmpty);
  const CParsed parsed = Parse("background 1,2#3,4 and more");
  ASSERT_EQ(parsed.result, keParseCommand);
  EXPECT_EQ(parsed.command.points.size(), 1u);
  EXPECT_EQ(Parse("apply # go").result, keParseCommand);
}

TEST(SessionScript, OnlySpacesAndTabsSeparateWords) {
  ExpectMalformed("apply\v", 1);
  ExpectMalformed("set\xC2\xA0strength 5", 1);
}

TEST(SessionScript, ColumnsCountCharactersNotBytes) {
  // "ü" is two bytes but one column.
  ExpectMalformed("save-preset \xC3\xBC x", 15);
}

TEST(SessionScript, ErrorsReadFileLineAndColumn) {
  CScriptError error;
  error.line = 4;
  error.column = 12;
  error.message = "malformed point 'x'";
  EXPECT_EQ(FormatScriptError("s.txt", error), "s.txt:4:12: malformed point 'x'");
  error.column = 0;
  EXPECT_EQ(FormatScriptError("s.txt", error), "s.txt:4: malformed point 'x'");
}

TEST(SessionScript, ControlBytesInMessagesAreEscaped) {
  const CParsed parsed = Parse("app\x01ly");
  ASSERT_EQ(parsed.result, keParseError);
  EXPECT_NE(parsed.error.message.find("\\x01"), std::string::npos);
}

TEST(SessionScriptReader, ByteOrderMarkAndCrLfAreIgnored) {
  std::istringstream input("\xEF\xBB\xBFset strength 40\r\n\r\n# note\r\nobject 1,2\r\napply");
  CScriptReader reader(input);
  CScriptCommand command;
  CScriptError error;
  ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadCommand) << error.message;
  EXPECT_EQ(command.kind, keScriptSet);
  EXPECT_EQ(command.text, "40");
  EXPECT_EQ(command.line, 1);
  ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadCommand);
  EXPECT_EQ(command.kind, keScriptObject);
  EXPECT_EQ(command.line, 4);
  ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadCommand);
  EXPECT_EQ(command.kind, keScriptApply);
  EXPECT_EQ(command.line, 5);
  EXPECT_EQ(reader.Next(command, error), CScriptReader::keReadEnd);
}

TEST(SessionScriptReader, AByteOrderMarkLaterInTheFileIsNotIgnored) {
  std::istringstream input("apply\n\xEF\xBB\xBF" "apply\n");
  CScriptReader reader(input);
  CScriptCommand command;
  CScriptError error;
  ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadCommand);
  ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadError);
  EXPECT_EQ(error.line, 2);
  EXPECT_EQ(error.column, 1);
}

TEST(SessionScriptReader, ReadsOneLineAtATime) {
  // A malformed line after the one being carried out is not read yet.
  std::istringstream input("ok\nthis is not a command\n");
  CScriptReader reader(input);
  CScriptCommand command;
  CScriptError error;
  ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadCommand);
  EXPECT_EQ(command.kind, keScriptOk);
  EXPECT_EQ(reader.LineNumber(), 1);
  std::string rest;
  std::getline(input, rest);
  EXPECT_EQ(rest, "this is not a command");
}

TEST(SessionScriptReader, NothingIsReadAfterAnError) {
  std::istringstream input("bogus\napply\n");
  CScriptReader reader(input);
  CScriptCommand command;
  CScriptError error;
  ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadError);
  EXPECT_EQ(error.line, 1);
  EXPECT_EQ(reader.Next(command, error), CScriptReader::keReadEnd);
}

TEST(SessionScriptReader, AMissingFileIsNotOpen) {
  CScriptReader reader(std::string("/nonexistent/dir/script.txt"));
  EXPECT_FALSE(reader.IsOpen());
}

namespace {

// A script that never ends, as /dev/zero is; counts what it hands out.
class CEndlessScript : public std::streambuf {
 public:
  explicit CEndlessScript(char fill) : m_chunk(4096, fill) {}
  size_t BytesHandedOut() const { return m_handedOut - static_cast<size_t>(egptr() - gptr()); }

 protected:
  int_type underflow() override {
    setg(m_chunk.data(), m_chunk.data(), m_chunk.data() + m_chunk.size());
    m_handedOut += m_chunk.size();
    return traits_type::to_int_type(m_chunk[0]);
  }

 private:
  std::string m_chunk;
  size_t m_handedOut = 0;
};

std::string QuotedUnknownCommand(const std::string& word) {
  const CParsed parsed = Parse(word);
  EXPECT_EQ(parsed.result, keParseError);
  const size_t end = parsed.error.message.find("' (");
  return parsed.error.message.substr(0, end + 1);
}

}  // namespace

TEST(SessionScriptReader, AScriptThatNeverEndsIsRefusedAtItsByteLimit) {
  for (const char fill : {'x', '\n', ' '}) {
    CEndlessScript endless(fill);
    std::istream input(&endless);
    CScriptReader reader(input, 10000);
    CScriptCommand command;
    CScriptError error;
    ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadError);
    EXPECT_EQ(error.message, ScriptTooLongMessage());
    EXPECT_EQ(error.column, 0);
    EXPECT_EQ(error.line, fill == '\n' ? 10001 : 1);
    EXPECT_LE(endless.BytesHandedOut(), 10001u);
    EXPECT_EQ(reader.Next(command, error), CScriptReader::keReadEnd);
  }
}

TEST(SessionScriptReader, CommandsWithinTheLimitAreReadBeforeItIsReached) {
  std::istringstream input("apply\nundo\nredo\n");
  CScriptReader reader(input, 11);  // "apply\nundo\n" fits, not the r of redo
  CScriptCommand command;
  CScriptError error;
  ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadCommand);
  ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadCommand);
  ASSERT_EQ(reader.Next(command, error), CScriptReader::keReadError);
  EXPECT_EQ(error.line, 3);
}

TEST(SessionScriptReader, AFileIsReadWholeUpToTheLimitAndNoFurther) {
  const std::string path = ::testing::TempDir() + "/session-script-limit.txt";
  std::string text(kScriptByteLimit, '#');
  text[kScriptByteLimit / 2] = '\n';
  std::ofstream(path, std::ios::binary) << text;
  std::string read;
  std::string message;
  ASSERT_TRUE(ReadScriptFile(path, read, message)) << message;
  EXPECT_EQ(read, text);

  std::ofstream(path, std::ios::binary | std::ios::app) << "\n";
  EXPECT_FALSE(ReadScriptFile(path, read, message));
  EXPECT_EQ(message, path + ": " + ScriptTooLongMessage());
  EXPECT_TRUE(read.empty());
  std::remove(path.c_str());

  EXPECT_FALSE(ReadScriptFile(::testing::TempDir(), read, message));
  EXPECT_EQ(message.rfind(::testing::TempDir() + ": ", 0), 0u) << message;
}

TEST(SessionScript, EchoedWordsAreCutAndWhatATerminalActsOnIsEscaped) {
  // A word of any length comes back as its first 40 characters.
  const std::string huge(200000, 'w');
  EXPECT_EQ(QuotedUnknownCommand(huge), "unknown command '" + std::string(40, 'w') + "\u2026'");
  EXPECT_EQ(QuotedUnknownCommand(std::string(40, 'w')),
            "unknown command '" + std::string(40, 'w') + "'");
  // Letters stay; controls, DEL, C1 controls, direction marks and
  // malformed UTF-8 (a stray continuation, an overlong form, a cut-off
  // character) become \xNN.
  EXPECT_EQ(QuoteScriptWord("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC"), "'\xC3\xA9t\xC3\xA9 \xE2\x82\xAC'");
  EXPECT_EQ(QuoteScriptWord("a\x1B[2Jb\x7F"), "'a\\x1B[2Jb\\x7F'");
  EXPECT_EQ(QuoteScriptWord("\xC2\x9B" "1m"), "'\\xC2\\x9B1m'");
  EXPECT_EQ(QuoteScriptWord("x\xE2\x80\xAEy"), "'x\\xE2\\x80\\xAEy'");
  EXPECT_EQ(QuoteScriptWord("\x80\xC0\xAF\xFF"), "'\\x80\\xC0\\xAF\\xFF'");
  EXPECT_EQ(QuoteScriptWord("z\xE2\x82"), "'z\\xE2\\x82'");
  // Escaped bytes count as characters too: the bound holds for any bytes.
  EXPECT_LE(QuoteScriptWord(std::string(100000, '\x01')).size(), 2u + 40u * 4u + 3u);
}

TEST(SessionScript, EveryMessageEchoingAWordKeepsItShort) {
  const std::string huge(100000, '\x1B');
  for (const std::string& line :
       {huge, "set " + huge + " 1", "set strength " + huge, "set fillholes " + huge,
        "brush " + huge, "brush-smooth " + huge, "display " + huge, "background 1,1 " + huge,
        "object " + huge}) {
    const CParsed parsed = Parse(line);
    ASSERT_EQ(parsed.result, keParseError) << line.substr(0, 20);
    EXPECT_LT(parsed.error.message.size(), 600u) << parsed.error.message;
    EXPECT_EQ(parsed.error.message.find('\x1B'), std::string::npos) << parsed.error.message;
  }
}

TEST(SessionScriptCheck, FindsTheFirstMalformedLineAndRunsNothing) {
  // A command refused by the session is no error here: there is no session.
  std::istringstream refused("apply\nundo\nreset\n");
  CScriptReader accepted(refused);
  CScriptError error;
  EXPECT_TRUE(CheckSessionScript(accepted, error));

  std::istringstream typo("background 1,1\nset strength 5\n  aply\nbogus\n");
  CScriptReader reader(typo);
  ASSERT_FALSE(CheckSessionScript(reader, error));
  EXPECT_EQ(FormatScriptError("s.txt", error).rfind("s.txt:3:3: unknown command 'aply'", 0), 0u)
      << error.message;
}

TEST(SessionScriptCheck, StopsAtOkOrCancelAsAReplayDoes) {
  for (const char* script : {"background 1,1\nok\nthis is not read\n", "cancel\n\xFF\n"}) {
    std::istringstream input(script);
    CScriptReader reader(input);
    CScriptError error;
    EXPECT_TRUE(CheckSessionScript(reader, error)) << script << error.message;
  }
}
