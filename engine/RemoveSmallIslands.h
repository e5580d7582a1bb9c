// Erases small kept areas (specks) of a matte, or keeps only the largest.
#pragma once

#include "imagecore/CoreResult.h"

class CCoreImage;
class CPlane;
class CProgressScale;

// maxSize != 0: every 4-connected nonzero area of at most maxSize pixels
// becomes 0 (none for a negative size). maxSize 0: only the largest nonzero
// area survives (of equal ones, the last met in row order). The matte is
// grey (else result 101). Progress and stopping as in KeepMarkedObjects.
CoreResult RemoveSmallIslands(CCoreImage& matte, int maxSize, CProgressScale* progress = nullptr);
CoreResult RemoveSmallIslands(CPlane& matte, int maxSize, CProgressScale* progress = nullptr);
