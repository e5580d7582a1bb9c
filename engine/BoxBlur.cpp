#include "engine/BoxBlur.h"

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
// height. So the byte is floor((2T + n^2) / (2 n^2)), taken from a table.
//
// All C interleaved channels of `in` are filtered at once, so each row of the
// vertical sums is one contiguous array.
template <int C>
bool MeanFilter(const CPlane& in, CPlane& out, int n, CProgressScale* progress) {
  const int width = in.Width();
  const int height = in.Height();
  const int r = n / 2;
  const size_t stride = in.Stride();

  const int nn = n * n;
  std::vector<uint8_t> rounded(static_cast<size_t>(255) * nn + 1);
  for (size_t t = 0; t < rounded.size(); ++t) {
    rounded[t] = static_cast<uint8_t>((2 * t + nn) / (2 * nn));
  }

  // Column sums over the window's rows, with r reflected cells each side.
  std::vector<int32_t> columns(static_cast<size_t>(width + 2 * r) * C, 0);
  int32_t* interior = columns.data() + static_cast<size_t>(r) * C;
  for (int k = -r; k <= r; ++k) {
    const uint8_t* row = in.Row(Reflect(k, height));
    for (size_t i = 0; i < stride; ++i) interior[i] += row[i];
  }

  for (int y = 0; y < height; ++y) {
    for (int j = 1; j <= r; ++j) {
      for (int c = 0; c < C; ++c) {
        interior[-j * C + c] = interior[j * C + c];
        interior[(width - 1 + j) * C + c] = interior[(width - 1 - j) * C + c];
      }
    }

    int32_t sum[C] = {};
    for (int p = 0; p < n; ++p) {
      for (int c = 0; c < C; ++c) sum[c] += columns[static_cast<size_t>(p) * C + c];
    }
    uint8_t* dst = out.Row(y);
    const int32_t* leaving = columns.data();
    const int32_t* entering = columns.data() + static_cast<size_t>(n) * C;
    for (int x = 0; x < width - 1; ++x) {
      for (int c = 0; c < C; ++c) {
        dst[c] = rounded[sum[c]];
        sum[c] += entering[c] - leaving[c];
      }
      dst += C;
      leaving += C;
      entering += C;
    }
    for (int c = 0; c < C; ++c) dst[c] = rounded[sum[c]];

    if (progress && progress->Step(y) != 0) return false;

    if (y + 1 < height) {
      const uint8_t* add = in.Row(Reflect(y + r + 1, height));
      const uint8_t* sub = in.Row(Reflect(y - r, height));
      for (size_t i = 0; i < stride; ++i) {
        interior[i] += static_cast<int32_t>(add[i]) - static_cast<int32_t>(sub[i]);
      }
    }
  }
  return true;
}

bool MeanFilterPlane(const CPlane& in, CPlane& out, int n, CProgressScale* progress) {
  switch (in.BytesPerPixel()) {
    case 1:
      return MeanFilter<1>(in, out, n, progress);
    case 2:
      return MeanFilter<2>(in, out, n, progress);
    case 3:
      return MeanFilter<3>(in, out, n, progress);
    default:
      return MeanFilter<4>(in, out, n, progress);
  }
}

// Alpha and the premultiplied colour are filtered alike and the result is
// unpremultiplied, with the core's own per-pixel rules.
void PremultiplyPlane(CPlane& plane) {
  for (int y = 0; y < plane.Height(); ++y) {
    if (plane.BytesPerPixel() == 4) {
      PremultiplyBGRARow(plane.Row(y), plane.Row(y), plane.Width());
    } else {
      PremultiplyGreyARow(plane.Row(y), plane.Width());
    }
  }
}

void UnpremultiplyPlane(CPlane& plane) {
  for (int y = 0; y < plane.Height(); ++y) {
    if (plane.BytesPerPixel() == 4) {
      UnpremultiplyBGRARow(plane.Row(y), plane.Row(y), plane.Width());
    } else {
      UnpremultiplyGreyARow(plane.Row(y), plane.Width());
    }
  }
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

  const keFormat format = destination.ViewFormat();
  const bool premultiplied = format == keFormatGreyA || format == keFormatBGRA;
  if (!premultiplied && format != keFormatGrey && format != keFormatBGR) {
    return MakeResult(keErrInvalidArgument);
  }

  CPlane in = ReadPlane(destination);
  if (premultiplied) PremultiplyPlane(in);
  CPlane out(in.Width(), in.Height(), in.BytesPerPixel());
  if (!MeanFilterPlane(in, out, window, progress)) return MakeResult(keErrAborted);
  if (premultiplied) UnpremultiplyPlane(out);
  WritePlane(out, destination);
  return CoreResult();
}
