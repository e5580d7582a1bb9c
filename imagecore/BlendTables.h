// Tables shared by the per-pixel blending of rows and of the editor's view,
// so that every blend rounds the same way without dividing.
#pragma once

#include <cstdint>

// Entries of T: one for every product of two 8-bit values.
inline constexpr int kBlendTableTSize = 255 * 255 + 1;
// R: a 128x128 tile of pseudo-random thresholds, row y at R + y * 128.
inline constexpr int kBlendTableRSide = 128;
inline constexpr int kBlendTableRSize = kBlendTableRSide * kBlendTableRSide;
inline constexpr int kBlendTableQSize = 256;
inline constexpr int kBlendTableDSize = 256 * 256;

// T[n] = (n + 128) / 255, so T[x * y] is x * y / 255 rounded for 8-bit x and
// y. Built once, on first use or by CoreStartup; never changes afterwards, so
// any thread may read it.
const uint8_t* BlendTableT();

// The four tables the row operations blend with.
//   T as above;
//   R[i]: the C library's rand() after srand(1), each value mod 254;
//   Q[i] = floor(255 * sqrt(i / 255));
//   D[a * 256 + b] = (a * 65536 + b / 2) / b, a / b in 16.16 (b = 0 gives 0).
struct CBlendTables {
  const uint8_t* T = nullptr;
  const uint8_t* R = nullptr;
  const uint8_t* Q = nullptr;
  const uint32_t* D = nullptr;
};

// Builds R, Q and D (T is the one above), or takes the caller's four tables
// instead, which must then outlive StopBlendTables. A second start does
// nothing. Returns 0, or 102 when memory for the tables could not be had.
uint32_t StartBlendTables(const CBlendTables* supplied = nullptr);
// Frees the built tables; a later use builds them again.
void StopBlendTables();
// The started tables, built here when nobody started them, so that an
// operation never meets a missing table. Valid until StopBlendTables.
CBlendTables BlendTablesInUse();

// The individual tables in use, for other callers and for inspection.
const uint8_t* BlendTableR();
const uint8_t* BlendTableQ();
const uint32_t* BlendTableD();
