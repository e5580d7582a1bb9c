#include "engine/MatteFilter.h"

#include <cstdint>

#include "engine/MatteDocument.h"
#include "engine/MattePipeline.h"
#include "framework/Param.h"

namespace {

struct CIntParamDecl {
  int slot;
  const char* name;
  int max;
  int defaultValue;
};

constexpr CIntParamDecl kIntParams[] = {
    {keSlotStrength, "Tolerance", 100, 30},
    {keSlotSmoothing, "SMOOTH", 9, 0},
    {keSlotFeather, "FEZER", 50, 1},
    {keSlotContract, "CONTRACT", 100, 0},
};

constexpr struct {
  int slot;
  const char* name;
} kBoolParams[] = {
    {keSlotFillHoles, "FILLHOLES"},
    {keSlotTextured, "TEXTUREDBACK"},
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

void CMatteFilter::DefineParameters() {
  for (const CIntParamDecl& declared : kIntParams) {
    auto* param = new CIntParam();
    param->m_name = declared.name;
    param->m_min = 0;
    param->m_max = declared.max;
    param->m_default = declared.defaultValue;
    param->SetInt(declared.defaultValue);
    m_paramSet.AddParam(declared.slot, declared.name, param);
  }
  for (const auto& declared : kBoolParams) {
    auto* param = new CBoolParam();
    param->m_name = declared.name;
    param->m_default = 0;
    param->SetInt(0);
    m_paramSet.AddParam(declared.slot, declared.name, param);
  }
}

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
