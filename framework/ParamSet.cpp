#include "ParamSet.h"

#include <ostream>
#include <utility>

#include "platform/MessageBox.h"

namespace {

constexpr int kRegistryFailed = -5;

// Closes the key when the scope is left, however it is left.
class CKeyCloser {
 public:
  explicit CKeyCloser(HKEY key) : m_key(key) {}
  ~CKeyCloser() {
    if (m_key) RegCloseKey(m_key);
  }
  CKeyCloser(const CKeyCloser&) = delete;
  CKeyCloser& operator=(const CKeyCloser&) = delete;

 private:
  HKEY m_key;
};

}  // namespace

CParamSet::~CParamSet() {
  m_params.clear();
  m_names.clear();
}

void CParamSet::AddParam(int slot, const std::string& name, std::unique_ptr<CParam> param) {
  m_params[slot] = std::move(param);
  m_names[slot] = name;
}

CParam* CParamSet::FindParam(int slot) const {
  const auto it = m_params.find(slot);
  return it == m_params.end() ? nullptr : it->second.get();
}

CParam* CParamSet::FindParamByName(const std::string& name) const {
  for (const auto& [slot, added] : m_names) {
    if (added == name) return FindParam(slot);
  }
  return nullptr;
}

int CParamSet::LoadFromRegistry() {
  HKEY vendor = nullptr;
  if (RegOpenKeyEx(HKEY_CURRENT_USER, kRegistryVendorKey, 0, KEY_READ, &vendor) != ERROR_SUCCESS) {
    return kRegistryFailed;
  }
  CKeyCloser closeVendor(vendor);
  HKEY key = nullptr;
  if (RegOpenKeyEx(vendor, m_name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return kRegistryFailed;
  CKeyCloser closeKey(key);
  for (const auto& [slot, param] : m_params) {
    if (param && param->LoadRegistry(key) != 0) return kRegistryFailed;
  }
  return 0;
}

int CParamSet::SaveToRegistry() {
  const int result = SaveValues();
  // Settings lost without a word would come back as surprise defaults; the
  // store itself keeps its previous contents.
  const RegistryWriteFailure failure = LastRegistryWriteFailure();
  if (result != 0 && !failure.reason.empty()) {
    const std::string where = failure.path.empty() ? std::string() : " in " + failure.path;
    MessageBox(nullptr,
               "The settings could not be saved" + where + ": " + failure.reason +
                   ".\nThe settings saved before are kept.",
               m_name, MB_OK | MB_ICONWARNING);
  }
  return result;
}

int CParamSet::SaveValues() {
  constexpr REGSAM kRights = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;
  HKEY vendor = nullptr;
  if (RegCreateKeyEx(HKEY_CURRENT_USER, kRegistryVendorKey, 0, nullptr, REG_OPTION_NON_VOLATILE, kRights,
                     nullptr, &vendor, nullptr) != ERROR_SUCCESS) {
    return kRegistryFailed;
  }
  CKeyCloser closeVendor(vendor);
  HKEY key = nullptr;
  if (RegCreateKeyEx(vendor, m_name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kRights, nullptr, &key,
                     nullptr) != ERROR_SUCCESS) {
    return kRegistryFailed;
  }
  CKeyCloser closeKey(key);
  for (const auto& [slot, param] : m_params) {
    if (param && param->SaveRegistry(key) != 0) return kRegistryFailed;
  }
  return 0;
}

bool CParamSet::IsWritten(CParam& param) const {
  if (param.m_writtenWhenSlot < 0) return true;
  CParam* guard = FindParam(param.m_writtenWhenSlot);
  int value = 0;
  if (guard) guard->GetInt(value);
  return value != 0;
}

int CParamSet::WriteTo(std::ostream& out) const {
  out << m_name << std::endl;
  for (const auto& [slot, param] : m_params) {
    if (param && param->m_flags != 0 && IsWritten(*param)) param->WriteText(out);
  }
  return 0;
}

void CParamSet::ResetToDefaults(bool onlyFlagged) {
  for (const auto& [slot, param] : m_params) {
    if (param && (!onlyFlagged || param->m_flags != 0)) param->ResetToDefault();
  }
}
