#include "WinApp.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>

namespace {

// One per binary: the module and the executable each link their own copy.
constinit CModuleState s_staticModuleState;

thread_local CModuleState* t_currentModuleState = nullptr;

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

std::string Canonical(const char* path) {
  char* resolved = realpath(path, nullptr);
  if (!resolved) return path;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

}  // namespace

std::string ModuleFileNameOf(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
    return std::string();
  }
  // The main program's link map has an empty name.
  if (!map || !map->l_name || map->l_name[0] == '\0') return ExecutablePath();
  return Canonical(map->l_name);
}

std::string CModuleState::FileName() {
  if (m_fileName[0] == '\0') {
    const std::string name = ModuleFileNameOf(this);
    name.copy(m_fileName, sizeof m_fileName - 1);
  }
  return m_fileName;
}

CModuleState* AfxGetStaticModuleState() { return &s_staticModuleState; }

CModuleState* AfxGetModuleState() {
  return t_currentModuleState ? t_currentModuleState : &s_staticModuleState;
}

CWinApp* AfxGetApp() { return AfxGetModuleState()->CurrentApp(); }

CManageModuleState::CManageModuleState(CModuleState* state) : m_previous(t_currentModuleState) {
  t_currentModuleState = state;
}

CManageModuleState::~CManageModuleState() { t_currentModuleState = m_previous; }

CWinApp::CWinApp(const char* appName)
    : m_moduleState(AfxGetStaticModuleState()), m_appName(appName ? appName : "") {
  m_moduleState->m_currentApp = this;
}

CWinApp::~CWinApp() {
  if (m_moduleState->m_currentApp == this) m_moduleState->m_currentApp = nullptr;
}

bool CWinApp::InitInstance() { return true; }

int CWinApp::ExitInstance() { return 0; }

void CWinApp::SetRegistryKey(const char* key) {
  m_registryKey = key ? key : "";
  m_profileName = m_appName;
}

bool AfxWinInit(CWinApp& app) {
  if (app.m_appName.empty()) {
    const std::string path = app.m_moduleState->FileName();
    std::string name = path.substr(path.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    app.m_appName = name;
  }
  return true;
}

CModuleInstance::CModuleInstance(CWinApp& app) : m_app(app) {
  // Nothing may leave a load-time constructor: it would end the host.
  try {
    m_initialised = AfxWinInit(m_app) && m_app.InitInstance();
  } catch (...) {
    m_initialised = false;
  }
}

CModuleInstance::~CModuleInstance() {
  try {
    m_app.ExitInstance();
  } catch (...) {
  }
}
