#include "engine/MatteFilter.h"

#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/Bands.h"
#include "engine/BoxBlur.h"
#include "engine/ClassifyRegions.h"
#include "engine/CombineWithPrevious.h"
#include "engine/Dilate3x3.h"
#include "engine/Erode3x3.h"
#include "engine/Feather.h"
#include "engine/FillHoles.h"
#include "engine/ImageChannels.h"
#include "engine/KeepMarkedObjects.h"
#include "engine/LocalDeviation.h"
#include "engine/Marks.h"
#include "engine/MatteDocument.h"
#include "engine/Plane.h"
#include "engine/RemoveMarkedBackground.h"
#include "engine/RemoveSmallIslands.h"
#include "engine/TextureMap.h"
#include "framework/Param.h"
#include "imagecore/ProgressScale.h"

namespace {

// The values a run reads once, at its start.
struct CRunParameters {
  int strength = 0;
  int smoothLevel = 0;
  int featherWidth = 0;
  int contract = 0;
  bool fillHoles = false;
  bool textured = false;
};

CRunParameters ReadParameters(CParamSet& set) {
  CRunParameters p;
  set.FindParam(keSlotStrength)->GetInt(p.strength);
  set.FindParam(keSlotSmoothing)->GetInt(p.smoothLevel);
  set.FindParam(keSlotFeather)->GetInt(p.featherWidth);
  set.FindParam(keSlotContract)->GetInt(p.contract);
  uint8_t flag = 0;
  set.FindParam(keSlotFillHoles)->GetBool(flag);
  p.fillHoles = flag != 0;
  flag = 0;
  set.FindParam(keSlotTextured)->GetBool(flag);
  p.textured = flag != 0;
  return p;
}

struct CMarkKinds {
  bool object = false;
  bool background = false;
};

// Object-marked pixels are always kept; also tells which kinds of marks exist.
CMarkKinds KeepObjectMarks(CCoreImage& marks, CCoreImage& work) {
  CMarkKinds kinds;
  const int width = work.Width();
  for (int y = 0; y < work.Height(); ++y) {
    uint8_t* mark = nullptr;
    uint8_t* pixel = nullptr;
    marks.GetRow(y, mark);
    work.GetRow(y, pixel);
    for (int x = 0; x < width; ++x) {
      if (mark[x] == keMarkObject) {
        pixel[4 * x + 3] = 255;
        kinds.object = true;
      } else if (mark[x] == keMarkBackground) {
        kinds.background = true;
      }
    }
    work.ReleaseRow(y);
    marks.ReleaseRow(y);
  }
  return kinds;
}

// The matte goes into a plane once for both steps; the marks' plane is read
// once for the run.
void CleanMatte(CCoreImage& matte, const CPlane& marks, const CMarkKinds& kinds) {
  if (matte.ViewFormat() != keFormatGrey) ThrowIfFailed(keErrInvalidArgument);
  CPlane plane = ReadPlane(matte);
  RemoveMarkedBackground(plane, marks, 100);
  CoreResult cleaned = kinds.object && kinds.background
                           ? KeepMarkedObjects(plane, marks, 1, nullptr)
                           : RemoveSmallIslands(plane, 600, nullptr);
  ThrowIfFailed(ExamineResult(cleaned));
  WritePlane(plane, matte);
}

void FillMatteHoles(CCoreImage& matte, CCoreImage& allMarks) {
  Dilate3x3(matte);
  FillHoles(matte, allMarks, nullptr);
  Erode3x3(matte);
}

void ThresholdSmoothed(CCoreImage& matte) {
  const int width = matte.Width();
  for (int y = 0; y < matte.Height(); ++y) {
    uint8_t* row = nullptr;
    matte.GetRow(y, row);
    for (int x = 0; x < width; ++x) row[x] = row[x] > 129 ? 255 : 0;
    matte.ReleaseRow(y);
  }
}

// out colours := work's; out alpha := the smaller of source's and work's.
void ComposePixels(const uint8_t* src, const uint8_t* wrk, uint8_t* out, int count) {
  for (int x = 0; x < count; ++x) {
    out[4 * x] = wrk[4 * x];
    out[4 * x + 1] = wrk[4 * x + 1];
    out[4 * x + 2] = wrk[4 * x + 2];
    const uint8_t a = src[4 * x + 3];
    const uint8_t b = wrk[4 * x + 3];
    out[4 * x + 3] = a < b ? a : b;
  }
}

void ComposeResult(CCoreImage& source, CCoreImage& work, CCoreImage& result) {
  const int width = result.Width();
  const bool oneBand = source.HasRowCache() || work.HasRowCache() || result.HasRowCache();
  ForEachRowInBands(result.Height(), oneBand, [&](int y) {
    uint8_t* src = nullptr;
    uint8_t* wrk = nullptr;
    uint8_t* out = nullptr;
    source.GetRow(y, src);
    work.GetRow(y, wrk);
    result.GetRow(y, out);
    ComposePixels(src, wrk, out, width);
    result.ReleaseRow(y);
    work.ReleaseRow(y);
    source.ReleaseRow(y);
  });
}

// Every row of an image fetched at once, so that threads can use them; all
// are released with the object.
class CAllRows {
 public:
  explicit CAllRows(CCoreImage& image)
      : m_image(image), m_rows(static_cast<size_t>(image.Height())) {
    for (int y = 0; y < image.Height(); ++y) {
      CoreResult got = image.GetRow(y, m_rows[static_cast<size_t>(y)]);
      ThrowIfFailed(ExamineResult(got));
    }
  }
  ~CAllRows() {
    for (int y = 0; y < m_image.Height(); ++y) m_image.ReleaseRow(y);
  }
  CAllRows(const CAllRows&) = delete;
  CAllRows& operator=(const CAllRows&) = delete;
  uint8_t* operator[](int y) const { return m_rows[static_cast<size_t>(y)]; }

 private:
  CCoreImage& m_image;
  std::vector<uint8_t*> m_rows;
};

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
  return width < 64 || height < 64 || window > width || window > height ||
         contract > width - 1 || contract > height - 1 || featherReach > width - 1 ||
         featherReach > height - 1;
}

CMatteFilter::CMatteFilter() {
  m_paramSet.m_name = GetName();
  DefineParameters();
  m_paramSet.LoadFromRegistry();
}

CMatteFilter::~CMatteFilter() {
  // A run still working on the document must end before it goes.
  AbortRun();
  m_paramSet.SaveToRegistry();
}

void CMatteFilter::DefineParameters() { DefineMatteParameters(m_paramSet); }

std::string CMatteFilter::GetName() { return "Kelvane"; }

int CMatteFilter::Process(ProcessArgs& args) {
  CMatteDocument& doc = *m_view;
  CProgressScale& progress = *args.progress;
  progress.SetStepCount(10);

  // The run works on its own copies of what the editor's thread may change
  // meanwhile (marks, strokes, m_work), and publishes m_work when it ends.
  CCoreImage work;
  CCoreImage marks;
  CCoreImage allMarks;
  bool hasMarks = false;
  bool hasAllMarks = false;
  unsigned bgPointCount = 0;
  unsigned objPointCount = 0;
  int previousStrength = 0;
  int combineMode = 0;
  const CRunParameters p = ReadParameters(m_paramSet);
  {
    std::lock_guard<std::recursive_mutex> lock(doc.Lock());
    work.CopyFrom(doc.m_base);
    hasMarks = doc.m_marks != nullptr;
    if (hasMarks) marks.CopyFrom(*doc.m_marks);
    hasAllMarks = doc.m_allMarks != nullptr;
    // Only Fill Holes reads the marks of all strokes.
    if (hasAllMarks && p.fillHoles) allMarks.CopyFrom(*doc.m_allMarks);
    bgPointCount = static_cast<unsigned>(doc.m_bgPoints.size());
    objPointCount = static_cast<unsigned>(doc.m_objPoints.size());
    previousStrength = doc.m_prevStrength;
    combineMode = doc.m_combineMode;
  }
  auto publishWork = [&doc, &work] {
    std::lock_guard<std::recursive_mutex> lock(doc.Lock());
    doc.m_work.TakeFrom(work);
  };
  auto report = [&progress](int step) { return progress.Step(step) != 0; };

  const int window = SmoothingWindow(p.smoothLevel);
  if (RunTooSmall(work.Width(), work.Height(), p.smoothLevel, p.featherWidth, p.contract)) {
    // The run still completes and shows the layer unchanged; "Result" must
    // show that too, not an empty or older image.
    {
      std::lock_guard<std::recursive_mutex> lock(doc.Lock());
      doc.m_resultImage.CopyFrom(*args.result);
    }
    publishWork();
    return keProcessTooSmall;
  }

  // Each path below takes the matte from the work when it needs it.
  CCoreImage matte;
  int k = 0;

  if (hasMarks) {
    CCoreImage texture;
    {
      CCoreImage colourView;
      colourView.AssignFrom(work);
      colourView.SetChannelView(keChannelColour, keAccessRead);
      // LocalDeviation makes its destination a copy of the colours first.
      CCoreImage deviation;
      texture.CreateGrey(work.Width(), work.Height());
      if (report(1)) return publishWork(), keProcessAborted;
      int deviationWindow = 3;
      LocalDeviation(nullptr, colourView, deviation, deviationWindow);
      TextureFromDeviation(deviation, texture);
    }

    if (p.textured) {
      CCoreImage smoothColours;
      smoothColours.CopyFrom(work);
      CCoreImage spare;
      spare.CopyFrom(work);
      MakeOpaque(spare);
      if (report(2)) return publishWork(), keProcessAborted;
      int blurWindow = 7;
      BoxBlur(nullptr, spare, smoothColours, blurWindow);
      CCoreImage workAlpha;
      ExtractAlpha(work, workAlpha);
      InsertAlpha(workAlpha, smoothColours);
      if (report(3)) return publishWork(), keProcessAborted;
      ClassifyRegions(smoothColours, work, texture, marks, p.strength, 255);
      smoothColours.Reset();
      CopyColours(*args.source, work);
      k = 3;
    } else {
      if (report(2)) return publishWork(), keProcessAborted;
      ClassifyRegions(work, work, texture, marks, p.strength, 255);
      k = 2;
    }

    const CMarkKinds kinds = KeepObjectMarks(marks, work);
    ExtractAlpha(work, matte);
    if (marks.ViewFormat() != keFormatGrey) ThrowIfFailed(keErrInvalidArgument);
    const CPlane marksPlane = ReadPlane(marks);

    if (report(k + 1)) return publishWork(), keProcessAborted;
    CleanMatte(matte, marksPlane, kinds);
    ++k;

    if (p.fillHoles) {
      if (report(k + 1)) return publishWork(), keProcessAborted;
      FillMatteHoles(matte, allMarks);
      ++k;
      if (doc.m_prevMatte) {
        if (report(k + 1)) return publishWork(), keProcessAborted;
        FillMatteHoles(*doc.m_prevMatte, allMarks);
        ++k;
      }
    }

    if (report(k + 1)) return publishWork(), keProcessAborted;
    ++k;
    const CCombineInputs combine{kinds.object, kinds.background, combineMode, p.strength,
                                 previousStrength};
    if (doc.m_prevMatte) CombineWithPrevious(matte, *doc.m_prevMatte, combine);
    doc.m_prevStrength = p.strength;

    if (report(k + 1)) return publishWork(), keProcessAborted;
    ++k;
    CleanMatte(matte, marksPlane, kinds);

    InsertAlpha(matte, work);
    if (!doc.m_prevMatte) doc.m_prevMatte = std::make_unique<CCoreImage>();
    doc.m_prevMatte->CopyFrom(matte);

    doc.m_appliedBgPoints = bgPointCount;
    doc.m_appliedObjPoints = objPointCount;
    doc.m_appliedTextured = p.textured;
    doc.m_appliedFillHoles = p.fillHoles;
  } else if (hasAllMarks && p.fillHoles) {
    ExtractAlpha(work, matte);
    if (report(1)) return publishWork(), keProcessAborted;
    FillMatteHoles(matte, allMarks);
    k = 1;
    if (doc.m_prevMatte) {
      if (report(2)) return publishWork(), keProcessAborted;
      FillMatteHoles(*doc.m_prevMatte, allMarks);
      k = 2;
    }
    InsertAlpha(matte, work);
  } else {
    ExtractAlpha(work, matte);
  }

  if (window != 0) {
    if (report(k + 1)) return publishWork(), keProcessAborted;
    ++k;
    int blurWindow = window;
    BoxBlur(nullptr, matte, matte, blurWindow);
    ThresholdSmoothed(matte);
  }
  if (p.contract > 0) {
    if (report(k + 1)) return publishWork(), keProcessAborted;
    // One flat copy for all passes rather than an image round trip per pass.
    // A pass that changes nothing leaves the matte where every later pass
    // would, so a large count costs only the passes that still erode.
    CPlane plane = ReadPlane(matte);
    for (int i = 0; i < p.contract; ++i) {
      if (!Erode3x3(plane)) break;
    }
    WritePlane(plane, matte);
  }
  InsertAlpha(matte, work);

  // The result is composed from the feathered work, while the document
  // keeps the work as it is. Feathering changes pixels near the matte's edge
  // only, and hands those over: they are composed again on their own.
  ComposeResult(*args.source, work, *args.result);
  if (p.featherWidth > 0) {
    const CAllRows sourceRows(*args.source);
    const CAllRows resultRows(*args.result);
    Feather(work, p.featherWidth, [&](int y, int left, int right, const uint8_t* feathered) {
      ComposePixels(sourceRows[y] + 4 * left, feathered, resultRows[y] + 4 * left, right - left);
    });
  }
  {
    // Shared, not copied: the editor gives the displayed image storage of
    // its own before drawing on it.
    std::lock_guard<std::recursive_mutex> lock(doc.Lock());
    doc.m_resultImage.AssignFrom(*args.result);
  }
  publishWork();
  return 0;
}
