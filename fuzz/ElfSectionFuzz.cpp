// Module files as the host scans them: the ".pipl" section found in an ELF
// file without loading it, then its property list read.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "tools/filterhost/ElfSection.h"
#include "tools/filterhost/PluginScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader takes a path.
  CMemoryFile file(data, size);
  Require(file.IsOpen(), "the input can be held in a memory file");
  std::vector<uint8_t> section;
  std::string error;
  const bool found = ReadElfSection(file.Path(), ".pipl", section, error);
  if (!found) {
    Require(!error.empty(), "a refused file says why");
    Require(section.empty(), "a refused file gives no bytes");
    ExpectAccepted(false, error.c_str());
    return 0;
  }
  Require(section.size() <= size, "a section lies within its file");
  CPluginInfo info;
  const bool parsed = ParsePipl(section.data(), section.size(), info, error);
  ExpectAccepted(parsed, error.c_str());
  return 0;
}
