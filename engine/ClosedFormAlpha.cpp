#include "engine/ClosedFormAlpha.h"

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/SparseCore>
#include <algorithm>
#include <bit>
#include <cstdint>

#include "imagecore/CoreResult.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

using CSparse = Eigen::SparseMatrix<double, Eigen::RowMajor, int>;
using CSparseMap = Eigen::Map<const CSparse>;

// Added to each window's colour covariance (colours in 0..1): alpha may
// follow colour changes well above the picture's noise, and flat windows
// do not make the system singular.
constexpr double kEpsilon = 1e-5;
// A faint pull of every band pixel towards the matte: where the colours say
// nothing (flat areas, parts of the band no known pixel reaches) the matte
// decides, and the system stays positive definite. Much more, and a wide
// soft edge that the colours explain is drawn back towards the hard matte.
constexpr double kMatteWeight = 1e-5;
// The pull on parts of the band that no known pixel holds (see
// PullLoosePartsHarder).
constexpr double kLooseMatteWeight = 1e-3;
// The solve stops once the residual is this far below the right-hand side;
// started from the matte, alpha then moves by less than a level.
constexpr double kTolerance = 1e-4;
constexpr int kMostIterations = 600;

constexpr int kWindow = 9;
constexpr double kLevel = 1.0 / 255.0;
constexpr int kDiagonalSlot = 12;

// A band pixel shares windows only with pixels at most two away in either
// direction: 25 slots, row by row.
int Slot(int dx, int dy) { return (dy + 2) * 5 + (dx + 2); }

// Whether positions a and b of one axis share a window whose centre lies in
// [1, n - 2], the centres of whole windows.
bool ShareWindow(int a, int b, int n) {
  return std::max({a, b, 2}) - 1 <= std::min({a, b, n - 3}) + 1;
}

// A window's mean colour and the inverse of its covariance plus
// epsilon / 9, symmetric: xx, xy, xz, yy, yz, zz.
struct CWindowFit {
  double mean[3];
  double inverse[6];
};

void Colour(const CRowLease& rows, int x, int y, double colour[3]) {
  const uint8_t* p = rows.Row(y) + 4 * x;
  for (int c = 0; c < 3; ++c) colour[c] = p[c] * kLevel;
}

CWindowFit FitWindow(const CRowLease& rows, int cx, int cy) {
  double colour[kWindow][3];
  CWindowFit fit{{0, 0, 0}, {}};
  for (int k = 0; k < kWindow; ++k) {
    Colour(rows, cx + k % 3 - 1, cy + k / 3 - 1, colour[k]);
    for (int c = 0; c < 3; ++c) fit.mean[c] += colour[k][c];
  }
  for (double& m : fit.mean) m /= kWindow;
  // From the differences to the mean, not from the mean of squares, so that
  // nothing cancels.
  double a = 0, b = 0, c = 0, d = 0, e = 0, f = 0;
  for (int k = 0; k < kWindow; ++k) {
    const double u = colour[k][0] - fit.mean[0];
    const double v = colour[k][1] - fit.mean[1];
    const double w = colour[k][2] - fit.mean[2];
    a += u * u, b += u * v, c += u * w, d += v * v, e += v * w, f += w * w;
  }
  const double diagonal = kEpsilon / kWindow;
  a = a / kWindow + diagonal, b /= kWindow, c /= kWindow;
  d = d / kWindow + diagonal, e /= kWindow, f = f / kWindow + diagonal;
  // By cofactors; the matrix is symmetric positive definite.
  const double ca = d * f - e * e, cb = c * e - b * f, cc = b * e - c * d;
  const double det = a * ca + b * cb + c * cc;
  fit.inverse[0] = ca / det;
  fit.inverse[1] = cb / det;
  fit.inverse[2] = cc / det;
  fit.inverse[3] = (a * f - c * c) / det;
  fit.inverse[4] = (b * c - a * e) / det;
  fit.inverse[5] = (a * d - b * b) / det;
  return fit;
}

// task(first, last) over bands of the picture's rows.
template <class Task>
void InRowBands(int height, bool oneBand, Task&& task) {
  RunBands(height, oneBand ? 1 : BandCount(height, kMinRowsPerBand),
           [&task](int, int first, int last) { task(first, last); });
}

// The system L_UU a_U = -L_UK a_K of the matting Laplacian L over the band
// U, with the matte's pull added. The upper triangle of L_UU is held row by
// row (compressed, in band arrays that the solver reads in place) with the
// slots present in each row (bit s for slot s). Columns are band numbers,
// which grow with the slots, so a slot's place in its row is the count of
// present slots before it, and the diagonal comes first.
class CMattingSystem {
 public:
  CMattingSystem(const CRowLease& rows, const CEdgeBand& band, bool oneBand)
      : m_rows(rows), m_band(band), m_oneBand(oneBand) {}

  void Build(CBandArray<double>& start) {
    const size_t n = static_cast<size_t>(m_band.Count());
    m_rhs.resize(n);
    start.resize(n);
    m_anchored.resize(n);
    FindSlots();
    FitWindows();
    Assemble(start);
    m_fits = CBandArray<CWindowFit>();
    PullLoosePartsHarder();
  }
  CSparseMap Matrix() const {
    const int n = m_band.Count();
    return CSparseMap(n, n, m_outer[static_cast<size_t>(n)], m_outer.data(), m_columns.data(),
                      m_values.data());
  }
  Eigen::Map<const Eigen::VectorXd> Rhs() const {
    return Eigen::Map<const Eigen::VectorXd>(m_rhs.data(), m_band.Count());
  }

 private:
  // Which of each row's slots are present, and the rows' places. The matrix
  // is symmetric and only its upper triangle is kept: the pixel itself, the
  // band pixels after it in its row and those in the two rows below.
  void FindSlots() {
    const int width = m_band.Width();
    const int height = m_band.Height();
    m_slots.resize(static_cast<size_t>(m_band.Count()));
    InRowBands(height, m_oneBand, [&](int first, int last) {
      CBandRowIndex index(m_band, 2);
      for (int y = first; y < last; ++y) {
        if (m_band.Row(y).empty()) continue;
        index.Centre(y);
        for (const CBandSpan& span : m_band.Row(y)) {
          for (int x = span.left; x < span.right; ++x) {
            // The diagonal is always present: it carries the matte's pull
            // also where the picture is too small for a whole window.
            uint32_t slots = 1u << kDiagonalSlot;
            for (int dy = 0; dy <= 2; ++dy) {
              const int ny = y + dy;
              if (ny >= height || !ShareWindow(y, ny, height)) continue;
              for (int dx = dy == 0 ? 1 : -2; dx <= 2; ++dx) {
                const int nx = x + dx;
                if (nx < 0 || nx >= width || !ShareWindow(x, nx, width)) continue;
                if (index.At(nx, ny) >= 0) slots |= 1u << Slot(dx, dy);
              }
            }
            m_slots[static_cast<size_t>(span.first + (x - span.left))] = slots;
          }
        }
      }
    });
    // The matrix's places are ints: a band too large for them is refused
    // rather than wrapped.
    int64_t places = 0;
    for (const uint32_t slots : m_slots) places += std::popcount(slots);
    if (places > INT32_MAX) ThrowIfFailed(keErrOutOfMemory);
    m_outer.resize(m_slots.size() + 1);
    m_outer[0] = 0;
    for (size_t i = 0; i < m_slots.size(); ++i)
      m_outer[i + 1] = m_outer[i] + std::popcount(m_slots[i]);
    m_columns.resize(static_cast<size_t>(places));
    m_values.resize(static_cast<size_t>(places));
  }

  // The fit of every whole window that holds a band pixel.
  void FitWindows() {
    const int width = m_band.Width();
    const int height = m_band.Height();
    m_centres = m_band.Grown(1, 1, width - 1, height - 1);
    m_fits.resize(static_cast<size_t>(m_centres.Count()));
    InRowBands(height, m_oneBand, [&](int first, int last) {
      for (int cy = first; cy < last; ++cy) {
        for (const CBandSpan& span : m_centres.Row(cy)) {
          for (int cx = span.left; cx < span.right; ++cx) {
            m_fits[static_cast<size_t>(span.first + (cx - span.left))] = FitWindow(m_rows, cx, cy);
          }
        }
      }
    });
  }

  // Each row of the system gathered from the windows holding its pixel, in
  // a fixed order, so the sums do not depend on how rows are split between
  // threads. For pixels i, j of a window: L_ij = [i == j] -
  // (1 + (I_i - mean)' inverse (I_j - mean)) / 9. Terms with a known j
  // move to the right-hand side with j's alpha from the matte.
  void Assemble(CBandArray<double>& start) {
    InRowBands(m_band.Height(), m_oneBand, [&](int first, int last) {
      CBandRowIndex index(m_band, 2);
      CBandRowIndex centres(m_centres, 1);
      for (int y = first; y < last; ++y) {
        if (m_band.Row(y).empty()) continue;
        index.Centre(y);
        centres.Centre(y);
        for (const CBandSpan& span : m_band.Row(y)) {
          for (int x = span.left; x < span.right; ++x) {
            AssembleRow(index, centres, x, y, span.first + (x - span.left), start);
          }
        }
      }
    });
  }

  void AssembleRow(const CBandRowIndex& index, const CBandRowIndex& centres, int x, int y, int i,
                   CBandArray<double>& start) {
    const int width = m_band.Width();
    const int height = m_band.Height();
    // The 5 x 5 pixels around (x, y), in slot order: every pixel of every
    // window holding (x, y).
    double colour[25][3];
    double known[25];
    bool inBand[25] = {};
    for (int dy = -2; dy <= 2; ++dy) {
      const int ny = y + dy;
      if (ny < 0 || ny >= height) continue;
      const uint8_t* row = m_rows.Row(ny);
      for (int dx = -2; dx <= 2; ++dx) {
        const int nx = x + dx;
        if (nx < 0 || nx >= width) continue;
        const int s = Slot(dx, dy);
        const uint8_t* p = row + 4 * nx;
        for (int c = 0; c < 3; ++c) colour[s][c] = p[c] * kLevel;
        known[s] = p[3] * kLevel;
        inBand[s] = index.At(nx, ny) >= 0;
      }
    }

    double sums[25] = {};
    double rhs = 0.0;
    bool anchored = false;
    const double* own = colour[kDiagonalSlot];
    for (int cy = std::max(y - 1, 1); cy <= std::min(y + 1, height - 2); ++cy) {
      for (int cx = std::max(x - 1, 1); cx <= std::min(x + 1, width - 2); ++cx) {
        const CWindowFit& fit = m_fits[static_cast<size_t>(centres.At(cx, cy))];
        const double* m = fit.inverse;
        const double u = own[0] - fit.mean[0];
        const double v = own[1] - fit.mean[1];
        const double w = own[2] - fit.mean[2];
        const double e0 = m[0] * u + m[1] * v + m[2] * w;
        const double e1 = m[1] * u + m[3] * v + m[4] * w;
        const double e2 = m[2] * u + m[4] * v + m[5] * w;
        for (int jy = cy - 1; jy <= cy + 1; ++jy) {
          for (int jx = cx - 1; jx <= cx + 1; ++jx) {
            const int s = Slot(jx - x, jy - y);
            const double* p = colour[s];
            const double product =
                e0 * (p[0] - fit.mean[0]) + e1 * (p[1] - fit.mean[1]) + e2 * (p[2] - fit.mean[2]);
            const double share = (s == kDiagonalSlot ? 1.0 : 0.0) - (1.0 + product) / kWindow;
            if (inBand[s]) {
              sums[s] += share;
            } else {
              rhs -= share * known[s];
              anchored = true;
            }
          }
        }
      }
    }

    sums[kDiagonalSlot] += kMatteWeight;
    const size_t row = static_cast<size_t>(i);
    m_rhs[row] = rhs + kMatteWeight * known[kDiagonalSlot];
    m_anchored[row] = anchored;
    const uint32_t slots = m_slots[row];
    for (size_t s = 0, place = static_cast<size_t>(m_outer[row]); s < 25; ++s) {
      if (!(slots & (1u << s))) continue;
      m_columns[place] = index.At(x + static_cast<int>(s % 5) - 2, y + static_cast<int>(s / 5) - 2);
      m_values[place++] = sums[s];
    }

    // The start: the matte under a 3 x 3 mean, an edge already a little soft.
    double sum = 0.0;
    int count = 0;
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        if (x + dx < 0 || x + dx >= width || y + dy < 0 || y + dy >= height) continue;
        sum += known[Slot(dx, dy)];
        ++count;
      }
    }
    start[row] = sum / count;
  }

  // A part of the band that shares no window with a known pixel (the band
  // covers the picture, or all of it around that part) is held only by the
  // pull towards the matte, and so faint a pull lets its alpha shrink
  // towards a flat grey, which the colours barely contradict. Such parts
  // are pulled a hundred times harder. The parts are those of the system's
  // graph, joined along the kept triangle's entries; their right-hand side
  // is nothing but the pull, so it scales with the pull.
  void PullLoosePartsHarder() {
    const size_t n = static_cast<size_t>(m_band.Count());
    CBandArray<int> parent(n);
    for (size_t i = 0; i < n; ++i) parent[i] = static_cast<int>(i);
    auto root = [&parent](int i) {
      while (parent[static_cast<size_t>(i)] != i) {
        const int up = parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
        parent[static_cast<size_t>(i)] = up;
        i = up;
      }
      return i;
    };
    for (size_t i = 0; i < n; ++i) {
      for (int k = m_outer[i]; k < m_outer[i + 1]; ++k) {
        const int a = root(static_cast<int>(i));
        const int b = root(m_columns[static_cast<size_t>(k)]);
        if (a != b) parent[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
      }
    }
    CBandArray<uint8_t> anchored(n, 0);
    for (size_t i = 0; i < n; ++i)
      anchored[static_cast<size_t>(root(static_cast<int>(i)))] |= m_anchored[i];
    for (size_t i = 0; i < n; ++i) {
      if (anchored[static_cast<size_t>(root(static_cast<int>(i)))]) continue;
      // The diagonal is the first of the row's places.
      m_values[static_cast<size_t>(m_outer[i])] += kLooseMatteWeight - kMatteWeight;
      m_rhs[i] *= kLooseMatteWeight / kMatteWeight;
    }
  }

  const CRowLease& m_rows;
  const CEdgeBand& m_band;
  bool m_oneBand;
  CBandArray<int> m_outer;  // per row, and one past the last: its first place
  CBandArray<int> m_columns;
  CBandArray<double> m_values;
  CBandArray<double> m_rhs;
  CBandArray<uint32_t> m_slots;
  CBandArray<uint8_t> m_anchored;  // per row: whether a known pixel shares a window
  CEdgeBand m_centres;             // of the whole windows holding band pixels
  CBandArray<CWindowFit> m_fits;
};

// Jacobi preconditioning that also asks whether to go on. The solver applies
// it once per iteration, so a long solve can stop between any two; solving
// in stretches instead would restart it each time and lose the directions
// it has built up, which on wide bands costs more iterations than it runs.
class CStoppablePreconditioner : public Eigen::DiagonalPreconditioner<double> {
 public:
  struct CStopped {};

  void SetStopCheck(const CBandStopCheck* stop) { m_stop = stop; }

  template <typename Rhs, typename Dest>
  void _solve_impl(const Rhs& b, Dest& x) const {
    if ((*m_stop)(0.2 + 0.8 * m_applied++ / kMostIterations)) throw CStopped{};
    DiagonalPreconditioner::_solve_impl(b, x);
  }
  template <typename Rhs>
  const Eigen::Solve<CStoppablePreconditioner, Rhs> solve(const Eigen::MatrixBase<Rhs>& b) const {
    return Eigen::Solve<CStoppablePreconditioner, Rhs>(*this, b.derived());
  }

 private:
  const CBandStopCheck* m_stop = nullptr;
  mutable int m_applied = 0;
};

}  // namespace

bool SolveBandAlpha(const CRowLease& rows, const CEdgeBand& band, bool oneBand,
                    CBandArray<float>& alpha, const CBandStopCheck& stop) {
  CBandArray<double> solved;
  {
    CMattingSystem system(rows, band, oneBand);
    system.Build(solved);
    if (stop(0.2)) return false;
    const CSparseMap matrix = system.Matrix();
    Eigen::ConjugateGradient<CSparse, Eigen::Upper, CStoppablePreconditioner> solver;
    solver.setTolerance(kTolerance);
    solver.setMaxIterations(kMostIterations);
    solver.compute(matrix);
    solver.preconditioner().SetStopCheck(&stop);
    // Solved in place of the start.
    Eigen::Map<Eigen::VectorXd> x(solved.data(), band.Count());
    try {
      x = solver.solveWithGuess(system.Rhs(), x);
    } catch (const CStoppablePreconditioner::CStopped&) {
      return false;
    }
  }
  alpha.resize(solved.size());
  for (size_t i = 0; i < solved.size(); ++i) {
    alpha[i] = static_cast<float>(std::clamp(solved[i], 0.0, 1.0));
  }
  return true;
}
