#include "HostProgram.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <utility>

#include "tools/kelvane/DemoSession.h"
#include "tools/kelvane/FilterHost.h"
#include "tools/kelvane/PluginScanner.h"
#include "tools/kelvane/PngFile.h"
#include "tools/kelvane/SamplePicture.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kFilterName = "Kelvane...";

void Complain(const std::string& text) {
  std::fprintf(stderr, "kelvane: %s\n", text.c_str());
  std::fflush(stderr);
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  return fs::path(std::string(buffer, static_cast<size_t>(length))).parent_path().string();
}

// Checked before the filter runs, so nobody works through an editor session
// whose result cannot be kept.
bool OutputFolderWritable(const std::string& output, std::string& error) {
  const fs::path target(output);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::error_code failed;
  if (fs::is_directory(target, failed)) {
    error = "cannot write '" + output + "': it is a folder";
    return false;
  }
  if (access(folder.c_str(), W_OK) != 0) {
    error = "cannot write '" + output + "': " + std::strerror(errno);
    return false;
  }
  return true;
}

int ListFilters(const CHostOptions& options) {
  for (const CPluginInfo& info : ScanPluginFolders(PluginFolders(options))) {
    std::printf("%s\t%s\t%s\n", info.path.c_str(), info.category.c_str(), info.name.c_str());
  }
  return keExitWritten;
}

int RunFilterOnFile(const CHostOptions& options) {
  CPngPixels pixels;
  std::string error;
  if (options.input.empty()) {
    // The demo session's points are made for the sample picture.
    pixels = SamplePicture();
  } else if (!ReadPng(options.input, pixels, error)) {
    Complain(error);
    return keExitUsage;
  }
  const std::string output =
      options.output.empty() ? DefaultOutputPath(options.input) : options.output;
  if (!OutputFolderWritable(output, error)) {
    Complain(error);
    return keExitUsage;
  }

  const std::vector<std::string> folders = PluginFolders(options);
  const CPluginInfo* chosen = nullptr;
  const std::vector<CPluginInfo> found = ScanPluginFolders(folders);
  for (const CPluginInfo& info : found) {
    if (info.name == kFilterName) {
      chosen = &info;
      break;
    }
  }
  if (!chosen) {
    std::string where;
    for (const std::string& folder : folders) where += (where.empty() ? "" : ", ") + folder;
    Complain(std::string("no filter module named \"") + kFilterName + "\" in " + where);
    return keExitFailure;
  }

  CHostLayer layer = LayerFromPixels(std::move(pixels), options.planesAsFile);
  pixels = CPngPixels();
  CFilterOutcome outcome;
  {
    CFilterModule module;
    if (!module.Load(chosen->path, chosen->entryPoint, error)) {
      Complain(error);
      return keExitFailure;
    }
    KelvanePlatformData platform = HostPlatformData();
    platform.showPresets = options.presets ? 1 : 0;
    if (options.demo) {
      platform.scriptPath = kDemoSessionName;
      platform.scriptText = DemoSessionScript();
    } else if (!options.script.empty()) {
      platform.scriptPath = options.script.c_str();
    }
    outcome = RunFilter(module.Entry(), layer, platform);
    // The module has said what went wrong in the script or the run.
    if (platform.scriptStatus == keScriptStatusScriptError) {
      Complain("nothing was written");
      return keExitUsage;
    }
    if (platform.scriptStatus == keScriptStatusRunFailed) {
      Complain("nothing was written");
      return keExitFailure;
    }
  }
  if (outcome.hostFailed) {
    Complain(outcome.message + "; nothing was written");
    return keExitFailure;
  }
  if (outcome.result == userCanceledErr) {
    Complain("the filter ended without a result; nothing was written");
    return keExitNoResult;
  }
  if (outcome.result != noErr) {
    Complain("the filter failed with code " + std::to_string(outcome.result) +
             "; nothing was written");
    return keExitFailure;
  }
  // An RGBA layer already is what the file takes.
  std::vector<uint8_t> converted;
  const uint8_t* rgba = layer.bytes.data();
  if (layer.planes != 4 || layer.imageMode == plugInModeGrayScale) {
    converted = LayerToRGBA(layer);
    rgba = converted.data();
  }
  if (!WritePngRGBA(output, layer.width, layer.height, rgba, error)) {
    Complain(error);
    return keExitUsage;
  }
  std::printf("wrote %s\n", output.c_str());
  return keExitWritten;
}

}  // namespace

std::string HostUsage() {
  return "usage: kelvane [--plugins DIR] [--planes-as-file] [--presets] [INPUT [OUTPUT]]\n"
         "       kelvane [--plugins DIR] [--planes-as-file] [--presets] --script FILE INPUT OUTPUT\n"
         "       kelvane [--plugins DIR] --demo [OUTPUT]\n"
         "       kelvane [--plugins DIR] --list\n"
         "       kelvane --help\n"
         "\n"
         "Runs the Kelvane filter on the PNG file INPUT (without INPUT, on a built-in\n"
         "sample picture) and writes the result as an RGBA PNG to OUTPUT (without\n"
         "OUTPUT, to <input name>.kelvane.png in the current folder).\n"
         "\n"
         "  --plugins DIR     look for filter modules in DIR only\n"
         "  --planes-as-file  hand the planes over as the file has them, without\n"
         "                    adding an opaque alpha plane\n"
         "  --presets         show the editor's preset row (styles kept in the Presets\n"
         "                    folder beside the filter module); a session script may\n"
         "                    then use preset, save-preset and delete-preset\n"
         "  --script FILE     replay the session script FILE instead of opening the\n"
         "                    editor; INPUT and OUTPUT must both be named\n"
         "  --demo            replay a built-in session on the sample picture, with\n"
         "                    no display needed\n"
         "  --list            list the filters found: module, category, name\n"
         "  --help            show this text\n"
         "\n"
         "Exit status: 0 result written; 2 usage error, unreadable input,\n"
         "unwritable output or script error; 3 the filter ended without a result\n"
         "(Cancel, or the picture refused); 1 anything else.\n";
}

bool ParseHostOptions(const std::vector<std::string>& arguments, CHostOptions& options,
                      std::string& error) {
  options = CHostOptions();
  std::vector<std::string> files;
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      files.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--list") {
      options.list = true;
    } else if (argument == "--planes-as-file") {
      options.planesAsFile = true;
    } else if (argument == "--plugins") {
      if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
        error = "--plugins needs a folder";
        return false;
      }
      options.pluginFolder = arguments[++i];
    } else if (argument.rfind("--plugins=", 0) == 0 && argument.size() > 10) {
      options.pluginFolder = argument.substr(10);
    } else if (argument == "--presets") {
      options.presets = true;
    } else if (argument == "--demo") {
      options.demo = true;
    } else if (argument == "--script") {
      if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
        error = "--script needs a script file";
        return false;
      }
      options.script = arguments[++i];
    } else {
      error = "unknown option '" + argument + "'";
      return false;
    }
  }
  if (options.help) return true;
  if (options.list && options.presets) {
    error = "--presets does not go with --list";
    return false;
  }
  if (options.list && !files.empty()) {
    error = "--list takes no files";
    return false;
  }
  const int modes = int(options.list) + int(options.demo) + int(!options.script.empty());
  if (modes > 1) {
    error = "--list, --demo and --script exclude each other";
    return false;
  }
  if (options.demo && files.size() > 1) {
    error = "--demo takes at most OUTPUT";
    return false;
  }
  if (!options.script.empty() && files.size() != 2) {
    error = "--script needs INPUT and OUTPUT";
    return false;
  }
  if (files.size() > 2) {
    error = "too many files: at most INPUT and OUTPUT";
    return false;
  }
  for (const std::string& file : files) {
    if (file.empty() || file == "-") {
      error = "'" + file + "' is not a file name";
      return false;
    }
  }
  if (options.demo) {
    if (!files.empty()) options.output = files[0];
    return true;
  }
  if (!files.empty()) options.input = files[0];
  if (files.size() == 2) options.output = files[1];
  return true;
}

std::string DefaultOutputPath(const std::string& input) {
  const std::string name = input.empty() ? "sample" : fs::path(input).stem().string();
  return name + ".kelvane.png";
}

std::vector<std::string> PluginFolders(const CHostOptions& options) {
  if (!options.pluginFolder.empty()) return {options.pluginFolder};
  std::vector<std::string> folders;
  const std::string here = ExecutableFolder();
  if (!here.empty()) folders.push_back((fs::path(here).parent_path() / "plugins").string());
#ifdef KELVANE_INSTALLED_PLUGIN_DIR
  folders.push_back(KELVANE_INSTALLED_PLUGIN_DIR);
#endif
  return folders;
}

int RunHostProgram(int argc, char** argv) {
  try {
    CHostOptions options;
    std::string error;
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (!ParseHostOptions(arguments, options, error)) {
      Complain(error + " (kelvane --help shows the usage)");
      return keExitUsage;
    }
    if (options.help) {
      std::fputs(HostUsage().c_str(), stdout);
      return keExitWritten;
    }
    if (options.list) return ListFilters(options);
    return RunFilterOnFile(options);
  } catch (const std::bad_alloc&) {
    Complain("out of memory");
  } catch (const std::exception& failure) {
    Complain(failure.what());
  }
  return keExitFailure;
}
