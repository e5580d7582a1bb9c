#include "engine/LocalDeviation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__) && !defined(KELVANE_SCALAR_ONLY)
#include <emmintrin.h>
#define KELVANE_FOUR_AT_ONCE 1
#endif

#include "engine/SlidingRows.h"
#include "engine/SquareWindowFilter.h"
#include "imagecore/AlphaConversion.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

// The deviation is defined on running double sums (values and squares, each
// window row's sum divided by n, accumulated per column, divided by n again):
// the byte is round(max(sqrt(meanSq - mean^2), 0.001)) half up, 0 when the
// difference comes out negative.
//
// With exact integer sums T and Q over the window, D = n^2 Q - T^2 and the
// exact deviation is sqrt(D) / n^2. It is never a tie: 4D = (2k+1)^2 n^4
// would make an even number odd. Its rounding is therefore
// (isqrt(floor(4D / n^4)) + 1) / 2, and floor(4D / n^4) <= 4 * 127.5^2.
// Measured on the variance, the nearest tie lies at least 1 / (4 n^4) away,
// while the double sums drift by less than 2^-53 * 3 * 65025 *
// (2 * height + n + 3). Where that bound is safely smaller the integer sums
// give the same bytes; elsewhere (large windows on tall images) the double
// sums are run as defined.
bool IntegerSumsAreExact(int n, int height) {
  const double n4 = static_cast<double>(n) * n * n * n;
  return (2.0 * height + n + 3.0) * n4 <= 1e9;
}

// index[i] = floor(4D / n^4), D = n^2 Q - T^2 from the window totals T and
// Q (prefix differences). Every step is exact in double (4D < 2^43), and
// (4D + 1/2) / n^4 lies at least 1 / (2 n^4) from a whole number, far more
// than the rounding of the reciprocal can move it.
[[gnu::noinline]] void RootIndices(const uint32_t* __restrict sumPrefix,
                                   const uint32_t* __restrict squarePrefix, size_t span, double nn,
                                   double reciprocal4, int32_t* __restrict index, size_t count) {
  ForEachCellInBlocks(count, [&](size_t i) {
    const double t = static_cast<int32_t>(sumPrefix[i + span] - sumPrefix[i]);
    const double q = static_cast<int32_t>(squarePrefix[i + span] - squarePrefix[i]);
    const double x = 4.0 * (nn * q - t * t);
    index[i] = static_cast<int32_t>((x + 0.5) * reciprocal4);
  });
}

// (isqrt(v) + 1) / 2 for v = floor(4D / n^4) in 0..65025.
const uint8_t* RoundedRootTable() {
  static const std::vector<uint8_t> table = [] {
    std::vector<uint8_t> t(65026);
    unsigned root = 0;
    for (unsigned v = 0; v < t.size(); ++v) {
      while ((root + 1) * (root + 1) <= v) ++root;
      t[v] = static_cast<uint8_t>((root + 1) / 2);
    }
    return t;
  }();
  return table.data();
}

// dst[i] = the rounded root table's byte for index[i].
void RoundedRoots(const int32_t* __restrict index, const uint8_t* __restrict rounded,
                  uint8_t* __restrict dst, size_t count) {
  for (size_t i = 0; i < count; ++i) dst[i] = rounded[index[i]];
}

// The 3 x 3 window of BGRA pixels summed straight from its three rows, with
// no running sums: per pixel the four channels' column sums of the values
// and of their squares, then the sums of three neighbouring columns. D
// (9Q - T^2 < 2^23) and every sum fit 32 bits, and T fits 16.
class CThreeByThreeSums {
 public:
  explicit CThreeByThreeSums(int width)
      : m_width(width), m_values(4 * static_cast<size_t>(width + 2)),
        m_squares(4 * static_cast<size_t>(width + 2)) {}

  // The column sums over rows a, b and c, the border columns reflected
  // without repeating the edge pixel.
  void Columns(const uint8_t* a, const uint8_t* b, const uint8_t* c) {
    uint16_t* values = m_values.data() + 4;
    int32_t* squares = m_squares.data() + 4;
    int x = 0;
#if KELVANE_FOUR_AT_ONCE
    const __m128i zero = _mm_setzero_si128();
    for (; x + 4 <= m_width; x += 4) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 4 * x));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 4 * x));
      const __m128i vc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 4 * x));
      for (int half = 0; half < 2; ++half) {  // pixels x, x + 1, then x + 2, x + 3
        const __m128i a16 = half == 0 ? _mm_unpacklo_epi8(va, zero) : _mm_unpackhi_epi8(va, zero);
        const __m128i b16 = half == 0 ? _mm_unpacklo_epi8(vb, zero) : _mm_unpackhi_epi8(vb, zero);
        const __m128i c16 = half == 0 ? _mm_unpacklo_epi8(vc, zero) : _mm_unpackhi_epi8(vc, zero);
        const int p = x + 2 * half;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(values + 4 * p),
                         _mm_add_epi16(_mm_add_epi16(a16, b16), c16));
        // Pairs (a, b) and (c, 0) per channel: one multiply-add squares and sums them.
        const __m128i abFirst = _mm_unpacklo_epi16(a16, b16);
        const __m128i abSecond = _mm_unpackhi_epi16(a16, b16);
        const __m128i cFirst = _mm_unpacklo_epi16(c16, zero);
        const __m128i cSecond = _mm_unpackhi_epi16(c16, zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(squares + 4 * p),
                         _mm_add_epi32(_mm_madd_epi16(abFirst, abFirst), _mm_madd_epi16(cFirst, cFirst)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(squares + 4 * (p + 1)),
                         _mm_add_epi32(_mm_madd_epi16(abSecond, abSecond), _mm_madd_epi16(cSecond, cSecond)));
      }
    }
#endif
    for (size_t i = 4 * static_cast<size_t>(x); i < 4 * static_cast<size_t>(m_width); ++i) {
      values[i] = static_cast<uint16_t>(a[i] + b[i] + c[i]);
      squares[i] = a[i] * a[i] + b[i] * b[i] + c[i] * c[i];
    }
    for (int k = 0; k < 4; ++k) {
      values[-4 + k] = values[4 * ReflectIndex(-1, m_width) + k];
      squares[-4 + k] = squares[4 * ReflectIndex(-1, m_width) + k];
      values[4 * m_width + k] = values[4 * ReflectIndex(m_width, m_width) + k];
      squares[4 * m_width + k] = squares[4 * ReflectIndex(m_width, m_width) + k];
    }
  }

  // index[x] = floor(4D / 81) of pixel x's largest colour D, as RootIndices
  // computes it.
  void LargestColourIndices(int32_t* index) const {
    const uint16_t* values = m_values.data() + 4;
    const int32_t* squares = m_squares.data() + 4;
    const double reciprocal4 = 1.0 / 81.0;
    int x = 0;
#if KELVANE_FOUR_AT_ONCE
    const __m128i zero = _mm_setzero_si128();
    auto load = [](const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); };
    for (; x + 4 <= m_width; x += 4) {
      __m128i d[4];
      for (int pair = 0; pair < 2; ++pair) {
        const int p = x + 2 * pair;
        const __m128i t16 = _mm_add_epi16(_mm_add_epi16(load(values + 4 * (p - 1)), load(values + 4 * p)),
                                          load(values + 4 * (p + 1)));
        for (int k = 0; k < 2; ++k) {
          const __m128i t = k == 0 ? _mm_unpacklo_epi16(t16, zero) : _mm_unpackhi_epi16(t16, zero);
          const int q = p + k;
          const __m128i sum = _mm_add_epi32(_mm_add_epi32(load(squares + 4 * (q - 1)), load(squares + 4 * q)),
                                            load(squares + 4 * (q + 1)));
          d[2 * pair + k] = _mm_sub_epi32(_mm_add_epi32(_mm_slli_epi32(sum, 3), sum), _mm_madd_epi16(t, t));
        }
      }
      // Channels across: blue, green and red of the four pixels.
      const __m128i t0 = _mm_unpacklo_epi32(d[0], d[1]);
      const __m128i t1 = _mm_unpacklo_epi32(d[2], d[3]);
      const __m128i t2 = _mm_unpackhi_epi32(d[0], d[1]);
      const __m128i t3 = _mm_unpackhi_epi32(d[2], d[3]);
      const __m128i blue = _mm_unpacklo_epi64(t0, t1);
      const __m128i green = _mm_unpackhi_epi64(t0, t1);
      const __m128i red = _mm_unpacklo_epi64(t2, t3);
      auto larger = [](__m128i u, __m128i v) {
        const __m128i uWins = _mm_cmpgt_epi32(u, v);
        return _mm_or_si128(_mm_and_si128(uWins, u), _mm_andnot_si128(uWins, v));
      };
      const __m128i largest = larger(larger(blue, green), red);
      const __m128d four = _mm_set1_pd(4.0);
      const __m128d half = _mm_set1_pd(0.5);
      const __m128d scale = _mm_set1_pd(reciprocal4);
      auto indices = [&](__m128i two) {
        const __m128d v = _mm_mul_pd(_mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(two), four), half), scale);
        return _mm_cvttpd_epi32(v);
      };
      const __m128i low = indices(largest);
      const __m128i high = indices(_mm_shuffle_epi32(largest, _MM_SHUFFLE(1, 0, 3, 2)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(index + x), _mm_unpacklo_epi64(low, high));
    }
#endif
    for (; x < m_width; ++x) {
      int32_t largest = 0;
      for (int c = 0; c < 3; ++c) {
        const size_t i = 4 * static_cast<size_t>(x) + c;
        const int32_t t = values[i - 4] + values[i] + values[i + 4];
        const int32_t q = squares[i - 4] + squares[i] + squares[i + 4];
        const int32_t d = 9 * q - t * t;
        largest = c == 0 ? d : std::max(largest, d);
      }
      index[x] = static_cast<int32_t>((4.0 * largest + 0.5) * reciprocal4);
    }
  }

 private:
  int m_width;
  std::vector<uint16_t> m_values;  // one reflected pixel each side
  std::vector<int32_t> m_squares;
};

// MapLargestColourDeviation for the 3 x 3 window, rows in bands.
void MapLargestColourDeviation3(CCoreImage& source, const uint8_t* mapped, CCoreImage& destination) {
  const int width = source.Width();
  const int height = source.Height();
  const CRowLease sourceRows = CRowLease::AllRows(source);
  const CRowLease destinationRows = CRowLease::AllRows(destination);
  RunBands(height, BandCount(height, kMinRowsPerBand), [&](int, int first, int last) {
    CThreeByThreeSums sums(width);
    std::vector<int32_t> index(static_cast<size_t>(width));
    for (int y = first; y < last; ++y) {
      sums.Columns(sourceRows.Row(ReflectIndex(y - 1, height)), sourceRows.Row(y),
                   sourceRows.Row(ReflectIndex(y + 1, height)));
      sums.LargestColourIndices(index.data());
      uint8_t* out = destinationRows.Row(y);
      for (int x = 0; x < width; ++x) out[x] = mapped[static_cast<size_t>(index[static_cast<size_t>(x)])];
    }
  });
}

// The deviations from exact integer sums, in bands side by side.
template <int C>
bool DeviationsFromIntegerSums(CWindowRows& rows, int n, bool premultiplied,
                               CProgressScale* progress) {
  const size_t count = static_cast<size_t>(rows.Width()) * C;
  const double nn = static_cast<double>(n) * n;
  const double reciprocal4 = 1.0 / (nn * nn);
  const uint8_t* rounded = RoundedRootTable();
  // Each band fills indices of its own.
  auto makeWriter = [&] {
    return [&, index = std::vector<int32_t>(count)](const CWindowPrefixes<2>& sums,
                                                    uint8_t* dst) mutable {
      RootIndices(sums.of[0], sums.of[1], sums.span, nn, reciprocal4, index.data(), count);
      RoundedRoots(index.data(), rounded, dst, count);
    };
  };
  return FilterBySlidingSums<C, 2>(rows, n, premultiplied, progress, makeWriter);
}

// The running double sums exactly as defined, in one run down the rows: they
// drift, so a band could not start them afresh. All C interleaved channels
// are filtered at once; the rows hold the unfiltered copy on entry and are
// overwritten one by one.
template <int C>
class CDoubleSumDeviations {
 public:
  CDoubleSumDeviations(CWindowRows& rows, int n, bool premultiplied)
      : m_rows(rows),
        m_n(n),
        m_r(n / 2),
        m_width(rows.Width()),
        m_height(rows.Height()),
        m_premultiplied(premultiplied),
        m_input(rows, n, premultiplied) {}

  bool Run(CProgressScale* progress) {
    const int r = m_r;
    const size_t cells = static_cast<size_t>(m_width) * C;
    m_line.assign(static_cast<size_t>(m_width + 2 * r) * C, 0);
    std::vector<double> values(cells);
    std::vector<double> squares(cells);
    std::vector<double> columnValues(cells, 0.0);
    std::vector<double> columnSquares(cells, 0.0);
    auto add = [&](const uint8_t* row) {
      Contributions(row, values, squares);
      for (size_t i = 0; i < cells; ++i) {
        columnValues[i] += values[i];
        columnSquares[i] += squares[i];
      }
    };
    auto subtract = [&](const uint8_t* row) {
      Contributions(row, values, squares);
      for (size_t i = 0; i < cells; ++i) {
        columnValues[i] -= values[i];
        columnSquares[i] -= squares[i];
      }
    };

    m_input.LoadThrough(r);
    for (int k = -r; k <= r; ++k) add(m_input.Row(ReflectIndex(k, m_height)));

    for (int y = 0; y < m_height; ++y) {
      WriteDeviations(y, columnValues, columnSquares);
      if (progress && progress->Step(y) != 0) return false;
      if (y + 1 < m_height) {
        const uint8_t* entering = Entering(y);
        subtract(Leaving(y));
        add(entering);
      }
    }
    return true;
  }

 private:
  // Window rows entering and leaving on the way from output row y to y + 1.
  const uint8_t* Entering(int y) {
    m_input.LoadThrough(std::min(y + m_r + 1, m_height - 1));
    return m_input.Row(ReflectIndex(y + m_r + 1, m_height));
  }
  const uint8_t* Leaving(int y) const { return m_input.Row(ReflectIndex(y - m_r, m_height)); }

  // One source row's window sums of values and squares, each divided by n:
  // the row's contribution to the running column sums. The row sums are
  // whole numbers, so summing them in integers changes nothing.
  void Contributions(const uint8_t* row, std::vector<double>& values,
                     std::vector<double>& squares) {
    const int n = m_n;
    const int r = m_r;
    const int width = m_width;
    for (int p = 0; p < width + 2 * r; ++p) {
      const int x = ReflectIndex(p - r, width);
      for (int c = 0; c < C; ++c) m_line[static_cast<size_t>(p) * C + c] = row[x * C + c];
    }
    int32_t t[C] = {};
    int32_t q[C] = {};
    for (int p = 0; p < n; ++p) {
      for (int c = 0; c < C; ++c) {
        const int32_t v = m_line[static_cast<size_t>(p) * C + c];
        t[c] += v;
        q[c] += v * v;
      }
    }
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < C; ++c) {
        values[static_cast<size_t>(x) * C + c] = static_cast<double>(t[c]) / n;
        squares[static_cast<size_t>(x) * C + c] = static_cast<double>(q[c]) / n;
      }
      if (x + 1 < width) {
        for (int c = 0; c < C; ++c) {
          const int32_t a = m_line[static_cast<size_t>(x + n) * C + c];
          const int32_t s = m_line[static_cast<size_t>(x) * C + c];
          t[c] += a - s;
          q[c] += a * a - s * s;
        }
      }
    }
  }

  // Output row y from the column sums.
  void WriteDeviations(int y, const std::vector<double>& columnValues,
                       const std::vector<double>& columnSquares) {
    m_rows.With(y, [&](uint8_t* dst) {
      for (size_t i = 0; i < columnValues.size(); ++i) {
        const double mean = columnValues[i] / m_n;
        const double meanSquare = columnSquares[i] / m_n;
        const double variance = meanSquare - mean * mean;
        double byte = 0.0;
        if (variance >= 0.0) {
          byte = std::min(std::trunc(std::max(std::sqrt(variance), 0.001) + 0.5), 255.0);
        }
        dst[i] = static_cast<uint8_t>(byte);
      }
      if (m_premultiplied) UnpremultiplyGreyARow(dst, m_width);
    });
  }

  CWindowRows& m_rows;
  int m_n;
  int m_r;
  int m_width;
  int m_height;
  bool m_premultiplied;
  CSlidingRows m_input;
  std::vector<int32_t> m_line;
};

template <int C>
bool DeviationFilter(CWindowRows& rows, int n, bool premultiplied, CProgressScale* progress) {
  if (!IntegerSumsAreExact(n, rows.Height())) {
    return CDoubleSumDeviations<C>(rows, n, premultiplied).Run(progress);
  }
  return DeviationsFromIntegerSums<C>(rows, n, premultiplied, progress);
}

// GreyA is filtered premultiplied, BGRA in its colours only: there is no
// filter of four channels.
constexpr CWindowFilters kDeviationFilters{&DeviationFilter<1>, &DeviationFilter<2>,
                                           &DeviationFilter<3>, nullptr};

}  // namespace

int LocalDeviationWindow(int window) { return OddWindowWithin(window, 101); }

CoreResult LocalDeviation(CProgressScale* progress, CCoreImage& source, CCoreImage& destination,
                          int& window) {
  window = LocalDeviationWindow(window);
  return FilterImageInWindow(progress, source, destination, window,
                             EWindowAlpha::kColoursOnly, kDeviationFilters);
}

bool MapLargestColourDeviation(CCoreImage& source, int window, const uint8_t* map,
                               CCoreImage& destination) {
  const int n = LocalDeviationWindow(window);
  const int width = source.Width();
  const int height = source.Height();
  if (source.ViewFormat() != keFormatBGRA || NoLargerThanHalfTheWindow(width, height, n) ||
      !IntegerSumsAreExact(n, height)) {
    return false;
  }
  if (!destination.HasStorage() || destination.Width() != width ||
      destination.Height() != height || destination.ViewFormat() != keFormatGrey) {
    ThrowIfFailed(destination.CreateGrey(width, height));
  }
  // One table from floor(4D / n^4) straight to the mapped byte.
  const uint8_t* rounded = RoundedRootTable();
  std::vector<uint8_t> mapped(65026);
  for (size_t v = 0; v < mapped.size(); ++v) mapped[v] = map[rounded[v]];

  if (n == 3 && !source.HasRowCache() && !destination.HasRowCache()) {
    MapLargestColourDeviation3(source, mapped.data(), destination);
    return true;
  }
  const size_t pixels = static_cast<size_t>(width);
  const double nn = static_cast<double>(n) * n;
  const double reciprocal4 = 1.0 / (nn * nn);
  CWindowRows input(source);
  CWindowRows output(destination);
  // floor(4D / n^4) and its rounded root only grow with D, so the largest
  // colour byte is the byte of the largest index.
  auto makeWriter = [&] {
    return [&, index = std::vector<int32_t>(4 * pixels)](const CWindowPrefixes<2>& sums,
                                                         uint8_t* dst) mutable {
      RootIndices(sums.of[0], sums.of[1], sums.span, nn, reciprocal4, index.data(), 4 * pixels);
      const int32_t* cell = index.data();
      for (size_t x = 0; x < pixels; ++x, cell += 4) {
        dst[x] = mapped[static_cast<size_t>(std::max(std::max(cell[0], cell[1]), cell[2]))];
      }
    };
  };
  FilterBySlidingSums<4, 2>(input, output, n, false, nullptr, makeWriter);
  return true;
}
