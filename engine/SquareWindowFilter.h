// What the square-window filters share (BoxBlur's mean, LocalDeviation's
// deviation): the window made odd, borders reflected without repeating the
// edge pixel, the column sums over the window's rows slid down the image and
// their prefix sums along each row, the bands the rows are filtered in side
// by side, and the formats taken. Each filter brings only what it makes of
// one row's window sums.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "engine/SlidingRows.h"
#include "imagecore/AlphaConversion.h"
#include "imagecore/CoreResult.h"
#include "imagecore/ProgressScale.h"
#include "imagecore/RowBands.h"

class CCoreImage;
class CPlane;

// The window made odd and kept within 3..largest.
int OddWindowWithin(int window, int largest);

// An image no larger than half the window in either direction is left
// unfiltered.
inline bool NoLargerThanHalfTheWindow(int width, int height, int window) {
  return window / 2 >= height || window / 2 >= width;
}

// Index i of a line of `count` cells, reflected without repeating the edge
// cell; |i| stays below count because the window is smaller than the image.
inline int ReflectIndex(int i, int count) {
  if (i < 0) return -i;
  if (i >= count) return 2 * (count - 1) - i;
  return i;
}

// cell(i) for every i below count, in blocks of 16 cells so that the
// compiler vectorises the kernels; the tail runs the same statement one
// cell at a time. The kernels are kept out of line ([[gnu::noinline]]):
// inlined, their restricted pointers no longer tell the compiler that their
// arrays do not overlap, and it leaves the loops scalar.
template <class Cell>
inline void ForEachCellInBlocks(size_t count, Cell&& cell) {
  constexpr size_t kBlock = 16;
  size_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    for (size_t j = 0; j < kBlock; ++j) cell(i + j);
  }
  for (; i < count; ++i) cell(i);
}

// Filters rows in place with the odd window n: one function per number of
// interleaved channels, C = 1..4 at index C - 1 (null for a number the
// filter is never given). Premultiplied pixels (2 or 4 bytes, alpha last)
// are filtered premultiplied and unpremultiplied on the way out. False when
// the progress scale asked to stop.
using CWindowFilter = bool (*)(CWindowRows& rows, int n, bool premultiplied,
                               CProgressScale* progress);
using CWindowFilters = std::array<CWindowFilter, 4>;

// How a filter takes BGRA: premultiplied, or in its colour channels only
// under the alpha it keeps.
enum class EWindowAlpha { kPremultiplied, kColoursOnly };

// destination := source, then filtered in place with the window (already
// made odd) unless the image is no larger than half the window in either
// direction. Grey and BGR are filtered as they are, GreyA premultiplied,
// BGRA as `bgra` says; any other format gives 101, a stop 100 (the rows
// after the one stopped at still hold the copy). source and destination may
// be the same image.
CoreResult FilterImageInWindow(CProgressScale* progress, CCoreImage& source,
                               CCoreImage& destination, int window, EWindowAlpha bgra,
                               const CWindowFilters& filters);

// The same in place over a plane of one byte a pixel (else 101).
CoreResult FilterGreyPlaneInWindow(CPlane& plane, int window, const CWindowFilters& filters);

// One output row's window sums of C interleaved channels, for the values and
// (with two moments) their squares: the total over the window at cell i is
// of[m][i + span] - of[m][i]. The prefixes run along the row over the column
// sums of the window's rows; they are unsigned, so the differences are right
// even where a long row's prefix wraps, and every total fits an int32_t.
template <int Moments>
struct CWindowPrefixes {
  std::array<const uint32_t*, Moments> of;
  size_t span;  // n * C cells
};

namespace window_sums {

// Column sums: sums[i] += add[i] - sub[i], and with two moments squares[i] +=
// add[i]^2 - sub[i]^2 (squares stay below 101^2 * 65025 < 2^31). sub may be
// null.
template <int Moments>
[[gnu::noinline]] void SlideColumns(int32_t* __restrict sums, int32_t* __restrict squares,
                                    const uint8_t* __restrict add, const uint8_t* __restrict sub,
                                    size_t count) {
  static_assert(Moments == 1 || Moments == 2);
  if (sub == nullptr) {
    ForEachCellInBlocks(count, [&](size_t i) {
      const int32_t a = add[i];
      sums[i] += a;
      if constexpr (Moments == 2) squares[i] += a * a;
    });
    return;
  }
  ForEachCellInBlocks(count, [&](size_t i) {
    const int32_t a = add[i];
    const int32_t d = sub[i];
    sums[i] += a - d;
    if constexpr (Moments == 2) squares[i] += a * a - d * d;
  });
}

// prefix[C * (p + 1) + c] = sum of cells[C * q + c] for q <= p.
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

// The r cells each side of a row of column sums (`interior` at its pixel 0)
// made the reflections of the cells inside.
template <int C>
void ReflectEdges(int32_t* interior, int width, int r) {
  for (int j = 1; j <= r; ++j) {
    for (int c = 0; c < C; ++c) {
      interior[-j * C + c] = interior[j * C + c];
      interior[(width - 1 + j) * C + c] = interior[(width - 1 - j) * C + c];
    }
  }
}

// Output rows [first, last) of the filter, all C interleaved channels at
// once so that each row of the column sums is one contiguous array. The rows
// hold the unfiltered input on entry and are overwritten one by one through
// `band`: write(prefixes, row) fills an output row from its window sums. The
// sums start afresh at `first`: being exact integers, they come out the same
// as sums run down from the top.
template <int C, int Moments, class Write>
bool SlideDown(CWindowRows& rows, int n, bool premultiplied, int first, int last, CBandOutput& band,
               CProgressScale* progress, Write& write) {
  const int width = rows.Width();
  const int height = rows.Height();
  const int r = n / 2;
  const size_t stride = static_cast<size_t>(width) * C;

  CSlidingRows input(rows, n, premultiplied, first == 0 ? 0 : first - r);
  input.LoadThrough(first + r);

  // Column sums over the window's rows, with r reflected cells each side.
  const int extended = width + 2 * r;
  const size_t cells = static_cast<size_t>(extended) * C;
  std::array<std::vector<int32_t>, Moments> columns;
  std::array<std::vector<uint32_t>, Moments> prefixes;
  std::array<int32_t*, 2> interior{};  // the values', the squares' (null with one moment)
  CWindowPrefixes<Moments> sums{{}, static_cast<size_t>(n) * C};
  for (int m = 0; m < Moments; ++m) {
    columns[m].assign(cells, 0);
    prefixes[m].resize(cells + C);
    interior[m] = columns[m].data() + static_cast<size_t>(r) * C;
    sums.of[m] = prefixes[m].data();
  }
  auto slide = [&](const uint8_t* add, const uint8_t* sub) {
    SlideColumns<Moments>(interior[0], interior[1], add, sub, stride);
  };
  for (int k = first - r; k <= first + r; ++k) slide(input.Row(ReflectIndex(k, height)), nullptr);

  for (int y = first; y < last; ++y) {
    for (int m = 0; m < Moments; ++m) {
      ReflectEdges<C>(interior[m], width, r);
      PrefixSums<C>(prefixes[m].data(), columns[m].data(), extended);
    }
    band.WriteRow(y, [&](uint8_t* dst) {
      write(sums, dst);
      if (!premultiplied) return;
      if (C == 4) {
        UnpremultiplyBGRARow(dst, dst, width);
      } else {
        UnpremultiplyGreyARow(dst, width);
      }
    });

    if (progress && progress->Step(y) != 0) return false;

    if (y + 1 < last) {
      input.LoadThrough(std::min(y + r + 1, height - 1));
      slide(input.Row(ReflectIndex(y + r + 1, height)), input.Row(ReflectIndex(y - r, height)));
    }
  }
  return true;
}

// Bands shorter than this are not worth a thread of their own.
constexpr int kMinBandRows = 64;

}  // namespace window_sums

// Output rows written from the input's window sums with the odd window n,
// in bands side by side where there are enough rows: into the input's own
// rows (output is input), or into another image's of the same height. Each
// band calls makeWriter() once for a writer of its own, and writer(prefixes,
// row) for each of its output rows. Progress reports come row by row in
// order, so a run with a scale keeps to one band. False when the progress
// scale asked to stop.
template <int C, int Moments, class MakeWriter>
bool FilterBySlidingSums(CWindowRows& input, CWindowRows& output, int n, bool premultiplied,
                         CProgressScale* progress, MakeWriter&& makeWriter) {
  const int height = input.Height();
  const int r = n / 2;
  // Rows written in place are still input to the neighbouring bands.
  const int reach = &input == &output ? r : 0;
  const int bands = progress || input.OneThreadOnly() || output.OneThreadOnly()
                        ? 1
                        : BandCount(height, window_sums::kMinBandRows, 2 * r + 1);
  if (bands == 1) {
    CBandOutput whole(output, 0, height, reach);
    auto writer = makeWriter();
    return window_sums::SlideDown<C, Moments>(input, n, premultiplied, 0, height, whole, progress,
                                              writer);
  }
  std::vector<std::unique_ptr<CBandOutput>> outputs(static_cast<size_t>(bands));
  RunBands(height, bands, [&](int band, int first, int last) {
    auto& held = outputs[static_cast<size_t>(band)];
    held = std::make_unique<CBandOutput>(output, first, last, reach);
    auto writer = makeWriter();
    window_sums::SlideDown<C, Moments>(input, n, premultiplied, first, last, *held, nullptr,
                                       writer);
  });
  for (const std::unique_ptr<CBandOutput>& held : outputs) held->Flush();
  return true;
}

// The same in place: every row is both input and output.
template <int C, int Moments, class MakeWriter>
bool FilterBySlidingSums(CWindowRows& rows, int n, bool premultiplied, CProgressScale* progress,
                         MakeWriter&& makeWriter) {
  return FilterBySlidingSums<C, Moments>(rows, rows, n, premultiplied, progress,
                                         std::forward<MakeWriter>(makeWriter));
}
