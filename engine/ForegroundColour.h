// The object's own colour in the part-transparent pixels of an edge band:
// each pixel is taken as alpha * F + (1 - alpha) * B, with the object's
// colour F and the background's B both smooth where alpha is, and the two
// are found together.
#pragma once

#include <cstdint>

#include "engine/EdgeBand.h"

class CRowLease;

// rows: the picture's BGRA rows, alpha = the matte (which says on which side
// of the edge a pixel outside the band lies). alpha: the estimated alpha of
// each band pixel. Fills `colour` with B, G, R of the object's colour per
// band pixel, in band order. Rows are worked on in bands side by side unless
// `oneBand`; the result does not depend on it. Returns false, with `colour`
// unspecified, when `stop` asked to stop.
bool EstimateObjectColour(const CRowLease& rows, const CEdgeBand& band,
                          const CBandArray<uint8_t>& alpha, CBandArray<uint8_t>& colour,
                          bool oneBand, const CBandStopCheck& stop);
