#include "Resources.h"

#include <algorithm>

std::span<const uint8_t> FindResource(std::string_view type, int id) {
  size_t count = 0;
  const CResourceEntry* table = ModuleResourceTable(count);
  for (size_t i = 0; i < count; ++i) {
    if (table[i].id == id && type == table[i].type) return {table[i].data, table[i].size};
  }
  return {};
}

std::vector<int> ResourceIds(std::string_view type) {
  size_t count = 0;
  const CResourceEntry* table = ModuleResourceTable(count);
  std::vector<int> ids;
  for (size_t i = 0; i < count; ++i) {
    if (type == table[i].type) ids.push_back(table[i].id);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

bool LoadString(int id, std::string& text) {
  size_t count = 0;
  const CResourceEntry* table = ModuleResourceTable(count);
  for (size_t i = 0; i < count; ++i) {
    if (table[i].id == id && RT_STRING == table[i].type) {
      text.assign(reinterpret_cast<const char*>(table[i].data), table[i].size);
      return true;
    }
  }
  return false;
}
