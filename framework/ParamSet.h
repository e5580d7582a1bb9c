// A filter's named set of parameters, addressed by slot and by name. It is
// the one place the settings live while the editor is open, and is kept in
// the user's registry between uses.
#pragma once

#include <iosfwd>
#include <map>
#include <memory>
#include <string>

#include "framework/Param.h"

class CParamSet {
 public:
  using ParamMap = std::map<int, std::unique_ptr<CParam>>;

  CParamSet() = default;
  CParamSet(const CParamSet&) = delete;
  CParamSet& operator=(const CParamSet&) = delete;
  ~CParamSet();

  // The set owns the parameter; adding a slot again replaces its parameter.
  void AddParam(int slot, const std::string& name, std::unique_ptr<CParam> param);
  // As above; the set takes ownership of the pointer.
  void AddParam(int slot, const std::string& name, CParam* param) {
    AddParam(slot, name, std::unique_ptr<CParam>(param));
  }
  // Null for a slot that was never added.
  CParam* FindParam(int slot) const;
  // The first slot, in slot order, added under exactly this name.
  CParam* FindParamByName(const std::string& name) const;

  // HKEY_CURRENT_USER\Software\Orvanta\<m_name>, one value per parameter in
  // slot order. The load stops at the first value that cannot be read, so
  // that parameter and the later ones keep their values; the save stops at
  // the first failure, and a store that could not be written is reported in
  // a message box naming its file. Both return 0 or -5.
  int LoadFromRegistry();
  int SaveToRegistry();

  // The preset text: the set's name, then the line of every flagged
  // parameter whose guard slot, if it names one, holds a non-zero value.
  // Returns 0.
  int WriteTo(std::ostream& out) const;
  void ResetToDefaults(bool onlyFlagged);

  const ParamMap& Params() const { return m_params; }
  const std::map<int, std::string>& Names() const { return m_names; }

  std::string m_name;

 private:
  int SaveValues();
  bool IsWritten(CParam& param) const;

  ParamMap m_params;
  std::map<int, std::string> m_names;
};

// The key below HKEY_CURRENT_USER under which every filter's set is kept.
inline constexpr const char* kRegistryVendorKey = "Software\\Orvanta";
