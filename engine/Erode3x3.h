// One-pixel shrink of the nonzero area of a grey matte (8 neighbours).
#pragma once

class CCoreImage;
class CPlane;

// Every nonzero pixel with a 0 neighbour inside the image becomes 0; the
// image's edge itself does not erode. The matte must be grey (else the core's
// exception 101). The plane form answers whether any pixel changed.
void Erode3x3(CCoreImage& matte);
bool Erode3x3(CPlane& matte);
