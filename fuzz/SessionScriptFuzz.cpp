// Session scripts as the reader hands them out, checked against the line
// parser it is built on.
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "editor/model/SessionScript.h"
#include "fuzz/FuzzSupport.h"

namespace {

void CheckPoints(const CScriptCommand& command) {
  for (const CScriptPoint& point : command.points) {
    for (const auto& [value, percent] : {std::pair{point.x, point.xPercent}, std::pair{point.y, point.yPercent}}) {
      if (percent) {
        Require(value >= 0 && value <= 10000, "a percentage lies between 0 % and 100 %");
        // Every extent a picture can have, at both ends of the range.
        for (int extent : {1, 2, 3, 101, 32767}) {
          const int pixel = ResolveScriptCoordinate(value, true, extent);
          Require(pixel >= 0 && pixel <= extent - 1, "a percentage resolves to a pixel of the picture");
        }
      } else {
        Require(value >= -kScriptCoordinateLimit && value <= kScriptCoordinateLimit,
                "pixel coordinates stay within their bound");
      }
    }
  }
}

// Nothing a terminal acts on, whatever bytes the script held.
bool HasNoControls(std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

// The longest message an error can have: a quoted word (at most 40
// characters, each escaped byte four) in the longest sentence.
constexpr size_t kLongestMessage = 640;

void CheckError(const CScriptError& error, std::string_view line) {
  Require(!error.message.empty(), "an error says what is wrong");
  Require(error.message.size() <= kLongestMessage, "an error echoes no more than a short word");
  Require(HasNoControls(error.message), "an error echoes no control bytes");
  Require(error.column >= 0 && static_cast<size_t>(error.column) <= line.size() + 1,
          "an error's column lies on its line");
  const std::string formatted = FormatScriptError("s.txt", error);
  Require(formatted.rfind("s.txt:" + std::to_string(error.line) + ":", 0) == 0,
          "a formatted error starts with the file and line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string quoted = QuoteScriptWord(text);
  Require(quoted.size() <= 2 + kQuotedWordCharacters * 16 + 3, "a quoted word is short");
  Require(HasNoControls(quoted), "a quoted word holds no control bytes");

  // The reader may be bounded below the text's length: it then hands out
  // the lines that end within the bound and refuses the one that crosses it.
  // An odd last byte says so (never a seed's line end), the byte how far.
  const uint8_t last = size > 0 ? data[size - 1] : 0;
  const size_t limit = last & 1 ? text.size() * (last >> 1) / 128 : text.size();

  // What the line parser alone makes of the text, up to the first error.
  struct CExpected {
    keScriptCommand kind;
    int line;
  };
  std::vector<CExpected> expected;
  bool expectError = false;
  int errorLine = 0;
  bool expectTooLong = false;
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(std::string_view(text).substr(start, end - start));
    // The line with its newline holds the byte past the bound.
    if (limit < text.size() && limit <= end) break;
    start = end + 1;
  }
  const size_t withinLimit = limit < text.size() ? lines.size() - 1 : lines.size();
  for (size_t i = 0; i < lines.size() && !expectError; ++i) {
    if (i == withinLimit) {
      expectError = expectTooLong = true;
      errorLine = static_cast<int>(i) + 1;
      break;
    }
    std::string_view line = lines[i];
    if (i == 0 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    CScriptCommand command;
    CScriptError error;
    const int number = static_cast<int>(i) + 1;
    switch (ParseScriptLine(line, number, command, error)) {
      case keParseCommand:
        Require(command.line == number, "a command knows its line");
        CheckPoints(command);
        expected.push_back({command.kind, number});
        break;
      case keParseError:
        Require(error.line == number, "an error names its line");
        CheckError(error, line);
        expectError = true;
        errorLine = number;
        break;
      case keParseEmpty:
        break;
    }
  }

  std::istringstream input(text);
  CScriptReader reader(input, limit);
  size_t count = 0;
  CScriptCommand command;
  CScriptError error;
  CScriptReader::keRead read;
  while ((read = reader.Next(command, error)) == CScriptReader::keReadCommand) {
    Require(count < expected.size(), "the reader hands out no command the lines do not hold");
    Require(command.kind == expected[count].kind && command.line == expected[count].line,
            "the reader hands out the lines' commands in order");
    ++count;
  }
  Require(count == expected.size(), "the reader hands out every command before an error");
  Require((read == CScriptReader::keReadError) == expectError, "the reader stops at the first malformed line");
  if (expectError) Require(error.line == errorLine, "the reader names the malformed line");
  if (expectError) {
    Require((error.message == ScriptTooLongMessage()) == expectTooLong,
            "the reader refuses the line that crosses its bound, and only that");
  }
  // Unknown only at the end of the text, which a bound below it never reaches.
  const std::streamoff consumed = input.tellg();
  Require(consumed == -1 ? limit >= text.size() : static_cast<size_t>(consumed) <= limit + 1,
          "the reader reads no further than one byte past its bound");
  Require(reader.Next(command, error) == CScriptReader::keReadEnd, "nothing is read after the end or an error");
  ExpectAccepted(expectTooLong || (!expectError && !expected.empty()), "a seed script parses");
  return 0;
}
