// The background-removal filter: its six parameters and the pipeline.
#pragma once

#include <string>

#include "engine/MattePipeline.h"
#include "framework/FilterBase.h"

class CMatteDocument;

// Parameter slots.
enum : int {
  keSlotStrength = 0,   // "Tolerance"
  keSlotSmoothing = 1,  // "SMOOTH"
  keSlotFeather = 2,    // "FEZER"
  keSlotContract = 3,   // "CONTRACT"
  keSlotFillHoles = 4,  // "FILLHOLES"
  keSlotTextured = 5,   // "TEXTUREDBACK"
};

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
