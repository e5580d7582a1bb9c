// FillHoles: fills the areas of a matte that are not opaque and cannot be
// reached from a background mark with values interpolated from their
// surroundings. It never lowers the matte.
#pragma once

#include "imagecore/CoreResult.h"

class CCoreImage;
class CPlane;
class CProgressScale;

// matte and marks are grey and of one size (else result 101). A child of
// progress gets 9 stages of height steps, polled once per row; when it asks
// to stop the result is 100 and the matte is left as it was.
CoreResult FillHoles(CCoreImage& matte, CCoreImage& marks, CProgressScale* progress = nullptr);
CoreResult FillHoles(CPlane& matte, const CPlane& marks, CProgressScale* progress = nullptr);

// The same fill computed the plain way (every ray walked step by step, every
// mean in big-integer arithmetic, every smoothing window summed pixel by
// pixel); FillHoles must give the same bytes.
CoreResult FillHolesReference(CPlane& matte, const CPlane& marks);

// trunc(sum(value / length) / sum(1 / length)) over count rays, exactly;
// values 0..255, lengths >= 1. The plain form uses big integers only.
int WeightedRayMean(const int* values, const int* lengths, int count);
int WeightedRayMeanPlain(const int* values, const int* lengths, int count);
