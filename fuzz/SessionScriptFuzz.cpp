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

void CheckError(const CScriptError& error, std::string_view line) {
  Require(!error.message.empty(), "an error says what is wrong");
  Require(error.column >= 0 && static_cast<size_t>(error.column) <= line.size() + 1,
          "an error's column lies on its line");
  const std::string formatted = FormatScriptError("s.txt", error);
  Require(formatted.rfind("s.txt:" + std::to_string(error.line) + ":", 0) == 0,
          "a formatted error starts with the file and line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  // What the line parser alone makes of the text, up to the first error.
  struct CExpected {
    keScriptCommand kind;
    int line;
  };
  std::vector<CExpected> expected;
  bool expectError = false;
  int errorLine = 0;
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(std::string_view(text).substr(start, end - start));
    start = end + 1;
  }
  for (size_t i = 0; i < lines.size() && !expectError; ++i) {
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
  CScriptReader reader(input);
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
  Require(reader.Next(command, error) == CScriptReader::keReadEnd, "nothing is read after the end or an error");
  ExpectAccepted(!expectError && !expected.empty(), "a seed script parses");
  return 0;
}
