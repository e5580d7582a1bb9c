#include "ModuleRun.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <utility>

namespace fs = std::filesystem;

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  return fs::path(std::string(buffer, static_cast<size_t>(length))).parent_path().string();
}

std::string InstalledModuleFolder() { return KELVANE_INSTALLED_PLUGIN_DIR; }

std::optional<CPluginInfo> FindFilterModule(const std::vector<std::string>& folders,
                                            const std::string& name) {
  for (CPluginInfo& info : ScanPluginFolders(folders)) {
    if (info.name == name) return std::move(info);
  }
  return std::nullopt;
}

std::string FolderList(const std::vector<std::string>& folders) {
  std::string list;
  for (const std::string& folder : folders) list += (list.empty() ? "" : ", ") + folder;
  return list;
}

CModuleRunEnd RunFilterModule(const CPluginInfo& module, CHostLayer& layer,
                              KelvanePlatformData& platform) {
  CFilterModule loaded;
  CModuleRunEnd end;
  if (!loaded.Load(module.path, module.entryPoint, end.message)) return end;
  return RunLoadedModule(loaded, layer, platform);
}

CModuleRunEnd RunLoadedModule(const CFilterModule& loaded, CHostLayer& layer,
                              KelvanePlatformData& platform) {
  CModuleRunEnd end;
  const CFilterOutcome outcome = RunFilter(loaded.Entry(), layer, platform);
  if (platform.scriptStatus == keScriptStatusScriptError) {
    end.end = EModuleRunEnd::kScriptError;
  } else if (platform.scriptStatus == keScriptStatusRunFailed) {
    end.end = EModuleRunEnd::kRunFailed;
  } else if (!outcome.hostFailed && outcome.result == noErr) {
    end.end = EModuleRunEnd::kResult;
  } else if (outcome.hostFailed) {
    end.message = outcome.message;
  } else if (outcome.result == userCanceledErr) {
    end.end = EModuleRunEnd::kNoResult;
    end.message = "the filter ended without a result";
  } else {
    end.message = "the filter failed with code " + std::to_string(outcome.result);
  }
  return end;
}
