// The module's text resources: dialog templates, accelerator tables, tool
// bars and string tables, through the line syntax they share. The text's
// first keyword decides which parser gets far; every parser sees every input.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/DialogTemplate.h"
#include "platform/ResourceFormats.h"
#include "platform/ResourceText.h"

namespace {

bool Dialog(std::string_view text) {
  CDialogTemplate dialog;
  std::string error;
  if (!ParseDialogTemplate(text, dialog, &error)) {
    Require(!error.empty(), "a refused template says why");
    return false;
  }
  // As the window lays it out, with the base units of an 8-point font.
  for (const CDialogControl& control : dialog.controls) {
    DialogUnitsToPixels(control.rect, DialogBaseUnitX(312), 13);
    Require(dialog.Find(control.id) != nullptr, "every control can be found by its id");
  }
  DialogUnitsToPixels(dialog.rect, DialogBaseUnitX(312), 13);
  return true;
}

bool Accelerators(std::string_view text) {
  int id = 0;
  std::vector<CAccelerator> table;
  std::string error;
  if (!ParseAcceleratorTable(text, id, table, &error)) return false;
  for (const CAccelerator& entry : table) {
    Require(TranslateAccelerator(table, entry.character) != 0 || entry.command == 0,
            "a character in the table gives a command");
  }
  return true;
}

bool ToolBar(std::string_view text) {
  CToolBarResource toolBar;
  std::string error;
  if (!ParseToolBar(text, toolBar, &error)) return false;
  const int buttons = toolBar.ButtonCount();
  Require(buttons >= 0 && static_cast<size_t>(buttons) <= toolBar.items.size(),
          "a tool bar has no more buttons than items");
  for (size_t item = 0; item <= toolBar.items.size(); ++item) {
    const int index = toolBar.ImageIndex(item);
    Require(index >= -1 && index < buttons, "a button's picture is one of the bitmap's");
  }
  return true;
}

// A string table: one number and one string a line, as the resources hold them.
bool Strings(std::string_view text) {
  std::string error;
  int strings = 0;
  const bool ok = ForEachResourceLine(text, &error, [&](int, const std::vector<CResourceToken>& tokens) {
    if (tokens.size() != 2 || tokens[0].kind != CResourceToken::keNumber ||
        tokens[1].kind != CResourceToken::keString) {
      return false;
    }
    ++strings;
    return true;
  });
  return ok && strings > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool dialog = Dialog(text);
  const bool accelerators = Accelerators(text);
  const bool toolBar = ToolBar(text);
  const bool strings = Strings(text);
  ExpectAccepted(dialog || accelerators || toolBar || strings, "a seed is a resource of some kind");
  return 0;
}
