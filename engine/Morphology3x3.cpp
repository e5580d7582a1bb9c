#include "engine/Morphology3x3.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__SSE2__) && !defined(KELVANE_SCALAR_ONLY)
#include <emmintrin.h>
#define KELVANE_SIXTEEN_AT_ONCE 1
#endif

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/RowBands.h"

namespace {

// Growing turns 0 pixels next to a nonzero one into 255; shrinking turns
// nonzero pixels next to a 0 one into 0. Neighbours are read from the matte
// as it was before the pass.
template <bool kGrow>
bool IsOther(uint8_t value) {
  return kGrow ? value != 0 : value == 0;
}

// Pixel x of a row from the rows as they were (above and below may be null
// outside the image). Answers whether it changed.
template <bool kGrow>
bool StepPixel(const uint8_t* above, const uint8_t* here, const uint8_t* below, uint8_t* out, int x, int w) {
  if (IsOther<kGrow>(here[x])) return false;
  // The pixel itself is not of the other kind, so testing the whole 3x3
  // square tests exactly its neighbours; those outside the image are left
  // out.
  const int left = x > 0 ? x - 1 : x;
  const int right = x + 1 < w ? x + 1 : x;
  for (int nx = left; nx <= right; ++nx) {
    if (IsOther<kGrow>(here[nx]) || (above && IsOther<kGrow>(above[nx])) || (below && IsOther<kGrow>(below[nx]))) {
      out[x] = kGrow ? 255 : 0;
      return true;
    }
  }
  return false;
}

#if KELVANE_SIXTEEN_AT_ONCE
// Lanes of the 16 bytes at p that are 0.
inline __m128i ZeroAt(const uint8_t* p) {
  return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}

// Lanes of pixels x .. x + 15 whose 3x3 square (within the rows given) holds
// a 0. x - 1 and x + 16 must lie in the row.
inline __m128i AnyZeroAround(const uint8_t* above, const uint8_t* here, const uint8_t* below, int x) {
  __m128i any = _mm_or_si128(_mm_or_si128(ZeroAt(here + x - 1), ZeroAt(here + x)), ZeroAt(here + x + 1));
  for (const uint8_t* row : {above, below}) {
    if (row) any = _mm_or_si128(any, _mm_or_si128(_mm_or_si128(ZeroAt(row + x - 1), ZeroAt(row + x)), ZeroAt(row + x + 1)));
  }
  return any;
}

// The same for a nonzero pixel: all nine 0 is the only way to have none.
inline __m128i AnyNonzeroAround(const uint8_t* above, const uint8_t* here, const uint8_t* below, int x) {
  __m128i all = _mm_and_si128(_mm_and_si128(ZeroAt(here + x - 1), ZeroAt(here + x)), ZeroAt(here + x + 1));
  for (const uint8_t* row : {above, below}) {
    if (row) all = _mm_and_si128(all, _mm_and_si128(_mm_and_si128(ZeroAt(row + x - 1), ZeroAt(row + x)), ZeroAt(row + x + 1)));
  }
  return _mm_xor_si128(all, _mm_set1_epi8(-1));
}
#endif

// One row of the pass; here may be out's own row only if the rows above and
// below are not read from out. Answers whether a pixel changed.
template <bool kGrow>
bool StepRow(const uint8_t* above, const uint8_t* here, const uint8_t* below, uint8_t* out, int w) {
  bool changed = false;
  int x = 0;
#if KELVANE_SIXTEEN_AT_ONCE
  if (w >= 18) {
    changed = StepPixel<kGrow>(above, here, below, out, 0, w);
    __m128i flipped = _mm_setzero_si128();
    for (x = 1; x + 17 <= w; x += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(here + x));
      const __m128i zero = _mm_cmpeq_epi8(v, _mm_setzero_si128());
      __m128i result;
      if constexpr (kGrow) {
        const __m128i flip = _mm_and_si128(zero, AnyNonzeroAround(above, here, below, x));
        result = _mm_or_si128(v, flip);  // 255 where flipped
        flipped = _mm_or_si128(flipped, flip);
      } else {
        const __m128i flip = _mm_andnot_si128(zero, AnyZeroAround(above, here, below, x));
        result = _mm_andnot_si128(flip, v);
        flipped = _mm_or_si128(flipped, flip);
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), result);
    }
    changed = changed || _mm_movemask_epi8(flipped) != 0;
  }
#endif
  for (; x < w; ++x) changed = StepPixel<kGrow>(above, here, below, out, x, w) || changed;
  return changed;
}

// The rows are stepped in bands side by side, in place. A band reads the
// rows next to it as they were, so the rows at every band's ends are saved
// before any band writes, and each band keeps the row it last wrote as it
// was.
template <bool kGrow>
bool Step3x3(CPlane& matte) {
  if (matte.BytesPerPixel() != 1)
    ThrowIfFailed(keErrInvalidArgument);
  const int w = matte.Width();
  const int h = matte.Height();
  if (w <= 0 || h <= 0) return false;
  const size_t width = static_cast<size_t>(w);
  const int bands = BandCount(h, kMinRowsPerBand);
  // Band b's first row at 2 b, its last at 2 b + 1.
  std::vector<uint8_t> ends(2 * width * bands);
  RunBands(h, bands, [&](int band, int first, int last) {
    std::memcpy(ends.data() + 2 * band * width, matte.Row(first), width);
    std::memcpy(ends.data() + (2 * band + 1) * width, matte.Row(last - 1), width);
  });
  std::atomic<bool> changed{false};
  RunBands(h, bands, [&](int band, int first, int last) {
    std::vector<uint8_t> rows(2 * width);
    uint8_t* before = rows.data();  // the row above as it was
    uint8_t* here = rows.data() + width;
    const uint8_t* above = band > 0 ? ends.data() + (2 * band - 1) * width : nullptr;
    bool bandChanged = false;
    for (int y = first; y < last; ++y) {
      uint8_t* out = matte.Row(y);
      std::memcpy(here, out, width);
      const uint8_t* below = y + 1 < last ? matte.Row(y + 1)
                             : y + 1 < h  ? ends.data() + (2 * band + 2) * width
                                          : nullptr;
      bandChanged = StepRow<kGrow>(above, here, below, out, w) || bandChanged;
      std::swap(before, here);
      above = before;
    }
    if (bandChanged) changed.store(true, std::memory_order_relaxed);
  });
  return changed.load();
}

template <bool kGrow>
void Step3x3(CCoreImage& matte) {
  if (matte.ViewFormat() != keFormatGrey)
    ThrowIfFailed(keErrInvalidArgument);
  CPlane plane = ReadPlane(matte);
  Step3x3<kGrow>(plane);
  WritePlane(plane, matte);
}

}  // namespace

void Dilate3x3(CPlane& matte) { Step3x3<true>(matte); }
void Dilate3x3(CCoreImage& matte) { Step3x3<true>(matte); }
bool Erode3x3(CPlane& matte) { return Step3x3<false>(matte); }
void Erode3x3(CCoreImage& matte) { Step3x3<false>(matte); }
