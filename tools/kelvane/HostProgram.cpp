#include "HostProgram.h"

#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/AtomicFile.h"
#include "tools/filterhost/ModuleRun.h"
#include "tools/kelvane/HostMessages.h"
#include "tools/kelvane/BatchRun.h"
#include "tools/kelvane/DemoSession.h"
#include "tools/kelvane/FileLayer.h"
#include "tools/kelvane/PictureReader.h"
#include "tools/kelvane/PictureWriter.h"
#include "tools/kelvane/PictureLibrary.h"
#include "tools/kelvane/PictureLimits.h"
#include "tools/kelvane/ResultPicture.h"
#include "tools/kelvane/SamplePicture.h"
#include "tools/kelvane/ScriptFile.h"

namespace fs = std::filesystem;

namespace {

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
  if (const int failure = CheckNewFileName(output); failure != 0) {
    error = "cannot write '" + output + "': " + std::strerror(failure);
    return false;
  }
  return true;
}

// The same file by identity, whatever the spelling or the links on the way.
bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int ListFilters(const CHostOptions& options) {
  for (const CPluginInfo& info : ScanPluginFolders(PluginFolders(options))) {
    std::printf("%s\t%s\t%s\n", info.path.c_str(), info.category.c_str(), info.name.c_str());
  }
  return keExitWritten;
}

// Everything that can be known wrong about the output is said before the
// picture is read and the editor opens.
bool CheckOutput(const CHostOptions& options, const std::string& output, std::string& error) {
  if (output != kStandardStream && !options.input.empty() && options.input != kStandardStream &&
      IsSameFile(options.input, output)) {
    error = "will not write '" + output + "': it is the input file itself, and an original "
            "is never overwritten";
    return false;
  }
  struct stat existing {};
  if (output != kStandardStream && !options.overwrite && lstat(output.c_str(), &existing) == 0 &&
      !S_ISDIR(existing.st_mode)) {
    error = "will not replace '" + output + "': it exists already; --overwrite replaces it";
    return false;
  }
  if (!CheckOutputFormat(output, OutputFormatOf(options, output), options.NeedsAlpha(), error)) {
    return false;
  }
  return output == kStandardStream || OutputFolderWritable(output, error);
}

// The session is recorded only where nothing the user did not allow is
// replaced, and never over the picture read or written.
bool CheckRecordFile(const CHostOptions& options, const std::string& output, std::string& error) {
  if (options.record.empty()) return true;
  const std::string& record = options.record;
  if ((!options.input.empty() && IsSameFile(options.input, record)) || record == output ||
      IsSameFile(output, record)) {
    error = "will not record the session to '" + record + "': it is the picture read or written";
    return false;
  }
  struct stat existing {};
  if (lstat(record.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      error = "cannot record the session to '" + record + "': it is a folder";
      return false;
    }
    if (!options.overwrite) {
      error = "will not replace '" + record + "': it exists already; --overwrite replaces it";
      return false;
    }
  }
  if (const int failure = CheckNewFileName(record)) {
    error = "cannot record the session to '" + record + "': " + std::strerror(failure);
    return false;
  }
  return OutputFolderWritable(record, error);
}

// The editor needs a window; the session replays do not.
bool CheckEditorCanOpen(const CHostOptions& options, std::string& error) {
  if (options.demo || !options.script.empty() || HostPlatformData().hasDisplay) return true;
  error = "the editor needs a display, and none is set ($DISPLAY and $WAYLAND_DISPLAY are "
          "empty); --script FILE replays a session without one";
  return false;
}

// Reads the input on a thread of its own while the caller finds and loads
// the filter module: decoding and the loader's work overlap. Nothing is
// read without an input.
class CPictureReading {
 public:
  CPictureReading(const std::string& input, CPicture& picture, bool& read, std::string& error) {
    if (input.empty()) return;
    auto task = [&input, &picture, &read, &error] { read = ReadPicture(input, picture, error); };
    try {
      m_thread = std::thread(task);
    } catch (const std::system_error&) {
      task();
    }
  }
  ~CPictureReading() { Finish(); }
  CPictureReading(const CPictureReading&) = delete;
  CPictureReading& operator=(const CPictureReading&) = delete;

  void Finish() {
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  std::thread m_thread;
};

int RunFilterOnFile(const CHostOptions& options) {
  std::string error;
  // The script first: one that cannot be read, or that never ends, costs
  // no decoding.
  std::string script;
  if (!options.script.empty() && !ReadScriptFile(options.script, script, error)) {
    Complain(error);
    return keExitUsage;
  }
  const std::string output =
      options.output.empty() ? DefaultOutputPath(options) : options.output;
  if (!CheckOutput(options, output, error) || !CheckRecordFile(options, output, error)) {
    Complain(error);
    return keExitUsage;
  }
  CPicture picture;
  bool read = true;
  CPictureReading reading(options.input, picture, read, error);
  if (options.input.empty()) {
    // The demo session's points are made for the sample picture.
    picture = SamplePicture();
  }
  const std::vector<std::string> folders = PluginFolders(options);
  const std::optional<CPluginInfo> module = FindFilterModule(folders, kFilterName);
  CFilterModule loaded;
  std::string loadError;
  const bool isLoaded = module && loaded.Load(module->path, module->entryPoint, loadError);
  reading.Finish();
  if (!read) {
    Complain(error);
    return keExitUsage;
  }
  if (!module) {
    Complain(std::string("no filter module named \"") + kFilterName + "\" in " +
             FolderList(folders));
    return keExitFailure;
  }
  if (!isLoaded) {
    Complain(loadError + "; nothing was written");
    return keExitFailure;
  }
  // Said once everything about the files is known to be right.
  if (!CheckEditorCanOpen(options, error)) {
    Complain(error);
    return keExitUsage;
  }

  CPictureMetadata metadata = std::move(picture.metadata);
  CHostLayer layer = LayerFromPixels(std::move(picture), options.planesAsFile);
  picture = CPicture();
  KelvanePlatformData platform = HostPlatformData();
  platform.showPresets = options.presets ? 1 : 0;
  if (!options.record.empty()) {
    platform.recordPath = options.record.c_str();
    platform.recordReplace = options.overwrite ? 1 : 0;
    platform.recordStatus = -1;  // until the module says how writing went
  }
  if (options.demo) {
    platform.scriptPath = kDemoSessionName;
    platform.scriptText = DemoSessionScript();
  } else if (!options.script.empty()) {
    platform.scriptPath = options.script.c_str();
    // Handed over as read, so the file is read once. A NUL byte would end
    // the text early: the module then reads the file itself and names the
    // line that holds it.
    if (script.find('\0') == std::string::npos) platform.scriptText = script.c_str();
  }
  const CModuleRunEnd end = RunLoadedModule(loaded, layer, platform);
  // The module has said why the session was not recorded.
  const bool recordFailed = platform.recordPath && platform.recordStatus > 0;
  if (platform.recordPath && platform.recordStatus == 0 && output != kStandardStream) {
    std::printf("recorded the session in %s\n", platform.recordPath);
  }
  switch (end.end) {
    case EModuleRunEnd::kResult:
      break;
    // The module has said what went wrong in the script or the run.
    case EModuleRunEnd::kScriptError:
      Complain("nothing was written");
      return keExitUsage;
    case EModuleRunEnd::kRunFailed:
      Complain("nothing was written");
      return keExitFailure;
    case EModuleRunEnd::kNoResult:
      Complain(end.message + "; nothing was written");
      return keExitNoResult;
    case EModuleRunEnd::kFailed:
      Complain(end.message + "; nothing was written");
      return keExitFailure;
  }
  const CPicture result = ResultPicture(std::move(layer), options, std::move(metadata));
  if (!WritePicture(output, OutputFormatOf(options, output), result, options.strip,
                    options.overwrite, error)) {
    Complain(error);
    return keExitUsage;
  }
  // Standard output carries the picture itself.
  if (output != kStandardStream) std::printf("wrote %s\n", output.c_str());
  return recordFailed ? keExitFailure : keExitWritten;
}

// The library is shut down on every way out, so that it leaves no threads
// or temporary state behind.
class CPictureLibraryScope {
 public:
  ~CPictureLibraryScope() {
    if (m_started) vips_shutdown();
  }
  bool Start(const char* programName, std::string& error) {
    m_started = StartPictureLibrary(programName, error);
    return m_started;
  }

 private:
  bool m_started = false;
};

}  // namespace

std::vector<std::string> PluginFolders(const CHostOptions& options) {
  if (!options.pluginFolder.empty()) return {options.pluginFolder};
  std::vector<std::string> folders;
  const std::string here = ExecutableFolder();
  if (!here.empty()) folders.push_back((fs::path(here).parent_path() / "plugins").string());
  folders.push_back(InstalledModuleFolder());
  return folders;
}

std::string HostVersions() {
  return std::string("kelvane ") + KELVANE_VERSION + "\n" + "libvips " +
         PictureLibraryVersion() + "\n" + "zlib " + zlibVersion() + " (PNG files)\n" +
         "libpng " + KELVANE_LIBPNG_VERSION +
         " (the filter's own resources)\n" + "Qt " + KELVANE_QT_VERSION + " (the editor)\n";
}

int RunHostProgram(int argc, char** argv) {
  CPictureLibraryScope library;
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
    if (!library.Start(argc > 0 ? argv[0] : "kelvane", error)) {
      Complain(error);
      return keExitFailure;
    }
    SetPictureThreads(options.threads);
    SetMemoryShare(options.memoryShare);
    if (options.version) {
      std::fputs(HostVersions().c_str(), stdout);
      return keExitWritten;
    }
    if (options.list) return ListFilters(options);
    if (options.Batch()) return RunBatch(options);
    return RunFilterOnFile(options);
  } catch (const std::bad_alloc&) {
    Complain("out of memory");
  } catch (const std::exception& failure) {
    Complain(failure.what());
  }
  return keExitFailure;
}
