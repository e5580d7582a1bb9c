// The application object of a filter module and the module state that says
// whose resources and files are meant: a small stand-in for the framework's
// application class, covering what a plug-in module needs of it.
#pragma once

#include <climits>
#include <string>

class CWinApp;

// Per binary: the module this code was linked into and its application.
// Trivially destructible, so it outlives every static object of its binary
// whatever order they are destroyed in.
class CModuleState {
 public:
  constexpr CModuleState() = default;
  CModuleState(const CModuleState&) = delete;
  CModuleState& operator=(const CModuleState&) = delete;

  // Full path of the binary (module or executable) holding this state.
  std::string FileName();
  CWinApp* CurrentApp() const { return m_currentApp; }

 private:
  friend class CWinApp;

  CWinApp* m_currentApp = nullptr;
  char m_fileName[PATH_MAX] = {};
};

// The state of the binary this function is linked into.
CModuleState* AfxGetStaticModuleState();
// The state in effect on this thread: the last one switched to, otherwise
// the static one.
CModuleState* AfxGetModuleState();
// The application of the state in effect.
CWinApp* AfxGetApp();

// Switches the thread's module state for the life of the guard; the previous
// state comes back when the guard goes, whichever way the scope is left.
class CManageModuleState {
 public:
  explicit CManageModuleState(CModuleState* state);
  ~CManageModuleState();
  CManageModuleState(const CManageModuleState&) = delete;
  CManageModuleState& operator=(const CManageModuleState&) = delete;

 private:
  CModuleState* m_previous;
};

#define KELVANE_CONCAT_INNER(a, b) a##b
#define KELVANE_CONCAT(a, b) KELVANE_CONCAT_INNER(a, b)
#define AFX_MANAGE_STATE(state) \
  CManageModuleState KELVANE_CONCAT(manageModuleState_, __LINE__)(state)

// Full path of the binary that holds the given address; empty if unknown.
std::string ModuleFileNameOf(const void* address);

class CWinApp {
 public:
  // A null name means the application takes its module's file name without
  // the extension when the module starts (AfxWinInit).
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual bool InitInstance();
  virtual int ExitInstance();

  // Names the per-user key under which the application's settings live;
  // the profile name becomes the application's name.
  void SetRegistryKey(const char* key);

  const std::string& AppName() const { return m_appName; }
  const std::string& RegistryKey() const { return m_registryKey; }
  const std::string& ProfileName() const { return m_profileName; }
  CModuleState* ModuleState() const { return m_moduleState; }

 private:
  friend bool AfxWinInit(CWinApp& app);

  CModuleState* m_moduleState;
  std::string m_appName;
  std::string m_registryKey;
  std::string m_profileName;
};

// Completes the application's names from its module; true when done.
bool AfxWinInit(CWinApp& app);

// Starts the application (names, then InitInstance) when constructed and
// stops it (ExitInstance) when destroyed. A module makes it a function-local
// static reached on its first call: by then every static object of the
// module exists, and it goes at unload before any of them, whatever order
// the linker gave the units.
class CModuleInstance {
 public:
  explicit CModuleInstance(CWinApp& app);
  ~CModuleInstance();
  CModuleInstance(const CModuleInstance&) = delete;
  CModuleInstance& operator=(const CModuleInstance&) = delete;

  // What InitInstance answered (false also when it failed outright).
  bool Initialised() const { return m_initialised; }

 private:
  CWinApp& m_app;
  bool m_initialised = false;
};
