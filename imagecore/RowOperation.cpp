#include "imagecore/RowOperation.h"

#include <atomic>
#include <cstdio>

#include "imagecore/ProgressScale.h"
#include "platform/MessageBox.h"

namespace {

constexpr const char* kRowOpNames[] = {
    "keRoNOP",
    "keRoChannelConstant",
    "keRoChannelLUT",
    "keRoChannelGet",
    "keRoChannelSet",
    "keRoChannelCopy",
    "keRoChannelMulEqual",
    "keRoChannelLinear",
    "keRoRowAdjustPsp",
    "keRoRowArithmetic",
    "keRoRowBlend",
    nullptr,
    "keRoRowBlendPsp",
    "keRoRowBlendSolid",
    "keRoRowCopy",
    "keRoRowCopyIndexed",
    "keRoRowCopyPalettedWithTransparencyIndex",
    "keRoRowDematte",
    "keRoRowErase",
    "keRoRowFill",
    "keRoRowHSLAdjust",
    "keRoRowHSLCopyChannel",
    "keRoRowRGBAdjust",
    "keRoRowInvert",
    "keRoRowMask",
    "keRoRowMaskOverSolid",
    "keRoRowMatte",
    "keRoRowMulEqual",
    "keRoRowNoise",
    "keRoRowReplaceColor",
    "keRoRowPlusEqual",
    "keRoRowTurbulence",
    nullptr,
    "keRoHighPass",
};

std::atomic<int> g_variantsForTesting{-1};

bool ProcessorHasVariantFeatures() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  return __builtin_cpu_supports("sse4.1");
#else
  return false;
#endif
}

bool WithinImage(const CoreRect& r, const CCoreImage& image) {
  const CoreRect bounds = image.Rect();
  return r.left >= bounds.left && r.top >= bounds.top && r.right <= bounds.right &&
         r.bottom <= bounds.bottom;
}

void ShowMissingBox(const CRowOperation& operation, const CRowContext& context) {
  char text[256];
  std::snprintf(text, sizeof text, "Type = %s\nDst = %s\nSrc = %s", RowOpName(operation.Kind()),
                FormatName(context.destinationFormat), FormatName(context.sourceFormat));
  MessageBox(nullptr, text, "Missing Row Operation", MB_OK);
}

// Keeps the row protocol paired whichever way the loop body is left.
class CHeldRow {
 public:
  CHeldRow(CCoreImage& image, int y, int x, int count) : m_image(image), m_y(y) {
    CoreResult result = image.GetRow(y, x, count, m_row);
    if (ExamineResult(result) != 0) m_row = nullptr;
  }
  ~CHeldRow() {
    if (m_row) m_image.ReleaseRow(m_y);
  }
  CHeldRow(const CHeldRow&) = delete;
  CHeldRow& operator=(const CHeldRow&) = delete;
  uint8_t* Row() const { return m_row; }

 private:
  CCoreImage& m_image;
  int m_y;
  uint8_t* m_row = nullptr;
};

}  // namespace

const char* RowOpName(keRowOp kind) {
  const int value = static_cast<int>(kind);
  constexpr int count = static_cast<int>(sizeof kRowOpNames / sizeof kRowOpNames[0]);
  if (value < 0 || value >= count || !kRowOpNames[value]) return "Unknown";
  return kRowOpNames[value];
}

RowFunction LookUpImplementation(const CRowImplementation* table, size_t rows, keFormat destination,
                                 keFormat source) {
  RowFunction plain = nullptr;
  const bool variants = ProcessorVariantsSupported();
  for (size_t i = 0; i < rows; ++i) {
    const CRowImplementation& row = table[i];
    if (row.destinationFormat != destination || row.sourceFormat != source) continue;
    if (row.variant == 1 && variants) return row.function;
    if (row.variant == 0 && !plain) plain = row.function;
  }
  return plain;
}

bool ProcessorVariantsSupported() {
  const int forced = g_variantsForTesting.load();
  if (forced >= 0) return forced != 0;
  static const bool supported = ProcessorHasVariantFeatures();
  return supported;
}

void SetProcessorVariantsForTesting(int allowed) { g_variantsForTesting.store(allowed); }

std::unique_ptr<CRowOperation> CRowOperation::Clone() const {
  return std::unique_ptr<CRowOperation>(new CRowOperation(*this));
}

bool CRowOperation::Bind(CRowContext& context) {
  context.implementation = LookUp(context.destinationFormat, context.sourceFormat);
  return context.implementation != nullptr;
}

RowFunction CRowOperation::LookUp(keFormat, keFormat) const { return nullptr; }

bool BindRowOperation(CRowOperation& operation, CRowContext& context, bool quiet) {
  if (operation.Bind(context)) return true;
  context.implementation = nullptr;
  if (!quiet) ShowMissingBox(operation, context);
  return false;
}

void RunRowOperation(const CRowOperation& operation, CRowContext& context) {
  if (context.implementation && context.count > 0) context.implementation(operation, context);
}

bool ApplyRowOperation(CRowOperation& operation, CCoreImage& destination, CCoreImage& source,
                       const CoreRect* destinationRect, const CoreRect* sourceRect,
                       CProgressScale* scale, bool quiet) {
  const CoreRect dst = destinationRect ? *destinationRect : destination.Rect();
  const CoreRect src = sourceRect ? *sourceRect : source.Rect();
  if (dst.Width() != src.Width() || dst.Height() != src.Height()) return false;
  if (dst.IsEmpty()) return true;  // nothing to process
  if (!WithinImage(dst, destination) || !WithinImage(src, source)) return false;

  // Row and pixel indices of the row protocol count from each image's own
  // top-left corner.
  const CoreRect dstBounds = destination.Rect();
  const CoreRect srcBounds = source.Rect();
  const int width = dst.Width();
  const int height = dst.Height();

  CProgressScale child;
  if (scale) {
    child.BeginChild(scale);
    child.SetStepCount(height);
  }
  bool complete = true;
  for (int i = 0; i < height; ++i) {
    if (scale && child.Step(i) != 0) {
      complete = false;
      break;
    }
    const int dy = dst.top - dstBounds.top + i;
    const int sy = src.top - srcBounds.top + i;
    CHeldRow dstRow(destination, dy, dst.left - dstBounds.left, width);
    if (!dstRow.Row()) {
      complete = false;
      break;
    }
    CHeldRow srcRow(source, sy, src.left - srcBounds.left, width);
    if (!srcRow.Row()) {
      complete = false;
      break;
    }
    CRowContext context;
    context.destinationFormat = destination.ViewFormat();
    context.count = width;
    context.destination = dstRow.Row();
    context.destinationPaletteCount = destination.PaletteCount();
    context.destinationPalette = destination.Palette();
    context.sourceFormat = source.ViewFormat();
    context.source = srcRow.Row();
    context.sourcePaletteCount = source.PaletteCount();
    context.sourcePalette = source.Palette();
    context.x = dst.left - dstBounds.left;
    context.y = dy;
    // The same formats fail on every row: one box and one stop, not a box
    // per row.
    if (!BindRowOperation(operation, context, quiet)) {
      complete = false;
      break;
    }
    RunRowOperation(operation, context);
  }
  if (scale) child.EndChild();
  return complete;
}
