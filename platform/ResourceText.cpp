#include "ResourceText.h"

#include <cctype>

namespace {

bool IsWordStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool TokenizeResourceLine(std::string_view line, std::vector<CResourceToken>& tokens, std::string* error) {
  tokens.clear();
  size_t i = 0;
  auto fail = [&](const std::string& message) {
    if (error) *error = message + " at column " + std::to_string(i + 1);
    return false;
  };
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      CResourceToken token;
      token.kind = CResourceToken::keString;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d != '\\') {
          token.text += d;
          continue;
        }
        if (i >= line.size()) break;
        switch (line[i++]) {
          case '"': token.text += '"'; break;
          case '\\': token.text += '\\'; break;
          case 'n': token.text += '\n'; break;
          case 't': token.text += '\t'; break;
          default: --i; return fail("unknown escape");
        }
      }
      if (!closed) return fail("unterminated string");
      tokens.push_back(std::move(token));
    } else if (IsDigit(c) || (c == '-' && i + 1 < line.size() && IsDigit(line[i + 1]))) {
      CResourceToken token;
      token.kind = CResourceToken::keNumber;
      const bool negative = c == '-';
      if (negative) ++i;
      int64_t value = 0;
      while (i < line.size() && IsDigit(line[i])) {
        value = value * 10 + (line[i++] - '0');
        if (value > (int64_t{1} << 40)) return fail("number too large");
      }
      if (i < line.size() && IsWordChar(line[i])) return fail("malformed number");
      token.number = negative ? -value : value;
      token.text = std::to_string(token.number);
      tokens.push_back(std::move(token));
    } else if (IsWordStart(c)) {
      CResourceToken token;
      token.kind = CResourceToken::keWord;
      while (i < line.size() && IsWordChar(line[i])) token.text += line[i++];
      tokens.push_back(std::move(token));
    } else {
      return fail(std::string("unexpected character '") + c + "'");
    }
  }
  return true;
}
