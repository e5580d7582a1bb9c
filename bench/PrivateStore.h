// Parameters are read from and saved to the user's store; a benchmark keeps
// its own, so that it neither depends on nor changes the user's.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

class CPrivateStore {
 public:
  CPrivateStore() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kelvane-bench-XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    if (mkdtemp(path.data())) {
      m_dir = path.data();
      setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    }
  }
  ~CPrivateStore() {
    std::error_code ignored;
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
  }

 private:
  std::string m_dir;
};
