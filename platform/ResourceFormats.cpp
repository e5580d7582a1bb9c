#include "ResourceFormats.h"

#include <cstring>

#include "Resources.h"
#include "ResourceText.h"

namespace {

std::string_view AsText(std::span<const uint8_t> data) {
  return {reinterpret_cast<const char*>(data.data()), data.size()};
}

bool IsInt(const CResourceToken& token, int64_t low, int64_t high) {
  return token.kind == CResourceToken::keNumber && token.number >= low && token.number <= high;
}

// The one character of a UTF-8 string; 0 when it holds more or none.
char32_t SingleCharacter(const std::string& text) {
  if (text.empty()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t length = 1;
  char32_t value = p[0];
  if (p[0] >= 0xF0) {
    length = 4;
    value = p[0] & 0x07;
  } else if (p[0] >= 0xE0) {
    length = 3;
    value = p[0] & 0x0F;
  } else if (p[0] >= 0xC0) {
    length = 2;
    value = p[0] & 0x1F;
  } else if (p[0] >= 0x80) {
    return 0;
  }
  if (text.size() != length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (p[i] & 0x3F);
  }
  return value;
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace

// ---- Accelerators -------------------------------------------------------------

bool ParseAcceleratorTable(std::string_view text, int& id, std::vector<CAccelerator>& table,
                           std::string* error) {
  std::vector<CAccelerator> parsed;
  bool haveHeader = false;
  int parsedId = 0;
  std::string message;
  int failedLine = 0;
  const bool ok = ForEachResourceLine(text, error, [&](int line, const std::vector<CResourceToken>& t) {
    failedLine = line;
    if (!haveHeader) {
      if (t.size() != 2 || t[0].kind != CResourceToken::keWord || t[0].text != "ACCELERATOR" ||
          !IsInt(t[1], 1, 65535)) {
        message = "expected ACCELERATOR and its number";
        return false;
      }
      parsedId = static_cast<int>(t[1].number);
      haveHeader = true;
      return true;
    }
    if (t.size() != 2 || t[0].kind != CResourceToken::keString || !IsInt(t[1], 1, 65535)) {
      message = "expected a character in quotes and a command";
      return false;
    }
    const char32_t character = SingleCharacter(t[0].text);
    if (character == 0) {
      message = "an accelerator is one character";
      return false;
    }
    parsed.push_back(CAccelerator{character, static_cast<int>(t[1].number)});
    return true;
  });
  if (!ok || !haveHeader) {
    if (error && !message.empty()) *error = "line " + std::to_string(failedLine) + ": " + message;
    if (error && ok) *error = "no ACCELERATOR line";
    return false;
  }
  id = parsedId;
  table = std::move(parsed);
  return true;
}

bool LoadAcceleratorTable(int id, std::vector<CAccelerator>& table) {
  const std::span<const uint8_t> data = FindResource(RT_ACCELERATOR, id);
  int parsedId = 0;
  std::vector<CAccelerator> parsed;
  if (data.empty() || !ParseAcceleratorTable(AsText(data), parsedId, parsed) || parsedId != id) return false;
  table = std::move(parsed);
  return true;
}

int TranslateAccelerator(const std::vector<CAccelerator>& table, char32_t character) {
  for (const CAccelerator& entry : table) {
    if (entry.character == character) return entry.command;
  }
  return 0;
}

// ---- Tool bars ------------------------------------------------------------------

int CToolBarResource::ButtonCount() const {
  int count = 0;
  for (int item : items) count += item != 0;
  return count;
}

int CToolBarResource::ImageIndex(size_t item) const {
  if (item >= items.size() || items[item] == 0) return -1;
  int index = 0;
  for (size_t i = 0; i < item; ++i) index += items[i] != 0;
  return index;
}

bool ParseToolBar(std::string_view text, CToolBarResource& toolBar, std::string* error) {
  CToolBarResource parsed;
  bool haveHeader = false;
  bool haveButton = false;
  bool haveBitmap = false;
  std::string message;
  int failedLine = 0;
  const bool ok = ForEachResourceLine(text, error, [&](int line, const std::vector<CResourceToken>& t) {
    failedLine = line;
    const std::string keyword = t[0].kind == CResourceToken::keWord ? t[0].text : std::string();
    if (!haveHeader) {
      if (keyword != "TOOLBAR" || t.size() != 2 || !IsInt(t[1], 1, 65535)) {
        message = "expected TOOLBAR and its number";
        return false;
      }
      parsed.id = static_cast<int>(t[1].number);
      haveHeader = true;
    } else if (keyword == "button") {
      if (t.size() != 3 || !IsInt(t[1], 1, 256) || !IsInt(t[2], 1, 256)) {
        message = "button needs a width and a height";
        return false;
      }
      parsed.buttonWidth = static_cast<int>(t[1].number);
      parsed.buttonHeight = static_cast<int>(t[2].number);
      haveButton = true;
    } else if (keyword == "bitmap") {
      if (t.size() != 2 || !IsInt(t[1], 1, 65535)) {
        message = "bitmap needs a number";
        return false;
      }
      parsed.bitmapId = static_cast<int>(t[1].number);
      haveBitmap = true;
    } else if (keyword == "transparent") {
      if (t.size() != 4 || !IsInt(t[1], 0, 255) || !IsInt(t[2], 0, 255) || !IsInt(t[3], 0, 255)) {
        message = "transparent needs red, green and blue";
        return false;
      }
      parsed.hasTransparent = true;
      parsed.transparentRed = static_cast<uint8_t>(t[1].number);
      parsed.transparentGreen = static_cast<uint8_t>(t[2].number);
      parsed.transparentBlue = static_cast<uint8_t>(t[3].number);
    } else if (keyword == "items") {
      for (size_t i = 1; i < t.size(); ++i) {
        if (t[i].kind == CResourceToken::keWord && t[i].text == "separator") {
          parsed.items.push_back(0);
        } else if (IsInt(t[i], 1, 65535)) {
          parsed.items.push_back(static_cast<int>(t[i].number));
        } else {
          message = "items are command numbers or separator";
          return false;
        }
      }
    } else {
      message = "unknown keyword '" + t[0].text + "'";
      return false;
    }
    return true;
  });
  if (!ok || !haveHeader || !haveButton || !haveBitmap) {
    if (error && !message.empty()) *error = "line " + std::to_string(failedLine) + ": " + message;
    if (error && ok) *error = !haveHeader ? "no TOOLBAR line" : !haveButton ? "no button size" : "no bitmap";
    return false;
  }
  toolBar = std::move(parsed);
  return true;
}

bool LoadToolBar(int id, CToolBarResource& toolBar) {
  const std::span<const uint8_t> data = FindResource(RT_TOOLBAR, id);
  CToolBarResource parsed;
  if (data.empty() || !ParseToolBar(AsText(data), parsed) || parsed.id != id) return false;
  toolBar = std::move(parsed);
  return true;
}

// ---- Icons and cursors ----------------------------------------------------------

bool ParseIconDirectory(std::span<const uint8_t> bytes, bool cursor, std::vector<CIconPicture>& pictures) {
  if (bytes.size() < 6) return false;
  const uint8_t* p = bytes.data();
  if (U16(p) != 0 || U16(p + 2) != (cursor ? 2 : 1)) return false;
  const size_t count = U16(p + 4);
  if (count == 0 || bytes.size() < 6 + 16 * count) return false;
  std::vector<CIconPicture> parsed;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = p + 6 + 16 * i;
    const size_t size = U32(entry + 8);
    const size_t offset = U32(entry + 12);
    if (offset > bytes.size() || size > bytes.size() - offset || size < sizeof kPngSignature) return false;
    if (std::memcmp(p + offset, kPngSignature, sizeof kPngSignature) != 0) return false;
    CIconPicture picture;
    picture.width = entry[0] == 0 ? 256 : entry[0];
    picture.height = entry[1] == 0 ? 256 : entry[1];
    if (cursor) {
      picture.hotspotX = U16(entry + 4);
      picture.hotspotY = U16(entry + 6);
    }
    picture.png = bytes.subspan(offset, size);
    parsed.push_back(picture);
  }
  pictures = std::move(parsed);
  return true;
}

bool LoadIconPicture(int id, int size, CIconPicture& picture) {
  std::vector<CIconPicture> pictures;
  if (!ParseIconDirectory(FindResource(RT_ICON, id), false, pictures)) return false;
  const CIconPicture* best = nullptr;
  for (const CIconPicture& candidate : pictures) {
    if (!best) {
      best = &candidate;
    } else if (candidate.width >= size) {
      if (best->width < size || candidate.width < best->width) best = &candidate;
    } else if (best->width < size && candidate.width > best->width) {
      best = &candidate;
    }
  }
  picture = *best;
  return true;
}

bool LoadCursorPicture(int id, CIconPicture& picture) {
  std::vector<CIconPicture> pictures;
  if (!ParseIconDirectory(FindResource(RT_CURSOR, id), true, pictures)) return false;
  picture = pictures.front();
  return true;
}
