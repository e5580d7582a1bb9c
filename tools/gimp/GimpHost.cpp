#include "GimpHost.h"

#include <cctype>
#include <filesystem>
#include <mutex>
#include <set>
#include <utility>

#include "tools/filterhost/ModuleRun.h"

namespace fs = std::filesystem;

namespace {

// The procedure database's names are lower case words joined by dashes.
std::string ProcedureWord(const std::string& menuName) {
  std::string word;
  for (const char c : menuName) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u)) {
      word += static_cast<char>(std::tolower(u));
    } else if (!word.empty() && word.back() != '-') {
      word += '-';
    }
  }
  while (!word.empty() && word.back() == '-') word.pop_back();
  return word;
}

// The filter may show a box from its worker thread; the messages are handed
// to GIMP by the plug-in's own thread once the run is over.
struct CMessageCollector {
  std::mutex mutex;
  std::vector<std::string> boxes;
  std::string scriptEnd;

  static void Receive(void* context, int32_t kind, const char* caption, const char* text) {
    auto* self = static_cast<CMessageCollector*>(context);
    const std::lock_guard<std::mutex> lock(self->mutex);
    if (kind == keHostMessageScriptEnd) {
      self->scriptEnd = text;
    } else {
      self->boxes.push_back(std::string(caption) + ": " + text);
    }
  }
};

}  // namespace

CGimpProcedure ProcedureFor(const CPluginInfo& module) {
  CGimpProcedure procedure;
  procedure.name = "plug-in-" + ProcedureWord(module.name);
  procedure.menuLabel = module.name;
  procedure.menuPath = "<Image>/Filters";
  if (!module.category.empty()) procedure.menuPath += "/" + module.category;
  procedure.module = module;
  return procedure;
}

std::vector<std::string> GimpModuleFolders() {
  std::vector<std::string> folders;
  const std::string here = ExecutableFolder();
  if (!here.empty()) {
    const fs::path folder(here);
    folders.push_back((folder.parent_path().parent_path() / "plugins").string());
    folders.push_back((folder / "plugins").string());
  }
  folders.push_back(InstalledModuleFolder());
  return folders;
}

std::vector<CGimpProcedure> FindGimpProcedures(const std::vector<std::string>& folders) {
  std::vector<CGimpProcedure> procedures;
  std::set<std::string> names;
  for (const CPluginInfo& module : ScanPluginFolders(folders)) {
    CGimpProcedure procedure = ProcedureFor(module);
    if (procedure.name == "plug-in-" || !names.insert(procedure.name).second) continue;
    procedures.push_back(std::move(procedure));
  }
  return procedures;
}

CGimpRunResult RunGimpProcedure(const CGimpProcedure& procedure, CHostLayer& layer,
                                const CGimpRunRequest& request) {
  CMessageCollector collector;
  KelvanePlatformData platform = HostPlatformData();
  platform.hasDisplay = request.hasDisplay ? 1 : 0;
  platform.showMessage = &CMessageCollector::Receive;
  platform.messageContext = &collector;
  if (!request.interactive) {
    platform.scriptPath = kScriptParameterName;
    platform.scriptText = request.script.c_str();
  }
  const CModuleRunEnd end = RunFilterModule(procedure.module, layer, platform);

  CGimpRunResult result;
  result.messages = std::move(collector.boxes);
  switch (end.end) {
    case EModuleRunEnd::kResult:
      result.end = CGimpRunResult::EEnd::kResult;
      break;
    case EModuleRunEnd::kNoResult:
      result.end = CGimpRunResult::EEnd::kCancelled;
      break;
    case EModuleRunEnd::kScriptError:
    case EModuleRunEnd::kRunFailed:
      result.error = collector.scriptEnd;
      break;
    case EModuleRunEnd::kFailed:
      result.error = end.message;
      break;
  }
  if (result.end == CGimpRunResult::EEnd::kFailed && result.error.empty()) {
    result.error = procedure.module.name + " ended without a result";
  }
  return result;
}
