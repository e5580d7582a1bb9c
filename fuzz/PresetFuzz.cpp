// Preset files: parsed into the filter's parameters, written and read back,
// then a run on a small marked picture with whatever the file set, as
// choosing a style in the editor runs the filter at once.
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/MatteDocument.h"
#include "engine/MatteFilter.h"
#include "engine/MatteParameters.h"
#include "framework/Param.h"
#include "framework/Presets.h"
#include "fuzz/FuzzScenes.h"
#include "fuzz/FuzzSupport.h"
#include "imagecore/CoreImage.h"
#include "imagecore/CoreResult.h"
#include "imagecore/ProgressScale.h"

namespace {

// Large enough that every value the panel allows runs rather than being
// refused as too small for the picture, small enough to run quickly.
constexpr int kSide = 96;

// A blue sky above a red roof with a green patch in it, a background stroke
// across the sky and an object stroke on the roof.
void MarkPicture(CMatteDocument& document) {
  document.BeginMarkStroke(false);
  for (int x = 4; x < kSide - 4; x += 6) document.MarkPoint(false, x, 8);
  document.EndMarkStroke(false);
  document.BeginMarkStroke(true);
  document.MarkPoint(true, kSide / 2, kSide * 3 / 4);
  document.MarkPoint(true, kSide / 2 + 10, kSide * 3 / 4 + 4);
  document.EndMarkStroke(true);
}

CMatteFilter* g_filter = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The filter reads and stores its settings; they go to a private store.
  UsePrivateConfiguration();
  g_filter = new CMatteFilter();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const CCoreImage kPicture = SkyAndRoof(kSide, true);
  CMatteFilter& filter = *g_filter;
  CParamSet& set = filter.m_paramSet;

  std::istringstream text(std::string(reinterpret_cast<const char*>(data), size));
  Require(ParsePreset(text, set) == 0, "a preset stream that opened is read");
  const std::vector<int> loaded = ParameterValues(set);

  // What a style saves is what it loads, but for the values of an optional
  // stage that is off: their lines are not written, so they load as their
  // defaults.
  std::vector<int> kept = loaded;
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.writtenWhenSlot != keAlwaysWritten && loaded[row.writtenWhenSlot] == 0) {
      kept[row.slot] = row.defaultValue;
    }
  }
  std::istringstream saved(PresetFileText(set));
  Require(ParsePreset(saved, set) == 0, "a written preset is read");
  Require(ParameterValues(set) == kept, "a preset written and read back keeps every value");

  CCoreImage layer;
  ThrowIfFailed(layer.CopyFrom(kPicture));
  CCoreImage displayed;
  ThrowIfFailed(displayed.CopyFrom(kPicture));
  CMatteDocument document;
  document.Open(layer, &displayed);
  MarkPicture(document);
  filter.m_view = &document;
  filter.m_source.AssignFrom(layer);
  CCoreImage result;
  ThrowIfFailed(result.CopyFrom(layer));
  CProgressScale progress;
  ProcessArgs args;
  args.source = &filter.m_source;
  args.result = &result;
  args.progress = &progress;
  int code = 0;
  bool failed = false;
  try {
    code = filter.Process(args);
  } catch (const CJException&) {
    failed = true;  // the worker ends such a run as failed; the editor says so
  }
  Require(failed || code == 0 || code == keProcessTooSmall,
          "a run that is not aborted completes or refuses the size");
  Require(result.Width() == kSide && result.Height() == kSide, "the result has the layer's size");
  filter.m_view = nullptr;
  ExpectAccepted(!failed && code == 0, "a seed preset runs on the picture");
  return 0;
}
