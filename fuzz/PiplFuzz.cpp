// Property lists as a module's ".pipl" section holds them.
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "tools/filterhost/PluginScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CPluginInfo info;
  std::string error;
  const bool parsed = ParsePipl(data, size, info, error);
  if (parsed) {
    Require(!info.kind.empty(), "a list taken as whole names its kind");
  } else {
    Require(!error.empty(), "a refused list says why");
  }
  ExpectAccepted(parsed, error.c_str());
  return 0;
}
