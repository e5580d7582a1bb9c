#include "editor/model/SessionReplay.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "editor/model/EditorSession.h"
#include "editor/model/PresetRow.h"
#include "editor/model/SessionScript.h"
#include "engine/MatteDocument.h"
#include "engine/MatteFilter.h"
#include "imagecore/CoreResult.h"
#include "platform/Window.h"

void CTerminalProgress::RunStarted(int line) {
  m_line = line;
  std::fprintf(m_out, "\rapply (line %d): 0%%", line);
  std::fflush(m_out);
}

void CTerminalProgress::Progress(int percent) {
  std::fprintf(m_out, "\rapply (line %d): %d%%", m_line, percent);
  std::fflush(m_out);
}

void CTerminalProgress::RunEnded(bool completed) {
  if (completed) {
    std::fprintf(m_out, "\rapply (line %d): 100%%\n", m_line);
  } else {
    std::fprintf(m_out, "\rapply (line %d): failed\n", m_line);
  }
  std::fflush(m_out);
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

namespace {

// "Save Style" with the script's name typed and OK pressed once; an
// existing file is overwritten. A refused name cancels, and says why.
class CReplayStyleDialog : public ISaveStyleDialog, private IStyleQuestions {
 public:
  explicit CReplayStyleDialog(std::string typed) : m_typed(std::move(typed)) {}
  bool DoModal(CSaveStyleRules& rules) override { return rules.OnOk(m_typed, *this); }
  const std::string& Refusal() const { return m_refusal; }

 private:
  bool ConfirmOverwrite(const std::string&) override { return true; }
  void ShowRefusal(const std::string& message) override { m_refusal = message; }

  std::string m_typed;
  std::string m_refusal;
};

// The shell's question before a delete, answered yes.
class CReplayDeleteQuestion : public IDeleteQuestion {
 public:
  bool ConfirmDelete(const std::string&, bool) override { return true; }
};

class CReplay : private IEditorSessionListener {
 public:
  CReplay(const std::string& name, CMatteFilter& filter, CCoreImage& holder,
          const CReplayOptions& options)
      : m_name(name),
        m_progress(options.progress),
        m_window([this](const CWindowMessage& message) { m_session.HandleMessage(message); }),
        m_session(filter, m_doc, holder) {
    m_session.SetListener(this);
    m_session.Open(m_window);
    if (options.showPresets) {
      const std::string folder =
          options.presetFolder.empty() ? GetPresetFolder() : options.presetFolder;
      CPresetState& state = options.presetState ? *options.presetState : CPresetState::Process();
      m_presets = std::make_unique<CPresetRow>(m_session, folder, state);
      m_presets->Fill();
    }
  }

  CReplayOutcome Run(CScriptReader& reader);
  // The warnings so far, with the count of those not named.
  std::vector<std::string> Warnings() const;

 private:
  // Why a command is refused, or nothing when it was carried out.
  std::optional<std::string> Execute(const CScriptCommand& command);
  std::optional<std::string> Mark(const CScriptCommand& command, bool object);
  std::optional<std::string> Manual(const CScriptCommand& command, bool recover);
  std::optional<std::string> Apply(int line);
  std::optional<std::string> Preset(const CScriptCommand& command);
  std::optional<std::string> SavePreset(const CScriptCommand& command);
  std::optional<std::string> DeletePreset();
  // Starts a run with `start` and waits until it has ended.
  std::optional<std::string> RunAndWait(int line, const std::function<void()>& start);
  // Types into the parameter's field, or clicks its check box when it
  // differs from the state named.
  void SetParameter(const CScriptCommand& command) {
    const int field = ParameterField(command.slot);
    if (field >= 0) {
      m_session.TypeIntoField(static_cast<keField>(field), command.text);
    } else if (command.on != m_session.IsChecked(command.slot)) {
      m_session.ClickCheckBox(command.slot);
    }
  }

  // Set by a refusal that one word of the line is to blame for.
  int m_errorColumn = 0;

  CReplayOutcome Failure(keReplayEnd end, int line, const std::string& message, int column = 0) {
    CScriptError error;
    error.line = line;
    error.column = column;
    error.message = message;
    return {end, FormatScriptError(m_name, error), {}};
  }

  void ProgressChanged(int percent) override {
    // The bar's resets at a run's end are not progress.
    if (m_inRun && percent > m_lastPercent) {
      m_lastPercent = percent;
      if (m_progress) m_progress->Progress(percent);
    }
  }

  CViewGeometry View() const {
    return CViewGeometry::AtZoomOne(m_doc.Width(), m_doc.Height());
  }

  // The command's points in pixels of the picture being edited. One outside
  // it marks the nearest edge pixel, as the pointer dragged past the edge
  // does, which is worth a warning: it is most likely meant for a larger
  // picture.
  std::vector<CScriptPoint> Pixels(const CScriptCommand& command) {
    std::vector<CScriptPoint> pixels;
    for (size_t i = 0; i < command.points.size(); ++i) {
      const CScriptPoint pixel = command.points[i].Resolved(m_doc.Width(), m_doc.Height());
      if (pixel.x < 0 || pixel.y < 0 || pixel.x >= m_doc.Width() || pixel.y >= m_doc.Height()) {
        WarnOutside(command, i);
      }
      pixels.push_back(pixel);
    }
    return pixels;
  }
  void WarnOutside(const CScriptCommand& command, size_t point);

  std::string m_name;
  IReplayProgress* m_progress;
  CMatteDocument m_doc;
  CHeadlessWindow m_window;
  CEditorSession m_session;
  std::unique_ptr<CPresetRow> m_presets;  // only while the row is shown
  bool m_inRun = false;
  int m_lastPercent = 0;
  bool m_ended = false;
  keReplayEnd m_end = keReplayOk;
  std::vector<std::string> m_warnings;
  size_t m_outsidePoints = 0;
};

void CReplay::WarnOutside(const CScriptCommand& command, size_t point) {
  if (++m_outsidePoints > kOutsidePointWarnings) return;
  const CScriptPoint& typed = command.points[point];
  CScriptError warning;
  warning.line = command.line;
  warning.column = point < command.pointColumns.size() ? command.pointColumns[point] : 0;
  warning.message = "warning: the point " + ScriptCoordinateText(typed.x, typed.xPercent) + "," +
                    ScriptCoordinateText(typed.y, typed.yPercent) + " lies outside the " +
                    std::to_string(m_doc.Width()) + " x " + std::to_string(m_doc.Height()) +
                    " picture and marks its nearest edge pixel; points in percent (50%,50% is "
                    "the middle) fit a picture of any size";
  m_warnings.push_back(FormatScriptError(m_name, warning));
}

std::vector<std::string> CReplay::Warnings() const {
  std::vector<std::string> warnings = m_warnings;
  if (m_outsidePoints > kOutsidePointWarnings) {
    const size_t more = m_outsidePoints - kOutsidePointWarnings;
    warnings.push_back(m_name + ": warning: and " + std::to_string(more) +
                       (more == 1 ? " more point" : " more points") + " outside the picture");
  }
  return warnings;
}

CReplayOutcome CReplay::Run(CScriptReader& reader) {
  CScriptCommand command;
  CScriptError error;
  while (!m_ended) {
    switch (reader.Next(command, error)) {
      case CScriptReader::keReadError:
        return {keReplayScriptError, FormatScriptError(m_name, error), {}};
      case CScriptReader::keReadEnd:
        // The end of the script presses OK.
        if (!m_session.PressOk()) {
          return Failure(keReplayScriptError, std::max(reader.LineNumber(), 1),
                         "the script ends, which presses OK, but OK is disabled "
                         "(no result is shown)");
        }
        return {keReplayOk, {}, {}};
      case CScriptReader::keReadCommand:
        break;
    }
    try {
      m_errorColumn = 0;
      if (std::optional<std::string> refused = Execute(command)) {
        const keReplayEnd end = m_end == keReplayRunFailed ? keReplayRunFailed : keReplayScriptError;
        return Failure(end, command.line, *refused, m_errorColumn);
      }
    } catch (CJException& failure) {
      return Failure(keReplayRunFailed, command.line,
                     std::string("the command failed: ") + failure.MessageText());
    }
  }
  return {m_end, {}, {}};
}

std::optional<std::string> CReplay::Execute(const CScriptCommand& command) {
  switch (command.kind) {
    case keScriptSet:
      SetParameter(command);
      return {};
    case keScriptBrush:
      m_session.TypeIntoField(keFieldBrushSize, command.text);
      return {};
    case keScriptBrushSmooth:
      if (command.on != m_session.SmoothBrush()) m_session.ClickSmoothBrush();
      return {};
    case keScriptBackground:
      return Mark(command, false);
    case keScriptObject:
      return Mark(command, true);
    case keScriptErase:
      return Manual(command, false);
    case keScriptRecover:
      return Manual(command, true);
    case keScriptApply:
      return Apply(command.line);
    case keScriptDeleteMarks:
      if (!m_session.DeleteAllMarks()) {
        return "'delete-marks' refused: Delete All Marks is disabled (there are no marks)";
      }
      return {};
    case keScriptReset:
      if (!m_session.Reset()) {
        return "'reset' refused: Reset is disabled (nothing was modified since the editor "
               "opened or was reset)";
      }
      return {};
    case keScriptUndo:
      if (!m_session.Undo()) return "'undo' refused: there is nothing to undo";
      return {};
    case keScriptRedo:
      if (!m_session.Redo()) return "'redo' refused: there is nothing to redo";
      return {};
    case keScriptDisplay:
      if (!m_session.ChooseDisplay(command.on ? keDisplayResult : keDisplayOriginal)) {
        return "'display' refused: the Display list is disabled (no result has been shown "
               "since the editor opened or was reset)";
      }
      return {};
    case keScriptPreset:
    case keScriptSavePreset:
    case keScriptDeletePreset:
      if (!m_presets) {
        return "preset commands are refused: the preset row is switched off (kelvane "
               "--presets switches it on)";
      }
      if (command.kind == keScriptPreset) return Preset(command);
      if (command.kind == keScriptSavePreset) return SavePreset(command);
      return DeletePreset();
    case keScriptOk:
      if (!m_session.PressOk()) return "'ok' refused: OK is disabled (no result is shown)";
      m_ended = true;
      m_end = keReplayOk;
      return {};
    case keScriptCancel:
      // Apply waits for its run, so Cancel never meets one and closes.
      if (m_session.PressCancel()) {
        m_ended = true;
        m_end = keReplayCancelled;
      }
      return {};
  }
  return "unknown command";
}

std::optional<std::string> CReplay::Mark(const CScriptCommand& command, bool object) {
  m_session.SelectTool(object ? ID_TOOL_MARK_OBJECT : ID_TOOL_MARK_BACKGROUND);
  const CViewGeometry view = View();
  const std::vector<CScriptPoint> points = Pixels(command);
  m_session.MarkPress(view, {points[0].x, points[0].y});
  for (size_t i = 1; i < points.size(); ++i) m_session.MarkMove(view, {points[i].x, points[i].y});
  m_session.MarkRelease();
  return {};
}

std::optional<std::string> CReplay::Manual(const CScriptCommand& command, bool recover) {
  if (!m_session.SelectTool(ID_TOOL_MANUAL)) {
    return std::string("'") + (recover ? "recover" : "erase") +
           "' refused: the manual tool is not available while Display shows \"Original\"";
  }
  const CViewGeometry view = View();
  const std::vector<CScriptPoint> points = Pixels(command);
  m_session.ManualPress(view, {points[0].x, points[0].y}, recover);
  for (size_t i = 1; i < points.size(); ++i) {
    m_session.ManualMove(view, {points[i].x, points[i].y}, !recover, recover);
  }
  m_session.ManualRelease(recover);
  return {};
}

std::optional<std::string> CReplay::Apply(int line) {
  if (!m_session.IsApplyEnabled()) {
    return "'apply' refused: Apply is disabled (nothing has been marked or edited since the "
           "editor opened, marks were deleted or it was reset)";
  }
  return RunAndWait(line, [this] { m_session.PressApply(); });
}

std::optional<std::string> CReplay::Preset(const CScriptCommand& command) {
  const int index = m_presets->List().Find(command.text);
  if (index < 0) {
    m_errorColumn = command.textColumn;
    std::string entries;
    for (const std::string& entry : m_presets->List().Entries()) {
      entries += (entries.empty() ? "" : ", ") + entry;
    }
    return "'preset' refused: the preset list has no entry " + QuoteScriptWord(command.text) +
           " (it holds " + entries + ")";
  }
  bool loadFailed = false;
  std::optional<std::string> refused = RunAndWait(command.line, [&] {
    loadFailed = m_presets->Choose(index) == kePresetLoadFailed;
  });
  if (loadFailed) {
    m_errorColumn = command.textColumn;
    return "'preset' failed: the preset " + QuoteScriptWord(command.text) + " cannot be loaded";
  }
  return refused;
}

std::optional<std::string> CReplay::SavePreset(const CScriptCommand& command) {
  CReplayStyleDialog dialog(command.text);
  const int saved = m_presets->Save(dialog);
  if (saved == -1) {
    m_errorColumn = command.textColumn;
    return "'save-preset' refused: " + dialog.Refusal();
  }
  if (saved != 0) {
    return "'save-preset' failed: the preset cannot be written in " + m_presets->Folder() +
           " (is there a Presets folder beside the module?)";
  }
  return {};
}

std::optional<std::string> CReplay::DeletePreset() {
  if (m_presets->State().m_path.empty()) {
    return "'delete-preset' refused: no preset is current (choose or save one first)";
  }
  const std::string path = m_presets->State().m_path;
  CReplayDeleteQuestion yes;
  if (m_presets->Delete(yes) != 1) return "'delete-preset' failed: " + path + " cannot be deleted";
  return {};
}

std::optional<std::string> CReplay::RunAndWait(int line, const std::function<void()>& start) {
  const int finishedBefore = m_session.RunsFinished();
  m_inRun = true;
  m_lastPercent = 0;
  if (m_progress) m_progress->RunStarted(line);
  try {
    start();
  } catch (...) {
    m_inRun = false;
    if (m_progress) m_progress->RunEnded(false);
    throw;
  }
  // Every run ends with exactly one done or failed message; until it is
  // handled the panel stays busy.
  const bool started = m_session.IsBusy();
  while (m_session.IsBusy()) {
    m_window.WaitForMessage(std::chrono::milliseconds(100));
    m_window.PumpMessages();
  }
  m_inRun = false;
  // A preset that did not load starts nothing.
  if (!started) {
    if (m_progress) m_progress->RunEnded(false);
    return {};
  }
  const bool completed = m_session.RunsFinished() > finishedBefore;
  if (m_progress) m_progress->RunEnded(completed);
  if (!completed) {
    // Interactively the panel would only show Apply again; a script has no
    // one to notice, and its later commands would act on a missing result.
    m_end = keReplayRunFailed;
    return "the run did not complete (the engine failed)";
  }
  return {};
}

}  // namespace

CReplayOutcome ReplaySessionScript(std::istream& script, const std::string& scriptName,
                                   CMatteFilter& filter, CCoreImage& holderImage,
                                   IReplayProgress* progress) {
  CReplayOptions options;
  options.progress = progress;
  return ReplaySessionScript(script, scriptName, filter, holderImage, options);
}

CReplayOutcome ReplaySessionScript(std::istream& script, const std::string& scriptName,
                                   CMatteFilter& filter, CCoreImage& holderImage,
                                   const CReplayOptions& options) {
  CScriptReader reader(script);
  CReplay replay(scriptName, filter, holderImage, options);
  CReplayOutcome outcome = replay.Run(reader);
  outcome.warnings = replay.Warnings();
  return outcome;
}

CReplayOutcome ReplaySessionScript(const std::string& scriptPath, CMatteFilter& filter,
                                   CCoreImage& holderImage, IReplayProgress* progress) {
  CReplayOptions options;
  options.progress = progress;
  return ReplaySessionScript(scriptPath, filter, holderImage, options);
}

CReplayOutcome ReplaySessionScript(const std::string& scriptPath, CMatteFilter& filter,
                                   CCoreImage& holderImage, const CReplayOptions& options) {
  // Read whole first: a file too long to be a session is refused before
  // any of it is carried out.
  std::string text;
  std::string message;
  if (!ReadScriptFile(scriptPath, text, message)) return {keReplayScriptError, message, {}};
  std::istringstream script(std::move(text));
  return ReplaySessionScript(script, scriptPath, filter, holderImage, options);
}
