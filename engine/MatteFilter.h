// The background-removal filter: the pipeline over the parameters of
// MatteParameters.h.
#pragma once

#include <string>

#include "engine/MatteParameters.h"
#include "framework/FilterBase.h"

class CMatteDocument;

// What Process answers besides 0 (done).
enum : int {
  keProcessTooSmall = -1,
  keProcessAborted = -6,
};

class CMatteFilter : public CFilterBase {
 public:
  CMatteFilter();
  ~CMatteFilter() override;

  void DefineParameters() override;
  int Process(ProcessArgs& args) override;
  std::string GetName() override;

  // The document of the editor's view; set before the first run.
  CMatteDocument* m_view = nullptr;
};

// Boundary Smoothing level to the blur window (0 = off); 13 is skipped.
int SmoothingWindow(int level);

// True when a layer of this size is too small for a run with these values;
// the run then answers keProcessTooSmall and leaves the layer as it is. Any
// value is safe: those from preset files and the store are not clamped.
bool RunTooSmall(int width, int height, int smoothLevel, int featherWidth, int contract);
