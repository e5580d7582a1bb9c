#include "framework/ParamSet.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "../tools/MessageBoxRecorder.h"
#include "SixParams.h"

namespace fs = std::filesystem;

namespace {

int Get(const CParamSet& set, int slot) {
  int value = -99;
  set.FindParam(slot)->GetInt(value);
  return value;
}

std::vector<int> Values(const CParamSet& set) {
  std::vector<int> values;
  for (int slot = 0; slot < 6; ++slot) values.push_back(Get(set, slot));
  return values;
}

const std::vector<int> kDefaults{30, 0, 1, 0, 0, 0};

TEST(ParamSetTest, NamesAreFoundExactlyInSlotOrder) {
  CParamSet set;
  DefineSix(set);
  EXPECT_EQ(set.FindParamByName("tolerance"), nullptr);
  EXPECT_EQ(set.FindParamByName("Tolerance"), set.FindParam(0));
  EXPECT_EQ(set.FindParamByName("TEXTUREDBACK"), set.FindParam(5));
  EXPECT_EQ(set.FindParamByName("EDGEWIDTH"), set.FindParam(7));
  EXPECT_EQ(set.FindParamByName("COLOURMODEL"), set.FindParam(8));
  EXPECT_EQ(set.FindParam(9), nullptr);
  // A name added twice is found at its lower slot.
  set.AddParam(10, "SMOOTH", std::make_unique<CIntParam>());
  EXPECT_EQ(set.FindParamByName("SMOOTH"), set.FindParam(1));
}

TEST(ParamSetTest, WritesThePresetTextOfTheFlaggedParameters) {
  CParamSet set;
  DefineSix(set);
  set.FindParam(4)->SetInt(1);
  set.FindParam(3)->m_flags = 0;
  std::ostringstream out;
  EXPECT_EQ(set.WriteTo(out), 0);
  EXPECT_EQ(out.str(),
            "Kelvane\n\tTolerance : 30\n\tSMOOTH : 0\n\tFEZER : 1\n\tFILLHOLES : True\n\tTEXTUREDBACK : False\n");
}

TEST(ParamSetTest, AFlaggedResetSkipsUnflaggedParameters) {
  CParamSet set;
  DefineSix(set);
  for (int slot = 0; slot < 6; ++slot) set.FindParam(slot)->SetInt(1);
  set.FindParam(2)->m_flags = 0;
  set.FindParam(2)->SetInt(7);
  set.ResetToDefaults(true);
  EXPECT_EQ(Values(set), (std::vector<int>{30, 0, 7, 0, 0, 0}));
  set.ResetToDefaults(false);
  EXPECT_EQ(Values(set), kDefaults);
}

class ParamSetRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelvane-params-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    m_hadOld = old != nullptr;
    if (old) m_old = old;
    setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
    ResetRegistryReportForTesting();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
    if (m_hadOld) {
      setenv("XDG_CONFIG_HOME", m_old.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }

  // Opens the filter's key for writing, creating it.
  static HKEY FilterKey() {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }

  static void Store(HKEY key, const char* name, std::vector<BYTE> bytes) {
    ASSERT_EQ(RegSetValueEx(key, name, 0, REG_DWORD, bytes.data(), static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }

  fs::path m_folder;
  std::string m_old;
  bool m_hadOld = false;
};

TEST_F(ParamSetRegistryTest, SixValuesSurviveASaveAndALoad) {
  {
    CParamSet set;
    DefineSix(set);
    set.FindParam(0)->SetInt(55);
    set.FindParam(1)->SetInt(9);
    set.FindParam(2)->SetInt(-3);
    set.FindParam(3)->SetInt(250);
    set.FindParam(4)->SetInt(1);
    set.FindParam(5)->SetInt(1);
    EXPECT_EQ(set.SaveToRegistry(), 0);
  }
  CParamSet loaded;
  DefineSix(loaded);
  EXPECT_EQ(loaded.LoadFromRegistry(), 0);
  EXPECT_EQ(Values(loaded), (std::vector<int>{55, 9, -3, 250, 1, 1}));
}

TEST_F(ParamSetRegistryTest, WithoutAKeyTheLoadKeepsTheDefaults) {
  CParamSet set;
  DefineSix(set);
  EXPECT_EQ(set.LoadFromRegistry(), -5);
  EXPECT_EQ(Values(set), kDefaults);

  // The vendor key alone is not enough.
  HKEY vendor = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &vendor,
                           nullptr),
            ERROR_SUCCESS);
  RegCloseKey(vendor);
  EXPECT_EQ(set.LoadFromRegistry(), -5);
  EXPECT_EQ(Values(set), kDefaults);
}

TEST_F(ParamSetRegistryTest, WithoutAKeyTheSaveCreatesItWithSixNumbers) {
  CParamSet set;
  DefineSix(set);
  EXPECT_EQ(set.SaveToRegistry(), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, KEY_READ, &key), ERROR_SUCCESS);
  const char* names[] = {"Tolerance", "SMOOTH", "FEZER", "CONTRACT", "FILLHOLES", "TEXTUREDBACK"};
  for (int slot = 0; slot < 6; ++slot) {
    BYTE bytes[8] = {};
    DWORD size = sizeof bytes;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueEx(key, names[slot], nullptr, &type, bytes, &size), ERROR_SUCCESS) << names[slot];
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (bytes[3] << 24), kDefaults[slot]) << names[slot];
  }
  RegCloseKey(key);
}

// The load stops at the first value it cannot read: earlier ones are taken,
// that one and the later ones keep their defaults.
TEST_F(ParamSetRegistryTest, TheLoadStopsAtAValueLargerThanItsBuffer) {
  HKEY key = FilterKey();
  Store(key, "Tolerance", {55, 0, 0, 0});
  Store(key, "SMOOTH", std::vector<BYTE>(64, 0));  // fills an integer's buffer exactly: read
  Store(key, "FEZER", {7, 0, 0, 0});
  Store(key, "CONTRACT", {9, 0, 0, 0});
  Store(key, "FILLHOLES", {1, 0, 0, 0, 0, 0, 0, 0});  // more than a boolean's 4 bytes
  Store(key, "TEXTUREDBACK", {1, 0, 0, 0});
  CParamSet set;
  DefineSix(set);
  EXPECT_EQ(set.LoadFromRegistry(), -5);
  EXPECT_EQ(Values(set), (std::vector<int>{55, 0, 7, 9, 0, 0}));

  Store(key, "SMOOTH", std::vector<BYTE>(65, 1));
  CParamSet again;
  DefineSix(again);
  EXPECT_EQ(again.LoadFromRegistry(), -5);
  EXPECT_EQ(Values(again), (std::vector<int>{55, 0, 1, 0, 0, 0}));
  RegCloseKey(key);
}

TEST_F(ParamSetRegistryTest, TheLoadStopsAtAMissingValue) {
  HKEY key = FilterKey();
  Store(key, "Tolerance", {40, 0, 0, 0});
  Store(key, "SMOOTH", {2, 0, 0, 0});
  Store(key, "CONTRACT", {9, 0, 0, 0});
  RegCloseKey(key);
  CParamSet set;
  DefineSix(set);
  EXPECT_EQ(set.LoadFromRegistry(), -5);
  EXPECT_EQ(Values(set), (std::vector<int>{40, 2, 1, 0, 0, 0}));
}

TEST_F(ParamSetRegistryTest, StoredNumbersAreTakenAsTheyCome) {
  HKEY key = FilterKey();
  Store(key, "Tolerance", {0xFF, 0xFF, 0xFF, 0xFF, 5, 5});  // first word only, type unchecked
  Store(key, "SMOOTH", {3});                                // short: the missing bytes read as 0
  Store(key, "FEZER", {0, 1, 0, 0});
  Store(key, "CONTRACT", {0, 0, 0, 0});
  Store(key, "FILLHOLES", {2, 0, 0, 0});  // only 1 is true
  Store(key, "TEXTUREDBACK", {1, 0, 0, 0});
  Store(key, "REFINEEDGE", {1, 0, 0, 0});
  Store(key, "EDGEWIDTH", {77, 0, 0, 0});  // as stored: runs clamp it
  Store(key, "COLOURMODEL", {1, 0, 0, 0});
  RegCloseKey(key);
  CParamSet set;
  DefineSix(set);
  set.FindParam(4)->SetInt(1);
  EXPECT_EQ(set.LoadFromRegistry(), 0);
  EXPECT_EQ(Values(set), (std::vector<int>{-1, 3, 256, 0, 0, 1}));
  EXPECT_EQ(Get(set, keSlotRefineEdge), 1);
  EXPECT_EQ(Get(set, keSlotEdgeWidth), 77);
  EXPECT_EQ(Get(set, keSlotColourModel), 1);
}

// A store written before Refine Edge existed: its six values are read, and
// the two newer ones keep theirs.
TEST_F(ParamSetRegistryTest, AStoreOfTheSixOlderValuesLoadsThem) {
  HKEY key = FilterKey();
  const char* older[] = {"Tolerance", "SMOOTH", "FEZER", "CONTRACT", "FILLHOLES", "TEXTUREDBACK"};
  for (const char* name : older) Store(key, name, {1, 0, 0, 0});
  RegCloseKey(key);
  CParamSet set;
  DefineSix(set);
  EXPECT_EQ(set.LoadFromRegistry(), -5);
  EXPECT_EQ(Values(set), (std::vector<int>{1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(Get(set, keSlotRefineEdge), 0);
  EXPECT_EQ(Get(set, keSlotEdgeWidth), 10);
  EXPECT_EQ(Get(set, keSlotColourModel), 0);
}

TEST_F(ParamSetRegistryTest, ADamagedStoreLoadsAsDefaultsAndIsRewrittenOnSave) {
  fs::create_directories(m_folder / "kelvane");
  std::ofstream(m_folder / "kelvane" / "registry") << "KELVANE-REGISTRY 1\n[HKEY_CURRENT_USER\\Software]\n\"x\"=4:zz\n";
  ::testing::internal::CaptureStderr();
  CParamSet set;
  DefineSix(set);
  EXPECT_EQ(set.LoadFromRegistry(), -5);
  EXPECT_EQ(Values(set), kDefaults);
  set.FindParam(0)->SetInt(77);
  EXPECT_EQ(set.SaveToRegistry(), 0);
  const std::string messages = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;

  CParamSet loaded;
  DefineSix(loaded);
  EXPECT_EQ(loaded.LoadFromRegistry(), 0);
  EXPECT_EQ(Get(loaded, 0), 77);
}

// A parameter whose value the store refuses.
class CRefusedParam : public CIntParam {
 public:
  int SaveRegistry(HKEY) override { return -1; }
};

TEST_F(ParamSetRegistryTest, TheSaveStopsAtTheFirstFailure) {
  CParamSet set;
  DefineSix(set);
  auto refused = std::make_unique<CRefusedParam>();
  refused->m_name = "FEZER";
  set.AddParam(2, "FEZER", std::move(refused));
  EXPECT_EQ(set.SaveToRegistry(), -5);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueEx(key, "SMOOTH", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueEx(key, "FEZER", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueEx(key, "CONTRACT", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

// A store that cannot be written (a full disk, here the file size limit
// standing in for one) is said, naming the file and the reason, and the
// store keeps what it held.
TEST_F(ParamSetRegistryTest, ASaveThatCannotWriteIsReportedAndKeepsTheStore) {
  CParamSet set;
  DefineSix(set);
  ASSERT_EQ(set.SaveToRegistry(), 0);
  const fs::path store = m_folder / "kelvane" / "registry";
  std::ifstream in(store, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  set.FindParam(0)->SetInt(77);
  CBoxRecorder boxes;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit tiny = old;
  tiny.rlim_cur = 32;
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  const int result = set.SaveToRegistry();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);

  EXPECT_EQ(result, -5);
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_NE(boxes.texts[0].find(store.string() + ": " + std::strerror(EFBIG)), std::string::npos)
      << boxes.texts[0];
  std::ifstream again(store, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), before);
  CParamSet loaded;
  DefineSix(loaded);
  EXPECT_EQ(loaded.LoadFromRegistry(), 0);
  EXPECT_EQ(Values(loaded), kDefaults);
}

// The first save of all, where the store's folder cannot be made (its name
// is taken by a file: this binds the superuser too), is said as well.
TEST_F(ParamSetRegistryTest, ASaveWithoutAFolderIsReported) {
  std::ofstream(m_folder / "kelvane") << "a file, not a folder";
  CBoxRecorder boxes;
  CParamSet set;
  DefineSix(set);
  EXPECT_EQ(set.SaveToRegistry(), -5);
  ASSERT_EQ(boxes.texts.size(), 1u);
  const std::string expected = (m_folder / "kelvane" / "registry").string() + ": " + std::strerror(ENOTDIR);
  EXPECT_NE(boxes.texts[0].find(expected), std::string::npos) << boxes.texts[0];
  // A save that fails for a reason of its own is not mistaken for one.
  fs::remove(m_folder / "kelvane");
  CBoxRecorder quiet;
  auto refused = std::make_unique<CRefusedParam>();
  refused->m_name = "FEZER";
  set.AddParam(2, "FEZER", std::move(refused));
  EXPECT_EQ(set.SaveToRegistry(), -5);
  EXPECT_TRUE(quiet.texts.empty());
}

}  // namespace
