#include "PluginScanner.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "tools/filterhost/ElfSection.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Codes are stored as little-endian integers whose high byte is the first
// character.
std::string CodeText(const uint8_t* p) {
  const uint32_t code = Le32(p);
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) text[i] = static_cast<char>(code >> (24 - 8 * i));
  return text;
}

bool PascalText(const uint8_t* data, uint32_t length, std::string& text) {
  if (length == 0 || data[0] > length - 1) return false;
  text.assign(reinterpret_cast<const char*>(data + 1), data[0]);
  return true;
}

std::string CText(const uint8_t* data, uint32_t length) {
  const uint8_t* end = std::find(data, data + length, uint8_t{0});
  return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(end - data));
}

}  // namespace

bool ParsePipl(const uint8_t* bytes, size_t size, CPluginInfo& info, std::string& error) {
  info.kind.clear();
  info.name.clear();
  info.category.clear();
  info.entryPoint.clear();
  constexpr size_t kHeader = 10;  // 16-bit version, 32-bit list version, 32-bit count
  if (size < kHeader || (bytes[0] | bytes[1] << 8) != 1) {
    error = "not a property list";
    return false;
  }
  const uint32_t count = Le32(bytes + 6);
  size_t at = kHeader;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < 16) {
      error = "property list ends early";
      return false;
    }
    const std::string vendor = CodeText(bytes + at);
    const std::string key = CodeText(bytes + at + 4);
    const uint32_t length = Le32(bytes + at + 12);
    const uint8_t* data = bytes + at + 16;
    const uint64_t padded = (static_cast<uint64_t>(length) + 3) / 4 * 4;
    if (padded > size - at - 16) {
      error = "property " + key + " runs past the list";
      return false;
    }
    if (vendor == "8BIM") {
      if (key == "kind" && length >= 4) {
        info.kind = CodeText(data);
      } else if (key == "name") {
        if (!PascalText(data, length, info.name)) {
          error = "damaged name property";
          return false;
        }
      } else if (key == "catg") {
        if (!PascalText(data, length, info.category)) {
          error = "damaged category property";
          return false;
        }
      } else if (key == "wx86") {
        info.entryPoint = CText(data, length);
      }
    }
    at += 16 + static_cast<size_t>(padded);
  }
  if (info.kind.empty()) {
    error = "property list has no kind";
    return false;
  }
  return true;
}

std::vector<CPluginInfo> ScanPluginFolders(const std::vector<std::string>& folders) {
  namespace fs = std::filesystem;
  std::vector<CPluginInfo> found;
  std::set<fs::path> seen;
  for (const std::string& folder : folders) {
    std::error_code failed;
    std::vector<fs::path> modules;
    for (fs::directory_iterator it(folder, failed), end; !failed && it != end;
         it.increment(failed)) {
      const fs::path& path = it->path();
      if (path.extension() != ".8bf") continue;
      std::error_code notFile;
      if (!fs::is_regular_file(path, notFile)) continue;
      modules.push_back(path);
    }
    std::sort(modules.begin(), modules.end());
    for (const fs::path& path : modules) {
      std::error_code noCanonical;
      fs::path canonical = fs::canonical(path, noCanonical);
      if (noCanonical) canonical = path;
      if (!seen.insert(canonical).second) continue;
      std::vector<uint8_t> bytes;
      std::string error;
      CPluginInfo info;
      if (!ReadElfSection(path.string(), ".pipl", bytes, error)) continue;
      if (!ParsePipl(bytes.data(), bytes.size(), info, error)) continue;
      if (info.kind != "8BFM") continue;
      info.path = fs::absolute(path).lexically_normal().string();
      found.push_back(std::move(info));
    }
  }
  return found;
}
