#include "engine/ClassifyRegions.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__) && !defined(KELVANE_SCALAR_ONLY)
#include <emmintrin.h>
#define KELVANE_FOUR_AT_ONCE 1
#endif

#include "engine/Marks.h"
#include "engine/Plane.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/PageBuffer.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

// Pixels are handled as 32-bit words whose low byte is channel 0.
static_assert(std::endian::native == std::endian::little);

namespace {

// Grid value of a pixel no region has taken; above every colour distance.
constexpr uint16_t kUnreached = 2000;
// Largest limit a byte grid serves exactly.
constexpr int kByteGridMostLimit = 254;

// The grid holds for each pixel the distance at which the last region took
// it, or the kind's unreached value. A byte serves when no limit exceeds
// kByteGridMostLimit: taken distances lie below every limit, and a seed's own
// distance, kept at most kMost, still compares alike with every limit.
template <typename Grid>
struct CGridKind;
template <>
struct CGridKind<uint16_t> {
  static constexpr uint16_t kUnreached = ::kUnreached;
  static constexpr int kMost = ::kUnreached - 1;
};
template <>
struct CGridKind<uint8_t> {
  static constexpr uint8_t kUnreached = 255;
  static constexpr int kMost = kByteGridMostLimit;
};
// Nested spans per region. A span at the last level is filled but grows no
// further, which bounds the walk's stack.
constexpr int kMaxDepth = 2000;
// Elements after the pixel and grid buffers that tests of several pixels at
// once may read.
constexpr size_t kPad = 8;
// The same for the byte buffers (marks, decisions), read 16 at a time.
constexpr size_t kBytePad = 16;

constexpr uint32_t kColourBits = 0x00FFFFFFu;
static_assert(keMarkNone == 2);

// Working storage that is written before it is read, so it is never
// cleared. Storage that is written whole has its pages made present at once;
// storage that is used sparsely (the spans) keeps its lazy pages.
enum class keScratchUse { keFilledWhole, keSparse };

template <typename T>
class CScratch {
 public:
  // pad elements before and after the count are zeroed, so that reads of a
  // few elements past either end stay inside the buffer.
  explicit CScratch(size_t count, size_t pad = 0, keScratchUse use = keScratchUse::keFilledWhole)
      : m_pad(pad), m_buffer(std::max<size_t>((count + 2 * pad) * sizeof(T), 1), use == keScratchUse::keSparse) {
    std::memset(static_cast<void*>(Begin()), 0, pad * sizeof(T));
    std::memset(static_cast<void*>(Begin() + pad + count), 0, pad * sizeof(T));
  }

  T* Data() { return Begin() + m_pad; }
  const T* Data() const { return reinterpret_cast<const T*>(m_buffer.Data()) + m_pad; }
  T& operator[](size_t i) { return Data()[i]; }
  const T& operator[](size_t i) const { return Data()[i]; }

 private:
  T* Begin() { return reinterpret_cast<T*>(m_buffer.Data()); }

  size_t m_pad;
  CPageBuffer m_buffer;
};

// A flat copy of the image's rows in its view format. The copies, like the
// other whole-image passes around the walk, run in bands: on fresh pages a
// copy costs what its first touch costs, and two cores halve that.
template <typename T>
CScratch<T> ReadRows(CCoreImage& image, size_t pad = 0) {
  const size_t width = static_cast<size_t>(image.Width());
  CScratch<T> flat(width * image.Height(), pad);
  T* out = flat.Data();
  ForEachRowInBands(image.Height(), image.HasRowCache(), [&](int y) {
    const CRowLease row(image, y);
    std::memcpy(out + width * y, row.Data(), width * sizeof(T));
  });
  return flat;
}

inline int Distance(uint32_t pixel, int b, int g, int r) {
  const int d0 = static_cast<int>(pixel & 0xFF) - b;
  const int d1 = static_cast<int>((pixel >> 8) & 0xFF) - g;
  const int d2 = static_cast<int>((pixel >> 16) & 0xFF) - r;
  const int hi = std::max(std::max(d0, d1), std::max(d2, 0));
  const int lo = std::min(std::min(d0, d1), std::min(d2, 0));
  return hi - lo;
}

// A marked pixel that may start a region.
struct CSeed {
  int32_t index;
  bool object;
};

// Pixels of one row, first .. first + length - 1, in the order taken.
struct CSpan {
  int32_t first;
  int32_t length;
};

#if KELVANE_FOUR_AT_ONCE
// All bits in the first n bytes; none when n <= 0, all when n >= 16.
inline __m128i FirstBytes(int n) {
  static constexpr int8_t kOnes[32] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kOnes + 16 - std::clamp(n, 0, 16)));
}

// The same for the first n 32-bit lanes, and for the first n 16-bit lanes.
inline __m128i FirstLanes(int n) { return FirstBytes(4 * std::clamp(n, 0, 4)); }
inline __m128i FirstShortLanes(int n) { return FirstBytes(2 * std::clamp(n, 0, 8)); }
#endif

// Where a grower keeps its grid: an array of its own, or the top byte of the
// pixel words grown on, where that copy needs no texture.
template <typename Grid>
class CGridArray {
 public:
  using Kind = CGridKind<Grid>;
  explicit CGridArray(Grid* grid) : m_grid(grid) {}
  int At(size_t i) const { return m_grid[i]; }
  void Set(size_t i, int value) { m_grid[i] = static_cast<Grid>(value); }
#if KELVANE_FOUR_AT_ONCE
  // Values of pixels i .. i + 7 in the eight 16-bit lanes (low and high:
  // the pixel words, unused here).
  __m128i EightLanes(ptrdiff_t i, __m128i /*low*/, __m128i /*high*/) const {
    if constexpr (sizeof(Grid) == 2) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_grid + i));
    } else {
      return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(m_grid + i)), _mm_setzero_si128());
    }
  }
  // Byte grids get lanes that fit a byte: taken distances lie below a limit.
  void StoreEightLanes(ptrdiff_t i, __m128i lanes) {
    if constexpr (sizeof(Grid) == 2) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(m_grid + i), lanes);
    } else {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(m_grid + i), _mm_packus_epi16(lanes, lanes));
    }
  }
#endif

 private:
  Grid* m_grid;
};

class CGridInTopBytes {
 public:
  using Kind = CGridKind<uint8_t>;
  explicit CGridInTopBytes(uint32_t* words) : m_words(words) {}
  int At(size_t i) const { return static_cast<int>(m_words[i] >> 24); }
  void Set(size_t i, int value) {
    m_words[i] = (m_words[i] & kColourBits) | (static_cast<uint32_t>(value) << 24);
  }
#if KELVANE_FOUR_AT_ONCE
  // low and high are the words i .. i + 7 as loaded: the walk grows on them.
  __m128i EightLanes(ptrdiff_t /*i*/, __m128i low, __m128i high) const {
    return _mm_packs_epi32(_mm_srli_epi32(low, 24), _mm_srli_epi32(high, 24));
  }
  void StoreEightLanes(ptrdiff_t i, __m128i lanes) {
    const __m128i colour = _mm_set1_epi32(static_cast<int>(kColourBits));
    __m128i* low = reinterpret_cast<__m128i*>(m_words + i);
    __m128i* high = reinterpret_cast<__m128i*>(m_words + i + 4);
    const __m128i topLow = _mm_slli_epi32(_mm_unpacklo_epi16(lanes, _mm_setzero_si128()), 24);
    const __m128i topHigh = _mm_slli_epi32(_mm_unpackhi_epi16(lanes, _mm_setzero_si128()), 24);
    _mm_storeu_si128(low, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(low), colour), topLow));
    _mm_storeu_si128(high, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(high), colour), topHigh));
  }
#endif

 private:
  uint32_t* m_words;
};

// For the region growing now, whether each pixel would be taken, 64 pixels
// to a word. A word is evaluated when the walk first reaches it in a region,
// and spans clear their bits as they take pixels. Since a pixel's test reads
// nothing but the pixel and its own grid value, every span is then exactly
// the run of set bits through its start, and a scan is a search for the next
// set bit: the walk takes the same pixels in the same order as testing pixel
// by pixel, with most of the tests done a block at a time and free of
// branches.
class CTakeableBits {
 public:
  explicit CTakeableBits(size_t pixels)
      : m_pixels(pixels), m_words((pixels + 63) / 64), m_bits(m_words), m_stamps(m_words) {
    std::memset(m_stamps.Data(), 0, m_words);
  }

  size_t Pixels() const { return m_pixels; }

  // Every word goes stale for the next region.
  void NextRegion() {
    if (++m_generation == 0) {
      std::memset(m_stamps.Data(), 0, m_words);
      m_generation = 1;
    }
  }

  // The word holding pixels 64 w .. 64 w + 63, evaluated by evaluate(first
  // pixel) if it is stale.
  template <typename Evaluate>
  uint64_t& Word(size_t w, Evaluate&& evaluate) {
    uint64_t& bits = m_bits[w];
    if (m_stamps[w] != m_generation) {
      bits = evaluate(w * 64);
      m_stamps[w] = m_generation;
    }
    return bits;
  }

 private:
  size_t m_pixels;
  size_t m_words;
  CScratch<uint64_t> m_bits;
  CScratch<uint8_t> m_stamps;  // generation each word was evaluated in
  uint8_t m_generation = 0;
};

// One region at a time, grown span by span over a flat copy whose words hold
// blue, green, red and, in the top byte, the texture, so one load serves a
// test. The spans are walked with an explicit stack in exactly the order of
// the recursive fill (extend, record, forward row, backward row outside the
// parent's span), so the region comes out in the same order and the thread's
// stack stays small whatever the image.
//
// With SSE2 four neighbouring pixels are tested at once. Tests have no side
// effects, so testing a few pixels more and ignoring them changes nothing;
// the pixel and grid buffers carry kPad elements after the image so that
// such reads stay inside them.
template <typename Store>
class CRegionGrower {
 public:
  CRegionGrower(int width, int height, Store grid, CSpan* spans, CTakeableBits& takeable)
      : m_width(width), m_height(height), m_grid(grid), m_spans(spans), m_takeable(takeable),
        m_stack(kMaxDepth) {}

  // The words grown on, and the words whose top byte is the texture (often
  // the same).
  void SetPixels(const uint32_t* pixels, const uint32_t* textures) {
    m_pixels = pixels;
    m_textures = textures;
  }

  // The region's spans end up in Spans()[0, SpanCount()); with kSum the
  // colour sums of the grown-on copy come along.
  template <bool kSum>
  void Grow(int x, int y, uint32_t seedColour, const int16_t* limit) {
    m_b = static_cast<int>(seedColour & 0xFF);
    m_g = static_cast<int>((seedColour >> 8) & 0xFF);
    m_r = static_cast<int>((seedColour >> 16) & 0xFF);
    m_limit = limit;
#if KELVANE_FOUR_AT_ONCE
    const uint32_t seedWord = seedColour & kColourBits;
    m_seedLow = _mm_set1_epi32(static_cast<int>(seedWord));
    m_seedHigh = _mm_set1_epi32(static_cast<int>(seedWord | 0xFF000000u));
#endif
    m_count = 0;
    m_spanCount = 0;
    m_takeable.NextRegion();
#if KELVANE_FOUR_AT_ONCE
    m_sumVec[0] = m_sumVec[1] = m_sumVec[2] = _mm_setzero_si128();
#else
    m_sum[0] = m_sum[1] = m_sum[2] = 0;
#endif

    int top = 0;
    const size_t seed = static_cast<size_t>(y) * m_width + x;
    Enter<kSum>(x, y, 1, x, x, 0, m_stack[0]);
    // The seed belongs to its region untested; in the first pass a painted
    // seed may lie farther from its own mean than the grid holds.
    m_grid.Set(seed, std::min(Distance(m_pixels[seed], m_b, m_g, m_r), Store::Kind::kMost));
    for (;;) {
      CFrame& f = m_stack[top];
      // Phase 0 scans the forward row over the span; phases 1 and 2 the
      // backward row left and right of the parent's span.
      bool entered = false;
      while (!entered && f.phase < 3) {
        const int end = f.end[f.phase];
        const int row = f.phase == 0 ? f.y + f.dir : f.y - f.dir;
        const int nx = FindTaken(static_cast<size_t>(row) * m_width, f.x, end);
        if (nx <= end) {
          const int dir = f.phase == 0 ? f.dir : -f.dir;
          ++top;
          Enter<kSum>(nx, row, dir, f.left, f.right, top, m_stack[top]);
          entered = true;
        } else if (++f.phase < 3) {
          f.x = f.start[f.phase];
        }
      }
      if (entered) continue;
      if (top == 0) break;
      const int right = f.right;
      --top;
      m_stack[top].x = right + 1;  // the scan goes on after the child's span
    }
  }

  int Count() const { return m_count; }
  int SpanCount() const { return m_spanCount; }
  const CSpan* Spans() const { return m_spans; }
  // Colour sums of the region, channels 0..2 (only after Grow<true>).
  void Sums(int64_t* sums) const {
#if KELVANE_FOUR_AT_ONCE
    for (int c = 0; c < 3; ++c) {
      alignas(16) int64_t halves[2];
      _mm_store_si128(reinterpret_cast<__m128i*>(halves), m_sumVec[c]);
      sums[c] = halves[0] + halves[1];
    }
#else
    std::copy_n(m_sum, 3, sums);
#endif
  }

 private:
  struct CFrame {
    int y;
    int dir;
    int left;
    int right;
    int phase;     // 0 forward row, 1 and 2 backward row, 3 done
    int x;         // next pixel the current phase scans
    int start[3];  // first and last pixel each phase scans; an empty range
    int end[3];    // where the row is outside the image or too deep
  };

  int Limit(size_t i) const { return std::min<int>(m_limit[m_textures[i] >> 24], m_grid.At(i)); }

  // The distance of pixel i to the seed if the pixel is taken, else -1.
  // Both conditions fold into one comparison, as the table holds T + 1.
  int Test(size_t i) const {
    const int a = Distance(m_pixels[i], m_b, m_g, m_r);
    return a < Limit(i) ? a : -1;
  }

#if KELVANE_FOUR_AT_ONCE
  // Distances of the four pixels in v to the seed, in 32-bit lanes. The
  // saturating differences give the positive and the negative parts of the
  // channel differences; the texture byte drops out of both.
  __m128i Distances32(__m128i v) const {
    __m128i up = _mm_subs_epu8(v, m_seedHigh);
    __m128i down = _mm_subs_epu8(m_seedLow, v);
    up = _mm_max_epu8(up, _mm_srli_epi32(up, 8));
    up = _mm_max_epu8(up, _mm_srli_epi32(up, 16));
    down = _mm_max_epu8(down, _mm_srli_epi32(down, 8));
    down = _mm_max_epu8(down, _mm_srli_epi32(down, 16));
    const __m128i low = _mm_set1_epi32(0xFF);
    return _mm_add_epi32(_mm_and_si128(up, low), _mm_and_si128(down, low));
  }

  // Bit k set when pixel i + k (k < 8) would be taken.
  unsigned TakenOfEight(size_t i) const {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_pixels + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_pixels + i + 4));
    const uint8_t* texture = reinterpret_cast<const uint8_t*>(m_textures + i) + 3;
    __m128i limit = _mm_cvtsi32_si128(m_limit[texture[0]]);
    limit = _mm_insert_epi16(limit, m_limit[texture[4]], 1);
    limit = _mm_insert_epi16(limit, m_limit[texture[8]], 2);
    limit = _mm_insert_epi16(limit, m_limit[texture[12]], 3);
    limit = _mm_insert_epi16(limit, m_limit[texture[16]], 4);
    limit = _mm_insert_epi16(limit, m_limit[texture[20]], 5);
    limit = _mm_insert_epi16(limit, m_limit[texture[24]], 6);
    limit = _mm_insert_epi16(limit, m_limit[texture[28]], 7);
    const __m128i limitOrGrid = _mm_min_epi16(limit, m_grid.EightLanes(static_cast<ptrdiff_t>(i), low, high));
    const __m128i distance = _mm_packs_epi32(Distances32(low), Distances32(high));
    const __m128i taken = _mm_cmplt_epi16(distance, limitOrGrid);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(taken, taken))) & 0xFFu;
  }
#endif

  // Bits of pixels 64 w .. 64 w + 63 that would be taken now.
  uint64_t& Word(size_t w) {
    return m_takeable.Word(w, [this](size_t first) { return Evaluate(first); });
  }

  uint64_t Evaluate(size_t first) const {
    const size_t n = std::min<size_t>(64, m_takeable.Pixels() - first);
    uint64_t bits = 0;
#if KELVANE_FOUR_AT_ONCE
    for (size_t k = 0; k < n; k += 8) bits |= static_cast<uint64_t>(TakenOfEight(first + k)) << k;
    if (n < 64) bits &= (uint64_t{1} << n) - 1;
#else
    for (size_t k = 0; k < n; ++k) {
      if (Test(first + k) >= 0) bits |= uint64_t{1} << k;
    }
#endif
    return bits;
  }

  // First pixel in [x, end] of the row that would be taken, or end + 1.
  int FindTaken(size_t row, int x, int end) {
    if (x > end) return end + 1;
    const size_t last = row + end;
    for (size_t i = row + x; i <= last; i = (i | 63) + 1) {
      const uint64_t bits = Word(i / 64) >> (i % 64);
      if (bits != 0) {
        const size_t j = i + std::countr_zero(bits);
        if (j > last) break;
        return static_cast<int>(j - row);
      }
    }
    return end + 1;
  }

  // The last pixel of the run of takeable pixels that starts at i, or i - 1
  // if pixel i is not takeable; at most last.
  size_t RunRightFrom(size_t i, size_t last) {
    for (; i <= last; i = (i | 63) + 1) {
      const int run = std::countr_one(Word(i / 64) >> (i % 64));
      if (run < 64 - static_cast<int>(i % 64)) return std::min(i + run, last + 1) - 1;
    }
    return last;
  }

  // The first pixel of the run of takeable pixels that ends at i, or i + 1
  // if pixel i is not takeable; at least first. i may be first - 1.
  size_t RunLeftFrom(size_t i, size_t first) {
    for (; i + 1 > first; i = (i & ~size_t{63}) - 1) {
      const int offset = static_cast<int>(i % 64);
      const int run = std::countl_one(Word(i / 64) << (63 - offset));
      if (run <= offset) return std::max(i + 1 - run, first);
      if (i < 64) break;
    }
    return first;
  }

  // Pixels first .. last are taken: their bits clear, their distances go to
  // the grid; with kSum their colours join the sums.
  template <bool kSum>
  void TakeRun(size_t first, size_t last) {
    for (size_t w = first / 64; w <= last / 64; ++w) {
      const size_t lo = w == first / 64 ? first % 64 : 0;
      const size_t hi = w == last / 64 ? last % 64 : 63;
      const uint64_t ones = hi - lo == 63 ? ~uint64_t{0} : ((uint64_t{1} << (hi - lo + 1)) - 1) << lo;
      Word(w) &= ~ones;
    }
#if KELVANE_FOUR_AT_ONCE
    const int n = static_cast<int>(last - first + 1);
    const __m128i channels[3] = {_mm_set1_epi32(0xFF), _mm_set1_epi32(0xFF00), _mm_set1_epi32(0xFF0000)};
    for (int k = 0; k < n; k += 8) {
      const ptrdiff_t i = static_cast<ptrdiff_t>(first) + k;
      const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_pixels + i));
      const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_pixels + i + 4));
      const __m128i distance = _mm_packs_epi32(Distances32(low), Distances32(high));
      // Lanes past the run keep their grid values and count nothing.
      const __m128i m = FirstShortLanes(n - k);
      const __m128i old = m_grid.EightLanes(i, low, high);
      m_grid.StoreEightLanes(i, _mm_or_si128(_mm_and_si128(m, distance), _mm_andnot_si128(m, old)));
      if constexpr (kSum) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i insideLow = _mm_and_si128(low, FirstLanes(n - k));
        const __m128i insideHigh = _mm_and_si128(high, FirstLanes(n - k - 4));
        for (int c = 0; c < 3; ++c) {
          const __m128i sums = _mm_add_epi64(_mm_sad_epu8(_mm_and_si128(insideLow, channels[c]), zero),
                                             _mm_sad_epu8(_mm_and_si128(insideHigh, channels[c]), zero));
          m_sumVec[c] = _mm_add_epi64(m_sumVec[c], sums);
        }
      }
    }
#else
    for (size_t i = first; i <= last; ++i) {
      m_grid.Set(i, Distance(m_pixels[i], m_b, m_g, m_r));
      if constexpr (kSum) {
        m_sum[0] += m_pixels[i] & 0xFF;
        m_sum[1] += (m_pixels[i] >> 8) & 0xFF;
        m_sum[2] += (m_pixels[i] >> 16) & 0xFF;
      }
    }
#endif
  }

  // Fills the span through (x, y) and sets up its frame.
  template <bool kSum>
  void Enter(int x, int y, int dir, int parentLeft, int parentRight, int depth, CFrame& frame) {
    const size_t row = static_cast<size_t>(y) * m_width;
    const size_t start = row + x;
    // The start pixel joins the runs on either side whether or not it passes.
    const size_t first = start == row ? start : RunLeftFrom(start - 1, row);
    const size_t last = RunRightFrom(start + 1, row + m_width - 1);
    TakeRun<kSum>(first, last);
    const int left = static_cast<int>(first - row);
    const int right = static_cast<int>(last - row);

    const int n = right - left + 1;
    m_spans[m_spanCount++] = CSpan{static_cast<int32_t>(row + left), n};
    m_count += n;

    const bool deeper = depth + 1 < kMaxDepth;
    const bool forward = deeper && y + dir >= 0 && y + dir < m_height;
    const bool backward = deeper && y - dir >= 0 && y - dir < m_height;
    frame.y = y;
    frame.dir = dir;
    frame.left = left;
    frame.right = right;
    frame.phase = 0;
    frame.x = left;
    frame.start[0] = left;
    frame.start[1] = left;
    frame.start[2] = parentRight;
    frame.end[0] = forward ? right : -1;
    frame.end[1] = backward ? parentLeft : -1;
    frame.end[2] = backward ? right : -1;
  }

  const int m_width;
  const int m_height;
  Store m_grid;
  CSpan* const m_spans;
  CTakeableBits& m_takeable;
  const uint32_t* m_pixels = nullptr;
  const uint32_t* m_textures = nullptr;
  const int16_t* m_limit = nullptr;
  int m_b = 0;
  int m_g = 0;
  int m_r = 0;
  int m_count = 0;
  int m_spanCount = 0;
#if KELVANE_FOUR_AT_ONCE
  __m128i m_sumVec[3] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  __m128i m_seedLow = _mm_setzero_si128();
  __m128i m_seedHigh = _mm_setzero_si128();
#else
  int64_t m_sum[3] = {0, 0, 0};
#endif
  std::vector<CFrame> m_stack;
};

// The threshold depends only on the tolerance and the two textures, so each
// (seed kind, seed texture) gets its table over the candidate's texture once.
// The tables hold T + 1, the smallest distance that is refused, kept within
// 0 .. 2001: beyond that range it refuses the same distances as the grid.
class CLimitTables {
 public:
  CLimitTables(int strength, int textureRange)
      : m_tol{strength, ObjectTolerance(strength)}, m_range(textureRange),
        m_values(2 * 256 * 256), m_ready(2 * 256, 0) {}

  const int16_t* Get(bool object, int seedTexture) {
    const int k = (object ? 256 : 0) + seedTexture;
    int16_t* table = m_values.data() + static_cast<size_t>(k) * 256;
    if (!m_ready[k]) {
      for (int s = 0; s < 256; ++s) {
        const int limit = AcceptanceThreshold(m_tol[object], s, seedTexture, m_range) + 1;
        table[s] = static_cast<int16_t>(std::clamp(limit, 0, kUnreached + 1));
      }
      m_ready[k] = 1;
    }
    return table;
  }

 private:
  const int m_tol[2];
  const int m_range;
  std::vector<int16_t> m_values;
  std::vector<uint8_t> m_ready;
};

int BytesPerPixel(CCoreImage& image) { return FormatBitsPerPixel(image.ViewFormat()) / 8; }

uint32_t Mean(const int64_t* sums, int count) {
  uint32_t mean = 0;
  for (int c = 0; c < 3; ++c) {
    const double m = std::trunc(static_cast<double>(sums[c]) / count + 0.5);
    mean |= static_cast<uint32_t>(std::clamp(m, 0.0, 255.0)) << (8 * c);
  }
  return mean;
}

// Index of the first marked pixel in [k, n), or n. Reads up to 15 bytes
// past n.
int NextMarked(const uint8_t* marks, int k, int n) {
#if KELVANE_FOUR_AT_ONCE
  const __m128i none = _mm_set1_epi8(static_cast<char>(keMarkNone));
  for (; k < n; k += 16) {
    const __m128i m = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(marks + k)), none);
    const unsigned marked = ~static_cast<unsigned>(_mm_movemask_epi8(m)) &
                            static_cast<unsigned>(_mm_movemask_epi8(FirstBytes(n - k)));
    if (marked != 0) return k + std::countr_zero(marked);
  }
  return n;
#else
  constexpr uint64_t kEightUnmarked = 0x0202020202020202u;
  for (; k + 8 <= n; k += 8) {
    uint64_t eight;
    std::memcpy(&eight, marks + k, 8);
    if (eight != kEightUnmarked) break;
  }
  while (k < n && marks[k] == keMarkNone) ++k;
  return k;
#endif
}

// Walks the region in list order: 3 no mark met yet, 0 background, 1 object,
// 2 mixed. A mixed region is settled by the very next pixel of the list.
int DecideState(const CSpan* spans, int spanCount, const uint8_t* marks) {
  int state = 3;
  for (int s = 0; s < spanCount; ++s) {
    const uint8_t* m = marks + spans[s].first;
    const int n = spans[s].length;
    for (int k = 0; k < n; ++k) {
      if (state == 2) return m[k] == keMarkBackground ? 0 : m[k] == keMarkObject ? 1 : 2;
      k = NextMarked(m, k, n);
      if (k == n) break;
      if (m[k] == keMarkBackground) {
        state = state == 1 ? 2 : 0;
      } else if (m[k] == keMarkObject) {
        state = state == 0 ? 2 : 1;
      }
    }
  }
  return state;
}

// What the second pass leaves for a pixel of target; the last region wins.
enum : uint8_t {
  kUntouched = 0,
  kColourOnly = 1,  // reached only by regions that met no mark: alpha stays
  kErase = 2,
  kKeep = 3,
};

static_assert(kKeep == kErase + 1);

// Reads and rewrites up to 15 bytes past each span.
void RecordDecision(const CSpan* spans, int spanCount, int state, const uint8_t* marks,
                    uint8_t* decision) {
  for (int s = 0; s < spanCount; ++s) {
    const uint8_t* m = marks + spans[s].first;
    uint8_t* d = decision + spans[s].first;
    const int n = spans[s].length;
#if KELVANE_FOUR_AT_ONCE
    const __m128i one = _mm_set1_epi8(1);
    for (int k = 0; k < n; k += 16) {
      const __m128i mk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + k));
      __m128i* dk = reinterpret_cast<__m128i*>(d + k);
      const __m128i old = _mm_loadu_si128(dk);
      __m128i v;
      if (state == 3) {
        v = _mm_max_epu8(old, one);
      } else if (state == 1) {
        v = _mm_sub_epi8(_mm_set1_epi8(kKeep), _mm_and_si128(_mm_cmpeq_epi8(mk, _mm_set1_epi8(keMarkBackground)), one));
      } else {  // background and mixed alike keep only object-marked pixels
        v = _mm_add_epi8(_mm_set1_epi8(kErase), _mm_and_si128(_mm_cmpeq_epi8(mk, _mm_set1_epi8(keMarkObject)), one));
      }
      const __m128i inside = FirstBytes(n - k);
      _mm_storeu_si128(dk, _mm_or_si128(_mm_and_si128(inside, v), _mm_andnot_si128(inside, old)));
    }
#else
    if (state == 3) {
      for (int k = 0; k < n; ++k) d[k] = std::max<uint8_t>(d[k], kColourOnly);
    } else if (state == 1) {
      for (int k = 0; k < n; ++k) d[k] = m[k] == keMarkBackground ? kErase : kKeep;
    } else {
      for (int k = 0; k < n; ++k) d[k] = m[k] == keMarkObject ? kKeep : kErase;
    }
#endif
  }
}

// Channels 0..2 of every pixel of the spans take the mean; the top byte
// (texture) stays.
void Paint(uint32_t* pixels, const CSpan* spans, int spanCount, uint32_t mean) {
  for (int s = 0; s < spanCount; ++s) {
    uint32_t* p = pixels + spans[s].first;
    const int n = spans[s].length;
#if KELVANE_FOUR_AT_ONCE
    // Whole quads: pixels past the span are written back unchanged.
    const __m128i meanVec = _mm_set1_epi32(static_cast<int>(mean));
    const __m128i colour = _mm_set1_epi32(static_cast<int>(kColourBits));
    for (int k = 0; k < n; k += 4) {
      __m128i* q = reinterpret_cast<__m128i*>(p + k);
      const __m128i m = _mm_and_si128(FirstLanes(n - k), colour);
      _mm_storeu_si128(q, _mm_or_si128(_mm_andnot_si128(m, _mm_loadu_si128(q)), _mm_and_si128(m, meanVec)));
    }
#else
    for (int k = 0; k < n; ++k) p[k] = (p[k] & ~kColourBits) | mean;
#endif
  }
}

bool AnyTouched(const uint8_t* decision, int n) {
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    uint64_t eight;
    std::memcpy(&eight, decision + k, 8);
    if (eight != 0) return true;
  }
  for (; k < n; ++k) {
    if (decision[k] != kUntouched) return true;
  }
  return false;
}

// Target pixel from its decision: what stays of target, what comes from the
// source pixel (its top byte is never copied), what alpha is set. source may
// be row itself.
constexpr uint32_t kTargetKeeps[4] = {0xFFFFFFFFu, 0xFF000000u, 0, 0};
constexpr uint32_t kSourceGives[4] = {0, kColourBits, kColourBits, kColourBits};
constexpr uint32_t kAlphaSet[4] = {0, 0, 0, 0xFF000000u};

void ApplyDecisions(uint8_t* row, const uint8_t* source, const uint8_t* decision, int n) {
  int x = 0;
#if KELVANE_FOUR_AT_ONCE
  const __m128i zero = _mm_setzero_si128();
  const __m128i colour = _mm_set1_epi32(static_cast<int>(kColourBits));
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (; x + 4 <= n; x += 4) {
    int four;
    std::memcpy(&four, decision + x, 4);
    if (four == 0) continue;
    const __m128i code = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero), zero);
    const __m128i untouched = _mm_cmpeq_epi32(code, zero);
    const __m128i colourOnly = _mm_cmpeq_epi32(code, _mm_set1_epi32(kColourOnly));
    const __m128i keep = _mm_cmpeq_epi32(code, _mm_set1_epi32(kKeep));
    const __m128i targetKeeps = _mm_or_si128(untouched, _mm_and_si128(colourOnly, alpha));
    const __m128i sourceGives = _mm_andnot_si128(untouched, colour);
    __m128i* out = reinterpret_cast<__m128i*>(row + 4 * x);
    const __m128i pixels =
        _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_loadu_si128(out), targetKeeps),
                                  _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * x)), sourceGives)),
                     _mm_and_si128(keep, alpha));
    _mm_storeu_si128(out, pixels);
  }
#endif
  for (; x < n; ++x) {
    const uint8_t d = decision[x];
    uint32_t pixel;
    uint32_t colour;
    std::memcpy(&pixel, row + 4 * x, 4);
    std::memcpy(&colour, source + 4 * x, 4);
    pixel = (pixel & kTargetKeeps[d]) | (colour & kSourceGives[d]) | kAlphaSet[d];
    std::memcpy(row + 4 * x, &pixel, 4);
  }
}

// Moves the texture into the top byte of each pixel word, over the alpha.
void InsertTexture(uint32_t* pixels, const uint8_t* texture, int n) {
  int x = 0;
#if KELVANE_FOUR_AT_ONCE
  const __m128i zero = _mm_setzero_si128();
  const __m128i colour = _mm_set1_epi32(static_cast<int>(kColourBits));
  for (; x + 4 <= n; x += 4) {
    int four;
    std::memcpy(&four, texture + x, 4);
    const __m128i top = _mm_unpacklo_epi16(zero, _mm_unpacklo_epi8(zero, _mm_cvtsi32_si128(four)));
    __m128i* p = reinterpret_cast<__m128i*>(pixels + x);
    _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p), colour), top));
  }
#endif
  for (; x < n; ++x) pixels[x] = (pixels[x] & kColourBits) | (static_cast<uint32_t>(texture[x]) << 24);
}

// Words with every top byte set, from in.
void CopyWithTopBytesSet(uint32_t* out, const uint32_t* in, int n) {
  int x = 0;
#if KELVANE_FOUR_AT_ONCE
  const __m128i top = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (; x + 4 <= n; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_or_si128(v, top));
  }
#endif
  for (; x < n; ++x) out[x] = in[x] | 0xFF000000u;
}

// body(first, n) for the n pixels of each row of a flat copy, starting at
// index first, rows in bands side by side.
template <typename Body>
void ForEachFlatRow(int width, int height, Body&& body) {
  ForEachRowInBands(height, false, [&](int y) { body(static_cast<size_t>(y) * width, width); });
}

// What both passes share.
struct CPassInputs {
  int width;
  int height;
  const std::vector<CSeed>& seeds;
  CLimitTables& limits;
  CSpan* spans;
  CTakeableBits& takeable;
};

// Reached is judged when the scan gets to the pixel, so regions grown earlier
// in the same pass count.
template <typename Store>
bool IsSeed(const CSeed& seed, const Store& grid) {
  return seed.object || grid.At(static_cast<size_t>(seed.index)) == Store::Kind::kUnreached;
}

// Grows the region of every seed in turn, its seed colour and texture from
// painted as it stands, and hands it to done.
template <bool kSum, typename Store, typename Done>
void GrowEachSeed(const CPassInputs& in, const Store& grid, CRegionGrower<Store>& grower,
                  const uint32_t* painted, Done&& done) {
  for (const CSeed& seed : in.seeds) {
    if (!IsSeed(seed, grid)) continue;
    const int32_t i = seed.index;
    const int16_t* limit = in.limits.Get(seed.object, static_cast<int>(painted[i] >> 24));
    grower.template Grow<kSum>(i % in.width, i / in.width, painted[i], limit);
    done();
  }
}

// First pass: every region grows on the unflattened colours of source; its
// seed colour comes from the copy being painted, whose top bytes hold the
// texture.
template <typename Store>
void PaintRegions(const CPassInputs& in, Store grid, const uint32_t* source, uint32_t* painted) {
  CRegionGrower<Store> grower(in.width, in.height, grid, in.spans, in.takeable);
  grower.SetPixels(source, painted);
  GrowEachSeed<true>(in, grid, grower, painted, [&] {
    int64_t sums[3];
    grower.Sums(sums);
    Paint(painted, grower.Spans(), grower.SpanCount(), Mean(sums, grower.Count()));
  });
}

// Second pass: every region grows again on the flattened colours and is
// decided from the marks it holds.
template <typename Store>
CScratch<uint8_t> DecideRegions(const CPassInputs& in, Store grid, const uint32_t* painted,
                                CCoreImage& marks) {
  const size_t pixels = static_cast<size_t>(in.width) * in.height;
  CScratch<uint8_t> decision(pixels, kBytePad);
  uint8_t* undecided = decision.Data();
  ForEachFlatRow(in.width, in.height, [&](size_t first, int n) { std::memset(undecided + first, kUntouched, n); });
  const CScratch<uint8_t> marksCopy = ReadRows<uint8_t>(marks, kBytePad);
  const uint8_t* mark = marksCopy.Data();
  CRegionGrower<Store> grower(in.width, in.height, grid, in.spans, in.takeable);
  grower.SetPixels(painted, painted);
  GrowEachSeed<false>(in, grid, grower, painted, [&] {
    const int state = DecideState(grower.Spans(), grower.SpanCount(), mark);
    RecordDecision(grower.Spans(), grower.SpanCount(), state, mark, decision.Data());
  });
  return decision;
}

template <typename Grid>
void MarkAllUnreached(CScratch<Grid>& grid, int width, int height) {
  // One row filled, then copied: the fill itself would go one element at a time.
  const std::vector<Grid> unreached(static_cast<size_t>(width), CGridKind<Grid>::kUnreached);
  Grid* out = grid.Data();
  ForEachFlatRow(width, height, [&](size_t first, int n) {
    std::memcpy(out + first, unreached.data(), n * sizeof(Grid));
  });
}

// Both passes, and what they decide for every pixel. A byte grid rides in the
// top bytes of the first pass's copy.
CScratch<uint8_t> GrowAndDecide(const CPassInputs& in, CScratch<uint32_t>& painted, CCoreImage& marks,
                                bool byteGrid) {
  const size_t pixels = static_cast<size_t>(in.width) * in.height;
  if (byteGrid) {
    {
      // The unflattened copy lives only for the first pass and carries its
      // grid in the top bytes, all unreached at first.
      CScratch<uint32_t> source(pixels, kPad);
      ForEachFlatRow(in.width, in.height, [&](size_t first, int n) {
        CopyWithTopBytesSet(source.Data() + first, painted.Data() + first, n);
      });
      PaintRegions(in, CGridInTopBytes(source.Data()), source.Data(), painted.Data());
    }
    CScratch<uint8_t> grid(pixels, kPad);
    MarkAllUnreached(grid, in.width, in.height);
    return DecideRegions(in, CGridArray<uint8_t>(grid.Data()), painted.Data(), marks);
  }
  CScratch<uint16_t> grid(pixels, kPad);
  MarkAllUnreached(grid, in.width, in.height);
  {
    CScratch<uint32_t> source(pixels, kPad);
    ForEachFlatRow(in.width, in.height, [&](size_t first, int n) {
      std::memcpy(source.Data() + first, painted.Data() + first, n * sizeof(uint32_t));
    });
    PaintRegions(in, CGridArray<uint16_t>(grid.Data()), source.Data(), painted.Data());
  }
  MarkAllUnreached(grid, in.width, in.height);
  return DecideRegions(in, CGridArray<uint16_t>(grid.Data()), painted.Data(), marks);
}
}  // namespace

int ColourDistance(const uint8_t* p, const uint8_t* q) {
  const uint32_t pixel = p[0] | (p[1] << 8) | (p[2] << 16);
  return Distance(pixel, q[0], q[1], q[2]);
}

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

void ClassifyRegions(CCoreImage& colourSource, CCoreImage& target, CCoreImage texture,
                     CCoreImage& marks, int strength, int textureRange, CPlane* decided) {
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

  // painted: a flat copy of the colours that the first pass flattens to
  // region means. Its top byte carries the texture once the alpha has served
  // the seed test.
  CScratch<uint32_t> painted = ReadRows<uint32_t>(colourSource, kPad);
  const uint32_t* paint = painted.Data();

  // Seeds come row by row, left to right. Background marks on transparent
  // pixels never seed. The seeds carry their kind, so the first pass needs
  // no copy of the marks.
  std::vector<CSeed> seeds;
  {
    std::vector<uint8_t> markRow(static_cast<size_t>(width) + kBytePad, keMarkNone);
    for (int y = 0; y < height; ++y) {
      const CRowLease row(marks, y);
      std::memcpy(markRow.data(), row.Data(), static_cast<size_t>(width));
      const size_t first = static_cast<size_t>(y) * width;
      for (int x = 0; x < width; ++x) {
        x = NextMarked(markRow.data(), x, width);
        if (x == width) break;
        const bool object = markRow[x] == keMarkObject;
        if (object || (markRow[x] == keMarkBackground && (paint[first + x] >> 24) != 0)) {
          seeds.push_back(CSeed{static_cast<int32_t>(first + x), object});
        }
      }
    }
  }
  ForEachRowInBands(height, texture.HasRowCache(), [&](int y) {
    const CRowLease row(texture, y);
    InsertTexture(painted.Data() + static_cast<size_t>(y) * width, row.Data(), width);
  });
  texture.Reset();
  CLimitTables limits(strength, textureRange);
  // Limits grow with the tolerance and are largest for equal textures of 255.
  const int mostLimit = std::max(AcceptanceThreshold(strength, 255, 255, textureRange),
                                 AcceptanceThreshold(ObjectTolerance(strength), 255, 255, textureRange)) + 1;
  CScratch<CSpan> spans(pixels, 0, keScratchUse::keSparse);
  CTakeableBits takeable(pixels);
  const CPassInputs in{width, height, seeds, limits, spans.Data(), takeable};
  const bool byteGrid = strength >= 0 && mostLimit <= kByteGridMostLimit;
  const CScratch<uint8_t> decision = GrowAndDecide(in, painted, marks, byteGrid);
  if (decided) {
    *decided = CPlane(width, height, 1);
    for (int y = 0; y < height; ++y) {
      const uint8_t* d = decision.Data() + static_cast<size_t>(y) * width;
      uint8_t* out = decided->Row(y);
      for (int x = 0; x < width; ++x) {
        out[x] = d[x] == kKeep ? keRegionKept : d[x] == kErase ? keRegionErased : keRegionUndecided;
      }
    }
  }

  // The colours come from the source image again: the flat copy is gone.
  const bool inPlace = &colourSource == &target;
  ForEachRowInBands(height, target.HasRowCache() || colourSource.HasRowCache(), [&](int y) {
    const uint8_t* d = decision.Data() + static_cast<size_t>(y) * width;
    if (!AnyTouched(d, width)) return;
    const CRowLease row(target, y);
    if (inPlace) {
      ApplyDecisions(row.Data(), row.Data(), d, width);
    } else {
      const CRowLease colours(colourSource, y);
      ApplyDecisions(row.Data(), colours.Data(), d, width);
    }
  });
}
