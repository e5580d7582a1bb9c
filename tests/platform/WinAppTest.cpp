#include "platform/WinApp.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

class CCountingApp : public CWinApp {
 public:
  explicit CCountingApp(const char* name = nullptr, bool throws = false)
      : CWinApp(name), m_throws(throws) {}
  bool InitInstance() override {
    ++inits;
    if (m_throws) throw std::runtime_error("no start");
    return CWinApp::InitInstance();
  }
  int ExitInstance() override {
    ++exits;
    return CWinApp::ExitInstance();
  }
  int inits = 0;
  int exits = 0;

 private:
  bool m_throws;
};

std::string ThisExecutable() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

TEST(WinApp, ModuleStateSwitchIsUndoneOnEveryWayOut) {
  CModuleState* original = AfxGetModuleState();
  EXPECT_EQ(original, AfxGetStaticModuleState());
  CModuleState other;
  {
    AFX_MANAGE_STATE(&other);
    EXPECT_EQ(AfxGetModuleState(), &other);
    {
      AFX_MANAGE_STATE(AfxGetStaticModuleState());
      EXPECT_EQ(AfxGetModuleState(), AfxGetStaticModuleState());
    }
    EXPECT_EQ(AfxGetModuleState(), &other);
  }
  EXPECT_EQ(AfxGetModuleState(), original);
  try {
    AFX_MANAGE_STATE(&other);
    throw std::runtime_error("leaving early");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(AfxGetModuleState(), original);
}

TEST(WinApp, ApplicationIsNamedAfterItsModuleUnlessItHasAName) {
  CCountingApp unnamed;
  EXPECT_EQ(AfxGetApp(), &unnamed);
  ASSERT_TRUE(AfxWinInit(unnamed));
  EXPECT_EQ(unnamed.AppName(), "test_platform");
  unnamed.SetRegistryKey("Kelvane");
  EXPECT_EQ(unnamed.RegistryKey(), "Kelvane");
  EXPECT_EQ(unnamed.ProfileName(), "test_platform");

  {
    CCountingApp named("Named");
    AfxWinInit(named);
    EXPECT_EQ(named.AppName(), "Named");
    EXPECT_EQ(AfxGetApp(), &named);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
}

TEST(WinApp, ModuleFileNameIsTheBinaryHoldingTheAddress) {
  EXPECT_EQ(AfxGetStaticModuleState()->FileName(), ThisExecutable());
  EXPECT_EQ(ModuleFileNameOf(reinterpret_cast<const void*>(&ThisExecutable)), ThisExecutable());
  // getpid: a C library function that no sanitizer intercepts.
  const std::string libc = ModuleFileNameOf(reinterpret_cast<const void*>(&::getpid));
  EXPECT_NE(libc.find("libc"), std::string::npos) << libc;
  EXPECT_EQ(ModuleFileNameOf(nullptr), "");
}

TEST(WinApp, ModuleInstanceStartsAndStopsTheApplicationOnce) {
  CCountingApp app;
  {
    CModuleInstance instance(app);
    EXPECT_TRUE(instance.Initialised());
    EXPECT_EQ(app.inits, 1);
    EXPECT_EQ(app.exits, 0);
  }
  EXPECT_EQ(app.exits, 1);

  CCountingApp failing(nullptr, true);
  {
    CModuleInstance instance(failing);  // must not let the exception out
    EXPECT_FALSE(instance.Initialised());
  }
  EXPECT_EQ(failing.exits, 1);
}

}  // namespace
