#include "engine/ClassifyRegions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "TestImages.h"
#include "engine/Marks.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowBands.h"
#include "imagecore/CoreResult.h"
#include "imagecore/RowLease.h"

namespace {

// An image of the format holding the given bytes, row by row.
void FromBytes(CCoreImage& image, int width, int height, keFormat format,
               const std::vector<uint8_t>& bytes) {
  ThrowIfFailed(image.Create(width, height, format, nullptr, nullptr, 0));
  const int bpp = FormatBitsPerPixel(format) / 8;
  for (int y = 0; y < height; ++y) {
    const CRowLease row(image, y);
    std::copy_n(bytes.begin() + static_cast<size_t>(y) * width * bpp, width * bpp, row.Data());
  }
}

// Alpha bytes of a BGRA image, row by row.
std::vector<uint8_t> Alphas(CCoreImage& image) {
  const std::vector<uint8_t> bytes = AllBytes(image);
  std::vector<uint8_t> out;
  for (size_t i = 3; i < bytes.size(); i += 4) out.push_back(bytes[i]);
  return out;
}

// The classification written plainly from its description: literal recursion,
// the threshold in double at every test, the image read pixel by pixel.
class CReferenceClassifier {
 public:
  CReferenceClassifier(CCoreImage& colourSource, CCoreImage& target, CCoreImage& texture,
                       CCoreImage& marks, int strength, int textureRange)
      : m_source(colourSource), m_target(target), m_strength(strength), m_range(textureRange) {
    m_w = colourSource.Width();
    m_h = colourSource.Height();
    m_copy = AllBytes(colourSource);
    m_tex = AllBytes(texture);
    m_marks = AllBytes(marks);
    m_grid.assign(static_cast<size_t>(m_w) * m_h, 2000);
    m_list.assign(static_cast<size_t>(m_w) * m_h, 0);
  }

  void Run() {
    m_flat = m_copy;
    ForEachSeed([&](int x, int y) {
      GrowRegion(x, y);
      int mean[3];
      for (int c = 0; c < 3; ++c) {
        mean[c] = static_cast<int>(std::trunc(static_cast<double>(m_sum[c]) / m_count + 0.5));
        mean[c] = std::clamp(mean[c], 0, 255);
      }
      for (int k = 0; k < m_count; ++k) {
        for (int c = 0; c < 3; ++c) m_copy[4 * m_list[k] + c] = static_cast<uint8_t>(mean[c]);
      }
    });

    m_flat = m_copy;
    std::fill(m_grid.begin(), m_grid.end(), 2000);
    ForEachSeed([&](int x, int y) {
      GrowRegion(x, y);
      int state = 3;
      for (int k = 0; k < m_count; ++k) {
        const int mark = m_marks[m_list[k]];
        if (state == 2) {
          if (mark == keMarkBackground) state = 0;
          else if (mark == keMarkObject) state = 1;
          else state = 2;
          break;
        }
        if (mark == keMarkBackground) state = state == 1 ? 2 : 0;
        else if (mark == keMarkObject) state = state == 0 ? 2 : 1;
      }
      for (int k = 0; k < m_count; ++k) WritePixel(m_list[k], state);
    });
  }

 private:
  template <typename F>
  void ForEachSeed(F grow) {
    for (int y = 0; y < m_h; ++y) {
      for (int x = 0; x < m_w; ++x) {
        const int i = y * m_w + x;
        const bool seeds = m_marks[i] == keMarkObject ||
                           (m_marks[i] == keMarkBackground && m_grid[i] == 2000 && m_copy[4 * i + 3] != 0);
        if (seeds) grow(x, y);
      }
    }
  }

  void GrowRegion(int x, int y) {
    const int i = y * m_w + x;
    for (int c = 0; c < 3; ++c) m_seedColour[c] = m_copy[4 * i + c];
    m_seedTexture = m_tex[i];
    m_tol = m_marks[i] == keMarkObject ? static_cast<int>(m_strength * 0.6666666666666666) : m_strength;
    m_count = 0;
    m_sum[0] = m_sum[1] = m_sum[2] = 0;
    GrowSpan(x, y, 1, x, x, 0);
  }

  static int Distance(const uint8_t* p, const uint8_t* q) {
    int hi = 0, lo = 0;
    for (int c = 0; c < 3; ++c) {
      const int d = p[c] - q[c];
      hi = std::max(hi, d);
      lo = std::min(lo, d);
    }
    return hi - lo;
  }

  bool Accepts(int x, int y) const {
    const int i = y * m_w + x;
    const int a = Distance(&m_flat[4 * i], m_seedColour);
    const int s = m_tex[i];
    const int floorT = std::min(m_tol, 25);
    const int t = s > floorT ? s : floorT;
    const int ds = std::abs(s - m_seedTexture);
    const double d = m_range + 1;
    const int threshold = static_cast<int>(std::trunc((1 - ds / d) * t * m_tol * (2.5 / d)));
    return a <= threshold && a < m_grid[i];
  }

  int GrowSpan(int x, int y, int dir, int parentLeft, int parentRight, int depth) {
    int left = x;
    for (int xx = x - 1; xx >= 0 && Accepts(xx, y); --xx) left = xx;
    int right = x;
    for (int xx = x + 1; xx <= m_w - 1 && Accepts(xx, y); ++xx) right = xx;
    for (int xx = left; xx <= right; ++xx) {
      const int i = y * m_w + xx;
      m_grid[i] = Distance(&m_flat[4 * i], m_seedColour);
      for (int c = 0; c < 3; ++c) m_sum[c] += m_flat[4 * i + c];
      m_list[m_count++] = i;
    }
    const int forward = y + dir;
    if (forward >= 0 && forward < m_h && depth + 1 < 2000) {
      for (int xx = left; xx <= right;) {
        if (Accepts(xx, forward)) xx = GrowSpan(xx, forward, dir, left, right, depth + 1) + 1;
        else ++xx;
      }
    }
    const int backward = y - dir;
    if (backward >= 0 && backward < m_h && depth + 1 < 2000) {
      for (int xx = left; xx <= parentLeft;) {
        if (Accepts(xx, backward)) xx = GrowSpan(xx, backward, -dir, left, right, depth + 1) + 1;
        else ++xx;
      }
      for (int xx = parentRight; xx <= right;) {
        if (Accepts(xx, backward)) xx = GrowSpan(xx, backward, -dir, left, right, depth + 1) + 1;
        else ++xx;
      }
    }
    return right;
  }

  void WritePixel(int i, int state) {
    const int x = i % m_w;
    const int y = i / m_w;
    const int mark = m_marks[i];
    uint8_t colour[3];
    std::copy_n(CRowLease(m_source, y, x, 1).Data(), 3, colour);
    const CRowLease target(m_target, y, x, 1);
    uint8_t* p = target.Data();
    std::copy_n(colour, 3, p);
    if (state == 0 || state == 2) p[3] = mark == keMarkObject ? 255 : 0;
    if (state == 1) p[3] = mark == keMarkBackground ? 0 : 255;
  }

  CCoreImage& m_source;
  CCoreImage& m_target;
  int m_strength;
  int m_range;
  int m_w = 0;
  int m_h = 0;
  std::vector<uint8_t> m_copy;
  std::vector<uint8_t> m_flat;
  std::vector<uint8_t> m_tex;
  std::vector<uint8_t> m_marks;
  std::vector<int> m_grid;
  std::vector<int> m_list;
  int m_count = 0;
  long long m_sum[3] = {0, 0, 0};
  uint8_t m_seedColour[3] = {0, 0, 0};
  int m_seedTexture = 0;
  int m_tol = 0;
};

// One generated input: patches of colour with noise, a texture map, marks.
struct CCase {
  int w = 0;
  int h = 0;
  keFormat format = keFormatBGRA;
  bool sameImage = true;
  int strength = 0;
  std::vector<uint8_t> colours;
  std::vector<uint8_t> target;
  std::vector<uint8_t> texture;
  std::vector<uint8_t> marks;
};

CCase MakeCase(std::mt19937& rng, int w, int h) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  CCase c;
  c.w = w;
  c.h = h;
  c.format = pick(0, 3) == 0 ? keFormatBGRxA : keFormatBGRA;
  c.sameImage = pick(0, 1) == 0;
  // Mostly the parameter's range; now and then beyond it, where thresholds
  // pass every distance or none.
  const int strengthKind = pick(0, 9);
  c.strength = strengthKind == 0 ? 0 : strengthKind == 1 ? 100 : strengthKind == 2 ? pick(-20, 400) : pick(0, 100);
  const size_t n = static_cast<size_t>(w) * h;

  // A few colour patches, then noise; strong noise makes regions ragged.
  std::vector<int> base(n * 3);
  const int patches = pick(1, 4);
  for (int p = 0; p < patches; ++p) {
    const int colour[3] = {pick(0, 255), pick(0, 255), pick(0, 255)};
    const int x0 = p == 0 ? 0 : pick(0, w - 1), y0 = p == 0 ? 0 : pick(0, h - 1);
    const int x1 = p == 0 ? w : pick(x0 + 1, w), y1 = p == 0 ? h : pick(y0 + 1, h);
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        for (int k = 0; k < 3; ++k) base[(static_cast<size_t>(y) * w + x) * 3 + k] = colour[k];
  }
  // Gradients make the region means matter to the second pass.
  if (pick(0, 2) == 0) {
    const int g[6] = {pick(-9, 9), pick(-9, 9), pick(-9, 9), pick(-9, 9), pick(-9, 9), pick(-9, 9)};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k) base[(static_cast<size_t>(y) * w + x) * 3 + k] += g[k] * x + g[k + 3] * y;
  }
  const int noiseLevels[] = {0, 0, 1, 3, 6, 12, 30, 80};
  const int noise = noiseLevels[pick(0, 7)];
  const int alphaKind = pick(0, 3);
  c.colours.resize(n * 4);
  for (size_t i = 0; i < n; ++i) {
    for (int k = 0; k < 3; ++k) c.colours[4 * i + k] = static_cast<uint8_t>(std::clamp(base[3 * i + k] + pick(-noise, noise), 0, 255));
    int a = 255;
    if (alphaKind == 1) a = pick(0, 3) == 0 ? 0 : 255;
    if (alphaKind == 2) a = pick(0, 255);
    c.colours[4 * i + 3] = static_cast<uint8_t>(a);
  }
  c.target.resize(n * 4);
  for (auto& b : c.target) b = static_cast<uint8_t>(pick(0, 255));

  const int textureKind = pick(0, 3);
  c.texture.resize(n);
  for (size_t i = 0; i < n; ++i) {
    int t = 0;
    if (textureKind == 1) t = pick(0, 255);
    if (textureKind == 2) t = pick(0, 40);
    if (textureKind == 3) t = std::min(255, noise * 3 + pick(0, noise));
    c.texture[i] = static_cast<uint8_t>(t);
  }

  const double densities[] = {0.005, 0.02, 0.1, 0.4};
  const double density = densities[pick(0, 3)];
  const int objectShare = pick(0, 4);  // 0 none, 4 all object marks
  std::bernoulli_distribution marked(density);
  c.marks.assign(n, keMarkNone);
  for (size_t i = 0; i < n; ++i) {
    if (marked(rng)) c.marks[i] = pick(0, 3) < objectShare ? keMarkObject : keMarkBackground;
  }
  return c;
}

// Runs the fast classification and the reference on the case and compares
// every byte of the images they wrote.
void ExpectMatchesReference(const CCase& c, int index) {
  SCOPED_TRACE(testing::Message() << "case " << index << " " << c.w << "x" << c.h << " strength "
                                  << c.strength << (c.sameImage ? " in place" : " into target"));
  CCoreImage texture, marks;
  FromBytes(texture, c.w, c.h, keFormatGrey, c.texture);
  FromBytes(marks, c.w, c.h, keFormatGrey, c.marks);
  CCoreImage fastSource, fastTarget, refSource, refTarget;
  FromBytes(fastSource, c.w, c.h, c.format, c.colours);
  FromBytes(refSource, c.w, c.h, c.format, c.colours);
  if (!c.sameImage) {
    FromBytes(fastTarget, c.w, c.h, keFormatBGRA, c.target);
    FromBytes(refTarget, c.w, c.h, keFormatBGRA, c.target);
  }
  CCoreImage& fastOut = c.sameImage ? fastSource : fastTarget;
  CCoreImage& refOut = c.sameImage ? refSource : refTarget;

  ClassifyRegions(fastSource, fastOut, texture, marks, c.strength, 255);
  CReferenceClassifier(refSource, refOut, texture, marks, c.strength, 255).Run();

  const std::vector<uint8_t> fast = AllBytes(fastOut);
  const std::vector<uint8_t> ref = AllBytes(refOut);
  const auto diff = std::mismatch(fast.begin(), fast.end(), ref.begin());
  ASSERT_TRUE(diff.first == fast.end())
      << "first difference at pixel " << (diff.first - fast.begin()) / 4 << ", byte "
      << (diff.first - fast.begin()) % 4 << ": " << int(*diff.first) << " vs " << int(*diff.second);
  EXPECT_EQ(AllBytes(fastSource), AllBytes(refSource));
}

TEST(ClassifyRegions, MatchesPlainRecursiveFillOnRandomImages) {
  std::mt19937 rng(20240611);
  for (int index = 0; index < 600; ++index) {
    const int shape = std::uniform_int_distribution<int>(0, 9)(rng);
    const int w = shape == 0 ? 1 : std::uniform_int_distribution<int>(1, 32)(rng);
    const int h = shape == 1 ? 1 : std::uniform_int_distribution<int>(1, 32)(rng);
    ExpectMatchesReference(MakeCase(rng, w, h), index);
    if (HasFatalFailure()) return;
  }
}

// The copies and passes around the walk run in row bands; any split gives
// the reference's bytes.
TEST(ClassifyRegions, MatchesPlainRecursiveFillWithItsRowsInBands) {
  std::mt19937 rng(8086);
  for (const int bands : {2, 3, 7}) {
    SetBandsForTesting(bands);
    for (int index = 0; index < 120; ++index) {
      const int w = std::uniform_int_distribution<int>(1, 24)(rng);
      const int h = std::uniform_int_distribution<int>(1, 24)(rng);
      ExpectMatchesReference(MakeCase(rng, w, h), index);
      if (HasFatalFailure()) break;
    }
    SetBandsForTesting(0);
    if (HasFatalFailure()) return;
  }
}

// Rows wider than a word of 64 pixels, with runs that cross words and rows
// that start inside one; and pictures marked so densely with object marks
// that hundreds of regions grow one after another over the same pixels.
TEST(ClassifyRegions, MatchesPlainRecursiveFillOnWideRowsAndManyRegions) {
  std::mt19937 rng(1964);
  for (int index = 0; index < 40; ++index) {
    const int w = std::uniform_int_distribution<int>(60, 200)(rng);
    const int h = std::uniform_int_distribution<int>(1, 12)(rng);
    ExpectMatchesReference(MakeCase(rng, w, h), index);
    if (HasFatalFailure()) return;
  }
  for (int index = 0; index < 6; ++index) {
    CCase c = MakeCase(rng, 70, 40);
    c.strength = std::uniform_int_distribution<int>(10, 60)(rng);
    for (size_t i = 0; i < c.marks.size(); ++i) {
      if (i % 7 == 0) c.marks[i] = keMarkObject;
    }
    ExpectMatchesReference(c, 100 + index);
    if (HasFatalFailure()) return;
  }
}

// Tall regions nest more than 2000 spans, so the depth limit decides which
// pixels a seed reaches and in which order.
TEST(ClassifyRegions, MatchesPlainRecursiveFillBeyondTheDepthLimit) {
  std::mt19937 rng(77);
  for (int index = 0; index < 12; ++index) {
    const int w = std::uniform_int_distribution<int>(1, 5)(rng);
    const int h = std::uniform_int_distribution<int>(2001, 2300)(rng);
    CCase c = MakeCase(rng, w, h);
    c.strength = 60;
    // Mostly flat, so single regions run the whole height.
    for (size_t i = 0; i < c.colours.size(); i += 4) {
      c.colours[i] = c.colours[i + 1] = c.colours[i + 2] = static_cast<uint8_t>(100 + (i / 4) % 3);
    }
    ExpectMatchesReference(c, index);
    if (HasFatalFailure()) return;
  }
}

// Near the tolerance where limits pass 254, distances of 255 and more are
// taken: flat textures of 255 give the largest limits, and colours of 0 and
// 255 the largest distances.
TEST(ClassifyRegions, MatchesPlainRecursiveFillWhereLimitsPassAByte) {
  std::mt19937 rng(5150);
  for (int index = 0; index < 200; ++index) {
    const int w = std::uniform_int_distribution<int>(2, 24)(rng);
    const int h = std::uniform_int_distribution<int>(2, 24)(rng);
    CCase c = MakeCase(rng, w, h);
    c.strength = std::uniform_int_distribution<int>(96, 112)(rng);
    std::fill(c.texture.begin(), c.texture.end(), uint8_t{255});
    for (size_t i = 0; i < c.colours.size(); ++i) {
      if (i % 4 != 3) c.colours[i] = std::bernoulli_distribution(0.5)(rng) ? 255 : 0;
    }
    ExpectMatchesReference(c, index);
    if (HasFatalFailure()) return;
  }
}

TEST(ClassifyRegions, DepthLimitLeavesTheRestOfAColumnUnreached) {
  CCoreImage image, texture, marks;
  MakeBGRA(image, 1, 2100, 50, 60, 70, 255);
  MakeGrey(texture, 1, 2100, 0);
  MakeGrey(marks, 1, 2100, keMarkNone);
  SetPixelByte(marks, 0, 0, 0, keMarkBackground);
  ClassifyRegions(image, image, texture, marks, 30, 255);
  const std::vector<uint8_t> alpha = Alphas(image);
  EXPECT_EQ(std::count(alpha.begin(), alpha.begin() + 2000, 0), 2000);
  EXPECT_EQ(std::count(alpha.begin() + 2000, alpha.end(), 255), 100);
}

// Two colours far apart, alpha 200: left half (0..3) and right half (4..7).
struct CTwoHalves {
  CCoreImage image, texture, marks;
  CTwoHalves() {
    MakeBGRA(image, 8, 2, 20, 20, 20, 200);
    for (int y = 0; y < 2; ++y)
      for (int x = 4; x < 8; ++x)
        for (int c = 0; c < 3; ++c) SetPixelByte(image, x, y, c, 220);
    MakeGrey(texture, 8, 2, 0);
    MakeGrey(marks, 8, 2, keMarkNone);
  }
};

TEST(ClassifyRegions, WithoutObjectMarksOnlyBackgroundRegionsAreErased) {
  CTwoHalves t;
  SetPixelByte(t.marks, 1, 1, 0, keMarkBackground);
  ClassifyRegions(t.image, t.image, t.texture, t.marks, 30, 255);
  const std::vector<uint8_t> expected{0, 0, 0, 0, 200, 200, 200, 200, 0, 0, 0, 0, 200, 200, 200, 200};
  EXPECT_EQ(Alphas(t.image), expected);
}

// The texture is let go once read: a caller's own texture must stay whole,
// and one handed over classifies alike.
TEST(ClassifyRegions, ACallersTextureStaysWholeAndAHandedOverOneClassifiesAlike) {
  CTwoHalves t;
  SetPixelByte(t.texture, 5, 1, 0, 9);
  const std::vector<uint8_t> textureBefore = AllBytes(t.texture);
  SetPixelByte(t.marks, 1, 1, 0, keMarkBackground);
  ClassifyRegions(t.image, t.image, t.texture, t.marks, 30, 255);
  EXPECT_EQ(AllBytes(t.texture), textureBefore);
  const std::vector<uint8_t> classified = AllBytes(t.image);

  CTwoHalves handed;
  SetPixelByte(handed.texture, 5, 1, 0, 9);
  SetPixelByte(handed.marks, 1, 1, 0, keMarkBackground);
  CCoreImage only;
  only.TakeFrom(handed.texture);
  ClassifyRegions(handed.image, handed.image, std::move(only), handed.marks, 30, 255);
  EXPECT_EQ(AllBytes(handed.image), classified);
}

TEST(ClassifyRegions, TransparentBackgroundMarkDoesNotSeed) {
  CTwoHalves t;
  SetPixelByte(t.marks, 1, 0, 0, keMarkBackground);
  SetPixelByte(t.image, 1, 0, 3, 0);
  ClassifyRegions(t.image, t.image, t.texture, t.marks, 30, 255);
  std::vector<uint8_t> expected(16, 200);
  expected[1] = 0;
  EXPECT_EQ(Alphas(t.image), expected);
}

TEST(ClassifyRegions, ObjectAndBackgroundMarksSplitTheImage) {
  CTwoHalves t;
  SetPixelByte(t.marks, 0, 0, 0, keMarkBackground);
  SetPixelByte(t.marks, 6, 1, 0, keMarkObject);
  ClassifyRegions(t.image, t.image, t.texture, t.marks, 30, 255);
  const std::vector<uint8_t> expected{0, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 255, 255, 255, 255};
  EXPECT_EQ(Alphas(t.image), expected);
}

// A two-pixel row: a seed and a transparent neighbour `offset` brighter in
// blue. Answers whether the neighbour joined the seed's region.
bool NeighbourJoins(int offset, uint8_t seedMark, int strength, uint8_t textureValue) {
  CCoreImage image, texture, marks;
  MakeBGRA(image, 2, 1, 60, 60, 60, 255);
  SetPixelByte(image, 1, 0, 0, static_cast<uint8_t>(60 + offset));
  SetPixelByte(image, 1, 0, 3, 0);
  MakeGrey(texture, 2, 1, textureValue);
  MakeGrey(marks, 2, 1, keMarkNone);
  SetPixelByte(marks, 0, 0, 0, seedMark);
  // A background region sets its unmarked pixels to 0, so start them at 128.
  if (seedMark == keMarkBackground) SetPixelByte(image, 1, 0, 3, 128);
  ClassifyRegions(image, image, texture, marks, strength, 255);
  const uint8_t alpha = PixelByte(image, 1, 0, 3);
  return seedMark == keMarkObject ? alpha == 255 : alpha == 0;
}

TEST(ClassifyRegions, ObjectSeedsUseTwoThirdsOfTheStrength) {
  EXPECT_EQ(ObjectTolerance(30), 20);
  EXPECT_EQ(ObjectTolerance(100), 66);
  // Full texture: the threshold is trunc(255 × tol × 2.5 / 256).
  EXPECT_TRUE(NeighbourJoins(49, keMarkObject, 30, 255));       // tol 20: 49
  EXPECT_FALSE(NeighbourJoins(50, keMarkObject, 30, 255));
  EXPECT_TRUE(NeighbourJoins(50, keMarkBackground, 30, 255));   // tol 30: 74
  EXPECT_TRUE(NeighbourJoins(164, keMarkObject, 100, 255));     // tol 66: 164
  EXPECT_FALSE(NeighbourJoins(165, keMarkObject, 100, 255));    // 66.67 would give 166
}

TEST(ClassifyRegions, FlatThresholdDecidesAtItsExactValue) {
  EXPECT_TRUE(NeighbourJoins(7, keMarkBackground, 30, 0));
  EXPECT_FALSE(NeighbourJoins(8, keMarkBackground, 30, 0));
  EXPECT_TRUE(NeighbourJoins(24, keMarkBackground, 100, 0));
  EXPECT_FALSE(NeighbourJoins(25, keMarkBackground, 100, 0));
}

TEST(ClassifyRegions, StrengthZeroTakesOnlyTheSeedColour) {
  CCoreImage image, texture, marks;
  MakeBGRA(image, 5, 1, 90, 90, 90, 255);
  SetPixelByte(image, 2, 0, 1, 91);
  MakeGrey(texture, 5, 1, 200);
  MakeGrey(marks, 5, 1, keMarkNone);
  SetPixelByte(marks, 0, 0, 0, keMarkBackground);
  ClassifyRegions(image, image, texture, marks, 0, 255);
  const std::vector<uint8_t> expected{0, 0, 255, 255, 255};
  EXPECT_EQ(Alphas(image), expected);
}

// One flat row, so the first seed's region lists the row left to right.
std::vector<uint8_t> RowAlphasAfter(const std::vector<uint8_t>& rowMarks) {
  const int w = static_cast<int>(rowMarks.size());
  CCoreImage image, texture, marks;
  MakeBGRA(image, w, 1, 30, 140, 90, 255);
  MakeGrey(texture, w, 1, 0);
  FromBytes(marks, w, 1, keFormatGrey, rowMarks);
  ClassifyRegions(image, image, texture, marks, 30, 255);
  return Alphas(image);
}

TEST(ClassifyRegions, MixedRegionIsSettledByTheNextListedPixel) {
  const uint8_t B = keMarkBackground, O = keMarkObject, N = keMarkNone;
  // Object, background, unmarked: stays mixed, only the object mark kept.
  EXPECT_EQ(RowAlphasAfter({O, B, N, N, N}), (std::vector<uint8_t>{255, 0, 0, 0, 0}));
  // Object, background, object: becomes object, only the background mark erased.
  EXPECT_EQ(RowAlphasAfter({O, B, O, N, N}), (std::vector<uint8_t>{255, 0, 255, 255, 255}));
  // Background, object, unmarked: mixed as well.
  EXPECT_EQ(RowAlphasAfter({B, O, N, N}), (std::vector<uint8_t>{0, 255, 0, 0}));
  // Unmarked pixels before the first mark do not change the state.
  EXPECT_EQ(RowAlphasAfter({N, N, O, N}), (std::vector<uint8_t>{255, 255, 255, 255}));
}

TEST(ClassifyRegions, SeparateTargetGetsSourceColoursOnlyWhereRegionsReach) {
  CTwoHalves t;
  SetPixelByte(t.marks, 2, 0, 0, keMarkBackground);
  CCoreImage target;
  MakeBGRA(target, 8, 2, 1, 2, 3, 77);
  const std::vector<uint8_t> sourceBefore = AllBytes(t.image);
  ClassifyRegions(t.image, target, t.texture, t.marks, 30, 255);
  EXPECT_EQ(AllBytes(t.image), sourceBefore);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool reached = x < 4;
      EXPECT_EQ(PixelByte(target, x, y, 0), reached ? 20 : 1);
      EXPECT_EQ(PixelByte(target, x, y, 2), reached ? 20 : 3);
      EXPECT_EQ(PixelByte(target, x, y, 3), reached ? 0 : 77);
    }
  }
}

TEST(ClassifyRegions, ColourDistanceAddsOppositeSigns) {
  const uint8_t black[3] = {0, 0, 0}, white[3] = {255, 255, 255};
  const uint8_t p[3] = {10, 200, 10}, q[3] = {200, 10, 200};
  const uint8_t a[3] = {10, 20, 30}, b[3] = {15, 22, 31};
  EXPECT_EQ(ColourDistance(black, white), 255);
  EXPECT_EQ(ColourDistance(p, q), 380);
  EXPECT_EQ(ColourDistance(q, p), 380);
  EXPECT_EQ(ColourDistance(a, b), 5);
}

TEST(ClassifyRegions, ThresholdExamples) {
  EXPECT_EQ(AcceptanceThreshold(30, 0, 0, 255), 7);
  EXPECT_EQ(AcceptanceThreshold(100, 0, 0, 255), 24);
  EXPECT_EQ(AcceptanceThreshold(30, 100, 100, 255), 29);
  // Texture differences narrow the threshold: (1 − 100/256) × 100 × 30 × 2.5/256.
  EXPECT_EQ(AcceptanceThreshold(30, 100, 0, 255), 17);
}

TEST(ClassifyRegions, ImagesOfDifferentSizesAreRefused) {
  CCoreImage image, texture, marks;
  MakeBGRA(image, 4, 4, 0, 0, 0, 255);
  MakeGrey(texture, 4, 3, 0);
  MakeGrey(marks, 4, 4, keMarkNone);
  try {
    ClassifyRegions(image, image, texture, marks, 30, 255);
    FAIL() << "no error raised";
  } catch (const CJException& e) {
    EXPECT_EQ(e.Code(), keErrInvalidArgument);
  }
}

}  // namespace
