// Dialog templates: a dialog's size, font, styles and controls, in dialog
// units. The text form, one DIALOG resource each:
//
//   DIALOG 101
//     size 412 257
//     font "Sans Serif" 8
//     style popup caption sysmenu
//     caption "Kelvane"
//     control 1 button "OK" 332 7 50 11 default tabstop
//
// A control line gives id (-1: none), kind, text, x, y, width, height and
// then its styles.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum : uint32_t {
  // Of the dialog window.
  keDlgPopup = 1u << 0,
  keDlgChild = 1u << 1,
  keDlgControl = 1u << 2,  // takes part in its parent's keyboard navigation
  keDlgCaption = 1u << 3,
  keDlgSysMenu = 1u << 4,
  keDlgThickFrame = 1u << 5,  // a sizing border
  keDlgMinimizeBox = 1u << 6,
  keDlgMaximizeBox = 1u << 7,
  keDlgClipChildren = 1u << 8,
  keDlgClipSiblings = 1u << 9,
  keDlgModalFrame = 1u << 10,
  // Of controls.
  keCtlDefault = 1u << 12,   // the default push button
  keCtlHidden = 1u << 13,
  keCtlDisabled = 1u << 14,
  keCtlTabStop = 1u << 15,
  keCtlGroup = 1u << 16,
  keCtlMultiLine = 1u << 17,
  keCtlNotify = 1u << 18,
  keCtlSort = 1u << 19,
  keCtlDropDownList = 1u << 20,
  keCtlAuto = 1u << 21,      // a check box that toggles itself
  keCtlBorder = 1u << 22,
  keCtlAutoHScroll = 1u << 23,
  keCtlVScroll = 1u << 24,
  keCtlOwnerDraw = 1u << 25,  // an image button
};

enum class keControlKind {
  PushButton,
  CheckBox,
  Static,    // a text
  Frame,     // an empty static frame (a placeholder)
  GroupBox,
  Edit,
  ListBox,
  ComboBox,
  Progress,
};

struct CDialogRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const CDialogRect&) const = default;
};

struct CDialogControl {
  int id = -1;
  keControlKind kind = keControlKind::Static;
  std::string text;
  CDialogRect rect;
  uint32_t styles = 0;
  bool Has(uint32_t style) const { return (styles & style) == style; }
};

struct CDialogTemplate {
  int id = 0;
  CDialogRect rect;  // x and y are 0: only the size is given
  std::string fontName;
  int fontPoints = 0;
  uint32_t styles = 0;
  std::string caption;
  std::vector<CDialogControl> controls;  // in tab and creation order

  bool Has(uint32_t style) const { return (styles & style) == style; }
  // The first control with the id, or null.
  const CDialogControl* Find(int id) const;
};

// False (with a message naming the line) for text that is no complete
// template: an unknown keyword, kind or style, a missing size or font, or a
// control without its rectangle.
bool ParseDialogTemplate(std::string_view text, CDialogTemplate& dialog, std::string* error = nullptr);
// Template `id` of the module's resources; false when missing or malformed.
bool LoadDialogTemplate(int id, CDialogTemplate& dialog);

// Dialog units to pixels. A horizontal unit is a quarter of the font's
// average character width, a vertical one an eighth of its height.
// `widthOf52Letters` is the width of "A".."Z" followed by "a".."z".
int DialogBaseUnitX(int widthOf52Letters);
CDialogRect DialogUnitsToPixels(const CDialogRect& rect, int baseUnitX, int baseUnitY);

// What a control of a kind draws around its text, in pixels: `width` and
// `height` beside and above the text together, `rowGap` between two rows
// of a list.
struct CControlChrome {
  int width = 0;
  int height = 0;
  int rowGap = 0;
};

// The dialog font and the controls drawn with it, as laying out a template
// needs to know them.
class IDialogFontMetrics {
 public:
  virtual ~IDialogFontMetrics() = default;
  virtual int TextWidth(std::string_view text) const = 0;
  virtual int LineHeight() const = 0;
  virtual CControlChrome Chrome(keControlKind kind) const = 0;
};

struct CDialogBaseUnits {
  int x = 0;
  int y = 0;
  bool operator==(const CDialogBaseUnits&) const = default;
};

// Whether the control's text wraps at spaces: a text two lines high.
bool ControlTextWraps(const CDialogControl& control);
// The lines the control's text takes in `width` pixels of room (words wider
// than the room stand alone on their line).
std::vector<std::string> ControlTextLines(const CDialogControl& control, int width,
                                          const IDialogFontMetrics& metrics);
// The rows a list box shows: one per eighth of its height in units, at least one.
int ListBoxRows(const CDialogControl& control);
// The template's base units for the font: the average character width and
// the height, as dialog units are defined, raised where a control's text
// would not fit in its rectangle, so every control keeps its proportions
// and every text stays whole. The templates were drawn for a narrow bitmap
// font; wider fonts need the raise.
CDialogBaseUnits FitDialogBaseUnits(const CDialogTemplate& dialog,
                                    const IDialogFontMetrics& metrics);
