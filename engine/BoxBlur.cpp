#include "engine/BoxBlur.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/SlidingRows.h"
#include "imagecore/AlphaConversion.h"
#include "imagecore/CoreImage.h"
#include "imagecore/ProgressScale.h"
#include "imagecore/RowBands.h"

namespace {

int NormaliseWindow(int window) {
  if (window <= 2) {
    window = 3;
  } else if (window >= 32) {
    window = 31;
  }
  if (window % 2 == 0) ++window;
  return window;
}

// Index i of a line of `count` cells, reflected without repeating the edge
// cell; |i| stays below count because the window is smaller than the image.
inline int Reflect(int i, int count) {
  if (i < 0) return -i;
  if (i >= count) return 2 * (count - 1) - i;
  return i;
}

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
// The kernels below work in blocks of 16 cells so the compiler vectorises
// them; the tails run the same statements one cell at a time.
constexpr size_t kBlock = 16;

// sums[i] += add[i] - sub[i]; sub may be null.
void SlideColumns(int32_t* __restrict sums, const uint8_t* __restrict add,
                  const uint8_t* __restrict sub, size_t count) {
  size_t i = 0;
  if (sub == nullptr) {
    for (; i + kBlock <= count; i += kBlock) {
      for (size_t j = 0; j < kBlock; ++j) sums[i + j] += add[i + j];
    }
    for (; i < count; ++i) sums[i] += add[i];
    return;
  }
  for (; i + kBlock <= count; i += kBlock) {
    for (size_t j = 0; j < kBlock; ++j) {
      sums[i + j] += static_cast<int32_t>(add[i + j]) - static_cast<int32_t>(sub[i + j]);
    }
  }
  for (; i < count; ++i) sums[i] += static_cast<int32_t>(add[i]) - static_cast<int32_t>(sub[i]);
}

// prefix[C * (p + 1) + c] = sum of cells[C * q + c] for q <= p: window sums
// along the row become differences of two prefixes. Unsigned, so the
// differences are right even where a long row's prefix wraps.
// The running sums are named locals: an array of them was kept in memory,
// putting a store and a reload between one cell and the next.
template <int C>
void PrefixSums(uint32_t* __restrict prefix, const int32_t* __restrict cells, int pixels) {
  static_assert(C >= 1 && C <= 4);
  uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  for (int c = 0; c < C; ++c) prefix[c] = 0;
  for (int p = 0; p < pixels; ++p) {
    const int32_t* cell = cells + static_cast<size_t>(p) * C;
    uint32_t* out = prefix + static_cast<size_t>(p + 1) * C;
    out[0] = s0 += static_cast<uint32_t>(cell[0]);
    if constexpr (C > 1) out[1] = s1 += static_cast<uint32_t>(cell[1]);
    if constexpr (C > 2) out[2] = s2 += static_cast<uint32_t>(cell[2]);
    if constexpr (C > 3) out[3] = s3 += static_cast<uint32_t>(cell[3]);
  }
}

// dst[i] = the rounded mean of the window total prefix[i + span] - prefix[i].
void Means(const uint32_t* __restrict prefix, size_t span, uint8_t* __restrict dst, size_t count,
           float reciprocal) {
  size_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    for (size_t j = 0; j < kBlock; ++j) {
      const auto total = static_cast<int32_t>(prefix[i + j + span] - prefix[i + j]);
      dst[i + j] =
          static_cast<uint8_t>(static_cast<int32_t>(static_cast<float>(total) * reciprocal + 0.5f));
    }
  }
  for (; i < count; ++i) {
    const auto total = static_cast<int32_t>(prefix[i + span] - prefix[i]);
    dst[i] =
        static_cast<uint8_t>(static_cast<int32_t>(static_cast<float>(total) * reciprocal + 0.5f));
  }
}

// Bands shorter than this are not worth a thread of their own.
constexpr int kMinBandRows = 64;

// Output rows [first, last) of the filter; all C interleaved channels are
// filtered at once, so each row of the vertical sums is one contiguous
// array. The image holds the unfiltered copy on entry and is overwritten row
// by row through `band`. The sums start afresh at `first`: being exact
// integers, they come out the same as sums run down from the top.
template <int C>
bool MeanFilterRows(CCoreImage& image, int n, bool premultiplied, int first, int last,
                    CBandOutput& band, CProgressScale* progress) {
  const int width = image.Width();
  const int height = image.Height();
  const int r = n / 2;
  const size_t stride = static_cast<size_t>(width) * C;
  const float reciprocal = 1.0f / static_cast<float>(n * n);

  CSlidingRows rows(image, n, premultiplied, first == 0 ? 0 : first - r);
  rows.LoadThrough(first + r);

  // Column sums over the window's rows, with r reflected cells each side.
  const int extended = width + 2 * r;
  std::vector<int32_t> columns(static_cast<size_t>(extended) * C, 0);
  std::vector<uint32_t> prefix(static_cast<size_t>(extended + 1) * C);
  int32_t* interior = columns.data() + static_cast<size_t>(r) * C;
  for (int k = first - r; k <= first + r; ++k)
    SlideColumns(interior, rows.Row(Reflect(k, height)), nullptr, stride);

  for (int y = first; y < last; ++y) {
    for (int j = 1; j <= r; ++j) {
      for (int c = 0; c < C; ++c) {
        interior[-j * C + c] = interior[j * C + c];
        interior[(width - 1 + j) * C + c] = interior[(width - 1 - j) * C + c];
      }
    }
    PrefixSums<C>(prefix.data(), columns.data(), extended);

    band.WriteRow(y, [&](uint8_t* dst) {
      Means(prefix.data(), static_cast<size_t>(n) * C, dst, stride, reciprocal);
      if (!premultiplied) return;
      if (C == 4) {
        UnpremultiplyBGRARow(dst, dst, width);
      } else {
        UnpremultiplyGreyARow(dst, width);
      }
    });

    if (progress && progress->Step(y) != 0) return false;

    if (y + 1 < last) {
      rows.LoadThrough(std::min(y + r + 1, height - 1));
      SlideColumns(interior, rows.Row(Reflect(y + r + 1, height)), rows.Row(Reflect(y - r, height)),
                   stride);
    }
  }
  return true;
}

// The whole image, in bands side by side where it is large enough. Progress
// reports come row by row in order, so a run with a scale keeps to one band.
template <int C>
bool MeanFilter(CCoreImage& image, int n, bool premultiplied, CProgressScale* progress) {
  const int height = image.Height();
  const int r = n / 2;
  const int bands =
      progress || image.HasRowCache() ? 1 : BandCount(height, kMinBandRows, 2 * r + 1);
  if (bands == 1) {
    CBandOutput whole(image, 0, height, r);
    return MeanFilterRows<C>(image, n, premultiplied, 0, height, whole, progress);
  }
  std::vector<std::unique_ptr<CBandOutput>> outputs(static_cast<size_t>(bands));
  RunBands(height, bands, [&](int band, int first, int last) {
    outputs[static_cast<size_t>(band)] = std::make_unique<CBandOutput>(image, first, last, r);
    MeanFilterRows<C>(image, n, premultiplied, first, last, *outputs[static_cast<size_t>(band)],
                      nullptr);
  });
  for (const std::unique_ptr<CBandOutput>& output : outputs) output->Flush();
  return true;
}

}  // namespace

CoreResult BoxBlur(CProgressScale* progress, CCoreImage& source, CCoreImage& destination,
                   int& window) {
  window = NormaliseWindow(window);
  CoreResult copied = destination.CopyFrom(source);
  if (!copied.IsNull()) return copied;
  if (window / 2 >= destination.Height() || window / 2 >= destination.Width()) {
    return CoreResult();
  }

  // Alpha and the premultiplied colour are filtered alike, so transparent
  // pixels lend no colour; the result is unpremultiplied row by row.
  bool finished = true;
  switch (destination.ViewFormat()) {
    case keFormatGrey:
      finished = MeanFilter<1>(destination, window, false, progress);
      break;
    case keFormatGreyA:
      finished = MeanFilter<2>(destination, window, true, progress);
      break;
    case keFormatBGR:
      finished = MeanFilter<3>(destination, window, false, progress);
      break;
    case keFormatBGRA:
      finished = MeanFilter<4>(destination, window, true, progress);
      break;
    default:
      return MakeResult(keErrInvalidArgument);
  }
  if (!finished) return MakeResult(keErrAborted);
  return CoreResult();
}
