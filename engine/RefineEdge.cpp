#include "engine/RefineEdge.h"

#include <cmath>
#include <new>
#include <vector>

#include "engine/ClosedFormAlpha.h"
#include "engine/EdgeBand.h"
#include "engine/ForegroundColour.h"
#include "imagecore/ChildProgress.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

namespace {

// The stage's own scale: finding the band, the alpha solve, the colours;
// each stage counts its share done in kSteps.
enum : int { keStageBand, keStageAlpha, keStageColour, keStageCount };
constexpr int kSteps = 1000;

// Alpha rounded to the levels the layer holds.
CBandArray<uint8_t> AlphaLevels(const CBandArray<float>& alpha) {
  CBandArray<uint8_t> levels(alpha.size());
  for (size_t i = 0; i < alpha.size(); ++i) {
    levels[i] = static_cast<uint8_t>(std::lround(alpha[i] * 255.0f));
  }
  return levels;
}

// Every band pixel to the sink, one span at a time: the object's colour
// where it is part transparent, the picture's where it is opaque or clear.
void SendBand(const CRowLease& rows, const CEdgeBand& band, const CBandArray<uint8_t>& alpha,
              const CBandArray<uint8_t>& colour, const CRefineSink& sink) {
  std::vector<uint8_t> out;
  for (int y = 0; y < band.Height(); ++y) {
    const uint8_t* picture = rows.Row(y);
    for (const CBandSpan& span : band.Row(y)) {
      out.resize(4 * static_cast<size_t>(span.right - span.left));
      for (int x = span.left; x < span.right; ++x) {
        const size_t i = static_cast<size_t>(span.first + (x - span.left));
        uint8_t* p = &out[4 * static_cast<size_t>(x - span.left)];
        const uint8_t a = alpha[i];
        const uint8_t* from = a == 0 || a == 255 ? picture + 4 * x : &colour[3 * i];
        p[0] = from[0];
        p[1] = from[1];
        p[2] = from[2];
        p[3] = a;
      }
      sink(y, span.left, span.right, out.data());
    }
  }
}

// The stage itself, once its arguments are checked.
CoreResult Refine(CCoreImage& image, int edgeWidth, const CRefineSink& sink,
                  CProgressScale* progress) {
  CChildProgress scale(progress, kSteps, keStageCount);
  // Rows that go through a view's cache must stay on this thread.
  const bool oneBand = image.HasRowCache();
  const CRowLease rows = CRowLease::AllRows(image);

  if (scale.Stop(0)) return MakeResult(keErrAborted);
  const CEdgeBand band =
      CEdgeBand::AroundEdge(rows, image.Width(), image.Height(), edgeWidth, oneBand);
  if (band.Empty()) return CoreResult();

  auto stopAt = [&scale](double done) { return scale.Stop(static_cast<int>(done * kSteps)); };
  scale.Stage(keStageAlpha);
  CBandArray<float> solved;
  if (!SolveBandAlpha(rows, band, oneBand, solved, stopAt)) return MakeResult(keErrAborted);
  const CBandArray<uint8_t> alpha = AlphaLevels(solved);
  solved = CBandArray<float>();

  scale.Stage(keStageColour);
  CBandArray<uint8_t> colour;
  if (!EstimateObjectColour(rows, band, alpha, colour, oneBand, stopAt))
    return MakeResult(keErrAborted);
  if (scale.Stop(kSteps)) return MakeResult(keErrAborted);
  SendBand(rows, band, alpha, colour, sink);
  return CoreResult();
}

}  // namespace

CoreResult RefineEdge(CCoreImage& image, int edgeWidth, const CRefineSink& sink,
                      CProgressScale* progress) {
  if (image.ViewFormat() != keFormatBGRA || edgeWidth < kEdgeWidthMin || edgeWidth > kEdgeWidthMax)
    return MakeResult(keErrInvalidArgument);
  try {
    return Refine(image, edgeWidth, sink, progress);
  } catch (const std::bad_alloc&) {
    // The band's work space is the stage's own; running short of it is the
    // core's failure to allocate, as for an image.
    ThrowIfFailed(keErrOutOfMemory);
  }
  return CoreResult();
}
