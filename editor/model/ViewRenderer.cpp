#include "editor/model/ViewRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imagecore/BlendTables.h"
#include "imagecore/RowLease.h"

namespace {

// Resampling steps are in units of 1/10000 of a source pixel.
constexpr int64_t kFixedOne = 10000;

// How the shown image is read.
enum keSourceUse : int { keSourceNone, keSourceComposite, keSourceCopy };

// Far-off or absurd values stay convertible; nothing that large is drawn.
int ToInt(double value) {
  constexpr double kLimit = 1 << 30;
  return static_cast<int>(std::clamp(value, -kLimit, kLimit));
}

CoreRect Intersect(const CoreRect& a, const CoreRect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

CoreRect Offset(CoreRect r, int dx, int dy) {
  return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

// What a paint reads and how it maps, shared by both paths.
struct CPaintPlan {
  keSourceUse use = keSourceNone;
  CCoreImage* source = nullptr;
  CCoreImage converted;  // the BGRA view of a GreyA image
  int pixelBytes = 0;
  int width = 0;
  int height = 0;
  int64_t step = 1;  // Z: screen pixels per source pixel, in 1/10000
  CViewPaintArea area;
  uint8_t matteA[3] = {};  // blue, green, red
  uint8_t matteB[3] = {};
};

// Which image to read: a GreyA image goes through a BGRA view of a share, so
// the caller's image keeps its own view.
CoreResult ChooseSource(CCoreImage& image, CPaintPlan& plan) {
  if (!image.HasStorage() || image.Width() <= 0 || image.Height() <= 0) return CoreResult();
  switch (image.ViewFormat()) {
    case keFormatBGRA:
      plan.source = &image;
      plan.use = keSourceComposite;
      break;
    case keFormatBGR:
      plan.source = &image;
      plan.use = keSourceCopy;
      break;
    case keFormatGreyA: {
      plan.converted = image;
      CoreResult result = plan.converted.SetViewFormat(keFormatBGRA, keAccessRead);
      if (!result.IsNull()) return result;
      plan.source = &plan.converted;
      plan.use = keSourceComposite;
      break;
    }
    default:
      return CoreResult();
  }
  plan.pixelBytes = plan.use == keSourceCopy ? 3 : 4;
  return CoreResult();
}

CoreResult PreparePlan(CCoreImage& image, const CViewPaint& paint, CPaintPlan& plan) {
  CoreResult result = ChooseSource(image, plan);
  if (!result.IsNull() || plan.use == keSourceNone) return result;
  plan.width = plan.source->Width();
  plan.height = plan.source->Height();
  plan.area = ViewPaintArea(plan.width, plan.height, paint);
  if (plan.area.IsEmpty()) {
    plan.use = keSourceNone;
    return CoreResult();
  }
  // At least 1: a zoom below 1/10000 would otherwise divide by zero.
  plan.step = std::max<int64_t>(1, static_cast<int64_t>(std::trunc(paint.zoom * 10000)));
  for (int c = 0; c < 3; ++c) {
    plan.matteA[c] = paint.matte.a[2 - c];
    plan.matteB[c] = paint.matte.b[2 - c];
  }
  return CoreResult();
}

// The source pixel a destination column or row shows, counted from the
// scaled image's corner; clamped, since the last partial screen pixel can map
// one past the edge.
int SourceIndex(int64_t screen, int64_t step, int last) {
  return static_cast<int>(std::min<int64_t>(screen * kFixedOne / step, last));
}

CoreResult PrepareBuffer(CCoreImage& buffer, int width, int height) {
  if (buffer.HasStorage() && buffer.StorageFormat() == keFormatBGR &&
      buffer.ViewFormat() == keFormatBGR && !buffer.HasRowCache() && buffer.Width() == width &&
      buffer.Height() == height) {
    return CoreResult();
  }
  return buffer.Create(width, height, keFormatBGR, nullptr, nullptr, 0);
}

uint8_t BlendChannel(unsigned s, unsigned a, unsigned b, const uint8_t* T) {
  if (a == 255) return static_cast<uint8_t>(s);
  if (a == 0) return static_cast<uint8_t>(b);
  if (b < s) return static_cast<uint8_t>(b + T[a * (s - b)]);
  return static_cast<uint8_t>(s + T[(b - s) * (255 - a)]);
}

// The same result in one lookup: the smaller value plus the blended
// distance, weighted by alpha toward the source or its complement toward the
// matte.
inline uint8_t BlendChannelFast(unsigned s, unsigned a, unsigned b, const uint8_t* T) {
  const bool up = b < s;
  const unsigned low = up ? b : s;
  const unsigned distance = up ? s - b : b - s;
  const unsigned weight = up ? a : 255 - a;
  return static_cast<uint8_t>(low + T[weight * distance]);
}

}  // namespace

CClientPoint ScaledImageOrigin(double zoom, int imageWidth, int imageHeight, int clientWidth,
                               int clientHeight, bool centre) {
  if (!centre) return {};
  const int scaledWidth = ToInt(std::trunc(imageWidth * zoom));
  const int scaledHeight = ToInt(std::trunc(imageHeight * zoom));
  return {scaledWidth < clientWidth ? (clientWidth - scaledWidth) / 2 : 0,
          scaledHeight < clientHeight ? (clientHeight - scaledHeight) / 2 : 0};
}

CViewPaintArea ViewPaintArea(int imageWidth, int imageHeight, const CViewPaint& paint) {
  const double zoom = paint.zoom;
  if (imageWidth <= 0 || imageHeight <= 0 || !(zoom > 0)) return {};
  const int ox = paint.origin.x;
  const int oy = paint.origin.y;
  const CoreRect scaled{ox, oy, ox + ToInt(std::trunc(imageWidth * zoom)),
                        oy + ToInt(std::trunc(imageHeight * zoom))};
  const CoreRect visible = Offset(Intersect(paint.clip, scaled), -ox, -oy);
  if (visible.IsEmpty()) return {};

  // Every source pixel the clip box touches, and the next one for the part
  // of a pixel the truncation cut off.
  CoreRect source{ToInt(std::trunc(visible.left / zoom)), ToInt(std::trunc(visible.top / zoom)),
                  ToInt(std::trunc(visible.right / zoom)) + 1,
                  ToInt(std::trunc(visible.bottom / zoom)) + 1};
  source = Intersect(source, {0, 0, imageWidth, imageHeight});
  if (source.IsEmpty()) return {};

  const CoreRect covered{
      ToInt(std::floor(zoom * source.left)), ToInt(std::floor(zoom * source.top)),
      ToInt(std::ceil(zoom * source.right)), ToInt(std::ceil(zoom * source.bottom))};
  const CoreRect client{paint.scrollX, paint.scrollY, paint.scrollX + paint.clientWidth,
                        paint.scrollY + paint.clientHeight};
  const CoreRect destination = Intersect(Offset(covered, ox, oy), client);
  if (destination.IsEmpty()) return {};
  return {source, destination};
}

namespace {

// `width` destination pixels, each the source pixel at its column's offset
// in the fetched span over the matte row `back`.
void CompositeRow(uint8_t* out, const uint8_t* in, const uint32_t* column, const uint8_t* back,
                  int width, const uint8_t* T) {
  for (int k = 0; k < width; ++k) {
    const uint8_t* s = in + column[k];
    uint8_t* o = out + 3 * k;
    const uint8_t* b = back + 3 * k;
    const unsigned a = s[3];
    if (a == 255) {
      o[0] = s[0], o[1] = s[1], o[2] = s[2];
    } else if (a == 0) {
      o[0] = b[0], o[1] = b[1], o[2] = b[2];
    } else {
      o[0] = BlendChannelFast(s[0], a, b[0], T);
      o[1] = BlendChannelFast(s[1], a, b[1], T);
      o[2] = BlendChannelFast(s[2], a, b[2], T);
    }
  }
}

// Every pixel worked out on its own, straight from the rules.
void PaintReferenceRows(const CPaintPlan& plan, const CViewPaint& paint, CCoreImage& buffer) {
  const CoreRect dest = plan.area.destination;
  const uint8_t* T = BlendTableT();
  for (int y = dest.top; y < dest.bottom; ++y) {
    const int j = y - paint.origin.y;
    const CRowLease inRow(*plan.source, SourceIndex(j, plan.step, plan.height - 1));
    const CRowLease outRow(buffer, y - dest.top);
    const uint8_t* in = inRow.Data();
    uint8_t* out = outRow.Data();
    for (int x = dest.left; x < dest.right; ++x) {
      const int i = x - paint.origin.x;
      const uint8_t* s =
          in + static_cast<size_t>(SourceIndex(i, plan.step, plan.width - 1)) * plan.pixelBytes;
      uint8_t* o = out + static_cast<size_t>(x - dest.left) * 3;
      if (plan.use == keSourceCopy) {
        std::memcpy(o, s, 3);
        continue;
      }
      const bool cellB = (i / kCheckerCell + j / kCheckerCell) % 2 == 0;
      const uint8_t* b = cellB ? plan.matteB : plan.matteA;
      for (int c = 0; c < 3; ++c) o[c] = BlendChannel(s[c], s[3], b[c], T);
    }
  }
}

// Column offsets and the matte rows worked out once; a source row shown
// again in the same checker phase is copied from the row above.
void PaintRows(const CPaintPlan& plan, const CViewPaint& paint, CCoreImage& buffer) {
  const CoreRect dest = plan.area.destination;
  const int width = dest.Width();

  // Byte offsets of each column's source pixel within the fetched span,
  // which runs from the first mapped column to the last.
  std::vector<uint32_t> columns(static_cast<size_t>(width));
  const int spanLeft = SourceIndex(dest.left - paint.origin.x, plan.step, plan.width - 1);
  const int spanRight = SourceIndex(dest.right - 1 - paint.origin.x, plan.step, plan.width - 1) + 1;
  for (int k = 0; k < width; ++k) {
    const int column = SourceIndex(dest.left + k - paint.origin.x, plan.step, plan.width - 1);
    columns[k] = static_cast<uint32_t>((column - spanLeft) * plan.pixelBytes);
  }

  // The matte behind one row for each checker phase: rows whose cell row is
  // even start their cells with b.
  const bool composite = plan.use == keSourceComposite;
  const bool solid = std::memcmp(plan.matteA, plan.matteB, 3) == 0;
  std::vector<uint8_t> matte[2];
  if (composite) {
    for (int phase = 0; phase < 2; ++phase) {
      matte[phase].resize(static_cast<size_t>(width) * 3);
      for (int k = 0; k < width; ++k) {
        const int i = dest.left + k - paint.origin.x;
        const bool cellB = (i / kCheckerCell + phase) % 2 == 0;
        std::memcpy(&matte[phase][static_cast<size_t>(k) * 3], cellB ? plan.matteB : plan.matteA,
                    3);
      }
    }
  }

  const uint8_t* T = BlendTableT();
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  uint8_t* previousOut = nullptr;
  int previousRow = -1;
  int previousPhase = -1;
  for (int y = dest.top; y < dest.bottom; ++y) {
    const int j = y - paint.origin.y;
    const int sourceRow = SourceIndex(j, plan.step, plan.height - 1);
    // The checker phase only matters where there is a checkerboard to see.
    const int phase = composite && !solid ? (j / kCheckerCell) % 2 : 0;
    const CRowLease outRow(buffer, y - dest.top);
    uint8_t* out = outRow.Data();
    // The buffer has no view, so a row it gave stays where it is once given back.
    if (sourceRow == previousRow && phase == previousPhase) {
      std::memcpy(out, previousOut, rowBytes);
      previousOut = out;
      continue;
    }
    const CRowLease inRow(*plan.source, sourceRow, spanLeft, spanRight - spanLeft);
    const uint8_t* in = inRow.Data();
    const uint32_t* column = columns.data();
    if (!composite) {
      for (int k = 0; k < width; ++k) std::memcpy(out + 3 * k, in + column[k], 3);
    } else {
      CompositeRow(out, in, column, matte[solid ? 0 : phase].data(), width, T);
    }
    previousOut = out;
    previousRow = sourceRow;
    previousPhase = phase;
  }
}

// What both renderers share: the plan, a buffer of the destination's size,
// then paintRows(plan). The rows are leased, and a lease raises when its row
// cannot be had: that failure comes back as the result, and `area` is set
// only when the paint is complete.
template <class Fn>
CoreResult Paint(CCoreImage& image, const CViewPaint& paint, CCoreImage& buffer,
                 CViewPaintArea& area, Fn paintRows) {
  area = {};
  CPaintPlan plan;
  CoreResult result = PreparePlan(image, paint, plan);
  if (!result.IsNull() || plan.use == keSourceNone) return result;
  const CoreRect& dest = plan.area.destination;
  result = PrepareBuffer(buffer, dest.Width(), dest.Height());
  if (!result.IsNull()) return result;
  try {
    paintRows(plan);
  } catch (const CJException& caught) {
    ResultFromException(result, caught);
    return result;
  }
  area = plan.area;
  return result;
}

}  // namespace

CoreResult RenderViewReference(CCoreImage& image, const CViewPaint& paint, CCoreImage& buffer,
                               CViewPaintArea& area) {
  return Paint(image, paint, buffer, area,
               [&](const CPaintPlan& plan) { PaintReferenceRows(plan, paint, buffer); });
}

CoreResult RenderView(CCoreImage& image, const CViewPaint& paint, CCoreImage& buffer,
                      CViewPaintArea& area) {
  return Paint(image, paint, buffer, area,
               [&](const CPaintPlan& plan) { PaintRows(plan, paint, buffer); });
}

