// Tables shared by the per-pixel blending of rows and of the editor's view,
// so that every blend rounds the same way without dividing.
#pragma once

#include <cstdint>

// Entries of T: one for every product of two 8-bit values.
inline constexpr int kBlendTableTSize = 255 * 255 + 1;

// T[n] = (n + 128) / 255, so T[x * y] is x * y / 255 rounded for 8-bit x and
// y. Built once, on first use or by CoreStartup; never changes afterwards, so
// any thread may read it.
const uint8_t* BlendTableT();
