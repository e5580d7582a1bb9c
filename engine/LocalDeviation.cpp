#include "engine/LocalDeviation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/SlidingRows.h"
#include "imagecore/AlphaConversion.h"
#include "imagecore/CoreImage.h"
#include "imagecore/ProgressScale.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

int NormaliseWindow(int window) {
  if (window <= 2) {
    window = 3;
  } else if (window > 101) {
    window = 101;
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

// Bands shorter than this are not worth a thread of their own.
constexpr int kMinBandRows = 64;

// The kernels below work in blocks of 16 cells so the compiler vectorises
// them; the tails run the same statements one cell at a time.
constexpr size_t kBlock = 16;

// Column sums of values and squares: += add's, -= sub's (sub may be null).
// Squares stay below 101^2 * 65025 < 2^31.
void SlideColumns(int32_t* __restrict sums, int32_t* __restrict squares,
                  const uint8_t* __restrict add, const uint8_t* __restrict sub, size_t count) {
  size_t i = 0;
  if (sub == nullptr) {
    for (; i + kBlock <= count; i += kBlock) {
      for (size_t j = 0; j < kBlock; ++j) {
        const int32_t a = add[i + j];
        sums[i + j] += a;
        squares[i + j] += a * a;
      }
    }
    for (; i < count; ++i) {
      const int32_t a = add[i];
      sums[i] += a;
      squares[i] += a * a;
    }
    return;
  }
  for (; i + kBlock <= count; i += kBlock) {
    for (size_t j = 0; j < kBlock; ++j) {
      const int32_t a = add[i + j];
      const int32_t d = sub[i + j];
      sums[i + j] += a - d;
      squares[i + j] += a * a - d * d;
    }
  }
  for (; i < count; ++i) {
    const int32_t a = add[i];
    const int32_t d = sub[i];
    sums[i] += a - d;
    squares[i] += a * a - d * d;
  }
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

// index[i] = floor(4D / n^4), D = n^2 Q - T^2 from the window totals T and
// Q (prefix differences). Every step is exact in double (4D < 2^43), and
// (4D + 1/2) / n^4 lies at least 1 / (2 n^4) from a whole number, far more
// than the rounding of the reciprocal can move it.
void RootIndices(const uint32_t* __restrict sumPrefix, const uint32_t* __restrict squarePrefix,
                 size_t span, double nn, double reciprocal4, int32_t* __restrict index,
                 size_t count) {
  auto one = [&](size_t i) {
    const double t = static_cast<int32_t>(sumPrefix[i + span] - sumPrefix[i]);
    const double q = static_cast<int32_t>(squarePrefix[i + span] - squarePrefix[i]);
    const double x = 4.0 * (nn * q - t * t);
    return static_cast<int32_t>((x + 0.5) * reciprocal4);
  };
  size_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    for (size_t j = 0; j < kBlock; ++j) index[i + j] = one(i + j);
  }
  for (; i < count; ++i) index[i] = one(i);
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

// All C interleaved channels are filtered at once. The image holds the
// unfiltered copy on entry and is overwritten row by row.
template <int C>
class CDeviationFilter {
 public:
  CDeviationFilter(CCoreImage& image, int n, bool premultiplied)
      : m_image(image),
        m_n(n),
        m_r(n / 2),
        m_width(image.Width()),
        m_height(image.Height()),
        m_premultiplied(premultiplied),
        m_rows(image, n, premultiplied) {}

  // The integer sums start afresh in each band and come out the same as sums
  // run down from the top; the double sums drift, so they keep to one run.
  // Progress reports come row by row in order, which also takes one band.
  bool Run(CProgressScale* progress) {
    if (!IntegerSumsAreExact(m_n, m_height)) return RunDoubles(progress);
    const int bands = progress || m_image.HasRowCache()
                          ? 1
                          : BandCount(m_height, kMinBandRows, 2 * m_r + 1);
    if (bands == 1) {
      CBandOutput whole(m_image, 0, m_height, m_r);
      return RunIntegers(0, m_height, whole, progress);
    }
    std::vector<std::unique_ptr<CBandOutput>> outputs(static_cast<size_t>(bands));
    RunBands(m_height, bands, [&](int band, int first, int last) {
      outputs[static_cast<size_t>(band)] = std::make_unique<CBandOutput>(m_image, first, last, m_r);
      RunIntegers(first, last, *outputs[static_cast<size_t>(band)], nullptr);
    });
    for (const std::unique_ptr<CBandOutput>& output : outputs) output->Flush();
    return true;
  }

 private:
  // Window rows entering and leaving on the way from output row y to y + 1.
  const uint8_t* Entering(int y) {
    m_rows.LoadThrough(std::min(y + m_r + 1, m_height - 1));
    return m_rows.Row(Reflect(y + m_r + 1, m_height));
  }
  const uint8_t* Leaving(int y) const { return m_rows.Row(Reflect(y - m_r, m_height)); }

  // Output rows [first, last), written through `band`.
  bool RunIntegers(int first, int last, CBandOutput& band, CProgressScale* progress) {
    const int n = m_n;
    const int r = m_r;
    const int width = m_width;
    const size_t stride = static_cast<size_t>(width) * C;
    const double nn = static_cast<double>(n) * n;
    const double reciprocal4 = 1.0 / (nn * nn);
    const uint8_t* rounded = RoundedRootTable();

    // Column sums of values and squares over the window's rows, with r
    // reflected cells each side.
    const int extended = width + 2 * r;
    const size_t cells = static_cast<size_t>(extended) * C;
    std::vector<int32_t> sums(cells, 0);
    std::vector<int32_t> squares(cells, 0);
    std::vector<uint32_t> sumPrefix(cells + C);
    std::vector<uint32_t> squarePrefix(cells + C);
    std::vector<int32_t> index(stride);
    int32_t* sumIn = sums.data() + static_cast<size_t>(r) * C;
    int32_t* squareIn = squares.data() + static_cast<size_t>(r) * C;

    CSlidingRows rows(m_image, n, m_premultiplied, first == 0 ? 0 : first - r);
    rows.LoadThrough(first + r);
    for (int k = first - r; k <= first + r; ++k) {
      SlideColumns(sumIn, squareIn, rows.Row(Reflect(k, m_height)), nullptr, stride);
    }

    for (int y = first; y < last; ++y) {
      for (int j = 1; j <= r; ++j) {
        for (int c = 0; c < C; ++c) {
          sumIn[-j * C + c] = sumIn[j * C + c];
          sumIn[(width - 1 + j) * C + c] = sumIn[(width - 1 - j) * C + c];
          squareIn[-j * C + c] = squareIn[j * C + c];
          squareIn[(width - 1 + j) * C + c] = squareIn[(width - 1 - j) * C + c];
        }
      }
      PrefixSums<C>(sumPrefix.data(), sums.data(), extended);
      PrefixSums<C>(squarePrefix.data(), squares.data(), extended);
      RootIndices(sumPrefix.data(), squarePrefix.data(), static_cast<size_t>(n) * C, nn,
                  reciprocal4, index.data(), stride);

      band.WriteRow(y, [&](uint8_t* dst) {
        for (size_t i = 0; i < stride; ++i) dst[i] = rounded[index[i]];
        if (m_premultiplied) UnpremultiplyGreyARow(dst, m_width);
      });

      if (progress && progress->Step(y) != 0) return false;
      if (y + 1 < last) {
        rows.LoadThrough(std::min(y + r + 1, m_height - 1));
        SlideColumns(sumIn, squareIn, rows.Row(Reflect(y + r + 1, m_height)),
                     rows.Row(Reflect(y - r, m_height)), stride);
      }
    }
    return true;
  }

  // One source row's window sums of values and squares, each divided by n:
  // the row's contribution to the running column sums. The row sums are
  // whole numbers, so summing them in integers changes nothing.
  void Contributions(const uint8_t* row, std::vector<double>& values,
                     std::vector<double>& squares) {
    const int n = m_n;
    const int r = m_r;
    const int width = m_width;
    for (int p = 0; p < width + 2 * r; ++p) {
      const int x = Reflect(p - r, width);
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

  // Output row y from the column sums of the double run.
  void WriteDeviations(int y, const std::vector<double>& columnValues,
                       const std::vector<double>& columnSquares) {
    const CRowLease row(m_image, y);
    uint8_t* dst = row.Data();
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
  }

  // The running double sums exactly as defined.
  bool RunDoubles(CProgressScale* progress) {
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

    m_rows.LoadThrough(r);
    for (int k = -r; k <= r; ++k) add(m_rows.Row(Reflect(k, m_height)));

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

  CCoreImage& m_image;
  int m_n;
  int m_r;
  int m_width;
  int m_height;
  bool m_premultiplied;
  CSlidingRows m_rows;
  std::vector<int32_t> m_line;
};

}  // namespace

CoreResult LocalDeviation(CProgressScale* progress, CCoreImage& source, CCoreImage& destination,
                          int& window) {
  window = NormaliseWindow(window);
  CoreResult copied = destination.CopyFrom(source);
  if (!copied.IsNull()) return copied;
  if (window / 2 >= destination.Height() || window / 2 >= destination.Width()) {
    return CoreResult();
  }

  bool finished = true;
  switch (destination.ViewFormat()) {
    case keFormatGrey:
      finished = CDeviationFilter<1>(destination, window, false).Run(progress);
      break;
    case keFormatGreyA:
      // The premultiplied grey and its alpha, then unpremultiplied.
      finished = CDeviationFilter<2>(destination, window, true).Run(progress);
      break;
    case keFormatBGR:
      finished = CDeviationFilter<3>(destination, window, false).Run(progress);
      break;
    case keFormatBGRA: {
      // Colours only: the colour view writes them back under the alpha
      // copied from the source.
      CoreResult viewed = destination.SetChannelView(keChannelColour, keAccessReadWrite);
      if (!viewed.IsNull()) return viewed;
      finished = CDeviationFilter<3>(destination, window, false).Run(progress);
      CoreResult reset = destination.SetChannelView(keChannelNone, keAccessReadWrite);
      if (!reset.IsNull()) return reset;
      break;
    }
    default:
      return MakeResult(keErrInvalidArgument);
  }
  if (!finished) return MakeResult(keErrAborted);
  return CoreResult();
}
