// The six parameters the filter declares, in their slots, for tests of the
// set without the filter.
#pragma once

#include <memory>

#include "framework/Param.h"
#include "framework/ParamSet.h"

inline void DefineSix(CParamSet& set) {
  set.m_name = "Kelvane";
  const struct {
    const char* name;
    int max;
    int defaultValue;
  } ints[] = {{"Tolerance", 100, 30}, {"SMOOTH", 9, 0}, {"FEZER", 50, 1}, {"CONTRACT", 100, 0}};
  int slot = 0;
  for (const auto& declared : ints) {
    auto param = std::make_unique<CIntParam>();
    param->m_name = declared.name;
    param->m_min = 0;
    param->m_max = declared.max;
    param->m_default = declared.defaultValue;
    param->SetInt(declared.defaultValue);
    set.AddParam(slot++, declared.name, std::move(param));
  }
  for (const char* name : {"FILLHOLES", "TEXTUREDBACK"}) {
    auto param = std::make_unique<CBoolParam>();
    param->m_name = name;
    param->m_default = 0;
    param->SetInt(0);
    set.AddParam(slot++, name, std::move(param));
  }
}
