#include "engine/MatteParameters.h"

#include <memory>
#include <utility>

#include "framework/Param.h"
#include "framework/ParamSet.h"

namespace {

// Slots run from 0 without a gap, so that arrays of the parameters can be
// indexed by slot; every default lies within its limits, and a check box
// holds 0 or 1.
constexpr bool TableIsSound() {
  bool seen[kMatteParameterCount] = {};
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.slot < 0 || row.slot >= kMatteParameterCount || seen[row.slot]) return false;
    seen[row.slot] = true;
    if (row.minimum > row.defaultValue || row.defaultValue > row.maximum) return false;
    if (row.control == keControlCheckBox && (row.minimum != 0 || row.maximum != 1)) return false;
    if (row.writtenWhenSlot != keAlwaysWritten &&
        (row.writtenWhenSlot < 0 || row.writtenWhenSlot >= kMatteParameterCount)) {
      return false;
    }
  }
  return true;
}
static_assert(TableIsSound());

std::unique_ptr<CParam> MakeCheckBoxParam(const CMatteParameter& row) {
  auto param = std::make_unique<CBoolParam>();
  param->m_name = row.key;
  param->m_default = static_cast<uint8_t>(row.defaultValue);
  param->SetInt(row.defaultValue);
  return param;
}

std::unique_ptr<CParam> MakeFieldParam(const CMatteParameter& row) {
  auto param = std::make_unique<CIntParam>();
  param->m_name = row.key;
  param->m_min = row.minimum;
  param->m_max = row.maximum;
  param->m_default = row.defaultValue;
  param->SetInt(row.defaultValue);
  return param;
}

}  // namespace

const CMatteParameter* FindScriptParameter(std::string_view word) {
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.scriptWord == word) return &row;
  }
  return nullptr;
}

void DefineMatteParameters(CParamSet& set) {
  for (const CMatteParameter& row : kMatteParameters) {
    std::unique_ptr<CParam> param =
        row.control == keControlCheckBox ? MakeCheckBoxParam(row) : MakeFieldParam(row);
    param->m_writtenWhenSlot = row.writtenWhenSlot;
    set.AddParam(row.slot, row.key, std::move(param));
  }
}
