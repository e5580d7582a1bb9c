// One-pixel growth of the nonzero area of a grey matte (8 neighbours).
#pragma once

class CCoreImage;
class CPlane;

// Every 0 pixel with a nonzero neighbour inside the image becomes 255;
// nonzero pixels keep their values. The matte must be grey (else the core's
// exception 101).
void Dilate3x3(CCoreImage& matte);
void Dilate3x3(CPlane& matte);
