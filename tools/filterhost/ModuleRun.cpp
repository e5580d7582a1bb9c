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
  CModuleRunEnd end;
  CFilterOutcome outcome;
  {
    CFilterModule loaded;
    if (!loaded.Load(module.path, module.entryPoint, end.message)) return end;
    outcome = RunFilter(loaded.Entry(), layer, platform);
    if (platform.scriptStatus == keScriptStatusScriptError) {
      end.end = EModuleRunEnd::kScriptError;
      return end;
    }
    if (platform.scriptStatus == keScriptStatusRunFailed) {
      end.end = EModuleRunEnd::kRunFailed;
      return end;
    }
    if (!outcome.hostFailed && outcome.result == noErr) {
      end.end = EModuleRunEnd::kResult;
      return end;
    }
  }
  if (outcome.hostFailed) {
    end.message = outcome.message;
  } else if (outcome.result == userCanceledErr) {
    end.end = EModuleRunEnd::kNoResult;
    end.message = "the filter ended without a result";
  } else {
    end.message = "the filter failed with code " + std::to_string(outcome.result);
  }
  return end;
}
