// The background-removal filter: the pipeline over the parameters of
// MatteParameters.h.
#pragma once

#include <string>

#include "engine/MatteParameters.h"
#include "engine/MattePipeline.h"
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
