#include "engine/MatteFilter.h"

#include <cstdint>

#include "engine/MatteDocument.h"
#include "engine/MattePipeline.h"
#include "framework/Param.h"

namespace {

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
  flag = 0;
  set.FindParam(keSlotRefineEdge)->GetBool(flag);
  p.refineEdge = flag != 0;
  set.FindParam(keSlotEdgeWidth)->GetInt(p.edgeWidth);
  flag = 0;
  set.FindParam(keSlotColourModel)->GetBool(flag);
  p.colourModel = flag != 0;
  return p;
}

}  // namespace

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
  CMatteDocument& document = *m_view;
  CRunInputs inputs = document.SnapshotForRun(ReadParameters(m_paramSet));
  CRunOutputs outputs;
  const ERunEnd end =
      RunMattePipeline(inputs, *args.source, *args.result, *args.progress, outputs);
  document.PublishRun(end, outputs, *args.result);
  switch (end) {
    case ERunEnd::kDone:
      return 0;
    case ERunEnd::kTooSmall:
      return keProcessTooSmall;
    case ERunEnd::kAborted:
      break;
  }
  return keProcessAborted;
}
