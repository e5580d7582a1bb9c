#include "engine/ColourModel.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/BoxBlur.h"
#include "engine/ClassifyRegions.h"
#include "engine/EdgeBand.h"
#include "engine/Marks.h"
#include "engine/MaxFlow.h"
#include "imagecore/ChildProgress.h"
#include "imagecore/CoreResult.h"
#include "imagecore/RowBands.h"

namespace {

// Blue, green, red and texture.
constexpr int kDims = 4;
// Gaussians a model has at most, and the samples it is fitted on: enough
// for wood grain's or brick's few colours, few enough to fit in moments.
constexpr int kComponents = 5;
constexpr size_t kMostSamples = 40000;
constexpr int kFitPasses = 4;
// A flat area's variance would make its Gaussian infinitely sure of itself.
constexpr double kVarianceFloor = 16.0;
// The texture map is blurred so that a grain's or a joint's dark lines and
// the light between them read as one texture.
constexpr int kTextureWindow = 7;
constexpr float kTextureWeight = 1.0f;
// Costs are negative log-likelihoods. A colour no component of a model
// explains still costs no more than this on that model's side, on both
// sides alike, so a colour neither model has seen is decided by the
// picture's edges: shaded into the object, as a badge sewn on a sleeve, it
// stays; cut off by a sharp edge, as a background colour no stroke crossed,
// it goes.
constexpr double kCostFloor = 22.0;
constexpr double kMostCost = 200.0;
// What the regions decided counts fully this many pixels from the edge
// between kept and removed, less nearer to it, where they are most often
// wrong.
constexpr int kSureDistance = 8;
constexpr double kPriorCost = 6.0;
// Pixels no region decided, reached from one side's decided pixels through
// neighbours no more than this apart in any channel, count for that side
// this much: a shading the regions stopped at still belongs to its side,
// while a sharp change of colour is where sides change.
constexpr float kGentleStep = 10.0f;
constexpr float kReachedWeight = 0.5f;
// Weight of the picture's edges against the models, per neighbour.
constexpr double kSmoothness = 50.0;
// Rounds of cutting and fitting again, fewer when the split settles. A third
// round moved no test picture's edge by more than a pixel in a thousand and
// cost a fifth of the run.
constexpr int kRounds = 2;
constexpr double kSettledShare = 0.001;
// Weight of a pixel's current side when the models are fitted again.
constexpr float kSplitWeight = 0.5f;
// Costs become integer capacities at this scale; a mark's is beyond any sum
// of them.
constexpr double kCapacityScale = 16.0;
constexpr int32_t kHard = 1 << 24;

using CVec = Eigen::Matrix<double, kDims, 1>;
using CMat = Eigen::Matrix<double, kDims, kDims>;

struct CSample {
  float f[kDims];
  float weight;
};

// A Gaussian mixture fitted by hard assignment, as the cut's own rounds
// are: each sample belongs to its likeliest component.
class CMixture {
 public:
  bool Empty() const { return m_parts.empty(); }

  void Fit(std::vector<CSample>& samples) {
    m_parts.clear();
    if (samples.empty()) return;
    // Start from bands of brightness: deterministic, and already apart.
    std::stable_sort(samples.begin(), samples.end(), [](const CSample& a, const CSample& b) {
      return a.f[0] + a.f[1] + a.f[2] < b.f[0] + b.f[1] + b.f[2];
    });
    double total = 0;
    for (const CSample& s : samples) total += s.weight;
    std::vector<int> part(samples.size());
    double seen = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
      part[i] = std::min(kComponents - 1, static_cast<int>(kComponents * seen / total));
      seen += samples[i].weight;
    }
    for (int pass = 0;; ++pass) {
      Estimate(samples, part);
      if (pass + 1 == kFitPasses || m_parts.empty()) break;
      for (size_t i = 0; i < samples.size(); ++i) part[i] = Likeliest(samples[i].f);
    }
  }

  // -log of the density at f.
  double Cost(const float* f) const {
    double best = -std::numeric_limits<double>::infinity();
    double terms[kComponents];
    for (size_t k = 0; k < m_parts.size(); ++k) {
      terms[k] = LogDensity(m_parts[k], f);
      best = std::max(best, terms[k]);
    }
    double sum = 0;
    for (size_t k = 0; k < m_parts.size(); ++k) sum += std::exp(terms[k] - best);
    return -(best + std::log(sum));
  }

 private:
  struct CPart {
    int id;
    CVec mean;
    CMat inverse;
    double logScale;  // log of the weight over the normalising factor
  };

  static double LogDensity(const CPart& p, const float* f) {
    CVec d;
    for (int c = 0; c < kDims; ++c) d[c] = f[c] - p.mean[c];
    return p.logScale - 0.5 * d.dot(p.inverse * d);
  }

  int Likeliest(const float* f) const {
    int best = 0;
    double bestValue = -std::numeric_limits<double>::infinity();
    for (const CPart& p : m_parts) {
      const double v = LogDensity(p, f);
      if (v > bestValue) {
        bestValue = v;
        best = p.id;
      }
    }
    return best;
  }

  void Estimate(const std::vector<CSample>& samples, const std::vector<int>& part) {
    double weight[kComponents] = {};
    CVec sum[kComponents];
    CMat square[kComponents];
    for (int k = 0; k < kComponents; ++k) {
      sum[k].setZero();
      square[k].setZero();
    }
    double total = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
      CVec f;
      for (int c = 0; c < kDims; ++c) f[c] = samples[i].f[c];
      const double w = samples[i].weight;
      weight[part[i]] += w;
      sum[part[i]] += w * f;
      square[part[i]] += w * f * f.transpose();
      total += w;
    }
    m_parts.clear();
    for (int k = 0; k < kComponents; ++k) {
      if (weight[k] <= total * 1e-4) continue;
      const CVec mean = sum[k] / weight[k];
      CMat cov = square[k] / weight[k] - mean * mean.transpose();
      cov += kVarianceFloor * CMat::Identity();
      const Eigen::LLT<CMat> llt(cov);
      if (llt.info() != Eigen::Success) continue;
      double logDet = 0;
      for (int c = 0; c < kDims; ++c) logDet += 2 * std::log(llt.matrixL()(c, c));
      CPart p{k, mean, llt.solve(CMat::Identity()),
              std::log(weight[k] / total) - 0.5 * logDet - 0.5 * kDims * std::log(2 * M_PI)};
      m_parts.push_back(p);
    }
  }

  std::vector<CPart> m_parts;
};

// One resolution of the picture: per pixel its features, marks, what the
// regions decided, the split so far and how sure the regions were.
struct CLevel {
  int width = 0;
  int height = 0;
  std::vector<float> feature;  // kDims a pixel
  std::vector<uint8_t> mark;
  std::vector<uint8_t> decided;
  std::vector<uint8_t> kept;     // the split: 1 object, 0 background
  std::vector<uint8_t> initial;  // the regions' split
  std::vector<float> sure;       // 0..1
  std::vector<uint8_t> reached;  // 1 first from the object's side, 2 from the background's

  size_t Pixels() const { return static_cast<size_t>(width) * height; }
  const float* Feature(size_t i) const { return &feature[kDims * i]; }
};

// The four neighbours ahead of a pixel in reading order; with their
// opposites they make the eight.
constexpr int kAheadX[4] = {1, 0, 1, -1};
constexpr int kAheadY[4] = {0, 1, 1, 1};

float ColourGap(const float* a, const float* b) {
  const float d0 = a[0] - b[0];
  const float d1 = a[1] - b[1];
  const float d2 = a[2] - b[2];
  return d0 * d0 + d1 * d1 + d2 * d2;
}

// The contrast the smoothness follows: one over twice the mean squared
// colour step between neighbours.
double EdgeContrast(const CLevel& level) {
  double sum = 0;
  size_t count = 0;
  for (int y = 0; y < level.height; ++y) {
    for (int x = 0; x < level.width; ++x) {
      const size_t i = static_cast<size_t>(y) * level.width + x;
      if (x + 1 < level.width) {
        sum += ColourGap(level.Feature(i), level.Feature(i + 1));
        ++count;
      }
      if (y + 1 < level.height) {
        sum += ColourGap(level.Feature(i), level.Feature(i + level.width));
        ++count;
      }
    }
  }
  return sum > 0 ? count / (2 * sum) : 0;
}

int32_t EdgeCapacity(double contrast, const float* a, const float* b, bool diagonal) {
  const double weight = kSmoothness * std::exp(-contrast * ColourGap(a, b)) /
                        (diagonal ? std::sqrt(2.0) : 1.0);
  return static_cast<int32_t>(std::lround(weight * kCapacityScale));
}

int32_t CostCapacity(double cost) {
  return static_cast<int32_t>(std::lround(std::clamp(cost, 0.0, kMostCost) * kCapacityScale));
}

// Chessboard distance to the nearest pixel on the other side of the split,
// in pixels of the full picture, as a share of kSureDistance.
void MeasureSureness(CLevel& level, int scale) {
  const int w = level.width;
  const int h = level.height;
  const int far = kSureDistance;
  std::vector<int> d(level.Pixels(), far);
  auto at = [&](int x, int y) { return static_cast<size_t>(y) * w + x; };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint8_t k = level.initial[at(x, y)];
      for (int n = 0; n < 4; ++n) {
        const int xx = x + kAheadX[n];
        const int yy = y + kAheadY[n];
        if (xx < 0 || xx >= w || yy >= h || level.initial[at(xx, yy)] == k) continue;
        d[at(x, y)] = 0;
        d[at(xx, yy)] = 0;
      }
    }
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int& v = d[at(x, y)];
      if (x > 0) v = std::min(v, d[at(x - 1, y)] + 1);
      if (y > 0) {
        for (int xx = std::max(0, x - 1); xx <= std::min(w - 1, x + 1); ++xx)
          v = std::min(v, d[at(xx, y - 1)] + 1);
      }
    }
  }
  for (int y = h - 1; y >= 0; --y) {
    for (int x = w - 1; x >= 0; --x) {
      int& v = d[at(x, y)];
      if (x + 1 < w) v = std::min(v, d[at(x + 1, y)] + 1);
      if (y + 1 < h) {
        for (int xx = std::max(0, x - 1); xx <= std::min(w - 1, x + 1); ++xx)
          v = std::min(v, d[at(xx, y + 1)] + 1);
      }
    }
  }
  level.sure.resize(level.Pixels());
  for (size_t i = 0; i < level.Pixels(); ++i) {
    // A pixel at the edge itself is half a pixel from it.
    level.sure[i] = std::min(1.0f, (d[i] * scale + 0.5f) / far);
  }
}

// How much a pixel tells each model: marks fully, the regions' decision as
// far as it is sure and agrees with the split, and the split itself a
// little once a cut has made it.
void Evidence(const CLevel& level, size_t i, bool afterCut, float& object, float& background) {
  object = 0;
  background = 0;
  if (level.mark[i] == keMarkObject) {
    object = 1;
    return;
  }
  if (level.mark[i] == keMarkBackground) {
    background = 1;
    return;
  }
  const bool kept = level.kept[i] != 0;
  if (level.decided[i] == keRegionKept && kept) object = level.sure[i];
  if (level.decided[i] == keRegionErased && !kept) background = level.sure[i];
  if (level.decided[i] == keRegionUndecided) {
    if (level.reached[i] == 1) object = kReachedWeight;
    if (level.reached[i] == 2) background = kReachedWeight;
  }
  if (afterCut) {
    if (kept) object = std::max(object, kSplitWeight);
    if (!kept) background = std::max(background, kSplitWeight);
  }
}

// Up to kMostSamples pixels with evidence for one side, evenly spread.
std::vector<CSample> Samples(const CLevel& level, bool objectSide, bool afterCut) {
  size_t count = 0;
  for (size_t i = 0; i < level.Pixels(); ++i) {
    float o, b;
    Evidence(level, i, afterCut, o, b);
    if ((objectSide ? o : b) > 0) ++count;
  }
  const size_t stride = std::max<size_t>(1, (count + kMostSamples - 1) / kMostSamples);
  std::vector<CSample> samples;
  samples.reserve(count / stride + 1);
  size_t seen = 0;
  for (size_t i = 0; i < level.Pixels(); ++i) {
    float o, b;
    Evidence(level, i, afterCut, o, b);
    const float w = objectSide ? o : b;
    if (w <= 0 || seen++ % stride != 0) continue;
    CSample s;
    std::copy_n(level.Feature(i), kDims, s.f);
    s.weight = w;
    samples.push_back(s);
  }
  return samples;
}

struct CModels {
  CMixture object;
  CMixture background;
};

void FitModels(const CLevel& level, bool afterCut, CModels& models) {
  std::vector<CSample> object = Samples(level, true, afterCut);
  std::vector<CSample> background = Samples(level, false, afterCut);
  models.object.Fit(object);
  models.background.Fit(background);
}

// -log(exp(-cost) + exp(-kCostFloor)), kept finite.
double Floored(double cost) {
  return std::min(cost, kCostFloor) - std::log1p(std::exp(-std::abs(cost - kCostFloor)));
}

// The two costs of a pixel that is no mark: as object, and as background.
void PixelCosts(const CModels& models, const float* f, uint8_t decided, bool initiallyKept,
                float sure, double& asObject, double& asBackground) {
  asObject = Floored(models.object.Cost(f));
  asBackground = Floored(models.background.Cost(f));
  if (decided == keRegionKept && initiallyKept) asBackground += kPriorCost * sure;
  if (decided == keRegionErased && !initiallyKept) asObject += kPriorCost * sure;
}

// Terminal capacities of every node: the source is the object's side, so
// the capacity from it is what the pixel costs as background.
void AddDataTerms(CMaxFlowGraph& graph, int node, uint8_t mark, double asObject,
                  double asBackground) {
  if (mark == keMarkObject) {
    graph.AddTerminal(node, kHard, 0);
  } else if (mark == keMarkBackground) {
    graph.AddTerminal(node, 0, kHard);
  } else {
    graph.AddTerminal(node, CostCapacity(asBackground), CostCapacity(asObject));
  }
}

// One cut of the whole level; returns how many pixels changed side.
size_t CutLevel(CLevel& level, const CModels& models, double contrast) {
  const int w = level.width;
  const int h = level.height;
  const size_t pixels = level.Pixels();
  std::vector<double> asObject(pixels);
  std::vector<double> asBackground(pixels);
  ForEachRowInBands(h, false, [&](int y) {
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      PixelCosts(models, level.Feature(i), level.decided[i], level.initial[i] != 0,
                 level.sure[i], asObject[i], asBackground[i]);
    }
  });
  CMaxFlowGraph graph(static_cast<int>(pixels), 4 * pixels);
  for (size_t i = 0; i < pixels; ++i) {
    AddDataTerms(graph, static_cast<int>(i), level.mark[i], asObject[i], asBackground[i]);
  }
  asObject = {};
  asBackground = {};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      for (int n = 0; n < 4; ++n) {
        const int xx = x + kAheadX[n];
        const int yy = y + kAheadY[n];
        if (xx < 0 || xx >= w || yy >= h) continue;
        const size_t j = static_cast<size_t>(yy) * w + xx;
        const int32_t c = EdgeCapacity(contrast, level.Feature(i), level.Feature(j), n >= 2);
        graph.AddEdge(static_cast<int>(i), static_cast<int>(j), c, c);
      }
    }
  }
  graph.Solve();
  size_t changed = 0;
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t kept = graph.OnSourceSide(static_cast<int>(i)) ? 1 : 0;
    changed += kept != level.kept[i];
    level.kept[i] = kept;
  }
  return changed;
}

// The blurred texture map, scaled as a feature.
CPlane TextureFeature(const CPlane& texture) {
  CPlane blurred = texture;
  ThrowIfFailed(BoxBlur(blurred, kTextureWindow));
  return blurred;
}

// The full picture's features at a pixel.
void FullFeature(const CColourModelInputs& in, const CPlane& texture, int x, int y, float* f) {
  const uint8_t* c = in.colours[y] + 4 * static_cast<size_t>(x);
  f[0] = c[0];
  f[1] = c[1];
  f[2] = c[2];
  f[3] = kTextureWeight * texture.Row(y)[x];
}

// The picture reduced by `scale` in each direction: block means of the
// features; a block's mark only where its marks agree; the most common
// decision; kept where the mean matte is.
CLevel Reduce(const CColourModelInputs& in, const CPlane& texture, const CPlane& matte,
              int scale) {
  CLevel level;
  const int w = in.marks.Width();
  const int h = in.marks.Height();
  level.width = (w + scale - 1) / scale;
  level.height = (h + scale - 1) / scale;
  const size_t pixels = level.Pixels();
  level.feature.assign(kDims * pixels, 0);
  level.mark.assign(pixels, keMarkNone);
  level.decided.assign(pixels, keRegionUndecided);
  level.kept.assign(pixels, 0);
  ForEachRowInBands(level.height, false, [&](int by) {
    for (int bx = 0; bx < level.width; ++bx) {
      const size_t b = static_cast<size_t>(by) * level.width + bx;
      double sum[kDims] = {};
      int marks[3] = {};
      int decisions[3] = {};
      int matteSum = 0;
      int count = 0;
      for (int y = by * scale; y < std::min(h, (by + 1) * scale); ++y) {
        for (int x = bx * scale; x < std::min(w, (bx + 1) * scale); ++x) {
          float f[kDims];
          FullFeature(in, texture, x, y, f);
          for (int c = 0; c < kDims; ++c) sum[c] += f[c];
          ++marks[std::min<int>(in.marks.Row(y)[x], keMarkNone)];
          ++decisions[std::min<int>(in.decided.Row(y)[x], keRegionKept)];
          matteSum += matte.Row(y)[x];
          ++count;
        }
      }
      for (int c = 0; c < kDims; ++c) level.feature[kDims * b + c] = static_cast<float>(sum[c] / count);
      if (marks[keMarkObject] > 0 && marks[keMarkBackground] == 0) level.mark[b] = keMarkObject;
      if (marks[keMarkBackground] > 0 && marks[keMarkObject] == 0) level.mark[b] = keMarkBackground;
      level.decided[b] = static_cast<uint8_t>(
          std::max_element(decisions, decisions + 3) - decisions);
      level.kept[b] = matteSum >= 128 * count ? 1 : 0;
    }
  });
  level.initial = level.kept;
  return level;
}

// Nodes of the full-size band, numbered by block: scale x scale to each
// block that touches a change of side, so that no index of the whole
// picture is needed. Slots past the picture's edge stay nodes without arcs.
struct CBandNodes {
  std::vector<int32_t> firstNode;  // per block; -1 outside the band
  int32_t count = 0;
  int scale = 1;
  int levelWidth = 0;

  int32_t Of(int x, int y) const {
    const int32_t first = firstNode[static_cast<size_t>(y / scale) * levelWidth + x / scale];
    return first < 0 ? -1 : first + (y % scale) * scale + x % scale;
  }
};

CBandNodes NumberBandNodes(const CLevel& level, int scale) {
  CBandNodes band;
  band.scale = scale;
  band.levelWidth = level.width;
  band.firstNode.assign(level.Pixels(), -1);
  for (int by = 0; by < level.height; ++by) {
    for (int bx = 0; bx < level.width; ++bx) {
      const size_t b = static_cast<size_t>(by) * level.width + bx;
      bool edge = false;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          const int x = bx + dx;
          const int y = by + dy;
          if (x < 0 || y < 0 || x >= level.width || y >= level.height) continue;
          edge = edge || level.kept[static_cast<size_t>(y) * level.width + x] != level.kept[b];
        }
      }
      if (edge) {
        band.firstNode[b] = band.count;
        band.count += scale * scale;
      }
    }
  }
  return band;
}

// What the band reads besides the picture.
struct CBandContext {
  const CColourModelInputs& in;
  const CPlane& texture;
  const CPlane& matte;
  const CLevel& level;
  const CModels& models;
  const CBandNodes& nodes;
  const CPlane& sides;  // every pixel's side from its block
  double contrast;
};

// One band pixel's arcs: to the band's pixels ahead of it, and its pull
// towards the sides of neighbours outside the band, which stay as they are.
void AddBandPixel(const CBandContext& c, CMaxFlowGraph& graph, int x, int y) {
  const int w = c.in.marks.Width();
  const int h = c.in.marks.Height();
  const int32_t node = c.nodes.Of(x, y);
  float f[kDims];
  FullFeature(c.in, c.texture, x, y, f);
  double asObject;
  double asBackground;
  const size_t block = static_cast<size_t>(y / c.nodes.scale) * c.level.width + x / c.nodes.scale;
  PixelCosts(c.models, f, c.in.decided.Row(y)[x], c.matte.Row(y)[x] >= 128, c.level.sure[block],
             asObject, asBackground);
  int32_t fromSource = 0;
  int32_t toSink = 0;
  for (int n = 0; n < 8; ++n) {
    const int sign = n < 4 ? 1 : -1;
    const int xx = x + sign * kAheadX[n % 4];
    const int yy = y + sign * kAheadY[n % 4];
    if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
    float g[kDims];
    FullFeature(c.in, c.texture, xx, yy, g);
    const int32_t capacity = EdgeCapacity(c.contrast, f, g, n % 4 >= 2);
    const int32_t other = c.nodes.Of(xx, yy);
    if (other >= 0) {
      if (n < 4) graph.AddEdge(node, other, capacity, capacity);
    } else if (c.sides.Row(yy)[xx] != 0) {
      fromSource += capacity;
    } else {
      toSink += capacity;
    }
  }
  graph.AddTerminal(node, fromSource, toSink);
  AddDataTerms(graph, node, c.in.marks.Row(y)[x], asObject, asBackground);
}

// The full picture cut again in the blocks that touch a change of side; the
// rest keep their block's side.
void CutBand(const CColourModelInputs& in, const CPlane& texture, const CPlane& matte,
             const CLevel& level, int scale, const CModels& models, CPlane& out) {
  const int w = in.marks.Width();
  const int h = in.marks.Height();
  for (int y = 0; y < h; ++y) {
    uint8_t* row = out.Row(y);
    const uint8_t* kept = &level.kept[static_cast<size_t>(y / scale) * level.width];
    for (int bx = 0; bx < level.width; ++bx) {
      std::fill(row + bx * scale, row + std::min(w, (bx + 1) * scale), kept[bx] ? 255 : 0);
    }
  }
  const CBandNodes nodes = NumberBandNodes(level, scale);
  if (nodes.count == 0) return;
  const CBandContext context{in, texture, matte, level, models, nodes, out, EdgeContrast(level)};
  CMaxFlowGraph graph(nodes.count, 4 * static_cast<size_t>(nodes.count));
  for (int by = 0; by < level.height; ++by) {
    for (int bx = 0; bx < level.width; ++bx) {
      if (nodes.firstNode[static_cast<size_t>(by) * level.width + bx] < 0) continue;
      for (int y = by * scale; y < std::min(h, (by + 1) * scale); ++y) {
        for (int x = bx * scale; x < std::min(w, (bx + 1) * scale); ++x) {
          AddBandPixel(context, graph, x, y);
        }
      }
    }
  }
  graph.Solve();
  // Written only now: the band's pixels read their neighbours' block sides.
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int32_t node = nodes.Of(x, y);
      if (node >= 0) out.Row(y)[x] = graph.OnSourceSide(node) ? 255 : 0;
    }
  }
}

// `mask` (1 set, 0 not) becomes 1 wherever a set pixel lies within `reach`
// (at most 254) in chessboard distance, else 0: the distance along each row
// first, then down and up the columns to a row near enough, each in linear
// passes, so that the cost does not grow with the reach. `along` is work
// space of the same size.
void SpreadWithinReach(int reach, CPlane& mask, CPlane& along) {
  const int w = mask.Width();
  const int h = mask.Height();
  const int beyond = reach + 1;
  ForEachRowInBands(h, false, [&](int y) {
    const uint8_t* set = mask.Row(y);
    uint8_t* d = along.Row(y);
    int run = beyond;
    for (int x = 0; x < w; ++x) {
      run = set[x] ? 0 : std::min(run + 1, beyond);
      d[x] = static_cast<uint8_t>(run);
    }
    run = beyond;
    for (int x = w - 1; x >= 0; --x) {
      run = set[x] ? 0 : std::min(run + 1, beyond);
      d[x] = static_cast<uint8_t>(std::min<int>(d[x], run));
    }
  });
  // Rows apart: down the columns into `mask`, then up them into `along`,
  // each row's distance along it read just before it is replaced. A row
  // past the picture's edge counts as beyond reach.
  const std::vector<uint8_t> outside(w, static_cast<uint8_t>(beyond));
  for (int y = 0; y < h; ++y) {
    const uint8_t* d = along.Row(y);
    const uint8_t* above = y > 0 ? mask.Row(y - 1) : outside.data();
    uint8_t* down = mask.Row(y);
    for (int x = 0; x < w; ++x) {
      down[x] = static_cast<uint8_t>(d[x] <= reach ? 0 : std::min(above[x] + 1, beyond));
    }
  }
  for (int y = h - 1; y >= 0; --y) {
    const uint8_t* below = y + 1 < h ? along.Row(y + 1) : outside.data();
    uint8_t* up = along.Row(y);
    uint8_t* out = mask.Row(y);
    for (int x = 0; x < w; ++x) {
      const int distance = up[x] <= reach ? 0 : std::min(below[x] + 1, beyond);
      up[x] = static_cast<uint8_t>(distance);
      out[x] = std::min<int>(out[x], distance) <= reach ? 1 : 0;
    }
  }
}

// The cut's edge follows the picture's strongest edge; on hair that is the
// strands' roots, while the regions' edge lies out among the strands, where
// they kept the mixed pixels. Refine Edge looks for the soft edge within its
// width of the edge it is given, and re-decides every pixel there: so where
// the two edges run within that width of each other, the regions' edge is
// kept. A pixel the cut moved across comes back when it lies that near both
// to the regions' other side and to what the cut keeps on the regions' side;
// what the cut moved farther, as clumps of background beside the object or
// a hole, stays moved.
void KeepRegionsEdge(const CPlane& regions, int reach, CPlane& split) {
  const int w = split.Width();
  const int h = split.Height();
  CPlane nearRegionsOther(w, h, 1);
  CPlane nearCutSame(w, h, 1);
  CPlane along(w, h, 1);
  for (const bool keptSide : {true, false}) {
    ForEachRowInBands(h, false, [&](int y) {
      for (int x = 0; x < w; ++x) {
        nearRegionsOther.Row(y)[x] = OnObjectSide(regions.Row(y)[x]) != keptSide;
        nearCutSame.Row(y)[x] = OnObjectSide(split.Row(y)[x]) == keptSide;
      }
    });
    SpreadWithinReach(reach, nearRegionsOther, along);
    SpreadWithinReach(reach, nearCutSame, along);
    ForEachRowInBands(h, false, [&](int y) {
      for (int x = 0; x < w; ++x) {
        const bool moved = OnObjectSide(regions.Row(y)[x]) == keptSide &&
                           OnObjectSide(split.Row(y)[x]) != keptSide;
        if (moved && nearRegionsOther.Row(y)[x] && nearCutSame.Row(y)[x]) {
          split.Row(y)[x] = keptSide ? 255 : 0;
        }
      }
    });
  }
}

bool GentleStep(const float* a, const float* b) {
  return std::abs(a[0] - b[0]) <= kGentleStep && std::abs(a[1] - b[1]) <= kGentleStep &&
         std::abs(a[2] - b[2]) <= kGentleStep;
}

// Which side reaches each undecided pixel first through gentle steps alone:
// both grow at once, a step at a time, so each keeps the shading nearest it.
void FollowShading(CLevel& level) {
  const int w = level.width;
  const int h = level.height;
  level.reached.assign(level.Pixels(), 0);
  std::vector<int32_t> queue;
  for (int side = 0; side < 2; ++side) {
    const uint8_t mark = side == 0 ? keMarkObject : keMarkBackground;
    const uint8_t decision = side == 0 ? keRegionKept : keRegionErased;
    for (size_t i = 0; i < level.Pixels(); ++i) {
      if (level.reached[i] == 0 && (level.mark[i] == mark || level.decided[i] == decision)) {
        level.reached[i] = static_cast<uint8_t>(1 << side);
        queue.push_back(static_cast<int32_t>(i));
      }
    }
  }
  for (size_t next = 0; next < queue.size(); ++next) {
    const int32_t i = queue[next];
    const int x = i % w;
    const int y = i / w;
    for (int n = 0; n < 8; ++n) {
      const int sign = n < 4 ? 1 : -1;
      const int xx = x + sign * kAheadX[n % 4];
      const int yy = y + sign * kAheadY[n % 4];
      if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
      const size_t j = static_cast<size_t>(yy) * w + xx;
      if (level.reached[j] != 0 || level.decided[j] != keRegionUndecided ||
          level.mark[j] != keMarkNone || !GentleStep(level.Feature(i), level.Feature(j))) {
        continue;
      }
      level.reached[j] = level.reached[i];
      queue.push_back(static_cast<int32_t>(j));
    }
  }
}

bool HasBothSides(const CLevel& level) {
  bool object = false;
  bool background = false;
  for (size_t i = 0; i < level.Pixels(); ++i) {
    float o, b;
    Evidence(level, i, false, o, b);
    object = object || o > 0;
    background = background || b > 0;
  }
  return object && background;
}

}  // namespace

bool ColourModelMatte(const CColourModelInputs& in, CPlane& matte, CProgressScale* progress) {
  const int w = in.marks.Width();
  const int h = in.marks.Height();
  CChildProgress scale(progress, kRounds + 1);
  if (scale.Stop(0)) return false;
  const CPlane texture = TextureFeature(in.texture);
  const double area = static_cast<double>(w) * h;
  const int factor = std::max(1, static_cast<int>(std::lround(std::sqrt(area / in.reducedPixels))));
  CLevel level = Reduce(in, texture, matte, factor);
  MeasureSureness(level, factor);
  FollowShading(level);
  if (!HasBothSides(level)) return true;

  const double contrast = EdgeContrast(level);
  CModels models;
  FitModels(level, false, models);
  for (int round = 0; round < kRounds; ++round) {
    if (scale.Stop(round)) return false;
    if (models.object.Empty() || models.background.Empty()) return true;
    const size_t changed = CutLevel(level, models, contrast);
    FitModels(level, true, models);
    if (round > 0 && changed <= kSettledShare * level.Pixels()) break;
  }
  if (scale.Stop(kRounds)) return false;

  CPlane decided(w, h, 1);
  if (factor == 1) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        decided.Row(y)[x] = level.kept[static_cast<size_t>(y) * w + x] ? 255 : 0;
      }
    }
  } else {
    CutBand(in, texture, matte, level, factor, models, decided);
  }
  if (in.regionsEdgeReach > 0) KeepRegionsEdge(matte, in.regionsEdgeReach, decided);
  // Marks are never overruled, also where a block held both kinds.
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint8_t mark = in.marks.Row(y)[x];
      if (mark == keMarkObject) decided.Row(y)[x] = 255;
      if (mark == keMarkBackground) decided.Row(y)[x] = 0;
    }
  }
  matte = std::move(decided);
  return true;
}
