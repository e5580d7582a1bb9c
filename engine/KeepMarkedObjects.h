// Keeps only the kept areas of a matte that hold an object mark; background
// marks cut kept areas apart.
#pragma once

#include "imagecore/CoreResult.h"

class CCoreImage;
class CPlane;
class CProgressScale;

// matte and marks are grey and of one size (else result 101).
// Each of the three passes reports its rows to a child of progress; when the
// meter asks to stop, the result is 100 and the matte is left as it was.
CoreResult KeepMarkedObjects(CCoreImage& matte, CCoreImage& marks, int threshold,
                             CProgressScale* progress = nullptr);
CoreResult KeepMarkedObjects(CPlane& matte, const CPlane& marks, int threshold,
                             CProgressScale* progress = nullptr);
