#include "engine/ForegroundColour.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

// How strongly a pixel's colours follow a neighbour's: a little everywhere,
// and more where alpha changes, since a change of alpha says the colours
// on either side belong together.
constexpr float kSmoothness = 1e-5f;
constexpr float kAlphaChange = 1.0f;
// Keeps a colour that nothing determines (F where alpha is 0 and no
// neighbour knows the object) where it is.
constexpr float kInertia = 1e-7f;
constexpr int kSweeps = 10;

enum : int { keLeft, keRight, keUp, keDown };

// Per band pixel: the band numbers of its four neighbours (-1 outside the
// band or the picture), its alpha (0..1), and F and B per channel (0..1).
struct CColourState {
  CBandArray<int32_t> neighbours;
  CBandArray<float> alpha;
  CBandArray<float> object;
  CBandArray<float> background;
};

void FindNeighbours(const CEdgeBand& band, CColourState& state) {
  state.neighbours.assign(4 * static_cast<size_t>(band.Count()), -1);
  CBandRowIndex index(band, 1);
  for (int y = 0; y < band.Height(); ++y) {
    if (band.Row(y).empty()) continue;
    index.Centre(y);
    for (const CBandSpan& span : band.Row(y)) {
      for (int x = span.left; x < span.right; ++x) {
        const int i = span.first + (x - span.left);
        int32_t* n = &state.neighbours[4 * static_cast<size_t>(i)];
        if (x > span.left) n[keLeft] = i - 1;
        if (x + 1 < span.right) n[keRight] = i + 1;
        if (y > 0) n[keUp] = index.At(x, y - 1);
        if (y + 1 < band.Height()) n[keDown] = index.At(x, y + 1);
      }
    }
  }
}

// Calls visit(pixel) for each 4-neighbour of (x, y) in the picture outside
// the band.
template <class Visit>
void ForKnownNeighbours(const CRowLease& rows, const CEdgeBand& band, const int32_t* n, int x,
                        int y, Visit&& visit) {
  const uint8_t* row = rows.Row(y);
  if (x > 0 && n[keLeft] < 0) visit(row + 4 * (x - 1));
  if (x + 1 < band.Width() && n[keRight] < 0) visit(row + 4 * (x + 1));
  if (y > 0 && n[keUp] < 0) visit(rows.Row(y - 1) + 4 * x);
  if (y + 1 < band.Height() && n[keDown] < 0) visit(rows.Row(y + 1) + 4 * x);
}

// The start: each band pixel takes F from the nearest pixel whose object
// colour is known (alpha 255, or next to the object outside the band), and
// B likewise from the background side, nearest by steps within the band.
// Pixels no such pixel reaches start from their own colour.
void StartFromNearest(const CRowLease& rows, const CEdgeBand& band, bool objectSide,
                      CBandArray<float>& colours, const CColourState& state) {
  const size_t n = static_cast<size_t>(band.Count());
  CBandArray<uint8_t> reached(n, 0);
  CBandArray<int32_t> queue;
  const float fullAlpha = objectSide ? 1.0f : 0.0f;
  for (int y = 0; y < band.Height(); ++y) {
    for (const CBandSpan& span : band.Row(y)) {
      for (int x = span.left; x < span.right; ++x) {
        const size_t i = static_cast<size_t>(span.first + (x - span.left));
        const uint8_t* own = rows.Row(y) + 4 * x;
        const uint8_t* seed = state.alpha[i] == fullAlpha ? own : nullptr;
        ForKnownNeighbours(rows, band, &state.neighbours[4 * i], x, y, [&](const uint8_t* p) {
          if (!seed && OnObjectSide(p[3]) == objectSide) seed = p;
        });
        const uint8_t* from = seed ? seed : own;
        for (int c = 0; c < 3; ++c) colours[3 * i + static_cast<size_t>(c)] = from[c] / 255.0f;
        if (seed) {
          reached[i] = 1;
          queue.push_back(static_cast<int32_t>(i));
        }
      }
    }
  }
  for (size_t head = 0; head < queue.size(); ++head) {
    const size_t i = static_cast<size_t>(queue[head]);
    for (int k = 0; k < 4; ++k) {
      const int32_t j = state.neighbours[4 * i + static_cast<size_t>(k)];
      if (j < 0 || reached[static_cast<size_t>(j)]) continue;
      reached[static_cast<size_t>(j)] = 1;
      for (size_t c = 0; c < 3; ++c) colours[3 * static_cast<size_t>(j) + c] = colours[3 * i + c];
      queue.push_back(j);
    }
  }
}

// One pixel's F and B given its neighbours': per channel, the least-squares
// solution of alpha F + (1 - alpha) B = I with each neighbour's F and B
// pulled towards with weight kSmoothness + kAlphaChange |alpha change|. A
// neighbour outside the band lends its colour as F on the object side and
// as B on the background side.
void UpdatePixel(const CRowLease& rows, const CEdgeBand& band, int x, int y, size_t i,
                 CColourState& state) {
  const float a = state.alpha[i];
  const int32_t* n = &state.neighbours[4 * i];
  float weightF = kInertia;
  float weightB = kInertia;
  float sumF[3], sumB[3];
  for (size_t c = 0; c < 3; ++c) {
    sumF[c] = kInertia * state.object[3 * i + c];
    sumB[c] = kInertia * state.background[3 * i + c];
  }
  for (int k = 0; k < 4; ++k) {
    const int32_t j = n[k];
    if (j < 0) continue;
    const size_t s = static_cast<size_t>(j);
    const float w = kSmoothness + kAlphaChange * std::fabs(a - state.alpha[s]);
    weightF += w;
    weightB += w;
    for (size_t c = 0; c < 3; ++c) {
      sumF[c] += w * state.object[3 * s + c];
      sumB[c] += w * state.background[3 * s + c];
    }
  }
  ForKnownNeighbours(rows, band, n, x, y, [&](const uint8_t* p) {
    const float w = kSmoothness + kAlphaChange * std::fabs(a - p[3] / 255.0f);
    const bool object = OnObjectSide(p[3]);
    (object ? weightF : weightB) += w;
    float* sum = object ? sumF : sumB;
    for (int c = 0; c < 3; ++c) sum[c] += w * (p[c] / 255.0f);
  });
  const float m00 = a * a + weightF;
  const float m01 = a * (1.0f - a);
  const float m11 = (1.0f - a) * (1.0f - a) + weightB;
  // m00 m11 - m01^2 with the a^2 (1 - a)^2 that cancels left out: the
  // weights are small enough to drown in that cancellation.
  const float det = a * a * weightB + (1.0f - a) * (1.0f - a) * weightF + weightF * weightB;
  const uint8_t* own = rows.Row(y) + 4 * x;
  for (size_t c = 0; c < 3; ++c) {
    const float picture = own[c] / 255.0f;
    const float rf = a * picture + sumF[c];
    const float rb = (1.0f - a) * picture + sumB[c];
    state.object[3 * i + c] = std::clamp((m11 * rf - m01 * rb) / det, 0.0f, 1.0f);
    state.background[3 * i + c] = std::clamp((m00 * rb - m01 * rf) / det, 0.0f, 1.0f);
  }
}

// One sweep over the pixels of one parity of x + y: their 4-neighbours all
// have the other parity, so the order of the updates, and the split of the
// rows between threads, does not change the result.
void Sweep(const CRowLease& rows, const CEdgeBand& band, int parity, bool oneBand,
           CColourState& state) {
  ForEachRowInBands(band.Height(), oneBand, [&](int y) {
    for (const CBandSpan& span : band.Row(y)) {
      for (int x = span.left + ((span.left + y + parity) & 1); x < span.right; x += 2) {
        UpdatePixel(rows, band, x, y, static_cast<size_t>(span.first + (x - span.left)), state);
      }
    }
  });
}

}  // namespace

bool EstimateObjectColour(const CRowLease& rows, const CEdgeBand& band,
                          const CBandArray<uint8_t>& alpha, CBandArray<uint8_t>& colour,
                          bool oneBand, const CBandStopCheck& stop) {
  const size_t n = static_cast<size_t>(band.Count());
  CColourState state;
  state.alpha.resize(n);
  for (size_t i = 0; i < n; ++i) state.alpha[i] = alpha[i] / 255.0f;
  FindNeighbours(band, state);
  state.object.resize(3 * n);
  state.background.resize(3 * n);
  StartFromNearest(rows, band, true, state.object, state);
  StartFromNearest(rows, band, false, state.background, state);
  for (int sweep = 0; sweep < kSweeps; ++sweep) {
    if (stop(static_cast<double>(sweep) / kSweeps)) return false;
    Sweep(rows, band, 0, oneBand, state);
    Sweep(rows, band, 1, oneBand, state);
  }
  colour.resize(3 * n);
  for (size_t i = 0; i < 3 * n; ++i) {
    colour[i] = static_cast<uint8_t>(std::lround(state.object[i] * 255.0f));
  }
  return true;
}
