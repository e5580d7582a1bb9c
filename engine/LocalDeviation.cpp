#include "engine/LocalDeviation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/Plane.h"
#include "imagecore/AlphaConversion.h"
#include "imagecore/CoreImage.h"
#include "imagecore/ProgressScale.h"

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

// floor(x / n^4) for 0 <= x <= 65025 n^4: a multiply and shift while the
// rounding error of the reciprocal stays below one (n <= 15), else a division.
class CQuotient {
 public:
  explicit CQuotient(int n) {
    m_divisor = static_cast<uint64_t>(n) * n * n * n;
    m_magic = n <= 15 ? ((uint64_t{1} << 48) + m_divisor - 1) / m_divisor : 0;
  }
  uint32_t operator()(uint64_t x) const {
    return static_cast<uint32_t>(m_magic != 0 ? (x * m_magic) >> 48 : x / m_divisor);
  }

 private:
  uint64_t m_divisor = 1;
  uint64_t m_magic = 0;
};

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

// All C interleaved channels of `in` at once, on exact integer sums.
template <int C>
bool DeviationIntegers(const CPlane& in, CPlane& out, int n, CProgressScale* progress) {
  const int width = in.Width();
  const int height = in.Height();
  const int r = n / 2;
  const size_t stride = in.Stride();
  const int64_t nn = static_cast<int64_t>(n) * n;
  const CQuotient quotient(n);
  const uint8_t* rounded = RoundedRootTable();

  // Column sums of values and squares over the window's rows, with r
  // reflected cells each side. Squares stay below 101^2 * 65025 < 2^31.
  const size_t cells = static_cast<size_t>(width + 2 * r) * C;
  std::vector<int32_t> sums(cells, 0);
  std::vector<int32_t> squares(cells, 0);
  int32_t* sumIn = sums.data() + static_cast<size_t>(r) * C;
  int32_t* squareIn = squares.data() + static_cast<size_t>(r) * C;
  for (int k = -r; k <= r; ++k) {
    const uint8_t* row = in.Row(Reflect(k, height));
    for (size_t i = 0; i < stride; ++i) {
      sumIn[i] += row[i];
      squareIn[i] += row[i] * row[i];
    }
  }

  for (int y = 0; y < height; ++y) {
    for (int j = 1; j <= r; ++j) {
      for (int c = 0; c < C; ++c) {
        sumIn[-j * C + c] = sumIn[j * C + c];
        sumIn[(width - 1 + j) * C + c] = sumIn[(width - 1 - j) * C + c];
        squareIn[-j * C + c] = squareIn[j * C + c];
        squareIn[(width - 1 + j) * C + c] = squareIn[(width - 1 - j) * C + c];
      }
    }

    int32_t t[C] = {};
    int32_t q[C] = {};
    for (int p = 0; p < n; ++p) {
      for (int c = 0; c < C; ++c) {
        t[c] += sums[static_cast<size_t>(p) * C + c];
        q[c] += squares[static_cast<size_t>(p) * C + c];
      }
    }
    uint8_t* dst = out.Row(y);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < C; ++c) {
        const int64_t d = nn * q[c] - static_cast<int64_t>(t[c]) * t[c];
        dst[c] = rounded[quotient(static_cast<uint64_t>(4 * d))];
      }
      if (x + 1 < width) {
        const size_t enter = static_cast<size_t>(x + n) * C;
        const size_t leave = static_cast<size_t>(x) * C;
        for (int c = 0; c < C; ++c) {
          t[c] += sums[enter + c] - sums[leave + c];
          q[c] += squares[enter + c] - squares[leave + c];
        }
      }
      dst += C;
    }

    if (progress && progress->Step(y) != 0) return false;

    if (y + 1 < height) {
      const uint8_t* add = in.Row(Reflect(y + r + 1, height));
      const uint8_t* sub = in.Row(Reflect(y - r, height));
      for (size_t i = 0; i < stride; ++i) {
        const int32_t a = add[i];
        const int32_t s = sub[i];
        sumIn[i] += a - s;
        squareIn[i] += a * a - s * s;
      }
    }
  }
  return true;
}

// One source row's window sums of values and squares, each divided by n:
// the row's contribution to the running column sums.
template <int C>
void RowContributions(const uint8_t* row, int width, int n, std::vector<int32_t>& line,
                      std::vector<double>& values, std::vector<double>& squares) {
  const int r = n / 2;
  for (int p = 0; p < width + 2 * r; ++p) {
    const int x = Reflect(p - r, width);
    for (int c = 0; c < C; ++c) line[static_cast<size_t>(p) * C + c] = row[x * C + c];
  }
  int32_t t[C] = {};
  int32_t q[C] = {};
  for (int p = 0; p < n; ++p) {
    for (int c = 0; c < C; ++c) {
      const int32_t v = line[static_cast<size_t>(p) * C + c];
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
        const int32_t a = line[static_cast<size_t>(x + n) * C + c];
        const int32_t s = line[static_cast<size_t>(x) * C + c];
        t[c] += a - s;
        q[c] += a * a - s * s;
      }
    }
  }
}

// The running double sums exactly as defined (row sums are whole numbers, so
// summing them in integers first changes nothing).
template <int C>
bool DeviationDoubles(const CPlane& in, CPlane& out, int n, CProgressScale* progress) {
  const int width = in.Width();
  const int height = in.Height();
  const int r = n / 2;
  const size_t stride = in.Stride();
  std::vector<int32_t> line(static_cast<size_t>(width + 2 * r) * C);
  std::vector<double> values(stride);
  std::vector<double> squares(stride);
  std::vector<double> columnValues(stride, 0.0);
  std::vector<double> columnSquares(stride, 0.0);

  for (int k = -r; k <= r; ++k) {
    RowContributions<C>(in.Row(Reflect(k, height)), width, n, line, values, squares);
    for (size_t i = 0; i < stride; ++i) {
      columnValues[i] += values[i];
      columnSquares[i] += squares[i];
    }
  }

  for (int y = 0; y < height; ++y) {
    uint8_t* dst = out.Row(y);
    for (size_t i = 0; i < stride; ++i) {
      const double mean = columnValues[i] / n;
      const double meanSquare = columnSquares[i] / n;
      const double variance = meanSquare - mean * mean;
      if (variance < 0.0) {
        dst[i] = 0;
      } else {
        const double rounded = std::trunc(std::max(std::sqrt(variance), 0.001) + 0.5);
        dst[i] = static_cast<uint8_t>(std::min(rounded, 255.0));
      }
    }

    if (progress && progress->Step(y) != 0) return false;

    if (y + 1 < height) {
      RowContributions<C>(in.Row(Reflect(y - r, height)), width, n, line, values, squares);
      for (size_t i = 0; i < stride; ++i) {
        columnValues[i] -= values[i];
        columnSquares[i] -= squares[i];
      }
      RowContributions<C>(in.Row(Reflect(y + r + 1, height)), width, n, line, values, squares);
      for (size_t i = 0; i < stride; ++i) {
        columnValues[i] += values[i];
        columnSquares[i] += squares[i];
      }
    }
  }
  return true;
}

template <int C>
bool Deviation(const CPlane& in, CPlane& out, int n, CProgressScale* progress) {
  if (IntegerSumsAreExact(n, in.Height())) return DeviationIntegers<C>(in, out, n, progress);
  return DeviationDoubles<C>(in, out, n, progress);
}

bool DeviationPlane(const CPlane& in, CPlane& out, int n, CProgressScale* progress) {
  switch (in.BytesPerPixel()) {
    case 1:
      return Deviation<1>(in, out, n, progress);
    case 2:
      return Deviation<2>(in, out, n, progress);
    default:
      return Deviation<3>(in, out, n, progress);
  }
}

void PremultiplyPlane(CPlane& plane) {
  for (int y = 0; y < plane.Height(); ++y) PremultiplyGreyARow(plane.Row(y), plane.Width());
}

void UnpremultiplyPlane(CPlane& plane) {
  for (int y = 0; y < plane.Height(); ++y) UnpremultiplyGreyARow(plane.Row(y), plane.Width());
}

}  // namespace

CoreResult LocalDeviation(CProgressScale* progress, CCoreImage& source, CCoreImage& destination,
                          int& window) {
  window = NormaliseWindow(window);
  CoreResult copied = destination.CopyFrom(source);
  if (!copied.IsNull()) return copied;
  if (window / 2 >= destination.Height() || window / 2 >= destination.Width()) {
    return CoreResult();
  }

  const keFormat format = destination.ViewFormat();
  if (format != keFormatGrey && format != keFormatGreyA && format != keFormatBGR &&
      format != keFormatBGRA) {
    return MakeResult(keErrInvalidArgument);
  }

  // BGRA: the colour view hands out blue, green, red and writes them back
  // under the copied alpha.
  const bool colourView = format == keFormatBGRA;
  if (colourView) {
    CoreResult viewed = destination.SetChannelView(keChannelColour, keAccessReadWrite);
    if (!viewed.IsNull()) return viewed;
  }
  CPlane in = ReadPlane(destination);
  if (format == keFormatGreyA) PremultiplyPlane(in);
  CPlane out(in.Width(), in.Height(), in.BytesPerPixel());
  const bool finished = DeviationPlane(in, out, window, progress);
  if (finished) {
    if (format == keFormatGreyA) UnpremultiplyPlane(out);
    WritePlane(out, destination);
  }
  if (colourView) {
    CoreResult reset = destination.SetChannelView(keChannelNone, keAccessReadWrite);
    if (!reset.IsNull()) return reset;
  }
  if (!finished) return MakeResult(keErrAborted);
  return CoreResult();
}
