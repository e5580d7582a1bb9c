// Resources compiled into the binary and found by type and number, as a
// module carries its own dialogs, strings and pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Resource types. Strings are one resource per string id (UTF-8, no
// terminator); dialogs, accelerator tables and tool bars are their text
// definitions; bitmaps are packed device-independent bitmaps; icons and
// cursors are icon-directory files holding PNG pictures.
inline constexpr std::string_view RT_PNG = "PNG";
inline constexpr std::string_view RT_BITMAP = "BITMAP";
inline constexpr std::string_view RT_ICON = "ICON";
inline constexpr std::string_view RT_CURSOR = "CURSOR";
inline constexpr std::string_view RT_DIALOG = "DIALOG";
inline constexpr std::string_view RT_STRING = "STRINGTABLE";
inline constexpr std::string_view RT_ACCELERATOR = "ACCELERATOR";
inline constexpr std::string_view RT_TOOLBAR = "TOOLBAR";

struct CResourceEntry {
  const char* type;
  int id;
  const uint8_t* data;
  size_t size;
};

// The table of this binary's resources, generated from resources/.
const CResourceEntry* ModuleResourceTable(size_t& count);

// The bytes of the resource; an empty span when there is none.
std::span<const uint8_t> FindResource(std::string_view type, int id);
// The ids present for a type, ascending.
std::vector<int> ResourceIds(std::string_view type);
// String resource `id`; false (and `text` untouched) when there is none.
bool LoadString(int id, std::string& text);
