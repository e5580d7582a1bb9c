// The clean-up of a classified matte: soft background reached from the
// background marks goes; then, with marks of both kinds, only the areas the
// object marks choose stay, and with one kind the specks go.
#pragma once

#include "engine/Plane.h"

struct CMarkKinds {
  bool object = false;
  bool background = false;
};

void CleanMatte(CPlane& matte, const CPlane& marks, const CMarkKinds& kinds);

// True when the matte holds a value above zero and below the background
// threshold. Without one, the background the marks reach is zero already,
// so the clean-up leaves that search out.
bool HasFaintValues(const CPlane& matte);
