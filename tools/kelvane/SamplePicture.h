// The picture the host uses when it is given no input: a shaded red ball
// with a soft shadow over a gently graded sky, a background that the filter
// can take away.
#pragma once

#include "tools/kelvane/Picture.h"

inline constexpr int kSampleWidth = 320;
inline constexpr int kSampleHeight = 240;

// 8-bit RGBA, fully opaque; the same bytes on every call.
CPicture SamplePicture();
