#include "engine/FillHoles.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/FloodReplace.h"
#include "engine/Marks.h"
#include "engine/RowSearch.h"
#include "engine/Plane.h"
#include "imagecore/ChildProgress.h"
#include "imagecore/CoreImage.h"

namespace {

constexpr uint8_t kReached = 255;  // stage 1; also "unclassified candidate" in stage 2
constexpr uint8_t kCounting = 100;

// Matte labels of hole pixels, by size class; real matte values 1..3 are
// raised to 4 first so that these stay unambiguous.
constexpr uint8_t kLabelSmall = 1;
constexpr uint8_t kLabelMedium = 2;
constexpr uint8_t kLabelLarge = 3;
constexpr uint8_t kClassLarge = 16;

constexpr int kStageCount = 9;

uint8_t SizeClass(int pixels) {
  if (pixels <= 255)
    return 1;
  if (pixels <= 1020)
    return 2;
  if (pixels <= 3600)
    return 3;
  if (pixels <= 6400)
    return 4;
  return kClassLarge;
}

bool IsLabel(uint8_t value) { return value >= kLabelSmall && value <= kLabelLarge; }

// The first x in [x, n) where row[x] is not 0, or n; eight at a time over
// the zeros, the first in memory the lowest bits.
static_assert(std::endian::native == std::endian::little);
int NextNonzero(const uint8_t* row, int x, int n) {
  for (; x + 8 <= n; x += 8) {
    uint64_t eight;
    std::memcpy(&eight, row + x, 8);
    if (eight != 0)
      return x + std::countr_zero(eight) / 8;
  }
  while (x < n && row[x] == 0)
    ++x;
  return x;
}

// Unsigned big integer, little-endian 32-bit limbs: the exact mean needs the
// product of all ray lengths, which outgrows any machine word.
class CBigNat {
 public:
  explicit CBigNat(uint32_t value = 0) {
    if (value != 0)
      m_limbs.push_back(value);
  }
  void MulSmall(uint32_t factor) {
    uint64_t carry = 0;
    for (uint32_t& limb : m_limbs) {
      const uint64_t product = static_cast<uint64_t>(limb) * factor + carry;
      limb = static_cast<uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0)
      m_limbs.push_back(static_cast<uint32_t>(carry));
    Trim();
  }
  void Add(const CBigNat& other) {
    if (m_limbs.size() < other.m_limbs.size())
      m_limbs.resize(other.m_limbs.size(), 0);
    uint64_t carry = 0;
    for (size_t i = 0; i < m_limbs.size(); ++i) {
      const uint64_t sum =
          static_cast<uint64_t>(m_limbs[i]) + (i < other.m_limbs.size() ? other.m_limbs[i] : 0) + carry;
      m_limbs[i] = static_cast<uint32_t>(sum);
      carry = sum >> 32;
    }
    if (carry != 0)
      m_limbs.push_back(static_cast<uint32_t>(carry));
  }
  // -1, 0 or 1 as *this is below, equal to or above other.
  int Compare(const CBigNat& other) const {
    if (m_limbs.size() != other.m_limbs.size())
      return m_limbs.size() < other.m_limbs.size() ? -1 : 1;
    for (size_t i = m_limbs.size(); i-- > 0;) {
      if (m_limbs[i] != other.m_limbs[i])
        return m_limbs[i] < other.m_limbs[i] ? -1 : 1;
    }
    return 0;
  }

 private:
  void Trim() {
    while (!m_limbs.empty() && m_limbs.back() == 0)
      m_limbs.pop_back();
  }
  std::vector<uint32_t> m_limbs;
};

// A ray: (row step, column step) and how a step moves. Kind r moves the row
// first and is tested there before the diagonal move; kind c the column.
enum keRayKind : uint8_t { keRayDiagonal, keRayRowFirst, keRayColumnFirst };
struct CRay {
  int dr;
  int dc;
  keRayKind kind;
};

constexpr CRay kRays8[8] = {
    {0, -1, keRayDiagonal}, {0, 1, keRayDiagonal},  {-1, 0, keRayDiagonal}, {1, 0, keRayDiagonal},
    {-1, -1, keRayDiagonal}, {-1, 1, keRayDiagonal}, {1, -1, keRayDiagonal}, {1, 1, keRayDiagonal},
};

constexpr CRay kRays16[16] = {
    {-1, -1, keRayDiagonal},    {-1, -1, keRayRowFirst}, {-1, 0, keRayDiagonal},
    {-1, 1, keRayRowFirst},     {-1, 1, keRayDiagonal},  {-1, 1, keRayColumnFirst},
    {0, 1, keRayDiagonal},      {1, 1, keRayColumnFirst}, {1, 1, keRayDiagonal},
    {1, 1, keRayRowFirst},      {1, 0, keRayDiagonal},   {1, -1, keRayRowFirst},
    {1, -1, keRayDiagonal},     {1, -1, keRayColumnFirst}, {0, -1, keRayDiagonal},
    {-1, -1, keRayColumnFirst},
};

// Long rays cross big holes many times over. For the fast path every ray
// family has a bit per position, set where a ray stops (the border, pixels
// off the candidates, and positions outside the image), laid out so that a
// ray's positions follow one another within one or two bit lines; a ray then
// finds its stop a word at a time. Stops only ever appear during the
// interpolation, and each one is set in every layout built so far.
enum keLineLayout : int {
  keLayoutRow,         // (0, +-1): line y, index x
  keLayoutColumn,      // (+-1, 0): line x, index y
  keLayoutDiagonal,    // (1, 1), (-1, -1): line x - y, index x
  keLayoutAnti,        // (1, -1), (-1, 1): line x + y, index x
  keLayoutRowFirstP,   // kind r with dr = dc: line 2x - y, index x
  keLayoutRowFirstN,   // kind r with dr = -dc: line 2x + y, index x
  keLayoutColumnFirstP,  // kind c with dr = dc: line x - 2y, index y
  keLayoutColumnFirstN,  // kind c with dr = -dc: line x + 2y, index y
  keLayoutCount
};

class CStopperLines {
 public:
  CStopperLines(int w, int h, const uint8_t* candidates) : m_w(w), m_h(h), m_cand(candidates) {}

  // Line and index of pixel (x, y) in a layout.
  void Locate(int layout, int x, int y, int& line, int& index) const {
    switch (layout) {
      case keLayoutRow: line = y; index = x; return;
      case keLayoutColumn: line = x; index = y; return;
      case keLayoutDiagonal: line = x - y + m_h - 1; index = x; return;
      case keLayoutAnti: line = x + y; index = x; return;
      case keLayoutRowFirstP: line = 2 * x - y + m_h - 1; index = x; return;
      case keLayoutRowFirstN: line = 2 * x + y; index = x; return;
      case keLayoutColumnFirstP: line = x - 2 * y + 2 * m_h - 2; index = y; return;
      default: line = x + 2 * y; index = y; return;
    }
  }

  // The first stop at or after index `from` on the line, walking by step
  // (+1 or -1). `from` lies in the image or next to it; each line is closed
  // by a set bit on either side of its part in the image, so the search
  // always ends there at the latest.
  int Find(int layout, int line, int from, int step) {
    CLayout& l = Built(layout);
    const uint64_t* bits = l.bits.data() + l.lineWord[line];
    const int first = l.lineFirst[line];
    const int bit = from - first;
    int word = bit >> 6;
    if (step > 0) {
      uint64_t v = bits[word] & (~uint64_t{0} << (bit & 63));
      while (v == 0)
        v = bits[++word];
      return first + (word << 6) + __builtin_ctzll(v);
    }
    uint64_t v = bits[word] & (~uint64_t{0} >> (63 - (bit & 63)));
    while (v == 0)
      v = bits[--word];
    return first + (word << 6) + 63 - __builtin_clzll(v);
  }

  void MarkStop(int x, int y) {
    for (int layout = 0; layout < keLayoutCount; ++layout) {
      CLayout& l = m_layouts[layout];
      if (l.bits.empty())
        continue;
      int line = 0;
      int index = 0;
      Locate(layout, x, y, line, index);
      const int bit = index - l.lineFirst[line];
      l.bits[l.lineWord[line] + (bit >> 6)] |= uint64_t{1} << (bit & 63);
    }
  }

 private:
  // Line i holds indices lineFirst[i] (one before its first pixel) onwards,
  // from word lineWord[i].
  struct CLayout {
    std::vector<int> lineFirst;
    std::vector<size_t> lineWord;
    std::vector<uint64_t> bits;
  };

  CLayout& Built(int layout) {
    CLayout& l = m_layouts[layout];
    if (!l.bits.empty())
      return l;
    int lines = 0;
    switch (layout) {
      case keLayoutRow: lines = m_h; break;
      case keLayoutColumn: lines = m_w; break;
      case keLayoutDiagonal:
      case keLayoutAnti: lines = m_w + m_h - 1; break;
      case keLayoutRowFirstP:
      case keLayoutRowFirstN: lines = 2 * m_w + m_h - 2; break;
      default: lines = m_w + 2 * m_h - 2; break;
    }
    std::vector<int> lo(lines, INT_MAX);
    std::vector<int> hi(lines, INT_MIN);
    for (int y = 0; y < m_h; ++y) {
      for (int x = 0; x < m_w; ++x) {
        int line = 0;
        int index = 0;
        Locate(layout, x, y, line, index);
        lo[line] = std::min(lo[line], index);
        hi[line] = std::max(hi[line], index);
      }
    }
    l.lineFirst.resize(lines);
    l.lineWord.resize(lines);
    size_t words = 0;
    for (int i = 0; i < lines; ++i) {
      const int count = hi[i] >= lo[i] ? hi[i] - lo[i] + 3 : 2;  // with both closing bits
      l.lineFirst[i] = hi[i] >= lo[i] ? lo[i] - 1 : 0;
      l.lineWord[i] = words;
      words += static_cast<size_t>(count + 63) / 64;
    }
    // Everything stops until shown otherwise: the closing bits, the border
    // and the unused tail of each line's last word stay set.
    l.bits.assign(words, ~uint64_t{0});
    for (int y = 1; y + 1 < m_h; ++y) {
      const uint8_t* c = m_cand + static_cast<size_t>(y) * m_w;
      for (int x = 1; x + 1 < m_w; ++x) {
        if (c[x] == 0)
          continue;
        int line = 0;
        int index = 0;
        Locate(layout, x, y, line, index);
        const int bit = index - l.lineFirst[line];
        l.bits[l.lineWord[line] + (bit >> 6)] &= ~(uint64_t{1} << (bit & 63));
      }
    }
    return l;
  }

  int m_w;
  int m_h;
  const uint8_t* m_cand;
  CLayout m_layouts[keLayoutCount];
};

// Steps walked one by one before a ray turns to the bit lines: short rays,
// the common case, never pay for building them.
constexpr int kWalkedSteps = 4;

class CHoleFiller {
 public:
  CHoleFiller(CPlane& matte, CPlane& candidates, bool plain)
      : m_w(matte.Width()), m_h(matte.Height()), m_matte(matte.Data()),
        m_cand(candidates.Data()), m_plain(plain), m_lines(m_w, m_h, m_cand) {}

  // A position at or beyond the image's edge, or off the candidates, ends a ray.
  bool Ends(int x, int y) const {
    return x <= 0 || y <= 0 || x >= m_w - 1 || y >= m_h - 1 ||
           m_cand[static_cast<size_t>(y) * m_w + x] == 0;
  }

  // Every change of a candidate goes through here, so the bit lines stay true.
  void SetCandidate(size_t i, uint8_t value) {
    m_cand[i] = value;
    if (value == 0 && !m_plain)
      m_lines.MarkStop(static_cast<int>(i % m_w), static_cast<int>(i / m_w));
  }

  int Cast(int x, int y, const CRay* rays, int count) {
    int values[16];
    int lengths[16];
    for (int r = 0; r < count; ++r) {
      const CRay& ray = rays[r];
      int px = x;
      int py = y;
      int length = 0;
      for (;;) {
        if (!m_plain && length == kWalkedSteps) {
          // (px, py) ends a whole step and did not stop: the rest of the ray
          // is the ray from there.
          length += Skip(ray, px, py);
          break;
        }
        ++length;
        if (ray.kind == keRayRowFirst) {
          py += ray.dr;
          if (Ends(px, py))
            break;
        } else if (ray.kind == keRayColumnFirst) {
          px += ray.dc;
          if (Ends(px, py))
            break;
        }
        px += ray.dc;
        py += ray.dr;
        if (Ends(px, py))
          break;
      }
      px = std::clamp(px, 0, m_w - 1);
      py = std::clamp(py, 0, m_h - 1);
      values[r] = m_matte[static_cast<size_t>(py) * m_w + px];
      lengths[r] = length;
    }
    return m_plain ? WeightedRayMeanPlain(values, lengths, count)
                   : WeightedRayMean(values, lengths, count);
  }

 private:
  // The length of the ray from interior (x, y), which does not stop there;
  // (x, y) becomes the position where it stops.
  int Skip(const CRay& ray, int& x, int& y) {
    int line = 0;
    int index = 0;
    if (ray.kind == keRayDiagonal) {
      const int layout = ray.dr == 0    ? keLayoutRow
                         : ray.dc == 0  ? keLayoutColumn
                         : ray.dr == ray.dc ? keLayoutDiagonal
                                            : keLayoutAnti;
      const int step = ray.dc != 0 ? ray.dc : ray.dr;  // the index is x unless the line is a column
      m_lines.Locate(layout, x, y, line, index);
      const int k = (m_lines.Find(layout, line, index + step, step) - index) * step;
      x += k * ray.dc;
      y += k * ray.dr;
      return k;
    }
    // Kinds r and c test a middle position a, then the step's end b; the a's
    // and the b's of a ray lie on two neighbouring lines of one layout.
    const bool rowFirst = ray.kind == keRayRowFirst;
    const int layout = rowFirst ? (ray.dr == ray.dc ? keLayoutRowFirstP : keLayoutRowFirstN)
                                : (ray.dr == ray.dc ? keLayoutColumnFirstP : keLayoutColumnFirstN);
    const int step = rowFirst ? ray.dc : ray.dr;
    const int ax = rowFirst ? x : x + ray.dc;
    const int ay = rowFirst ? y + ray.dr : y;
    int aLine = 0;
    int aIndex = 0;
    m_lines.Locate(layout, ax, ay, aLine, aIndex);
    m_lines.Locate(layout, x, y, line, index);
    const int ka = (m_lines.Find(layout, aLine, aIndex, step) - aIndex) * step + 1;
    const int kb = (m_lines.Find(layout, line, index + step, step) - index) * step;
    if (ka <= kb) {
      x = ax + (ka - 1) * ray.dc * (rowFirst ? 1 : 2);
      y = ay + (ka - 1) * ray.dr * (rowFirst ? 2 : 1);
      return ka;
    }
    x += kb * ray.dc * (rowFirst ? 1 : 2);
    y += kb * ray.dr * (rowFirst ? 2 : 1);
    return kb;
  }

  int m_w;
  int m_h;
  const uint8_t* m_matte;
  uint8_t* m_cand;
  bool m_plain;
  CStopperLines m_lines;
};

int HalfWidth(uint8_t label) { return label == kLabelSmall ? 1 : label == kLabelMedium ? 2 : 6; }

// Stage 6 the plain way: each window summed pixel by pixel.
void SmoothPlain(CPlane& matte, const CPlane& candidates) {
  const int w = matte.Width();
  const int h = matte.Height();
  for (int y = 0; y < h; ++y) {
    uint8_t* m = matte.Row(y);
    for (int x = 0; x < w; ++x) {
      if (!IsLabel(m[x]))
        continue;
      const int s = HalfWidth(m[x]);
      int sum = 0;
      int count = 0;
      for (int wy = std::max(0, y - s); wy <= std::min(h - 1, y + s); ++wy) {
        const uint8_t* c = candidates.Row(wy);
        for (int wx = std::max(0, x - s); wx <= std::min(w - 1, x + s); ++wx) {
          if (c[wx] != 0) {
            sum += c[wx];
            ++count;
          }
        }
      }
      m[x] = static_cast<uint8_t>(count != 0 ? sum / count : 0);
    }
  }
}

// Stage 6 with running sums: per half-width, column sums over the window's
// rows slide down the image, and a prefix over them answers each window.
class CWindowSums {
 public:
  CWindowSums(const CPlane& candidates, int halfWidth)
      : m_cand(candidates), m_s(halfWidth), m_colSum(candidates.Width(), 0),
        m_colCount(candidates.Width(), 0), m_prefixSum(candidates.Width() + 1, 0),
        m_prefixCount(candidates.Width() + 1, 0) {}

  // Moves the window to centre row y; rows are visited in order from 0.
  void Advance(int y) {
    const int h = m_cand.Height();
    if (y == 0) {
      for (int r = 0; r <= std::min(h - 1, m_s); ++r)
        AddRow(r, 1);
    } else {
      if (y + m_s < h)
        AddRow(y + m_s, 1);
      if (y - m_s - 1 >= 0)
        AddRow(y - m_s - 1, -1);
    }
    m_prefixReady = false;
  }

  // Mean of the nonzero candidates in the window around (x, current row).
  uint8_t Mean(int x) {
    const int w = m_cand.Width();
    if (!m_prefixReady) {
      for (int i = 0; i < w; ++i) {
        m_prefixSum[i + 1] = m_prefixSum[i] + m_colSum[i];
        m_prefixCount[i + 1] = m_prefixCount[i] + m_colCount[i];
      }
      m_prefixReady = true;
    }
    const int lo = std::max(0, x - m_s);
    const int hi = std::min(w - 1, x + m_s);
    const int64_t count = m_prefixCount[hi + 1] - m_prefixCount[lo];
    const int64_t sum = m_prefixSum[hi + 1] - m_prefixSum[lo];
    return static_cast<uint8_t>(count != 0 ? sum / count : 0);
  }

 private:
  void AddRow(int row, int sign) {
    const uint8_t* c = m_cand.Row(row);
    for (int x = 0; x < m_cand.Width(); ++x) {
      if (c[x] != 0) {
        m_colSum[x] += sign * c[x];
        m_colCount[x] += sign;
      }
    }
  }

  const CPlane& m_cand;
  int m_s;
  std::vector<int64_t> m_colSum;
  std::vector<int64_t> m_colCount;
  std::vector<int64_t> m_prefixSum;
  std::vector<int64_t> m_prefixCount;
  bool m_prefixReady = false;
};

// The numbered stages of a fill over one working copy of the matte; each
// answers false when the computation must stop.
class CHoleFill {
 public:
  CHoleFill(const CPlane& matte, const CPlane& marks, CProgressScale* progress)
      : m_w(matte.Width()),
        m_h(matte.Height()),
        m_scale(progress, m_h, kStageCount),
        m_work(matte),
        m_cand(m_w, m_h, 1, 0),
        m_m(m_work.Data()),
        m_c(m_cand.Data()),
        m_k(marks.Data()) {}

  // 1. Background reach: climbs from each background mark over non-opaque
  // pixels whose matte does not decrease. Marking a pixel when it is pushed
  // reaches the same pixels as marking it when popped, on a smaller stack.
  bool Reach(bool plain) {
    m_scale.Stage(0);
    for (int y = 0; y < m_h; ++y) {
      if (m_scale.Stop(y))
        return false;
      ForEachByteOf(m_k + At(0, y), m_w, keMarkBackground, [&](int x) {
        if (m_c[At(x, y)] == kReached)
          return;
        if (plain) {
          ReachFrom(x, y);
        } else {
          ReachRunsFrom(x, y);
        }
      });
    }
    return true;
  }

  // 2. Candidates: what the reach missed and is not opaque.
  bool Candidates() {
    m_scale.Stage(1);
    for (int y = 0; y < m_h; ++y) {
      if (m_scale.Stop(y))
        return false;
      // Masks, not branches, in these whole-row loops: they then go many
      // pixels at a time.
      uint8_t* c = m_c + At(0, y);
      const uint8_t* m = m_m + At(0, y);
      for (int x = 0; x < m_w; ++x)
        c[x] = ((c[x] != kReached) & (m[x] != 255)) ? kReached : 0;
    }
    m_scale.Stage(2);
    for (int y = 0; y < m_h; ++y) {
      if (m_scale.Stop(y))
        return false;
      uint8_t* m = m_m + At(0, y);
      for (int x = 0; x < m_w; ++x)
        m[x] = IsLabel(m[x]) ? 4 : m[x];
    }
    return true;
  }

  // 3. Size classes of the 4-connected candidate areas.
  bool SizeClasses() {
    m_scale.Stage(3);
    for (int y = 0; y < m_h; ++y) {
      if (m_scale.Stop(y))
        return false;
      // The floods relabel pixels further on, which the search then skips.
      ForEachByteOf(m_c + At(0, y), m_w, kReached, [&](int x) {
        const int pixels = FloodReplace(m_cand, x, y, kCounting, m_h, m_w, m_stack);
        FloodReplace(m_cand, x, y, SizeClass(pixels), m_h, m_w, m_stack);
      });
    }
    return true;
  }

  // 4. Interpolation from rays; large holes are served by one 16-ray cast per
  // 9 x 9 block.
  bool Interpolate(bool plain) {
    m_scale.Stage(4);
    CHoleFiller filler(m_work, m_cand, plain);
    for (int y = 0; y < m_h; ++y) {
      if (m_scale.Stop(y))
        return false;
      const uint8_t* c = m_c + At(0, y);
      for (int x = NextNonzero(c, 0, m_w); x < m_w; x = NextNonzero(c, x + 1, m_w)) {
        const size_t i = At(x, y);
        if (m_m[i] == kLabelLarge)
          continue;
        if (!OnBorder(x, y))
          Label(i);
        if (m_m[i] == kLabelLarge && m_c[i] == kClassLarge) {
          FillLargeBlock(filler, x, y);
        } else {
          filler.SetCandidate(i, static_cast<uint8_t>(filler.Cast(x, y, kRays8, 8)));
        }
      }
    }
    return true;
  }

  // 5. Border pixels take the labels of their inner neighbours.
  bool LabelBorders() {
    m_scale.Stage(5);
    for (int y = 0; y < m_h; ++y) {
      if (m_scale.Stop(y))
        return false;
      if (m_w < 2)
        continue;
      if (IsLabel(m_m[At(1, y)]))
        m_m[At(0, y)] = m_m[At(1, y)];
      if (IsLabel(m_m[At(m_w - 2, y)]))
        m_m[At(m_w - 1, y)] = m_m[At(m_w - 2, y)];
    }
    if (m_h >= 2) {
      for (int x = 0; x < m_w; ++x) {
        if (IsLabel(m_m[At(x, 1)]))
          m_m[At(x, 0)] = m_m[At(x, 1)];
        if (IsLabel(m_m[At(x, m_h - 2)]))
          m_m[At(x, m_h - 1)] = m_m[At(x, m_h - 2)];
      }
    }
    return true;
  }

  // 6. Smoothing of the labelled pixels into the matte.
  bool Smooth(bool plain) {
    m_scale.Stage(6);
    for (int y = 0; y < m_h; ++y) {
      if (m_scale.Stop(y))
        return false;
      uint8_t* c = m_c + At(0, y);
      const uint8_t* m = m_m + At(0, y);
      for (int x = 0; x < m_w; ++x)
        c[x] = m[x] > 3 ? m[x] : c[x];
    }
    m_scale.Stage(7);
    if (plain) {
      for (int y = 0; y < m_h; ++y) {
        if (m_scale.Stop(y))
          return false;
      }
      SmoothPlain(m_work, m_cand);
      return true;
    }
    CWindowSums windows[3] = {{m_cand, 1}, {m_cand, 2}, {m_cand, 6}};
    for (int y = 0; y < m_h; ++y) {
      if (m_scale.Stop(y))
        return false;
      if (!m_anyLabel)
        continue;
      for (CWindowSums& window : windows)
        window.Advance(y);
      uint8_t* row = m_work.Row(y);
      for (int x = 0; x < m_w; ++x) {
        if (IsLabel(row[x]))
          row[x] = windows[row[x] - 1].Mean(x);
      }
    }
    return true;
  }

  // The fill only ever raises the matte.
  bool KeepLarger(const CPlane& entry) {
    m_scale.Stage(8);
    for (int y = 0; y < m_h; ++y) {
      if (m_scale.Stop(y))
        return false;
      uint8_t* out = m_work.Row(y);
      const uint8_t* in = entry.Row(y);
      for (int x = 0; x < m_w; ++x)
        out[x] = std::max(out[x], in[x]);
    }
    return true;
  }

  CPlane TakeResult() { return std::move(m_work); }

 private:
  size_t At(int x, int y) const { return static_cast<size_t>(y) * m_w + x; }
  bool OnBorder(int x, int y) const { return x == 0 || y == 0 || x == m_w - 1 || y == m_h - 1; }

  void ReachFrom(int x, int y) {
    m_c[At(x, y)] = kReached;
    m_stack.push_back({x, y});
    while (!m_stack.empty()) {
      const CFloodSeed p = m_stack.back();
      m_stack.pop_back();
      const uint8_t v = m_m[At(p.x, p.y)];
      const CFloodSeed next[4] = {{p.x - 1, p.y}, {p.x + 1, p.y}, {p.x, p.y - 1}, {p.x, p.y + 1}};
      for (const CFloodSeed& n : next) {
        if (n.x < 0 || n.y < 0 || n.x >= m_w || n.y >= m_h)
          continue;
        const size_t i = At(n.x, n.y);
        if (m_m[i] >= v && m_m[i] != 255 && m_c[i] != kReached) {
          m_c[i] = kReached;
          m_stack.push_back(n);
        }
      }
    }
  }

  // The pixels ReachFrom reaches, a row run at a time. What is reached is
  // closed under stepping to a neighbour that is not opaque and not lower,
  // so the order of the steps does not matter. A seed is reached when it is
  // popped, and its run along the row then; a pixel below or above the run
  // is pushed when it may be stepped to, unless it also follows from the
  // pushed pixel to its left along the row.
  void ReachRunsFrom(int x, int y) {
    m_stack.push_back({x, y});
    while (!m_stack.empty()) {
      const CFloodSeed seed = m_stack.back();
      m_stack.pop_back();
      uint8_t* reached = m_c + At(0, seed.y);
      if (reached[seed.x] == kReached)
        continue;
      const uint8_t* m = m_m + At(0, seed.y);
      const auto steps = [&](int from, int to) {
        return reached[to] != kReached && m[to] != 255 && m[to] >= m[from];
      };
      reached[seed.x] = kReached;
      int right = seed.x;
      while (right + 1 < m_w && steps(right, right + 1))
        reached[++right] = kReached;
      int left = seed.x;
      while (left > 0 && steps(left, left - 1))
        reached[--left] = kReached;
      for (const int ny : {seed.y + 1, seed.y - 1}) {
        if (ny < 0 || ny >= m_h)
          continue;
        const uint8_t* next = m_m + At(0, ny);
        const uint8_t* nextReached = m_c + At(0, ny);
        bool previous = false;
        for (int nx = left; nx <= right; ++nx) {
          const bool stepped = nextReached[nx] != kReached && next[nx] != 255 && next[nx] >= m[nx];
          if (stepped && !(previous && next[nx] >= next[nx - 1]))
            m_stack.push_back({nx, ny});
          previous = stepped;
        }
      }
    }
  }

  void Label(size_t i) {
    if (m_c[i] == 1)
      m_m[i] = kLabelSmall;
    else if (m_c[i] >= 2 && m_c[i] <= 15)
      m_m[i] = kLabelMedium;
    else if (m_c[i] == kClassLarge)
      m_m[i] = kLabelLarge;
    m_anyLabel = m_anyLabel || IsLabel(m_m[i]);
  }

  void FillLargeBlock(CHoleFiller& filler, int x, int y) {
    const uint8_t mean = static_cast<uint8_t>(filler.Cast(x, y, kRays16, 16));
    for (int qy = std::max(0, y - 4); qy <= std::min(m_h - 1, y + 4); ++qy) {
      for (int qx = std::max(0, x - 4); qx <= std::min(m_w - 1, x + 4); ++qx) {
        const size_t q = At(qx, qy);
        if (m_c[q] != kClassLarge)
          continue;
        filler.SetCandidate(q, mean);
        if (!OnBorder(qx, qy))
          m_m[q] = kLabelLarge;
      }
    }
  }

  const int m_w;
  const int m_h;
  CChildProgress m_scale;
  CPlane m_work;
  CPlane m_cand;
  uint8_t* const m_m;
  uint8_t* const m_c;
  const uint8_t* const m_k;
  CFloodStack m_stack;
  bool m_anyLabel = false;
};

CoreResult FillHolesImpl(CPlane& matte, const CPlane& marks, CProgressScale* progress, bool plain) {
  if (matte.BytesPerPixel() != 1 || marks.BytesPerPixel() != 1 ||
      marks.Width() != matte.Width() || marks.Height() != matte.Height())
    return MakeResult(keErrInvalidArgument);
  // The caller's matte stays as it was until the end: it is the entry copy,
  // and a stop leaves it untouched.
  CHoleFill fill(matte, marks, progress);
  if (!fill.Reach(plain) || !fill.Candidates() || !fill.SizeClasses() || !fill.Interpolate(plain) ||
      !fill.LabelBorders() || !fill.Smooth(plain) || !fill.KeepLarger(matte))
    return MakeResult(keErrAborted);
  matte = fill.TakeResult();
  return CoreResult();
}

}  // namespace

int WeightedRayMeanPlain(const int* values, const int* lengths, int count) {
  if (count <= 0)
    return 0;
  // With D the product of all lengths: sum(v / l) = A / D, sum(1 / l) = B / D,
  // and the answer is the largest n with n * B <= A.
  CBigNat a;
  CBigNat b;
  for (int i = 0; i < count; ++i) {
    CBigNat others(1);
    for (int j = 0; j < count; ++j) {
      if (j != i)
        others.MulSmall(static_cast<uint32_t>(lengths[j]));
    }
    b.Add(others);
    others.MulSmall(static_cast<uint32_t>(values[i]));
    a.Add(others);
  }
  int lo = 0;
  int hi = 255;
  while (lo < hi) {
    const int mid = (lo + hi + 1) / 2;
    CBigNat scaled = b;
    scaled.MulSmall(static_cast<uint32_t>(mid));
    if (scaled.Compare(a) <= 0)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

int WeightedRayMean(const int* values, const int* lengths, int count) {
  if (count <= 0)
    return 0;
  bool equal = true;
  for (int i = 1; i < count && equal; ++i)
    equal = values[i] == values[0];
  if (equal)
    return values[0];
  // All terms are positive, so the double quotient is within about 1e-12 of
  // the true one; only a quotient that close to an integer needs exact work.
  double a = 0.0;
  double b = 0.0;
  for (int i = 0; i < count; ++i) {
    a += values[i] / static_cast<double>(lengths[i]);
    b += 1.0 / static_cast<double>(lengths[i]);
  }
  const double quotient = a / b;
  const double whole = std::floor(quotient);
  const double fraction = quotient - whole;
  if (fraction > 1e-9 && fraction < 1.0 - 1e-9)
    return std::clamp(static_cast<int>(whole), 0, 255);
  return WeightedRayMeanPlain(values, lengths, count);
}

CoreResult FillHoles(CPlane& matte, const CPlane& marks, CProgressScale* progress) {
  return FillHolesImpl(matte, marks, progress, false);
}

CoreResult FillHolesReference(CPlane& matte, const CPlane& marks) {
  return FillHolesImpl(matte, marks, nullptr, true);
}

CoreResult FillHoles(CCoreImage& matte, CCoreImage& marks, CProgressScale* progress) {
  if (matte.ViewFormat() != keFormatGrey || marks.ViewFormat() != keFormatGrey)
    return MakeResult(keErrInvalidArgument);
  CPlane plane = ReadPlane(matte);
  CoreResult result = FillHoles(plane, ReadPlane(marks), progress);
  if (result.IsNull())
    WritePlane(plane, matte);
  return result;
}
