// Opening and closing the editor against a settings store filled up to its
// size limit with stray values: the editor's six values are read (opening)
// or written (closing), each time from a store file it has not read before.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Registry.h"

namespace {

constexpr int kStrayValues = 300000;
const char* const kNames[] = {"Tolerance", "SMOOTH", "FEZER", "CONTRACT", "FILLHOLES", "TEXTUREDBACK"};

// A private configuration folder holding the full store, for the whole run.
class CFullStore {
 public:
  CFullStore() {
    char pattern[] = "/tmp/kelvane-registry-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
      std::perror("mkdtemp");
      std::abort();
    }
    m_folder = pattern;
    setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
    std::filesystem::create_directories(m_folder + "/kelvane");
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    m_text = "KELVANE-REGISTRY 1\n[HKEY_CURRENT_USER\\Software\\Orvanta\\Kelvane]\n";
    for (const char* name : kNames) m_text += std::string("\"") + name + "\"=4:01000000\n";
    // Names of four base-36 digits and one data byte keep 300,000 values
    // within the store's 4 MiB.
    for (int i = 0; i < kStrayValues; ++i) {
      char name[5];
      int n = i;
      for (int d = 3; d >= 0; --d, n /= 36) name[d] = kDigits[n % 36];
      name[4] = '\0';
      m_text += std::string("\"") + name + "\"=3:01\n";
    }
    m_text += "END\n";
  }
  ~CFullStore() { std::filesystem::remove_all(m_folder); }

  // A new file, as another process's write makes one, so nothing read
  // before can stand in for it.
  void Replace() const {
    const std::string path = RegistryStorePath();
    const std::string temporary = path + ".new";
    std::ofstream(temporary, std::ios::binary | std::ios::trunc) << m_text;
    std::rename(temporary.c_str(), path.c_str());
  }
  size_t Bytes() const { return m_text.size(); }

 private:
  std::string m_folder;
  std::string m_text;
};

CFullStore& Store() {
  static CFullStore store;
  return store;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "%s failed\n", what);
    std::abort();
  }
}

void BM_OpenEditorReadsSixValues(benchmark::State& state) {
  CFullStore& store = Store();
  for (auto _ : state) {
    state.PauseTiming();
    store.Replace();
    state.ResumeTiming();
    HKEY key = nullptr;
    Check(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, KEY_READ, &key) == ERROR_SUCCESS,
          "opening the key");
    for (const char* name : kNames) {
      BYTE data[64];
      DWORD size = sizeof data;
      Check(RegQueryValueEx(key, name, nullptr, nullptr, data, &size) == ERROR_SUCCESS, "reading a value");
    }
    RegCloseKey(key);
  }
  state.counters["store_bytes"] = static_cast<double>(store.Bytes());
  state.counters["values"] = kStrayValues + 6;
}
BENCHMARK(BM_OpenEditorReadsSixValues)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every changed value rewrites the whole file and waits for the disk.
void BM_CloseEditorWritesSixValues(benchmark::State& state) {
  CFullStore& store = Store();
  uint32_t round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    store.Replace();
    ++round;
    state.ResumeTiming();
    HKEY key = nullptr;
    Check(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, nullptr, 0,
                         KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS,
          "creating the key");
    for (const char* name : kNames) {
      const BYTE data[4] = {static_cast<BYTE>(round % 200 + 2), 0, 0, 0};
      Check(RegSetValueEx(key, name, 0, REG_DWORD, data, sizeof data) == ERROR_SUCCESS, "writing a value");
    }
    RegCloseKey(key);
  }
}
BENCHMARK(BM_CloseEditorWritesSixValues)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
