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

// True when cleaning a matte that is the result of a clean-up again would
// change nothing. The areas kept and the specks removed stay as they are;
// only a value left between zero and the background threshold may meet the
// background marks through zeros the first clean-up made.
bool CleanedMatteIsSettled(const CPlane& matte);
