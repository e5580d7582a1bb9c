// Session scripts replayed on a small picture, as `kelvane --script` does,
// with the preset row shown: every command the editor takes, runs included.
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>

#include "editor/model/SessionReplay.h"
#include "engine/MatteFilter.h"
#include "framework/Presets.h"
#include "fuzz/FuzzScenes.h"
#include "fuzz/FuzzSupport.h"
#include "imagecore/CoreImage.h"

namespace fs = std::filesystem;

namespace {

// The preset folder starts each replay the same: one style to choose.
void ResetPresetFolder(const std::string& folder) {
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder);
  const std::string wide = "Kelvane\r\n\tTolerance : 60\r\n\tFEZER : 3\r\n\tFILLHOLES : True\r\n";
  WriteWholeFile(folder + "/Wide.preset", reinterpret_cast<const uint8_t*>(wide.data()), wide.size());
}

// Saving and deleting styles must stay inside the preset folder: the
// scratch folder holds nothing else afterwards.
void CheckNothingWrittenElsewhere(const std::string& folder) {
  for (const fs::directory_entry& entry : fs::directory_iterator(ScratchFolder())) {
    const std::string name = entry.path().filename().string();
    Require(name == "config" || name == "presets", "a replay writes only its settings and presets");
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    Require(entry.is_regular_file() && entry.path().extension() == ".preset",
            "a saved style is a .preset file in the preset folder");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UsePrivateConfiguration();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const CCoreImage kPicture = SkyAndRoof(64, false);
  const std::string folder = ScratchFolder() + "/presets";
  ResetPresetFolder(folder);

  CCoreImage holder;
  ThrowIfFailed(holder.CopyFrom(kPicture));
  CPresetState state;
  CReplayOptions options;
  options.showPresets = true;
  options.presetFolder = folder;
  options.presetState = &state;
  CReplayOutcome outcome;
  {
    CMatteFilter filter;
    std::istringstream script(std::string(reinterpret_cast<const char*>(data), size));
    outcome = ReplaySessionScript(script, "s.txt", filter, holder, options);
    Require(!filter.IsRunning(), "no run outlives its replay");
  }
  ExpectAccepted(outcome.Ok(), outcome.message.c_str());
  if (outcome.end == keReplayScriptError) {
    Require(outcome.message.rfind("s.txt:", 0) == 0, "a script error names the script and line");
  }
  if (outcome.Ok()) {
    Require(holder.Width() == kPicture.Width() && holder.Height() == kPicture.Height(),
            "OK hands back a layer of the picture's size");
  }
  CheckNothingWrittenElsewhere(folder);
  return 0;
}
