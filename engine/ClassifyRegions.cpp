#include "engine/ClassifyRegions.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <sys/mman.h>

#include "engine/Marks.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"

namespace {

// Grid value of a pixel no region has taken; above every colour distance.
constexpr uint16_t kUnreached = 2000;
// Nested spans per region. A span at the last level is filled but grows no
// further, which bounds the walk's stack.
constexpr int kMaxDepth = 2000;

// Working storage that is written before it is read, so it is never
// cleared. Large buffers ask for transparent huge pages: with 4 KiB pages the
// first touch of every page costs a fault, which for a big picture takes
// longer than the classification itself.
template <typename T>
class CScratch {
 public:
  explicit CScratch(size_t count) {
    constexpr size_t kHugePage = size_t{2} << 20;
    const size_t bytes = std::max<size_t>(count * sizeof(T), 1);
    if (bytes >= kHugePage) {
      const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
      m_data.reset(static_cast<T*>(std::aligned_alloc(kHugePage, rounded)));
      if (m_data) madvise(m_data.get(), rounded, MADV_HUGEPAGE);
    } else {
      m_data.reset(static_cast<T*>(std::malloc(bytes)));
    }
    if (!m_data) ThrowIfFailed(keErrOutOfMemory);
  }
  T* Data() { return m_data.get(); }
  const T* Data() const { return m_data.get(); }
  T& operator[](size_t i) { return m_data[i]; }
  const T& operator[](size_t i) const { return m_data[i]; }

 private:
  struct CFree {
    void operator()(T* p) const { std::free(p); }
  };
  std::unique_ptr<T[], CFree> m_data;
};

// A flat copy of the image's rows in its view format.
CScratch<uint8_t> ReadRows(CCoreImage& image, int bytesPerPixel) {
  const size_t stride = static_cast<size_t>(image.Width()) * bytesPerPixel;
  CScratch<uint8_t> flat(stride * image.Height());
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = nullptr;
    image.GetRow(y, row);
    std::memcpy(flat.Data() + stride * y, row, stride);
    image.ReleaseRow(y);
  }
  return flat;
}

// What the second pass leaves for a pixel of target; the last region wins.
enum : uint8_t {
  kUntouched = 0,
  kColourOnly = 1,  // reached only by regions that met no mark: alpha stays
  kErase = 2,
  kKeep = 3,
};

inline int Distance(const uint8_t* p, int b, int g, int r) {
  const int d0 = p[0] - b;
  const int d1 = p[1] - g;
  const int d2 = p[2] - r;
  const int hi = std::max(std::max(d0, d1), std::max(d2, 0));
  const int lo = std::min(std::min(d0, d1), std::min(d2, 0));
  return hi - lo;
}

// One region at a time, grown span by span over a flat copy whose pixels
// hold blue, green, red and the texture value, so one load serves a test. The spans are
// walked with an explicit stack in exactly the order of the recursive fill
// (extend, record, forward row, backward row outside the parent's span), so
// the region list comes out in the same order and the thread's stack stays
// small whatever the image.
class CRegionGrower {
 public:
  CRegionGrower(int width, int height, uint16_t* grid, int32_t* list)
      : m_width(width), m_height(height), m_grid(grid), m_list(list),
        m_stack(kMaxDepth) {}

  void SetColours(const uint8_t* colours) { m_colours = colours; }

  // The region's pixels end up in List()[0, Count()) in the order they were
  // taken; with kSum the colour sums of the grown-on copy come along.
  template <bool kSum>
  void Grow(int x, int y, const uint8_t* seedColour, const int* limit) {
    m_b = seedColour[0];
    m_g = seedColour[1];
    m_r = seedColour[2];
    m_limit = limit;
    m_count = 0;
    m_sum[0] = m_sum[1] = m_sum[2] = 0;

    int top = 0;
    const size_t seed = static_cast<size_t>(y) * m_width + x;
    Enter<kSum>(x, y, Distance(m_colours + 4 * seed, m_b, m_g, m_r), 1, x, x, m_stack[0]);
    for (;;) {
      CFrame& f = m_stack[top];
      if (f.phase < 3) {
        // Phase 0 scans the forward row over the span; phases 1 and 2 the
        // backward row left and right of the parent's span.
        const int dir = f.phase == 0 ? f.dir : -f.dir;
        const int ny = f.y + dir;
        if (top + 1 < kMaxDepth && ny >= 0 && ny < m_height) {
          const int end = f.phase == 1 ? f.parentLeft : f.right;
          const size_t row = static_cast<size_t>(ny) * m_width;
          int nx = f.x;
          int a = -1;
          while (nx <= end && (a = Test(row + nx)) < 0) ++nx;
          if (nx <= end) {
            ++top;
            Enter<kSum>(nx, ny, a, dir, f.left, f.right, m_stack[top]);
            continue;
          }
        }
        ++f.phase;
        f.x = f.phase == 1 ? f.left : f.parentRight;
        continue;
      }
      if (top == 0) break;
      const int right = f.right;
      --top;
      m_stack[top].x = right + 1;  // the scan goes on after the child's span
    }
  }

  int Count() const { return m_count; }
  const int32_t* List() const { return m_list; }
  const int64_t* Sums() const { return m_sum; }

 private:
  struct CFrame {
    int y;
    int dir;
    int parentLeft;
    int parentRight;
    int left;
    int right;
    int x;      // next pixel the current phase scans
    int phase;  // 0 forward row, 1 and 2 backward row, 3 done
  };

  // The distance of pixel i to the seed if the pixel is taken, else -1.
  // Both conditions fold into one comparison, as the table holds T + 1.
  int Test(size_t i) const {
    const int a = Distance(m_colours + 4 * i, m_b, m_g, m_r);
    const int limit = std::min<int>(m_limit[m_colours[4 * i + 3]], m_grid[i]);
    return a < limit ? a : -1;
  }

  // The grid may take the distance at once: no other test of this span's
  // extension reads the pixel again before the span is recorded.
  bool Take(size_t i) {
    const int a = Test(i);
    if (a < 0) return false;
    m_grid[i] = static_cast<uint16_t>(a);
    return true;
  }

  template <bool kSum>
  void Enter(int x, int y, int distance, int dir, int parentLeft, int parentRight, CFrame& frame) {
    const size_t row = static_cast<size_t>(y) * m_width;
    int left = x;
    while (left > 0 && Take(row + left - 1)) --left;
    int right = x;
    while (right + 1 < m_width && Take(row + right + 1)) ++right;
    // The start pixel belongs to the span untested; in the first pass a
    // painted seed may lie farther from its own mean than the grid says.
    m_grid[row + x] = static_cast<uint16_t>(distance);

    int32_t* out = m_list + m_count;
    const int32_t first = static_cast<int32_t>(row) + left;
    const int n = right - left + 1;
    for (int i = 0; i < n; ++i) out[i] = first + i;
    m_count += n;
    if constexpr (kSum) {
      int64_t s0 = 0, s1 = 0, s2 = 0;
      const uint8_t* p = m_colours + 4 * (row + left);
      for (int i = 0; i < n; ++i, p += 4) {
        s0 += p[0];
        s1 += p[1];
        s2 += p[2];
      }
      m_sum[0] += s0;
      m_sum[1] += s1;
      m_sum[2] += s2;
    }
    frame = CFrame{y, dir, parentLeft, parentRight, left, right, left, 0};
  }

  const int m_width;
  const int m_height;
  uint16_t* const m_grid;
  int32_t* const m_list;
  const uint8_t* m_colours = nullptr;
  const int* m_limit = nullptr;
  int m_b = 0;
  int m_g = 0;
  int m_r = 0;
  int m_count = 0;
  int64_t m_sum[3] = {0, 0, 0};
  std::vector<CFrame> m_stack;
};

// The threshold depends only on the tolerance and the two textures, so each
// (seed kind, seed texture) gets its table over the candidate's texture once.
// The tables hold T + 1, the smallest distance that is refused.
class CLimitTables {
 public:
  CLimitTables(int strength, int textureRange)
      : m_tol{strength, ObjectTolerance(strength)}, m_range(textureRange),
        m_values(2 * 256 * 256), m_ready(2 * 256, 0) {}

  const int* Get(bool object, int seedTexture) {
    const int k = (object ? 256 : 0) + seedTexture;
    int* table = m_values.data() + static_cast<size_t>(k) * 256;
    if (!m_ready[k]) {
      for (int s = 0; s < 256; ++s) table[s] = AcceptanceThreshold(m_tol[object], s, seedTexture, m_range) + 1;
      m_ready[k] = 1;
    }
    return table;
  }

 private:
  const int m_tol[2];
  const int m_range;
  std::vector<int> m_values;
  std::vector<uint8_t> m_ready;
};

int BytesPerPixel(CCoreImage& image) { return FormatBitsPerPixel(image.ViewFormat()) / 8; }

uint8_t MeanChannel(int64_t sum, int count) {
  const double mean = std::trunc(static_cast<double>(sum) / count + 0.5);
  return static_cast<uint8_t>(std::clamp(mean, 0.0, 255.0));
}

// Walks the region list in order; a mixed region is settled by the very next
// pixel of the list.
int DecideState(const int32_t* list, int count, const uint8_t* marks) {
  int state = 3;
  for (int k = 0; k < count; ++k) {
    const uint8_t mark = marks[list[k]];
    if (state == 2) return mark == keMarkBackground ? 0 : mark == keMarkObject ? 1 : 2;
    if (mark == keMarkBackground) {
      state = state == 1 ? 2 : 0;
    } else if (mark == keMarkObject) {
      state = state == 0 ? 2 : 1;
    }
  }
  return state;
}

}  // namespace

int ColourDistance(const uint8_t* p, const uint8_t* q) { return Distance(p, q[0], q[1], q[2]); }

int AcceptanceThreshold(int tol, int candidateTexture, int seedTexture, int textureRange) {
  const int floorT = std::min(tol, 25);
  const int t = candidateTexture > floorT ? candidateTexture : floorT;
  const int ds = std::abs(candidateTexture - seedTexture);
  const double range = textureRange + 1.0;
  double value = (1.0 - ds / range) * t * tol * (2.5 / range);
  // Only absurd tolerances get here; they must not overflow the conversion.
  if (!(value > -1e6)) value = -1e6;
  if (value > 1e6) value = 1e6;
  return static_cast<int>(value);
}

int ObjectTolerance(int strength) { return static_cast<int>(strength * 0.6666666666666666); }

void ClassifyRegions(CCoreImage& colourSource, CCoreImage& target, CCoreImage& texture,
                     CCoreImage& marks, int strength, int textureRange) {
  const int width = colourSource.Width();
  const int height = colourSource.Height();
  const bool fits = BytesPerPixel(colourSource) == 4 && BytesPerPixel(target) == 4 &&
                    BytesPerPixel(texture) == 1 && BytesPerPixel(marks) == 1 &&
                    target.Width() == width && target.Height() == height &&
                    texture.Width() == width && texture.Height() == height &&
                    marks.Width() == width && marks.Height() == height && textureRange >= 0 &&
                    static_cast<int64_t>(width) * height <= INT32_MAX;
  if (!fits) ThrowIfFailed(keErrInvalidArgument);
  if (width <= 0 || height <= 0) return;
  const size_t pixels = static_cast<size_t>(width) * height;

  // source: the colours grown on in the first pass and copied into target;
  // painted: the copy that the first pass flattens to region means. Byte 3
  // of both carries the texture once the alpha has served the seed test.
  CScratch<uint8_t> source = ReadRows(colourSource, 4);
  const CScratch<uint8_t> marksCopy = ReadRows(marks, 1);
  const uint8_t* mark = marksCopy.Data();

  // Background marks on transparent pixels never seed.
  std::vector<int32_t> candidates;
  for (size_t i = 0; i < pixels; ++i) {
    if (mark[i] == keMarkObject || (mark[i] == keMarkBackground && source[4 * i + 3] != 0)) {
      candidates.push_back(static_cast<int32_t>(i));
    }
  }
  for (int y = 0; y < height; ++y) {
    uint8_t* row = nullptr;
    texture.GetRow(y, row);
    uint8_t* p = source.Data() + static_cast<size_t>(y) * width * 4 + 3;
    for (int x = 0; x < width; ++x) p[4 * x] = row[x];
    texture.ReleaseRow(y);
  }
  CScratch<uint8_t> painted(pixels * 4);
  std::memcpy(painted.Data(), source.Data(), pixels * 4);

  CScratch<uint16_t> grid(pixels);
  std::fill_n(grid.Data(), pixels, kUnreached);
  CScratch<int32_t> list(pixels);
  CRegionGrower grower(width, height, grid.Data(), list.Data());
  CLimitTables limits(strength, textureRange);

  // Reached is judged when the scan gets to the pixel, so regions grown
  // earlier in the same pass count.
  auto isSeed = [&](int32_t i) { return mark[i] == keMarkObject || grid[i] == kUnreached; };

  // First pass: every region grows on the unflattened colours; its seed
  // colour comes from the copy being painted.
  grower.SetColours(source.Data());
  uint8_t* paint = painted.Data();
  for (const int32_t i : candidates) {
    if (!isSeed(i)) continue;
    uint8_t seedColour[3];
    std::memcpy(seedColour, paint + 4 * static_cast<size_t>(i), 3);
    const int* limit = limits.Get(mark[i] == keMarkObject, source[4 * static_cast<size_t>(i) + 3]);
    grower.Grow<true>(i % width, i / width, seedColour, limit);
    const int count = grower.Count();
    const uint8_t mean[3] = {MeanChannel(grower.Sums()[0], count), MeanChannel(grower.Sums()[1], count),
                             MeanChannel(grower.Sums()[2], count)};
    const int32_t* members = grower.List();
    for (int k = 0; k < count; ++k) std::memcpy(paint + 4 * static_cast<size_t>(members[k]), mean, 3);
  }

  // Second pass: grow again on the flattened colours and decide each region
  // from the marks it holds.
  grower.SetColours(painted.Data());
  std::fill_n(grid.Data(), pixels, kUnreached);
  CScratch<uint8_t> decision(pixels);
  std::fill_n(decision.Data(), pixels, kUntouched);
  for (const int32_t i : candidates) {
    if (!isSeed(i)) continue;
    const int* limit = limits.Get(mark[i] == keMarkObject, source[4 * static_cast<size_t>(i) + 3]);
    grower.Grow<false>(i % width, i / width, paint + 4 * static_cast<size_t>(i), limit);
    const int count = grower.Count();
    const int32_t* members = grower.List();
    const int state = DecideState(members, count, mark);
    if (state == 3) {
      for (int k = 0; k < count; ++k) {
        uint8_t& d = decision[members[k]];
        if (d == kUntouched) d = kColourOnly;
      }
    } else if (state == 1) {
      for (int k = 0; k < count; ++k) {
        decision[members[k]] = mark[members[k]] == keMarkBackground ? kErase : kKeep;
      }
    } else {  // background and mixed alike keep only object-marked pixels
      for (int k = 0; k < count; ++k) {
        decision[members[k]] = mark[members[k]] == keMarkObject ? kKeep : kErase;
      }
    }
  }

  for (int y = 0; y < height; ++y) {
    const uint8_t* d = decision.Data() + static_cast<size_t>(y) * width;
    if (std::all_of(d, d + width, [](uint8_t v) { return v == kUntouched; })) continue;
    const uint8_t* src = source.Data() + static_cast<size_t>(y) * width * 4;
    uint8_t* row = nullptr;
    target.GetRow(y, row);
    for (int x = 0; x < width; ++x) {
      if (d[x] == kUntouched) continue;
      uint8_t* p = row + 4 * x;
      std::memcpy(p, src + 4 * x, 3);
      if (d[x] != kColourOnly) p[3] = d[x] == kKeep ? 255 : 0;
    }
    target.ReleaseRow(y);
  }
}
