// Replays a session script without a window: the editor's state as it is
// right after opening, then the script's commands one at a time, each
// refused when the editor would not accept it at that moment. Apply runs on
// the worker thread and is waited for.
#pragma once

#include <cstdio>
#include <istream>
#include <string>
#include <vector>

class CCoreImage;
class CMatteFilter;

enum keReplayEnd : int {
  keReplayOk,           // OK: the holder's image holds what goes back to the host
  keReplayCancelled,    // Cancel: nothing is written
  keReplayScriptError,  // a malformed or refused command, or an unreadable script
  keReplayRunFailed,    // a run ended without a result (an engine failure)
};

struct CReplayOutcome {
  keReplayEnd end = keReplayOk;
  // For the errors: "FILE:LINE[:COLUMN]: what went wrong".
  std::string message;
  // What the replay did but the user may not have meant, however it ended:
  // "FILE:LINE:COLUMN: warning: ...", a few at most, then how many more.
  std::vector<std::string> warnings;
  bool Ok() const { return end == keReplayOk; }
};

// Told how each Apply of the replay goes.
class IReplayProgress {
 public:
  virtual ~IReplayProgress() = default;
  virtual void RunStarted(int /*line*/) {}
  // Rising percentages of the run.
  virtual void Progress(int /*percent*/) {}
  virtual void RunEnded(bool /*completed*/) {}
};

// Shows each Apply's percentage on one line of a terminal.
class CTerminalProgress : public IReplayProgress {
 public:
  explicit CTerminalProgress(std::FILE* out) : m_out(out) {}
  void RunStarted(int line) override;
  void Progress(int percent) override;
  void RunEnded(bool completed) override;

 private:
  std::FILE* m_out;
  int m_line = 0;
};

// Whether standard error is a terminal (where progress may be shown).
bool StandardErrorIsTerminal();

class CPresetState;

// How many points outside the picture a replay names before it only counts
// them: a script of a thousand such points must not flood the terminal.
inline constexpr size_t kOutsidePointWarnings = 3;

struct CReplayOptions {
  IReplayProgress* progress = nullptr;
  // The editor's show-presets setting: off, the preset commands are refused.
  bool showPresets = false;
  // Where the preset row looks; empty: the module's preset folder.
  std::string presetFolder;
  // The current-preset record; null: the process's own.
  CPresetState* presetState = nullptr;
};

// The holder's image is the layer the editor opens on and shows; on
// keReplayOk it holds the image that OK hands back. The filter is one the
// host just constructed; its parameter set receives the panel's values.
CReplayOutcome ReplaySessionScript(const std::string& scriptPath, CMatteFilter& filter,
                                   CCoreImage& holderImage, IReplayProgress* progress = nullptr);
CReplayOutcome ReplaySessionScript(const std::string& scriptPath, CMatteFilter& filter,
                                   CCoreImage& holderImage, const CReplayOptions& options);
// The same for a script already open; `scriptName` names it in messages.
CReplayOutcome ReplaySessionScript(std::istream& script, const std::string& scriptName,
                                   CMatteFilter& filter, CCoreImage& holderImage,
                                   IReplayProgress* progress = nullptr);
CReplayOutcome ReplaySessionScript(std::istream& script, const std::string& scriptName,
                                   CMatteFilter& filter, CCoreImage& holderImage,
                                   const CReplayOptions& options);
