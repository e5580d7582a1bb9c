// Session scripts: what a user does in the editor between its opening and OK
// or Cancel, one command a line. The reader hands out one command at a time,
// so nothing after the line being carried out is read.
#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HostInterface.h"

enum keScriptCommand : int {
  keScriptSet,  // a parameter of the filter
  keScriptBrush,
  keScriptBrushSmooth,
  keScriptBackground,
  keScriptObject,
  keScriptErase,
  keScriptRecover,
  keScriptApply,
  keScriptDeleteMarks,
  keScriptReset,
  keScriptDisplay,
  keScriptPreset,
  keScriptSavePreset,
  keScriptDeletePreset,
  keScriptUndo,
  keScriptRedo,
  keScriptOk,
  keScriptCancel,
};

// A coordinate is pixels, or a percentage of the picture's width (x) or
// height (y) kept in hundredths (0 to 10000): the reader does not know the
// picture, so the replay resolves it.
struct CScriptPoint {
  int x = 0;
  int y = 0;
  bool xPercent = false;
  bool yPercent = false;
  bool operator==(const CScriptPoint&) const = default;
  // The pixel point on a picture of this size.
  CScriptPoint Resolved(int width, int height) const;
};

// The pixel a coordinate stands for on an axis of `extent` pixels:
// hundredths of a percent P give (P * (extent - 1) + 5000) / 10000, so 0 %
// is the first pixel and 100 % the last.
int ResolveScriptCoordinate(int value, bool percent, int extent);

// A coordinate as a script writes it: pixels ("12"), or hundredths of a
// percent ("12.5%").
std::string ScriptCoordinateText(int value, bool percent);
// The hundredths of a percent that stand for `pixel` on an axis of `extent`
// pixels; false when no percentage comes back to exactly that pixel.
bool PixelAsPercent(int pixel, int extent, int& hundredths);

struct CScriptCommand {
  keScriptCommand kind = keScriptOk;
  int line = 0;
  // set: the slot of the parameter.
  int slot = -1;
  // The field value as typed (set ..., brush) or the preset name.
  std::string text;
  int textColumn = 0;  // where `text` starts on the line, for messages
  // on/off of a check box; for display, true means "result".
  bool on = false;
  std::vector<CScriptPoint> points;
  std::vector<int> pointColumns;  // where each point starts on the line
};

struct CScriptError {
  int line = 0;
  int column = 0;  // 1-based, in characters; 0 when no single word is at fault
  std::string message;
};

// "FILE:LINE: message" or "FILE:LINE:COLUMN: message".
std::string FormatScriptError(const std::string& file, const CScriptError& error);

enum keParseResult : int {
  keParseCommand,  // a command was read
  keParseEmpty,    // a blank or comment-only line
  keParseError,
};

// One line without its line end (a trailing CR is tolerated and dropped).
keParseResult ParseScriptLine(std::string_view line, int lineNumber, CScriptCommand& command,
                              CScriptError& error);

// A word of the script for a message, in quotes: cut after
// kQuotedWordCharacters characters (an ellipsis says so), and every byte a
// terminal would act on (controls, invalid UTF-8) written as \xNN.
inline constexpr size_t kQuotedWordCharacters = 40;
std::string QuoteScriptWord(std::string_view word);

// Whether `word` is something the user could type into an integer field:
// digits and minus signs with at most one e or E, which is not the first.
bool IsFieldValueWord(std::string_view word);

// Coordinates are kept within this bound: a point that far out lies outside
// any image anyway and lands on its edge, and the arithmetic stays in range.
inline constexpr int kScriptCoordinateLimit = 1 << 30;

class CScriptReader {
 public:
  enum keRead : int { keReadCommand, keReadEnd, keReadError };

  // Reads from a stream that the caller keeps alive, no more than
  // `byteLimit` bytes of it: past them the script is refused as too long.
  explicit CScriptReader(std::istream& input, size_t byteLimit = kScriptByteLimit);
  // Opens the file; IsOpen() tells whether that worked.
  explicit CScriptReader(const std::string& path);

  bool IsOpen() const { return m_input != nullptr; }

  // The next command, skipping blank and comment lines. After keReadError
  // or keReadEnd nothing more is read.
  keRead Next(CScriptCommand& command, CScriptError& error);

  int LineNumber() const { return m_lineNumber; }

 private:
  enum keLine : int { keLineRead, keLineEnd, keLineTooLong, keLineUnreadable };
  // The next line without its newline. Past the byte limit nothing more is
  // read, so neither a line nor a script that never ends grows beyond it.
  keLine ReadLine(std::string& line);

  std::unique_ptr<std::ifstream> m_file;
  std::istream* m_input = nullptr;
  int m_lineNumber = 0;
  size_t m_bytes = 0;
  size_t m_byteLimit = kScriptByteLimit;
  bool m_finished = false;
};

// Why a script longer than kScriptByteLimit is refused.
std::string ScriptTooLongMessage();

// The whole script file, read no further than one byte past
// kScriptByteLimit. False, with "FILE: why" in `message`, when it cannot be
// opened or read or is longer than that.
bool ReadScriptFile(const std::string& path, std::string& text, std::string& message);

// Reads the script through without carrying anything out, up to its first
// ok or cancel (a replay reads nothing after them): the errors that need no
// picture. False, with `error`, at the first malformed line.
bool CheckSessionScript(CScriptReader& reader, CScriptError& error);
