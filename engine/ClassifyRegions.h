// Region-growing classification: grows colour regions from the marked pixels
// and decides for each region whether it is background, object or mixed.
#pragma once

#include <cstdint>

#include "imagecore/CoreImage.h"

class CPlane;

// What the regions decided for a pixel, for a later stage that weighs it.
enum : uint8_t {
  keRegionUndecided = 0,  // no region that met a mark reached it
  keRegionErased = 1,
  keRegionKept = 2,
};

// colourSource and target hold 4 bytes a pixel (BGRA or BGRxA) and may be the
// same image; texture and marks are grey images of the same size. Every pixel
// a region reaches gets colourSource's colours and the region's alpha
// decision in target; all other pixels of target are left alone. Raises the
// core's error 101 for images that do not fit together or a negative
// textureRange. The texture is let go as soon as it is read, so a texture
// handed over as a temporary frees its memory for the scratch buffers.
// `decided`, when given, receives a grey plane of the keRegion values.
void ClassifyRegions(CCoreImage& colourSource, CCoreImage& target, CCoreImage texture,
                     CCoreImage& marks, int strength, int textureRange,
                     CPlane* decided = nullptr);

// Distance of two pixels over channels 0..2, 0..510: the largest positive
// difference plus the largest negative one in magnitude.
int ColourDistance(const uint8_t* p, const uint8_t* q);

// Largest colour distance at which a candidate of the given texture joins the
// region of a seed grown with tolerance tol.
int AcceptanceThreshold(int tol, int candidateTexture, int seedTexture, int textureRange);

// Object seeds grow with two thirds of the strength.
int ObjectTolerance(int strength);
