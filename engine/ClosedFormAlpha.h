// Alpha in an edge band by closed-form matting: within every 3 x 3 window
// alpha is taken to be an affine function of the colour, and the band's
// alpha is the one that fits that best given the matte outside the band.
#pragma once

#include "engine/EdgeBand.h"

class CRowLease;

// rows: the picture's BGRA rows, alpha = the matte, which is kept outside
// the band. Fills `alpha` with one value in 0..1 per band pixel, in band
// order. Rows are worked on in bands side by side unless `oneBand`; the
// result does not depend on it. Returns false, with `alpha` unspecified,
// when `stop` (polled on every iteration of the solve) asked to stop.
bool SolveBandAlpha(const CRowLease& rows, const CEdgeBand& band, bool oneBand,
                    CBandArray<float>& alpha, const CBandStopCheck& stop);
