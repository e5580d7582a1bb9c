// The line syntax shared by the text resources (string tables, dialogs,
// accelerator tables, tool bars): words, integers and quoted strings,
// separated by blanks; '#' starts a comment outside strings. Strings know
// the escapes \" \\ \n and \t.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct CResourceToken {
  enum Kind { keWord, keNumber, keString };
  Kind kind = keWord;
  std::string text;  // the word, or the string's unescaped text
  int64_t number = 0;
};

// The tokens of one line; false (with a message) for an unterminated string,
// an unknown escape or a character that starts no token.
bool TokenizeResourceLine(std::string_view line, std::vector<CResourceToken>& tokens,
                          std::string* error = nullptr);

// Calls `visit(lineNumber, tokens)` for every line that holds tokens, lines
// counted from 1; stops and answers false as soon as a line does not
// tokenize or `visit` answers false.
template <typename Visit>
bool ForEachResourceLine(std::string_view text, std::string* error, Visit visit) {
  int lineNumber = 0;
  std::vector<CResourceToken> tokens;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    std::string message;
    if (!TokenizeResourceLine(line, tokens, &message)) {
      if (error) *error = "line " + std::to_string(lineNumber) + ": " + message;
      return false;
    }
    if (tokens.empty()) continue;
    if (!visit(lineNumber, tokens)) return false;
  }
  return true;
}
