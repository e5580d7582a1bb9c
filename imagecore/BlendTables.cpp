#include "imagecore/BlendTables.h"

#include <mutex>

namespace {

uint8_t g_tableT[kBlendTableTSize];
std::once_flag g_tableTOnce;

void BuildTableT() {
  for (int n = 0; n < kBlendTableTSize; ++n) g_tableT[n] = static_cast<uint8_t>((n + 128) / 255);
}

}  // namespace

const uint8_t* BlendTableT() {
  std::call_once(g_tableTOnce, BuildTableT);
  return g_tableT;
}
