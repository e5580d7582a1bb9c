// The rules of an integer input field: which typed characters it accepts,
// how its text is read (as atof reads it, clamped to the limits, truncated
// toward zero) and how a value is shown. The widget only relays keys and text.
#pragma once

#include <string>
#include <string_view>

// Reads the longest leading decimal number as the C library's atof does in
// the "C" locale (leading white space, sign, digits, fraction, exponent);
// 0 when there is none. Overflow gives an infinity, as atof does.
double ReadNumberText(std::string_view text);

class CNumericField {
 public:
  CNumericField(int minimum, int maximum, int initial);

  double Minimum() const { return m_minimum; }
  double Maximum() const { return m_maximum; }

  // The larger of the minimum and the smaller of the maximum and x; a text
  // that reads as not-a-number counts as the minimum.
  double Clamp(double x) const;

  const std::string& Text() const { return m_text; }
  // What the user typed or pasted; not checked, as an edit control's text.
  void SetText(std::string text) { m_text = std::move(text); }

  // The text parsed and clamped; also becomes the stored value.
  double GetValue();
  // The same, truncated toward zero.
  int GetInt();
  // The last value stored, always within the limits.
  double Value() const { return m_value; }

  // value := Clamp(v), shown as a whole number ("%1.0f").
  void SetValue(double v);
  // Leaving the field: a typed value outside the limits is rewritten.
  // Returns whether the text changed.
  bool OnLeave();
  // Arrow keys and wheel notches: steps of 1 from the clamped current value.
  void Step(int steps);

  // Whether typing `c` is accepted, given the text as it would be with the
  // selection removed and the caret at `caret` (a character index).
  static bool AcceptsChar(std::string_view textWithoutSelection, size_t caret, char c);

  static std::string Format(double value);

 private:
  double m_minimum;
  double m_maximum;
  double m_value;
  std::string m_text;
};
