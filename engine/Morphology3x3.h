// One-pixel growth and shrink of the nonzero area of a grey matte, over the
// 8 neighbours of each pixel.
#pragma once

class CCoreImage;
class CPlane;

// Every 0 pixel with a nonzero neighbour inside the image becomes 255;
// nonzero pixels keep their values. The matte must be grey (else the core's
// exception 101).
void Dilate3x3(CCoreImage& matte);
void Dilate3x3(CPlane& matte);

// Every nonzero pixel with a 0 neighbour inside the image becomes 0; the
// image's edge itself does not erode. The matte must be grey (else the core's
// exception 101). The plane form answers whether any pixel changed.
void Erode3x3(CCoreImage& matte);
bool Erode3x3(CPlane& matte);
