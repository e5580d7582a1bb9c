// Merges a run's matte with the previous run's, so that raising the
// strength can only remove more and lowering it can only give back.
#pragma once

class CCoreImage;
class CPlane;

struct CCombineInputs {
  bool objectMarks = false;
  bool backgroundMarks = false;
  int combineMode = 0;  // 0 background strokes drawn last, 1 object strokes
  int strength = 0;
  int previousStrength = 0;
};

// true: the binarised mattes are intersected; false: united.
bool CombineIntersects(const CCombineInputs& inputs);

// matte := 255 where the rule keeps a pixel, else 0 (both binarised at 250).
void CombineWithPrevious(CPlane& matte, const CPlane& prevMatte, const CCombineInputs& inputs);
void CombineWithPrevious(CCoreImage& matte, CCoreImage& prevMatte, const CCombineInputs& inputs);
