// Turns the resource manifest and the files it names into a C++ source that
// holds every resource as a byte array and the table FindResource searches.
//
//   PackResources MANIFEST OUTPUT.cpp
//
// A manifest line is TYPE ID "FILE" (paths relative to the manifest). With
// ID all the file holds many: a string table gives one resource per line
// "ID "text"", any other text file one per block that starts with a line
// "TYPE ID". Bitmap files lose their 14-byte file header, so the resource is
// the packed bitmap itself.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/ResourceText.h"

namespace {

namespace fs = std::filesystem;

const std::set<std::string> kTypes = {"PNG", "BITMAP", "ICON", "CURSOR", "DIALOG", "STRINGTABLE",
                                      "ACCELERATOR", "TOOLBAR"};

struct Failure {
  std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& message) {
  throw Failure{where + ": " + message};
}

std::string ReadFile(const fs::path& path, const std::string& where) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(where, "cannot read " + path.string());
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

using Key = std::pair<std::string, int>;

class Packer {
 public:
  void Add(const std::string& type, int64_t id, std::string bytes, const std::string& where) {
    if (id < 1 || id > 65535) Fail(where, "resource numbers run from 1 to 65535");
    if (bytes.empty()) Fail(where, "empty resource");
    const Key key{type, static_cast<int>(id)};
    if (!m_resources.emplace(key, std::move(bytes)).second) {
      Fail(where, type + " " + std::to_string(id) + " is defined twice");
    }
  }
  const std::map<Key, std::string>& Resources() const { return m_resources; }

 private:
  std::map<Key, std::string> m_resources;
};

void AddStrings(Packer& packer, const std::string& text, const std::string& file) {
  std::string error;
  const bool ok = ForEachResourceLine(text, &error, [&](int line, const std::vector<CResourceToken>& t) {
    const std::string where = file + ":" + std::to_string(line);
    if (t.size() != 2 || t[0].kind != CResourceToken::keNumber || t[1].kind != CResourceToken::keString) {
      Fail(where, "expected a number and a string");
    }
    packer.Add("STRINGTABLE", t[0].number, t[1].text, where);
    return true;
  });
  if (!ok) Fail(file, error);
}

// Blocks of a text file, each from its "TYPE ID" line to the next.
void AddBlocks(Packer& packer, const std::string& type, const std::string& text, const std::string& file) {
  std::istringstream in(text);
  std::string line;
  int lineNumber = 0;
  int64_t id = -1;
  int blockLine = 0;
  std::string block;
  auto flush = [&] {
    if (id >= 0) packer.Add(type, id, block, file + ":" + std::to_string(blockLine));
    block.clear();
  };
  std::vector<CResourceToken> tokens;
  while (std::getline(in, line)) {
    ++lineNumber;
    std::string error;
    if (!TokenizeResourceLine(line, tokens, &error)) Fail(file + ":" + std::to_string(lineNumber), error);
    if (!tokens.empty() && tokens[0].kind == CResourceToken::keWord && tokens[0].text == type) {
      if (tokens.size() < 2 || tokens[1].kind != CResourceToken::keNumber) {
        Fail(file + ":" + std::to_string(lineNumber), type + " needs a number");
      }
      flush();
      id = tokens[1].number;
      blockLine = lineNumber;
    } else if (id < 0 && !tokens.empty()) {
      Fail(file + ":" + std::to_string(lineNumber), "text before the first " + type);
    }
    if (id >= 0) block += line + "\n";
  }
  flush();
  if (blockLine == 0) Fail(file, "no " + type + " in the file");
}

std::string CheckedBinary(const std::string& type, std::string bytes, const std::string& where) {
  if (type == "PNG") {
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) Fail(where, "not a PNG file");
  } else if (type == "BITMAP") {
    if (bytes.size() < 14 + 40 || bytes.compare(0, 2, "BM") != 0) Fail(where, "not a bitmap file");
    bytes.erase(0, 14);
  } else if (type == "ICON" || type == "CURSOR") {
    const char kind = type == "ICON" ? 1 : 2;
    if (bytes.size() < 6 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != kind || bytes[3] != 0) {
      Fail(where, "not an " + std::string(type == "ICON" ? "icon" : "cursor") + " file");
    }
  }
  return bytes;
}

std::string Generate(const Packer& packer, const std::string& manifestName) {
  std::ostringstream out;
  out << "// Generated from " << manifestName << " by PackResources; do not edit.\n"
      << "#include \"platform/Resources.h\"\n\nnamespace {\n\n";
  int index = 0;
  for (const auto& [key, bytes] : packer.Resources()) {
    out << "// " << key.first << " " << key.second << "\n";
    out << "const uint8_t kData" << index++ << "[" << bytes.size() << "] = {";
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (i % 16 == 0) out << "\n   ";
      out << ' ' << static_cast<unsigned>(static_cast<uint8_t>(bytes[i])) << ',';
    }
    out << "\n};\n\n";
  }
  out << "const CResourceEntry kTable[] = {\n";
  index = 0;
  for (const auto& [key, bytes] : packer.Resources()) {
    out << "    {\"" << key.first << "\", " << key.second << ", kData" << index << ", sizeof kData" << index
        << "},\n";
    ++index;
  }
  out << "};\n\n}  // namespace\n\n"
      << "const CResourceEntry* ModuleResourceTable(size_t& count) {\n"
      << "  count = sizeof kTable / sizeof kTable[0];\n"
      << "  return kTable;\n}\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: PackResources MANIFEST OUTPUT.cpp\n";
    return 2;
  }
  const fs::path manifest = argv[1];
  const fs::path output = argv[2];
  try {
    const std::string text = ReadFile(manifest, manifest.string());
    Packer packer;
    std::string error;
    const bool ok = ForEachResourceLine(text, &error, [&](int line, const std::vector<CResourceToken>& t) {
      const std::string where = manifest.string() + ":" + std::to_string(line);
      if (t.size() < 3 || t[0].kind != CResourceToken::keWord || !kTypes.count(t[0].text)) {
        Fail(where, "expected TYPE ID FILE with a known type");
      }
      const std::string& type = t[0].text;
      if (t.size() != 3 || t[2].kind != CResourceToken::keString) Fail(where, "the file name is given in quotes");
      const fs::path file = manifest.parent_path() / t[2].text;
      const std::string fileName = file.string();
      if (t[1].kind == CResourceToken::keWord && t[1].text == "all") {
        const std::string contents = ReadFile(file, where);
        if (type == "STRINGTABLE") {
          AddStrings(packer, contents, fileName);
        } else if (type == "DIALOG" || type == "ACCELERATOR" || type == "TOOLBAR") {
          AddBlocks(packer, type, contents, fileName);
        } else {
          Fail(where, "only text resources come many to a file");
        }
      } else if (t[1].kind == CResourceToken::keNumber) {
        packer.Add(type, t[1].number, CheckedBinary(type, ReadFile(file, where), fileName), where);
      } else {
        Fail(where, "the number must be a number or all");
      }
      return true;
    });
    if (!ok) Fail(manifest.string(), error);
    const std::string source = Generate(packer, manifest.filename().string());
    // Unchanged output keeps its time stamp, so nothing is rebuilt for it.
    std::string previous;
    {
      std::ifstream in(output, std::ios::binary);
      if (in) {
        std::ostringstream bytes;
        bytes << in.rdbuf();
        previous = bytes.str();
      }
    }
    if (previous != source) {
      std::ofstream out(output, std::ios::binary | std::ios::trunc);
      out << source;
      if (!out) Fail(output.string(), "cannot write");
    }
  } catch (const Failure& failure) {
    std::cerr << "PackResources: " << failure.message << "\n";
    return 1;
  }
  return 0;
}
