// Runs the host program as a user does, in a folder of its own, with no
// display and a settings store of its own.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

struct CRun {
  int status = -1;
  std::string output;  // standard output and standard error
};

// A file's bytes, or nothing when it cannot be read.
inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// A shell command's status and everything it printed.
inline CRun RunCommand(const std::string& command) {
  CRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

inline CRun RunKelvaneIn(const std::filesystem::path& dir, const std::string& arguments) {
  return RunCommand("cd '" + dir.string() + "' && DISPLAY= WAYLAND_DISPLAY= XDG_CONFIG_HOME='" +
                    (dir / "config").string() + "' '" + KELVANE_BIN_DIR + "/kelvane' " +
                    arguments + " 2>&1");
}

// A fresh folder per test, removed afterwards.
class CKelvaneFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::path(::testing::TempDir()) /
            ("kelvane-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(m_dir);
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::string Path(const std::string& name) const { return (m_dir / name).string(); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(m_dir / name); }
  void WriteText(const std::string& name, const std::string& text) const {
    std::ofstream(m_dir / name, std::ios::binary) << text;
  }
  CRun Kelvane(const std::string& arguments) const { return RunKelvaneIn(m_dir, arguments); }

  std::filesystem::path m_dir;
};
