// One run of the filter, apart from the editor's document: the inputs a run
// takes, the stages in their order, and what it leaves behind.
#pragma once

#include <memory>
#include <optional>

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"

class CProgressScale;

// The values a run reads once, at its start.
struct CRunParameters {
  int strength = 0;
  int smoothLevel = 0;
  int featherWidth = 0;
  int contract = 0;
  bool fillHoles = false;
  bool textured = false;
  bool colourModel = false;  // re-decides the classified matte by colour models
  bool refineEdge = false;  // in place of feathering
  int edgeWidth = 0;
};

// What a run starts from. The images share the document's storage, which
// neither side writes while shared (CCoreImage::OwnStorage); the previous
// matte is never written, only replaced.
struct CRunInputs {
  CRunParameters params;
  CCoreImage base;                      // BGRA: the layer as runs start from it
  std::optional<CCoreImage> marks;      // the marks since the last Delete All Marks
  std::optional<CCoreImage> allMarks;   // every stroke's marks; Fill Holes only
  std::shared_ptr<const CPlane> prevMatte;  // the previous run's matte
  int prevStrength = 0;
  int combineMode = 0;  // which kind of stroke was drawn last
  unsigned bgPointCount = 0;
  unsigned objPointCount = 0;
};

// What the marks of a completed classification were.
struct CAppliedMarks {
  unsigned bgPointCount = 0;
  unsigned objPointCount = 0;
  bool textured = false;
  bool colourModel = false;  // re-decides the classified matte by colour models
  bool fillHoles = false;
};

// The document's part of a run's end. An aborted run leaves what it had
// reached: the work image as far as it got, and the previous matte and
// strength once it had replaced them.
struct CRunOutputs {
  CCoreImage work;
  std::shared_ptr<const CPlane> prevMatte;
  int prevStrength = 0;
  std::optional<CAppliedMarks> applied;
  bool resultReady = false;  // the result image holds the run's result
};

enum class ERunEnd { kDone, kTooSmall, kAborted };

// Runs the stages on `inputs` (taken apart as it goes). `source` is the
// layer; `result` must hold a copy of it and receives the result (with
// kTooSmall it stays the layer). Stage failures raise the core's exception.
ERunEnd RunMattePipeline(CRunInputs& inputs, CCoreImage& source, CCoreImage& result,
                         CProgressScale& progress, CRunOutputs& outputs);

// Boundary Smoothing level to the blur window (0 = off); 13 is skipped.
int SmoothingWindow(int level);

// True when a layer of this size is too small for a run with these values;
// the run then answers keProcessTooSmall and leaves the layer as it is. Any
// value is safe: those from preset files and the store are not clamped.
bool RunTooSmall(int width, int height, int smoothLevel, int featherWidth, int contract);
