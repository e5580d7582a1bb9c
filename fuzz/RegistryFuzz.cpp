// The settings store: whatever file is found where the store lives is read
// as the filter reads its settings, stored back as the filter stores them,
// and a value written through the store's interface must read back as it
// was written.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/MatteFilter.h"
#include "framework/Param.h"
#include "framework/ParamSet.h"
#include "fuzz/FuzzScenes.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Registry.h"

namespace {

// A value name with the characters the store has to escape.
constexpr const char* kProbeName = "Probe \"=\\ [x];\n%";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UsePrivateConfiguration();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string store = RegistryStorePath();
  Require(store.rfind(ScratchFolder(), 0) == 0, "the store is the private one");
  std::filesystem::create_directories(std::filesystem::path(store).parent_path());
  Require(WriteWholeFile(store, data, size), "the store file can be written");

  std::vector<int> stored;
  bool accepted = false;
  {
    CMatteFilter filter;  // reads the settings, and stores them when it goes
    stored = ParameterValues(filter.m_paramSet);
    HKEY key = nullptr;
    const std::string settings = std::string(kRegistryVendorKey) + "\\" + filter.GetName();
    accepted = RegOpenKeyEx(HKEY_CURRENT_USER, settings.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
  }
  {
    CMatteFilter again;
    Require(ParameterValues(again.m_paramSet) == stored, "the settings stored are the settings read next");
  }

  HKEY probe = nullptr;
  Require(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Fuzz\\Probe", 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_READ | KEY_WRITE, nullptr, &probe, nullptr) == ERROR_SUCCESS,
          "a key can be created in the store");
  const size_t length = size < 64 ? size : 64;
  Require(RegSetValueEx(probe, kProbeName, 0, REG_BINARY, data, static_cast<DWORD>(length)) == ERROR_SUCCESS,
          "a value can be stored");
  std::vector<BYTE> back(64 + 1);
  DWORD backSize = static_cast<DWORD>(back.size());
  DWORD type = REG_NONE;
  Require(RegQueryValueEx(probe, kProbeName, nullptr, &type, back.data(), &backSize) == ERROR_SUCCESS,
          "a stored value can be read");
  Require(type == REG_BINARY && backSize == length && (length == 0 || std::memcmp(back.data(), data, length) == 0),
          "a value reads back as it was stored");
  RegCloseKey(probe);
  ExpectAccepted(accepted, "a seed store holds the filter's settings");
  return 0;
}
