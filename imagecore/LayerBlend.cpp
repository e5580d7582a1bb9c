#include "imagecore/LayerBlend.h"

#include <algorithm>
#include <cstring>

namespace {

// ---- Pixel formats the blend reads and writes ------------------------------

template <keFormat F>
struct CPixelFormat;
template <>
struct CPixelFormat<keFormatGrey> {
  static constexpr int bytes = 1, alpha = -1;
  static constexpr bool colour = false;
};
template <>
struct CPixelFormat<keFormatGreyA> {
  static constexpr int bytes = 2, alpha = 1;
  static constexpr bool colour = false;
};
template <>
struct CPixelFormat<keFormatBGR> {
  static constexpr int bytes = 3, alpha = -1;
  static constexpr bool colour = true;
};
template <>
struct CPixelFormat<keFormatBGRA> {
  static constexpr int bytes = 4, alpha = 3;
  static constexpr bool colour = true;
};

template <keFormat F>
unsigned AlphaOf(const uint8_t* p) {
  if constexpr (CPixelFormat<F>::alpha >= 0)
    return p[CPixelFormat<F>::alpha];
  else
    return 255;
}

// The source as the destination sees it: a grey source lends its value to
// every colour channel, a colour source lends its luminance to a grey
// destination.
template <keFormat D, keFormat S>
void ReadSource(const uint8_t* p, unsigned* s) {
  if constexpr (CPixelFormat<D>::colour) {
    if constexpr (CPixelFormat<S>::colour) {
      s[0] = p[0];
      s[1] = p[1];
      s[2] = p[2];
    } else {
      s[0] = s[1] = s[2] = p[0];
    }
  } else {
    if constexpr (CPixelFormat<S>::colour)
      s[0] = Luminance(p[2], p[1], p[0]);
    else
      s[0] = p[0];
  }
}

// ---- Per-channel modes -------------------------------------------------------

// The blend value f(c, s) mixed with the destination by the coverage.
template <unsigned (*F)(const CBlendTables&, unsigned, unsigned)>
uint8_t MixedBy(const CBlendTables& t, unsigned c, unsigned s, unsigned k) {
  return t.T[(255 - k) * c + k * F(t, c, s)];
}

unsigned Darken(const CBlendTables&, unsigned c, unsigned s) { return std::min(c, s); }
unsigned Lighten(const CBlendTables&, unsigned c, unsigned s) { return std::max(c, s); }
unsigned Multiply(const CBlendTables& t, unsigned c, unsigned s) { return t.T[c * s]; }
unsigned Screen(const CBlendTables& t, unsigned c, unsigned s) {
  return 255 - t.T[(255 - s) * (255 - c)];
}
unsigned OverlayOn(unsigned test, unsigned c, unsigned s) {
  return test >= 128 ? 255 - (255 - s) * (255 - c) / 128 : s * c / 128;
}
unsigned Overlay(const CBlendTables&, unsigned c, unsigned s) { return OverlayOn(c, c, s); }
unsigned HardLight(const CBlendTables&, unsigned c, unsigned s) { return OverlayOn(s, c, s); }

// Below the middle the source darkens by c(1 - c) scaled by (1 - 2s); above
// it lightens towards sqrt(c) (table Q) scaled by (2s - 1). D gives the
// scale |2s - 255| / 255 in 16.16 without a division.
unsigned SoftLight(const CBlendTables& t, unsigned c, unsigned s) {
  if (s < 128) {
    const uint32_t scale = t.D[(255 - 2 * s) * 256 + 255];
    return c - ((scale * t.T[c * (255 - c)] + 32768) >> 16);
  }
  const uint32_t scale = t.D[(2 * s - 255) * 256 + 255];
  return c + ((scale * (t.Q[c] - c) + 32768) >> 16);
}

// c / (1 - s), saturating; black stays black.
unsigned Dodge(const CBlendTables& t, unsigned c, unsigned s) {
  if (c == 0) return 0;
  if (c >= 255 - s) return 255;
  return (t.D[c * 256 + (255 - s)] * 255 + 32768) >> 16;
}

// 1 - (1 - c) / s, saturating; white stays white.
unsigned Burn(const CBlendTables& t, unsigned c, unsigned s) {
  if (c == 255) return 255;
  if (255 - c >= s) return 0;
  return 255 - ((t.D[(255 - c) * 256 + s] * 255 + 32768) >> 16);
}

unsigned Exclusion(const CBlendTables& t, unsigned c, unsigned s) {
  return t.T[(255 - c) * s + (255 - s) * c];
}

// The difference takes the covered source directly, without the mix.
uint8_t Difference(const CBlendTables& t, unsigned c, unsigned s, unsigned k) {
  const unsigned ks = t.T[k * s];
  return static_cast<uint8_t>(c > ks ? c - ks : ks - c);
}

// ---- Colour models -------------------------------------------------------

int RoundedDivide(int numerator, int denominator) {
  return numerator >= 0 ? (2 * numerator + denominator) / (2 * denominator)
                        : -((-2 * numerator + denominator) / (2 * denominator));
}

// Channels are held blue, green, red throughout.
struct CHsl {
  int h;  // 0..239
  int s;  // 0..255
  int l;  // 0..255
};

CHsl ToHsl(const unsigned* bgr) {
  const int b = static_cast<int>(bgr[0]), g = static_cast<int>(bgr[1]),
            r = static_cast<int>(bgr[2]);
  const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
  CHsl hsl{0, 0, (mx + mn + ((r ^ g ^ b) & 1)) / 2};
  if (mx == mn) return hsl;
  const int d = mx - mn;
  const int sum = mx + mn;
  const int denominator = hsl.l >= 128 ? 510 - sum : sum;
  hsl.s = std::min(255, (d * 256 + denominator / 2) / denominator);
  int h;
  if (mx == r)
    h = RoundedDivide(40 * (g - b), d);
  else if (mx == g)
    h = 80 + RoundedDivide(40 * (b - r), d);
  else
    h = 160 + RoundedDivide(40 * (r - g), d);
  hsl.h = ((h % 240) + 240) % 240;
  return hsl;
}

// 12-bit fixed point: 4080 is 1.0 (255 * 16) and the hue circle.
constexpr int kHslOne = 4080;
constexpr int kHslSixth = kHslOne / 6;  // 60 degrees
constexpr int kHslThird = kHslOne / 3;  // 120 degrees

int HslChannel(int m1, int m2, int h) {
  h = ((h % kHslOne) + kHslOne) % kHslOne;
  int v;
  if (h < kHslSixth)
    v = m1 + ((m2 - m1) * h + kHslSixth / 2) / kHslSixth;
  else if (h < 3 * kHslSixth)
    v = m2;
  else if (h < 4 * kHslSixth)
    v = m1 + ((m2 - m1) * (4 * kHslSixth - h) + kHslSixth / 2) / kHslSixth;
  else
    v = m1;
  v = std::clamp(v, 0, kHslOne);
  return (v >> 4) + ((v >> 3) & 1);
}

void FromHsl(const CHsl& hsl, unsigned* bgr) {
  const int L = hsl.l * 16, S = hsl.s * 16;
  const int m2 = hsl.l < 128 ? (L * (kHslOne + S) + kHslOne / 2) / kHslOne
                             : L + S - (L * S + kHslOne / 2) / kHslOne;
  const int m1 = 2 * L - m2;
  const int H = hsl.h * 17;
  bgr[2] = static_cast<unsigned>(HslChannel(m1, m2, H + kHslThird));
  bgr[1] = static_cast<unsigned>(HslChannel(m1, m2, H));
  bgr[0] = static_cast<unsigned>(HslChannel(m1, m2, H - kHslThird));
}

// Hue, saturation, value: hue on a 1530-step circle (255 per sextant).
struct CHsv {
  int h;
  int s;
  int v;
};

CHsv ToHsv(const unsigned* bgr) {
  const int b = static_cast<int>(bgr[0]), g = static_cast<int>(bgr[1]),
            r = static_cast<int>(bgr[2]);
  const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const int d = mx - mn;
  CHsv hsv{0, mx == 0 ? 0 : (d * 255 + mx / 2) / mx, mx};
  if (d == 0) return hsv;
  int h;
  if (mx == r)
    h = RoundedDivide(255 * (g - b), d);
  else if (mx == g)
    h = 510 + RoundedDivide(255 * (b - r), d);
  else
    h = 1020 + RoundedDivide(255 * (r - g), d);
  hsv.h = ((h % 1530) + 1530) % 1530;
  return hsv;
}

void FromHsv(const uint8_t* T, const CHsv& hsv, unsigned* bgr) {
  const unsigned v = static_cast<unsigned>(hsv.v), s = static_cast<unsigned>(hsv.s);
  const unsigned sector = static_cast<unsigned>(hsv.h) / 255,
                 f = static_cast<unsigned>(hsv.h) % 255;
  const unsigned p = T[v * (255 - s)];
  const unsigned q = T[v * (255 - T[s * f])];
  const unsigned t = T[v * (255 - T[s * (255 - f)])];
  unsigned r, g, b;
  switch (sector) {
    case 0:
      r = v, g = t, b = p;
      break;
    case 1:
      r = q, g = v, b = p;
      break;
    case 2:
      r = p, g = v, b = t;
      break;
    case 3:
      r = p, g = q, b = v;
      break;
    case 4:
      r = t, g = p, b = v;
      break;
    default:
      r = v, g = p, b = q;
      break;
  }
  bgr[0] = b;
  bgr[1] = g;
  bgr[2] = r;
}

void HsvHue(const CBlendTables& t, const unsigned* c, const unsigned* s, unsigned* f) {
  CHsv d = ToHsv(c);
  d.h = ToHsv(s).h;
  FromHsv(t.T, d, f);
}
void HsvSaturation(const CBlendTables& t, const unsigned* c, const unsigned* s, unsigned* f) {
  CHsv d = ToHsv(c);
  d.s = ToHsv(s).s;
  FromHsv(t.T, d, f);
}
void HsvHueSaturation(const CBlendTables& t, const unsigned* c, const unsigned* s, unsigned* f) {
  CHsv d = ToHsv(c);
  const CHsv src = ToHsv(s);
  d.h = src.h;
  d.s = src.s;
  FromHsv(t.T, d, f);
}
void HsvValue(const CBlendTables& t, const unsigned* c, const unsigned* s, unsigned* f) {
  CHsv d = ToHsv(c);
  d.v = ToHsv(s).v;
  FromHsv(t.T, d, f);
}

void HslHue(const CBlendTables&, const unsigned* c, const unsigned* s, unsigned* f) {
  CHsl d = ToHsl(c);
  d.h = ToHsl(s).h;
  FromHsl(d, f);
}
void HslSaturation(const CBlendTables&, const unsigned* c, const unsigned* s, unsigned* f) {
  CHsl d = ToHsl(c);
  d.s = ToHsl(s).s;
  FromHsl(d, f);
}
void HslHueSaturation(const CBlendTables&, const unsigned* c, const unsigned* s, unsigned* f) {
  CHsl d = ToHsl(c);
  const CHsl src = ToHsl(s);
  d.h = src.h;
  d.s = src.s;
  FromHsl(d, f);
}
void HslLightness(const CBlendTables&, const unsigned* c, const unsigned* s, unsigned* f) {
  CHsl d = ToHsl(c);
  d.l = ToHsl(s).l;
  FromHsl(d, f);
}

// ---- Rows ---------------------------------------------------------------------

enum : int { kFamilyNormal, kFamilyChannel, kFamilyColour, kFamilyDissolve };

unsigned RangeLuminance(const unsigned* bgr) {
  return (30 * bgr[2] + 59 * bgr[1] + 11 * bgr[0] + 50) / 100;
}

template <int N>
unsigned Coverage(const uint8_t* T, const CBlendRangeTable& ranges, unsigned opacity,
                  const unsigned* c, const unsigned* s) {
  unsigned k = opacity;
  if constexpr (N == 3) {
    k = T[k * ranges.source.grey[RangeLuminance(s)]];
    k = T[k * ranges.destination.grey[RangeLuminance(c)]];
    for (int ch = 0; ch < 3; ++ch) {
      k = T[k * ranges.source.channel[ch][s[ch]]];
      k = T[k * ranges.destination.channel[ch][c[ch]]];
    }
  } else {
    k = T[k * ranges.source.grey[s[0]]];
    k = T[k * ranges.destination.grey[c[0]]];
  }
  return k;
}

inline unsigned Weighted(uint32_t w, unsigned c, unsigned s) {
  return ((65536 - w) * c + w * s + 32768) >> 16;
}

template <keFormat D, keFormat S, int Family>
void BlendRow(const CRowOperation& operation, CRowContext& context) {
  using DF = CPixelFormat<D>;
  using SF = CPixelFormat<S>;
  constexpr int N = DF::colour ? 3 : 1;
  const CLayerBlend& blend = static_cast<const CLayerBlend&>(operation);
  const CBlendTables& t = blend.BoundTables();
  if (!t.T) return;  // run without a Bind: no tables to blend with
  const uint8_t* T = t.T;
  const CBlendRangeTable* ranges = blend.BlendRanges();
  const unsigned opacity = static_cast<unsigned>(blend.Opacity());
  const bool storeAlpha = DF::alpha >= 0 && !blend.KeepsDestinationAlpha();
  const CLayerBlend::ChannelMix channelMix = blend.BoundChannelMix();
  const CLayerBlend::ColourMix colourMix = blend.BoundColourMix();
  const uint8_t* dissolve = t.R + (context.y & (kBlendTableRSide - 1)) * kBlendTableRSide;

  uint8_t* d = context.destination;
  const uint8_t* p = context.source;
  for (int i = 0; i < context.count; ++i, d += DF::bytes, p += SF::bytes) {
    unsigned c[3];
    unsigned s[3];
    for (int ch = 0; ch < N; ++ch) c[ch] = d[ch];
    ReadSource<D, S>(p, s);
    const unsigned da = AlphaOf<D>(d);
    const unsigned sa = AlphaOf<S>(p);
    const unsigned k = ranges ? Coverage<N>(T, *ranges, opacity, c, s) : opacity;
    unsigned alpha = T[k * sa];
    if (alpha == 0) continue;
    if constexpr (Family == kFamilyDissolve) {
      // A pixel shows the source wholly or not at all; the chance of showing
      // it grows with its effective alpha.
      if (alpha <= dissolve[(context.x + i) & (kBlendTableRSide - 1)]) continue;
      alpha = 255;
    }
    const unsigned A = da + T[(255 - da) * alpha];
    const uint32_t w = t.D[alpha * 256 + A];
    if constexpr (Family == kFamilyNormal || Family == kFamilyDissolve) {
      for (int ch = 0; ch < N; ++ch) c[ch] = Weighted(w, c[ch], s[ch]);
    } else if (da != 0) {
      unsigned u[3];
      if constexpr (Family == kFamilyChannel) {
        for (int ch = 0; ch < N; ++ch) u[ch] = channelMix(t, c[ch], s[ch], k);
      } else {
        unsigned f[3];
        colourMix(t, c, s, f);
        for (int ch = 0; ch < 3; ++ch) u[ch] = T[(255 - k) * c[ch] + k * f[ch]];
      }
      for (int ch = 0; ch < N; ++ch) {
        const unsigned sPrime = T[s[ch] * (255 - da) + u[ch] * da];
        const unsigned cPrime = T[c[ch] * (255 - sa) + u[ch] * sa];
        c[ch] = Weighted(w, cPrime, sPrime);
      }
    } else {
      // Over a transparent destination the mode has nothing to act on.
      for (int ch = 0; ch < N; ++ch) c[ch] = Weighted(w, c[ch], s[ch]);
    }
    for (int ch = 0; ch < N; ++ch) d[ch] = static_cast<uint8_t>(c[ch]);
    if constexpr (DF::alpha >= 0) {
      if (storeAlpha) d[DF::alpha] = static_cast<uint8_t>(A);
    }
  }
}

template <keFormat D, keFormat S, int Family>
constexpr CRowImplementation Entry() {
  return {D, S, 0, &BlendRow<D, S, Family>};
}

template <keFormat D, int Family>
constexpr CRowImplementation EntryFrom(int source) {
  switch (source) {
    case 0:
      return Entry<D, keFormatGrey, Family>();
    case 1:
      return Entry<D, keFormatGreyA, Family>();
    case 2:
      return Entry<D, keFormatBGR, Family>();
    default:
      return Entry<D, keFormatBGRA, Family>();
  }
}

template <int Family>
constexpr CRowImplementation kColourRows[] = {
    EntryFrom<keFormatBGR, Family>(0),  EntryFrom<keFormatBGR, Family>(1),
    EntryFrom<keFormatBGR, Family>(2),  EntryFrom<keFormatBGR, Family>(3),
    EntryFrom<keFormatBGRA, Family>(0), EntryFrom<keFormatBGRA, Family>(1),
    EntryFrom<keFormatBGRA, Family>(2), EntryFrom<keFormatBGRA, Family>(3),
};

template <int Family>
constexpr CRowImplementation kAllRows[] = {
    EntryFrom<keFormatGrey, Family>(0),  EntryFrom<keFormatGrey, Family>(1),
    EntryFrom<keFormatGrey, Family>(2),  EntryFrom<keFormatGrey, Family>(3),
    EntryFrom<keFormatGreyA, Family>(0), EntryFrom<keFormatGreyA, Family>(1),
    EntryFrom<keFormatGreyA, Family>(2), EntryFrom<keFormatGreyA, Family>(3),
    EntryFrom<keFormatBGR, Family>(0),   EntryFrom<keFormatBGR, Family>(1),
    EntryFrom<keFormatBGR, Family>(2),   EntryFrom<keFormatBGR, Family>(3),
    EntryFrom<keFormatBGRA, Family>(0),  EntryFrom<keFormatBGRA, Family>(1),
    EntryFrom<keFormatBGRA, Family>(2),  EntryFrom<keFormatBGRA, Family>(3),
};

template <const auto& Table>
RowFunction LookUpIn(keFormat destination, keFormat source) {
  return LookUpImplementation(Table, sizeof Table / sizeof Table[0], destination, source);
}

CLayerBlend::ChannelMix ChannelMixFor(int mode) {
  switch (mode) {
    case keBlendDarken:
      return MixedBy<Darken>;
    case keBlendLighten:
      return MixedBy<Lighten>;
    case keBlendMultiply:
      return MixedBy<Multiply>;
    case keBlendScreen:
      return MixedBy<Screen>;
    case keBlendOverlay:
      return MixedBy<Overlay>;
    case keBlendHardLight:
      return MixedBy<HardLight>;
    case keBlendSoftLight:
      return MixedBy<SoftLight>;
    case keBlendDifference:
      return Difference;
    case keBlendDodge:
      return MixedBy<Dodge>;
    case keBlendBurn:
      return MixedBy<Burn>;
    case keBlendExclusion:
      return MixedBy<Exclusion>;
    default:
      return nullptr;
  }
}

CLayerBlend::ColourMix ColourMixFor(int mode) {
  switch (mode) {
    case keBlendHue:
      return HsvHue;
    case keBlendSaturation:
      return HsvSaturation;
    case keBlendHueSaturation:
      return HsvHueSaturation;
    case keBlendValue:
      return HsvValue;
    case keBlendHslHue:
      return HslHue;
    case keBlendHslSaturation:
      return HslSaturation;
    case keBlendHslHueSaturation:
      return HslHueSaturation;
    case keBlendHslLightness:
      return HslLightness;
    default:
      return nullptr;
  }
}

}  // namespace

CBlendRangeTable OpenBlendRangeTable() {
  CBlendRangeTable table;
  std::memset(&table, 255, sizeof table);
  return table;
}

std::unique_ptr<CRowOperation> CLayerBlend::Clone() const {
  auto copy = std::make_unique<CLayerBlend>(*this);
  copy->ResetBinding();
  return copy;
}

bool CLayerBlend::Bind(CRowContext& context) {
  ResetBinding();
  context.implementation = LookUp(context.destinationFormat, context.sourceFormat);
  if (!context.implementation) return false;
  m_tables = BlendTablesInUse();
  m_channelMix = ChannelMixFor(m_mode);
  m_colourMix = ColourMixFor(m_mode);
  return true;
}

void CLayerBlend::ResetBinding() {
  m_channelMix = nullptr;
  m_colourMix = nullptr;
  m_tables = {};
}

RowFunction CLayerBlend::LookUp(keFormat destination, keFormat source) const {
  if (m_mode == keBlendNormal) return LookUpIn<kAllRows<kFamilyNormal>>(destination, source);
  if (m_mode == keBlendDissolve) return LookUpIn<kAllRows<kFamilyDissolve>>(destination, source);
  if (ChannelMixFor(m_mode)) return LookUpIn<kAllRows<kFamilyChannel>>(destination, source);
  if (ColourMixFor(m_mode)) return LookUpIn<kColourRows<kFamilyColour>>(destination, source);
  return nullptr;  // not set, or beyond the last mode
}

bool BlendPicture(CCoreImage& face, CCoreImage& picture, int mode, int opacity, int left, int top) {
  const CoreRect faceRect = face.Rect();
  const CoreRect pictureRect = picture.Rect();
  const int x0 = faceRect.left + left;
  const int y0 = faceRect.top + top;
  CoreRect dst;
  dst.left = std::max(faceRect.left, x0);
  dst.top = std::max(faceRect.top, y0);
  dst.right = std::min(faceRect.right, x0 + pictureRect.Width());
  dst.bottom = std::min(faceRect.bottom, y0 + pictureRect.Height());
  if (dst.IsEmpty()) return true;
  CoreRect src;
  src.left = pictureRect.left + (dst.left - x0);
  src.top = pictureRect.top + (dst.top - y0);
  src.right = src.left + dst.Width();
  src.bottom = src.top + dst.Height();
  CLayerBlend blend(mode, opacity);
  return ApplyRowOperation(blend, face, picture, &dst, &src, nullptr);
}
