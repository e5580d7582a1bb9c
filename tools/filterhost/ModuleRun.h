// What every host does with a filter module: look for it where modules are
// kept, load it, run it over a layer, and say how the run ended.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/HostInterface.h"
#include "tools/filterhost/FilterHost.h"
#include "tools/filterhost/PluginScanner.h"

// The folder holding the running program, or empty when it cannot be told.
std::string ExecutableFolder();

// Where an installation keeps the filter modules.
std::string InstalledModuleFolder();

// The first module in `folders` whose menu name is `name`.
std::optional<CPluginInfo> FindFilterModule(const std::vector<std::string>& folders,
                                            const std::string& name);

// The folders joined for a message.
std::string FolderList(const std::vector<std::string>& folders);

enum class EModuleRunEnd {
  kResult,       // the layer holds the filter's output
  kNoResult,     // cancelled, or the filter refused the layer
  kScriptError,  // the script was malformed or refused: the module said why
  kRunFailed,    // a replayed run ended without a result: the module said why
  kFailed,       // anything else: `message` says what
};

struct CModuleRunEnd {
  EModuleRunEnd end = EModuleRunEnd::kFailed;
  std::string message;
};

// Loads the module, calls its selectors over the layer and unloads it. The
// layer holds the filter's output only when the run ends with kResult;
// otherwise it may hold part of it, and is to be thrown away.
CModuleRunEnd RunFilterModule(const CPluginInfo& module, CHostLayer& layer,
                              KelvanePlatformData& platform);
// The same with a module loaded beforehand, which stays loaded.
CModuleRunEnd RunLoadedModule(const CFilterModule& loaded, CHostLayer& layer,
                              KelvanePlatformData& platform);
