#include "engine/BoxBlur.h"

#include <cstddef>
#include <cstdint>

#include "engine/SquareWindowFilter.h"

namespace {

// The mean is defined on running double sums: each window row's sum divided
// by n, those accumulated per column, the column sum divided by n again and
// rounded half up. Exact integer sums give the same bytes: the exact mean
// T / n^2 (T the window total) is never a tie, since n^2 is odd, and stays at
// least 1 / (2 n^2) >= 1/1922 away from one; the double sums drift from it by
// less than 2^-53 * 256 * (2 * height + n + 3), under 2^-12 for any int
// height. The rounding of T / n^2 is then taken in single precision: T is
// exact in a float, T * (1/n^2) + 0.5 is off by less than 5e-5, and
// truncating it gives floor((2T + n^2) / (2 n^2)).
//
// dst[i] = the rounded mean of the window total prefix[i + span] - prefix[i].
[[gnu::noinline]] void Means(const uint32_t* __restrict prefix, size_t span,
                             uint8_t* __restrict dst, size_t count, float reciprocal) {
  ForEachCellInBlocks(count, [&](size_t i) {
    const auto total = static_cast<int32_t>(prefix[i + span] - prefix[i]);
    dst[i] =
        static_cast<uint8_t>(static_cast<int32_t>(static_cast<float>(total) * reciprocal + 0.5f));
  });
}

template <int C>
bool MeanFilter(CWindowRows& rows, int n, bool premultiplied, CProgressScale* progress) {
  const size_t count = static_cast<size_t>(rows.Width()) * C;
  const float reciprocal = 1.0f / static_cast<float>(n * n);
  auto means = [count, reciprocal](const CWindowPrefixes<1>& sums, uint8_t* dst) {
    Means(sums.of[0], sums.span, dst, count, reciprocal);
  };
  return FilterBySlidingSums<C, 1>(rows, n, premultiplied, progress, [&] { return means; });
}

// Alpha and the premultiplied colour are filtered alike, so transparent
// pixels lend no colour.
constexpr CWindowFilters kMeanFilters{&MeanFilter<1>, &MeanFilter<2>, &MeanFilter<3>,
                                      &MeanFilter<4>};

}  // namespace

int BoxBlurWindow(int window) { return OddWindowWithin(window, 31); }

CoreResult BoxBlur(CProgressScale* progress, CCoreImage& source, CCoreImage& destination,
                   int& window) {
  window = BoxBlurWindow(window);
  return FilterImageInWindow(progress, source, destination, window,
                             EWindowAlpha::kPremultiplied, kMeanFilters);
}

CoreResult BoxBlur(CPlane& plane, int window) {
  return FilterGreyPlaneInWindow(plane, BoxBlurWindow(window), kMeanFilters);
}
