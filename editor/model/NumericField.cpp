#include "editor/model/NumericField.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The "C" locale, so that the reading does not change with the user's
// decimal separator (the host program may set the locale from the
// environment).
locale_t CLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

}  // namespace

double ReadNumberText(std::string_view text) {
  // Only the decimal form is read: hexadecimal, "inf" and "nan" cannot be
  // typed into the field, and reading a pasted "nan" would leave the value
  // without a place in the limits.
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  const size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  size_t end = i;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) ++j;
      end = j;
    }
  }
  const std::string number(text.substr(start, end - start));
  return strtod_l(number.c_str(), nullptr, CLocale());
}

CNumericField::CNumericField(int minimum, int maximum, int initial)
    : m_minimum(minimum), m_maximum(maximum), m_value(minimum) {
  SetValue(initial);
}

double CNumericField::Clamp(double x) const {
  if (std::isnan(x)) return m_minimum;
  return std::max(m_minimum, std::min(m_maximum, x));
}

double CNumericField::GetValue() {
  m_value = Clamp(ReadNumberText(m_text));
  return m_value;
}

int CNumericField::GetInt() { return static_cast<int>(std::trunc(GetValue())); }

void CNumericField::SetValue(double v) {
  m_value = Clamp(v);
  m_text = Format(m_value);
}

bool CNumericField::OnLeave() {
  const double typed = ReadNumberText(m_text);
  const double clamped = GetValue();
  if (clamped == typed) return false;
  const std::string before = m_text;
  SetValue(clamped);
  return m_text != before;
}

void CNumericField::Step(int steps) { SetValue(Clamp(ReadNumberText(m_text)) + steps); }

bool CNumericField::AcceptsChar(std::string_view textWithoutSelection, size_t caret, char c) {
  if (IsDigit(c) || c == '\b' || c == '-') return true;
  if (c == 'e' || c == 'E') {
    return caret != 0 && textWithoutSelection.find_first_of("eE") == std::string_view::npos;
  }
  return false;
}

std::string CNumericField::Format(double value) {
  // As "%1.0f" prints, independent of the locale.
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::fixed, 0);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer, result.ptr);
}
