// The GIMP plug-in's host, apart from the plug-in interface of any one GIMP
// version: which procedures the modules become, and one run of a module over
// a layer read from an image.
#pragma once

#include <string>
#include <vector>

#include "tools/filterhost/FilterHost.h"
#include "tools/filterhost/PluginScanner.h"

// One filter module as a procedure of GIMP's database.
struct CGimpProcedure {
  std::string name;       // "plug-in-kelvane"
  std::string menuLabel;  // "Kelvane..."
  std::string menuPath;   // "<Image>/Filters/Orvanta"
  CPluginInfo module;
};

// The procedure a module's menu name and category make.
CGimpProcedure ProcedureFor(const CPluginInfo& module);

// Where the plug-in looks for modules: the build tree's modules two folders
// up, a module folder beside the plug-in (a user's own installation), then
// the installed folder.
std::vector<std::string> GimpModuleFolders();

// One procedure per module found, in the order found; two modules giving the
// same procedure name keep the first.
std::vector<CGimpProcedure> FindGimpProcedures(const std::vector<std::string>& folders);

struct CGimpRunRequest {
  bool interactive = false;  // the editor opens; otherwise `script` is replayed
  bool hasDisplay = false;   // a window can be shown
  std::string script;        // a session script, for runs that are not interactive
};

struct CGimpRunResult {
  enum class EEnd { kResult, kCancelled, kFailed };
  EEnd end = EEnd::kFailed;
  std::string error;                  // why a run failed, for the caller's error return
  std::vector<std::string> messages;  // message boxes the filter showed without a window
};

// How messages name a script handed over as a parameter.
inline constexpr const char* kScriptParameterName = "<script>";

// Runs the procedure's module over the layer (RGBA, 8 bits a plane). With
// kResult the layer holds the filter's output; otherwise it is to be thrown
// away.
CGimpRunResult RunGimpProcedure(const CGimpProcedure& procedure, CHostLayer& layer,
                                const CGimpRunRequest& request);
