// Turning a picture stored sideways or mirrored upright, as viewers show it.
#pragma once

#include "tools/kelvane/Picture.h"

// Applies an EXIF orientation (1 upright, 2 mirrored, 3 turned half way,
// 4 flipped, 5 transposed, 6 turned a quarter clockwise to be upright,
// 7 transversed, 8 turned a quarter anticlockwise); other values leave the
// picture as it is.
void ApplyOrientation(CPicture& picture, int orientation);
