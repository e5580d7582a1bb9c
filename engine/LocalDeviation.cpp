#include "engine/LocalDeviation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/SlidingRows.h"
#include "engine/SquareWindowFilter.h"
#include "imagecore/AlphaConversion.h"
#include "imagecore/CoreImage.h"

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
