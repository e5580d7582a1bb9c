// Forces 0 on every below-threshold area of a matte that holds a background
// mark, so that a faint remnant next to marked background does not survive.
#pragma once

class CCoreImage;
class CPlane;

// matte and marks are grey and of one size (else the core's exception 101).
void RemoveMarkedBackground(CCoreImage& matte, CCoreImage& marks, int threshold);
void RemoveMarkedBackground(CPlane& matte, const CPlane& marks, int threshold);
