#include "MatteApp.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include "editor/EditorDialog.h"
#include "editor/ParamPanel.h"
#include "editor/ToolView.h"
#include "editor/model/SessionReplay.h"
#include "editor/model/SessionScript.h"
#include "framework/dialogs/QtApplicationScope.h"
#include "engine/MatteFilter.h"
#include "platform/MessageBox.h"

const char* const kInputErrorCaption = "! Input Data Error !";
const char* const kInputErrorText =
    "File is wrong format. Possibly missing layers.\n"
    "Program requires RGBA image (24 bit + transparency).";

namespace {

const char* const kProductName = "Kelvane";

// The host's description of itself, or null when it gives none (or an older,
// shorter one than the fields read here).
KelvanePlatformData* PlatformDataOf(const FilterRecord* record) {
  if (!record || !record->platformData) return nullptr;
  auto* data = static_cast<KelvanePlatformData*>(record->platformData);
  if (data->size < offsetof(KelvanePlatformData, scriptText) + sizeof data->scriptText) {
    return nullptr;
  }
  return data;
}

// The host's own way of showing messages, when it has one.
bool HasMessageHook(const KelvanePlatformData& data) {
  return data.size >= offsetof(KelvanePlatformData, messageContext) + sizeof data.messageContext &&
         data.showMessage;
}

// While alive, message boxes go to the host when it shows messages itself.
// A window system installed later, inside this scope, takes precedence.
class CHostMessageScope {
 public:
  explicit CHostMessageScope(const KelvanePlatformData* platform) {
    if (!platform || !HasMessageHook(*platform)) return;
    m_installed = true;
    m_previous = SetMessageBoxHandler(
        [platform](void*, const std::string& text, const std::string& caption, unsigned type) {
          platform->showMessage(platform->messageContext, keHostMessageBox, caption.c_str(),
                                text.c_str());
          return DefaultMessageBoxButton(type);
        });
  }
  ~CHostMessageScope() {
    if (m_installed) SetMessageBoxHandler(std::move(m_previous));
  }
  CHostMessageScope(const CHostMessageScope&) = delete;
  CHostMessageScope& operator=(const CHostMessageScope&) = delete;

 private:
  bool m_installed = false;
  MessageBoxHandler m_previous;
};

// The file the host wants the editor's session written to, or null.
const char* RecordPath(const KelvanePlatformData& platform) {
  if (platform.size < offsetof(KelvanePlatformData, recordStatus) + sizeof platform.recordStatus) {
    return nullptr;
  }
  return platform.recordPath;
}

// The file of a script the host only wants checked, or null.
const char* ScriptToCheck(const KelvanePlatformData& platform) {
  if (platform.size < offsetof(KelvanePlatformData, checkScriptPath) +
                          sizeof platform.checkScriptPath) {
    return nullptr;
  }
  return platform.checkScriptPath;
}

// A message of a replay: to the host where it shows messages itself, else
// to standard error.
void TellHost(const KelvanePlatformData& platform, int32_t kind, const std::string& text) {
  if (HasMessageHook(platform)) {
    platform.showMessage(platform.messageContext, kind, kProductName, text.c_str());
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
}

// How a replayed or checked script ended, for the host.
void EndScript(KelvanePlatformData& platform, int32_t status, const std::string& message) {
  platform.scriptStatus = status;
  if (status != keScriptStatusOk) TellHost(platform, keHostMessageScriptEnd, message);
}

// The script the host hands over, whole: its text, or its file's. A host
// may hand anything; past kScriptByteLimit nothing is read or copied.
bool ScriptText(const char* text, const std::string& name, std::string& script,
                std::string& message) {
  if (!text) return ReadScriptFile(name, script, message);
  const size_t length = strnlen(text, kScriptByteLimit + 1);
  if (length > kScriptByteLimit) {
    message = name + ": " + ScriptTooLongMessage();
    return false;
  }
  script.assign(text, length);
  return true;
}

// Said as they come, before how the script ended.
void ShowScriptWarnings(const KelvanePlatformData& platform,
                        const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings) {
    TellHost(platform, keHostMessageScriptWarning, warning);
  }
}

bool CheckScript(KelvanePlatformData& platform, const char* path) {
  std::string text;
  std::string message;
  if (!ReadScriptFile(path, text, message)) {
    EndScript(platform, keScriptStatusScriptError, message);
    return false;
  }
  std::istringstream script(std::move(text));
  CScriptReader reader(script);
  CScriptError error;
  if (CheckSessionScript(reader, error)) {
    EndScript(platform, keScriptStatusOk, std::string());
  } else {
    EndScript(platform, keScriptStatusScriptError, FormatScriptError(path, error));
  }
  // A check hands back no result.
  return false;
}

bool ReplayScript(KelvanePlatformData& platform, CMatteFilter& filter, CCoreImage& image) {
  std::unique_ptr<IReplayProgress> progress;
  if (StandardErrorIsTerminal()) progress = std::make_unique<CTerminalProgress>(stderr);
  const std::string name = platform.scriptPath ? platform.scriptPath : "script";
  CReplayOptions options;
  options.progress = progress.get();
  options.showPresets = platform.showPresets != 0;
  CReplayOutcome outcome;
  std::string text;
  if (!ScriptText(platform.scriptText, name, text, outcome.message)) {
    outcome.end = keReplayScriptError;
  } else {
    std::istringstream script(std::move(text));
    outcome = ReplaySessionScript(script, name, filter, image, options);
  }
  ShowScriptWarnings(platform, outcome.warnings);
  switch (outcome.end) {
    case keReplayOk:
      EndScript(platform, keScriptStatusOk, std::string());
      return true;
    case keReplayCancelled:
      EndScript(platform, keScriptStatusOk, std::string());
      return false;
    case keReplayScriptError:
      EndScript(platform, keScriptStatusScriptError, outcome.message);
      return false;
    case keReplayRunFailed:
      EndScript(platform, keScriptStatusRunFailed, outcome.message);
      return false;
  }
  return false;
}

}  // namespace

bool CMatteApp::CheckImage(FilterRecord* record, void*) {
  if (record->imageMode == plugInModeRGBColor && record->planes == 4) return true;
  // The refusal is the whole message: the host shows nothing for -128.
  const CHostMessageScope messages(PlatformDataOf(record));
  MessageBox(nullptr, kInputErrorText, kInputErrorCaption, MB_OK);
  return false;
}

bool CMatteApp::RunEditor() {
  SetRegistryKey(kProductName);
  AFX_MANAGE_STATE(ModuleState());
  KelvanePlatformData* platform = PlatformDataOf(m_image.m_filterRecord);
  const bool replay = platform && (platform->scriptPath || platform->scriptText);
  const CHostMessageScope messages(platform);
  // Before the filter is made: a check neither loads nor stores settings.
  if (const char* path = platform ? ScriptToCheck(*platform) : nullptr) {
    return CheckScript(*platform, path);
  }
  // Made before the filter so that it outlives it: a failure to save the
  // settings, found as the filter goes, is then shown in a box of its own.
  std::optional<CQtApplicationScope> application;
  if (!replay && platform && platform->hasDisplay) application.emplace();
  // Constructed here and destroyed before returning, so the parameters are
  // saved on OK and on Cancel alike.
  CMatteFilter filter;
  if (replay) return ReplayScript(*platform, filter, *m_image.GetImage());
  if (!platform || !platform->hasDisplay) {
    MessageBox(nullptr,
               "The editor window needs a display. Without one, replay a session script "
               "instead.",
               kProductName, MB_OK | MB_ICONINFORMATION);
    return false;
  }
  // The row stays off unless the host asks for it.
  return RunEditorWindow(filter, *platform);
}

bool CMatteApp::RunEditorWindow(CMatteFilter& filter, KelvanePlatformData& platform) {
  CParamPanel panel;
  CEditorDialog editor(*m_image.GetImage(), panel, filter, [] { return new CToolView; });
  editor.SetMinimumSize(800, 600);
  editor.SetShowPresets(platform.showPresets != 0);
  const char* record = RecordPath(platform);
  editor.SetRecording(record != nullptr);
  const bool ok = editor.DoModal() == IDOK;
  if (record && editor.Recorder()) {
    platform.recordStatus = editor.Recorder()->Save(record, platform.recordReplace != 0);
    if (platform.recordStatus != 0) {
      MessageBox(nullptr,
                 std::string("The session could not be written to ") + record + ": " +
                     std::strerror(platform.recordStatus),
                 kProductName, MB_OK | MB_ICONWARNING);
    }
  }
  return ok;
}
