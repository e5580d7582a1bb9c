#include "editor/model/SessionScript.h"

#include <algorithm>
#include <cstdio>

#include "engine/MatteParameters.h"

namespace {

struct CWord {
  std::string_view text;
  size_t offset;  // byte offset within the line
};

// Columns count characters, not bytes, so a name with accents before the
// faulty word does not shift the column the user looks for.
int ColumnOf(std::string_view line, size_t offset) {
  int column = 1;
  for (size_t i = 0; i < offset && i < line.size(); ++i) {
    if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++column;
  }
  return column;
}

std::vector<CWord> SplitWords(std::string_view line) {
  std::vector<CWord> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    words.push_back({line.substr(start, i - start), start});
  }
  return words;
}

// The names of a table's rows for a message: "a, b, c".
template <typename Row, size_t count, typename NameOf>
std::string Listed(const Row (&rows)[count], NameOf nameOf) {
  std::string names;
  for (const Row& row : rows) names += (names.empty() ? "" : ", ") + std::string(nameOf(row));
  return names;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An optional minus sign and at least one digit; saturated to the limit.
bool ParsePixels(std::string_view text, int& value) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  long long magnitude = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    magnitude = std::min<long long>(magnitude * 10 + (c - '0'), kScriptCoordinateLimit);
  }
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return true;
}

// Digits, optionally a point and one or two digits, then '%'; from 0 to 100.
// A point needs a digit on each side: ".5%" and "5.%" are malformed rather
// than guessed at.
bool ParsePercent(std::string_view text, int& hundredths) {
  if (text.empty() || text.back() != '%') return false;
  text.remove_suffix(1);
  const size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (whole.empty() || (point != std::string_view::npos && fraction.empty()) ||
      fraction.size() > 2) {
    return false;
  }
  long long value = 0;
  for (char c : whole) {
    if (!IsDigit(c)) return false;
    value = std::min<long long>(value * 10 + (c - '0'), 1000);  // anything over 100 will do
  }
  value *= 100;
  for (size_t i = 0; i < 2; ++i) {
    const char c = i < fraction.size() ? fraction[i] : '0';
    if (!IsDigit(c)) return false;
    value += (c - '0') * (i == 0 ? 10 : 1);
  }
  if (value > 10000) return false;
  hundredths = static_cast<int>(value);
  return true;
}

bool ParseCoordinate(std::string_view text, int& value, bool& percent) {
  percent = !text.empty() && text.back() == '%';
  return percent ? ParsePercent(text, value) : ParsePixels(text, value);
}

bool ParsePoint(std::string_view word, CScriptPoint& point) {
  const size_t comma = word.find(',');
  if (comma == std::string_view::npos) return false;
  return ParseCoordinate(word.substr(0, comma), point.x, point.xPercent) &&
         ParseCoordinate(word.substr(comma + 1), point.y, point.yPercent);
}

class CLineParser {
 public:
  CLineParser(std::string_view line, int lineNumber, CScriptCommand& command, CScriptError& error)
      : m_line(line), m_words(SplitWords(line)), m_command(command), m_error(error) {
    m_command = CScriptCommand();
    m_command.line = lineNumber;
    m_error = CScriptError();
    m_error.line = lineNumber;
  }

  keParseResult Parse();

 private:
  keParseResult Fail(std::string message, const CWord* word = nullptr) {
    m_error.message = std::move(message);
    m_error.column = word ? ColumnOf(m_line, word->offset) : 0;
    return keParseError;
  }
  // The command takes exactly `count` words.
  bool Exactly(size_t count, keParseResult& failure) { return Between(count, count, failure); }
  bool Between(size_t least, size_t most, keParseResult& failure);
  bool OnOff(const CWord& word, keParseResult& failure);
  bool FieldValue(const CWord& word, keParseResult& failure);
  keParseResult Points(keScriptCommand kind);
  keParseResult Set();

  std::string_view m_line;
  std::vector<CWord> m_words;
  CScriptCommand& m_command;
  CScriptError& m_error;
};

bool CLineParser::Between(size_t least, size_t most, keParseResult& failure) {
  const std::string name(m_words[0].text);
  if (m_words.size() < least) {
    failure = Fail("too few words for '" + name + "'");
    return false;
  }
  if (m_words.size() > most) {
    failure = Fail("too many words for '" + name + "'", &m_words[most]);
    return false;
  }
  return true;
}

bool CLineParser::OnOff(const CWord& word, keParseResult& failure) {
  if (word.text == "on" || word.text == "off") {
    m_command.on = word.text == "on";
    return true;
  }
  failure = Fail("expected on or off, not " + QuoteScriptWord(word.text), &word);
  return false;
}

bool CLineParser::FieldValue(const CWord& word, keParseResult& failure) {
  if (IsFieldValueWord(word.text)) {
    m_command.text = std::string(word.text);
    return true;
  }
  failure = Fail("malformed number " + QuoteScriptWord(word.text), &word);
  return false;
}

keParseResult CLineParser::Points(keScriptCommand kind) {
  keParseResult failure = keParseError;
  if (!Between(2, m_words.size(), failure)) return failure;
  m_command.kind = kind;
  for (size_t i = 1; i < m_words.size(); ++i) {
    CScriptPoint point;
    if (!ParsePoint(m_words[i].text, point)) {
      return Fail("malformed point " + QuoteScriptWord(m_words[i].text) +
                      " (expected X,Y; each a pixel or a percentage from 0% to 100%)", &m_words[i]);
    }
    m_command.points.push_back(point);
    m_command.pointColumns.push_back(ColumnOf(m_line, m_words[i].offset));
  }
  return keParseCommand;
}

keParseResult CLineParser::Set() {
  keParseResult failure = keParseError;
  if (m_words.size() < 2) return Fail("too few words for 'set'");
  const CWord& field = m_words[1];
  const CMatteParameter* found = FindScriptParameter(field.text);
  if (!found) {
    const std::string words =
        Listed(kMatteParameters, [](const CMatteParameter& row) { return row.scriptWord; });
    return Fail("unknown field " + QuoteScriptWord(field.text) + " (" + words + ")", &field);
  }
  if (!Exactly(3, failure)) return failure;
  m_command.kind = keScriptSet;
  m_command.slot = found->slot;
  const bool read = found->control == keControlField ? FieldValue(m_words[2], failure)
                                                     : OnOff(m_words[2], failure);
  return read ? keParseCommand : failure;
}

// How the words after a command word are read.
enum keCommandForm : int {
  keFormSet,      // a field name and its value
  keFormField,    // one field value
  keFormOnOff,    // on or off
  keFormPoints,   // one point or more
  keFormBare,     // nothing
  keFormDisplay,  // original or result
  keFormName,     // a preset name
};

struct CCommandWord {
  std::string_view name;
  keScriptCommand kind;
  keCommandForm form;
};

// Every command word, in the order an unknown word's message lists them.
constexpr CCommandWord kCommandWords[] = {
    {"set", keScriptSet, keFormSet},
    {"brush", keScriptBrush, keFormField},
    {"brush-smooth", keScriptBrushSmooth, keFormOnOff},
    {"background", keScriptBackground, keFormPoints},
    {"object", keScriptObject, keFormPoints},
    {"erase", keScriptErase, keFormPoints},
    {"recover", keScriptRecover, keFormPoints},
    {"apply", keScriptApply, keFormBare},
    {"delete-marks", keScriptDeleteMarks, keFormBare},
    {"reset", keScriptReset, keFormBare},
    {"display", keScriptDisplay, keFormDisplay},
    {"preset", keScriptPreset, keFormName},
    {"save-preset", keScriptSavePreset, keFormName},
    {"delete-preset", keScriptDeletePreset, keFormBare},
    {"undo", keScriptUndo, keFormBare},
    {"redo", keScriptRedo, keFormBare},
    {"ok", keScriptOk, keFormBare},
    {"cancel", keScriptCancel, keFormBare},
};

keParseResult CLineParser::Parse() {
  if (m_words.empty()) return keParseEmpty;
  const std::string_view word = m_words[0].text;
  const CCommandWord* command = nullptr;
  for (const CCommandWord& candidate : kCommandWords) {
    if (candidate.name == word) command = &candidate;
  }
  if (!command) {
    const std::string names =
        Listed(kCommandWords, [](const CCommandWord& candidate) { return candidate.name; });
    return Fail("unknown command " + QuoteScriptWord(word) + " (" + names + ")", &m_words[0]);
  }

  keParseResult failure = keParseError;
  switch (command->form) {
    case keFormSet:
      return Set();
    case keFormPoints:
      return Points(command->kind);
    case keFormBare:
      if (!Exactly(1, failure)) return failure;
      break;
    case keFormField:
      if (!Exactly(2, failure) || !FieldValue(m_words[1], failure)) return failure;
      break;
    case keFormOnOff:
      if (!Exactly(2, failure) || !OnOff(m_words[1], failure)) return failure;
      break;
    case keFormDisplay: {
      if (!Exactly(2, failure)) return failure;
      const CWord& entry = m_words[1];
      if (entry.text != "original" && entry.text != "result") {
        return Fail("expected original or result, not " + QuoteScriptWord(entry.text), &entry);
      }
      m_command.on = entry.text == "result";
      break;
    }
    case keFormName:
      if (!Exactly(2, failure)) return failure;
      m_command.text = std::string(m_words[1].text);
      m_command.textColumn = ColumnOf(m_line, m_words[1].offset);
      break;
  }
  m_command.kind = command->kind;
  return keParseCommand;
}

}  // namespace

namespace {

// The length of the UTF-8 character at the start of `text` when it is one
// (no overlong forms, surrogates or code points past U+10FFFF), else 0.
size_t Utf8Length(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// The code point of one well-formed UTF-8 character.
uint32_t CodePoint(std::string_view character) {
  const auto byte = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(character[i]));
  };
  if (character.size() == 1) return byte(0);
  uint32_t value = byte(0) & (0xFFu >> (character.size() + 1));
  for (size_t i = 1; i < character.size(); ++i) value = (value << 6) | (byte(i) & 0x3F);
  return value;
}

// Characters a terminal acts on instead of showing: controls (C0, DEL, C1)
// and the marks that reverse the direction of the text around them.
bool ActsOnTerminal(uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x61C || code == 0x200E ||
         code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string QuoteScriptWord(std::string_view word) {
  std::string out = "'";
  size_t characters = 0;
  while (!word.empty()) {
    if (characters == kQuotedWordCharacters) {
      out += "\u2026";
      break;
    }
    ++characters;
    const size_t length = Utf8Length(word);
    const std::string_view character = word.substr(0, std::max<size_t>(length, 1));
    if (length > 0 && !ActsOnTerminal(CodePoint(character))) {
      out += character;
    } else {
      for (const char c : character) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
        out += escaped;
      }
    }
    word.remove_prefix(character.size());
  }
  out += "'";
  return out;
}

int ResolveScriptCoordinate(int value, bool percent, int extent) {
  if (!percent) return value;
  const int64_t last = std::max(extent, 1) - 1;
  return static_cast<int>((int64_t{value} * last + 5000) / 10000);
}

CScriptPoint CScriptPoint::Resolved(int width, int height) const {
  CScriptPoint pixels;
  pixels.x = ResolveScriptCoordinate(x, xPercent, width);
  pixels.y = ResolveScriptCoordinate(y, yPercent, height);
  return pixels;
}

std::string FormatScriptError(const std::string& file, const CScriptError& error) {
  std::string out = file + ":" + std::to_string(error.line);
  if (error.column > 0) out += ":" + std::to_string(error.column);
  return out + ": " + error.message;
}

bool IsFieldValueWord(std::string_view word) {
  if (word.empty()) return false;
  int exponents = 0;
  for (size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    if (c == 'e' || c == 'E') {
      if (i == 0 || ++exponents > 1) return false;
    } else if (!IsDigit(c) && c != '-') {
      return false;
    }
  }
  return true;
}

keParseResult ParseScriptLine(std::string_view line, int lineNumber, CScriptCommand& command,
                              CScriptError& error) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const size_t hash = line.find('#');
  if (hash != std::string_view::npos) line = line.substr(0, hash);
  return CLineParser(line, lineNumber, command, error).Parse();
}

CScriptReader::CScriptReader(std::istream& input, size_t byteLimit)
    : m_input(&input), m_byteLimit(byteLimit) {}

CScriptReader::CScriptReader(const std::string& path)
    : m_file(std::make_unique<std::ifstream>(path, std::ios::binary)) {
  if (m_file->is_open()) m_input = m_file.get();
}

CScriptReader::keLine CScriptReader::ReadLine(std::string& line) {
  line.clear();
  bool any = false;
  for (;;) {
    const int c = m_input->get();
    if (c == std::istream::traits_type::eof()) {
      if (m_input->bad()) return keLineUnreadable;
      return any ? keLineRead : keLineEnd;
    }
    // Counted before it is kept: a line that never ends stops at the bound.
    if (++m_bytes > m_byteLimit) return keLineTooLong;
    if (c == '\n') return keLineRead;
    any = true;
    line += static_cast<char>(c);
  }
}

CScriptReader::keRead CScriptReader::Next(CScriptCommand& command, CScriptError& error) {
  if (m_finished || !m_input) return keReadEnd;
  std::string line;
  while (true) {
    const keLine read = ReadLine(line);
    if (read != keLineRead) {
      m_finished = true;
      if (read == keLineEnd) return keReadEnd;
      error = CScriptError();
      error.line = m_lineNumber + 1;
      error.message =
          read == keLineTooLong ? ScriptTooLongMessage() : "the script could not be read";
      return keReadError;
    }
    ++m_lineNumber;
    std::string_view text = line;
    if (m_lineNumber == 1 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    switch (ParseScriptLine(text, m_lineNumber, command, error)) {
      case keParseCommand:
        return keReadCommand;
      case keParseError:
        m_finished = true;
        return keReadError;
      case keParseEmpty:
        break;
    }
  }
}

std::string ScriptTooLongMessage() {
  return "the script is longer than " + std::to_string(kScriptByteLimit >> 20) +
         " MiB: no session is that long";
}

bool ReadScriptFile(const std::string& path, std::string& text, std::string& message) {
  text.clear();
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) {
    message = path + ": the script cannot be opened";
    return false;
  }
  // One byte past the bound tells a script that is too long from one that
  // fills it exactly.
  text.resize(kScriptByteLimit + 1);
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(file.gcount()));
  if (file.bad()) {
    message = path + ": the script could not be read";
  } else if (text.size() > kScriptByteLimit) {
    message = path + ": " + ScriptTooLongMessage();
  } else {
    return true;
  }
  text.clear();
  return false;
}

bool CheckSessionScript(CScriptReader& reader, CScriptError& error) {
  CScriptCommand command;
  for (;;) {
    switch (reader.Next(command, error)) {
      case CScriptReader::keReadError:
        return false;
      case CScriptReader::keReadEnd:
        return true;
      case CScriptReader::keReadCommand:
        // A replay reads nothing after these.
        if (command.kind == keScriptOk || command.kind == keScriptCancel) return true;
        break;
    }
  }
}

std::string ScriptCoordinateText(int value, bool percent) {
  if (!percent) return std::to_string(value);
  std::string text = std::to_string(value / 100);
  if (const int hundredths = value % 100; hundredths != 0) {
    text += (hundredths < 10 ? ".0" : ".") + std::to_string(hundredths);
    if (text.back() == '0') text.pop_back();
  }
  return text + "%";
}

bool PixelAsPercent(int pixel, int extent, int& hundredths) {
  if (extent <= 0 || pixel < 0 || pixel >= extent) return false;
  if (extent == 1) {
    hundredths = 0;
    return true;
  }
  // The nearest percentage, or one beside it where rounding the other way
  // lands on the pixel.
  const int64_t span = extent - 1;
  const int64_t nearest = (int64_t{pixel} * 10000 + span / 2) / span;
  for (int64_t candidate : {nearest, nearest - 1, nearest + 1}) {
    if (candidate < 0 || candidate > 10000) continue;
    if (ResolveScriptCoordinate(static_cast<int>(candidate), true, extent) == pixel) {
      hundredths = static_cast<int>(candidate);
      return true;
    }
  }
  return false;
}
