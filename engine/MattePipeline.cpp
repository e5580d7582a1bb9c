#include "engine/MattePipeline.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "engine/BoxBlur.h"
#include "engine/CleanMatte.h"
#include "engine/ColourModel.h"
#include "engine/ClassifyRegions.h"
#include "engine/CombineWithPrevious.h"
#include "engine/Feather.h"
#include "engine/FillHoles.h"
#include "engine/ImageChannels.h"
#include "engine/LocalDeviation.h"
#include "engine/Marks.h"
#include "engine/Morphology3x3.h"
#include "engine/Plane.h"
#include "engine/RefineEdge.h"
#include "engine/StepCounter.h"
#include "engine/TextureMap.h"
#include "imagecore/ChildProgress.h"
#include "imagecore/ProgressScale.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

// The smallest side a run works on.
constexpr int kSmallestSide = 64;
// Steps a run reports at most, for the progress scale; Refine Edge and
// Colour Model add one each.
constexpr int kMostSteps = 10;
int MostSteps(const CRunParameters& p) {
  return kMostSteps + (p.refineEdge ? 1 : 0) + (p.colourModel ? 1 : 0);
}
// Window of the colour deviation the texture map is made from.
constexpr int kTextureWindow = 3;
// Window of the blur that evens out a textured background's colours.
constexpr int kTexturedBlurWindow = 7;
// Alpha the classification gives the pixels it decides are object.
constexpr int kObjectAlpha = 255;
// A smoothed matte keeps the pixels above this value.
constexpr uint8_t kSmoothedKeepAbove = 129;

// Object-marked pixels are always kept; also tells which kinds of marks exist.
CMarkKinds KeepObjectMarks(CCoreImage& marks, CCoreImage& work) {
  CMarkKinds kinds;
  const int width = work.Width();
  for (int y = 0; y < work.Height(); ++y) {
    const CRowLease markRow(marks, y);
    const CRowLease workRow(work, y);
    const uint8_t* mark = markRow.Data();
    uint8_t* pixel = workRow.Data();
    for (int x = 0; x < width; ++x) {
      if (mark[x] == keMarkObject) {
        pixel[4 * x + 3] = 255;
        kinds.object = true;
      } else if (mark[x] == keMarkBackground) {
        kinds.background = true;
      }
    }
  }
  return kinds;
}

void FillMatteHoles(CPlane& matte, const CPlane& allMarks) {
  Dilate3x3(matte);
  CoreResult filled = FillHoles(matte, allMarks, nullptr);
  ThrowIfFailed(std::move(filled));
  Erode3x3(matte);
}

// The matte's holes are filled, and so are the previous run's, which the
// next combination reads. Neither fill reads the other's matte, so the two
// run side by side, as two bands of one.
void FillHolesOfBoth(CPlane& matte, CRunInputs& in, CRunOutputs& out, CStepCounter& steps) {
  const CPlane allMarks = ReadPlane(*in.allMarks);
  steps.Next();
  if (!out.prevMatte) {
    FillMatteHoles(matte, allMarks);
    return;
  }
  auto filled = std::make_shared<CPlane>(*out.prevMatte);
  RunBands(2, 2, [&](int band, int, int) { FillMatteHoles(band == 0 ? matte : *filled, allMarks); });
  steps.Next();
  out.prevMatte = std::move(filled);
}

// The texture map: how much the colours vary around each pixel.
CCoreImage TextureOf(CCoreImage& work, CStepCounter& steps) {
  CCoreImage texture;
  ThrowIfFailed(texture.CreateGrey(work.Width(), work.Height()));
  steps.Next();
  if (TextureFromColours(work, kTextureWindow, texture)) return texture;
  CCoreImage colourView;
  colourView.AssignFrom(work);
  ThrowIfFailed(colourView.SetChannelView(keChannelColour, keAccessRead));
  // LocalDeviation makes its destination a copy of the colours first.
  CCoreImage deviation;
  int window = kTextureWindow;
  ThrowIfFailed(LocalDeviation(nullptr, colourView, deviation, window));
  TextureFromDeviation(deviation, texture);
  return texture;
}

// The image, leaving its name empty: a callee that lets it go frees it.
CCoreImage HandedOver(CCoreImage& image) {
  CCoreImage taken;
  taken.TakeFrom(image);
  return taken;
}

// On a textured background the regions grow over blurred colours; the work
// keeps the layer's own colours.
void ClassifyTextured(CCoreImage& work, CCoreImage texture, CCoreImage& marks, int strength,
                      CCoreImage& source, CStepCounter& steps, CPlane* decided) {
  CCoreImage smoothColours;
  ThrowIfFailed(smoothColours.CopyFrom(work));
  CCoreImage opaque;
  ThrowIfFailed(opaque.CopyFrom(work));
  MakeOpaque(opaque);
  steps.Next();
  int window = kTexturedBlurWindow;
  ThrowIfFailed(BoxBlur(nullptr, opaque, smoothColours, window));
  CCoreImage workAlpha;
  ExtractAlpha(work, workAlpha);
  InsertAlpha(workAlpha, smoothColours);
  steps.Next();
  ClassifyRegions(smoothColours, work, HandedOver(texture), marks, strength, kObjectAlpha,
                  decided);
  smoothColours.Reset();
  CopyColours(source, work);
}

// The matte decided again by colour models, before its clean-up. It
// reports within the run's current step; an abort there throws CRunAborted.
void RunColourModel(CCoreImage& work, CPlane& texture, const CPlane& marks, CPlane& decided,
                    const CRunParameters& p, CPlane& matte, CProgressScale& progress,
                    const CStepCounter& steps) {
  const CRowLease rows = CRowLease::AllRows(work);
  std::vector<const uint8_t*> colours(work.Height());
  for (int y = 0; y < work.Height(); ++y) colours[y] = rows.Row(y);
  CChildProgress step(&progress, 1, progress.StepCount());
  step.Stage(steps.Reported() - 1);
  CColourModelInputs inputs{colours, texture, marks, decided};
  // The width Refine Edge will work with, as ComposeRefined takes it.
  if (p.refineEdge) inputs.regionsEdgeReach = std::clamp(p.edgeWidth, kEdgeWidthMin, kEdgeWidthMax);
  const bool done = ColourModelMatte(inputs, matte, step.Scale());
  texture = CPlane();
  decided = CPlane();
  if (!done) throw CRunAborted{};
}

// Classification from the marks, clean-up, holes, and the combination with
// the previous run, which this run's matte then replaces.
CPlane MatteFromMarks(CRunInputs& in, CCoreImage& source, CRunOutputs& out,
                      CProgressScale& progress, CStepCounter& steps) {
  const CRunParameters& p = in.params;
  CCoreImage& work = out.work;
  CCoreImage& marks = *in.marks;
  CCoreImage texture = TextureOf(work, steps);
  // Colour Model reads the texture after the classification has let it go.
  CPlane texturePlane;
  CPlane decided;
  if (p.colourModel) texturePlane = ReadPlane(texture);
  CPlane* decidedOut = p.colourModel ? &decided : nullptr;
  if (p.textured) {
    ClassifyTextured(work, HandedOver(texture), marks, p.strength, source, steps, decidedOut);
  } else {
    steps.Next();
    ClassifyRegions(work, work, HandedOver(texture), marks, p.strength, kObjectAlpha,
                    decidedOut);
  }
  const CMarkKinds kinds = KeepObjectMarks(marks, work);
  CPlane matte = AlphaPlane(work);
  if (marks.ViewFormat() != keFormatGrey) ThrowIfFailed(keErrInvalidArgument);
  const CPlane marksPlane = ReadPlane(marks);
  if (p.colourModel) {
    steps.Next();
    RunColourModel(work, texturePlane, marksPlane, decided, p, matte, progress, steps);
  }

  steps.Next();
  CleanMatte(matte, marksPlane, kinds);
  if (p.fillHoles) FillHolesOfBoth(matte, in, out, steps);

  steps.Next();
  const CCombineInputs combine{kinds.object, kinds.background, in.combineMode, p.strength,
                               in.prevStrength};
  if (out.prevMatte) CombineWithPrevious(matte, *out.prevMatte, combine);
  out.prevStrength = p.strength;

  steps.Next();
  CleanMatte(matte, marksPlane, kinds);
  // An abort from here on leaves the cleaned matte in the work.
  InsertAlpha(matte, work);
  out.prevMatte = std::make_shared<const CPlane>(matte);
  out.applied = CAppliedMarks{in.bgPointCount, in.objPointCount, p.textured, p.fillHoles};
  return matte;
}

void ThresholdSmoothed(CPlane& matte) {
  uint8_t* value = matte.Data();
  const size_t count = matte.Stride() * static_cast<size_t>(matte.Height());
  for (size_t i = 0; i < count; ++i) value[i] = value[i] > kSmoothedKeepAbove ? 255 : 0;
}

void SmoothBoundary(CPlane& matte, int window) {
  ThrowIfFailed(BoxBlur(matte, window));
  ThresholdSmoothed(matte);
}

// A pass that changes nothing leaves the matte where every later pass would,
// so a large count costs only the passes that still erode.
void Contract(CPlane& matte, int passes) {
  for (int i = 0; i < passes; ++i) {
    if (!Erode3x3(matte)) break;
  }
}

static_assert(std::endian::native == std::endian::little);

// out colours := work's; out alpha := the smaller of source's and work's.
// A pixel at a time as one word (alpha in the top byte), which vectorizes.
void ComposePixels(const uint8_t* src, const uint8_t* wrk, uint8_t* out, int count) {
  for (int x = 0; x < count; ++x) {
    uint32_t s;
    uint32_t w;
    std::memcpy(&s, src + 4 * x, 4);
    std::memcpy(&w, wrk + 4 * x, 4);
    const uint32_t alpha = std::min(s >> 24, w >> 24);
    const uint32_t pixel = (w & 0x00FFFFFFu) | (alpha << 24);
    std::memcpy(out + 4 * x, &pixel, 4);
  }
}

void ComposeResult(CCoreImage& source, CCoreImage& work, CCoreImage& result) {
  const int width = result.Width();
  const bool oneBand = source.HasRowCache() || work.HasRowCache() || result.HasRowCache();
  ForEachRowInBands(result.Height(), oneBand, [&](int y) {
    const CRowLease src(source, y);
    const CRowLease wrk(work, y);
    const CRowLease out(result, y);
    ComposePixels(src.Data(), wrk.Data(), out.Data(), width);
  });
}

// An edge stage (feathering or Refine Edge) changes pixels near the matte's
// edge only, and hands those over: the result is composed from the work,
// then those pixels again on their own. The document keeps the work as it
// is. Every row is held at once, so that the stage's threads can compose.
template <class Stage>
void ComposeWithEdgeStage(CCoreImage& source, CCoreImage& result, Stage&& stage) {
  const CRowLease sourceRows = CRowLease::AllRows(source);
  const CRowLease resultRows = CRowLease::AllRows(result);
  stage([&](int y, int left, int right, const uint8_t* pixels) {
    ComposePixels(sourceRows.Row(y) + 4 * left, pixels, resultRows.Row(y) + 4 * left,
                  right - left);
  });
}

void ComposeFeathered(CCoreImage& source, CCoreImage& work, int featherWidth,
                      CCoreImage& result) {
  ComposeResult(source, work, result);
  if (featherWidth <= 0) return;
  ComposeWithEdgeStage(source, result,
                       [&](const CFeatherSink& sink) { Feather(work, featherWidth, sink); });
}

// Refine Edge in place of feathering. It reports within the run's current
// step; an abort there throws CRunAborted.
void ComposeRefined(CCoreImage& source, CCoreImage& work, int edgeWidth, CCoreImage& result,
                    CProgressScale& progress, const CStepCounter& steps) {
  ComposeResult(source, work, result);
  CChildProgress step(&progress, 1, progress.StepCount());
  step.Stage(steps.Reported() - 1);
  CoreResult refined;
  ComposeWithEdgeStage(source, result, [&](const CRefineSink& sink) {
    refined = RefineEdge(work, std::clamp(edgeWidth, kEdgeWidthMin, kEdgeWidthMax), sink,
                         step.Scale());
  });
  const uint32_t code = ExamineResult(refined);
  if (code == keErrAborted) throw CRunAborted{};
  ThrowIfFailed(code);
}

}  // namespace

int SmoothingWindow(int level) {
  static constexpr int kWindows[] = {0, 9, 11, 15, 17, 19, 21, 23, 25, 27};
  return level >= 1 && level <= 9 ? kWindows[level] : 0;
}

bool RunTooSmall(int width, int height, int smoothLevel, int featherWidth, int contract) {
  const int window = SmoothingWindow(smoothLevel);
  // In 64 bits: a feathering width from a preset file can be any int, and a
  // product that wrapped would let a run feather for hours.
  const int64_t featherReach = 3 * static_cast<int64_t>(featherWidth);
  return width < kSmallestSide || height < kSmallestSide || window > width || window > height ||
         contract > width - 1 || contract > height - 1 || featherReach > width - 1 ||
         featherReach > height - 1;
}

ERunEnd RunMattePipeline(CRunInputs& in, CCoreImage& source, CCoreImage& result,
                         CProgressScale& progress, CRunOutputs& out) {
  const CRunParameters& p = in.params;
  progress.SetStepCount(MostSteps(p));
  out.work.TakeFrom(in.base);
  out.prevMatte = std::move(in.prevMatte);
  out.prevStrength = in.prevStrength;
  // Refine Edge takes feathering's place, so its width does not count then.
  if (RunTooSmall(out.work.Width(), out.work.Height(), p.smoothLevel,
                  p.refineEdge ? 0 : p.featherWidth, p.contract)) {
    // The run still completes and shows the layer unchanged.
    out.resultReady = true;
    return ERunEnd::kTooSmall;
  }
  // The base is shared with the document; the stages write the work in place.
  ThrowIfFailed(out.work.OwnStorage());
  CStepCounter steps(progress);
  try {
    CPlane matte;
    if (in.marks) {
      matte = MatteFromMarks(in, source, out, progress, steps);
    } else {
      matte = AlphaPlane(out.work);
      if (in.allMarks && p.fillHoles) {
        FillHolesOfBoth(matte, in, out, steps);
        InsertAlpha(matte, out.work);
      }
    }
    // The work's alpha holds the matte so far; only smoothing and
    // contraction change it again.
    const int window = SmoothingWindow(p.smoothLevel);
    if (window != 0) {
      steps.Next();
      SmoothBoundary(matte, window);
    }
    if (p.contract > 0) {
      steps.Next();
      Contract(matte, p.contract);
    }
    if (window != 0 || p.contract > 0) InsertAlpha(matte, out.work);
    if (p.refineEdge) {
      steps.Next();
      ComposeRefined(source, out.work, p.edgeWidth, result, progress, steps);
    }
  } catch (const CRunAborted&) {
    return ERunEnd::kAborted;
  }
  if (!p.refineEdge) ComposeFeathered(source, out.work, p.featherWidth, result);
  out.resultReady = true;
  return ERunEnd::kDone;
}
