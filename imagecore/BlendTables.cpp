#include "imagecore/BlendTables.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

#include "imagecore/CoreResult.h"

namespace {

uint8_t g_tableT[kBlendTableTSize];
std::once_flag g_tableTOnce;

void BuildTableT() {
  for (int n = 0; n < kBlendTableTSize; ++n) g_tableT[n] = static_cast<uint8_t>((n + 128) / 255);
}

// R, Q and D live in one allocation while the tables are started.
struct CBuiltTables {
  uint8_t R[kBlendTableRSize];
  uint8_t Q[kBlendTableQSize];
  uint32_t D[kBlendTableDSize];
};

std::mutex g_tablesMutex;
bool g_tablesStarted = false;
CBlendTables g_inUse;
std::unique_ptr<CBuiltTables> g_built;

void FillBuiltTables(CBuiltTables& built) {
  // The dissolve pattern must be the same in every run, whatever else the
  // process did with the generator before.
  std::srand(1);
  for (int i = 0; i < kBlendTableRSize; ++i) built.R[i] = static_cast<uint8_t>(std::rand() % 254);
  for (int i = 0; i < kBlendTableQSize; ++i) {
    // Integer square root of 255 * i, which equals floor(255 * sqrt(i / 255))
    // without trusting the floating-point square root at perfect squares.
    const int n = 255 * i;
    int r = static_cast<int>(std::sqrt(static_cast<double>(n)));
    while (r * r > n) --r;
    while ((r + 1) * (r + 1) <= n) ++r;
    built.Q[i] = static_cast<uint8_t>(r);
  }
  for (uint32_t a = 0; a < 256; ++a) {
    built.D[a * 256] = 0;
    for (uint32_t b = 1; b < 256; ++b) built.D[a * 256 + b] = (a * 65536 + b / 2) / b;
  }
}

// Called with the mutex held.
uint32_t StartLocked(const CBlendTables* supplied) {
  if (g_tablesStarted) return 0;
  if (supplied) {
    g_inUse = *supplied;
  } else {
    std::unique_ptr<CBuiltTables> built(new (std::nothrow) CBuiltTables);
    if (!built) return keErrOutOfMemory;
    FillBuiltTables(*built);
    g_inUse.T = BlendTableT();
    g_inUse.R = built->R;
    g_inUse.Q = built->Q;
    g_inUse.D = built->D;
    g_built = std::move(built);
  }
  g_tablesStarted = true;
  return 0;
}

}  // namespace

const uint8_t* BlendTableT() {
  std::call_once(g_tableTOnce, BuildTableT);
  return g_tableT;
}

uint32_t StartBlendTables(const CBlendTables* supplied) {
  std::lock_guard<std::mutex> lock(g_tablesMutex);
  return StartLocked(supplied);
}

void StopBlendTables() {
  std::lock_guard<std::mutex> lock(g_tablesMutex);
  g_built.reset();
  g_inUse = {};
  g_tablesStarted = false;
}

CBlendTables BlendTablesInUse() {
  std::lock_guard<std::mutex> lock(g_tablesMutex);
  // Without memory for the tables there is nothing sensible to blend with.
  if (!g_tablesStarted) ThrowIfFailed(StartLocked(nullptr));
  return g_inUse;
}

const uint8_t* BlendTableR() { return BlendTablesInUse().R; }
const uint8_t* BlendTableQ() { return BlendTablesInUse().Q; }
const uint32_t* BlendTableD() { return BlendTablesInUse().D; }
