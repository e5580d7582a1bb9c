#include "DialogTemplate.h"

#include <algorithm>
#include <utility>

#include "Resources.h"
#include "ResourceText.h"

namespace {

const std::pair<const char*, uint32_t> kStyleNames[] = {
    {"popup", keDlgPopup},
    {"child", keDlgChild},
    {"control", keDlgControl},
    {"caption", keDlgCaption},
    {"sysmenu", keDlgSysMenu},
    {"thickframe", keDlgThickFrame},
    {"minimizebox", keDlgMinimizeBox},
    {"maximizebox", keDlgMaximizeBox},
    {"clipchildren", keDlgClipChildren},
    {"clipsiblings", keDlgClipSiblings},
    {"modalframe", keDlgModalFrame},
    {"default", keCtlDefault},
    {"hidden", keCtlHidden},
    {"disabled", keCtlDisabled},
    {"tabstop", keCtlTabStop},
    {"group", keCtlGroup},
    {"multiline", keCtlMultiLine},
    {"notify", keCtlNotify},
    {"sort", keCtlSort},
    {"dropdownlist", keCtlDropDownList},
    {"auto", keCtlAuto},
    {"border", keCtlBorder},
    {"autohscroll", keCtlAutoHScroll},
    {"vscroll", keCtlVScroll},
    {"ownerdraw", keCtlOwnerDraw},
};

const std::pair<const char*, keControlKind> kKindNames[] = {
    {"button", keControlKind::PushButton},
    {"checkbox", keControlKind::CheckBox},
    {"static", keControlKind::Static},
    {"frame", keControlKind::Frame},
    {"groupbox", keControlKind::GroupBox},
    {"edit", keControlKind::Edit},
    {"listbox", keControlKind::ListBox},
    {"combobox", keControlKind::ComboBox},
    {"progress", keControlKind::Progress},
};

constexpr uint32_t kDialogStyles = (1u << 12) - 1;

bool IsInt(const CResourceToken& token) {
  return token.kind == CResourceToken::keNumber && token.number >= INT32_MIN && token.number <= INT32_MAX;
}

// Styles from tokens[first] on; false naming the first unknown one.
bool ParseStyles(const std::vector<CResourceToken>& tokens, size_t first, uint32_t allowed,
                 uint32_t& styles, std::string& message) {
  for (size_t i = first; i < tokens.size(); ++i) {
    uint32_t flag = 0;
    if (tokens[i].kind == CResourceToken::keWord) {
      for (const auto& [name, value] : kStyleNames) {
        if (tokens[i].text == name) flag = value;
      }
    }
    if ((flag & allowed) == 0) {
      message = "unknown style '" + tokens[i].text + "'";
      return false;
    }
    styles |= flag;
  }
  return true;
}

}  // namespace

const CDialogControl* CDialogTemplate::Find(int controlId) const {
  for (const CDialogControl& control : controls) {
    if (control.id == controlId) return &control;
  }
  return nullptr;
}

bool ParseDialogTemplate(std::string_view text, CDialogTemplate& dialog, std::string* error) {
  CDialogTemplate parsed;
  bool haveHeader = false;
  bool haveSize = false;
  bool haveFont = false;
  std::string message;
  int failedLine = 0;
  const bool tokenized = ForEachResourceLine(text, error, [&](int lineNumber, const std::vector<CResourceToken>& t) {
    failedLine = lineNumber;
    const std::string& keyword = t[0].kind == CResourceToken::keWord ? t[0].text : std::string();
    if (!haveHeader) {
      if (keyword != "DIALOG" || t.size() != 2 || !IsInt(t[1])) {
        message = "expected DIALOG and its number";
        return false;
      }
      parsed.id = static_cast<int>(t[1].number);
      haveHeader = true;
      return true;
    }
    if (keyword == "size") {
      if (t.size() != 3 || !IsInt(t[1]) || !IsInt(t[2]) || t[1].number <= 0 || t[2].number <= 0) {
        message = "size needs a width and a height";
        return false;
      }
      parsed.rect = CDialogRect{0, 0, static_cast<int>(t[1].number), static_cast<int>(t[2].number)};
      haveSize = true;
    } else if (keyword == "font") {
      if (t.size() != 3 || t[1].kind != CResourceToken::keString || !IsInt(t[2]) || t[2].number <= 0) {
        message = "font needs a name and a point size";
        return false;
      }
      parsed.fontName = t[1].text;
      parsed.fontPoints = static_cast<int>(t[2].number);
      haveFont = true;
    } else if (keyword == "style") {
      if (!ParseStyles(t, 1, kDialogStyles, parsed.styles, message)) return false;
    } else if (keyword == "caption") {
      if (t.size() != 2 || t[1].kind != CResourceToken::keString) {
        message = "caption needs one string";
        return false;
      }
      parsed.caption = t[1].text;
    } else if (keyword == "control") {
      if (t.size() < 8 || !IsInt(t[1]) || t[2].kind != CResourceToken::keWord ||
          t[3].kind != CResourceToken::keString || !IsInt(t[4]) || !IsInt(t[5]) || !IsInt(t[6]) ||
          !IsInt(t[7])) {
        message = "control needs id, kind, text, x, y, width and height";
        return false;
      }
      CDialogControl control;
      control.id = static_cast<int>(t[1].number);
      bool known = false;
      for (const auto& [name, kind] : kKindNames) {
        if (t[2].text == name) {
          control.kind = kind;
          known = true;
        }
      }
      if (!known) {
        message = "unknown control kind '" + t[2].text + "'";
        return false;
      }
      control.text = t[3].text;
      control.rect = CDialogRect{static_cast<int>(t[4].number), static_cast<int>(t[5].number),
                                 static_cast<int>(t[6].number), static_cast<int>(t[7].number)};
      if (control.rect.width < 0 || control.rect.height < 0) {
        message = "negative control size";
        return false;
      }
      if (!ParseStyles(t, 8, ~kDialogStyles, control.styles, message)) return false;
      parsed.controls.push_back(std::move(control));
    } else {
      message = "unknown keyword '" + t[0].text + "'";
      return false;
    }
    return true;
  });
  if (!tokenized) {
    if (error && !message.empty()) *error = "line " + std::to_string(failedLine) + ": " + message;
    return false;
  }
  if (!haveHeader || !haveSize || !haveFont) {
    if (error) *error = !haveHeader ? "no DIALOG line" : !haveSize ? "no size" : "no font";
    return false;
  }
  dialog = std::move(parsed);
  return true;
}

bool LoadDialogTemplate(int id, CDialogTemplate& dialog) {
  const std::span<const uint8_t> data = FindResource(RT_DIALOG, id);
  if (data.empty()) return false;
  CDialogTemplate parsed;
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (!ParseDialogTemplate(text, parsed) || parsed.id != id) return false;
  dialog = std::move(parsed);
  return true;
}

int DialogBaseUnitX(int widthOf52Letters) { return (widthOf52Letters / 26 + 1) / 2; }

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDivRound(int a, int b, int c) {
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

CDialogRect DialogUnitsToPixels(const CDialogRect& rect, int baseUnitX, int baseUnitY) {
  // Position and size are converted each on its own, so equal controls get
  // equal sizes wherever they stand.
  return CDialogRect{MulDivRound(rect.x, baseUnitX, 4), MulDivRound(rect.y, baseUnitY, 8),
                     MulDivRound(rect.width, baseUnitX, 4), MulDivRound(rect.height, baseUnitY, 8)};
}

bool ControlTextWraps(const CDialogControl& control) {
  // Only a text control wraps here; buttons and check boxes keep one line.
  return control.kind == keControlKind::Static && control.rect.height >= 16;
}

namespace {

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find(' ', start), text.size());
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

// Kinds whose text the template gives and the dialog shows as it is.
bool HasTemplateText(const CDialogControl& control) {
  switch (control.kind) {
    case keControlKind::PushButton:
    case keControlKind::CheckBox:
    case keControlKind::Static:
    case keControlKind::GroupBox:
      return !control.text.empty();
    default:
      return false;
  }
}

// The lines of text (or rows of a list) a control must show whole; 0 when
// its height holds nothing the template knows.
int RequiredLines(const CDialogControl& control, int roomWidth, const IDialogFontMetrics& metrics) {
  switch (control.kind) {
    case keControlKind::Edit:
      return 1;
    case keControlKind::ListBox:
      return ListBoxRows(control);
    case keControlKind::GroupBox:
      return control.text.empty() ? 0 : 1;
    default:
      if (!HasTemplateText(control)) return 0;
      return ControlTextWraps(control)
                 ? std::max<int>(1, ControlTextLines(control, roomWidth, metrics).size())
                 : 1;
  }
}

}  // namespace

std::vector<std::string> ControlTextLines(const CDialogControl& control, int width,
                                          const IDialogFontMetrics& metrics) {
  if (!ControlTextWraps(control)) return {control.text};
  std::vector<std::string> lines;
  for (const std::string& word : Words(control.text)) {
    if (!lines.empty() && metrics.TextWidth(lines.back() + " " + word) <= width) {
      lines.back() += " " + word;
    } else {
      lines.push_back(word);
    }
  }
  return lines;
}

int ListBoxRows(const CDialogControl& control) { return std::max(1, control.rect.height / 8); }

CDialogBaseUnits FitDialogBaseUnits(const CDialogTemplate& dialog,
                                    const IDialogFontMetrics& metrics) {
  CDialogBaseUnits units;
  units.x = std::max(1, DialogBaseUnitX(metrics.TextWidth(
                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")));
  units.y = std::max(1, metrics.LineHeight());
  // Widths first: how many lines a wrapping text takes depends on them.
  for (const CDialogControl& control : dialog.controls) {
    if (!HasTemplateText(control) || control.rect.width <= 0) continue;
    int textWidth = 0;
    if (ControlTextWraps(control)) {
      for (const std::string& word : Words(control.text)) {
        textWidth = std::max(textWidth, metrics.TextWidth(word));
      }
    } else {
      textWidth = metrics.TextWidth(control.text);
    }
    const int need = textWidth + metrics.Chrome(control.kind).width;
    while (MulDivRound(control.rect.width, units.x, 4) < need) ++units.x;
  }
  for (const CDialogControl& control : dialog.controls) {
    if (control.rect.height <= 0) continue;
    const CControlChrome chrome = metrics.Chrome(control.kind);
    const int room = MulDivRound(control.rect.width, units.x, 4) - chrome.width;
    const int lines = RequiredLines(control, room, metrics);
    if (lines == 0) continue;
    const int need = lines * (metrics.LineHeight() + chrome.rowGap) + chrome.height;
    while (MulDivRound(control.rect.height, units.y, 8) < need) ++units.y;
  }
  return units;
}
