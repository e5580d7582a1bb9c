#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Every test gets its own configuration folder.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelvane-registry-XXXXXX";
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
    fs::permissions(m_folder / "kelvane", fs::perms::owner_all, ignored);
    fs::remove_all(m_folder, ignored);
    if (m_hadOld) {
      setenv("XDG_CONFIG_HOME", m_old.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }

  fs::path StorePath() const { return m_folder / "kelvane" / "registry"; }

  HKEY CreateKey(const char* path, REGSAM rights = KEY_READ | KEY_WRITE) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, rights, nullptr, &key,
                             nullptr),
              ERROR_SUCCESS);
    return key;
  }

  static LONG SetDword(HKEY key, const char* name, uint32_t value) {
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                           static_cast<BYTE>(value >> 24)};
    return RegSetValueEx(key, name, 0, REG_DWORD, bytes, 4);
  }

  static LONG GetDword(HKEY key, const char* name, uint32_t& value) {
    BYTE bytes[4] = {};
    DWORD size = sizeof bytes;
    DWORD type = 0;
    const LONG error = RegQueryValueEx(key, name, nullptr, &type, bytes, &size);
    value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return error;
  }

  fs::path m_folder;
  std::string m_old;
  bool m_hadOld = false;
};

TEST_F(RegistryTest, StorePathFollowsXdgConfigHomeAndFallsBackToHome) {
  EXPECT_EQ(RegistryStorePath(), StorePath().string());
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(RegistryStorePath(), "/home/someone/.config/kelvane/registry");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(RegistryStorePath(), "/home/someone/.config/kelvane/registry");
  setenv("HOME", home.c_str(), 1);
}

TEST_F(RegistryTest, ValuesSurviveInAHumanReadableFile) {
  HKEY key = CreateKey("Software\\Orvanta\\Kelvane");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetDword(key, "Tolerance", 30), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "FEZER", 0xFFFFFFFFu), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  const std::string text = ReadFile(StorePath());
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Orvanta\\Kelvane]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Tolerance\"=4:1e000000"), std::string::npos) << text;
  EXPECT_NE(text.find("\"FEZER\"=4:ffffffff"), std::string::npos) << text;

  HKEY again = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, KEY_READ, &again), ERROR_SUCCESS);
  uint32_t value = 0;
  EXPECT_EQ(GetDword(again, "Tolerance", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 30u);
  EXPECT_EQ(GetDword(again, "FEZER", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 0xFFFFFFFFu);
  RegCloseKey(again);
}

TEST_F(RegistryTest, CreateReportsWhetherTheKeyIsNewAndMakesParents) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, nullptr, 0, KEY_READ, nullptr, &key,
                           &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "software\\ORVANTA\\kelvane", 0, nullptr, 0, KEY_READ, nullptr, &key,
                           &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(key);

  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta", 0, KEY_READ, &parent), ERROR_SUCCESS);
  HKEY child = nullptr;
  EXPECT_EQ(RegOpenKeyEx(parent, "Kelvane", 0, KEY_READ, &child), ERROR_SUCCESS);
  RegCloseKey(child);
  RegCloseKey(parent);
}

TEST_F(RegistryTest, ReadingAMissingKeyFailsAndWritesNothing) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_FALSE(fs::exists(StorePath()));

  HKEY existing = CreateKey("Software\\Orvanta");
  uint32_t value = 7;
  EXPECT_EQ(GetDword(existing, "Nothing", value), ERROR_FILE_NOT_FOUND);
  RegCloseKey(existing);
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirSpelling) {
  HKEY key = CreateKey("Software\\Orvanta\\Kelvane");
  ASSERT_EQ(SetDword(key, "Tolerance", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "TOLERANCE", 2), ERROR_SUCCESS);  // the same value
  uint32_t value = 0;
  EXPECT_EQ(GetDword(key, "tolerance", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  RegCloseKey(key);
  const std::string text = ReadFile(StorePath());
  EXPECT_NE(text.find("\"Tolerance\"=4:02000000"), std::string::npos) << text;
  EXPECT_EQ(text.find("TOLERANCE"), std::string::npos) << text;
}

TEST_F(RegistryTest, AValueLargerThanTheBufferIsNotRead) {
  HKEY key = CreateKey("Software\\Orvanta\\Kelvane");
  const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(RegSetValueEx(key, "Big", 0, REG_BINARY, eight, sizeof eight), ERROR_SUCCESS);

  BYTE buffer[4] = {9, 9, 9, 9};
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegQueryValueEx(key, "Big", nullptr, nullptr, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(buffer[0], 9);

  DWORD type = 0;
  size = 0;
  EXPECT_EQ(RegQueryValueEx(key, "Big", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));

  BYTE large[64] = {};
  size = sizeof large;
  EXPECT_EQ(RegQueryValueEx(key, "Big", nullptr, nullptr, large, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(large[7], 8);
  RegCloseKey(key);
}

TEST_F(RegistryTest, RightsOfTheHandleAreEnforced) {
  HKEY writable = CreateKey("Software\\Orvanta");
  ASSERT_EQ(SetDword(writable, "x", 1), ERROR_SUCCESS);
  RegCloseKey(writable);

  HKEY readOnly = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(readOnly, "x", 2), ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyEx(readOnly, "Child", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
            ERROR_ACCESS_DENIED);
  RegCloseKey(readOnly);

  HKEY setOnly = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta", 0, KEY_SET_VALUE, &setOnly), ERROR_SUCCESS);
  uint32_t value = 0;
  EXPECT_EQ(GetDword(setOnly, "x", value), ERROR_ACCESS_DENIED);
  RegCloseKey(setOnly);
}

TEST_F(RegistryTest, ClosedAndMalformedHandlesAndPathsAreRefused) {
  HKEY key = CreateKey("Software");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  HKEY out = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, &out), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\\\Orvanta", 0, KEY_READ, &out), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, ADamagedStoreReadsAsMissingIsReportedOnceAndIsReplacedOnWrite) {
  WriteFile(StorePath(), "this is not a store\n\x01\x02garbage");
  ::testing::internal::CaptureStderr();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  HKEY created = CreateKey("Software\\Orvanta\\Kelvane");
  EXPECT_EQ(SetDword(created, "Tolerance", 55), ERROR_SUCCESS);
  const std::string messages = ::testing::internal::GetCapturedStderr();

  size_t count = 0;
  for (size_t at = messages.find("kelvane:"); at != std::string::npos; at = messages.find("kelvane:", at + 1)) ++count;
  EXPECT_EQ(count, 1u) << messages;
  EXPECT_NE(messages.find(StorePath().string()), std::string::npos) << messages;

  uint32_t value = 0;
  EXPECT_EQ(GetDword(created, "Tolerance", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 55u);
  RegCloseKey(created);
  // The unreadable file is kept aside for inspection.
  EXPECT_EQ(ReadFile(StorePath().string() + ".damaged").substr(0, 19), "this is not a store");
}

TEST_F(RegistryTest, AStoreCutShortIsDamaged) {
  HKEY key = CreateKey("Software\\Orvanta\\Kelvane");
  ASSERT_EQ(SetDword(key, "Tolerance", 55), ERROR_SUCCESS);
  RegCloseKey(key);
  std::string text = ReadFile(StorePath());
  const size_t end = text.rfind("END");
  ASSERT_NE(end, std::string::npos);
  WriteFile(StorePath(), text.substr(0, end));

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("incomplete"), std::string::npos);
}

TEST_F(RegistryTest, HandEditedValuesWithCommentsAndOddNamesRead) {
  WriteFile(StorePath(),
            "; edited by hand\r\n"
            "KELVANE-REGISTRY 1\r\n"
            "[HKEY_CURRENT_USER\\Software\\Orvanta\\Kelvane]\r\n"
            "  \"Tolerance\"=4:2A000000   ; 42\r\n"
            "\"with %22quote%22 and = sign\"=3:00ff\r\n"
            "END\r\n");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, KEY_READ, &key), ERROR_SUCCESS);
  uint32_t value = 0;
  EXPECT_EQ(GetDword(key, "Tolerance", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 42u);
  BYTE bytes[2] = {};
  DWORD size = sizeof bytes;
  EXPECT_EQ(RegQueryValueEx(key, "with \"quote\" and = sign", nullptr, nullptr, bytes, &size), ERROR_SUCCESS);
  EXPECT_EQ(bytes[1], 0xFF);
  RegCloseKey(key);

  // Written back, the odd name survives a second reading.
  HKEY writable = CreateKey("Software\\Orvanta\\Kelvane");
  const BYTE newline[1] = {1};
  ASSERT_EQ(RegSetValueEx(writable, "line\nbreak", 0, REG_BINARY, newline, 1), ERROR_SUCCESS);
  size = sizeof bytes;
  EXPECT_EQ(RegQueryValueEx(writable, "with \"quote\" and = sign", nullptr, nullptr, bytes, &size), ERROR_SUCCESS);
  size = sizeof bytes;
  EXPECT_EQ(RegQueryValueEx(writable, "line\nbreak", nullptr, nullptr, bytes, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 1u);
  RegCloseKey(writable);
}

// Opening the editor reads a key and six values, and closing writes six: the
// file is parsed once for all of them, however many values it holds, and
// again only when another writer has replaced it.
TEST_F(RegistryTest, ARunOfCallsParsesTheFileOnce) {
  std::string text = "KELVANE-REGISTRY 1\n[HKEY_CURRENT_USER\\Software\\Orvanta\\Kelvane]\n";
  for (int i = 0; i < 2000; ++i) text += "\"stray" + std::to_string(i) + "\"=4:01000000\n";
  WriteFile(StorePath(), text + "END\n");
  const int before = RegistryStoreReadsForTesting();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, KEY_READ | KEY_WRITE, &key),
            ERROR_SUCCESS);
  uint32_t value = 0;
  for (int i = 0; i < 2000; i += 7) {
    ASSERT_EQ(GetDword(key, ("STRAY" + std::to_string(i)).c_str(), value), ERROR_SUCCESS) << i;
    EXPECT_EQ(value, 1u);
  }
  ASSERT_EQ(SetDword(key, "Tolerance", 44), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "FEZER", 2), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(key, "Tolerance", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 44u);
  EXPECT_EQ(RegistryStoreReadsForTesting() - before, 1);

  // Another process replaces the file, as every writer does: seen at once.
  const fs::path replacement = StorePath().string() + ".other";
  WriteFile(replacement,
            "KELVANE-REGISTRY 1\n[HKEY_CURRENT_USER\\Software\\Orvanta\\Kelvane]\n\"Tolerance\"=4:07000000\nEND\n");
  ASSERT_EQ(std::rename(replacement.c_str(), StorePath().c_str()), 0);
  EXPECT_EQ(GetDword(key, "Tolerance", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(GetDword(key, "stray0", value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegistryStoreReadsForTesting() - before, 2);
  RegCloseKey(key);
}

// Stored files keep their form: keys and values in the order they first
// appeared, a repeated name (in any case) taking the place of the first and
// the spelling of the last, a changed value keeping its place and spelling.
TEST_F(RegistryTest, AWriteKeepsTheOrderAndFormOfTheStore) {
  WriteFile(StorePath(),
            "KELVANE-REGISTRY 1\n"
            "[HKEY_CURRENT_USER\\Software]\n\"B\"=4:01000000\n\"c\"=1:\n"
            "[HKEY_CURRENT_USER\\Software\\Orvanta]\n\"x\"=3:AB\n\"A\"=4:02000000\n"
            "[hkey_current_user\\SOFTWARE]\n\"b\"=4:fdffffff\n"
            "END\n");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta", 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "a", 5), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "new", 6), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(ReadFile(StorePath()),
            "; Per-user settings of Kelvane, rewritten as a whole on every change.\n"
            "; Values: \"name\"=type:data in hex bytes; type 4 is a 32-bit little-endian number.\n"
            "KELVANE-REGISTRY 1\n"
            "\n[HKEY_CURRENT_USER\\Software]\n\"b\"=4:fdffffff ; -3\n\"c\"=1:\n"
            "\n[HKEY_CURRENT_USER\\Software\\Orvanta]\n\"x\"=3:ab\n\"A\"=4:05000000 ; 5\n"
            "\"new\"=4:06000000 ; 6\n"
            "\nEND\n");
}

// The folder's name taken by a file stops the superuser too.
TEST_F(RegistryTest, AFailedWriteTellsWhichFileAndWhy) {
  WriteFile(m_folder / "kelvane", "a file, not a folder");
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_WRITE_FAULT);
  RegistryWriteFailure failure = LastRegistryWriteFailure();
  EXPECT_EQ(failure.path, StorePath().string());
  EXPECT_EQ(failure.reason, std::strerror(ENOTDIR));
  // A call that fails before writing leaves no reason of an earlier one.
  EXPECT_EQ(SetDword(reinterpret_cast<HKEY>(&failure), "x", 1), ERROR_INVALID_HANDLE);
  failure = LastRegistryWriteFailure();
  EXPECT_TRUE(failure.path.empty() && failure.reason.empty());
}

// A write that cannot finish (here: the file size limit stands in for a full
// disk) leaves the old store as it was, and no temporary file behind.
TEST_F(RegistryTest, AFailedWriteLeavesTheOldStore) {
  HKEY key = CreateKey("Software\\Orvanta\\Kelvane");
  ASSERT_EQ(SetDword(key, "Tolerance", 30), ERROR_SUCCESS);
  const std::string before = ReadFile(StorePath());

  rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit tiny = old;
  tiny.rlim_cur = 32;
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  const LONG error = SetDword(key, "Tolerance", 99);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);

  EXPECT_EQ(error, ERROR_DISK_FULL);
  EXPECT_EQ(ReadFile(StorePath()), before);
  uint32_t value = 0;
  EXPECT_EQ(GetDword(key, "Tolerance", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 30u);
  RegCloseKey(key);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(StorePath().parent_path())) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"registry"});
}

TEST_F(RegistryTest, AnUnwritableFolderLeavesTheOldStore) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  HKEY key = CreateKey("Software\\Orvanta\\Kelvane");
  ASSERT_EQ(SetDword(key, "Tolerance", 30), ERROR_SUCCESS);
  ASSERT_EQ(chmod(StorePath().parent_path().c_str(), 0500), 0);
  EXPECT_EQ(SetDword(key, "Tolerance", 99), ERROR_ACCESS_DENIED);
  uint32_t value = 0;
  EXPECT_EQ(GetDword(key, "Tolerance", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 30u);
  RegCloseKey(key);
}

// Two processes rewriting the store while a third reads it: the reader
// always finds a whole store, never a damaged one.
TEST_F(RegistryTest, ConcurrentWritersNeverLeaveATornStore) {
  HKEY key = CreateKey("Software\\Orvanta\\Kelvane");
  ASSERT_EQ(SetDword(key, "Tolerance", 1), ERROR_SUCCESS);
  RegCloseKey(key);

  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      HKEY own = nullptr;
      if (RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, KEY_SET_VALUE, &own) != ERROR_SUCCESS) {
        _exit(2);
      }
      std::vector<BYTE> data(1000 + child * 3000, static_cast<BYTE>(child));
      for (int i = 0; i < 150; ++i) {
        data[0] = static_cast<BYTE>(i);
        if (RegSetValueEx(own, child ? "B" : "A", 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())) !=
            ERROR_SUCCESS) {
          _exit(3);
        }
      }
      _exit(0);
    }
    children.push_back(pid);
  }

  ::testing::internal::CaptureStderr();
  int failures = 0;
  int reads = 0;
  std::vector<int> statuses;
  while (true) {
    HKEY reader = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvanta\\Kelvane", 0, KEY_READ, &reader) != ERROR_SUCCESS) {
      ++failures;
    } else {
      uint32_t value = 0;
      if (GetDword(reader, "Tolerance", value) != ERROR_SUCCESS || value != 1) ++failures;
      RegCloseKey(reader);
    }
    ++reads;
    bool allDone = true;
    for (pid_t& pid : children) {
      if (pid == 0) continue;
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        statuses.push_back(status);
        pid = 0;
      } else {
        allDone = false;
      }
    }
    if (allDone) break;
  }
  const std::string messages = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(failures, 0) << "in " << reads << " reads";
  EXPECT_EQ(messages, "");
  for (int status : statuses) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

}  // namespace
