// The six parameters the filter declares, in their slots, for tests of the
// set without the filter.
#pragma once

#include "engine/MatteParameters.h"
#include "framework/ParamSet.h"

inline void DefineSix(CParamSet& set) {
  set.m_name = "Kelvane";
  DefineMatteParameters(set);
}
