// Accelerator tables, tool bars, icons and cursors among the module's
// resources.
//
//   ACCELERATOR 3001
//     "+" 32773          # a typed character and its command
//
//   TOOLBAR 128
//     button 16 15       # size of one button's picture
//     bitmap 128         # the pictures side by side, in button order
//     transparent 255 0 255
//     items 32776 32777 separator 32791
//
// Icons and cursors are icon-directory files whose pictures are PNG; a
// cursor's entries carry its hot spot.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct CAccelerator {
  char32_t character = 0;  // typed, without modifier keys
  int command = 0;
};

bool ParseAcceleratorTable(std::string_view text, int& id, std::vector<CAccelerator>& table,
                           std::string* error = nullptr);
bool LoadAcceleratorTable(int id, std::vector<CAccelerator>& table);
// The command of the typed character, 0 when the table has none.
int TranslateAccelerator(const std::vector<CAccelerator>& table, char32_t character);

struct CToolBarResource {
  int id = 0;
  int buttonWidth = 0;
  int buttonHeight = 0;
  int bitmapId = 0;
  bool hasTransparent = false;
  uint8_t transparentRed = 0;
  uint8_t transparentGreen = 0;
  uint8_t transparentBlue = 0;
  std::vector<int> items;  // command ids; 0 is a separator

  int ButtonCount() const;
  // Which picture of the bitmap (counted from its left) the item shows; -1
  // for a separator or an index out of range.
  int ImageIndex(size_t item) const;
};

bool ParseToolBar(std::string_view text, CToolBarResource& toolBar, std::string* error = nullptr);
bool LoadToolBar(int id, CToolBarResource& toolBar);

struct CIconPicture {
  int width = 0;
  int height = 0;
  int hotspotX = 0;  // cursors only
  int hotspotY = 0;
  std::span<const uint8_t> png;  // within the resource's bytes
};

// The pictures of an icon (cursor false) or cursor (true) resource; false
// for bytes that are no such file or hold other pictures than PNG.
bool ParseIconDirectory(std::span<const uint8_t> bytes, bool cursor, std::vector<CIconPicture>& pictures);
// The picture of an icon closest in size to `size` (the smallest of the
// larger ones, else the largest); false when there is none.
bool LoadIconPicture(int id, int size, CIconPicture& picture);
bool LoadCursorPicture(int id, CIconPicture& picture);
